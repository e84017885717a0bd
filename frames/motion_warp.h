// Motion compensation arithmetic: half-resolution luma, the choice of one
// motion vector per grid point, and the warp of two frames to the output's
// time. Pure functions of their inputs, so any split over threads gives the
// same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/row_kernels.h"

// Half-resolution luma of a 24-bit BGR frame: every sample the mean of a 2x2
// block, lumaWidth = width / 2 and lumaRows = rows / 2.
void HalfLuma(const std::uint8_t* frame, int stride, std::uint8_t* luma, int lumaWidth, int lumaRows);

// A half-resolution luma picture.
struct LumaPlane {
    const std::uint8_t* samples = nullptr;
    int width = 0, rows = 0;
};

// A dense motion field at luma resolution: (dx, dy) per sample, interleaved.
struct FlowField {
    const float* vectors = nullptr;
    int width = 0, rows = 0;
};

// How alike two frames are once motion and gain are taken out: the mean
// absolute difference of P and Q moved by `forward`, each normalised by its
// own mean and deviation. About 0.1 to 0.4 within a scene, near 1 across a
// cut. 0 when either picture is almost flat (a fade through black).
double CompensatedResidual(const LumaPlane& p, const LumaPlane& q, const FlowField& forward);

// One point of the motion grid (a point every 8 frame pixels, every 4 luma
// samples): the vector in luma samples from P to Q, the share of P in the
// motion-compensated sample and the confidence of the motion (the rest is
// the fallback blend).
struct MotionPoint {
    float vx = 0, vy = 0;
    float cost = 0;
    float shareP = 0.5f;
    float confidence = 0;
};

constexpr int motionGridStep = 8;  // frame pixels per grid point
constexpr int GridSize(int pixels) { return (pixels + motionGridStep - 1) / motionGridStep; }

struct MotionPair {
    LumaPlane p, q;
    FlowField forward, backward;
};

// Grid rows [firstRow, endRow) of `raw`: for every point the candidate
// vector (each flow taken to the output time, the forward flow, the negated
// backward flow, zero) with the smallest mean-removed 3x3 difference between
// P behind and Q ahead of it at time t.
void ChooseVectors(const MotionPair& pair, double t, MotionPoint* raw, int gridWidth, int gridRows, int firstRow,
                   int endRow);

// Grid rows [firstRow, endRow) of `points` from all of `raw`: the 3x3
// median vector, its confidence from the difference it leaves, and where the
// difference is large and exactly one side fails the forward-backward check,
// that side left out (it is covered or uncovered in the other frame).
void SettleVectors(const MotionPair& pair, double t, const MotionPoint* raw, MotionPoint* points, int gridWidth,
                   int gridRows, int firstRow, int endRow);

// Frame rows [firstRow, endRow) of `output` (every row, or those of one
// field: step 2 from `firstRow`'s parity as the caller chooses with
// `rowStep`): P and Q warped to time t along the grid's vectors and mixed
// with what `output` holds (the fallback) by the confidence, a row at a time
// by the level's `motionWarp`.
void WarpRows(const RowKernels& kernels, const std::uint8_t* p, const std::uint8_t* q, std::uint8_t* output, int width,
              int rows, int stride, const MotionPoint* points, int gridWidth, int gridRows, double t, int firstRow,
              int endRow, int rowStep);

// The definition of one warped row: the grid mixed to every pixel, positions
// in 1/256 pixel, bilinear samples and the two mixes in 32-bit integers.
void MotionWarpRowReference(const MotionWarpRow& row);
