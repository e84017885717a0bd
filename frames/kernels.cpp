#include "frames/kernels.h"

#include <cmath>
#include <cstring>

bool DeriveBlendMultipliers(const BlendTable& blend, std::uint32_t multiplier[blendRowCount]) {
    bool exact = true;
    for (int a = 0; a < blendRowCount; ++a) {
        const std::int16_t* row = blend.rows[a];
        // Intersect, over every magnitude n, the multipliers m with
        // floor(n * m / 65536) == row[n + 255].
        std::int64_t lo = 0, hi = 65535;
        for (int n = 1; n <= 255; ++n) {
            const std::int64_t q = row[n + 255];
            lo = std::max(lo, (q * 65536 + n - 1) / n);
            hi = std::min(hi, ((q + 1) * 65536 + n - 1) / n - 1);
        }
        multiplier[a] = static_cast<std::uint32_t>(lo);
        for (int d = -255; d <= 255 && lo <= hi; ++d) {
            const std::int64_t magnitude = d < 0 ? -d : d;
            const std::int64_t q = (magnitude * lo) >> 16;
            if (row[d + 255] != (d < 0 ? -q : q)) hi = -1;
        }
        if (lo > hi) exact = false;
    }
    return exact;
}

bool BuildKernelTables(KernelTables& tables) {
    if (!buildBlendTable(tables.blend) || !buildLanczosTable(tables.lanczos) || !buildCubicTable(tables.cubic) ||
        !buildSineTable(tables.sine))
        return false;
    tables.multipliersExact = DeriveBlendMultipliers(tables.blend, tables.blendMultiplier);
    return true;
}

void ReleaseKernelTables(KernelTables& tables) {
    ReleaseBlendTable(tables.blend);
    ReleaseSineTable(tables.sine);
    ReleaseCubicTable(tables.cubic);
    ReleaseLanczosTable(tables.lanczos);
    tables.multipliersExact = false;
}

// Positions outside [0, 1], NaN included, stay inside the table.
int BlendRowIndex(double position) {
    const double row = std::floor(255 * position);
    if (!(row > 0)) return 0;
    return row > 255 ? 255 : static_cast<int>(row);
}

int SineRowIndex(const SineTable& sine, double position) { return sine.entries[BlendRowIndex(position)]; }

int TapIndex(double position) {
    const double k = std::floor(4096 * position);
    if (!(k > 0)) return 0;
    return k > tapSteps ? tapSteps : static_cast<int>(k);
}

BlendWeights BlendWeightsForRow(const KernelTables& tables, int row) {
    return {tables.blend.rows[row], tables.blendMultiplier[row]};
}

TapWeights CubicWeightsAt(const KernelTables& tables, int k) {
    double* const* c = tables.cubic.taps;
    return {{c[0][k], c[1][k], c[2][k], c[3][k]}, 1.0};
}

TapWeights LanczosWeightsAt(const KernelTables& tables, int k) {
    double* const* l = tables.lanczos.arrays;
    return {{l[0][k], l[1][k], l[2][k], l[3][k]}, l[4][k]};
}

const RowKernels& KernelsOf(const KernelTables& tables, const RowKernels* chosen) {
    // The fast blends need the multipliers; without the proof only the
    // reference is trusted.
    if (!tables.multipliersExact) return ReferenceRowKernels();
    return chosen ? *chosen : RunRowKernels();
}

namespace {

// Runs `run(offset, length)` over the whole frame, or over every second row
// starting at row 1 - fieldParity.
template <typename Run>
void forCoveredBytes(const KernelContext& ctx, bool interlacedOutput, int fieldParity, Run run) {
    if (!interlacedOutput) {
        run(std::size_t{0}, ctx.frameBytes);
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(ctx.stride);
    for (int r = 1 - fieldParity; r < ctx.frameRows; r += 2) run(static_cast<std::size_t>(r) * stride, stride);
}

const std::uint8_t* slotOf(const KernelContext& ctx, int slot) { return ctx.ring->slots[slot]; }

void blendKernel(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slotA, int slotB, int row) {
    const RowKernels& k = KernelsOf(*ctx.tables, ctx.kernels);
    const BlendWeights w = BlendWeightsForRow(*ctx.tables, row);
    const std::uint8_t *a = slotOf(ctx, slotA), *b = slotOf(ctx, slotB);
    forCoveredBytes(ctx, interlacedOutput, fieldParity,
                    [&](std::size_t at, std::size_t n) { k.blend(ctx.output + at, a + at, b + at, n, w); });
}

void tapKernel(const KernelContext& ctx, bool interlacedOutput, int fieldParity, const int slots[4],
               const TapWeights& w, TapSpan span) {
    const std::uint8_t *p0 = slotOf(ctx, slots[0]), *p1 = slotOf(ctx, slots[1]), *p2 = slotOf(ctx, slots[2]),
                       *p3 = slotOf(ctx, slots[3]);
    forCoveredBytes(ctx, interlacedOutput, fieldParity, [&](std::size_t at, std::size_t n) {
        span(ctx.output + at, p0 + at, p1 + at, p2 + at, p3 + at, n, w);
    });
}

}  // namespace

void interpolateCoarse(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slot) {
    const std::uint8_t* source = slotOf(ctx, slot);
    forCoveredBytes(ctx, interlacedOutput, fieldParity,
                    [&](std::size_t at, std::size_t n) { std::memcpy(ctx.output + at, source + at, n); });
}

void interpolateLinear(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slotA, int slotB,
                       double blendPosition) {
    blendKernel(ctx, interlacedOutput, fieldParity, slotA, slotB, BlendRowIndex(blendPosition));
}

void interpolateSine(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int slotA, int slotB,
                     double blendPosition) {
    blendKernel(ctx, interlacedOutput, fieldParity, slotA, slotB, SineRowIndex(ctx.tables->sine, blendPosition));
}

void interpolateCubic(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2, int p3,
                      double blendPosition) {
    const int slots[4] = {p0, p1, p2, p3};
    tapKernel(ctx, interlacedOutput, fieldParity, slots, CubicWeightsAt(*ctx.tables, TapIndex(blendPosition)),
              KernelsOf(*ctx.tables, ctx.kernels).cubic);
}

void interpolateLanczos(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2,
                        int p3, double blendPosition) {
    const int slots[4] = {p0, p1, p2, p3};
    tapKernel(ctx, interlacedOutput, fieldParity, slots, LanczosWeightsAt(*ctx.tables, TapIndex(blendPosition)),
              KernelsOf(*ctx.tables, ctx.kernels).lanczos);
}

void interpolateLansin(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int p0, int p1, int p2, int p3,
                       double blendPosition, double lansinSpan) {
    const KernelTables& tables = *ctx.tables;
    const RowKernels& k = KernelsOf(tables, ctx.kernels);
    LansinWeights w;
    w.lanczos = LanczosWeightsAt(tables, TapIndex(blendPosition));
    w.sine = BlendWeightsForRow(tables, SineRowIndex(tables.sine, blendPosition));
    w.reciprocal = 1.0 / lansinSpan;
    w.blendRows = tables.blend.rows;
    w.rowMultiplier = tables.blendMultiplier;
    // The mixing row depends only on |P2 - P1|: the same double steps as the
    // per-sample definition, done once for all 256 magnitudes.
    for (int d = 0; d < 256; ++d) {
        double m = std::fabs(d * w.reciprocal);
        if (m > 1.0) m = 1.0;
        w.multiplierByDifference[d] = tables.blendMultiplier[static_cast<int>(std::floor(255 * m))];
    }
    const std::uint8_t *s0 = slotOf(ctx, p0), *s1 = slotOf(ctx, p1), *s2 = slotOf(ctx, p2), *s3 = slotOf(ctx, p3);
    forCoveredBytes(ctx, interlacedOutput, fieldParity, [&](std::size_t at, std::size_t n) {
        k.lansin(ctx.output + at, s0 + at, s1 + at, s2 + at, s3 + at, n, w);
    });
}

void median3(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int m0, int m1, int m2) {
    const RowKernels& k = KernelsOf(*ctx.tables, ctx.kernels);
    const std::uint8_t *a = slotOf(ctx, m0), *b = slotOf(ctx, m1), *c = slotOf(ctx, m2);
    forCoveredBytes(ctx, interlacedOutput, fieldParity,
                    [&](std::size_t at, std::size_t n) { k.median3(ctx.output + at, a + at, b + at, c + at, n); });
}

void median5(const KernelContext& ctx, bool interlacedOutput, int fieldParity, int m0, int m1, int m2, int m3, int m4) {
    const RowKernels& k = KernelsOf(*ctx.tables, ctx.kernels);
    const std::uint8_t *a = slotOf(ctx, m0), *b = slotOf(ctx, m1), *c = slotOf(ctx, m2), *d = slotOf(ctx, m3),
                       *e = slotOf(ctx, m4);
    forCoveredBytes(ctx, interlacedOutput, fieldParity, [&](std::size_t at, std::size_t n) {
        k.median5(ctx.output + at, a + at, b + at, c + at, d + at, e + at, n);
    });
}
