// The key replacement sixteen pixels (48 bytes, three vectors) per step, so that the key
// pattern keeps its phase and no store overlaps the next load.
#include "key_runs.h"

#include "kernel_support.h"

namespace {

__m128i Select(__m128i select, __m128i chosen, __m128i other) {
    return _mm_or_si128(_mm_and_si128(select, chosen), _mm_andnot_si128(select, other));
}

} // namespace

void KeyReplaceSse2(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                    const uint8_t keyBgr[3], size_t size) {
    const uint8_t pixelStart[3] = {0xFF, 0, 0};
    const PixelPattern pattern(keyBgr), pixelStarts(pixelStart);
    __m128i key[3], starts[3];
    for (int v = 0; v < 3; ++v) {
        key[v] = Load128(pattern.bytes + 16 * v);
        starts[v] = Load128(pixelStarts.bytes + 16 * v);
    }
    size_t i = 0;
    for (; i + 48 <= size; i += 48) {
        const __m128i e0 = _mm_cmpeq_epi8(Load128(mask + i), key[0]);
        const __m128i e1 = _mm_cmpeq_epi8(Load128(mask + i + 16), key[1]);
        const __m128i e2 = _mm_cmpeq_epi8(Load128(mask + i + 32), key[2]);
        // At each pixel start: its byte and the next two (across vectors) all match.
        const __m128i n0 =
            _mm_and_si128(_mm_or_si128(_mm_srli_si128(e0, 1), _mm_slli_si128(e1, 15)),
                          _mm_or_si128(_mm_srli_si128(e0, 2), _mm_slli_si128(e1, 14)));
        const __m128i n1 =
            _mm_and_si128(_mm_or_si128(_mm_srli_si128(e1, 1), _mm_slli_si128(e2, 15)),
                          _mm_or_si128(_mm_srli_si128(e1, 2), _mm_slli_si128(e2, 14)));
        const __m128i n2 = _mm_and_si128(_mm_srli_si128(e2, 1), _mm_srli_si128(e2, 2));
        const __m128i w0 = _mm_and_si128(_mm_and_si128(e0, n0), starts[0]);
        const __m128i w1 = _mm_and_si128(_mm_and_si128(e1, n1), starts[1]);
        const __m128i w2 = _mm_and_si128(_mm_and_si128(e2, n2), starts[2]);
        const int m0 = _mm_movemask_epi8(w0), m1 = _mm_movemask_epi8(w1),
                  m2 = _mm_movemask_epi8(w2);
        if ((m0 | m1 | m2) == 0) continue;
        if (m0 == 0x9249 && m1 == 0x4924 && m2 == 0x2492) { // every pixel start matches
            for (int v = 0; v < 3; ++v)
                Store128(out + i + 16 * v, Load128(source + i + 16 * v));
            continue;
        }
        // Spread each matching start over its pixel's three bytes.
        const __m128i s0 =
            _mm_or_si128(w0, _mm_or_si128(_mm_slli_si128(w0, 1), _mm_slli_si128(w0, 2)));
        const __m128i s1 = _mm_or_si128(
            _mm_or_si128(w1, _mm_or_si128(_mm_slli_si128(w1, 1), _mm_slli_si128(w1, 2))),
            _mm_or_si128(_mm_srli_si128(w0, 14), _mm_srli_si128(w0, 15)));
        const __m128i s2 = _mm_or_si128(
            _mm_or_si128(w2, _mm_or_si128(_mm_slli_si128(w2, 1), _mm_slli_si128(w2, 2))),
            _mm_srli_si128(w1, 14));
        const __m128i spread[3] = {s0, s1, s2};
        for (int v = 0; v < 3; ++v) {
            uint8_t* to = out + i + 16 * v;
            Store128(to, Select(spread[v], Load128(source + i + 16 * v), Load128(to)));
        }
    }
    KeyReplacePlain(out + i, mask + i, source + i, keyBgr, size - i);
}
