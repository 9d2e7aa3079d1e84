#include "avi_fixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fixtures {

namespace {

// Damaged-file tests make libavformat complain loudly; the tests check the results instead.
const bool quiet = [] {
    av_log_set_level(AV_LOG_FATAL);
    return true;
}();

int RowBytes(int width, int bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

} // namespace

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mivra-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

BITMAPINFOHEADER DibHeader(int width, int height, int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(RowBytes(width, bitCount) * height);
    return h;
}

AVISTREAMINFOA VideoInfo(int width, int height, DWORD rate, DWORD scale, const std::string& name) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = scale;
    info.dwRate = rate;
    info.dwQuality = 0xFFFFFFFFu;
    info.rcFrame = RECT{0, 0, width, height};
    std::memcpy(info.szName, name.data(), std::min<size_t>(name.size(), sizeof info.szName - 1));
    return info;
}

Frame PatternFrame(int width, int height, int bitCount, int number) {
    const int row = RowBytes(width, bitCount);
    const int bytesPerPixel = bitCount / 8;
    Frame frame(static_cast<size_t>(row) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytesPerPixel; ++c)
                frame[static_cast<size_t>(y) * row + x * bytesPerPixel + c] =
                    static_cast<uint8_t>(number * 31 + x * 7 + y * 13 + c * 101);
    return frame;
}

bool WriteAvi(const std::string& path, const AVISTREAMINFOA& info, const BITMAPINFOHEADER& header,
              const std::vector<Frame>& frames) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA given = info;
    bool ok = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE,
                           nullptr) == AVIERR_OK &&
              AVIFileCreateStreamA(file, &stream, &given) == AVIERR_OK;
    BITMAPINFOHEADER format = header;
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        Frame pixels = frames[i];
        const LONG at = static_cast<LONG>(i);
        ok = AVIStreamSetFormat(stream, at, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, at, 1, pixels.data(), static_cast<LONG>(pixels.size()),
                            AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
    }
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    return ok;
}

bool WriteTinyAvi(const std::string& path, int width, int height, int bitCount, int frames,
                  DWORD rate, DWORD scale, const std::string& name) {
    std::vector<Frame> pixels;
    for (int i = 0; i < frames; ++i)
        pixels.push_back(PatternFrame(width, height, bitCount, i));
    return WriteAvi(path, VideoInfo(width, height, rate, scale, name),
                    DibHeader(width, height, bitCount), pixels);
}

bool HasEncoder(const std::string& name) {
    return avcodec_find_encoder_by_name(name.c_str());
}

Frame PictureFor(int width, int height, int number) {
    const int row = RowBytes(width, 24);
    Frame frame(static_cast<size_t>(row) * height, 0);
    const int slots = width / 4;
    const int bar = number % slots;
    const int band = (number / slots) % 4;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool lit = x / 4 == bar || (y * 4 / height == band && x < 8);
            uint8_t* p = &frame[static_cast<size_t>(y) * row + x * 3];
            p[0] = lit ? 240 : static_cast<uint8_t>(16 + x);
            p[1] = lit ? 240 : static_cast<uint8_t>(16 + y);
            p[2] = lit ? 240 : 64;
        }
    return frame;
}

namespace {

struct Encoder {
    AVFormatContext* muxer = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    ~Encoder() {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&picture);
        avcodec_free_context(&codec);
        if (muxer) avio_closep(&muxer->pb);
        avformat_free_context(muxer);
    }
    std::vector<int> leftOut;
    bool Drain() {
        while (avcodec_receive_packet(codec, packet) == 0) {
            if (std::find(leftOut.begin(), leftOut.end(), packet->pts) != leftOut.end()) {
                av_packet_unref(packet);
                continue;
            }
            if (packet->duration == 0) packet->duration = 1; // else mp4 trims the last frame
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = 0;
            if (av_interleaved_write_frame(muxer, packet) < 0) return false;
        }
        return true;
    }
};

} // namespace

bool EncodeAvi(const std::string& path, const EncodeOptions& o) {
    const AVCodec* codec = avcodec_find_encoder_by_name(o.encoder.c_str());
    if (!codec) return false;
    Encoder e;
    e.leftOut = o.emptyChunks;
    if (avformat_alloc_output_context2(&e.muxer, nullptr, o.container.c_str(), path.c_str()) < 0)
        return false;
    e.codec = avcodec_alloc_context3(codec);
    e.picture = av_frame_alloc();
    e.packet = av_packet_alloc();
    e.stream = avformat_new_stream(e.muxer, nullptr);
    if (!e.codec || !e.picture || !e.packet || !e.stream) return false;
    const AVPixelFormat format = o.encoder == "mjpeg" ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    e.codec->width = o.width;
    e.codec->height = o.height;
    e.codec->pix_fmt = format;
    e.codec->time_base = AVRational{1, o.rate};
    e.codec->framerate = AVRational{o.rate, 1};
    e.codec->gop_size = o.gop;
    e.codec->max_b_frames = o.bFrames;
    e.codec->thread_count = 1;
    e.codec->bit_rate = 0;
    e.codec->global_quality = FF_QP2LAMBDA * 4;
    e.codec->flags |= AV_CODEC_FLAG_QSCALE;
    if (o.encoder == "libx264") {
        av_opt_set(e.codec->priv_data, "preset", "veryfast", 0);
        av_opt_set(e.codec->priv_data, "crf", "20", 0);
        e.codec->flags &= ~AV_CODEC_FLAG_QSCALE;
        const std::string params = "keyint=" + std::to_string(o.gop) +
                                   ":min-keyint=" + std::to_string(o.gop) +
                                   ":scenecut=0:bframes=" + std::to_string(o.bFrames);
        av_opt_set(e.codec->priv_data, "x264-params", params.c_str(), 0);
    }
    if (e.muxer->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e.codec, codec, nullptr) < 0 ||
        avcodec_parameters_from_context(e.stream->codecpar, e.codec) < 0)
        return false;
    e.stream->time_base = e.codec->time_base;
    if (avio_open(&e.muxer->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(e.muxer, nullptr) < 0)
        return false;

    e.picture->format = format;
    e.picture->width = o.width;
    e.picture->height = o.height;
    if (av_frame_get_buffer(e.picture, 0) < 0) return false;
    e.scaler = sws_getContext(o.width, o.height, AV_PIX_FMT_BGR24, o.width, o.height, format,
                              SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!e.scaler) return false;
    const int row = RowBytes(o.width, 24);
    for (int i = 0; i < o.frames; ++i) {
        Frame bgr = PictureFor(o.width, o.height, i);
        if (av_frame_make_writable(e.picture) < 0) return false;
        const uint8_t* top[1] = {bgr.data() + static_cast<size_t>(row) * (o.height - 1)};
        const int stride[1] = {-row};
        sws_scale(e.scaler, top, stride, 0, o.height, e.picture->data, e.picture->linesize);
        e.picture->pts = i;
        if (avcodec_send_frame(e.codec, e.picture) < 0 || !e.Drain()) return false;
    }
    if (avcodec_send_frame(e.codec, nullptr) < 0 || !e.Drain()) return false;
    return av_write_trailer(e.muxer) == 0;
}

double MeanDifference(const Frame& a, const Frame& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += static_cast<uint64_t>(std::abs(a[i] - b[i]));
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

std::vector<Frame> ReadAll(PAVISTREAM stream, LONG frameBytes) {
    std::vector<Frame> frames;
    const LONG length = AVIStreamLength(stream);
    for (LONG i = 0; i < length; ++i) {
        Frame frame(static_cast<size_t>(frameBytes), 0);
        if (AVIStreamRead(stream, i, i + 1, frame.data(), frameBytes, nullptr, nullptr) !=
            AVIERR_OK)
            frame.clear();
        frames.push_back(std::move(frame));
    }
    return frames;
}

PAVISTREAM OpenView(const std::string& path) {
    PAVISTREAM raw = nullptr;
    if (AVIStreamOpenFromFileA(&raw, path.c_str(), streamtypeVIDEO, 0, OF_READ | OF_SHARE_DENY_NONE,
                               nullptr) != AVIERR_OK)
        return nullptr;
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    options.dwFlags = AVICOMPRESSF_VALID;
    PAVISTREAM view = nullptr;
    AVIMakeCompressedStream(&view, raw, &options, nullptr);
    AVIStreamRelease(raw);
    return view;
}

} // namespace fixtures
