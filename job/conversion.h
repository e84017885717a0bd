// One conversion run: the schedule, the ring of source images, the kernels,
// the compressed output with its audio and segments, progress, pause and stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/run_result.h"
#include "core/settings.h"
#include "frames/geometry.h"
#include "frames/kernels.h"
#include "job/front_end.h"
#include "job/progress.h"
#include "job/run_plan.h"
#include "job/segments.h"
#include "media/media_state.h"
#include "platform/wintypes.h"

// Set by the front end, polled by the worker; nothing else is shared but the
// level a paused worker returns to, which the front end may change meanwhile.
struct JobControl {
    std::atomic<std::int32_t> stopRequested{0};
    std::atomic<std::int32_t> pauseRequested{0};
    std::atomic<std::int32_t> paused{0};          // the worker sleeps at idle priority
    std::atomic<std::int32_t> resumePriority{0};  // its level once the pause ends
};

// The run-time state of one run; every field but the limit is reset at its start.
struct ConversionJob {
    FrameGeometry geometry;
    RunPlan plan;
    std::uint32_t sourceFrameBytes = 0;
    std::uint32_t startTicks = 0;
    std::uint32_t stepIndex = 0;
    std::int64_t baseFrame = 0;
    std::int64_t lastBaseFrame = -99999;
    int fieldParity = 0;
    std::uint32_t framesWritten = 0;
    std::uint32_t segmentStartFrame = 0;
    std::uint32_t keyFrameCounter = 0;
    std::uint32_t progressCounter = 0;
    // Audio and segments. The byte count is kept wide so that a huge frame
    // can't wrap it past the limit.
    std::uint64_t segmentBytes = 0;
    int segmentIndex = 0;
    bool segmentQuestionAsked = false;
    std::uint32_t audioChunkCounter = 0;
    // The chunk boundaries follow a running sum of fractional chunk lengths;
    // the samples themselves are counted whole, so each read starts exactly
    // where the last one ended, across files too.
    double audioPosition = 0;
    std::int64_t audioNextSample = 0;    // the source sample the next chunk starts with
    std::int64_t segmentAudioStart = 0;  // the source sample at position 0 of the current file
    // Files are split once segmentBytes exceeds this; tests lower it.
    std::uint64_t segmentLimit = SegmentLimit;
    std::vector<std::int64_t> cuts{};  // cuts found (Motion, or any method with cutAware): the later source frame
};

// Everything a run works on, bound by the front end (GUI or command line).
struct ConversionRun {
    ConversionSettings* settings = nullptr;  // read; pOptions is edited by the compressor choice
    MediaState* media = nullptr;             // the open source; the destination and buffers of the run
    ConversionJob* job = nullptr;
    const KernelTables* tables = nullptr;
    const RowKernels* kernels = nullptr;  // null: the level the CPU and TAVRICK_SIMD give
    // Threads sharing each kernel call on large frames, in row bands, and
    // writing finished frames; the bytes are the same for every count.
    // 0: the cores this process may use; 1: everything on the worker.
    int threads = 0;
    FrontEnd frontEnd;  // every call to the user
    JobControl* control = nullptr;
    HWND owner = nullptr;           // owner of the questions (the progress window)
    char savedMainTitle[256] = {};  // the main window's title before the run
};

// Runs one conversion from the settings and the open source into
// destinationPath; returns conversionDone, a conversion code or the code of
// CreateDestination. The destination is always closed on return; the buffers
// stay in media->buffers for the next run.
RunResult RunConversion(ConversionRun& run);
