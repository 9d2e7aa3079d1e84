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
// Five pixels (15 bytes) per step through 16-byte loads, so the key pattern keeps its phase.
// Returns the offset where the byte-wise pass has to go on.
size_t KeyReplaceVector(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                        const uint8_t keyRGB[3], size_t size) {
    alignas(16) uint8_t pattern[16];
    alignas(16) uint8_t pixelStarts[16] = {};
    for (int k = 0; k < 16; ++k) pattern[k] = keyRGB[2 - k % 3];
    for (int k = 0; k < 15; k += 3) pixelStarts[k] = 0xFF;
    const __m128i key = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern));
    const __m128i starts = _mm_load_si128(reinterpret_cast<const __m128i*>(pixelStarts));
    size_t i = 0;
    for (; i + 16 <= size; i += 15) {
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i));
        const __m128i equal = _mm_cmpeq_epi8(m, key);
        // Byte 3k: all three bytes of pixel k match.
        const __m128i whole = _mm_and_si128(
            _mm_and_si128(equal, _mm_srli_si128(equal, 1)), _mm_and_si128(_mm_srli_si128(equal, 2), starts));
        if (_mm_movemask_epi8(whole) == 0) continue;
        const __m128i select = _mm_or_si128(whole, _mm_or_si128(_mm_slli_si128(whole, 1), _mm_slli_si128(whole, 2)));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        // Byte 15 is never selected, so it is written back as it was.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_or_si128(_mm_and_si128(select, s), _mm_andnot_si128(select, o)));
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
        for (int64_t k = 0; k < b; ++k) pixel[k] ^= 0xAA;
    };
    if (cross.y >= 0 && cross.y < h) {
        const int64_t last = std::min<int64_t>(w, int64_t{cross.viewX} + previewWidth);
        for (int64_t x = std::max<int64_t>(0, cross.viewX); x < last; ++x) invert(x, cross.y);
    }
    if (cross.x >= 0 && cross.x < w) {
        const int64_t last = std::min<int64_t>(h, int64_t{cross.viewY} + previewHeight);
        for (int64_t y = std::max<int64_t>(0, cross.viewY); y < last; ++y) invert(cross.x, y);
    }
}
