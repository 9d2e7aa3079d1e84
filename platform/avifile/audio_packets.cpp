#include "audio_packets.h"

#include "audio_source.h"
#include "compressors.h"
#include "stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cctype>

namespace avi {

namespace {

std::string UpperName(AVCodecID codec) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    std::string name = descriptor ? descriptor->name : "";
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

} // namespace

StoredCodec StoredCodecOf(const AVCodecParameters& parameters) {
    const AVCodecID codec = parameters.codec_id;
    if (!AviStoresCodec(codec)) return {};
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    const unsigned tag = av_codec_get_tag(tables, codec);
    if (tag == 0 || tag > 0xFFFF || tag == WAVE_FORMAT_PCM) return {};
    return {static_cast<WORD>(tag), UpperName(codec)};
}

AudioSource* CopyableAudio(PAVISTREAM stream) {
    AudioSource* stored = stream ? stream->StoredAudio() : nullptr;
    AVISTREAMINFOA info{};
    if (!stored || stored->Stored().tag == 0 ||
        AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK)
        return nullptr;
    const AVISTREAMINFOA& own = stored->Info();
    return info.dwRate == own.dwRate && info.dwScale == own.dwScale ? stored : nullptr;
}

std::unique_ptr<AudioPackets> AudioPackets::Open(const SourceFile& file, int index) {
    std::unique_ptr<AudioPackets> packets(new AudioPackets);
    // The stream analysis fills in what the muxer times the packets by (the frame size).
    if (!OpenDemuxer(file, packets->reader, packets->io, packets->fmt) ||
        avformat_find_stream_info(packets->fmt, nullptr) < 0 || index < 0 ||
        unsigned(index) >= packets->fmt->nb_streams)
        return nullptr;
    packets->stream = index;
    for (unsigned i = 0; i < packets->fmt->nb_streams; ++i)
        packets->fmt->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const AVStream* st = packets->fmt->streams[index];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) return nullptr;
    packets->startTs = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    return packets;
}

AudioPackets::~AudioPackets() {
    avformat_close_input(&fmt);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
}

const AVCodecParameters& AudioPackets::Parameters() const {
    return *fmt->streams[stream]->codecpar;
}

AVRational AudioPackets::TimeBase() const {
    return fmt->streams[stream]->time_base;
}

int AudioPackets::Next(AVPacket* packet) {
    for (;;) {
        const int read = av_read_frame(fmt, packet);
        if (read == AVERROR_EOF) return 0;
        if (read < 0) return -1;
        if (packet->stream_index == stream && packet->size > 0) break;
        av_packet_unref(packet);
    }
    if (packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts -= startTs;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts -= startTs;
    return 1;
}

} // namespace avi
