// The 16-bit blend as a product found per frame and patched where a few channel pairs round
// otherwise; its loops are built for AVX2, the search is plain code.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "blend_runs.h"
#include "kernel_support.h"

namespace {

// The 16-bit blend in fixed point, checked per frame against the exact results of all 1024
// channel pairs u, v. Those results have the form u + e(u - v); where e(d) is
// floor((g - 256 d) * m / 2^23) with 16-bit g and m, the blend runs in 16-bit lanes, else
// where e(d) = floor((b - d * m) / 2^20) fits, in 32-bit lanes.
constexpr int kLongBits = 20;

struct ChannelProduct {
    int32_t m, b;
};

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
int64_t CeilDiv(int64_t a, int64_t b) {
    return -FloorDiv(-a, b);
}

// A channel pair whose blended value w (its low five bits) is not u + e(u - v): for a few
// ratios the rounding of the division gives a few pairs with the same difference another
// result, depending on u.
struct ChannelException {
    uint16_t pair; // u * 32 + v; 0xFFFF names no pair
    uint16_t w;
};
// Every ratio of a range of up to 120 frames has at most 5; more go to the table.
constexpr size_t kMaxExceptions = 8;

// e(d) for d = -31..31 at [d + 31], the result of most pairs with that difference, and the
// pairs that differ from it.
struct ChannelOffsets {
    std::vector<int64_t> offset;
    std::vector<ChannelException> exceptions;
};

ChannelOffsets FindChannelOffsets(double ratio) {
    int64_t e[32][32];
    for (int u = 0; u < 32; ++u)
        for (int v = 0; v < 32; ++v)
            e[u][v] = TruncateSafely(u - (u - v) / ratio) - u;
    ChannelOffsets result{std::vector<int64_t>(63), {}};
    for (int d = -31; d <= 31; ++d) {
        // The most common offset among the pairs u - v = d.
        int best = 0;
        int64_t common = 0;
        for (int u = std::max(0, d); u < 32 && u - d < 32; ++u) {
            int count = 0;
            for (int x = std::max(0, d); x < 32 && x - d < 32; ++x)
                count += e[x][x - d] == e[u][u - d];
            if (count > best) {
                best = count;
                common = e[u][u - d];
            }
        }
        result.offset[size_t(d + 31)] = common;
        for (int u = std::max(0, d); u < 32 && u - d < 32; ++u)
            if (e[u][u - d] != common)
                result.exceptions.push_back({static_cast<uint16_t>(u * 32 + u - d),
                                             static_cast<uint16_t>((u + e[u][u - d]) & 0x1F)});
    }
    return result;
}

struct ShortProduct {
    int16_t g, m;
};
constexpr int kShortShift = 8; // d counts in 1/256 units of g, so that g offsets finely

std::optional<ShortProduct> FindShortProduct(const std::vector<int64_t>& offset, double ratio) {
    constexpr int64_t one = int64_t{1} << (15 + kShortShift);
    const double guess = std::nearbyint(32768.0 / ratio);
    if (!(guess >= 0 && guess <= 0x7FFF)) return std::nullopt;
    for (int64_t m = std::max<int64_t>(1, int64_t(guess) - 8); m <= int64_t(guess) + 8; ++m) {
        if (m > 0x7FFF) break;
        // Keeps g + 256 * (v - u) inside 16 bits.
        int64_t lowest = -0x6000, highest = 0x6000;
        for (int64_t d = -31; d <= 31; ++d) {
            const int64_t e = offset[size_t(d + 31)], scaled = d << kShortShift;
            lowest = std::max(lowest, CeilDiv(e * one, m) + scaled);
            highest = std::min(highest, FloorDiv(e * one + one - 1, m) + scaled);
        }
        if (lowest <= highest)
            return ShortProduct{static_cast<int16_t>(lowest), static_cast<int16_t>(m)};
    }
    return std::nullopt;
}

std::optional<ChannelProduct> FindLongProduct(const std::vector<int64_t>& offset, double ratio) {
    constexpr int64_t one = int64_t{1} << kLongBits;
    const double guess = std::nearbyint(static_cast<double>(one) / ratio);
    if (!(std::fabs(guess) <= 2.0 * one)) return std::nullopt;
    for (int64_t m = static_cast<int64_t>(guess) - 4; m <= static_cast<int64_t>(guess) + 4; ++m) {
        int64_t lowest = INT64_MIN, highest = INT64_MAX;
        for (int64_t d = -31; d <= 31; ++d) {
            const int64_t low = offset[size_t(d + 31)] * one + d * m;
            lowest = std::max(lowest, low);
            highest = std::min(highest, low + one - 1);
        }
        if (lowest <= highest && std::abs(lowest) <= (int64_t{1} << 27))
            return ChannelProduct{static_cast<int32_t>(m), static_cast<int32_t>(lowest)};
    }
    return std::nullopt;
}

MIVRA_AVX2 void CopyWordsWithoutTopBit(uint8_t* target, const uint8_t* other, size_t words) {
    for (size_t i = 0; i < words; ++i)
        StoreWord(target + 2 * i, LoadWord(other + 2 * i) & kColourBits555);
}

// One channel of the 16-bit fixed-point form, left at its bit position Shift: the low five bits
// of u + e(u - v) there. Scaling the difference and the offset by shifts in either direction,
// instead of moving the channel down and back up, saves two shifts a channel. The placed
// offset carries some bits below the channel; the channel's own low bits are zero, so adding
// them cannot carry into it, and the mask drops them.
template <int Shift>
[[gnu::always_inline]] inline uint16_t BlendChannelShort(uint16_t p, uint16_t q, int16_t g,
                                                         int16_t m) {
    constexpr uint16_t mask = 0x1F << Shift;
    const uint16_t own = p & mask;
    const int16_t difference = static_cast<int16_t>((q & mask) - own); // (v - u) << Shift
    int16_t scaled;                                                    // (v - u) << kShortShift
    if constexpr (Shift <= kShortShift)
        scaled = static_cast<int16_t>(difference * (1 << (kShortShift - Shift)));
    else
        scaled = static_cast<int16_t>(difference >> (Shift - kShortShift));
    const int16_t t = static_cast<int16_t>(g + scaled);
    const int16_t x = static_cast<int16_t>((int32_t{t} * m) >> 16);
    // e = x >> (kShortShift - 1); e << Shift is x shifted by the difference.
    constexpr int down = kShortShift - 1 - Shift;
    uint16_t placed;
    if constexpr (down >= 0)
        placed = static_cast<uint16_t>(x >> down);
    else
        placed = static_cast<uint16_t>(static_cast<uint16_t>(x) << -down);
    return static_cast<uint16_t>((own + placed) & mask);
}

[[gnu::always_inline]] inline uint16_t BlendWordShort(uint16_t p, uint16_t q, int16_t g,
                                                      int16_t m) {
    return static_cast<uint16_t>(BlendChannelShort<0>(p, q, g, m) |
                                 BlendChannelShort<5>(p, q, g, m) |
                                 BlendChannelShort<10>(p, q, g, m));
}

MIVRA_AVX2 void BlendWordsShort(uint8_t* target, const uint8_t* other, size_t words, int16_t g,
                                int16_t m) {
    for (size_t i = 0; i < words; ++i) {
        const uint16_t p = LoadWord(target + 2 * i), q = LoadWord(other + 2 * i);
        StoreWord(target + 2 * i, BlendWordShort(p, q, g, m));
    }
}

// One blended channel at Shift, replaced where its pair is one of the exceptions.
template <int Shift>
[[gnu::always_inline]] inline uint16_t
PutExceptions(uint16_t blended, uint16_t p, uint16_t q, const uint16_t (&pairs)[kMaxExceptions],
              const uint16_t (&values)[kMaxExceptions]) { // values placed at Shift
    const uint16_t pair =
        static_cast<uint16_t>((((p >> Shift) & 0x1F) << 5) | ((q >> Shift) & 0x1F));
    for (size_t n = 0; n < kMaxExceptions; ++n)
        blended = pair == pairs[n] ? values[n] : blended;
    return blended;
}

// BlendWordsShort with the exceptions put in; unused entries name no pair. A fixed count held
// in local arrays, so that the compiler vectorises the check as well.
MIVRA_AVX2 void
BlendWordsShortWithExceptions(uint8_t* target, const uint8_t* other, size_t words, int16_t g,
                              int16_t m, const ChannelException (&exceptions)[kMaxExceptions]) {
    uint16_t pairs[kMaxExceptions], values[3][kMaxExceptions];
    for (size_t n = 0; n < kMaxExceptions; ++n) {
        pairs[n] = exceptions[n].pair;
        for (int c = 0; c < 3; ++c)
            values[c][n] = static_cast<uint16_t>(exceptions[n].w << (5 * c));
    }
    for (size_t i = 0; i < words; ++i) {
        const uint16_t p = LoadWord(target + 2 * i), q = LoadWord(other + 2 * i);
        const uint16_t word = static_cast<uint16_t>(
            PutExceptions<0>(BlendChannelShort<0>(p, q, g, m), p, q, pairs, values[0]) |
            PutExceptions<5>(BlendChannelShort<5>(p, q, g, m), p, q, pairs, values[1]) |
            PutExceptions<10>(BlendChannelShort<10>(p, q, g, m), p, q, pairs, values[2]));
        StoreWord(target + 2 * i, word);
    }
}

MIVRA_AVX2 void BlendWordsLong(uint8_t* target, const uint8_t* other, size_t words, int32_t m,
                               int32_t b) {
    for (size_t i = 0; i < words; ++i) {
        const uint16_t p = LoadWord(target + 2 * i), q = LoadWord(other + 2 * i);
        int32_t word = 0;
        for (int shift = 0; shift <= 10; shift += 5) {
            const int32_t u = (p >> shift) & 0x1F, v = (q >> shift) & 0x1F;
            word |= ((u + ((b - (u - v) * m) >> kLongBits)) & 0x1F) << shift;
        }
        StoreWord(target + 2 * i, static_cast<uint16_t>(word));
    }
}

// Returns whether a fixed-point pass blended the words; without one the table does.
bool BlendWordsWithProduct(uint8_t* target, const uint8_t* other, size_t words, double ratio) {
    const ChannelOffsets offsets = FindChannelOffsets(ratio);
    if (!offsets.exceptions.empty()) {
        if (offsets.exceptions.size() > kMaxExceptions) return false;
        const auto product = FindShortProduct(offsets.offset, ratio);
        if (!product) return false;
        ChannelException exceptions[kMaxExceptions];
        std::fill_n(exceptions, kMaxExceptions, ChannelException{0xFFFF, 0});
        std::copy(offsets.exceptions.begin(), offsets.exceptions.end(), exceptions);
        BlendWordsShortWithExceptions(target, other, words, product->g, product->m, exceptions);
        return true;
    }
    bool takesOther = true; // a share of 1: every channel becomes the other frame's
    for (int d = -31; d <= 31; ++d)
        takesOther = takesOther && offsets.offset[size_t(d + 31)] == -d;
    if (takesOther) {
        CopyWordsWithoutTopBit(target, other, words);
        return true;
    }
    if (const auto product = FindShortProduct(offsets.offset, ratio)) {
        BlendWordsShort(target, other, words, product->g, product->m);
        return true;
    }
    if (const auto product = FindLongProduct(offsets.offset, ratio)) {
        BlendWordsLong(target, other, words, product->m, product->b);
        return true;
    }
    return false;
}

} // namespace

void Blend16Avx2(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    if (!BlendWordsWithProduct(target, other, count / 2, ratio))
        Blend16Plain(target, other, count, ratio);
}
