// AVISaveVA: one video stream written to an AVI file, either as full frames through the
// uncompressed writer or through a libavcodec encoder and libavformat's AVI muxer.
#include "avifile.h"

#include "compressors.h"
#include "stream.h"
#include "writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace avi {

namespace {

constexpr int kPercent = 100;

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

bool ReadFrameOf(const Source& source, LONG n, std::vector<uint8_t>& frame) {
    return AVIStreamRead(source.stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr) ==
           AVIERR_OK;
}

// `created` tells whether a file was made at path, so that a failure removes only a file of its
// own making.
HRESULT SaveFullFrames(const char* path, const Source& source, Progress& progress, bool& created) {
    auto writer = AviWriter::Create(path);
    created = writer != nullptr;
    if (!writer || !writer->SetInfo(source.info) || !writer->SetFormat(source.format))
        return AVIERR_ERROR;
    std::vector<uint8_t> frame(source.format.biSizeImage);
    for (LONG n = 0; n < source.frames; ++n) {
        if (!progress.Report(n)) return AVIERR_USERABORT;
        if (!ReadFrameOf(source, n, frame) ||
            !writer->WriteFrame(n, frame.data(), LONG(frame.size())))
            return AVIERR_ERROR;
    }
    progress.Report(source.frames);
    return writer->Close() ? AVIERR_OK : AVIERR_ERROR;
}

// libavformat's AVI muxer writing the encoder's packets.
class Muxer {
  public:
    ~Muxer() {
        av_packet_free(&packet);
        if (context) avio_closep(&context->pb);
        avformat_free_context(context);
    }

    bool Start(const char* path, const Source& source, const AVCodecContext& encoder,
               bool& created) {
        packet = av_packet_alloc();
        if (!packet || avformat_alloc_output_context2(&context, nullptr, "avi", nullptr) < 0)
            return false;
        stream = avformat_new_stream(context, nullptr);
        if (!stream || avcodec_parameters_from_context(stream->codecpar, &encoder) < 0)
            return false;
        stream->time_base = encoder.time_base;
        stream->avg_frame_rate = encoder.framerate;
        const std::string name(source.info.szName,
                               strnlen(source.info.szName, sizeof source.info.szName));
        if (!name.empty()) av_dict_set(&stream->metadata, "title", name.c_str(), 0);
        context->flags |= AVFMT_FLAG_BITEXACT;
        created = avio_open(&context->pb, path, AVIO_FLAG_WRITE) >= 0;
        return created && avformat_write_header(context, nullptr) >= 0;
    }

    // Every packet the encoder has ready.
    bool Drain(DibEncoder& encoder) {
        int received;
        while ((received = encoder.Receive(packet)) == 1) {
            av_packet_rescale_ts(packet, encoder.Context().time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (av_write_frame(context, packet) < 0) return false;
        }
        return received == 0 && !context->pb->error;
    }

    bool Close() {
        const bool trailer = av_write_trailer(context) >= 0 && !context->pb->error;
        return avio_closep(&context->pb) >= 0 && trailer;
    }

  private:
    AVFormatContext* context = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = nullptr;
};

HRESULT SaveEncoded(const char* path, const Source& source, const Compressor& compressor,
                    const AVICOMPRESSOPTIONS& options, Progress& progress, bool& created) {
    auto encoder = DibEncoder::Open(compressor, source.format, source.info.dwRate,
                                    source.info.dwScale, options);
    if (!encoder) return AVIERR_NOCOMPRESSOR;
    Muxer muxer;
    if (!muxer.Start(path, source, encoder->Context(), created)) return AVIERR_ERROR;
    std::vector<uint8_t> frame(source.format.biSizeImage);
    for (LONG n = 0; n < source.frames; ++n) {
        if (!progress.Report(n)) return AVIERR_USERABORT;
        if (!ReadFrameOf(source, n, frame) || !encoder->Send(frame.data(), n) ||
            !muxer.Drain(*encoder))
            return AVIERR_ERROR;
    }
    if (!encoder->Finish() || !muxer.Drain(*encoder)) return AVIERR_ERROR;
    progress.Report(source.frames);
    return muxer.Close() ? AVIERR_OK : AVIERR_ERROR;
}

HRESULT Save(const char* path, AVISAVECALLBACK callback, PAVISTREAM stream,
             const AVICOMPRESSOPTIONS& options, bool& created) {
    Source source{};
    if (!ReadSource(stream, source)) return AVIERR_ERROR;
    const Compressor* compressor = FindCompressor(options.fccHandler);
    if (!compressor) return AVIERR_NOCOMPRESSOR;
    Progress progress(callback, source.frames);
    if (!compressor->encoder) return SaveFullFrames(path, source, progress, created);
    return SaveEncoded(path, source, *compressor, options, progress, created);
}

} // namespace

} // namespace avi

extern "C" HRESULT AVISaveVA(const char* path, void*, AVISAVECALLBACK progress, int streamCount,
                             PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (!path || !*path || streamCount != 1 || !streams || !streams[0] || !options || !options[0])
        return AVIERR_ERROR;
    bool created = false;
    const HRESULT result = avi::Save(path, progress, streams[0], *options[0], created);
    if (result != AVIERR_OK && created) std::remove(path);
    return result;
}
