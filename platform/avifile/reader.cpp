#include "reader.h"

#include "dib.h"
#include "frame_cache.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace avi {

namespace {

constexpr int kMaxCursors = 2;
// Steps forward up to this many frames continue with the cursor read last.
constexpr int kNearFrames = 8;
// Step back at most this many key frames looking for one that decodes frame n.
constexpr int kMaxSeekRetries = 8;
// A decoder delay beyond this is a broken file, not a reorder depth.
constexpr int kMaxDelay = 16;
constexpr size_t kMaxStoredExtra = size_t{1} << 20;
constexpr char kBottomUp[] = "BottomUp";

bool EndsWithBottomUp(const AVCodecParameters* par) {
    return par->extradata_size >= 9 &&
           std::memcmp(par->extradata + par->extradata_size - 9, kBottomUp, 9) == 0;
}

bool IsAvi(const AVFormatContext* fmt) {
    return std::strcmp(fmt->iformat->name, "avi") == 0;
}

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

constexpr int kIoBufferBytes = 1 << 16;

// Reads of one cursor: its own offset into the source's open file.
struct FileReader {
    int fd = -1;
    int64_t offset = 0;
};

int ReadFile(void* opaque, uint8_t* buffer, int size) {
    auto* reader = static_cast<FileReader*>(opaque);
    const ssize_t got = pread(reader->fd, buffer, static_cast<size_t>(size), reader->offset);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    reader->offset += got;
    return static_cast<int>(got);
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
    auto* reader = static_cast<FileReader*>(opaque);
    struct stat status {};
    if (fstat(reader->fd, &status) != 0) return AVERROR(errno);
    int64_t position = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return status.st_size;
    case SEEK_SET: position = offset; break;
    case SEEK_CUR: position = reader->offset + offset; break;
    case SEEK_END: position = status.st_size + offset; break;
    default: return AVERROR(EINVAL);
    }
    if (position < 0) return AVERROR(EINVAL);
    reader->offset = position;
    return position;
}

} // namespace

// The file a source reads, opened once. Every cursor reads this open file, never the path
// again: temporary files are deleted and rewritten under the same names while streams made
// from the old content still read it.
class SourceFile {
public:
    explicit SourceFile(const std::string& path)
        : name(path), fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~SourceFile() {
        if (fd >= 0) close(fd);
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string name; // a hint for format probing only
    const int fd;
};

// One read position in the file: its own demuxer and decoder. Holds the last frame handed out
// (`prev`) and possibly the one after it (`next`, decoded to learn that `prev` repeats).
class Cursor {
  public:
    explicit Cursor(const SourceLayout& layout) : layout(layout) {}
    ~Cursor() {
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
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // Opens the container; `probe` runs the stream analysis (first cursor only).
    bool OpenContainer(const SourceFile& file, bool probe, bool* readable = nullptr) {
        if (file.fd < 0) return false;
        reader.fd = file.fd;
        auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
        io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 0, &reader, ReadFile, nullptr,
                                         SeekFile)
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
        if (avformat_open_input(&fmt, file.name.c_str(), nullptr, nullptr) < 0) return false;
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

    bool OpenDecoder(const AVCodecParameters* par) {
        if (layout.passThrough) return true;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) return false;
        decoder = avcodec_alloc_context3(codec);
        if (!decoder || avcodec_parameters_to_context(decoder, par) < 0) return false;
        decoder->thread_count = 0;
        return avcodec_open2(decoder, codec, nullptr) == 0;
    }

    AVFormatContext* Container() const { return fmt; }
    AVStream* Stream() const { return fmt->streams[stream]; }

    // Whether frame n lies ahead: at or after the frame last handed out (or the pending one);
    // a cursor that has read nothing yet starts at the beginning.
    bool CanReadForwardTo(LONG n) const {
        if (hasPrev) return prevIdx <= n;
        if (hasNext) return nextIdx <= n;
        return !readEof;
    }
    LONG Position() const { return hasPrev ? prevIdx : hasNext ? nextIdx - 1 : -1; }

    // Positions the cursor so that frame n can be read forward: seek to the key frame at or
    // before n, and step back one key frame more while the first frame out is not a key frame
    // or already lies past n (open GOPs, B-frames, packed bitstreams, empty chunks).
    void SeekTo(LONG n) {
        int64_t ts = TimestampOf(static_cast<int64_t>(n) + layout.delay);
        for (int attempt = 0; attempt <= kMaxSeekRetries; ++attempt) {
            if (av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
                av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
                break;
            Reset();
            if (!Fetch() || (nextKey && nextIdx <= n)) return;
            if (landedTs == AV_NOPTS_VALUE || landedTs == INT64_MIN) return;
            const int entry =
                av_index_search_timestamp(Stream(), landedTs - 1, AVSEEK_FLAG_BACKWARD);
            const AVIndexEntry* e =
                entry >= 0 ? avformat_index_get_entry(Stream(), entry) : nullptr;
            if (!e || e->timestamp >= landedTs) return;
            ts = e->timestamp;
        }
        Reset();
        // The index is of no help: read from the start of the stream.
        av_seek_frame(fmt, stream, layout.startTs, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    }

    // Reads forward until frame n is the frame last handed out. A frame the file leaves out
    // (an empty chunk) repeats the frame before it.
    bool Locate(LONG n) {
        while (!(hasPrev && prevIdx == n)) {
            if (!hasNext && !Fetch()) break;
            if (nextIdx > n && hasPrev) break;
            Consume();
        }
        return hasPrev;
    }

    const AVFrame* Picture() const { return prevFrame; }
    const AVPacket* Chunk() const { return prevPacket; }

    LONG RawIndexOf(int64_t ts) const {
        if (ts == AV_NOPTS_VALUE) return INT_MIN;
        int64_t frame = ts - layout.startTs;
        if (!layout.frameIsTick)
            frame = av_rescale_q_rnd(frame, AVRational{int(layout.tsNum), int(layout.tsDen)},
                                     AVRational{int(layout.frameNum), int(layout.frameDen)},
                                     AV_ROUND_NEAR_INF);
        return frame < INT_MIN / 2 || frame > INT_MAX / 2 ? INT_MIN : static_cast<LONG>(frame);
    }

    int64_t TimestampOf(int64_t frame) const {
        if (layout.frameIsTick) return layout.startTs + frame;
        return layout.startTs + av_rescale_q(frame,
                                             AVRational{int(layout.frameNum), int(layout.frameDen)},
                                             AVRational{int(layout.tsNum), int(layout.tsDen)});
    }

    // The timestamp of the frame that comes out first after opening (NOPTS if none).
    int64_t FirstTimestamp() { return Fetch() ? nextTs : AV_NOPTS_VALUE; }
    // Recomputes the pending frame's index after the start or the delay was learnt.
    void Reindex() {
        if (!hasNext) return;
        rawNextIdx = RawIndexOf(nextTs);
        nextIdx = rawNextIdx == INT_MIN ? INT_MIN : rawNextIdx - layout.delay;
    }

    // Frames in the whole file, by one pass over its packets: their number, or with
    // `byChunkNumber` the last chunk's number + 1 (AVI, where empty chunks count).
    int64_t CountFrames(bool byChunkNumber) {
        int64_t count = 0;
        int64_t end = 0;
        for (; ReadPacket(); ++count) {
            const LONG raw = RawIndexOf(packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts);
            if (raw != INT_MIN) end = std::max<int64_t>(end, int64_t{raw} + 1);
            av_packet_unref(packet);
        }
        return byChunkNumber ? end : count;
    }

    int64_t decoded = 0;
    uint64_t lastUse = 0;

  private:
    void Reset() {
        if (decoder) avcodec_flush_buffers(decoder);
        av_frame_unref(prevFrame);
        av_frame_unref(nextFrame);
        av_packet_unref(prevPacket);
        av_packet_unref(nextPacket);
        hasPrev = hasNext = false;
        readEof = flushed = drained = false;
        landedTs = AV_NOPTS_VALUE;
        lastRawOut = INT_MIN;
    }

    void Consume() {
        if (layout.passThrough) {
            av_packet_unref(prevPacket);
            std::swap(prevPacket, nextPacket);
        } else {
            av_frame_unref(prevFrame);
            std::swap(prevFrame, nextFrame);
        }
        prevIdx = nextIdx;
        hasPrev = true;
        hasNext = false;
    }

    bool InRange(LONG idx) const { return idx != INT_MIN && idx >= 0 && idx < layout.length; }

    // Reads the next packet of the stream into `packet`; false at the end of the file.
    bool ReadPacket() {
        while (!readEof) {
            if (av_read_frame(fmt, packet) < 0) {
                readEof = true;
                break;
            }
            // An empty chunk repeats the previous frame: nothing to decode.
            if (packet->stream_index == stream && packet->size > 0) {
                if (landedTs == AV_NOPTS_VALUE)
                    landedTs = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
                return true;
            }
            av_packet_unref(packet);
        }
        return false;
    }

    // Makes the next frame in display order `next`; false when there is none.
    bool Fetch() { return layout.passThrough ? FetchChunk() : FetchPicture(); }

    bool FetchChunk() {
        while (ReadPacket()) {
            nextTs = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            rawNextIdx = RawIndexOf(nextTs);
            nextIdx = rawNextIdx;
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

    bool FetchPicture() {
        while (!drained) {
            const int got = avcodec_receive_frame(decoder, nextFrame);
            if (got == 0) {
                ++decoded;
                nextTs = nextFrame->best_effort_timestamp;
                rawNextIdx = RawIndexOf(nextTs);
                // The frames drained at the end carry no timestamp: they follow in order.
                if (rawNextIdx == INT_MIN && lastRawOut != INT_MIN) rawNextIdx = lastRawOut + 1;
                lastRawOut = rawNextIdx;
                nextIdx = rawNextIdx == INT_MIN ? INT_MIN : rawNextIdx - layout.delay;
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

    const SourceLayout& layout;
    AVFormatContext* fmt = nullptr;
    AVIOContext* io = nullptr;
    FileReader reader;
    int stream = -1;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* prevPacket = nullptr;
    AVPacket* nextPacket = nullptr;
    AVFrame* prevFrame = nullptr;
    AVFrame* nextFrame = nullptr;
    bool hasPrev = false, hasNext = false, nextKey = false;
    LONG prevIdx = 0, nextIdx = 0, rawNextIdx = 0, lastRawOut = INT_MIN;
    bool readEof = false, flushed = false, drained = false;
    int64_t landedTs = AV_NOPTS_VALUE;
    int64_t nextTs = AV_NOPTS_VALUE;
};

uint64_t VideoSource::NextId() {
    static std::atomic<uint64_t> counter{1};
    return counter++;
}

std::unique_ptr<VideoSource> VideoSource::Open(const std::string& path, bool* readable) {
    // The editor reports failures itself; FFmpeg's notes (deprecated JPEG pixel formats,
    // damaged packets it conceals) would only fill the terminal.
    av_log_set_level(AV_LOG_ERROR);
    bool opened = false;
    std::unique_ptr<VideoSource> source(new VideoSource);
    source->file = std::make_unique<SourceFile>(path);
    source->cached = av_frame_alloc();
    if (!source->cached || !source->OpenFirstCursor(opened)) source.reset();
    if (readable) *readable = opened;
    return source;
}

VideoSource::~VideoSource() {
    FrameCache::Instance().Drop(id);
    av_frame_free(&cached);
    sws_freeContext(scaler);
}

int64_t VideoSource::DecodedFrames() const {
    int64_t total = 0;
    for (const auto& cursor : cursors)
        total += cursor->decoded;
    return total;
}

bool VideoSource::OpenFirstCursor(bool& readable) {
    auto cursor = std::make_unique<Cursor>(layout);
    if (!cursor->OpenContainer(*file, true, &readable)) return false;
    const AVFormatContext* fmt = cursor->Container();
    const AVStream* st = cursor->Stream();
    const AVCodecParameters* par = st->codecpar;
    if (!DibSizeIsSane(par->width, par->height, 24)) return false;

    const bool avi = IsAvi(fmt);
    layout.width = par->width;
    layout.height = par->height;
    const int storedBits = par->bits_per_coded_sample;
    layout.passThrough = avi && par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0 &&
                         (storedBits == 16 || storedBits == 24);
    layout.topDown = layout.passThrough && !EndsWithBottomUp(par);
    layout.outBits = layout.passThrough ? storedBits : 24;
    layout.imageBytes = DibImageBytes(layout.width, layout.height, layout.outBits);

    if (st->time_base.num <= 0 || st->time_base.den <= 0) return false;
    layout.tsNum = st->time_base.num;
    layout.tsDen = st->time_base.den;
    // Outside AVI the frame rate is guessed from the timestamps; the real base rate beats an
    // average that an edit list or a short last frame skews.
    AVRational rate = avi ? AVRational{st->time_base.den, st->time_base.num} : st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT_MAX);
    layout.frameNum = rate.den;
    layout.frameDen = rate.num;
    layout.frameIsTick = av_cmp_q(st->time_base, AVRational{rate.den, rate.num}) == 0;
    layout.startTs = !avi && st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;

    // In an AVI file every chunk is one frame, empty chunks included, and the index lists
    // them all (an OpenDML header may count only the first part); where the index holds
    // fewer frames than the header (no index, a cut file) and in containers that give no
    // frame count, one pass over the packets counts the frames.
    int64_t length = -1;
    const int entries = avformat_index_get_entries_count(st);
    const AVIndexEntry* last =
        entries > 0 ? avformat_index_get_entry(const_cast<AVStream*>(st), entries - 1) : nullptr;
    const int64_t indexed = last ? int64_t{cursor->RawIndexOf(last->timestamp)} + 1 : 0;
    if (avi && indexed > 0 && indexed >= st->nb_frames)
        length = indexed;
    else if (!avi && st->nb_frames > 0)
        length = st->nb_frames;
    if (length < 0) {
        Cursor counter(layout);
        length = counter.OpenContainer(*file, false) ? counter.CountFrames(avi) : 0;
    }
    layout.length = static_cast<LONG>(std::clamp<int64_t>(length, 0, INT_MAX / 2));

    if (!cursor->OpenDecoder(par)) return false;
    // AVI timestamps are chunk numbers, so display frame n comes out stamped n + delay; other
    // containers stamp presentation times, counted from the first frame's.
    const int64_t first = layout.length > 0 ? cursor->FirstTimestamp() : AV_NOPTS_VALUE;
    if (first != AV_NOPTS_VALUE && !layout.passThrough) {
        if (avi) {
            const LONG raw = cursor->RawIndexOf(first);
            layout.delay = raw > 0 && raw <= kMaxDelay ? raw : 0;
        } else {
            layout.startTs = first;
        }
    }
    cursor->Reindex();

    info = AVISTREAMINFOA{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = par->codec_tag;
    info.dwScale = static_cast<DWORD>(rate.den);
    info.dwRate = static_cast<DWORD>(rate.num);
    info.dwLength = static_cast<DWORD>(layout.length);
    info.dwSuggestedBufferSize = static_cast<DWORD>(layout.imageBytes);
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame = RECT{0, 0, layout.width, layout.height};
    if (const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0))
        std::strncpy(info.szName, title->value, sizeof info.szName - 1);

    const int bits = storedBits > 0 && storedBits <= 32 ? storedBits : 24;
    BITMAPINFOHEADER stored = MakeDibHeader(layout.width, layout.height, bits);
    if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0 && !EndsWithBottomUp(par))
        stored.biHeight = -layout.height;
    stored.biCompression = par->codec_tag;
    size_t extra = par->extradata ? static_cast<size_t>(par->extradata_size) : 0;
    if (EndsWithBottomUp(par)) extra -= 9;
    extra = std::min(extra, kMaxStoredExtra);
    stored.biSize = static_cast<DWORD>(sizeof stored + extra);
    storedFormat.resize(sizeof stored + extra);
    std::memcpy(storedFormat.data(), &stored, sizeof stored);
    if (extra) std::memcpy(storedFormat.data() + sizeof stored, par->extradata, extra);

    cursors.push_back(std::move(cursor));
    return true;
}

BITMAPINFOHEADER VideoSource::DeliveredFormat() const {
    return MakeDibHeader(layout.width, layout.height, layout.outBits);
}

// Display index of the key frame a seek for frame n starts from (0 if the index has none).
LONG VideoSource::KeyFrameBefore(LONG frame) const {
    Cursor& first = *cursors.front();
    const int entry = av_index_search_timestamp(
        first.Stream(), first.TimestampOf(int64_t{frame} + layout.delay), AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* e = entry >= 0 ? avformat_index_get_entry(first.Stream(), entry) : nullptr;
    if (!e) return 0;
    const LONG raw = first.RawIndexOf(e->timestamp);
    return raw == INT_MIN ? 0 : std::clamp<LONG>(raw - layout.delay, 0, frame);
}

// The cursor read last keeps its place for small steps forward (playing, also through frames
// the cache held; moving a range end by a frame); any other read goes to another cursor -
// forward if that is cheaper than a seek, else after a seek - so that two places read in turn
// keep a decoder each.
Cursor* VideoSource::PickCursor(LONG frame, LONG lastRead) {
    Cursor* recent = nullptr;
    for (const auto& cursor : cursors)
        if (cursor->lastUse == useClock && useClock > 0) recent = cursor.get();
    const bool playing = lastRead <= frame && frame - lastRead <= kNearFrames;
    const int64_t seekCost = int64_t{frame} - KeyFrameBefore(frame) + 1;
    if (recent && recent->CanReadForwardTo(frame)) {
        const int64_t cost = int64_t{frame} - recent->Position();
        if (cost <= kNearFrames || (playing && cost <= seekCost)) {
            recent->lastUse = ++useClock;
            return recent;
        }
    }
    Cursor* best = nullptr;
    int64_t bestCost = INT64_MAX;
    for (const auto& cursor : cursors) {
        if (cursor.get() == recent || !cursor->CanReadForwardTo(frame)) continue;
        const int64_t cost = int64_t{frame} - cursor->Position();
        if (cost < bestCost) bestCost = cost, best = cursor.get();
    }
    if (!best || bestCost > seekCost) {
        best = nullptr;
        if (static_cast<int>(cursors.size()) < kMaxCursors) {
            auto cursor = std::make_unique<Cursor>(layout);
            if (cursor->OpenContainer(*file, false) &&
                cursor->OpenDecoder(cursors.front()->Stream()->codecpar)) {
                best = cursor.get();
                cursors.push_back(std::move(cursor));
            }
        }
        if (!best) {
            best = std::min_element(cursors.begin(), cursors.end(), [](auto& a, auto& b) {
                       return a->lastUse < b->lastUse;
                   })->get();
        }
        best->SeekTo(frame);
    }
    best->lastUse = ++useClock;
    return best;
}

bool VideoSource::ConvertPicture(const AVFrame* picture, uint8_t* dst) {
    if (picture->width <= 0 || picture->height <= 0) return false;
    scaler = sws_getCachedContext(
        scaler, picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
        layout.width, layout.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) return false;
    // Bottom-up: start at the last row and walk upwards.
    const int stride = static_cast<int>(DibRowBytes(layout.width, 24));
    uint8_t* rows[4] = {dst + int64_t{stride} * (layout.height - 1), nullptr, nullptr, nullptr};
    const int strides[4] = {-stride, 0, 0, 0};
    return sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, rows, strides) ==
           layout.height;
}

bool VideoSource::ReadFrame(LONG frame, uint8_t* dst) {
    if (frame < 0 || frame >= layout.length) return false;
    const LONG previous = lastRead;
    lastRead = frame;
    if (!layout.passThrough && FrameCache::Instance().Get(id, frame, cached))
        return ConvertPicture(cached, dst);

    Cursor* cursor = PickCursor(frame, previous);
    if (!cursor->Locate(frame)) return false;
    if (layout.passThrough) {
        const AVPacket* chunk = cursor->Chunk();
        const size_t bytes = static_cast<size_t>(layout.imageBytes);
        if (static_cast<size_t>(chunk->size) < bytes) return false;
        if (!layout.topDown) {
            std::memcpy(dst, chunk->data, bytes);
        } else {
            const size_t row = static_cast<size_t>(DibRowBytes(layout.width, layout.outBits));
            for (int y = 0; y < layout.height; ++y)
                std::memcpy(dst + row * y, chunk->data + row * (layout.height - 1 - y), row);
        }
        return true;
    }
    const AVFrame* picture = cursor->Picture();
    FrameCache::Instance().Put(id, frame, picture);
    return ConvertPicture(picture, dst);
}

} // namespace avi
