// Writes the fuzzer's seed corpus into the folder given: small valid files of every kind the
// reader handles differently (16/24/32-bit, padded rows, intra, B-frames, empty chunks).
#include "avi_fixtures.h"

#include <cstdio>
#include <filesystem>

using namespace fixtures;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    auto file = [&](const char* name) { return (out / name).string(); };
    bool ok = WriteTinyAvi(file("rgb24_32x24.avi"), 32, 24, 24, 4) &&
              WriteTinyAvi(file("rgb24_30x20.avi"), 30, 20, 24, 3, 30000, 1001, "name") &&
              WriteTinyAvi(file("rgb555_31x5.avi"), 31, 5, 16, 3) &&
              WriteTinyAvi(file("rgb32_7x3.avi"), 7, 3, 32, 2) &&
              WriteTinyAvi(file("empty.avi"), 8, 8, 24, 0);
    struct Compressed {
        const char* name;
        const char* encoder;
        int gop, bFrames;
    };
    for (const Compressed& c :
         {Compressed{"mjpeg.avi", "mjpeg", 1, 0}, Compressed{"mpeg4_b.avi", "mpeg4", 6, 2},
          Compressed{"h264_b.avi", "libx264", 8, 2}}) {
        if (!HasEncoder(c.encoder)) continue;
        EncodeOptions o;
        o.encoder = c.encoder;
        o.width = 32;
        o.height = 16;
        o.frames = 12;
        o.gop = c.gop;
        o.bFrames = c.bFrames;
        ok = EncodeAvi(file(c.name), o) && ok;
    }
    return ok ? 0 : 1;
}
