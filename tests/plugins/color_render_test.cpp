// The colour change's render over a slot's frames, without a window.
#include "color_render.h"

#include "avi_fixtures.h"
#include "render_all.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using fixtures::Frame;

// 8 x 2 pixels of 24 bits: rows of 24 bytes, so pixel p is bytes 3p (blue) .. 3p + 2 (red).
constexpr int kWidth = 8, kHeight = 2, kPixels = kWidth * kHeight;
constexpr int kFrames = 6;

// Every byte of source frame n.
int SourceByte(int n) {
    return 10 + 40 * n;
}

struct Triple {
    int16_t red = 0, green = 0, blue = 0;
};

struct Case {
    const char* name;
    int32_t rangeStart, rangeEnd;
    Triple offsets, steps;
    bool notLooping;
    int32_t pixelX, pixelY; // -1: the frame's width and height, as the dialog starts
    const char* kinds;
    // Byte c (0 blue, 1 green, 2 red) of pixel p of frame n.
    std::function<int(int n, int p, int c)> byte;

    // Test listings name a case instead of dumping its bytes.
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class ColorRenderTest : public testing::TestWithParam<Case> {
  protected:
    ColorParams Params(const Case& c) {
        ColorParams params;
        params.format = fixtures::DibHeader(kWidth, kHeight, 24);
        InitColorMasks(params.state, params.format);
        Pack(params, c.offsets, params.state.offsetR, params.state.offsetG, params.state.offsetB);
        Pack(params, c.steps, params.state.stepR, params.state.stepG, params.state.stepB);
        params.notLooping = c.notLooping;
        params.pixelX = c.pixelX < 0 ? kWidth : c.pixelX;
        params.pixelY = c.pixelY < 0 ? kHeight : c.pixelY;
        params.source = source_;
        params.frameCount = kFrames;
        params.rangeStart = c.rangeStart;
        params.rangeEnd = c.rangeEnd;
        return params;
    }

    void SetUp() override {
        std::vector<Frame> frames;
        for (int n = 0; n < kFrames; ++n)
            frames.emplace_back(size_t(kPixels) * 3, uint8_t(SourceByte(n)));
        const std::string path = dir_.File("source.avi");
        ASSERT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(kWidth, kHeight),
                                       fixtures::DibHeader(kWidth, kHeight, 24), frames));
        source_ = fixtures::OpenView(path);
        ASSERT_NE(source_, nullptr);
    }
    void TearDown() override {
        if (source_) AVIStreamRelease(source_);
    }

    static void Pack(const ColorParams& params, Triple t, int32_t& r, int32_t& g, int32_t& b) {
        const int16_t settings[3] = {t.red, t.green, t.blue};
        int32_t packed[3];
        PackColorTriple(params.state, settings, packed);
        r = packed[0], g = packed[1], b = packed[2];
    }

    fixtures::ScratchDir dir_;
    PAVISTREAM source_ = nullptr;
};

TEST_P(ColorRenderTest, RampsTheOffsetsOverTheRangeAndPassesTheRestThrough) {
    const Case& c = GetParam();
    ColorRenderer renderer(Params(c));
    const RenderedFrames out = RenderAll(renderer);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.kinds, c.kinds);
    ASSERT_EQ(out.frames.size(), size_t(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        Frame expected(size_t(kPixels) * 3);
        for (int p = 0; p < kPixels; ++p)
            for (int ch = 0; ch < 3; ++ch)
                expected[3 * p + ch] = uint8_t(c.byte(n, p, ch));
        EXPECT_EQ(out.frames[n], expected) << "frame " << n;
    }
}

int Same(int n, int, int) {
    return SourceByte(n);
}

// The source byte, with `add` added to channel `channel` of frames first .. last.
std::function<int(int, int, int)> Adding(int channel, int first, int last,
                                         std::function<int(int n, int p)> add) {
    return [=](int n, int p, int c) {
        const int byte = SourceByte(n);
        return c == channel && n >= first && n <= last ? byte + add(n, p) : byte;
    };
}

const Case kCases[] = {
    {"Defaults", 1, 3, {}, {}, false, -1, -1, "PPPPPP", Same},
    // Frame 1 takes the plain offsets, which are 0 with no step inside the frame.
    {"StepRedOverRange",
     2,
     4,
     {},
     {5, 0, 0},
     false,
     -1,
     -1,
     "PPMMMP",
     Adding(2, 2, 4, [](int n, int) { return 5 * (n - 1); })},
    // Frame -1 of the ramp is not rendered: frame 0 takes the plain offsets.
    {"RangeFromFrameZero",
     0,
     1,
     {0, 0, 3},
     {0, 1, 0},
     false,
     -1,
     -1,
     "MMPPPP",
     [](int n, int, int c) {
         const int byte = SourceByte(n);
         if (n > 1) return byte;
         return c == 0 ? byte + 3 : c == 1 ? byte + n : byte;
     }},
    // Steps after the first pixel also when the frame's offsets are 0.
    {"StepAfterTheFirstPixel",
     0,
     1,
     {},
     {0, 4, 0},
     false,
     0,
     0,
     "MMPPPP",
     Adding(1, 0, 1, [](int n, int p) { return 4 * n + (p > 0 ? 4 : 0); })},
    // Frame 4's red, 170 + 100, wraps to 14.
    {"LoopingWraps",
     4,
     4,
     {100, 0, 0},
     {},
     false,
     -1,
     -1,
     "PPPMMP",
     [](int n, int, int c) {
         const int byte = SourceByte(n);
         return c == 2 && n >= 3 && n <= 4 ? (byte + 100) % 256 : byte;
     }},
    {"NotLoopingSaturates",
     3,
     4,
     {100, 0, 0},
     {},
     true,
     -1,
     -1,
     "PPMMMP",
     [](int n, int, int c) {
         const int byte = SourceByte(n);
         return c == 2 && n >= 2 && n <= 4 ? std::min(byte + 100, 255) : byte;
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, ColorRenderTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST_F(ColorRenderTest, AFrameTheSlotCannotDeliverStopsTheRender) {
    ColorParams params = Params(kCases[1]);
    params.frameCount = kFrames + 1; // the record promises a frame the slot does not hold
    ColorRenderer renderer(params);
    const RenderedFrames out = RenderAll(renderer);
    EXPECT_EQ(out.kinds, "PPMMMP");
    EXPECT_EQ(out.error, "フレーム 6 を読み込めませんでした");
}

} // namespace
