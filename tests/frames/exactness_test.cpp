// Every fast level gives the reference's bytes: all kernels, whole frames and
// single fields, positions on and around every table boundary, odd frame
// sizes, misaligned buffers, and nothing written outside frameBytes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "frame_fixtures.h"
#include "frames/geometry.h"
#include "frames/kernels.h"
#include "frames/motion_warp.h"

namespace {

// Lansin also runs with spans the product doesn't offer, so every way the
// fast loops look up the mixing row is compared.
enum Kernel {
    coarse,
    linear,
    sine,
    cubic,
    lanczos,
    lansin7,
    lansin31,
    lansin127,
    lansin90,
    lansin200,
    med3,
    med5,
    kernelCount
};
const char* const kernelNames[] = {"coarse",   "linear",    "sine",     "cubic",     "lanczos", "lansin7",
                                   "lansin31", "lansin127", "lansin90", "lansin200", "median3", "median5"};

void runKernel(Kernel k, const KernelContext& ctx, bool fieldOnly, int parity, double t) {
    switch (k) {
        case coarse: interpolateCoarse(ctx, fieldOnly, parity, 2); break;
        case linear: interpolateLinear(ctx, fieldOnly, parity, 2, 3, t); break;
        case sine: interpolateSine(ctx, fieldOnly, parity, 2, 6, t); break;
        case cubic: interpolateCubic(ctx, fieldOnly, parity, 1, 2, 3, 4, t); break;
        case lanczos: interpolateLanczos(ctx, fieldOnly, parity, 5, 2, 6, 3, t); break;
        case lansin7: interpolateLansin(ctx, fieldOnly, parity, 1, 2, 3, 4, t, 7.0); break;
        case lansin31: interpolateLansin(ctx, fieldOnly, parity, 2, 6, 3, 7, t, 31.0); break;
        case lansin127: interpolateLansin(ctx, fieldOnly, parity, 1, 2, 3, 4, t, 127.0); break;
        case lansin90: interpolateLansin(ctx, fieldOnly, parity, 1, 2, 3, 4, t, 90.0); break;
        case lansin200: interpolateLansin(ctx, fieldOnly, parity, 1, 2, 3, 4, t, 200.0); break;
        case med3: median3(ctx, fieldOnly, parity, 1, 2, 3); break;
        case med5: median5(ctx, fieldOnly, parity, 0, 1, 2, 3, 4); break;
        default: break;
    }
}

bool usesBlendRows(Kernel k) { return k == linear || k == sine || (k >= lansin7 && k <= lansin200); }
bool usesTapIndex(Kernel k) { return k >= cubic && k <= lansin200; }

// 0, both sides of every 1/255 and 1/4096 boundary, values just below 1.
std::vector<double> boundaryPositions(bool blendRows, bool tapIndex) {
    std::vector<double> t = {0.0, std::nextafter(1.0, 0.0), 1.0 - 1e-9, 0.999, 0.5};
    auto around = [&](double x) {
        t.push_back(std::nextafter(x, 0.0));
        t.push_back(x);
        t.push_back(std::nextafter(x, 1.0));
    };
    if (blendRows)
        for (int i = 1; i < 255; ++i) around(i / 255.0);
    if (tapIndex)
        for (int k = 1; k < 4096; ++k) around(k / 4096.0);
    return t;
}

// Sample classes: uniform; a few extremes with many ties and small motion;
// still pictures, equal in every buffer with a few samples nudged by one
// (sums on or next to an integer): plateaus of extremes 1024 bytes long, so
// neighbouring rows agree too, and steps of every value 48 bytes long.
enum SampleClass { uniform, extremes, plateaus, steps, sampleClassCount };

void fillSamples(GuardedBuffer& b, std::mt19937& rng, SampleClass kind) {
    static const std::uint8_t picks[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
    for (std::size_t i = 0; i < b.size; ++i) {
        const int nudge = rng() % 64 == 0 ? 1 : 0;
        switch (kind) {
            case uniform: b.data[i] = static_cast<std::uint8_t>(rng()); break;
            case extremes: b.data[i] = picks[rng() % 9]; break;
            case plateaus: b.data[i] = static_cast<std::uint8_t>(picks[(i / 1024) % 9] + nudge); break;
            default: b.data[i] = static_cast<std::uint8_t>((i / 48) * 29 + nudge); break;
        }
    }
}

// A ring and two outputs (reference and fast) of one frame size, every
// buffer starting at its own misalignment.
struct RingSetup {
    int stride, rows;
    std::size_t frameBytes;
    std::vector<std::unique_ptr<GuardedBuffer>> slots;
    std::unique_ptr<GuardedBuffer> expected, actual;
    FrameRing ring;

    RingSetup(int width, int rowCount, std::mt19937& rng, SampleClass kind)
        : stride(RowStride(width)), rows(rowCount), frameBytes(static_cast<std::size_t>(stride) * rowCount) {
        for (int s = 0; s < ringSlotCount; ++s) {
            slots.push_back(std::make_unique<GuardedBuffer>(frameBytes, rng() % 64));
            fillSamples(*slots.back(), rng, kind);
            ring.slots[s] = slots.back()->data;
        }
        expected = std::make_unique<GuardedBuffer>(frameBytes, rng() % 64);
        actual = std::make_unique<GuardedBuffer>(frameBytes, rng() % 64);
    }
    KernelContext Context(GuardedBuffer& out, const RowKernels* level) {
        KernelContext ctx;
        ctx.ring = &ring;
        ctx.output = out.data;
        ctx.stride = stride;
        ctx.frameRows = rows;
        ctx.frameBytes = frameBytes;
        ctx.tables = &Tables();
        ctx.kernels = level;
        return ctx;
    }
    // Runs one call at both levels on identical prior output; true when the
    // bytes and the guards agree.
    ::testing::AssertionResult Compare(Kernel k, const RowKernels* level, bool fieldOnly, int parity, double t) {
        std::memset(expected->data, 0x3C, frameBytes);
        std::memset(actual->data, 0x3C, frameBytes);
        runKernel(k, Context(*expected, &ReferenceRowKernels()), fieldOnly, parity, t);
        runKernel(k, Context(*actual, level), fieldOnly, parity, t);
        if (!actual->GuardsIntact()) return ::testing::AssertionFailure() << "wrote outside frameBytes";
        for (std::size_t i = 0; i < frameBytes; ++i)
            if (expected->data[i] != actual->data[i])
                return ::testing::AssertionFailure()
                       << "byte " << i << ": reference " << int(expected->data[i]) << ", "
                       << SimdLevelName(level->level) << " " << int(actual->data[i]) << " (t " << t << ", fieldOnly "
                       << fieldOnly << ", parity " << parity << ", frame " << stride << "x" << rows << ")";
        return ::testing::AssertionSuccess();
    }
};

std::vector<SimdLevel> FastLevels() {
    std::vector<SimdLevel> levels;
    for (int i = 1; i < simdLevelCount; ++i) levels.push_back(static_cast<SimdLevel>(i));
    return levels;
}

// A level the CPU lacks shows up as skipped, with the reason, never silently.
class Exactness : public ::testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override {
        if (!level) GTEST_SKIP() << SimdLevelName(GetParam()) << ": not run on this CPU";
    }
    const RowKernels* level = RowKernelsFor(GetParam());
    std::mt19937 rng{TestSeed() + static_cast<std::uint32_t>(GetParam())};
};

TEST_P(Exactness, EveryBoundaryPosition) {
    SCOPED_TRACE(SeedNote());
    RingSetup setup(7, 5, rng, uniform);  // 120 bytes: no multiple of any vector width
    for (int k = 0; k < kernelCount; ++k) {
        const auto kernel = static_cast<Kernel>(k);
        for (double t : boundaryPositions(usesBlendRows(kernel), usesTapIndex(kernel)))
            ASSERT_TRUE(setup.Compare(kernel, level, false, 0, t)) << kernelNames[k];
    }
}

TEST_P(Exactness, FramesFieldsSizesAndAlignments) {
    SCOPED_TRACE(SeedNote());
    struct Size {
        int width, rows;
    };
    // Widths give strides of 4 .. 1924 bytes; 1- and 5-row frames included.
    const Size sizes[] = {{1, 1}, {1, 5}, {13, 1}, {7, 5}, {103, 3}, {641, 7}, {1920, 2}, {333, 6}};
    for (const Size& size : sizes) {
        for (int kind = 0; kind < sampleClassCount; ++kind) {
            RingSetup setup(size.width, size.rows, rng, static_cast<SampleClass>(kind));
            std::uniform_real_distribution<double> position(0.0, 1.0);
            for (int k = 0; k < kernelCount; ++k) {
                for (int coverage = 0; coverage < 3; ++coverage) {
                    const bool fieldOnly = coverage > 0;
                    const int parity = coverage == 2 ? 1 : 0;
                    for (int trial = 0; trial < 6; ++trial) {
                        const double t = trial == 0 ? 0.0 : position(rng);
                        ASSERT_TRUE(setup.Compare(static_cast<Kernel>(k), level, fieldOnly, parity, t))
                            << kernelNames[k];
                    }
                }
            }
        }
    }
}

// resampleRows at a fast level against the reference: every method, shifts,
// letterbox offsets that crop and pad, odd widths and misaligned buffers.
TEST_P(Exactness, ResampleRows) {
    SCOPED_TRACE(SeedNote());
    for (int trial = 0; trial < 300; ++trial) {
        const int width = 1 + static_cast<int>(rng() % 90);
        const int stride = RowStride(width);
        const int sourceRows = 1 + static_cast<int>(rng() % 40);
        const int imageRows = 1 + static_cast<int>(rng() % 60);
        const int frameRows = 1 + static_cast<int>(rng() % 60);
        const int rowOffset = (frameRows - imageRows) / 2 + static_cast<int>(rng() % 5) - 2;
        const double shifts[] = {0.0, 0.5, -0.5};
        const double shift = shifts[rng() % 3];
        const int method = static_cast<int>(rng() % 5);
        const std::size_t frameBytes = static_cast<std::size_t>(stride) * frameRows;
        GuardedBuffer source(static_cast<std::size_t>(stride) * sourceRows, rng() % 64);
        fillSamples(source, rng, static_cast<SampleClass>(trial % sampleClassCount));
        GuardedBuffer expected(frameBytes, rng() % 64), actual(frameBytes, rng() % 64);
        std::memset(expected.data, 0x5A, frameBytes);
        std::memset(actual.data, 0x5A, frameBytes);
        ResampleContext reference{expected.data, stride, &Tables(), &ReferenceRowKernels()};
        ResampleContext fast{actual.data, stride, &Tables(), level};
        resampleRows(reference, source.data, width, sourceRows, imageRows, rowOffset, frameRows, method, shift);
        resampleRows(fast, source.data, width, sourceRows, imageRows, rowOffset, frameRows, method, shift);
        ASSERT_TRUE(actual.GuardsIntact()) << "trial " << trial;
        ASSERT_TRUE(expected.GuardsIntact()) << "trial " << trial;
        ASSERT_TRUE(source.GuardsIntact());
        ASSERT_EQ(0, std::memcmp(expected.data, actual.data, frameBytes))
            << "trial " << trial << " method " << method << " " << sourceRows << "->" << imageRows << " in "
            << frameRows << " offset " << rowOffset << " shift " << shift;
    }
}

// One warped row at a fast level against the reference: frames with and
// without row padding (a gather of the last pixel must not read past the
// image, which ends exactly where its allocation does), vectors from none to
// far outside the frame, non-finite ones, confidences and shares at and
// between their ends, every row position of an odd width.
TEST_P(Exactness, MotionWarp) {
    SCOPED_TRACE(SeedNote());
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 400; ++trial) {
        const int width = trial % 5 == 0 ? 4 * (1 + static_cast<int>(rng() % 80)) : 1 + static_cast<int>(rng() % 330);
        const int rows = 1 + static_cast<int>(rng() % 12), stride = RowStride(width);
        const std::size_t frameBytes = static_cast<std::size_t>(stride) * rows, misalign = rng() % 64;
        std::vector<std::uint8_t> p(misalign + frameBytes), q(misalign + frameBytes);
        for (auto* f : {&p, &q})
            for (auto& b : *f) b = static_cast<std::uint8_t>(rng());
        const int gridWidth = GridSize(width);
        const float reach = trial % 3 == 0 ? 2.0f : trial % 3 == 1 ? 40.0f : 3.0f * width;
        std::vector<float> columns(4 * static_cast<std::size_t>(gridWidth));
        for (int g = 0; g < gridWidth; ++g) {
            columns[g] = (2 * unit(rng) - 1) * reach;
            columns[gridWidth + g] = (2 * unit(rng) - 1) * reach;
            const int pick = static_cast<int>(rng() % 8);  // ends, in between, and out of range
            columns[2 * gridWidth + g] = pick == 0 ? 0.0f : pick == 1 ? 1.0f : pick == 2 ? 1.5f : unit(rng);
            columns[3 * gridWidth + g] = pick == 3 ? 0.0f : pick == 4 ? 1.0f : pick == 5 ? -0.5f : unit(rng);
        }
        if (trial % 7 == 0) {
            columns[rng() % gridWidth] = std::nanf("");
            columns[gridWidth + rng() % gridWidth] = std::numeric_limits<float>::infinity();
            columns[3 * gridWidth + rng() % gridWidth] = std::nanf("");
        }
        GuardedBuffer expected(frameBytes, rng() % 64), actual(frameBytes, rng() % 64);
        for (std::size_t i = 0; i < frameBytes; ++i)
            expected.data[i] = actual.data[i] = static_cast<std::uint8_t>(rng());
        const float t = trial % 4 == 0 ? 0.5f : unit(rng);
        for (int y = 0; y < rows; ++y) {
            MotionWarpRow row{p.data() + misalign,
                              q.data() + misalign,
                              nullptr,
                              width,
                              rows,
                              stride,
                              y,
                              t,
                              columns.data(),
                              columns.data() + gridWidth,
                              columns.data() + 2 * gridWidth,
                              columns.data() + 3 * gridWidth,
                              gridWidth};
            row.out = expected.data + static_cast<std::size_t>(y) * stride;
            ReferenceRowKernels().motionWarp(row);
            row.out = actual.data + static_cast<std::size_t>(y) * stride;
            level->motionWarp(row);
        }
        ASSERT_TRUE(actual.GuardsIntact()) << "trial " << trial;
        for (std::size_t i = 0; i < frameBytes; ++i)
            ASSERT_EQ(expected.data[i], actual.data[i])
                << "byte " << i << " trial " << trial << ": " << width << "x" << rows << " t " << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Exactness, ::testing::ValuesIn(FastLevels()),
                         [](const auto& info) { return std::string(SimdLevelName(info.param)); });

}  // namespace
