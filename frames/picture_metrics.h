// How close a rebuilt frame is to its original: the squared errors behind
// PSNR on luma and on RGB, and SSIM on luma, with the definitions of FFmpeg's
// psnr and ssim filters (so figures compare with theirs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/bgr_picture.h"
#include "frames/row_kernels.h"

// The loops scoring spends its time in, one record per instruction-set level
// (all give the same sums).
struct MetricLoops {
    void (*lumaRow)(const std::uint8_t* bgr, std::uint8_t* luma, int width);
    std::uint64_t (*squaredErrors)(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);
    void (*columnSums)(const std::uint8_t* a, const std::uint8_t* b, std::ptrdiff_t stride, int n, std::uint32_t* c1,
                       std::uint32_t* c2, std::uint32_t* css, std::uint32_t* c12);
};
MetricLoops MetricLoops_sse2();
MetricLoops MetricLoops_sse41();
MetricLoops MetricLoops_avx2();
// The loops of the highest level at or below `level` (the baseline, SSE4.1 or AVX2);
// by default those of the kernels' run level (TAVRICK_SIMD).
const MetricLoops& MetricLoopsFor(SimdLevel level);
const MetricLoops& RunMetricLoops();

struct PictureScore {
    double mseY = 0;    // mean squared error of luma
    double mseRgb = 0;  // of the R, G and B samples together
    double ssimY = 0;   // mean SSIM of luma; NaN when a side is under 8 pixels
};

// Work memory of one picture size; allocated by the first pair, reused after.
struct MetricScratch {
    std::vector<std::uint8_t> lumaA, lumaB;
    std::vector<std::uint32_t> columns;
    std::vector<std::int32_t> blocks;
    std::vector<float> windows;
};

PictureScore ScorePictures(const BgrPicture& original, const BgrPicture& rebuilt, MetricScratch& scratch,
                           const MetricLoops& loops = RunMetricLoops());

// Luma as studio-range BT.601 (16..235), the Y a decoder's YUV came from:
// (66 R + 129 G + 25 B + 128) / 256 + 16, truncated. `luma` holds width x height, top row first.
void LumaOfPicture(const BgrPicture& picture, std::uint8_t* luma, const MetricLoops& loops = RunMetricLoops());

// FFmpeg's SSIM of one 8-bit plane: 8x8 windows at every 4 pixels over 4x4
// block sums, C1 = (0.01 * 255)^2 and C2 = (0.03 * 255)^2, averaged over the
// windows. NaN when the plane has fewer than 8 rows or columns.
double PlaneSsim(const std::uint8_t* a, const std::uint8_t* b, int width, int height, std::ptrdiff_t stride,
                 MetricScratch& scratch, const MetricLoops& loops = RunMetricLoops());

// 10 log10(255^2 / mse): +infinity for identical pictures.
double PsnrOfMse(double mse);
