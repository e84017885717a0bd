#include "frames/yuv420.h"

#include <algorithm>
#include <cstddef>

const Yuv420Loops& Yuv420LoopsFor(SimdLevel level) {
    static const Yuv420Loops baseline = Yuv420Loops_sse2(), avx2 = Yuv420Loops_avx2();
    return static_cast<int>(level) >= static_cast<int>(SimdLevel::avx2) ? avx2 : baseline;
}

const Yuv420Loops& RunYuv420Loops() {
    static const Yuv420Loops& chosen = Yuv420LoopsFor(RunRowKernels().level);
    return chosen;
}

bool Yuv420Fits(int width, int height) { return width >= 2 && height >= 16 && width % 2 == 0 && height % 2 == 0; }

void Yuv420FromBgr(const BgrPicture& picture, std::uint8_t* const planes[3], const int strides[3],
                   Yuv420Scratch& scratch, const Yuv420Loops& loops) {
    const int width = picture.width, height = picture.height, pairs = width / 2;
    // Eight rows of U and eight of V: the rows of chroma row y are
    // 2y - 3 .. 2y + 4, so a ring of eight never drops one still needed.
    constexpr int ring = 8;
    const std::size_t rowLength = static_cast<std::size_t>(pairs);
    if (scratch.rows.size() < 2 * ring * rowLength) scratch.rows.resize(2 * ring * rowLength);
    const auto uRow = [&](int row) { return scratch.rows.data() + static_cast<std::size_t>(row % ring) * rowLength; };
    const auto vRow = [&](int row) { return uRow(row) + ring * rowLength; };
    constexpr int ahead = 2;  // rows fetched into the cache ahead of use
    int done = 0;             // rows converted so far, luma and chroma pairs
    for (int y = 0; y < height / 2; ++y) {
        const int last = std::min(2 * y + 4, height - 1);
        for (; done <= last; ++done) {
            const std::uint8_t* bgr = picture.top + done * picture.stride;
            // Frames are stored bottom-up: the rows run backwards through
            // memory, which the hardware prefetchers follow badly.
            if (done + ahead < height) {
                const std::uint8_t* next = bgr + ahead * picture.stride;
                for (int at = 0; at < 3 * width; at += 64) __builtin_prefetch(next + at);
            }
            loops.row(bgr, planes[0] + static_cast<std::ptrdiff_t>(done) * strides[0], uRow(done), vRow(done), width);
        }
        const std::int16_t* u[ring];
        const std::int16_t* v[ring];
        for (int tap = 0; tap < ring; ++tap) {
            const int row = std::clamp(2 * y - 3 + tap, 0, height - 1);
            u[tap] = uRow(row);
            v[tap] = vRow(row);
        }
        loops.chromaFilter(u, planes[1] + static_cast<std::ptrdiff_t>(y) * strides[1], pairs);
        loops.chromaFilter(v, planes[2] + static_cast<std::ptrdiff_t>(y) * strides[2], pairs);
    }
}
