// A destination frame rate as a run uses it: its value, and when it was
// given as a fraction (30000/1001), the fraction itself, so the header and
// the frame positions follow it exactly rather than a rounded decimal.
#pragma once

#include <cstdint>

#include "core/settings.h"

struct FrameRate {
    double value = 0;
    std::uint32_t rate = 0;   // rate / scale is exactly the rate; scale 0: a decimal
    std::uint32_t scale = 0;  // rate, which keeps the decimal rule
    FrameRate() = default;
    FrameRate(double decimal) : value(decimal) {}  // NOLINT: a plain rate converts
    bool Exact() const { return scale != 0; }
};

// rate / scale reduced, its value from the two integers; the decimal rule's
// value (no fraction) when either is 0.
FrameRate FractionRate(std::uint32_t rate, std::uint32_t scale);

// The rate of a run: the fraction given for it while it still is dstRate
// (nothing may have clamped or replaced the value since), else dstRate.
FrameRate RunFrameRate(const ConversionSettings& settings);
