#include "color_transform.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "color_runs.h"
#include "kernel_support.h"

namespace {

// Two's-complement shift; counts outside 0..31 (degenerate bit counts) shift everything out.
int32_t ShiftLeft(int32_t value, int32_t count) {
    if (count < 0 || count > 31) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(value) << count);
}

int32_t WrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t CappedAdd(int32_t offset, int32_t step, int32_t cap) {
    int64_t sum = int64_t{offset} + step;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, cap));
}

// Below 0 becomes 0, above the mask the mask (tested in this order, as masks are not checked).
int32_t Saturate(int64_t value, int32_t mask) {
    if (value < 0) return 0;
    return static_cast<int32_t>(value > mask ? mask : value);
}

bool IsPacked24(const ColorChangeState& s) {
    return s.channelMaskR == 0xFF0000 && s.channelMaskG == 0xFF00 && s.channelMaskB == 0xFF;
}

// Whole-channel offsets: the saturating 24-bit transform then works on independent bytes.
bool OffsetsOnChannelBoundaries(const ColorChangeState& s) {
    return (s.offsetR & 0xFFFF) == 0 && (s.offsetG & 0xFF) == 0;
}

uint32_t ReadPixel(const uint8_t* p, int32_t bytesPerPixel) {
    uint32_t v = 0;
    for (int32_t i = 0; i < bytesPerPixel; ++i)
        v |= uint32_t{p[i]} << (8 * i);
    return v;
}

void WritePixel(uint8_t* p, int32_t bytesPerPixel, uint32_t total) {
    for (int32_t i = 0; i < bytesPerPixel; ++i)
        p[i] = static_cast<uint8_t>(total >> (8 * i));
}

uint32_t TransformPixel(uint32_t v, const ColorChangeState& s, int32_t mode) {
    int64_t r = int64_t(v & uint32_t(s.channelMaskR)) + s.offsetR;
    int64_t g = int64_t(v & uint32_t(s.channelMaskG)) + s.offsetG;
    int64_t b = int64_t(v & uint32_t(s.channelMaskB)) + s.offsetB;
    if (mode == 1) {
        r = Saturate(r, s.channelMaskR);
        g = Saturate(g, s.channelMaskG);
        b = Saturate(b, s.channelMaskB);
    }
    // Carries between channels pass through; what passes the top is lost.
    return static_cast<uint32_t>(r + g + b);
}

bool IsPacked16(const ColorChangeState& s) {
    return s.channelMaskR == 0x7C00 && s.channelMaskG == 0x3E0 && s.channelMaskB == 0x1F;
}

// The table of this process's SIMD level, chosen on first use.
const ColorRuns& Runs() {
    static const ColorRuns runs = [] {
#if MIVRA_X86
        if (ProcessSimdLevel() >= SimdLevel::Sse2)
            return ColorRuns{WrapRun24Sse2, SaturateRun24Sse2};
#endif
        return ColorRuns{WrapRun24Plain, SaturateRun24Plain};
    }();
    return runs;
}

// The channel sums of a wrapping transform add up to the pixel value plus the offsets' sum.
uint32_t OffsetSum(const ColorChangeState& s) {
    return uint32_t(s.offsetR) + uint32_t(s.offsetG) + uint32_t(s.offsetB);
}

// Whole-channel offsets of a saturating 24-bit transform, one per byte (blue, green, red).
void SaturateRun24(uint8_t* p, size_t count, const ColorChangeState& s) {
    const int32_t offsets[3] = {std::clamp(s.offsetB, -256, 256),
                                std::clamp(s.offsetG >> 8, -256, 256),
                                std::clamp(s.offsetR >> 16, -256, 256)};
    Runs().saturate24(p, count, offsets);
}

// 16-bit wrap-around: the pixel's 15 colour bits plus the offsets' sum, cut to 16 bits. Whole
// words, which the compiler turns into vector code.
void WrapRun16(uint8_t* p, size_t count, const ColorChangeState& s) {
    const uint16_t k = static_cast<uint16_t>(OffsetSum(s));
    for (size_t i = 0; i < count; ++i, p += 2)
        StoreWord(p, static_cast<uint16_t>((LoadWord(p) & kColourBits555) + k));
}

void GenericRun(uint8_t* p, size_t count, const ColorChangeState& s, int32_t mode) {
    for (size_t i = 0; i < count; ++i, p += s.bytesPerPixel)
        WritePixel(p, s.bytesPerPixel, TransformPixel(ReadPixel(p, s.bytesPerPixel), s, mode));
}

void TransformRun(uint8_t* p, size_t count, const ColorChangeState& s, int32_t mode) {
    if (s.bytesPerPixel == 3 && IsPacked24(s)) {
        if (mode == 0) return Runs().wrap24(p, count, OffsetSum(s));
        if (OffsetsOnChannelBoundaries(s)) return SaturateRun24(p, count, s);
    }
    if (s.bytesPerPixel == 2 && IsPacked16(s) && mode == 0) return WrapRun16(p, count, s);
    GenericRun(p, count, s, mode);
}

} // namespace

void WrapRun24Plain(uint8_t* p, size_t count, uint32_t k) {
    for (size_t i = 0; i < count; ++i, p += 3) {
        const uint32_t total = (p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16)) + k;
        p[0] = static_cast<uint8_t>(total);
        p[1] = static_cast<uint8_t>(total >> 8);
        p[2] = static_cast<uint8_t>(total >> 16);
    }
}

void SaturateRun24Plain(uint8_t* p, size_t count, const int32_t offsets[3]) {
    for (size_t i = 0; i < count; ++i, p += 3)
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<uint8_t>(std::clamp(p[c] + offsets[c], 0, 255));
}

void InitColorMasks(ColorChangeState& state, const BITMAPINFOHEADER& header) {
    int32_t bitCount = header.biBitCount;
    state.bytesPerPixel = bitCount / 8;
    state.bitsPerChannel = bitCount / 3;
    int32_t bits = state.bitsPerChannel;
    int32_t channelMax = 255 >> ((8 - bits) & 31);
    state.channelMaskR = ShiftLeft(channelMax, 2 * bits);
    state.channelMaskG = ShiftLeft(channelMax, bits);
    state.channelMaskB = channelMax;
    state.wrapMaskR = ShiftLeft(-1, 2 * bits);
    state.wrapMaskG = ShiftLeft(-1, bits);
    state.wrapMaskB = -1;
}

void PackColorTriple(const ColorChangeState& state, const int16_t settings[3], int32_t packed[3]) {
    int32_t bits = state.bitsPerChannel;
    packed[0] = ShiftLeft(settings[0], 2 * bits) & state.wrapMaskR;
    packed[1] = ShiftLeft(settings[1], bits) & state.wrapMaskG;
    packed[2] = settings[2] & state.wrapMaskB;
}

void AdvanceColorOffsets(ColorChangeState& state, int32_t mode) {
    if (mode == 0) {
        state.offsetR = WrapAdd(state.offsetR, state.stepR) & state.wrapMaskR;
        state.offsetG = WrapAdd(state.offsetG, state.stepG) & state.wrapMaskG;
        state.offsetB = WrapAdd(state.offsetB, state.stepB) & state.wrapMaskB;
    } else if (mode == 1) {
        state.offsetR = CappedAdd(state.offsetR, state.stepR, state.channelMaskR);
        state.offsetG = CappedAdd(state.offsetG, state.stepG, state.channelMaskG);
        state.offsetB = CappedAdd(state.offsetB, state.stepB, state.channelMaskB);
    }
}

void TransformFrame(uint8_t* frame, ColorChangeState state, const BITMAPINFOHEADER& header,
                    int32_t mode, int32_t pixelX, int32_t pixelY) {
    int32_t bitCount = header.biBitCount;
    if (mode != 0 && mode != 1) return;
    if ((bitCount != 16 && bitCount != 24) || state.bytesPerPixel != bitCount / 8) return;

    const size_t bpp = static_cast<size_t>(state.bytesPerPixel);
    const int64_t pixels = header.biSizeImage / bpp;
    // The offsets step after pixel n, then after every further n pixels; with n = 0 only once,
    // with n < 0 never (the countdown never reaches 0).
    const int64_t n = int64_t{pixelY} * header.biWidth + pixelX;
    int64_t done = n < 0 ? pixels : std::min(pixels, n + 1);
    TransformRun(frame, static_cast<size_t>(done), state, mode);
    while (done < pixels) {
        AdvanceColorOffsets(state, mode);
        int64_t count = n == 0 ? pixels - done : std::min(n, pixels - done);
        TransformRun(frame + done * bpp, static_cast<size_t>(count), state, mode);
        done += count;
    }
}

bool TransformKeepsFrame(const ColorChangeState& state, const BITMAPINFOHEADER& header,
                         int32_t mode, int32_t pixelX, int32_t pixelY) {
    const int32_t bitCount = header.biBitCount;
    if (mode != 0 && mode != 1) return true;
    if ((bitCount != 16 && bitCount != 24) || state.bytesPerPixel != bitCount / 8) return true;
    if (bitCount == 16) return false;
    const bool zeroOffsets = state.offsetR == 0 && state.offsetG == 0 && state.offsetB == 0;
    const bool zeroSteps = state.stepR == 0 && state.stepG == 0 && state.stepB == 0;
    const int64_t pixels = header.biSizeImage / 3;
    const int64_t n = int64_t{pixelY} * header.biWidth + pixelX;
    const bool stepsInside = n >= 0 && n + 1 < pixels;
    return zeroOffsets && (zeroSteps || !stepsInside);
}

void MakeSwatchPixel(const ColorChangeState& state, int32_t packed[3], uint8_t* pixel) {
    const int32_t masks[3] = {state.channelMaskR, state.channelMaskG, state.channelMaskB};
    uint32_t value = 0;
    for (int c = 0; c < 3; ++c) {
        int32_t entry = packed[c] < 0 ? packed[c] ^ masks[c] : packed[c];
        value += static_cast<uint32_t>(entry & masks[c]);
    }
    for (int32_t i = 0; i < state.bytesPerPixel; ++i)
        pixel[i] = i < 4 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}
