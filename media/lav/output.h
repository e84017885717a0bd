// A destination written through libavformat (MKV, MP4, MOV, WebM): the run's
// BGR frames encoded with the encoder's normal settings, timed on the
// destination rate exactly, and its 16-bit PCM audio encoded alongside.
#pragma once

#include <cstdint>
#include <string>

#include "media/lav/output_codecs.h"

struct LavAudioPackets;

struct LavOutputSetup {
    const char* path = nullptr;
    OutputContainer container = OutputContainer::mkv;
    int width = 0, height = 0;  // BGR rows of `stride` bytes, last row first
    std::uint32_t stride = 0;
    std::uint32_t rateNum = 0, rateDen = 1;  // frames per second
    std::uint32_t fccHandler = 0;
    std::uint32_t quality = 0xFFFFFFFFu;           // 0..10000; above: the encoder's default
    std::uint32_t keyFrameEvery = 0;               // 0: the encoder's own spacing
    std::uint32_t bytesPerSecond = 0;              // 0: constant quality
    std::string preset;                            // x264/x265 preset; empty: medium
    int sampleAspectNum = 0, sampleAspectDen = 1;  // of the pixels written; 0: not said
    AudioCodec audio = AudioCodec::none;
    int sampleRate = 0, channels = 0;  // of the 16-bit PCM given
    // The source's sound carried as stored instead (audio none); the output
    // owns it from the call on, whatever the outcome. audioName describes it.
    LavAudioPackets* copiedAudio = nullptr;
    std::string audioName;
};

struct LavOutput;

// Creates the file and opens the encoders; null with *why.
LavOutput* CreateLavOutput(const LavOutputSetup& setup, std::string* why);
// Encodes the next frame; key asks for a key frame there, repeat says it
// has the bytes of the frame before.
bool WriteLavFrame(LavOutput* output, const std::uint8_t* frame, bool key, bool repeat);
// Appends interleaved 16-bit samples.
bool WriteLavAudio(LavOutput* output, const std::uint8_t* samples, std::int64_t count);
// Whether the sound is carried as stored, and carries what plays up to the
// end of the frames written so far: packets whose middle lies before it; PCM
// packets that end before it, gaps filled with silence (at the finish the
// last is cut to the sample and the rest up to the video's end is silence).
bool LavOutputCopiesAudio(const LavOutput* output);
bool CopyLavAudio(LavOutput* output);
// Why the container would refuse the sound as stored (its own words); empty
// when it takes it. Nothing is written.
std::string CopiedAudioRefusal(OutputContainer container, const LavAudioPackets* packets);
// Drains the encoders and writes the index; false with the cause in LavOutputFailure.
bool FinishLavOutput(LavOutput* output);
const char* LavOutputFailure(const LavOutput* output);
void CloseLavOutput(LavOutput*& output);
