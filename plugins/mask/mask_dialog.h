// The mask effect's dialog: the current slot is the base picture; a background and a mask
// stream are chosen among the slots, each with a frame range linked to the base's; the key
// colour is set by levels or picked from a magnified view of the mask. Ok composites the base
// range: wherever the mask shows the key exactly, the background's pixel replaces the base's.
#pragma once

#include "framework.h"
#include "key_replace.h"
#include "mask_render.h"
#include "zoom_resample.h"

#include <cstdint>
#include <vector>

// Control ids of the dialog (dialog 138).
enum MaskControl : int {
    kMaskBasePreview = 1002,
    kMaskMaskPreview = 1003,
    kMaskBackPreview = 1004,
    kMaskBaseEnd = 1031,
    kMaskBackStart = 1032,
    kMaskMaskStart = 1033,
    kMaskCrossRow = 1034,
    kMaskBaseStart = 1036,
    kMaskBackEnd = 1037,
    kMaskMaskEnd = 1038,
    kMaskBaseInfo = 1039,
    kMaskBackInfo = 1040,
    kMaskMaskInfo = 1041,
    kMaskPickInfo = 1044,
    kMaskSwatch = 1045,
    kMaskBackSlots = 1046,
    kMaskMaskSlots = 1047,
    kMaskRedBar = 1049,
    kMaskRedLevel = 1050,
    kMaskGreenBar = 1051,
    kMaskGreenLevel = 1052,
    kMaskBlueBar = 1053,
    kMaskBlueLevel = 1054,
    kMaskGetDispColor = 1055,
    kMaskCrossColumn = 1057,
    kMaskMagnification = 1059,
    kMaskBackOneFrame = 1060,
    kMaskMaskOneFrame = 1061,
    kMaskNoUseBackground = 1062,
};

namespace mask {

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
    LinkedStream linked(const StreamRange& range, uint16_t holdBit);
    MaskParams params();

    StreamRange base_{kMaskBaseStart, kMaskBaseEnd, kMaskBaseInfo};
    StreamRange back_{kMaskBackStart, kMaskBackEnd, kMaskBackInfo};
    StreamRange mask_{kMaskMaskStart, kMaskMaskEnd, kMaskMaskInfo};
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
    std::vector<uint8_t> backPicture_; // frame back_.start in the background's own format
    std::vector<uint8_t> maskPicture_; // frame mask_.start in the base's format: the pick source
    std::vector<uint8_t> pickView_;    // the magnified view, in the base's format

    uint8_t keyColor_[3] = {0, 0, 0}; // blue, green, red
    bool pickMode_ = false;
    CrossPoint cross_{};
    ZoomKey pickKey_{};
    BITMAPINFOHEADER swatchFormat_{};
};

} // namespace mask
