// The compressors a destination can be written with, for both front ends and
// the options presenter: "DIB " (frames stored as they come) and the libavcodec
// encoders this machine's library has.
#pragma once

#include "media/vfw/vfw.h"

#include <cstdint>
#include <string>
#include <vector>

struct AviCompressorInfo {
    uint32_t fccHandler;  // the code to put in AVICOMPRESSOPTIONS.fccHandler
    char name[48];        // for people: "Motion JPEG", ...
    bool quality;         // dwQuality changes the result
    bool keyFrames;       // dwKeyFrameEvery changes the result (else every frame is a key frame)
    bool dataRate;        // dwBytesPerSecond with AVICOMPRESSF_DATARATE aims the bit rate
    bool lossless;        // frames come back unchanged
};

// "DIB " first, then each encoder the library has, in a fixed order.
std::vector<AviCompressorInfo> AviListCompressors();

// The entry for a handler code (any letter case; XVID, DIVX and DX50 give
// FMP4's entry, 0 gives "DIB "); false when there is no such compressor here.
bool AviFindCompressor(uint32_t fccHandler, AviCompressorInfo* info);

// The quality setting (0..10000) on the encoders' own scales, the same for
// every container: a quantiser (10000 is 2, 0 is 31) and x264/x265's CRF
// (10000 is 0, 0 is 51) as the option's text.
int QuantiserOfQuality(uint32_t quality);
std::string CrfOfQuality(uint32_t quality);

// Why a compressor can't take frames of this size at this rate (dwRate /
// dwScale) with these options (null: its defaults), for people; empty when it
// can. DV's sizes and rates are checked by rule, every other encoder by
// opening it once.
std::string AviCompressorRefusal(uint32_t fccHandler, int32_t width, int32_t height, uint32_t rate, uint32_t scale,
                                 const AVICOMPRESSOPTIONS* options = nullptr);
