// The definition of every kernel's per-sample result: table lookups and
// double arithmetic in the written order.
#include <cmath>

#include "frames/motion_warp.h"
#include "frames/row_kernels.h"

namespace {

std::uint8_t clampTruncate(double v) {
    if (v > 255) return 255;
    if (v < 0) return 0;
    return static_cast<std::uint8_t>(v);
}

void blendReference(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b, std::size_t n,
                    const BlendWeights& w) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(a[i] + w.row[b[i] - a[i] + 255]);
}

double tapSum(std::uint8_t p0, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3, const TapWeights& w) {
    return p0 * w.w[0] + p1 * w.w[1] + p2 * w.w[2] + p3 * w.w[3];
}

void cubicReference(std::uint8_t* out, const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2,
                    const std::uint8_t* p3, std::size_t n, const TapWeights& w) {
    for (std::size_t i = 0; i < n; ++i) out[i] = clampTruncate(tapSum(p0[i], p1[i], p2[i], p3[i], w));
}

void lanczosReference(std::uint8_t* out, const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2,
                      const std::uint8_t* p3, std::size_t n, const TapWeights& w) {
    for (std::size_t i = 0; i < n; ++i) out[i] = clampTruncate(tapSum(p0[i], p1[i], p2[i], p3[i], w) * w.normaliser);
}

void lansinReference(std::uint8_t* out, const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2,
                     const std::uint8_t* p3, std::size_t n, const LansinWeights& w) {
    for (std::size_t i = 0; i < n; ++i) {
        const int v = clampTruncate(tapSum(p0[i], p1[i], p2[i], p3[i], w.lanczos) * w.lanczos.normaliser);
        const int s = p1[i] + w.sine.row[p2[i] - p1[i] + 255];
        double m = std::fabs((p2[i] - p1[i]) * w.reciprocal);
        if (m > 1.0) m = 1.0;
        const int row = static_cast<int>(std::floor(255 * m));
        out[i] = static_cast<std::uint8_t>(s + w.blendRows[row][v - s + 255]);
    }
}

std::uint8_t medianOfThree(std::uint8_t x, std::uint8_t y, std::uint8_t z) {
    if (x > y) std::swap(x, y);
    if (y > z) y = z;
    return x > y ? x : y;
}

void median3Reference(std::uint8_t* out, const std::uint8_t* m0, const std::uint8_t* m1, const std::uint8_t* m2,
                      std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = medianOfThree(m0[i], m1[i], m2[i]);
}

void median5Reference(std::uint8_t* out, const std::uint8_t* m0, const std::uint8_t* m1, const std::uint8_t* m2,
                      const std::uint8_t* m3, const std::uint8_t* m4, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t e[5] = {m0[i], m1[i], m2[i], m3[i], m4[i]};
        // Partial selection sort: after three passes element 2 is the median.
        for (int k = 3; k >= 1; --k)
            for (int j = 0; j <= k; ++j)
                if (e[j] > e[k + 1]) std::swap(e[j], e[k + 1]);
        out[i] = e[2];
    }
}

}  // namespace

const RowKernels& ReferenceRowKernels() {
    static const RowKernels reference{SimdLevel::scalar, blendReference,   cubicReference,   lanczosReference,
                                      lansinReference,   median3Reference, median5Reference, MotionWarpRowReference};
    return reference;
}
