// The stored packets of a file's first audio stream, read as they are: a save copies them
// unchanged when the sound was not edited and the saved file takes their codec.
#pragma once

#include "avifile.h"
#include "cursor.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <memory>
#include <string>

struct AVCodecParameters;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace avi {

// What a saved AVI file can keep of a stored audio codec: its wave format tag (0 when an AVI
// file cannot hold it) and a name to show.
struct StoredCodec {
    WORD tag = 0;
    std::string name;
};

// The stored codec of a stream of these parameters; PCM counts as none, since decoding and
// writing it again gives the same bytes.
StoredCodec StoredCodecOf(const AVCodecParameters& parameters);

class AudioSource;

// The file's sound whose stored packets a save can copy for this stream: the stream reads it
// unchanged and timed as stored, and an AVI file can hold its codec. Null otherwise.
AudioSource* CopyableAudio(PAVISTREAM stream);

class AudioPackets {
  public:
    // The packets of stream `index` of file, from its start; null when it cannot be read.
    static std::unique_ptr<AudioPackets> Open(const SourceFile& file, int index);
    ~AudioPackets();
    AudioPackets(const AudioPackets&) = delete;
    AudioPackets& operator=(const AudioPackets&) = delete;

    const AVCodecParameters& Parameters() const;
    AVRational TimeBase() const;
    // The next packet into `packet`, its timestamps counted from the stream's start: 1, or 0
    // at the end, or -1 on a read error.
    int Next(AVPacket* packet);

  private:
    AudioPackets() = default;

    FileReader reader;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    int stream = -1;
    int64_t startTs = 0;
};

} // namespace avi
