#include "blend.h"

#include <algorithm>
#include <cmath>

#include "blend_runs.h"
#include "kernel_support.h"

namespace {

// Per-frame table of the 24-bit blend: for each difference d = target - other (-255..255) the
// byte to add, -truncate(d / ratio) modulo 256.
struct ByteBlendTable {
    uint8_t add[511];
    explicit ByteBlendTable(double ratio) {
        for (int d = -255; d <= 255; ++d)
            add[d + 255] = static_cast<uint8_t>(-TruncateSafely(d / ratio));
    }
};

// Per-frame table of the 16-bit blend: the low five bits of truncate(u - (u - v) / ratio) for
// every pair of 5-bit channel values.
struct ChannelBlendTable {
    uint8_t value[32 * 32];
    explicit ChannelBlendTable(double ratio) {
        for (int u = 0; u < 32; ++u)
            for (int v = 0; v < 32; ++v)
                value[u * 32 + v] =
                    static_cast<uint8_t>(TruncateSafely(u - (u - v) / ratio) & 0x1F);
    }
    uint32_t operator()(uint32_t p, uint32_t q, int shift) const {
        return value[((p >> shift) & 0x1F) * 32 + ((q >> shift) & 0x1F)];
    }
};

// The table of this process's SIMD level, chosen on first use.
const CrossfadeRuns& Runs() {
    static const CrossfadeRuns runs = [] {
#if MIVRA_X86
        const SimdLevel level = ProcessSimdLevel();
        if (level >= SimdLevel::Avx2)
            return CrossfadeRuns{Blend24Avx2, Blend16Avx2, Narrow24To16Avx2, Widen16To24Avx2};
        if (level >= SimdLevel::Sse2)
            return CrossfadeRuns{Blend24Sse2, Blend16Plain, Narrow24To16Plain, Widen16To24Plain};
#endif
        return CrossfadeRuns{Blend24Plain, Blend16Plain, Narrow24To16Plain, Widen16To24Plain};
    }();
    return runs;
}

// The bounds on m from each exact result; -1 for a ratio below 1, or one whose division rounds
// so that no product below 2^bits + 1 reproduces it.
int64_t FindExactMultiplier(double ratio, int bits) {
    const int64_t one = int64_t{1} << bits;
    int64_t lowest = 0, highest = one;
    for (int d = 1; d <= 255; ++d) {
        const int64_t t = TruncateSafely(d / ratio);
        if (t < 0 || t > 255 || TruncateSafely(-d / ratio) != -t) return -1;
        lowest = std::max(lowest, (t * one + d - 1) / d);
        highest = std::min(highest, ((t + 1) * one + d - 1) / d - 1);
    }
    return lowest <= highest ? lowest : -1;
}

} // namespace

ExactProduct FindExactProduct(double ratio) {
    if (const int64_t m = FindExactMultiplier(ratio, 16); m >= 0 && m <= 0xFFFF) return {16, m};
    if (const int64_t m = FindExactMultiplier(ratio, 24); m >= 0) return {24, m};
    return {0, -1};
}

void Blend24Plain(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ByteBlendTable table(ratio);
    for (size_t k = 0; k < count; ++k)
        target[k] = static_cast<uint8_t>(target[k] + table.add[target[k] - other[k] + 255]);
}

void Blend16Plain(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    const ChannelBlendTable blend(ratio);
    for (size_t k = 0; k + 2 <= count; k += 2) {
        const uint32_t p = LoadWord(target + k), q = LoadWord(other + k);
        const uint32_t word = (blend(p, q, 10) << 10) | (blend(p, q, 5) << 5) | blend(p, q, 0);
        StoreWord(target + k, static_cast<uint16_t>(word));
    }
}

void Narrow24To16Plain(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t n = 0; n < pixels; ++n, in += 3, out += 2)
        StoreWord(out, Narrow555(in[0], in[1], in[2]));
}

void Widen16To24Plain(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t n = 0; n < pixels; ++n, in += 2, out += 3)
        Widen555(LoadWord(in), out);
}

void SetupBlend(BlendParams& params, int32_t rangeStart, int32_t rangeEnd) {
    params.rangeLength =
        static_cast<int32_t>(static_cast<uint32_t>(rangeEnd) - static_cast<uint32_t>(rangeStart));
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
    if (targetFormat.biBitCount == 24) Runs().blend24(target, other, count, ratio);
    if (targetFormat.biBitCount == 16) Runs().blend16(target, other, count, ratio);
    return 1;
}

const uint8_t* ConvertPixelDepth(int32_t targetBitCount, const BITMAPINFOHEADER& otherHeader,
                                 const uint8_t* otherPixels, uint8_t* scratch, size_t scratchSize) {
    if (otherHeader.biBitCount == targetBitCount) return otherPixels;
    // Whole pixels only, and no further than either buffer.
    const size_t size = otherHeader.biSizeImage;
    if (targetBitCount == 16) {
        Runs().narrow(otherPixels, scratch, std::min(size / 3, scratchSize / 2));
        return scratch;
    }
    if (targetBitCount == 24) {
        Runs().widen(otherPixels, scratch, std::min(size / 2, scratchSize / 3));
        return scratch;
    }
    return otherPixels;
}
