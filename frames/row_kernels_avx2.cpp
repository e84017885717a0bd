// Fast loops for AVX2 (compiled with -mavx2 and without FMA: a fused
// multiply-add would round differently from the reference).
//
// Blends run in 16-bit lanes: a BlendTable lookup is
// from + sign(d) * ((|d| * multiplier) >> 16), and with the multiplier below
// 65536 the high half of a 16 x 16-bit product is exactly that shift. The
// four-tap kernels convert the bytes to doubles and do the reference's
// multiplies and adds in its order, four samples per register.
//
// Frames shorter than one vector go to the generic loops; longer ones end
// with one vector that overlaps the previous, which rewrites the same bytes
// (outputs never alias inputs).
#define TAVRICK_FAST_NAMESPACE fast_avx2
#include "frames/row_kernels_fast.inc"

#include <immintrin.h>

#include <cstring>

namespace fast_avx2 {
namespace {

inline __m256i load32(const u8* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void store32(u8* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline __m128i load16(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(u8* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Runs body(i) for i = 0, step, 2 step, ... and once more at n - step for the
// remainder; n must be at least step.
template <std::size_t step, typename Body>
inline void overlappedSteps(size_t n, Body body) {
    size_t i = 0;
    for (; i + step <= n; i += step) body(i);
    if (i < n) body(n - step);
}

// The multiplier is below 65536, so q <= |to - from| and the result stays
// between from and to: never outside 0..255.
inline __m256i blendWords(__m256i from, __m256i to, __m256i multiplier) {
    const __m256i d = _mm256_sub_epi16(to, from);
    const __m256i q = _mm256_mulhi_epu16(_mm256_abs_epi16(d), multiplier);
    return _mm256_add_epi16(from, _mm256_sign_epi16(q, d));
}

inline __m256i blendBytes(__m256i a, __m256i b, __m256i multiplier) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = blendWords(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), multiplier);
    const __m256i hi = blendWords(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), multiplier);
    return _mm256_packus_epi16(lo, hi);  // in-lane unpack and pack: order kept
}

void blend32(u8* out, const u8* a, const u8* b, size_t n, const BlendWeights& w) {
    if (n < 32) return blend(out, a, b, n, w);
    const __m256i m = _mm256_set1_epi16(static_cast<short>(w.multiplier));
    overlappedSteps<32>(n, [&](size_t i) { store32(out + i, blendBytes(load32(a + i), load32(b + i), m)); });
}

inline __m256i median3Bytes(__m256i x, __m256i y, __m256i z) {
    const __m256i lo = _mm256_min_epu8(x, y), hi = _mm256_max_epu8(x, y);
    return _mm256_max_epu8(lo, _mm256_min_epu8(hi, z));
}

void median3x32(u8* out, const u8* m0, const u8* m1, const u8* m2, size_t n) {
    if (n < 32) return median3(out, m0, m1, m2, n);
    overlappedSteps<32>(n, [&](size_t i) { store32(out + i, median3Bytes(load32(m0 + i), load32(m1 + i), load32(m2 + i))); });
}

// The generic loop's network: drop the smaller pair minimum and the larger
// pair maximum, then the median of the three left.
void median5x32(u8* out, const u8* m0, const u8* m1, const u8* m2, const u8* m3, const u8* m4, size_t n) {
    if (n < 32) return median5(out, m0, m1, m2, m3, m4, n);
    overlappedSteps<32>(n, [&](size_t i) {
        const __m256i a = load32(m0 + i), b = load32(m1 + i), d = load32(m3 + i), e = load32(m4 + i);
        const __m256i lowKeep = _mm256_max_epu8(_mm256_min_epu8(a, b), _mm256_min_epu8(d, e));
        const __m256i highKeep = _mm256_min_epu8(_mm256_max_epu8(a, b), _mm256_max_epu8(d, e));
        store32(out + i, median3Bytes(lowKeep, highKeep, load32(m2 + i)));
    });
}

// Four samples as doubles: exact, they are small integers.
inline __m256d fourSamples(const u8* p) {
    int bytes;
    std::memcpy(&bytes, p, 4);
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes)));
}

struct Taps {
    __m256d w0, w1, w2, w3, norm;
    explicit Taps(const TapWeights& w)
        : w0(_mm256_set1_pd(w.w[0])), w1(_mm256_set1_pd(w.w[1])), w2(_mm256_set1_pd(w.w[2])),
          w3(_mm256_set1_pd(w.w[3])), norm(_mm256_set1_pd(w.normaliser)) {}
};

// ((P0 w0 + P1 w1) + P2 w2) + P3 w3, the reference's order, truncated
// toward zero to four 32-bit integers. |v| stays far inside the int range.
template <bool normalised>
inline __m128i tapFour(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const Taps& t) {
    __m256d v = _mm256_add_pd(_mm256_mul_pd(fourSamples(p0), t.w0), _mm256_mul_pd(fourSamples(p1), t.w1));
    v = _mm256_add_pd(v, _mm256_mul_pd(fourSamples(p2), t.w2));
    v = _mm256_add_pd(v, _mm256_mul_pd(fourSamples(p3), t.w3));
    if (normalised) v = _mm256_mul_pd(v, t.norm);
    return _mm256_cvttpd_epi32(v);
}

// Sixteen samples. Truncating first and then saturating to 0..255 gives the
// reference's clamp-then-truncate: both send v > 255 to 255 and v < 0 to 0.
template <bool normalised>
inline __m128i tapSixteen(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const Taps& t) {
    const __m128i a = tapFour<normalised>(p0, p1, p2, p3, t);
    const __m128i b = tapFour<normalised>(p0 + 4, p1 + 4, p2 + 4, p3 + 4, t);
    const __m128i c = tapFour<normalised>(p0 + 8, p1 + 8, p2 + 8, p3 + 8, t);
    const __m128i d = tapFour<normalised>(p0 + 12, p1 + 12, p2 + 12, p3 + 12, t);
    return _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
}

void cubic16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    if (n < 16) return cubic(out, p0, p1, p2, p3, n, w);
    const Taps t(w);
    overlappedSteps<16>(n, [&](size_t i) { store16(out + i, tapSixteen<false>(p0 + i, p1 + i, p2 + i, p3 + i, t)); });
}

void lanczos16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    if (n < 16) return lanczos(out, p0, p1, p2, p3, n, w);
    const Taps t(w);
    overlappedSteps<16>(n, [&](size_t i) { store16(out + i, tapSixteen<true>(p0 + i, p1 + i, p2 + i, p3 + i, t)); });
}

// The mixing multiplier of |P2 - P1| for sixteen samples, as 16-bit lanes.
inline __m256i mixMultipliers(__m256i magnitude, const int* mix) {
    const __m256i lo = _mm256_i32gather_epi32(mix, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(magnitude)), 4);
    const __m256i hi = _mm256_i32gather_epi32(mix, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(magnitude, 1)), 4);
    // Multipliers are below 65536: the unsigned pack keeps them; it works per
    // 128-bit lane, so the quarters are put back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
}

void lansin16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w) {
    if (n < 16) return lansin(out, p0, p1, p2, p3, n, w);
    const Taps t(w.lanczos);
    const __m256i sineMultiplier = _mm256_set1_epi16(static_cast<short>(w.sine.multiplier));
    const int* mix = reinterpret_cast<const int*>(w.multiplierByDifference);
    overlappedSteps<16>(n, [&](size_t i) {
        const __m256i v = _mm256_cvtepu8_epi16(tapSixteen<true>(p0 + i, p1 + i, p2 + i, p3 + i, t));
        const __m256i a = _mm256_cvtepu8_epi16(load16(p1 + i));
        const __m256i b = _mm256_cvtepu8_epi16(load16(p2 + i));
        const __m256i s = blendWords(a, b, sineMultiplier);
        const __m256i motion = mixMultipliers(_mm256_abs_epi16(_mm256_sub_epi16(b, a)), mix);
        const __m256i mixed = blendWords(s, v, motion);
        const __m256i bytes = _mm256_packus_epi16(mixed, mixed);
        store16(out + i, _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0xD8)));
    });
}

}  // namespace
}  // namespace fast_avx2

void OverrideRowKernels_avx2(RowKernels& k) {
    using namespace fast_avx2;
    k.blend = blend32;
    k.cubic = cubic16;
    k.lanczos = lanczos16;
    k.lansin = lansin16;
    k.median3 = median3x32;
    k.median5 = median5x32;
}
