#include "editor_panel.h"

#include "paint_frame.h"
#include "session.h"
#include "window.h"

namespace {

// The frames keep their aspect ratio however large the window makes the pictures.
constexpr unsigned kPicture = dlg::kDisabled | dlg::kBorder | dlg::kKeepAspect;

const dlg::ControlDef kControls132[] = {
    {kEditorStartPicture, dlg::Kind::Edit, "", 5, 5, 93, 60, kPicture},
    {kEditorEndPicture, dlg::Kind::Edit, "", 102, 5, 93, 60, kPicture},
    {dlg::kNoId, dlg::Kind::GroupBox, "Choice Range", 4, 66, 192, 35},
    {dlg::kNoId, dlg::Kind::Static, "Start", 10, 77, 17, 9},
    {dlg::kNoId, dlg::Kind::Static, "End", 10, 87, 14, 9},
    {kEditorStartSlider, dlg::Kind::HSlider, "", 28, 80, 130, 9},
    {kEditorEndSlider, dlg::Kind::HSlider, "", 28, 88, 130, 9},
    {kEditorStartNumber, dlg::Kind::Edit, "", 160, 79, 32, 10, dlg::kCentre},
    {kEditorEndNumber, dlg::Kind::Edit, "", 160, 89, 32, 10, dlg::kCentre},
    {kEditorSlotName, dlg::Kind::Edit, "", 4, 104, 96, 14, dlg::kCentre | dlg::kBorder},
};

QString Unsigned(int32_t value) {
    return QString::number(uint32_t(value));
}

} // namespace

EditorPanelDialog::EditorPanelDialog(QWidget* parent)
    : Dialog({"", 200, 121, kControls132}, parent, dlg::Role::Panel) {}

void EditorPanelDialog::onScroll(int id) {
    if (id == kEditorStartSlider) startSliderMoved();
    if (id == kEditorEndSlider) endSliderMoved();
}

// A slider never pushes the other: a move onto or past it is pulled back one frame short.
void EditorPanelDialog::startSliderMoved() {
    int32_t start = position(kEditorStartSlider);
    int32_t end = position(kEditorEndSlider);
    if (start >= end) {
        // On a one-frame stream both sliders sit at 0; the range stays 0..1.
        start = std::max(end - 1, 0);
        end = std::max(end, start + 1);
        setPosition(kEditorStartSlider, start);
    }
    session::SetRange(start, end);
    showRange();
}

void EditorPanelDialog::endSliderMoved() {
    int32_t end = position(kEditorEndSlider);
    if (workspace.rangeStart >= end) {
        end = workspace.rangeStart + 1;
        setPosition(kEditorEndSlider, end);
    }
    session::SetRange(workspace.rangeStart, end);
    showRange();
}

// The numbers and pictures always show the range the workspace holds, pulled back or not.
void EditorPanelDialog::showRange() {
    setText(kEditorStartNumber, Unsigned(workspace.rangeStart));
    setText(kEditorEndNumber, Unsigned(workspace.rangeEnd));
    repaintRequests |= kRepaintStartPicture | kRepaintEndPicture;
    invalidate();
}

void EditorPanelDialog::onPaint() {
    if (repaintRequests & kRepaintStartPicture) {
        session::ReadFrame(workspace.currentStream, workspace.rangeStart,
                           workspace.startFrameBuffer);
        PaintFrame(*this, kEditorStartPicture, workspace.startFrameBuffer, workspace.frameFormat);
        repaintRequests &= ~kRepaintStartPicture;
    }
    if (repaintRequests & kRepaintEndPicture) {
        session::ReadFrame(workspace.currentStream, workspace.rangeEnd, workspace.endFrameBuffer);
        PaintFrame(*this, kEditorEndPicture, workspace.endFrameBuffer, workspace.frameFormat);
        repaintRequests &= ~(kRepaintStartPicture | kRepaintEndPicture);
    }
}

void EditorPanelDialog::refresh() {
    const int maximum = int(workspace.streamInfo.dwLength - 1);
    for (int slider : {kEditorStartSlider, kEditorEndSlider})
        setRange(slider, 0, maximum);
    setPosition(kEditorStartSlider, workspace.rangeStart);
    setPosition(kEditorEndSlider, workspace.rangeEnd);
    session::ReadFrame(workspace.currentStream, workspace.rangeStart, workspace.startFrameBuffer);
    session::ReadFrame(workspace.currentStream, workspace.rangeEnd, workspace.endFrameBuffer);
    showRange();
}
