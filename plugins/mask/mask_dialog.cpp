#include "mask_dialog.h"

#include "paint_frame.h"

#include <QString>

#include <algorithm>

namespace mask {

namespace {

using dlg::Kind;

constexpr unsigned kPicture = dlg::kDisabled | dlg::kBorder;
constexpr unsigned kInfo = dlg::kCentre | dlg::kBorder;

const dlg::ControlDef kControls138[] = {
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 231, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 231, 40, 14},
    {plugin::kIdProgress, Kind::Progress, "", 82, 231, 155, 10, dlg::kBorder},
    {dlg::kNoId, Kind::GroupBox, "Mask Bass Pic", 0, 0, 85, 110},
    {kMaskBasePreview, Kind::Edit, "", 7, 12, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "Start", 7, 73, 17, 8},
    {dlg::kNoId, Kind::Static, "End", 8, 81, 14, 8},
    {kMaskBaseStart, Kind::HSlider, "", 25, 74, 55, 10},
    {kMaskBaseEnd, Kind::HSlider, "", 25, 81, 55, 10},
    {kMaskBaseInfo, Kind::Edit, "", 7, 91, 71, 12, kInfo},
    {dlg::kNoId, Kind::GroupBox, "Mask Back Graund", 85, 0, 153, 110},
    {kMaskBackPreview, Kind::Edit, "", 92, 12, 70, 60, kPicture},
    {dlg::kNoId, Kind::Static, "Start", 92, 74, 17, 8},
    {dlg::kNoId, Kind::Static, "End", 93, 82, 14, 8},
    {kMaskBackStart, Kind::HSlider, "", 110, 74, 55, 10},
    {kMaskBackEnd, Kind::HSlider, "", 110, 82, 55, 10},
    {kMaskBackInfo, Kind::Edit, "", 92, 92, 71, 12, kInfo},
    {kMaskBackSlots, Kind::ListView, "", 173, 12, 60, 60},
    {kMaskBackOneFrame, Kind::RadioButton, "1 Frame Only", 174, 77, 55, 10, dlg::kFlat},
    {kMaskNoUseBackground, Kind::RadioButton, "No Use BG", 174, 91, 49, 10,
     dlg::kFlat | dlg::kAuto},
    {dlg::kNoId, Kind::GroupBox, "Mask Control", 0, 110, 239, 120},
    {kMaskMaskPreview, Kind::Edit, "", 92, 122, 70, 60, kPicture},
    {kMaskCrossRow, Kind::VScrollBar, "", 163, 122, 8, 60},
    {kMaskCrossColumn, Kind::HScrollBar, "", 92, 183, 70, 8},
    {dlg::kNoId, Kind::Static, "Start", 93, 192, 17, 8},
    {dlg::kNoId, Kind::Static, "End", 94, 200, 14, 8},
    {kMaskMaskStart, Kind::HSlider, "", 111, 191, 55, 10},
    {kMaskMaskEnd, Kind::HSlider, "", 111, 200, 55, 10},
    {kMaskMaskInfo, Kind::Edit, "", 92, 210, 71, 12, kInfo},
    {kMaskMaskSlots, Kind::ListView, "", 173, 122, 60, 60},
    {kMaskMaskOneFrame, Kind::RadioButton, "1 Frame Only", 174, 191, 55, 10, dlg::kFlat},
    {dlg::kNoId, Kind::GroupBox, "Display Color Get", 5, 138, 85, 38},
    {kMaskGetDispColor, Kind::RadioButton, "Get Disp Color", 9, 122, 60, 12,
     dlg::kFlat | dlg::kCentre},
    {kMaskMagnification, Kind::DropDown, "", 9, 148, 25, 30},
    {kMaskPickInfo, Kind::Edit, "", 9, 162, 77, 12, kInfo},
    {kMaskSwatch, Kind::Edit, "", 71, 121, 15, 15, kPicture | dlg::kCentre},
    {dlg::kNoId, Kind::GroupBox, "Manual Color Set", 5, 177, 85, 48},
    {dlg::kNoId, Kind::Static, "R", 7, 189, 8, 8},
    {dlg::kNoId, Kind::Static, "G", 7, 201, 8, 8},
    {dlg::kNoId, Kind::Static, "B", 7, 213, 8, 8},
    {kMaskRedBar, Kind::HScrollBar, "", 15, 187, 55, 11},
    {kMaskGreenBar, Kind::HScrollBar, "", 15, 199, 55, 11},
    {kMaskBlueBar, Kind::HScrollBar, "", 15, 211, 55, 11},
    {kMaskRedLevel, Kind::Edit, "", 70, 187, 16, 12, kInfo},
    {kMaskGreenLevel, Kind::Edit, "", 70, 199, 16, 12, kInfo},
    {kMaskBlueLevel, Kind::Edit, "", 70, 211, 16, 12, kInfo},
};

// oneFrameFlags bits: the group holds its start frame for the whole range.
constexpr uint16_t kBackHolds = 1u << 0;
constexpr uint16_t kMaskHolds = 1u << 1;

constexpr int kLevelBars[] = {kMaskRedBar, kMaskGreenBar, kMaskBlueBar};
constexpr int kPickControls[] = {kMaskCrossColumn, kMaskCrossRow, kMaskMagnification};
constexpr int kBackgroundControls[] = {kMaskBackStart, kMaskBackEnd, kMaskBackOneFrame,
                                       kMaskBackSlots};

constexpr const char* kNot24Bit = "マスク合成は24ビットの映像にだけ使えます";
constexpr const char* kBackDiffers = "背景の映像の大きさか色数が元の映像と違います";
constexpr const char* kMaskDiffers = "マスクの映像の大きさか色数が元の映像と違います";

// Byte of keyColor_ (blue, green, red) that a level bar sets, and the edit showing it.
int ChannelOf(int bar) {
    return bar == kMaskRedBar ? 2 : bar == kMaskGreenBar ? 1 : 0;
}
int LevelEditOf(int bar) {
    return bar + 1;
}

// Room for one frame of the format however its rows are laid out: biSizeImage, or the packed
// rows the pick view and the cross-hair address, whichever is larger.
size_t FrameRoom(const BITMAPINFOHEADER& format) {
    const int64_t packed = int64_t{std::max<LONG>(format.biWidth, 0)} *
                           std::max<LONG>(format.biHeight, 0) * (format.biBitCount / 8);
    return static_cast<size_t>(std::max<int64_t>(packed, format.biSizeImage));
}

bool SameFrames(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount &&
           a.biSizeImage == b.biSizeImage;
}

QString RangeText(int32_t length, int32_t start, int32_t end) {
    return QString::asprintf("%.3d/ (%.3d,%.3d)", length - 1, start, end);
}

} // namespace

MaskDialog::MaskDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({"マスク Ver 1.00", 239, 245, kControls138}, parent, ws) {
    const BITMAPINFOHEADER& format = *ws.frameFormat;
    width_ = format.biWidth;
    height_ = format.biHeight;
    bitCount_ = format.biBitCount;
    initPickView();

    base_.format = format;
    base_.info = ws.streamInfo;
    loadStream(mask_);
    loadStream(back_);
    backPicture_.assign(back_.format.biSizeImage, 0);
    basePicture_.assign(FrameRoom(format), 0);
    maskPicture_.assign(FrameRoom(format), 0);
    pickView_.assign(FrameRoom(format), 0);
    readFrame(base_, 0, basePicture_);
    readFrame(mask_, 0, maskPicture_);
    readFrame(back_, 0, backPicture_);
    showAllRanges();
    plugin::FillSlotList(*this, kMaskBackSlots, ws);
    plugin::FillSlotList(*this, kMaskMaskSlots, ws);
    initKeyControls();
}

// The view starts at 100 % with the cross-hair in the middle of the frame; the preview's size
// decides how much of the frame the view shows.
void MaskDialog::initPickView() {
    const QSize preview = clientSize(kMaskBasePreview);
    previewW_ = preview.width();
    previewH_ = preview.height();
    slackW_ = width_ - previewW_;
    slackH_ = height_ - previewH_;
    pickKey_.xZoom = pickKey_.yZoom = 100.0;
    pickKey_.xSize = width_;
    pickKey_.ySize = height_;
    pickKey_.xPos = cross_.viewX = slackW_ / 2;
    pickKey_.yPos = cross_.viewY = slackH_ / 2;
    cross_.x = (width_ - 1) / 2;
    cross_.y = (height_ - 1) / 2;
}

// Black key, level bars on, the cross-hair bars and the magnification off until pick mode.
void MaskDialog::initKeyControls() {
    swatchFormat_ = base_.format;
    swatchFormat_.biWidth = 1;
    swatchFormat_.biHeight = 1;
    swatchFormat_.biSizeImage = sizeof keyColor_;
    for (int bar : kLevelBars)
        setRange(bar, 0, 255);
    setRange(kMaskCrossColumn, 0, width_ - 1);
    setRange(kMaskCrossRow, 0, height_ - 1);
    setPosition(kMaskCrossColumn, cross_.x);
    setPosition(kMaskCrossRow, cross_.y);
    for (int zoom = 1; zoom <= 8; ++zoom)
        addRow(kMaskMagnification, QString::asprintf("X %d", zoom));
    setCurrentRow(kMaskMagnification, 0);
    for (int control : kPickControls)
        setControlEnabled(control, false);
    showLevels();
}

PAVISTREAM MaskDialog::streamOf(const StreamRange& range) {
    return &range == &base_ ? workspace().currentStream : workspace().slotStreams[range.slot];
}

// The slot's format and information.
void MaskDialog::loadStream(StreamRange& range) {
    PAVISTREAM stream = streamOf(range);
    range.format = {};
    LONG size = sizeof range.format;
    AVIStreamReadFormat(stream, 0, &range.format, &size);
    range.info = {};
    AVIStreamInfoA(stream, &range.info, sizeof range.info);
}

// Frame n of the range's stream, as far as the buffer holds it: a frame larger than the buffer
// is not read, and a failed read leaves the buffer as it was.
bool MaskDialog::readFrame(const StreamRange& range, int64_t n, std::vector<uint8_t>& buffer) {
    if (n < 0 || n > INT32_MAX || buffer.empty()) return false;
    return AVIStreamRead(streamOf(range), LONG(n), 1, buffer.data(), LONG(buffer.size()), nullptr,
                         nullptr) == AVIERR_OK;
}

// Both trackbars span the stream's frames (16-bit); the info edit shows last frame, start, end.
void MaskDialog::showRange(const StreamRange& range) {
    const int maximum = range.length() - 1;
    setRange(range.startBar, 0, maximum);
    setRange(range.endBar, 0, maximum);
    setPosition(range.startBar, range.start);
    setPosition(range.endBar, range.end);
    setText(range.infoId, RangeText(range.length(), range.start, range.end));
}

void MaskDialog::showAllRanges() {
    showRange(base_);
    showRange(back_);
    showRange(mask_);
}

// The base range keeps at least two frames inside its stream; streams shorter than two frames
// are left alone (the comparison is unsigned).
void MaskDialog::clampBaseRange() {
    if (uint32_t(base_.start) >= uint32_t(base_.length() - 2)) {
        base_.start = base_.length() - 2;
        setPosition(base_.startBar, base_.start);
    }
    if (base_.start >= base_.end) {
        base_.end = base_.start + 1;
        setPosition(base_.endBar, base_.end);
    }
}

// Keeps a linked range as long as the base's and inside its own stream: a stream too short
// for the base range shortens the base; one whose start is too late moves the start back.
void MaskDialog::syncRange(StreamRange& linked, std::vector<uint8_t>& buffer) {
    const int32_t length = linked.length();
    if (length <= base_.end - base_.start) {
        base_.end = base_.start + (length - linked.start - 1);
        linked.end = length - 1;
        setPosition(base_.endBar, base_.end);
        setPosition(linked.endBar, linked.end);
    }
    const int32_t d = base_.end - base_.start;
    if (linked.start + d > length - 1) {
        linked.start = length - d - 1;
        readFrame(linked, linked.start, buffer);
        setPosition(linked.startBar, linked.start);
    }
    linked.end = linked.start + d;
}

void MaskDialog::syncLinkedRanges() {
    syncRange(back_, backPicture_);
    syncRange(mask_, maskPicture_);
}

void MaskDialog::applyHolds() {
    if (oneFrameFlags_ & kBackHolds) back_.end = back_.start + 1;
    if (oneFrameFlags_ & kMaskHolds) mask_.end = mask_.start + 1;
}

void MaskDialog::baseMoved() {
    base_.start = position(kMaskBaseStart);
    base_.end = position(kMaskBaseEnd);
    clampBaseRange();
    if (useBackground_ == 1) {
        if (oneFrameFlags_ & kBackHolds)
            back_.end = back_.start + 1;
        else
            syncRange(back_, backPicture_);
        setPosition(kMaskBackEnd, back_.end);
        setText(kMaskBackInfo, RangeText(back_.length(), back_.start, back_.end));
    }
    if (oneFrameFlags_ & kMaskHolds)
        mask_.end = mask_.start + 1;
    else
        syncRange(mask_, maskPicture_);
    setPosition(kMaskMaskEnd, mask_.end);
    setText(kMaskMaskInfo, RangeText(mask_.length(), mask_.start, mask_.end));
    refreshBaseLength();
    readFrame(base_, base_.start, basePicture_);
    setText(kMaskBaseInfo, RangeText(base_.length(), base_.start, base_.end));
    invalidate();
}

// A linked group's sliders move only its start; the end follows at the base's length (or one
// frame on while the group holds its start frame).
void MaskDialog::linkedMoved(StreamRange& range, uint16_t holdBit, std::vector<uint8_t>& buffer) {
    range.start = position(range.startBar);
    if (oneFrameFlags_ & holdBit) {
        range.end = range.start + 1;
    } else {
        if (range.start + baseLength_ > range.length() - 1) {
            range.start = range.length() - 1 - baseLength_;
            setPosition(range.startBar, range.start);
        }
        range.end = range.start + baseLength_;
    }
    setPosition(range.endBar, range.end);
    readFrame(range, range.start, buffer);
    setText(range.infoId, RangeText(range.length(), range.start, range.end));
    invalidate();
}

void MaskDialog::toggleBackHold() {
    oneFrameFlags_ ^= kBackHolds;
    if (oneFrameFlags_ & kBackHolds) {
        back_.end = back_.start + 1;
    } else {
        syncLinkedRanges();
        refreshBaseLength();
    }
    showAllRanges();
    plugin::SetToggleCheck(*this, kMaskBackOneFrame, oneFrameFlags_ & kBackHolds);
    invalidate();
}

void MaskDialog::toggleMaskHold() {
    oneFrameFlags_ ^= kMaskHolds;
    if (oneFrameFlags_ & kMaskHolds) {
        mask_.end = mask_.start + 1;
    } else {
        syncRange(mask_, maskPicture_);
        if (useBackground_ == 1) syncRange(back_, backPicture_);
        refreshBaseLength();
    }
    showRange(base_);
    if (useBackground_ == 1) showRange(back_);
    showRange(mask_);
    plugin::SetToggleCheck(*this, kMaskMaskOneFrame, oneFrameFlags_ & kMaskHolds);
    invalidate();
}

void MaskDialog::toggleBackground() {
    useBackground_ = 1 - useBackground_;
    for (int control : kBackgroundControls)
        setControlEnabled(control, useBackground_ == 1);
    if (useBackground_ == 1) {
        syncLinkedRanges();
        refreshBaseLength();
        showAllRanges();
    } else {
        oneFrameFlags_ &= ~kBackHolds;
        setCheck(kMaskBackOneFrame, false);
    }
    setCheck(kMaskNoUseBackground, useBackground_ == 0);
    invalidate();
}

void MaskDialog::backgroundChosen(int slot) {
    back_.slot = slot;
    loadStream(back_);
    backPicture_.assign(back_.format.biSizeImage, 0);
    syncLinkedRanges();
    applyHolds();
    refreshBaseLength();
    readFrame(back_, back_.start, backPicture_);
    showAllRanges();
    invalidate();
}

void MaskDialog::maskChosen(int slot) {
    mask_.slot = slot;
    loadStream(mask_);
    syncRange(mask_, maskPicture_);
    if (useBackground_ == 1) syncRange(back_, backPicture_);
    refreshBaseLength();
    applyHolds();
    readFrame(mask_, mask_.start, maskPicture_);
    showRange(base_);
    if (useBackground_ == 1) showRange(back_);
    showRange(mask_);
    invalidate();
}

// Arrows step by one within the range (at an end the bar is left as it is), a drag goes where
// the thumb is, and every other action keeps the position.
int MaskDialog::stepScrollPosition(int id, int minimum, int maximum, int current) {
    int next = current;
    switch (scrollCode()) {
    case dlg::kLineUp:
        if (current - 1 < minimum) return current;
        next = current - 1;
        break;
    case dlg::kLineDown:
        if (current + 1 > maximum) return current;
        next = current + 1;
        break;
    case dlg::kThumbTrack:
        next = scrollThumb();
        break;
    default:
        break;
    }
    setPosition(id, next);
    return next;
}

void MaskDialog::levelMoved(int id) {
    uint8_t& level = keyColor_[ChannelOf(id)];
    level = uint8_t(stepScrollPosition(id, 0, 255, level));
    setNumber(LevelEditOf(id), level);
    invalidate();
}

void MaskDialog::crossMoved(int id) {
    if (id == kMaskCrossColumn)
        cross_.x = stepScrollPosition(id, 0, width_ - 1, cross_.x);
    else
        cross_.y = stepScrollPosition(id, 0, height_ - 1, cross_.y);
    placeView();
    pickColour();
    invalidate();
}

void MaskDialog::togglePickMode() {
    pickMode_ = !pickMode_;
    for (int bar : kLevelBars)
        setControlEnabled(bar, !pickMode_);
    for (int control : kPickControls)
        setControlEnabled(control, pickMode_);
    if (pickMode_) {
        pickColour();
    } else {
        for (int bar : kLevelBars)
            setPosition(bar, keyColor_[ChannelOf(bar)]);
    }
    setCheck(kMaskGetDispColor, pickMode_);
    invalidate();
}

void MaskDialog::magnificationChosen() {
    const int row = currentRow(kMaskMagnification);
    if (row < 0) return;
    pickKey_.xZoom = pickKey_.yZoom = (row + 1) * 100.0;
    pickKey_.xSize = width_ * pickKey_.xZoom / 100;
    pickKey_.ySize = height_ * pickKey_.yZoom / 100;
    placeView();
    pickColour();
    invalidate();
}

// Puts the cross-hair in the middle of the magnified view, the view kept inside the mask frame.
void MaskDialog::placeView() {
    const double f = pickKey_.xZoom / 100, g = pickKey_.yZoom / 100;
    const int32_t maskW = mask_.format.biWidth, maskH = mask_.format.biHeight;
    double x = cross_.x - ((maskW - slackW_) / 2) / f;
    double y = cross_.y - ((maskH - slackH_) / 2) / g;
    x = std::max(x, 0.0);
    y = std::max(y, 0.0);
    x = std::min(x, maskW - previewW_ / f);
    y = std::min(y, maskH - previewH_ / g);
    cross_.viewX = int32_t(x);
    cross_.viewY = int32_t(y);
    pickKey_.xPos = f * x;
    pickKey_.yPos = g * y;
}

// The key becomes the mask pixel under the cross-hair (rows packed, bottom-up); bytes past the
// frame's end, which only a 16-bit frame's last pixel reaches, count as 0.
void MaskDialog::pickColour() {
    const int64_t b = bitCount_ / 8;
    const int64_t offset = (int64_t{height_} - (cross_.y + 1)) * width_ * b + b * int64_t{cross_.x};
    for (int64_t k = 0; k < 3; ++k) {
        const int64_t at = offset + k;
        const bool inside = offset >= 0 && at < int64_t(maskPicture_.size());
        keyColor_[k] = inside ? maskPicture_[size_t(at)] : 0;
    }
    showLevels();
}

void MaskDialog::showLevels() {
    for (int bar : kLevelBars)
        setNumber(LevelEditOf(bar), keyColor_[ChannelOf(bar)]);
}

void MaskDialog::onScroll(int id) {
    switch (id) {
    case kMaskBaseStart:
    case kMaskBaseEnd:
        baseMoved();
        break;
    case kMaskBackEnd:
        if (useBackground_ != 1) break;
        [[fallthrough]];
    case kMaskBackStart:
        linkedMoved(back_, kBackHolds, backPicture_);
        break;
    case kMaskMaskStart:
    case kMaskMaskEnd:
        linkedMoved(mask_, kMaskHolds, maskPicture_);
        break;
    case kMaskRedBar:
    case kMaskGreenBar:
    case kMaskBlueBar:
        levelMoved(id);
        break;
    case kMaskCrossColumn:
    case kMaskCrossRow:
        crossMoved(id);
        break;
    default:
        break;
    }
}

void MaskDialog::onControl(int id) {
    switch (id) {
    case dlg::kIdOk:
        if (streamsFitBase()) {
            MaskRenderer renderer(params());
            renderToSlot(renderer);
        }
        break;
    case kMaskBackOneFrame:
        toggleBackHold();
        break;
    case kMaskMaskOneFrame:
        toggleMaskHold();
        break;
    case kMaskNoUseBackground:
        toggleBackground();
        break;
    case kMaskGetDispColor:
        togglePickMode();
        break;
    case kMaskMagnification:
        magnificationChosen();
        break;
    default:
        break;
    }
}

void MaskDialog::onNotify(int id, int code) {
    if (code != dlg::kNotifyItemActivate) return;
    const int slot = currentRow(id);
    if (slot < 0 || slot >= workspace().slotCount) return;
    if (id == kMaskBackSlots) backgroundChosen(slot);
    if (id == kMaskMaskSlots) maskChosen(slot);
}

void MaskDialog::onPaint() {
    PaintFrame(*this, kMaskBasePreview, basePicture_.data(), &base_.format, FrameScaling::Nearest);
    if (useBackground_ == 1)
        PaintFrame(*this, kMaskBackPreview, backPicture_.data(), &back_.format,
                   FrameScaling::Nearest);
    paintMaskAndKey();
    if (useBackground_ == 0) setText(kMaskBackInfo, "No Use");
}

// The cross-hair is drawn into the pick source only while the view is rendered, so that
// picking never sees it.
void MaskDialog::paintMaskAndKey() {
    QString info;
    if (pickMode_) {
        XorCrossHair(maskPicture_.data(), previewW_, previewH_, width_, height_, bitCount_, cross_);
        ZoomFrame(pickKey_, maskPicture_.data(), pickView_.data(), width_, height_, bitCount_,
                  ZoomVariant::PickView);
        XorCrossHair(maskPicture_.data(), previewW_, previewH_, width_, height_, bitCount_, cross_);
        PaintFramePart(*this, kMaskMaskPreview, pickView_.data(), &base_.format, slackW_, slackH_,
                       0, 0);
        info = QString::asprintf("%.3d%% (%.3d,%.3d)", int(pickKey_.xZoom), cross_.x, cross_.y);
    } else {
        PaintFrame(*this, kMaskMaskPreview, maskPicture_.data(), &base_.format,
                   FrameScaling::Nearest);
        info = QStringLiteral("Manual Color");
    }
    PaintFrame(*this, kMaskSwatch, keyColor_, &swatchFormat_, FrameScaling::Nearest);
    setText(kMaskPickInfo, info);
}

// The pixel pass addresses the three frames with the same offsets, so the streams in use must
// share the base's frame layout; it keys byte triples, so the frames must be 24-bit.
bool MaskDialog::streamsFitBase() {
    const char* refusal = nullptr;
    if (base_.format.biBitCount != 24)
        refusal = kNot24Bit;
    else if (useBackground_ == 1 && !SameFrames(back_.format, base_.format))
        refusal = kBackDiffers;
    else if (!SameFrames(mask_.format, base_.format))
        refusal = kMaskDiffers;
    if (refusal) MessageBoxA(static_cast<QWidget*>(this), refusal, "Check", MB_OK);
    return !refusal;
}

// A group holding its start frame uses that one for the whole range.
LinkedStream MaskDialog::linked(const StreamRange& range, uint16_t holdBit) {
    return {streamOf(range), range.format, range.length(), range.start,
            (oneFrameFlags_ & holdBit) != 0};
}

MaskParams MaskDialog::params() {
    MaskParams params;
    params.base = streamOf(base_);
    params.format = base_.format;
    params.frameCount = base_.length();
    params.start = base_.start;
    params.end = base_.end;
    params.mask = linked(mask_, kMaskHolds);
    params.back = linked(back_, kBackHolds);
    params.useBackground = useBackground_ == 1;
    std::copy(std::begin(keyColor_), std::end(keyColor_), params.key);
    return params;
}

} // namespace mask
