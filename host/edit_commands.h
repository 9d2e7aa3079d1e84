// The Edit menu's commands on the current slot's frame range, through the host clipboard.
// Each returns 1 on success and 0 on failure; a failed command changes nothing.
#pragma once

#include "workspace.h"

// Moves frames rangeStart .. rangeEnd - 1 into the clipboard; the range becomes rangeStart's
// frame and the next.
int CutRange(EditWorkspace& ws);

// Puts a copy of frames rangeStart .. rangeEnd - 1 into the clipboard.
int CopyRange(EditWorkspace& ws);

// Inserts every clipboard frame before frame rangeStart; the range then covers them. Frames of
// another width, height or depth than the slot's, or an empty clipboard, fail.
int PasteClipboard(EditWorkspace& ws);

// Reverses the order of frames rangeStart .. rangeEnd, both ends included.
int ReverseRange(EditWorkspace& ws);
