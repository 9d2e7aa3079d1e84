// Process-wide cache of decoded frames, bounded in bytes, least recently used out first.
// Entries are references to the decoder's own pictures (no copy on insertion); re-reading a
// cached frame costs one conversion into the caller's buffer instead of a decode.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;

namespace avi {

// Memory for decoded pictures, shared by every decoder of the process. Blocks no picture uses
// any more are kept for the next pictures, the cached pictures and the kept blocks together
// within the cache's budget: a decoder's own pool dies with it, and while the cache holds
// pictures the pool allocates more, so every file opened anew would fault in fresh pages for
// every picture the cache keeps.
class PictureMemory {
  public:
    static PictureMemory& Instance();

    explicit PictureMemory(size_t keepBytes) : keep(keepBytes) {}
    PictureMemory(const PictureMemory&) = delete;
    PictureMemory& operator=(const PictureMemory&) = delete;

    // A block of `bytes` bytes, zeroed when it is new; null when out of memory.
    AVBufferRef* Take(size_t bytes);

  private:
    void ReleaseFor(size_t bytes);
    static void Return(void* memory, uint8_t* data);

    std::mutex lock;
    const size_t keep;
    size_t kept = 0;
    std::unordered_multimap<size_t, uint8_t*> spare; // by size: blocks (their headers)
};

// A decoder's get_buffer2: pictures laid out as libavcodec lays them out, in PictureMemory;
// anything unusual (hardware frames, palettes, decoders that need their own) is left to
// libavcodec's own allocator.
int GetPictureBuffer(AVCodecContext* decoder, AVFrame* picture, int flags);

class FrameCache {
  public:
    static FrameCache& Instance();

    explicit FrameCache(size_t budgetBytes) : budget(budgetBytes) {}
    ~FrameCache();
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // Makes `out` a reference to the cached picture; false if not cached.
    bool Get(uint64_t source, int32_t frame, AVFrame* out);
    // Whether the picture is cached (its place among the recently used stays).
    bool Contains(uint64_t source, int32_t frame);
    size_t Budget() const { return budget; }
    size_t HeldBytes() const { return held; }
    // Keeps a reference to the picture (replacing an older one).
    void Put(uint64_t source, int32_t frame, const AVFrame* picture);
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

    std::mutex lock;
    const size_t budget;
    std::atomic<size_t> held{0};
    std::list<Entry> entries; // most recently used first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> byKey;
};

} // namespace avi
