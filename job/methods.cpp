#include "job/methods.h"

#include "job/motion_method.h"

namespace {

void RunCoarse(const KernelContext& c, const StepArgs& a) {
    interpolateCoarse(c, a.interlacedOutput, a.fieldParity, a.slots[0]);
}
void RunLinear(const KernelContext& c, const StepArgs& a) {
    interpolateLinear(c, a.interlacedOutput, a.fieldParity, a.slots[0], a.slots[1], a.t);
}
void RunSine(const KernelContext& c, const StepArgs& a) {
    interpolateSine(c, a.interlacedOutput, a.fieldParity, a.slots[0], a.slots[1], a.t);
}
void RunCubic(const KernelContext& c, const StepArgs& a) {
    const int* s = a.slots;
    interpolateCubic(c, a.interlacedOutput, a.fieldParity, s[0], s[1], s[2], s[3], a.t);
}
void RunLanczos(const KernelContext& c, const StepArgs& a) {
    const int* s = a.slots;
    interpolateLanczos(c, a.interlacedOutput, a.fieldParity, s[0], s[1], s[2], s[3], a.t);
}
void RunLansin(const KernelContext& c, const StepArgs& a) {
    const int* s = a.slots;
    interpolateLansin(c, a.interlacedOutput, a.fieldParity, s[0], s[1], s[2], s[3], a.t, a.span);
}
void RunMedian3(const KernelContext& c, const StepArgs& a) {
    median3(c, a.interlacedOutput, a.fieldParity, a.slots[0], a.slots[1], a.slots[2]);
}
void RunMedian5(const KernelContext& c, const StepArgs& a) {
    const int* s = a.slots;
    median5(c, a.interlacedOutput, a.fieldParity, s[0], s[1], s[2], s[3], s[4]);
}

constexpr MethodSlots kOne{1, {{2}, {2}, {6}}};
constexpr MethodSlots kTwo{2, {{2, 3}, {2, 6}, {6, 3}}};
constexpr MethodSlots kThree{3, {{1, 2, 3}, {5, 2, 6}, {2, 6, 3}}};
constexpr MethodSlots kFour{4, {{1, 2, 3, 4}, {5, 2, 6, 3}, {2, 6, 3, 7}}};
constexpr MethodSlots kFive{5, {{0, 1, 2, 3, 4}, {1, 5, 2, 6, 3}, {5, 2, 6, 3, 7}}};

}  // namespace

using M = InterpolationMethod;
extern constexpr MethodEntry methodTable[interpolationMethodCount] = {
    {M::Coarse, "Coarse", "coarse", kOne, false, RunCoarse, 0.0},
    {M::Linear, "Linear (fast)", "linear", kTwo, true, RunLinear, 0.0},
    {M::Sine, "Sine (good)", "sine", kTwo, true, RunSine, 0.0},
    {M::Cubic, "Cubic (smoothest)", "cubic", kFour, true, RunCubic, 0.0},
    {M::Lanczos, "Lanczos (sharpest)", "lanczos", kFour, true, RunLanczos, 0.0},
    {M::Lansin1, "Lansin 1 (best)", "lansin1", kFour, true, RunLansin, 7.0},
    {M::Lansin2, "Lansin 2 (best)", "lansin2", kFour, true, RunLansin, 31.0},
    {M::Lansin3, "Lansin 3 (best)", "lansin3", kFour, true, RunLansin, 127.0},
    {M::Median3, "Median 3", "median3", kThree, false, RunMedian3, 0.0},
    {M::Median5, "Median 5", "median5", kFive, false, RunMedian5, 0.0},
    // Lansin 2's slots: its blend is the fallback where motion is unreliable.
    {M::Motion, "Motion (smoothest)", "motion", kFour, true, nullptr, 31.0, &motionMethod, MethodKind::frame},
};

namespace {

// Every method has its entry, at its own index, with every property set.
constexpr bool Complete() {
    for (int i = 0; i < interpolationMethodCount; ++i) {
        const MethodEntry& e = methodTable[i];
        if (static_cast<int>(e.id) != i || !e.label || !e.name) return false;
        // Another unit's frame method has no address at compile time; its kind says it is there.
        if ((e.kind == MethodKind::row) != (e.kernel != nullptr)) return false;
        if (e.slots.count < 1 || e.slots.count > maxMethodSlots) return false;
    }
    return true;
}
static_assert(Complete(), "the method table must hold every InterpolationMethod, in order, with every property");

}  // namespace

const MethodEntry* FindMethod(int intMethod) {
    if (intMethod < 0 || intMethod >= interpolationMethodCount) return nullptr;
    return &methodTable[intMethod];
}
