// Destination geometry and the reshaping of decoded source frames into it:
// field separation, vertical resampling and letterboxing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/kernels.h"

// Letterbox modes (the `letterbox` setting).
constexpr int letterboxNone = 0;
constexpr int letterboxFrameKept = 1;  // frame keeps the source height, image resized inside
constexpr int letterboxImageKept = 2;  // frame resized, image keeps the source height inside

// Deinterlace modes (the `deint` setting).
constexpr int deintDisabled = 0;
constexpr int deintBothTopFirst = 1;
constexpr int deintBothBottomFirst = 2;
constexpr int deintOddOnly = 3;
constexpr int deintEvenOnly = 4;

enum RowResampleMethod { rowCoarse = 0, rowLinear = 1, rowSine = 2, rowCubic = 3, rowLanczos = 4 };

struct FrameGeometry {
    int width = 0;
    int stride = 0;
    int sourceRows = 0;  // H_src
    int frameRows = 0;
    int imageRows = 0;
    int rowOffset = 0;
    std::size_t frameBytes = 0;
};

// Bytes of one row of a 24-bit frame: 3 x width rounded up to a multiple of 4.
constexpr int RowStride(int width) { return (3 * width + 3) & ~3; }
// Geometry of one job from the source size, the output height and the letterbox mode.
FrameGeometry ComputeFrameGeometry(int width, int sourceRows, int outputHeight, int letterbox);
// +0.5 for "both fields, top first", -0.5 for "bottom first", else 0.
double SecondFieldShift(int deint);
bool IsFieldPairMode(int deint);

// Rearranges `frame` in place into a compact first field of rows / 2 rows
// and, for modes 1 and 2, fills `secondField` with the other field.
void splitFields(int mode, std::uint8_t* secondField, std::uint8_t* frame, int rows, int stride);

// What the resampler writes into and reads its weights from.
struct ResampleContext {
    std::uint8_t* scratch = nullptr;  // ScratchFrame: frameBytes, zeroed once per job
    int stride = 0;
    const KernelTables* tables = nullptr;
    const RowKernels* kernels = nullptr;  // null: RunRowKernels()
};

// Writes picture rows rowOffset .. rowOffset + imageRows - 1 of ScratchFrame
// from `sourceRows` rows of `source`; rows outside the frame, and outside
// frame rows firstRow .. endRow - 1, are skipped and only pixel bytes are
// written.
void resampleRows(const ResampleContext& ctx, const std::uint8_t* source, int width, int sourceRows, int imageRows,
                  int rowOffset, int frameRows, int method, double shift, int firstRow = 0, int endRow = 2147483647);

// Row work shared out over a run's threads: forEachBand calls
// work(context, firstRow, endRow) for every band of frame rows, all at once,
// and returns when every band has ended. Null: the whole frame on the caller.
struct RowSplitter {
    void* runner = nullptr;
    void (*forEachBand)(void* runner, void (*work)(void* context, int firstRow, int endRow), void* context) = nullptr;
};

// Brings the decoded source frame already copied into ring slot `slot`
// (0 to 4) into the destination geometry, filling its second-field
// companion (slot + 4) in the field-pair modes.
struct SlotPreparation {
    FrameGeometry geometry;
    int deint = deintDisabled;
    int rowResampleMethod = rowLinear;
    ResampleContext resample;
    RowSplitter split;
};
void PrepareSlot(const SlotPreparation& prep, FrameRing& ring, int slot);
