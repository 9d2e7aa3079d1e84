// The cross-fade dialog: blends a range of another slot (the destination) into a range of the
// same length of the current slot (the source) with a weight that moves from "Start Trans" to
// "End Trans", and can append the rest of the destination after the source.
#pragma once

#include "blend.h"
#include "framework.h"

#include <cstdint>
#include <vector>

namespace crossfade {

// Control ids of the dialog.
enum : int {
    kSourcePicture = 1002,
    kDestinationPicture = 1003,
    kSourceText = 1008,
    kDestinationText = 1009,
    kDestinationStart = 1030,
    kSourceStart = 1031,
    kSlotList = 1032,
    kSourceEnd = 1033,
    kDestinationEnd = 1034,
    kInsertOverStream = 1035,
    kStartTrans = 1036,
    kStartTransNumber = 1037,
    kEndTrans = 1038,
    kEndTransNumber = 1039,
};

class CrossfadeDialog : public plugin::PluginDialog {
  public:
    CrossfadeDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onNotify(int id, int code) override;
    void onPaint() override;

  private:
    int32_t sourceFrames() { return int32_t(workspace().streamInfo.dwLength); }
    int32_t destinationFrames() const { return int32_t(destInfo_.dwLength); }
    int32_t rangeLength() { return workspace().rangeEnd - workspace().rangeStart; }
    PAVISTREAM destinationStream() { return workspace().slotStreams[destSlot_]; }

    void readDestination(int slot);
    void chooseDestination();
    void moveSourceRange();
    void moveDestinationStart();
    void moveDestinationEnd();
    void fitSourceRangeToDestination();
    void showSourceText();
    void showDestinationText();
    void readDestinationPreview(int32_t frame);

    void render();
    bool sizesMatch();
    bool confirmOutput(int64_t lastFrame);
    bool produceFrame(int64_t index, uint8_t* pixels);
    bool blendDestinationInto(int64_t index, uint8_t* pixels);
    bool appendDestination(int64_t index, uint8_t* pixels);
    bool readDestinationFrame(int32_t frame);
    void copyInSourceDepth(uint8_t* out, size_t outSize);

    BITMAPINFOHEADER sourceFormat_;
    int32_t destSlot_ = 0;
    int32_t destStart_ = 0;
    int32_t destEnd_ = 1;
    bool insertOverStream_ = false;
    AVISTREAMINFOA destInfo_{};
    BITMAPINFOHEADER destFormat_{};
    BlendParams blend_{0.0, 0.0, 0, 100, 0};
    std::vector<uint8_t> sourceFrame_;
    std::vector<uint8_t> destFrame_;
    std::vector<uint8_t> converted_;
};

} // namespace crossfade
