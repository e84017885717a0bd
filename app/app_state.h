#pragma once
// The one global record of `converter`: what lives longer than one call of
// the GUI. Touched by the UI thread only, except what a run hands its worker
// while the modal progress dialog keeps the main dialog from taking input.

#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "core/user_calls.h"
#include "job/front_end.h"
#include "job/start_run.h"
#include "platform/module.h"
#include "platform/threads.h"
#include "platform/ui/window.h"
#include "platform/wintypes.h"

struct AppState {
    HINSTANCE instance = nullptr;
    char programDirectory[maxPathChars + 2] = {};  // ends with a backslash
    // The settings, the open source, the tables and the worker of the runs.
    RunSession session;
    ConversionSettings& settings = session.settings;
    MediaState& media = session.media;
    // Every call to the user, from the UI thread and the worker alike.
    FrontEnd frontEnd;
    HWND mainWindow = nullptr;
    HWND progressWindow = nullptr;
    // Live editing of the rate and speed fields is followed only while set;
    // clear while the dialog rewrites its own fields.
    std::int32_t editTrackingEnabled = 0;
    int savedWorkerPriority = 0;
    // Every other thread's level while the progress dialog is minimised.
    std::vector<ThreadLevel> loweredThreads;
    // The about box's label fonts, made once at start-up and never freed.
    HFONT normalFont = nullptr;
    HFONT underlinedFont = nullptr;
    HFONT boldFont = nullptr;
};

extern AppState appState;

// The message boxes and the process end of the front end.
inline UserCalls AppUser() { return UserCallsOf(appState.frontEnd); }

// The front end of the GUI: reports into the dialogs through blocking calls to
// the UI thread, Qt message boxes, the compression options dialog.
FrontEnd GuiFrontEnd();
