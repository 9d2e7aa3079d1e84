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

// The NAL unit types of the Annex B byte stream in data, in order.
std::vector<int> NalTypes(const uint8_t* data, size_t size);

class StoredGroups {
  public:
    // Null when the file's packets cannot be mapped to its frames one to one (a container
    // whose index does not list every packet, an edit list that drops some).
    static std::unique_ptr<StoredGroups> Open(const SourceFile& file, const SourceLayout& layout,
                                              bool avi);
    ~StoredGroups();
    StoredGroups(const StoredGroups&) = delete;
    StoredGroups& operator=(const StoredGroups&) = delete;

    // The frames that start a group that can be copied, ascending. Reads each key frame.
    std::vector<LONG> FindStarts();
    // The `count` packets of the group starting at frame `start`, in decode order; false when
    // they cannot be read or are not such a group.
    bool Read(LONG start, LONG count, std::vector<std::vector<uint8_t>>& packets);

  private:
    struct Entry {
        int64_t timestamp; // what the demuxer seeks by
        int64_t pos;
        bool key;
        bool empty;
    };

    StoredGroups(const SourceLayout& layout, bool avi) : layout(layout), avi(avi) {}
    bool MapEntries();
    bool SeekTo(LONG frame);
    int NextPacket();
    bool IsGroupStart(LONG frame, const AVPacket& first) const;
    bool ToByteStream(std::vector<std::vector<uint8_t>>& packets);
    bool LearnParameterSets();

    const SourceLayout& layout;
    const bool avi;
    FileReader reader;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVBSFContext* toByteStream = nullptr; // MP4's length-prefixed units to start codes
    AVPacket* packet = nullptr;
    int stream = -1;
    std::vector<Entry> entries;         // by frame
    std::vector<uint8_t> parameterSets; // start codes and units, put before a group lacking them
};

} // namespace avi
