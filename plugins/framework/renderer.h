// An effect's work on frames, apart from its dialog: no Qt, no message boxes. A dialog edits an
// effect's parameters, builds its renderer from them and hands it to the framework's render.
#pragma once

#include "avifile/avifile.h"

#include <cstdint>
#include <string>

namespace plugin {

// What became of one output frame.
struct FrameResult {
    bool ok = true;    // false: the render stops and `error` is shown to the user
    bool made = true;  // false: the frame is a source frame passed through unchanged
    std::string error; // with ok == false, what went wrong

    static FrameResult Made() { return {}; }
    static FrameResult Passed() { return {true, false, {}}; }
    static FrameResult Failed(std::string text) { return {false, false, std::move(text)}; }
};

class Renderer {
  public:
    virtual ~Renderer() = default;
    // How many frames the render produces, and their header.
    virtual int64_t frameCount() const = 0;
    virtual const BITMAPINFOHEADER& format() const = 0;
    // Output frame `index` into `pixels` (format().biSizeImage bytes). Frames are asked for in
    // order 0, 1, 2, ..., once each.
    virtual FrameResult render(int64_t index, uint8_t* pixels) = 0;
};

} // namespace plugin
