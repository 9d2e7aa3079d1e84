// The stream list panel (dialog 133): one row per slot, the current slot highlighted, and the
// current stream's information below.
#pragma once

#include "dialog.h"
#include "session.h"

#include <functional>
#include <string>

enum StreamListControl : int {
    kStreamList = 1019,
    kStreamInfoBox = 1036,
};

class StreamListDialog : public dlg::Dialog {
  public:
    // A double-click on a row calls onActivated with the row.
    StreamListDialog(QWidget* parent, std::function<void(int row)> onActivated);

    // Redraws the current stream's information at the next paint.
    void requestInfoRepaint();

  protected:
    void onNotify(int id, int code) override;
    void onPaint() override;

  private:
    std::function<void(int)> onActivated_;
};

// "Color Bit %.2d\nWindow Size %.3d X %.3d\nFrame Length %.3d" of the current stream, and on a
// line of its own the format of the current slot's sound when it has one.
std::string StreamInfoText();

// "48000 Hz 2 ch"; empty for no sound.
std::string SoundFormatText(const session::SlotSound& sound);
