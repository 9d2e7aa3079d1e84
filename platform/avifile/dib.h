// Sizes of uncompressed device-independent bitmaps: rows padded to 4 bytes.
#pragma once

#include "avifile.h"

#include <cstdint>

namespace avi {

// Largest frame the services accept: no allocation beyond 1 GiB, every size inside a LONG.
constexpr int64_t kMaxImageBytes = int64_t{1} << 30;
constexpr int kMaxDimension = 16384;
constexpr int kMaxBitCount = 32;

constexpr int64_t DibRowBytes(int64_t width, int bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

constexpr int64_t DibImageBytes(int64_t width, int64_t height, int bitCount) {
    return DibRowBytes(width, bitCount) * (height < 0 ? -height : height);
}

// Width, height and bit count that make a frame the services can hold.
constexpr bool DibSizeIsSane(int64_t width, int64_t height, int bitCount) {
    if (width <= 0 || width > kMaxDimension || height == 0 || height > kMaxDimension ||
        height < -kMaxDimension || bitCount <= 0 || bitCount > kMaxBitCount)
        return false;
    return DibImageBytes(width, height, bitCount) <= kMaxImageBytes;
}

// The 40-byte header of a bottom-up BI_RGB frame.
inline BITMAPINFOHEADER MakeDibHeader(int width, int height, int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibImageBytes(width, height, bitCount));
    return h;
}

} // namespace avi
