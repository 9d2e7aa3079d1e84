// Compressed input through the uncompressing view: frame n is the n-th frame in display order
// whichever way it is reached.
#include "avi_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace fixtures;

namespace {

struct CodecCase {
    const char* label;
    EncodeOptions options;
    // libxvid's packed files made through libavformat lose their last two B-frames (FFmpeg's
    // own decoder gives the same): their frames are the pictures the file holds.
    int picturesLost = 0;
};

std::string Label(const testing::TestParamInfo<CodecCase>& info) {
    return info.param.label;
}
void PrintTo(const CodecCase& c, std::ostream* out) {
    *out << c.label;
}

// Dragging a slider and stepping with the arrow keys: runs forward and back, steps back from a
// sought frame through the pictures decoded on the way to it, jumps. Every frame must be what a
// fresh view reading only that frame gives.
void ExpectScrubbingGivesDirectReads(PAVISTREAM view, const std::string& path, LONG frameBytes) {
    const LONG frames = AVIStreamLength(view);
    std::vector<LONG> order;
    const auto run = [&](LONG from, LONG to, LONG step) {
        for (LONG n = from; step > 0 ? n <= to : n >= to; n += step)
            order.push_back(std::clamp<LONG>(n, 0, frames - 1));
    };
    run(frames / 2 + 3, frames / 2 - 12, -1);
    run(frames / 2 - 11, frames / 2 + 12, 1);
    run(frames - 1, frames - 20, -2);
    run(3, 30, 3);
    std::mt19937 random(11);
    std::uniform_int_distribution<LONG> position(0, frames - 1);
    for (int jump = 0; jump < 12; ++jump) {
        const LONG n = position(random);
        run(n, n - 3, -1);
    }
    std::map<LONG, Frame> direct;
    Frame frame(static_cast<size_t>(frameBytes));
    for (LONG n : order) {
        if (!direct.count(n)) {
            PAVISTREAM fresh = OpenView(path);
            ASSERT_NE(fresh, nullptr);
            ASSERT_EQ(AVIStreamRead(fresh, n, n + 1, frame.data(), frameBytes, nullptr, nullptr),
                      AVIERR_OK);
            AVIStreamRelease(fresh);
            direct[n] = frame;
        }
        ASSERT_EQ(AVIStreamRead(view, n, n + 1, frame.data(), frameBytes, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(frame, direct[n]) << "frame " << n;
    }
}

class CompressedInput : public testing::TestWithParam<CodecCase> {
  protected:
    void SetUp() override {
        options = GetParam().options;
        if (!HasEncoder(options.encoder)) GTEST_SKIP() << options.encoder << " not available";
        path = dir.File("clip." + options.container);
        ASSERT_TRUE(EncodeAvi(path, options));
        frameBytes = static_cast<LONG>(DibHeader(options.width, options.height, 24).biSizeImage);
    }
    EncodeOptions options;
    ScratchDir dir;
    std::string path;
    LONG frameBytes = 0;
};

TEST_P(CompressedInput, ViewDeliversBottomUp24BitFramesOfTheRightSize) {
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    BITMAPINFOHEADER header{};
    LONG size = sizeof header;
    ASSERT_EQ(AVIStreamReadFormat(view, 0, &header, &size), AVIERR_OK);
    const BITMAPINFOHEADER expected = DibHeader(options.width, options.height, 24);
    EXPECT_EQ(std::memcmp(&header, &expected, sizeof header), 0);
    EXPECT_EQ(AVIStreamLength(view), options.frames - GetParam().picturesLost);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(view, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwRate, DWORD(options.rate));
    EXPECT_EQ(info.dwScale, 1u);

    // Rows of widths whose bytes are not a multiple of four end in zeroed padding.
    std::vector<uint8_t> frame(size_t(frameBytes), 0xAB);
    ASSERT_EQ(AVIStreamRead(view, 0, 1, frame.data(), frameBytes, nullptr, nullptr), AVIERR_OK);
    const size_t row = size_t(frameBytes) / size_t(options.height);
    const size_t pixels = size_t(options.width) * 3;
    for (size_t y = 0; y < size_t(options.height); ++y)
        for (size_t x = pixels; x < row; ++x)
            EXPECT_EQ(frame[y * row + x], 0) << "row " << y;
    AVIStreamRelease(view);
}

// Every frame decoded in order looks like the picture encoded at that place, not like its
// neighbours (the decoder delay is accounted for).
TEST_P(CompressedInput, SequentialFramesAreInDisplayOrder) {
    if (GetParam().picturesLost > 0) GTEST_SKIP() << "the file itself lacks pictures";
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    const auto frames = ReadAll(view, frameBytes);
    ASSERT_EQ(frames.size(), size_t(options.frames));
    for (int i = 0; i < options.frames; ++i) {
        ASSERT_FALSE(frames[i].empty()) << "frame " << i;
        int closest = -1;
        double best = 1e18;
        for (int j = std::max(0, i - 3); j <= std::min(options.frames - 1, i + 3); ++j) {
            const double d =
                MeanDifference(frames[i], PictureFor(options.width, options.height, j));
            if (d < best) best = d, closest = j;
        }
        EXPECT_EQ(closest, i) << "frame " << i;
    }
    AVIStreamRelease(view);
}

// Random reads, backward reads and two alternating positions give exactly what sequential
// decoding gives.
TEST_P(CompressedInput, RandomReadsEqualSequentialDecoding) {
    PAVISTREAM sequential = OpenView(path);
    ASSERT_NE(sequential, nullptr);
    const auto expected = ReadAll(sequential, frameBytes);
    AVIStreamRelease(sequential);

    const LONG frames = LONG(expected.size());
    std::vector<LONG> order(frames);
    for (LONG i = 0; i < frames; ++i)
        order[i] = i;
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    for (LONG i = frames - 1; i >= 0; --i)
        order.push_back(i);
    for (LONG i = 0; i + 1 < frames; ++i) { // the editor's two ends
        order.push_back(i);
        order.push_back(frames - 1);
    }
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    Frame frame(static_cast<size_t>(frameBytes));
    for (LONG i : order) {
        ASSERT_EQ(AVIStreamRead(view, i, i + 1, frame.data(), frameBytes, nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(frame, expected[i]) << "frame " << i;
    }
    AVIStreamRelease(view);
}

TEST_P(CompressedInput, ScrubbingGivesDirectReads) {
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    ExpectScrubbingGivesDirectReads(view, path, frameBytes);
    AVIStreamRelease(view);
}

// Empty chunks in a compressed stream repeat the frame before them, in order and at random.
TEST(CompressedEmptyChunks, RepeatThePreviousFrame) {
    if (!HasEncoder("mjpeg")) GTEST_SKIP() << "mjpeg not available";
    ScratchDir dir;
    EncodeOptions o;
    o.encoder = "mjpeg";
    o.gop = 1;
    o.frames = 12;
    o.emptyChunks = {3, 7, 8};
    const std::string path = dir.File("gaps.avi");
    ASSERT_TRUE(EncodeAvi(path, o));
    const LONG bytes = LONG(DibHeader(o.width, o.height, 24).biSizeImage);
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    const auto frames = ReadAll(view, bytes);
    ASSERT_EQ(frames.size(), 12u);
    const int shown[] = {0, 1, 2, 2, 4, 5, 6, 6, 6, 9, 10, 11};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(frames[i], frames[shown[i]]) << "frame " << i;
        EXPECT_LT(MeanDifference(frames[i], PictureFor(o.width, o.height, shown[i])), 8.0) << i;
    }
    Frame frame(static_cast<size_t>(bytes));
    for (LONG i : {8, 3, 7, 0, 11, 2}) {
        ASSERT_EQ(AVIStreamRead(view, i, i + 1, frame.data(), bytes, nullptr, nullptr), AVIERR_OK);
        EXPECT_EQ(frame, frames[i]) << "frame " << i;
    }
    AVIStreamRelease(view);
}

EncodeOptions Encoding(const char* encoder, int gop, int bFrames, const char* container = "avi",
                       int width = 64) {
    EncodeOptions o;
    o.width = width;
    o.encoder = encoder;
    o.gop = gop;
    o.bFrames = bFrames;
    o.container = container;
    return o;
}

// Stepping back frame by frame through a group of pictures longer than the cache keeps on the
// way to a frame: the frames decoded ahead, on a thread of their own while the steps go on, are
// the frames reading forward gives.
TEST(SteppingBack, ThroughALongGroupGivesTheFramesReadForward) {
    if (!HasEncoder("libx264")) GTEST_SKIP() << "libx264 not available";
    // 2 MB keep 18 frames of 160x120 on the way; the cache reads its budget when first used,
    // which in this test's process is below.
    setenv("MIVRA_FRAME_CACHE_MB", "2", 1);
    ScratchDir dir;
    EncodeOptions o = Encoding("libx264", 150, 0, "avi", 160);
    o.height = 120;
    o.frames = 150;
    const std::string path = dir.File("group.avi");
    ASSERT_TRUE(EncodeAvi(path, o));
    const LONG bytes = LONG(DibHeader(o.width, o.height, 24).biSizeImage);
    PAVISTREAM forward = OpenView(path), view = OpenView(path);
    ASSERT_NE(forward, nullptr);
    ASSERT_NE(view, nullptr);
    const std::vector<Frame> expected = ReadAll(forward, bytes);
    AVIStreamRelease(forward);
    ASSERT_EQ(expected.size(), size_t(o.frames));
    Frame frame(static_cast<size_t>(bytes));
    for (LONG n = o.frames - 1; n >= 0; --n) {
        ASSERT_EQ(AVIStreamRead(view, n, 1, frame.data(), bytes, nullptr, nullptr), AVIERR_OK);
        ASSERT_EQ(frame, expected[size_t(n)]) << "frame " << n;
    }
    AVIStreamRelease(view);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CompressedInput,
    testing::Values(CodecCase{"mjpeg", Encoding("mjpeg", 1, 0)},
                    CodecCase{"mjpeg_padded_rows", Encoding("mjpeg", 1, 0, "avi", 62)},
                    CodecCase{"mpeg4", Encoding("mpeg4", 12, 0)},
                    CodecCase{"mpeg4_bframes", Encoding("mpeg4", 12, 2)},
                    // packed bitstream: a B-frame shares its reference's chunk
                    CodecCase{"xvid_packed", Encoding("libxvid", 12, 2), 2},
                    CodecCase{"h264", Encoding("libx264", 10, 0)},
                    CodecCase{"h264_bframes", Encoding("libx264", 15, 3)},
                    CodecCase{"h264_matroska", Encoding("libx264", 15, 3, "matroska")},
                    CodecCase{"mpeg4_mp4", Encoding("mpeg4", 12, 2, "mp4")}),
    Label);

// Files as the ffmpeg command line writes them, read against ffmpeg's own decoding of every
// picture (-vsync passthrough): the same count, the same pictures in the same order.
struct CommandLineCase {
    const char* label;
    const char* encoder; // what must be there to make the file
    std::string make;    // the commands, with IN and OUT for the input and the file made
    DWORD rate;          // frames per second the view must give
};
std::string CommandLineLabel(const testing::TestParamInfo<CommandLineCase>& info) {
    return info.param.label;
}
void PrintTo(const CommandLineCase& c, std::ostream* out) {
    *out << c.label;
}

constexpr int kClipWidth = 96;
constexpr int kClipHeight = 64;

bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at; (at = text.find(what)) != std::string::npos;)
        text.replace(at, what.size(), with);
    return text;
}

// ffmpeg's pictures, top-down rows without padding, made DIBs: bottom-up, rows padded.
std::vector<Frame> FfmpegFrames(const std::string& path) {
    const std::string command = "ffmpeg -v error -i '" + path +
                                "' -vsync passthrough -f rawvideo -pix_fmt bgr24 - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 1 << 16> chunk{};
    for (size_t n; pipe && (n = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + long(n));
    const size_t row = size_t(kClipWidth) * 3;
    const size_t dibRow = (row + 3) & ~size_t{3};
    std::vector<Frame> frames;
    for (size_t at = 0; at + row * kClipHeight <= bytes.size(); at += row * kClipHeight) {
        Frame frame(dibRow * kClipHeight, 0);
        for (size_t y = 0; y < size_t(kClipHeight); ++y)
            std::memcpy(&frame[dibRow * (kClipHeight - 1 - y)], &bytes[at + row * y], row);
        frames.push_back(std::move(frame));
    }
    return frames;
}

class CommandLineFile : public testing::TestWithParam<CommandLineCase> {
  protected:
    void SetUp() override {
        if (!HasEncoder(GetParam().encoder)) GTEST_SKIP() << GetParam().encoder << " not available";
        path = dir.File("clip.avi");
        const std::string input = "-f lavfi -i testsrc2=size=" + std::to_string(kClipWidth) + "x" +
                                  std::to_string(kClipHeight) +
                                  ":rate=" + std::to_string(GetParam().rate) + " -frames:v 120";
        const std::string make = Replace(Replace(GetParam().make, "IN", input), "OUT", path);
        ASSERT_TRUE(RunQuietly(Replace(make, "MP4", dir.File("clip.mp4")))) << make;
        expected = FfmpegFrames(path);
        ASSERT_GT(expected.size(), 100u);
        view = OpenView(path);
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override {
        if (view) AVIStreamRelease(view);
    }
    LONG FrameBytes() const { return LONG(expected.front().size()); }
    ScratchDir dir;
    std::string path;
    std::vector<Frame> expected;
    PAVISTREAM view = nullptr;
};

TEST_P(CommandLineFile, ShowsFfmpegsPicturesAtTheRealRate) {
    EXPECT_EQ(AVIStreamLength(view), LONG(expected.size()));
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(view, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwRate / info.dwScale, GetParam().rate);
    EXPECT_EQ(info.dwRate % info.dwScale, 0u);
    const auto frames = ReadAll(view, FrameBytes());
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], expected[i]) << "frame " << i;
}

TEST_P(CommandLineFile, RandomSeeksGiveFfmpegsPictures) {
    std::mt19937 random(20);
    std::uniform_int_distribution<LONG> position(0, LONG(expected.size()) - 1);
    Frame frame(expected.front().size());
    for (int seek = 0; seek < 100; ++seek) {
        const LONG n = position(random);
        ASSERT_EQ(AVIStreamRead(view, n, n + 1, frame.data(), FrameBytes(), nullptr, nullptr),
                  AVIERR_OK);
        ASSERT_EQ(frame, expected[size_t(n)]) << "frame " << n << ", seek " << seek;
    }
}

TEST_P(CommandLineFile, ScrubbingGivesDirectReads) {
    ExpectScrubbingGivesDirectReads(view, path, FrameBytes());
}

INSTANTIATE_TEST_SUITE_P(
    BFrames, CommandLineFile,
    testing::Values(
        // MP4 timestamps need a finer tick in AVI: every other chunk is empty.
        CommandLineCase{"h264_copied_from_mp4", "libx264",
                        "ffmpeg -v error -y IN -c:v libx264 -g 30 -bf 3 -pix_fmt yuv420p MP4 && "
                        "ffmpeg -v error -y -i MP4 -c copy OUT",
                        30},
        CommandLineCase{"xvid_packed", "libxvid",
                        "ffmpeg -v error -y IN -c:v libxvid -g 24 -bf 2 -pix_fmt yuv420p OUT", 25},
        CommandLineCase{"h264_bframes", "libx264",
                        "ffmpeg -v error -y IN -c:v libx264 -g 25 -bf 3 -pix_fmt yuv420p OUT", 25}),
    CommandLineLabel);

} // namespace
