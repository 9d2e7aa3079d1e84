#include "zoom_dialog.h"

#include "paint_frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zoom {

namespace {

using dlg::Kind;

constexpr unsigned kPicture = dlg::kDisabled | dlg::kBorder;

// The zoom labels reach a little under their trackbars: the dialog font here is wider than the
// one the layout was drawn for, and a label cut to "X" says nothing.
const dlg::ControlDef kControls138[] = {
    {dlg::kNoId, Kind::GroupBox, "Start Zoom", 0, 0, 195, 80},
    {kStartPreview, Kind::Edit, "", 5, 12, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "X Zoom", 80, 12, 27, 10},
    {kStartXZoom, Kind::HSlider, "", 103, 12, 60, 10},
    {kStartXZoomEdit, Kind::Edit, "", 165, 10, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Zoom", 80, 24, 27, 10},
    {kStartYZoom, Kind::HSlider, "", 103, 24, 60, 10},
    {kStartYZoomEdit, Kind::Edit, "", 165, 23, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "X Pos", 80, 36, 23, 10},
    {kStartXPos, Kind::HSlider, "", 103, 36, 60, 10},
    {kStartXPosEdit, Kind::Edit, "", 165, 36, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Pos", 80, 48, 23, 10},
    {kStartYPos, Kind::HSlider, "", 103, 48, 60, 10},
    {kStartYPosEdit, Kind::Edit, "", 165, 48, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::GroupBox, "End Zoom", 0, 80, 195, 80},
    {kEndPreview, Kind::Edit, "", 5, 92, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "X Zoom", 80, 92, 27, 10},
    {kEndXZoom, Kind::HSlider, "", 103, 92, 60, 10},
    {kEndXZoomEdit, Kind::Edit, "", 165, 90, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Zoom", 80, 104, 27, 10},
    {kEndYZoom, Kind::HSlider, "", 103, 104, 60, 10},
    {kEndYZoomEdit, Kind::Edit, "", 165, 104, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "X Pos", 80, 116, 23, 10},
    {kEndXPos, Kind::HSlider, "", 103, 116, 60, 10},
    {kEndXPosEdit, Kind::Edit, "", 165, 116, 25, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Y Pos", 80, 128, 23, 10},
    {kEndYPos, Kind::HSlider, "", 103, 128, 60, 10},
    {kEndYPosEdit, Kind::Edit, "", 165, 128, 25, 12, dlg::kBorder},
    {kFiltering, Kind::CheckBox, "Filtering", 4, 164, 40, 8},
    {kFirstTap + 0, Kind::ToggleButton, "1", 47, 163, 13, 9},
    {kFirstTap + 1, Kind::ToggleButton, "2", 60, 163, 13, 9},
    {kFirstTap + 2, Kind::ToggleButton, "3", 73, 163, 13, 9},
    {kFirstTap + 3, Kind::ToggleButton, "4", 86, 163, 13, 9},
    {kFirstTap + 4, Kind::ToggleButton, "5", 99, 163, 13, 9},
    {kFirstTap + 5, Kind::ToggleButton, "6", 112, 163, 13, 9},
    {kFirstTap + 6, Kind::ToggleButton, "7", 125, 163, 13, 9},
    {kFirstTap + 7, Kind::ToggleButton, "8", 138, 163, 13, 9},
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 176, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 176, 40, 14},
    {plugin::kIdProgress, Kind::Progress, "", 84, 179, 111, 8, dlg::kBorder},
};

const dlg::DialogDef kDialog138{"ズーム Ver 1.00", 195, 191, kControls138};

constexpr KeyControls kStartControls{kStartXZoom,    kStartYZoom,     kStartXPos,
                                     kStartYPos,     kStartXZoomEdit, kStartYZoomEdit,
                                     kStartXPosEdit, kStartYPosEdit};
constexpr KeyControls kEndControls{kEndXZoom,     kEndYZoom,     kEndXPos,     kEndYPos,
                                   kEndXZoomEdit, kEndYZoomEdit, kEndXPosEdit, kEndYPosEdit};

const char kFrameUnreadable[] = "フレームを読み込めませんでした";

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

// Bytes the kernels write into a frame: rows of packed pixels, none for depths they leave alone
// (the smoothing runs on 24-bit frames only).
size_t KernelBytes(const BITMAPINFOHEADER& format) {
    const int64_t width = format.biWidth, height = format.biHeight, bits = format.biBitCount;
    if ((bits != 16 && bits != 24) || width <= 0 || height <= 0) return 0;
    return size_t(width * height * (bits / 8));
}

} // namespace

ZoomDialog::ZoomDialog(QWidget* parent, EditWorkspace& ws) : PluginDialog(kDialog138, parent, ws) {
    if (ws.frameFormat) format_ = *ws.frameFormat;
    const int width = format_.biWidth, height = format_.biHeight;
    start_ = {UnchangedKey(width, height), kStartControls, true};
    end_ = {UnchangedKey(width, height), kEndControls, false};

    // The host's range is taken as given where it lies inside the stream; frames past either
    // end would read nothing.
    frameCount_ = std::max<int64_t>(AVIStreamLength(ws.currentStream), 0);
    const int32_t last = int32_t(std::max<int64_t>(frameCount_ - 1, 0));
    const int32_t hostStart = ws.rangeStart, hostEnd = ws.rangeEnd; // packed fields
    rangeStart_ = std::clamp(hostStart, 0, last);
    rangeEnd_ = std::clamp(hostEnd, 0, last);

    for (const Key* key : {&start_, &end_}) {
        const KeyControls& c = key->controls;
        for (int id : {c.xZoom, c.yZoom}) {
            setRange(id, 0, kMaxZoom);
            setPosition(id, int(kFullSize));
        }
        for (int id : {c.xPos, c.yPos}) {
            setRange(id, 0, 0);
            setPosition(id, 0);
        }
        showKey(*key);
    }

    kernelBytes_ = KernelBytes(format_);
    const size_t bytes = std::max<size_t>(format_.biSizeImage, kernelBytes_);
    for (auto* buffer : {&startFrame_, &endFrame_, &startPreview_, &endPreview_})
        buffer->assign(bytes, 0);
    plugin::ReadFrame(ws.currentStream, rangeStart_, startFrame_.data(), format_);
    plugin::ReadFrame(ws.currentStream, rangeEnd_, endFrame_.data(), format_);
    invalidate();
}

void ZoomDialog::onControl(int id) {
    if (id == dlg::kIdOk) {
        render();
    } else if (id == kFiltering) {
        filterEnabled_ ^= 1;
        plugin::SetToggleCheck(*this, kFiltering, filterEnabled_);
        invalidate();
    } else if (id >= kFirstTap && id < kFirstTap + kTapCount) {
        const uint16_t bit = uint16_t(1u << (id - kFirstTap));
        filterTaps_ ^= bit;
        plugin::SetToggleCheck(*this, id, filterTaps_ & bit);
        invalidate();
    }
}

void ZoomDialog::onScroll(int id) {
    for (Key* key : {&start_, &end_}) {
        const KeyControls& c = key->controls;
        if (id == c.xZoom || id == c.yZoom) zoomMoved(*key);
        if (id == c.xPos || id == c.yPos) positionMoved(*key);
    }
}

// Every zoom change re-centres the picture in both directions.
void ZoomDialog::zoomMoved(Key& key) {
    ZoomKey& k = key.value;
    const KeyControls& c = key.controls;
    k.xZoom = position(c.xZoom);
    k.xSize = format_.biWidth * (k.xZoom / 100);
    k.yZoom = position(c.yZoom);
    k.ySize = format_.biHeight * (k.yZoom / 100);

    const Placement x = Centre(k.xSize, format_.biWidth, false);
    k.xPos = x.centre;
    setRange(c.xPos, x.minimum, x.maximum);
    setPosition(c.xPos, int(k.xPos));
    const Placement y = Centre(k.ySize, format_.biHeight, key.wholeLineCentre);
    k.yPos = y.centre;
    setRange(c.yPos, y.minimum, y.maximum);
    setPosition(c.yPos, int(k.yPos));

    showKey(key);
    invalidate();
}

void ZoomDialog::positionMoved(Key& key) {
    key.value.xPos = position(key.controls.xPos);
    key.value.yPos = position(key.controls.yPos);
    showKey(key);
    invalidate();
}

// The edits show the values truncated.
void ZoomDialog::showKey(const Key& key) {
    const KeyControls& c = key.controls;
    setNumber(c.xZoomEdit, int64_t(key.value.xZoom));
    setNumber(c.yZoomEdit, int64_t(key.value.yZoom));
    setNumber(c.xPosEdit, int64_t(key.value.xPos));
    setNumber(c.yPosEdit, int64_t(key.value.yPos));
}

void ZoomDialog::zoomAndSmooth(const ZoomKey& key, const uint8_t* source, uint8_t* output) const {
    const int width = format_.biWidth, height = format_.biHeight, bits = format_.biBitCount;
    ZoomFrame(key, source, output, width, height, bits);
    if (filterEnabled_) SmoothFrame(output, output, filterTaps_, width, height, bits);
}

void ZoomDialog::onPaint() {
    zoomAndSmooth(start_.value, startFrame_.data(), startPreview_.data());
    PaintFrame(*this, kStartPreview, startPreview_.data(), &format_, FrameScaling::Nearest);
    zoomAndSmooth(end_.value, endFrame_.data(), endPreview_.data());
    PaintFrame(*this, kEndPreview, endPreview_.data(), &format_, FrameScaling::Nearest);
}

void ZoomDialog::render() {
    running_ = start_.value;
    ComputeZoomSteps(running_, end_.value, rangeStart_, rangeEnd_);
    renderSource_.assign(startFrame_.size(), 0);
    renderToSlot(frameCount_, format_,
                 [this](int64_t index, uint8_t* pixels) { return produceFrame(index, pixels); });
}

// Frames outside the range are copied; each frame of the range is zoomed by the running key,
// which then moves one step toward the end key.
bool ZoomDialog::produceFrame(int64_t index, uint8_t* pixels) {
    const PAVISTREAM stream = workspace().currentStream;
    const bool inRange = index >= rangeStart_ && index <= rangeEnd_;
    if (!plugin::ReadFrame(stream, index, inRange ? renderSource_.data() : pixels, format_)) {
        reportError(kFrameUnreadable);
        return false;
    }
    if (!inRange) return true;
    running_.xSize = format_.biWidth * (running_.xZoom / 100);
    running_.ySize = format_.biHeight * (running_.yZoom / 100);
    // Straight into the output frame when it holds the kernels' rows; the rest of it (row
    // padding, or the whole frame at a depth they leave alone) turns black.
    const size_t imageBytes = format_.biSizeImage;
    const bool direct = kernelBytes_ <= imageBytes;
    uint8_t* target = direct ? pixels : startPreview_.data();
    zoomAndSmooth(running_, renderSource_.data(), target);
    if (direct)
        std::memset(pixels + kernelBytes_, 0, imageBytes - kernelBytes_);
    else
        std::memcpy(pixels, target, imageBytes);
    AdvanceZoomKey(running_, end_.value);
    return true;
}

} // namespace zoom
