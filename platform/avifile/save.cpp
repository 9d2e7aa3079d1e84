// AVISaveVA: a video stream, and an audio stream beside it, written to an AVI file through
// libavformat's AVI muxer. Video frames go in as they are (full frames) or through a libavcodec
// encoder; audio goes through an audio encoder, about one frame's worth before each frame.
#include "avifile.h"

#include "audio_encoder.h"
#include "audio_packets.h"
#include "audio_source.h"
#include "compressors.h"
#include "dib.h"
#include "reader.h"
#include "stored_frames.h"
#include "stored_groups.h"
#include "stream.h"
#include "writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace avi {

namespace {

constexpr int kPercent = 100;
// Samples read from the audio stream at a time: a few video frames' worth at usual rates.
constexpr LONG kAudioReadSamples = 8192;

// Calls the progress callback whenever the whole percentage written changes.
class Progress {
  public:
    Progress(AVISAVECALLBACK callback, LONG frames) : callback(callback), frames(frames) {}
    // False when the callback asks to stop.
    bool Report(LONG written) {
        const int percent = frames > 0 ? int(int64_t{written} * kPercent / frames) : kPercent;
        if (!callback || percent == last) return true;
        last = percent;
        return callback(percent) == 0;
    }

  private:
    AVISAVECALLBACK callback;
    LONG frames;
    int last = -1;
};

struct Source {
    PAVISTREAM stream;
    AVISTREAMINFOA info;
    BITMAPINFOHEADER format;
    LONG frames;
};

bool ReadSource(PAVISTREAM stream, Source& source) {
    source.stream = stream;
    LONG size = sizeof source.format;
    if (AVIStreamInfoA(stream, &source.info, sizeof source.info) != AVIERR_OK ||
        AVIStreamReadFormat(stream, 0, &source.format, &size) != AVIERR_OK ||
        size < LONG(sizeof source.format))
        return false;
    source.frames = AVIStreamLength(stream);
    return source.frames >= 0 && source.format.biSizeImage > 0;
}

struct AudioInput {
    PAVISTREAM stream;
    WAVEFORMATEX format;
    LONG samples;
};

// An audio stream delivers 16-bit PCM; the encoder checks the rest of the format.
bool ReadAudioInput(PAVISTREAM stream, AudioInput& source) {
    AVISTREAMINFOA info{};
    source.stream = stream;
    source.format = {};
    LONG size = sizeof source.format;
    if (AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK ||
        info.fccType != streamtypeAUDIO ||
        AVIStreamReadFormat(stream, 0, &source.format, &size) != AVIERR_OK ||
        size < LONG(offsetof(WAVEFORMATEX, cbSize)))
        return false;
    // A stream timed to stay in step with frames at another rate than its file's (its
    // information says so) plays its samples at that rate.
    if (info.dwScale == source.format.nBlockAlign && info.dwRate % info.dwScale == 0 &&
        info.dwRate != source.format.nAvgBytesPerSec) {
        source.format.nSamplesPerSec = info.dwRate / info.dwScale;
        source.format.nAvgBytesPerSec = info.dwRate;
    }
    source.samples = AVIStreamLength(stream);
    return source.samples >= 0;
}

// libavformat's AVI muxer. Packets are written in the order given (av_write_frame): the save
// interleaves them itself, so a full frame is handed over where it lies, never copied.
class Muxer {
  public:
    ~Muxer() {
        av_dict_free(&options);
        if (context) avio_closep(&context->pb);
        avformat_free_context(context);
    }

    bool Create() {
        if (avformat_alloc_output_context2(&context, nullptr, "avi", nullptr) < 0) return false;
        context->flags |= AVFMT_FLAG_BITEXACT;
        // AVI has no room for an encoder's leading samples: shifting every stream to hide
        // them would put an empty chunk before the first frame.
        context->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
        return true;
    }

    AVStream* AddStream() { return avformat_new_stream(context, nullptr); }
    void SetOption(const char* key, const char* value) { av_dict_set(&options, key, value, 0); }

    bool Start(const char* path, bool& created) {
        created = avio_open(&context->pb, path, AVIO_FLAG_WRITE) >= 0;
        const bool started = created && avformat_write_header(context, &options) >= 0;
        av_dict_free(&options);
        return started;
    }

    // Writes a packet whose timestamps count in `from` to the stream.
    bool Write(AVPacket* packet, AVRational from, const AVStream& stream) {
        av_packet_rescale_ts(packet, from, stream.time_base);
        packet->stream_index = stream.index;
        const int written = av_write_frame(context, packet);
        av_packet_unref(packet);
        return written >= 0 && !context->pb->error;
    }

    bool Close() {
        const bool trailer = av_write_trailer(context) >= 0 && !context->pb->error;
        return avio_closep(&context->pb) >= 0 && trailer;
    }

  private:
    AVFormatContext* context = nullptr;
    AVDictionary* options = nullptr;
};

// The frames of the video stream, turned into packets of the file's first stream.
class VideoTrack {
  public:
    virtual ~VideoTrack() = default;
    // Declares the stream's codec parameters.
    virtual bool Describe(Muxer& muxer, AVStream& stream) = 0;
    // Whether Write needs frame n's pixels: a frame copied as stored does not.
    virtual bool NeedsPixels(LONG) const { return true; }
    virtual bool Write(Muxer& muxer, uint8_t* frame, LONG n) = 0;
    virtual bool Finish(Muxer& muxer) = 0;
    // Mends what the muxer wrote once the file is closed.
    virtual bool Complete(const char*) { return true; }

  protected:
    AVStream* stream = nullptr;
};

// Full frames: each DIB stored byte for byte as one key-frame chunk, as AviWriter stores them.
class FullFrames final : public VideoTrack {
  public:
    explicit FullFrames(const Source& source) : source(source), packet(av_packet_alloc()) {}
    ~FullFrames() override { av_packet_free(&packet); }

    bool Describe(Muxer& muxer, AVStream& added) override {
        stream = &added;
        const BITMAPINFOHEADER& format = source.format;
        const AVPixelFormat pixels = AVPixelFormat(DibPixelFormat(format.biBitCount));
        if (!packet || pixels == AV_PIX_FMT_NONE || format.biCompression != BI_RGB ||
            format.biHeight <= 0 ||
            !DibSizeIsSane(format.biWidth, format.biHeight, format.biBitCount) ||
            format.biSizeImage !=
                DibImageBytes(format.biWidth, format.biHeight, format.biBitCount) ||
            source.info.dwRate == 0 || source.info.dwScale == 0 || source.info.dwRate > INT32_MAX ||
            source.info.dwScale > INT32_MAX)
            return false;
        stream->time_base = AVRational{int(source.info.dwScale), int(source.info.dwRate)};
        stream->avg_frame_rate = AVRational{int(source.info.dwRate), int(source.info.dwScale)};
        AVCodecParameters* par = stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->codec_tag = 0;
        par->width = source.format.biWidth;
        par->height = source.format.biHeight;
        par->format = pixels;
        par->bits_per_coded_sample = source.format.biBitCount;
        muxer.SetOption("flipped_raw_rgb", "1");
        return true;
    }

    bool Write(Muxer& muxer, uint8_t* frame, LONG n) override {
        packet->data = frame;
        packet->size = int(source.format.biSizeImage);
        packet->pts = packet->dts = n;
        packet->duration = 1;
        packet->flags |= AV_PKT_FLAG_KEY;
        return muxer.Write(packet, stream->time_base, *stream);
    }

    bool Finish(Muxer&) override { return true; }

    bool Complete(const char* path) override {
        return PatchImageSize(path, source.format.biSizeImage);
    }

  private:
    const Source& source;
    AVPacket* packet;
};

// Frames through a libavcodec encoder.
class EncodedFrames final : public VideoTrack {
  public:
    explicit EncodedFrames(std::unique_ptr<DibEncoder> encoder)
        : encoder(std::move(encoder)), packet(av_packet_alloc()) {}
    ~EncodedFrames() override { av_packet_free(&packet); }

    bool Describe(Muxer&, AVStream& added) override {
        stream = &added;
        const AVCodecContext& context = encoder->Context();
        stream->time_base = context.time_base;
        stream->avg_frame_rate = context.framerate;
        return packet && avcodec_parameters_from_context(stream->codecpar, &context) >= 0;
    }

    bool Write(Muxer& muxer, uint8_t* frame, LONG n) override {
        return encoder->Send(frame, n) && Drain(muxer);
    }

    bool Finish(Muxer& muxer) override { return encoder->Finish() && Drain(muxer); }

  private:
    // Every packet the encoder has ready.
    bool Drain(Muxer& muxer) {
        int received;
        while ((received = encoder->Receive(packet)) == 1)
            if (!muxer.Write(packet, encoder->Context().time_base, *stream)) return false;
        return received == 0;
    }

    std::unique_ptr<DibEncoder> encoder;
    AVPacket* packet;
};

// Frames copied as their files store them where the plan says so, the others encoded, each run
// of them by an encoder of its own, so that what it makes refers to nothing outside the run.
// The encoder's threads hand packets back a few frames late, so packets wait in frame order
// until every one before them is written. A group of pictures' packets go out one a frame, in
// the order stored.
class StoredAndEncodedFrames final : public VideoTrack {
  public:
    using OpenEncoder = std::function<std::unique_ptr<DibEncoder>()>;

    StoredAndEncodedFrames(std::vector<StoredFrame> plan, bool inBand, OpenEncoder open)
        : plan(std::move(plan)), inBand(inBand), open(std::move(open)), encoder(this->open()),
          packet(av_packet_alloc()), decoded(av_frame_alloc()) {}
    ~StoredAndEncodedFrames() override {
        for (auto& [n, waiting] : queue)
            av_packet_free(&waiting);
        av_packet_free(&packet);
        av_frame_free(&decoded);
    }

    // All copied and set up by the files' header: the stream's header is theirs; else the
    // encoder's, which Motion JPEG frames of any file decode with, and H.264 and MPEG-4 Part 2
    // frames too since each group and run brings its own headers.
    bool Describe(Muxer&, AVStream& added) override {
        stream = &added;
        if (!encoder || !packet || !decoded) return false;
        const AVCodecContext& context = encoder->Context();
        timeBase = context.time_base;
        stream->time_base = context.time_base;
        stream->avg_frame_rate = context.framerate;
        if (inBand || CopiedFrames(plan) < LONG(plan.size()) || plan.empty())
            return avcodec_parameters_from_context(stream->codecpar, &context) >= 0;
        if (avcodec_parameters_copy(stream->codecpar, &plan.front().source->StoredParameters()) < 0)
            return false;
        stream->codecpar->codec_tag = 0; // the muxer's own tag for the codec
        return true;
    }

    bool NeedsPixels(LONG n) const override { return !Copied(n) && !plan[size_t(n)].decodedFrom; }

    bool Write(Muxer& muxer, uint8_t* frame, LONG n) override {
        if (Copied(n)) return QueueStored(n) && WriteReady(muxer);
        if (n == 0 || Copied(n - 1)) {
            if (!encoder) encoder = open();
            runStart = n;
            runPackets = 0;
        }
        if (!encoder || !Send(frame, n) || !Drain()) return false;
        const bool runEnds = size_t(n) + 1 >= plan.size() || Copied(n + 1);
        if (runEnds) {
            if (!encoder->Finish() || !Drain()) return false;
            encoder.reset();
        }
        return WriteReady(muxer);
    }

    bool Finish(Muxer& muxer) override {
        return (!encoder || (encoder->Finish() && Drain())) && WriteReady(muxer) && queue.empty();
    }

  private:
    bool Copied(LONG n) const {
        return n >= 0 && size_t(n) < plan.size() && plan[size_t(n)].source != nullptr;
    }

    // A frame read unchanged from a file goes to the encoder as decoded: converting it to a DIB
    // and back would cost time and lose a little.
    bool Send(const uint8_t* frame, LONG n) {
        const StoredFrame& at = plan[size_t(n)];
        if (!at.decodedFrom) return encoder->Send(frame, n);
        return at.decodedFrom->ReadPicture(at.frame, decoded) && encoder->SendPicture(decoded, n);
    }

    // Frame n's stored packet: its own chunk, or the next of the group it belongs to (a group
    // is read from its first frame on), as the n-th packet written; only a group's first is a
    // key frame.
    bool QueueStored(LONG n) {
        const StoredFrame& at = plan[size_t(n)];
        AVPacket* copy = av_packet_alloc();
        if (!copy || !(inBand ? ReadFromGroup(at, copy) : ReadChunk(at, copy))) {
            av_packet_free(&copy);
            return false;
        }
        copy->pts = copy->dts = n;
        copy->duration = 1;
        copy->flags &= ~AV_PKT_FLAG_KEY;
        if (at.packets > 0) copy->flags |= AV_PKT_FLAG_KEY;
        return Queue(n, copy);
    }

    bool ReadChunk(const StoredFrame& at, AVPacket* copy) {
        if (!at.source->ReadKeyChunk(at.frame, chunk) || av_new_packet(copy, int(chunk.size())) < 0)
            return false;
        std::memcpy(copy->data, chunk.data(), chunk.size());
        return true;
    }

    bool ReadFromGroup(const StoredFrame& at, AVPacket* copy) {
        if (at.packets > 0) {
            auto& opened = groups[at.source];
            if (!opened) opened = at.source->OpenStoredGroups();
            reading = opened.get();
            if (!reading || !reading->Begin(at.frame)) return false;
        }
        return reading && reading->Next(copy);
    }

    // Every packet the encoder has ready, into the queue: in the order made where B-frames
    // may be reordered, else by the frame it holds (timestamps count frames).
    bool Drain() {
        int received;
        while ((received = encoder->Receive(packet)) == 1) {
            AVPacket* held = av_packet_clone(packet);
            av_packet_unref(packet);
            if (!held || !Queue(inBand ? runStart + runPackets++ : held->pts, held)) return false;
        }
        return received == 0;
    }

    // False (and the packet freed) when a packet already waits at that place.
    bool Queue(int64_t place, AVPacket* waiting) {
        if (queue.emplace(place, waiting).second) return true;
        av_packet_free(&waiting);
        return false;
    }

    // The packets that follow on from the last one written, in order.
    bool WriteReady(Muxer& muxer) {
        while (!queue.empty() && queue.begin()->first == next) {
            AVPacket* ready = queue.begin()->second;
            queue.erase(queue.begin());
            ready->pts = ready->dts = next++;
            const bool written = muxer.Write(ready, timeBase, *stream);
            av_packet_free(&ready);
            if (!written) return false;
        }
        return true;
    }

    std::vector<StoredFrame> plan;
    const bool inBand;
    OpenEncoder open;
    std::unique_ptr<DibEncoder> encoder; // of the run being encoded; null between runs
    int64_t runStart = 0, runPackets = 0;
    AVPacket* packet;
    AVFrame* decoded; // a picture read from a file for the encoder
    AVRational timeBase{1, 1};
    std::map<int64_t, AVPacket*> queue; // packets by place, waiting for those before them
    std::vector<uint8_t> chunk;
    std::map<VideoSource*, std::unique_ptr<StoredGroups>> groups;
    StoredGroups* reading = nullptr; // of the group being copied
    int64_t next = 0;
};

// The sound of the file, written up to a given time in step with the frames.
class AudioTrack {
  public:
    virtual ~AudioTrack() = default;
    virtual bool Describe(AVStream& added) = 0;
    // Writes what sounds before frame `frame` of the video and is not written yet.
    virtual bool WriteBeforeFrame(Muxer& muxer, LONG frame, const AVISTREAMINFOA& video) = 0;
    virtual bool Finish(Muxer& muxer) = 0;

  protected:
    AVStream* stream = nullptr;
};

// The audio stream's samples read in order, encoded, and written up to a given sample.
class EncodedAudio final : public AudioTrack {
  public:
    EncodedAudio(const AudioInput& source, std::unique_ptr<AudioEncoder> encoder)
        : source(source), encoder(std::move(encoder)),
          buffer(size_t(kAudioReadSamples) * source.format.nBlockAlign) {}

    bool Describe(AVStream& added) override {
        stream = &added;
        stream->time_base = encoder->Context().time_base;
        return avcodec_parameters_from_context(stream->codecpar, &encoder->Context()) >= 0;
    }

    bool WriteBeforeFrame(Muxer& muxer, LONG frame, const AVISTREAMINFOA& video) override {
        const int64_t start =
            av_rescale(int64_t{frame} * video.dwScale, source.format.nSamplesPerSec, video.dwRate);
        return WriteUntil(muxer, LONG(std::min<int64_t>(start, source.samples)));
    }

    bool Finish(Muxer& muxer) override {
        return WriteUntil(muxer, source.samples) &&
               encoder->Finish([&](AVPacket* packet) { return Store(muxer, packet); });
    }

  private:
    // Encodes the samples before `end` not written yet.
    bool WriteUntil(Muxer& muxer, LONG end) {
        const PacketSink sink = [&](AVPacket* packet) { return Store(muxer, packet); };
        while (next < end) {
            LONG read = 0;
            const LONG wanted = std::min(end - next, kAudioReadSamples);
            if (AVIStreamRead(source.stream, next, wanted, buffer.data(), LONG(buffer.size()),
                              nullptr, &read) != AVIERR_OK ||
                read <= 0 || read > wanted || !encoder->Send(buffer.data(), int(read), sink))
                return false;
            next += read;
        }
        return true;
    }

    // An AVI file keeps no record of an encoder's leading samples, so its sound lasts as many
    // frames as it has packets: packets past the source's length by a whole frame are left
    // out, which loses less than a frame at the end instead of lengthening the sound by up to
    // two.
    bool Store(Muxer& muxer, AVPacket* packet) {
        const int frame = encoder->FrameSamples();
        if (frame > 0 && int64_t{packets} * frame > int64_t{source.samples}) {
            av_packet_unref(packet);
            return true;
        }
        ++packets;
        return muxer.Write(packet, encoder->Context().time_base, *stream);
    }

    const AudioInput& source;
    std::unique_ptr<AudioEncoder> encoder;
    std::vector<uint8_t> buffer;
    LONG next = 0;
    int64_t packets = 0;
};

// The file's stored packets of a sound that was not edited, copied as they are: no loss and
// no encoding.
class CopiedAudio final : public AudioTrack {
  public:
    explicit CopiedAudio(std::unique_ptr<AudioPackets> packets)
        : packets(std::move(packets)), packet(av_packet_alloc()) {}
    ~CopiedAudio() override { av_packet_free(&packet); }

    bool Describe(AVStream& added) override {
        stream = &added;
        stream->time_base = packets->TimeBase();
        if (!packet || avcodec_parameters_copy(stream->codecpar, &packets->Parameters()) < 0)
            return false;
        stream->codecpar->codec_tag = 0; // the muxer's own tag for the codec
        return true;
    }

    bool WriteBeforeFrame(Muxer& muxer, LONG frame, const AVISTREAMINFOA& video) override {
        const AVRational time = packets->TimeBase();
        const int64_t start =
            av_rescale(int64_t{frame} * video.dwScale, time.den, int64_t{video.dwRate} * time.num);
        return WriteUntil(muxer, start);
    }

    bool Finish(Muxer& muxer) override { return WriteUntil(muxer, INT64_MAX); }

  private:
    // Copies the packets that start before `end` (in the stream's time base).
    bool WriteUntil(Muxer& muxer, int64_t end) {
        while (!ended) {
            if (!held) {
                const int read = packets->Next(packet);
                if (read < 0) return false;
                ended = read == 0;
                held = read == 1;
                continue;
            }
            if (packet->pts != AV_NOPTS_VALUE && packet->pts >= end) return true;
            held = false;
            if (!muxer.Write(packet, packets->TimeBase(), *stream)) return false;
        }
        return true;
    }

    std::unique_ptr<AudioPackets> packets;
    AVPacket* packet;
    bool held = false; // packet holds the next one to write
    bool ended = false;
};

struct Tracks {
    std::unique_ptr<VideoTrack> video;
    std::unique_ptr<AudioTrack> audio;
};

HRESULT Write(const char* path, const Source& source, Tracks& tracks, Progress& progress,
              bool& created) {
    Muxer muxer;
    if (!muxer.Create()) return AVIERR_ERROR;
    AVStream* video = muxer.AddStream();
    if (!video || !tracks.video->Describe(muxer, *video)) return AVIERR_ERROR;
    const std::string name(source.info.szName,
                           strnlen(source.info.szName, sizeof source.info.szName));
    if (!name.empty()) av_dict_set(&video->metadata, "title", name.c_str(), 0);
    if (tracks.audio) {
        AVStream* sound = muxer.AddStream();
        if (!sound || !tracks.audio->Describe(*sound)) return AVIERR_ERROR;
    }
    if (!muxer.Start(path, created)) return AVIERR_ERROR;
    std::vector<uint8_t> frame(source.format.biSizeImage);
    for (LONG n = 0; n < source.frames; ++n) {
        if (!progress.Report(n)) return AVIERR_USERABORT;
        if (tracks.audio && !tracks.audio->WriteBeforeFrame(muxer, n + 1, source.info))
            return AVIERR_ERROR;
        if ((tracks.video->NeedsPixels(n) &&
             AVIStreamRead(source.stream, n, 1, frame.data(), LONG(frame.size()), nullptr,
                           nullptr) != AVIERR_OK) ||
            !tracks.video->Write(muxer, frame.data(), n))
            return AVIERR_ERROR;
    }
    if (!tracks.video->Finish(muxer) || (tracks.audio && !tracks.audio->Finish(muxer)))
        return AVIERR_ERROR;
    progress.Report(source.frames);
    return muxer.Close() && tracks.video->Complete(path) ? AVIERR_OK : AVIERR_ERROR;
}

HRESULT Save(const char* path, AVISAVECALLBACK callback, PAVISTREAM* streams,
             AVICOMPRESSOPTIONS** options, bool withAudio, bool& created) {
    Source source{};
    if (!ReadSource(streams[0], source)) return AVIERR_ERROR;
    const Compressor* compressor = FindCompressor(options[0]->fccHandler);
    if (!compressor) return AVIERR_NOCOMPRESSOR;
    AudioInput audio{};
    Tracks tracks;
    if (compressor->encoder) {
        const AVICOMPRESSOPTIONS settings = *options[0];
        std::vector<StoredFrame> plan;
        if (!(settings.dwFlags & AVICOMPRESSF_ENCODE_ALL))
            plan = PlanStoredFrames(streams[0], *compressor);
        const JoinedRuns joined{CopiesInBand(*compressor) ? ReorderOf(plan) : 0};
        const bool joins = CopiedFrames(plan) > 0;
        const auto open = [compressor, &source, settings, joined, joins] {
            return DibEncoder::Open(*compressor, source.format, source.info.dwRate,
                                    source.info.dwScale, settings, joins ? &joined : nullptr);
        };
        auto encoder = open();
        if (!encoder) return AVIERR_NOCOMPRESSOR;
        if (CopiedFrames(plan) > 0)
            tracks.video = std::make_unique<StoredAndEncodedFrames>(
                std::move(plan), CopiesInBand(*compressor), open);
        else
            tracks.video = std::make_unique<EncodedFrames>(std::move(encoder));
    } else {
        tracks.video = std::make_unique<FullFrames>(source);
    }
    if (withAudio) {
        if (!ReadAudioInput(streams[1], audio)) return AVIERR_BADFORMAT;
        AudioSource* stored = CopyableAudio(streams[1]);
        if (stored && stored->Stored().tag == options[1]->fccHandler) {
            auto packets = stored->OpenPackets();
            if (!packets) return AVIERR_ERROR;
            tracks.audio = std::make_unique<CopiedAudio>(std::move(packets));
        } else {
            const AudioCodec* codec = FindAudioCodec(options[1]->fccHandler);
            auto encoder =
                codec ? AudioEncoder::Open(*codec, audio.format, options[1]->dwBytesPerSecond)
                      : nullptr;
            if (!encoder) return AVIERR_NOCOMPRESSOR;
            tracks.audio = std::make_unique<EncodedAudio>(audio, std::move(encoder));
        }
    }
    Progress progress(callback, source.frames);
    return Write(path, source, tracks, progress, created);
}

} // namespace

} // namespace avi

extern "C" HRESULT AVISaveVA(const char* path, void*, AVISAVECALLBACK progress, int streamCount,
                             PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (!path || !*path || streamCount < 1 || streamCount > 2 || !streams || !options)
        return AVIERR_ERROR;
    for (int i = 0; i < streamCount; ++i)
        if (!streams[i] || !options[i]) return AVIERR_ERROR;
    const bool withAudio = streamCount == 2 && options[1]->fccHandler != AUDIO_LEAVE_OUT;
    bool created = false;
    const HRESULT result = avi::Save(path, progress, streams, options, withAudio, created);
    if (result != AVIERR_OK && created) std::remove(path);
    return result;
}
