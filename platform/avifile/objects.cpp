#include "objects.h"

#include "reader.h"
#include "writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace avi {

namespace {

// Copies as much of the format as fits (a caller offering 40 bytes gets the header of a format
// with a colour table); a null buffer asks for the size.
HRESULT CopyFormat(const void* data, size_t bytes, LONG pos, void* format, LONG* size) {
    if (!size || pos < 0) return AVIERR_ERROR;
    if (!format) {
        *size = static_cast<LONG>(bytes);
        return AVIERR_OK;
    }
    if (*size <= 0) return AVIERR_ERROR;
    const size_t copied = std::min(bytes, static_cast<size_t>(*size));
    std::memcpy(format, data, copied);
    *size = static_cast<LONG>(copied);
    return AVIERR_OK;
}

// A frame into the caller's buffer; a null buffer asks for the size.
HRESULT ReadInto(VideoSource& source, LONG frame, void* buffer, LONG bufferSize, LONG* bytes) {
    const LONG need = static_cast<LONG>(source.Layout().imageBytes);
    if (frame < 0 || frame >= source.Layout().length) return AVIERR_ERROR;
    if (!buffer) {
        if (bytes) *bytes = need;
        return AVIERR_OK;
    }
    if (bufferSize < need || !source.ReadFrame(frame, static_cast<uint8_t*>(buffer)))
        return AVIERR_ERROR;
    if (bytes) *bytes = need;
    return AVIERR_OK;
}

class ReadFile final : public AviFile {
  public:
    // A file libavformat reads but without a usable video stream opens with no source: getting
    // its stream fails, as for any file without video, and says why when the frames are too
    // large to hold.
    ReadFile(std::unique_ptr<VideoSource> source, OpenFailure failure)
        : source(std::move(source)), failure(failure) {}
    HRESULT GetStream(PAVISTREAM* stream, DWORD type, LONG index) override;
    VideoSource& Source() { return *source; }

  private:
    std::unique_ptr<VideoSource> source;
    OpenFailure failure;
};

// The file's video stream: the stored format; frames as the view delivers them (a compressed
// chunk is of no use to anyone here, and the view shares this stream's decoders).
class FileStream final : public AviStream {
  public:
    explicit FileStream(ReadFile* file) : file(file) { file->AddRef(); }
    ~FileStream() override { file->Release(); }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = Source().StoredInfo();
        return AVIERR_OK;
    }
    LONG Length() override { return Source().Layout().length; }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        const auto& stored = Source().StoredFormat();
        return CopyFormat(stored.data(), stored.size(), pos, format, size);
    }
    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        return ReadInto(Source(), frame, buffer, bufferSize, bytes);
    }
    VideoSource& Source() { return file->Source(); }

  private:
    ReadFile* file;
};

HRESULT ReadFile::GetStream(PAVISTREAM* stream, DWORD type, LONG index) {
    if (type != streamtypeVIDEO && type != 0) return AVIERR_ERROR;
    if (index != 0) return AVIERR_ERROR;
    if (!source) return failure == OpenFailure::TooLarge ? AVIERR_MEMORY : AVIERR_ERROR;
    *stream = new FileStream(this);
    return AVIERR_OK;
}

// Uncompressing view of a file's stream: 40-byte header of the delivered frames.
class FileView final : public AviStream {
  public:
    explicit FileView(FileStream* source) : source(source) { source->AddRef(); }
    ~FileView() override { source->Release(); }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = source->Source().StoredInfo();
        info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
        return AVIERR_OK;
    }
    LONG Length() override { return source->Length(); }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        const BITMAPINFOHEADER header = source->Source().DeliveredFormat();
        return CopyFormat(&header, sizeof header, pos, format, size);
    }
    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        return source->ReadFrame(frame, buffer, bufferSize, bytes);
    }
    FileStream* Source() { return source; }

  private:
    FileStream* source;
};

// A view of any other stream: its frames are uncompressed already and pass through.
class PassView final : public AviStream {
  public:
    explicit PassView(AviStream* source) : source(source) { source->AddRef(); }
    ~PassView() override { source->Release(); }

    HRESULT Info(AVISTREAMINFOA& info) override { return source->Info(info); }
    LONG Length() override { return source->Length(); }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        return source->ReadFormat(pos, format, size);
    }
    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        return source->ReadFrame(frame, buffer, bufferSize, bytes);
    }

  private:
    AviStream* source;
};

class WriteFile final : public AviFile {
  public:
    explicit WriteFile(std::unique_ptr<AviWriter> writer) : writer(std::move(writer)) {}
    HRESULT GetStream(PAVISTREAM* stream, DWORD type, LONG index) override;
    HRESULT CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) override;
    AviWriter& Writer() { return *writer; }

  private:
    std::unique_ptr<AviWriter> writer;
    AviStream* created = nullptr; // not owned: the stream keeps this file alive, not the reverse
    friend class WriteStream;
};

class WriteStream final : public AviStream {
  public:
    explicit WriteStream(WriteFile* file) : file(file) { file->AddRef(); }
    ~WriteStream() override {
        file->created = nullptr;
        file->Release();
    }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = file->Writer().Info();
        return AVIERR_OK;
    }
    LONG Length() override { return file->Writer().FramesWritten(); }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        if (!file->Writer().HasFormat()) return AVIERR_ERROR;
        const BITMAPINFOHEADER& header = file->Writer().Format();
        return CopyFormat(&header, sizeof header, pos, format, size);
    }
    HRESULT ReadFrame(LONG, void*, LONG, LONG*) override { return AVIERR_ERROR; }
    HRESULT SetFormat(LONG pos, void* format, LONG size) override {
        if (pos < 0 || !format || size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
            return AVIERR_ERROR;
        BITMAPINFOHEADER header;
        std::memcpy(&header, format, sizeof header);
        return file->Writer().SetFormat(header) ? AVIERR_OK : AVIERR_ERROR;
    }
    HRESULT Write(LONG start, LONG samples, void* buffer, LONG size, DWORD, LONG* samplesWritten,
                  LONG* bytesWritten) override {
        if (samples != 1 || !file->Writer().WriteFrame(start, buffer, size)) return AVIERR_ERROR;
        if (samplesWritten) *samplesWritten = 1;
        if (bytesWritten) *bytesWritten = size;
        return AVIERR_OK;
    }

  private:
    WriteFile* file;
};

HRESULT WriteFile::GetStream(PAVISTREAM* stream, DWORD type, LONG index) {
    if (!created || index != 0 || (type != streamtypeVIDEO && type != 0)) return AVIERR_ERROR;
    created->AddRef();
    *stream = created;
    return AVIERR_OK;
}

HRESULT WriteFile::CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) {
    // One stream per file, created once.
    if (created || writer->FramesWritten() > 0 || !writer->SetInfo(info)) return AVIERR_ERROR;
    created = new WriteStream(this);
    *stream = created;
    return AVIERR_OK;
}

} // namespace

AviFile* OpenFileForReading(const char* path) {
    OpenFailure failure = OpenFailure::None;
    auto source = VideoSource::Open(path, &failure);
    return failure == OpenFailure::Unreadable ? nullptr : new ReadFile(std::move(source), failure);
}

AviFile* CreateFileForWriting(const char* path) {
    auto writer = AviWriter::Create(path);
    return writer ? new WriteFile(std::move(writer)) : nullptr;
}

AviStream* MakeUncompressedView(AviStream* source) {
    if (auto* file = dynamic_cast<FileStream*>(source)) return new FileView(file);
    if (auto* view = dynamic_cast<FileView*>(source)) return new FileView(view->Source());
    return new PassView(source);
}

int64_t DecodedFrameCount(AviStream* stream) {
    if (auto* view = dynamic_cast<FileView*>(stream)) stream = view->Source();
    if (auto* file = dynamic_cast<FileStream*>(stream)) return file->Source().DecodedFrames();
    return -1;
}

} // namespace avi
