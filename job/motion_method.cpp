#include "job/motion_method.h"

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "frames/motion_warp.h"

namespace {

// Past this compensated residual two images belong to different scenes.
constexpr double cutResidual = 0.6;

cv::Ptr<cv::DISOpticalFlow> NewEstimator() {
    cv::Ptr<cv::DISOpticalFlow> dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_ULTRAFAST);
    dis->setFinestScale(1);
    return dis;
}

struct MotionState {
    int width = 0, rows = 0, stride = 0;
    int lumaWidth = 0, lumaRows = 0, gridWidth = 0, gridRows = 0;
    std::vector<std::uint8_t> lumaP, lumaQ;
    cv::Mat forward, backward;  // CV_32FC2 at luma resolution
    // One estimator per direction (the two run at once), kept for the run:
    // its buffers keep their size.
    cv::Ptr<cv::DISOpticalFlow> forwardEstimator = NewEstimator(), backwardEstimator = NewEstimator();
    std::vector<MotionPoint> raw, points;
    std::int64_t pair = -1;
    bool cut = false;
    // The step being made, for the band work.
    const FrameStep* step = nullptr;
    MotionPair motion;
};

void* Create(int) {
    // Each flow is one plain call: the two of a pair run at once on the
    // run's bands, so OpenCV's own threads would only compete with them.
    cv::setNumThreads(0);
    return new (std::nothrow) MotionState;
}

void Destroy(void* state) { delete static_cast<MotionState*>(state); }

// Fits the buffers to the frame; they keep their size for the whole run.
void Fit(MotionState& s, const KernelContext& c) {
    if (s.width == c.width && s.rows == c.frameRows) return;
    s.width = c.width;
    s.rows = c.frameRows;
    s.stride = c.stride;
    s.lumaWidth = std::max(1, c.width / 2);
    s.lumaRows = std::max(1, c.frameRows / 2);
    s.gridWidth = GridSize(c.width);
    s.gridRows = GridSize(c.frameRows);
    const std::size_t luma = static_cast<std::size_t>(s.lumaWidth) * s.lumaRows;
    s.lumaP.assign(luma, 0);
    s.lumaQ.assign(luma, 0);
    s.raw.assign(static_cast<std::size_t>(s.gridWidth) * s.gridRows, MotionPoint{});
    s.points = s.raw;
    s.pair = -1;
}

// Always into an empty output: DIS reads a non-empty one as its first guess
// and stays altered by it.
cv::Mat Flow(cv::DISOpticalFlow& dis, const cv::Mat& from, const cv::Mat& to) {
    cv::Mat flow;
    dis.calc(from, to, flow);
    return flow;
}

void ForEachBand(const FrameStep& step, void (*work)(void*, int, int), MotionState& s) {
    if (step.split.forEachBand)
        step.split.forEachBand(step.split.runner, work, &s);
    else
        work(&s, 0, step.frame->frameRows);
}

// The forward flow on the first band, the backward flow on the last (both
// on the first when it is the only one).
void EstimateFlows(void* state, int firstRow, int endRow) {
    MotionState& s = *static_cast<MotionState*>(state);
    const cv::Mat lp(s.lumaRows, s.lumaWidth, CV_8UC1, s.lumaP.data());
    const cv::Mat lq(s.lumaRows, s.lumaWidth, CV_8UC1, s.lumaQ.data());
    if (firstRow == 0) s.forward = Flow(*s.forwardEstimator, lp, lq);
    if (endRow == s.rows) s.backward = Flow(*s.backwardEstimator, lq, lp);
}

// Motion between the step's two images, once per pair.
void Estimate(MotionState& s, const FrameStep& step, const std::uint8_t* p, const std::uint8_t* q) {
    const int frameRows = s.lumaRows * 2;
    if (s.width < 2 || frameRows < 2) {
        s.cut = false;
        return;
    }
    HalfLuma(p, s.stride, s.lumaP.data(), s.lumaWidth, s.lumaRows);
    HalfLuma(q, s.stride, s.lumaQ.data(), s.lumaWidth, s.lumaRows);
    s.forward.release();
    s.backward.release();
    ForEachBand(step, EstimateFlows, s);
    const FlowField f{s.forward.ptr<float>(), s.lumaWidth, s.lumaRows};
    const FlowField b{s.backward.ptr<float>(), s.lumaWidth, s.lumaRows};
    const LumaPlane lumaP{s.lumaP.data(), s.lumaWidth, s.lumaRows}, lumaQ{s.lumaQ.data(), s.lumaWidth, s.lumaRows};
    s.motion = MotionPair{lumaP, lumaQ, f, b};
    const double residual = CompensatedResidual(lumaP, lumaQ, f);
    s.cut = residual > cutResidual;
}

// Grid rows of the frame rows [firstRow, endRow): those whose points lie in them.
int GridRowOf(int frameRow) { return (frameRow + motionGridStep - 1) / motionGridStep; }

void Choose(void* state, int firstRow, int endRow) {
    MotionState& s = *static_cast<MotionState*>(state);
    ChooseVectors(s.motion, s.step->args.t, s.raw.data(), s.gridWidth, s.gridRows, GridRowOf(firstRow),
                  GridRowOf(endRow));
}

void Settle(void* state, int firstRow, int endRow) {
    MotionState& s = *static_cast<MotionState*>(state);
    SettleVectors(s.motion, s.step->args.t, s.raw.data(), s.points.data(), s.gridWidth, s.gridRows, GridRowOf(firstRow),
                  GridRowOf(endRow));
}

// The band's rows: the Lansin 2 blend first, then the warp over it.
void Warp(void* state, int firstRow, int endRow) {
    MotionState& s = *static_cast<MotionState*>(state);
    const FrameStep& step = *s.step;
    const KernelContext& whole = *step.frame;
    const StepArgs& a = step.args;
    const int* slot = a.slots;
    const RowKernels& kernels = whole.kernels ? *whole.kernels : RunRowKernels();
    // A few rows at a time, so the warp finds the blend's rows still in the
    // cache (an even count: a field's rows keep their parity).
    constexpr int chunkRows = 16;
    for (int top = firstRow; top < endRow; top += chunkRows) {
        const int bottom = std::min(endRow, top + chunkRows);
        const std::size_t offset = static_cast<std::size_t>(top) * whole.stride;
        FrameRing ring;
        for (int k = 0; k < ringSlotCount; ++k)
            ring.slots[k] = whole.ring->slots[k] ? whole.ring->slots[k] + offset : nullptr;
        KernelContext band = whole;
        band.ring = &ring;
        band.output = whole.output + offset;
        band.frameRows = bottom - top;
        band.frameBytes = static_cast<std::size_t>(band.frameRows) * whole.stride;
        interpolateLansin(band, a.interlacedOutput, a.fieldParity, slot[0], slot[1], slot[2], slot[3], a.t, a.span);
        const int first = a.interlacedOutput ? top + (1 - a.fieldParity) : top;
        WarpRows(kernels, whole.ring->slots[slot[1]], whole.ring->slots[slot[2]], whole.output, s.width, s.rows,
                 s.stride, s.points.data(), s.gridWidth, s.gridRows, a.t, first, bottom, a.interlacedOutput ? 2 : 1);
    }
}

// Whether the images in slots p and q lie across a cut; the motion between
// them is estimated once per pair, and a cut noted once.
bool Across(void* state, const FrameStep& step, int p, int q) {
    MotionState& s = *static_cast<MotionState*>(state);
    const KernelContext& whole = *step.frame;
    Fit(s, whole);
    if (s.width < 2 || s.rows < 4) return false;
    if (step.pair != s.pair) {
        Estimate(s, step, whole.ring->slots[p], whole.ring->slots[q]);
        s.pair = step.pair;
        if (s.cut && step.cuts) {
            // The later image's source frame: the pair's base frame, or the next one.
            const std::int64_t frame = step.pair / 3 + (step.pair % 3 != 1);
            if (step.cuts->empty() || step.cuts->back() != frame) step.cuts->push_back(frame);
        }
    }
    return s.cut;
}

void Step(void* state, const FrameStep& step) {
    MotionState& s = *static_cast<MotionState*>(state);
    const KernelContext& whole = *step.frame;
    const StepArgs& a = step.args;
    // Across a cut the nearer image, whole (the earlier one half-way, as a
    // hold would): no frame mixes two scenes.
    if (Across(state, step, a.slots[1], a.slots[2]) || s.width < 2 || s.rows < 4)
        return interpolateCoarse(whole, a.interlacedOutput, a.fieldParity, a.t <= 0.5 ? a.slots[1] : a.slots[2]);
    s.step = &step;
    ForEachBand(step, Choose, s);
    ForEachBand(step, Settle, s);
    ForEachBand(step, Warp, s);
    s.step = nullptr;
}

}  // namespace

const FrameMethod motionMethod{Create, Destroy, Step};
const CutDetector motionCuts{Create, Destroy, Across};
