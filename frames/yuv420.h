// 24-bit BGR pictures to 8-bit YUV 4:2:0 planes for the encoders: BT.601
// studio range; luma per pixel; chroma from the sums of horizontal pixel
// pairs, then an 8-tap filter down the rows (edge rows repeated). The
// arithmetic is integer throughout, so every level gives the same bytes.
// These are the bytes of libswscale's accurate bicubic conversion
// (SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, default matrix) for
// even sizes; the destination proves it on the run's frame size before it
// relies on them.
#pragma once

#include <cstdint>
#include <vector>

#include "frames/bgr_picture.h"
#include "frames/row_kernels.h"

struct Yuv420Loops {
    // A row's luma, and the chroma of each pixel pair 64 times finer than
    // the 8-bit result; `width` is even.
    void (*row)(const std::uint8_t* bgr, std::uint8_t* luma, std::int16_t* u, std::int16_t* v, int width);
    // One chroma row from eight rows of pairs' chroma, top to bottom.
    void (*chromaFilter)(const std::int16_t* const rows[8], std::uint8_t* out, int n);
};
Yuv420Loops Yuv420Loops_sse2();
Yuv420Loops Yuv420Loops_avx2();
// The loops of the highest level at or below `level`; by default those of
// the kernels' run level (TAVRICK_SIMD).
const Yuv420Loops& Yuv420LoopsFor(SimdLevel level);
const Yuv420Loops& RunYuv420Loops();

// Rows of chromaPairs kept while the filter moves down; sized by the first picture.
struct Yuv420Scratch {
    std::vector<std::int16_t> rows;
};

// Whether a picture of this size converts here: even sides, 16 rows or more
// (on fewer libswscale filters the edge rows otherwise).
bool Yuv420Fits(int width, int height);
// planes[0] takes width x height luma, planes[1] and [2] the U and V of
// (width / 2) x (height / 2), each plane's rows `strides` bytes apart.
void Yuv420FromBgr(const BgrPicture& picture, std::uint8_t* const planes[3], const int strides[3],
                   Yuv420Scratch& scratch, const Yuv420Loops& loops = RunYuv420Loops());
