// The cross-fade dialog (dialog 136): blends a range of another slot (the destination) into a
// range of the same length of the current slot (the source) with a weight that moves from
// "Start Trans" to "End Trans", and can append the rest of the destination after the source.
#pragma once

#include "crossfade_render.h"
#include "framework.h"

#include <cstdint>
#include <vector>

enum CrossfadeControl : int {
    kCrossfadeSourcePicture = 1002,
    kCrossfadeDestinationPicture = 1003,
    kCrossfadeSourceText = 1008,
    kCrossfadeDestinationText = 1009,
    kCrossfadeDestinationStart = 1030,
    kCrossfadeSourceStart = 1031,
    kCrossfadeSlotList = 1032,
    kCrossfadeSourceEnd = 1033,
    kCrossfadeDestinationEnd = 1034,
    kCrossfadeInsertOverStream = 1035,
    kCrossfadeStartTrans = 1036,
    kCrossfadeStartTransNumber = 1037,
    kCrossfadeEndTrans = 1038,
    kCrossfadeEndTransNumber = 1039,
};

namespace crossfade {

class CrossfadeDialog : public plugin::PluginDialog {
  public:
    CrossfadeDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onNotify(int id, int code) override;
    void onPaint() override;

  private:
    int32_t rangeLength() const { return params_.rangeEnd - params_.rangeStart; }

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

    CrossfadeParams params_;
    std::vector<uint8_t> sourceFrame_;
    std::vector<uint8_t> destFrame_;
};

} // namespace crossfade
