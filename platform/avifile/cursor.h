// One read position in a source file: its own demuxer and decoder, reading forward in display
// order from wherever it was sought to.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVCodecParameters;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace avi {

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
    // Where the empty chunks of an AVI only make room for a B-frame decoder's delay, frame n is
    // the n-th chunk that holds data: its chunk number is frameTicks[n]. Empty otherwise.
    std::vector<int64_t> frameTicks;
};

// Frame numbers stay this far inside a LONG, so that adding a delay or one cannot overflow.
constexpr LONG kMaxFrameIndex = INT32_MAX / 2;

// The stream a source reads: the file's first video stream that is not a cover picture; -1 for
// none.
int FirstVideoStream(const AVFormatContext* fmt);
// Makes the demuxer read only stream `keep`.
void DiscardOtherStreams(AVFormatContext* fmt, int keep);

// Frame number (before the delay) of a timestamp; INT_MIN for none or one far out of range.
LONG RawIndexOf(const SourceLayout& layout, int64_t ts);
// Timestamp of a frame number (before the delay).
int64_t TimestampOf(const SourceLayout& layout, int64_t frame);

// The file a source reads, opened once. Every cursor reads this open file, never the path
// again: temporary files are deleted and rewritten under the same names while streams made
// from the old content still read it.
class SourceFile {
  public:
    explicit SourceFile(const std::string& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string name; // a hint for format probing only
    const int fd;
};

// Reads of one demuxer from a SourceFile: its own offset into the shared descriptor, so that
// several demuxers read one open file.
struct FileReader {
    int fd = -1;
    int64_t offset = 0;
};
// The AVIOContext callbacks over a FileReader (the opaque pointer).
int ReadFileAt(void* opaque, uint8_t* buffer, int size);
int64_t SeekFileAt(void* opaque, int64_t offset, int whence);
// Opens a demuxer over file that reads through reader with an I/O context of its own (io).
// False on failure; io and fmt are then what is left to free (avformat_open_input frees fmt).
bool OpenDemuxer(const SourceFile& file, FileReader& reader, AVIOContext*& io,
                 AVFormatContext*& fmt);

// Holds the last frame handed out and possibly the one after it (decoded to learn that the
// last one repeats, where the file leaves a frame out).
class Cursor {
  public:
    explicit Cursor(const SourceLayout& layout);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // Opens the container; `probe` runs the stream analysis (first cursor only). `readable`
    // tells whether libavformat could read the file at all.
    bool OpenContainer(const SourceFile& file, bool probe, bool* readable = nullptr);
    bool OpenDecoder(const AVCodecParameters* par);

    const AVFormatContext* Container() const { return fmt; }
    AVStream* Stream() const;

    // Whether frame n lies ahead: at or after the frame last handed out (or the pending one);
    // a cursor that has read nothing yet starts at the beginning.
    bool CanReadForwardTo(LONG n) const;
    LONG Position() const;
    // Positions the cursor so that frame n can be read forward.
    void SeekTo(LONG n);
    // Reads forward until frame n is the frame last handed out. `passed` sees the decoded
    // pictures on the way from frame `from` on (n's own excluded) that reading each of them
    // directly would give: decoded from a key frame of this run, their frame numbers rising,
    // without decoding errors; where it returns false, the reading stops there (false).
    using PictureSink = std::function<bool(LONG frame, const AVFrame* picture)>;
    bool Locate(LONG n, LONG from = 0, const PictureSink& passed = {});
    const AVFrame* Picture() const { return prevFrame; }
    const AVPacket* Chunk() const { return prevPacket; }

    // The timestamp of the frame that comes out first after opening (NOPTS if none).
    int64_t FirstTimestamp();
    // Recomputes the pending frame's index after the start or the delay was learnt.
    void Reindex();
    // Frames in the whole file, by one pass over its packets: their number, or with
    // `byChunkNumber` the last chunk's number + 1 (AVI, where empty chunks count).
    int64_t CountFrames(bool byChunkNumber);
    // The chunk numbers of the chunks that hold data, by one pass over the packets.
    std::vector<int64_t> DataChunks();

    int64_t Decoded() const { return decoded; }
    uint64_t LastUse() const { return lastUse; }
    void MarkUsed(uint64_t clock) { lastUse = clock; }

  private:
    void Reset();
    void Consume();
    bool InRange(LONG idx) const;
    bool ReadPacket();
    bool Fetch();
    bool FetchChunk();
    bool FetchPicture();
    LONG DisplayIndexOf(LONG raw) const;

    const SourceLayout& layout;
    AVFormatContext* fmt = nullptr;
    AVIOContext* io = nullptr;
    FileReader reader;
    int stream = -1;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* prevPacket = nullptr;
    AVPacket* nextPacket = nullptr;
    AVFrame* prevFrame = nullptr;
    AVFrame* nextFrame = nullptr;
    bool hasPrev = false, hasNext = false, nextKey = false;
    // Since the last seek: a key frame was handed out; the highest frame number handed out;
    // whether the frame last handed out is one a direct read of its number gives.
    bool keySeen = false, prevSettled = false;
    LONG highestOut = 0;
    LONG prevIdx = 0, nextIdx = 0, lastRawOut = 0;
    bool readEof = false, flushed = false, drained = false;
    int64_t landedTs = 0;
    int64_t nextTs = 0;
    int64_t decoded = 0;
    uint64_t lastUse = 0;
};

} // namespace avi
