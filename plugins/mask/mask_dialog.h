// The mask effect's dialog: the current slot is the base picture; a background and a mask
// stream are chosen among the slots, each with a frame range linked to the base's; the key
// colour is set by levels or picked from a magnified view of the mask. Ok composites the base
// range: wherever the mask shows the key exactly, the background's pixel replaces the base's.
#pragma once

#include "framework.h"
#include "key_replace.h"
#include "zoom_resample.h"

#include <cstdint>
#include <vector>

namespace mask {

// Control ids of the dialog.
enum ControlId : int {
    kBasePreview = 1002,
    kMaskPreview = 1003,
    kBackPreview = 1004,
    kBaseEnd = 1031,
    kBackStart = 1032,
    kMaskStart = 1033,
    kCrossRow = 1034,
    kBaseStart = 1036,
    kBackEnd = 1037,
    kMaskEnd = 1038,
    kBaseInfo = 1039,
    kBackInfo = 1040,
    kMaskInfo = 1041,
    kPickInfo = 1044,
    kSwatch = 1045,
    kBackSlots = 1046,
    kMaskSlots = 1047,
    kRedBar = 1049,
    kRedLevel = 1050,
    kGreenBar = 1051,
    kGreenLevel = 1052,
    kBlueBar = 1053,
    kBlueLevel = 1054,
    kGetDispColor = 1055,
    kCrossColumn = 1057,
    kMagnification = 1059,
    kBackOneFrame = 1060,
    kMaskOneFrame = 1061,
    kNoUseBackground = 1062,
};

class MaskDialog : public plugin::PluginDialog {
  public:
    MaskDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onNotify(int id, int code) override;
    void onPaint() override;

  private:
    // One stream's frame range (end inclusive) and the controls that show it.
    struct StreamRange {
        StreamRange(int startBar, int endBar, int infoId)
            : startBar(startBar), endBar(endBar), infoId(infoId) {}
        int startBar;
        int endBar;
        int infoId;
        int32_t start = 0;
        int32_t end = 1;
        int slot = 0; // in slotStreams; the base is the current stream
        AVISTREAMINFOA info{};
        BITMAPINFOHEADER format{};
        std::vector<uint8_t> frame; // one frame in this stream's own format
        int32_t length() const { return static_cast<int32_t>(info.dwLength); }
    };

    void initPickView();
    void initKeyControls();

    PAVISTREAM streamOf(const StreamRange& range);
    void loadStream(StreamRange& range);
    bool readFrame(const StreamRange& range, int64_t n, std::vector<uint8_t>& buffer);

    void showRange(const StreamRange& range);
    void showAllRanges();
    void clampBaseRange();
    void syncRange(StreamRange& linked, std::vector<uint8_t>& buffer);
    void syncLinkedRanges();
    void applyHolds();
    void refreshBaseLength() { baseLength_ = base_.end - base_.start; }

    void baseMoved();
    void linkedMoved(StreamRange& range, uint16_t holdBit, std::vector<uint8_t>& buffer);
    void toggleBackHold();
    void toggleMaskHold();
    void toggleBackground();
    void backgroundChosen(int slot);
    void maskChosen(int slot);

    int stepScrollPosition(int id, int minimum, int maximum, int current);
    void levelMoved(int id);
    void crossMoved(int id);
    void togglePickMode();
    void magnificationChosen();
    void placeView();
    void pickColour();
    void showLevels();
    void paintMaskAndKey();

    bool streamsFitBase();
    void runComposite();
    bool compositeFrame(int64_t n, uint8_t* pixels, const uint8_t keyRGB[3]);
    bool readLinkedFrame(StreamRange& range, int64_t n);
    bool reportUnreadable();

    StreamRange base_{kBaseStart, kBaseEnd, kBaseInfo};
    StreamRange back_{kBackStart, kBackEnd, kBackInfo};
    StreamRange mask_{kMaskStart, kMaskEnd, kMaskInfo};
    int32_t baseLength_ = 1;
    uint16_t oneFrameFlags_ = 0;
    int32_t useBackground_ = 1;

    // Frame geometry of the base, which the pick view and the cross-hair address.
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t bitCount_ = 0;
    int32_t previewW_ = 0;
    int32_t previewH_ = 0;
    int32_t slackW_ = 0;
    int32_t slackH_ = 0;

    std::vector<uint8_t> basePicture_; // frame base_.start
    std::vector<uint8_t> maskPicture_; // frame mask_.start in the base's format: the pick source
    std::vector<uint8_t> pickView_;    // the magnified view, in the base's format

    uint8_t keyColor_[3] = {0, 0, 0}; // blue, green, red
    bool pickMode_ = false;
    CrossPoint cross_{};
    ZoomKey pickKey_{};
    BITMAPINFOHEADER swatchFormat_{};
};

} // namespace mask
