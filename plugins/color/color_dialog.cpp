#include "color_dialog.h"

#include "paint_frame.h"

#include <QRect>

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
    {kColorNotLooping, Kind::CheckBox, "Not Color Looping", 0, 121, 72, 10},
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

// Without the picture panel the dialog shows only the colour groups on its left.
constexpr int kLeftPartWidth = 150;

// What the render reads from the record: the current slot's stream (not the working stream),
// its format, length and range.
ColorParams ParamsFor(const EditWorkspace& ws) {
    ColorParams params;
    if (ws.frameFormat) std::memcpy(&params.format, ws.frameFormat, sizeof params.format);
    if (ws.currentSlot >= 0 && ws.currentSlot < kMaxSlots)
        params.source = ws.slotStreams[ws.currentSlot];
    params.frameCount = ws.streamInfo.dwLength;
    params.rangeStart = ws.rangeStart;
    params.rangeEnd = ws.rangeEnd;
    InitColorMasks(params.state, params.format);
    return params;
}

} // namespace

ColorDialog::ColorDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({"カラーチェンジ Ver 1.00", 242, 173, kControls136}, parent, ws),
      params_(ParamsFor(ws)) {
    setRange(plugin::kIdProgress, 0, int(ws.streamInfo.dwLength));
    setStep(plugin::kIdProgress, 1);
    // One pixel; a 1 x 1 frame needs no row padding.
    const size_t pixelBytes = std::max(params_.state.bytesPerPixel, 1);
    swatchFormat_ = params_.format;
    swatchFormat_.biWidth = 1;
    swatchFormat_.biHeight = 1;
    swatchFormat_.biSizeImage = DWORD(pixelBytes);
    offsetSwatch_.assign(pixelBytes, 0);
    stepSwatch_.assign(pixelBytes, 0);
    preview_.assign(params_.format.biSizeImage, 0);
    channelMax_ = 255 >> ((8 - params_.state.bitsPerChannel) & 31);
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
    params_.pixelX = params_.format.biWidth;
    params_.pixelY = params_.format.biHeight;
    setRange(kColorPixelX, 0, params_.pixelX);
    setPosition(kColorPixelX, params_.pixelX);
    setRange(kColorPixelY, 0, params_.pixelY);
    setPosition(kColorPixelY, params_.pixelY);
    setNumber(kColorPixelXValue, params_.pixelX);
    setNumber(kColorPixelYValue, params_.pixelY);
}

void ColorDialog::onScroll(int id) {
    static const SliderGroup kOffsets{
        {kColorOffsetRed, kColorOffsetGreen, kColorOffsetBlue},
        {kColorOffsetRedValue, kColorOffsetGreenValue, kColorOffsetBlueValue}};
    static const SliderGroup kSteps{
        {kColorStepRed, kColorStepGreen, kColorStepBlue},
        {kColorStepRedValue, kColorStepGreenValue, kColorStepBlueValue}};
    ColorChangeState& state = params_.state;
    if (std::ranges::count(kOffsets.sliders, id))
        readSliders(kOffsets, state.offsetR, state.offsetG, state.offsetB, offsetSwatch_);
    if (std::ranges::count(kSteps.sliders, id))
        readSliders(kSteps, state.stepR, state.stepG, state.stepB, stepSwatch_);
    if (id == kColorPixelX) {
        params_.pixelX = position(kColorPixelX);
        setNumber(kColorPixelXValue, params_.pixelX);
    }
    if (id == kColorPixelY) {
        params_.pixelY = position(kColorPixelY);
        setNumber(kColorPixelYValue, params_.pixelY);
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
    PackColorTriple(params_.state, settings, packed);
    MakeSwatchPixel(params_.state, packed, swatch.data());
    red = packed[0];
    green = packed[1];
    blue = packed[2];
}

void ColorDialog::onControl(int id) {
    if (id == dlg::kIdOk) {
        ColorRenderer renderer(params_);
        renderToSlot(renderer);
    }
    if (id == kColorNotLooping) {
        params_.notLooping = !params_.notLooping;
        setCheck(kColorNotLooping, params_.notLooping);
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
    TransformFrame(preview_.data(), params_.state, params_.format, params_.mode(), params_.pixelX,
                   params_.pixelY);
    PaintFrame(*this, kColorPreview, preview_.data(), &params_.format, FrameScaling::Nearest);
}
