// A destination written through libavformat (MKV, MP4, MOV, WebM): the run's
// BGR frames encoded with the encoder's normal settings, timed on the
// destination rate exactly, and its 16-bit PCM audio encoded alongside.
#pragma once

#include <cstdint>
#include <string>

#include "media/lav/output_codecs.h"

struct LavOutputSetup {
    const char* path = nullptr;
    OutputContainer container = OutputContainer::mkv;
    int width = 0, height = 0;  // BGR rows of `stride` bytes, last row first
    std::uint32_t stride = 0;
    std::uint32_t rateNum = 0, rateDen = 1;  // frames per second
    std::uint32_t fccHandler = 0;
    std::uint32_t quality = 0xFFFFFFFFu;  // 0..10000; above: the encoder's default
    std::uint32_t keyFrameEvery = 0;      // 0: the encoder's own spacing
    std::uint32_t bytesPerSecond = 0;     // 0: constant quality
    std::string preset;                   // x264/x265 preset; empty: medium
    AudioCodec audio = AudioCodec::none;
    int sampleRate = 0, channels = 0;  // of the 16-bit PCM given
};

struct LavOutput;

// Creates the file and opens the encoders; null with *why.
LavOutput* CreateLavOutput(const LavOutputSetup& setup, std::string* why);
// Encodes the next frame; key asks for a key frame there, repeat says it
// has the bytes of the frame before.
bool WriteLavFrame(LavOutput* output, const std::uint8_t* frame, bool key, bool repeat);
// Appends interleaved 16-bit samples.
bool WriteLavAudio(LavOutput* output, const std::uint8_t* samples, std::int64_t count);
// Drains the encoders and writes the index; false with the cause in LavOutputFailure.
bool FinishLavOutput(LavOutput* output);
const char* LavOutputFailure(const LavOutput* output);
void CloseLavOutput(LavOutput*& output);
