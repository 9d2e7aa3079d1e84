// Writing AVI files of one video stream of uncompressed key frames (bottom-up DIBs), through
// libavformat's AVI muxer: it stores each frame as one chunk byte for byte, keeps the stream
// name bytes, and switches to OpenDML (RIFF AVIX pieces, two-level index) beyond 1 GiB.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVPacket;

namespace avi {

// Makes a file's first strf record give the padded image size; the muxer leaves out the row
// padding. False if the file has no such record.
bool PatchImageSize(const std::string& path, DWORD imageSize);

class AviWriter {
  public:
    // Creates (truncates) the file; null if it cannot be created.
    static std::unique_ptr<AviWriter> Create(const std::string& path);
    // Writes what is pending and closes the file.
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // The stream's information; false if it is not a video stream with a rate and scale.
    bool SetInfo(const AVISTREAMINFOA& info);
    // The format of every frame: the first one given fixes it, later ones must equal it.
    bool SetFormat(const BITMAPINFOHEADER& format);
    bool HasFormat() const { return hasFormat; }
    const BITMAPINFOHEADER& Format() const { return format; }
    // Appends frame `position` (must be the next one) of exactly biSizeImage bytes.
    bool WriteFrame(LONG position, const void* pixels, LONG size);
    LONG FramesWritten() const { return frames; }
    AVISTREAMINFOA Info() const;
    // Writes what is pending and closes the file; false if any of it did not reach the file.
    // The destructor closes a file not closed yet.
    bool Close();

  private:
    AviWriter() = default;
    bool StartMuxer();

    std::string path;
    AVFormatContext* muxer = nullptr;
    AVPacket* packet = nullptr;
    AVISTREAMINFOA info{};
    BITMAPINFOHEADER format{};
    bool hasFormat = false;
    bool started = false;
    bool failed = false;
    LONG frames = 0;
};

} // namespace avi
