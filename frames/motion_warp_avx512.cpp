// The motion warp for AVX-512 (flags set in CMakeLists.txt): 16 pixels at a
// time, every channel in 32-bit lanes with the plain loop's arithmetic. Each
// position's two neighbours in a row come from one 8-byte load: as fast as
// gathers on the machine measured, and gathers are slow on some CPUs.
#define TAVRICK_WARP_NAMESPACE warp_avx512
#include "frames/motion_warp_row.inc"

#include <immintrin.h>

namespace warp_avx512 {
namespace {

constexpr __mmask64 pixelBytes16 = (__mmask64{1} << 48) - 1;

struct Geometry {
    __m512i rows, stride, one, low8;
    int lastLoad;  // the last offset an 8-byte load may start at
};

// Offsets of the top-left neighbour of 16 positions and of the one below
// it (the same row on the last one); false when a load would read past the
// image.
inline bool Neighbours(const Geometry& g, __m512i ix, __m512i iy, __m512i offsets[2]) {
    const __m512i x0 = _mm512_srai_epi32(ix, 8), y0 = _mm512_srai_epi32(iy, 8);
    const __m512i dy = _mm512_maskz_mov_epi32(_mm512_cmplt_epi32_mask(_mm512_add_epi32(y0, g.one), g.rows), g.stride);
    offsets[0] = _mm512_add_epi32(_mm512_mullo_epi32(y0, g.stride), _mm512_add_epi32(x0, _mm512_add_epi32(x0, x0)));
    offsets[1] = _mm512_add_epi32(offsets[0], dy);
    return _mm512_cmpgt_epi32_mask(_mm512_max_epi32(offsets[0], offsets[1]), _mm512_set1_epi32(g.lastLoad)) == 0;
}

// Two neighbouring pixels per position (8 bytes from the offset), as one
// pixel per lane of each: the left one and the right one. On the last column
// the right one is whatever follows, weighed by a zero fraction.
inline void PixelPairs(const u8* frame, __m512i offsets, __m512i& left, __m512i& right) {
    alignas(64) std::int32_t at[16];
    _mm512_store_si512(at, offsets);
    auto load = [&](int k) {
        std::uint64_t v;
        std::memcpy(&v, frame + at[k], 8);
        return static_cast<long long>(v);
    };
    const __m512i low = _mm512_set_epi64(load(7), load(6), load(5), load(4), load(3), load(2), load(1), load(0));
    const __m512i high = _mm512_set_epi64(load(15), load(14), load(13), load(12), load(11), load(10), load(9), load(8));
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    left = _mm512_permutex2var_epi32(low, even, high);
    right = _mm512_permutex2var_epi32(_mm512_srli_epi64(low, 24), even, _mm512_srli_epi64(high, 24));
}

// Bilinear samples of every channel in 1/256 units, as Sample().
inline void Samples(const Geometry& g, const u8* frame, __m512i ix, __m512i iy, const __m512i offsets[2],
                    __m512i out[3]) {
    const __m512i fx = _mm512_and_si512(ix, g.low8), fy = _mm512_and_si512(iy, g.low8);
    __m512i a, b, c, d;
    PixelPairs(frame, offsets[0], a, b);
    PixelPairs(frame, offsets[1], c, d);
    const __m512i half = _mm512_set1_epi32(128);
    for (int ch = 0; ch < 3; ++ch) {
        const unsigned shift = 8 * ch;
        const __m512i va = _mm512_and_si512(_mm512_srli_epi32(a, shift), g.low8);
        const __m512i vb = _mm512_and_si512(_mm512_srli_epi32(b, shift), g.low8);
        const __m512i vc = _mm512_and_si512(_mm512_srli_epi32(c, shift), g.low8);
        const __m512i vd = _mm512_and_si512(_mm512_srli_epi32(d, shift), g.low8);
        const __m512i top =
            _mm512_add_epi32(_mm512_slli_epi32(va, 8), _mm512_mullo_epi32(fx, _mm512_sub_epi32(vb, va)));
        const __m512i bottom =
            _mm512_add_epi32(_mm512_slli_epi32(vc, 8), _mm512_mullo_epi32(fx, _mm512_sub_epi32(vd, vc)));
        const __m512i v =
            _mm512_add_epi32(_mm512_slli_epi32(top, 8), _mm512_mullo_epi32(fy, _mm512_sub_epi32(bottom, top)));
        out[ch] = _mm512_srai_epi32(_mm512_add_epi32(v, half), 8);
    }
}

// 16 packed BGR pixels to one pixel per lane (blue in the low byte) and back.
inline __m512i LoadPixels(const u8* p) {
    const __m512i raw = _mm512_maskz_loadu_epi8(pixelBytes16, p);
    const __m512i spread =
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5, 6, 7, 8, 8, 9, 10, 11, 11), raw);
    return _mm512_shuffle_epi8(
        spread, _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1)));
}

inline void StorePixels(u8* p, __m512i pixels) {
    const __m512i packed = _mm512_shuffle_epi8(
        pixels, _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)));
    const __m512i joined =
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0), packed);
    _mm512_mask_storeu_epi8(p, pixelBytes16, joined);
}

void WarpRow16(const MotionWarpRow& r) {
    WarpMixed mixed;
    WarpPositions w;
    Geometry g;
    g.rows = _mm512_set1_epi32(r.rows);
    g.stride = _mm512_set1_epi32(r.stride);
    g.one = _mm512_set1_epi32(1);
    g.low8 = _mm512_set1_epi32(255);
    g.lastLoad = r.rows * r.stride - 8;
    const __m512i roundMoved = _mm512_set1_epi32(128), roundOut = _mm512_set1_epi32(32768);
    for (int start = 0; start < r.width; start += warpPiece) {
        const int n = r.width - start < warpPiece ? r.width - start : warpPiece;
        MixCells(r, start, n, mixed);
        Positions(r, start, n, mixed, w);
        int i = 0;
        for (; i + 16 <= n; i += 16) {
            const __m512i confidence = _mm512_load_si512(w.confidence + i);
            if (_mm512_test_epi32_mask(confidence, confidence) == 0) continue;  // the fallback stays
            const __m512i px = _mm512_load_si512(w.px + i), py = _mm512_load_si512(w.py + i);
            const __m512i qx = _mm512_load_si512(w.qx + i), qy = _mm512_load_si512(w.qy + i);
            __m512i atP[2], atQ[2];
            if (!Neighbours(g, px, py, atP) || !Neighbours(g, qx, qy, atQ)) {
                for (int k = i; k < i + 16; ++k) WarpPixel(r, start, w, k);
                continue;
            }
            __m512i fromP[3], fromQ[3];
            Samples(g, r.p, px, py, atP, fromP);
            Samples(g, r.q, qx, qy, atQ, fromQ);
            const __m512i share = _mm512_load_si512(w.share + i);
            u8* o = r.out + 3 * static_cast<std::size_t>(start + i);
            const __m512i before = LoadPixels(o);
            __m512i after = _mm512_setzero_si512();
            for (int ch = 0; ch < 3; ++ch) {
                const unsigned shift = 8 * ch;
                const __m512i old = _mm512_and_si512(_mm512_srli_epi32(before, shift), g.low8);
                const __m512i moved = _mm512_srai_epi32(
                    _mm512_add_epi32(
                        _mm512_add_epi32(_mm512_slli_epi32(fromQ[ch], 8),
                                         _mm512_mullo_epi32(share, _mm512_sub_epi32(fromP[ch], fromQ[ch]))),
                        roundMoved),
                    8);
                const __m512i mixedValue = _mm512_srai_epi32(
                    _mm512_add_epi32(
                        _mm512_add_epi32(
                            _mm512_slli_epi32(old, 16),
                            _mm512_mullo_epi32(confidence, _mm512_sub_epi32(moved, _mm512_slli_epi32(old, 8)))),
                        roundOut),
                    16);
                after = _mm512_or_si512(after, _mm512_slli_epi32(mixedValue, shift));
            }
            StorePixels(o, after);
        }
        for (; i < n; ++i) WarpPixel(r, start, w, i);
    }
}

}  // namespace
}  // namespace warp_avx512

void OverrideMotionWarp_avx512(RowKernels& k) { k.motionWarp = warp_avx512::WarpRow16; }
