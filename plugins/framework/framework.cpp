#include "framework.h"

#include "avi_io.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

namespace plugin {

namespace {

constexpr const char* kDialogFailed = "ダイアログ失敗";
constexpr const char* kNoCurrentSlot = "現在のスロットがありません";
constexpr const char* kBadFrames = "書き込むフレームがありません";
constexpr const char* kCannotCreateTemp = "テンプファイルを作成できませんでした";
constexpr const char* kCannotCreateStream = "ストリームを作成できませんでした";
constexpr const char* kCannotWriteFrame = "フレームを書き込めませんでした";
constexpr const char* kCannotReplaceSlot = "スロットのテンプファイルを置き換えられませんでした";

constexpr unsigned kCreateMode = OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE;
constexpr unsigned kReadMode = OF_READ | OF_SHARE_DENY_NONE;

std::filesystem::path TempFile(int n, const EditWorkspace& ws) {
    EditWorkspace named = ws;
    TempAviName(n, named);
    return std::filesystem::path(named.tempPath);
}

void RemoveFile(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool SameHeader(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER* b) {
    return b && std::memcmp(&a, b, sizeof a) == 0;
}

// The file the writer finished holds every frame: a write that failed only when the file was
// closed (a full disk) shows here.
bool HoldsFrames(const std::filesystem::path& path, int64_t frames) {
    PAVISTREAM written = nullptr;
    if (AVIStreamOpenFromFileA(&written, path.c_str(), streamtypeVIDEO, 0, kReadMode, nullptr) !=
            AVIERR_OK ||
        !written)
        return false;
    const bool complete = AVIStreamLength(written) == frames;
    AVIStreamRelease(written);
    return complete;
}

// The controls a running render leaves enabled: Cancel stops it, the bar shows how far it is.
bool StaysEnabled(const dlg::Dialog& dialog, const QWidget* widget) {
    return widget == dialog.control(dlg::kIdCancel) || widget == dialog.control(kIdProgress);
}

} // namespace

// The platform's AVI services stay initialised, and the dialog's other controls disabled, for
// exactly as long as a render runs.
class PluginDialog::RenderSession {
  public:
    explicit RenderSession(PluginDialog& dialog) : dialog_(dialog) {
        AVIFileInit();
        dialog_.rendering_ = true;
        dialog_.cancelRequested_ = false;
        for (QWidget* widget : dialog_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (StaysEnabled(dialog_, widget) || widget->testAttribute(Qt::WA_Disabled)) continue;
            widget->setEnabled(false);
            disabled_.push_back(widget);
        }
    }
    ~RenderSession() {
        for (const QPointer<QWidget>& widget : disabled_)
            if (widget) widget->setEnabled(true);
        dialog_.rendering_ = false;
        AVIFileExit();
    }
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

  private:
    PluginDialog& dialog_;
    std::vector<QPointer<QWidget>> disabled_;
};

PluginDialog::PluginDialog(const dlg::DialogDef& layout, QWidget* parent, EditWorkspace& ws)
    : Dialog(layout, parent, dlg::Role::Modal), ws_(ws) {}

void PluginDialog::onCommand(int id) {
    if (id == dlg::kIdCancel) {
        if (rendering_)
            cancelRequested_ = true;
        else
            endDialog(dlg::kIdCancel);
        return;
    }
    if (!rendering_) onControl(id);
}

void PluginDialog::onControl(int) {}

void PluginDialog::reportError(const char* text) {
    MessageBoxA(this, text, "Error", MB_OK);
}

bool PluginDialog::renderToSlot(int64_t frameCount, const BITMAPINFOHEADER& format,
                                const FrameProducer& produce) {
    if (rendering_) return false;
    EditWorkspace& ws = ws_;
    const int slot = ws.currentSlot;
    if (slot < 0 || slot >= kMaxSlots || slot >= ws.slotCount) {
        reportError(kNoCurrentSlot);
        return false;
    }
    if (frameCount <= 0 || frameCount > std::numeric_limits<LONG>::max() ||
        format.biSizeImage == 0 ||
        format.biSizeImage > uint32_t(std::numeric_limits<LONG>::max())) {
        reportError(kBadFrames);
        return false;
    }

    const RenderSession session(*this);
    const std::filesystem::path scratch = TempFile(kScratchOutput, ws);
    DeleteTempFile(ws.tempPath, kScratchOutput, ws);
    if (control(kIdProgress)) {
        setRange(kIdProgress, 0, static_cast<int>(frameCount));
        setStep(kIdProgress, 1);
        setPosition(kIdProgress, 0);
    }

    const bool written = writeScratch(scratch, frameCount, format, produce);
    const bool replaced = written && replaceSlotFile(scratch, frameCount, format);
    RemoveFile(scratch);
    if (!replaced) {
        setPosition(kIdProgress, 0);
        return false;
    }

    // The host's stream kept the old file; the host reloads the slot once Dlg returns 1.
    if (PAVISTREAM old = ws.slotStreams[slot]) AVIStreamRelease(old);
    ws.slotStreams[slot] = nullptr;
    TempAviName(slot, ws);
    rendered_ = true;
    endDialog(dlg::kIdOk);
    return true;
}

bool PluginDialog::renderToSlot(Renderer& renderer) {
    return renderToSlot(renderer.frameCount(), renderer.format(),
                        [&](int64_t index, uint8_t* pixels) {
                            const FrameResult result = renderer.render(index, pixels);
                            if (!result.ok) reportError(result.error.c_str());
                            return result.ok;
                        });
}

bool PluginDialog::writeScratch(const std::filesystem::path& path, int64_t frameCount,
                                const BITMAPINFOHEADER& format, const FrameProducer& produce) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), kCreateMode, nullptr) != AVIERR_OK || !file) {
        reportError(kCannotCreateTemp);
        return false;
    }
    AVISTREAMINFOA info = ws_.streamInfo;
    PAVISTREAM out = nullptr;
    const bool created = AVIFileCreateStreamA(file, &out, &info) == AVIERR_OK && out;
    AVIFileRelease(file); // the stream keeps the file open
    if (!created) {
        reportError(kCannotCreateStream);
        return false;
    }

    std::vector<uint8_t> pixels(format.biSizeImage);
    const LONG bytes = static_cast<LONG>(format.biSizeImage);
    bool ok = true;
    for (int64_t i = 0; ok && i < frameCount; ++i) {
        // The dialog repaints and takes a Cancel between frames.
        QCoreApplication::processEvents();
        if (cancelRequested_) {
            ok = false;
            break;
        }
        if (!produce(i, pixels.data())) {
            ok = false;
            break;
        }
        if (!::WriteFrame(out, static_cast<LONG>(i), format, pixels.data(), bytes)) {
            reportError(kCannotWriteFrame);
            ok = false;
            break;
        }
        stepProgress(kIdProgress);
    }
    AVIStreamRelease(out); // closes the file
    QCoreApplication::processEvents();
    if (!ok || cancelRequested_) return false;
    if (!HoldsFrames(path, frameCount)) {
        reportError(kCannotWriteFrame);
        return false;
    }
    return true;
}

bool PluginDialog::replaceSlotFile(const std::filesystem::path& scratch, int64_t frameCount,
                                   const BITMAPINFOHEADER& format) {
    const std::filesystem::path slotFile = TempFile(ws_.currentSlot, ws_);
    std::filesystem::path source = scratch;
    if (!SameHeader(format, ws_.frameFormat)) {
        // Frames in another format than the slot's: the slot gets the frame-by-frame copy in its
        // own format, made beside it first so that a failed copy leaves the slot's file whole.
        EditWorkspace copy = ws_;
        copy.streamInfo.dwLength = static_cast<DWORD>(frameCount);
        source = TempFile(kScratchFlatten, ws_);
        if (!CopyTempAvi(this, kScratchOutput, kScratchFlatten, copy)) {
            RemoveFile(source);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(source, slotFile, error);
    if (error) {
        RemoveFile(source);
        reportError(kCannotReplaceSlot);
        return false;
    }
    return true;
}

void FillSlotList(dlg::Dialog& dialog, int listId, const EditWorkspace& ws) {
    dialog.clearRows(listId);
    dialog.setColumn(listId, QString::fromLatin1("Open File Name"));
    const int rows = std::clamp(ws.slotCount, 0, kMaxSlots);
    for (int i = 0; i < rows; ++i) {
        const char* name = ws.slotNames[i];
        dialog.addRow(listId, QString::fromUtf8(name, int(strnlen(name, kPathSize))));
    }
}

void SetToggleCheck(dlg::Dialog& dialog, int id, int state) {
    dialog.setCheck(id, (state & 0xFFFF) != 0);
}

bool ReadFrame(PAVISTREAM stream, int64_t n, uint8_t* buffer, const BITMAPINFOHEADER& format) {
    if (!stream || !buffer || n < 0 || n >= std::numeric_limits<LONG>::max() ||
        format.biSizeImage == 0 || format.biSizeImage > uint32_t(std::numeric_limits<LONG>::max()))
        return false;
    return ::ReadFrame(stream, static_cast<LONG>(n), buffer, static_cast<LONG>(format.biSizeImage));
}

int RunDialog(HWND owner, const EditWorkspace* hostRecord, const DialogMaker& make) {
    // No exception may cross the module's C boundary into the host.
    try {
        EditWorkspace copy{};
        std::unique_ptr<PluginDialog> dialog;
        if (hostRecord) {
            std::memcpy(&copy, hostRecord, sizeof copy);
            dialog = make(static_cast<QWidget*>(owner), copy);
        }
        if (!dialog) {
            MessageBoxA(nullptr, kDialogFailed, "OK", MB_OK);
            return 0;
        }
        const int ended = dialog->runModal();
        return ended == dlg::kIdOk && dialog->rendered() ? 1 : 0;
    } catch (...) {
        MessageBoxA(nullptr, kDialogFailed, "OK", MB_OK);
        return 0;
    }
}

} // namespace plugin
