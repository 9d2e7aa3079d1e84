#include "color_dialog.h"

#include "paint_frame.h"

#include <QRect>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {

using dlg::Kind;

constexpr unsigned kPicture = dlg::kDisabled | dlg::kBorder;

const dlg::ControlDef kControls136[] = {
    {dlg::kNoId, Kind::GroupBox, " Color Offset Contol", 0, 0, 150, 60},
    {kColorOffsetSwatch, Kind::Edit, "", 8, 12, 15, 15, kPicture},
    {kColorOffsetRed, Kind::HSlider, "", 58, 14, 85, 10},
    {kColorOffsetGreen, Kind::HSlider, "", 58, 27, 85, 10},
    {kColorOffsetBlue, Kind::HSlider, "", 58, 41, 85, 10},
    {kColorOffsetRedValue, Kind::Edit, "", 36, 12, 20, 12, dlg::kBorder},
    {kColorOffsetGreenValue, Kind::Edit, "", 36, 26, 20, 12, dlg::kBorder},
    {kColorOffsetBlueValue, Kind::Edit, "", 36, 39, 20, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "R", 28, 14, 8, 8},
    {dlg::kNoId, Kind::Static, "G", 28, 27, 8, 8},
    {dlg::kNoId, Kind::Static, "B", 28, 41, 8, 8},
    {dlg::kNoId, Kind::GroupBox, " Color Add Contol", 0, 60, 150, 60},
    {kColorStepSwatch, Kind::Edit, "", 8, 72, 15, 15, kPicture},
    {kColorStepRed, Kind::HSlider, "", 58, 75, 85, 10},
    {kColorStepGreen, Kind::HSlider, "", 58, 89, 85, 10},
    {kColorStepBlue, Kind::HSlider, "", 58, 103, 85, 10},
    {kColorStepRedValue, Kind::Edit, "", 36, 73, 20, 12, dlg::kBorder},
    {kColorStepGreenValue, Kind::Edit, "", 36, 87, 20, 12, dlg::kBorder},
    {kColorStepBlueValue, Kind::Edit, "", 36, 101, 20, 12, dlg::kBorder},
    {dlg::kNoId, Kind::Static, "R", 28, 75, 8, 8},
    {dlg::kNoId, Kind::Static, "G", 28, 89, 8, 8},
    {dlg::kNoId, Kind::Static, "B", 28, 103, 8, 8},
    {kColorNotLooping, Kind::CheckBox, "Not Color Looping", 0, 121, 69, 10},
    {kColorPicturePanel, Kind::CheckBox, "Pic Color Add", 0, 133, 57, 10},
    {plugin::kIdProgress, Kind::Progress, "", 0, 146, 145, 8},
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 158, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 158, 40, 14},
    {dlg::kNoId, Kind::GroupBox, "Picsel Add Color Control", 150, 0, 92, 172},
    {kColorPreview, Kind::Edit, "", 159, 16, 68, 54, kPicture},
    {kColorPixelX, Kind::HSlider, "", 156, 72, 73, 11},
    {kColorPixelY, Kind::VSlider, "", 229, 13, 9, 61},
    {kColorPixelXValue, Kind::Edit, "", 172, 95, 25, 12, dlg::kCentre},
    {kColorPixelYValue, Kind::Edit, "", 172, 115, 25, 12, dlg::kCentre},
};

constexpr int kDialogWidth = 242;
constexpr int kDialogHeight = 173;
// Without the picture panel the dialog shows only the colour groups on its left.
constexpr int kLeftPartWidth = 150;

constexpr const char* kCannotReadFrame = "フレーム %1 を読み込めませんでした";

BITMAPINFOHEADER FormatOf(const EditWorkspace& ws) {
    BITMAPINFOHEADER format{};
    if (ws.frameFormat) std::memcpy(&format, ws.frameFormat, sizeof format);
    return format;
}

PAVISTREAM SlotStream(const EditWorkspace& ws) {
    if (ws.currentSlot < 0 || ws.currentSlot >= kMaxSlots) return nullptr;
    return ws.slotStreams[ws.currentSlot];
}

} // namespace

ColorDialog::ColorDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({"カラーチェンジ Ver 1.00", kDialogWidth, kDialogHeight, kControls136}, parent,
                   ws),
      format_(FormatOf(ws)) {
    setRange(plugin::kIdProgress, 0, dlg::Low16(int(ws.streamInfo.dwLength)));
    setStep(plugin::kIdProgress, 1);
    InitColorMasks(state_, format_);
    // One pixel; a 1 x 1 frame needs no row padding.
    const size_t pixelBytes = std::max(state_.bytesPerPixel, 1);
    swatchFormat_ = format_;
    swatchFormat_.biWidth = 1;
    swatchFormat_.biHeight = 1;
    swatchFormat_.biSizeImage = DWORD(pixelBytes);
    offsetSwatch_.assign(pixelBytes, 0);
    stepSwatch_.assign(pixelBytes, 0);
    preview_.assign(format_.biSizeImage, 0);
    channelMax_ = 255 >> ((8 - state_.bitsPerChannel) & 31);
    initSliders();
    fullSize_ = size();
    showPicturePanel(false);
}

void ColorDialog::initSliders() {
    for (int id : {kColorOffsetRed, kColorOffsetGreen, kColorOffsetBlue, kColorStepRed,
                   kColorStepGreen, kColorStepBlue}) {
        setRange(id, 0, channelMax_);
        setPosition(id, channelMax_ / 2);
    }
    for (int id : {kColorOffsetRedValue, kColorOffsetGreenValue, kColorOffsetBlueValue,
                   kColorStepRedValue, kColorStepGreenValue, kColorStepBlueValue})
        setNumber(id, 0);
    pixelX_ = format_.biWidth;
    pixelY_ = format_.biHeight;
    setRange(kColorPixelX, 0, dlg::Low16(pixelX_));
    setPosition(kColorPixelX, dlg::Low16(pixelX_));
    setRange(kColorPixelY, 0, dlg::Low16(pixelY_));
    setPosition(kColorPixelY, dlg::Low16(pixelY_));
    setNumber(kColorPixelXValue, pixelX_);
    setNumber(kColorPixelYValue, pixelY_);
}

void ColorDialog::onScroll(int id) {
    static const SliderGroup kOffsets{
        {kColorOffsetRed, kColorOffsetGreen, kColorOffsetBlue},
        {kColorOffsetRedValue, kColorOffsetGreenValue, kColorOffsetBlueValue}};
    static const SliderGroup kSteps{
        {kColorStepRed, kColorStepGreen, kColorStepBlue},
        {kColorStepRedValue, kColorStepGreenValue, kColorStepBlueValue}};
    if (std::ranges::count(kOffsets.sliders, id))
        readSliders(kOffsets, state_.offsetR, state_.offsetG, state_.offsetB, offsetSwatch_);
    if (std::ranges::count(kSteps.sliders, id))
        readSliders(kSteps, state_.stepR, state_.stepG, state_.stepB, stepSwatch_);
    if (id == kColorPixelX) {
        pixelX_ = position(kColorPixelX);
        setNumber(kColorPixelXValue, pixelX_);
    }
    if (id == kColorPixelY) {
        pixelY_ = position(kColorPixelY);
        setNumber(kColorPixelYValue, pixelY_);
    }
    invalidate();
}

// A slider in its middle, channelMax / 2, stands for the setting 0.
void ColorDialog::readSliders(const SliderGroup& group, int32_t& red, int32_t& green, int32_t& blue,
                              std::vector<uint8_t>& swatch) {
    int16_t settings[3];
    for (int c = 0; c < 3; ++c) {
        settings[c] = int16_t(position(group.sliders[c]) - channelMax_ / 2);
        setNumber(group.values[c], settings[c]);
    }
    int32_t packed[3];
    PackColorTriple(state_, settings, packed);
    MakeSwatchPixel(state_, packed, swatch.data());
    red = packed[0];
    green = packed[1];
    blue = packed[2];
}

void ColorDialog::onControl(int id) {
    if (id == dlg::kIdOk) render();
    if (id == kColorNotLooping) {
        notLooping_ = !notLooping_;
        setCheck(kColorNotLooping, notLooping_);
    }
    if (id == kColorPicturePanel) {
        showPicturePanel(!panelShown_);
        setCheck(kColorPicturePanel, panelShown_);
        invalidate();
    }
}

// The panel on the right is hidden by narrowing the dialog to its left part. The dialog goes to
// the screen's top-left corner, where the widened dialog has room.
void ColorDialog::showPicturePanel(bool shown) {
    panelShown_ = shown;
    const int width =
        shown ? fullSize_.width()
              : dlg::DialogUnitsToPixels(QRect(0, 0, kLeftPartWidth, 0), baseUnits()).width();
    setFixedSize(width, fullSize_.height());
    move(0, 0);
}

void ColorDialog::onPaint() {
    PaintFrame(*this, kColorOffsetSwatch, offsetSwatch_.data(), &swatchFormat_,
               FrameScaling::Nearest);
    PaintFrame(*this, kColorStepSwatch, stepSwatch_.data(), &swatchFormat_, FrameScaling::Nearest);
    if (!panelShown_) return;
    // What the offsets and the in-frame steps add to a black frame.
    std::fill(preview_.begin(), preview_.end(), 0);
    TransformFrame(preview_.data(), state_, format_, mode(), pixelX_, pixelY_);
    PaintFrame(*this, kColorPreview, preview_.data(), &format_, FrameScaling::Nearest);
}

// Frames rangeStart - 1 .. rangeEnd are processed, the first with the plain offsets; the ramp
// starts afresh at every Ok, so a failed run leaves nothing behind.
void ColorDialog::render() {
    const EditWorkspace& ws = workspace();
    PAVISTREAM source = SlotStream(ws);
    ColorChangeState ramp = state_;
    const int64_t first = int64_t{ws.rangeStart} - 1;
    const int64_t last = ws.rangeEnd;
    renderToSlot(ws.streamInfo.dwLength, format_, [&](int64_t i, uint8_t* pixels) {
        if (!plugin::ReadFrame(source, i, pixels, format_)) {
            reportError(QString::fromUtf8(kCannotReadFrame).arg(i).toStdString().c_str());
            return false;
        }
        if (i < first || i > last) return true;
        TransformFrame(pixels, ramp, format_, mode(), pixelX_, pixelY_);
        AdvanceColorOffsets(ramp, mode());
        return true;
    });
}
