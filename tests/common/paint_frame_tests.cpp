#include "dialog.h"
#include "paint_frame.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace dlg;

namespace {

// A picture control sized in pixels through its dialog units is awkward to test; every test
// resizes the control to the exact pixels it needs.
const ControlDef kPictures[] = {
    {1, Kind::Picture, "", 0, 0, 10, 10},
    {2, Kind::Edit, "", 0, 0, 10, 10, kDisabled | kBorder},
    {3, Kind::PushButton, "x", 0, 0, 10, 10},
};
const DialogDef kPictureDialog{"", 200, 160, kPictures};

struct Frame {
    BITMAPINFOHEADER header{};
    std::vector<uint8_t> pixels;
};

// A bottom-up frame whose four quadrants are red, green, blue and white (top-left,
// top-right, bottom-left, bottom-right), each colour given in the frame's own depth.
Frame QuadrantFrame(int width, int height, int bits) {
    Frame frame;
    const int stride = (width * bits + 31) / 32 * 4;
    frame.header.biSize = 40;
    frame.header.biWidth = width;
    frame.header.biHeight = height;
    frame.header.biPlanes = 1;
    frame.header.biBitCount = static_cast<WORD>(bits);
    frame.header.biSizeImage = static_cast<DWORD>(stride * height);
    frame.pixels.assign(frame.header.biSizeImage, 0xCD); // padding bytes stay marked
    const uint32_t rgb[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t colour = rgb[(y >= height / 2) * 2 + (x >= width / 2)];
            uint8_t* p = frame.pixels.data() + (height - 1 - y) * stride + x * bits / 8;
            if (bits == 24) {
                p[0] = colour & 0xFF;
                p[1] = (colour >> 8) & 0xFF;
                p[2] = colour >> 16;
            } else {
                const unsigned word =
                    ((colour >> 19) & 31) << 10 | ((colour >> 11) & 31) << 5 | ((colour >> 3) & 31);
                p[0] = word & 0xFF;
                p[1] = word >> 8;
            }
        }
    }
    return frame;
}

Frame OnePixel(unsigned word16) {
    Frame frame;
    frame.header.biSize = 40;
    frame.header.biWidth = 1;
    frame.header.biHeight = 1;
    frame.header.biBitCount = 16;
    frame.header.biSizeImage = 2; // the last row needs no padding
    frame.pixels = {static_cast<uint8_t>(word16 & 0xFF), static_cast<uint8_t>(word16 >> 8)};
    return frame;
}

class PaintFrameTest : public ::testing::Test {
  protected:
    PaintFrameTest() : dialog(kPictureDialog, nullptr) {
        dialog.control(1)->setGeometry(0, 0, 120, 96);
        dialog.control(2)->setGeometry(0, 100, 50, 40);
    }
    QImage Grab(int id) { return dialog.control(id)->grab().toImage(); }
    QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
    // Smooth scaling may round a full channel down by a step or two.
    static bool Near(QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
               std::abs(qBlue(a) - qBlue(b)) <= 2;
    }

    Dialog dialog;
};

TEST_F(PaintFrameTest, FrameFillsTheWholeControlInEitherDepthAndScaling) {
    for (int bits : {24, 16}) {
        for (FrameScaling scaling : {FrameScaling::Smooth, FrameScaling::Nearest}) {
            const Frame frame = QuadrantFrame(320, 240, bits);
            PaintFrame(dialog, 1, frame.pixels.data(), &frame.header, scaling);
            const QImage shot = Grab(1);
            ASSERT_EQ(shot.size(), QSize(120, 96));
            EXPECT_PRED2(Near, At(shot, 0, 0), 0xFF0000u) << bits;
            EXPECT_PRED2(Near, At(shot, 119, 0), 0x00FF00u) << bits;
            EXPECT_PRED2(Near, At(shot, 0, 95), 0x0000FFu) << bits;
            EXPECT_PRED2(Near, At(shot, 119, 95), 0xFFFFFFu) << bits;
            EXPECT_PRED2(Near, At(shot, 58, 46), 0xFF0000u) << bits; // quadrants meet in the middle
            EXPECT_PRED2(Near, At(shot, 61, 49), 0xFFFFFFu) << bits;
        }
    }
}

TEST_F(PaintFrameTest, PaintingTwiceGivesTheSamePictureAndChangesNothing) {
    const Frame frame = QuadrantFrame(321, 241, 24); // odd width: padded rows
    const Frame copy = frame;
    PaintFrame(dialog, 1, frame.pixels.data(), &frame.header);
    const QImage first = Grab(1);
    PaintFrame(dialog, 1, frame.pixels.data(), &frame.header);
    EXPECT_EQ(Grab(1), first);
    EXPECT_EQ(frame.pixels, copy.pixels);
    EXPECT_EQ(std::memcmp(&frame.header, &copy.header, sizeof frame.header), 0);
}

TEST_F(PaintFrameTest, PixelsAreCopiedWhenPainted) {
    Frame frame = QuadrantFrame(8, 8, 24);
    PaintFrame(dialog, 1, frame.pixels.data(), &frame.header);
    const QImage before = Grab(1);
    std::fill(frame.pixels.begin(), frame.pixels.end(), 0);
    EXPECT_EQ(Grab(1), before);
}

TEST_F(PaintFrameTest, SixteenBitColoursExpandToFullRange) {
    struct Case {
        unsigned word;
        QRgb rgb;
    };
    const Case cases[] = {
        {0x7C00, 0xFF0000}, {0x03E0, 0x00FF00}, {0x001F, 0x0000FF}, {0x7FFF, 0xFFFFFF},
        {0x0000, 0x000000}, {0x4210, 0x848484}, {0x8000, 0x000000}, // the top bit is unused
        {0x0421, 0x080808},
    };
    for (const Case& c : cases) {
        const Frame frame = OnePixel(c.word);
        PaintFrame(dialog, 1, frame.pixels.data(), &frame.header, FrameScaling::Nearest);
        const QImage shot = Grab(1);
        EXPECT_EQ(At(shot, 0, 0), c.rgb) << std::hex << c.word;
        EXPECT_EQ(At(shot, 119, 95), c.rgb) << std::hex << c.word;
    }
}

TEST_F(PaintFrameTest, BorderedEditShowsTheFrameInsideItsBorder) {
    const Frame frame = QuadrantFrame(32, 24, 24);
    PaintFrame(dialog, 2, frame.pixels.data(), &frame.header);
    const QImage shot = Grab(2);
    const QSize client = dialog.clientSize(2);
    EXPECT_EQ(client, QSize(48, 38)); // one pixel of border on each side
    EXPECT_NE(At(shot, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(shot, 1, 1), 0xFF0000u);
    EXPECT_EQ(At(shot, 48, 38), 0xFFFFFFu);
}

TEST_F(PaintFrameTest, UnusableHeadersClearTheControl) {
    const QImage empty = Grab(1);
    struct Case {
        const char* what;
        void (*spoil)(BITMAPINFOHEADER&);
    };
    const Case cases[] = {
        {"image size one byte short", [](BITMAPINFOHEADER& h) { h.biSizeImage -= 1; }},
        {"height beyond the buffer", [](BITMAPINFOHEADER& h) { h.biHeight += 1; }},
        {"width beyond the buffer", [](BITMAPINFOHEADER& h) { h.biWidth += 2; }},
        {"8-bit", [](BITMAPINFOHEADER& h) { h.biBitCount = 8; }},
        {"32-bit", [](BITMAPINFOHEADER& h) { h.biBitCount = 32; }},
        {"compressed", [](BITMAPINFOHEADER& h) { h.biCompression = 0x47504A4D; }},
        {"zero width", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
        {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -8; }},
        {"zero height", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
        {"huge height", [](BITMAPINFOHEADER& h) { h.biHeight = INT32_MIN; }},
        {"huge everything",
         [](BITMAPINFOHEADER& h) {
             h.biWidth = INT32_MAX;
             h.biHeight = INT32_MAX;
             h.biSizeImage = UINT32_MAX;
         }},
    };
    for (const Case& c : cases) {
        const Frame good = QuadrantFrame(8, 8, 24);
        PaintFrame(dialog, 1, good.pixels.data(), &good.header);
        Frame frame = QuadrantFrame(8, 8, 24);
        c.spoil(frame.header);
        PaintFrame(dialog, 1, frame.pixels.data(), &frame.header);
        EXPECT_EQ(Grab(1), empty) << c.what;
    }
    PaintFrame(dialog, 1, nullptr, nullptr);
    EXPECT_EQ(Grab(1), empty);
}

TEST_F(PaintFrameTest, AnyControlSizeIsAccepted) {
    const Frame frame = QuadrantFrame(320, 240, 16);
    for (QSize size :
         {QSize(0, 0), QSize(1, 1), QSize(0, 50), QSize(640, 1), QSize(2, 2), QSize(700, 500)}) {
        dialog.control(1)->resize(size);
        PaintFrame(dialog, 1, frame.pixels.data(), &frame.header, FrameScaling::Nearest);
        const QImage shot = Grab(1);
        if (size.width() >= 2 && size.height() >= 2) { // all four quadrants have a pixel
            EXPECT_EQ(At(shot, 0, 0), 0xFF0000u) << size.width();
            EXPECT_EQ(At(shot, size.width() - 1, size.height() - 1), 0xFFFFFFu) << size.width();
        }
    }
    dialog.control(1)->resize(0, 0);
    PaintFrame(dialog, 1, frame.pixels.data(), &frame.header, FrameScaling::Smooth);
    EXPECT_TRUE(Grab(1).isNull());
    PaintFrame(dialog, 3, frame.pixels.data(), &frame.header); // not a picture: ignored
}

TEST_F(PaintFrameTest, TopDownFramesAreDrawnUpright) {
    Frame frame = QuadrantFrame(8, 8, 24);
    // Reverse the stored rows and mark the frame top-down.
    const int stride = 24;
    std::vector<uint8_t> flipped(frame.pixels.size());
    for (int row = 0; row < 8; ++row)
        std::memcpy(&flipped[row * stride], &frame.pixels[(7 - row) * stride], stride);
    frame.pixels = flipped;
    frame.header.biHeight = -8;
    PaintFrame(dialog, 1, frame.pixels.data(), &frame.header);
    EXPECT_EQ(At(Grab(1), 0, 0), 0xFF0000u);
}

TEST_F(PaintFrameTest, PartDrawsOnlyTheWindowOneToOne) {
    dialog.control(1)->resize(4, 4);
    const QImage blank = Grab(1);
    const Frame frame = QuadrantFrame(8, 8, 24);
    struct Case {
        int cutW, cutH, srcX, srcY;
        QRgb topLeft, bottomRight;
    };
    const Case cases[] = {
        {4, 4, 0, 0, 0xFF0000, 0xFF0000}, // the top-left quadrant, 1:1
        {4, 4, 4, 0, 0x00FF00, 0x00FF00}, // the top-right quadrant
        {4, 4, 4, 4, 0xFFFFFF, 0xFFFFFF},
        {4, 4, 2, 2, 0xFF0000, 0xFFFFFF}, // the middle of the frame
        {0, 0, 0, 0, 0xFF0000, 0xFFFFFF}, // the whole frame, scaled
        {4, 4, 6, 6, 0xFFFFFF, 0xFFFFFF}, // clipped to the frame's last 2 x 2
    };
    for (const Case& c : cases) {
        PaintFramePart(dialog, 1, frame.pixels.data(), &frame.header, c.cutW, c.cutH, c.srcX,
                       c.srcY);
        const QImage shot = Grab(1);
        EXPECT_EQ(At(shot, 0, 0), c.topLeft) << c.srcX << "," << c.srcY;
        EXPECT_EQ(At(shot, 3, 3), c.bottomRight) << c.srcX << "," << c.srcY;
    }

    for (const Case& c : {Case{8, 0, 0, 0, 0, 0}, Case{0, 0, 8, 0, 0, 0}, Case{0, 0, -8, 0, 0, 0},
                          Case{9, 9, 0, 0, 0, 0}}) {
        PaintFramePart(dialog, 1, frame.pixels.data(), &frame.header, c.cutW, c.cutH, c.srcX,
                       c.srcY);
        EXPECT_EQ(Grab(1), blank) << "empty window " << c.cutW << " " << c.srcX;
    }
}

} // namespace
