// The zoom dialog driven through its controls on slots opened by the real host: the position
// trackbars the zoom trackbars set, the previews, and the frames Ok writes into the slot.
#include "../host/host_fixture.h"

#include "avi_io.h"
#include "paint_frame.h"
#include "zoom_dialog.h"

#include <QAbstractButton>
#include <QImage>

#include <utility>
#include <vector>

namespace {

using namespace zoom;
using Frames = std::vector<std::vector<uint8_t>>;
using Drags = std::vector<std::pair<int, int>>; // trackbar id, position

using ZoomDialogTest = HostFixture;

void Slide(ZoomDialog& d, int id, int position) {
    static_cast<QSlider*>(d.control(id))->setValue(position);
}

void Click(ZoomDialog& d, int id) {
    static_cast<QAbstractButton*>(d.control(id))->click();
}

void Drive(ZoomDialog& d, const Drags& drags, const std::vector<int>& clicks) {
    for (const auto& [id, position] : drags)
        Slide(d, id, position);
    for (int id : clicks)
        Click(d, id);
    QCoreApplication::processEvents(); // the previews' deferred paint
}

Frames ReadAll(PAVISTREAM stream) {
    const BITMAPINFOHEADER& format = *workspace.frameFormat;
    Frames frames(size_t(AVIStreamLength(stream)), std::vector<uint8_t>(format.biSizeImage));
    for (size_t n = 0; n < frames.size(); ++n)
        AVIStreamRead(stream, LONG(n), 1, frames[n].data(), LONG(format.biSizeImage), nullptr,
                      nullptr);
    return frames;
}

// Zoom in percent and position, as a user sets them.
struct Setting {
    double xZoom = 100, yZoom = 100, xPos = 0, yPos = 0;
};

ZoomKey KeyOf(const Setting& s) {
    ZoomKey key{};
    key.xZoom = s.xZoom;
    key.yZoom = s.yZoom;
    key.xPos = s.xPos;
    key.yPos = s.yPos;
    return key;
}

// The kernels' picture of one frame under a key; taps 0 leaves the filter off.
std::vector<uint8_t> Zoomed(ZoomKey key, const std::vector<uint8_t>& source, uint16_t taps) {
    const BITMAPINFOHEADER& f = *workspace.frameFormat;
    key.xSize = f.biWidth * (key.xZoom / 100);
    key.ySize = f.biHeight * (key.yZoom / 100);
    std::vector<uint8_t> out(source.size(), 0);
    ZoomFrame(key, source.data(), out.data(), f.biWidth, f.biHeight, f.biBitCount);
    if (taps) SmoothFrame(out.data(), out.data(), taps, f.biWidth, f.biHeight, f.biBitCount);
    return out;
}

// The stream with frames first..last zoomed from one setting to the other.
Frames Rendered(Frames frames, int first, int last, const Setting& from, const Setting& to,
                uint16_t taps) {
    ZoomKey key = KeyOf(from);
    const ZoomKey end = KeyOf(to);
    ComputeZoomSteps(key, end, first, last);
    for (int n = first; n <= last; ++n) {
        frames[size_t(n)] = Zoomed(key, frames[size_t(n)], taps);
        AdvanceZoomKey(key, end);
    }
    return frames;
}

struct PositionCase {
    const char* name;
    Drags drags;
    int trackbar, minimum, maximum, position;
    int edit;
    const char* text;
};

TEST_F(ZoomDialogTest, ZoomTrackbarsCentreThePictureAndSetThePositionRanges) {
    const PositionCase cases[] = {
        {"at start", {}, kEndXPos, 0, 0, 0, kEndXPosEdit, "0"},
        {"zoom edit", {{kStartYZoom, 37}}, kStartYZoom, 0, 400, 37, kStartYZoomEdit, "37"},
        {"x 200 %", {{kStartXZoom, 200}}, kStartXPos, 0, 320, 160, kStartXPosEdit, "160"},
        {"x 50 %", {{kStartXZoom, 50}}, kStartXPos, -160, 0, -80, kStartXPosEdit, "-80"},
        {"start y shortfall 61",
         {{kStartYZoom, 50}},
         kStartYPos,
         -61,
         0,
         -30,
         kStartYPosEdit,
         "-30"},
        {"end y shortfall 61", {{kEndYZoom, 50}}, kEndYPos, -61, 0, -30, kEndYPosEdit, "-30"},
        {"other group's zoom",
         {{kStartXZoom, 200}, {kStartXPos, 50}, {kEndXZoom, 300}, {kEndYZoom, 150}},
         kStartXPos,
         0,
         320,
         50,
         kStartXPosEdit,
         "50"},
        {"own zoom re-centres",
         {{kStartXZoom, 200}, {kStartXPos, 50}, {kStartYZoom, 150}},
         kStartXPos,
         0,
         320,
         160,
         kStartXPosEdit,
         "160"},
        {"end x 50 %", {{kEndXZoom, 50}}, kEndXPos, -160, 0, -80, kEndXPosEdit, "-80"},
        {"end x pos", {{kEndXZoom, 150}, {kEndXPos, 7}}, kEndXPos, 0, 160, 7, kEndXPosEdit, "7"},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 320, 122, 3));
    for (const PositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditWorkspace ws = workspace;
        ZoomDialog d(nullptr, ws);
        d.show();
        Drive(d, c.drags, {});
        EXPECT_EQ(d.minimum(c.trackbar), c.minimum);
        EXPECT_EQ(d.maximum(c.trackbar), c.maximum);
        EXPECT_EQ(d.position(c.trackbar), c.position);
        EXPECT_EQ(d.text(c.edit).toStdString(), c.text);
    }
}

struct PreviewCase {
    const char* name;
    Drags drags;
    std::vector<int> clicks;
    Setting start, end;
    bool filter;
    uint16_t taps;
};

// The previews show the first and the last frame of the range zoomed, then smoothed.
TEST_F(ZoomDialogTest, PreviewsShowBothEndsOfTheRangeUnderTheirKeys) {
    const int tap3 = kFirstTap + 2, tap5 = kFirstTap + 4;
    const PreviewCase cases[] = {
        {"unchanged", {}, {}, {}, {}, false, 0},
        {"zoomed",
         {{kStartXZoom, 200}, {kEndYZoom, 0}},
         {},
         {200, 100, 8},
         {100, 0, 0, -31},
         false,
         0},
        {"smoothed",
         {{kEndXZoom, 150}},
         {kFiltering, tap3, tap3, tap5},
         {},
         {150, 100, 4},
         true,
         0x10},
        {"filter off again", {}, {kFiltering, tap5, kFiltering}, {}, {}, false, 0x10},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    ASSERT_TRUE(WriteGradientAvi((folder / "g.avi").string(), 16, 62, 12, 24));
    Open((folder / "g.avi").string());
    workspace.rangeStart = 3;
    workspace.rangeEnd = 9;
    const Frames source = ReadAll(workspace.currentStream);
    for (const PreviewCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditWorkspace ws = workspace;
        ZoomDialog d(nullptr, ws);
        d.show();
        Drive(d, c.drags, c.clicks);
        EXPECT_EQ(d.isChecked(kFiltering), c.filter);
        for (int k = 0; k < kTapCount; ++k)
            EXPECT_EQ(d.isChecked(kFirstTap + k), (c.taps >> k & 1) != 0) << k;
        const uint16_t taps = c.filter ? c.taps : 0;
        const std::pair<int, std::vector<uint8_t>> previews[] = {
            {kStartPreview, Zoomed(KeyOf(c.start), source[3], taps)},
            {kEndPreview, Zoomed(KeyOf(c.end), source[9], taps)},
        };
        for (const auto& [id, expected] : previews) {
            const QImage shown = d.control(id)->grab().toImage();
            PaintFrame(d, id, expected.data(), workspace.frameFormat, FrameScaling::Nearest);
            EXPECT_EQ(shown, d.control(id)->grab().toImage()) << id;
        }
    }
}

struct RenderCase {
    const char* name;
    int bitCount;
    int rangeStart, rangeEnd; // as the host hands it over
    Drags drags;
    std::vector<int> clicks;
    int first, last; // the frames zoomed
    Setting start, end;
    uint16_t taps; // with the filter on; 0: off
    bool black;    // the zoomed frames are black
};

// 62 frames of 15 x 122 pixels: rows of 45 bytes, padded to 48 in the stream.
TEST_F(ZoomDialogTest, OkZoomsTheRangeFromTheStartKeyToTheEndKey) {
    const RenderCase cases[] = {
        {"100 % to 200 %",
         24,
         10,
         20,
         {{kEndXZoom, 200}, {kEndYZoom, 200}},
         {},
         10,
         20,
         {},
         {200, 200, 7.5, 61},
         0,
         false},
        {"one frame takes the start key",
         24,
         5,
         5,
         {{kStartXZoom, 150}, {kEndXZoom, 300}},
         {},
         5,
         5,
         {150, 100, 3.75},
         {300, 100, 15},
         0,
         false},
        {"zoom 0 is black",
         24,
         3,
         4,
         {{kStartYZoom, 0}, {kEndYZoom, 0}},
         {},
         3,
         4,
         {100, 0, 0, -61},
         {100, 0, 0, -61},
         0,
         true},
        {"range past the stream",
         24,
         55,
         80,
         {{kEndXZoom, 200}},
         {},
         55,
         61,
         {},
         {200, 100, 7.5},
         0,
         false},
        {"dragged position and filter",
         24,
         0,
         9,
         {{kStartXZoom, 200}, {kStartXPos, 3}, {kEndYZoom, 300}},
         {kFiltering, kFirstTap + 2, kFirstTap + 4},
         0,
         9,
         {200, 100, 3},
         {100, 300, 0, 122},
         0x14,
         false},
        {"start centres on a whole line",
         24,
         0,
         61,
         {{kStartYZoom, 50}},
         {},
         0,
         61,
         {100, 50, 0, -30},
         {},
         0,
         false},
        {"end centres on half a line",
         24,
         0,
         61,
         {{kEndYZoom, 50}},
         {},
         0,
         61,
         {},
         {100, 50, 0, -30.5},
         0,
         false},
        {"16-bit frames, filter left out",
         16,
         2,
         6,
         {{kEndXZoom, 150}},
         {kFiltering, kFirstTap},
         2,
         6,
         {},
         {150, 100, 3.75},
         0x01,
         false},
    };
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        ASSERT_TRUE(WriteGradientAvi((folder / "g.avi").string(), 15, 122, 62, c.bitCount));
        Open((folder / "g.avi").string());
        const Frames source = ReadAll(workspace.currentStream);
        workspace.rangeStart = c.rangeStart;
        workspace.rangeEnd = c.rangeEnd;
        EditWorkspace ws = workspace;
        {
            ZoomDialog d(nullptr, ws);
            d.show();
            Drive(d, c.drags, c.clicks);
            Click(d, dlg::kIdOk);
        }
        EXPECT_TRUE(ui_script::ShownMessages().empty());
        ReloadSlotFromTemp(workspace, workspace.currentSlot);
        const Frames written = ReadAll(workspace.currentStream);
        ASSERT_EQ(written.size(), source.size());
        const Frames expected = Rendered(source, c.first, c.last, c.start, c.end, c.taps);
        for (size_t n = 0; n < written.size(); ++n)
            EXPECT_EQ(written[n], expected[n]) << "frame " << n;
        for (int n = c.first; n <= c.last && c.black; ++n)
            EXPECT_EQ(written[size_t(n)], std::vector<uint8_t>(written[0].size(), 0));
        DestroyMainWindow();
    }
}

TEST_F(ZoomDialogTest, AFrameTheStreamCannotDeliverStopsTheRenderAndLeavesTheSlot) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string path = (folder / "g.avi").string();
    ASSERT_TRUE(WriteGradientAvi(path, 15, 122, 62, 24));
    Open(path);
    const Frames source = ReadAll(workspace.currentStream);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    workspace.rangeStart = 0;
    workspace.rangeEnd = 61;
    EditWorkspace ws = workspace;
    {
        ZoomDialog d(nullptr, ws);
        d.show();
        Slide(d, kEndXZoom, 200);
        Click(d, dlg::kIdOk);
        EXPECT_TRUE(d.isVisible());
    }
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].text, "フレームを読み込めませんでした");
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
    const PAVISTREAM kept = ws.slotStreams[0], host = workspace.slotStreams[0]; // packed fields
    EXPECT_EQ(kept, host);
    EXPECT_FALSE(std::filesystem::exists(temp() / "00.avi"));
    EXPECT_FALSE(std::filesystem::exists(temp() / "98.avi"));
    EXPECT_EQ(ReadAll(host)[0], source[0]);
}

} // namespace
