#include "slots.h"

#include "avi_io.h"
#include "host.h"
#include "player.h"

#include "ui/ui.h"

#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <cstring>

const char kAviFilters[] = "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";
const char kBitmapFilters[] = "BitMap(*.bmp)\0*.bmp\0All Files(*.*)\0*.*\0";

namespace {

// Shared by every file dialog of the host: the filter the user chose last.
DWORD rememberedFilterIndex = 0;

const char kTooManySlots[] = "ストリームは10個までしか開けません";
const char kPathTooLong[] = "ファイルのパスが長すぎます（99バイトまで）";
const char kStreamUnreadable[] = "ストリームを開けませんでした";
const char kOutOfMemory[] = "メモリが足りません";

// The record is packed: its handles are assigned, never bound to references.
void ReplaceCurrentStream(PAVISTREAM stream) {
    AVIStreamRelease(workspace.currentStream);
    workspace.currentStream = stream;
}

// The source file's stream wrapped in the view that delivers uncompressed frames.
PAVISTREAM UncompressingView(PAVISTREAM source) {
    PAVISTREAM view = nullptr;
    if (AVIMakeCompressedStream(&view, source, &compressOptions, nullptr) != AVIERR_OK)
        view = nullptr;
    AVIStreamRelease(source); // the view holds its own reference
    return view;
}

// The file named in openPath as an editable stream of uncompressed frames, or null after the
// user was told why not.
PAVISTREAM OpenSlotStream(QWidget* owner) {
    if (!OpenAviSource(owner, workspace)) return nullptr;
    PAVISTREAM view = UncompressingView(workspace.aviStream);
    workspace.aviStream = nullptr;
    PAVISTREAM stream = CloneOf(view);
    AVIStreamRelease(view);
    if (!stream) MessageBoxA(owner, kStreamUnreadable, "Error", MB_OK);
    return stream;
}

void FreeFrameBuffers() {
    std::free(workspace.startFrameBuffer);
    std::free(workspace.endFrameBuffer);
    workspace.startFrameBuffer = nullptr;
    workspace.endFrameBuffer = nullptr;
}

// Edits live in the working stream until another slot is made current: keep them in the slot.
void StoreWorkingStream() {
    const int slot = workspace.currentSlot;
    if (!workspace.currentStream || slot < 0 || slot >= workspace.slotCount) return;
    PAVISTREAM saved = CloneOf(workspace.currentStream);
    if (!saved) return;
    AVIStreamRelease(workspace.slotStreams[slot]);
    workspace.slotStreams[slot] = saved;
}

void RemoveSlot(int slot) {
    AVIStreamRelease(workspace.slotStreams[slot]);
    workspace.slotCount -= 1;
    for (int j = slot; j < workspace.slotCount; ++j) {
        workspace.slotStreams[j] = workspace.slotStreams[j + 1];
        std::memcpy(workspace.slotNames[j], workspace.slotNames[j + 1], kPathSize);
    }
    workspace.slotStreams[workspace.slotCount] = nullptr;
    std::memset(workspace.slotNames[workspace.slotCount], 0, kPathSize);
}

void CloseLastSlot() {
    RemoveSlot(0);
    ReplaceCurrentStream(nullptr);
    FreeFrameBuffers();
    workspace.currentSlot = 0;
}

} // namespace

int AskFileName(QWidget* owner, char (&path)[kPathSize], const char* filters, FileDialogMode mode) {
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filters;
    request.nFilterIndex = rememberedFilterIndex;
    request.lpstrFile = path;
    request.nMaxFile = kPathSize;
    request.lpstrTitle = "マルチメディア";
    // A save dialog that only accepted existing files could not save under a new name.
    request.Flags = OFN_HIDEREADONLY | (mode == FileDialogMode::Open ? OFN_FILEMUSTEXIST : 0);
    const bool chosen =
        mode == FileDialogMode::Open ? GetOpenFileNameA(&request) : GetSaveFileNameA(&request);
    if (!chosen) {
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
            MessageBoxA(owner, kPathTooLong, "Check", MB_OK);
        return 0;
    }
    rememberedFilterIndex = request.nFilterIndex;
    return 1;
}

void StripPath(char (&path)[kPathSize], int mode) {
    char stripped[kPathSize] = {};
    const std::size_t length = strnlen(path, kPathSize - 1);
    std::size_t start = length;
    while (start > 0 && path[start - 1] != '/')
        --start;
    if (mode == 1)
        std::memcpy(stripped, path + start, length - start);
    else
        std::memcpy(stripped, path, start);
    std::memcpy(path, stripped, kPathSize);
}

void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer) {
    if (!stream || !buffer) return;
    ::ReadFrame(stream, n, buffer, LONG(workspace.frameFormat->biSizeImage));
}

bool ActivateSlot(int slot) {
    if (slot < 0 || slot >= workspace.slotCount) return false;
    StopPlayback(); // the tick reads the slot entries and the working stream replaced here
    StoreWorkingStream();
    PAVISTREAM stream = CloneOf(workspace.slotStreams[slot]);
    BITMAPINFOHEADER format{};
    LONG formatSize = sizeof format;
    AVISTREAMINFOA info{};
    if (!stream || AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK) {
        AVIStreamRelease(stream);
        MessageBoxA(MainWindow(), kStreamUnreadable, "Error", MB_OK);
        return false;
    }
    AVIStreamReadFormat(stream, 0, &format, &formatSize);

    // New buffers first: when they cannot be had, the old ones and the old stream stay.
    const std::size_t size = std::max<std::size_t>(format.biSizeImage, 1);
    auto* start = static_cast<uint8_t*>(std::calloc(1, size));
    auto* end = static_cast<uint8_t*>(std::calloc(1, size));
    if (!start || !end) {
        std::free(start);
        std::free(end);
        AVIStreamRelease(stream);
        MessageBoxA(MainWindow(), kOutOfMemory, "Error", MB_OK);
        return false;
    }
    FreeFrameBuffers();
    workspace.startFrameBuffer = start;
    workspace.endFrameBuffer = end;
    ReplaceCurrentStream(stream);
    *workspace.frameFormat = format;
    workspace.streamInfo = info;
    workspace.rangeStart = 0;
    workspace.rangeEnd = 1;
    workspace.currentSlot = slot;
    ReadFrame(workspace.currentStream, workspace.rangeStart, workspace.startFrameBuffer);
    ReadFrame(workspace.currentStream, workspace.rangeEnd, workspace.endFrameBuffer);
    return true;
}

bool RefuseWhenSlotsFull(QWidget* owner) {
    if (workspace.slotCount < kMaxSlots) return false;
    MessageBoxA(owner, kTooManySlots, "Check", MB_OK);
    return true;
}

bool AppendSlot(PAVISTREAM stream) {
    const int slot = workspace.slotCount;
    workspace.slotStreams[slot] = stream;
    workspace.slotCount = slot + 1;
    if (!ActivateSlot(slot)) {
        RemoveSlot(slot);
        return false;
    }
    std::memcpy(workspace.slotNames[slot], workspace.openPath, kPathSize);
    StripPath(workspace.slotNames[slot], 1);
    return true;
}

int OpenAviFile(QWidget* mainWindow) {
    if (RefuseWhenSlotsFull(mainWindow)) return 0;
    if (!AskFileName(mainWindow, workspace.openPath, kAviFilters, FileDialogMode::Open)) return 0;
    if (hostFlags & kPanelsExist) AVIFileExit();
    AVIFileInit();

    // Opening overwrites the stream information and the format; a failed open must leave the
    // current slot's as they were.
    const AVISTREAMINFOA info = workspace.streamInfo;
    const BITMAPINFOHEADER format = *workspace.frameFormat;
    PAVISTREAM stream = OpenSlotStream(mainWindow);
    if (!stream || !AppendSlot(stream)) {
        workspace.streamInfo = info;
        *workspace.frameFormat = format;
        return 0;
    }
    RefreshPanels();
    return 1;
}

void CloseSlot(int slot) {
    if (slot < 0 || slot >= workspace.slotCount) return;
    StopPlayback();
    if (workspace.slotCount == 1) {
        CloseLastSlot();
    } else {
        // The first slot that stays becomes current; it must be ready before anything closes.
        if (!ActivateSlot(slot == 0 ? 1 : 0)) return;
        RemoveSlot(slot);
        workspace.currentSlot = 0;
    }
    DeleteTempFile(workspace.tempPath, slot, workspace);
    RefreshPanels();
}

void SwitchSlot(int slot) {
    if (ActivateSlot(slot)) RefreshPanels();
}
