#include "bitmap_import.h"

#include "avi_io.h"
#include "bitmap_file.h"
#include "host.h"
#include "player.h"
#include "slots.h"

#include "ui/ui.h"

#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace {

constexpr unsigned kReadMode = OF_READ | OF_SHARE_DENY_NONE;
constexpr unsigned kCreateMode = OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE;
constexpr DWORD kBitmapRate = 30;
// "ﾋﾞﾃﾞｵ" (video) in half-width katakana, as the system code page stores it.
constexpr char kBitmapStreamName[] = "\xCB\xDE\xC3\xDE\xB5";

const char kTempSaveFailed[] = "一時保存できませんでした。";
const char kInsertFailed[] = "フレームを挿入できませんでした。";
const char kDepthDiffers[] = "カラービットが現在のストリームと異なります。";
const char kSizeDiffers[] = "縦横サイズが現在のストリームと異なります。";
const char kCompressionDiffers[] = "圧縮形式が現在のストリームと異なります。";
const char kImageSizeDiffers[] = "画像サイズが現在のストリームと異なります。";
const char kOutOfMemory[] = "メモリが足りません";

const char* RefusalText(bitmap::Check check) {
    using bitmap::Check;
    switch (check) {
    case Check::Unreadable:
        return "ファイルを読み込めませんでした。";
    case Check::NotBitmap:
        return "ビットマップファイルではありません。";
    case Check::HeaderShort:
        return "ビットマップのヘッダーが途中で切れています。";
    case Check::HeaderSize:
        return "このビットマップのヘッダー形式には対応していません。";
    case Check::Dimensions:
        return "ビットマップの縦横サイズが不正です（1～16384）。";
    case Check::BitCount:
        return "16ビットと24ビットのビットマップしか使えません。";
    case Check::Compressed:
        return "圧縮されたビットマップは使えません。";
    case Check::ColourTable:
        return "カラーテーブル付きのビットマップは使えません。";
    case Check::PixelOffset:
        return "ビットマップの画素データの位置が不正です。";
    case Check::PixelsShort:
        return "ビットマップの画素データが足りません。";
    case Check::OutOfMemory:
    case Check::Usable:
        break;
    }
    return kOutOfMemory;
}

void Report(QWidget* owner, const char* text, const char* caption) {
    MessageBoxA(owner, text, caption, MB_OK);
}

// The bitmap named in openPath as a frame, or false after the user was told why not.
bool LoadChosenBitmap(QWidget* owner, bitmap::Frame& frame) {
    const bitmap::Check check = bitmap::LoadBitmap(workspace.openPath, frame);
    if (check == bitmap::Check::Usable) return true;
    Report(owner, RefusalText(check), check == bitmap::Check::OutOfMemory ? "Error" : "Check");
    return false;
}

// What the user is told when the bitmap cannot be a frame of the current stream, or null.
const char* FormatDifference(const BITMAPINFOHEADER& picture, const BITMAPINFOHEADER& stream) {
    if (picture.biBitCount != stream.biBitCount) return kDepthDiffers;
    if (picture.biWidth != stream.biWidth || picture.biHeight != stream.biHeight)
        return kSizeDiffers;
    if (picture.biCompression != stream.biCompression) return kCompressionDiffers;
    if (picture.biSizeImage != stream.biSizeImage) return kImageSizeDiffers;
    return nullptr;
}

AVISTREAMINFOA BitmapStreamInfo(const BITMAPINFOHEADER& format) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = kBitmapRate;
    info.dwLength = 1;
    info.dwQuality = DWORD(-1);
    info.rcFrame = {0, 0, format.biWidth, format.biHeight};
    std::copy(std::begin(kBitmapStreamName), std::end(kBitmapStreamName), info.szName);
    return info;
}

// Temporary file n created afresh with one video stream. The old file is removed first rather
// than overwritten: streams still reading it (a slot that moved down when another was closed,
// the clipboard) keep its frames.
PAVISTREAM CreateTempStream(int n, AVISTREAMINFOA info) {
    DeleteTempFile(workspace.tempPath, n, workspace);
    TempAviName(n, workspace);
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, workspace.tempPath, kCreateMode, nullptr) != AVIERR_OK) return nullptr;
    PAVISTREAM stream = nullptr;
    if (AVIFileCreateStreamA(file, &stream, &info) != AVIERR_OK) stream = nullptr;
    AVIFileRelease(file); // the stream keeps it open
    return stream;
}

// Finishes temporary file n (the writer's last reference goes) and opens it for reading. Null,
// with the file deleted, when it was not written whole.
PAVISTREAM ReadBack(int n, PAVISTREAM written, bool complete, LONG frames) {
    AVIStreamRelease(written);
    PAVISTREAM stream = nullptr;
    TempAviName(n, workspace);
    if (complete && AVIStreamOpenFromFileA(&stream, workspace.tempPath, streamtypeVIDEO, 0,
                                           kReadMode, nullptr) != AVIERR_OK)
        stream = nullptr;
    if (stream && AVIStreamLength(stream) != frames) {
        AVIStreamRelease(stream);
        stream = nullptr;
    }
    if (!stream) DeleteTempFile(workspace.tempPath, n, workspace);
    return stream;
}

// Temporary file n holding the bitmap as its one frame, opened for reading; null on failure.
PAVISTREAM WriteFrameFile(int n, const AVISTREAMINFOA& info, bitmap::Frame& frame) {
    PAVISTREAM out = CreateTempStream(n, info);
    const bool written =
        out && AVIStreamSetFormat(out, 0, &frame.format, sizeof frame.format) == AVIERR_OK &&
        AVIStreamWrite(out, 0, 1, frame.pixels.data(), LONG(frame.pixels.size()), AVIIF_KEYFRAME,
                       nullptr, nullptr) == AVIERR_OK;
    return ReadBack(n, out, written, 1);
}

// Temporary file n holding every frame of stream, opened for reading; null on failure.
PAVISTREAM WriteStreamFile(int n, PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK) return nullptr;
    PAVISTREAM out = CreateTempStream(n, info);
    const bool written = out && CopyFrames(stream, out, info.dwLength, workspace);
    return ReadBack(n, out, written, LONG(info.dwLength));
}

// The working stream with the frame inserted at the range start, as a new editable stream;
// null after the user was told why not. File 98 carries the frame and is gone afterwards.
PAVISTREAM WithFrameInserted(QWidget* owner, bitmap::Frame& frame) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(workspace.currentStream, &info, sizeof info);
    PAVISTREAM one = WriteFrameFile(kScratchOutput, info, frame);
    if (!one) {
        Report(owner, kTempSaveFailed, "Error");
        return nullptr;
    }
    PAVISTREAM edited = CloneOf(workspace.currentStream);
    LONG position = workspace.rangeStart, length = 1;
    const bool pasted =
        edited && EditStreamPaste(edited, &position, &length, one, 0, 1) == AVIERR_OK;
    AVIStreamRelease(one);
    // The pasted frame is read through the open file, which outlives its name.
    DeleteTempFile(workspace.tempPath, kScratchOutput, workspace);
    if (!pasted) {
        AVIStreamRelease(edited);
        Report(owner, kInsertFailed, "Error");
        return nullptr;
    }
    return edited;
}

bool RenameTempFile(int from, int to) {
    TempAviName(from, workspace);
    const std::filesystem::path source = workspace.tempPath;
    TempAviName(to, workspace);
    std::error_code error;
    std::filesystem::rename(source, workspace.tempPath, error);
    return !error;
}

// Makes the current slot and the working stream clones of `flat` (read from file 99) and file
// 99 the slot's own temporary file. Everything that can fail comes before the slot changes, so
// a failure leaves the slot as it was; the old streams' files stay readable to them.
bool ReplaceCurrentSlot(PAVISTREAM flat) {
    const int slot = workspace.currentSlot;
    PAVISTREAM slotStream = CloneOf(flat);
    PAVISTREAM working = CloneOf(flat);
    AVISTREAMINFOA info{};
    const bool ready = slotStream && working &&
                       AVIStreamInfoA(working, &info, sizeof info) == AVIERR_OK &&
                       RenameTempFile(kScratchFlatten, slot);
    if (!ready) {
        AVIStreamRelease(slotStream);
        AVIStreamRelease(working);
        DeleteTempFile(workspace.tempPath, kScratchFlatten, workspace);
        return false;
    }
    AVIStreamRelease(workspace.slotStreams[slot]);
    workspace.slotStreams[slot] = slotStream;
    AVIStreamRelease(workspace.currentStream);
    workspace.currentStream = working;
    workspace.streamInfo = info;
    ReadFrame(working, workspace.rangeStart, workspace.startFrameBuffer);
    ReadFrame(working, workspace.rangeEnd, workspace.endFrameBuffer);
    return true;
}

} // namespace

int OpenBitmap(QWidget* mainWindow) {
    if (RefuseWhenSlotsFull(mainWindow)) return 0;
    if (!AskFileName(mainWindow, workspace.openPath, kBitmapFilters, FileDialogMode::Open))
        return 0;
    bitmap::Frame frame;
    if (!LoadChosenBitmap(mainWindow, frame)) return 0;
    if (hostFlags & kPanelsExist) AVIFileExit();
    AVIFileInit();

    const int slot = workspace.slotCount;
    PAVISTREAM written = WriteFrameFile(slot, BitmapStreamInfo(frame.format), frame);
    PAVISTREAM stream = written ? CloneOf(written) : nullptr;
    AVIStreamRelease(written);
    if (!stream) {
        DeleteTempFile(workspace.tempPath, slot, workspace);
        Report(mainWindow, kTempSaveFailed, "Error");
        return 0;
    }
    if (!AppendSlot(stream)) {
        DeleteTempFile(workspace.tempPath, slot, workspace);
        return 0;
    }
    RefreshPanels();
    return 1;
}

int AddBitmap(QWidget* mainWindow) {
    if (workspace.slotCount == 0) return 0;
    if (!AskFileName(mainWindow, workspace.openPath, kBitmapFilters, FileDialogMode::Open))
        return 0;
    bitmap::Frame frame;
    if (!LoadChosenBitmap(mainWindow, frame)) return 0;
    if (const char* difference = FormatDifference(frame.format, *workspace.frameFormat)) {
        Report(mainWindow, difference, "Check");
        return 0;
    }
    StopPlayback(); // the tick reads the streams replaced here

    PAVISTREAM edited = WithFrameInserted(mainWindow, frame);
    if (!edited) return 0;
    // Flattened into a file of its own, the slot no longer depends on the files it was cut from.
    PAVISTREAM flat = WriteStreamFile(kScratchFlatten, edited);
    AVIStreamRelease(edited);
    const bool replaced = flat && ReplaceCurrentSlot(flat);
    AVIStreamRelease(flat);
    if (!replaced) {
        Report(mainWindow, kTempSaveFailed, "Error");
        return 0;
    }
    RefreshPanels();
    return 1;
}
