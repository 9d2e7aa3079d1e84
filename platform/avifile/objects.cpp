#include "objects.h"

#include "audio_source.h"
#include "audio_stream.h"
#include "audio_writer.h"
#include "reader.h"
#include "writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace avi {

// A caller offering 40 bytes gets the header of a format with a colour table.
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

namespace {

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
    // its video stream fails, as for any file without video, and says why when the frames are
    // too large to hold. Its audio is opened from `audioFile` when first asked for.
    ReadFile(std::unique_ptr<VideoSource> source, OpenFailure failure,
             std::unique_ptr<SourceFile> audioFile)
        : source(std::move(source)), failure(failure), audioFile(std::move(audioFile)) {}
    HRESULT GetStream(PAVISTREAM* stream, DWORD type, LONG index) override;
    VideoSource& Source() { return *source; }

  private:
    HRESULT GetAudioStream(PAVISTREAM* stream);

    std::unique_ptr<VideoSource> source;
    OpenFailure failure;
    std::unique_ptr<SourceFile> audioFile; // until the audio is opened
    std::unique_ptr<AudioSource> audio;
    HRESULT audioResult = AVIERR_OK;
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
    VideoSource* StoredVideo() override { return &Source(); }

  private:
    ReadFile* file;
};

HRESULT ReadFile::GetStream(PAVISTREAM* stream, DWORD type, LONG index) {
    if (index != 0) return AVIERR_ERROR;
    if (type == streamtypeAUDIO) return GetAudioStream(stream);
    if (type != streamtypeVIDEO && type != 0) return AVIERR_ERROR;
    if (!source) return failure == OpenFailure::TooLarge ? AVIERR_MEMORY : AVIERR_ERROR;
    *stream = new FileStream(this);
    return AVIERR_OK;
}

// Opening the audio costs a probe of the file and a decoder: only files asked for it pay.
HRESULT ReadFile::GetAudioStream(PAVISTREAM* stream) {
    if (audioFile) audioResult = AudioSource::Open(std::move(audioFile), &audio);
    if (!audio) return audioResult;
    *stream = MakeAudioFileStream(this, *audio);
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
    VideoSource* StoredVideo() override { return &source->Source(); }

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
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        return source->Read(start, samples, buffer, bufferSize, bytes, samplesRead);
    }

  private:
    AviStream* source;
};

class WriteFile final : public AviFile {
  public:
    WriteFile(std::string path, std::unique_ptr<AviWriter> writer)
        : path(std::move(path)), writer(std::move(writer)) {}
    HRESULT GetStream(PAVISTREAM* stream, DWORD type, LONG index) override;
    HRESULT CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) override;
    AviWriter& Writer() { return *writer; }

  private:
    HRESULT CreateAudioStream(PAVISTREAM* stream, const AVISTREAMINFOA& info);

    std::string path;
    std::unique_ptr<AviWriter> writer; // a video stream's
    std::unique_ptr<PcmWriter> pcm;    // or an audio stream's
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
    const DWORD kind = pcm ? streamtypeAUDIO : streamtypeVIDEO;
    if (!created || index != 0 || (type != kind && type != 0)) return AVIERR_ERROR;
    created->AddRef();
    *stream = created;
    return AVIERR_OK;
}

HRESULT WriteFile::CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) {
    // One stream per file, created once.
    if (created || pcm || !writer || writer->FramesWritten() > 0) return AVIERR_ERROR;
    if (info.fccType == streamtypeAUDIO) return CreateAudioStream(stream, info);
    if (!writer->SetInfo(info)) return AVIERR_ERROR;
    created = new WriteStream(this);
    *stream = created;
    return AVIERR_OK;
}

// The file was created before the kind of its stream was known; the PCM writer takes it over
// (the video writer has written nothing into it).
HRESULT WriteFile::CreateAudioStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) {
    writer.reset();
    pcm = PcmWriter::Create(path);
    if (!pcm || !pcm->SetInfo(info)) return AVIERR_ERROR;
    created = MakeAudioWriteStream(this, *pcm, created);
    *stream = created;
    return AVIERR_OK;
}

} // namespace

AviFile* OpenFileForReading(const char* path) {
    OpenFailure failure = OpenFailure::None;
    // Opened now, with the video: the audio must come from this file even if the path names
    // another one by the time it is asked for.
    auto audioFile = std::make_unique<SourceFile>(path);
    auto source = VideoSource::Open(path, &failure);
    return failure == OpenFailure::Unreadable
               ? nullptr
               : new ReadFile(std::move(source), failure, std::move(audioFile));
}

AviFile* CreateFileForWriting(const char* path) {
    auto writer = AviWriter::Create(path);
    return writer ? new WriteFile(path, std::move(writer)) : nullptr;
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
