// An audio stream's packets as the file stores them, for a destination that
// carries the sound unchanged: read in order, each timed from the first
// picture of the video on the destination stream's clock.
#pragma once

#include <cstdint>
#include <string>

#include "media/lav/timing.h"

extern "C" {
struct AVCodecParameters;
struct AVPacket;
}

struct LavAudioPackets;

// Opens the `which`-th audio stream of `path` (0: the first); `origin` is
// the time (seconds) that plays with the video's first picture. Null with *why.
LavAudioPackets* OpenLavAudioPackets(const char* path, int which, Ratio origin, std::string* why);
// The stream's codec, as a muxer is given it.
const AVCodecParameters* LavAudioPacketsCodec(const LavAudioPackets* packets);
int LavAudioPacketsCodecId(const LavAudioPackets* packets);  // AVCodecID
// The next packet into `packet`, its times in ticks of `timeBase` seconds
// counted from the origin (rounded; negative before it). False at the end.
bool NextLavAudioPacket(LavAudioPackets* packets, Ratio timeBase, AVPacket* packet);
void CloseLavAudioPackets(LavAudioPackets*& packets);
