#include "stream_list.h"

#include "session.h"
#include "window.h"

#include <QFont>
#include <QLabel>

#include <cstdio>

namespace {

const dlg::ControlDef kControls133[] = {
    {dlg::kNoId, dlg::Kind::GroupBox, "Read Stream List", 4, 3, 92, 90},
    {kStreamList, dlg::Kind::ListView, "", 7, 14, 87, 73},
    // Four lines: depth, size, length and the sound's format.
    {kStreamInfoBox, dlg::Kind::Edit, "", 4, 96, 92, 40, dlg::kCentre | dlg::kBorder},
};

// The information's face; its size follows the panel's font, so it scales with the panel.
QFont InfoFace() {
    QFont font;
    font.setFamilies({QStringLiteral("IPAMincho")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

} // namespace

StreamListDialog::StreamListDialog(QWidget* parent, std::function<void(int)> onActivated)
    : Dialog({"", 101, 138, kControls133}, parent, dlg::Role::Panel),
      onActivated_(std::move(onActivated)) {
    setColumn(kStreamList, "Open File Name");
    auto* info = static_cast<QLabel*>(control(kStreamInfoBox));
    info->setFont(InfoFace());
    info->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    invalidate();
}

void StreamListDialog::onNotify(int id, int code) {
    if (id == kStreamList && code == dlg::kNotifyItemActivate && onActivated_)
        onActivated_(currentRow(kStreamList));
}

void StreamListDialog::onPaint() {
    // The current slot stays highlighted whatever row the user clicked last.
    setCurrentRow(kStreamList, workspace.currentSlot);
    if (repaintRequests & kRepaintStreamInfo) {
        setText(kStreamInfoBox, QString::fromUtf8(StreamInfoText()));
        repaintRequests &= ~kRepaintStreamInfo;
    }
}

std::string StreamInfoText() {
    const BITMAPINFOHEADER& format = *workspace.frameFormat;
    char text[128];
    std::snprintf(text, sizeof text, "Color Bit %.2d\nWindow Size %.3d X %.3d\nFrame Length %.3d",
                  int(format.biBitCount), int(format.biWidth), int(format.biHeight),
                  int(workspace.streamInfo.dwLength));
    const std::string sound = SoundFormatText(session::SoundOf(workspace.currentSlot));
    return sound.empty() ? text : text + ("\n" + sound);
}

std::string SoundFormatText(const session::SlotSound& sound) {
    if (!sound.stream) return {};
    return std::to_string(sound.format.nSamplesPerSec) + " Hz " +
           std::to_string(sound.format.nChannels) + " ch";
}

void StreamListDialog::requestInfoRepaint() {
    repaintRequests |= kRepaintStreamInfo;
    invalidate();
}
