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
};

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
    EXPECT_LE(frames, 6);
}

size_t Find(const std::string& bytes, const char* tag) {
    const size_t at = bytes.find(tag);
    return at == std::string::npos ? bytes.size() : at;
}

INSTANTIATE_TEST_SUITE_P(
    Damages, BadInput,
    testing::Values(
        Damage{"empty", [](std::string& b) { b.clear(); }},
        Damage{"garbage",
               [](std::string& b) {
                   for (size_t i = 0; i < b.size(); ++i)
                       b[i] = char(i * 131 + 7);
               }},
        Damage{"riff_header_only", [](std::string& b) { b.resize(12); }},
        Damage{"cut_in_header", [](std::string& b) { b.resize(100); }},
        Damage{"cut_in_frames", [](std::string& b) { b.resize(b.size() * 2 / 3); }},
        Damage{"no_index", [](std::string& b) { b.resize(Find(b, "idx1")); }},
        Damage{"huge_width", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 0x7FFFFFFF); }},
        Damage{"huge_height", [](std::string& b) { PutLe32(b, Find(b, "strf") + 16, 0x40000000); }},
        Damage{"zero_width", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 0); }},
        Damage{"wider_than_chunks", [](std::string& b) { PutLe32(b, Find(b, "strf") + 12, 300); }},
        Damage{"huge_strf_size",
               [](std::string& b) { PutLe32(b, Find(b, "strf") + 4, 0xFFFFFFF0); }},
        Damage{"huge_bi_size", [](std::string& b) { PutLe32(b, Find(b, "strf") + 8, 0x7FFFFFF0); }},
        Damage{"huge_list_size",
               [](std::string& b) { PutLe32(b, Find(b, "hdrl") - 4, 0xFFFFFFFF); }},
        Damage{"huge_chunk_size",
               [](std::string& b) { PutLe32(b, Find(b, "00db") + 4, 0x7FFFFFFF); }},
        Damage{"zero_rate", [](std::string& b) { PutLe32(b, Find(b, "strh") + 8 + 24, 0); }},
        Damage{"zero_scale", [](std::string& b) { PutLe32(b, Find(b, "strh") + 8 + 20, 0); }},
        Damage{"index_points_outside",
               [](std::string& b) { PutLe32(b, Find(b, "idx1") + 8 + 8, 0x7FFFFF00); }}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.label); });

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
