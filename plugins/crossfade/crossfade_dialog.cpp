#include "crossfade_dialog.h"

#include "paint_frame.h"

#include <QString>

#include <algorithm>

namespace crossfade {

namespace {

using dlg::Kind;

const dlg::ControlDef kControls136[] = {
    {dlg::kNoId, Kind::GroupBox, "Wexel Source", 0, 0, 239, 80},
    {kCrossfadeSourcePicture, Kind::Edit, "", 5, 12, 70, 60, dlg::kDisabled | dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Start", 80, 14, 17, 8},
    {kCrossfadeSourceStart, Kind::HSlider, "", 98, 14, 60, 10},
    {dlg::kNoId, Kind::Static, "End", 80, 23, 14, 8},
    {kCrossfadeSourceEnd, Kind::HSlider, "", 98, 23, 60, 10},
    {dlg::kNoId, Kind::GroupBox, "Start Trans", 80, 35, 80, 23},
    {kCrossfadeStartTransNumber, Kind::Edit, "", 81, 45, 15, 12},
    {kCrossfadeStartTrans, Kind::HSlider, "", 95, 45, 60, 10},
    {kCrossfadeSourceText, Kind::Edit, "", 80, 60, 80, 12},
    {kCrossfadeInsertOverStream, Kind::CheckBox, "Insert Over Stream", 163, 14, 74, 10},
    {dlg::kNoId, Kind::GroupBox, "Wexel Distinaition", 0, 80, 239, 80},
    {kCrossfadeDestinationPicture, Kind::Edit, "", 5, 93, 70, 60, dlg::kDisabled | dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Start", 80, 94, 17, 8},
    {kCrossfadeDestinationStart, Kind::HSlider, "", 98, 94, 60, 10},
    {dlg::kNoId, Kind::Static, "End", 80, 104, 14, 8},
    {kCrossfadeDestinationEnd, Kind::HSlider, "", 98, 104, 60, 10},
    {dlg::kNoId, Kind::GroupBox, "End Trans", 80, 114, 80, 23},
    {kCrossfadeEndTransNumber, Kind::Edit, "", 81, 124, 15, 12},
    {kCrossfadeEndTrans, Kind::HSlider, "", 95, 124, 60, 10},
    {kCrossfadeDestinationText, Kind::Edit, "", 80, 141, 80, 12},
    {kCrossfadeSlotList, Kind::ListView, "", 165, 92, 69, 60},
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 160, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 160, 40, 14},
    {plugin::kIdProgress, Kind::Progress, "", 87, 163, 145, 8, dlg::kBorder},
};

const char kOutputInfo[] = "Out Put Info\nScreen Size    %d X %d \nFream Length      %lld";
const char kSizesDiffer[] = "合成するストリームの画面サイズ（%d X %d）がこのストリーム（%d X "
                            "%d）と違うので合成できません";

// The highest trackbar position over a stream of `frames` frames.
int LastPosition(int32_t frames) {
    return std::max(frames, 1) - 1;
}

QString RangeText(int32_t lastFrame, int32_t start, int32_t end) {
    return QString::asprintf("%.3d / %.3d To %.3d", lastFrame, start, end);
}

} // namespace

CrossfadeDialog::CrossfadeDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({"クロスフェード Ver 1.00", 239, 173, kControls136}, parent, ws) {
    params_.source = ws.currentStream;
    params_.sourceFormat = *ws.frameFormat;
    params_.sourceFrames = int32_t(ws.streamInfo.dwLength);
    readDestination(0);
    readDestinationPreview(0);
    sourceFrame_.assign(params_.sourceFormat.biSizeImage, 0);
    plugin::ReadFrame(ws.currentStream, 0, sourceFrame_.data(), params_.sourceFormat);

    for (const int id : {kCrossfadeSourceStart, kCrossfadeSourceEnd})
        setRange(id, 0, LastPosition(params_.sourceFrames));
    for (const int id : {kCrossfadeDestinationStart, kCrossfadeDestinationEnd})
        setRange(id, 0, LastPosition(params_.destinationFrames));
    for (const int id : {kCrossfadeStartTrans, kCrossfadeEndTrans})
        setRange(id, 0, 100);
    setPosition(kCrossfadeSourceStart, 0);
    setPosition(kCrossfadeSourceEnd, 1);
    setPosition(kCrossfadeDestinationStart, 0);
    setPosition(kCrossfadeDestinationEnd, 1);
    setPosition(kCrossfadeStartTrans, params_.startTransPercent);
    setPosition(kCrossfadeEndTrans, params_.endTransPercent);

    plugin::FillSlotList(*this, kCrossfadeSlotList, ws);
    showSourceText();
    showDestinationText();
    setNumber(kCrossfadeStartTransNumber, params_.startTransPercent);
    setNumber(kCrossfadeEndTransNumber, params_.endTransPercent);
    invalidate();
}

void CrossfadeDialog::onControl(int id) {
    if (id == dlg::kIdOk) render();
    if (id == kCrossfadeInsertOverStream) {
        params_.insertOverStream = !params_.insertOverStream;
        plugin::SetToggleCheck(*this, kCrossfadeInsertOverStream, params_.insertOverStream);
    }
}

void CrossfadeDialog::onScroll(int id) {
    switch (id) {
    case kCrossfadeSourceStart:
    case kCrossfadeSourceEnd:
        moveSourceRange();
        break;
    case kCrossfadeDestinationStart:
        moveDestinationStart();
        break;
    case kCrossfadeDestinationEnd:
        moveDestinationEnd();
        break;
    case kCrossfadeStartTrans:
        params_.startTransPercent = position(kCrossfadeStartTrans);
        setNumber(kCrossfadeStartTransNumber, params_.startTransPercent);
        break;
    case kCrossfadeEndTrans:
        params_.endTransPercent = position(kCrossfadeEndTrans);
        setNumber(kCrossfadeEndTransNumber, params_.endTransPercent);
        break;
    }
}

void CrossfadeDialog::onNotify(int id, int code) {
    if (id == kCrossfadeSlotList && code == dlg::kNotifyItemActivate) chooseDestination();
}

void CrossfadeDialog::onPaint() {
    PaintFrame(*this, kCrossfadeDestinationPicture, destFrame_.data(), &params_.destinationFormat,
               FrameScaling::Nearest);
    PaintFrame(*this, kCrossfadeSourcePicture, sourceFrame_.data(), &params_.sourceFormat,
               FrameScaling::Nearest);
}

// An unreadable stream leaves a destination of no frames, which nothing reads from and which
// Ok refuses by its size.
void CrossfadeDialog::readDestination(int slot) {
    PAVISTREAM stream = workspace().slotStreams[slot];
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    AVISTREAMINFOA info{};
    if (AVIStreamReadFormat(stream, 0, &format, &size) != AVIERR_OK ||
        AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK) {
        format = {};
        info = {};
    }
    params_.destination = stream;
    params_.destinationFormat = format;
    params_.destinationFrames = int32_t(info.dwLength);
    destFrame_.assign(format.biSizeImage, 0);
}

void CrossfadeDialog::chooseDestination() {
    const int row = currentRow(kCrossfadeSlotList);
    if (row < 0 || row >= workspace().slotCount) return;
    readDestination(row);
    params_.destinationStart = 0;
    params_.destinationEnd = 1;
    readDestinationPreview(params_.destinationEnd);
    for (const int id : {kCrossfadeDestinationStart, kCrossfadeDestinationEnd})
        setRange(id, 0, LastPosition(params_.destinationFrames));
    setPosition(kCrossfadeDestinationStart, params_.destinationStart);
    setPosition(kCrossfadeDestinationEnd, params_.destinationEnd);
    showDestinationText();
    invalidate();
}

// Keeps both ranges of one length: a source range longer than the destination can supply from
// destinationStart on takes back the destination's length.
void CrossfadeDialog::moveSourceRange() {
    CrossfadeParams& p = params_;
    p.rangeStart = position(kCrossfadeSourceStart);
    p.rangeEnd = position(kCrossfadeSourceEnd);
    const int32_t frames = p.sourceFrames;
    if (frames >= 2 && p.rangeStart >= frames - 2) {
        p.rangeStart = frames - 2;
        setPosition(kCrossfadeSourceStart, p.rangeStart);
    }
    if (p.rangeStart >= p.rangeEnd) {
        p.rangeEnd = p.rangeStart + 1;
        setPosition(kCrossfadeSourceEnd, p.rangeEnd);
    }
    if (rangeLength() > p.destinationFrames - 1 - p.destinationStart) {
        p.rangeEnd = p.rangeStart + (p.destinationEnd - p.destinationStart);
        setPosition(kCrossfadeSourceEnd, p.rangeEnd);
    } else {
        p.destinationEnd = p.destinationStart + rangeLength();
        setPosition(kCrossfadeDestinationEnd, p.destinationEnd);
    }
    plugin::ReadFrame(p.source, p.rangeStart, sourceFrame_.data(), p.sourceFormat);
    showSourceText();
    showDestinationText();
    invalidate();
}

void CrossfadeDialog::moveDestinationStart() {
    CrossfadeParams& p = params_;
    fitSourceRangeToDestination();
    p.destinationStart = position(kCrossfadeDestinationStart);
    if (p.destinationStart + rangeLength() > p.destinationFrames - 1) {
        p.destinationStart = std::max(0, p.destinationFrames - 1 - rangeLength());
        setPosition(kCrossfadeDestinationStart, p.destinationStart);
    }
    p.destinationEnd = p.destinationStart + rangeLength();
    setPosition(kCrossfadeDestinationEnd, p.destinationEnd);
    readDestinationPreview(p.destinationStart);
    showDestinationText();
    invalidate();
}

void CrossfadeDialog::moveDestinationEnd() {
    CrossfadeParams& p = params_;
    fitSourceRangeToDestination();
    p.destinationEnd = position(kCrossfadeDestinationEnd);
    if (p.destinationEnd < rangeLength()) {
        p.destinationEnd = rangeLength();
        setPosition(kCrossfadeDestinationEnd, p.destinationEnd);
    }
    p.destinationStart = p.destinationEnd - rangeLength();
    setPosition(kCrossfadeDestinationStart, p.destinationStart);
    readDestinationPreview(p.destinationStart);
    showDestinationText();
    invalidate();
}

// A destination chosen after the source range was widened may be shorter than that range; the
// destination trackbars then could not keep both ranges inside their streams.
void CrossfadeDialog::fitSourceRangeToDestination() {
    const int32_t longest = std::max(1, params_.destinationFrames - 1);
    if (rangeLength() <= longest) return;
    params_.rangeEnd = params_.rangeStart + longest;
    setPosition(kCrossfadeSourceEnd, params_.rangeEnd);
    showSourceText();
}

void CrossfadeDialog::showSourceText() {
    setText(kCrossfadeSourceText,
            RangeText(params_.sourceFrames - 1, params_.rangeStart, params_.rangeEnd));
}

void CrossfadeDialog::showDestinationText() {
    setText(kCrossfadeDestinationText, RangeText(params_.destinationFrames - 1,
                                                 params_.destinationStart, params_.destinationEnd));
}

void CrossfadeDialog::readDestinationPreview(int32_t frame) {
    frame = std::min(frame, params_.destinationFrames - 1);
    if (frame >= 0)
        plugin::ReadFrame(params_.destination, frame, destFrame_.data(), params_.destinationFormat);
}

// Asks before it writes: a destination of another size cannot be blended, and the Info box
// shows what the render will write.
void CrossfadeDialog::render() {
    if (!sizesMatch()) return;
    if (!confirmOutput(OutputFrames(params_) - 1)) return;
    CrossfadeRenderer renderer(params_);
    renderToSlot(renderer);
}

// Rows of different lengths cannot be blended; depths are converted.
bool CrossfadeDialog::sizesMatch() {
    const BITMAPINFOHEADER &source = params_.sourceFormat, &dest = params_.destinationFormat;
    if (dest.biWidth == source.biWidth && dest.biHeight == source.biHeight) return true;
    const QByteArray text = QString::asprintf(kSizesDiffer, int(dest.biWidth), int(dest.biHeight),
                                              int(source.biWidth), int(source.biHeight))
                                .toUtf8();
    MessageBoxA(static_cast<QWidget*>(this), text.constData(), "Check", MB_OK);
    return false;
}

bool CrossfadeDialog::confirmOutput(int64_t lastFrame) {
    const BITMAPINFOHEADER& source = params_.sourceFormat;
    const QByteArray text = QString::asprintf(kOutputInfo, int(source.biWidth),
                                              int(source.biHeight), (long long)lastFrame)
                                .toUtf8();
    return MessageBoxA(static_cast<QWidget*>(this), text.constData(), "Info",
                       MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

} // namespace crossfade
