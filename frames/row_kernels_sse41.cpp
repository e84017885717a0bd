// Fast loops for CPUs with SSE4.1 but no AVX2 (compiled with -msse4.1 only:
// no FMA, whose fused rounding would differ from the reference). The AVX2
// file gives the reasoning of the blends; they run here in 16-bit lanes with
// SSSE3's word abs and sign. The four-tap sums run in 32-bit fixed point
// (row_kernels_fast.inc gives the bound) four samples to a register, and
// Lansin's mixing multiplier comes from byte shuffles instead of a lookup
// per sample. Everything else is the SSE2 level's.
#define TAVRICK_FAST_NAMESPACE fast_sse41
#include "frames/row_kernels_fast.inc"
// After the generic loops: it builds on them.
#include "frames/row_kernels_sse41.inc"

namespace fast_sse41 {
namespace {

// The multiplier is below 65536, so q <= |to - from| and the result stays
// between from and to.
inline __m128i blendWords(__m128i from, __m128i to, __m128i multiplier) {
    const __m128i d = _mm_sub_epi16(to, from);
    const __m128i q = _mm_mulhi_epu16(_mm_abs_epi16(d), multiplier);
    return _mm_add_epi16(from, _mm_sign_epi16(q, d));
}

inline __m128i blendBytes(__m128i a, __m128i b, __m128i multiplier) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = blendWords(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), multiplier);
    const __m128i hi = blendWords(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), multiplier);
    return _mm_packus_epi16(lo, hi);
}

void blend16(u8* out, const u8* a, const u8* b, size_t n, const BlendWeights& w) {
    if (n < 16) return blend(out, a, b, n, w);
    const __m128i m = _mm_set1_epi16(static_cast<short>(w.multiplier));
    overlappedSteps<16>(n, [&](size_t i) { store16(out + i, blendBytes(load16(a + i), load16(b + i), m)); });
}

struct FixedWeights {
    __m128i w0, w1, w2, w3, margin;
};

template <bool normalised>
inline bool prepareFixed(FixedWeights& f, const TapWeights& w) {
    int weights[4], margin;
    if (!fixedTapWeights<normalised>(w, weights, margin)) return false;
    f = {_mm_set1_epi32(weights[0]), _mm_set1_epi32(weights[1]), _mm_set1_epi32(weights[2]), _mm_set1_epi32(weights[3]),
         _mm_set1_epi32(margin)};
    return true;
}

inline __m128i fourSamples(const u8* p) {
    int bytes;
    std::memcpy(&bytes, p, 4);
    return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes));
}

// Samples the fixed point left undecided (clear bits of `decided`): flat
// ones from the table, the others in double.
template <bool normalised>
[[gnu::noinline]] __m128i undecidedSixteen(const u8* p0, const u8* p1, const u8* p2, const u8* p3, __m128i fixed,
                                           int decided, RareTaps& r) {
    alignas(16) u8 bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), fixed);
    for (int j = 0; j < 16; ++j) {
        if (decided & (1 << j)) continue;
        if (p0[j] == p1[j] && p1[j] == p2[j] && p2[j] == p3[j]) {
            if (!r.flat) r.flat = &FlatTableFor<normalised>(*r.weights);
            bytes[j] = static_cast<u8>(r.flat->value[p1[j]]);
        } else {
            bytes[j] = static_cast<u8>(referenceByte<normalised>(p0[j], p1[j], p2[j], p3[j], *r.weights));
        }
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

template <bool normalised>
inline __m128i tapSixteen(const u8* p0, const u8* p1, const u8* p2, const u8* p3, const FixedWeights& f, RareTaps& r) {
    if (__m128i flat; flatTaps<normalised>(flat, p0, p1, p2, p3, r)) return flat;
    __m128i value[4], decided[4];
    for (int q = 0; q < 4; ++q) {
        const int at = 4 * q;
        __m128i x =
            _mm_add_epi32(_mm_mullo_epi32(fourSamples(p0 + at), f.w0), _mm_mullo_epi32(fourSamples(p1 + at), f.w1));
        x = _mm_add_epi32(x, _mm_mullo_epi32(fourSamples(p2 + at), f.w2));
        x = _mm_add_epi32(x, _mm_mullo_epi32(fourSamples(p3 + at), f.w3));
        value[q] = _mm_srai_epi32(_mm_sub_epi32(x, f.margin), fixedBits);
        decided[q] = _mm_cmpeq_epi32(value[q], _mm_srai_epi32(_mm_add_epi32(x, f.margin), fixedBits));
    }
    // Saturating packs: the reference's clamp to 0..255; the masks stay all ones or zero.
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(value[0], value[1]), _mm_packs_epi32(value[2], value[3]));
    const int decidedBits = _mm_movemask_epi8(
        _mm_packs_epi16(_mm_packs_epi32(decided[0], decided[1]), _mm_packs_epi32(decided[2], decided[3])));
    if (decidedBits == 0xFFFF) return bytes;
    return undecidedSixteen<normalised>(p0, p1, p2, p3, bytes, decidedBits, r);
}

template <bool normalised>
void taps16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const TapWeights& w) {
    FixedWeights f;
    if (n < 16 || !prepareFixed<normalised>(f, w))
        return normalised ? lanczos(out, p0, p1, p2, p3, n, w) : cubic(out, p0, p1, p2, p3, n, w);
    RareTaps r(w);
    overlappedSteps<16>(
        n, [&](size_t i) { store16(out + i, tapSixteen<normalised>(p0 + i, p1 + i, p2 + i, p3 + i, f, r)); });
}

// Spans over 127 (none in the product) look the multipliers up per sample.
[[gnu::noinline]] void lookupMultipliers(__m128i& lo, __m128i& hi, const u8* p1, const u8* p2,
                                         const std::uint32_t* mix) {
    alignas(16) std::uint16_t motion[16];
    for (int j = 0; j < 16; ++j) {
        const int d = p2[j] - p1[j];
        motion[j] = static_cast<std::uint16_t>(mix[d < 0 ? -d : d]);
    }
    lo = _mm_load_si128(reinterpret_cast<const __m128i*>(motion));
    hi = _mm_load_si128(reinterpret_cast<const __m128i*>(motion + 8));
}

void lansin16(u8* out, const u8* p0, const u8* p1, const u8* p2, const u8* p3, size_t n, const LansinWeights& w) {
    FixedWeights f;
    if (n < 16 || !prepareFixed<true>(f, w.lanczos)) return lansin(out, p0, p1, p2, p3, n, w);
    RareTaps r(w.lanczos);
    MixTables mix;
    prepareMixTables(mix, w.multiplierByDifference);
    const __m128i last = _mm_set1_epi8(static_cast<char>(mix.last));
    const __m128i sineMultiplier = _mm_set1_epi16(static_cast<short>(w.sine.multiplier));
    const __m128i zero = _mm_setzero_si128();
    overlappedSteps<16>(n, [&](size_t i) {
        const __m128i v = tapSixteen<true>(p0 + i, p1 + i, p2 + i, p3 + i, f, r);
        const __m128i a = load16(p1 + i), b = load16(p2 + i);
        __m128i motionLo, motionHi;
        if (mix.groups) {
            const __m128i index = _mm_min_epu8(_mm_sub_epi8(_mm_max_epu8(a, b), _mm_min_epu8(a, b)), last);
            __m128i low = zero, high = zero;
            for (int g = 0; g < mix.groups; ++g) {
                const __m128i local = _mm_sub_epi8(index, _mm_set1_epi8(static_cast<char>(16 * g)));
                low = _mm_xor_si128(
                    low, _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(mix.low[g])), local));
                high = _mm_xor_si128(
                    high, _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(mix.high[g])), local));
            }
            motionLo = _mm_unpacklo_epi8(low, high);
            motionHi = _mm_unpackhi_epi8(low, high);
        } else {
            lookupMultipliers(motionLo, motionHi, p1 + i, p2 + i, w.multiplierByDifference);
        }
        const __m128i sLo = blendWords(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), sineMultiplier);
        const __m128i sHi = blendWords(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), sineMultiplier);
        const __m128i lo = blendWords(sLo, _mm_unpacklo_epi8(v, zero), motionLo);
        const __m128i hi = blendWords(sHi, _mm_unpackhi_epi8(v, zero), motionHi);
        store16(out + i, _mm_packus_epi16(lo, hi));
    });
}

}  // namespace
}  // namespace fast_sse41

void OverrideMotionWarp_sse41(RowKernels& k);

void OverrideRowKernels_sse41(RowKernels& k) {
    OverrideMotionWarp_sse41(k);
    using namespace fast_sse41;
    k.blend = blend16;
    k.cubic = taps16<false>;
    k.lanczos = taps16<true>;
    k.lansin = lansin16;
}
