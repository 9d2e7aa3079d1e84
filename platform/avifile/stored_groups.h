// The stored packets of a file's H.264 stream in the groups of pictures a save can copy as they
// are: a group starts at an IDR frame and runs up to the next one, and no frame outside it
// refers to a frame inside. Packets come out in decode order, one per frame, the way an AVI file
// stores H.264: with start codes, and with the parameter sets before each group's first frame,
// so that a group decodes wherever it is put.
#pragma once

#include "avifile.h"
#include "cursor.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVBSFContext;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace avi {

class StoredGroups {
  public:
    // Null when the file's packets cannot be mapped to its frames one to one (a container
    // whose index does not list every packet, an edit list that drops some).
    static std::unique_ptr<StoredGroups> Open(const SourceFile& file, const SourceLayout& layout,
                                              bool avi, bool reordered);
    ~StoredGroups();
    StoredGroups(const StoredGroups&) = delete;
    StoredGroups& operator=(const StoredGroups&) = delete;

    // The frames that start a group that can be copied, ascending. Reads the first bytes of
    // each key frame.
    std::vector<LONG> FindStarts() const;
    // Of the group that starts at frame `start`, the most packets from its first that show
    // frames start .. start + n - 1 and none at or past `end`: a run of frames that ends inside
    // the group copies them. 0 where the stored timing does not tell (AVI with B-frames).
    LONG CopyablePrefix(LONG start, LONG end);
    // Starts reading the group that starts at frame `start`; false when it cannot be read or
    // is not such a group.
    bool Begin(LONG start);
    // The group's next packet, in decode order, into `out`; false when it cannot be read.
    bool Next(AVPacket* out);

  private:
    struct Entry {
        int64_t timestamp; // what the demuxer seeks by
        int64_t pos;
        bool key;
        bool empty;
    };

    StoredGroups(const SourceLayout& layout, bool avi, bool reordered)
        : layout(layout), avi(avi), reordered(reordered) {}
    bool MapEntries();
    bool SeekTo(LONG frame);
    int NextPacket();
    bool IsGroupStart(LONG frame, const AVPacket& first) const;
    bool StartsWithIdr(size_t n) const;
    bool PutParameterSetsFirst(size_t at);
    bool LearnParameterSets();

    const SourceLayout& layout;
    const bool avi;
    const bool reordered; // frames are stored in another order than shown (B-frames)
    FileReader reader;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVBSFContext* toByteStream = nullptr; // MP4's length-prefixed units to start codes
    int lengthSize = 0;                   // bytes of a unit's length there; 0: start codes
    AVPacket* packet = nullptr;
    bool pendingFirst = false; // packet holds the group's first packet, not handed out yet
    // Timestamp of the stream's packet the demuxer gave last; INT64_MIN (no timestamp) after a
    // seek.
    int64_t lastRead = INT64_MIN;
    int stream = -1;
    std::vector<Entry> entries;         // by frame
    std::vector<uint8_t> parameterSets; // start codes and units, put before a group lacking them
};

} // namespace avi
