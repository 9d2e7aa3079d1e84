#include "avi_io.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kReadMode = OF_READ | OF_SHARE_DENY_NONE;
constexpr unsigned kCreateMode = OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE;
constexpr LONG kHeaderSize = sizeof(BITMAPINFOHEADER);

// The header of the frames as the uncompressing view delivers them (which is what every
// reader of the stream gets once the session has wrapped it). Compressed and converted formats
// differ from the stored header in compression, bit count and biSizeImage. Without a view the
// stored header is kept.
void ReadDeliveredFormat(PAVISTREAM stream, BITMAPINFOHEADER& header) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    StreamRef view;
    if (AVIMakeCompressedStream(view.out(), stream, &options, nullptr) != AVIERR_OK || !view)
        return;
    BITMAPINFOHEADER delivered{};
    LONG size = kHeaderSize;
    if (AVIStreamReadFormat(view.get(), 0, &delivered, &size) == AVIERR_OK) header = delivered;
}

// One frame's size as a buffer size, or 0 when the format gives none that fits a LONG.
LONG FrameBytes(const BITMAPINFOHEADER& format) {
    const DWORD size = format.biSizeImage;
    if (size == 0 || size > static_cast<DWORD>(std::numeric_limits<LONG>::max())) return 0;
    return static_cast<LONG>(size);
}

bool SlotInRange(int slot) {
    return slot >= 0 && slot < kMaxSlots;
}

void RemoveFile(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace

ErrorMessage MessageOf(AviError error) {
    switch (error) {
    case AviError::None:
        break;
    case AviError::CannotOpenFile:
        return {"ファイルを開けませんでした", "Error"};
    case AviError::CannotOpenStream:
        return {"ストリームを開けませんでした", "Error"};
    case AviError::FrameTooLarge:
        return {"フレームが大きすぎます（16384×16384まで）", "Check"};
    case AviError::CannotGetInfo:
        return {"ストリームのインフォメーションを取得できませんでした", "Error"};
    case AviError::NoFrames:
        return {"フレームがありません", "Check"};
    case AviError::CannotGetFormat:
        return {"ＤＩＢのフォーマットを取得できませんでした", "Error"};
    case AviError::CannotCreateStream:
        return {"ストリームを作成できませんでした", "Error"};
    case AviError::CannotWriteTemp:
        return {"テンプファイルを作成できませんでした", "Error"};
    case AviError::CannotWriteFrame:
        return {"フレームを書き込めませんでした", "Error"};
    case AviError::CannotReplaceFile:
        return {"スロットのテンプファイルを置き換えられませんでした", "Error"};
    }
    return {"", "Error"};
}

fs::path TempFilePath(const EditWorkspace& ws, int n) {
    // n is 0..99: two digits. The bound on the folder's length keeps even a bad record inside
    // its buffer.
    const unsigned number = unsigned(n) % 100u;
    const char name[] = {
        char('0' + number / 10), char('0' + number % 10), '.', 'a', 'v', 'i', '\0'};
    return fs::path(std::string(ws.tempDir, strnlen(ws.tempDir, kPathSize)) + name);
}

void RemoveTempFile(const EditWorkspace& ws, int n) {
    RemoveFile(TempFilePath(ws, n));
}

bool ReadFrame(PAVISTREAM stream, LONG n, void* buffer, LONG bytes) {
    return AVIStreamRead(stream, n, n + 1, buffer, bytes, nullptr, nullptr) == AVIERR_OK;
}

bool WriteFrame(PAVISTREAM out, LONG i, BITMAPINFOHEADER header, void* buffer, LONG bytes) {
    return AVIStreamSetFormat(out, i, &header, kHeaderSize) == AVIERR_OK &&
           AVIStreamWrite(out, i, 1, buffer, bytes, AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
}

StreamRef CloneOf(PAVISTREAM stream) {
    StreamRef clone;
    if (CreateEditableStream(clone.out(), stream) != AVIERR_OK) clone.reset();
    return clone;
}

bool CopyFrames(PAVISTREAM in, PAVISTREAM out, LONG frames, const BITMAPINFOHEADER& format) {
    const LONG bytes = FrameBytes(format);
    if (frames <= 0) return true;
    if (bytes == 0) return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
    for (LONG n = 0; n < frames; ++n)
        if (!ReadFrame(in, n, buffer.data(), bytes) ||
            !WriteFrame(out, n, format, buffer.data(), bytes))
            return false;
    return true;
}

StreamRef CreateStreamFile(const fs::path& path, AVISTREAMINFOA info, AviError& error) {
    RemoveFile(path);
    FileRef file;
    if (AVIFileOpenA(file.out(), path.c_str(), kCreateMode, nullptr) != AVIERR_OK || !file) {
        error = AviError::CannotOpenFile;
        return {};
    }
    StreamRef stream;
    if (AVIFileCreateStreamA(file.get(), stream.out(), &info) != AVIERR_OK || !stream) {
        error = AviError::CannotCreateStream;
        return {};
    }
    error = AviError::None;
    return stream; // it keeps the file open
}

StreamRef OpenChecked(const fs::path& path, LONG frames) {
    StreamRef stream;
    if (AVIStreamOpenFromFileA(stream.out(), path.c_str(), streamtypeVIDEO, 0, kReadMode,
                               nullptr) != AVIERR_OK)
        return {};
    const LONG length = AVIStreamLength(stream.get());
    if (frames == -1 ? length <= 0 : length != frames) return {};
    return stream;
}

AviError OpenAviSource(const char* path, SourceVideo& video) {
    FileRef file;
    if (AVIFileOpenA(file.out(), path, kReadMode, nullptr) != AVIERR_OK || !file)
        return AviError::CannotOpenFile;
    StreamRef stream;
    const HRESULT got = AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0);
    if (got != AVIERR_OK || !stream)
        return got == AVIERR_MEMORY ? AviError::FrameTooLarge : AviError::CannotOpenStream;
    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(stream.get(), &info, sizeof info) != AVIERR_OK)
        return AviError::CannotGetInfo;
    if (AVIStreamLength(stream.get()) <= 0) return AviError::NoFrames;
    // Only the 40-byte header is kept, also when a colour table follows it.
    BITMAPINFOHEADER header{};
    LONG size = kHeaderSize;
    if (AVIStreamReadFormat(stream.get(), 0, &header, &size) != AVIERR_OK)
        return AviError::CannotGetFormat;
    ReadDeliveredFormat(stream.get(), header);
    video.stream = std::move(stream);
    video.info = info;
    video.format = header;
    return AviError::None;
}

StreamRef WriteStreamFile(const fs::path& path, PAVISTREAM in, LONG frames, AVISTREAMINFOA info,
                          const BITMAPINFOHEADER& format, AviError& error) {
    StreamRef out = CreateStreamFile(path, info, error);
    if (!out) return {};
    const bool copied = CopyFrames(in, out.get(), frames, format);
    out.reset(); // the writer's last reference: the file is finished
    StreamRef written = copied ? OpenChecked(path, frames) : StreamRef();
    if (!written) {
        RemoveFile(path);
        error = AviError::CannotWriteTemp;
    }
    return written;
}

AviError ReplaceSlotFile(EditWorkspace& ws, PAVISTREAM file) {
    StreamRef slot, working;
    if (file && AVIStreamLength(file) > 0) {
        slot = CloneOf(file);
        working = CloneOf(file);
    }
    AVISTREAMINFOA info{};
    AviError error = AviError::None;
    if (!slot || !working || AVIStreamInfoA(working.get(), &info, sizeof info) != AVIERR_OK)
        error = AviError::CannotWriteTemp;
    ws.aviStream = nullptr;
    if (error != AviError::None) {
        // Nothing readable came back: keep the content the user had.
        if (SlotInRange(ws.currentSlot) && !ws.slotStreams[ws.currentSlot])
            ws.slotStreams[ws.currentSlot] = CloneOf(ws.currentStream).release();
        if (ws.currentStream && AVIStreamInfoA(ws.currentStream, &info, sizeof info) == AVIERR_OK)
            ws.streamInfo = info;
        return error;
    }

    AVIStreamRelease(ws.currentStream);
    ws.currentStream = working.release();
    if (SlotInRange(ws.currentSlot)) {
        if (PAVISTREAM old = ws.slotStreams[ws.currentSlot]) AVIStreamRelease(old);
        ws.slotStreams[ws.currentSlot] = slot.release();
    }
    ws.streamInfo = info;
    if (const BITMAPINFOHEADER* format = ws.frameFormat) {
        const LONG bytes = FrameBytes(*format);
        if (bytes > 0 && ws.startFrameBuffer)
            ReadFrame(ws.currentStream, ws.rangeStart, ws.startFrameBuffer, bytes);
        if (bytes > 0 && ws.endFrameBuffer)
            ReadFrame(ws.currentStream, ws.rangeEnd, ws.endFrameBuffer, bytes);
    }
    return AviError::None;
}
