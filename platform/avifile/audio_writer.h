// Writing AVI files of one audio stream of 16-bit PCM through libavformat's AVI muxer: every
// write becomes one chunk of the caller's bytes, so the file reads back sample for sample.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVPacket;

namespace avi {

class PcmWriter {
  public:
    // Creates (truncates) the file; null if it cannot be created.
    static std::unique_ptr<PcmWriter> Create(const std::string& path);
    // Writes what is pending and closes the file.
    ~PcmWriter();
    PcmWriter(const PcmWriter&) = delete;
    PcmWriter& operator=(const PcmWriter&) = delete;

    // The stream's information (its name); false if it is not an audio stream.
    bool SetInfo(const AVISTREAMINFOA& info);
    // The format of the samples: 16-bit PCM; the first one given fixes it, later ones must
    // equal it.
    bool SetFormat(const WAVEFORMATEX& format);
    bool HasFormat() const { return hasFormat; }
    const WAVEFORMATEX& Format() const { return format; }
    // Appends `count` samples at `position` (must be the end so far), exactly count samples
    // of bytes.
    bool Write(LONG position, const void* samples, LONG count, LONG bytes);
    LONG SamplesWritten() const { return written; }
    AVISTREAMINFOA Info() const;
    // Writes what is pending and closes the file; false if any of it did not reach the file
    // (also when no format was given). The destructor closes a file not closed yet.
    bool Close();

  private:
    PcmWriter() = default;
    bool StartMuxer();

    AVFormatContext* muxer = nullptr;
    AVPacket* packet = nullptr;
    AVISTREAMINFOA info{};
    WAVEFORMATEX format{};
    bool hasFormat = false;
    bool started = false;
    bool failed = false;
    LONG written = 0;
};

} // namespace avi
