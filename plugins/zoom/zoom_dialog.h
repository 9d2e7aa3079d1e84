// The zoom dialog (dialog 138): a start key and an end key (zoom and position of the first and
// the last frame of the chosen range), an optional smoothing with eight selectable taps, and
// previews of both ends. Ok renders the range from one key to the other.
#pragma once

#include "framework.h"
#include "zoom_render.h"

#include <cstdint>
#include <vector>

enum ZoomControl : int {
    kZoomStartPreview = 1002,
    kZoomEndPreview = 1003,
    kZoomStartXZoom = 1031,
    kZoomStartXPos = 1032,
    kZoomStartYZoom = 1033,
    kZoomStartYPos = 1034,
    kZoomEndXZoom = 1035,
    kZoomEndYZoom = 1037,
    kZoomEndXPos = 1038,
    kZoomEndYPos = 1043,
    kZoomStartXZoomEdit = 1039,
    kZoomStartYZoomEdit = 1040,
    kZoomStartXPosEdit = 1041,
    kZoomStartYPosEdit = 1042,
    kZoomEndXZoomEdit = 1044,
    kZoomEndYZoomEdit = 1045,
    kZoomEndXPosEdit = 1046,
    kZoomEndYPosEdit = 1047,
    kZoomFiltering = 1048,
    // The tap buttons "1" .. "8": kZoomFirstTap + k toggles bit k of the taps.
    kZoomFirstTap = 1052,
};

namespace zoom {

constexpr int kTapCount = 8;

// The controls of one key and the edits that echo them.
struct KeyControls {
    int xZoom, yZoom, xPos, yPos;
    int xZoomEdit, yZoomEdit, xPosEdit, yPosEdit;
    // The start key centres a zoomed-out picture vertically on a whole line.
    bool wholeLineCentre;
};

class ZoomDialog : public plugin::PluginDialog {
  public:
    ZoomDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onPaint() override;

  private:
    void zoomMoved(ZoomKey& key, const KeyControls& c);
    void positionMoved(ZoomKey& key, const KeyControls& c);
    void showKey(const ZoomKey& key, const KeyControls& c);

    ZoomParams params_;
    // Frames and previews hold both the stream's frame (rows padded) and the kernels' rows.
    std::vector<uint8_t> startFrame_;
    std::vector<uint8_t> endFrame_;
    std::vector<uint8_t> startPreview_;
    std::vector<uint8_t> endPreview_;
};

} // namespace zoom
