// The stored packets of a file's H.264 or MPEG-4 Part 2 stream in the groups of pictures a save
// can copy as they are: a group starts at an IDR frame (H.264) or an intra-coded picture of a
// stream without B-frames (MPEG-4 Part 2) and runs up to the next one, and no frame outside it
// refers to a frame inside. Packets come out in decode order, one per frame, the way an AVI file
// stores them: with start codes, and with the headers that set up the pictures before each
// group's first frame, so that a group decodes wherever it is put.
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
    // whose index does not list every packet, an edit list that drops some), or its groups
    // may refer to each other (MPEG-4 Part 2 with B-frames). `codec`: an AVCodecID.
    static std::unique_ptr<StoredGroups> Open(const SourceFile& file, const SourceLayout& layout,
                                              int codec, bool avi, bool reordered);
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
        bool empty; // an empty chunk, which repeats the frame before
    };

    StoredGroups(const SourceLayout& layout, bool avi, bool reordered)
        : layout(layout), avi(avi), reordered(reordered) {}
    bool MapEntries();
    bool AddEmptyChunksBefore(int64_t frame);
    bool SeekTo(LONG frame);
    int NextPacket();
    bool OpensGroup(const uint8_t* data, size_t size) const;
    bool IsGroupStart(LONG frame, const AVPacket& first) const;
    bool StartsGroup(size_t n) const;
    std::vector<uint8_t> HeadersOf(const uint8_t* data, size_t size) const;
    bool PutHeadersFirst(size_t at);
    bool LearnHeaders();

    const SourceLayout& layout;
    const bool avi;
    const bool reordered; // frames are stored in another order than shown (B-frames)
    int codec = 0;        // AV_CODEC_ID_H264 or AV_CODEC_ID_MPEG4
    FileReader reader;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVBSFContext* toByteStream = nullptr; // MP4's length-prefixed units to start codes
    int lengthSize = 0;                   // bytes of a unit's length there; 0: start codes
    AVPacket* packet = nullptr;
    bool pendingFirst = false; // packet holds the group's first packet, not handed out yet
    LONG nextFrame = 0;        // whose packet Next gives
    // Timestamp of the stream's packet the demuxer gave last; INT64_MIN (no timestamp) after a
    // seek.
    int64_t lastRead = INT64_MIN;
    int stream = -1;
    std::vector<Entry> entries; // by frame
    // With their start codes, put before a group's first frame where it lacks them: H.264's
    // parameter sets, MPEG-4 Part 2's headers up to its video object layer.
    std::vector<uint8_t> headers;
};

} // namespace avi
