// The cross-fade's runs in their plain and faster forms, and the table that holds the forms of
// this process's SIMD level. Internal to the cross-fade kernels.
#pragma once

#include <cstddef>
#include <cstdint>

// blend24 / blend16: count bytes of target blended with other at the ratio (24-bit bytes,
// 16-bit 5-5-5 words). narrow / widen: pixels converted from 24 to 16 bits and back.
struct CrossfadeRuns {
    void (*blend24)(uint8_t* target, const uint8_t* other, size_t count, double ratio);
    void (*blend16)(uint8_t* target, const uint8_t* other, size_t count, double ratio);
    void (*narrow)(const uint8_t* in, uint8_t* out, size_t pixels);
    void (*widen)(const uint8_t* in, uint8_t* out, size_t pixels);
};

// A multiplier m with truncate(d / ratio) = sign(d) * ((|d| * m) >> bits) for every byte
// difference d: 16 bits where that suffices (most ratios), else 24; bits 0 where there is none.
struct ExactProduct {
    int bits;
    int64_t multiplier;
};
ExactProduct FindExactProduct(double ratio);

void Blend24Plain(uint8_t* target, const uint8_t* other, size_t count, double ratio);
void Blend16Plain(uint8_t* target, const uint8_t* other, size_t count, double ratio);
void Narrow24To16Plain(const uint8_t* in, uint8_t* out, size_t pixels);
void Widen16To24Plain(const uint8_t* in, uint8_t* out, size_t pixels);

void Blend24Sse2(uint8_t* target, const uint8_t* other, size_t count, double ratio);
void Blend24Avx2(uint8_t* target, const uint8_t* other, size_t count, double ratio);
void Blend16Avx2(uint8_t* target, const uint8_t* other, size_t count, double ratio);
void Narrow24To16Avx2(const uint8_t* in, uint8_t* out, size_t pixels);
void Widen16To24Avx2(const uint8_t* in, uint8_t* out, size_t pixels);
