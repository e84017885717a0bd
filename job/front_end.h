// Everything the core asks of a user, in one record a front end fills: the GUI
// with calls into its windows, the command line with its terminal, tests with
// recorders. A member left null is skipped, or takes the console's way where
// its comment says so.
//
// Threads: the UI thread is the front end's own, the one that loads the
// settings, opens the source and starts a run; the worker thread runs the
// conversion (job/worker.h). "Worker" below means a thread of the run: with
// more than one core, frames are written, and progress and the questions of a
// split are sent, from the run's writer thread while the worker computes the
// next frame; never two calls at once. A call from a run's thread that needs a window
// must hand it to the UI thread and, for a question, wait for the answer; the
// UI thread must keep its event loop running while it waits for the worker.
#pragma once

#include <cstdint>

#include "core/user_calls.h"
#include "media/destination.h"
#include "media/vfw/saveoptions.h"
#include "platform/msgbox.h"

struct FrontEnd {
    void* context = nullptr;  // passed to every call

    // Worker (or the run's writer thread), during a run.
    void (*setStatusText)(void* context, const char* text) = nullptr;  // status line of the progress window
    void (*setProgressBar)(void* context, int percent) = nullptr;      // bar, range 0 to 100
    // Worker thread: at the start of a run (copy at most size - 1 characters,
    // so the worker can put the title back), and with every progress report.
    void (*getMainTitle)(void* context, char* title, int size) = nullptr;
    void (*setMainTitle)(void* context, const char* title) = nullptr;

    // UI thread (settings store, opening the source, starting a run) and
    // worker thread (the overwrite and 2 GB questions, a run's failures).
    // Shows one box and returns the button pressed; questions are MB_YESNO
    // boxes answered IDYES or IDNO. Null: standard error, questions answered No.
    MessageBoxPresenter messageBox = nullptr;
    // Worker thread, when the first file of a run is created: edits the
    // compression options in place; true when confirmed, false cancels the
    // run. Null: the stored options stand as they are.
    bool (*chooseCompressOptions)(void* context, void* owner, std::uint32_t flags, std::int32_t streams,
                                  PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** options) = nullptr;

    // Worker thread, after a run, in this order: its result message (117 Done
    // or a failure's text id, with its box style; none for 6, stopped or
    // declined; null: a box through messageBox), the main window flashes when
    // minimised, the progress window ends.
    void (*reportResult)(void* context, int textId, unsigned style) = nullptr;
    void (*flashMainWindow)(void* context) = nullptr;
    void (*endProgress)(void* context) = nullptr;

    // UI thread, before a run: a stored setting was outside what the main
    // dialog produces and was put back to its default; text says which and
    // both values. Null: nothing is shown.
    void (*settingCorrected)(void* context, const char* text) = nullptr;

    // UI thread: the settings store can't be opened or written (after message
    // 122 or 124). Ends the process; a front end may return instead (tests
    // do). Null: the process exits with exitCode.
    void (*endProcess)(void* context, int exitCode) = nullptr;
};

// The parts of the record the layers below the job take.
inline UserCalls UserCallsOf(const FrontEnd& frontEnd) {
    return UserCalls{frontEnd.context, frontEnd.messageBox, frontEnd.endProcess};
}
inline DestinationPrompts DestinationPromptsOf(const FrontEnd& frontEnd, HWND owner) {
    return DestinationPrompts{UserCallsOf(frontEnd),
                              AviOptionsPresenter{frontEnd.chooseCompressOptions, frontEnd.context}, owner};
}
