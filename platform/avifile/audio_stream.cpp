#include "audio_stream.h"

#include "audio_source.h"
#include "audio_writer.h"
#include "objects.h"

#include <cstring>

namespace avi {

namespace {

class AudioFileStream final : public AviStream {
  public:
    AudioFileStream(AviFile* file, AudioSource& source) : file(file), source(source) {
        file->AddRef();
    }
    ~AudioFileStream() override { file->Release(); }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = source.Info();
        return AVIERR_OK;
    }
    LONG Length() override { return source.Length(); }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        return CopyFormat(&source.Format(), sizeof(WAVEFORMATEX), pos, format, size);
    }
    HRESULT ReadFrame(LONG sample, void* buffer, LONG bufferSize, LONG* bytes) override {
        return Read(sample, 1, buffer, bufferSize, bytes, nullptr);
    }
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        return ReadSamples(
            source.Length(), source.Format().nBlockAlign, start, samples, buffer, bufferSize, bytes,
            samplesRead,
            [this](LONG from, LONG count, uint8_t* dst) { return source.Read(from, count, dst); });
    }
    AudioSource* StoredAudio() override { return &source; }

  private:
    AviFile* file;
    AudioSource& source;
};

class AudioWriteStream final : public AviStream {
  public:
    AudioWriteStream(AviFile* file, PcmWriter& writer, AviStream*& registration)
        : file(file), writer(writer), registration(registration) {
        file->AddRef();
    }
    ~AudioWriteStream() override {
        registration = nullptr;
        file->Release();
    }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = writer.Info();
        return AVIERR_OK;
    }
    LONG Length() override { return writer.SamplesWritten(); }
    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        if (!writer.HasFormat()) return AVIERR_ERROR;
        return CopyFormat(&writer.Format(), sizeof(WAVEFORMATEX), pos, format, size);
    }
    HRESULT ReadFrame(LONG, void*, LONG, LONG*) override { return AVIERR_ERROR; }
    // A format without its cbSize (the 16 bytes of a plain PCM record) is taken as well.
    HRESULT SetFormat(LONG pos, void* format, LONG size) override {
        constexpr LONG kPlainPcmBytes = offsetof(WAVEFORMATEX, cbSize);
        if (pos < 0 || !format || size < kPlainPcmBytes) return AVIERR_ERROR;
        WAVEFORMATEX given{};
        std::memcpy(&given, format, std::min<size_t>(sizeof given, static_cast<size_t>(size)));
        return writer.SetFormat(given) ? AVIERR_OK : AVIERR_ERROR;
    }
    HRESULT Write(LONG start, LONG samples, void* buffer, LONG size, DWORD, LONG* samplesWritten,
                  LONG* bytesWritten) override {
        if (!writer.Write(start, buffer, samples, size)) return AVIERR_ERROR;
        if (samplesWritten) *samplesWritten = samples;
        if (bytesWritten) *bytesWritten = size;
        return AVIERR_OK;
    }

  private:
    AviFile* file;
    PcmWriter& writer;
    AviStream*& registration;
};

} // namespace

AviStream* MakeAudioFileStream(AviFile* file, AudioSource& source) {
    return new AudioFileStream(file, source);
}

AviStream* MakeAudioWriteStream(AviFile* file, PcmWriter& writer, AviStream*& registration) {
    return new AudioWriteStream(file, writer, registration);
}

} // namespace avi
