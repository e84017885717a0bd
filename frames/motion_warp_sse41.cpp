// The motion warp for SSE4.1 (flags set in CMakeLists.txt): 4 pixels at a
// time, every channel in 32-bit lanes with the plain loop's arithmetic, each
// position's two neighbours in a row from one 8-byte load.
#define TAVRICK_WARP_NAMESPACE warp_sse41
#include "frames/motion_warp_row.inc"

#include <immintrin.h>

namespace warp_sse41 {
namespace {

struct Geometry {
    __m128i rows, stride, one, low8, lastLoad;
};

// Offsets of the top-left neighbour of 8 positions and of the one below it
// (the same row on the last one); false when a load would read past the
// image.
inline bool Neighbours(const Geometry& g, __m128i ix, __m128i iy, __m128i offsets[2]) {
    const __m128i x0 = _mm_srai_epi32(ix, 8), y0 = _mm_srai_epi32(iy, 8);
    const __m128i dy = _mm_and_si128(_mm_cmpgt_epi32(g.rows, _mm_add_epi32(y0, g.one)), g.stride);
    offsets[0] = _mm_add_epi32(_mm_mullo_epi32(y0, g.stride), _mm_add_epi32(x0, _mm_add_epi32(x0, x0)));
    offsets[1] = _mm_add_epi32(offsets[0], dy);
    const __m128i past = _mm_cmpgt_epi32(_mm_max_epi32(offsets[0], offsets[1]), g.lastLoad);
    return _mm_testz_si128(past, past);
}

// Two neighbouring pixels per position (8 bytes from the offset), as one
// pixel per lane of each: the left one and the right one. On the last column
// the right one is whatever follows, weighed by a zero fraction.
inline void PixelPairs(const u8* frame, __m128i offsets, __m128i& left, __m128i& right) {
    alignas(16) std::int32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), offsets);
    auto load = [&](int k) {
        long long v;
        std::memcpy(&v, frame + at[k], 8);
        return v;
    };
    const __m128 low = _mm_castsi128_ps(_mm_set_epi64x(load(1), load(0)));
    const __m128 high = _mm_castsi128_ps(_mm_set_epi64x(load(3), load(2)));
    left = _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    right = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(_mm_srli_epi64(_mm_castps_si128(low), 24)),
                                            _mm_castsi128_ps(_mm_srli_epi64(_mm_castps_si128(high), 24)),
                                            _MM_SHUFFLE(2, 0, 2, 0)));
}

// Bilinear samples of every channel in 1/256 units, as Sample().
inline void Samples(const Geometry& g, const u8* frame, __m128i ix, __m128i iy, const __m128i offsets[2],
                    __m128i out[3]) {
    const __m128i fx = _mm_and_si128(ix, g.low8), fy = _mm_and_si128(iy, g.low8);
    __m128i a, b, c, d;
    PixelPairs(frame, offsets[0], a, b);
    PixelPairs(frame, offsets[1], c, d);
    const __m128i half = _mm_set1_epi32(128);
    for (int ch = 0; ch < 3; ++ch) {
        const int shift = 8 * ch;
        const __m128i va = _mm_and_si128(_mm_srli_epi32(a, shift), g.low8);
        const __m128i vb = _mm_and_si128(_mm_srli_epi32(b, shift), g.low8);
        const __m128i vc = _mm_and_si128(_mm_srli_epi32(c, shift), g.low8);
        const __m128i vd = _mm_and_si128(_mm_srli_epi32(d, shift), g.low8);
        const __m128i top = _mm_add_epi32(_mm_slli_epi32(va, 8), _mm_mullo_epi32(fx, _mm_sub_epi32(vb, va)));
        const __m128i bottom = _mm_add_epi32(_mm_slli_epi32(vc, 8), _mm_mullo_epi32(fx, _mm_sub_epi32(vd, vc)));
        const __m128i v = _mm_add_epi32(_mm_slli_epi32(top, 8), _mm_mullo_epi32(fy, _mm_sub_epi32(bottom, top)));
        out[ch] = _mm_srai_epi32(_mm_add_epi32(v, half), 8);
    }
}

// 4 packed BGR pixels (12 bytes) to one pixel per lane (blue in the low
// byte) and back.
inline __m128i LoadPixels(const u8* p) {
    std::int32_t words[3];
    std::memcpy(words, p, 12);
    const __m128i raw = _mm_setr_epi32(words[0], words[1], words[2], 0);
    return _mm_shuffle_epi8(raw, _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
}

inline void StorePixels(u8* p, __m128i pixels) {
    const __m128i packed =
        _mm_shuffle_epi8(pixels, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
    const std::int32_t last = _mm_extract_epi32(packed, 2);
    std::memcpy(p + 8, &last, 4);
}

void WarpRow4(const MotionWarpRow& r) {
    WarpMixed mixed;
    WarpPositions w;
    Geometry g;
    g.rows = _mm_set1_epi32(r.rows);
    g.stride = _mm_set1_epi32(r.stride);
    g.one = _mm_set1_epi32(1);
    g.low8 = _mm_set1_epi32(255);
    g.lastLoad = _mm_set1_epi32(r.rows * r.stride - 8);
    const __m128i roundMoved = _mm_set1_epi32(128), roundOut = _mm_set1_epi32(32768);
    for (int start = 0; start < r.width; start += warpPiece) {
        const int n = r.width - start < warpPiece ? r.width - start : warpPiece;
        MixCells(r, start, n, mixed);
        Positions(r, start, n, mixed, w);
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            const __m128i confidence = _mm_load_si128(reinterpret_cast<const __m128i*>(w.confidence + i));
            if (_mm_testz_si128(confidence, confidence)) continue;  // the fallback stays
            const __m128i px = _mm_load_si128(reinterpret_cast<const __m128i*>(w.px + i));
            const __m128i py = _mm_load_si128(reinterpret_cast<const __m128i*>(w.py + i));
            const __m128i qx = _mm_load_si128(reinterpret_cast<const __m128i*>(w.qx + i));
            const __m128i qy = _mm_load_si128(reinterpret_cast<const __m128i*>(w.qy + i));
            __m128i atP[2], atQ[2];
            if (!Neighbours(g, px, py, atP) || !Neighbours(g, qx, qy, atQ)) {
                for (int k = i; k < i + 4; ++k) WarpPixel(r, start, w, k);
                continue;
            }
            __m128i fromP[3], fromQ[3];
            Samples(g, r.p, px, py, atP, fromP);
            Samples(g, r.q, qx, qy, atQ, fromQ);
            const __m128i share = _mm_load_si128(reinterpret_cast<const __m128i*>(w.share + i));
            u8* o = r.out + 3 * static_cast<std::size_t>(start + i);
            const __m128i before = LoadPixels(o);
            __m128i after = _mm_setzero_si128();
            for (int ch = 0; ch < 3; ++ch) {
                const int shift = 8 * ch;
                const __m128i old = _mm_and_si128(_mm_srli_epi32(before, shift), g.low8);
                const __m128i moved = _mm_srai_epi32(
                    _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(fromQ[ch], 8),
                                                _mm_mullo_epi32(share, _mm_sub_epi32(fromP[ch], fromQ[ch]))),
                                  roundMoved),
                    8);
                const __m128i mixedValue = _mm_srai_epi32(
                    _mm_add_epi32(
                        _mm_add_epi32(_mm_slli_epi32(old, 16),
                                      _mm_mullo_epi32(confidence, _mm_sub_epi32(moved, _mm_slli_epi32(old, 8)))),
                        roundOut),
                    16);
                after = _mm_or_si128(after, _mm_slli_epi32(mixedValue, shift));
            }
            StorePixels(o, after);
        }
        for (; i < n; ++i) WarpPixel(r, start, w, i);
    }
}

}  // namespace
}  // namespace warp_sse41

void OverrideMotionWarp_sse41(RowKernels& k) { k.motionWarp = warp_sse41::WarpRow4; }
