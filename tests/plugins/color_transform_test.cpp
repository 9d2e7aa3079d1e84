#include "color_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

BITMAPINFOHEADER Header(int bitCount, int width, uint32_t sizeImage) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biSizeImage = sizeImage;
    return h;
}

ColorChangeState State(int bitCount, int16_t r, int16_t g, int16_t b) {
    ColorChangeState s{};
    InitColorMasks(s, Header(bitCount, 1, 0));
    const int16_t settings[3] = {r, g, b};
    PackColorTriple(s, settings, &s.offsetR);
    return s;
}

void SetSteps(ColorChangeState& s, int16_t r, int16_t g, int16_t b) {
    const int16_t settings[3] = {r, g, b};
    PackColorTriple(s, settings, &s.stepR);
}

// The transform one pixel at a time, with a countdown for the in-frame steps.
void ReferenceTransform(std::vector<uint8_t>& frame, ColorChangeState s, const BITMAPINFOHEADER& h,
                        int32_t mode, int32_t x, int32_t y) {
    if (mode != 0 && mode != 1) return;
    const int32_t bpp = s.bytesPerPixel;
    const int64_t n = int64_t{y} * h.biWidth + x;
    int64_t counter = n;
    for (size_t p = 0; p + bpp <= h.biSizeImage; p += bpp) {
        uint32_t v = 0;
        for (int i = 0; i < bpp; ++i)
            v |= uint32_t{frame[p + i]} << (8 * i);
        const int32_t masks[3] = {s.channelMaskR, s.channelMaskG, s.channelMaskB};
        const int32_t offsets[3] = {s.offsetR, s.offsetG, s.offsetB};
        int32_t total = 0;
        for (int c = 0; c < 3; ++c) {
            int64_t sum = int64_t(v & uint32_t(masks[c])) + offsets[c];
            if (mode == 1) sum = sum < 0 ? 0 : (sum > masks[c] ? masks[c] : sum);
            total = int32_t(uint32_t(total) + uint32_t(sum));
        }
        for (int bit = h.biBitCount - 8; bit >= 0; bit -= 8)
            frame[p + bit / 8] = static_cast<uint8_t>(total >> bit);
        if (counter == 0) {
            counter = n;
            AdvanceColorOffsets(s, mode);
        }
        --counter;
    }
}

TEST(ColorMasks, FollowTheBitCount) {
    struct Case {
        int bitCount;
        ColorChangeState expected;
    };
    const Case cases[] = {
        {24,
         {3, 8, 0xFF0000, 0xFF00, 0xFF, int32_t(0xFFFF0000), int32_t(0xFFFFFF00), -1, 0, 0, 0, 0, 0,
          0}},
        {16,
         {2, 5, 0x7C00, 0x3E0, 0x1F, int32_t(0xFFFFFC00), int32_t(0xFFFFFFE0), -1, 0, 0, 0, 0, 0,
          0}},
        {32, {4, 10, 0, 0, 0, int32_t(0xFFF00000), int32_t(0xFFFFFC00), -1, 0, 0, 0, 0, 0, 0}},
        {8, {1, 2, 0x30, 0xC, 0x3, int32_t(0xFFFFFFF0), int32_t(0xFFFFFFFC), -1, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        ColorChangeState s{};
        InitColorMasks(s, Header(c.bitCount, 1, 0));
        EXPECT_EQ(0, std::memcmp(&s, &c.expected, sizeof s)) << c.bitCount << " bits";
    }
}

TEST(ColorPack, KeepsSignAtTheChannelPosition) {
    struct Case {
        int bitCount;
        int16_t r, g, b;
        int32_t packed[3];
    };
    const Case cases[] = {
        {24, 10, -1, -20, {0x0A0000, -0x100, -20}},
        {16, -1, 3, 31, {-0x400, 3 << 5, 31}},
    };
    for (const Case& c : cases) {
        const ColorChangeState s = State(c.bitCount, c.r, c.g, c.b);
        EXPECT_EQ(s.offsetR, c.packed[0]) << c.bitCount;
        EXPECT_EQ(s.offsetG, c.packed[1]) << c.bitCount;
        EXPECT_EQ(s.offsetB, c.packed[2]) << c.bitCount;
    }
}

struct PixelCase {
    const char* name;
    int bitCount;
    int mode;
    int16_t r, g, b;
    std::vector<uint8_t> in, out;
};

TEST(ColorTransform, SinglePixels) {
    const PixelCase cases[] = {
        {"wrap red", 24, 0, 10, 0, 0, {250, 0, 100}, {0xFA, 0x00, 0x6E}},
        {"wrap carries blue into green", 24, 0, 0, 0, 10, {250, 0, 100}, {0x04, 0x01, 100}},
        {"wrap drops red overflow", 24, 0, 10, 0, 0, {1, 2, 250}, {1, 2, 4}},
        {"wrap borrows from green", 24, 0, 0, 0, -50, {30, 7, 9}, {236, 6, 9}},
        {"saturate red high", 24, 1, 200, 0, 0, {5, 6, 100}, {5, 6, 255}},
        {"saturate blue low", 24, 1, 0, 0, -50, {30, 6, 7}, {0, 6, 7}},
        {"saturate blue high", 24, 1, 0, 0, 50, {230, 6, 7}, {255, 6, 7}},
        {"zero offsets 24-bit", 24, 0, 0, 0, 0, {1, 2, 3}, {1, 2, 3}},
        {"zero offsets 16-bit clear top bit", 16, 0, 0, 0, 0, {0xFF, 0xFF}, {0xFF, 0x7F}},
        {"zero offsets 16-bit saturating", 16, 1, 0, 0, 0, {0xFF, 0xFF}, {0xFF, 0x7F}},
        {"16-bit wrap carry into green", 16, 0, 0, 0, 1, {0x1F, 0x00}, {0x20, 0x00}},
        {"16-bit red carry reaches top bit", 16, 0, 1, 0, 0, {0x00, 0x7C}, {0x00, 0x80}},
        {"16-bit saturate red", 16, 1, 5, 0, 0, {0x00, 0x7C}, {0x00, 0x7C}},
        {"other mode", 24, 2, 10, 10, 10, {1, 2, 3}, {1, 2, 3}},
        {"8-bit left alone", 8, 0, 10, 10, 10, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"32-bit left alone",
         32,
         0,
         10,
         10,
         10,
         {1, 2, 3, 4, 5, 6, 7, 8},
         {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const PixelCase& c : cases) {
        ColorChangeState s = State(c.bitCount, c.r, c.g, c.b);
        std::vector<uint8_t> frame = c.in;
        auto h = Header(c.bitCount, 1, static_cast<uint32_t>(frame.size()));
        TransformFrame(frame.data(), s, h, c.mode, 1, 0);
        EXPECT_EQ(frame, c.out) << c.name;
    }
}

TEST(ColorRamp, OffsetsPerProcessedFrame) {
    struct Case {
        int mode;
        int16_t step;
        std::vector<int32_t> reds;
    };
    const Case cases[] = {
        {0, 5, {0, 5, 10, 15, 20}},
        {1, 100, {0, 100, 200, 255}},
        {0, 100, {0, 100, 200, 300, 400}}, // the pixel write drops what passes the top
        {1, -100, {0, -100, -200, -300}},  // no lower bound
    };
    for (const Case& c : cases) {
        ColorChangeState s = State(24, 0, 0, 0);
        SetSteps(s, c.step, 0, 0);
        for (size_t k = 0; k < c.reds.size(); ++k) {
            EXPECT_EQ(s.offsetR >> 16, c.reds[k]) << "mode " << c.mode << " frame " << k;
            AdvanceColorOffsets(s, c.mode);
        }
    }
}

TEST(ColorRamp, SaturatingRampNeverOverflows) {
    ColorChangeState s = State(24, -255, 0, 0);
    SetSteps(s, -32768, 0, 0);
    for (int k = 0; k < 200; ++k)
        AdvanceColorOffsets(s, 1);
    EXPECT_EQ(s.offsetR, INT32_MIN);
    std::vector<uint8_t> frame = {9, 9, 200};
    TransformFrame(frame.data(), s, Header(24, 1, 3), 1, 0, 0);
    EXPECT_EQ(frame, (std::vector<uint8_t>{9, 9, 0}));

    s = State(24, 255, 0, 0);
    SetSteps(s, 32767, 0, 0);
    AdvanceColorOffsets(s, 1);
    EXPECT_EQ(s.offsetR, 0xFF0000);
}

// Blue steps by one; each pixel's blue then counts the in-frame steps before it.
std::vector<int> StepsPerPixel(int width, int pixelX, int pixelY, int pixels) {
    ColorChangeState s = State(24, 0, 0, 0);
    SetSteps(s, 0, 0, 1);
    std::vector<uint8_t> frame(static_cast<size_t>(pixels) * 3, 0);
    TransformFrame(frame.data(), s, Header(24, width, uint32_t(frame.size())), 0, pixelX, pixelY);
    std::vector<int> steps;
    for (int i = 0; i < pixels; ++i)
        steps.push_back(frame[size_t(i) * 3]);
    return steps;
}

TEST(ColorTransform, InFrameSteps) {
    struct Case {
        int width, pixelX, pixelY;
        std::vector<int> steps;
    };
    const Case cases[] = {
        {10, 9, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1,
                    1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3}}, // after pixel 9, then every 9
        {10, 0, 0, {0, 1, 1, 1, 1}},                               // N = 0: one step only
        {4, 0, 2, std::vector<int>(8, 0)}, // N = 8: no step inside an 8-pixel frame
        {4, -3, 0, std::vector<int>(6, 0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StepsPerPixel(c.width, c.pixelX, c.pixelY, int(c.steps.size())), c.steps)
            << c.width << " wide, at " << c.pixelX << "," << c.pixelY;
}

TEST(ColorTransform, PaddedRowsAndTrailingBytesStayInsideTheFrame) {
    // Width 10: rows of 30 bytes padded to 32; 64 bytes hold 21 whole pixels and one spare byte.
    ColorChangeState s = State(24, 0, 0, 1);
    std::vector<uint8_t> frame(64, 7);
    TransformFrame(frame.data(), s, Header(24, 10, 64), 0, 0, 100);
    for (size_t i = 0; i < 63; ++i)
        EXPECT_EQ(frame[i], i % 3 == 0 ? 8 : 7) << i;
    EXPECT_EQ(frame[63], 7);

    s = State(16, 0, 0, 1);
    std::vector<uint8_t> odd(5, 1);
    TransformFrame(odd.data(), s, Header(16, 3, 5), 1, 0, 100);
    EXPECT_EQ(odd, (std::vector<uint8_t>{2, 1, 2, 1, 1}));
}

TEST(ColorTransform, FastPathsMatchTheReference) {
    std::mt19937 random(7);
    auto level = [&](int limit) {
        return static_cast<int16_t>(std::uniform_int_distribution<int>(-limit, limit)(random));
    };
    for (int round = 0; round < 300; ++round) {
        const int bitCount = round % 2 ? 16 : 24;
        const int mode = (round / 2) % 2;
        const int limit = bitCount == 24 ? 300 : 40;
        ColorChangeState s = State(bitCount, level(limit), level(limit), level(limit));
        SetSteps(s, level(limit), level(limit), level(limit));
        if (round % 7 == 0) s.offsetR += level(3000); // offsets off the channel boundaries
        const int width = 1 + round % 50;
        const uint32_t size = uint32_t(std::uniform_int_distribution<int>(0, 9000)(random));
        std::vector<uint8_t> frame(size);
        for (auto& b : frame)
            b = static_cast<uint8_t>(random());
        std::vector<uint8_t> expected = frame;
        const int x = std::uniform_int_distribution<int>(-2, 3000)(random);
        const int y = round % 3;
        auto h = Header(bitCount, width, size);
        ReferenceTransform(expected, s, h, mode, x, y);
        TransformFrame(frame.data(), s, h, mode, x, y);
        ASSERT_EQ(frame, expected) << "round " << round;
    }
}

TEST(ColorSwatch, NegativeEntriesShowOneLess) {
    struct Case {
        int bitCount;
        int16_t r, g, b;
        std::vector<uint8_t> pixel;
    };
    const Case cases[] = {
        {24, 100, 0, 0, {0, 0, 100}},
        {24, -1, -10, 20, {20, 9, 0}},
        {16, 31, 0, -1, {0x00, 0x7C}},
        {16, 0, -2, 0, {0x20, 0x00}},
    };
    for (const Case& c : cases) {
        ColorChangeState s = State(c.bitCount, c.r, c.g, c.b);
        int32_t packed[3] = {s.offsetR, s.offsetG, s.offsetB};
        std::vector<uint8_t> pixel(c.pixel.size(), 0xEE);
        MakeSwatchPixel(s, packed, pixel.data());
        EXPECT_EQ(pixel, c.pixel);
        EXPECT_EQ(packed[0], s.offsetR);
        EXPECT_EQ(packed[1], s.offsetG);
        EXPECT_EQ(packed[2], s.offsetB);
    }
}

} // namespace
