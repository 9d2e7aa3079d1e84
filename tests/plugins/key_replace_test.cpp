#include "key_replace.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Solid(size_t pixels, uint8_t blue, uint8_t green, uint8_t red) {
    Bytes frame;
    for (size_t i = 0; i < pixels; ++i)
        frame.insert(frame.end(), {blue, green, red});
    return frame;
}

// One pixel at a time, each of its bytes compared with the key.
void ReferenceKeyReplace(Bytes& out, const Bytes& mask, const Bytes& back, const uint8_t key[3],
                         int32_t useBackground) {
    for (size_t i = 0; i + 3 <= out.size(); i += 3)
        if (mask[i] == key[2] && mask[i + 1] == key[1] && mask[i + 2] == key[0])
            for (int k = 0; k < 3; ++k)
                out[i + k] = useBackground == 1 ? back[i + k] : mask[i + k];
}

TEST(KeyReplace, ExactKeyOnly) {
    struct Case {
        const char* name;
        uint8_t key[3]; // red, green, blue
        Bytes maskPixel;
        int32_t useBackground;
        Bytes expected;
    };
    // Base pixel (1, 2, 3), background pixel (200, 0, 0) as blue, green, red bytes: red.
    const Case cases[] = {
        {"black key", {0, 0, 0}, {0, 0, 0}, 1, {0, 0, 200}},
        {"white key", {255, 255, 255}, {255, 255, 255}, 1, {0, 0, 200}},
        {"odd key", {200, 10, 10}, {10, 10, 200}, 1, {0, 0, 200}},
        {"key bytes reversed do not match", {200, 10, 10}, {200, 10, 10}, 1, {1, 2, 3}},
        {"red one level off", {200, 10, 10}, {10, 10, 199}, 1, {1, 2, 3}},
        {"green one level off", {200, 10, 10}, {10, 11, 200}, 1, {1, 2, 3}},
        {"blue one level off", {200, 10, 10}, {9, 10, 200}, 1, {1, 2, 3}},
        {"no background: the key itself", {200, 10, 10}, {10, 10, 200}, 0, {10, 10, 200}},
        {"other flag values count as no background", {0, 0, 0}, {0, 0, 0}, 2, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        for (size_t pixels : {1, 7, 40}) { // both the byte-wise and the 16-byte passes
            Bytes out = Solid(pixels, 1, 2, 3);
            Bytes mask;
            for (size_t i = 0; i < pixels; ++i)
                mask.insert(mask.end(), c.maskPixel.begin(), c.maskPixel.end());
            const Bytes back = Solid(pixels, 0, 0, 200);
            KeyReplace(out.data(), mask.data(), back.data(), c.key, uint32_t(out.size()),
                       c.useBackground);
            Bytes expected;
            for (size_t i = 0; i < pixels; ++i)
                expected.insert(expected.end(), c.expected.begin(), c.expected.end());
            EXPECT_EQ(out, expected) << c.name << ", " << pixels << " pixels";
        }
    }
}

TEST(KeyReplace, BlackLeftHalfLetsTheRedBackgroundThrough) {
    const int W = 8, H = 4;
    Bytes base, mask;
    for (int i = 0; i < W * H; ++i) {
        const bool left = i % W < W / 2;
        base.insert(base.end(),
                    {uint8_t(i), 0, 0}); // the base itself holds black too: never compared
        mask.insert(mask.end(), {uint8_t(left ? 0 : 1), 0, 0});
    }
    const Bytes back = Solid(W * H, 0, 0, 255);
    Bytes out = base;
    const uint8_t key[3] = {0, 0, 0};
    KeyReplace(out.data(), mask.data(), back.data(), key, uint32_t(out.size()), 1);
    for (int i = 0; i < W * H; ++i) {
        const Bytes pixel(out.begin() + 3 * i, out.begin() + 3 * i + 3);
        const Bytes expected = i % W < W / 2 ? Bytes{0, 0, 255} : Bytes{uint8_t(i), 0, 0};
        EXPECT_EQ(pixel, expected) << i;
    }
}

TEST(KeyReplace, MatchesTheReferenceAndStopsAtTheImageSize) {
    std::mt19937 random(19);
    const uint8_t key[3] = {30, 20, 10};
    for (int round = 0; round < 400; ++round) {
        const size_t size = random() % 500; // often not a multiple of 3
        Bytes out(size), mask(size), back(size);
        for (auto* frame : {&out, &mask, &back})
            for (auto& b : *frame)
                b = static_cast<uint8_t>(random() % 4 + 9); // near the key
        for (size_t i = 0; i + 3 <= size; i += 3)
            if (random() % 3 == 0) mask[i] = 10, mask[i + 1] = 20, mask[i + 2] = 30;
        const int32_t useBackground = round % 2;
        Bytes expected = out;
        ReferenceKeyReplace(expected, mask, back, key, useBackground);
        KeyReplace(out.data(), mask.data(), back.data(), key, uint32_t(size), useBackground);
        ASSERT_EQ(out, expected) << "size " << size;
    }
}

std::set<std::pair<int, int>> Inverted(const Bytes& before, const Bytes& after, int W, int H,
                                       int b) {
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t at = size_t((H - 1 - y) * W + x) * b;
            bool all = true, any = false;
            for (int k = 0; k < b; ++k) {
                const bool flipped = after[at + k] == (before[at + k] ^ 0xAA);
                all = all && flipped;
                any = any || after[at + k] != before[at + k];
            }
            if (all)
                pixels.insert({x, y});
            else
                EXPECT_FALSE(any) << "part of pixel " << x << "," << y << " changed";
        }
    return pixels;
}

TEST(XorCrossHair, DrawsTwoClippedLinesAndUndoesItself) {
    struct Case {
        int bitCount, previewW, previewH;
        CrossPoint cross;
    };
    const int W = 12, H = 9;
    const Case cases[] = {
        {24, 6, 4, {5, 4, 2, 2}}, // crossing inside the view: the crossing pixel keeps its colour
        {16, 6, 4, {0, 0, 0, 0}},
        {32, 6, 4, {11, 8, 8, 7}}, // view cut by the frame's right and bottom edges
        {24, 20, 20, {3, 3, -5, -5}},
        {24, 6, 4, {9, 1, 2, 2}},  // cross-hair outside the view: the lines do not meet
        {24, 6, 4, {12, 9, 0, 0}}, // cross-hair outside the frame: nothing
        {24, 6, 4, {-1, -1, 0, 0}},
        {8, 6, 4, {5, 4, 2, 2}},
    };
    std::mt19937 random(23);
    for (const Case& c : cases) {
        const int b = c.bitCount / 8;
        Bytes frame(size_t(W) * H * b);
        for (auto& v : frame)
            v = static_cast<uint8_t>(random());
        const Bytes before = frame;
        XorCrossHair(frame.data(), c.previewW, c.previewH, W, H, c.bitCount, c.cross);
        std::set<std::pair<int, int>> expected;
        const CrossPoint& p = c.cross;
        for (int x = p.viewX; x < p.viewX + c.previewW; ++x)
            if (x >= 0 && x < W && p.y >= 0 && p.y < H) expected.insert({x, p.y});
        for (int y = p.viewY; y < p.viewY + c.previewH; ++y) {
            if (y < 0 || y >= H || p.x < 0 || p.x >= W) continue;
            if (!expected.erase({p.x, y})) expected.insert({p.x, y}); // inverted twice: unchanged
        }
        EXPECT_EQ(Inverted(before, frame, W, H, b), expected) << c.bitCount << " bits";
        XorCrossHair(frame.data(), c.previewW, c.previewH, W, H, c.bitCount, c.cross);
        EXPECT_EQ(frame, before);
    }
}

} // namespace
