// The cross-fade's render without a window, over tiny AVI files of one-coloured frames: which
// frames it blends, by how much, what it appends, and what it says when a frame cannot be read.
#include "avi_fixtures.h"
#include "crossfade_render.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using fixtures::Frame;
using Pixel = std::vector<uint8_t>;
using crossfade::CrossfadeParams;

constexpr int kWidth = 4, kHeight = 2; // rows without padding in 16 and in 24 bits

Pixel Grey(int v) {
    return {uint8_t(v), uint8_t(v), uint8_t(v)};
}

// Pure red with blue n, in 16 bits (5-5-5) and widened to 24 (channels shifted up by three).
Pixel Red16(int n) {
    return {uint8_t(n), 0x7C};
}
Pixel Red24(int n) {
    return {uint8_t(n << 3), 0, 0xF8};
}

Frame Filled(const Pixel& pixel) {
    Frame frame;
    for (int i = 0; i < kWidth * kHeight; ++i)
        frame.insert(frame.end(), pixel.begin(), pixel.end());
    return frame;
}

struct Output {
    Pixel pixel;
    bool made;
};

struct RenderCase {
    const char* name;
    std::vector<Pixel> source, destination; // one colour a frame
    int rangeStart, rangeEnd, destinationStart, destinationEnd;
    int startTrans, endTrans;
    bool insertOverStream;
    std::vector<Output> expected;
};

void PrintTo(const RenderCase& c, std::ostream* out) {
    *out << c.name;
}

class CrossfadeStreams : public testing::Test {
  protected:
    void TearDown() override {
        for (PAVISTREAM stream : streams)
            AVIStreamRelease(stream);
    }
    // A stream of one-coloured frames, and its format.
    PAVISTREAM Open(const std::vector<Pixel>& colours, BITMAPINFOHEADER& format) {
        format = fixtures::DibHeader(kWidth, kHeight, colours.at(0).size() == 2 ? 16 : 24);
        std::vector<Frame> frames;
        for (const Pixel& colour : colours)
            frames.push_back(Filled(colour));
        const std::string path = dir.File(std::to_string(streams.size()) + ".avi");
        EXPECT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(kWidth, kHeight), format, frames));
        streams.push_back(fixtures::OpenView(path));
        return streams.back();
    }
    CrossfadeParams Pair(const std::vector<Pixel>& source, const std::vector<Pixel>& destination) {
        CrossfadeParams p;
        p.source = Open(source, p.sourceFormat);
        p.sourceFrames = int32_t(source.size());
        p.destination = Open(destination, p.destinationFormat);
        p.destinationFrames = int32_t(destination.size());
        return p;
    }

    fixtures::ScratchDir dir;
    std::vector<PAVISTREAM> streams;
};

class CrossfadeRender : public CrossfadeStreams, public testing::WithParamInterface<RenderCase> {};

// A weight w of a range of length m blends byte s with d into s - truncate((s - d) * w / m).
TEST_P(CrossfadeRender, BlendsTheRangeAndAppendsTheRest) {
    const RenderCase& c = GetParam();
    CrossfadeParams params = Pair(c.source, c.destination);
    params.rangeStart = c.rangeStart;
    params.rangeEnd = c.rangeEnd;
    params.destinationStart = c.destinationStart;
    params.destinationEnd = c.destinationEnd;
    params.startTransPercent = c.startTrans;
    params.endTransPercent = c.endTrans;
    params.insertOverStream = c.insertOverStream;

    crossfade::CrossfadeRenderer renderer(params);
    ASSERT_EQ(renderer.frameCount(), int64_t(c.expected.size()));
    Frame pixels(renderer.format().biSizeImage, 0xEE);
    for (size_t n = 0; n < c.expected.size(); ++n) {
        const plugin::FrameResult result = renderer.render(int64_t(n), pixels.data());
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.made, c.expected[n].made) << "frame " << n;
        EXPECT_EQ(pixels, Filled(c.expected[n].pixel)) << "frame " << n;
    }
}

const std::vector<Pixel> kSource = {Grey(10), Grey(20), Grey(30), Grey(40)};
const std::vector<Pixel> kDestination = {Grey(100), Grey(110), Grey(120), Grey(130), Grey(140)};

INSTANTIATE_TEST_SUITE_P(
    Settings, CrossfadeRender,
    testing::Values(
        RenderCase{"DefaultsShowTheDestination",
                   kSource,
                   kDestination,
                   0,
                   1,
                   0,
                   1,
                   100,
                   0,
                   false,
                   {{Grey(100), true}, {Grey(110), true}, {Grey(30), false}, {Grey(40), false}}},
        RenderCase{"HalfWay",
                   kSource,
                   kDestination,
                   1,
                   3,
                   2,
                   4,
                   50,
                   50,
                   false,
                   {{Grey(10), false}, {Grey(70), true}, {Grey(80), true}, {Grey(90), true}}},
        // Weights 1, 0 (nothing of the destination), then below 0 taken as 1, of a range of 2.
        RenderCase{"RisingPassesTheFrameOfWeightZero",
                   kSource,
                   kDestination,
                   0,
                   2,
                   0,
                   2,
                   0,
                   100,
                   false,
                   {{Grey(55), true}, {Grey(20), false}, {Grey(75), true}, {Grey(40), false}}},
        RenderCase{"PastTheDestinationsEnd",
                   kSource,
                   {Grey(100), Grey(110)},
                   0,
                   2,
                   0,
                   2,
                   100,
                   0,
                   false,
                   {{Grey(55), true}, {Grey(110), true}, {Grey(30), false}, {Grey(40), false}}},
        RenderCase{"InsertOverStream",
                   {Grey(10), Grey(20)},
                   kDestination,
                   0,
                   1,
                   1,
                   2,
                   100,
                   0,
                   true,
                   {{Grey(110), true}, {Grey(120), true}, {Grey(130), true}, {Grey(140), true}}},
        RenderCase{"SixteenBitsWidened",
                   {Grey(10), Grey(20)},
                   {Red16(1), Red16(2), Red16(3)},
                   0,
                   1,
                   0,
                   1,
                   100,
                   0,
                   true,
                   {{Red24(1), true}, {Red24(2), true}, {Red24(3), true}}},
        RenderCase{"TwentyFourBitsNarrowed",
                   {Red16(9), Red16(9)},
                   {Red24(4), Red24(5), Red24(6)},
                   0,
                   1,
                   0,
                   1,
                   100,
                   0,
                   true,
                   {{Red16(4), true}, {Red16(5), true}, {Red16(6), true}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The source's frame 4 and the destination's frame 2 lie past their streams' ends.
TEST_F(CrossfadeStreams, AFrameTheStreamCannotDeliverFailsWithItsNumber) {
    struct {
        int sourceFrames, destinationFrames;
        int failing;
        const char* text;
    } const cases[] = {
        {5, 2, 4, "このストリームのフレーム 4 を読めませんでした"},
        {4, 3, 2, "合成するストリームのフレーム 2 を読めませんでした"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CrossfadeParams params = Pair(kSource, {Grey(100), Grey(110)});
        params.sourceFrames = c.sourceFrames;
        params.destinationFrames = c.destinationFrames;
        params.rangeEnd = 2;
        params.destinationEnd = 2;
        crossfade::CrossfadeRenderer renderer(params);
        Frame pixels(params.sourceFormat.biSizeImage);
        for (int n = 0; n < c.failing; ++n)
            ASSERT_TRUE(renderer.render(n, pixels.data()).ok) << n;
        const plugin::FrameResult result = renderer.render(c.failing, pixels.data());
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.text);
    }
}

} // namespace
