// What scoring one rebuilt frame against its original costs (tavrick score):
// luma, PSNR on luma and RGB and SSIM, on one thread.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "frames/geometry.h"
#include "frames/picture_metrics.h"

namespace {

void ScorePair(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), rows = static_cast<int>(state.range(1));
    const int stride = RowStride(width);
    std::vector<std::uint8_t> a(static_cast<std::size_t>(stride) * rows), b(a.size());
    std::mt19937 rng(11);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<std::uint8_t>(rng());
        b[i] = static_cast<std::uint8_t>(a[i] + static_cast<int>(rng() % 9) - 4);
    }
    MetricScratch scratch;
    const BgrPicture pa = BottomUpPicture(a.data(), width, rows, stride),
                     pb = BottomUpPicture(b.data(), width, rows, stride);
    for (auto _ : state) benchmark::DoNotOptimize(ScorePictures(pa, pb, scratch));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ScorePair)->Args({720, 576})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
