// The mask composite over slots' frames, without a window.
#include "mask_render.h"

#include "avi_fixtures.h"
#include "render_all.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

using fixtures::Frame;
using mask::MaskParams;

// 4 x 2 pixels of 24 bits: rows of 12 bytes, no padding.
constexpr int W = 4, H = 2;
constexpr int kFrames = 4;
constexpr uint8_t kKey[3] = {0, 0, 255}; // blue, green, red: pure red

Frame Solid(uint8_t blue, uint8_t green, uint8_t red) {
    Frame frame;
    for (int i = 0; i < W * H; ++i)
        frame.insert(frame.end(), {blue, green, red});
    return frame;
}

Frame BaseFrame(int n) {
    return Solid(uint8_t(10 + n), uint8_t(10 + n), uint8_t(10 + n));
}

// Background frame b: blue tells the frame.
Frame BackFrame(int b) {
    return Solid(uint8_t(b), 100, 200);
}

// Mask frame m: the key in columns 0 .. m, grey right of them.
Frame MaskFrame(int m) {
    Frame frame = Solid(90, 90, 90);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x <= m && x < W; ++x)
            std::copy(kKey, kKey + 3, &frame[size_t(y * W + x) * 3]);
    return frame;
}

struct Case {
    const char* name;
    int32_t start, end;
    int32_t maskStart;
    bool maskHolds;
    int32_t backStart;
    bool backHolds;
    bool useBackground;
    bool stillMask; // the mask stream holds only mask frame 0
    // Per frame, per column: o the base's pixel, k the key, a digit background frame's pixel.
    const char* columns;
    const char* kinds;

    // Test listings name a case instead of dumping its bytes.
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class MaskRenderTest : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        std::vector<Frame> base, masks, backs;
        for (int n = 0; n < kFrames; ++n) {
            base.push_back(BaseFrame(n));
            masks.push_back(MaskFrame(n));
            backs.push_back(BackFrame(n));
        }
        base_ = Open("base.avi", base);
        mask_ = Open("mask.avi", masks);
        back_ = Open("back.avi", backs);
        still_ = Open("still.avi", {MaskFrame(0)});
    }
    void TearDown() override {
        for (PAVISTREAM stream : {base_, mask_, back_, still_})
            if (stream) AVIStreamRelease(stream);
    }

    PAVISTREAM Open(const std::string& name, const std::vector<Frame>& frames) {
        const std::string path = dir_.File(name);
        EXPECT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(W, H),
                                       fixtures::DibHeader(W, H, 24), frames));
        PAVISTREAM stream = fixtures::OpenView(path);
        EXPECT_NE(stream, nullptr);
        return stream;
    }

    MaskParams Params(const Case& c) {
        MaskParams params;
        params.base = base_;
        params.format = fixtures::DibHeader(W, H, 24);
        params.frameCount = kFrames;
        params.start = c.start;
        params.end = c.end;
        params.mask = {c.stillMask ? still_ : mask_, params.format, c.stillMask ? 1 : kFrames,
                       c.maskStart, c.maskHolds};
        params.back = {back_, params.format, kFrames, c.backStart, c.backHolds};
        params.useBackground = c.useBackground;
        std::copy(kKey, kKey + 3, params.key);
        return params;
    }

    fixtures::ScratchDir dir_;
    PAVISTREAM base_ = nullptr, mask_ = nullptr, back_ = nullptr, still_ = nullptr;
};

// The frame `columns` describes for output frame n.
Frame Expected(const char* columns, int n) {
    Frame frame = BaseFrame(n);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const char what = columns[n * (W + 1) + x];
            uint8_t* pixel = &frame[size_t(y * W + x) * 3];
            if (what == 'k') std::copy(kKey, kKey + 3, pixel);
            if (what >= '0' && what <= '9') {
                const Frame back = BackFrame(what - '0');
                std::copy_n(&back[0], 3, pixel);
            }
        }
    return frame;
}

TEST_P(MaskRenderTest, KeyedPixelsOfTheRangeShowTheBackground) {
    const Case& c = GetParam();
    mask::MaskRenderer renderer(Params(c));
    const RenderedFrames out = RenderAll(renderer);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.kinds, c.kinds);
    ASSERT_EQ(out.frames.size(), size_t(kFrames));
    for (int n = 0; n < kFrames; ++n)
        EXPECT_EQ(out.frames[n], Expected(c.columns, n)) << "frame " << n;
}

const Case kCases[] = {
    {"LinkedStarts", 1, 2, 0, false, 2, false, true, false, "oooo 2ooo 33oo oooo", "PMMP"},
    {"MaskHolds", 1, 3, 1, true, 0, false, true, false, "oooo 00oo 11oo 22oo", "PMMM"},
    {"BackgroundHolds", 0, 2, 0, false, 3, true, true, false, "3ooo 33oo 333o oooo", "MMMP"},
    {"NoBackground", 2, 3, 2, false, 0, false, false, false, "oooo oooo kkko kkkk", "PPMM"},
    // A one-frame mask under a longer range repeats its frame.
    {"ShortMaskRepeatsItsLast", 0, 2, 0, false, 0, false, true, true, "0ooo 1ooo 2ooo oooo",
     "MMMP"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MaskRenderTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST_F(MaskRenderTest, AnUnreadableBaseFrameStopsTheRender) {
    MaskParams params = Params(kCases[0]);
    params.frameCount = kFrames + 1; // one frame more than the base holds
    mask::MaskRenderer renderer(params);
    const RenderedFrames out = RenderAll(renderer);
    EXPECT_EQ(out.kinds, "PMMP");
    EXPECT_EQ(out.error, "フレームを読み込めませんでした");
}

} // namespace
