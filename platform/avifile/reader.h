// Reading the first video stream of any file libavformat reads, frame by display index.
//
// Frames come out as bottom-up DIBs: uncompressed 16-bit (5-5-5) and 24-bit frames as stored
// (flipped if the file stores them top-down), everything else decoded and converted to 24-bit.
// Each source keeps two independent read positions (cursors), so reading two places in turn -
// the editor's range start and end - does not throw either decoder state away, and decoded
// frames go through the process-wide FrameCache.
#pragma once

#include "avifile.h"
#include "cursor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct AVCodecParameters;
struct AVIndexEntry;
struct AVStream;
struct SwsContext;

namespace avi {

class LookAhead;
class StoredGroups;

// Why a source did not open.
enum class OpenFailure {
    None,
    Unreadable, // libavformat cannot read the file at all
    NoVideo,    // no usable video stream
    TooLarge,   // frames too large to hold (see DibSizeIsSane)
};

class VideoSource {
  public:
    // Null when the file cannot be opened or has no usable video stream; `failure` tells why.
    static std::unique_ptr<VideoSource> Open(const std::string& path, OpenFailure* failure);
    ~VideoSource();
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    const SourceLayout& Layout() const { return layout; }
    // Stream information of the file (rate, scale, length, rectangle, name, stored handler).
    const AVISTREAMINFOA& StoredInfo() const { return info; }
    // The stored format: a 40-byte header followed by the stored extra bytes (colour table ...).
    const std::vector<uint8_t>& StoredFormat() const { return storedFormat; }
    // The header of the delivered frames.
    BITMAPINFOHEADER DeliveredFormat() const;

    // Frame `frame` into dst (Layout().imageBytes bytes); dst is untouched on failure.
    bool ReadFrame(LONG frame, uint8_t* dst);
    // Frame `frame` as the decoder made it, a reference in `out`: what an encoder of the same
    // pixel format takes without converting it twice. False for frames stored uncompressed.
    bool ReadPicture(LONG frame, AVFrame* out);

    // The stored codec's parameters, as the stream analysis found them.
    const AVCodecParameters& StoredParameters() const { return *decoderParams; }
    // Whether frame `frame`'s stored chunk decodes on its own: a key frame of an AVI file whose
    // frames are its chunks one by one, never empty. Reads the index only.
    bool HasKeyChunk(LONG frame) const;
    // That chunk's bytes into data; false when it has none or cannot be read.
    bool ReadKeyChunk(LONG frame, std::vector<uint8_t>& data) const;

    // The stored groups of pictures of an H.264 or MPEG-4 Part 2 stream, for copying; null for
    // other streams.
    std::unique_ptr<StoredGroups> OpenStoredGroups() const;
    // The frames that start such a group, found on the first call (it reads every key frame).
    const std::vector<LONG>& StoredGroupStarts();
    // How many frames from `start`, a group's first, copy in a run that ends at `end`, inside
    // the group (StoredGroups::CopyablePrefix).
    LONG StoredGroupPrefix(LONG start, LONG end) const;

    // Frames decoded so far by this source's own read positions (not the look-ahead's), for
    // benchmarks.
    int64_t DecodedFrames() const;

  private:
    VideoSource() = default;
    OpenFailure OpenFirstCursor();
    void DescribeFrames(const AVStream* st, bool avi);
    void MapDelayChunks(const AVStream* st);
    bool LearnTiming(const AVStream* st, bool avi);
    LONG CountLength(const AVStream* st, bool avi);
    void LearnDelay(Cursor& cursor, bool avi);
    void DescribeStream(const AVStream* st);
    void StoreFormat(const AVStream* st);
    const AVIndexEntry* KeyChunkEntry(LONG frame) const;

    Cursor* PickCursor(LONG frame, LONG lastRead);
    Cursor* SeekingCursor(LONG frame);
    LONG KeyFrameBefore(LONG frame) const;
    bool ReadIndexedFrame(LONG frame, uint8_t* dst);
    bool ReadFrameAfter(LONG previous, LONG frame, uint8_t* dst);
    Cursor* LocatedCursor(LONG previous, LONG frame);
    const AVFrame* DecodedPicture(LONG previous, LONG frame);
    int64_t KeptOnTheWay() const;
    void LookBack(LONG frame);
    bool CopyStoredFrame(const uint8_t* data, size_t size, uint8_t* dst) const;
    bool ConvertPicture(const AVFrame* picture, uint8_t* dst);
    bool PrepareScaler(const AVFrame* picture);
    bool ConvertInPlace(const AVFrame* picture, uint8_t* dst);
    void CopyConverted(uint8_t* dst) const;

    const uint64_t id = NextId();
    static uint64_t NextId();

    std::unique_ptr<SourceFile> file; // outlives the cursors that read it
    SourceLayout layout;
    int rateNum = 0, rateDen = 1; // frames per second, reduced
    int chunksPerFrame = 1;       // AVI chunks (ticks) one frame lasts
    bool avi = false;             // the container is an AVI file
    AVISTREAMINFOA info{};
    std::vector<uint8_t> storedFormat;
    AVCodecParameters* decoderParams = nullptr; // as the stream analysis found them
    std::optional<std::vector<LONG>> groupStarts;
    std::vector<std::unique_ptr<Cursor>> cursors;
    std::vector<uint8_t> chunk;   // a stored frame read by the index, kept from frame to frame
    AVFrame* cached = nullptr;    // a frame the cache held
    AVFrame* converted = nullptr; // conversions of rows the scaler cannot write in place
    SwsContext* scaler = nullptr;
    int scalerWidth = 0, scalerHeight = 0, scalerFormat = -1; // what the scaler converts from
    uint64_t useClock = 0;
    LONG lastRead = -1;                   // the frame read last, from the cache or not
    std::unique_ptr<LookAhead> lookAhead; // made when the user first steps back
};

} // namespace avi
