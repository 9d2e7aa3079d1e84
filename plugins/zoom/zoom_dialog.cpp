#include "zoom_dialog.h"

#include "paint_frame.h"

#include <algorithm>
#include <utility>

namespace zoom {

namespace {

using dlg::Kind;

constexpr unsigned kPicture = dlg::kDisabled | dlg::kBorder;

const dlg::ControlDef kControls138[] = {
    {dlg::kNoId, Kind::GroupBox, "Start Zoom", 0, 0, 195, 80},
    {kZoomStartPreview, Kind::Edit, "", 5, 12, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "X Zoom", 80, 12, 27, 10},
    {kZoomStartXZoom, Kind::HSlider, "", 108, 12, 55, 10},
    {kZoomStartXZoomEdit, Kind::Edit, "", 165, 10, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Zoom", 80, 24, 27, 10},
    {kZoomStartYZoom, Kind::HSlider, "", 108, 24, 55, 10},
    {kZoomStartYZoomEdit, Kind::Edit, "", 165, 23, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "X Pos", 80, 36, 23, 10},
    {kZoomStartXPos, Kind::HSlider, "", 108, 36, 55, 10},
    {kZoomStartXPosEdit, Kind::Edit, "", 165, 36, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Pos", 80, 48, 23, 10},
    {kZoomStartYPos, Kind::HSlider, "", 108, 48, 55, 10},
    {kZoomStartYPosEdit, Kind::Edit, "", 165, 48, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::GroupBox, "End Zoom", 0, 80, 195, 80},
    {kZoomEndPreview, Kind::Edit, "", 5, 92, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "X Zoom", 80, 92, 27, 10},
    {kZoomEndXZoom, Kind::HSlider, "", 108, 92, 55, 10},
    {kZoomEndXZoomEdit, Kind::Edit, "", 165, 90, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Zoom", 80, 104, 27, 10},
    {kZoomEndYZoom, Kind::HSlider, "", 108, 104, 55, 10},
    {kZoomEndYZoomEdit, Kind::Edit, "", 165, 104, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "X Pos", 80, 116, 23, 10},
    {kZoomEndXPos, Kind::HSlider, "", 108, 116, 55, 10},
    {kZoomEndXPosEdit, Kind::Edit, "", 165, 116, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Pos", 80, 128, 23, 10},
    {kZoomEndYPos, Kind::HSlider, "", 108, 128, 55, 10},
    {kZoomEndYPosEdit, Kind::Edit, "", 165, 128, 25, 12, dlg::kBorder},
    {kZoomFiltering, Kind::CheckBox, "Filtering", 4, 164, 40, 8},
    {kZoomFirstTap + 0, Kind::ToggleButton, "1", 47, 163, 13, 9},
    {kZoomFirstTap + 1, Kind::ToggleButton, "2", 60, 163, 13, 9},
    {kZoomFirstTap + 2, Kind::ToggleButton, "3", 73, 163, 13, 9},
    {kZoomFirstTap + 3, Kind::ToggleButton, "4", 86, 163, 13, 9},
    {kZoomFirstTap + 4, Kind::ToggleButton, "5", 99, 163, 13, 9},
    {kZoomFirstTap + 5, Kind::ToggleButton, "6", 112, 163, 13, 9},
    {kZoomFirstTap + 6, Kind::ToggleButton, "7", 125, 163, 13, 9},
    {kZoomFirstTap + 7, Kind::ToggleButton, "8", 138, 163, 13, 9},
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 176, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 176, 40, 14},
    {plugin::kIdProgress, Kind::Progress, "", 84, 179, 111, 8, dlg::kBorder},
};

constexpr KeyControls kStartControls{kZoomStartXZoom,    kZoomStartYZoom,     kZoomStartXPos,
                                     kZoomStartYPos,     kZoomStartXZoomEdit, kZoomStartYZoomEdit,
                                     kZoomStartXPosEdit, kZoomStartYPosEdit,  true};
constexpr KeyControls kEndControls{kZoomEndXZoom,    kZoomEndYZoom,     kZoomEndXPos,
                                   kZoomEndYPos,     kZoomEndXZoomEdit, kZoomEndYZoomEdit,
                                   kZoomEndXPosEdit, kZoomEndYPosEdit,  false};

constexpr int kMaxZoom = 400;
constexpr double kFullSize = 100.0;

// A position trackbar's range after a zoom, and the position that centres the picture: 0 to
// the excess for a picture larger than the frame, minus the shortfall to 0 for a smaller one.
struct Placement {
    int minimum, maximum;
    double centre;
};

Placement Centre(double zoomedSize, int frameSize, bool wholeHalf) {
    if (frameSize <= zoomedSize) {
        const int excess = int(zoomedSize - frameSize);
        return {0, excess, zoomedSize / 2 - frameSize / 2.0};
    }
    const int shortfall = int(frameSize - zoomedSize);
    return {-shortfall, 0, wholeHalf ? double(-(shortfall / 2)) : -(shortfall / 2.0)};
}

ZoomKey UnchangedKey(int width, int height) {
    ZoomKey key{};
    key.xZoom = key.yZoom = kFullSize;
    key.xSize = width;
    key.ySize = height;
    return key;
}

} // namespace

ZoomDialog::ZoomDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({"ズーム Ver 1.00", 195, 191, kControls138}, parent, ws) {
    ZoomParams& p = params_;
    p.stream = ws.currentStream;
    if (ws.frameFormat) p.format = *ws.frameFormat;
    const int width = p.format.biWidth, height = p.format.biHeight;
    p.start = UnchangedKey(width, height);
    p.end = UnchangedKey(width, height);

    // The host's range is taken as given where it lies inside the stream; frames past either
    // end would read nothing.
    p.frameCount = std::max<int64_t>(AVIStreamLength(ws.currentStream), 0);
    const int32_t last = int32_t(std::max<int64_t>(p.frameCount - 1, 0));
    const int32_t hostStart = ws.rangeStart, hostEnd = ws.rangeEnd; // packed fields
    p.rangeStart = std::clamp(hostStart, 0, last);
    p.rangeEnd = std::clamp(hostEnd, 0, last);

    for (const auto& [key, c] : {std::pair{&p.start, kStartControls}, {&p.end, kEndControls}}) {
        for (int id : {c.xZoom, c.yZoom}) {
            setRange(id, 0, kMaxZoom);
            setPosition(id, int(kFullSize));
        }
        for (int id : {c.xPos, c.yPos}) {
            setRange(id, 0, 0);
            setPosition(id, 0);
        }
        showKey(*key, c);
    }

    const size_t bytes = FrameBufferBytes(p.format);
    for (auto* buffer : {&startFrame_, &endFrame_, &startPreview_, &endPreview_})
        buffer->assign(bytes, 0);
    plugin::ReadFrame(ws.currentStream, p.rangeStart, startFrame_.data(), p.format);
    plugin::ReadFrame(ws.currentStream, p.rangeEnd, endFrame_.data(), p.format);
    invalidate();
}

void ZoomDialog::onControl(int id) {
    if (id == dlg::kIdOk) {
        ZoomRenderer renderer(params_);
        renderToSlot(renderer);
    } else if (id == kZoomFiltering) {
        params_.filter = !params_.filter;
        plugin::SetToggleCheck(*this, kZoomFiltering, params_.filter);
        invalidate();
    } else if (id >= kZoomFirstTap && id < kZoomFirstTap + kTapCount) {
        const uint16_t bit = uint16_t(1u << (id - kZoomFirstTap));
        params_.taps ^= bit;
        plugin::SetToggleCheck(*this, id, params_.taps & bit);
        invalidate();
    }
}

void ZoomDialog::onScroll(int id) {
    for (const auto& [key, c] :
         {std::pair{&params_.start, kStartControls}, {&params_.end, kEndControls}}) {
        if (id == c.xZoom || id == c.yZoom) zoomMoved(*key, c);
        if (id == c.xPos || id == c.yPos) positionMoved(*key, c);
    }
}

// Every zoom change re-centres the picture in both directions.
void ZoomDialog::zoomMoved(ZoomKey& k, const KeyControls& c) {
    const BITMAPINFOHEADER& f = params_.format;
    k.xZoom = position(c.xZoom);
    k.xSize = f.biWidth * (k.xZoom / 100);
    k.yZoom = position(c.yZoom);
    k.ySize = f.biHeight * (k.yZoom / 100);

    const Placement x = Centre(k.xSize, f.biWidth, false);
    k.xPos = x.centre;
    setRange(c.xPos, x.minimum, x.maximum);
    setPosition(c.xPos, int(k.xPos));
    const Placement y = Centre(k.ySize, f.biHeight, c.wholeLineCentre);
    k.yPos = y.centre;
    setRange(c.yPos, y.minimum, y.maximum);
    setPosition(c.yPos, int(k.yPos));

    showKey(k, c);
    invalidate();
}

void ZoomDialog::positionMoved(ZoomKey& key, const KeyControls& c) {
    key.xPos = position(c.xPos);
    key.yPos = position(c.yPos);
    showKey(key, c);
    invalidate();
}

// The edits show the values truncated.
void ZoomDialog::showKey(const ZoomKey& key, const KeyControls& c) {
    setNumber(c.xZoomEdit, int64_t(key.xZoom));
    setNumber(c.yZoomEdit, int64_t(key.yZoom));
    setNumber(c.xPosEdit, int64_t(key.xPos));
    setNumber(c.yPosEdit, int64_t(key.yPos));
}

void ZoomDialog::onPaint() {
    ZoomAndSmooth(params_, params_.start, startFrame_.data(), startPreview_.data());
    PaintFrame(*this, kZoomStartPreview, startPreview_.data(), &params_.format,
               FrameScaling::Nearest);
    ZoomAndSmooth(params_, params_.end, endFrame_.data(), endPreview_.data());
    PaintFrame(*this, kZoomEndPreview, endPreview_.data(), &params_.format, FrameScaling::Nearest);
}

} // namespace zoom
