// The audio codecs a saved file can use, and the encoder that turns an audio stream's 16-bit
// PCM into their packets.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace avi {

struct AudioCodec {
    WORD tag;            // the wave format tag the options record names it by
    const char* encoder; // libavcodec encoder
    const char* name;    // shown to the user
    bool compressed;     // takes a bit rate
};

std::span<const AudioCodec> AudioCodecs();
// The codec of a wave format tag (0 means PCM); null if there is none.
const AudioCodec* FindAudioCodec(DWORD tag);
// The codecs whose encoders open for audio of this format on this machine.
std::vector<const AudioCodec*> OfferedAudioCodecs(const WAVEFORMATEX& format);

// Receives each packet the encoder makes, timestamps in samples; false stops the encoding.
using PacketSink = std::function<bool(AVPacket*)>;

// Interleaved 16-bit PCM in, packets out. libswresample converts the samples to the encoder's
// sample format and holds them until a whole frame of the encoder's size is there; an encoder
// without a fixed frame size gets everything given to one Send as one frame.
class AudioEncoder {
  public:
    // Null if the encoder does not open for this format (its rate and channels are kept as
    // they are). bytesPerSecond sets a compressed codec's bit rate (0: 192 kbit/s).
    static std::unique_ptr<AudioEncoder> Open(const AudioCodec& codec, const WAVEFORMATEX& format,
                                              DWORD bytesPerSecond);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Hands `count` samples (nBlockAlign bytes each) to the encoder; packets made go to sink.
    bool Send(const uint8_t* samples, int count, const PacketSink& sink);
    // Encodes what is held back and ends the stream.
    bool Finish(const PacketSink& sink);
    const AVCodecContext& Context() const { return *context; }
    // Samples in each packet; 0 when a packet holds what one Send gave.
    int FrameSamples() const { return frameSamples; }

  private:
    AudioEncoder() = default;
    // Encodes frames while at least `minimum` samples are held.
    bool EncodeHeld(int minimum, const PacketSink& sink);
    bool Drain(const PacketSink& sink);

    AVCodecContext* context = nullptr;
    SwrContext* converter = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int frameSamples = 0;
    int64_t held = 0; // samples given but not yet encoded
    int64_t nextSample = 0;
};

} // namespace avi
