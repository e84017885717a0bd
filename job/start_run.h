// Starting a run, the same way for every front end. The command line calls
// ConvertFile and blocks; the GUI calls the steps one by one, so its UI thread
// can start the worker and keep its event loop running until the run ends.
#pragma once

#include <optional>
#include <string>

#include "core/settings.h"
#include "frames/kernels.h"
#include "job/conversion.h"
#include "job/front_end.h"
#include "job/worker.h"
#include "media/media_state.h"
#include "media/source.h"

// The records of a front end's runs. The worker uses them while it runs, so a
// front end keeps one for as long as it may start runs.
struct RunSession {
    RunSession() = default;
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;
    ~RunSession() { ReleaseKernelTables(tables); }

    ConversionSettings settings = DefaultSettings();
    SourceOptions sourceOptions;  // how the source is read (grid rate, audio stream)
    MediaState media;
    KernelTables tables;  // built by the first start, kept for the later ones
    bool tablesBuilt = false;
    ConversionJob job;
    JobControl control;  // the front end sets stop and pause here
    ConversionRun run;
    WorkerHandle worker;
};

// The chosen source is admitted and opened; the refusals are shown through
// frontEnd's message box (104, 106, 107, 108 or 115). Returns sourceOpened,
// a code of OpenSource or sourceTooLarge. UI thread.
RunResult OpenSourceChecked(const FrontEnd& frontEnd, MediaState& media, const char* path,
                            const SourceOptions& options = {});

// The output height of a run on this source: the typed height if any, else
// the aspect preset's height from the source width (the source height for
// the custom preset), clamped to 1..32767.
std::int32_t RunOutputHeight(const ConversionSettings& settings, const SourceMedia& source,
                             std::optional<int> typedHeight);

// Before the worker, on the caller's thread, with session.settings as the
// caller loaded and changed them: takes the two paths, opens the source,
// sets the output height and brings stored values the dialog can't produce
// back into range (telling frontEnd.settingCorrected); with save, stores the settings as the new defaults.
// Returns sourceOpened when the run can start, else the code to end with (the
// source's, or settingsStoreFailed when the front end's process end returned).
RunResult PrepareConversion(RunSession& session, const FrontEnd& frontEnd, const char* sourcePath,
                            const char* destinationPath, std::optional<int> typedHeight, bool save);

// Brings stored values the dialog can't produce back into range (as
// PrepareConversion does, for a front end that opened the source itself),
// builds the kernel tables (once per session), binds the run record to
// session and frontEnd and starts the worker. Returns conversionDone when the worker runs;
// conversionNoMemory (message 114, the media closed) when it can't. Clears no
// control flags.
RunResult StartConversion(RunSession& session, const FrontEnd& frontEnd, HWND owner = nullptr);

// Waits for the worker (calling serve(context) every 50 ms, so the waiting
// thread can answer what the worker asks of it) and returns the run's result.
RunResult WaitForConversion(RunSession& session, void (*serve)(void* context) = nullptr, void* context = nullptr);

// What a front end may show under the last run's failure message: the cause
// in words (an error of the system such as a full disk, an encoder's refusal,
// a destination that is no file, why a source can't be read); empty when
// there is nothing to add.
inline const std::string& RunFailureDetail(const RunSession& session) {
    const std::string& destination = session.media.destination.failureDetail;
    return destination.empty() ? session.media.source.failureDetail : destination;
}

// The whole run on one thread: prepare, start, wait, close the media.
// Returns the result, or the code of the step that ended it.
RunResult ConvertFile(RunSession& session, const FrontEnd& frontEnd, const char* sourcePath,
                      const char* destinationPath, std::optional<int> typedHeight, bool save);
