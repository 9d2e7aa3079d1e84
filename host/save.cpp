#include "save.h"

#include "file_dialogs.h"
#include "outcome_box.h"
#include "panels.h"

#include "ui/ui.h"

#include <QProgressDialog>
#include <QWidget>

#include <filesystem>
#include <string>

namespace {

constexpr unsigned kOptionsOffered =
    ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW;
constexpr int kPercent = 100;

// The save's progress dialog while the session writes: the callback carries no context.
QProgressDialog* progressShown = nullptr;

LONG ReportProgress(int percent) {
    progressShown->setValue(percent); // a modal dialog handles the user's input here
    return progressShown->wasCanceled() ? 1 : 0;
}

Outcome WriteWithProgress(QWidget* owner, const std::filesystem::path& target,
                          AVICOMPRESSOPTIONS& options, const AVICOMPRESSOPTIONS* soundOptions) {
    QProgressDialog dialog(QStringLiteral("ファイルを保存しています…"),
                           QStringLiteral("キャンセル"), 0, kPercent, owner);
    dialog.setWindowTitle(QStringLiteral("保存"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    progressShown = &dialog;
    Outcome saved = session::Save(target, options, ReportProgress, soundOptions);
    progressShown = nullptr;
    return saved;
}

} // namespace

int SaveCurrentSlot(QWidget* mainWindow) {
    if (workspace.currentSlot < 0 || workspace.currentSlot >= workspace.slotCount) return 0;
    std::string path = session::SaveName();
    if (!AskFileName(mainWindow, path, kAviFilters, FileDialogMode::Save)) return 0;
    // The dialog gives the full path, so the working directory plays no part.
    const std::filesystem::path target(path);
    session::RememberSaveName(path.c_str());
    // The user's original is worth a question too: it may be the slot's own source.
    std::error_code ignored;
    if (std::filesystem::exists(target, ignored) && !AskToReplaceFile(mainWindow, path)) return 0;
    StopPlayback(); // no tick may read the streams while the dialogs run events
    // With sound, the dialog also asks how the sound is saved.
    const session::SlotSound sound = session::SoundOf(workspace.currentSlot);
    PAVISTREAM streams[] = {workspace.slotStreams[workspace.currentSlot], sound.stream};
    AVICOMPRESSOPTIONS options{}, soundOptions{};
    AVICOMPRESSOPTIONS* optionList[] = {&options, &soundOptions};
    const int streamCount = sound.stream ? 2 : 1;
    if (!AVISaveOptions(mainWindow, kOptionsOffered, streamCount, streams, optionList)) return 0;
    const Outcome saved =
        WriteWithProgress(mainWindow, target, options, sound.stream ? &soundOptions : nullptr);
    ShowOutcome(mainWindow, saved);
    return saved.done ? 1 : 0;
}
