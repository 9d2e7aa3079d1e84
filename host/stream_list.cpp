#include "stream_list.h"

#include "session.h"
#include "window.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

const dlg::ControlDef kControls133[] = {
    {dlg::kNoId, dlg::Kind::GroupBox, "Read Stream List", 4, 3, 80, 98},
    {kStreamList, dlg::Kind::ListView, "", 7, 14, 75, 81},
    {kStreamInfoBox, dlg::Kind::Edit, "", 4, 104, 80, 32, dlg::kCentre | dlg::kBorder},
};

constexpr int kInfoPixelSize = 12;
constexpr int kSmallestInfoPixelSize = 8;

QFont InfoFont(int pixelSize) {
    QFont font("IPAMincho");
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

// The information font, a little smaller when the sound's line would not fit below the others.
QFont InfoFontFitting(const QSize& room, const QString& text) {
    const QRect whole(QPoint(0, 0), room);
    int pixelSize = kInfoPixelSize;
    while (pixelSize > kSmallestInfoPixelSize &&
           QFontMetrics(InfoFont(pixelSize))
                   .boundingRect(whole, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text)
                   .height() > room.height())
        --pixelSize;
    return InfoFont(pixelSize);
}

} // namespace

StreamListDialog::StreamListDialog(QWidget* parent, std::function<void(int)> onActivated)
    : Dialog({"", 89, 138, kControls133}, parent, dlg::Role::Panel),
      onActivated_(std::move(onActivated)) {
    setColumn(kStreamList, "Open File Name");
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
        PaintStreamInfo(*this, kStreamInfoBox, StreamInfoText());
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

void PaintStreamInfo(dlg::Dialog& dialog, int id, const std::string& text) {
    const QSize size = dialog.clientSize(id);
    if (size.isEmpty()) return;
    QImage image(size, QImage::Format_RGB32);
    image.fill(dialog.palette().color(QPalette::Window));
    const QString shown = QString::fromUtf8(text);
    QPainter painter(&image);
    painter.setFont(InfoFontFitting(size, shown));
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, shown);
    painter.end();
    dialog.setControlImage(id, image, false);
}

void StreamListDialog::requestInfoRepaint() {
    repaintRequests |= kRepaintStreamInfo;
    invalidate();
}
