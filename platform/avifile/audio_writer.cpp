#include "audio_writer.h"

#include "wave_format.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <climits>
#include <cstring>

namespace avi {

std::unique_ptr<PcmWriter> PcmWriter::Create(const std::string& path) {
    std::unique_ptr<PcmWriter> writer(new PcmWriter);
    if (avformat_alloc_output_context2(&writer->muxer, nullptr, "avi", nullptr) < 0) return nullptr;
    writer->packet = av_packet_alloc();
    if (!writer->packet || avio_open(&writer->muxer->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return nullptr;
    return writer;
}

PcmWriter::~PcmWriter() {
    Close();
    av_packet_free(&packet);
    if (muxer) avio_closep(&muxer->pb);
    avformat_free_context(muxer);
}

bool PcmWriter::SetInfo(const AVISTREAMINFOA& given) {
    if (given.fccType != streamtypeAUDIO) return false;
    info = given;
    return true;
}

bool PcmWriter::SetFormat(const WAVEFORMATEX& given) {
    if (hasFormat) return SameWaveFormat(given, format);
    if (!IsPcm16(given)) return false;
    format = Pcm16Format(int(given.nSamplesPerSec), given.nChannels);
    hasFormat = true;
    return true;
}

bool PcmWriter::StartMuxer() {
    if (started) return !failed;
    started = true;
    failed = true;
    if (!hasFormat) return false;
    AVStream* st = avformat_new_stream(muxer, nullptr);
    if (!st) return false;
    muxer->flags |= AVFMT_FLAG_BITEXACT;
    const int rate = static_cast<int>(format.nSamplesPerSec);
    st->time_base = AVRational{1, rate};
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->codec_tag = WAVE_FORMAT_PCM;
    av_channel_layout_default(&par->ch_layout, format.nChannels);
    par->sample_rate = rate;
    par->block_align = format.nBlockAlign;
    par->bits_per_coded_sample = format.wBitsPerSample;
    par->bit_rate = int64_t{format.nAvgBytesPerSec} * CHAR_BIT;
    const std::string name(info.szName, strnlen(info.szName, sizeof info.szName));
    if (!name.empty()) av_dict_set(&st->metadata, "title", name.c_str(), 0);
    failed = avformat_write_header(muxer, nullptr) < 0;
    return !failed;
}

bool PcmWriter::Write(LONG position, const void* samples, LONG count, LONG bytes) {
    if (!hasFormat || position != written || !samples || count <= 0 ||
        count > INT32_MAX / format.nBlockAlign || bytes != count * format.nBlockAlign ||
        written > INT32_MAX - count || !StartMuxer())
        return false;
    // The muxer only reads a packet without a buffer of its own: the caller's bytes are
    // written where they lie.
    packet->data = static_cast<uint8_t*>(const_cast<void*>(samples));
    packet->size = bytes;
    packet->stream_index = 0;
    packet->pts = packet->dts = written;
    packet->duration = count;
    packet->flags |= AV_PKT_FLAG_KEY;
    const int result = av_write_frame(muxer, packet);
    av_packet_unref(packet);
    if (result < 0) {
        failed = true;
        return false;
    }
    written += count;
    return true;
}

AVISTREAMINFOA PcmWriter::Info() const {
    AVISTREAMINFOA out = hasFormat ? AudioInfo(format, written) : info;
    out.fccType = streamtypeAUDIO;
    std::memcpy(out.szName, info.szName, sizeof out.szName);
    return out;
}

bool PcmWriter::Close() {
    if (!muxer || !muxer->pb || !StartMuxer()) return false;
    const bool trailer = av_write_trailer(muxer) >= 0 && !muxer->pb->error;
    return avio_closep(&muxer->pb) >= 0 && trailer;
}

} // namespace avi
