#include "job/run_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "frames/geometry.h"
#include "job/methods.h"
#include "job/motion_method.h"

namespace {

// The progressive choices of the resample list, "Coarse (fastest)" (2) to
// "Lanczos (best)" (6), are the row resampling methods rowCoarse to rowLanczos.
int RowResampleMethodOf(int deintRes) { return rowCoarse + (deintRes - 2); }

using Wide = unsigned __int128;

Wide Gcd(Wide a, Wide b) {
    while (b != 0) {
        const Wide t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// The speed as the decimal that was typed (1.0, 0.5, 1.001), when a short one
// gives exactly this double; false for anything else.
bool DecimalSpeed(double speed, std::uint64_t& numerator, std::uint64_t& denominator) {
    std::uint64_t scale = 1;
    for (int digits = 0; digits <= 9; ++digits, scale *= 10) {
        const double scaled = std::round(speed * static_cast<double>(scale));
        if (scaled >= 1 && scaled < 1e15 && scaled / static_cast<double>(scale) == speed) {
            numerator = static_cast<std::uint64_t>(scaled);
            denominator = scale;
            return true;
        }
    }
    return false;
}

// step = source rate x speed / destination rate (twice the rate for fields),
// as a reduced fraction; positions and the step count follow from integers.
void PlanExactSteps(RunPlan& plan, std::uint32_t dwRate, std::uint32_t dwScale, std::uint32_t dwLength, double srcSpeed,
                    const FrameRate& rate) {
    std::uint64_t speedNum = 0, speedDen = 0;
    if (dwRate == 0 || dwScale == 0 || !DecimalSpeed(srcSpeed, speedNum, speedDen)) return;
    // At most 2^32 x 2^32 x 2^50 on either side: no overflow before reducing.
    Wide num = Wide{dwRate} * rate.scale * speedNum;
    Wide den = Wide{dwScale} * rate.rate * speedDen * (plan.interlacedOutput ? 2 : 1);
    const Wide common = Gcd(num, den);
    num /= common;
    den /= common;
    // Positions take step x index (32 bits) and twice that in 128 bits.
    if (num == 0 || num >= (Wide{1} << 62) || den >= (Wide{1} << 62)) return;
    plan.stepNumerator = static_cast<std::uint64_t>(num);
    plan.stepDenominator = static_cast<std::uint64_t>(den);
    plan.sourceStep = static_cast<double>(num) / static_cast<double>(den);
    const Wide steps = Wide{dwLength} * den / num;
    plan.stepCount = steps >= std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                                        : static_cast<std::uint32_t>(steps);
}

}  // namespace

RunPlan PlanRun(std::uint32_t dwRate, std::uint32_t dwScale, std::uint32_t dwLength, double srcSpeed,
                const FrameRate& rate, int deint, int deintRes) {
    const double dstRate = rate.value;
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
    if (rate.Exact()) PlanExactSteps(plan, dwRate, dwScale, dwLength, srcSpeed, rate);
    return plan;
}

StepPosition PositionOfStep(std::uint32_t stepIndex, double sourceStep, bool bothFields) {
    const double x = stepIndex * sourceStep;
    return {bothFields ? 2 * x : x, static_cast<std::int64_t>(x)};
}

StepPosition PositionOfStep(std::uint32_t stepIndex, const RunPlan& plan) {
    if (plan.stepDenominator == 0) return PositionOfStep(stepIndex, plan.sourceStep, plan.bothFields);
    // Whole frames and the fraction from integers; the double can't round
    // the fraction up into the next frame.
    const Wide at = Wide{stepIndex} * plan.stepNumerator * (plan.bothFields ? 2 : 1);
    const auto whole = static_cast<double>(at / plan.stepDenominator);
    const double fraction =
        static_cast<double>(static_cast<std::uint64_t>(at % plan.stepDenominator)) / plan.stepDenominator;
    double position = whole + fraction;
    if (position >= whole + 1) position = std::nextafter(whole + 1, 0.0);
    const Wide frame = Wide{stepIndex} * plan.stepNumerator / plan.stepDenominator;
    return {position, static_cast<std::int64_t>(frame)};
}

bool CompletesFrame(bool interlacedOutput, int deintRes, int fieldParity) {
    if (!interlacedOutput) return true;
    return (deintRes == 0 && fieldParity == 1) || (deintRes == 1 && fieldParity == 0);
}

bool MethodUsesSlot(int intMethod, int slot) {
    const MethodEntry* m = FindMethod(intMethod);
    if (!m) return false;
    const int* progressive = m->slots.slots[0];
    return std::find(progressive, progressive + m->slots.count, slot) != progressive + m->slots.count;
}

namespace {

// The step's image set and blend position; false when the step holds the
// earlier image (the first 1 - range of an interval), `held` being its slot.
bool StepArgsOf(const MethodEntry& m, double intRange, const StepPosition& position, bool bothFields,
                bool interlacedOutput, int fieldParity, StepArgs& args, int& held, int& set) {
    const double whole = std::trunc(position.samplePosition);
    const double frac = position.samplePosition - whole;
    const bool secondField = bothFields && whole != 2.0 * static_cast<double>(position.baseFrame);
    set = !bothFields ? 0 : (secondField ? 2 : 1);
    args = StepArgs{m.slots.slots[set], 0.0, interlacedOutput, fieldParity, m.span};
    held = secondField ? 6 : 2;
    if (!m.usesRange) return true;
    if (frac <= 1 - intRange) return false;
    args.t = (frac - (1 - intRange)) / intRange;
    return true;
}

}  // namespace

void RunStepKernel(const KernelContext& ctx, int intMethod, double intRange, const StepPosition& position,
                   bool bothFields, bool interlacedOutput, int fieldParity) {
    const MethodEntry* m = FindMethod(intMethod);
    if (!m || !m->kernel) return;  // only an edited settings store gets here; frame methods run whole
    StepArgs args;
    int held = 0, set = 0;
    if (!StepArgsOf(*m, intRange, position, bothFields, interlacedOutput, fieldParity, args, held, set))
        return interpolateCoarse(ctx, interlacedOutput, fieldParity, held);
    m->kernel(ctx, args);
}

bool StartFrameMethod(FrameMethodState& s, int intMethod, int threads, bool cutAware) {
    const MethodEntry* m = FindMethod(intMethod);
    s.method = m ? m->frame : nullptr;
    if (s.method) return (s.state = s.method->create(threads)) != nullptr;
    // Coarse reads one image: it never blends.
    if (!cutAware || !m || m->slots.count < 2) return true;
    s.cuts = &motionCuts;
    return (s.cutState = s.cuts->create(threads)) != nullptr;
}

void EndFrameMethod(FrameMethodState& s) {
    if (s.method && s.state) s.method->destroy(s.state);
    if (s.cuts && s.cutState) s.cuts->destroy(s.cutState);
    s.state = s.cutState = nullptr;
}

bool HoldAcrossCut(FrameMethodState& s, const KernelContext& whole, const RowSplitter& split, int intMethod,
                   double intRange, const StepPosition& position, bool bothFields, bool interlacedOutput,
                   int fieldParity) {
    const MethodEntry* m = FindMethod(intMethod);
    if (!s.cutState || !m) return false;
    StepArgs args;
    int held = 0, set = 0;
    if (!StepArgsOf(*m, intRange, position, bothFields, interlacedOutput, fieldParity, args, held, set)) return false;
    // The two images around the position: frames, or the fields of a pair.
    const int pairs[3][2] = {{2, 3}, {2, 6}, {6, 3}};
    const int p = pairs[set][0], q = pairs[set][1];
    if (!s.cuts->across(s.cutState, FrameStep{&whole, args, 3 * position.baseFrame + set, split, s.found}, p, q))
        return false;
    interpolateCoarse(whole, interlacedOutput, fieldParity, args.t <= 0.5 ? p : q);
    return true;
}

void RunFrameStep(FrameMethodState& s, const KernelContext& whole, const RowSplitter& split, int intMethod,
                  double intRange, const StepPosition& position, bool bothFields, bool interlacedOutput,
                  int fieldParity) {
    const MethodEntry* m = FindMethod(intMethod);
    StepArgs args;
    int held = 0, set = 0;
    if (!StepArgsOf(*m, intRange, position, bothFields, interlacedOutput, fieldParity, args, held, set))
        return interpolateCoarse(whole, interlacedOutput, fieldParity, held);
    s.method->step(s.state, FrameStep{&whole, args, 3 * position.baseFrame + set, split, s.found});
}
