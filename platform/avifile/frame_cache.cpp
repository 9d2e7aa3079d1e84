#include "frame_cache.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include <cstdlib>
#include <cstring>
#include <vector>

namespace avi {

namespace {

// About 160 pictures of 1080p, 40 of 4K, around the places the editor reads.
constexpr size_t kDefaultMegabytes = 512;
constexpr int kBytesPerMegabyteShift = 20;
constexpr size_t kMaxMegabytes = size_t{1} << 20;

// MIVRA_FRAME_CACHE_MB sets another budget; anything but a number of megabytes is ignored.
size_t BudgetBytes() {
    size_t megabytes = kDefaultMegabytes;
    if (const char* text = std::getenv("MIVRA_FRAME_CACHE_MB")) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end != text && *end == '\0' && value <= kMaxMegabytes) megabytes = size_t(value);
    }
    return megabytes << kBytesPerMegabyteShift;
}

size_t PictureBytes(const AVFrame* picture) {
    size_t bytes = 0;
    for (const AVBufferRef* buf : picture->buf)
        if (buf) bytes += buf->size;
    return bytes;
}

// A block starts with a header that holds its size; the data that follows keeps the alignment
// libavcodec wants.
constexpr size_t kHeaderBytes = 64;
// libavcodec pads every plane by this much beyond its last row (its own allocator does too).
constexpr size_t kPlanePadding = 16 + 64 - 1;
constexpr int kMaxPlanes = 4;

} // namespace

FrameCache& FrameCache::Instance() {
    static FrameCache cache(BudgetBytes());
    return cache;
}

// Never destroyed: pictures may be released after static destruction began.
PictureMemory& PictureMemory::Instance() {
    static auto* memory = new PictureMemory(BudgetBytes());
    return *memory;
}

AVBufferRef* PictureMemory::Take(size_t bytes) {
    uint8_t* block = nullptr;
    {
        std::lock_guard guard(lock);
        if (const auto found = spare.find(bytes); found != spare.end()) {
            block = found->second;
            spare.erase(found);
            kept -= bytes;
        }
    }
    if (!block) {
        ReleaseFor(bytes);
        block = static_cast<uint8_t*>(av_mallocz(kHeaderBytes + bytes));
        if (!block) return nullptr;
        std::memcpy(block, &bytes, sizeof bytes);
    }
    AVBufferRef* buffer = av_buffer_create(block + kHeaderBytes, bytes, Return, this, 0);
    if (!buffer) av_free(block);
    return buffer;
}

// Kept blocks (of another size: left from files closed) that a new block would take past the
// budget are let go first.
void PictureMemory::ReleaseFor(size_t bytes) {
    std::vector<uint8_t*> released;
    {
        std::lock_guard guard(lock);
        const size_t cached = FrameCache::Instance().HeldBytes();
        while (!spare.empty() && kept + bytes + cached > keep) {
            const auto first = spare.begin();
            kept -= first->first;
            released.push_back(first->second);
            spare.erase(first);
        }
    }
    for (uint8_t* block : released)
        av_free(block);
}

void PictureMemory::Return(void* memory, uint8_t* data) {
    auto& self = *static_cast<PictureMemory*>(memory);
    uint8_t* block = data - kHeaderBytes;
    size_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    {
        std::lock_guard guard(self.lock);
        if (self.kept + bytes <= self.keep) {
            self.spare.emplace(bytes, block);
            self.kept += bytes;
            return;
        }
    }
    av_free(block);
}

namespace {

bool HasOwnAllocator(const AVCodecContext* decoder, const AVFrame* picture) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(picture->format));
    constexpr uint64_t kUnusual =
        AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM;
    return !(decoder->codec->capabilities & AV_CODEC_CAP_DR1) || decoder->hw_frames_ctx || !desc ||
           (desc->flags & kUnusual) || picture->width <= 0 || picture->height <= 0;
}

} // namespace

// The layout of libavcodec's own allocator: dimensions aligned for the decoder, then the width
// widened until every plane's rows are aligned.
int GetPictureBuffer(AVCodecContext* decoder, AVFrame* picture, int flags) {
    if (HasOwnAllocator(decoder, picture))
        return avcodec_default_get_buffer2(decoder, picture, flags);
    const auto format = AVPixelFormat(picture->format);
    int width = picture->width;
    int height = picture->height;
    int align[AV_NUM_DATA_POINTERS] = {};
    avcodec_align_dimensions2(decoder, &width, &height, align);
    int linesize[kMaxPlanes] = {};
    for (bool aligned = false; !aligned;) {
        if (av_image_fill_linesizes(linesize, format, width) < 0)
            return avcodec_default_get_buffer2(decoder, picture, flags);
        width += width & ~(width - 1);
        aligned = true;
        for (int i = 0; i < kMaxPlanes; ++i)
            aligned = aligned && (align[i] <= 0 || linesize[i] % align[i] == 0);
    }
    ptrdiff_t strides[kMaxPlanes];
    for (int i = 0; i < kMaxPlanes; ++i)
        strides[i] = linesize[i];
    size_t sizes[kMaxPlanes] = {};
    if (av_image_fill_plane_sizes(sizes, format, height, strides) < 0)
        return avcodec_default_get_buffer2(decoder, picture, flags);
    for (int i = 0; i < kMaxPlanes && sizes[i] > 0; ++i) {
        picture->buf[i] = PictureMemory::Instance().Take(sizes[i] + kPlanePadding);
        if (!picture->buf[i]) {
            av_frame_unref(picture);
            return AVERROR(ENOMEM);
        }
        picture->data[i] = picture->buf[i]->data;
        picture->linesize[i] = linesize[i];
    }
    picture->extended_data = picture->data;
    return 0;
}

FrameCache::~FrameCache() {
    while (!entries.empty())
        Erase(entries.begin());
}

void FrameCache::Erase(std::list<Entry>::iterator entry) {
    held -= entry->bytes;
    byKey.erase(entry->key);
    av_frame_free(&entry->picture);
    entries.erase(entry);
}

bool FrameCache::Get(uint64_t source, int32_t frame, AVFrame* out) {
    std::lock_guard guard(lock);
    const auto found = byKey.find(Key(source, frame));
    if (found == byKey.end()) return false;
    entries.splice(entries.begin(), entries, found->second);
    av_frame_unref(out);
    return av_frame_ref(out, found->second->picture) == 0;
}

bool FrameCache::Contains(uint64_t source, int32_t frame) {
    std::lock_guard guard(lock);
    return byKey.count(Key(source, frame)) > 0;
}

void FrameCache::Put(uint64_t source, int32_t frame, const AVFrame* picture) {
    const size_t bytes = PictureBytes(picture);
    if (bytes > budget) return;
    AVFrame* ref = av_frame_clone(picture);
    if (!ref) return;
    std::lock_guard guard(lock);
    const uint64_t key = Key(source, frame);
    if (const auto found = byKey.find(key); found != byKey.end()) Erase(found->second);
    while (!entries.empty() && held + bytes > budget)
        Erase(std::prev(entries.end()));
    held += bytes;
    entries.push_front(Entry{key, ref, bytes});
    byKey.emplace(key, entries.begin());
}

void FrameCache::Drop(uint64_t source) {
    std::lock_guard guard(lock);
    for (auto it = entries.begin(); it != entries.end();) {
        const auto next = std::next(it);
        if (SourceOf(it->key) == source) Erase(it);
        it = next;
    }
}

} // namespace avi
