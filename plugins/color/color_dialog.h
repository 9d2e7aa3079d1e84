// The colour-change dialog (dialog 136): colour offsets that ramp from frame to frame over the
// current slot's range and, optionally, from pixel to pixel inside each frame.
#pragma once

#include "color_render.h"
#include "framework.h"

#include <QSize>

#include <cstdint>
#include <vector>

enum ColorControl : int {
    kColorOffsetSwatch = 1002,
    kColorStepSwatch = 1007,
    kColorPreview = 1008,
    kColorOffsetRed = 1018,
    kColorOffsetGreen = 1019,
    kColorOffsetBlue = 1021,
    kColorOffsetRedValue = 1020,
    kColorOffsetGreenValue = 1005,
    kColorOffsetBlueValue = 1006,
    kColorStepRed = 1014,
    kColorStepGreen = 1015,
    kColorStepBlue = 1017,
    kColorStepRedValue = 1016,
    kColorStepGreenValue = 1003,
    kColorStepBlueValue = 1004,
    kColorNotLooping = 1022,
    kColorPicturePanel = 1026,
    kColorPixelX = 1024,
    kColorPixelY = 1025,
    kColorPixelXValue = 1027,
    kColorPixelYValue = 1028,
};

class ColorDialog : public plugin::PluginDialog {
  public:
    ColorDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onPaint() override;

  private:
    // The three sliders of one group and their value edits.
    struct SliderGroup {
        int sliders[3];
        int values[3];
    };

    void initSliders();
    void readSliders(const SliderGroup& group, int32_t& red, int32_t& green, int32_t& blue,
                     std::vector<uint8_t>& swatch);
    void showPicturePanel(bool shown);

    ColorParams params_;
    int32_t channelMax_ = 0;
    bool panelShown_ = false;
    BITMAPINFOHEADER swatchFormat_;
    std::vector<uint8_t> offsetSwatch_;
    std::vector<uint8_t> stepSwatch_;
    std::vector<uint8_t> preview_;
    QSize fullSize_;
};
