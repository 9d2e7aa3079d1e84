// The 24-bit runs of the colour change that have vector forms, and the table of the forms of one
// SIMD level. Internal to the colour kernels.
#pragma once

#include <cstddef>
#include <cstdint>

// wrap: adds k to each of count pixels from p, modulo 2^24. saturate: adds offsets (blue,
// green, red; each -256..256) to the bytes of each pixel, capped at 0 and 255.
struct ColorRuns {
    void (*wrap24)(uint8_t* p, size_t count, uint32_t k);
    void (*saturate24)(uint8_t* p, size_t count, const int32_t offsets[3]);
};

void WrapRun24Plain(uint8_t* p, size_t count, uint32_t k);
void SaturateRun24Plain(uint8_t* p, size_t count, const int32_t offsets[3]);
void WrapRun24Sse2(uint8_t* p, size_t count, uint32_t k);
void SaturateRun24Sse2(uint8_t* p, size_t count, const int32_t offsets[3]);
