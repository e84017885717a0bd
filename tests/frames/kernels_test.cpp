// The kernels' defined results on small frames, at the reference level and
// at the level the CPU runs.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame_fixtures.h"
#include "frames/kernels.h"

namespace {

// A ring of five-row frames, one byte per row, slot s filled with value[s].
struct SmallRing {
    static constexpr int rows = 5;
    static constexpr int stride = 4;  // one pixel plus padding
    std::vector<std::vector<std::uint8_t>> buffers{ringSlotCount, std::vector<std::uint8_t>(rows* stride)};
    std::vector<std::uint8_t> output = std::vector<std::uint8_t>(rows * stride, 0);
    FrameRing ring;
    KernelContext ctx;

    explicit SmallRing(const RowKernels* level) {
        for (int s = 0; s < ringSlotCount; ++s) ring.slots[s] = buffers[s].data();
        ctx.ring = &ring;
        ctx.output = output.data();
        ctx.stride = stride;
        ctx.frameRows = rows;
        ctx.frameBytes = output.size();
        ctx.tables = &Tables();
        ctx.kernels = level;
    }
    void Set(int slot, std::uint8_t value) { std::fill(buffers[slot].begin(), buffers[slot].end(), value); }
    void SetSlots(std::initializer_list<std::uint8_t> values) {
        int s = 0;
        for (auto v : values) Set(s++, v);
    }
    int Out() const { return output[0]; }
};

class Kernels : public ::testing::TestWithParam<SimdLevel> {
protected:
    SmallRing r{RowKernelsFor(GetParam())};
};

TEST_P(Kernels, LinearAndSineEnds) {
    r.SetSlots({0, 0, 17, 200});
    interpolateLinear(r.ctx, false, 0, 2, 3, 0.0);
    EXPECT_EQ(r.Out(), 17);
    interpolateSine(r.ctx, false, 0, 2, 3, 0.0);
    EXPECT_EQ(r.Out(), 17);
    // The first eleven sine entries are zero; entry 11 is row 1, which moves
    // only a full-range step.
    r.SetSlots({0, 0, 0, 255});
    interpolateSine(r.ctx, false, 0, 2, 3, std::nextafter(11.0 / 255, 0.0));
    EXPECT_EQ(r.Out(), 0);
    interpolateSine(r.ctx, false, 0, 2, 3, 11.5 / 255);
    EXPECT_EQ(r.Out(), 1);
    // Just below 1, Linear uses row 254, whose weight is a little below 254/255.
    r.SetSlots({0, 0, 0, 255});
    interpolateLinear(r.ctx, false, 0, 2, 3, std::nextafter(1.0, 0.0));
    EXPECT_EQ(r.Out(), 253);
    // Downward blends land on the table's truncation toward zero too.
    r.SetSlots({0, 0, 255, 0});
    interpolateLinear(r.ctx, false, 0, 2, 3, 0.5);
    EXPECT_EQ(r.Out(), 255 + Tables().blend.rows[127][0]);
}

TEST_P(Kernels, CubicSmoothsAndLanczosKeepsThePicture) {
    r.SetSlots({0, 0, 255, 0, 0});
    interpolateCubic(r.ctx, false, 0, 1, 2, 3, 4, 0.0);
    EXPECT_EQ(r.Out(), 170);
    interpolateLanczos(r.ctx, false, 0, 1, 2, 3, 4, 0.0);
    EXPECT_EQ(r.Out(), 255);
    r.SetSlots({0, 0, 0, 255, 255});
    interpolateLanczos(r.ctx, false, 0, 1, 2, 3, 4, 0.5);
    EXPECT_EQ(r.Out(), 127);
    // A bright sample between dark ones overshoots and is clamped.
    r.SetSlots({0, 255, 0, 0, 255});
    interpolateLanczos(r.ctx, false, 0, 1, 2, 3, 4, 0.5);
    EXPECT_EQ(r.Out(), 0);
    r.SetSlots({0, 0, 255, 255, 0});
    interpolateLanczos(r.ctx, false, 0, 1, 2, 3, 4, 0.5);
    EXPECT_EQ(r.Out(), 255);
}

TEST_P(Kernels, LansinMixesByMotion) {
    // Still area: the Sine blend of equal frames, whatever Lanczos says.
    r.SetSlots({0, 250, 90, 90, 0});
    interpolateLansin(r.ctx, false, 0, 1, 2, 3, 4, 0.6, 31.0);
    EXPECT_EQ(r.Out(), 90);
    // Motion of at least d: row 255, one level short of the Lanczos value.
    r.SetSlots({0, 100, 100, 140, 140});
    const double t = 0.25;
    interpolateLanczos(r.ctx, false, 0, 1, 2, 3, 4, t);
    const int lanczos = r.Out();
    interpolateSine(r.ctx, false, 0, 2, 3, t);
    const int sine = r.Out();
    interpolateLansin(r.ctx, false, 0, 1, 2, 3, 4, t, 7.0);
    ASSERT_GT(lanczos, sine);
    EXPECT_EQ(r.Out(), lanczos - 1);
    // Small motion: partly mixed, between the two.
    r.SetSlots({0, 100, 100, 103, 103});
    interpolateLansin(r.ctx, false, 0, 1, 2, 3, 4, t, 127.0);
    EXPECT_GE(r.Out(), 100);
    EXPECT_LE(r.Out(), 103);
}

TEST_P(Kernels, Medians) {
    const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    const std::uint8_t values[3] = {200, 10, 100};
    for (auto& o : orders) {
        r.SetSlots({values[o[0]], values[o[1]], values[o[2]]});
        median3(r.ctx, false, 0, 0, 1, 2);
        EXPECT_EQ(r.Out(), 100);
    }
    r.SetSlots({5, 1, 4, 2, 3});
    median5(r.ctx, false, 0, 0, 1, 2, 3, 4);
    EXPECT_EQ(r.Out(), 3);
    r.SetSlots({9, 9, 1, 1, 9});
    median5(r.ctx, false, 0, 0, 1, 2, 3, 4);
    EXPECT_EQ(r.Out(), 9);
}

TEST_P(Kernels, FieldOnlyWritesOneFieldAndNothingElse) {
    r.SetSlots({0, 0, 42});
    for (int parity = 0; parity < 2; ++parity) {
        std::fill(r.output.begin(), r.output.end(), 7);
        interpolateCoarse(r.ctx, true, parity, 2);
        for (int row = 0; row < SmallRing::rows; ++row) {
            const bool written = (row % 2) == (1 - parity);
            for (int b = 0; b < SmallRing::stride; ++b)
                EXPECT_EQ(r.output[row * SmallRing::stride + b], written ? 42 : 7)
                    << "parity " << parity << " row " << row;
        }
    }
}

std::vector<SimdLevel> AvailableLevels() {
    std::vector<SimdLevel> levels;
    for (int i = 0; i < simdLevelCount; ++i)
        if (RowKernelsFor(static_cast<SimdLevel>(i))) levels.push_back(static_cast<SimdLevel>(i));
    return levels;
}

INSTANTIATE_TEST_SUITE_P(Levels, Kernels, ::testing::ValuesIn(AvailableLevels()),
                         [](const auto& info) { return std::string(SimdLevelName(info.param)); });

TEST(TableIndex, PositionsOutsideTheIntervalStayInsideTheTables) {
    EXPECT_EQ(BlendRowIndex(0.0), 0);
    EXPECT_EQ(BlendRowIndex(std::nextafter(1.0, 0.0)), 254);
    EXPECT_EQ(BlendRowIndex(-0.5), 0);
    EXPECT_EQ(BlendRowIndex(7.0), 255);
    EXPECT_EQ(BlendRowIndex(std::nan("")), 0);
    EXPECT_EQ(TapIndex(std::nextafter(1.0, 0.0)), 4095);
    EXPECT_EQ(TapIndex(0.5), 2048);
    EXPECT_EQ(TapIndex(2.0), 4096);
    EXPECT_EQ(TapIndex(-1e300), 0);
    EXPECT_EQ(TapIndex(std::nan("")), 0);
}

TEST(Dispatch, ForcedLevelNeverAboveTheCpu) {
    const SimdLevel top = HighestCpuLevel();
    for (int i = 0; i < simdLevelCount; ++i) {
        const auto level = static_cast<SimdLevel>(i);
        ASSERT_EQ(RowKernelsFor(level) != nullptr, i <= static_cast<int>(top));
        setenv("TAVRICK_SIMD", SimdLevelName(level), 1);
        EXPECT_EQ(static_cast<int>(SelectRowKernels().level), std::min(i, static_cast<int>(top)));
    }
    setenv("TAVRICK_SIMD", "bogus", 1);
    EXPECT_EQ(SelectRowKernels().level, top);
    unsetenv("TAVRICK_SIMD");
    EXPECT_EQ(SelectRowKernels().level, top);
}

}  // namespace
