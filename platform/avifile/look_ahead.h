// Frames decoded ahead of the user into the frame cache, on a thread and a read position of
// their own. Stepping back through a long group of pictures, each stretch of frames the cache
// holds would otherwise be followed by a wait while the group is decoded again from its key
// frame; decoded ahead, the frames before are there when the user gets to them.
#pragma once

#include "avifile.h"
#include "cursor.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

struct AVCodecParameters;

namespace avi {

class LookAhead {
  public:
    // Reads `file` with a decoder `stored` sets up, into the cache under `source`; `layout`
    // must outlive the look-ahead.
    LookAhead(const SourceFile& file, const SourceLayout& layout, const AVCodecParameters& stored,
              uint64_t source);
    // Stops decoding and waits for the thread.
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // Frames first..last into the cache, decoded from `key`, the key frame at or before first;
    // a range asked for earlier and not started yet is dropped.
    void Ask(LONG key, LONG first, LONG last);

  private:
    struct Range {
        LONG key, first, last;
        bool operator==(const Range&) const = default;
    };
    void Run();
    void Decode(Cursor& cursor, const Range& range);

    const SourceFile& file;
    const SourceLayout& layout;
    AVCodecParameters* stored = nullptr; // a copy of the thread's own
    const uint64_t source;

    std::mutex lock; // what follows, up to the thread
    std::condition_variable changed;
    std::optional<Range> asked;    // waiting to be decoded
    std::optional<Range> working;  // being decoded
    std::atomic<bool> stop{false}; // also read between frames, without the lock

    std::thread worker; // last: starts once everything it uses is ready
};

} // namespace avi
