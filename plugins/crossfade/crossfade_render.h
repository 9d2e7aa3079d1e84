// The cross-fade's render without its dialog: the settings the dialog edits, and the frames
// they make.
#pragma once

#include "blend.h"
#include "renderer.h"

#include <cstdint>
#include <vector>

namespace crossfade {

struct CrossfadeParams {
    PAVISTREAM source = nullptr; // the current slot's stream, rendered whole
    BITMAPINFOHEADER sourceFormat{};
    int32_t sourceFrames = 0;
    int32_t rangeStart = 0; // the source frames blended, both included
    int32_t rangeEnd = 1;
    PAVISTREAM destination = nullptr; // the stream blended in, from destinationStart on
    BITMAPINFOHEADER destinationFormat{};
    int32_t destinationFrames = 0;
    int32_t destinationStart = 0;
    int32_t destinationEnd = 1;
    bool insertOverStream = false; // append the destination's frames after destinationEnd
    int32_t startTransPercent = 100;
    int32_t endTransPercent = 0;
};

// Frames the render writes: the whole source, then with "Insert Over Stream" the destination's
// frames after destinationEnd.
int64_t OutputFrames(const CrossfadeParams& params);

// Writes the source in its own format, its range blended with the destination's frames by a
// weight that moves from one percentage to the other, then the appended frames converted to
// the source's depth. A destination frame converted to another depth writes whole pixels only:
// the row padding keeps what the output buffer held.
class CrossfadeRenderer : public plugin::Renderer {
  public:
    explicit CrossfadeRenderer(const CrossfadeParams& params);

    int64_t frameCount() const override { return OutputFrames(params_); }
    const BITMAPINFOHEADER& format() const override { return params_.sourceFormat; }
    bool passes(int64_t index) const override;
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override;
    // Blended frames mix the two sounds by the weight of their pictures; appended frames bring
    // the destination's sound.
    plugin::FrameSound soundOf(int64_t index) const override;

  private:
    plugin::FrameResult blendDestinationInto(int64_t index, uint8_t* pixels);
    bool readDestination(int64_t frame);
    void copyInSourceDepth(uint8_t* out, size_t outSize) const;

    CrossfadeParams params_;
    BlendParams blend_;
    std::vector<uint8_t> destFrame_;
    std::vector<uint8_t> converted_;
    double destinationShare_ = 0; // of the frame rendered last
};

} // namespace crossfade
