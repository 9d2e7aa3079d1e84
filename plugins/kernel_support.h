// Shared by the effects' pixel kernels: the choice of SIMD level, real-to-integer conversion,
// word and vector loads and stores, and the 5-5-5 pixel format. No Qt, no globals.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MIVRA_X86 1
// AVX2 code carries this attribute instead of whole files being built for AVX2: an inline
// function shared with the other files, once built for AVX2, could be the copy the linker keeps
// for every caller, including those on processors without it.
#define MIVRA_AVX2 __attribute__((target("avx2")))
#endif

static_assert(std::endian::native == std::endian::little,
              "the kernels read pixels as little-endian words");

// Ordered: a level includes the ones below it.
enum class SimdLevel { Scalar, Sse2, Avx2 };

// The best level this processor has.
inline SimdLevel ProcessorSimdLevel() {
#if MIVRA_X86
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2; // part of every x86-64 processor
#else
    return SimdLevel::Scalar;
#endif
}

// The level a request ("scalar", "sse2", "avx2") names, capped at best; no request, or one of
// another name, gives best.
inline SimdLevel ChooseSimdLevel(const char* request, SimdLevel best) {
    if (request == nullptr) return best;
    const std::string_view name(request);
    SimdLevel wanted = best;
    if (name == "scalar") wanted = SimdLevel::Scalar;
    if (name == "sse2") wanted = SimdLevel::Sse2;
    if (name == "avx2") wanted = SimdLevel::Avx2;
    return std::min(wanted, best);
}

// The level of this process: MIVRA_SIMD, which tests and benchmarks set to try the slower
// paths, or else the processor's best. Each effect asks once, when it fills its table.
inline SimdLevel ProcessSimdLevel() {
    return ChooseSimdLevel(std::getenv("MIVRA_SIMD"), ProcessorSimdLevel());
}

// Truncation toward zero that is defined for every double (NaN gives 0); the clamp lies far
// outside the range of any exact pixel or position result, so only absurd inputs meet it.
inline int64_t TruncateSafely(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int64_t>(std::clamp(value, -1e15, 1e15));
}

inline uint16_t LoadWord(const uint8_t* p) {
    uint16_t word;
    std::memcpy(&word, p, 2);
    return word;
}

inline void StoreWord(uint8_t* p, uint16_t word) {
    std::memcpy(p, &word, 2);
}

// 5-5-5 words: blue in bits 0-4, green in 5-9, red in 10-14; bit 15 is unused.
constexpr uint16_t kColourBits555 = 0x7FFF;

inline uint16_t Narrow555(uint8_t blue, uint8_t green, uint8_t red) {
    return static_cast<uint16_t>((blue >> 3) | ((green >> 3) << 5) | ((red >> 3) << 10));
}

// Blue, green, red bytes of a 5-5-5 word, each channel in the top five bits.
inline void Widen555(uint16_t word, uint8_t* bgr) {
    bgr[0] = static_cast<uint8_t>((word & 0x1F) << 3);
    bgr[1] = static_cast<uint8_t>((word & 0x3E0) >> 2);
    bgr[2] = static_cast<uint8_t>((word & 0x7C00) >> 7);
}

// Sixteen 3-byte pixels, the step of the 24-bit vector passes: patterns of that length stay in
// phase with the pixels.
struct PixelPattern {
    alignas(32) uint8_t bytes[48];
    explicit PixelPattern(const uint8_t pixel[3]) {
        for (int k = 0; k < 48; ++k)
            bytes[k] = pixel[k % 3];
    }
};

#if MIVRA_X86
inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store128(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

MIVRA_AVX2 inline __m256i Load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

MIVRA_AVX2 inline void Store256(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
#endif
