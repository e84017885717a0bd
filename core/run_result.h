#pragma once
// The one result of the steps of a run: admitting and opening the source,
// creating the destination, the conversion itself and the steps before the
// worker. The values are the command line's exit statuses and never change;
// where two steps name one value differently, both names are kept.

#include <cstdint>

#include "core/messages.h"

enum class RunResult : std::int32_t {
    // Success of each step.
    sourceOpened = 0,
    destinationCreated = 0,
    conversionDone = 0,
    // Opening the source (OpenSource).
    sourceCannotOpen = 1,   // message 106
    sourceNoVideo = 2,      // message 107
    sourceNoInfo = 3,       // message 108
    sourceUnsupported = 4,  // message 115
    // Creating the destination or a segment (CreateDestination).
    destinationCannotCreate = 5,   // message 110
    destinationDeclined = 6,       // the user said no or cancelled: no message
    destinationNoStream = 7,       // message 112
    destinationFormatRefused = 8,  // message 113
    destinationNoMemory = 9,       // message 114
    destinationAudioRefused = 11,  // message 116
    // The conversion (RunConversion), besides the codes of CreateDestination.
    conversionStopped = 6,        // stopped or declined by the user: no message
    conversionCannotWrite = 8,    // message 113
    conversionNoMemory = 9,       // message 114
    conversionAudioFailed = 11,   // message 116
    conversionCannotRename = 12,  // message 123
    // Before the worker (job/start_run.h).
    sourceTooLarge = 10,        // message 104: over 2 GB
    settingsStoreFailed = 255,  // message 122 or 124, shown by the settings store
};
using enum RunResult;

// The failure message that reports a result; 0 for success, a stop and a
// failure of the settings store (which shows its own).
MessageId ResultMessageId(RunResult result);

// The number a result stands for: the command line's exit status.
constexpr int ResultCode(RunResult result) { return static_cast<int>(result); }
