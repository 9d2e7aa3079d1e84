#include "slots.h"

#include "avi_io.h"
#include "editor_panel.h"
#include "host.h"
#include "panels.h"
#include "stream_list.h"

#include "ui/ui.h"

#include <QMainWindow>
#include <QMenuBar>

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

// The record is packed: its handles are assigned, never bound to references.
void ReplaceCurrentStream(PAVISTREAM stream) {
    AVIStreamRelease(workspace.currentStream);
    workspace.currentStream = stream;
}

// The source file's stream wrapped in the view that delivers uncompressed frames.
PAVISTREAM UncompressingView(PAVISTREAM source) {
    PAVISTREAM view = nullptr;
    if (AVIMakeCompressedStream(&view, source, &compressOptions, nullptr) != AVIERR_OK) view = nullptr;
    AVIStreamRelease(source); // the view holds its own reference
    return view;
}

void FreeFrameBuffers() {
    std::free(workspace.startFrameBuffer);
    std::free(workspace.endFrameBuffer);
    workspace.startFrameBuffer = nullptr;
    workspace.endFrameBuffer = nullptr;
}

void MoveSlotsDown(int from) {
    AVIStreamRelease(workspace.slotStreams[from]);
    for (int j = from; j < workspace.slotCount; ++j) {
        workspace.slotStreams[j] = workspace.slotStreams[j + 1];
        std::memcpy(workspace.slotNames[j], workspace.slotNames[j + 1], kPathSize);
    }
    workspace.slotStreams[workspace.slotCount] = nullptr;
    std::memset(workspace.slotNames[workspace.slotCount], 0, kPathSize);
}

void CloseLastSlot(QMainWindow* window) {
    GrayStreamCommands(true);
    DestroyPanels();
    AVIStreamRelease(workspace.slotStreams[0]);
    workspace.slotStreams[0] = nullptr;
    std::memset(workspace.slotNames[0], 0, kPathSize);
    ReplaceCurrentStream(nullptr);
    FreeFrameBuffers();
    workspace.currentSlot = 0;
    workspace.slotCount = 0;
    hostFlags = 0;
    window->setFixedSize(300, window->menuBar()->sizeHint().height());
}

} // namespace

int AskFileName(void* owner, char (&path)[kPathSize], const char* filters, FileDialogMode mode) {
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
    const bool chosen = mode == FileDialogMode::Open ? GetOpenFileNameA(&request)
                                                     : GetSaveFileNameA(&request);
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
    while (start > 0 && path[start - 1] != '/') --start;
    if (mode == 1)
        std::memcpy(stripped, path + start, length - start);
    else
        std::memcpy(stripped, path, start);
    std::memcpy(path, stripped, kPathSize);
}

void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer) {
    if (!stream || !buffer) return;
    AVIStreamRead(stream, n, 1, buffer, LONG(workspace.frameFormat->biSizeImage), nullptr, nullptr);
}

void MakeSlotCurrent(int slot) {
    ReplaceCurrentStream(CloneOf(workspace.slotStreams[slot]));
    LONG size = sizeof(BITMAPINFOHEADER);
    AVIStreamReadFormat(workspace.currentStream, 0, workspace.frameFormat, &size);
}

bool AllocateFrameBuffers() {
    FreeFrameBuffers();
    const std::size_t size = std::max<std::size_t>(workspace.frameFormat->biSizeImage, 1);
    workspace.startFrameBuffer = static_cast<uint8_t*>(std::calloc(1, size));
    workspace.endFrameBuffer = static_cast<uint8_t*>(std::calloc(1, size));
    if (workspace.startFrameBuffer && workspace.endFrameBuffer) return true;
    FreeFrameBuffers();
    MessageBoxA(MainWindow(), "メモリが足りません", "Error", MB_OK);
    return false;
}

int OpenAviFile(void* mainWindow) {
    if (workspace.slotCount >= kMaxSlots) {
        MessageBoxA(mainWindow, kTooManySlots, "Check", MB_OK);
        return 0;
    }
    if (!AskFileName(mainWindow, workspace.openPath, kAviFilters, FileDialogMode::Open)) return 0;
    if (hostFlags & kPanelsExist) AVIFileExit();
    AVIFileInit();

    // Opening overwrites the stream information and the format; a failed open must leave the
    // current slot's as they were.
    const AVISTREAMINFOA info = workspace.streamInfo;
    const BITMAPINFOHEADER format = *workspace.frameFormat;
    PAVISTREAM view = nullptr;
    if (OpenAviSource(static_cast<HWND>(mainWindow), workspace)) {
        view = UncompressingView(workspace.aviStream);
        workspace.aviStream = nullptr;
        if (!view) MessageBoxA(mainWindow, "ストリームを開けませんでした", "Error", MB_OK);
    }
    if (!view) {
        workspace.streamInfo = info;
        *workspace.frameFormat = format;
        return 0;
    }

    const int slot = workspace.slotCount;
    workspace.slotStreams[slot] = CloneOf(view);
    ReplaceCurrentStream(CloneOf(view));
    AVIStreamRelease(view);
    LONG size = sizeof(BITMAPINFOHEADER);
    AVIStreamReadFormat(workspace.currentStream, 0, workspace.frameFormat, &size);
    AVIStreamInfoA(workspace.currentStream, &workspace.streamInfo, sizeof(AVISTREAMINFOA));
    workspace.rangeStart = 0;
    workspace.rangeEnd = 1;
    AllocateFrameBuffers();
    ReadFrame(workspace.currentStream, workspace.rangeStart, workspace.startFrameBuffer);
    ReadFrame(workspace.currentStream, workspace.rangeEnd, workspace.endFrameBuffer);
    std::memcpy(workspace.slotNames[slot], workspace.openPath, kPathSize);
    StripPath(workspace.slotNames[slot], 1);
    workspace.slotCount = slot + 1;
    return 1;
}

void CloseCurrentSlot(void* mainWindow) {
    auto* list = StreamListPanel();
    if (!list) return;
    const int marked = list->currentRow(kStreamList);
    if (marked < 0 || marked >= workspace.slotCount) return;
    workspace.currentSlot = marked;
    list->removeRow(kStreamList, marked);
    DeleteTempFile(workspace.tempPath, marked, workspace);

    if (list->rowCount(kStreamList) == 0) {
        CloseLastSlot(static_cast<QMainWindow*>(mainWindow));
        return;
    }
    workspace.slotCount -= 1;
    MoveSlotsDown(marked);
    list->setCurrentRow(kStreamList, 0);
    workspace.currentSlot = 0;
    MakeSlotCurrent(0);
    if (AVIStreamInfoA(workspace.currentStream, &workspace.streamInfo, sizeof(AVISTREAMINFOA)) !=
        AVIERR_OK)
        return;
    workspace.rangeStart = 0;
    workspace.rangeEnd = 1;
    // Slot 0 may have another frame size than the slot closed.
    AllocateFrameBuffers();
    RepaintRequests |= kRepaintStreamInfo | kRepaintStartPicture | kRepaintEndPicture;
    RefreshEditorPanel();
    list->invalidate();
    if (EditorPanel()) {
        EditorPanel()->setText(kEditorSlotName, QString::fromUtf8(workspace.slotNames[0]));
        EditorPanel()->invalidate();
    }
}
