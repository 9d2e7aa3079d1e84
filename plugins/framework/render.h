// Rendering an effect into the current slot, without any window: the frames a renderer makes
// become the slot's temporary file; the frames it passes through stay where they are. The dialog
// skeleton runs this with its progress bar and Cancel; anything else (a test, a batch) can run
// it as it is.
#pragma once

#include "renderer.h"
#include "workspace.h"

#include <cstdint>
#include <functional>
#include <string>

namespace plugin {

// Reads frame n of stream into a buffer of format.biSizeImage bytes; false when the stream
// cannot deliver it.
bool ReadFrame(PAVISTREAM stream, int64_t n, uint8_t* buffer, const BITMAPINFOHEADER& format);

// Called before each frame with the frames done so far; false stops the render (a cancel).
using RenderProgress = std::function<bool(int64_t done)>;

struct RenderOutcome {
    enum class State { Rendered, Cancelled, Failed } state = State::Failed;
    std::string error; // with Failed, what the user is told
};

// Writes the frames `renderer` makes into scratch file 98 and makes it the current slot's
// temporary file (frames in another header than the slot's are copied into the slot's first),
// with the frame plan beside it that says which output frames are the slot's own, passed through
// unchanged; then releases ws's stream of the current slot, which the host rebuilds from both.
// A failure or a cancel leaves the slot's file and ws as they were and removes file 98.
RenderOutcome RenderIntoSlot(EditWorkspace& ws, Renderer& renderer, const RenderProgress& progress);

} // namespace plugin
