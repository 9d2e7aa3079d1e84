// The 24-bit blend as an exact product, sixteen bytes at a time.
#include "blend_runs.h"

#include "kernel_support.h"

namespace {

// Eight bytes widened to 16 bits: target - sign(d) * q(|d|), modulo 256. q is (|d| * m) >> 16
// for a 16-bit m, or (|d| * m) >> 24 for a 24-bit m split into its high and low halves (the
// high product stays below 65281 and the sum below 65536).
template <bool Wide> __m128i BlendLanes(__m128i t, __m128i o, __m128i high, __m128i low) {
    const __m128i d = _mm_sub_epi16(t, o);
    const __m128i negative = _mm_srai_epi16(d, 15);
    const __m128i magnitude = _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
    __m128i q = _mm_mulhi_epu16(magnitude, low);
    if constexpr (Wide) q = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(magnitude, high), q), 8);
    const __m128i signedQ = _mm_sub_epi16(_mm_xor_si128(q, negative), negative);
    return _mm_and_si128(_mm_sub_epi16(t, signedQ), _mm_set1_epi16(0xFF));
}

// Returns how many bytes it blended.
template <bool Wide>
size_t BlendBytes(uint8_t* target, const uint8_t* other, size_t count, int64_t m) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_set1_epi16(static_cast<short>(m >> 16));
    const __m128i low = _mm_set1_epi16(static_cast<short>(m & 0xFFFF));
    size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i t = Load128(target + k), o = Load128(other + k);
        const __m128i first =
            BlendLanes<Wide>(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(o, zero), high, low);
        const __m128i second =
            BlendLanes<Wide>(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(o, zero), high, low);
        Store128(target + k, _mm_packus_epi16(first, second));
    }
    return k;
}

} // namespace

// The rest, and ratios without an exact product, by the table.
void Blend24Sse2(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ExactProduct product = FindExactProduct(ratio);
    size_t done = 0;
    if (product.bits == 16) done = BlendBytes<false>(target, other, count, product.multiplier);
    if (product.bits == 24) done = BlendBytes<true>(target, other, count, product.multiplier);
    Blend24Plain(target + done, other + done, count - done, ratio);
}
