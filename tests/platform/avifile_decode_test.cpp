// Compressed input through the uncompressing view: frame n is the n-th frame in display order
// whichever way it is reached.
#include "avi_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace fixtures;

namespace {

struct CodecCase {
    const char* label;
    EncodeOptions options;
    // libxvid's packed files made through libavformat hold two pictures fewer than chunks
    // (FFmpeg's own decoder gives the same), so their last frames repeat.
    bool everyPictureKept = true;
};

std::string Label(const testing::TestParamInfo<CodecCase>& info) {
    return info.param.label;
}
void PrintTo(const CodecCase& c, std::ostream* out) {
    *out << c.label;
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
    EXPECT_EQ(AVIStreamLength(view), options.frames);
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
    if (!GetParam().everyPictureKept) GTEST_SKIP() << "the file itself lacks pictures";
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

    std::vector<LONG> order(options.frames);
    for (LONG i = 0; i < options.frames; ++i)
        order[i] = i;
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    for (LONG i = options.frames - 1; i >= 0; --i)
        order.push_back(i);
    for (LONG i = 0; i + 1 < options.frames; ++i) { // the editor's two ends
        order.push_back(i);
        order.push_back(options.frames - 1);
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

INSTANTIATE_TEST_SUITE_P(
    Codecs, CompressedInput,
    testing::Values(CodecCase{"mjpeg", Encoding("mjpeg", 1, 0)},
                    CodecCase{"mjpeg_padded_rows", Encoding("mjpeg", 1, 0, "avi", 62)},
                    CodecCase{"mpeg4", Encoding("mpeg4", 12, 0)},
                    CodecCase{"mpeg4_bframes", Encoding("mpeg4", 12, 2)},
                    // packed bitstream: a B-frame shares its reference's chunk
                    CodecCase{"xvid_packed", Encoding("libxvid", 12, 2), false},
                    CodecCase{"h264", Encoding("libx264", 10, 0)},
                    CodecCase{"h264_bframes", Encoding("libx264", 15, 3)},
                    CodecCase{"h264_matroska", Encoding("libx264", 15, 3, "matroska")},
                    CodecCase{"mpeg4_mp4", Encoding("mpeg4", 12, 2, "mp4")}),
    Label);

} // namespace
