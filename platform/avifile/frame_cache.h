// Process-wide cache of decoded frames, bounded in bytes, least recently used out first.
// Entries are references to the decoder's own pictures (no copy on insertion); re-reading a
// cached frame costs one conversion into the caller's buffer instead of a decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

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
    // Keeps a reference to the picture (replacing an older one).
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

    std::mutex lock;
    const size_t budget;
    size_t held = 0;
    std::list<Entry> entries; // most recently used first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> byKey;
};

} // namespace avi
