#include <gtest/gtest.h>

#include <vector>

#include "frame_fixtures.h"
#include "frames/geometry.h"

namespace {

TEST(FrameGeometry, LetterboxModes) {
    FrameGeometry g = ComputeFrameGeometry(720, 576, 432, letterboxNone);
    EXPECT_EQ(g.stride, 2160);
    EXPECT_EQ(g.frameRows, 432);
    EXPECT_EQ(g.imageRows, 432);
    EXPECT_EQ(g.rowOffset, 0);
    EXPECT_EQ(g.frameBytes, 2160u * 432);
    g = ComputeFrameGeometry(720, 576, 432, letterboxFrameKept);
    EXPECT_EQ(g.frameRows, 576);
    EXPECT_EQ(g.imageRows, 432);
    EXPECT_EQ(g.rowOffset, 72);
    g = ComputeFrameGeometry(720, 576, 480, letterboxImageKept);
    EXPECT_EQ(g.frameRows, 480);
    EXPECT_EQ(g.imageRows, 576);
    EXPECT_EQ(g.rowOffset, -48);
    // Odd differences truncate toward zero: the extra row falls at the top.
    EXPECT_EQ(ComputeFrameGeometry(5, 487, 480, letterboxImageKept).rowOffset, -3);
    EXPECT_EQ(ComputeFrameGeometry(5, 577, 432, letterboxFrameKept).rowOffset, 72);
    EXPECT_EQ(RowStride(1), 4);
    EXPECT_EQ(RowStride(5), 16);
    EXPECT_EQ(RowStride(1366), 4100);
}

// Frames whose row r holds the value r in every pixel byte (padding zero).
std::vector<std::uint8_t> RowNumberedFrame(int width, int rows, int allocatedRows) {
    const int stride = RowStride(width);
    std::vector<std::uint8_t> f(static_cast<std::size_t>(stride) * allocatedRows, 0);
    for (int r = 0; r < rows; ++r)
        for (int b = 0; b < 3 * width; ++b) f[static_cast<std::size_t>(r) * stride + b] = static_cast<std::uint8_t>(r);
    return f;
}

int RowValue(const std::vector<std::uint8_t>& f, int stride, int row) {
    return f[static_cast<std::size_t>(row) * stride];
}

TEST(SplitFields, AllModesOnAFiveRowFrame) {
    const int stride = RowStride(1);
    struct Case {
        int mode;
        std::vector<int> first, second;
    };
    const Case cases[] = {{1, {1, 3}, {0, 2}}, {2, {0, 2}, {1, 3}}, {3, {1, 3}, {}}, {4, {0, 2}, {}}};
    for (const Case& c : cases) {
        auto frame = RowNumberedFrame(1, 5, 5);
        std::vector<std::uint8_t> second(static_cast<std::size_t>(stride) * 5, 99);
        splitFields(c.mode, c.second.empty() ? nullptr : second.data(), frame.data(), 5, stride);
        for (std::size_t i = 0; i < c.first.size(); ++i) EXPECT_EQ(RowValue(frame, stride, i), c.first[i]) << c.mode;
        for (std::size_t i = 0; i < c.second.size(); ++i) EXPECT_EQ(RowValue(second, stride, i), c.second[i]) << c.mode;
        if (c.second.empty()) {
            EXPECT_EQ(second[0], 99);
        }
    }
}

struct Resampler {
    int width, stride, frameRows;
    std::vector<std::uint8_t> scratch;
    ResampleContext ctx;
    Resampler(int w, int rows)
        : width(w), stride(RowStride(w)), frameRows(rows), scratch(static_cast<std::size_t>(stride) * rows, 0) {
        ctx = {scratch.data(), stride, &Tables(), nullptr};
    }
    void Run(const std::vector<std::uint8_t>& source, int sourceRows, int imageRows, int rowOffset, int method,
             double shift) {
        resampleRows(ctx, source.data(), width, sourceRows, imageRows, rowOffset, frameRows, method, shift);
    }
    int Row(int r) const { return RowValue(scratch, stride, r); }
};

TEST(ResampleRows, CoarseHalvesAndLinearDoublesExactly) {
    auto source = RowNumberedFrame(3, 576, 576);
    Resampler half(3, 288);
    half.Run(source, 576, 288, 0, rowCoarse, 0.0);
    for (int r = 0; r < 288; ++r) ASSERT_EQ(half.Row(r), (2 * r) & 0xFF) << r;

    auto small = RowNumberedFrame(3, 200, 200);
    Resampler twice(3, 399);
    twice.Run(small, 200, 399, 0, rowLinear, 0.0);
    for (int r = 0; r < 399; ++r) ASSERT_EQ(twice.Row(r), r / 2) << r;  // rows between blend halfway, truncated

    // 288 -> 576: the last picture row is exactly source row 287.
    std::vector<std::uint8_t> tall(static_cast<std::size_t>(RowStride(3)) * 288, 0);
    for (int b = 0; b < 9; ++b) tall[static_cast<std::size_t>(287) * RowStride(3) + b] = 200;
    Resampler up(3, 576);
    up.Run(tall, 288, 576, 0, rowLinear, 0.0);
    EXPECT_EQ(up.Row(575), 200);
}

TEST(ResampleRows, EdgesRepeatRowVAndClamp) {
    // R_s = 10, S = 8.5: rows 7, 8, 9 and 8 again.
    std::vector<std::uint8_t> source(static_cast<std::size_t>(RowStride(1)) * 10, 0);
    const std::uint8_t values[10] = {0, 0, 0, 0, 0, 0, 0, 40, 100, 250};
    for (int r = 0; r < 10; ++r)
        for (int b = 0; b < 3; ++b) source[static_cast<std::size_t>(r) * RowStride(1) + b] = values[r];
    const KernelTables& t = Tables();
    for (int method : {rowCubic, rowLanczos}) {
        Resampler r(1, 10);
        r.Run(source, 10, 10, 0, method, 0.5);
        double* const* w = method == rowCubic ? t.cubic.taps : t.lanczos.arrays;
        auto expected = [&](int r0, int r1, int r2, int r3) {
            double v = r0 * w[0][2048] + r1 * w[1][2048] + r2 * w[2][2048] + r3 * w[3][2048];
            if (method == rowLanczos) v *= w[4][2048];
            return v > 255 ? 255 : static_cast<int>(v);
        };
        EXPECT_EQ(r.Row(8), expected(40, 100, 250, 100)) << method;
        // S = 9.5 on the last row: rows 8, 9, 9, 9.
        EXPECT_EQ(r.Row(9), expected(100, 250, 250, 250)) << method;
    }
    // A second field shifted by -0.5 starts at source row 0.
    auto numbered = RowNumberedFrame(1, 8, 8);
    Resampler shifted(1, 16);
    shifted.Run(numbered, 8, 16, 0, rowLinear, -0.5);
    EXPECT_EQ(shifted.Row(0), 0);
}

TEST(ResampleRows, LetterboxRowsOutsideAndPaddingStayUntouched) {
    auto source = RowNumberedFrame(5, 40, 40);
    Resampler r(5, 40);
    std::fill(r.scratch.begin(), r.scratch.end(), 0);
    r.Run(source, 40, 30, 5, rowLinear, 0.0);
    for (int row = 0; row < 40; ++row) {
        const bool picture = row >= 5 && row < 35;
        for (int b = 0; b < r.stride; ++b) {
            const int v = r.scratch[static_cast<std::size_t>(row) * r.stride + b];
            if (!picture || b >= 15) {
                ASSERT_EQ(v, 0) << "row " << row << " byte " << b;
            }
        }
    }
    // Cropping: picture rows outside the frame are skipped.
    Resampler crop(5, 20);
    crop.Run(source, 40, 40, -10, rowCoarse, 0.0);
    for (int row = 0; row < 20; ++row) EXPECT_EQ(crop.Row(row), row + 10);
}

TEST(ResampleRows, SinglePictureRowAndEmptyField) {
    auto source = RowNumberedFrame(2, 9, 9);
    for (int method = rowLinear; method <= rowLanczos; ++method) {
        Resampler r(2, 1);
        r.Run(source, 9, 1, 0, method, 0.0);
        EXPECT_EQ(r.Row(0), 0) << method;
        r.Run(source, 9, 1, 0, method, 0.5);  // halfway to row 1, truncated
        EXPECT_LE(r.Row(0), 1) << method;
    }
    // A field of a one-row frame has no rows: nothing is read or written.
    Resampler empty(2, 4);
    std::fill(empty.scratch.begin(), empty.scratch.end(), 0);
    empty.Run(source, 0, 4, 0, rowCubic, 0.0);
    for (auto b : empty.scratch) ASSERT_EQ(b, 0);
}

struct PreparedRing {
    FrameGeometry g;
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<std::uint8_t> scratch;
    FrameRing ring;
    SlotPreparation prep;
    PreparedRing(int width, int sourceRows, int outputHeight, int letterbox, int deint, int method)
        : g(ComputeFrameGeometry(width, sourceRows, outputHeight, letterbox)) {
        const std::size_t bytes = std::max(g.frameBytes, static_cast<std::size_t>(g.stride) * sourceRows);
        buffers.assign(ringSlotCount, std::vector<std::uint8_t>(bytes, 0));
        for (int s = 0; s < ringSlotCount; ++s) ring.slots[s] = buffers[s].data();
        scratch.assign(g.frameBytes, 0);
        prep.geometry = g;
        prep.deint = deint;
        prep.rowResampleMethod = method;
        prep.resample = {scratch.data(), g.stride, &Tables(), nullptr};
    }
    void Load(int slot) {
        auto f = RowNumberedFrame(g.width, g.sourceRows, g.sourceRows);
        std::copy(f.begin(), f.end(), buffers[slot].begin());
        PrepareSlot(prep, ring, slot);
    }
    int Row(int slot, int r) const { return RowValue(buffers[slot], g.stride, r); }
};

TEST(PrepareSlot, UnchangedGeometryKeepsTheDecodedFrame) {
    PreparedRing p(3, 50, 50, letterboxNone, deintDisabled, rowCubic);
    p.Load(2);
    for (int r = 0; r < 50; ++r) EXPECT_EQ(p.Row(2, r), r);
}

TEST(PrepareSlot, LetterboxedFrameHasBlackBars) {
    PreparedRing p(2, 576, 432, letterboxFrameKept, deintDisabled, rowCoarse);
    p.Load(3);
    for (int r = 0; r < 72; ++r) ASSERT_EQ(p.Row(3, r), 0) << r;
    for (int r = 504; r < 576; ++r) ASSERT_EQ(p.Row(3, r), 0) << r;
    EXPECT_EQ(p.Row(3, 72 + 3), (3 * 576 / 432) & 0xFF);

    // Image kept at 576 rows inside a 480-row frame: rows 48 .. 527 stored.
    PreparedRing crop(2, 576, 480, letterboxImageKept, deintDisabled, rowLinear);
    crop.Load(1);
    for (int r = 0; r < 480; ++r) ASSERT_EQ(crop.Row(1, r), (r + 48) & 0xFF) << r;
}

TEST(PrepareSlot, FieldPairsFillTheCompanionSlot) {
    // Top first: rows 1, 3, 5 stay; rows 0, 2, 4 go to the companion, shifted
    // by +0.5 of a field row. Coarse keeps the values readable.
    PreparedRing p(1, 12, 6, letterboxNone, deintBothTopFirst, rowCoarse);
    p.Load(2);
    for (int r = 0; r < 6; ++r) {
        EXPECT_EQ(p.Row(2, r), 2 * r + 1);
        EXPECT_EQ(p.Row(6, r), 2 * r) << "companion";  // floor(r + 0.5) of field rows
    }
    // Bottom first, companion shifted by -0.5, first row clamped to row 0.
    PreparedRing q(1, 12, 6, letterboxNone, deintBothBottomFirst, rowLinear);
    q.Load(3);
    EXPECT_EQ(q.Row(3, 0), 0);
    EXPECT_EQ(q.Row(7, 0), 1);
    for (int r = 0; r < 6; ++r) EXPECT_EQ(q.Row(3, r), 2 * r);
}

TEST(PrepareSlot, SingleFieldModesAndMedianSlotZero) {
    PreparedRing odd(1, 10, 5, letterboxNone, deintOddOnly, rowCoarse);
    odd.Load(4);
    for (int r = 0; r < 5; ++r) EXPECT_EQ(odd.Row(4, r), 2 * r + 1);
    EXPECT_EQ(odd.buffers[8][0], 0);  // no companion in the single-field modes
    for (int deint : {deintBothTopFirst, deintBothBottomFirst, deintOddOnly, deintEvenOnly}) {
        PreparedRing p(1, 10, 5, letterboxNone, deint, rowCoarse);
        p.Load(0);
        const int first = (deint == deintBothTopFirst || deint == deintOddOnly) ? 1 : 0;
        for (int r = 0; r < 5; ++r) EXPECT_EQ(p.Row(0, r), 2 * r + first) << deint;
    }
    // A one-row source has empty fields: a black picture, no stray reads.
    PreparedRing tiny(4, 1, 2, letterboxNone, deintBothTopFirst, rowCubic);
    tiny.Load(1);
    for (auto b : tiny.buffers[1]) ASSERT_EQ(b, 0);
}

}  // namespace
