// An in-memory audio stream delivering 16-bit PCM as every audio stream does: a tone that
// differs per channel, so that a decoded file can be compared with it value for value.
#pragma once

#include "avifile/avifile.h"
#include "avifile/stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

class FakeAudioStream final : public AviStream {
  public:
    FakeAudioStream(LONG samples, DWORD rate, WORD channels) : samples_(samples) {
        format_.wFormatTag = WAVE_FORMAT_PCM;
        format_.nChannels = channels;
        format_.nSamplesPerSec = rate;
        format_.wBitsPerSample = 16;
        format_.nBlockAlign = WORD(channels * sizeof(int16_t));
        format_.nAvgBytesPerSec = rate * format_.nBlockAlign;
        pcm_.resize(size_t(samples) * channels);
        for (size_t i = 0; i < pcm_.size(); ++i) {
            const double t = double(i / channels) / rate;
            const double pitch = 440.0 * double(1 + i % channels);
            pcm_[i] = int16_t(std::lround(8000.0 * std::sin(2 * std::numbers::pi * pitch * t)));
        }
    }

    // Every sample as the stream delivers it.
    const std::vector<int16_t>& Pcm() const { return pcm_; }
    const WAVEFORMATEX& Format() const { return format_; }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = {};
        info.fccType = streamtypeAUDIO;
        info.dwScale = format_.nBlockAlign;
        info.dwRate = format_.nAvgBytesPerSec;
        info.dwSampleSize = format_.nBlockAlign;
        info.dwLength = DWORD(samples_);
        return AVIERR_OK;
    }

    LONG Length() override { return samples_; }

    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        if (format && *size > 0)
            std::memcpy(format, &format_,
                        std::min<size_t>(sizeof format_, static_cast<size_t>(*size)));
        *size = sizeof format_;
        return AVIERR_OK;
    }

    HRESULT ReadFrame(LONG sample, void* buffer, LONG bufferSize, LONG* bytes) override {
        return Read(sample, 1, buffer, bufferSize, bytes, nullptr);
    }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        if (start < 0 || start > samples_ || samples < 0) return AVIERR_ERROR;
        const LONG count = std::min(samples, samples_ - start);
        const LONG needed = count * format_.nBlockAlign;
        if (bytes) *bytes = needed;
        if (samplesRead) *samplesRead = buffer ? count : 0;
        if (!buffer) return AVIERR_OK;
        if (bufferSize < needed) return AVIERR_ERROR;
        std::memcpy(buffer, &pcm_[size_t(start) * format_.nChannels], size_t(needed));
        return AVIERR_OK;
    }

  private:
    LONG samples_;
    WAVEFORMATEX format_{};
    std::vector<int16_t> pcm_;
};
