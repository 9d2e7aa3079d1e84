#include "look_ahead.h"

#include "frame_cache.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace avi {

LookAhead::LookAhead(const SourceFile& file, const SourceLayout& layout,
                     const AVCodecParameters& stored, uint64_t source)
    : file(file), layout(layout), stored(avcodec_parameters_alloc()), source(source) {
    if (this->stored && avcodec_parameters_copy(this->stored, &stored) >= 0)
        worker = std::thread(&LookAhead::Run, this);
}

LookAhead::~LookAhead() {
    {
        const std::lock_guard guard(lock); // so that the thread cannot miss it between waits
        stop = true;
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
    avcodec_parameters_free(&stored);
}

void LookAhead::Ask(LONG key, LONG first, LONG last) {
    const Range range{key, first, last};
    {
        const std::lock_guard guard(lock);
        if (working == range || asked == range) return;
        asked = range;
    }
    changed.notify_all();
}

void LookAhead::Run() {
    Cursor cursor(layout);
    const bool opened = cursor.OpenContainer(file, false) && cursor.OpenDecoder(stored);
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stop || asked; });
        if (stop) break;
        const Range range = *asked;
        working = range;
        asked.reset();
        guard.unlock();
        if (opened) Decode(cursor, range);
        guard.lock();
        working.reset();
    }
}

// Only pictures that a direct read of their frames gives go into the cache (Cursor::Locate
// hands out no others); reading on to the frame after the range makes the range's last one
// such a picture too.
void LookAhead::Decode(Cursor& cursor, const Range& range) {
    FrameCache& cache = FrameCache::Instance();
    const auto keep = [&](LONG frame, const AVFrame* picture) {
        if (frame >= range.first) cache.Put(source, frame, picture);
        return !stop;
    };
    cursor.SeekTo(range.first);
    cursor.Locate(range.last + 1, range.key, keep);
}

} // namespace avi
