// Progress of a running conversion: the status line and bar of the progress
// window and the percentage in front of the main window's title.
#pragma once

#include <cstdint>
#include <string>

#include "job/front_end.h"

struct ProgressFigures {
    std::uint32_t percent;
    std::uint64_t remainingMs;
};

// Percentage and time left after `index` of `total` steps; tick counts are
// the 32-bit millisecond clock, so a wrap between them is harmless.
ProgressFigures ComputeProgress(std::uint32_t index, std::uint32_t total, std::uint32_t startTicks,
                                std::uint32_t nowTicks);
std::string FormatProgressStatus(std::uint32_t index, std::uint32_t total, const ProgressFigures& figures);
std::string FormatProgressTitle(const ProgressFigures& figures, const char* savedMainTitle);

// Writes the status line, the bar and the main window's title.
void ReportProgress(const FrontEnd& target, std::uint32_t index, std::uint32_t total, std::uint32_t startTicks,
                    std::uint32_t nowTicks, const char* savedMainTitle);
