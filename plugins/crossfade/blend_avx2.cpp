// The 24-bit blend as an exact product, 32 bytes at a time, and the depth conversions sixteen
// pixels at a time (byte shuffles, which AVX2 processors all have).
#include "blend_runs.h"

#include "kernel_support.h"

namespace {

// As the 16-byte form: target - sign(d) * q(|d|) modulo 256 in 16-bit lanes. Unpacking and
// packing work within each 128-bit half, so the byte order is kept.
template <bool Wide>
MIVRA_AVX2 __m256i BlendLanes(__m256i t, __m256i o, __m256i high, __m256i low) {
    const __m256i d = _mm256_sub_epi16(t, o);
    const __m256i magnitude = _mm256_abs_epi16(d);
    __m256i q = _mm256_mulhi_epu16(magnitude, low);
    if constexpr (Wide)
        q = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(magnitude, high), q), 8);
    return _mm256_and_si256(_mm256_sub_epi16(t, _mm256_sign_epi16(q, d)), _mm256_set1_epi16(0xFF));
}

template <bool Wide>
MIVRA_AVX2 size_t BlendBytes(uint8_t* target, const uint8_t* other, size_t count, int64_t m) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i high = _mm256_set1_epi16(static_cast<short>(m >> 16));
    const __m256i low = _mm256_set1_epi16(static_cast<short>(m & 0xFFFF));
    size_t k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i t = Load256(target + k), o = Load256(other + k);
        const __m256i first = BlendLanes<Wide>(_mm256_unpacklo_epi8(t, zero),
                                               _mm256_unpacklo_epi8(o, zero), high, low);
        const __m256i second = BlendLanes<Wide>(_mm256_unpackhi_epi8(t, zero),
                                                _mm256_unpackhi_epi8(o, zero), high, low);
        Store256(target + k, _mm256_packus_epi16(first, second));
    }
    return k;
}

// Four pixels (blue, green, red, 0) in 32-bit lanes into 5-5-5 words.
MIVRA_AVX2 __m128i NarrowLanes(__m128i q) {
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(q, 3), _mm_set1_epi32(0x1F));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(q, 6), _mm_set1_epi32(0x3E0));
    const __m128i red = _mm_and_si128(_mm_srli_epi32(q, 9), _mm_set1_epi32(0x7C00));
    return _mm_or_si128(blue, _mm_or_si128(green, red));
}

// Four 5-5-5 words in 32-bit lanes into 12 packed bytes (blue, green, red each).
MIVRA_AVX2 __m128i WidenLanes(__m128i w) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i blue = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x1F)), 3);
    const __m128i green = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x3E0)), 6);
    const __m128i red = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x7C00)), 9);
    return _mm_shuffle_epi8(_mm_or_si128(blue, _mm_or_si128(green, red)), pack);
}

} // namespace

// The rest, and ratios without an exact product, by the table.
MIVRA_AVX2 void Blend24Avx2(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ExactProduct product = FindExactProduct(ratio);
    size_t done = 0;
    if (product.bits == 16) done = BlendBytes<false>(target, other, count, product.multiplier);
    if (product.bits == 24) done = BlendBytes<true>(target, other, count, product.multiplier);
    Blend24Plain(target + done, other + done, count - done, ratio);
}

MIVRA_AVX2 void Narrow24To16Avx2(const uint8_t* in, uint8_t* out, size_t pixels) {
    // Four pixels of 12 bytes into the low three bytes of four 32-bit lanes.
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    size_t done = 0;
    for (; done + 16 <= pixels; done += 16, in += 48, out += 32) {
        const __m128i a0 = Load128(in), a1 = Load128(in + 16), a2 = Load128(in + 32);
        const __m128i w0 = NarrowLanes(_mm_shuffle_epi8(a0, spread));
        const __m128i w1 = NarrowLanes(_mm_shuffle_epi8(_mm_alignr_epi8(a1, a0, 12), spread));
        const __m128i w2 = NarrowLanes(_mm_shuffle_epi8(_mm_alignr_epi8(a2, a1, 8), spread));
        const __m128i w3 = NarrowLanes(_mm_shuffle_epi8(_mm_srli_si128(a2, 4), spread));
        Store128(out, _mm_packs_epi32(w0, w1));
        Store128(out + 16, _mm_packs_epi32(w2, w3));
    }
    Narrow24To16Plain(in, out, pixels - done);
}

MIVRA_AVX2 void Widen16To24Avx2(const uint8_t* in, uint8_t* out, size_t pixels) {
    const __m128i zero = _mm_setzero_si128();
    size_t done = 0;
    for (; done + 16 <= pixels; done += 16, in += 32, out += 48) {
        const __m128i u0 = Load128(in), u1 = Load128(in + 16);
        const __m128i c0 = WidenLanes(_mm_unpacklo_epi16(u0, zero));
        const __m128i c1 = WidenLanes(_mm_unpackhi_epi16(u0, zero));
        const __m128i c2 = WidenLanes(_mm_unpacklo_epi16(u1, zero));
        const __m128i c3 = WidenLanes(_mm_unpackhi_epi16(u1, zero));
        Store128(out, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        Store128(out + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        Store128(out + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }
    Widen16To24Plain(in, out, pixels - done);
}
