#include "crossfade_dialog.h"

#include "paint_frame.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace crossfade {

namespace {

using dlg::Kind;

const dlg::ControlDef kControls[] = {
    {dlg::kNoId, Kind::GroupBox, "Wexel Source", 0, 0, 239, 80},
    {kSourcePicture, Kind::Edit, "", 5, 12, 70, 60, dlg::kDisabled | dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Start", 80, 14, 15, 8},
    {kSourceStart, Kind::HSlider, "", 95, 14, 60, 10},
    {dlg::kNoId, Kind::Static, "End", 80, 23, 12, 8},
    {kSourceEnd, Kind::HSlider, "", 95, 23, 60, 10},
    {dlg::kNoId, Kind::GroupBox, "Start Trans", 80, 35, 80, 23},
    {kStartTransNumber, Kind::Edit, "", 81, 45, 15, 12},
    {kStartTrans, Kind::HSlider, "", 95, 45, 60, 10},
    {kSourceText, Kind::Edit, "", 80, 60, 80, 12},
    {kInsertOverStream, Kind::CheckBox, "Insert Over Stream", 163, 14, 71, 10},
    {dlg::kNoId, Kind::GroupBox, "Wexel Distinaition", 0, 80, 239, 80},
    {kDestinationPicture, Kind::Edit, "", 5, 93, 70, 60, dlg::kDisabled | dlg::kBorder},
    {dlg::kNoId, Kind::Static, "Start", 80, 94, 15, 8},
    {kDestinationStart, Kind::HSlider, "", 95, 94, 60, 10},
    {dlg::kNoId, Kind::Static, "End", 80, 104, 12, 8},
    {kDestinationEnd, Kind::HSlider, "", 95, 104, 60, 10},
    {dlg::kNoId, Kind::GroupBox, "End Trans", 80, 114, 80, 23},
    {kEndTransNumber, Kind::Edit, "", 81, 124, 15, 12},
    {kEndTrans, Kind::HSlider, "", 95, 124, 60, 10},
    {kDestinationText, Kind::Edit, "", 80, 141, 80, 12},
    {kSlotList, Kind::ListView, "", 165, 92, 69, 60},
    {dlg::kIdOk, Kind::PushButton, "Ok", 0, 160, 40, 14},
    {dlg::kIdCancel, Kind::PushButton, "Cansel", 40, 160, 40, 14},
    {plugin::kIdProgress, Kind::Progress, "", 87, 163, 145, 8, dlg::kBorder},
};

const char kTitle[] = "クロスフェード Ver 1.00";
const char kOutputInfo[] = "Out Put Info\nScreen Size    %d X %d \nFream Length      %lld";
const char kSizesDiffer[] = "合成するストリームの画面サイズ（%d X %d）がこのストリーム（%d X "
                            "%d）と違うので合成できません";
const char kSourceUnreadable[] = "このストリームのフレーム %lld を読めませんでした";
const char kDestinationUnreadable[] = "合成するストリームのフレーム %lld を読めませんでした";

// The highest trackbar position over a stream of `frames` frames (16-bit, as trackbars keep it).
int LastPosition(int32_t frames) {
    return dlg::Low16(std::max(frames, 1) - 1);
}

QString RangeText(int32_t lastFrame, int32_t start, int32_t end) {
    return QString::asprintf("%.3d / %.3d To %.3d", lastFrame, start, end);
}

size_t RowBytes(const BITMAPINFOHEADER& format) {
    return size_t(format.biWidth * format.biBitCount + 31) / 32 * 4;
}

} // namespace

CrossfadeDialog::CrossfadeDialog(QWidget* parent, EditWorkspace& ws)
    : PluginDialog({kTitle, 239, 173, kControls}, parent, ws), sourceFormat_(*ws.frameFormat) {
    ws.rangeStart = 0;
    ws.rangeEnd = 1;
    readDestination(0);
    readDestinationPreview(0);
    sourceFrame_.assign(sourceFormat_.biSizeImage, 0);
    plugin::ReadFrame(ws.currentStream, 0, sourceFrame_.data(), sourceFormat_);

    for (const int id : {kSourceStart, kSourceEnd})
        setRange(id, 0, LastPosition(sourceFrames()));
    for (const int id : {kDestinationStart, kDestinationEnd})
        setRange(id, 0, LastPosition(destinationFrames()));
    for (const int id : {kStartTrans, kEndTrans})
        setRange(id, 0, 100);
    setPosition(kSourceStart, 0);
    setPosition(kSourceEnd, 1);
    setPosition(kDestinationStart, 0);
    setPosition(kDestinationEnd, 1);
    setPosition(kStartTrans, blend_.startTransPercent);
    setPosition(kEndTrans, blend_.endTransPercent);

    plugin::FillSlotList(*this, kSlotList, ws);
    showSourceText();
    showDestinationText();
    setNumber(kStartTransNumber, blend_.startTransPercent);
    setNumber(kEndTransNumber, blend_.endTransPercent);
    invalidate();
}

void CrossfadeDialog::onControl(int id) {
    if (id == dlg::kIdOk) render();
    if (id == kInsertOverStream) {
        insertOverStream_ = !insertOverStream_;
        plugin::SetToggleCheck(*this, kInsertOverStream, insertOverStream_);
    }
}

void CrossfadeDialog::onScroll(int id) {
    switch (id) {
    case kSourceStart:
    case kSourceEnd:
        moveSourceRange();
        break;
    case kDestinationStart:
        moveDestinationStart();
        break;
    case kDestinationEnd:
        moveDestinationEnd();
        break;
    case kStartTrans:
        blend_.startTransPercent = dlg::Low16(position(kStartTrans));
        setNumber(kStartTransNumber, blend_.startTransPercent);
        break;
    case kEndTrans:
        blend_.endTransPercent = dlg::Low16(position(kEndTrans));
        setNumber(kEndTransNumber, blend_.endTransPercent);
        break;
    }
}

void CrossfadeDialog::onNotify(int id, int code) {
    if (id == kSlotList && code == dlg::kNotifyItemActivate) chooseDestination();
}

void CrossfadeDialog::onPaint() {
    PaintFrame(*this, kDestinationPicture, destFrame_.data(), &destFormat_, FrameScaling::Nearest);
    PaintFrame(*this, kSourcePicture, sourceFrame_.data(), &sourceFormat_, FrameScaling::Nearest);
}

// An unreadable stream leaves a destination of no frames, which nothing reads from and which
// Ok refuses by its size.
void CrossfadeDialog::readDestination(int slot) {
    destSlot_ = slot;
    destFormat_ = {};
    LONG size = sizeof destFormat_;
    destInfo_ = {};
    if (AVIStreamReadFormat(destinationStream(), 0, &destFormat_, &size) != AVIERR_OK ||
        AVIStreamInfoA(destinationStream(), &destInfo_, sizeof destInfo_) != AVIERR_OK) {
        destFormat_ = {};
        destInfo_ = {};
    }
    destFrame_.assign(destFormat_.biSizeImage, 0);
}

void CrossfadeDialog::chooseDestination() {
    const int row = currentRow(kSlotList);
    if (row < 0 || row >= workspace().slotCount) return;
    readDestination(row);
    destStart_ = 0;
    destEnd_ = 1;
    readDestinationPreview(destEnd_);
    for (const int id : {kDestinationStart, kDestinationEnd})
        setRange(id, 0, LastPosition(destinationFrames()));
    setPosition(kDestinationStart, destStart_);
    setPosition(kDestinationEnd, destEnd_);
    showDestinationText();
    invalidate();
}

// Keeps both ranges of one length: a source range longer than the destination can supply from
// destStart on takes back the destination's length.
void CrossfadeDialog::moveSourceRange() {
    EditWorkspace& ws = workspace();
    ws.rangeStart = dlg::Low16(position(kSourceStart));
    ws.rangeEnd = dlg::Low16(position(kSourceEnd));
    const int32_t frames = sourceFrames();
    if (frames >= 2 && ws.rangeStart >= frames - 2) {
        ws.rangeStart = frames - 2;
        setPosition(kSourceStart, ws.rangeStart);
    }
    if (ws.rangeStart >= ws.rangeEnd) {
        ws.rangeEnd = ws.rangeStart + 1;
        setPosition(kSourceEnd, ws.rangeEnd);
    }
    if (rangeLength() > destinationFrames() - 1 - destStart_) {
        ws.rangeEnd = ws.rangeStart + (destEnd_ - destStart_);
        setPosition(kSourceEnd, ws.rangeEnd);
    } else {
        destEnd_ = destStart_ + rangeLength();
        setPosition(kDestinationEnd, destEnd_);
    }
    plugin::ReadFrame(ws.currentStream, ws.rangeStart, sourceFrame_.data(), sourceFormat_);
    showSourceText();
    showDestinationText();
    invalidate();
}

void CrossfadeDialog::moveDestinationStart() {
    fitSourceRangeToDestination();
    destStart_ = dlg::Low16(position(kDestinationStart));
    if (destStart_ + rangeLength() > destinationFrames() - 1) {
        destStart_ = std::max(0, destinationFrames() - 1 - rangeLength());
        setPosition(kDestinationStart, destStart_);
    }
    destEnd_ = destStart_ + rangeLength();
    setPosition(kDestinationEnd, destEnd_);
    readDestinationPreview(destStart_);
    showDestinationText();
    invalidate();
}

void CrossfadeDialog::moveDestinationEnd() {
    fitSourceRangeToDestination();
    destEnd_ = dlg::Low16(position(kDestinationEnd));
    if (destEnd_ < rangeLength()) {
        destEnd_ = rangeLength();
        setPosition(kDestinationEnd, destEnd_);
    }
    destStart_ = destEnd_ - rangeLength();
    setPosition(kDestinationStart, destStart_);
    readDestinationPreview(destStart_);
    showDestinationText();
    invalidate();
}

// A destination chosen after the source range was widened may be shorter than that range; the
// destination trackbars then could not keep both ranges inside their streams.
void CrossfadeDialog::fitSourceRangeToDestination() {
    const int32_t longest = std::max(1, destinationFrames() - 1);
    if (rangeLength() <= longest) return;
    workspace().rangeEnd = workspace().rangeStart + longest;
    setPosition(kSourceEnd, workspace().rangeEnd);
    showSourceText();
}

void CrossfadeDialog::showSourceText() {
    setText(kSourceText,
            RangeText(sourceFrames() - 1, workspace().rangeStart, workspace().rangeEnd));
}

void CrossfadeDialog::showDestinationText() {
    setText(kDestinationText, RangeText(destinationFrames() - 1, destStart_, destEnd_));
}

void CrossfadeDialog::readDestinationPreview(int32_t frame) {
    frame = std::min(frame, destinationFrames() - 1);
    if (frame >= 0) plugin::ReadFrame(destinationStream(), frame, destFrame_.data(), destFormat_);
}

// Writes the whole source, its range blended with the destination's, then (with "Insert Over
// Stream") the destination's frames after destEnd, all in the source's format.
void CrossfadeDialog::render() {
    if (!sizesMatch()) return;
    const int64_t appended =
        insertOverStream_ ? std::max(0, destinationFrames() - 1 - destEnd_) : 0;
    const int64_t lastFrame = sourceFrames() - 1 + appended;
    if (!confirmOutput(lastFrame)) return;
    converted_.assign(sourceFormat_.biSizeImage, 0);
    SetupBlend(blend_, workspace().rangeStart, workspace().rangeEnd);
    renderToSlot(lastFrame + 1, sourceFormat_,
                 [this](int64_t index, uint8_t* pixels) { return produceFrame(index, pixels); });
}

// Rows of different lengths cannot be blended; depths are converted.
bool CrossfadeDialog::sizesMatch() {
    if (destFormat_.biWidth == sourceFormat_.biWidth &&
        destFormat_.biHeight == sourceFormat_.biHeight)
        return true;
    const QByteArray text =
        QString::asprintf(kSizesDiffer, int(destFormat_.biWidth), int(destFormat_.biHeight),
                          int(sourceFormat_.biWidth), int(sourceFormat_.biHeight))
            .toUtf8();
    MessageBoxA(static_cast<QWidget*>(this), text.constData(), "Check", MB_OK);
    return false;
}

bool CrossfadeDialog::confirmOutput(int64_t lastFrame) {
    const QByteArray text = QString::asprintf(kOutputInfo, int(sourceFormat_.biWidth),
                                              int(sourceFormat_.biHeight), (long long)lastFrame)
                                .toUtf8();
    return MessageBoxA(static_cast<QWidget*>(this), text.constData(), "Info",
                       MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

// Frames come in order, so the weight advances once per frame of the range.
bool CrossfadeDialog::produceFrame(int64_t index, uint8_t* pixels) {
    if (index >= sourceFrames()) return appendDestination(index, pixels);
    if (!plugin::ReadFrame(workspace().currentStream, index, pixels, sourceFormat_)) {
        reportError(QString::asprintf(kSourceUnreadable, (long long)index).toUtf8().constData());
        return false;
    }
    if (index < workspace().rangeStart || index > workspace().rangeEnd) return true;
    return blendDestinationInto(index, pixels);
}

// Past the destination's last frame the source frame stays as it is.
bool CrossfadeDialog::blendDestinationInto(int64_t index, uint8_t* pixels) {
    const double ratio = AdvanceBlendWeight(blend_);
    const int64_t frame = destStart_ + (index - workspace().rangeStart);
    if (frame >= destinationFrames()) return true;
    if (!readDestinationFrame(int32_t(frame))) return false;
    if (destFormat_.biBitCount == sourceFormat_.biBitCount) {
        BlendFrames(pixels, destFrame_.data(), destFrame_.size(), ratio, sourceFormat_);
    } else {
        copyInSourceDepth(converted_.data(), converted_.size());
        BlendFrames(pixels, converted_.data(), converted_.size(), ratio, sourceFormat_);
    }
    return true;
}

bool CrossfadeDialog::appendDestination(int64_t index, uint8_t* pixels) {
    const int64_t frame = destEnd_ + 1 + (index - sourceFrames());
    if (!readDestinationFrame(int32_t(frame))) return false;
    copyInSourceDepth(pixels, sourceFormat_.biSizeImage);
    return true;
}

bool CrossfadeDialog::readDestinationFrame(int32_t frame) {
    if (plugin::ReadFrame(destinationStream(), frame, destFrame_.data(), destFormat_)) return true;
    reportError(QString::asprintf(kDestinationUnreadable, (long long)frame).toUtf8().constData());
    return false;
}

// The destination frame in the source's depth; row by row, so that each depth's rows keep their
// own padding to four bytes.
void CrossfadeDialog::copyInSourceDepth(uint8_t* out, size_t outSize) {
    const uint8_t* pixels = destFrame_.data();
    if (destFormat_.biBitCount == sourceFormat_.biBitCount) {
        std::memcpy(out, pixels, std::min(destFrame_.size(), outSize));
        return;
    }
    const size_t inRow = RowBytes(destFormat_), outRow = RowBytes(sourceFormat_);
    if (inRow == 0 || outRow == 0) return;
    BITMAPINFOHEADER row = destFormat_;
    row.biSizeImage = DWORD(destFormat_.biWidth * (destFormat_.biBitCount / 8));
    const size_t rows = std::min(destFrame_.size() / inRow, outSize / outRow);
    for (size_t r = 0; r < rows; ++r)
        ConvertPixelDepth(sourceFormat_.biBitCount, row, pixels + r * inRow, out + r * outRow,
                          outRow);
}

} // namespace crossfade
