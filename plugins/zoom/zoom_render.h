// The zoom's render without its dialog: the settings the dialog edits, and the frames they make.
#pragma once

#include "renderer.h"
#include "zoom_resample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zoom {

struct ZoomParams {
    PAVISTREAM stream = nullptr; // the current slot's stream, rendered whole
    BITMAPINFOHEADER format{};   // of its frames
    int64_t frameCount = 0;
    int32_t rangeStart = 0; // the frames zoomed, both included, inside the stream
    int32_t rangeEnd = 0;
    ZoomKey start{}; // the first frame of the range
    ZoomKey end{};   // the last frame of the range
    bool filter = false;
    uint16_t taps = 0; // bit k: smoothing tap k + 1
};

// Bytes a frame buffer of the zoom holds: the stream's frame (rows padded) and the kernels'
// packed rows, whichever is longer.
size_t FrameBufferBytes(const BITMAPINFOHEADER& format);

// Zooms `source` by `key` into `output` (both FrameBufferBytes long) and smooths it when the
// filter is on: the picture a preview shows.
void ZoomAndSmooth(const ZoomParams& params, const ZoomKey& key, const uint8_t* source,
                   uint8_t* output);

// Frames outside the range pass through; each frame of the range is zoomed by a key that moves
// one step per frame from the start key toward the end key.
class ZoomRenderer : public plugin::Renderer {
  public:
    explicit ZoomRenderer(const ZoomParams& params);

    int64_t frameCount() const override { return params_.frameCount; }
    const BITMAPINFOHEADER& format() const override { return params_.format; }
    bool passes(int64_t index) const override;
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override;

  private:
    ZoomParams params_;
    size_t kernelBytes_;
    std::vector<uint8_t> source_;
    // The kernels' rows when they do not fit into the stream's frame.
    std::vector<uint8_t> zoomed_;
    ZoomKey running_; // the setting of the next frame of the range
};

} // namespace zoom
