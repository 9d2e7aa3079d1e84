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
    bool made = true;  // false: the frame is the current slot's frame in its place, unchanged
    std::string error; // with ok == false, what went wrong

    static FrameResult Made() { return {}; }
    static FrameResult Passed() { return {true, false, {}}; }
    static FrameResult Failed(std::string text) { return {false, false, std::move(text)}; }
};

// The sound that goes with an output frame: the current slot's frame `own` (-1: none) mixed with
// frame `otherFrame` of the slot whose stream is `other` (null: none), which has `otherShare`
// of it (0: nothing of the other, 1: only the other).
struct FrameSound {
    int64_t own = -1;
    PAVISTREAM other = nullptr;
    int64_t otherFrame = -1;
    double otherShare = 0;

    static FrameSound Own(int64_t frame) { return {frame, nullptr, -1, 0}; }
};

class Renderer {
  public:
    virtual ~Renderer() = default;
    // How many frames the render produces, and their header.
    virtual int64_t frameCount() const = 0;
    virtual const BITMAPINFOHEADER& format() const = 0;
    // True when output frame `index` is the current slot's frame `index` unchanged whatever the
    // frames before it were: the render then neither reads nor stores it, and render() is not
    // asked for it.
    virtual bool passes(int64_t /*index*/) const { return false; }
    // Output frame `index` into `pixels` (format().biSizeImage bytes). Frames are asked for in
    // ascending order, once each, all but those passes() lets through.
    virtual FrameResult render(int64_t index, uint8_t* pixels) = 0;
    // The sound of output frame `index`, asked right after render(index). By default the frame
    // keeps the sound of the current slot's frame in its place, as every effect that changes
    // pixels only does.
    virtual FrameSound soundOf(int64_t index) const { return FrameSound::Own(index); }
};

} // namespace plugin
