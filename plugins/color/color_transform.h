// Colour change of packed little-endian DIB pixels: per-channel offsets that ramp from frame to
// frame and, optionally, from pixel to pixel, with wrap-around (mode 0) or saturation (mode 1).
#pragma once

#include <cstdint>

#include "avifile/avifile.h"

struct ColorChangeState {
    int32_t bytesPerPixel;
    int32_t bitsPerChannel;
    int32_t channelMaskR;
    int32_t channelMaskG;
    int32_t channelMaskB;
    int32_t wrapMaskR;
    int32_t wrapMaskG;
    int32_t wrapMaskB;
    int32_t offsetR;
    int32_t offsetG;
    int32_t offsetB;
    int32_t stepR;
    int32_t stepG;
    int32_t stepB;
};

// Fills bytesPerPixel, bitsPerChannel and the six masks from the header's bit count.
void InitColorMasks(ColorChangeState& state, const BITMAPINFOHEADER& header);

// Packs a (red, green, blue) settings triple at the channels' bit positions.
void PackColorTriple(const ColorChangeState& state, const int16_t settings[3], int32_t packed[3]);

// One ramp step of the offsets. Mode 0 wraps, mode 1 caps at the channel mask; other modes do
// nothing. Mode 1 also stops at INT32_MIN instead of overflowing (the channel is 0 long before).
void AdvanceColorOffsets(ColorChangeState& state, int32_t mode);

// Transforms one frame of header.biSizeImage bytes in place. The offsets step after pixels
// N, 2N, ... with N = pixelY * width + pixelX. Only 16- and 24-bit frames are changed; a
// trailing group shorter than a pixel is left alone.
void TransformFrame(uint8_t* frame, ColorChangeState state, const BITMAPINFOHEADER& header,
                    int32_t mode, int32_t pixelX, int32_t pixelY);

// Whether TransformFrame leaves every frame of the header's format as it is under these
// arguments: a format it does not change, or 24-bit pixels whose offsets are 0 and stay 0
// inside the frame. (The 16-bit paths always clear each pixel's unused top bit.)
bool TransformKeepsFrame(const ColorChangeState& state, const BITMAPINFOHEADER& header,
                         int32_t mode, int32_t pixelX, int32_t pixelY);

// Writes the one-pixel swatch of a packed triple (bytesPerPixel bytes). A negative entry -k
// shows intensity k - 1. `packed` is left as it is, so the transform keeps the signed settings.
void MakeSwatchPixel(const ColorChangeState& state, int32_t packed[3], uint8_t* pixel);
