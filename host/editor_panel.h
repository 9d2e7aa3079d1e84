// The editor panel (dialog 132): the range sliders and the pictures of the frames at both ends.
#pragma once

#include "dialog.h"

enum EditorControl : int {
    kEditorStartPicture = 1002,
    kEditorEndPicture = 1003,
    kEditorStartSlider = 1005,
    kEditorEndSlider = 1006,
    kEditorStartNumber = 1007,
    kEditorEndNumber = 1009,
    kEditorSlotName = 1021,
};

class EditorPanelDialog : public dlg::Dialog {
  public:
    explicit EditorPanelDialog(QWidget* parent);

    // Puts the workspace's range into the panel and re-reads both pictures' frames.
    void refresh();
    // Shows the workspace's range in both numbers and, at the next paint, both pictures.
    void showRange();

  protected:
    void onScroll(int id) override;
    void onPaint() override;

  private:
    void startSliderMoved();
    void endSliderMoved();
};
