#include "save.h"

#include "player.h"
#include "slots.h"

#include "ui/ui.h"

#include <QProgressDialog>
#include <QWidget>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kSaved[] = "ファイルを保存しました。";
const char kNotSaved[] = "ファイルを保存できませんでした。";

constexpr unsigned kOptionsOffered =
    ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW;
constexpr int kPercent = 100;
// Names tried for the file being written before giving up.
constexpr int kTemporaryNames = 100;
// New files get every read and write permission the user's umask leaves.
constexpr mode_t kNewFileMode = 0666;

enum class Outcome { Saved, Cancelled, Failed };

// The save's progress dialog while AVISaveVA runs: its callback carries no context.
QProgressDialog* progressShown = nullptr;

LONG ReportProgress(int percent) {
    progressShown->setValue(percent); // a modal dialog handles the user's input here
    return progressShown->wasCanceled() ? 1 : 0;
}

// A new empty file in the target's folder, hidden and named after the target; empty when none
// can be made there.
fs::path CreateFileBeside(const fs::path& target) {
    const std::string stem = "." + target.filename().string() + "." + std::to_string(::getpid());
    for (int n = 0; n < kTemporaryNames; ++n) {
        const fs::path candidate = target.parent_path() / (stem + "." + std::to_string(n));
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

HRESULT WriteWithProgress(QWidget* owner, const fs::path& file, PAVISTREAM stream,
                          AVICOMPRESSOPTIONS& options) {
    QProgressDialog dialog(QStringLiteral("ファイルを保存しています…"),
                           QStringLiteral("キャンセル"), 0, kPercent, owner);
    dialog.setWindowTitle(QStringLiteral("保存"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    progressShown = &dialog;
    AVICOMPRESSOPTIONS* optionList[] = {&options};
    PAVISTREAM streams[] = {stream};
    const HRESULT result = AVISaveVA(file.c_str(), nullptr, ReportProgress, 1, streams, optionList);
    progressShown = nullptr;
    return result;
}

Outcome WriteOver(QWidget* owner, const fs::path& target, PAVISTREAM stream,
                  AVICOMPRESSOPTIONS& options) {
    const fs::path written = CreateFileBeside(target);
    if (written.empty()) return Outcome::Failed;
    const HRESULT result = WriteWithProgress(owner, written, stream, options);
    std::error_code error;
    if (result == AVIERR_OK) fs::rename(written, target, error);
    if (result != AVIERR_OK || error) {
        std::error_code ignored;
        fs::remove(written, ignored);
    }
    if (result == AVIERR_USERABORT) return Outcome::Cancelled;
    return result == AVIERR_OK && !error ? Outcome::Saved : Outcome::Failed;
}

} // namespace

int SaveCurrentSlot(QWidget* mainWindow, EditWorkspace& ws) {
    if (ws.currentSlot < 0 || ws.currentSlot >= ws.slotCount) return 0;
    if (!AskFileName(mainWindow, ws.savePath, kAviFilters, FileDialogMode::Save)) return 0;
    // The dialog gives the full path, so the working directory plays no part.
    const fs::path target(ws.savePath);
    StripPath(ws.savePath, 1); // the next save offers the name alone
    StopPlayback();            // no tick may read the streams while the dialogs run events
    PAVISTREAM stream = ws.slotStreams[ws.currentSlot];
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* optionList[] = {&options};
    if (!AVISaveOptions(mainWindow, kOptionsOffered, 1, &stream, optionList)) return 0;
    switch (WriteOver(mainWindow, target, stream, options)) {
    case Outcome::Saved:
        MessageBoxA(mainWindow, kSaved, "Check", MB_OK);
        return 1;
    case Outcome::Cancelled:
        return 0;
    case Outcome::Failed:
        MessageBoxA(mainWindow, kNotSaved, "Error", MB_OK);
        return 0;
    }
    return 0;
}
