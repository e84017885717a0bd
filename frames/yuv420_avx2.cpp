// The conversion's loops with AVX2: 32 pixels at a time, deinterleaved once
// with byte shuffles for luma and chroma, the weighted sums taken with
// 16-bit multiply-adds into exact 32-bit sums (every weight and offset is
// split into 16-bit factors); the vectoriser's loops for the filter and the
// ends of rows.
#include <immintrin.h>

#include "frames/yuv420.h"
#include "frames/yuv420_loops.inc"

namespace {

// Byte shuffles gathering one channel of 16 pixels (48 bytes in three
// loads of 16): each takes its share from one load, -1 zeroes the rest.
__m256i Mask(const signed char (&m)[16]) {
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m));
    return _mm256_broadcastsi128_si256(half);
}

// The channel at `offset` (0 B, 1 G, 2 R) of 16 pixels per lane.
__m256i Channel(__m256i a, __m256i b, __m256i c, int offset) {
    signed char ma[16], mb[16], mc[16];
    for (int i = 0; i < 16; ++i) {
        const int at = 3 * i + offset;  // byte of pixel i within the 48
        ma[i] = at < 16 ? static_cast<signed char>(at) : -1;
        mb[i] = at >= 16 && at < 32 ? static_cast<signed char>(at - 16) : -1;
        mc[i] = at >= 32 ? static_cast<signed char>(at - 32) : -1;
    }
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, Mask(ma)), _mm256_shuffle_epi8(b, Mask(mb))),
                           _mm256_shuffle_epi8(c, Mask(mc)));
}

// Eight 32-bit sums w1 * p + w2 * q + w3 * s + k1 * k2 of 16-bit lanes
// (low or high half of each lane's eight).
template <bool high>
__m256i Weighted(__m256i p, __m256i q, __m256i s, __m256i w12, __m256i w3k, __m256i k1) {
    const __m256i pq = high ? _mm256_unpackhi_epi16(p, q) : _mm256_unpacklo_epi16(p, q);
    const __m256i sk = high ? _mm256_unpackhi_epi16(s, k1) : _mm256_unpacklo_epi16(s, k1);
    return _mm256_add_epi32(_mm256_madd_epi16(pq, w12), _mm256_madd_epi16(sk, w3k));
}

// Both halves weighted, shifted down and packed back to 16 bits.
template <int shift>
__m256i WeightedPacked(__m256i p, __m256i q, __m256i s, __m256i w12, __m256i w3k, __m256i k1) {
    return _mm256_packs_epi32(_mm256_srai_epi32(Weighted<false>(p, q, s, w12, w3k, k1), shift),
                              _mm256_srai_epi32(Weighted<true>(p, q, s, w12, w3k, k1), shift));
}

__m256i Pair(int low, int high) {
    return _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(high) << 16) | (low & 0xFFFF)));
}

void RowAvx2(const std::uint8_t* bgr, std::uint8_t* luma, std::int16_t* u, std::int16_t* v, int width) {
    // The offsets as 16-bit products: yOffset = 2113 * 256, cOffset = 16385 * 512.
    static_assert(yOffset == 2113 * 256 && cOffset == 16385 * 512);
    const __m256i yRG = Pair(yr, yg), yBK = Pair(yb, 256), yK = _mm256_set1_epi16(2113);
    const __m256i uRG = Pair(ur, ug), uBK = Pair(ub, 512), vRG = Pair(vr, vg), vBK = Pair(vb, 512);
    const __m256i cK = _mm256_set1_epi16(16385), ones = _mm256_set1_epi8(1), zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const std::uint8_t* p = bgr + 3 * x;
        // Lane 0 holds pixels x .. x + 15, lane 1 the next 16.
        const auto load = [&](int at) {
            return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 48 + at),
                                       reinterpret_cast<const __m128i*>(p + at));
        };
        const __m256i a = load(0), b = load(16), c = load(32);
        const __m256i B = Channel(a, b, c, 0), G = Channel(a, b, c, 1), R = Channel(a, b, c, 2);

        // Luma: pixels 0-7 and 8-15 of each lane as 16-bit, then 32-bit sums.
        const __m256i r0 = _mm256_unpacklo_epi8(R, zero), g0 = _mm256_unpacklo_epi8(G, zero),
                      b0 = _mm256_unpacklo_epi8(B, zero);
        const __m256i r1 = _mm256_unpackhi_epi8(R, zero), g1 = _mm256_unpackhi_epi8(G, zero),
                      b1 = _mm256_unpackhi_epi8(B, zero);
        const __m256i y0 = WeightedPacked<15>(r0, g0, b0, yRG, yBK, yK);
        const __m256i y1 = WeightedPacked<15>(r1, g1, b1, yRG, yBK, yK);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + x), _mm256_packus_epi16(y0, y1));

        // Chroma: each pair's channel sums (eight pairs per lane), then the weights.
        const __m256i rs = _mm256_maddubs_epi16(R, ones), gs = _mm256_maddubs_epi16(G, ones),
                      bs = _mm256_maddubs_epi16(B, ones);
        const __m256i uw = WeightedPacked<10>(rs, gs, bs, uRG, uBK, cK);
        const __m256i vw = WeightedPacked<10>(rs, gs, bs, vRG, vBK, cK);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(u + x / 2), uw);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + x / 2), vw);
    }
    if (x < width) Row(bgr + 3 * x, luma + x, u + x / 2, v + x / 2, width - x);
}

// Sixteen outputs at a time: rows taken in pairs for the multiply-adds.
void ChromaFilterAvx2(const std::int16_t* const rows[8], std::uint8_t* out, int n) {
    const __m256i t01 = Pair(taps[0], taps[1]), t23 = Pair(taps[2], taps[3]), t45 = Pair(taps[4], taps[5]),
                  t67 = Pair(taps[6], taps[7]), half = _mm256_set1_epi32(1 << 17);
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const auto at = [&](int row) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[row] + x)); };
        const __m256i r0 = at(0), r1 = at(1), r2 = at(2), r3 = at(3), r4 = at(4), r5 = at(5), r6 = at(6), r7 = at(7);
        const auto sum = [&](auto unpack) {
            const __m256i s = _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(unpack(r0, r1), t01), _mm256_madd_epi16(unpack(r2, r3), t23)),
                _mm256_add_epi32(_mm256_madd_epi16(unpack(r4, r5), t45), _mm256_madd_epi16(unpack(r6, r7), t67)));
            return _mm256_srai_epi32(_mm256_add_epi32(s, half), 18);
        };
        const __m256i words = _mm256_packs_epi32(sum([](__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }),
                                                 sum([](__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }));
        // Saturating to bytes is the clamp to 0..255; then the two lanes' halves together.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(bytes));
    }
    if (x < n) {
        const std::int16_t* rest[8];
        for (int row = 0; row < 8; ++row) rest[row] = rows[row] + x;
        ChromaFilter(rest, out + x, n - x);
    }
}

}  // namespace

Yuv420Loops Yuv420Loops_avx2() { return Yuv420Loops{RowAvx2, ChromaFilterAvx2}; }
