#include "core/frame_rate.h"

#include <numeric>

FrameRate FractionRate(std::uint32_t rate, std::uint32_t scale) {
    if (rate == 0 || scale == 0) return FrameRate(0.0);
    const std::uint32_t common = std::gcd(rate, scale);
    FrameRate r(static_cast<double>(rate / common) / static_cast<double>(scale / common));
    r.rate = rate / common;
    r.scale = scale / common;
    return r;
}

FrameRate RunFrameRate(const ConversionSettings& settings) {
    const FrameRate exact = FractionRate(settings.dstRateFraction[0], settings.dstRateFraction[1]);
    if (exact.Exact() && exact.value == settings.dstRate) return exact;
    return FrameRate(settings.dstRate);
}
