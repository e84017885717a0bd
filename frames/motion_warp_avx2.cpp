// The motion warp for AVX2 (flags set in CMakeLists.txt): 8 pixels at a
// time, every channel in 32-bit lanes with the plain loop's arithmetic. Each
// position's two neighbours in a row come from one 8-byte load: as fast as
// gathers on the machine measured, and gathers are slow on some CPUs.
#define TAVRICK_WARP_NAMESPACE warp_avx2
#include "frames/motion_warp_row.inc"

#include <immintrin.h>

namespace warp_avx2 {
namespace {

struct Geometry {
    __m256i rows, stride, one, low8, lastLoad;
};

// Offsets of the top-left neighbour of 8 positions and of the one below it
// (the same row on the last one); false when a load would read past the
// image.
inline bool Neighbours(const Geometry& g, __m256i ix, __m256i iy, __m256i offsets[2]) {
    const __m256i x0 = _mm256_srai_epi32(ix, 8), y0 = _mm256_srai_epi32(iy, 8);
    const __m256i dy = _mm256_and_si256(_mm256_cmpgt_epi32(g.rows, _mm256_add_epi32(y0, g.one)), g.stride);
    offsets[0] = _mm256_add_epi32(_mm256_mullo_epi32(y0, g.stride), _mm256_add_epi32(x0, _mm256_add_epi32(x0, x0)));
    offsets[1] = _mm256_add_epi32(offsets[0], dy);
    const __m256i past = _mm256_cmpgt_epi32(_mm256_max_epi32(offsets[0], offsets[1]), g.lastLoad);
    return _mm256_testz_si256(past, past);
}

// Two neighbouring pixels per position (8 bytes from the offset), as one
// pixel per lane of each: the left one and the right one. On the last column
// the right one is whatever follows, weighed by a zero fraction.
inline void PixelPairs(const u8* frame, __m256i offsets, __m256i& left, __m256i& right) {
    alignas(32) std::int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), offsets);
    auto load = [&](int k) {
        long long v;
        std::memcpy(&v, frame + at[k], 8);
        return v;
    };
    // Pairs 0, 1, 2, 3 and 4, 5, 6, 7; their low words in order 0 1 4 5 | 2 3 6 7, then 0 .. 7.
    const __m256 low = _mm256_castsi256_ps(_mm256_setr_epi64x(load(0), load(1), load(2), load(3)));
    const __m256 high = _mm256_castsi256_ps(_mm256_setr_epi64x(load(4), load(5), load(6), load(7)));
    auto evens = [](__m256 a, __m256 b) {
        return _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                                        _MM_SHUFFLE(3, 1, 2, 0));
    };
    left = evens(low, high);
    right = evens(_mm256_castsi256_ps(_mm256_srli_epi64(_mm256_castps_si256(low), 24)),
                  _mm256_castsi256_ps(_mm256_srli_epi64(_mm256_castps_si256(high), 24)));
}

// Bilinear samples of every channel in 1/256 units, as Sample().
inline void Samples(const Geometry& g, const u8* frame, __m256i ix, __m256i iy, const __m256i offsets[2],
                    __m256i out[3]) {
    const __m256i fx = _mm256_and_si256(ix, g.low8), fy = _mm256_and_si256(iy, g.low8);
    __m256i a, b, c, d;
    PixelPairs(frame, offsets[0], a, b);
    PixelPairs(frame, offsets[1], c, d);
    const __m256i half = _mm256_set1_epi32(128);
    for (int ch = 0; ch < 3; ++ch) {
        const int shift = 8 * ch;
        const __m256i va = _mm256_and_si256(_mm256_srli_epi32(a, shift), g.low8);
        const __m256i vb = _mm256_and_si256(_mm256_srli_epi32(b, shift), g.low8);
        const __m256i vc = _mm256_and_si256(_mm256_srli_epi32(c, shift), g.low8);
        const __m256i vd = _mm256_and_si256(_mm256_srli_epi32(d, shift), g.low8);
        const __m256i top =
            _mm256_add_epi32(_mm256_slli_epi32(va, 8), _mm256_mullo_epi32(fx, _mm256_sub_epi32(vb, va)));
        const __m256i bottom =
            _mm256_add_epi32(_mm256_slli_epi32(vc, 8), _mm256_mullo_epi32(fx, _mm256_sub_epi32(vd, vc)));
        const __m256i v =
            _mm256_add_epi32(_mm256_slli_epi32(top, 8), _mm256_mullo_epi32(fy, _mm256_sub_epi32(bottom, top)));
        out[ch] = _mm256_srai_epi32(_mm256_add_epi32(v, half), 8);
    }
}

// 8 packed BGR pixels (24 bytes, six words) to one pixel per lane (blue in
// the low byte) and back.
inline __m256i SixWords() { return _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0); }

inline __m256i LoadPixels(const u8* p) {
    const __m256i raw = _mm256_maskload_epi32(reinterpret_cast<const int*>(p), SixWords());
    const __m256i spread = _mm256_permutevar8x32_epi32(raw, _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
    return _mm256_shuffle_epi8(spread, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2,
                                                        -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
}

inline void StorePixels(u8* p, __m256i pixels) {
    const __m256i packed =
        _mm256_shuffle_epi8(pixels, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4,
                                                     5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m256i joined = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(p), SixWords(), joined);
}

void WarpRow8(const MotionWarpRow& r) {
    WarpMixed mixed;
    WarpPositions w;
    Geometry g;
    g.rows = _mm256_set1_epi32(r.rows);
    g.stride = _mm256_set1_epi32(r.stride);
    g.one = _mm256_set1_epi32(1);
    g.low8 = _mm256_set1_epi32(255);
    g.lastLoad = _mm256_set1_epi32(r.rows * r.stride - 8);
    const __m256i roundMoved = _mm256_set1_epi32(128), roundOut = _mm256_set1_epi32(32768);
    for (int start = 0; start < r.width; start += warpPiece) {
        const int n = r.width - start < warpPiece ? r.width - start : warpPiece;
        MixCells(r, start, n, mixed);
        Positions(r, start, n, mixed, w);
        int i = 0;
        for (; i + 8 <= n; i += 8) {
            const __m256i confidence = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.confidence + i));
            if (_mm256_testz_si256(confidence, confidence)) continue;  // the fallback stays
            const __m256i px = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.px + i));
            const __m256i py = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.py + i));
            const __m256i qx = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.qx + i));
            const __m256i qy = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.qy + i));
            __m256i atP[2], atQ[2];
            if (!Neighbours(g, px, py, atP) || !Neighbours(g, qx, qy, atQ)) {
                for (int k = i; k < i + 8; ++k) WarpPixel(r, start, w, k);
                continue;
            }
            __m256i fromP[3], fromQ[3];
            Samples(g, r.p, px, py, atP, fromP);
            Samples(g, r.q, qx, qy, atQ, fromQ);
            const __m256i share = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.share + i));
            u8* o = r.out + 3 * static_cast<std::size_t>(start + i);
            const __m256i before = LoadPixels(o);
            __m256i after = _mm256_setzero_si256();
            for (int ch = 0; ch < 3; ++ch) {
                const int shift = 8 * ch;
                const __m256i old = _mm256_and_si256(_mm256_srli_epi32(before, shift), g.low8);
                const __m256i moved = _mm256_srai_epi32(
                    _mm256_add_epi32(
                        _mm256_add_epi32(_mm256_slli_epi32(fromQ[ch], 8),
                                         _mm256_mullo_epi32(share, _mm256_sub_epi32(fromP[ch], fromQ[ch]))),
                        roundMoved),
                    8);
                const __m256i mixedValue = _mm256_srai_epi32(
                    _mm256_add_epi32(
                        _mm256_add_epi32(
                            _mm256_slli_epi32(old, 16),
                            _mm256_mullo_epi32(confidence, _mm256_sub_epi32(moved, _mm256_slli_epi32(old, 8)))),
                        roundOut),
                    16);
                after = _mm256_or_si256(after, _mm256_slli_epi32(mixedValue, shift));
            }
            StorePixels(o, after);
        }
        for (; i < n; ++i) WarpPixel(r, start, w, i);
    }
}

}  // namespace
}  // namespace warp_avx2

void OverrideMotionWarp_avx2(RowKernels& k) { k.motionWarp = warp_avx2::WarpRow8; }
