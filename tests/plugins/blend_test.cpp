#include "blend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

BITMAPINFOHEADER Format(int bitCount, uint32_t sizeImage) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 1;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biSizeImage = sizeImage;
    return h;
}

// The blends one byte or 5-bit channel at a time, with a division each.
void ReferenceBlend24(std::vector<uint8_t>& target, const std::vector<uint8_t>& other, double x) {
    for (size_t k = 0; k < target.size(); ++k) {
        int d = target[k] - other[k];
        int t = static_cast<int>(d / x);
        target[k] = static_cast<uint8_t>(target[k] - t);
    }
}

void ReferenceBlend16(std::vector<uint8_t>& target, const std::vector<uint8_t>& other, double x) {
    for (size_t k = 0; k + 1 < target.size(); k += 2) {
        int p = target[k] | (target[k + 1] << 8);
        int q = other[k] | (other[k + 1] << 8);
        int w[3];
        for (int c = 0; c < 3; ++c) {
            int u = (p >> (5 * c)) & 0x1F, v = (q >> (5 * c)) & 0x1F;
            w[c] = static_cast<int>(u - (u - v) / x);
        }
        int word = ((w[2] << 10) & 0x7C00) + ((w[1] << 5) & 0x03E0) + (w[0] & 0x001F);
        target[k] = static_cast<uint8_t>(word);
        target[k + 1] = static_cast<uint8_t>(word >> 8);
    }
}

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(BlendWeights, SharesOverTheRange) {
    struct Case {
        int32_t startPercent, endPercent, rangeStart, rangeEnd;
        std::vector<double> shares;
    };
    const Case cases[] = {
        {100, 0, 10, 14, {0.25, 0.5, 0.75, 1, 1}}, {0, 100, 10, 14, {0.75, 0.5, 0.25, 0, 0.25}},
        {100, 100, 0, 4, {0, 0, 0, 0, 0}},         {50, 50, 0, 2, {0.5, 0.5, 0.5}},
        {80, 40, 0, 2, {0.4, 0.6, 0.8}},
    };
    for (const Case& c : cases) {
        BlendParams params{};
        params.weightStep = 0.7; // left over from an earlier set-up
        params.startTransPercent = c.startPercent;
        params.endTransPercent = c.endPercent;
        SetupBlend(params, c.rangeStart, c.rangeEnd);
        EXPECT_EQ(params.rangeLength, c.rangeEnd - c.rangeStart);
        for (size_t k = 0; k < c.shares.size(); ++k) {
            double ratio = AdvanceBlendWeight(params);
            EXPECT_NEAR(params.weight / params.rangeLength, c.shares[k], 1e-12)
                << c.startPercent << "->" << c.endPercent << " frame " << k;
            EXPECT_EQ(ratio, params.rangeLength / params.weight);
        }
    }
}

TEST(BlendFrames, WorkedExamples) {
    struct Case {
        int bitCount;
        std::vector<uint8_t> target, other;
        double ratio;
        std::vector<uint8_t> expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {24, {200, 100, 7}, {100, 200, 7}, 4, {175, 125, 7}},
        {24, {200, 100, 7}, {100, 200, 7}, inf, {200, 100, 7}},
        {24, {200, 100, 7}, {100, 200, 9}, 1, {100, 200, 9}},
        {24, {255, 0, 10}, {0, 255, 13}, 0.5, {1, 254, 16}}, // weights past 1 wrap modulo 256
        // u = 31, v = 0, x = 4 in red: truncate(31 - 7.75) = 23; bit 15 is cleared.
        {16, {0x00, 0xFC}, {0x00, 0x00}, 4, {0x00, 0x5C}},
        {16, {0x1F, 0x80}, {0x00, 0x00}, 4, {0x17, 0x00}},
        {16, {0x00, 0x00}, {0x1F, 0x00}, 4, {0x07, 0x00}},
        {32, {1, 2, 3, 4}, {9, 9, 9, 9}, 2, {1, 2, 3, 4}},
        {8, {1, 2}, {9, 9}, 2, {1, 2}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> target = c.target;
        EXPECT_EQ(1, BlendFrames(target.data(), c.other.data(), c.other.size(), c.ratio,
                                 Format(c.bitCount, uint32_t(target.size()))));
        EXPECT_EQ(target, c.expected) << c.bitCount << " bits, ratio " << c.ratio;
    }
}

TEST(BlendFrames, MatchesTheDivisionOnRandomFrames) {
    std::mt19937 random(3);
    // Whole, fractional, tiny, huge and sub-1 ratios. The divisions by 54/5 and 44/9 (24-bit)
    // round so that only the table gives them, and by 30/26 (16-bit) so that two channel pairs
    // differ from the other pairs of their difference; 1.0000001 takes the 32-bit form of the
    // 16-bit blend.
    const double ratios[] = {1,
                             1.0000001,
                             4.0 / 3,
                             1.5,
                             2,
                             2.5,
                             3,
                             4,
                             7.0 / 3,
                             10,
                             12.5,
                             100,
                             1e6,
                             54.0 / 5,
                             44.0 / 9,
                             30.0 / 26,
                             std::numeric_limits<double>::infinity(),
                             0.75,
                             0.5,
                             0.3,
                             -2};
    for (double ratio : ratios) {
        for (int bitCount : {16, 24}) {
            const size_t size = 3000 + random() % 100;
            std::vector<uint8_t> target = RandomBytes(random, size);
            const std::vector<uint8_t> other = RandomBytes(random, size);
            std::vector<uint8_t> expected = target;
            if (bitCount == 24)
                ReferenceBlend24(expected, other, ratio);
            else
                ReferenceBlend16(expected, other, ratio);
            BlendFrames(target.data(), other.data(), other.size(), ratio,
                        Format(bitCount, uint32_t(size)));
            ASSERT_EQ(target, expected) << bitCount << " bits, ratio " << ratio;
        }
    }
    for (int m = 1; m <= 400; ++m) { // every ratio of a range of up to 400 frames
        const double ratio = 400.0 / m;
        std::vector<uint8_t> target = RandomBytes(random, 4096);
        const std::vector<uint8_t> other = RandomBytes(random, 4096);
        std::vector<uint8_t> expected = target;
        ReferenceBlend24(expected, other, ratio);
        BlendFrames(target.data(), other.data(), other.size(), ratio, Format(24, 4096));
        ASSERT_EQ(target, expected) << "ratio " << ratio;
    }
}

// Every pair of channel values in each channel (the unused top bit set in half the words), for
// every ratio of a range of up to 120 frames: the fixed-point forms, including the ratios
// whose rounding gives a few pairs another result than their difference does.
TEST(BlendFrames, SixteenBitsMatchTheDivisionForEveryChannelPair) {
    std::vector<uint8_t> target(2048), other(2048);
    for (int u = 0; u < 32; ++u)
        for (int v = 0; v < 32; ++v) {
            const size_t k = size_t(2 * (u * 32 + v));
            const int p = u | (v << 5) | (u << 10) | ((v & 1) << 15);
            const int q = v | (u << 5) | (v << 10) | ((u & 1) << 15);
            target[k] = static_cast<uint8_t>(p);
            target[k + 1] = static_cast<uint8_t>(p >> 8);
            other[k] = static_cast<uint8_t>(q);
            other[k + 1] = static_cast<uint8_t>(q >> 8);
        }
    for (int length = 1; length <= 120; ++length)
        for (int weight = 1; weight <= length; ++weight) {
            const double ratio = double(length) / weight;
            std::vector<uint8_t> expected = target, blended = target;
            ReferenceBlend16(expected, other, ratio);
            BlendFrames(blended.data(), other.data(), other.size(), ratio, Format(16, 2048));
            ASSERT_EQ(blended, expected) << "ratio " << length << "/" << weight;
        }
}

TEST(BlendFrames, StopsAtTheShorterBuffer) {
    std::mt19937 random(5);
    for (int bitCount : {16, 24}) {
        std::vector<uint8_t> target = RandomBytes(random, 101);
        const std::vector<uint8_t> other = RandomBytes(random, 51); // smaller than the target
        std::vector<uint8_t> expected = target;
        std::vector<uint8_t> head(expected.begin(), expected.begin() + 51);
        if (bitCount == 24)
            ReferenceBlend24(head, other, 3);
        else
            ReferenceBlend16(head, other, 3);
        std::copy(head.begin(), head.end(), expected.begin());
        BlendFrames(target.data(), other.data(), other.size(), 3, Format(bitCount, 101));
        EXPECT_EQ(target, expected) << bitCount;
    }
}

TEST(BlendFrames, ZeroRangeLeavesTheFrame) {
    BlendParams params{};
    params.startTransPercent = 100;
    SetupBlend(params, 5, 5);
    const double ratio = AdvanceBlendWeight(params);
    EXPECT_TRUE(std::isnan(ratio));
    std::vector<uint8_t> target = {1, 2, 3};
    const std::vector<uint8_t> other = {9, 9, 9};
    BlendFrames(target.data(), other.data(), 3, ratio, Format(24, 3));
    EXPECT_EQ(target, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ConvertPixelDepth, WidensAndNarrows) {
    struct Case {
        int32_t targetBits;
        int otherBits;
        std::vector<uint8_t> other;
        std::vector<uint8_t> expected; // empty: the other pixels come back unchanged
    };
    const Case cases[] = {
        {24, 16, {0xFF, 0x7F}, {248, 248, 248}},
        {24, 16, {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C}, {248, 0, 0, 0, 248, 0, 0, 0, 248}},
        {16, 24, {248, 248, 248}, {0xFF, 0x7F}},
        {16, 24, {7, 15, 255, 8, 0, 0}, {0x20, 0x7C, 0x01, 0x00}},
        {24, 24, {1, 2, 3}, {}},
        {16, 16, {1, 2}, {}},
        {32, 24, {1, 2, 3}, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> scratch(c.expected.size() + 1, 0xEE);
        auto h = Format(c.otherBits, uint32_t(c.other.size()));
        const uint8_t* result =
            ConvertPixelDepth(c.targetBits, h, c.other.data(), scratch.data(), scratch.size());
        if (c.expected.empty()) {
            EXPECT_EQ(result, c.other.data());
            continue;
        }
        ASSERT_EQ(result, scratch.data());
        EXPECT_EQ(std::vector<uint8_t>(scratch.begin(), scratch.end() - 1), c.expected);
        EXPECT_EQ(scratch.back(), 0xEE);
    }
}

TEST(ConvertPixelDepth, WholePixelsInsideBothBuffers) {
    struct Case {
        int32_t targetBits;
        int otherBits;
        size_t otherSize, scratchSize, written;
    };
    const Case cases[] = {
        {16, 24, 8, 100, 4}, // two whole pixels; the two trailing bytes are not a pixel
        {24, 16, 5, 100, 6}, // two whole words
        {16, 24, 300, 7, 6}, // scratch smaller than the converted frame
        {24, 16, 300, 10, 9},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> other(c.otherSize, 0xFF);
        std::vector<uint8_t> scratch(c.scratchSize, 0);
        ConvertPixelDepth(c.targetBits, Format(c.otherBits, uint32_t(c.otherSize)), other.data(),
                          scratch.data(), scratch.size());
        size_t written = 0;
        while (written < scratch.size() && scratch[written] != 0)
            ++written;
        EXPECT_EQ(written, c.written) << c.targetBits << " from " << c.otherBits;
    }
}

TEST(ConvertPixelDepth, MatchesThePlainShiftsOnRandomFrames) {
    std::mt19937 random(29);
    for (int round = 0; round < 200; ++round) {
        const int32_t target = round % 2 ? 16 : 24;
        const size_t size = random() % 700;
        const std::vector<uint8_t> other = RandomBytes(random, size);
        std::vector<uint8_t> expected;
        if (target == 16) {
            for (size_t j = 0; j + 3 <= size; j += 3) {
                const int w =
                    (other[j] >> 3) | ((other[j + 1] >> 3) << 5) | ((other[j + 2] >> 3) << 10);
                expected.insert(expected.end(), {uint8_t(w), uint8_t(w >> 8)});
            }
        } else {
            for (size_t j = 0; j + 2 <= size; j += 2) {
                const int w = other[j] | (other[j + 1] << 8);
                expected.insert(expected.end(),
                                {uint8_t((w & 0x1F) << 3), uint8_t((w & 0x3E0) >> 2),
                                 uint8_t((w & 0x7C00) >> 7)});
            }
        }
        std::vector<uint8_t> scratch(expected.size());
        ConvertPixelDepth(target, Format(target == 16 ? 24 : 16, uint32_t(size)), other.data(),
                          scratch.data(), scratch.size());
        ASSERT_EQ(scratch, expected) << "to " << target << " bits, " << size << " bytes";
    }
}

} // namespace
