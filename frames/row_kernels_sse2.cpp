// Fast loops compiled for sse2 (flags set in CMakeLists.txt): the vectorised
// generic loops, the blends written by hand in 16-bit lanes, and the four-tap
// kernels in fixed point (the AVX2 file gives the reasoning of both).
#define TAVRICK_FAST_NAMESPACE fast_sse2
#include "frames/row_kernels_fast.inc"

#include <emmintrin.h>

namespace fast_sse2 {
namespace {

// SSE2 has no word abs or sign: both through the difference's sign mask.
inline __m128i blendWords(__m128i from, __m128i to, __m128i multiplier) {
    const __m128i d = _mm_sub_epi16(to, from);
    const __m128i negative = _mm_srai_epi16(d, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(d, negative), negative);
    const __m128i q = _mm_mulhi_epu16(magnitude, multiplier);
    return _mm_add_epi16(from, _mm_sub_epi16(_mm_xor_si128(q, negative), negative));
}

void blend16(u8* out, const u8* a, const u8* b, size_t n, const BlendWeights& w) {
    if (n < 16) return blend(out, a, b, n, w);
    const __m128i m = _mm_set1_epi16(static_cast<short>(w.multiplier));
    const __m128i zero = _mm_setzero_si128();
    auto step = [&](size_t i) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i lo = blendWords(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero), m);
        const __m128i hi = blendWords(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero), m);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    };
    size_t i = 0;
    for (; i + 16 <= n; i += 16) step(i);
    if (i < n) step(n - 16);  // overlaps the last step: same bytes again
}

inline __m128i load16(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// SSE2 has no 32-bit multiply, so each fixed-point weight W (20 fraction
// bits) is split as W = H * 1024 + L with 0 <= L < 1024 and both halves
// multiplied in 16-bit pairs: (P0 H0 + P1 H1) + (P2 H2 + P3 H3), likewise
// for L, then X = 1024 * sumH + sumL exactly. The byte is taken from X when
// X +- margin has one integer part; flat sixteen-sample blocks come from a
// flat table kept per thread; everything else is redone by the double loop.
struct FixedTaps {
    bool usable = false;
    __m128i high01, high23, low01, low23, margin;
    const FlatTable* flat = nullptr;  // looked up on first need
};

template <bool normalised>
void prepareFixed(FixedTaps& f, const TapWeights& w) {
    int weights[4], margin;
    if (!fixedTapWeights<normalised>(w, weights, margin)) return;
    int high[4], low[4];
    for (int i = 0; i < 4; ++i) {
        high[i] = weights[i] >> 10;  // floor: the low part stays 0..1023
        low[i] = weights[i] & 1023;
    }
    auto pair = [](int a, int b) { return _mm_set_epi16(b, a, b, a, b, a, b, a); };
    f.high01 = pair(high[0], high[1]);
    f.high23 = pair(high[2], high[3]);
    f.low01 = pair(low[0], low[1]);
    f.low23 = pair(low[2], low[3]);
    f.margin = _mm_set1_epi32(margin);
    f.usable = true;
}

// Four fixed-point sums from four (P0, P1) and (P2, P3) word pairs.
inline __m128i fixedFour(__m128i pairs01, __m128i pairs23, const FixedTaps& f) {
    const __m128i high = _mm_add_epi32(_mm_madd_epi16(pairs01, f.high01), _mm_madd_epi16(pairs23, f.high23));
    const __m128i low = _mm_add_epi32(_mm_madd_epi16(pairs01, f.low01), _mm_madd_epi16(pairs23, f.low23));
    return _mm_add_epi32(_mm_slli_epi32(high, 10), low);
}

// Sixteen bytes into `out`; false when the fixed point can't decide them all.
inline bool fixedSixteen(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, const FixedTaps& f) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = load16(p0), b = load16(p1), c = load16(p2), d = load16(p3);
    const __m128i ab[2] = {_mm_unpacklo_epi8(a, b), _mm_unpackhi_epi8(a, b)};
    const __m128i cd[2] = {_mm_unpacklo_epi8(c, d), _mm_unpackhi_epi8(c, d)};
    __m128i value[4];
    int decided = 0xFFFF;
    for (int half = 0; half < 2; ++half) {
        for (int quarter = 0; quarter < 2; ++quarter) {
            const __m128i pairs01 = quarter ? _mm_unpackhi_epi8(ab[half], zero) : _mm_unpacklo_epi8(ab[half], zero);
            const __m128i pairs23 = quarter ? _mm_unpackhi_epi8(cd[half], zero) : _mm_unpacklo_epi8(cd[half], zero);
            const __m128i x = fixedFour(pairs01, pairs23, f);
            const __m128i lowEnd = _mm_srai_epi32(_mm_sub_epi32(x, f.margin), fixedBits);
            const __m128i highEnd = _mm_srai_epi32(_mm_add_epi32(x, f.margin), fixedBits);
            decided &= _mm_movemask_epi8(_mm_cmpeq_epi32(lowEnd, highEnd));
            value[2 * half + quarter] = lowEnd;
        }
    }
    if (decided != 0xFFFF) return false;
    // Saturating packs: the reference's clamp to 0..255.
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(value[0], value[1]), _mm_packs_epi32(value[2], value[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    return true;
}

template <bool normalised>
inline void tapSixteen(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, FixedTaps& f,
                       const TapWeights& w) {
    if (f.usable && fixedSixteen(out, p0, p1, p2, p3, f)) return;
    const __m128i b = load16(p1);
    const __m128i same = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(load16(p0), b), _mm_cmpeq_epi8(b, load16(p2))),
                                       _mm_cmpeq_epi8(b, load16(p3)));
    if (_mm_movemask_epi8(same) == 0xFFFF) {
        if (!f.flat) f.flat = &FlatTableFor<normalised>(w);
        for (int j = 0; j < 16; ++j) out[j] = static_cast<u8>(f.flat->value[p1[j]]);
        return;
    }
    if (normalised)
        lanczos(out, p0, p1, p2, p3, 16, w);
    else
        cubic(out, p0, p1, p2, p3, 16, w);
}

template <bool normalised>
void taps16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    if (n < 16) return normalised ? lanczos(out, p0, p1, p2, p3, n, w) : cubic(out, p0, p1, p2, p3, n, w);
    FixedTaps f;
    prepareFixed<normalised>(f, w);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) tapSixteen<normalised>(out + i, p0 + i, p1 + i, p2 + i, p3 + i, f, w);
    if (i < n) tapSixteen<normalised>(out + n - 16, p0 + n - 16, p1 + n - 16, p2 + n - 16, p3 + n - 16, f, w);
}

// Lansin: the Lanczos bytes as above, then the Sine blend and the mix in
// 16-bit lanes; the mixing multipliers are looked up per sample.
void lansin16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w) {
    if (n < 16) return lansin(out, p0, p1, p2, p3, n, w);
    FixedTaps f;
    prepareFixed<true>(f, w.lanczos);
    const __m128i sineMultiplier = _mm_set1_epi16(static_cast<short>(w.sine.multiplier));
    const __m128i zero = _mm_setzero_si128();
    auto step = [&](size_t i) {
        alignas(16) u8 v[16];
        alignas(16) std::uint16_t motion[16];
        tapSixteen<true>(v, p0 + i, p1 + i, p2 + i, p3 + i, f, w.lanczos);
        for (int j = 0; j < 16; ++j) {
            const int d = p2[i + j] - p1[i + j];
            motion[j] = static_cast<std::uint16_t>(w.multiplierByDifference[d < 0 ? -d : d]);
        }
        const __m128i a = load16(p1 + i), b = load16(p2 + i),
                      value = _mm_load_si128(reinterpret_cast<const __m128i*>(v));
        const __m128i lo =
            blendWords(blendWords(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), sineMultiplier),
                       _mm_unpacklo_epi8(value, zero), _mm_load_si128(reinterpret_cast<const __m128i*>(motion)));
        const __m128i hi =
            blendWords(blendWords(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), sineMultiplier),
                       _mm_unpackhi_epi8(value, zero), _mm_load_si128(reinterpret_cast<const __m128i*>(motion + 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    };
    size_t i = 0;
    for (; i + 16 <= n; i += 16) step(i);
    if (i < n) step(n - 16);
}

}  // namespace
}  // namespace fast_sse2

void OverrideMotionWarp_sse2(RowKernels& k);

void OverrideRowKernels_sse2(RowKernels& k) {
    OverrideMotionWarp_sse2(k);
    using namespace fast_sse2;
    k.blend = blend16;
    k.cubic = taps16<false>;
    k.lanczos = taps16<true>;
    k.lansin = lansin16;
    k.median3 = median3;
    k.median5 = median5;
}
