#include "job/progress.h"

#include <cstdio>

ProgressFigures ComputeProgress(std::uint32_t index, std::uint32_t total, std::uint32_t startTicks,
                                std::uint32_t nowTicks) {
    ProgressFigures f;
    // A run without steps reports only its end: show it as complete.
    f.percent = total == 0 ? 100u : static_cast<std::uint32_t>(static_cast<double>(index) / total * 100);
    const std::uint32_t elapsed = nowTicks - startTicks;  // unsigned: survives a wrap of the tick count
    const std::uint32_t left = total >= index ? total - index : 0;
    f.remainingMs = static_cast<std::uint64_t>(static_cast<double>(elapsed) / (static_cast<double>(index) + 1) * left);
    return f;
}

std::string FormatProgressStatus(std::uint32_t index, std::uint32_t total, const ProgressFigures& figures) {
    const std::uint64_t r = figures.remainingMs;
    const std::uint64_t hours = r / 3600000, minutes = r / 60000 - 60 * hours, seconds = r / 1000 - 60 * (r / 60000);
    char text[128];
    std::snprintf(text, sizeof text, "%u%%, frame %u of %u, %llu:%02llu:%02llu left", figures.percent, index, total,
                  static_cast<unsigned long long>(hours), static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(seconds));
    return text;
}

std::string FormatProgressTitle(const ProgressFigures& figures, const char* savedMainTitle) {
    char text[300];
    std::snprintf(text, sizeof text, "%u%% %s - %.255s", figures.percent, "done", savedMainTitle ? savedMainTitle : "");
    return text;
}

void ReportProgress(const FrontEnd& target, std::uint32_t index, std::uint32_t total, std::uint32_t startTicks,
                    std::uint32_t nowTicks, const char* savedMainTitle) {
    const ProgressFigures figures = ComputeProgress(index, total, startTicks, nowTicks);
    if (target.setStatusText) target.setStatusText(target.context, FormatProgressStatus(index, total, figures).c_str());
    if (target.setProgressBar) target.setProgressBar(target.context, static_cast<int>(figures.percent));
    if (target.setMainTitle) target.setMainTitle(target.context, FormatProgressTitle(figures, savedMainTitle).c_str());
}
