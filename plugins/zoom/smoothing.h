// The pieces of the eight-tap smoothing that its plain form and the in-place wavefront share,
// and the in-place forms the zoom's table chooses from. Internal to the zoom kernels.
#pragma once

#include <cstddef>
#include <cstdint>

enum Tap : uint16_t {
    kAbove = 0x01,
    kAboveRight = 0x02,
    kRight = 0x04,
    kBelowRight = 0x08,
    kBelow = 0x10,
    kBelowLeft = 0x20,
    kLeft = 0x40,
    kAboveLeft = 0x80,
};

// The smoothing divides sums of up to nine bytes by the number of pixels taken, 1 to 9.
constexpr uint32_t DivisionMultiplier(uint32_t count) {
    return (65536 + count - 1) / count;
}

constexpr bool MultiplierDividesExactly() {
    for (uint32_t count = 1; count <= 9; ++count)
        for (uint32_t sum = 0; sum <= 9 * 255; ++sum)
            if (((sum * DivisionMultiplier(count)) >> 16) != sum / count) return false;
    return true;
}
static_assert(MultiplierDividesExactly());

// The pixels a smoothed byte is divided by: itself with the taps above and below, the taps on
// its right and the taps on its left, each only where that neighbour exists.
struct TapCounts {
    uint32_t own, right, left;
};

TapCounts CountTaps(uint16_t taps, bool hasAbove, bool hasBelow);

// 0xFF for each selected tap in the order EdgeSum reads them (above, above right, right, below
// right, below, below left, left, above left); the left tap is left out when it is the running
// value of a chain instead.
void TapMasks(uint16_t taps, bool chainedLeft, uint8_t masks[8]);

// Own byte j of a row of a bytes plus every selected neighbour that exists.
uint16_t EdgeSum(const uint8_t* row, const uint8_t* above, const uint8_t* below, const uint8_t m[8],
                 size_t j, size_t a);

// out[j] = sums[j] / count for j in begin..end.
void DivideRow(uint8_t* out, const uint16_t* sums, size_t begin, size_t end, uint32_t count);

// In place with the left tap among taps: each pixel takes its left and lower neighbours
// already smoothed. The plain form goes row by row; the wavefront runs many rows at once.
using SmoothInPlaceRun = void (*)(uint8_t* frame, uint16_t taps, size_t width, size_t height);
void SmoothInPlacePlain(uint8_t* frame, uint16_t taps, size_t width, size_t height);
void SmoothInPlaceAvx2(uint8_t* frame, uint16_t taps, size_t width, size_t height);
