// The zoom dialog driven through its controls on slots opened by the real host: the position
// trackbars the zoom trackbars set, the previews, and the frames Ok writes into the slot.
#include "../host/host_fixture.h"

#include "avi_io.h"
#include "paint_frame.h"
#include "zoom_dialog.h"
#include "zoom_setting.h"

#include <QAbstractButton>
#include <QImage>

#include <string>
#include <vector>

namespace {

using namespace zoom;
using Frames = std::vector<std::vector<uint8_t>>;

using ZoomDialogTest = HostFixture;

// A trackbar dragged to value, or a button clicked.
struct Step {
    int id;
    int value = 0;
};
using Steps = std::vector<Step>;

void Drive(ZoomDialog& d, const Steps& steps) {
    for (const Step& step : steps) {
        QWidget* control = d.control(step.id);
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            button->click();
        else
            static_cast<QSlider*>(control)->setValue(step.value);
    }
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

// What Ok should write: the renderer's frames with the keys and the range the controls set.
Frames Rendered(int first, int last, const Setting& from, const Setting& to, uint16_t taps) {
    ZoomParams params;
    params.stream = workspace.currentStream;
    params.format = *workspace.frameFormat;
    params.frameCount = AVIStreamLength(params.stream);
    params.rangeStart = first;
    params.rangeEnd = last;
    params.start = KeyOf(from);
    params.end = KeyOf(to);
    params.filter = taps != 0;
    params.taps = taps;
    ZoomRenderer renderer(params);
    Frames frames(size_t(params.frameCount), std::vector<uint8_t>(params.format.biSizeImage));
    for (size_t n = 0; n < frames.size(); ++n)
        EXPECT_TRUE(renderer.render(int64_t(n), frames[n].data()).ok);
    return frames;
}

// What a preview shows, against the expected frame painted into it the same way.
void ExpectPreview(ZoomDialog& d, int id, const std::vector<uint8_t>& expected) {
    const QImage shown = d.control(id)->grab().toImage();
    PaintFrame(d, id, expected.data(), workspace.frameFormat, FrameScaling::Nearest);
    EXPECT_EQ(shown, d.control(id)->grab().toImage()) << id;
}

struct PositionCase {
    const char* name;
    Steps steps;
    int trackbar, minimum, maximum, position;
    int edit; // shows the position
};

TEST_F(ZoomDialogTest, ZoomTrackbarsCentreThePictureAndSetThePositionRanges) {
    const PositionCase cases[] = {
        {"at start", Steps{}, kZoomEndXPos, 0, 0, 0, kZoomEndXPosEdit},
        {"zoom edit", Steps{{kZoomStartYZoom, 37}}, kZoomStartYZoom, 0, 400, 37,
         kZoomStartYZoomEdit},
        {"x 200 %", Steps{{kZoomStartXZoom, 200}}, kZoomStartXPos, 0, 320, 160, kZoomStartXPosEdit},
        {"x 50 %", Steps{{kZoomStartXZoom, 50}}, kZoomStartXPos, -160, 0, -80, kZoomStartXPosEdit},
        {"start y shortfall 61", Steps{{kZoomStartYZoom, 50}}, kZoomStartYPos, -61, 0, -30,
         kZoomStartYPosEdit},
        {"end y shortfall 61", Steps{{kZoomEndYZoom, 50}}, kZoomEndYPos, -61, 0, -30,
         kZoomEndYPosEdit},
        {"other group's zoom",
         Steps{{kZoomStartXZoom, 200}, {kZoomStartXPos, 50}, {kZoomEndXZoom, 300}}, kZoomStartXPos,
         0, 320, 50, kZoomStartXPosEdit},
        {"own zoom re-centres",
         Steps{{kZoomStartXZoom, 200}, {kZoomStartXPos, 50}, {kZoomStartYZoom, 150}},
         kZoomStartXPos, 0, 320, 160, kZoomStartXPosEdit},
        {"end x 50 %", Steps{{kZoomEndXZoom, 50}}, kZoomEndXPos, -160, 0, -80, kZoomEndXPosEdit},
        {"end x pos", Steps{{kZoomEndXZoom, 150}, {kZoomEndXPos, 7}}, kZoomEndXPos, 0, 160, 7,
         kZoomEndXPosEdit},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 320, 122, 3));
    for (const PositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditWorkspace ws = workspace;
        ZoomDialog d(nullptr, ws);
        d.show();
        Drive(d, c.steps);
        EXPECT_EQ(d.minimum(c.trackbar), c.minimum);
        EXPECT_EQ(d.maximum(c.trackbar), c.maximum);
        EXPECT_EQ(d.position(c.trackbar), c.position);
        EXPECT_EQ(d.text(c.edit).toStdString(), std::to_string(c.position));
    }
}

struct RenderCase {
    const char* name;
    int rangeStart, rangeEnd; // as the host hands it over
    Steps steps;
    int first, last; // the frames zoomed
    Setting start, end;
    uint16_t taps = 0; // checked
    bool filter = false;
    int bitCount = 24;
};

// 62 frames of 15 x 122 pixels: rows of 45 bytes, padded to 48 in the stream. The previews show
// the first and the last frame of the range under their keys; Ok writes the whole stream.
TEST_F(ZoomDialogTest, OkZoomsTheRangeFromTheStartKeyToTheEndKey) {
    const int tap3 = kZoomFirstTap + 2, tap4 = kZoomFirstTap + 3, tap5 = kZoomFirstTap + 4;
    const RenderCase cases[] = {
        {"100 % to 200 %, filter on and off", 10, 20,
         Steps{{kZoomEndXZoom, 200},
               {kZoomEndYZoom, 200},
               {kZoomFiltering},
               {tap3},
               {kZoomFiltering}},
         10, 20, Setting{}, Setting{200, 200, 7.5, 61}, 0x04},
        {"one frame takes the start key", 5, 5, Steps{{kZoomStartXZoom, 150}, {kZoomEndXZoom, 300}},
         5, 5, Setting{150, 100, 3.75}, Setting{300, 100, 15}},
        {"zoom 0", 3, 4, Steps{{kZoomStartYZoom, 0}, {kZoomEndYZoom, 0}}, 3, 4,
         Setting{100, 0, 0, -61}, Setting{100, 0, 0, -61}},
        {"range past the stream", 55, 80, Steps{{kZoomEndXZoom, 200}}, 55, 61, Setting{},
         Setting{200, 100, 7.5}},
        {"dragged position and filter", 0, 9,
         Steps{{kZoomStartXZoom, 200},
               {kZoomStartXPos, 3},
               {kZoomEndYZoom, 300},
               {kZoomFiltering},
               {tap3},
               {tap4},
               {tap4},
               {tap5}},
         0, 9, Setting{200, 100, 3}, Setting{100, 300, 0, 122}, 0x14, true},
        {"start centres on a whole line", 0, 61, Steps{{kZoomStartYZoom, 50}}, 0, 61,
         Setting{100, 50, 0, -30}, Setting{}},
        {"end centres on half a line", 0, 61, Steps{{kZoomEndYZoom, 50}}, 0, 61, Setting{},
         Setting{100, 50, 0, -30.5}},
        {"16-bit frames, filter left out", 2, 6,
         Steps{{kZoomEndXZoom, 150}, {kZoomFiltering}, {kZoomFirstTap}}, 2, 6, Setting{},
         Setting{150, 100, 3.75}, 0x01, true, 16},
    };
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t taps = c.filter ? c.taps : 0;
        ASSERT_NE(CreateMainWindow(), nullptr);
        ASSERT_TRUE(WriteGradientAvi((folder / "g.avi").string(), 15, 122, 62, c.bitCount));
        Open((folder / "g.avi").string());
        const Frames source = ReadAll(workspace.currentStream);
        const Frames expected = Rendered(c.first, c.last, c.start, c.end, taps);
        workspace.rangeStart = c.rangeStart;
        workspace.rangeEnd = c.rangeEnd;
        EditWorkspace ws = workspace;
        {
            ZoomDialog d(nullptr, ws);
            d.show();
            Drive(d, c.steps);
            EXPECT_EQ(d.isChecked(kZoomFiltering), c.filter);
            for (int k = 0; k < kTapCount; ++k)
                EXPECT_EQ(d.isChecked(kZoomFirstTap + k), (c.taps >> k & 1) != 0) << k;
            ExpectPreview(d, kZoomStartPreview,
                          Zoomed(KeyOf(c.start), source[size_t(c.first)], taps));
            ExpectPreview(d, kZoomEndPreview, Zoomed(KeyOf(c.end), source[size_t(c.last)], taps));
            Drive(d, Steps{{dlg::kIdOk}});
        }
        EXPECT_TRUE(ui_script::ShownMessages().empty());
        session::ReloadAfterEffect();
        const Frames written = ReadAll(workspace.currentStream);
        ASSERT_EQ(written.size(), source.size());
        for (size_t n = 0; n < written.size(); ++n)
            EXPECT_EQ(written[n], expected[n]) << "frame " << n;
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
        Drive(d, Steps{{kZoomEndXZoom, 200}, {dlg::kIdOk}});
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
