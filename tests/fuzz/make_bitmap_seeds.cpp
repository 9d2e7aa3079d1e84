// Writes the bitmap fuzzer's seed corpus into the folder given: usable files of every layout the
// loader handles differently, and one file broken in each way it refuses.
#include "bitmap_bytes.h"

#include <cstdio>
#include <filesystem>
#include <utility>

using bitmap_bytes::Picture;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const std::pair<const char*, Picture> seeds[] = {
        {"rgb24_8x6.bmp", {}},
        {"rgb24_odd_5x3.bmp", {.width = 5, .height = 3}},
        {"rgb555_7x4.bmp", {.width = 7, .height = 4, .bitCount = 16}},
        {"top_down.bmp", {.height = -6}},
        {"size_field_0.bmp", {.imageSizeField = 0}},
        {"gap.bmp", {.gap = 12}},
        {"v4_header.bmp", {.headerSize = 108}},
        {"v5_header.bmp", {.headerSize = 124}},
        {"palette_8bit.bmp", {.bitCount = 8, .coloursUsed = 256}},
        {"bitfields.bmp", {.bitCount = 16, .compression = 3}},
        {"truncated.bmp", {.keep = 100}},
    };
    bool ok = true;
    for (const auto& [name, picture] : seeds)
        ok = bitmap_bytes::Write((out / name).string(), picture) && ok;
    return ok ? 0 : 1;
}
