// The one audio format every audio stream delivers and every written audio stream holds:
// 16-bit signed PCM, channels interleaved.
#pragma once

#include "avifile.h"

namespace avi {

constexpr int kMaxAudioChannels = 8;
// Far above any real rate; keeps nAvgBytesPerSec well inside a DWORD.
constexpr DWORD kMaxSampleRate = 1'000'000;
constexpr WORD kPcmBits = 16;
constexpr WORD kPcmSampleBytes = kPcmBits / 8;

inline bool IsSupportedPcmShape(int rate, int channels) {
    return rate > 0 && static_cast<DWORD>(rate) <= kMaxSampleRate && channels >= 1 &&
           channels <= kMaxAudioChannels;
}

inline WAVEFORMATEX Pcm16Format(int rate, int channels) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nBlockAlign = static_cast<WORD>(channels * kPcmSampleBytes);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = kPcmBits;
    return format;
}

// 16-bit PCM of a supported rate and channel count whose derived fields agree.
inline bool IsPcm16(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != kPcmBits ||
        !IsSupportedPcmShape(static_cast<int>(format.nSamplesPerSec), format.nChannels))
        return false;
    const WAVEFORMATEX expected = Pcm16Format(int(format.nSamplesPerSec), format.nChannels);
    return format.nBlockAlign == expected.nBlockAlign &&
           format.nAvgBytesPerSec == expected.nAvgBytesPerSec;
}

// Equal as far as the samples go (cbSize and what follows do not matter for PCM).
inline bool SameWaveFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nBlockAlign == b.nBlockAlign &&
           a.wBitsPerSample == b.wBitsPerSample;
}

// The stream information of an audio stream of this format and length in samples.
inline AVISTREAMINFOA AudioInfo(const WAVEFORMATEX& format, LONG samples) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = format.nBlockAlign;
    info.dwRate = format.nAvgBytesPerSec;
    info.dwSampleSize = format.nBlockAlign;
    info.dwLength = static_cast<DWORD>(samples);
    info.dwSuggestedBufferSize = format.nAvgBytesPerSec;
    info.dwQuality = 0xFFFFFFFFu; // the default quality
    return info;
}

} // namespace avi
