// The zoom's render without a window, over tiny AVI files: which frames it zooms, what they
// show, and what it says when a frame cannot be read.
#include "avi_fixtures.h"
#include "avifile/dib.h"
#include "zoom_render.h"
#include "zoom_setting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using fixtures::Frame;
using zoom::ZoomParams;
using zoom::ZoomRenderer;

// Rows without padding: the kernels take a frame as packed rows.
constexpr int kWidth = 4, kHeight = 2;

// Every byte of pixel (x, y) of frame n: one step of ten per column, so that the average of
// two neighbours is column x + 0.5.
uint8_t Value(int n, double x, int y) {
    return uint8_t(40 * n + 10 * x + y + 1);
}

// A frame whose pixel (x, y) shows source column columns[x] and row rows[y] of frame n; a
// column below 0 is black, and so is the row padding.
Frame Picture(int n, int bitCount, const std::vector<double>& columns, std::vector<int> rows) {
    const int bpp = bitCount / 8;
    const auto row = size_t(avi::DibRowBytes(kWidth, bitCount));
    Frame frame(row * kHeight, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int b = 0; b < bpp && columns[size_t(x)] >= 0; ++b)
                frame[y * row + size_t(x * bpp + b)] =
                    Value(n, columns[size_t(x)], rows[size_t(y)]);
    return frame;
}

// What the renderer gives for a frame: the source frame passed, a picture made, or black.
struct Shown {
    std::vector<double> columns; // none: the source frame passes unchanged
    std::vector<int> rows = {1, 1};
};
const Shown kPassed{};
const Shown kBlack{{-1, -1, -1, -1}};
const std::vector<double> kUnzoomed = {0, 1, 2, 3};

struct RenderCase {
    const char* name;
    int rangeStart, rangeEnd;
    Setting start, end;
    std::vector<Shown> frames;
    int bitCount = 24;
    bool filter = false;
    uint16_t taps = 0;
};

void PrintTo(const RenderCase& c, std::ostream* out) {
    *out << c.name;
}

class ZoomStream : public testing::Test {
  protected:
    // A stream of `frames` frames of Value pictures.
    PAVISTREAM Open(int frames, int bitCount) {
        std::vector<Frame> pictures;
        for (int n = 0; n < frames; ++n)
            pictures.push_back(Picture(n, bitCount, kUnzoomed, {0, 1}));
        const std::string path = dir.File("source.avi");
        EXPECT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(kWidth, kHeight),
                                       fixtures::DibHeader(kWidth, kHeight, bitCount), pictures));
        stream = fixtures::OpenView(path);
        return stream;
    }
    void TearDown() override {
        if (stream) AVIStreamRelease(stream);
    }

    fixtures::ScratchDir dir;
    PAVISTREAM stream = nullptr;
};

class ZoomRender : public ZoomStream, public testing::WithParamInterface<RenderCase> {};

// At 100 % the picture moves down one line (the top line stays); the right tap averages each
// pixel with its right neighbour, the last column has none.
TEST_P(ZoomRender, ZoomsTheRangeAndPassesTheRest) {
    const RenderCase& c = GetParam();
    ZoomParams params;
    params.stream = Open(int(c.frames.size()), c.bitCount);
    ASSERT_NE(params.stream, nullptr);
    params.format = fixtures::DibHeader(kWidth, kHeight, c.bitCount);
    params.frameCount = int64_t(c.frames.size());
    params.rangeStart = c.rangeStart;
    params.rangeEnd = c.rangeEnd;
    params.start = KeyOf(c.start);
    params.end = KeyOf(c.end);
    params.filter = c.filter;
    params.taps = c.taps;

    ZoomRenderer renderer(params);
    ASSERT_EQ(renderer.frameCount(), int64_t(c.frames.size()));
    Frame pixels(params.format.biSizeImage, 0xEE);
    for (size_t n = 0; n < c.frames.size(); ++n) {
        const Shown& shown = c.frames[n];
        const plugin::FrameResult result = renderer.render(int64_t(n), pixels.data());
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.made, !shown.columns.empty()) << "frame " << n;
        const Frame expected = shown.columns.empty()
                                   ? Picture(int(n), c.bitCount, kUnzoomed, {0, 1})
                                   : Picture(int(n), c.bitCount, shown.columns, shown.rows);
        EXPECT_EQ(pixels, expected) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ZoomRender,
    testing::Values(
        RenderCase{"OnlyTheRange", 1, 2, {}, {}, {kPassed, {kUnzoomed}, {kUnzoomed}, kPassed}},
        RenderCase{"XZoomFrom100To300",
                   0,
                   2,
                   {},
                   {300},
                   {{kUnzoomed}, {{0, 0, 1, 1}}, {{0, 0, 0, 1}}, kPassed}},
        RenderCase{"PositionOneColumnRight", 0, 0, {100, 100, 1}, {}, {{{1, 2, 3, -1}}, kPassed}},
        RenderCase{"ZeroZoomIsBlack", 0, 1, {100, 0}, {100, 0}, {kBlack, kBlack}},
        RenderCase{"RightTap", 0, 0, {}, {}, {{{0.5, 1.5, 2.5, 3}}}, 24, true, 0x04},
        RenderCase{"TapsWithoutFilter", 0, 0, {}, {}, {{kUnzoomed}}, 24, false, 0x04},
        RenderCase{"SixteenBitsAreNotSmoothed", 0, 0, {}, {}, {{kUnzoomed}}, 16, true, 0xFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZoomStream, AFrameTheStreamCannotDeliverFails) {
    ZoomParams params;
    params.stream = Open(2, 24);
    params.format = fixtures::DibHeader(kWidth, kHeight, 24);
    params.frameCount = 3;
    params.rangeEnd = 2;
    ZoomRenderer renderer(params);
    Frame pixels(params.format.biSizeImage);
    EXPECT_TRUE(renderer.render(0, pixels.data()).ok);
    EXPECT_TRUE(renderer.render(1, pixels.data()).ok);
    const plugin::FrameResult result = renderer.render(2, pixels.data());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "フレームを読み込めませんでした");
}

} // namespace
