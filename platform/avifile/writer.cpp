#include "writer.h"

#include "compressors.h"

#include "dib.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstring>
#include <vector>

namespace avi {

namespace {

// RIFF: a chunk starts with its id and size, a list adds its type.
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kListHeaderBytes = 12;
constexpr size_t kIdBytes = 4;
// The header list sits at the start of the file; the muxer reserves well under this.
constexpr size_t kHeaderListBytes = size_t{1} << 16;

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Offset of the data of the first chunk `id` (or LIST of type `id`) in [begin, end), or 0.
size_t FindChunk(const std::vector<uint8_t>& riff, size_t begin, size_t end, const char* id,
                 bool list) {
    size_t pos = begin;
    while (pos + kChunkHeaderBytes <= end) {
        const uint64_t size = ReadLe32(&riff[pos + kIdBytes]);
        const bool isList = std::memcmp(&riff[pos], "LIST", kIdBytes) == 0;
        if (list && isList && pos + kListHeaderBytes <= end &&
            std::memcmp(&riff[pos + kChunkHeaderBytes], id, kIdBytes) == 0)
            return pos + kListHeaderBytes;
        if (!list && std::memcmp(&riff[pos], id, kIdBytes) == 0) return pos + kChunkHeaderBytes;
        pos += kChunkHeaderBytes + size + (size & 1); // chunks are padded to even sizes
    }
    return 0;
}

} // namespace

bool PatchImageSize(const std::string& path, DWORD imageSize) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    std::vector<uint8_t> head(kHeaderListBytes);
    head.resize(std::fread(head.data(), 1, head.size(), file));
    bool patched = false;
    if (head.size() >= kListHeaderBytes && std::memcmp(head.data(), "RIFF", kIdBytes) == 0 &&
        std::memcmp(&head[kChunkHeaderBytes], "AVI ", kIdBytes) == 0) {
        const size_t hdrl = FindChunk(head, kListHeaderBytes, head.size(), "hdrl", true);
        const size_t strl = hdrl ? FindChunk(head, hdrl, head.size(), "strl", true) : 0;
        const size_t strf = strl ? FindChunk(head, strl, head.size(), "strf", false) : 0;
        const size_t field = strf + offsetof(BITMAPINFOHEADER, biSizeImage);
        const uint8_t bytes[] = {uint8_t(imageSize), uint8_t(imageSize >> 8),
                                 uint8_t(imageSize >> 16), uint8_t(imageSize >> 24)};
        if (strf && field + sizeof bytes <= head.size()) {
            patched = std::fseek(file, static_cast<long>(field), SEEK_SET) == 0 &&
                      std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
        }
    }
    patched = std::fclose(file) == 0 && patched;
    return patched;
}

std::unique_ptr<AviWriter> AviWriter::Create(const std::string& path) {
    std::unique_ptr<AviWriter> writer(new AviWriter);
    writer->path = path;
    if (avformat_alloc_output_context2(&writer->muxer, nullptr, "avi", nullptr) < 0) return nullptr;
    writer->packet = av_packet_alloc();
    if (!writer->packet || avio_open(&writer->muxer->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return nullptr;
    return writer;
}

AviWriter::~AviWriter() {
    Close();
    av_packet_free(&packet);
    if (muxer) avio_closep(&muxer->pb);
    avformat_free_context(muxer);
}

bool AviWriter::SetInfo(const AVISTREAMINFOA& given) {
    if (given.fccType != streamtypeVIDEO || given.dwRate == 0 || given.dwScale == 0 ||
        given.dwRate > INT32_MAX || given.dwScale > INT32_MAX)
        return false;
    info = given;
    return true;
}

bool AviWriter::SetFormat(const BITMAPINFOHEADER& given) {
    if (hasFormat) {
        BITMAPINFOHEADER normalized = given;
        if (normalized.biSizeImage == 0) normalized.biSizeImage = format.biSizeImage;
        return std::memcmp(&normalized, &format, sizeof format) == 0;
    }
    if (given.biSize < sizeof(BITMAPINFOHEADER) || given.biCompression != BI_RGB ||
        given.biHeight <= 0 || DibPixelFormat(given.biBitCount) == AV_PIX_FMT_NONE ||
        !DibSizeIsSane(given.biWidth, given.biHeight, given.biBitCount))
        return false;
    format = given;
    // Frames are always whole padded rows, whatever the caller put in the size field.
    format.biSizeImage =
        static_cast<DWORD>(DibImageBytes(given.biWidth, given.biHeight, given.biBitCount));
    if (format.biSizeImage != given.biSizeImage && given.biSizeImage != 0) return false;
    hasFormat = true;
    return true;
}

bool AviWriter::StartMuxer() {
    if (started) return !failed;
    started = true;
    failed = true;
    if (info.dwRate == 0 || info.dwScale == 0) return false; // no stream was created
    if (!hasFormat) {
        // A stream without frames still gets a header: the rectangle's size, 24-bit.
        const LONG width = info.rcFrame.right - info.rcFrame.left;
        const LONG height = info.rcFrame.bottom - info.rcFrame.top;
        format = DibSizeIsSane(width, height, 24) && height > 0 ? MakeDibHeader(width, height, 24)
                                                                : MakeDibHeader(1, 1, 24);
    }
    AVStream* st = avformat_new_stream(muxer, nullptr);
    if (!st) return false;
    muxer->flags |= AVFMT_FLAG_BITEXACT;
    st->time_base = AVRational{static_cast<int>(info.dwScale), static_cast<int>(info.dwRate)};
    st->avg_frame_rate = AVRational{static_cast<int>(info.dwRate), static_cast<int>(info.dwScale)};
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0;
    par->width = format.biWidth;
    par->height = format.biHeight;
    par->format = DibPixelFormat(format.biBitCount);
    par->bits_per_coded_sample = format.biBitCount;
    const std::string name(info.szName, strnlen(info.szName, sizeof info.szName));
    if (!name.empty()) av_dict_set(&st->metadata, "title", name.c_str(), 0);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    const int written = avformat_write_header(muxer, &options);
    av_dict_free(&options);
    failed = written < 0;
    return !failed;
}

bool AviWriter::WriteFrame(LONG position, const void* pixels, LONG size) {
    if (!hasFormat || position != frames || !pixels || size < 0 ||
        static_cast<DWORD>(size) != format.biSizeImage || !StartMuxer())
        return false;
    // The caller's frame is written where it lies: av_write_frame hands a packet without a
    // buffer of its own to the muxer uncopied, and the AVI muxer only reads it. A copy would be
    // a fresh 6 MB block every 1080p frame, its page faults included.
    packet->data = static_cast<uint8_t*>(const_cast<void*>(pixels));
    packet->size = size;
    packet->stream_index = 0;
    packet->pts = packet->dts = frames;
    packet->duration = 1;
    packet->flags |= AV_PKT_FLAG_KEY;
    const int written = av_write_frame(muxer, packet);
    av_packet_unref(packet);
    if (written < 0) {
        failed = true;
        return false;
    }
    ++frames;
    return true;
}

AVISTREAMINFOA AviWriter::Info() const {
    AVISTREAMINFOA out = info;
    out.dwLength = static_cast<DWORD>(frames);
    if (hasFormat) out.dwSuggestedBufferSize = format.biSizeImage;
    return out;
}

bool AviWriter::Close() {
    if (!muxer || !muxer->pb || !StartMuxer()) return false;
    const bool trailer = av_write_trailer(muxer) >= 0 && !muxer->pb->error;
    const bool closed = avio_closep(&muxer->pb) >= 0;
    return PatchImageSize(path, format.biSizeImage) && trailer && closed;
}

} // namespace avi
