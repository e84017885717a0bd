// The interpolation methods: one table, indexed by InterpolationMethod, holds
// everything the run, the front ends and the tests know about a method.
// Adding a method is one entry here plus its kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "frames/geometry.h"
#include "frames/kernels.h"

// What one step's kernel gets: the ring slots of its image set, the blend
// position t in 0..1 (methods that use the range) and the output's field.
struct StepArgs {
    const int* slots;
    double t;
    bool interlacedOutput;
    int fieldParity;
    double span;  // the entry's own constant (Lansin's motion span)
};
using StepKernel = void (*)(const KernelContext& ctx, const StepArgs& args);

// A frame method sees whole frames of the ring (the step's slots, in full
// height), keeps state across steps (work done once per source pair serves
// every output frame between them) and shares its row work over the run's
// bands through `split`; its bytes are the same for every band count.
struct FrameStep {
    const KernelContext* frame;  // the whole ring and the whole OutputFrame
    StepArgs args;
    std::int64_t pair;                // the same number for every step between the same two images
    RowSplitter split;                // null: every row on the caller
    std::vector<std::int64_t>* cuts;  // where found cuts are noted: the later source frame of each
};
struct FrameMethod {
    void* (*create)(int threads);  // null when out of memory
    void (*destroy)(void* state);
    void (*step)(void* state, const FrameStep& step);
};

// Cut detection any method may use (the stored cutAware): whether the
// images in slots p and q of the step's ring belong to different scenes,
// worked out once per pair and noted in step.cuts.
struct CutDetector {
    void* (*create)(int threads);
    void (*destroy)(void* state);
    bool (*across)(void* state, const FrameStep& step, int p, int q);
};

inline constexpr int maxMethodSlots = 5;

// The ring slots a method reads, by image set: progressive frames (or single
// fields), the first field of a field pair, the second field. Slots 0..4 are
// frames around the base frame (2 is the base), 5..7 the fields between them.
struct MethodSlots {
    int count;
    int slots[3][maxMethodSlots];
};

enum class MethodKind { row, frame };

struct MethodEntry {
    InterpolationMethod id;
    const char* label;  // the main dialog's drop-down
    const char* name;   // tavrick --method
    MethodSlots slots;
    bool usesRange;     // holds the earlier image for the first (1 - range) of an interval
    StepKernel kernel;  // a row method's kernel, or null for a frame method
    double span;
    const FrameMethod* frame = nullptr;  // a frame method, or null for a row method
    MethodKind kind = MethodKind::row;   // which of the two the entry has (checked at compile time)
};

extern const MethodEntry methodTable[interpolationMethodCount];

// The entry of a stored method number, or nullptr outside the table (only an
// edited settings store gets there).
const MethodEntry* FindMethod(int intMethod);
