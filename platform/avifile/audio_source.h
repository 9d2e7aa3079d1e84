// Reading the first audio stream of any file libavformat reads, by sample: decoded with
// libavcodec and converted with libswresample to 16-bit signed interleaved PCM at the stored
// rate and channel count.
//
// Reading on from where the last read ended (or a little further) carries on with the decoder
// and never seeks: the player and saving read in order. Any other read seeks through the
// demuxer's index to a packet at or before the wanted sample - earlier by a pre-roll for
// codecs whose first output after a seek is not yet right - decodes forward and drops what
// comes before. Positions come from the first decoded frame's timestamp after a seek and are
// counted from there, so PCM is exact to the sample. Decoded audio is small next to pictures
// and read once in order, so unlike video there is no cache and only one read position.
#pragma once

#include "audio_packets.h"
#include "avifile.h"
#include "cursor.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

namespace avi {

class AudioSource {
  public:
    // The first audio stream of the open file: AVIERR_NODATA when the file has none (or cannot
    // be read at all), AVIERR_BADFORMAT when it cannot be decoded or has more channels than a
    // sample may hold.
    static HRESULT Open(std::unique_ptr<SourceFile> file, std::unique_ptr<AudioSource>* out);
    ~AudioSource();
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    const WAVEFORMATEX& Format() const { return format; }
    const AVISTREAMINFOA& Info() const { return info; }
    // Samples, fixed at open: every read delivers exactly this many, silence where the decoder
    // ends early and nothing of what it gives beyond.
    LONG Length() const { return length; }

    // Samples [start, start + count) (inside Length()) into dst, nBlockAlign bytes each.
    bool Read(LONG start, LONG count, uint8_t* dst);

    // The codec the samples are stored in, as a saved AVI file can keep it.
    StoredCodec Stored() const;
    // The stored packets, read apart from the samples; null when they cannot be read.
    std::unique_ptr<AudioPackets> OpenPackets() const { return AudioPackets::Open(*file, stream); }

  private:
    AudioSource() = default;
    HRESULT OpenStream();
    bool OpenContainer();
    bool OpenDecoder();
    bool DescribeSamples();
    LONG CountLength();
    int64_t CountPacketEnd();
    void DescribeStream();

    bool ReadsOnTo(int64_t start) const;
    bool SeekTo(int64_t target);
    bool Restart();
    void Reset();
    bool DecodeNext();
    bool ReadPacket();
    bool AppendFrame();
    bool PrepareResampler(const AVFrame* frame);
    int64_t BufferedEnd() const;
    void DropBefore(int64_t sample);

    std::unique_ptr<SourceFile> file;
    FileReader reader;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    int stream = -1;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* resampler = nullptr;
    int resamplerFormat = -1, resamplerRate = 0, resamplerChannels = 0; // what it converts from

    int rate = 0;
    int channels = 0;
    int64_t startTs = 0; // the stream's timestamp of sample 0
    int64_t preroll = 0; // samples decoded and dropped before a sought position
    LONG length = 0;
    WAVEFORMATEX format{};
    AVISTREAMINFOA info{};

    // Decoded samples from `position` on, interleaved; `position` is the sample that comes next
    // when nothing is buffered. Unknown after a seek until a frame with a timestamp came out.
    std::vector<int16_t> buffered;
    int64_t position = 0;
    bool positionKnown = false;
    bool fromStart = false; // the demuxer was sought to the start: a frame without time is at 0
    bool readEof = false, flushed = false, drained = false;
    int64_t packetsRead = 0;
};

} // namespace avi
