// Per-sample loops of the kernels and the row resampler over one run of n
// contiguous bytes. One record per instruction-set level; every level gives
// the bytes of the scalar reference.
#pragma once

#include <cstddef>
#include <cstdint>

// In the order of the instruction sets each level needs: a CPU with one level
// has every level below it.
enum class SimdLevel { scalar = 0, sse2 = 1, sse41 = 2, avx2 = 3, avx512 = 4 };
constexpr int simdLevelCount = 5;
const char* SimdLevelName(SimdLevel level);

// One BlendTable row and the same row re-expressed as a multiplier:
// row[d + 255] == sign(d) * ((|d| * multiplier) >> 16) for every d.
struct BlendWeights {
    const std::int16_t* row;
    std::uint32_t multiplier;
};

// Four tap weights and the normaliser (1.0 for Cubic).
struct TapWeights {
    double w[4];
    double normaliser;
};

struct LansinWeights {
    TapWeights lanczos;
    BlendWeights sine;                     // Sine blend of the two middle slots
    double reciprocal;                     // 1 / lansinSpan
    const std::int16_t* const* blendRows;  // the whole BlendTable
    const std::uint32_t* rowMultiplier;    // multiplier of every BlendTable row
    // Per |P2 - P1|: the mixing row's multiplier, precomputed once per call.
    std::uint32_t multiplierByDifference[256];
};

using BlendSpan = void (*)(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b, std::size_t n,
                           const BlendWeights& w);
using TapSpan = void (*)(std::uint8_t* out, const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2,
                         const std::uint8_t* p3, std::size_t n, const TapWeights& w);
using LansinSpan = void (*)(std::uint8_t* out, const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2,
                            const std::uint8_t* p3, std::size_t n, const LansinWeights& w);
using Median3Span = void (*)(std::uint8_t* out, const std::uint8_t* m0, const std::uint8_t* m1, const std::uint8_t* m2,
                             std::size_t n);
using Median5Span = void (*)(std::uint8_t* out, const std::uint8_t* m0, const std::uint8_t* m1, const std::uint8_t* m2,
                             const std::uint8_t* m3, const std::uint8_t* m4, std::size_t n);

// One frame row of the motion warp: P and Q moved to time t along the
// grid's vectors and mixed into what the row holds (the fallback) by the
// confidence. The grid is already mixed to this row: one entry per grid
// column of the vector in frame pixels, P's share and the confidence.
struct MotionWarpRow {
    const std::uint8_t* p;  // whole images, rows x stride
    const std::uint8_t* q;
    std::uint8_t* out;  // this row of the output
    int width, rows, stride, y;
    float t;
    const float* vx;
    const float* vy;
    const float* share;
    const float* confidence;
    int gridWidth;
};

using MotionWarpSpan = void (*)(const MotionWarpRow& row);

struct RowKernels {
    SimdLevel level;
    BlendSpan blend;  // Linear and Sine
    TapSpan cubic;
    TapSpan lanczos;
    LansinSpan lansin;
    Median3Span median3;
    Median5Span median5;
    MotionWarpSpan motionWarp;
};

const RowKernels& ReferenceRowKernels();
// The record of one level: the level below with the loops this level makes
// faster replaced. Null when the CPU lacks the level.
const RowKernels* RowKernelsFor(SimdLevel level);
// Highest level this CPU executes.
SimdLevel HighestCpuLevel();
// The level to run: TAVRICK_SIMD (scalar|sse2|sse41|avx2|avx512) when set, never
// above what the CPU has; otherwise the highest the CPU has.
const RowKernels& SelectRowKernels();
// SelectRowKernels() as resolved on first use, for the rest of the process:
// no CPU query or environment lookup per kernel call.
const RowKernels& RunRowKernels();
