#include "frames/geometry.h"

#include <cmath>
#include <cstring>

FrameGeometry ComputeFrameGeometry(int width, int sourceRows, int outputHeight, int letterbox) {
    FrameGeometry g;
    g.width = width;
    g.stride = RowStride(width);
    g.sourceRows = sourceRows;
    g.frameRows = letterbox == letterboxFrameKept ? sourceRows : outputHeight;
    g.imageRows = letterbox == letterboxImageKept ? sourceRows : outputHeight;
    g.rowOffset = (g.frameRows - g.imageRows) / 2;  // truncated toward zero
    g.frameBytes = static_cast<std::size_t>(g.stride) * static_cast<std::size_t>(g.frameRows);
    return g;
}

double SecondFieldShift(int deint) {
    if (deint == deintBothTopFirst) return 0.5;
    if (deint == deintBothBottomFirst) return -0.5;
    return 0.0;
}

bool IsFieldPairMode(int deint) { return deint == deintBothTopFirst || deint == deintBothBottomFirst; }

void splitFields(int mode, std::uint8_t* secondField, std::uint8_t* frame, int rows, int stride) {
    const int c = rows / 2;
    const std::size_t s = static_cast<std::size_t>(stride);
    auto row = [s](std::uint8_t* base, int r) { return base + static_cast<std::size_t>(r) * s; };
    // The field that stays starts at row 1 (modes 1, 3) or row 0 (modes 2, 4).
    const int kept = (mode == 1 || mode == 3) ? 1 : 0;
    if (mode == 1 || mode == 2)
        for (int i = 0; i < c; ++i) std::memcpy(row(secondField, i), row(frame, 2 * i + 1 - kept), s);
    // Increasing i never overwrites a row still to be read; row 0 of an
    // even field is already in place.
    for (int i = kept ? 0 : 1; i < c; ++i) std::memmove(row(frame, i), row(frame, 2 * i + kept), s);
}

void resampleRows(const ResampleContext& ctx, const std::uint8_t* source, int width, int sourceRows, int imageRows,
                  int rowOffset, int frameRows, int method, double shift, int firstRow, int endRow) {
    // A field of a one-row frame has no rows: the picture stays black.
    if (sourceRows < 1 || imageRows < 1) return;
    const KernelTables& tables = *ctx.tables;
    const RowKernels& k = KernelsOf(tables, ctx.kernels);
    const std::size_t stride = static_cast<std::size_t>(ctx.stride);
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * 3;
    auto sourceRow = [&](int r) { return source + static_cast<std::size_t>(r) * stride; };

    double ratio;
    if (method == rowCoarse)
        ratio = static_cast<double>(sourceRows) / imageRows;
    else  // a single picture row samples source row 0 plus the shift
        ratio = imageRows > 1 ? static_cast<double>(sourceRows - 1) / (imageRows - 1) : 0.0;

    for (int n = 0; n < imageRows; ++n) {
        const int q = rowOffset + n;
        if (q < 0 || q >= frameRows || q < firstRow || q >= endRow) continue;
        double position = n * ratio + shift;
        if (position >= sourceRows)
            position = sourceRows - 1;
        else if (position < 0)
            position = 0;
        const int v = static_cast<int>(position);
        const double f = position - v;
        std::uint8_t* out = ctx.scratch + static_cast<std::size_t>(q) * stride;
        const std::uint8_t* rowV = sourceRow(v);
        const bool hasNext = v + 1 < sourceRows;
        switch (method) {
            case rowLinear:
            case rowSine: {
                if (!hasNext) {
                    std::memcpy(out, rowV, pixelBytes);
                    break;
                }
                const int row = method == rowLinear ? BlendRowIndex(f) : SineRowIndex(tables.sine, f);
                k.blend(out, rowV, sourceRow(v + 1), pixelBytes, BlendWeightsForRow(tables, row));
                break;
            }
            case rowCubic:
            case rowLanczos: {
                // Missing neighbours are row V itself, not the nearest existing row.
                const std::uint8_t* before = v - 1 < 0 ? rowV : sourceRow(v - 1);
                const std::uint8_t* next = hasNext ? sourceRow(v + 1) : rowV;
                const std::uint8_t* afterNext = v + 2 < sourceRows ? sourceRow(v + 2) : rowV;
                const int tap = TapIndex(f);
                if (method == rowCubic)
                    k.cubic(out, before, rowV, next, afterNext, pixelBytes, CubicWeightsAt(tables, tap));
                else
                    k.lanczos(out, before, rowV, next, afterNext, pixelBytes, LanczosWeightsAt(tables, tap));
                break;
            }
            default: std::memcpy(out, rowV, pixelBytes); break;
        }
    }
}

namespace {

void forRowBands(const SlotPreparation& prep, void (*work)(void*, int, int), void* context) {
    if (prep.split.forEachBand)
        prep.split.forEachBand(prep.split.runner, work, context);
    else
        work(context, 0, prep.geometry.frameRows);
}

// Resamples `rows` rows of `buffer` into ScratchFrame and copies the whole
// destination frame back, both over the run's threads. Every row is
// resampled before any is copied back: the source rows are in `buffer` too.
void resampleInPlace(const SlotPreparation& prep, std::uint8_t* buffer, int rows, double shift) {
    struct Work {
        const SlotPreparation& prep;
        std::uint8_t* buffer;
        int rows;
        double shift;
    } work{prep, buffer, rows, shift};
    forRowBands(
        prep,
        [](void* context, int firstRow, int endRow) {
            const Work& w = *static_cast<const Work*>(context);
            const FrameGeometry& g = w.prep.geometry;
            resampleRows(w.prep.resample, w.buffer, g.width, w.rows, g.imageRows, g.rowOffset, g.frameRows,
                         w.prep.rowResampleMethod, w.shift, firstRow, endRow);
        },
        &work);
    forRowBands(
        prep,
        [](void* context, int firstRow, int endRow) {
            const Work& w = *static_cast<const Work*>(context);
            const std::size_t stride = static_cast<std::size_t>(w.prep.geometry.stride);
            std::memcpy(w.buffer + firstRow * stride, w.prep.resample.scratch + firstRow * stride,
                        static_cast<std::size_t>(endRow - firstRow) * stride);
        },
        &work);
}

}  // namespace

void PrepareSlot(const SlotPreparation& prep, FrameRing& ring, int slot) {
    const FrameGeometry& g = prep.geometry;
    std::uint8_t* frame = ring.slots[slot];
    if (prep.deint == deintDisabled) {
        if (g.imageRows == g.frameRows && g.frameRows == g.sourceRows) return;
        resampleInPlace(prep, frame, g.sourceRows, 0.0);
        return;
    }
    const int fieldRows = g.sourceRows / 2;
    if (slot == 0) {
        // Median 5's extra slot has no companion: first field only.
        const int mode = (prep.deint == deintBothTopFirst || prep.deint == deintOddOnly) ? 3 : 4;
        splitFields(mode, nullptr, frame, g.sourceRows, g.stride);
        resampleInPlace(prep, frame, fieldRows, 0.0);
        return;
    }
    std::uint8_t* companion = IsFieldPairMode(prep.deint) ? ring.slots[slot + 4] : nullptr;
    splitFields(prep.deint, companion, frame, g.sourceRows, g.stride);
    resampleInPlace(prep, frame, fieldRows, 0.0);
    if (companion) resampleInPlace(prep, companion, fieldRows, SecondFieldShift(prep.deint));
}
