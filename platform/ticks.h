#pragma once
// The millisecond tick count and sleeping.

#include <cstdint>

// Milliseconds of a monotonic clock, truncated to 32 bits: it wraps after
// about 49.7 days, so differences must be taken unsigned.
std::uint32_t GetTickCount();

void Sleep(std::uint32_t milliseconds);
