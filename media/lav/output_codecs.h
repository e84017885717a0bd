// What the containers written through libavformat take: which compressors
// (the AVI list's where the container carries them, plus H.265, AV1, VP9 and
// ProRes) and which audio codecs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/vfw/compressor.h"

// The destination's container, by the file name's extension; any other name
// is written as AVI.
enum class OutputContainer { avi, mkv, mp4, mov, webm };
OutputContainer OutputContainerOf(const std::string& path);
// "avi", "mkv", "mp4", "mov", "webm"; false for any other name.
bool ParseOutputContainer(const std::string& name, OutputContainer* container);
const char* OutputContainerName(OutputContainer container);

// The compressors a container takes, the AVI list first (in its order).
std::vector<AviCompressorInfo> ListOutputCompressors(OutputContainer container);
// The entry for a code in any container's list; false when there is none here.
bool FindOutputCompressor(std::uint32_t fccHandler, AviCompressorInfo* info);
bool ContainerTakesCompressor(OutputContainer container, std::uint32_t fccHandler);

// The sound written into a libavformat container: automatic carries it as
// stored where the container takes it and, where it doesn't, encodes the
// source's codec where the container takes that, else AAC in MP4/MOV and
// Opus in MKV/WebM; copy insists on the sound as stored; the others encode.
enum class AudioChoice { automatic, pcm, flac, aac, opus, copy };
bool ParseAudioChoice(const std::string& name, AudioChoice* choice);
// The codec written for a source whose audio codec is described as
// `sourceCodec` ("aac", "PCM", ...); none when the container can't take it.
enum class AudioCodec { none, pcm, flac, aac, opus };
AudioCodec ChooseAudioCodec(OutputContainer container, AudioChoice choice, const std::string& sourceCodec);
const char* AudioCodecName(AudioCodec codec);
// Whether sound in this codec (an AVCodecID) goes over as stored without
// being asked: whatever the muxer takes in MKV and WebM; in MP4 and MOV only
// what players commonly play there (AAC, MP3, AC-3, E-AC-3, ALAC, Opus in
// MP4, plain PCM in MOV), so a rarity such as Vorbis in MP4 comes only with copy.
bool CarriedAsStoredByDefault(OutputContainer container, int codecId);
// Samples stored one after another (libavcodec's id), whose silence is zero
// bytes (0x80 for 8-bit unsigned).
bool IsPlainPcm(int codecId);

// How a compressor runs in these containers: libavcodec's encoder and the
// pixel format it is given.
struct OutputEncoder {
    const char* encoder = nullptr;
    int pixelFormat = -1;  // AVPixelFormat
};
bool FindOutputEncoder(std::uint32_t fccHandler, OutputEncoder* encoder);
