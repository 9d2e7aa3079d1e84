// Process-wide cache of decoded frames, bounded in bytes, least recently used out first.
// Entries are copies of the decoder's pictures in memory of the cache's own: a reference would
// keep the decoder's picture from going back to its pool, so that every picture cached would
// cost the decoder fresh memory (at 4K, a fifth of sequential decoding), while the cache's
// blocks are kept for the next pictures once their entries go, within the budget. Re-reading a
// cached frame costs one conversion into the caller's buffer instead of a decode.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

struct AVBufferRef;
struct AVFrame;

namespace avi {

class FrameCache {
  public:
    static FrameCache& Instance();

    explicit FrameCache(size_t budgetBytes) : budget(budgetBytes) {}
    ~FrameCache();
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // Makes `out` a reference to the cached picture; false if not cached.
    bool Get(uint64_t source, int32_t frame, AVFrame* out);
    // Whether the frame is cached, leaving it where it stands among those to go first.
    bool Has(uint64_t source, int32_t frame);
    // Keeps a copy of the picture (replacing an older one).
    void Put(uint64_t source, int32_t frame, const AVFrame* picture);
    size_t Budget() const { return budget; }
    // Forgets every frame of the source.
    void Drop(uint64_t source);

  private:
    struct Entry {
        uint64_t key;
        AVFrame* picture;
        size_t bytes;
    };
    // A key holds the source in its high bits and the frame in its low 32.
    static constexpr int kFrameBits = 32;
    static uint64_t Key(uint64_t source, int32_t frame) {
        return source << kFrameBits | static_cast<uint32_t>(frame);
    }
    static uint64_t SourceOf(uint64_t key) { return key >> kFrameBits; }
    void Erase(std::list<Entry>::iterator entry);
    AVFrame* Copy(const AVFrame* picture);
    AVBufferRef* TakeBlock(size_t bytes);
    static void ReturnBlock(void* cache, uint8_t* data);

    std::mutex lock; // the entries
    const size_t budget;
    std::atomic<size_t> held{0};
    std::list<Entry> entries; // most recently used first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> byKey;

    // Taken after `lock` where both are held: an entry's picture goes back while it is erased.
    std::mutex blockLock;
    size_t spareBytes = 0;
    std::unordered_multimap<size_t, uint8_t*> spare; // blocks no picture uses, by size
    std::unordered_map<uint8_t*, size_t> blockBytes; // every block, by its memory
};

} // namespace avi
