// Cross-fade arithmetic: the weight ramp over a range, the 16- and 24-bit pixel blends and the
// conversion of the other frame to the target's pixel depth.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avifile/avifile.h"

struct BlendParams {
    double weight;     // the other frame's share is weight / rangeLength
    double weightStep; // added before each blended frame
    int32_t endTransPercent;
    int32_t startTransPercent;
    int32_t rangeLength;
};

// Sets rangeLength, weight and weightStep for the source range rangeStart..rangeEnd from the
// two percentages (equal percentages give a step of 0).
void SetupBlend(BlendParams& params, int32_t rangeStart, int32_t rangeEnd);

// The update before each blended frame; returns the ratio rangeLength / weight for BlendFrames.
double AdvanceBlendWeight(BlendParams& params);

// Blends `other` into `target` in place over targetFormat.biSizeImage bytes, but never past
// otherSize. 24-bit: byte - truncate((byte - other) / ratio); 16-bit: per 5-bit channel
// truncate(u - (u - v) / ratio). Other bit counts, and a NaN ratio, leave the target as it is.
// Returns 1.
int BlendFrames(uint8_t* target, const uint8_t* other, size_t otherSize, double ratio,
                const BITMAPINFOHEADER& targetFormat);

// Returns otherPixels when the depths match or targetBitCount is neither 16 nor 24; otherwise
// converts 24-bit to 16-bit (5-5-5) or 16-bit to 24-bit into scratch, whole pixels only and no
// further than either buffer, and returns scratch.
const uint8_t* ConvertPixelDepth(int32_t targetBitCount, const BITMAPINFOHEADER& otherHeader,
                                 const uint8_t* otherPixels, uint8_t* scratch, size_t scratchSize);
