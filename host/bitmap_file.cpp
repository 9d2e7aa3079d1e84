#include "bitmap_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bitmap {

namespace {

constexpr std::size_t kLongestHead = kFileHeaderSize + kLargestInfoHeaderSize;
constexpr std::size_t kPixelOffsetField = 10;

uint32_t U32(std::span<const uint8_t> bytes, std::size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

bool KnownInfoHeaderSize(uint32_t size) {
    return size == sizeof(BITMAPINFOHEADER) || size == 108 || size == 124;
}

bool SideInRange(int64_t side) {
    return side >= 1 && side <= kMaxSide;
}

// Rows are padded to whole 32-bit words.
uint32_t RowBytes(LONG width, WORD bitCount) {
    return (uint32_t(width) * bitCount + 31) / 32 * 4;
}

// The information header's checks, in the order a user is told about them.
Check CheckFormat(const BITMAPINFOHEADER& header) {
    const int64_t height = header.biHeight;
    if (!SideInRange(header.biWidth) || !SideInRange(height < 0 ? -height : height))
        return Check::Dimensions;
    if (header.biBitCount != 16 && header.biBitCount != 24) return Check::BitCount;
    if (header.biCompression != BI_RGB) return Check::Compressed;
    if (header.biClrUsed != 0) return Check::ColourTable;
    return Check::Usable;
}

// The format frames are stored in: whatever the file's image-size field says (0 is allowed),
// a frame is exactly its padded rows.
BITMAPINFOHEADER FrameFormat(const BITMAPINFOHEADER& header) {
    BITMAPINFOHEADER format = header;
    format.biSize = sizeof(BITMAPINFOHEADER);
    format.biHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    format.biPlanes = 1;
    format.biSizeImage = RowBytes(format.biWidth, format.biBitCount) * uint32_t(format.biHeight);
    format.biClrImportant = 0;
    return format;
}

bool ReadAt(int fd, uint8_t* buffer, std::size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, buffer, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        size -= std::size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

bool Allocate(std::vector<uint8_t>& pixels, std::size_t size) {
    try {
        pixels.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

Check LoadFrom(int fd, Frame& frame) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return Check::Unreadable;
    const uint64_t fileSize = uint64_t(status.st_size);
    std::array<uint8_t, kLongestHead> head{};
    const std::size_t headSize = std::size_t(std::min<uint64_t>(fileSize, head.size()));
    if (!ReadAt(fd, head.data(), headSize, 0)) return Check::Unreadable;

    Layout layout;
    const Check check = ReadLayout(std::span(head).first(headSize), fileSize, layout);
    if (check != Check::Usable) return check;
    if (!Allocate(frame.pixels, layout.format.biSizeImage)) return Check::OutOfMemory;
    if (!ReadAt(fd, frame.pixels.data(), frame.pixels.size(), layout.pixelOffset))
        return Check::Unreadable;
    MakeBottomUp(frame.pixels, layout);
    frame.format = layout.format;
    return Check::Usable;
}

} // namespace

Check ReadLayout(std::span<const uint8_t> head, uint64_t fileSize, Layout& layout) {
    head = head.first(std::size_t(std::min<uint64_t>(head.size(), fileSize)));
    if (head.size() < kFileHeaderSize || head[0] != 'B' || head[1] != 'M') return Check::NotBitmap;
    if (head.size() < kFileHeaderSize + sizeof(uint32_t)) return Check::HeaderShort;
    const uint32_t infoSize = U32(head, kFileHeaderSize);
    if (!KnownInfoHeaderSize(infoSize)) return Check::HeaderSize;
    if (head.size() < kFileHeaderSize + infoSize) return Check::HeaderShort;

    BITMAPINFOHEADER header{};
    std::memcpy(&header, head.data() + kFileHeaderSize, sizeof header);
    if (const Check check = CheckFormat(header); check != Check::Usable) return check;
    const uint64_t pixelOffset = U32(head, kPixelOffsetField);
    if (pixelOffset < kFileHeaderSize + infoSize) return Check::PixelOffset;
    const BITMAPINFOHEADER format = FrameFormat(header);
    if (pixelOffset + format.biSizeImage > fileSize) return Check::PixelsShort;

    layout.format = format;
    layout.pixelOffset = pixelOffset;
    layout.topDown = header.biHeight < 0;
    return Check::Usable;
}

void MakeBottomUp(std::span<uint8_t> rows, const Layout& layout) {
    const std::size_t height = std::size_t(layout.format.biHeight);
    if (!layout.topDown || height == 0 || rows.size() < layout.format.biSizeImage) return;
    const std::size_t rowBytes = layout.format.biSizeImage / height;
    for (std::size_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(rows.begin() + top * rowBytes, rows.begin() + (top + 1) * rowBytes,
                         rows.begin() + bottom * rowBytes);
}

Check ParseBitmap(std::span<const uint8_t> file, Frame& frame) {
    Layout layout;
    const Check check = ReadLayout(file, file.size(), layout);
    if (check != Check::Usable) return check;
    const auto stored = file.subspan(layout.pixelOffset, layout.format.biSizeImage);
    if (!Allocate(frame.pixels, stored.size())) return Check::OutOfMemory;
    std::copy(stored.begin(), stored.end(), frame.pixels.begin());
    MakeBottomUp(frame.pixels, layout);
    frame.format = layout.format;
    return Check::Usable;
}

Check LoadBitmap(const char* path, Frame& frame) {
    const int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return Check::Unreadable;
    const Check check = LoadFrom(fd, frame);
    close(fd);
    return check;
}

} // namespace bitmap
