#pragma once
// The one global record of `converter`: what lives longer than one call of
// the GUI. Touched by the UI thread only, except what a run hands its worker
// while the modal progress dialog keeps the main dialog from taking input.

#include <cstdint>

#include "app/settings.h"
#include "frames/kernels.h"
#include "media/media_state.h"
#include "platform/module.h"
#include "platform/wintypes.h"

struct AppState {
    HINSTANCE instance = nullptr;
    char programDirectory[maxPathChars + 2] = {};  // ends with a backslash
    ConversionSettings settings = DefaultSettings();
    MediaState media;
    KernelTables tables;
    HWND mainWindow = nullptr;
    HWND progressWindow = nullptr;
    // Live editing of the rate and speed fields is followed only while set;
    // clear while the dialog rewrites its own fields.
    std::int32_t editTrackingEnabled = 0;
    int savedWorkerPriority = 0;
};

extern AppState appState;
