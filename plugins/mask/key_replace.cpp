#include "key_replace.h"

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool IsKey(const uint8_t* pixel, const uint8_t keyRGB[3]) {
    return pixel[0] == keyRGB[2] && pixel[1] == keyRGB[1] && pixel[2] == keyRGB[0];
}

#if defined(__SSE2__)
__m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__m128i Select(__m128i select, __m128i chosen, __m128i other) {
    return _mm_or_si128(_mm_and_si128(select, chosen), _mm_andnot_si128(select, other));
}

// Sixteen pixels (48 bytes, three vectors) per step, so that the key pattern keeps its phase
// and no store overlaps the next load. Returns the offset where the byte-wise pass goes on.
size_t KeyReplaceVector(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                        const uint8_t keyRGB[3], size_t size) {
    alignas(16) uint8_t pattern[48];
    alignas(16) uint8_t pixelStarts[48];
    for (int k = 0; k < 48; ++k) {
        pattern[k] = keyRGB[2 - k % 3];
        pixelStarts[k] = k % 3 == 0 ? 0xFF : 0;
    }
    __m128i key[3], starts[3];
    for (int v = 0; v < 3; ++v) {
        key[v] = Load(pattern + 16 * v);
        starts[v] = Load(pixelStarts + 16 * v);
    }
    size_t i = 0;
    for (; i + 48 <= size; i += 48) {
        const __m128i e0 = _mm_cmpeq_epi8(Load(mask + i), key[0]);
        const __m128i e1 = _mm_cmpeq_epi8(Load(mask + i + 16), key[1]);
        const __m128i e2 = _mm_cmpeq_epi8(Load(mask + i + 32), key[2]);
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
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16 * v),
                                 Load(source + i + 16 * v));
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
        const __m128i* sel[3] = {&s0, &s1, &s2};
        for (int v = 0; v < 3; ++v) {
            uint8_t* to = out + i + 16 * v;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                             Select(*sel[v], Load(source + i + 16 * v), Load(to)));
        }
    }
    return i;
}
#endif

} // namespace

void KeyReplace(uint8_t* out, const uint8_t* mask, const uint8_t* back, const uint8_t keyRGB[3],
                uint32_t imageSize, int32_t useBackground) {
    // Without the background a matched pixel takes the mask's own pixel, which is the key.
    const uint8_t* source = useBackground == 1 ? back : mask;
    size_t i = 0;
#if defined(__SSE2__)
    i = KeyReplaceVector(out, mask, source, keyRGB, imageSize);
#endif
    for (; i + 3 <= imageSize; i += 3) {
        if (!IsKey(mask + i, keyRGB)) continue;
        out[i] = source[i];
        out[i + 1] = source[i + 1];
        out[i + 2] = source[i + 2];
    }
}

void XorCrossHair(uint8_t* buffer, int32_t previewWidth, int32_t previewHeight, int32_t width,
                  int32_t height, int32_t bitCount, const CrossPoint& cross) {
    const int64_t b = bitCount / 8;
    const int64_t w = width, h = height;
    if (b <= 0 || w <= 0 || h <= 0) return;
    auto invert = [&](int64_t x, int64_t y) {
        uint8_t* pixel = buffer + (h - (y + 1)) * w * b + b * x;
        for (int64_t k = 0; k < b; ++k)
            pixel[k] ^= 0xAA;
    };
    if (cross.y >= 0 && cross.y < h) {
        const int64_t last = std::min<int64_t>(w, int64_t{cross.viewX} + previewWidth);
        for (int64_t x = std::max<int64_t>(0, cross.viewX); x < last; ++x)
            invert(x, cross.y);
    }
    if (cross.x >= 0 && cross.x < w) {
        const int64_t last = std::min<int64_t>(h, int64_t{cross.viewY} + previewHeight);
        for (int64_t y = std::max<int64_t>(0, cross.viewY); y < last; ++y)
            invert(cross.x, y);
    }
}
