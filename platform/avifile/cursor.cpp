#include "cursor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

namespace {

// Step back at most this many key frames looking for one that decodes frame n.
constexpr int kMaxSeekRetries = 8;
constexpr int kIoBufferBytes = 1 << 16;

AVRational TimeBase(const SourceLayout& layout) {
    return AVRational{int(layout.tsNum), int(layout.tsDen)};
}

AVRational FrameDuration(const SourceLayout& layout) {
    return AVRational{int(layout.frameNum), int(layout.frameDen)};
}

int64_t PacketTimestamp(const AVPacket* packet, bool presentationFirst) {
    const int64_t first = presentationFirst ? packet->pts : packet->dts;
    return first != AV_NOPTS_VALUE ? first : presentationFirst ? packet->dts : packet->pts;
}

} // namespace

int FirstVideoStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

void DiscardOtherStreams(AVFormatContext* fmt, int keep) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = static_cast<int>(i) == keep ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

LONG RawIndexOf(const SourceLayout& layout, int64_t ts) {
    if (ts == AV_NOPTS_VALUE) return INT_MIN;
    int64_t frame = ts - layout.startTs;
    if (const auto& ticks = layout.frameTicks; !ticks.empty()) {
        // Timestamps before the list or past it count on in ticks; an empty chunk's belongs to
        // the frame before it.
        const auto after = std::upper_bound(ticks.begin(), ticks.end(), ts);
        if (after == ticks.begin()) {
            // Chunk numbers are never negative, so the difference cannot overflow.
            if (ts < ticks.front() - kMaxFrameIndex) return INT_MIN;
            frame = ts - ticks.front();
        } else {
            const auto at = std::prev(after);
            frame = (at - ticks.begin()) + (after == ticks.end() ? ts - *at : 0);
        }
    } else if (!layout.frameIsTick) {
        frame = av_rescale_q_rnd(frame, TimeBase(layout), FrameDuration(layout), AV_ROUND_NEAR_INF);
    }
    return frame < -kMaxFrameIndex || frame > kMaxFrameIndex ? INT_MIN : static_cast<LONG>(frame);
}

int64_t TimestampOf(const SourceLayout& layout, int64_t frame) {
    const auto& ticks = layout.frameTicks;
    if (!ticks.empty()) {
        const auto count = static_cast<int64_t>(ticks.size());
        if (frame < 0) return ticks.front() + frame;
        return frame < count ? ticks[size_t(frame)] : ticks.back() + (frame - count + 1);
    }
    if (layout.frameIsTick) return layout.startTs + frame;
    return layout.startTs + av_rescale_q(frame, FrameDuration(layout), TimeBase(layout));
}

SourceFile::SourceFile(const std::string& path)
    : name(path), fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

SourceFile::~SourceFile() {
    if (fd >= 0) close(fd);
}

int ReadFileAt(void* opaque, uint8_t* buffer, int size) {
    auto* reader = static_cast<FileReader*>(opaque);
    const ssize_t got = pread(reader->fd, buffer, static_cast<size_t>(size), reader->offset);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    reader->offset += got;
    return static_cast<int>(got);
}

int64_t SeekFileAt(void* opaque, int64_t offset, int whence) {
    auto* reader = static_cast<FileReader*>(opaque);
    struct stat status {};
    if (fstat(reader->fd, &status) != 0) return AVERROR(errno);
    int64_t position = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return status.st_size;
    case SEEK_SET:
        position = offset;
        break;
    case SEEK_CUR:
        position = reader->offset + offset;
        break;
    case SEEK_END:
        position = status.st_size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (position < 0) return AVERROR(EINVAL);
    reader->offset = position;
    return position;
}

Cursor::Cursor(const SourceLayout& layout)
    : layout(layout), highestOut(INT_MIN), lastRawOut(INT_MIN), landedTs(AV_NOPTS_VALUE),
      nextTs(AV_NOPTS_VALUE) {}

Cursor::~Cursor() {
    av_frame_free(&prevFrame);
    av_frame_free(&nextFrame);
    av_packet_free(&prevPacket);
    av_packet_free(&nextPacket);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&fmt);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
}

bool OpenDemuxer(const SourceFile& file, FileReader& reader, AVIOContext*& io,
                 AVFormatContext*& fmt) {
    if (file.fd < 0) return false;
    reader.fd = file.fd;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 0, &reader, ReadFileAt, nullptr,
                                     SeekFileAt)
                : nullptr;
    if (!io) {
        av_free(buffer);
        return false;
    }
    fmt = avformat_alloc_context();
    if (!fmt) return false;
    fmt->pb = io;
    fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure avformat_open_input frees fmt; io stays ours.
    return avformat_open_input(&fmt, file.name.c_str(), nullptr, nullptr) >= 0;
}

bool Cursor::OpenContainer(const SourceFile& file, bool probe, bool* readable) {
    if (!OpenDemuxer(file, reader, io, fmt)) return false;
    if (probe && avformat_find_stream_info(fmt, nullptr) < 0) return false;
    if (readable) *readable = true;
    stream = FirstVideoStream(fmt);
    if (stream < 0) return false;
    DiscardOtherStreams(fmt, stream);
    packet = av_packet_alloc();
    prevPacket = av_packet_alloc();
    nextPacket = av_packet_alloc();
    prevFrame = av_frame_alloc();
    nextFrame = av_frame_alloc();
    return packet && prevPacket && nextPacket && prevFrame && nextFrame;
}

bool Cursor::OpenDecoder(const AVCodecParameters* par) {
    if (layout.passThrough) return true;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return false;
    decoder = avcodec_alloc_context3(codec);
    if (!decoder || avcodec_parameters_to_context(decoder, par) < 0) return false;
    decoder->thread_count = 0; // as many as the machine has
    return avcodec_open2(decoder, codec, nullptr) == 0;
}

AVStream* Cursor::Stream() const {
    return fmt->streams[stream];
}

bool Cursor::CanReadForwardTo(LONG n) const {
    if (hasPrev) return prevIdx <= n;
    if (hasNext) return nextIdx <= n;
    return !readEof;
}

LONG Cursor::Position() const {
    return hasPrev ? prevIdx : hasNext ? nextIdx - 1 : -1;
}

// Seeks to the key frame at or before n, and steps back one key frame more while the first
// frame out is not a key frame or already lies past n (open GOPs, B-frames, packed
// bitstreams, empty chunks).
void Cursor::SeekTo(LONG n) {
    int64_t ts = TimestampOf(layout, static_cast<int64_t>(n) + layout.delay);
    for (int attempt = 0; attempt <= kMaxSeekRetries; ++attempt) {
        if (av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
            av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
            break;
        Reset();
        if (!Fetch() || (nextKey && nextIdx <= n)) return;
        if (landedTs == AV_NOPTS_VALUE || landedTs == INT64_MIN) return;
        const int entry = av_index_search_timestamp(Stream(), landedTs - 1, AVSEEK_FLAG_BACKWARD);
        const AVIndexEntry* e = entry >= 0 ? avformat_index_get_entry(Stream(), entry) : nullptr;
        if (!e || e->timestamp >= landedTs) return;
        ts = e->timestamp;
    }
    Reset();
    // The index is of no help: read from the start of the stream.
    av_seek_frame(fmt, stream, layout.startTs, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
}

// A frame the file leaves out (an empty chunk) repeats the frame before it.
bool Cursor::Locate(LONG n, LONG from, const PictureSink& passed) {
    while (!(hasPrev && prevIdx == n)) {
        if (!hasNext && !Fetch()) break;
        if (nextIdx > n && hasPrev) break;
        Consume();
        if (passed && prevSettled && prevIdx >= from && prevIdx < n && !passed(prevIdx, prevFrame))
            return false;
    }
    return hasPrev;
}

int64_t Cursor::FirstTimestamp() {
    return Fetch() ? nextTs : AV_NOPTS_VALUE;
}

void Cursor::Reindex() {
    if (hasNext) nextIdx = DisplayIndexOf(RawIndexOf(layout, nextTs));
}

int64_t Cursor::CountFrames(bool byChunkNumber) {
    int64_t count = 0;
    int64_t end = 0;
    for (; ReadPacket(); ++count) {
        const LONG raw = RawIndexOf(layout, PacketTimestamp(packet, false));
        if (raw != INT_MIN) end = std::max<int64_t>(end, int64_t{raw} + 1);
        av_packet_unref(packet);
    }
    return byChunkNumber ? end : count;
}

std::vector<int64_t> Cursor::DataChunks() {
    std::vector<int64_t> chunks;
    for (; ReadPacket() && chunks.size() < size_t{kMaxFrameIndex}; av_packet_unref(packet))
        if (const int64_t ts = PacketTimestamp(packet, false); ts != AV_NOPTS_VALUE)
            chunks.push_back(ts);
    av_packet_unref(packet);
    std::sort(chunks.begin(), chunks.end());
    chunks.erase(std::unique(chunks.begin(), chunks.end()), chunks.end());
    return chunks;
}

void Cursor::Reset() {
    if (decoder) avcodec_flush_buffers(decoder);
    av_frame_unref(prevFrame);
    av_frame_unref(nextFrame);
    av_packet_unref(prevPacket);
    av_packet_unref(nextPacket);
    hasPrev = hasNext = false;
    keySeen = prevSettled = false;
    highestOut = INT_MIN;
    readEof = flushed = drained = false;
    landedTs = AV_NOPTS_VALUE;
    lastRawOut = INT_MIN;
}

// Locate(n) stops at the first picture numbered n unless one numbered higher came before it, and
// pictures before the first key frame of a run may lack their references: only the others are
// what a direct read of their number gives (which seeks to the same key frame).
void Cursor::Consume() {
    if (layout.passThrough) {
        av_packet_unref(prevPacket);
        std::swap(prevPacket, nextPacket);
    } else {
        av_frame_unref(prevFrame);
        std::swap(prevFrame, nextFrame);
    }
    keySeen = keySeen || nextKey;
    prevSettled = keySeen && nextIdx > highestOut && !layout.passThrough &&
                  prevFrame->decode_error_flags == 0 && !(prevFrame->flags & AV_FRAME_FLAG_CORRUPT);
    highestOut = std::max(highestOut, nextIdx);
    prevIdx = nextIdx;
    hasPrev = true;
    hasNext = false;
}

bool Cursor::InRange(LONG idx) const {
    return idx != INT_MIN && idx >= 0 && idx < layout.length;
}

LONG Cursor::DisplayIndexOf(LONG raw) const {
    return raw == INT_MIN ? INT_MIN : raw - layout.delay;
}

// Reads the next packet of the stream into `packet`; false at the end of the file.
bool Cursor::ReadPacket() {
    while (!readEof) {
        if (av_read_frame(fmt, packet) < 0) {
            readEof = true;
            break;
        }
        // An empty chunk repeats the previous frame: nothing to decode.
        if (packet->stream_index == stream && packet->size > 0) {
            if (landedTs == AV_NOPTS_VALUE) landedTs = PacketTimestamp(packet, false);
            return true;
        }
        av_packet_unref(packet);
    }
    return false;
}

// Makes the next frame in display order the pending one; false when there is none.
bool Cursor::Fetch() {
    return layout.passThrough ? FetchChunk() : FetchPicture();
}

bool Cursor::FetchChunk() {
    while (ReadPacket()) {
        nextTs = PacketTimestamp(packet, true);
        nextIdx = RawIndexOf(layout, nextTs);
        if (InRange(nextIdx)) {
            av_packet_unref(nextPacket);
            av_packet_move_ref(nextPacket, packet);
            hasNext = true;
            nextKey = true;
            ++decoded;
            return true;
        }
        av_packet_unref(packet);
    }
    return false;
}

bool Cursor::FetchPicture() {
    while (!drained) {
        const int got = avcodec_receive_frame(decoder, nextFrame);
        if (got == 0) {
            ++decoded;
            nextTs = nextFrame->best_effort_timestamp;
            LONG raw = RawIndexOf(layout, nextTs);
            // The frames drained at the end carry no timestamp: they follow in order.
            if (raw == INT_MIN && lastRawOut != INT_MIN) raw = lastRawOut + 1;
            lastRawOut = raw;
            nextIdx = DisplayIndexOf(raw);
            if (InRange(nextIdx)) {
                hasNext = true;
                nextKey = nextFrame->key_frame || nextFrame->pict_type == AV_PICTURE_TYPE_I;
                return true;
            }
            av_frame_unref(nextFrame);
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
    }
    drained = true;
    return false;
}

} // namespace avi
