// The scoring arithmetic: the same figures at every level, and the cases with a known answer.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "frames/geometry.h"
#include "frames/picture_metrics.h"

namespace {

TEST(PictureMetrics, EveryLevelGivesTheSameFigures) {
    std::mt19937 rng(5);
    // Odd sizes: ragged 4x4 blocks, padded rows, a row over 32768 samples.
    for (const auto& [w, h] : {std::pair{13, 9}, std::pair{101, 37}, std::pair{11000, 8}}) {
        const int stride = RowStride(w);
        std::vector<std::uint8_t> a(static_cast<std::size_t>(stride) * h), b(a.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = static_cast<std::uint8_t>(rng());
            b[i] = i % 7 ? static_cast<std::uint8_t>(a[i] + rng() % 5 - 2) : static_cast<std::uint8_t>(rng());
        }
        const BgrPicture pa = BottomUpPicture(a.data(), w, h, stride), pb = BottomUpPicture(b.data(), w, h, stride);
        MetricScratch scratch;
        const PictureScore base = ScorePictures(pa, pb, scratch, MetricLoopsFor(SimdLevel::scalar));
        for (int level = 1; level <= static_cast<int>(HighestCpuLevel()); ++level) {
            const PictureScore s = ScorePictures(pa, pb, scratch, MetricLoopsFor(static_cast<SimdLevel>(level)));
            EXPECT_EQ(s.mseY, base.mseY) << level;
            EXPECT_EQ(s.mseRgb, base.mseRgb) << level;
            EXPECT_EQ(s.ssimY, base.ssimY) << level;
        }
        EXPECT_GT(base.mseRgb, 1.0);
    }
}

TEST(PictureMetrics, KnownAnswers) {
    const int w = 8, h = 8, stride = RowStride(w);
    std::vector<std::uint8_t> a(stride * h, 100), b = a;
    MetricScratch scratch;
    const BgrPicture pa = BottomUpPicture(a.data(), w, h, stride), pb = BottomUpPicture(b.data(), w, h, stride);
    PictureScore s = ScorePictures(pa, pb, scratch);
    EXPECT_TRUE(std::isinf(PsnrOfMse(s.mseY)) && std::isinf(PsnrOfMse(s.mseRgb)));
    EXPECT_EQ(s.ssimY, 1.0);
    // One red sample 64 higher: 64^2 over 192 samples; luma (66 * 164 + ...) >> 8 moves by 16.
    b[0] = 100, b[2] = 164;
    s = ScorePictures(pa, pb, scratch);
    EXPECT_DOUBLE_EQ(s.mseRgb, 4096.0 / 192);
    EXPECT_DOUBLE_EQ(s.mseY, 16.0 * 16 / 64);
    EXPECT_NEAR(PsnrOfMse(s.mseRgb), 10 * std::log10(65025 * 192 / 4096.0), 1e-12);
    // Rows are read from the top: the bottom-up buffer's first row is the picture's last.
    std::uint8_t luma[64];
    LumaOfPicture(pb, luma);
    EXPECT_EQ(luma[56], ((66 * 164 + 129 * 100 + 25 * 100 + 4224) >> 8));
    EXPECT_EQ(luma[0], ((66 * 100 + 129 * 100 + 25 * 100 + 4224) >> 8));
    // No 8x8 window fits: no SSIM.
    EXPECT_TRUE(std::isnan(
        ScorePictures(BottomUpPicture(a.data(), 7, 8, stride), BottomUpPicture(b.data(), 7, 8, stride), scratch)
            .ssimY));
}

}  // namespace
