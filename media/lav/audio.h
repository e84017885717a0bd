// An audio stream of a file decoded to 16-bit PCM through libavcodec (and
// libswresample for the sample format), placed by its timestamps: sample 0
// plays at the given origin, what the stream lacks there is silence and what
// comes before it is left out.
#pragma once

#include <cstdint>
#include <string>

#include "media/lav/timing.h"

struct LavAudio;

struct LavAudioInfo {
    int channels = 0, sampleRate = 0;  // as delivered, 16 bits a sample
    std::int64_t length = 0;           // samples from the origin to the stream's end
    std::string codec;
    int sourceBits = 0;  // the stream's own bits per sample, 0 when it has none
    int sourceChannels = 0;
    int stream = -1;  // the file's stream number
};

// Opens the `which`-th audio stream of `path` (0: the first). origin is the
// time (seconds) that sample 0 plays at. Null with *why.
LavAudio* OpenLavAudio(const char* path, int which, Ratio origin, LavAudioInfo* info, std::string* why);
// Samples [from, from + count) into out (count x channels x 2 bytes); the
// number delivered, fewer at the stream's end, -1 when decoding failed.
std::int64_t ReadLavAudio(LavAudio* audio, std::int64_t from, std::int64_t count, std::uint8_t* out);
void CloseLavAudio(LavAudio* audio);
// How many audio streams the file has; -1 when it can't be read.
int CountLavAudioStreams(const char* path);
