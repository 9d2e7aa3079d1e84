// AVIConvertAudioToFileA and AVIStretchAudioToFileA: samples of any audio stream converted with
// libswresample to another rate and channel count, or to another length, written through the
// PCM writer.
#include "avifile.h"

#include "audio_writer.h"
#include "wave_format.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Samples read from the source at a time.
constexpr LONG kBlockSamples = 1 << 15;

struct FreeResampler {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
using Resampler = std::unique_ptr<SwrContext, FreeResampler>;

// The resampler's rates: a stretch resamples as if `samples` input samples took the time of
// `wanted` output ones. Denominators this large keep the ratio exact for any frame timing; the
// last samples are cut or completed to the exact length anyway.
constexpr int kMaxRateTerm = 1 << 20;

struct Rates {
    int in;
    int out;
};

Resampler MakeResampler(const WAVEFORMATEX& from, const WAVEFORMATEX& to, Rates rates) {
    AVChannelLayout in{}, out{};
    av_channel_layout_default(&in, from.nChannels);
    av_channel_layout_default(&out, to.nChannels);
    SwrContext* resampler = nullptr;
    if (swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_S16, rates.out, &in, AV_SAMPLE_FMT_S16,
                            rates.in, 0, nullptr) < 0 ||
        swr_init(resampler) < 0)
        swr_free(&resampler);
    return Resampler(resampler);
}

// Converts samples [start, start + samples) of source into writer: exactly `wanted` samples,
// the resampler's last ones cut or completed with silence.
class Conversion {
  public:
    Conversion(PAVISTREAM source, const WAVEFORMATEX& from, const WAVEFORMATEX& to,
               avi::PcmWriter& writer)
        : source(source), from(from), to(to), writer(writer) {}

    bool Run(LONG start, LONG samples, int64_t length) {
        wanted = length;
        Rates rates{int(from.nSamplesPerSec), int(to.nSamplesPerSec)};
        if (int64_t{samples} * to.nSamplesPerSec != wanted * from.nSamplesPerSec)
            av_reduce(&rates.out, &rates.in, wanted, samples, kMaxRateTerm);
        resampler = MakeResampler(from, to, rates);
        if (!resampler || wanted > INT32_MAX || rates.in <= 0 || rates.out <= 0) return false;
        std::vector<uint8_t> input(static_cast<size_t>(kBlockSamples) * from.nBlockAlign);
        for (LONG done = 0; done < samples;) {
            const LONG count = std::min(kBlockSamples, samples - done);
            LONG got = 0;
            if (AVIStreamRead(source, start + done, count, input.data(), count * from.nBlockAlign,
                              nullptr, &got) != AVIERR_OK ||
                got != count || !Convert(input.data(), count))
                return false;
            done += count;
        }
        while (swr_get_out_samples(resampler.get(), 0) > 0) {
            const int before = static_cast<int>(written);
            if (!Convert(nullptr, 0) || written == before) break;
        }
        return Emit(nullptr, wanted - written);
    }

    LONG Written() const { return static_cast<LONG>(written); }

  private:
    // Feeds `count` samples (none to drain the resampler) and writes what comes out.
    bool Convert(const uint8_t* input, int count) {
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room < 0) return false;
        output.resize(static_cast<size_t>(std::max(room, 1)) * to.nBlockAlign);
        uint8_t* out = output.data();
        const int produced =
            swr_convert(resampler.get(), &out, room, input ? &input : nullptr, count);
        return produced >= 0 && Emit(output.data(), produced);
    }

    // Writes up to `count` samples (silence for null samples), never past the wanted length.
    bool Emit(const uint8_t* samples, int64_t count) {
        count = std::min(count, wanted - written);
        if (!samples && count > 0) {
            output.assign(
                static_cast<size_t>(std::min<int64_t>(count, kBlockSamples)) * to.nBlockAlign, 0);
            while (count > 0) {
                const LONG part = static_cast<LONG>(std::min<int64_t>(count, kBlockSamples));
                if (!Write(output.data(), part)) return false;
                count -= part;
            }
            return true;
        }
        return count <= 0 || Write(samples, static_cast<LONG>(count));
    }

    bool Write(const uint8_t* samples, LONG count) {
        if (!writer.Write(static_cast<LONG>(written), samples, count, count * to.nBlockAlign))
            return false;
        written += count;
        return true;
    }

    PAVISTREAM source;
    WAVEFORMATEX from;
    WAVEFORMATEX to;
    avi::PcmWriter& writer;
    Resampler resampler;
    std::vector<uint8_t> output;
    int64_t wanted = 0;
    int64_t written = 0;
};

HRESULT Convert(const char* path, PAVISTREAM source, const AVISTREAMINFOA& info,
                const WAVEFORMATEX& from, const WAVEFORMATEX& to, LONG start, LONG samples,
                int64_t length, LONG* written) {
    auto writer = avi::PcmWriter::Create(path);
    if (!writer) return AVIERR_ERROR;
    AVISTREAMINFOA outInfo = avi::AudioInfo(to, 0);
    std::copy(std::begin(info.szName), std::end(info.szName), outInfo.szName);
    Conversion conversion(source, from, to, *writer);
    const bool done = writer->SetInfo(outInfo) && writer->SetFormat(to) &&
                      conversion.Run(start, samples, length) && writer->Close();
    writer.reset();
    if (!done) {
        std::remove(path);
        return AVIERR_ERROR;
    }
    if (written) *written = conversion.Written();
    return AVIERR_OK;
}

// Checks the arguments of a conversion and its source's format; the samples to convert are
// clamped to the stream.
HRESULT CheckConversion(const char* path, PAVISTREAM source, LONG start, LONG* samples,
                        const WAVEFORMATEX* target, AVISTREAMINFOA& info, WAVEFORMATEX& from) {
    if (!path || !*path || !source || !target || start < 0 || *samples <= 0 ||
        AVIStreamInfoA(source, &info, sizeof info) != AVIERR_OK || info.fccType != streamtypeAUDIO)
        return AVIERR_ERROR;
    LONG size = sizeof from;
    if (AVIStreamReadFormat(source, start, &from, &size) != AVIERR_OK || !avi::IsPcm16(from) ||
        target->wFormatTag != WAVE_FORMAT_PCM || target->wBitsPerSample != avi::kPcmBits ||
        !avi::IsSupportedPcmShape(static_cast<int>(target->nSamplesPerSec), target->nChannels))
        return AVIERR_BADFORMAT;
    const LONG length = AVIStreamLength(source);
    if (start >= length) return AVIERR_ERROR;
    *samples = std::min(*samples, length - start);
    return AVIERR_OK;
}

} // namespace

extern "C" {

HRESULT AVIConvertAudioToFileA(const char* path, PAVISTREAM source, LONG start, LONG samples,
                               const WAVEFORMATEX* target, LONG* written) {
    if (written) *written = 0;
    AVISTREAMINFOA info{};
    WAVEFORMATEX from{};
    const HRESULT checked = CheckConversion(path, source, start, &samples, target, info, from);
    if (checked != AVIERR_OK) return checked;
    const WAVEFORMATEX to = avi::Pcm16Format(int(target->nSamplesPerSec), target->nChannels);
    const int64_t length =
        av_rescale_rnd(samples, to.nSamplesPerSec, from.nSamplesPerSec, AV_ROUND_NEAR_INF);
    return Convert(path, source, info, from, to, start, samples, length, written);
}

HRESULT AVIStretchAudioToFileA(const char* path, PAVISTREAM source, LONG start, LONG samples,
                               const WAVEFORMATEX* target, LONG targetSamples, LONG* written) {
    if (written) *written = 0;
    AVISTREAMINFOA info{};
    WAVEFORMATEX from{};
    const HRESULT checked = CheckConversion(path, source, start, &samples, target, info, from);
    if (checked != AVIERR_OK) return checked;
    if (targetSamples <= 0) return AVIERR_ERROR;
    const WAVEFORMATEX to = avi::Pcm16Format(int(target->nSamplesPerSec), target->nChannels);
    return Convert(path, source, info, from, to, start, samples, targetSamples, written);
}

} // extern "C"
