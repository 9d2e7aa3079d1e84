// OpenAviSource, WriteStreamFile and ReplaceSlotFile on small files made here.
#include "avi_io.h"

#include "fake_stream.h"
#include "tiny_avi.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr LONG kWidth = 30;
constexpr LONG kHeight = 20;
constexpr DWORD kFrameBytes = 92 * kHeight; // 30 pixels * 3 bytes, padded to 92

class AviIo : public testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("mivra_avi_io_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(CopyPath(ws.tempDir, (dir.string() + "/").c_str()));
        ws.frameFormat = &format;
        startBuffer.assign(kFrameBytes, 0);
        endBuffer.assign(kFrameBytes, 0);
        ws.startFrameBuffer = startBuffer.data();
        ws.endFrameBuffer = endBuffer.data();
    }

    void TearDown() override {
        PAVISTREAM handles[] = {ws.aviStream, ws.currentStream};
        for (PAVISTREAM h : handles)
            if (h) AVIStreamRelease(h);
        for (int i = 0; i < kMaxSlots; ++i) {
            PAVISTREAM slot = ws.slotStreams[i];
            if (slot) AVIStreamRelease(slot);
        }
        fs::remove_all(dir);
    }

  public:
    std::string Temp(int n) {
        char name[16];
        std::snprintf(name, sizeof name, "%.2d.avi", n);
        return (dir / name).string();
    }

    // The header frames of a tiny 24-bit file are delivered in, as the host would hold it.
    void UseFormatOf24BitFrames(DWORD frames) {
        BITMAPINFOHEADER h{};
        h.biSize = 40;
        h.biWidth = kWidth;
        h.biHeight = kHeight;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biSizeImage = kFrameBytes;
        std::memcpy(ws.frameFormat, &h, sizeof h);
        ws.streamInfo = {};
        ws.streamInfo.fccType = streamtypeVIDEO;
        ws.streamInfo.dwScale = 1;
        ws.streamInfo.dwRate = 25;
        ws.streamInfo.dwLength = frames;
        ws.streamInfo.rcFrame = {0, 0, kWidth, kHeight};
    }

    fs::path dir;
    EditWorkspace ws{};
    BITMAPINFOHEADER format{};
    std::vector<uint8_t> startBuffer;
    std::vector<uint8_t> endBuffer;
};

std::vector<uint8_t> ReadFrameBytes(PAVISTREAM s, LONG n) {
    std::vector<uint8_t> frame(kFrameBytes, 0);
    EXPECT_EQ(AVIStreamRead(s, n, n + 1, frame.data(), kFrameBytes, nullptr, nullptr), AVIERR_OK)
        << "frame " << n;
    return frame;
}

std::vector<uint8_t> Filled(int i) {
    return std::vector<uint8_t>(kFrameBytes, tiny_avi::FrameByte(i));
}

struct OpenCase {
    const char* name;
    std::function<bool(const std::string&)> make; // null: no file at all
    const char* message;                          // null: success
    WORD bitCount;
    DWORD sizeImage;
    const char* caption = "Error";
};
void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.name;
}

class OpenAviSourceCases : public AviIo, public testing::WithParamInterface<OpenCase> {};

TEST_P(OpenAviSourceCases, OpensOrSaysWhyNot) {
    const OpenCase& c = GetParam();
    const std::string path = (dir / "input.avi").string();
    if (c.make) {
        ASSERT_TRUE(c.make(path));
    }
    SourceVideo video;
    const AviError error = OpenAviSource(path.c_str(), video);
    if (c.message) {
        EXPECT_EQ(MessageOf(error).text, std::string(c.message));
        EXPECT_EQ(MessageOf(error).caption, std::string(c.caption));
        EXPECT_FALSE(video.stream);
        return;
    }
    ASSERT_EQ(error, AviError::None);
    ASSERT_TRUE(video.stream);
    EXPECT_EQ(AVIStreamLength(video.stream.get()), 3);
    EXPECT_EQ(video.info.dwLength, 3u);
    EXPECT_EQ(video.info.dwRate, 25u);
    EXPECT_EQ(video.info.dwScale, 1u);
    EXPECT_EQ(video.format.biWidth, kWidth);
    EXPECT_EQ(video.format.biHeight, kHeight);
    EXPECT_EQ(video.format.biBitCount, c.bitCount);
    EXPECT_EQ(video.format.biSizeImage, c.sizeImage);
}

// A raw 4:1:1 file (fourcc Y411): its pictures are in a format the scaler cannot read.
bool WriteUnconvertible(const std::string& path) {
    if (!tiny_avi::WriteVideo(path, {})) return false;
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), {});
    const size_t strf = bytes.find("strf");
    if (strf == std::string::npos) return false;
    f.seekp(static_cast<std::streamoff>(strf + 8 + offsetof(BITMAPINFOHEADER, biCompression)));
    f.write("Y411", 4);
    return static_cast<bool>(f);
}

bool WriteGarbage(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "RIFF\x10\0\0\0AVI LIST this is not a movie";
    return true;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenAviSourceCases,
    testing::Values(
        OpenCase{"Missing", nullptr, "ファイルを開けませんでした", 0, 0},
        OpenCase{"Garbage", WriteGarbage, "ファイルを開けませんでした", 0, 0},
        OpenCase{"AudioOnly", tiny_avi::WriteAudioOnly, "ストリームを開けませんでした", 0, 0},
        OpenCase{"UnconvertiblePixels", WriteUnconvertible, "ストリームを開けませんでした", 0, 0},
        OpenCase{"NoFrames",
                 [](const std::string& p) { return tiny_avi::WriteVideo(p, {.frames = 0}); },
                 "フレームがありません", 0, 0, "Check"},
        OpenCase{"TooWide",
                 [](const std::string& p) {
                     return tiny_avi::WriteVideo(p, {.width = 16385, .height = 2, .frames = 1});
                 },
                 "フレームが大きすぎます（16384×16384まで）", 0, 0, "Check"},
        OpenCase{"TooHigh",
                 [](const std::string& p) {
                     return tiny_avi::WriteVideo(p, {.width = 1, .height = 16385, .frames = 1});
                 },
                 "フレームが大きすぎます（16384×16384まで）", 0, 0, "Check"},
        OpenCase{"Rgb24", [](const std::string& p) { return tiny_avi::WriteVideo(p, {}); }, nullptr,
                 24, kFrameBytes},
        OpenCase{"Rgb16",
                 [](const std::string& p) { return tiny_avi::WriteVideo(p, {.bitCount = 16}); },
                 nullptr, 16, 60 * kHeight},
        // The stored format is 40 bytes plus a colour table; only 40 bytes are kept, and they
        // describe the 24-bit frames the uncompressing view delivers.
        OpenCase{"Paletted8WithColourTable",
                 [](const std::string& p) {
                     return tiny_avi::WriteVideo(p, {.bitCount = 8, .paletteEntries = 256});
                 },
                 nullptr, 24, kFrameBytes}),
    [](const auto& info) { return std::string(info.param.name); });

// The first `frames` frames of file 5 written into file 7.
StreamRef WriteFile7(AviIo& test, const EditWorkspace& ws, LONG frames, AviError& error) {
    StreamRef in = OpenChecked(test.Temp(5));
    return WriteStreamFile(test.Temp(7), in.get(), frames, ws.streamInfo, *ws.frameFormat, error);
}

TEST_F(AviIo, WriteStreamFileCopiesFrameForFrame) {
    ASSERT_TRUE(tiny_avi::WriteVideo(Temp(5), {.frames = 4}));
    UseFormatOf24BitFrames(4);
    AviError error = AviError::CannotOpenFile;
    StreamRef copy = WriteFile7(*this, ws, 4, error);
    EXPECT_EQ(error, AviError::None);
    ASSERT_TRUE(copy);
    EXPECT_EQ(AVIStreamLength(copy.get()), 4);
    for (LONG i = 0; i < 4; ++i)
        EXPECT_EQ(ReadFrameBytes(copy.get(), i), Filled(i));
    BITMAPINFOHEADER header{};
    LONG size = sizeof header;
    ASSERT_EQ(AVIStreamReadFormat(copy.get(), 0, &header, &size), AVIERR_OK);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biWidth, kWidth);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(copy.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwRate, 25u);
}

struct CopyFailure {
    const char* name;
    bool sourceExists;
    LONG frames;
    bool folderExists;
    const char* message;
};
void PrintTo(const CopyFailure& c, std::ostream* out) {
    *out << c.name;
}

class WriteStreamFileFailures : public AviIo, public testing::WithParamInterface<CopyFailure> {};

TEST_P(WriteStreamFileFailures, SayWhyAndLeaveNoFile) {
    const CopyFailure& c = GetParam();
    if (c.sourceExists) {
        ASSERT_TRUE(tiny_avi::WriteVideo(Temp(5), {.frames = 4}));
    }
    ASSERT_TRUE(tiny_avi::WriteVideo(Temp(7), {.frames = 9})); // old content of the destination
    if (!c.folderExists) {
        fs::remove_all(dir);
        ASSERT_TRUE(CopyPath(ws.tempDir, (dir.string() + "/missing/").c_str()));
    }
    UseFormatOf24BitFrames(DWORD(c.frames));

    AviError error = AviError::None;
    EXPECT_FALSE(WriteFile7(*this, ws, c.frames, error));
    EXPECT_EQ(MessageOf(error).text, std::string(c.message));
    EXPECT_FALSE(fs::exists(Temp(7))); // neither the old frames nor a part of the new
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteStreamFileFailures,
                         testing::Values(CopyFailure{"MissingSource", false, 4, true,
                                                     "テンプファイルを作成できませんでした"},
                                         CopyFailure{"SourceShorterThanCount", true, 6, true,
                                                     "テンプファイルを作成できませんでした"},
                                         CopyFailure{"MissingFolder", true, 4, false,
                                                     "ファイルを開けませんでした"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AviIo, ReplaceSlotFileRebuildsSlotAndWorkingStream) {
    ASSERT_TRUE(tiny_avi::WriteVideo(Temp(99), {.frames = 4}));
    UseFormatOf24BitFrames(0);
    PAVISTREAM fake = new FakeStream(6, 0);
    PAVISTREAM working = nullptr;
    ASSERT_EQ(CreateEditableStream(&working, fake), AVIERR_OK);
    AVIStreamRelease(fake);
    ws.currentStream = working;
    ws.currentSlot = 3;
    ws.rangeStart = 1;
    ws.rangeEnd = 2;

    EXPECT_EQ(ReplaceSlotFile(ws, OpenChecked(Temp(99)).get()), AviError::None);
    EXPECT_EQ(FakeStream::alive, 0); // the old working stream was released
    PAVISTREAM slot = ws.slotStreams[3];
    PAVISTREAM current = ws.currentStream;
    ASSERT_NE(slot, nullptr);
    ASSERT_NE(current, nullptr);
    EXPECT_NE(slot, current);
    EXPECT_EQ(PAVISTREAM{ws.aviStream}, nullptr);
    EXPECT_EQ(ws.streamInfo.dwLength, 4u);
    EXPECT_EQ(startBuffer, Filled(1));
    EXPECT_EQ(endBuffer, Filled(2));
    EXPECT_EQ(ReadFrameBytes(slot, 3), Filled(3));

    // The two are independent clones.
    LONG start = 0, length = 2;
    PAVISTREAM cut = nullptr;
    ASSERT_EQ(EditStreamCut(current, &start, &length, &cut), AVIERR_OK);
    AVIStreamRelease(cut);
    EXPECT_EQ(AVIStreamLength(slot), 4);
}

struct BrokenTemp {
    const char* name;
    std::function<bool(const std::string&)> make; // null: the file is missing
};
void PrintTo(const BrokenTemp& c, std::ostream* out) {
    *out << c.name;
}

class ReloadFromBrokenTemp : public AviIo, public testing::WithParamInterface<BrokenTemp> {};

TEST_P(ReloadFromBrokenTemp, KeepsTheWorkingStreamAndGivesTheSlotAClone) {
    if (GetParam().make) {
        ASSERT_TRUE(GetParam().make(Temp(2)));
    }
    PAVISTREAM fake = new FakeStream(6, 40);
    PAVISTREAM working = nullptr;
    ASSERT_EQ(CreateEditableStream(&working, fake), AVIERR_OK);
    AVIStreamRelease(fake);
    ws.currentStream = working;
    ws.currentSlot = 2;
    ws.slotStreams[2] = nullptr; // released by the plug-in before it reported
    startBuffer.assign(kFrameBytes, 7);

    EXPECT_NE(ReplaceSlotFile(ws, OpenChecked(Temp(2)).get()), AviError::None);
    EXPECT_EQ(PAVISTREAM{ws.currentStream}, working);
    PAVISTREAM slot = ws.slotStreams[2];
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(slot, working);
    EXPECT_EQ(AVIStreamLength(slot), 6);
    int32_t value = 0;
    ASSERT_EQ(AVIStreamRead(slot, 5, 6, &value, sizeof value, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(value, 45);
    EXPECT_EQ(ws.streamInfo.dwLength, 6u);
    EXPECT_EQ(startBuffer, std::vector<uint8_t>(kFrameBytes, 7));
}

INSTANTIATE_TEST_SUITE_P(Files, ReloadFromBrokenTemp,
                         testing::Values(BrokenTemp{"Missing", nullptr},
                                         BrokenTemp{"Empty",
                                                    [](const std::string& p) {
                                                        std::ofstream f(p, std::ios::binary);
                                                        return static_cast<bool>(f);
                                                    }},
                                         BrokenTemp{"NoFrames",
                                                    [](const std::string& p) {
                                                        return tiny_avi::WriteVideo(p,
                                                                                    {.frames = 0});
                                                    }}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
