#include "clipboard_checker.h"

#include "dialog.h"
#include "paint_frame.h"
#include "window.h"

#include <QAction>
#include <QEvent>
#include <QMainWindow>
#include <QPointer>

#include <cstdlib>
#include <memory>

namespace {

const dlg::ControlDef kControls143[] = {
    {kCheckerPicture, dlg::Kind::Edit, "", 0, 0, 80, 60, dlg::kDisabled | dlg::kBorder},
    {kCheckerSlider, dlg::Kind::HSlider, "", 0, 59, 80, 13},
    {kCheckerStatus, dlg::Kind::Edit, "", 0, 73, 79, 12, dlg::kCentre | dlg::kBorder},
};

const char kNothing[] = "Nothing Clip Board";

// What the checker uncovers when it moves: the stream information and both editor pictures.
constexpr uint16_t kUncovered = kRepaintStreamInfo | kRepaintStartPicture | kRepaintEndPicture;

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

class ClipboardCheckerDialog : public dlg::Dialog {
  public:
    explicit ClipboardCheckerDialog(QWidget* owner)
        : Dialog({"Clip Board Checker", 79, 85, kControls143}, owner) {
        initialise();
    }

    // Reads the clipboard's format and length and shows its first frame.
    void initialise();

  protected:
    void onCommand(int id) override;
    void onScroll(int id) override;
    void onPaint() override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void showStatus(int shown);

    bool ready_ = false;
    BITMAPINFOHEADER format_{};
    AVISTREAMINFOA info_{};
    std::unique_ptr<uint8_t, FreeDeleter> frame_;
};

QPointer<ClipboardCheckerDialog> checker;
// The checker's place on the screen while the player tab hides it.
QRect rememberedGeometry;

void SetCheckMark(bool checked) {
    if (QAction* item = MenuItem(kCmdClipboardChecker)) item->setChecked(checked);
}

void CreateChecker() {
    checker = new ClipboardCheckerDialog(MainWindow());
}

void ClipboardCheckerDialog::initialise() {
    ready_ = false;
    format_ = {};
    frame_.reset();
    LONG formatSize = sizeof format_;
    // An empty clipboard has no format.
    if (AVIStreamReadFormat(clipboardStream, 0, &format_, &formatSize) != AVIERR_OK ||
        AVIStreamInfoA(clipboardStream, &info_, sizeof info_) != AVIERR_OK) {
        setControlEnabled(kCheckerSlider, false);
        setControlImage(kCheckerPicture, QImage(), true);
        setText(kCheckerPicture, kNothing);
        setText(kCheckerStatus, kNothing);
        return;
    }
    setControlEnabled(kCheckerSlider, true);
    setText(kCheckerPicture, "");
    setRange(kCheckerSlider, 0, int(info_.dwLength - 1));
    setPosition(kCheckerSlider, 0);
    showStatus(0);
    frame_.reset(
        static_cast<uint8_t*>(std::calloc(1, format_.biSizeImage ? format_.biSizeImage : 1)));
    ready_ = frame_ != nullptr;
    if (ready_)
        AVIStreamRead(clipboardStream, 0, 1, frame_.get(), LONG(format_.biSizeImage), nullptr,
                      nullptr);
    invalidate();
}

void ClipboardCheckerDialog::showStatus(int shown) {
    setText(kCheckerStatus,
            QString::asprintf("All %.3d/ Disp %.3d", int(info_.dwLength - 1), shown));
}

// The close box destroys the checker.
void ClipboardCheckerDialog::onCommand(int id) {
    if (id == dlg::kIdCancel) DestroyClipboardChecker();
}

void ClipboardCheckerDialog::onScroll(int id) {
    if (id != kCheckerSlider || !ready_) return;
    const int shown = position(kCheckerSlider);
    AVIStreamRead(clipboardStream, shown, 1, frame_.get(), LONG(format_.biSizeImage), nullptr,
                  nullptr);
    showStatus(shown);
    invalidate();
}

void ClipboardCheckerDialog::onPaint() {
    if (ready_) PaintFrame(*this, kCheckerPicture, frame_.get(), &format_);
}

void ClipboardCheckerDialog::moveEvent(QMoveEvent* event) {
    repaintRequests |= kUncovered;
    Dialog::moveEvent(event);
}

void ClipboardCheckerDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) repaintRequests |= kUncovered;
    Dialog::changeEvent(event);
}

} // namespace

dlg::Dialog* ClipboardChecker() {
    return checker;
}

void ToggleClipboardChecker() {
    hostFlags ^= kCheckerMarkedOpen;
    if (!(hostFlags & kCheckerMarkedOpen)) {
        DestroyClipboardChecker();
        return;
    }
    SetCheckMark(true);
    CreateChecker();
    checker->show();
}

void ReinitClipboardChecker() {
    if (checker) checker->initialise();
}

void DestroyClipboardChecker() {
    ClipboardCheckerDialog* dying = checker;
    checker = nullptr;
    hostFlags &= ~kCheckerMarkedOpen;
    SetCheckMark(false);
    if (!dying) return;
    // The close box reaches here from inside the checker's own handling.
    dying->hide();
    dying->deleteLater();
}

void HideClipboardChecker() {
    if (!checker) return;
    rememberedGeometry = checker->geometry();
    DestroyClipboardChecker();
    hostFlags |= kCheckerMarkedOpen;
    SetCheckMark(true);
}

void RestoreClipboardChecker() {
    if (!(hostFlags & kCheckerMarkedOpen) || checker) return;
    CreateChecker();
    if (rememberedGeometry.isValid()) checker->setGeometry(rememberedGeometry);
    checker->show();
}
