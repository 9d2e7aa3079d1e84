#include "key_replace.h"

#include <algorithm>
#include <cstddef>

#include "kernel_support.h"
#include "key_runs.h"

namespace {

// The table of this process's SIMD level, chosen on first use.
KeyReplaceRun Run() {
    static const KeyReplaceRun run = [] {
#if MIVRA_X86
        if (ProcessSimdLevel() >= SimdLevel::Sse2) return KeyReplaceSse2;
#endif
        return KeyReplacePlain;
    }();
    return run;
}

} // namespace

void KeyReplacePlain(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                     const uint8_t keyBgr[3], size_t size) {
    for (size_t i = 0; i + 3 <= size; i += 3) {
        if (mask[i] != keyBgr[0] || mask[i + 1] != keyBgr[1] || mask[i + 2] != keyBgr[2]) continue;
        out[i] = source[i];
        out[i + 1] = source[i + 1];
        out[i + 2] = source[i + 2];
    }
}

void KeyReplace(uint8_t* out, const uint8_t* mask, const uint8_t* back, const uint8_t keyRGB[3],
                uint32_t imageSize, int32_t useBackground) {
    // Without the background a matched pixel takes the mask's own pixel, which is the key.
    const uint8_t* source = useBackground == 1 ? back : mask;
    const uint8_t keyBgr[3] = {keyRGB[2], keyRGB[1], keyRGB[0]};
    Run()(out, mask, source, keyBgr, imageSize);
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
