// Fast loops for AVX-512 (flags set in CMakeLists.txt): the vectorised
// generic loops, with the double-precision kernels written by hand. They
// take 16 samples at a time; shorter tails go to the generic loops.
#define TAVRICK_FAST_NAMESPACE fast_avx512
#include "frames/row_kernels_fast.inc"

#include <immintrin.h>

namespace fast_avx512 {
namespace {

struct Doubles16 {
    __m512d lo, hi;
};

inline Doubles16 loadSamples(const u8* p) {
    // Eight bytes to eight 64-bit lanes, twice: no cross-lane extract needed.
    const __m512i lo = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    const __m512i hi = _mm512_cvtepu8_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8)));
    return {_mm512_cvtepi64_pd(lo), _mm512_cvtepi64_pd(hi)};
}

// ((P0 w0 + P1 w1) + P2 w2) + P3 w3, the reference's order.
inline Doubles16 tapSum(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const __m512d w[4]) {
    const Doubles16 a = loadSamples(p0), b = loadSamples(p1), c = loadSamples(p2), d = loadSamples(p3);
    __m512d lo = _mm512_add_pd(_mm512_mul_pd(a.lo, w[0]), _mm512_mul_pd(b.lo, w[1]));
    __m512d hi = _mm512_add_pd(_mm512_mul_pd(a.hi, w[0]), _mm512_mul_pd(b.hi, w[1]));
    lo = _mm512_add_pd(lo, _mm512_mul_pd(c.lo, w[2]));
    hi = _mm512_add_pd(hi, _mm512_mul_pd(c.hi, w[2]));
    lo = _mm512_add_pd(lo, _mm512_mul_pd(d.lo, w[3]));
    hi = _mm512_add_pd(hi, _mm512_mul_pd(d.hi, w[3]));
    return {lo, hi};
}

// Truncation toward zero, then 0..255: the same as clamping the double
// first, since |v| stays far inside the int range.
inline __m512i truncateClamp(const Doubles16& v) {
    const __m512i whole =
        _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(v.lo)), _mm512_cvttpd_epi32(v.hi), 1);
    return _mm512_min_epi32(_mm512_max_epi32(whole, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}

inline void store16(u8* out, __m512i values) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(values));
}

inline void broadcastTaps(const TapWeights& w, __m512d taps[4]) {
    for (int i = 0; i < 4; ++i) taps[i] = _mm512_set1_pd(w.w[i]);
}

void cubic16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    __m512d taps[4];
    broadcastTaps(w, taps);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) store16(out + i, truncateClamp(tapSum(p0 + i, p1 + i, p2 + i, p3 + i, taps)));
    if (i < n) cubic(out + i, p0 + i, p1 + i, p2 + i, p3 + i, n - i, w);
}

inline __m512i lanczosValues(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const __m512d taps[4],
                             __m512d norm) {
    Doubles16 v = tapSum(p0, p1, p2, p3, taps);
    v.lo = _mm512_mul_pd(v.lo, norm);
    v.hi = _mm512_mul_pd(v.hi, norm);
    return truncateClamp(v);
}

void lanczos16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    __m512d taps[4];
    broadcastTaps(w, taps);
    const __m512d norm = _mm512_set1_pd(w.normaliser);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) store16(out + i, lanczosValues(p0 + i, p1 + i, p2 + i, p3 + i, taps, norm));
    if (i < n) lanczos(out + i, p0 + i, p1 + i, p2 + i, p3 + i, n - i, w);
}

// from + sign(to - from) * ((|to - from| * multiplier) >> 16): one BlendTable lookup.
inline __m512i blendLanes(__m512i from, __m512i to, __m512i multiplier) {
    const __m512i d = _mm512_sub_epi32(to, from);
    const __m512i q = _mm512_srli_epi32(_mm512_mullo_epi32(_mm512_abs_epi32(d), multiplier), 16);
    const __mmask16 negative = _mm512_cmplt_epi32_mask(d, _mm512_setzero_si512());
    return _mm512_mask_sub_epi32(_mm512_add_epi32(from, q), negative, from, q);
}

// The mixing multiplier of |P2 - P1| stops changing once the motion reaches
// the span (7, 31 or 127), so up to 128 entries in registers replace a
// gather: one two-register permute per 32 entries.
struct MixLookup {
    int groups = 0;  // 32-entry groups in registers; 0 = use a gather
    __m512i last;    // index of the first entry equal to all after it
    __m512i table[8];
};

inline MixLookup prepareMixLookup(const std::uint32_t* mix) {
    MixLookup lookup;
    int saturated = 255;
    while (saturated > 0 && mix[saturated - 1] == mix[255]) --saturated;
    const int groups = (saturated + 1 + 31) / 32;
    if (groups > 4) return lookup;
    lookup.groups = groups;
    lookup.last = _mm512_set1_epi32(saturated);
    for (int i = 0; i < 2 * groups; ++i) lookup.table[i] = _mm512_loadu_si512(mix + 16 * i);
    return lookup;
}

inline __m512i mixMultiplier(const MixLookup& lookup, __m512i magnitude, const int* mix) {
    if (lookup.groups == 0) return _mm512_i32gather_epi32(magnitude, mix, 4);
    const __m512i index = _mm512_min_epi32(magnitude, lookup.last);
    __m512i result = _mm512_permutex2var_epi32(lookup.table[0], index, lookup.table[1]);
    const __m512i group = _mm512_srli_epi32(index, 5);
    for (int g = 1; g < lookup.groups; ++g) {
        const __mmask16 inGroup = _mm512_cmpeq_epi32_mask(group, _mm512_set1_epi32(g));
        result = _mm512_mask_mov_epi32(result, inGroup,
                                       _mm512_permutex2var_epi32(lookup.table[2 * g], index, lookup.table[2 * g + 1]));
    }
    return result;
}

void lansin16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w) {
    __m512d taps[4];
    broadcastTaps(w.lanczos, taps);
    const __m512d norm = _mm512_set1_pd(w.lanczos.normaliser);
    const __m512i sineMultiplier = _mm512_set1_epi32(static_cast<int>(w.sine.multiplier));
    const int* mix = reinterpret_cast<const int*>(w.multiplierByDifference);
    const MixLookup lookup = prepareMixLookup(w.multiplierByDifference);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i v = lanczosValues(p0 + i, p1 + i, p2 + i, p3 + i, taps, norm);
        const __m512i a = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + i)));
        const __m512i b = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p2 + i)));
        const __m512i s = blendLanes(a, b, sineMultiplier);
        const __m512i motion = mixMultiplier(lookup, _mm512_abs_epi32(_mm512_sub_epi32(b, a)), mix);
        store16(out + i, blendLanes(s, v, motion));
    }
    if (i < n) lansin(out + i, p0 + i, p1 + i, p2 + i, p3 + i, n - i, w);
}

}  // namespace
}  // namespace fast_avx512

// The blends and medians stay those of AVX2: their 16-bit and byte lanes
// already do 32 samples per instruction.
void OverrideMotionWarp_avx512(RowKernels& k);

void OverrideRowKernels_avx512(RowKernels& k) {
    OverrideMotionWarp_avx512(k);
    using namespace fast_avx512;
    k.cubic = cubic16;
    k.lanczos = lanczos16;
    k.lansin = lansin16;
}
