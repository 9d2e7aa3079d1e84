// Reading the first video stream of any file libavformat reads, frame by display index.
//
// Frames come out as bottom-up DIBs: uncompressed 16-bit (5-5-5) and 24-bit frames as stored
// (flipped if the file stores them top-down), everything else decoded and converted to 24-bit.
// Each source keeps two independent read positions (demuxer + decoder), so reading two places
// in turn - the editor's range start and end - does not throw either decoder state away, and
// decoded frames go through the process-wide FrameCache.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace avi {

class Cursor;
class SourceFile;

struct SourceLayout {
    int width = 0;
    int height = 0;
    bool passThrough = false;           // uncompressed 16/24-bit: stored bytes are delivered
    bool topDown = false;               // stored rows run top to bottom
    int outBits = 24;                   // bit count of the delivered frames
    int64_t imageBytes = 0;             // bytes of one delivered frame
    LONG length = 0;                    // frames
    int64_t tsNum = 1, tsDen = 1;       // stream time base
    int64_t frameNum = 1, frameDen = 1; // one frame's duration in seconds
    int64_t startTs = 0;
    bool frameIsTick = true; // one time-base tick per frame (AVI)
    int delay = 0;           // decoder delay: display frame n has timestamp n + delay
};

class VideoSource {
  public:
    // Null when the file cannot be opened or has no usable video stream; `readable` tells
    // whether libavformat could read the file at all.
    static std::unique_ptr<VideoSource> Open(const std::string& path, bool* readable = nullptr);
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

    // Frames decoded so far by this source, for benchmarks.
    int64_t DecodedFrames() const;

  private:
    VideoSource() = default;
    bool OpenFirstCursor(bool& readable);
    void DescribeStream();
    Cursor* PickCursor(LONG frame, LONG lastRead);
    LONG KeyFrameBefore(LONG frame) const;
    bool ConvertPicture(const AVFrame* picture, uint8_t* dst);

    const uint64_t id = NextId();
    static uint64_t NextId();

    std::unique_ptr<SourceFile> file; // outlives the cursors that read it
    SourceLayout layout;
    AVISTREAMINFOA info{};
    std::vector<uint8_t> storedFormat;
    std::vector<std::unique_ptr<Cursor>> cursors;
    AVFrame* cached = nullptr;
    SwsContext* scaler = nullptr;
    uint64_t useClock = 0;
    LONG lastRead = -1; // the frame read last, from the cache or not
};

} // namespace avi
