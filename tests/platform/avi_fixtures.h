// Fixtures for tests that need AVI files: frames whose pixels encode the frame number, tiny
// uncompressed AVIs written through the platform's own API, compressed AVIs encoded with
// libavcodec, and a scratch folder removed at the end of the test.
#pragma once

#include "avifile/avifile.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fixtures {

using Frame = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string File(const std::string& name) const { return (path / name).string(); }
    const std::filesystem::path& Path() const { return path; }

  private:
    std::filesystem::path path;
};

// The 40-byte header of a bottom-up uncompressed frame (biSizeImage with padded rows).
BITMAPINFOHEADER DibHeader(int width, int height, int bitCount);

// Stream information of a video stream: rate/scale, rectangle, name bytes (up to 63).
AVISTREAMINFOA VideoInfo(int width, int height, DWORD rate = 25, DWORD scale = 1,
                         const std::string& name = "");

// Frame `number` of a test picture: every pixel depends on the frame number and its
// position; row padding bytes are zero.
Frame PatternFrame(int width, int height, int bitCount, int number);

// Writes `frames` pattern frames through AVIFileOpenA/AVIFileCreateStreamA/AVIStreamSetFormat/
// AVIStreamWrite, exactly as the editor writes its temporary files.
bool WriteTinyAvi(const std::string& path, int width, int height, int bitCount, int frames,
                  DWORD rate = 25, DWORD scale = 1, const std::string& name = "");

// Writes the given frames (each biSizeImage bytes of `header`) the same way.
bool WriteAvi(const std::string& path, const AVISTREAMINFOA& info, const BITMAPINFOHEADER& header,
              const std::vector<Frame>& frames);

struct EncodeOptions {
    std::string encoder; // libavcodec encoder name: "mjpeg", "mpeg4", "libx264" ...
    int width = 64;
    int height = 48;
    int frames = 40;
    int gop = 12;    // key-frame interval
    int bFrames = 0; // consecutive B-frames
    int rate = 25;
    std::string container = "avi"; // libavformat muxer name
    std::vector<int> emptyChunks;  // frames left out (intra codecs): AVI stores empty chunks
};

// Whether libavcodec has the encoder.
bool HasEncoder(const std::string& name);

// Encodes test pictures (PictureFor) with libavcodec into a file (AVI unless another
// container is asked for); false if that fails.
bool EncodeAvi(const std::string& path, const EncodeOptions& options);

// The 24-bit bottom-up picture that frame `number` of EncodeAvi shows before compression: a
// smooth gradient with a bright bar whose place depends on the number, so that neighbouring
// frames differ clearly even after lossy compression.
Frame PictureFor(int width, int height, int number);

// Mean absolute difference of two frames of equal size.
double MeanDifference(const Frame& a, const Frame& b);

// Every frame of the stream, read in order through the caller's reading convention.
std::vector<Frame> ReadAll(PAVISTREAM stream, LONG frameBytes);

// Opens the uncompressing view of the file's first video stream (null on failure).
PAVISTREAM OpenView(const std::string& path);

} // namespace fixtures
