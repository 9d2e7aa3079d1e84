// The zoom dialog: a start key and an end key (zoom and position of the first and the last frame
// of the chosen range), an optional smoothing with eight selectable taps, previews of both ends,
// and the render that zooms the range from one key to the other.
#pragma once

#include "framework.h"
#include "zoom_resample.h"

#include <cstdint>
#include <vector>

namespace zoom {

constexpr int kStartPreview = 1002;
constexpr int kEndPreview = 1003;

constexpr int kStartXZoom = 1031;
constexpr int kStartXPos = 1032;
constexpr int kStartYZoom = 1033;
constexpr int kStartYPos = 1034;
constexpr int kEndXZoom = 1035;
constexpr int kEndYZoom = 1037;
constexpr int kEndXPos = 1038;
constexpr int kEndYPos = 1043;

constexpr int kStartXZoomEdit = 1039;
constexpr int kStartYZoomEdit = 1040;
constexpr int kStartXPosEdit = 1041;
constexpr int kStartYPosEdit = 1042;
constexpr int kEndXZoomEdit = 1044;
constexpr int kEndYZoomEdit = 1045;
constexpr int kEndXPosEdit = 1046;
constexpr int kEndYPosEdit = 1047;

constexpr int kFiltering = 1048;
// The tap buttons "1" .. "8": kFirstTap + k toggles bit k of the taps.
constexpr int kFirstTap = 1052;
constexpr int kTapCount = 8;

// The controls of one key and the edits that echo them.
struct KeyControls {
    int xZoom, yZoom, xPos, yPos;
    int xZoomEdit, yZoomEdit, xPosEdit, yPosEdit;
};

class ZoomDialog : public plugin::PluginDialog {
  public:
    ZoomDialog(QWidget* parent, EditWorkspace& ws);

  protected:
    void onControl(int id) override;
    void onScroll(int id) override;
    void onPaint() override;

  private:
    struct Key {
        ZoomKey value;
        KeyControls controls;
        // The start key centres a zoomed-out picture vertically on a whole line.
        bool wholeLineCentre;
    };

    void zoomMoved(Key& key);
    void positionMoved(Key& key);
    void showKey(const Key& key);
    void render();
    bool produceFrame(int64_t index, uint8_t* pixels);
    // Zooms `source` by `key` into `output` and smooths it when the filter is on.
    void zoomAndSmooth(const ZoomKey& key, const uint8_t* source, uint8_t* output) const;

    BITMAPINFOHEADER format_{};
    int64_t frameCount_ = 0;
    int32_t rangeStart_ = 0;
    int32_t rangeEnd_ = 0;
    Key start_;
    Key end_;
    uint16_t filterEnabled_ = 0;
    uint16_t filterTaps_ = 0;
    // Bytes the kernels write into a frame: packed rows.
    size_t kernelBytes_ = 0;
    // Frames and previews hold both the stream's frame (rows padded) and the kernels' rows.
    std::vector<uint8_t> startFrame_;
    std::vector<uint8_t> endFrame_;
    std::vector<uint8_t> startPreview_;
    std::vector<uint8_t> endPreview_;
    // The source frame of the render, apart from the previews' frames: a render that fails
    // leaves the dialog open showing them.
    std::vector<uint8_t> renderSource_;
    // The setting of the next frame of the range while a render runs.
    ZoomKey running_{};
};

} // namespace zoom
