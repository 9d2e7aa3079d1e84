// Malformed files: every call fails cleanly or delivers whole frames; nothing reads or writes
// outside a buffer (the sanitizer build checks that).
#include "avi_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

using namespace fixtures;

namespace {

std::string Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    if (at + 4 <= bytes.size()) std::memcpy(&bytes[at], &value, 4);
}

// Opens the file and reads every frame through the view; returns how many reads succeeded.
// A failed read must leave the buffer as it was.
int ReadEverything(const std::string& path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr) != AVIERR_OK) {
        EXPECT_EQ(file, nullptr);
        return -1;
    }
    PAVISTREAM stream = nullptr;
    const HRESULT got = AVIFileGetStream(file, &stream, streamtypeVIDEO, 0);
    AVIFileRelease(file);
    if (got != AVIERR_OK) {
        EXPECT_EQ(stream, nullptr);
        return -1;
    }
    PAVISTREAM view = nullptr;
    EXPECT_EQ(AVIMakeCompressedStream(&view, stream, nullptr, nullptr), AVIERR_OK);
    AVIStreamRelease(stream);
    BITMAPINFOHEADER header{};
    LONG size = sizeof header;
    int good = 0;
    if (AVIStreamReadFormat(view, 0, &header, &size) == AVIERR_OK) {
        Frame frame(header.biSizeImage, 0xAB);
        const Frame untouched = frame;
        const LONG length = std::min<LONG>(AVIStreamLength(view), 2000);
        for (LONG i = 0; i < length; ++i) {
            if (AVIStreamRead(view, i, i + 1, frame.data(), LONG(frame.size()), nullptr, nullptr) ==
                AVIERR_OK) {
                ++good;
                frame = untouched;
            } else {
                EXPECT_EQ(frame, untouched) << "frame " << i;
            }
        }
    }
    AVIStreamRelease(view);
    return good;
}

struct Damage {
    const char* label;
    std::function<void(std::string&)> apply;
    int framesRead; // frames of the six that still read; -1: the stream does not open
};

void PrintTo(const Damage& d, std::ostream* out) {
    *out << d.label;
}

class BadInput : public testing::TestWithParam<Damage> {};

TEST_P(BadInput, FailsCleanly) {
    ScratchDir dir;
    const std::string good = dir.File("good.avi");
    ASSERT_TRUE(WriteTinyAvi(good, 30, 20, 24, 6));
    std::string bytes = Load(good);
    GetParam().apply(bytes);
    const std::string bad = dir.File("bad.avi");
    Save(bad, bytes);
    const int frames = ReadEverything(bad);
    EXPECT_EQ(frames, GetParam().framesRead);
}

// Where the tag is; every damage below needs its tag to exist in the file.
size_t Find(const std::string& bytes, const char* tag) {
    const size_t at = bytes.find(tag);
    EXPECT_NE(at, std::string::npos) << tag;
    return at == std::string::npos ? bytes.size() : at;
}

INSTANTIATE_TEST_SUITE_P(
    Damages, BadInput,
    testing::Values(
        Damage{"empty", [](std::string& b) { b.clear(); }, -1},
        Damage{"garbage",
               [](std::string& b) {
                   for (size_t i = 0; i < b.size(); ++i)
                       b[i] = char(i * 131 + 7);
               },
               -1},
        Damage{"riff_header_only", [](std::string& b) { b.resize(12); }, -1},
        Damage{"cut_in_header", [](std::string& b) { b.resize(100); }, -1},
        Damage{"cut_in_frames", [](std::string& b) { b.resize(b.size() * 2 / 3); }, 3},
        Damage{"no_index", [](std::string& b) { b.resize(Find(b, "idx1")); }, 6},
        Damage{"huge_width", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 0x7FFFFFFF); },
               -1},
        Damage{"huge_height", [](std::string& b) { PutLe32(b, Find(b, "strf") + 16, 0x40000000); },
               -1},
        Damage{"zero_width", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 0); }, -1},
        Damage{"wider_than_chunks", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 300); },
               0},
        Damage{"huge_strf_size",
               [](std::string& b) { PutLe32(b, Find(b, "strf") + 4, 0xFFFFFFF0); }, 6},
        Damage{"huge_bi_size", [](std::string& b) { PutLe32(b, Find(b, "strf") + 8, 0x7FFFFFF0); },
               6},
        Damage{"huge_list_size",
               [](std::string& b) { PutLe32(b, Find(b, "hdrl") - 4, 0xFFFFFFFF); }, 6},
        Damage{"huge_chunk_size",
               [](std::string& b) { PutLe32(b, Find(b, "00dc") + 4, 0x7FFFFFFF); }, 6},
        Damage{"zero_rate", [](std::string& b) { PutLe32(b, Find(b, "strh") + 8 + 24, 0); }, 6},
        Damage{"zero_scale", [](std::string& b) { PutLe32(b, Find(b, "strh") + 8 + 20, 0); }, 6},
        Damage{"index_points_outside",
               [](std::string& b) { PutLe32(b, Find(b, "idx1") + 8 + 8, 0x7FFFFF00); }, 6}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.label); });

// Cut and scrambled compressed files: whole frames or clean failures, never a crash.
TEST(BadInput, DamagedCompressedFiles) {
    for (const char* encoder : {"mjpeg", "mpeg4", "libx264"}) {
        if (!HasEncoder(encoder)) continue;
        ScratchDir dir;
        EncodeOptions o;
        o.encoder = encoder;
        o.frames = 24;
        o.gop = 8;
        o.bFrames = std::string(encoder) == "mjpeg" ? 0 : 2;
        const std::string path = dir.File("clip.avi");
        ASSERT_TRUE(EncodeAvi(path, o));
        const std::string bytes = Load(path);
        const size_t movi = Find(bytes, "movi");
        Save(path, bytes.substr(0, movi + (bytes.size() - movi) / 2));
        EXPECT_GT(ReadEverything(path), 0) << encoder;
        std::string scrambled = bytes;
        for (size_t i = movi + (bytes.size() - movi) / 3; i < bytes.size(); i += 7)
            scrambled[i] ^= 0x5A;
        Save(path, scrambled);
        EXPECT_LE(ReadEverything(path), 24) << encoder;
    }
}

// An index entry that points into pixels instead of at a chunk: the frames still come whole from
// their chunks, never from the bytes the entry points at. Only the first frame is marked as a key
// frame, so that reading on from it is the way to the others.
TEST(BadInput, IndexEntryPointingIntoPixels) {
    ScratchDir dir;
    const std::string path = dir.File("index_into_pixels.avi");
    ASSERT_TRUE(WriteTinyAvi(path, 30, 20, 24, 3));
    std::string bytes = Load(path);
    // idx1 entries of 16 bytes: id, flags, offset, size.
    const size_t entries = Find(bytes, "idx1") + 8;
    ASSERT_LE(entries + 3 * 16, bytes.size());
    PutLe32(bytes, entries + 16 + 4, 0);
    PutLe32(bytes, entries + 32 + 4, 0);
    uint32_t chunk = 0;
    std::memcpy(&chunk, &bytes[entries + 16 + 8], 4);
    PutLe32(bytes, entries + 16 + 8, chunk + 40);
    Save(path, bytes);
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    const auto frames = ReadAll(view, LONG(DibHeader(30, 20, 24).biSizeImage));
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(frames[i], PatternFrame(30, 20, 24, i)) << "frame " << i;
    AVIStreamRelease(view);
}

TEST(BadInput, MissingFilesAndPathsFail) {
    ScratchDir dir;
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_NE(AVIFileOpenA(&file, dir.File("none.avi").c_str(), OF_READ, nullptr), AVIERR_OK);
    EXPECT_EQ(file, nullptr);
    EXPECT_NE(AVIFileOpenA(&file, "", OF_READ, nullptr), AVIERR_OK);
    EXPECT_NE(AVIFileOpenA(&file, nullptr, OF_READ, nullptr), AVIERR_OK);
    EXPECT_NE(AVIFileOpenA(&file, (dir.File("no/such/dir.avi")).c_str(), 0x1041, nullptr),
              AVIERR_OK);
    PAVISTREAM stream = reinterpret_cast<PAVISTREAM>(1);
    EXPECT_NE(AVIStreamOpenFromFileA(&stream, dir.File("none.avi").c_str(), streamtypeVIDEO, 0,
                                     OF_READ, nullptr),
              AVIERR_OK);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(AVIStreamLength(nullptr), -1);
    EXPECT_NE(AVIStreamInfoA(nullptr, nullptr, 140), AVIERR_OK);
}

} // namespace
