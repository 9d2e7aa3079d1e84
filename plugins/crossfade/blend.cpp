#include "blend.h"

#include "kernel_support.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

// The vector passes need byte shuffles and 16-bit abs and sign (SSSE3), checked at run time.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MIVRA_SSSE3 1
#define MIVRA_TARGET_SSSE3 __attribute__((target("ssse3")))
#endif


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

void BlendBytesWithTable(uint8_t* target, const uint8_t* other, size_t count,
                         const ByteBlendTable& table) {
    for (size_t k = 0; k < count; ++k)
        target[k] = static_cast<uint8_t>(target[k] + table.add[target[k] - other[k] + 255]);
}

#if MIVRA_SSSE3
// A multiplier m with truncate(d / ratio) = sign(d) * ((|d| * m) >> bits) for every byte
// difference, taken from the exact per-difference results; -1 when no such m below 2^bits + 1
// exists (ratios below 1, or rounding of the division that the product does not reproduce).
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

// Eight bytes widened to 16 bits: target - sign(d) * q(|d|), modulo 256. q is (|d| * m) >> 16
// for a 16-bit m, or (|d| * m) >> 24 for a 24-bit m split into its high and low halves (the
// high product stays below 65281 and the sum below 65536).
template <bool Wide>
MIVRA_TARGET_SSSE3 __m128i BlendLanes(__m128i t, __m128i o, __m128i high, __m128i low) {
    const __m128i d = _mm_sub_epi16(t, o);
    const __m128i magnitude = _mm_abs_epi16(d);
    __m128i q = _mm_mulhi_epu16(magnitude, low);
    if constexpr (Wide) q = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(magnitude, high), q), 8);
    return _mm_and_si128(_mm_sub_epi16(t, _mm_sign_epi16(q, d)), _mm_set1_epi16(0xFF));
}

// Sixteen bytes at a time; returns how many bytes it blended.
template <bool Wide>
MIVRA_TARGET_SSSE3 size_t BlendBytesVector(uint8_t* target, const uint8_t* other, size_t count,
                                           int64_t m) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_set1_epi16(static_cast<short>(m >> 16));
    const __m128i low = _mm_set1_epi16(static_cast<short>(m & 0xFFFF));
    size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + k));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + k));
        const __m128i first =
            BlendLanes<Wide>(_mm_unpacklo_epi8(t, zero), _mm_unpacklo_epi8(o, zero), high, low);
        const __m128i second =
            BlendLanes<Wide>(_mm_unpackhi_epi8(t, zero), _mm_unpackhi_epi8(o, zero), high, low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + k), _mm_packus_epi16(first, second));
    }
    return k;
}

// The 16-bit multiplier form with 32 bytes at a time, where the processor has AVX2 (unpacking
// and packing work within each 128-bit half, so the byte order is kept).
__attribute__((target("avx2"))) size_t BlendBytesAvx2(uint8_t* target, const uint8_t* other,
                                                      size_t count, int64_t m) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i multiplier = _mm256_set1_epi16(static_cast<short>(m));
    const __m256i byteMask = _mm256_set1_epi16(0xFF);
    auto blend = [&](__m256i t, __m256i o) __attribute__((target("avx2"))) {
        const __m256i d = _mm256_sub_epi16(t, o);
        const __m256i q = _mm256_mulhi_epu16(_mm256_abs_epi16(d), multiplier);
        return _mm256_and_si256(_mm256_sub_epi16(t, _mm256_sign_epi16(q, d)), byteMask);
    };
    size_t k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(target + k));
        const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other + k));
        const __m256i first = blend(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(o, zero));
        const __m256i second = blend(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(o, zero));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + k),
                            _mm256_packus_epi16(first, second));
    }
    return k;
}

// The exact product for this ratio, if any: one 16-bit multiplier where it suffices (most
// ratios), else a 24-bit one. Returns how many bytes it blended.
size_t BlendBytesWithProduct(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    if (!__builtin_cpu_supports("ssse3")) return 0;
    const int64_t narrow = FindExactMultiplier(ratio, 16);
    if (narrow >= 0 && narrow <= 0xFFFF) {
        const size_t done =
            __builtin_cpu_supports("avx2") ? BlendBytesAvx2(target, other, count, narrow) : 0;
        return done + BlendBytesVector<false>(target + done, other + done, count - done, narrow);
    }
    const int64_t wide = FindExactMultiplier(ratio, 24);
    if (wide >= 0) return BlendBytesVector<true>(target, other, count, wide);
    return 0;
}
#endif

void Blend24(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    size_t done = 0;
#if MIVRA_SSSE3
    done = BlendBytesWithProduct(target, other, count, ratio);
#endif
    if (done < count)
        BlendBytesWithTable(target + done, other + done, count - done, ByteBlendTable(ratio));
}

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

MIVRA_VECTOR_CLONES void CopyWordsWithoutTopBit(uint8_t* target, const uint8_t* other,
                                                size_t words) {
    for (size_t i = 0; i < words; ++i) {
        uint16_t q;
        std::memcpy(&q, other + 2 * i, 2);
        q &= 0x7FFF;
        std::memcpy(target + 2 * i, &q, 2);
    }
}

// One channel of the 16-bit fixed-point form, left at its bit position Shift: the low five bits
// of u + e(u - v) there. Scaling the difference and the offset by shifts in either direction,
// instead of moving the channel down and back up, saves two shifts a channel. The placed
// offset carries some bits below the channel; the channel's own low bits are zero, so adding
// them cannot carry into it, and the mask drops them.
template <int Shift>
uint16_t BlendChannelShort(uint16_t p, uint16_t q, int16_t g, int16_t m) {
    constexpr uint16_t mask = 0x1F << Shift;
    const uint16_t own = p & mask;
    const int16_t difference = static_cast<int16_t>((q & mask) - own); // (v - u) << Shift
    int16_t scaled; // (v - u) << kShortShift
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

uint16_t BlendWordShort(uint16_t p, uint16_t q, int16_t g, int16_t m) {
    return static_cast<uint16_t>(BlendChannelShort<0>(p, q, g, m) |
                                 BlendChannelShort<5>(p, q, g, m) |
                                 BlendChannelShort<10>(p, q, g, m));
}

MIVRA_VECTOR_CLONES void BlendWordsShort(uint8_t* target, const uint8_t* other, size_t words,
                                         int16_t g, int16_t m) {
    for (size_t i = 0; i < words; ++i) {
        uint16_t p, q; // little-endian words, as stored
        std::memcpy(&p, target + 2 * i, 2);
        std::memcpy(&q, other + 2 * i, 2);
        const uint16_t word = BlendWordShort(p, q, g, m);
        std::memcpy(target + 2 * i, &word, 2);
    }
}

// One blended channel at Shift, replaced where its pair is one of the exceptions.
template <int Shift>
uint16_t PutExceptions(uint16_t blended, uint16_t p, uint16_t q,
                       const uint16_t (&pairs)[kMaxExceptions],
                       const uint16_t (&values)[kMaxExceptions]) { // values placed at Shift
    const uint16_t pair =
        static_cast<uint16_t>((((p >> Shift) & 0x1F) << 5) | ((q >> Shift) & 0x1F));
    for (size_t n = 0; n < kMaxExceptions; ++n)
        blended = pair == pairs[n] ? values[n] : blended;
    return blended;
}

// BlendWordsShort with the exceptions put in; unused entries name no pair. A fixed count held
// in local arrays, so that the compiler vectorises the check as well.
MIVRA_VECTOR_CLONES void BlendWordsShortWithExceptions(
    uint8_t* target, const uint8_t* other, size_t words, int16_t g, int16_t m,
    const ChannelException (&exceptions)[kMaxExceptions]) {
    uint16_t pairs[kMaxExceptions], values[3][kMaxExceptions];
    for (size_t n = 0; n < kMaxExceptions; ++n) {
        pairs[n] = exceptions[n].pair;
        for (int c = 0; c < 3; ++c)
            values[c][n] = static_cast<uint16_t>(exceptions[n].w << (5 * c));
    }
    for (size_t i = 0; i < words; ++i) {
        uint16_t p, q;
        std::memcpy(&p, target + 2 * i, 2);
        std::memcpy(&q, other + 2 * i, 2);
        const uint16_t word = static_cast<uint16_t>(
            PutExceptions<0>(BlendChannelShort<0>(p, q, g, m), p, q, pairs, values[0]) |
            PutExceptions<5>(BlendChannelShort<5>(p, q, g, m), p, q, pairs, values[1]) |
            PutExceptions<10>(BlendChannelShort<10>(p, q, g, m), p, q, pairs, values[2]));
        std::memcpy(target + 2 * i, &word, 2);
    }
}

MIVRA_VECTOR_CLONES void BlendWordsLong(uint8_t* target, const uint8_t* other, size_t words,
                                        int32_t m, int32_t b) {
    for (size_t i = 0; i < words; ++i) {
        uint16_t p, q;
        std::memcpy(&p, target + 2 * i, 2);
        std::memcpy(&q, other + 2 * i, 2);
        int32_t word = 0;
        for (int shift = 0; shift <= 10; shift += 5) {
            const int32_t u = (p >> shift) & 0x1F, v = (q >> shift) & 0x1F;
            word |= ((u + ((b - (u - v) * m) >> kLongBits)) & 0x1F) << shift;
        }
        const uint16_t result = static_cast<uint16_t>(word);
        std::memcpy(target + 2 * i, &result, 2);
    }
}

// Returns whether a fixed-point pass blended the words.
bool BlendWordsWithProduct(uint8_t* target, const uint8_t* other, size_t words, double ratio) {
    if constexpr (std::endian::native != std::endian::little) return false;
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

void Blend16(uint8_t* target, const uint8_t* other, size_t count, double ratio) {
    if (BlendWordsWithProduct(target, other, count / 2, ratio)) return;
    const ChannelBlendTable blend(ratio);
    for (size_t k = 0; k + 2 <= count; k += 2) {
        const uint32_t p = target[k] | (uint32_t{target[k + 1]} << 8);
        const uint32_t q = other[k] | (uint32_t{other[k + 1]} << 8);
        const uint32_t word = (blend(p, q, 10) << 10) | (blend(p, q, 5) << 5) | blend(p, q, 0);
        target[k] = static_cast<uint8_t>(word);
        target[k + 1] = static_cast<uint8_t>(word >> 8);
    }
}

#if MIVRA_SSSE3
// The depth conversions need byte shuffles (SSSE3), chosen at run time; 16 pixels per step.
// Four pixels (blue, green, red, 0) in 32-bit lanes into 5-5-5 words.
__m128i NarrowLanes(__m128i q) {
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(q, 3), _mm_set1_epi32(0x1F));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(q, 6), _mm_set1_epi32(0x3E0));
    const __m128i red = _mm_and_si128(_mm_srli_epi32(q, 9), _mm_set1_epi32(0x7C00));
    return _mm_or_si128(blue, _mm_or_si128(green, red));
}

// Four 5-5-5 words in 32-bit lanes into 12 packed bytes (blue, green, red each).
MIVRA_TARGET_SSSE3 __m128i WidenLanes(__m128i w) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i blue = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x1F)), 3);
    const __m128i green = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x3E0)), 6);
    const __m128i red = _mm_slli_epi32(_mm_and_si128(w, _mm_set1_epi32(0x7C00)), 9);
    return _mm_shuffle_epi8(_mm_or_si128(blue, _mm_or_si128(green, red)), pack);
}

MIVRA_TARGET_SSSE3 size_t Narrow24To16Vector(const uint8_t* in, uint8_t* out, size_t pixels) {
    // Four pixels of 12 bytes into the low three bytes of four 32-bit lanes.
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    size_t done = 0;
    for (; done + 16 <= pixels; done += 16, in += 48, out += 32) {
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        const __m128i w0 = NarrowLanes(_mm_shuffle_epi8(a0, spread));
        const __m128i w1 = NarrowLanes(_mm_shuffle_epi8(_mm_alignr_epi8(a1, a0, 12), spread));
        const __m128i w2 = NarrowLanes(_mm_shuffle_epi8(_mm_alignr_epi8(a2, a1, 8), spread));
        const __m128i w3 = NarrowLanes(_mm_shuffle_epi8(_mm_srli_si128(a2, 4), spread));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(w0, w1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_packs_epi32(w2, w3));
    }
    return done;
}

MIVRA_TARGET_SSSE3 size_t Widen16To24Vector(const uint8_t* in, uint8_t* out, size_t pixels) {
    const __m128i zero = _mm_setzero_si128();
    size_t done = 0;
    for (; done + 16 <= pixels; done += 16, in += 32, out += 48) {
        const __m128i u0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i u1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i c0 = WidenLanes(_mm_unpacklo_epi16(u0, zero));
        const __m128i c1 = WidenLanes(_mm_unpackhi_epi16(u0, zero));
        const __m128i c2 = WidenLanes(_mm_unpacklo_epi16(u1, zero));
        const __m128i c3 = WidenLanes(_mm_unpackhi_epi16(u1, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                         _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }
    return done;
}
#endif

void Narrow24To16(const uint8_t* in, uint8_t* out, size_t pixels) {
    size_t done = 0;
#if MIVRA_SSSE3
    if (__builtin_cpu_supports("ssse3")) done = Narrow24To16Vector(in, out, pixels);
#endif
    for (size_t j = done * 3, o = done * 2; done < pixels; ++done, j += 3, o += 2) {
        const uint32_t w = (in[j] >> 3) | ((in[j + 1] >> 3) << 5) | ((in[j + 2] >> 3) << 10);
        out[o] = static_cast<uint8_t>(w);
        out[o + 1] = static_cast<uint8_t>(w >> 8);
    }
}

void Widen16To24(const uint8_t* in, uint8_t* out, size_t pixels) {
    size_t done = 0;
#if MIVRA_SSSE3
    if (__builtin_cpu_supports("ssse3")) done = Widen16To24Vector(in, out, pixels);
#endif
    for (size_t j = done * 2, o = done * 3; done < pixels; ++done, j += 2, o += 3) {
        const uint32_t w = in[j] | (uint32_t{in[j + 1]} << 8);
        out[o] = static_cast<uint8_t>((w & 0x1F) << 3);
        out[o + 1] = static_cast<uint8_t>((w & 0x3E0) >> 2);
        out[o + 2] = static_cast<uint8_t>((w & 0x7C00) >> 7);
    }
}

} // namespace

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
    if (targetFormat.biBitCount == 24) Blend24(target, other, count, ratio);
    if (targetFormat.biBitCount == 16) Blend16(target, other, count, ratio);
    return 1;
}

const uint8_t* ConvertPixelDepth(int32_t targetBitCount, const BITMAPINFOHEADER& otherHeader,
                                 const uint8_t* otherPixels, uint8_t* scratch, size_t scratchSize) {
    if (otherHeader.biBitCount == targetBitCount) return otherPixels;
    // Whole pixels only, and no further than either buffer.
    const size_t size = otherHeader.biSizeImage;
    if (targetBitCount == 16) {
        Narrow24To16(otherPixels, scratch, std::min(size / 3, scratchSize / 2));
        return scratch;
    }
    if (targetBitCount == 24) {
        Widen16To24(otherPixels, scratch, std::min(size / 2, scratchSize / 3));
        return scratch;
    }
    return otherPixels;
}
