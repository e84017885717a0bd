// Output bytes per second of every kernel and every row resample method, at
// every instruction-set level the CPU has, beside a one-frame memcpy; after
// the runs, one table per frame size with a column per level.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frames/geometry.h"
#include "frames/kernels.h"
#include "frames/motion_warp.h"

namespace {

KernelTables tables;

struct Frames {
    int width, rows, stride;
    std::size_t frameBytes;
    std::vector<std::vector<std::uint8_t>> slots;
    std::vector<std::uint8_t> output;
    FrameRing ring;

    Frames(int w, int h) : width(w), rows(h), stride(RowStride(w)), frameBytes(static_cast<std::size_t>(stride) * h) {
        std::mt19937 rng(7);
        // Neighbouring frames differ a little, like real video, so Lansin
        // meets both still and moving samples.
        std::vector<std::uint8_t> base(frameBytes);
        for (auto& b : base) b = static_cast<std::uint8_t>(rng());
        for (int s = 0; s < ringSlotCount; ++s) {
            std::vector<std::uint8_t> f(base);
            for (auto& b : f) b = static_cast<std::uint8_t>(b + static_cast<int>(rng() % 16) - 8);
            slots.push_back(std::move(f));
            ring.slots[s] = slots.back().data();
        }
        output.assign(frameBytes, 0);
    }
    KernelContext Context(const RowKernels* level) {
        KernelContext ctx;
        ctx.ring = &ring;
        ctx.output = output.data();
        ctx.stride = stride;
        ctx.frameRows = rows;
        ctx.frameBytes = frameBytes;
        ctx.tables = &tables;
        ctx.kernels = level;
        return ctx;
    }
};

using KernelCall = std::function<void(const KernelContext&)>;

struct NamedKernel {
    const char* name;
    KernelCall call;
};

const NamedKernel kernels[] = {
    {"coarse", [](const KernelContext& c) { interpolateCoarse(c, false, 0, 2); }},
    {"linear", [](const KernelContext& c) { interpolateLinear(c, false, 0, 2, 3, 0.37); }},
    {"sine", [](const KernelContext& c) { interpolateSine(c, false, 0, 2, 3, 0.37); }},
    {"cubic", [](const KernelContext& c) { interpolateCubic(c, false, 0, 1, 2, 3, 4, 0.37); }},
    {"lanczos", [](const KernelContext& c) { interpolateLanczos(c, false, 0, 1, 2, 3, 4, 0.37); }},
    {"lansin1", [](const KernelContext& c) { interpolateLansin(c, false, 0, 1, 2, 3, 4, 0.37, 7.0); }},
    {"lansin2", [](const KernelContext& c) { interpolateLansin(c, false, 0, 1, 2, 3, 4, 0.37, 31.0); }},
    {"lansin3", [](const KernelContext& c) { interpolateLansin(c, false, 0, 1, 2, 3, 4, 0.37, 127.0); }},
    {"median3", [](const KernelContext& c) { median3(c, false, 0, 1, 2, 3); }},
    {"median5", [](const KernelContext& c) { median5(c, false, 0, 0, 1, 2, 3, 4); }},
};

const char* const resampleNames[] = {"resample-coarse", "resample-linear", "resample-sine", "resample-cubic",
                                     "resample-lanczos"};

void report(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void registerSize(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    auto* frames = new Frames(width, height);  // lives for the whole run

    benchmark::RegisterBenchmark(("memcpy/" + size).c_str(), [frames](benchmark::State& state) {
        for (auto _ : state) {
            std::memcpy(frames->output.data(), frames->slots[2].data(), frames->frameBytes);
            benchmark::ClobberMemory();
        }
        report(state, frames->frameBytes);
    });

    for (int l = 0; l < simdLevelCount; ++l) {
        const RowKernels* level = RowKernelsFor(static_cast<SimdLevel>(l));
        if (!level) continue;
        const std::string suffix = "/" + size + "/" + SimdLevelName(level->level);
        for (const NamedKernel& k : kernels) {
            benchmark::RegisterBenchmark((std::string(k.name) + suffix).c_str(),
                                         [frames, level, &k](benchmark::State& state) {
                                             const KernelContext ctx = frames->Context(level);
                                             for (auto _ : state) {
                                                 k.call(ctx);
                                                 benchmark::ClobberMemory();
                                             }
                                             report(state, frames->frameBytes);
                                         });
        }
        // Motion's warp of two frames along a slow rotation, trusted everywhere.
        benchmark::RegisterBenchmark(("motion-warp" + suffix).c_str(), [frames, level](benchmark::State& state) {
            const int gw = GridSize(frames->width), gh = GridSize(frames->rows);
            std::vector<MotionPoint> points(static_cast<std::size_t>(gw) * gh);
            for (int gy = 0; gy < gh; ++gy)
                for (int gx = 0; gx < gw; ++gx) {
                    MotionPoint& m = points[static_cast<std::size_t>(gy) * gw + gx];
                    m.vx = 0.005f * (gy - gh / 2) * motionGridStep;
                    m.vy = -0.005f * (gx - gw / 2) * motionGridStep;
                    m.confidence = 1;
                }
            for (auto _ : state) {
                WarpRows(*level, frames->slots[1].data(), frames->slots[2].data(), frames->output.data(), frames->width,
                         frames->rows, frames->stride, points.data(), gw, gh, 0.5, 0, frames->rows, 1);
                benchmark::ClobberMemory();
            }
            report(state, frames->frameBytes);
        });
        // Three quarters of the height stretched to the full frame.
        const int sourceRows = height * 3 / 4;
        for (int method = rowCoarse; method <= rowLanczos; ++method) {
            benchmark::RegisterBenchmark((std::string(resampleNames[method]) + suffix).c_str(),
                                         [frames, level, method, sourceRows](benchmark::State& state) {
                                             ResampleContext ctx{frames->output.data(), frames->stride, &tables, level};
                                             for (auto _ : state) {
                                                 resampleRows(ctx, frames->slots[1].data(), frames->width, sourceRows,
                                                              frames->rows, 0, frames->rows, method, 0.0);
                                                 benchmark::ClobberMemory();
                                             }
                                             report(state, static_cast<std::size_t>(frames->width) * 3 * frames->rows);
                                         });
        }
    }
}

// Collects "kernel/size/level" results (the median when repeated) and
// prints them as MB/s and frames/s per level.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const std::string name = run.run_name.function_name;
            const auto first = name.find('/'), second = name.rfind('/');
            if (first == std::string::npos || first == second) continue;
            Cell& cell =
                results_[name.substr(first + 1, second - first - 1)][name.substr(0, first)][name.substr(second + 1)];
            const auto bytes = run.counters.find("bytes_per_second"), frames = run.counters.find("frames/s");
            if (bytes == run.counters.end() || frames == run.counters.end()) continue;
            if (run.run_type == Run::RT_Aggregate || !cell.fromMedian) {
                cell = {bytes->second.value / 1e6, frames->second.value, run.run_type == Run::RT_Aggregate};
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [size, rows] : results_) {
            std::printf("\n%s, output MB/s (frames/s), one thread\n%-18s", size.c_str(), "kernel");
            for (int l = 0; l < simdLevelCount; ++l)
                if (RowKernelsFor(static_cast<SimdLevel>(l)))
                    std::printf("%24s", SimdLevelName(static_cast<SimdLevel>(l)));
            std::printf("\n");
            for (const auto& [kernel, levels] : rows) {
                if (kernel == "memcpy") continue;
                std::printf("%-18s", kernel.c_str());
                for (int l = 0; l < simdLevelCount; ++l) {
                    if (!RowKernelsFor(static_cast<SimdLevel>(l))) continue;
                    const auto cell = levels.find(SimdLevelName(static_cast<SimdLevel>(l)));
                    if (cell == levels.end())
                        std::printf("%24s", "-");
                    else
                        std::printf("%14.0f (%7.1f)", cell->second.megabytes, cell->second.frames);
                }
                std::printf("\n");
            }
        }
        std::fflush(stdout);
    }

private:
    struct Cell {
        double megabytes = 0, frames = 0;
        bool fromMedian = false;
    };
    std::map<std::string, std::map<std::string, std::map<std::string, Cell>>> results_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!BuildKernelTables(tables)) return 1;
    registerSize(720, 576);
    registerSize(1920, 1080);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
