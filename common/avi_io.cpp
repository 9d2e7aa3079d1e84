#include "avi_io.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr unsigned kReadMode = OF_READ | OF_SHARE_DENY_NONE;
constexpr unsigned kCreateMode = OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE;
constexpr LONG kHeaderSize = sizeof(BITMAPINFOHEADER);

constexpr const char* kCannotOpenFile = "ファイルを開けませんでした";
constexpr const char* kCannotOpenStream = "ストリームを開けませんでした";
constexpr const char* kCannotGetInfo = "ストリームのインフォメーションを取得できませんでした";
constexpr const char* kCannotGetFormat = "ＤＩＢのフォーマットを取得できませんでした";
constexpr const char* kCannotCreateStream = "ストリームを作成できませんでした";
constexpr const char* kCannotWriteTemp = "テンプファイルを作成できませんでした";
constexpr const char* kFrameTooLarge = "フレームが大きすぎます（16384×16384まで）";
constexpr const char* kNoFrames = "フレームがありません";

void ReportError(HWND owner, const char* text) {
    MessageBoxA(owner, text, "Error", MB_OK);
}

// A file the editor reads but cannot take: the user is asked to check what they chose.
void ReportRefusal(HWND owner, const char* text) {
    MessageBoxA(owner, text, "Check", MB_OK);
}

void Release(PAVISTREAM stream) {
    if (stream) AVIStreamRelease(stream);
}

// The header of the frames as the uncompressing view delivers them (which is what every
// reader of the stream gets once the host has wrapped it). Compressed and converted formats
// differ from the stored header in compression, bit count and biSizeImage. Without a view the
// stored header is kept.
void ReadDeliveredFormat(PAVISTREAM stream, BITMAPINFOHEADER& header) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    PAVISTREAM view = nullptr;
    if (AVIMakeCompressedStream(&view, stream, &options, nullptr) != AVIERR_OK || !view) {
        Release(view);
        return;
    }
    BITMAPINFOHEADER delivered{};
    LONG size = kHeaderSize;
    if (AVIStreamReadFormat(view, 0, &delivered, &size) == AVIERR_OK) header = delivered;
    AVIStreamRelease(view);
}

// One frame's size as a buffer size, or 0 when the format gives none that fits a LONG.
LONG FrameBytes(const EditWorkspace& ws) {
    BITMAPINFOHEADER* format = ws.frameFormat;
    if (!format) return 0;
    const DWORD size = format->biSizeImage;
    if (size == 0 || size > static_cast<DWORD>(std::numeric_limits<LONG>::max())) return 0;
    return static_cast<LONG>(size);
}

void ReadStreamInfo(PAVISTREAM stream, EditWorkspace& ws) {
    AVISTREAMINFOA info{};
    if (stream && AVIStreamInfoA(stream, &info, sizeof info) == AVIERR_OK) ws.streamInfo = info;
}

void ReadRangeFrames(PAVISTREAM stream, EditWorkspace& ws) {
    const LONG bytes = FrameBytes(ws);
    if (bytes == 0) return;
    uint8_t* start = ws.startFrameBuffer;
    uint8_t* end = ws.endFrameBuffer;
    if (start) ReadFrame(stream, ws.rangeStart, start, bytes);
    if (end) ReadFrame(stream, ws.rangeEnd, end, bytes);
}

bool SlotInRange(int slot) {
    return slot >= 0 && slot < kMaxSlots;
}

} // namespace

bool ReadFrame(PAVISTREAM stream, LONG n, void* buffer, LONG bytes) {
    return AVIStreamRead(stream, n, n + 1, buffer, bytes, nullptr, nullptr) == AVIERR_OK;
}

bool WriteFrame(PAVISTREAM out, LONG i, BITMAPINFOHEADER header, void* buffer, LONG bytes) {
    return AVIStreamSetFormat(out, i, &header, kHeaderSize) == AVIERR_OK &&
           AVIStreamWrite(out, i, 1, buffer, bytes, AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
}

bool CopyFrames(PAVISTREAM in, PAVISTREAM out, DWORD frames, const EditWorkspace& ws) {
    const LONG bytes = FrameBytes(ws);
    if (bytes == 0 && frames > 0) return false;
    void* buffer = std::calloc(bytes > 0 ? static_cast<size_t>(bytes) : 1, 1);
    if (!buffer) return false;
    BITMAPINFOHEADER header{};
    if (ws.frameFormat) std::memcpy(&header, ws.frameFormat, sizeof header);
    bool ok = true;
    for (DWORD i = 0; ok && i < frames; ++i) {
        // Frame positions are LONGs; a count beyond them cannot be read anyway.
        if (i > static_cast<DWORD>(std::numeric_limits<LONG>::max())) ok = false;
        const LONG n = static_cast<LONG>(i);
        ok = ok && ReadFrame(in, n, buffer, bytes) && WriteFrame(out, n, header, buffer, bytes);
    }
    std::free(buffer);
    return ok;
}

PAVISTREAM CloneOf(PAVISTREAM stream) {
    PAVISTREAM clone = nullptr;
    if (CreateEditableStream(&clone, stream) != AVIERR_OK) return nullptr;
    return clone;
}

int OpenAviSource(HWND owner, EditWorkspace& ws) {
    AVIFileInit();
    ws.aviFile = nullptr;
    ws.aviStream = nullptr;

    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, ws.openPath, kReadMode, nullptr) != AVIERR_OK || !file) {
        ReportError(owner, kCannotOpenFile);
        AVIFileExit();
        return 0;
    }
    PAVISTREAM stream = nullptr;
    const HRESULT got = AVIFileGetStream(file, &stream, streamtypeVIDEO, 0);
    if (got != AVIERR_OK || !stream) {
        if (got == AVIERR_MEMORY)
            ReportRefusal(owner, kFrameTooLarge);
        else
            ReportError(owner, kCannotOpenStream);
        AVIFileRelease(file);
        AVIFileExit();
        return 0;
    }
    auto fail = [&](const char* text, void (*report)(HWND, const char*) = ReportError) {
        report(owner, text);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        AVIFileExit();
        return 0;
    };
    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK) return fail(kCannotGetInfo);
    if (AVIStreamLength(stream) <= 0) return fail(kNoFrames, ReportRefusal);

    // Only the 40-byte header is kept, also when a colour table follows it.
    BITMAPINFOHEADER header{};
    LONG size = kHeaderSize;
    BITMAPINFOHEADER* format = ws.frameFormat;
    if (!format || AVIStreamReadFormat(stream, 0, &header, &size) != AVIERR_OK)
        return fail(kCannotGetFormat);
    ReadDeliveredFormat(stream, header);

    ws.streamInfo = info;
    std::memcpy(format, &header, sizeof header);
    ws.aviStream = stream;
    AVIFileRelease(file); // the stream keeps the file open
    return 1;
}

int CopyTempAvi(HWND owner, int s, int d, EditWorkspace& ws) {
    char remembered[kPathSize];
    std::memcpy(remembered, ws.tempPath, kPathSize);
    DeleteTempFile(ws.tempPath, d, ws);
    TempAviName(d, ws);

    AVIFileInit();
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, ws.tempPath, kCreateMode, nullptr) != AVIERR_OK || !file) {
        ReportError(owner, kCannotOpenFile);
        AVIFileExit();
        return 0;
    }
    AVISTREAMINFOA info = ws.streamInfo;
    PAVISTREAM out = nullptr;
    if (AVIFileCreateStreamA(file, &out, &info) != AVIERR_OK || !out) {
        ReportError(owner, kCannotCreateStream);
        AVIFileRelease(file);
        AVIFileExit();
        return 0;
    }
    TempAviName(s, ws);
    PAVISTREAM in = nullptr;
    if (AVIStreamOpenFromFileA(&in, ws.tempPath, streamtypeVIDEO, 0, kReadMode, nullptr) !=
            AVIERR_OK ||
        !in) {
        ReportError(owner, kCannotCreateStream);
        Release(out);
        AVIFileRelease(file);
        AVIFileExit();
        return 0;
    }
    AVIFileRelease(file); // the output stream keeps it open

    const bool copied = CopyFrames(in, out, info.dwLength, ws);
    AVIStreamRelease(in);
    AVIStreamRelease(out);
    AVIFileExit();
    if (!copied) {
        ReportError(owner, kCannotWriteTemp);
        return 0;
    }
    std::memcpy(ws.tempPath, remembered, kPathSize);
    return 1;
}

int ReloadSlotFromTemp(EditWorkspace& ws, int n) {
    if (n != -1) TempAviName(n, ws);

    PAVISTREAM file = nullptr;
    if (AVIStreamOpenFromFileA(&file, ws.tempPath, streamtypeVIDEO, 0, kReadMode, nullptr) !=
        AVIERR_OK) {
        Release(file);
        file = nullptr;
    }
    PAVISTREAM slot = nullptr;
    PAVISTREAM working = nullptr;
    if (file && AVIStreamLength(file) > 0) {
        slot = CloneOf(file);
        working = CloneOf(file);
    }
    Release(file);
    ws.aviStream = nullptr;

    if (!slot || !working) {
        // Nothing readable came back (a failed copy): keep the content the user had.
        Release(slot);
        Release(working);
        PAVISTREAM current = ws.currentStream;
        if (SlotInRange(ws.currentSlot)) ws.slotStreams[ws.currentSlot] = CloneOf(current);
        ReadStreamInfo(current, ws);
        return 1;
    }

    Release(ws.currentStream);
    ws.currentStream = working;
    if (SlotInRange(ws.currentSlot))
        ws.slotStreams[ws.currentSlot] = slot;
    else
        AVIStreamRelease(slot);
    ReadStreamInfo(working, ws);
    ReadRangeFrames(working, ws);
    return 1;
}
