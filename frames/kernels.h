// The temporal interpolation kernels: one destination frame (or one field of
// it) from up to five ring slots into OutputFrame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/row_kernels.h"
#include "frames/tables.h"

// The four weight tables plus the BlendTable re-expressed for the fast loops.
struct KernelTables {
    BlendTable blend;
    SineTable sine;
    CubicTable cubic;
    LanczosTable lanczos;
    std::uint32_t blendMultiplier[blendRowCount] = {};
    bool multipliersExact = false;  // every row proven equal to its multiplier
};

// Builds the four tables in start-up order (blend, Lanczos, cubic, sine) and
// derives the multipliers. False when a table can't be built; what was built
// stays in `tables` for ReleaseKernelTables.
bool BuildKernelTables(KernelTables& tables);
void ReleaseKernelTables(KernelTables& tables);

// Finds for every row a multiplier m with row[d + 255] == sign(d) * ((|d| * m) >> 16)
// and checks it against all 511 entries. False when some row has none.
bool DeriveBlendMultipliers(const BlendTable& blend, std::uint32_t multiplier[blendRowCount]);

constexpr int ringSlotCount = 9;
struct FrameRing {
    std::uint8_t* slots[ringSlotCount] = {};
};

// What a kernel reads and writes: the job's ring, OutputFrame, the frame
// geometry and the tables.
struct KernelContext {
    const FrameRing* ring = nullptr;
    std::uint8_t* output = nullptr;  // OutputFrame
    int stride = 0;
    int frameRows = 0;
    std::size_t frameBytes = 0;
    const KernelTables* tables = nullptr;
    const RowKernels* kernels = nullptr;  // null: RunRowKernels()
    int width = 0;                        // pixels of a row (frame methods)
};

void interpolateCoarse(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slot);
void interpolateLinear(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slotA, int slotB,
                       double blendPosition);
void interpolateSine(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slotA, int slotB,
                     double blendPosition);
void interpolateCubic(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2, int p3,
                      double blendPosition);
void interpolateLanczos(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2,
                        int p3, double blendPosition);
void interpolateLansin(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2, int p3,
                       double blendPosition, double lansinSpan);
void median3(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int m0, int m1, int m2);
void median5(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int m0, int m1, int m2, int m3, int m4);

// Table lookups shared with the row resampler.
int BlendRowIndex(double position);  // floor(255 t), kept inside the table
int SineRowIndex(const SineTable& sine, double position);
int TapIndex(double position);  // floor(4096 t), kept inside the table
BlendWeights BlendWeightsForRow(const KernelTables& tables, int row);
TapWeights CubicWeightsAt(const KernelTables& tables, int k);
TapWeights LanczosWeightsAt(const KernelTables& tables, int k);
const RowKernels& KernelsOf(const KernelTables& tables, const RowKernels* chosen);
