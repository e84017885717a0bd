#include <gtest/gtest.h>

#include "media/lav/timing.h"

namespace {

// An hour of 30000/1001 fps stored in milliseconds, each time rounded to
// the nearest: read at its own rate, every picture comes once, in order,
// with no drift at the end.
TEST(Grid, RoundedConstantRateKeepsEveryPictureOverAnHour) {
    const Ratio ms{1, 1000}, ntsc{30000, 1001};
    std::vector<std::int64_t> pts;
    for (std::int64_t k = 0; k < 107892; ++k) pts.push_back((k * 1001 * 1000 + 15000) / 30000 + 500);
    const std::int64_t end = (std::int64_t{107892} * 1001 * 1000 + 15000) / 30000 + 500;
    ASSERT_EQ(GridLength(pts.front(), end, ms, ntsc), 107892);
    for (std::int32_t n = 0; n < 107892; ++n) ASSERT_EQ(GridPicture(pts, n, ms, ntsc), n) << n;
    EXPECT_FALSE(VariableSpacing(pts));  // 33 and 34 ms apart: one tick
}

// Uneven pictures on a 10 fps grid in 1/90000 s ticks: a position shows
// the latest picture at or before its time; one a tick late waits.
TEST(Grid, LatestPictureAtOrBeforeEachPosition) {
    const Ratio base{1, 90000}, rate{10, 1};
    const std::vector<std::int64_t> pts = {1000, 1000 + 9000, 1000 + 9001, 1000 + 40000, 1000 + 40500};
    EXPECT_TRUE(VariableSpacing(pts));
    const std::int64_t length = GridLength(pts.front(), 1000 + 54000, base, rate);
    EXPECT_EQ(length, 6);
    std::vector<std::int32_t> shown;
    for (std::int64_t n = 0; n < length; ++n) shown.push_back(GridPicture(pts, n, base, rate));
    EXPECT_EQ(shown, (std::vector<std::int32_t>{0, 1, 2, 2, 2, 4}));
    // Nothing to show, or nothing to step by.
    EXPECT_EQ(GridLength(5, 5, base, rate), 0);
    EXPECT_EQ(GridLength(0, 100, base, Ratio{0, 1}), 0);
    EXPECT_EQ(GridPicture({1000}, 3, base, rate), 0);  // one picture shows everywhere
}

}  // namespace
