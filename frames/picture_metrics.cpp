#include "frames/picture_metrics.h"

#include <cmath>
#include <limits>

const MetricLoops& MetricLoopsFor(SimdLevel level) {
    static const MetricLoops baseline = MetricLoops_sse2(), sse41 = MetricLoops_sse41(), avx2 = MetricLoops_avx2();
    if (static_cast<int>(level) >= static_cast<int>(SimdLevel::avx2)) return avx2;
    return static_cast<int>(level) >= static_cast<int>(SimdLevel::sse41) ? sse41 : baseline;
}

const MetricLoops& RunMetricLoops() {
    static const MetricLoops& chosen = MetricLoopsFor(RunRowKernels().level);
    return chosen;
}

void LumaOfPicture(const BgrPicture& picture, std::uint8_t* luma, const MetricLoops& loops) {
    for (int y = 0; y < picture.height; ++y)
        loops.lumaRow(picture.top + y * picture.stride, luma + static_cast<std::size_t>(y) * picture.width,
                      picture.width);
}

namespace {

// One window's SSIM from the sums of its 64 samples, in FFmpeg's integer and
// float steps.
float WindowSsim(int s1, int s2, int ss, int s12) {
    constexpr int c1 = static_cast<int>(.01 * .01 * 255 * 255 * 64 + .5);
    constexpr int c2 = static_cast<int>(.03 * .03 * 255 * 255 * 64 * 63 + .5);
    const int vars = ss * 64 - s1 * s1 - s2 * s2;
    const int covar = s12 * 64 - s1 * s2;
    return static_cast<float>(2 * s1 * s2 + c1) * static_cast<float>(2 * covar + c2) /
           (static_cast<float>(s1 * s1 + s2 * s2 + c1) * static_cast<float>(vars + c2));
}

// Sums of every 4x4 block of one row of blocks: s1, s2, ss (a^2 + b^2), s12
// per block, interleaved. Columns first (4 rows each), so the loops run over
// contiguous samples.
void BlockSums(const std::uint8_t* a, const std::uint8_t* b, std::ptrdiff_t stride, int blocks, MetricScratch& s,
               const MetricLoops& loops, std::int32_t* out) {
    const int n = 4 * blocks;
    std::uint32_t* c1 = s.columns.data();
    std::uint32_t* c2 = c1 + n;
    std::uint32_t* css = c2 + n;
    std::uint32_t* c12 = css + n;
    loops.columnSums(a, b, stride, n, c1, c2, css, c12);
    for (int k = 0; k < blocks; ++k) {
        const int x = 4 * k;
        out[4 * k + 0] = static_cast<std::int32_t>(c1[x] + c1[x + 1] + c1[x + 2] + c1[x + 3]);
        out[4 * k + 1] = static_cast<std::int32_t>(c2[x] + c2[x + 1] + c2[x + 2] + c2[x + 3]);
        out[4 * k + 2] = static_cast<std::int32_t>(css[x] + css[x + 1] + css[x + 2] + css[x + 3]);
        out[4 * k + 3] = static_cast<std::int32_t>(c12[x] + c12[x + 1] + c12[x + 2] + c12[x + 3]);
    }
}

// The windows of one row: each the four blocks at x, x + 1 of two block rows.
double WindowRow(const std::int32_t* above, const std::int32_t* below, int windows, float* ssim) {
    for (int x = 0; x < windows; ++x) {
        const std::int32_t* p = above + 4 * x;
        const std::int32_t* q = below + 4 * x;
        ssim[x] = WindowSsim(p[0] + p[4] + q[0] + q[4], p[1] + p[5] + q[1] + q[5], p[2] + p[6] + q[2] + q[6],
                             p[3] + p[7] + q[3] + q[7]);
    }
    double sum = 0;
    for (int x = 0; x < windows; ++x) sum += ssim[x];
    return sum;
}

}  // namespace

double PlaneSsim(const std::uint8_t* a, const std::uint8_t* b, int width, int height, std::ptrdiff_t stride,
                 MetricScratch& scratch, const MetricLoops& loops) {
    const int blocksWide = width >> 2, blocksHigh = height >> 2;
    if (blocksWide < 2 || blocksHigh < 2) return std::numeric_limits<double>::quiet_NaN();
    scratch.columns.resize(16 * static_cast<std::size_t>(blocksWide));
    scratch.blocks.resize(8 * static_cast<std::size_t>(blocksWide));
    scratch.windows.resize(static_cast<std::size_t>(blocksWide));
    std::int32_t* rows[2] = {scratch.blocks.data(), scratch.blocks.data() + 4 * blocksWide};
    BlockSums(a, b, stride, blocksWide, scratch, loops, rows[0]);
    double total = 0;
    for (int y = 1; y < blocksHigh; ++y) {
        std::int32_t* above = rows[(y - 1) & 1];
        std::int32_t* below = rows[y & 1];
        BlockSums(a + 4 * y * stride, b + 4 * y * stride, stride, blocksWide, scratch, loops, below);
        total += WindowRow(above, below, blocksWide - 1, scratch.windows.data());
    }
    return total / (static_cast<double>(blocksWide - 1) * (blocksHigh - 1));
}

double PsnrOfMse(double mse) {
    if (mse <= 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

PictureScore ScorePictures(const BgrPicture& original, const BgrPicture& rebuilt, MetricScratch& scratch,
                           const MetricLoops& loops) {
    const int w = original.width, h = original.height;
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    PictureScore score;
    if (pixels == 0) return score;
    std::uint64_t rgb = 0;
    for (int y = 0; y < h; ++y)
        rgb += loops.squaredErrors(original.top + y * original.stride, rebuilt.top + y * rebuilt.stride,
                                   3 * static_cast<std::size_t>(w));
    scratch.lumaA.resize(pixels);
    scratch.lumaB.resize(pixels);
    LumaOfPicture(original, scratch.lumaA.data(), loops);
    LumaOfPicture(rebuilt, scratch.lumaB.data(), loops);
    score.mseRgb = static_cast<double>(rgb) / (3.0 * static_cast<double>(pixels));
    score.mseY = static_cast<double>(loops.squaredErrors(scratch.lumaA.data(), scratch.lumaB.data(), pixels)) /
                 static_cast<double>(pixels);
    score.ssimY = PlaneSsim(scratch.lumaA.data(), scratch.lumaB.data(), w, h, w, scratch, loops);
    return score;
}
