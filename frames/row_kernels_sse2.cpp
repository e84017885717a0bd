// Fast loops compiled for sse2 (flags set in CMakeLists.txt): the vectorised
// generic loops, and the blends written by hand in 16-bit lanes (see the AVX2
// file for why the high half of the product is the table entry).
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

}  // namespace
}  // namespace fast_sse2

void OverrideRowKernels_sse2(RowKernels& k) {
    using namespace fast_sse2;
    // The vectorised generic Lansin is no faster than the reference here.
    k.blend = blend16;
    k.cubic = cubic;
    k.lanczos = lanczos;
    k.median3 = median3;
    k.median5 = median5;
}
