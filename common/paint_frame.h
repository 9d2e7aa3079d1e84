// Drawing one frame (an uncompressed DIB) into a picture control of a dialog.
#pragma once

#include "avifile/avifile.h"

namespace dlg {
class Dialog;
}

enum class FrameScaling {
    Smooth,  // the host's pictures
    Nearest, // the plug-ins' previews: whole source pixels
};

// Draws the frame stretched over the whole client area of control `id` (an Edit or Picture
// control), aspect ratio not kept. The pixels are copied at the call, so the caller may change
// its buffer afterwards; neither the buffer nor the header is changed. Frames: uncompressed
// 16-bit (5-5-5) or 24-bit, rows padded to 4 bytes, bottom-up (top-down for a negative height).
// A header that is not such a frame, or whose rows need more than biSizeImage bytes, clears
// the control instead: nothing is read outside the buffer.
void PaintFrame(dlg::Dialog& dialog, int id, const void* pixels, const BITMAPINFOHEADER* header,
                FrameScaling scaling = FrameScaling::Smooth);

// Like PaintFrame, but draws only the window of the frame that starts at (srcX, srcY), counted
// from the picture's top-left corner, and is cutW pixels narrower and cutH pixels lower than
// the frame. The window is clipped to the frame; an empty window clears the control.
void PaintFramePart(dlg::Dialog& dialog, int id, const void* pixels, const BITMAPINFOHEADER* header,
                    int cutW, int cutH, int srcX, int srcY,
                    FrameScaling scaling = FrameScaling::Nearest);
