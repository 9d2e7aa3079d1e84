// Mask compositing by an exact key colour, and the cross-hair of the magnified pick view.
#pragma once

#include <cstdint>

#include "avifile/avifile.h"

// For every whole 3-byte group (blue, green, red) below imageSize where the mask shows exactly
// keyRGB (red, green, blue), copies the group of `back` (useBackground 1) or of the mask itself
// (otherwise) into `out`. All three buffers hold imageSize bytes; row padding is not skipped.
void KeyReplace(uint8_t* out, const uint8_t* mask, const uint8_t* back, const uint8_t keyRGB[3],
                uint32_t imageSize, int32_t useBackground);

// Cross-hair column and row in frame pixels (row 0 = top of the picture), and the frame pixel
// at the top-left of the magnified view.
struct CrossPoint {
    int32_t x, y, viewX, viewY;
};

// XORs with 0xAA every byte of the pixels of row y from column viewX over previewWidth pixels
// and of column x from row viewY over previewHeight rows, both cut to the width x height frame
// (bottom-up rows of width * bitCount / 8 bytes, no padding). Applying it twice restores the
// buffer.
void XorCrossHair(uint8_t* buffer, int32_t previewWidth, int32_t previewHeight, int32_t width,
                  int32_t height, int32_t bitCount, const CrossPoint& cross);
