// One bitmap file as one video frame: the checks that make a file usable as a frame, and its
// pixels as a bottom-up frame of a plain 40-byte uncompressed format. No Qt and no workspace,
// so that the fuzzer runs exactly this code.
#pragma once

#include "avifile/avifile.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bitmap {

enum class Check {
    Usable,
    Unreadable,  // the file cannot be opened or read
    NotBitmap,   // shorter than the file header, or without its "BM" mark
    HeaderShort, // the file ends inside the information header
    HeaderSize,  // an information header other than 40, 108 or 124 bytes
    Dimensions,  // width or height 0, a negative width, or a side beyond kMaxSide
    BitCount,    // neither 16 nor 24 bits per pixel
    Compressed,  // any compression but none
    ColourTable, // a colour table follows the header
    PixelOffset, // the pixel data would start inside the headers
    PixelsShort, // the file ends before the image does
    OutOfMemory, // the frame cannot be held
};

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kLargestInfoHeaderSize = 124;
// The largest side the frame readers take.
constexpr LONG kMaxSide = 16384;

// Where a file's frame lies, and its format as the frame is stored.
struct Layout {
    BITMAPINFOHEADER format{}; // 40 bytes, BI_RGB, positive height, biSizeImage of the rows
    uint64_t pixelOffset = 0;
    bool topDown = false;
};

// Checks the headers. `head` is the start of the file (up to kFileHeaderSize +
// kLargestInfoHeaderSize bytes are looked at), `fileSize` the size of the whole file.
Check ReadLayout(std::span<const uint8_t> head, uint64_t fileSize, Layout& layout);

// Puts the stored rows (layout.format.biSizeImage bytes) bottom-up, in place: a top-down
// file's rows are reversed, a bottom-up file's are left as they are.
void MakeBottomUp(std::span<uint8_t> rows, const Layout& layout);

struct Frame {
    BITMAPINFOHEADER format{};
    std::vector<uint8_t> pixels; // format.biSizeImage bytes, rows bottom-up
};

// A whole file in memory.
Check ParseBitmap(std::span<const uint8_t> file, Frame& frame);

// A file on disk; reads its headers and its pixels, nothing more.
Check LoadBitmap(const char* path, Frame& frame);

} // namespace bitmap
