#include "audio_encoder.h"

#include "compressors.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace avi {

namespace {

constexpr int64_t kDefaultBitRate = 192000;
constexpr int kBitsPerByte = 8;
constexpr int kPcmBits = 16;

const AudioCodec kAudioCodecs[] = {
    {WAVE_FORMAT_PCM, "pcm_s16le", "PCM 16 bit", false},
    {WAVE_FORMAT_AAC, "aac", "AAC", true},
    {WAVE_FORMAT_MPEGLAYER3, "libmp3lame", "MP3", true},
};

bool IsPcm16(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == kPcmBits &&
           format.nChannels > 0 && format.nSamplesPerSec > 0 &&
           format.nSamplesPerSec <= INT32_MAX &&
           format.nBlockAlign == format.nChannels * (kPcmBits / kBitsPerByte);
}

// The encoder's first sample format: libavcodec lists its native one first.
AVSampleFormat SampleFormatOf(const AVCodec& codec) {
    return codec.sample_fmts ? codec.sample_fmts[0] : AV_SAMPLE_FMT_S16;
}

} // namespace

std::span<const AudioCodec> AudioCodecs() {
    return kAudioCodecs;
}

const AudioCodec* FindAudioCodec(DWORD tag) {
    if (tag == 0) tag = WAVE_FORMAT_PCM;
    for (const AudioCodec& codec : kAudioCodecs)
        if (codec.tag == tag) return &codec;
    return nullptr;
}

std::vector<const AudioCodec*> OfferedAudioCodecs(const WAVEFORMATEX& format) {
    std::vector<const AudioCodec*> offered;
    for (const AudioCodec& codec : kAudioCodecs)
        if (AudioEncoder::Open(codec, format, 0)) offered.push_back(&codec);
    return offered;
}

std::unique_ptr<AudioEncoder> AudioEncoder::Open(const AudioCodec& codec,
                                                 const WAVEFORMATEX& format, DWORD bytesPerSecond) {
    if (!IsPcm16(format)) return nullptr;
    const AVCodec* found = avcodec_find_encoder_by_name(codec.encoder);
    if (!found || !AviStoresCodec(found->id)) return nullptr;
    std::unique_ptr<AudioEncoder> encoder(new AudioEncoder);
    encoder->context = avcodec_alloc_context3(found);
    encoder->frame = av_frame_alloc();
    encoder->packet = av_packet_alloc();
    if (!encoder->context || !encoder->frame || !encoder->packet) return nullptr;
    AVCodecContext* context = encoder->context;
    context->sample_fmt = SampleFormatOf(*found);
    context->sample_rate = int(format.nSamplesPerSec);
    context->time_base = AVRational{1, context->sample_rate};
    av_channel_layout_default(&context->ch_layout, format.nChannels);
    if (codec.compressed)
        context->bit_rate =
            bytesPerSecond ? int64_t{bytesPerSecond} * kBitsPerByte : kDefaultBitRate;
    if (avcodec_open2(context, found, nullptr) < 0) return nullptr;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, format.nChannels);
    const int allocated = swr_alloc_set_opts2(&encoder->converter, &context->ch_layout,
                                              context->sample_fmt, context->sample_rate, &layout,
                                              AV_SAMPLE_FMT_S16, context->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (allocated < 0 || swr_init(encoder->converter) < 0) return nullptr;
    const bool fixedSize = !(found->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    encoder->frameSamples = fixedSize ? context->frame_size : 0;
    return encoder;
}

AudioEncoder::~AudioEncoder() {
    swr_free(&converter);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
}

bool AudioEncoder::Send(const uint8_t* samples, int count, const PacketSink& sink) {
    if (count <= 0) return true;
    // Without room for output, libswresample holds the converted samples itself.
    const uint8_t* planes[] = {samples};
    if (swr_convert(converter, nullptr, 0, planes, count) < 0) return false;
    held += count;
    return EncodeHeld(frameSamples ? frameSamples : 1, sink);
}

bool AudioEncoder::Finish(const PacketSink& sink) {
    return EncodeHeld(1, sink) && avcodec_send_frame(context, nullptr) >= 0 && Drain(sink);
}

bool AudioEncoder::EncodeHeld(int minimum, const PacketSink& sink) {
    while (held >= minimum) {
        const int wanted = frameSamples ? std::min(held, int64_t{frameSamples}) : int(held);
        av_frame_unref(frame);
        frame->format = context->sample_fmt;
        frame->sample_rate = context->sample_rate;
        frame->nb_samples = wanted;
        if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 ||
            av_frame_get_buffer(frame, 0) < 0)
            return false;
        const int converted = swr_convert(converter, frame->data, wanted, nullptr, 0);
        if (converted != wanted) return false;
        held -= converted;
        frame->pts = nextSample;
        nextSample += converted;
        if (avcodec_send_frame(context, frame) < 0 || !Drain(sink)) return false;
    }
    return true;
}

bool AudioEncoder::Drain(const PacketSink& sink) {
    for (;;) {
        const int received = avcodec_receive_packet(context, packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received < 0 || !sink(packet)) return false;
    }
}

} // namespace avi
