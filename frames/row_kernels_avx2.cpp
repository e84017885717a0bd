// Fast loops for AVX2 (compiled with -mavx2 and without FMA: a fused
// multiply-add would round differently from the reference).
//
// Blends run in 16-bit lanes: a BlendTable lookup is
// from + sign(d) * ((|d| * multiplier) >> 16), and with the multiplier below
// 65536 the high half of a 16 x 16-bit product is exactly that shift. The
// four-tap kernels work in fixed point where it provably lands on the
// reference's byte, and otherwise in double with the reference's multiplies
// and adds in its order (see below).
//
// Frames shorter than one vector go to the generic loops; longer ones end
// with one vector that overlaps the previous, which rewrites the same bytes
// (outputs never alias inputs).
#define TAVRICK_FAST_NAMESPACE fast_avx2
#include "frames/row_kernels_fast.inc"
// After the generic loops: it builds on them.
#include "frames/row_kernels_sse41.inc"

#include <immintrin.h>

#include <cstring>

namespace fast_avx2 {
namespace {

inline __m256i load32(const u8* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void store32(u8* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

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
    overlappedSteps<32>(
        n, [&](size_t i) { store32(out + i, median3Bytes(load32(m0 + i), load32(m1 + i), load32(m2 + i))); });
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
        : w0(_mm256_set1_pd(w.w[0])),
          w1(_mm256_set1_pd(w.w[1])),
          w2(_mm256_set1_pd(w.w[2])),
          w3(_mm256_set1_pd(w.w[3])),
          norm(_mm256_set1_pd(w.normaliser)) {}
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

// The four-tap sums in fixed point (row_kernels_fast.inc gives the bound).
// The hot loop holds the fixed weights in registers; what it rarely needs
// (the flat table, the double path) sits behind a pointer and out of line.
struct FixedWeights {
    __m256i w0, w1, w2, w3, margin;
};

template <bool normalised>
inline bool prepareFixed(FixedWeights& f, const TapWeights& w) {
    int weights[4], margin;
    if (!fixedTapWeights<normalised>(w, weights, margin)) return false;
    f = {_mm256_set1_epi32(weights[0]), _mm256_set1_epi32(weights[1]), _mm256_set1_epi32(weights[2]),
         _mm256_set1_epi32(weights[3]), _mm256_set1_epi32(margin)};
    return true;
}

inline __m256i eightSamples(const u8* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// Eight results in double, the reference's multiplies and adds in its order.
template <bool normalised>
[[gnu::noinline]] __m256i doubleEight(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const TapWeights& w) {
    const Taps t(w);
    return _mm256_set_m128i(tapFour<normalised>(p0 + 4, p1 + 4, p2 + 4, p3 + 4, t),
                            tapFour<normalised>(p0, p1, p2, p3, t));
}

// Eight samples the fixed point left undecided (`decided` marks the others).
template <bool normalised>
[[gnu::noinline]] __m256i undecidedEight(const u8* p0, const u8* p1, const u8* p2, const u8* p3, __m256i fixed,
                                         __m256i decided, RareTaps& r) {
    const __m256i a = eightSamples(p0), b = eightSamples(p1), c = eightSamples(p2), d = eightSamples(p3);
    const __m256i flat = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(a, b), _mm256_cmpeq_epi32(b, c)),
                                          _mm256_cmpeq_epi32(c, d));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(decided, flat))) != 0xFF)
        return doubleEight<normalised>(p0, p1, p2, p3, *r.weights);
    if (!r.flat) r.flat = &FlatTableFor<normalised>(*r.weights);
    return _mm256_blendv_epi8(_mm256_i32gather_epi32(r.flat->value, a, 4), fixed, decided);
}

// Eight results as 32-bit integers, saturated to 0..255 by the caller.
template <bool normalised>
inline __m256i tapEight(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const FixedWeights& f, RareTaps& r) {
    __m256i x =
        _mm256_add_epi32(_mm256_mullo_epi32(eightSamples(p0), f.w0), _mm256_mullo_epi32(eightSamples(p1), f.w1));
    x = _mm256_add_epi32(x, _mm256_mullo_epi32(eightSamples(p2), f.w2));
    x = _mm256_add_epi32(x, _mm256_mullo_epi32(eightSamples(p3), f.w3));
    const __m256i low = _mm256_srai_epi32(_mm256_sub_epi32(x, f.margin), fixedBits);
    const __m256i high = _mm256_srai_epi32(_mm256_add_epi32(x, f.margin), fixedBits);
    const __m256i decided = _mm256_cmpeq_epi32(low, high);
    if (_mm256_movemask_ps(_mm256_castsi256_ps(decided)) == 0xFF) return low;
    return undecidedEight<normalised>(p0, p1, p2, p3, low, decided, r);
}

// Sixteen bytes from two sets of eight 32-bit results; saturating gives 0..255.
inline __m128i packSixteen(__m256i lo, __m256i hi) {
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

template <bool normalised>
inline __m128i tapSixteen(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const FixedWeights& f, RareTaps& r) {
    if (__m128i flat; flatTaps<normalised>(flat, p0, p1, p2, p3, r)) return flat;
    return packSixteen(tapEight<normalised>(p0, p1, p2, p3, f, r),
                       tapEight<normalised>(p0 + 8, p1 + 8, p2 + 8, p3 + 8, f, r));
}

// Sixteen results in double, for weights the fixed point can't hold.
template <bool normalised>
void doubleTaps16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    const Taps t(w);
    overlappedSteps<16>(n, [&](size_t i) {
        const auto eight = [&](size_t j) {
            return _mm256_set_m128i(tapFour<normalised>(p0 + j + 4, p1 + j + 4, p2 + j + 4, p3 + j + 4, t),
                                    tapFour<normalised>(p0 + j, p1 + j, p2 + j, p3 + j, t));
        };
        store16(out + i, packSixteen(eight(i), eight(i + 8)));
    });
}

template <bool normalised>
void taps16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    if (n < 16) return normalised ? lanczos(out, p0, p1, p2, p3, n, w) : cubic(out, p0, p1, p2, p3, n, w);
    FixedWeights f;
    if (!prepareFixed<normalised>(f, w)) return doubleTaps16<normalised>(out, p0, p1, p2, p3, n, w);
    RareTaps r(w);
    overlappedSteps<16>(
        n, [&](size_t i) { store16(out + i, tapSixteen<normalised>(p0 + i, p1 + i, p2 + i, p3 + i, f, r)); });
}

// The mixing multiplier of |P2 - P1| for sixteen samples, as 16-bit lanes.
inline __m256i gatherMultipliers(__m256i magnitude, const int* mix) {
    const __m256i lo = _mm256_i32gather_epi32(mix, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(magnitude)), 4);
    const __m256i hi = _mm256_i32gather_epi32(mix, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(magnitude, 1)), 4);
    // Multipliers are below 65536: the unsigned pack keeps them; it works per
    // 128-bit lane, so the quarters are put back in order.
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
}

// The mixing multiplier's shuffle tables in both 128-bit lanes.
struct MixShuffle {
    int groups = 0;  // 0: gather
    __m256i last;
    __m256i low[8], high[8];
};

inline void prepareMixShuffle(MixShuffle& s, const std::uint32_t* mix) {
    MixTables t;
    prepareMixTables(t, mix);
    s.groups = t.groups;
    s.last = _mm256_set1_epi8(static_cast<char>(t.last));
    for (int g = 0; g < t.groups; ++g) {
        s.low[g] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.low[g])));
        s.high[g] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.high[g])));
    }
}

// The mixing multipliers of 32 samples' |P2 - P1|: from `groups` shuffle
// tables (a count the compiler unrolls), or gathered when groups is 0.
template <int groups>
inline void mixMultipliers(__m256i magnitude, const MixShuffle& shuffle, const int* mix, __m256i& motionLo,
                           __m256i& motionHi) {
    if constexpr (groups > 0) {
        const __m256i index = _mm256_min_epu8(magnitude, shuffle.last);
        __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
        for (int g = 0; g < groups; ++g) {
            const __m256i local = _mm256_sub_epi8(index, _mm256_set1_epi8(static_cast<char>(16 * g)));
            low = _mm256_xor_si256(low, _mm256_shuffle_epi8(shuffle.low[g], local));
            high = _mm256_xor_si256(high, _mm256_shuffle_epi8(shuffle.high[g], local));
        }
        motionLo = _mm256_unpacklo_epi8(low, high);
        motionHi = _mm256_unpackhi_epi8(low, high);
    } else {
        // Gathered in memory order; the blends work on the in-lane halves
        // that unpacking gives.
        const __m256i first = gatherMultipliers(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(magnitude)), mix);
        const __m256i second = gatherMultipliers(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(magnitude, 1)), mix);
        motionLo = _mm256_permute2x128_si256(first, second, 0x20);
        motionHi = _mm256_permute2x128_si256(first, second, 0x31);
    }
}

template <int groups>
void lansinSteps(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w,
                 const FixedWeights& f, RareTaps& r, const MixShuffle& shuffle) {
    const __m256i sineMultiplier = _mm256_set1_epi16(static_cast<short>(w.sine.multiplier));
    const int* mix = reinterpret_cast<const int*>(w.multiplierByDifference);
    const __m256i zero = _mm256_setzero_si256();
    overlappedSteps<32>(n, [&](size_t i) {
        const __m256i v = _mm256_set_m128i(tapSixteen<true>(p0 + i + 16, p1 + i + 16, p2 + i + 16, p3 + i + 16, f, r),
                                           tapSixteen<true>(p0 + i, p1 + i, p2 + i, p3 + i, f, r));
        const __m256i a = load32(p1 + i), b = load32(p2 + i);
        __m256i motionLo, motionHi;
        mixMultipliers<groups>(_mm256_sub_epi8(_mm256_max_epu8(a, b), _mm256_min_epu8(a, b)), shuffle, mix, motionLo,
                               motionHi);
        const __m256i sLo = blendWords(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), sineMultiplier);
        const __m256i sHi = blendWords(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), sineMultiplier);
        const __m256i lo = blendWords(sLo, _mm256_unpacklo_epi8(v, zero), motionLo);
        const __m256i hi = blendWords(sHi, _mm256_unpackhi_epi8(v, zero), motionHi);
        store32(out + i, _mm256_packus_epi16(lo, hi));
    });
}

void lansin32(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w) {
    if (n < 32) return lansin(out, p0, p1, p2, p3, n, w);
    FixedWeights f;
    if (!prepareFixed<true>(f, w.lanczos)) return lansin(out, p0, p1, p2, p3, n, w);
    RareTaps r(w.lanczos);
    MixShuffle shuffle;
    prepareMixShuffle(shuffle, w.multiplierByDifference);
    // The product's spans (7, 31, 127) need 1, 2 or 8 groups.
    switch (shuffle.groups) {
        case 1: return lansinSteps<1>(out, p0, p1, p2, p3, n, w, f, r, shuffle);
        case 2: return lansinSteps<2>(out, p0, p1, p2, p3, n, w, f, r, shuffle);
        case 8: return lansinSteps<8>(out, p0, p1, p2, p3, n, w, f, r, shuffle);
        default: break;
    }
    if (shuffle.groups == 0) return lansinSteps<0>(out, p0, p1, p2, p3, n, w, f, r, shuffle);
    // Other spans: the tables up to eight groups; the groups past the last are
    // all zero and leave the multiplier as it is.
    for (int g = shuffle.groups; g < 8; ++g) shuffle.low[g] = shuffle.high[g] = _mm256_setzero_si256();
    lansinSteps<8>(out, p0, p1, p2, p3, n, w, f, r, shuffle);
}

}  // namespace
}  // namespace fast_avx2

void OverrideMotionWarp_avx2(RowKernels& k);

void OverrideRowKernels_avx2(RowKernels& k) {
    OverrideMotionWarp_avx2(k);
    using namespace fast_avx2;
    k.blend = blend32;
    k.cubic = taps16<false>;
    k.lanczos = taps16<true>;
    k.lansin = lansin32;
    k.median3 = median3x32;
    k.median5 = median5x32;
}
