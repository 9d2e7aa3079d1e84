#include "blend.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Truncation toward zero that is defined for every double (NaN gives 0); only the low bits of
// the result are used, and the clamp lies far outside the range of any exact pixel result.
int64_t TruncateSafely(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int64_t>(std::clamp(value, -1e15, 1e15));
}

// Per-frame table of the 24-bit blend: for each difference d = target - other (-255..255) the
// byte to add, -truncate(d / ratio) modulo 256.
struct ByteBlendTable {
    uint8_t add[511];
    explicit ByteBlendTable(double ratio) {
        for (int d = -255; d <= 255; ++d)
            add[d + 255] = static_cast<uint8_t>(-TruncateSafely(d / ratio));
    }
};

void BlendBytesWithTable(uint8_t* target, const uint8_t* other, size_t count,
                         const ByteBlendTable& table) {
    for (size_t k = 0; k < count; ++k)
        target[k] = static_cast<uint8_t>(target[k] + table.add[target[k] - other[k] + 255]);
}

#if defined(__SSE2__)
// A multiplier m with truncate(d / ratio) = sign(d) * ((|d| * m) >> 24) for every byte
// difference, taken from the exact per-difference results; -1 when no such m exists (ratios
// below 1, or rounding of the division that no fixed-point product reproduces).
int64_t FindExactMultiplier(double ratio) {
    constexpr int64_t one = int64_t{1} << 24;
    int64_t lowest = 0, highest = one;
    for (int d = 1; d <= 255; ++d) {
        const int64_t t = TruncateSafely(d / ratio);
        if (t < 0 || t > 255 || TruncateSafely(-d / ratio) != -t) return -1;
        lowest = std::max(lowest, (t * one + d - 1) / d);
        highest = std::min(highest, ((t + 1) * one + d - 1) / d - 1);
    }
    return lowest <= highest ? lowest : -1;
}

// (|d| * m) >> 24 in 16-bit lanes, with m split into its high and low 16 bits: the high
// product stays below 65281 and the sum below 65536.
__m128i BlendHalf(__m128i t, __m128i o, __m128i high, __m128i low) {
    const __m128i d = _mm_sub_epi16(t, o);
    const __m128i sign = _mm_srai_epi16(d, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(d, sign), sign);
    const __m128i scaled = _mm_add_epi16(_mm_mullo_epi16(magnitude, high), _mm_mulhi_epu16(magnitude, low));
    const __m128i q = _mm_srli_epi16(scaled, 8);
    const __m128i truncated = _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
    return _mm_and_si128(_mm_sub_epi16(t, truncated), _mm_set1_epi16(0xFF));
}

// Sixteen bytes at a time; returns how many bytes it blended.
size_t BlendBytesVector(uint8_t* target, const uint8_t* other, size_t count, int64_t m) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i mHigh = _mm_set1_epi16(static_cast<short>(m >> 16));
    const __m128i mLow = _mm_set1_epi16(static_cast<short>(m & 0xFFFF));
    size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + k));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + k));
        const __m128i low = BlendHalf(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(o, zero), mHigh, mLow);
        const __m128i high = BlendHalf(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(o, zero), mHigh, mLow);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + k), _mm_packus_epi16(low, high));
    }
    return k;
}
#endif

void Blend24(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ByteBlendTable table(ratio);
    size_t done = 0;
#if defined(__SSE2__)
    const int64_t m = FindExactMultiplier(ratio);
    if (m >= 0) done = BlendBytesVector(target, other, count, m);
#endif
    BlendBytesWithTable(target + done, other + done, count - done, table);
}

// Per-frame table of the 16-bit blend: the low five bits of truncate(u - (u - v) / ratio) for
// every pair of 5-bit channel values.
struct ChannelBlendTable {
    uint8_t value[32 * 32];
    explicit ChannelBlendTable(double ratio) {
        for (int u = 0; u < 32; ++u)
            for (int v = 0; v < 32; ++v)
                value[u * 32 + v] = static_cast<uint8_t>(TruncateSafely(u - (u - v) / ratio) & 0x1F);
    }
    uint32_t operator()(uint32_t p, uint32_t q, int shift) const {
        return value[((p >> shift) & 0x1F) * 32 + ((q >> shift) & 0x1F)];
    }
};

void Blend16(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ChannelBlendTable blend(ratio);
    for (size_t k = 0; k + 2 <= count; k += 2) {
        const uint32_t p = target[k] | (uint32_t{target[k + 1]} << 8);
        const uint32_t q = other[k] | (uint32_t{other[k + 1]} << 8);
        const uint32_t word = (blend(p, q, 10) << 10) | (blend(p, q, 5) << 5) | blend(p, q, 0);
        target[k] = static_cast<uint8_t>(word);
        target[k + 1] = static_cast<uint8_t>(word >> 8);
    }
}

} // namespace

void SetupBlend(BlendParams& params, int32_t rangeStart, int32_t rangeEnd) {
    params.rangeLength = static_cast<int32_t>(static_cast<uint32_t>(rangeEnd) - static_cast<uint32_t>(rangeStart));
    const double m = params.rangeLength;
    const double s = params.startTransPercent;
    const double e = params.endTransPercent;
    params.weight = m - (s / 100) * m;
    if (s > e) {
        params.weightStep = ((s - e) / 100) * 1.0;
    } else if (s < e) {
        params.weight = (e / 100) * m;
        params.weightStep = -((e - s) / 100) * 1.0;
    } else {
        params.weightStep = 0.0; // a step left from an earlier set-up would move the weight
    }
}

double AdvanceBlendWeight(BlendParams& params) {
    params.weight += params.weightStep;
    if (params.weight < 0.0) params.weight = 1.0;
    if (params.rangeLength < params.weight) params.weight = params.rangeLength;
    return params.rangeLength / params.weight;
}

int BlendFrames(uint8_t* target, const uint8_t* other, size_t otherSize, double ratio,
                const BITMAPINFOHEADER& targetFormat) {
    if (std::isnan(ratio)) return 1; // only a zero range length gives 0 / 0: nothing to blend
    const size_t count = std::min<size_t>(targetFormat.biSizeImage, otherSize);
    if (targetFormat.biBitCount == 24) Blend24(target, other, count, ratio);
    if (targetFormat.biBitCount == 16) Blend16(target, other, count, ratio);
    return 1;
}

const uint8_t* ConvertPixelDepth(int32_t targetBitCount, const BITMAPINFOHEADER& otherHeader,
                                 const uint8_t* otherPixels, uint8_t* scratch, size_t scratchSize) {
    if (otherHeader.biBitCount == targetBitCount) return otherPixels;
    const size_t size = otherHeader.biSizeImage;
    if (targetBitCount == 16) {
        for (size_t j = 0, out = 0; j + 3 <= size && out + 2 <= scratchSize; j += 3, out += 2) {
            const uint32_t w = (otherPixels[j] >> 3) | ((otherPixels[j + 1] >> 3) << 5) |
                               ((otherPixels[j + 2] >> 3) << 10);
            scratch[out] = static_cast<uint8_t>(w);
            scratch[out + 1] = static_cast<uint8_t>(w >> 8);
        }
        return scratch;
    }
    if (targetBitCount == 24) {
        for (size_t j = 0, out = 0; j + 2 <= size && out + 3 <= scratchSize; j += 2, out += 3) {
            const uint32_t w = otherPixels[j] | (uint32_t{otherPixels[j + 1]} << 8);
            scratch[out] = static_cast<uint8_t>((w & 0x1F) << 3);
            scratch[out + 1] = static_cast<uint8_t>((w & 0x3E0) >> 2);
            scratch[out + 2] = static_cast<uint8_t>((w & 0x7C00) >> 7);
        }
        return scratch;
    }
    return otherPixels;
}
