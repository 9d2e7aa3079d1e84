#include "frame_cache.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
}

#include <cstdlib>
#include <vector>

namespace avi {

namespace {

// About 160 pictures of 1080p, 40 of 4K, around the places the editor reads.
constexpr size_t kDefaultMegabytes = 512;
constexpr size_t kMaxMegabytes = size_t{1} << 20;
constexpr int kMegabyteShift = 20;

// MIVRA_FRAME_CACHE_MB sets another budget; anything but a number of megabytes is ignored.
size_t BudgetBytes() {
    size_t megabytes = kDefaultMegabytes;
    if (const char* text = std::getenv("MIVRA_FRAME_CACHE_MB")) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end != text && *end == '\0' && value <= kMaxMegabytes) megabytes = size_t(value);
    }
    return megabytes << kMegabyteShift;
}

size_t PictureBytes(const AVFrame* picture) {
    size_t bytes = 0;
    for (const AVBufferRef* buf : picture->buf)
        if (buf) bytes += buf->size;
    return bytes;
}

// Rows of the copies start as aligned as the decoders' and the scaler's SIMD code reads best.
constexpr int kRowAlign = 64;

} // namespace

// Never destroyed: a picture handed out may be released after static destruction began.
FrameCache& FrameCache::Instance() {
    static auto* cache = new FrameCache(BudgetBytes());
    return *cache;
}

FrameCache::~FrameCache() {
    while (!entries.empty())
        Erase(entries.begin());
    for (const auto& [bytes, block] : spare)
        av_free(block);
}

// A block of the cache's own: a spare one of that size, else a new one, spare blocks of other
// sizes (left from other files) freed first as far as the budget needs.
AVBufferRef* FrameCache::TakeBlock(size_t bytes) {
    uint8_t* block = nullptr;
    std::vector<uint8_t*> released;
    {
        std::lock_guard guard(blockLock);
        if (const auto found = spare.find(bytes); found != spare.end()) {
            block = found->second;
            spare.erase(found);
            spareBytes -= bytes;
        }
        while (!block && !spare.empty() && held + spareBytes + bytes > budget) {
            const auto first = spare.begin();
            spareBytes -= first->first;
            blockBytes.erase(first->second);
            released.push_back(first->second);
            spare.erase(first);
        }
    }
    for (uint8_t* unused : released)
        av_free(unused);
    if (!block) {
        block = static_cast<uint8_t*>(av_malloc(bytes));
        if (!block) return nullptr;
        std::lock_guard guard(blockLock);
        blockBytes.emplace(block, bytes);
    }
    AVBufferRef* buffer = av_buffer_create(block, bytes, ReturnBlock, this, 0);
    if (!buffer) ReturnBlock(this, block);
    return buffer;
}

// Kept for the next picture while the pictures held and the spare blocks fit the budget.
void FrameCache::ReturnBlock(void* cache, uint8_t* data) {
    auto& self = *static_cast<FrameCache*>(cache);
    {
        std::lock_guard guard(self.blockLock);
        const size_t bytes = self.blockBytes.at(data);
        if (self.held + self.spareBytes + bytes <= self.budget) {
            self.spare.emplace(bytes, data);
            self.spareBytes += bytes;
            return;
        }
        self.blockBytes.erase(data);
    }
    av_free(data);
}

// Null for pictures that are not plain memory (hardware frames) or when out of memory.
AVFrame* FrameCache::Copy(const AVFrame* picture) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    const int bytes = av_image_get_buffer_size(format, picture->width, picture->height, kRowAlign);
    if (bytes <= 0 || picture->hw_frames_ctx) return nullptr;
    AVFrame* copy = av_frame_alloc();
    if (!copy) return nullptr;
    copy->buf[0] = TakeBlock(static_cast<size_t>(bytes));
    copy->format = picture->format;
    copy->width = picture->width;
    copy->height = picture->height;
    if (!copy->buf[0] ||
        av_image_fill_arrays(copy->data, copy->linesize, copy->buf[0]->data, format, picture->width,
                             picture->height, kRowAlign) < 0 ||
        av_frame_copy(copy, picture) < 0 || av_frame_copy_props(copy, picture) < 0)
        av_frame_free(&copy);
    return copy;
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

bool FrameCache::Has(uint64_t source, int32_t frame) {
    std::lock_guard guard(lock);
    return byKey.count(Key(source, frame)) > 0;
}

void FrameCache::Put(uint64_t source, int32_t frame, const AVFrame* picture) {
    if (PictureBytes(picture) > budget) return;
    AVFrame* ref = Copy(picture);
    if (!ref) return;
    const size_t bytes = PictureBytes(ref);
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
