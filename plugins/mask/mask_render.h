// The mask composite, apart from its dialog: the streams and ranges the dialog links, the key
// colour it sets, and the frames it produces.
#pragma once

#include "renderer.h"

#include <cstdint>
#include <vector>

namespace mask {

// A stream whose frames go along with the base range, from its own start frame on.
struct LinkedStream {
    PAVISTREAM stream = nullptr;
    BITMAPINFOHEADER format{};
    int32_t length = 0; // frames
    int32_t start = 0;  // keyed with the first frame of the base range
    bool holds = false; // the start frame serves the whole range
};

struct MaskParams {
    PAVISTREAM base = nullptr; // the current stream
    BITMAPINFOHEADER format{}; // the base's, which a linked stream in use shares
    int64_t frameCount = 0;    // the base's
    int32_t start = 0;         // the base range, end included
    int32_t end = 1;
    LinkedStream mask;
    LinkedStream back;
    bool useBackground = true;  // off: a keyed pixel takes the key itself
    uint8_t key[3] = {0, 0, 0}; // blue, green, red
};

// Every frame of the base; in the base range, wherever the mask shows the key exactly, the
// background's pixel replaces the base's.
class MaskRenderer : public plugin::Renderer {
  public:
    explicit MaskRenderer(const MaskParams& params);

    int64_t frameCount() const override { return params_.frameCount; }
    const BITMAPINFOHEADER& format() const override { return params_.format; }
    bool passes(int64_t index) const override;
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override;

  private:
    MaskParams params_;
    std::vector<uint8_t> maskFrame_;
    std::vector<uint8_t> backFrame_;
    bool startRead_ = false; // the linked streams' start frames are in maskFrame_, backFrame_
};

} // namespace mask
