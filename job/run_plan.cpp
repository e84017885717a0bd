#include "job/run_plan.h"

#include <cmath>
#include <limits>

#include "frames/geometry.h"

namespace {

// The progressive choices of the resample list, "Coarse (fastest)" (2) to
// "Lanczos (best)" (6), are the row resampling methods rowCoarse to rowLanczos.
int RowResampleMethodOf(int deintRes) { return rowCoarse + (deintRes - 2); }

}  // namespace

RunPlan PlanRun(std::uint32_t dwRate, std::uint32_t dwScale, std::uint32_t dwLength, double srcSpeed, double dstRate,
                int deint, int deintRes) {
    RunPlan plan;
    plan.interlacedOutput = deintRes == 0 || deintRes == 1;
    plan.bothFields = IsFieldPairMode(deint);
    plan.rowResampleMethod = plan.interlacedOutput ? rowLinear : RowResampleMethodOf(deintRes);
    plan.secondFieldShift = (deint == deintBothTopFirst || deint == deintOddOnly)       ? 0.5
                            : (deint == deintBothBottomFirst || deint == deintEvenOnly) ? -0.5
                                                                                        : 0.0;
    plan.firstFieldParity = deintRes == 1 ? 1 : 0;
    const double sourceRate = static_cast<double>(dwRate) / dwScale;
    plan.sourceStep = sourceRate * srcSpeed / (plan.interlacedOutput ? 2 * dstRate : dstRate);
    // A source step that doesn't advance (a zero rate or speed in the file or
    // the settings) would never reach the end: such a run has no steps.
    const double steps = dwLength / plan.sourceStep;
    if (!(plan.sourceStep > 0) || !std::isfinite(plan.sourceStep) || !(steps >= 0))
        plan.stepCount = 0;
    else if (steps >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        plan.stepCount = std::numeric_limits<std::uint32_t>::max();
    else
        plan.stepCount = static_cast<std::uint32_t>(steps);
    return plan;
}

StepPosition PositionOfStep(std::uint32_t stepIndex, double sourceStep, bool bothFields) {
    const double x = stepIndex * sourceStep;
    return {bothFields ? 2 * x : x, static_cast<std::int64_t>(x)};
}

bool CompletesFrame(bool interlacedOutput, int deintRes, int fieldParity) {
    if (!interlacedOutput) return true;
    return (deintRes == 0 && fieldParity == 1) || (deintRes == 1 && fieldParity == 0);
}

bool MethodUsesSlot(int intMethod, int slot) {
    switch (slot) {
        case 0: return intMethod == 9;
        case 1: return intMethod >= 3 && intMethod <= 9;
        case 2: return intMethod >= 0 && intMethod <= 9;
        case 3: return intMethod >= 1 && intMethod <= 9;
        case 4: return (intMethod >= 3 && intMethod <= 7) || intMethod == 9;
        default: return false;
    }
}

namespace {

// Slots of each method, by image set: progressive (or single field), first
// field of a field pair, second field.
struct MethodSlots {
    int slots[3][5];
};
const MethodSlots methodSlots[10] = {
    {{{2}, {2}, {6}}},                                      // Coarse
    {{{2, 3}, {2, 6}, {6, 3}}},                             // Linear
    {{{2, 3}, {2, 6}, {6, 3}}},                             // Sine
    {{{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}},           // Cubic
    {{{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}},           // Lanczos
    {{{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}},           // Lansin 1
    {{{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}},           // Lansin 2
    {{{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}},           // Lansin 3
    {{{1, 2, 3}, {5, 2, 6}, {2, 6, 3}}},                    // Median 3
    {{{0, 1, 2, 3, 4}, {1, 5, 2, 6, 3}, {5, 2, 6, 3, 7}}},  // Median 5
};
const double lansinSpans[3] = {7.0, 31.0, 127.0};

}  // namespace

void RunStepKernel(const KernelContext& ctx, int intMethod, double intRange, const StepPosition& position,
                   bool bothFields, bool interlacedOutput, int fieldParity) {
    if (intMethod < 0 || intMethod > 9) return;  // only an edited settings store gets here
    const double whole = std::trunc(position.samplePosition);
    const double frac = position.samplePosition - whole;
    const bool secondField = bothFields && whole != 2.0 * static_cast<double>(position.baseFrame);
    const int set = !bothFields ? 0 : (secondField ? 2 : 1);
    const int* s = methodSlots[intMethod].slots[set];
    const int parity = fieldParity;

    if (intMethod == 0) return interpolateCoarse(ctx, interlacedOutput, parity, s[0]);
    if (intMethod == 8) return median3(ctx, interlacedOutput, parity, s[0], s[1], s[2]);
    if (intMethod == 9) return median5(ctx, interlacedOutput, parity, s[0], s[1], s[2], s[3], s[4]);
    if (frac <= 1 - intRange) return interpolateCoarse(ctx, interlacedOutput, parity, secondField ? 6 : 2);
    const double t = (frac - (1 - intRange)) / intRange;
    switch (intMethod) {
        case 1: return interpolateLinear(ctx, interlacedOutput, parity, s[0], s[1], t);
        case 2: return interpolateSine(ctx, interlacedOutput, parity, s[0], s[1], t);
        case 3: return interpolateCubic(ctx, interlacedOutput, parity, s[0], s[1], s[2], s[3], t);
        case 4: return interpolateLanczos(ctx, interlacedOutput, parity, s[0], s[1], s[2], s[3], t);
        default:
            return interpolateLansin(ctx, interlacedOutput, parity, s[0], s[1], s[2], s[3], t,
                                     lansinSpans[intMethod - 5]);
    }
}
