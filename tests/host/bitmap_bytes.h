// Bitmap files written byte by byte, well-formed or broken in one chosen way, for the import
// tests and the fuzzer's seeds.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace bitmap_bytes {

struct Picture {
    int32_t width = 8;
    int32_t height = 6; // negative: the rows are stored top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;    // the information header's size field and length
    int64_t imageSizeField = -1; // -1: the size of the rows
    uint32_t coloursUsed = 0;
    uint32_t gap = 0;              // bytes between the headers and the pixels
    int64_t pixelOffsetField = -1; // -1: where the pixels are
    char mark[3] = "BM";
    int64_t keep = -1; // bytes of the file kept; -1: all
    uint8_t seed = 1;  // tells pictures apart
};

inline uint32_t RowBytes(const Picture& p) {
    return (uint32_t(p.width) * p.bitCount + 31) / 32 * 4;
}
inline uint32_t Rows(const Picture& p) {
    return uint32_t(p.height < 0 ? -int64_t(p.height) : p.height);
}

// The picture as a frame holds it: rows bottom-up, every byte telling its row and column.
inline std::vector<uint8_t> Frame(const Picture& p) {
    const uint32_t row = RowBytes(p);
    std::vector<uint8_t> frame(size_t(row) * Rows(p));
    for (uint32_t y = 0; y < Rows(p); ++y)
        for (uint32_t x = 0; x < row; ++x)
            frame[y * row + x] = uint8_t(p.seed * 31 + y * 7 + x * 3);
    return frame;
}

inline std::vector<uint8_t> Bytes(const Picture& p) {
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const std::vector<uint8_t> frame = Frame(p);
    const uint32_t offset = 14 + p.headerSize + p.gap;
    out.insert(out.end(), {uint8_t(p.mark[0]), uint8_t(p.mark[1])});
    u32(uint32_t(offset + frame.size()));
    u32(0);
    u32(p.pixelOffsetField < 0 ? offset : uint32_t(p.pixelOffsetField));
    u32(p.headerSize);
    u32(uint32_t(p.width));
    u32(uint32_t(p.height));
    u16(1);
    u16(p.bitCount);
    u32(p.compression);
    u32(p.imageSizeField < 0 ? uint32_t(frame.size()) : uint32_t(p.imageSizeField));
    u32(2835), u32(2835);
    u32(p.coloursUsed), u32(0);
    out.resize(offset, 0);
    const uint32_t row = RowBytes(p);
    for (uint32_t i = 0; i < Rows(p); ++i) {
        const uint32_t y = p.height < 0 ? Rows(p) - 1 - i : i;
        out.insert(out.end(), frame.begin() + y * row, frame.begin() + (y + 1) * row);
    }
    if (p.keep >= 0) out.resize(size_t(p.keep));
    return out;
}

inline bool Write(const std::string& path, const Picture& p) {
    const std::vector<uint8_t> bytes = Bytes(p);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

} // namespace bitmap_bytes
