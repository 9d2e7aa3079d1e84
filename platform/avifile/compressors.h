// The compressors a saved file can use: which libavcodec encoder writes each handler into an
// AVI file, which settings of the options record it takes, and one frame encoded and decoded
// again for the options dialog's preview.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace avi {

// Settings of the options record a compressor takes.
constexpr unsigned kTakesKeyFrames = 1u << 0;
constexpr unsigned kTakesDataRate = 1u << 1;
constexpr unsigned kTakesQuality = 1u << 2;

constexpr DWORD kFullFrames = mmioFOURCC('D', 'I', 'B', ' ');

struct Compressor {
    DWORD fourcc;        // the handler the AVI file stores
    const char* encoder; // libavcodec encoder; null for full frames (the DIB bytes as they are)
    const char* name;    // shown to the user
    int pixelFormat;     // the AVPixelFormat the encoder is given
    unsigned settings;
    const char* qualityOption; // the encoder's option for quality; null: its quantiser scale
    bool lossless;
};

// The AVPixelFormat of uncompressed frames of this bit count; AV_PIX_FMT_NONE for others.
int DibPixelFormat(int bitCount);
// Whether an AVI file can hold packets of the libavcodec codec (an AVCodecID).
bool AviStoresCodec(int codec);

std::span<const Compressor> Compressors();
// The compressor of a handler (0 means full frames); null if there is none.
const Compressor* FindCompressor(DWORD fourcc);

// The compressors that open for frames of this format at this rate on this machine.
std::vector<const Compressor*> OfferedCompressors(const BITMAPINFOHEADER& format,
                                                  const AVISTREAMINFOA& info);

// Of the compressors not offered for this format, those that would be offered if its width and
// height were even (encoders of subsampled colour need even sizes). Empty for even sizes.
std::vector<const Compressor*> NeedingEvenSizes(const BITMAPINFOHEADER& format,
                                                const AVISTREAMINFOA& info,
                                                const std::vector<const Compressor*>& offered);

// The most pictures a DibEncoder can be asked to make a decoder hold back.
constexpr int kMaxEncodedReorder = 2;

// How an encoder's runs of frames are joined to frames copied as stored.
struct JoinedRuns {
    int reorder = 0; // pictures a decoder holds back for the copied frames (up to 2)
    // The id of H.264's parameter sets of the runs: apart from the copied frames' own, which
    // encoders mostly number 0, so that a decoder is seldom handed new sets under an id it knows.
    static constexpr int kParameterSetId = 31;
};

// Bottom-up DIB frames in, compressed packets out: the pixel conversion and an encoder opened
// with the record's settings, B-frames off (AVI has no room for reordered timestamps) and the
// encoder's own threads.
class DibEncoder {
  public:
    // Null if the encoder does not open for frames of the format; frames per second are
    // rate/scale. H.264 runs joined to copied frames take B-frames that make a decoder hold back
    // as many pictures as the copied ones do (packets then come in decode order), and a fast
    // preset: such runs are a few frames around each edit, and the save waits for them.
    static std::unique_ptr<DibEncoder> Open(const Compressor& compressor,
                                            const BITMAPINFOHEADER& format, DWORD rate, DWORD scale,
                                            const AVICOMPRESSOPTIONS& options,
                                            const JoinedRuns* joined = nullptr);
    ~DibEncoder();
    DibEncoder(const DibEncoder&) = delete;
    DibEncoder& operator=(const DibEncoder&) = delete;

    // Hands frame number `index` (biSizeImage bytes of the format) to the encoder.
    bool Send(const uint8_t* frame, int64_t index);
    // Hands a decoded picture to the encoder as frame number `index`; converted only where its
    // pixel format or size is not the encoder's.
    bool SendPicture(const AVFrame* decoded, int64_t index);
    // Tells the encoder that no frame follows.
    bool Finish();
    // 1 with the next packet (timestamps in frames), 0 when none is ready yet, -1 on failure.
    int Receive(AVPacket* packet);
    const AVCodecContext& Context() const { return *context; }

  private:
    DibEncoder() = default;
    AVCodecContext* context = nullptr;
    SwsContext* scaler = nullptr;
    SwsContext* pictureScaler = nullptr; // for pictures of another format than the encoder's
    AVFrame* picture = nullptr;
    BITMAPINFOHEADER format{};
    int inputFormat = -1;
};

// Encodes one frame (a bottom-up DIB of the format) with the compressor and decodes it again:
// `picture` receives the decoded frame as a bottom-up 24-bit DIB, `storedBytes` the size of
// the compressed frame. False if either step fails.
bool PreviewFrame(const Compressor& compressor, const AVICOMPRESSOPTIONS& options,
                  const BITMAPINFOHEADER& format, const uint8_t* frame,
                  std::vector<uint8_t>& picture, int64_t& storedBytes);

} // namespace avi
