// An effect for the session's tests, run without any window: every frame of the current slot
// with its bytes inverted.
#pragma once

#include "render.h"
#include "session.h"

namespace invert_effect {

class Renderer : public plugin::Renderer {
  public:
    explicit Renderer(const EditWorkspace& ws)
        : stream_(ws.currentStream), format_(*ws.frameFormat), frames_(AVIStreamLength(stream_)) {}
    int64_t frameCount() const override { return frames_; }
    const BITMAPINFOHEADER& format() const override { return format_; }
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override {
        if (!plugin::ReadFrame(stream_, index, pixels, format_))
            return plugin::FrameResult::Failed("unreadable");
        for (DWORD i = 0; i < format_.biSizeImage; ++i)
            pixels[i] = uint8_t(~pixels[i]);
        return plugin::FrameResult::Made();
    }

  private:
    PAVISTREAM stream_;
    BITMAPINFOHEADER format_;
    int64_t frames_;
};

inline Outcome Apply() {
    return session::ApplyEffect([](EditWorkspace* ws) {
        Renderer renderer(*ws);
        return plugin::RenderIntoSlot(*ws, renderer, {}).state ==
               plugin::RenderOutcome::State::Rendered;
    });
}

} // namespace invert_effect
