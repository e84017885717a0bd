// Decoded pictures to packed 24-bit BGR rows, the one conversion every
// source goes through, so identical pictures give identical bytes.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
struct AVFrame;
struct SwsContext;
}

struct BgrConverter {
    SwsContext* sws = nullptr;
    int colorspace = -1;  // what the context was last set to
    int range = -1;
    std::vector<std::uint8_t> roomy;  // narrow pictures go through it
};

// Whether libswscale can take this decoded picture at all.
bool BgrConvertible(const AVFrame* frame);
// Converts to width x height BGR rows of `stride` bytes at `pixels`, the
// last row first when !topDown. False when the picture can't be converted.
bool ConvertToBgr(BgrConverter& c, const AVFrame* frame, std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                  std::uint32_t stride, bool topDown);
void FreeBgrConverter(BgrConverter& c);
