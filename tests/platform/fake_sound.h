// An in-memory audio stream of 16-bit stereo PCM whose sample i holds i itself (the left value
// its low 16 bits, the right its high 16 bits), so that any bytes handed on tell which samples
// they came from.
#pragma once

#include "avifile/avifile.h"
#include "avifile/stream.h"

#include <algorithm>
#include <cstring>

class FakeSound final : public AviStream {
  public:
    static constexpr WORD kChannels = 2;
    static constexpr WORD kBlockAlign = kChannels * 2;

    FakeSound(LONG samples, DWORD samplesPerSecond)
        : samples_(samples), samplesPerSecond_(samplesPerSecond) {}

    WAVEFORMATEX Format() const {
        return {WAVE_FORMAT_PCM,
                kChannels,
                samplesPerSecond_,
                samplesPerSecond_ * kBlockAlign,
                kBlockAlign,
                WORD{16},
                WORD{0}};
    }

    // The sample that the 4 bytes at `bytes` hold.
    static int64_t SampleAt(const char* bytes) {
        uint16_t low, high;
        std::memcpy(&low, bytes, 2);
        std::memcpy(&high, bytes + 2, 2);
        return int64_t(low) | int64_t(high) << 16;
    }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = {};
        info.fccType = streamtypeAUDIO;
        info.dwScale = kBlockAlign;
        info.dwRate = samplesPerSecond_ * kBlockAlign;
        info.dwSampleSize = kBlockAlign;
        info.dwLength = DWORD(samples_);
        return AVIERR_OK;
    }

    LONG Length() override { return samples_; }

    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        const WAVEFORMATEX wave = Format();
        if (format && *size > 0)
            std::memcpy(format, &wave, std::min<size_t>(sizeof wave, size_t(*size)));
        *size = sizeof wave;
        return AVIERR_OK;
    }

    HRESULT ReadFrame(LONG sample, void* buffer, LONG bufferSize, LONG* bytes) override {
        return Read(sample, 1, buffer, bufferSize, bytes, nullptr);
    }

    // AVIStreamRead's reading of many samples at once.
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        if (start < 0 || start >= samples_ || samples < 0) return AVIERR_ERROR;
        const LONG count = std::min({samples, samples_ - start, bufferSize / LONG(kBlockAlign)});
        auto* out = static_cast<char*>(buffer);
        for (LONG i = 0; buffer && i < count; ++i) {
            const auto sample = uint32_t(start + i);
            const uint16_t values[kChannels] = {uint16_t(sample), uint16_t(sample >> 16)};
            std::memcpy(out + i * kBlockAlign, values, kBlockAlign);
        }
        if (bytes) *bytes = count * kBlockAlign;
        if (samplesRead) *samplesRead = count;
        return AVIERR_OK;
    }

  private:
    LONG samples_;
    DWORD samplesPerSecond_;
};
