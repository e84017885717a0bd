// The motion arithmetic on pictures whose motion is known: the cut test's
// residual (motion and gain taken out, a new scene left in) and the warp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frames/geometry.h"
#include "frames/motion_warp.h"

namespace {

// A detailed picture at any position: two waves and fixed grain.
int Texture(int x, int y, int seed) {
    unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u ^
                 static_cast<unsigned>(seed) * 83492791u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    const double v = 128 + 50 * std::sin(x * (0.3 + 0.1 * seed) + y * 0.17) +
                     30 * std::sin(y * 0.29 - x * 0.07 * seed) + static_cast<int>((h >> 8) % 17) - 8;
    return static_cast<int>(std::fmin(255, std::fmax(0, v)));
}

struct Luma {
    int width = 64, rows = 48;
    std::vector<std::uint8_t> samples = std::vector<std::uint8_t>(64 * 48);
    template <typename F>
    explicit Luma(F value) {
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < width; ++x) samples[y * width + x] = static_cast<std::uint8_t>(value(x, y));
    }
    LumaPlane Plane() const { return {samples.data(), width, rows}; }
};

double Residual(const Luma& p, const Luma& q, float dx, float dy) {
    std::vector<float> flow(2 * p.samples.size());
    for (std::size_t i = 0; i < p.samples.size(); ++i) flow[2 * i] = dx, flow[2 * i + 1] = dy;
    return CompensatedResidual(p.Plane(), q.Plane(), FlowField{flow.data(), p.width, p.rows});
}

TEST(CompensatedResidual, MotionAndGainAreNoCutAnotherSceneIs) {
    const Luma p([](int x, int y) { return Texture(x, y, 1); });
    const Luma moved([](int x, int y) { return Texture(x - 3, y - 2, 1); });
    const Luma faded([](int x, int y) { return Texture(x, y, 1) / 2 + 20; });
    const Luma flashed([](int x, int y) { return std::min(255, Texture(x, y, 1) + 60); });
    const Luma other([](int x, int y) { return Texture(x, y, 3); });
    const Luma black([](int, int) { return 2; });
    EXPECT_LT(Residual(p, moved, 3, 2), 0.05);   // the motion found
    EXPECT_GT(Residual(p, moved, 0, 0), 0.5);    // the motion missed
    EXPECT_LT(Residual(p, faded, 0, 0), 0.05);   // a fade
    EXPECT_LT(Residual(p, flashed, 0, 0), 0.3);  // a flash, clipped in the highlights
    EXPECT_GT(Residual(p, other, 0, 0), 0.6);    // a cut
    EXPECT_EQ(Residual(p, black, 0, 0), 0.0);    // faded through black: nothing to compare
}

// Q is P moved 4 pixels right; at t = 1/2 along a vector of 4 pixels the
// warp gives P moved 2, exactly, wherever both samples lie inside.
TEST(WarpRows, UniformMotionMovesThePictureAndZeroConfidenceKeepsTheFallback) {
    const int width = 40, rows = 24, stride = RowStride(width);
    auto frame = [&](int shift) {
        std::vector<std::uint8_t> f(static_cast<std::size_t>(stride) * rows, 0);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    f[y * stride + 3 * x + c] = static_cast<std::uint8_t>(Texture(x - shift, y, c));
        return f;
    };
    const std::vector<std::uint8_t> p = frame(0), q = frame(4), expected = frame(2);
    const int gw = GridSize(width), gh = GridSize(rows);
    for (float confidence : {1.0f, 0.0f}) {
        MotionPoint point;
        point.vx = 2;  // luma samples: 4 pixels
        point.shareP = 0.5f;
        point.confidence = confidence;
        const std::vector<MotionPoint> points(static_cast<std::size_t>(gw) * gh, point);
        std::vector<std::uint8_t> out(p.size(), 7);
        WarpRows(ReferenceRowKernels(), p.data(), q.data(), out.data(), width, rows, stride, points.data(), gw, gh, 0.5,
                 0, rows, 1);
        for (int y = 0; y < rows; ++y)
            for (int x = 2; x < width - 2; ++x)
                for (int c = 0; c < 3; ++c) {
                    const std::size_t i = static_cast<std::size_t>(y) * stride + 3 * x + c;
                    ASSERT_EQ(out[i], confidence > 0 ? expected[i] : 7) << x << "," << y;
                }
    }
}

// A grid that varies from point to point, every level: the whole frame is
// the reference's, and a field's warp leaves the other field's rows as they
// were.
TEST(WarpRows, EveryLevelGivesTheReferenceFrameAndAFieldKeepsTheOtherRows) {
    const int width = 203, rows = 37, stride = RowStride(width);  // odd sizes: cut cells, cut groups
    auto frame = [&](int seed) {
        std::vector<std::uint8_t> f(static_cast<std::size_t>(stride) * rows);
        for (std::size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<std::uint8_t>(Texture(static_cast<int>(i), 1, seed));
        return f;
    };
    const std::vector<std::uint8_t> p = frame(1), q = frame(2), fallback = frame(3);
    const int gw = GridSize(width), gh = GridSize(rows);
    std::vector<MotionPoint> points(static_cast<std::size_t>(gw) * gh);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const int k = static_cast<int>(i);
        points[i] = {static_cast<float>(Texture(k, 2, 4) - 128) / 8, static_cast<float>(Texture(k, 3, 5) - 128) / 16, 0,
                     (k % 3) / 2.0f, (k % 5) / 4.0f};
    }
    for (int step = 1; step <= 2; ++step) {
        std::vector<std::uint8_t> expected = fallback;
        WarpRows(ReferenceRowKernels(), p.data(), q.data(), expected.data(), width, rows, stride, points.data(), gw, gh,
                 0.3, step - 1, rows, step);
        if (step == 2) {
            for (int y = 0; y < rows; y += 2)
                ASSERT_EQ(0, std::memcmp(&expected[y * stride], &fallback[y * stride], stride)) << "row " << y;
        }
        EXPECT_NE(expected, fallback);
        for (int level = 1; level < simdLevelCount; ++level) {
            const RowKernels* kernels = RowKernelsFor(static_cast<SimdLevel>(level));
            if (!kernels) {
                std::printf("%s: not tested on this CPU\n", SimdLevelName(static_cast<SimdLevel>(level)));
                continue;
            }
            std::vector<std::uint8_t> actual = fallback;
            WarpRows(*kernels, p.data(), q.data(), actual.data(), width, rows, stride, points.data(), gw, gh, 0.3,
                     step - 1, rows, step);
            EXPECT_EQ(expected, actual) << SimdLevelName(static_cast<SimdLevel>(level)) << ", row step " << step;
        }
    }
}

}  // namespace
