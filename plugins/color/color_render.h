// The colour change's render, apart from its dialog: the settings the dialog's controls make,
// the slot it reads, and the frames it produces.
#pragma once

#include "color_transform.h"
#include "renderer.h"

#include <cstdint>

struct ColorParams {
    // Channel masks from the format; offsets and steps packed as the sliders set them.
    ColorChangeState state{};
    bool notLooping = false; // saturate instead of wrapping around
    // The offsets step inside a frame after every pixelY * width + pixelX pixels.
    int32_t pixelX = 0;
    int32_t pixelY = 0;

    PAVISTREAM source = nullptr; // the current slot's stream
    BITMAPINFOHEADER format{};
    int64_t frameCount = 0;
    int32_t rangeStart = 0;
    int32_t rangeEnd = 0;

    int32_t mode() const { return notLooping ? 1 : 0; }
};

// Every frame of the source; frames rangeStart - 1 .. rangeEnd are changed, the first with the
// plain offsets, each further one with the offsets stepped once more.
class ColorRenderer : public plugin::Renderer {
  public:
    explicit ColorRenderer(const ColorParams& params);

    int64_t frameCount() const override { return params_.frameCount; }
    const BITMAPINFOHEADER& format() const override { return params_.format; }
    bool passes(int64_t index) const override;
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override;

  private:
    ColorParams params_;
    ColorChangeState ramp_; // the offsets of the next frame in the range
};
