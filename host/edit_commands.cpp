#include "edit_commands.h"

#include "avi_io.h"
#include "host.h"
#include "panels.h"
#include "player.h"

namespace {

// An edit is made on a clone of the working stream. The working stream, the slot's entry and
// the stream information take the result together, so a failure leaves all three as they
// were. Takes ownership of `edited`.
bool Commit(EditWorkspace& ws, PAVISTREAM edited) {
    AVISTREAMINFOA info{};
    PAVISTREAM slotCopy = CloneOf(edited);
    if (!slotCopy || AVIStreamInfoA(edited, &info, sizeof info) != AVIERR_OK) {
        AVIStreamRelease(slotCopy);
        AVIStreamRelease(edited);
        return false;
    }
    StopPlayback();
    AVIStreamRelease(ws.currentStream);
    ws.currentStream = edited;
    AVIStreamRelease(ws.slotStreams[ws.currentSlot]);
    ws.slotStreams[ws.currentSlot] = slotCopy;
    ws.streamInfo = info;
    return true;
}

void ReplaceClipboard(PAVISTREAM stream) {
    AVIStreamRelease(clipboardStream);
    clipboardStream = stream;
}

// Moving the frame at `last` to p, for p = first, first + 1, ..., last - 1, leaves
// first .. last in reverse order.
bool ReverseFrames(PAVISTREAM stream, LONG first, LONG last) {
    for (LONG p = first; p < last; ++p) {
        LONG at = last, one = 1;
        PAVISTREAM frame = nullptr;
        if (EditStreamCut(stream, &at, &one, &frame) != AVIERR_OK) return false;
        LONG position = p, inserted = 1;
        const HRESULT pasted = EditStreamPaste(stream, &position, &inserted, frame, 0, 1);
        AVIStreamRelease(frame);
        if (pasted != AVIERR_OK) return false;
    }
    return true;
}

} // namespace

int CutRange(EditWorkspace& ws) {
    PAVISTREAM edited = CloneOf(ws.currentStream);
    if (!edited) return 0;
    LONG start = ws.rangeStart, length = ws.rangeEnd - ws.rangeStart;
    PAVISTREAM taken = nullptr;
    if (EditStreamCut(edited, &start, &length, &taken) != AVIERR_OK) {
        AVIStreamRelease(edited);
        return 0;
    }
    if (!Commit(ws, edited)) {
        AVIStreamRelease(taken);
        return 0;
    }
    ReplaceClipboard(taken);
    ws.rangeEnd = ws.rangeStart + 1;
    RefreshEditorPanel();
    return 1;
}

int CopyRange(EditWorkspace& ws) {
    LONG start = ws.rangeStart, length = ws.rangeEnd - ws.rangeStart;
    PAVISTREAM copied = nullptr;
    AVISTREAMINFOA info{};
    if (EditStreamCopy(ws.currentStream, &start, &length, &copied) != AVIERR_OK) return 0;
    if (AVIStreamInfoA(ws.currentStream, &info, sizeof info) != AVIERR_OK) {
        AVIStreamRelease(copied);
        return 0;
    }
    ReplaceClipboard(copied);
    ws.streamInfo = info;
    RefreshEditorPanel();
    return 1;
}

int PasteClipboard(EditWorkspace& ws) {
    PAVISTREAM edited = CloneOf(ws.currentStream);
    if (!edited) return 0;
    LONG position = ws.rangeStart, inserted = AVIStreamLength(clipboardStream);
    if (EditStreamPaste(edited, &position, &inserted, clipboardStream, 0, inserted) != AVIERR_OK) {
        AVIStreamRelease(edited);
        return 0;
    }
    if (!Commit(ws, edited)) return 0;
    ws.rangeStart = position;
    ws.rangeEnd = position + inserted;
    RefreshEditorPanel();
    return 1;
}

int ReverseRange(EditWorkspace& ws) {
    PAVISTREAM edited = CloneOf(ws.currentStream);
    if (!edited) return 0;
    if (!ReverseFrames(edited, ws.rangeStart, ws.rangeEnd)) {
        AVIStreamRelease(edited);
        return 0;
    }
    if (!Commit(ws, edited)) return 0;
    RefreshEditorPanel();
    return 1;
}
