// Zoom and pan by repeating and dropping whole pixels and rows, the per-frame interpolation of
// the zoom keys, and the eight-tap smoothing filter. Frames are H rows of W pixels, no row
// padding, row 0 the bottom line.
#pragma once

#include <cstdint>

#include "avifile/avifile.h"

struct ZoomKey {
    int32_t flags; // bit 0 / bit 1: the x / y zoom moves down (or stays) toward the end key
    double xSize;  // zoomed picture size in pixels
    double ySize;
    double xPos; // picture position
    double yPos;
    double xZoom; // percent
    double yZoom;
    double xZoomStep; // per-frame changes
    double yZoomStep;
    double xPosStep;
    double yPosStep;
};

// Fills start's flags and steps for the frames rangeStart..rangeEnd (steps are 0 for a range of
// one frame, where they are never used).
void ComputeZoomSteps(ZoomKey& start, const ZoomKey& end, int32_t rangeStart, int32_t rangeEnd);

// Advances the zooms (held at the end key's values by flags) and the positions by one frame.
void AdvanceZoomKey(ZoomKey& key, const ZoomKey& end);

// Effect: the zoom effect's resampler. PickView: the Mask's magnified view, which keeps the top
// row where it is and never writes the bottom line.
enum class ZoomVariant { Effect, PickView };

// Renders `source` zoomed and placed by `key` into `output` (both width * height * bytes per
// pixel). Only 16- and 24-bit frames are rendered; other bit counts leave output untouched.
// Source pixels outside the frame show as black, output pixels outside it are not written, and
// a key with a non-finite value or one beyond +-2^24 gives a black frame.
void ZoomFrame(ZoomKey key, const uint8_t* source, uint8_t* output, int32_t width, int32_t height,
               int32_t bitCount, ZoomVariant variant = ZoomVariant::Effect);

// Averages each 24-bit pixel with the neighbours selected by the eight bits of taps. Output and
// input may be the same buffer: then the neighbours below and to the left are read already
// smoothed. Other bit counts leave output untouched.
void SmoothFrame(uint8_t* output, const uint8_t* input, uint16_t taps, int32_t width,
                 int32_t height, int32_t bitCount);
