#include "zoom_resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// The filter one byte at a time in pixel order, with a division each; d and s may be the same
// buffer.
void ReferenceSmooth(uint8_t* d, const uint8_t* s, uint16_t taps, int W, int H) {
    const int a = 3 * W;
    const struct {
        int bit, di, dj;
    } neighbours[] = {
        {0x01, 1, 0},  {0x02, 1, 3},   {0x04, 0, 3},  {0x08, -1, 3},
        {0x10, -1, 0}, {0x20, -1, -3}, {0x40, 0, -3}, {0x80, 1, -3},
    };
    for (int i = 0; i < H; ++i)
        for (int j = 0; j < a; j += 3)
            for (int k = 0; k < 3; ++k) {
                int sum = 0, u = 0;
                for (auto n : neighbours) {
                    const int ni = i + n.di, nj = j + n.dj;
                    if (!(taps & n.bit) || ni < 0 || ni >= H || nj < 0 || nj >= a) continue;
                    sum += s[ni * a + nj + k];
                    ++u;
                }
                d[i * a + j + k] = static_cast<uint8_t>((sum + s[i * a + j + k]) / (u + 1));
            }
}

// Each pixel names its own column and row.
std::vector<uint8_t> LabelledFrame(int W, int H, int bitCount) {
    const int bpp = bitCount / 8;
    std::vector<uint8_t> frame(size_t(W) * H * bpp);
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            uint8_t* p = &frame[(size_t(r) * W + c) * bpp];
            p[0] = static_cast<uint8_t>(c + 1);
            p[1] = static_cast<uint8_t>(r + 1);
            if (bpp == 3) p[2] = 0x80;
        }
    return frame;
}

// Column (or -1 for black) shown at each pixel of a destination row.
std::vector<int> ColumnsOfRow(const std::vector<uint8_t>& frame, int W, int row, int bpp) {
    std::vector<int> columns;
    for (int c = 0; c < W; ++c)
        columns.push_back(int(frame[(size_t(row) * W + c) * bpp]) - 1);
    return columns;
}

int RowShown(const std::vector<uint8_t>& frame, int W, int row, int bpp) {
    return int(frame[size_t(row) * W * bpp + 1]) - 1;
}

ZoomKey Key(int W, int H, double xZoom, double yZoom, double xPos = 0, double yPos = 0) {
    ZoomKey k{};
    k.xZoom = xZoom;
    k.yZoom = yZoom;
    k.xSize = W * (xZoom / 100);
    k.ySize = H * (yZoom / 100);
    k.xPos = xPos;
    k.yPos = yPos;
    return k;
}

TEST(ZoomSteps, InterpolateAndHoldAtTheEndKey) {
    struct Case {
        double startZoom, endZoom;
        int32_t rangeStart, rangeEnd;
        int32_t flags;
        std::vector<double> zooms;
    };
    const Case cases[] = {
        {100, 200, 0, 4, 0, {100, 125, 150, 175, 200, 200}},
        {200, 100, 3, 5, 3, {200, 150, 100, 100}},
        {100, 100, 0, 2, 3, {100, 100, 100}},
        {100, 300, 7, 7, 0, {100, 100}},
    };
    for (const Case& c : cases) {
        ZoomKey start = Key(8, 8, c.startZoom, c.startZoom, 0, 10);
        ZoomKey end = Key(8, 8, c.endZoom, c.endZoom, 4, -10);
        ComputeZoomSteps(start, end, c.rangeStart, c.rangeEnd);
        EXPECT_EQ(start.flags, c.flags);
        const double n = c.rangeEnd - c.rangeStart;
        for (size_t k = 0; k < c.zooms.size(); ++k) {
            EXPECT_DOUBLE_EQ(start.xZoom, c.zooms[k]) << k;
            EXPECT_DOUBLE_EQ(start.yZoom, c.zooms[k]) << k;
            if (n > 0) {
                EXPECT_NEAR(start.xPos, 4.0 * k / n, 1e-9); // positions are not held
            }
            AdvanceZoomKey(start, end);
        }
    }
}

TEST(ZoomFrame, IdentityMovesThePictureDownOneLine) {
    const int W = 6, H = 5;
    const auto source = LabelledFrame(W, H, 24);
    std::vector<uint8_t> out(source.size(), 0xEE);
    ZoomFrame(Key(W, H, 100, 100), source.data(), out.data(), W, H, 24);
    for (int r = 0; r < H; ++r) {
        EXPECT_EQ(RowShown(out, W, r, 3), r == H - 1 ? H - 1 : r + 1) << r;
        EXPECT_EQ(ColumnsOfRow(out, W, r, 3), (std::vector<int>{0, 1, 2, 3, 4, 5})) << r;
    }
}

TEST(ZoomFrame, HorizontalZooms) {
    struct Case {
        double xZoom, xPos;
        std::vector<int> columns; // of the top row; -1 is black
    };
    const int W = 12, H = 4;
    const Case cases[] = {
        {200, 0, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}},
        {150, 0, {0, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7, 8}},
        {50, -W / 4, {-1, -1, -1, 2, 4, 6, 8, 10, -1, -1, -1, -1}},
        {100, 3, {3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1, -1}},
        {0, 0, std::vector<int>(W, -1)},
    };
    for (int bitCount : {16, 24}) {
        const int bpp = bitCount / 8;
        for (const Case& c : cases) {
            const auto source = LabelledFrame(W, H, bitCount);
            std::vector<uint8_t> out(source.size(), 0xEE);
            ZoomFrame(Key(W, H, c.xZoom, 100, c.xPos), source.data(), out.data(), W, H, bitCount);
            EXPECT_EQ(ColumnsOfRow(out, W, H - 1, bpp), c.columns) << c.xZoom << "% " << bitCount;
        }
    }
}

TEST(ZoomFrame, ZeroZoomIsBlackAndOtherDepthsAreUntouched) {
    const int W = 4, H = 3;
    const auto source = LabelledFrame(W, H, 24);
    std::vector<uint8_t> out(source.size(), 0xEE);
    ZoomFrame(Key(W, H, 100, 0), source.data(), out.data(), W, H, 24);
    EXPECT_EQ(out, std::vector<uint8_t>(source.size(), 0));
    for (int bitCount : {8, 32}) {
        std::vector<uint8_t> untouched(size_t(W) * H * 4, 0xEE);
        ZoomFrame(Key(W, H, 100, 100), source.data(), untouched.data(), W, H, bitCount);
        EXPECT_EQ(untouched, std::vector<uint8_t>(untouched.size(), 0xEE)) << bitCount;
    }
}

TEST(ZoomFrame, PickViewShowsTheViewFromItsTopLeft) {
    struct Case {
        int magnification, viewX, viewY;
    };
    const int W = 16, H = 12;
    const Case cases[] = {{1, 0, 0}, {1, 3, 2}, {2, 0, 0}, {2, 8, 6}, {3, 5, 1}, {8, 14, 3}};
    for (const Case& c : cases) {
        const double f = c.magnification;
        ZoomKey key = Key(W, H, 100 * f, 100 * f, f * c.viewX, f * c.viewY);
        const auto source = LabelledFrame(W, H, 24);
        std::vector<uint8_t> out(source.size(), 0xEE);
        ZoomFrame(key, source.data(), out.data(), W, H, 24, ZoomVariant::PickView);
        std::vector<int> columns;
        for (int j = 0; j < W; ++j)
            columns.push_back(c.viewX + j / c.magnification < W ? c.viewX + j / c.magnification
                                                                : -1);
        // The top row shows frame row viewY (rows from the top), the bottom line stays black.
        EXPECT_EQ(RowShown(out, W, H - 1, 3), H - 1 - c.viewY) << c.magnification;
        EXPECT_EQ(ColumnsOfRow(out, W, H - 1, 3), columns) << c.magnification << " " << c.viewX;
        EXPECT_EQ(ColumnsOfRow(out, W, 0, 3), std::vector<int>(W, -1));
        if (c.magnification == 1) {
            for (int r = H - 1; r >= 1 && H - 1 - c.viewY - (H - 1 - r) >= 0; --r)
                EXPECT_EQ(RowShown(out, W, r, 3), H - 1 - c.viewY - (H - 1 - r)) << r;
        }
    }
}

// Rows from the top: the picture sits one line low, its top line shown once more.
TEST(ZoomFrame, VerticalZooms) {
    struct Case {
        double yZoom;
        std::vector<int> rows; // source rows from the top; -1 is black
    };
    const int W = 3, H = 8;
    const Case cases[] = {
        {100, {0, 0, 1, 2, 3, 4, 5, 6}},
        {200, {0, 0, 0, 1, 1, 2, 2, 3}},
        {400, {0, 0, 0, 0, 0, 1, 1, 1}},
        {50, {0, 1, 3, 5, -1, -1, -1, -1}},
    };
    for (int bitCount : {16, 24}) {
        const int bpp = bitCount / 8;
        for (const Case& c : cases) {
            const auto source = LabelledFrame(W, H, bitCount);
            std::vector<uint8_t> out(source.size(), 0xEE);
            ZoomFrame(Key(W, H, 100, c.yZoom), source.data(), out.data(), W, H, bitCount);
            std::vector<int> rows;
            for (int top = 0; top < H; ++top) {
                const int shown = RowShown(out, W, H - 1 - top, bpp);
                rows.push_back(shown < 0 ? -1 : H - 1 - shown);
            }
            EXPECT_EQ(rows, c.rows) << c.yZoom << "% " << bitCount;
        }
    }
}

// A whole zoom k repeats each source pixel k times across and down, on every frame size: pixel
// (x, top) shows column x / k and, one line low, row (top - 1) / k from the top. (A frame of
// one line shows nothing: its only line is the one left out.)
TEST(ZoomFrame, WholeZoomsRepeatEachPixel) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        const int W = 1 + int(random() % 40), H = 2 + int(random() % 29);
        const int bitCount = round % 2 ? 16 : 24, bpp = bitCount / 8;
        const int k = 1 << (round % 3);
        const auto source = LabelledFrame(W, H, bitCount);
        std::vector<uint8_t> out(source.size(), 0xEE);
        ZoomFrame(Key(W, H, 100 * k, 100 * k), source.data(), out.data(), W, H, bitCount);
        for (int top = 0; top < H; ++top) {
            const int row = H - 1 - top, sourceTop = top == 0 ? 0 : (top - 1) / k;
            ASSERT_EQ(RowShown(out, W, row, bpp), H - 1 - sourceTop)
                << k << "x, " << W << "x" << H << ", line " << top;
            std::vector<int> columns;
            for (int x = 0; x < W; ++x)
                columns.push_back(x / k);
            ASSERT_EQ(ColumnsOfRow(out, W, row, bpp), columns) << k << "x, line " << top;
        }
    }
}

TEST(ZoomFrame, WildKeysStayInsideTheFrame) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {-1e300, -1e7,  -99999, -1,    -0.5, 0.5,  1,
                             7,      99999, 1e7,    1e300, inf,  -inf, nan};
    const int W = 9, H = 7;
    const auto source = LabelledFrame(W, H, 24);
    std::mt19937 random(13);
    for (int round = 0; round < 4000; ++round) {
        ZoomKey key{};
        double* fields[] = {&key.xSize, &key.ySize, &key.xPos, &key.yPos, &key.xZoom, &key.yZoom};
        for (double* f : fields)
            *f = values[random() % std::size(values)];
        std::vector<uint8_t> out(source.size(), 0xEE);
        ZoomFrame(key, source.data(), out.data(), W, H, 24,
                  round % 2 ? ZoomVariant::PickView : ZoomVariant::Effect);
        for (size_t i = 0; i < out.size(); i += 3) { // black, or a pixel of the source
            const bool black = out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 0;
            const bool shown = out[i + 2] == 0x80 && out[i] >= 1 && out[i] <= W &&
                               out[i + 1] >= 1 && out[i + 1] <= H;
            ASSERT_TRUE(black || shown) << "round " << round << ", byte " << i;
        }
    }
}

TEST(SmoothFrame, Examples) {
    struct Case {
        const char* name;
        int W, H, bitCount;
        uint16_t taps;
        std::vector<uint8_t> frame, expected;
    };
    const Case cases[] = {
        {"uniform", 3, 2, 24, 0xFF, std::vector<uint8_t>(18, 77), std::vector<uint8_t>(18, 77)},
        {"right tap, one row",
         3,
         1,
         24,
         0x04,
         {10, 20, 30, 20, 40, 60, 100, 0, 255},
         {15, 30, 45, 60, 20, 157, 100, 0, 255}},
        {"16 bits: too short for three bytes a pixel",
         3,
         2,
         16,
         0xFF,
         {200, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5},
         {200, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> frame = c.frame;
        SmoothFrame(frame.data(), frame.data(), c.taps, c.W, c.H, c.bitCount);
        EXPECT_EQ(frame, c.expected) << c.name;
    }
}

TEST(SmoothFrame, MatchesTheReferenceInPlaceAndApart) {
    std::mt19937 random(17);
    for (int round = 0; round < 600; ++round) {
        const int W = 1 + int(random() % 30), H = 1 + int(random() % 20);
        const uint16_t taps = static_cast<uint16_t>(round < 256 ? round : random() % 256);
        std::vector<uint8_t> input(size_t(W) * H * 3);
        for (auto& b : input)
            b = static_cast<uint8_t>(random());

        auto expected = input;
        ReferenceSmooth(expected.data(), expected.data(), taps, W, H);
        auto inPlace = input;
        SmoothFrame(inPlace.data(), inPlace.data(), taps, W, H, 24);
        ASSERT_EQ(inPlace, expected) << "in place, taps " << taps << " " << W << "x" << H;

        std::vector<uint8_t> expectedApart(input.size()), apart(input.size());
        ReferenceSmooth(expectedApart.data(), input.data(), taps, W, H);
        SmoothFrame(apart.data(), input.data(), taps, W, H, 24);
        ASSERT_EQ(apart, expectedApart) << "apart, taps " << taps << " " << W << "x" << H;
    }
}

// In place with the left tap the rows run as a wavefront over chunks of the row, many rows at
// once: sizes from a single pixel or line up to rows of many chunks and their tails (so that
// first, inner and last rows share a step), with the left tap alone, with all taps and with
// the taps from the row below, each against the reference.
TEST(SmoothFrame, WavefrontMatchesTheReferenceOnAllShapes) {
    const struct {
        int W, H;
    } sizes[] = {{1, 1},   {2, 1},   {1, 2},   {2, 2},    {1, 3},     {2, 3},     {3, 3},
                 {65, 1},  {66, 2},  {67, 3},  {130, 4},  {131, 5},   {200, 7},   {259, 12},
                 {322, 9}, {450, 3}, {64, 17}, {129, 16}, {1100, 21}, {1283, 40}, {2100, 38}};
    const uint16_t tapSets[] = {0x40, 0xFF, 0x7F, 0x70, 0x58, 0xC0, 0x41};
    std::mt19937 random(29);
    for (auto size : sizes)
        for (uint16_t taps : tapSets) {
            std::vector<uint8_t> frame(size_t(size.W) * size.H * 3);
            for (auto& b : frame)
                b = static_cast<uint8_t>(random());
            auto expected = frame;
            ReferenceSmooth(expected.data(), expected.data(), taps, size.W, size.H);
            SmoothFrame(frame.data(), frame.data(), taps, size.W, size.H, 24);
            ASSERT_EQ(frame, expected) << "taps " << taps << " " << size.W << "x" << size.H;
        }
}

} // namespace
