// The frame schedule of one run and the kernel each step runs.
#pragma once

#include <cstdint>
#include <vector>

#include "core/frame_rate.h"
#include "frames/geometry.h"
#include "frames/kernels.h"

struct RunPlan {
    bool interlacedOutput = false;  // each destination frame woven from two field steps
    bool bothFields = false;        // each source frame gives two fields half a frame apart
    int rowResampleMethod = 0;
    double secondFieldShift = 0.0;
    double sourceStep = 0.0;  // source frames advanced per step
    // The step as stepNumerator / stepDenominator exactly, when the rate was
    // given as a fraction (and the speed is a short decimal); 0: sourceStep.
    std::uint64_t stepNumerator = 0, stepDenominator = 0;
    std::uint32_t stepCount = 0;
    int firstFieldParity = 0;
};

// From the source rate (dwRate / dwScale) and length, the speed factor, the
// destination rate and the deinterlace and interlace/resample settings.
// A destination rate given as a fraction steps by exact fractions of a frame.
RunPlan PlanRun(std::uint32_t dwRate, std::uint32_t dwScale, std::uint32_t dwLength, double srcSpeed,
                const FrameRate& dstRate, int deint, int deintRes);

struct StepPosition {
    double samplePosition;   // in frames, or in fields in the field-pair modes
    std::int64_t baseFrame;  // the source frame at or before the position
};
StepPosition PositionOfStep(std::uint32_t stepIndex, double sourceStep, bool bothFields);
// The position of a step of the plan: from the exact step when it has one.
StepPosition PositionOfStep(std::uint32_t stepIndex, const RunPlan& plan);

// Whether the step that just filled field `fieldParity` finishes a frame.
bool CompletesFrame(bool interlacedOutput, int deintRes, int fieldParity);

// The ring slots an interpolation method reads (used to decide what to fetch).
bool MethodUsesSlot(int intMethod, int slot);

// Runs the kernel of `intMethod` for one step into OutputFrame, holding the
// earlier image for the first (1 - intRange) of every interval.
void RunStepKernel(const KernelContext& ctx, int intMethod, double intRange, const StepPosition& position,
                   bool bothFields, bool interlacedOutput, int fieldParity);

// A frame method's state over one run; nothing for a row method.
struct FrameMethod;
struct CutDetector;
struct FrameMethodState {
    const FrameMethod* method = nullptr;  // null: a row method
    void* state = nullptr;
    const CutDetector* cuts = nullptr;  // set: row methods hold across cuts too
    void* cutState = nullptr;
    std::vector<std::int64_t>* found = nullptr;  // cuts found, by their later source frame
};
// False when the method's state can't be had (out of memory).
bool StartFrameMethod(FrameMethodState& state, int intMethod, int threads, bool cutAware = false);
void EndFrameMethod(FrameMethodState& state);
// One step of a frame method over the whole frame, its row work shared out
// through `split`; the same hold rule as RunStepKernel.
// With cut detection, a row method's step that lies across a cut is filled
// with the nearer image whole; true when it was.
bool HoldAcrossCut(FrameMethodState& state, const KernelContext& whole, const RowSplitter& split, int intMethod,
                   double intRange, const StepPosition& position, bool bothFields, bool interlacedOutput,
                   int fieldParity);
void RunFrameStep(FrameMethodState& state, const KernelContext& whole, const RowSplitter& split, int intMethod,
                  double intRange, const StepPosition& position, bool bothFields, bool interlacedOutput,
                  int fieldParity);
