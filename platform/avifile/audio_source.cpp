#include "audio_source.h"

#include "wave_format.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace avi {

namespace {

// Reads up to this far (a fraction of a second) past the last one decode on instead of seeking.
constexpr int kReadOnDivisor = 4;
// Codecs other than PCM decode this much (a fraction of a second) before a sought sample:
// MDCT codecs overlap each frame with the one before, MP3 borrows bits from earlier frames.
constexpr int kPrerollDivisor = 10;
// A seek that lands after the wanted sample steps back this many times before reading from
// the start.
constexpr int kMaxSeekRetries = 6;
// The first decodable frame must come within this many packets, else the stream is broken.
constexpr int kMaxPacketsBeforeFirstFrame = 64;

int FirstAudioStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
    return -1;
}

bool IsPcm(AVCodecID id) {
    return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

bool IsAvi(const AVFormatContext* fmt) {
    return std::strcmp(fmt->iformat->name, "avi") == 0;
}

// The layout samples are delivered in: the stored one where it names every channel, else the
// usual one for that many channels.
AVChannelLayout DeliveredLayout(const AVChannelLayout& stored, int channels) {
    AVChannelLayout layout{};
    if (stored.order == AV_CHANNEL_ORDER_NATIVE && stored.nb_channels == channels)
        av_channel_layout_from_mask(&layout, stored.u.mask);
    else
        av_channel_layout_default(&layout, channels);
    return layout;
}

} // namespace

HRESULT AudioSource::Open(std::unique_ptr<SourceFile> file, std::unique_ptr<AudioSource>* out) {
    av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<AudioSource> source(new AudioSource);
    source->file = std::move(file);
    const HRESULT result = source->OpenStream();
    if (result == AVIERR_OK) *out = std::move(source);
    return result;
}

AudioSource::~AudioSource() {
    swr_free(&resampler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&fmt);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
}

HRESULT AudioSource::OpenStream() {
    if (!OpenContainer()) return AVIERR_NODATA;
    if (!OpenDecoder() || !DescribeSamples()) return AVIERR_BADFORMAT;
    length = CountLength();
    DescribeStream();
    // The first frame proves the stream decodes and is kept: reading from sample 0 goes on
    // from it.
    fromStart = true;
    if (!DecodeNext() && packetsRead > 0) return AVIERR_BADFORMAT;
    return AVIERR_OK;
}

bool AudioSource::OpenContainer() {
    if (!file || !OpenDemuxer(*file, reader, io, fmt) ||
        avformat_find_stream_info(fmt, nullptr) < 0)
        return false;
    stream = FirstAudioStream(fmt);
    if (stream < 0) return false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard =
            static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    return packet && frame;
}

bool AudioSource::OpenDecoder() {
    const AVCodecParameters* par = fmt->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return false;
    decoder = avcodec_alloc_context3(codec);
    if (!decoder || avcodec_parameters_to_context(decoder, par) < 0) return false;
    decoder->pkt_timebase = fmt->streams[stream]->time_base;
    return avcodec_open2(decoder, codec, nullptr) == 0;
}

bool AudioSource::DescribeSamples() {
    const AVStream* st = fmt->streams[stream];
    rate = st->codecpar->sample_rate > 0 ? st->codecpar->sample_rate : decoder->sample_rate;
    channels = st->codecpar->ch_layout.nb_channels > 0 ? st->codecpar->ch_layout.nb_channels
                                                       : decoder->ch_layout.nb_channels;
    if (!IsSupportedPcmShape(rate, channels) || st->time_base.num <= 0 || st->time_base.den <= 0)
        return false;
    startTs = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    preroll = IsPcm(st->codecpar->codec_id)
                  ? 0
                  : std::max<int64_t>(st->codecpar->seek_preroll, rate / kPrerollDivisor);
    format = Pcm16Format(rate, channels);
    return true;
}

// An AVI file's audio header counts its length in the stream's time base; other containers
// give a duration, of the stream or of the file. One guessed from the bit rate is no length:
// those files, and files that give none, are counted by one pass over their packets.
LONG AudioSource::CountLength() {
    const AVStream* st = fmt->streams[stream];
    const AVRational sample{1, rate};
    const bool guessed = fmt->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    int64_t samples = -1;
    if (IsAvi(fmt) && st->nb_frames > 0)
        samples = av_rescale_q(st->nb_frames, st->time_base, sample);
    else if (st->duration > 0 && !guessed)
        samples = av_rescale_q(st->duration, st->time_base, sample);
    else if (fmt->duration > 0 && !guessed)
        samples = av_rescale_q(fmt->duration, AV_TIME_BASE_Q, sample);
    if (samples < 0) samples = av_rescale_q(CountPacketEnd(), st->time_base, sample);
    return static_cast<LONG>(std::clamp<int64_t>(samples, 0, kMaxFrameIndex));
}

// The end of the last packet, in the stream's time base from its start; leaves the demuxer at
// the start again.
int64_t AudioSource::CountPacketEnd() {
    int64_t end = 0;
    while (av_read_frame(fmt, packet) >= 0) {
        if (packet->stream_index == stream && packet->pts != AV_NOPTS_VALUE)
            end = std::max(end, packet->pts - startTs + packet->duration);
        av_packet_unref(packet);
    }
    av_seek_frame(fmt, stream, startTs, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    return end;
}

void AudioSource::DescribeStream() {
    info = AudioInfo(format, length);
    const AVStream* st = fmt->streams[stream];
    if (const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0))
        std::strncpy(info.szName, title->value, sizeof info.szName - 1);
}

StoredCodec AudioSource::Stored() const {
    return StoredCodecOf(*fmt->streams[stream]->codecpar);
}

bool AudioSource::Read(LONG start, LONG count, uint8_t* dst) {
    if (start < 0 || count < 0 || int64_t{start} + count > length) return false;
    const int64_t end = int64_t{start} + count;
    if (!ReadsOnTo(start) && !SeekTo(start)) return false;
    DropBefore(start);
    while (BufferedEnd() < end && DecodeNext())
        DropBefore(start);
    const size_t bytes = static_cast<size_t>(count) * format.nBlockAlign;
    const int64_t have = positionKnown && position == start ? BufferedEnd() - start : 0;
    const size_t copied =
        static_cast<size_t>(std::clamp<int64_t>(have, 0, count)) * format.nBlockAlign;
    std::memcpy(dst, buffered.data(), copied);
    std::memset(dst + copied, 0, bytes - copied); // the decoder ended early: silence
    DropBefore(end);
    return true;
}

// Decoding on is cheaper than a seek from the decoder's place up to a little past it; at the
// end of the stream everything after is silence anyway.
bool AudioSource::ReadsOnTo(int64_t start) const {
    if (!positionKnown || start < position) return false;
    return drained || start <= BufferedEnd() + rate / kReadOnDivisor;
}

// Seeks to a packet at or before target less the pre-roll, stepping further back while the
// first frame out still lies after target; reads from the start when the index is of no help.
bool AudioSource::SeekTo(int64_t target) {
    const AVStream* st = fmt->streams[stream];
    int64_t from = target - preroll;
    for (int attempt = 0; attempt < kMaxSeekRetries && from > 0; ++attempt) {
        const int64_t ts = startTs + av_rescale_q(from, AVRational{1, rate}, st->time_base);
        if (av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD) < 0) break;
        Reset();
        if (!DecodeNext() || !positionKnown) break;
        if (position <= target) return true;
        from -= std::max<int64_t>(preroll, rate) << attempt;
    }
    return Restart();
}

bool AudioSource::Restart() {
    if (av_seek_frame(fmt, stream, startTs, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    Reset();
    fromStart = true;
    DecodeNext();
    if (!positionKnown) { // nothing decodes any more: all silence from here
        position = 0;
        positionKnown = true;
    }
    return true;
}

void AudioSource::Reset() {
    avcodec_flush_buffers(decoder);
    swr_free(&resampler); // it may hold samples of the old place
    buffered.clear();
    positionKnown = false;
    fromStart = false;
    readEof = flushed = drained = false;
    packetsRead = 0; // the count that tells a stream that does not decode starts afresh
}

// Decodes the next frame and appends it converted; false at the end of the stream.
bool AudioSource::DecodeNext() {
    while (!drained) {
        const int got = avcodec_receive_frame(decoder, frame);
        if (got == 0) {
            const bool appended = AppendFrame();
            av_frame_unref(frame);
            if (appended) return true;
            continue;
        }
        if (got == AVERROR_EOF) break;
        if (ReadPacket()) {
            // A damaged packet is skipped; the decoder carries on with the next one.
            avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
        } else if (!flushed) {
            avcodec_send_packet(decoder, nullptr);
            flushed = true;
        } else {
            break;
        }
        // A stream that has given nothing after many packets does not decode.
        if (!positionKnown && fromStart && packetsRead > kMaxPacketsBeforeFirstFrame) break;
    }
    drained = true;
    return false;
}

bool AudioSource::ReadPacket() {
    while (!readEof) {
        if (av_read_frame(fmt, packet) < 0) {
            readEof = true;
            break;
        }
        if (packet->stream_index == stream && packet->size > 0) {
            ++packetsRead;
            return true;
        }
        av_packet_unref(packet);
    }
    return false;
}

// The first frame after a seek fixes the position by its timestamp; later ones follow on.
bool AudioSource::AppendFrame() {
    if (frame->nb_samples <= 0 || !PrepareResampler(frame)) return false;
    if (!positionKnown) {
        const int64_t ts = frame->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE && !fromStart) return false;
        position =
            ts == AV_NOPTS_VALUE
                ? 0
                : av_rescale_q(ts - startTs, fmt->streams[stream]->time_base, AVRational{1, rate});
        positionKnown = true;
    }
    const int room = swr_get_out_samples(resampler, frame->nb_samples);
    if (room < 0) return false;
    const size_t before = buffered.size();
    buffered.resize(before + static_cast<size_t>(room) * channels);
    auto* out = reinterpret_cast<uint8_t*>(buffered.data() + before);
    const int converted =
        swr_convert(resampler, &out, room, const_cast<const uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    buffered.resize(before + static_cast<size_t>(std::max(converted, 0)) * channels);
    return converted >= 0;
}

bool AudioSource::PrepareResampler(const AVFrame* decoded) {
    const int decodedChannels = decoded->ch_layout.nb_channels;
    if (resampler && resamplerFormat == decoded->format && resamplerRate == decoded->sample_rate &&
        resamplerChannels == decodedChannels)
        return true;
    swr_free(&resampler);
    if (decodedChannels <= 0 || decodedChannels > kMaxAudioChannels || decoded->sample_rate <= 0)
        return false;
    const AVChannelLayout& stored = fmt->streams[stream]->codecpar->ch_layout;
    AVChannelLayout out = DeliveredLayout(stored, channels);
    AVChannelLayout in{};
    if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        in = decodedChannels == channels ? DeliveredLayout(stored, channels)
                                         : DeliveredLayout(decoded->ch_layout, decodedChannels);
    else
        av_channel_layout_copy(&in, &decoded->ch_layout);
    const bool ready = swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_S16, rate, &in,
                                           static_cast<AVSampleFormat>(decoded->format),
                                           decoded->sample_rate, 0, nullptr) >= 0 &&
                       swr_init(resampler) >= 0;
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (!ready) {
        swr_free(&resampler);
        return false;
    }
    resamplerFormat = decoded->format;
    resamplerRate = decoded->sample_rate;
    resamplerChannels = decodedChannels;
    return true;
}

int64_t AudioSource::BufferedEnd() const {
    return position + static_cast<int64_t>(buffered.size() / channels);
}

// Forgets the samples before `sample` (also those a frame put before the stream's start).
void AudioSource::DropBefore(int64_t sample) {
    if (!positionKnown || sample <= position) return;
    const int64_t drop = std::min(sample, BufferedEnd()) - position;
    buffered.erase(buffered.begin(), buffered.begin() + static_cast<ptrdiff_t>(drop * channels));
    position += drop;
}

} // namespace avi
