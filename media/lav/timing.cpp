#include "media/lav/timing.h"

#include <algorithm>

namespace {

using Wide = __int128;

// Whether tick t after the origin is at or before position n, to within half a tick:
// t x base <= n / rate + base / 2.
bool AtOrBefore(std::int64_t ticks, std::int64_t n, Ratio base, Ratio rate) {
    return Wide{2} * ticks * base.num * rate.num <= Wide{2} * n * rate.den * base.den + Wide{base.num} * rate.num;
}

}  // namespace

std::int64_t GridLength(std::int64_t origin, std::int64_t end, Ratio base, Ratio rate) {
    if (end <= origin || base.num <= 0 || base.den <= 0 || rate.num <= 0 || rate.den <= 0) return 0;
    // The positions whose time is earlier than end by more than half a tick.
    const Wide top = Wide{2} * (end - origin) * base.num * rate.num - Wide{base.num} * rate.num;
    const Wide bottom = Wide{2} * base.den * rate.den;
    if (top <= 0) return 1;
    const Wide n = (top + bottom - 1) / bottom;
    return n > INT32_MAX ? INT32_MAX : static_cast<std::int64_t>(n);
}

std::int32_t GridPicture(const std::vector<std::int64_t>& pts, std::int64_t n, Ratio base, Ratio rate) {
    const auto later = std::partition_point(pts.begin() + 1, pts.end(),
                                            [&](std::int64_t t) { return AtOrBefore(t - pts[0], n, base, rate); });
    return static_cast<std::int32_t>(later - pts.begin() - 1);
}

bool VariableSpacing(const std::vector<std::int64_t>& pts) {
    if (pts.size() < 3) return false;
    std::int64_t low = INT64_MAX, high = INT64_MIN;
    for (std::size_t i = 1; i < pts.size(); ++i) {
        low = std::min(low, pts[i] - pts[i - 1]);
        high = std::max(high, pts[i] - pts[i - 1]);
    }
    return high - low > 1;
}
