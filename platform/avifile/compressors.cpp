#include "compressors.h"

#include "stored_frames.h"

#include "dib.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace avi {

namespace {

// Worst and best quantiser scale of the MPEG-style encoders, and the worst constant rate
// factor of H.264.
constexpr int kWorstQuantiser = 31;
constexpr int kBestQuantiser = 1;
constexpr double kWorstRateFactor = 51;
constexpr int kBitsPerByte = 8;
// Sizes, rates and intervals stay inside what libavcodec's int fields hold.
constexpr DWORD kMaxKeyFrameEvery = 1u << 16;
// The scaler and the encoders choose their thread counts themselves (one per core).
constexpr int kAutomaticThreads = 0;
constexpr int kDeliveredBits = 24;
constexpr char kJoinedRunPreset[] = "ultrafast";
constexpr double kBestJoinedRateFactor = 1;

const Compressor kCompressors[] = {
    {kFullFrames, nullptr, "フルフレーム (非圧縮)", AV_PIX_FMT_NONE, 0, nullptr, true},
    {mmioFOURCC('M', 'J', 'P', 'G'), "mjpeg", "Motion JPEG", AV_PIX_FMT_YUVJ420P,
     kTakesDataRate | kTakesQuality, nullptr, false},
    {mmioFOURCC('F', 'F', 'V', '1'), "ffv1", "FFV1 (可逆)", AV_PIX_FMT_BGR0, kTakesKeyFrames,
     nullptr, true},
    {mmioFOURCC('H', 'F', 'Y', 'U'), "huffyuv", "HuffYUV (可逆)", AV_PIX_FMT_RGB24, 0, nullptr,
     true},
    {mmioFOURCC('U', 'L', 'R', 'G'), "utvideo", "Ut Video (可逆)", AV_PIX_FMT_GBRP, 0, nullptr,
     true},
    {mmioFOURCC('F', 'M', 'P', '4'), "mpeg4", "MPEG-4 Part 2", AV_PIX_FMT_YUV420P,
     kTakesKeyFrames | kTakesDataRate | kTakesQuality, nullptr, false},
    {mmioFOURCC('H', '2', '6', '4'), "libx264", "H.264", AV_PIX_FMT_YUV420P,
     kTakesKeyFrames | kTakesDataRate | kTakesQuality, "crf", false},
};

bool IsUsableFormat(const BITMAPINFOHEADER& format) {
    return format.biCompression == BI_RGB && format.biHeight > 0 &&
           AVPixelFormat(DibPixelFormat(format.biBitCount)) != AV_PIX_FMT_NONE &&
           DibSizeIsSane(format.biWidth, format.biHeight, format.biBitCount);
}

// Memory of the caller's frames is lent to the scaler, never freed by it.
void KeepCallerBuffer(void*, uint8_t*) {}

// A bottom-up DIB as a frame whose rows run top-down (last row first, negative stride).
AVFrame* WrapDib(const uint8_t* dib, const BITMAPINFOHEADER& format, AVPixelFormat pixelFormat) {
    const int64_t row = DibRowBytes(format.biWidth, format.biBitCount);
    const int64_t bytes = row * format.biHeight;
    AVFrame* frame = av_frame_alloc();
    if (!frame) return nullptr;
    auto* data = const_cast<uint8_t*>(dib);
    frame->buf[0] = av_buffer_create(data, static_cast<size_t>(bytes), KeepCallerBuffer, nullptr,
                                     AV_BUFFER_FLAG_READONLY);
    frame->width = format.biWidth;
    frame->height = format.biHeight;
    frame->format = pixelFormat;
    frame->data[0] = data + row * (format.biHeight - 1);
    frame->linesize[0] = -static_cast<int>(row);
    if (!frame->buf[0]) av_frame_free(&frame);
    return frame;
}

SwsContext* OpenScaler(int width, int height, AVPixelFormat from, AVPixelFormat to) {
    SwsContext* scaler = sws_alloc_context();
    if (!scaler) return nullptr;
    // Bicubic is what the ffmpeg command line converts with; unscaled conversions between RGB
    // layouts are exact whatever the flags.
    const bool configured = av_opt_set_int(scaler, "srcw", width, 0) >= 0 &&
                            av_opt_set_int(scaler, "srch", height, 0) >= 0 &&
                            av_opt_set_int(scaler, "src_format", from, 0) >= 0 &&
                            av_opt_set_int(scaler, "dstw", width, 0) >= 0 &&
                            av_opt_set_int(scaler, "dsth", height, 0) >= 0 &&
                            av_opt_set_int(scaler, "dst_format", to, 0) >= 0 &&
                            av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC, 0) >= 0 &&
                            av_opt_set_int(scaler, "threads", kAutomaticThreads, 0) >= 0;
    if (!configured || sws_init_context(scaler, nullptr, nullptr) < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

void ApplyQuality(const Compressor& compressor, DWORD quality, AVCodecContext* context,
                  AVDictionary** options) {
    const double loss = double(ICQUALITY_HIGH - quality) / ICQUALITY_HIGH; // 0 is the best
    if (compressor.qualityOption) {
        av_dict_set(options, compressor.qualityOption,
                    std::to_string(loss * kWorstRateFactor).c_str(), 0);
        return;
    }
    const int scale = kBestQuantiser + int(std::lround(loss * (kWorstQuantiser - kBestQuantiser)));
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = scale * FF_QP2LAMBDA;
}

// The record's settings the compressor takes: key-frame interval, then a data rate or else a
// quality (a rate rules the quantiser itself).
void ApplySettings(const Compressor& compressor, const AVICOMPRESSOPTIONS& settings,
                   AVCodecContext* context, AVDictionary** options) {
    if ((compressor.settings & kTakesKeyFrames) && (settings.dwFlags & AVICOMPRESSF_KEYFRAMES) &&
        settings.dwKeyFrameEvery > 0)
        context->gop_size = int(std::min(settings.dwKeyFrameEvery, kMaxKeyFrameEvery));
    if ((compressor.settings & kTakesDataRate) && (settings.dwFlags & AVICOMPRESSF_DATARATE) &&
        settings.dwBytesPerSecond > 0) {
        context->bit_rate = int64_t{settings.dwBytesPerSecond} * kBitsPerByte;
        return;
    }
    if ((compressor.settings & kTakesQuality) && settings.dwQuality <= ICQUALITY_HIGH)
        ApplyQuality(compressor, settings.dwQuality, context, options);
}

// The decoded picture as a bottom-up 24-bit DIB.
bool ToDib24(const AVFrame* decoded, std::vector<uint8_t>& picture) {
    const BITMAPINFOHEADER format = MakeDibHeader(decoded->width, decoded->height, kDeliveredBits);
    picture.assign(format.biSizeImage, 0);
    SwsContext* scaler = OpenScaler(decoded->width, decoded->height, AVPixelFormat(decoded->format),
                                    AV_PIX_FMT_BGR24);
    AVFrame* out = WrapDib(picture.data(), format, AV_PIX_FMT_BGR24);
    const bool done = scaler && out && sws_scale_frame(scaler, out, decoded) >= 0;
    av_frame_free(&out);
    sws_freeContext(scaler);
    return done;
}

// The one packet decoded again.
bool DecodePacket(const AVCodecContext& encoder, const AVPacket* packet,
                  std::vector<uint8_t>& picture) {
    const AVCodec* codec = avcodec_find_decoder(encoder.codec_id);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    AVFrame* decoded = av_frame_alloc();
    bool done =
        decoder && parameters && decoded &&
        avcodec_parameters_from_context(parameters, &encoder) >= 0 &&
        avcodec_parameters_to_context(decoder, parameters) >= 0 &&
        avcodec_open2(decoder, codec, nullptr) >= 0 && avcodec_send_packet(decoder, packet) >= 0 &&
        avcodec_send_packet(decoder, nullptr) >= 0 && avcodec_receive_frame(decoder, decoded) >= 0;
    done = done && ToDib24(decoded, picture);
    av_frame_free(&decoded);
    avcodec_parameters_free(&parameters);
    avcodec_free_context(&decoder);
    return done;
}

} // namespace

int DibPixelFormat(int bitCount) {
    switch (bitCount) {
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 32:
        return AV_PIX_FMT_BGRA;
    default:
        return AV_PIX_FMT_NONE;
    }
}

std::span<const Compressor> Compressors() {
    return kCompressors;
}

const Compressor* FindCompressor(DWORD fourcc) {
    if (fourcc == 0) fourcc = kFullFrames;
    for (const Compressor& compressor : kCompressors)
        if (compressor.fourcc == fourcc) return &compressor;
    return nullptr;
}

std::vector<const Compressor*> OfferedCompressors(const BITMAPINFOHEADER& format,
                                                  const AVISTREAMINFOA& info) {
    std::vector<const Compressor*> offered;
    if (!IsUsableFormat(format)) return offered;
    const AVICOMPRESSOPTIONS defaults{};
    for (const Compressor& compressor : kCompressors) {
        if (!compressor.encoder ||
            DibEncoder::Open(compressor, format, info.dwRate, info.dwScale, defaults))
            offered.push_back(&compressor);
    }
    return offered;
}

std::vector<const Compressor*> NeedingEvenSizes(const BITMAPINFOHEADER& format,
                                                const AVISTREAMINFOA& info,
                                                const std::vector<const Compressor*>& offered) {
    std::vector<const Compressor*> needing;
    if (!IsUsableFormat(format) || (format.biWidth % 2 == 0 && format.biHeight % 2 == 0))
        return needing;
    const BITMAPINFOHEADER even =
        MakeDibHeader(format.biWidth & ~1, format.biHeight & ~1, format.biBitCount);
    const AVICOMPRESSOPTIONS defaults{};
    for (const Compressor& compressor : kCompressors) {
        const bool isOffered =
            std::find(offered.begin(), offered.end(), &compressor) != offered.end();
        if (!isOffered && DibEncoder::Open(compressor, even, info.dwRate, info.dwScale, defaults))
            needing.push_back(&compressor);
    }
    return needing;
}

std::unique_ptr<DibEncoder> DibEncoder::Open(const Compressor& compressor,
                                             const BITMAPINFOHEADER& format, DWORD rate,
                                             DWORD scale, const AVICOMPRESSOPTIONS& settings,
                                             const JoinedRuns* joined) {
    if (!compressor.encoder || !IsUsableFormat(format) || rate == 0 || scale == 0 ||
        rate > INT32_MAX || scale > INT32_MAX)
        return nullptr;
    const AVCodec* codec = avcodec_find_encoder_by_name(compressor.encoder);
    if (!codec || !AviStoresCodec(codec->id)) return nullptr;
    std::unique_ptr<DibEncoder> encoder(new DibEncoder);
    encoder->context = avcodec_alloc_context3(codec);
    encoder->picture = av_frame_alloc();
    if (!encoder->context || !encoder->picture) return nullptr;
    AVCodecContext* context = encoder->context;
    const auto target = AVPixelFormat(compressor.pixelFormat);
    context->width = format.biWidth;
    context->height = format.biHeight;
    context->pix_fmt = target;
    context->time_base = AVRational{int(scale), int(rate)};
    context->framerate = AVRational{int(rate), int(scale)};
    context->max_b_frames = 0;
    context->thread_count = kAutomaticThreads;
    AVDictionary* options = nullptr;
    // MPEG-4 Part 2 groups are copied only from streams without B-frames.
    if (joined && codec->id == AV_CODEC_ID_MPEG4 && joined->reorder != 0) return nullptr;
    if (joined && codec->id == AV_CODEC_ID_H264) {
        // x264 declares a reorder depth of 1 for B-frames without a pyramid, 2 with one.
        const int reorder = joined->reorder;
        if (reorder < 0 || reorder > kMaxEncodedReorder) return nullptr;
        context->max_b_frames = reorder;
        av_dict_set(&options, "preset", kJoinedRunPreset, 0);
        av_dict_set(&options, "b-pyramid", reorder == kMaxEncodedReorder ? "normal" : "none", 0);
        // The fastest preset, with the deblocking filter its neighbours have.
        av_dict_set(&options, "x264-params",
                    ("deblock=0,0:sps-id=" + std::to_string(JoinedRuns::kParameterSetId)).c_str(),
                    0);
    }
    ApplySettings(compressor, settings, context, &options);
    // Lossless H.264 pictures among lossy ones decode differently with a decoder's frame
    // threads: the best a joined run takes is the next best rate factor.
    if (const AVDictionaryEntry* factor = av_dict_get(options, "crf", nullptr, 0);
        joined && factor && std::strtod(factor->value, nullptr) < kBestJoinedRateFactor)
        av_dict_set(&options, "crf", "1", 0);
    const int opened = avcodec_open2(context, codec, &options);
    av_dict_free(&options);
    if (opened < 0) return nullptr;
    encoder->inputFormat = DibPixelFormat(format.biBitCount);
    encoder->scaler =
        OpenScaler(format.biWidth, format.biHeight, AVPixelFormat(encoder->inputFormat), target);
    if (!encoder->scaler) return nullptr;
    encoder->format = format;
    return encoder;
}

DibEncoder::~DibEncoder() {
    sws_freeContext(scaler);
    sws_freeContext(pictureScaler);
    av_frame_free(&picture);
    avcodec_free_context(&context);
}

bool DibEncoder::Send(const uint8_t* frame, int64_t index) {
    // A fresh picture each time: the encoder's threads may still hold the previous one.
    av_frame_unref(picture);
    picture->width = context->width;
    picture->height = context->height;
    picture->format = context->pix_fmt;
    AVFrame* source = WrapDib(frame, format, AVPixelFormat(inputFormat));
    const bool converted = source && av_frame_get_buffer(picture, 0) >= 0 &&
                           sws_scale_frame(scaler, picture, source) >= 0;
    av_frame_free(&source);
    if (!converted) return false;
    picture->pts = index;
    // Encoders of a fixed quantiser (Motion JPEG, MPEG-4 Part 2) take it from each picture.
    picture->quality = context->global_quality;
    return avcodec_send_frame(context, picture) >= 0;
}

bool DibEncoder::SendPicture(const AVFrame* decoded, int64_t index) {
    av_frame_unref(picture);
    if (decoded->format == context->pix_fmt && decoded->width == context->width &&
        decoded->height == context->height) {
        // The pixels only, as Send gives them: what the decoder noted of the picture (its type,
        // its quantiser) would be taken by the encoder as orders.
        picture->width = context->width;
        picture->height = context->height;
        picture->format = context->pix_fmt;
        for (int plane = 0; plane < AV_NUM_DATA_POINTERS; ++plane) {
            picture->data[plane] = decoded->data[plane];
            picture->linesize[plane] = decoded->linesize[plane];
            if (decoded->buf[plane] && !(picture->buf[plane] = av_buffer_ref(decoded->buf[plane])))
                return false;
        }
    } else {
        pictureScaler =
            sws_getCachedContext(pictureScaler, decoded->width, decoded->height,
                                 AVPixelFormat(decoded->format), context->width, context->height,
                                 context->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        picture->width = context->width;
        picture->height = context->height;
        picture->format = context->pix_fmt;
        if (!pictureScaler || av_frame_get_buffer(picture, 0) < 0 ||
            sws_scale_frame(pictureScaler, picture, decoded) < 0)
            return false;
    }
    picture->pts = index;
    // Encoders of a fixed quantiser (Motion JPEG, MPEG-4 Part 2) take it from each picture.
    picture->quality = context->global_quality;
    return avcodec_send_frame(context, picture) >= 0;
}

bool DibEncoder::Finish() {
    return avcodec_send_frame(context, nullptr) >= 0;
}

int DibEncoder::Receive(AVPacket* packet) {
    const int received = avcodec_receive_packet(context, packet);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return 0;
    return received < 0 ? -1 : 1;
}

bool PreviewFrame(const Compressor& compressor, const AVICOMPRESSOPTIONS& settings,
                  const BITMAPINFOHEADER& format, const uint8_t* frame,
                  std::vector<uint8_t>& picture, int64_t& storedBytes) {
    if (!IsUsableFormat(format)) return false;
    if (!compressor.encoder) {
        AVFrame* source = WrapDib(frame, format, AVPixelFormat(DibPixelFormat(format.biBitCount)));
        const bool done = source && ToDib24(source, picture);
        av_frame_free(&source);
        storedBytes = format.biSizeImage;
        return done;
    }
    // Any rate will do for one frame.
    auto encoder = DibEncoder::Open(compressor, format, 1, 1, settings);
    AVPacket* packet = av_packet_alloc();
    bool done = encoder && packet && encoder->Send(frame, 0) && encoder->Finish() &&
                encoder->Receive(packet) == 1;
    if (done) storedBytes = packet->size;
    done = done && DecodePacket(encoder->Context(), packet, picture);
    av_packet_free(&packet);
    return done;
}

bool AviStoresCodec(int codec) {
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    return avi && avformat_query_codec(avi, AVCodecID(codec), FF_COMPLIANCE_NORMAL) == 1;
}

} // namespace avi
