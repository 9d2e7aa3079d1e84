#include "frame_cache.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdlib>

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

} // namespace

FrameCache& FrameCache::Instance() {
    static FrameCache cache(BudgetBytes());
    return cache;
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
