// Progress of a running conversion: the status line and bar of the progress
// window and the percentage in front of the main window's title.
#pragma once

#include <cstdint>
#include <string>

// Where a run reports to: the GUI fills it with calls into its windows, the
// command line with a terminal progress line.
struct ProgressTarget {
    void* context = nullptr;
    void (*setStatusText)(void* context, const char* text) = nullptr;  // status line of the progress window
    void (*setProgressBar)(void* context, int percent) = nullptr;      // bar, range 0 to 100
    void (*setMainTitle)(void* context, const char* title) = nullptr;
    // Copies the main window's title (at most size - 1 characters) so the worker can put it back.
    void (*getMainTitle)(void* context, char* title, int size) = nullptr;
    // The yes/no questions of a run; true for Yes. Null: a message box owned by the job's owner.
    bool (*askYesNo)(void* context, int textId) = nullptr;
    // A message of the string table with its message box style. Null: a message box.
    void (*showMessage)(void* context, int textId, unsigned style) = nullptr;
    // After the result: the main window flashes when it is minimised, then the progress window ends.
    void (*flashMainWindow)(void* context) = nullptr;
    void (*endProgress)(void* context) = nullptr;
};

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
void ReportProgress(const ProgressTarget& target, std::uint32_t index, std::uint32_t total, std::uint32_t startTicks,
                    std::uint32_t nowTicks, const char* savedMainTitle);
