// A round trip on the user's own footage: a stretch of the source is thinned
// out, every dropped frame is rebuilt from the kept ones by each method (the
// conversion's kernels, ring, fields and settings) and compared with the
// original. Nothing is written; the front end prints what comes back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/run_result.h"
#include "core/settings.h"
#include "frames/geometry.h"
#include "frames/kernels.h"
#include "media/media_state.h"

// `kept` frames of every `period` stay, the first of each period and the
// others at the whole frames nearest below even spacing (2 of 5: 0 and 2).
struct KeepPattern {
    int kept = 1;
    int period = 2;
};
bool IsKeptFrame(const KeepPattern& keep, std::int64_t offset);  // offset from the stretch's first frame

// The short name of a method ("lansin2"), from its label; empty past the list.
std::string MethodKey(int method);

struct ScoreRequest {
    std::vector<int> methods;  // in the order asked; empty: every method
    KeepPattern keep;
    std::optional<double> startSeconds;   // default: the stretch is centred
    double durationSeconds = 10;          // cut to the source
    bool keepWorstPictures = false;       // keep the worst frame pair of every method
    const RowKernels* kernels = nullptr;  // null: the run's level (TAVRICK_SIMD)
    void (*progress)(void* context, std::int64_t done, std::int64_t total) = nullptr;
    void* context = nullptr;
};

struct FrameScore {
    std::int64_t frame = 0;  // in the source's video stream
    double mseY = 0, mseRgb = 0, ssim = 0;
};

struct MethodScore {
    int method = 0;
    std::vector<FrameScore> frames;  // in source order
    double kernelSeconds = 0;        // rebuilding only, on one thread
    std::size_t worst = 0;           // the frame with the largest luma error
    // With keepWorstPictures: that frame's original and rebuilt picture (bottom-up DIB rows).
    std::vector<std::uint8_t> worstOriginal, worstRebuilt;

    double PooledMseY() const;  // the mean of the frames' errors, as FFmpeg pools PSNR
    double PooledMseRgb() const;
    double MeanSsim() const;
};

struct ScoreReport {
    double rate = 0;                              // source frames per second
    std::int64_t firstFrame = 0, frameCount = 0;  // the stretch scored
    bool shortened = false;                       // the source ended before the stretch asked for
    std::int64_t undecodable = 0;                 // frames repeated from the one before
    FrameGeometry geometry;                       // of the compared frames
    std::vector<MethodScore> methods;             // in the order asked
};

// Scores `source` (open) under the persisted settings (deinterlace, resample,
// range, output height and letterbox). Returns conversionDone; sourceNoInfo
// when the stretch holds no frame to rebuild; sourceUnsupported when its
// first frame doesn't decode; conversionNoMemory.
RunResult ScoreSource(const ConversionSettings& settings, SourceMedia& source, const KernelTables& tables,
                      const ScoreRequest& request, ScoreReport& report);

// The stretch's first frame and frame count from the request, cut to the
// source's `length` frames.
void ChooseStretch(const ScoreRequest& request, double rate, std::int64_t length, std::int64_t& first,
                   std::int64_t& count, bool& shortened);
// Dropped frames of the stretch with a kept frame on either side in the source.
std::int64_t FramesToRebuild(const KeepPattern& keep, std::int64_t first, std::int64_t count, std::int64_t length);
