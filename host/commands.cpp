#include "host.h"

#include "clipboard_checker.h"
#include "file_dialogs.h"
#include "outcome_box.h"
#include "panels.h"
#include "plugins.h"
#include "recent_commands.h"
#include "recent_files.h"
#include "save.h"
#include "window.h"

#include "ui/ui.h"

#include <QMainWindow>

#include <filesystem>
#include <string>

namespace {

const char* const kVersionText = "Sarvolo\nVersion " MIVRA_VERSION;
const char kStreamEmpty[] = "ストリームが空なのでクローズします";
const char kRecentFileGone[] = "ファイルが見つからないので、最近使ったファイルから外しました";

void Show(const Outcome& outcome) {
    ShowOutcome(MainWindow(), outcome);
}

void ShowVersion() {
    MessageBoxA(MainWindow(), kVersionText, "Version", MB_OK | MB_ICONINFORMATION);
}

// The open dialog offers the file opened last; true with the chosen path in `path`.
bool AskOpenPath(std::string& path, const char* filters) {
    path = session::LastOpenedPath();
    return AskFileName(MainWindow(), path, filters, FileDialogMode::Open);
}

bool RefuseWhenSlotsFull() {
    const Outcome room = session::CheckRoomForSlot();
    if (!room.done) Show(room);
    return !room.done;
}

// Opens a file into a new slot and tells the outcome; a file that opened goes to the top of the
// recent files.
void OpenAndRemember(const std::string& path, bool bitmap) {
    StopPlayback(); // no tick may read the slots while they change
    const Outcome opened =
        bitmap ? session::OpenBitmap(path.c_str()) : session::OpenVideo(path.c_str());
    Show(opened);
    if (!opened.done) return;
    recent::Remember({path, bitmap});
    ShowRecentFiles();
}

// File Open and Bmp File Open: a full set of slots is refused before any file is asked for.
void OpenIntoNewSlot(const char* filters, bool bitmap) {
    if (RefuseWhenSlotsFull()) return;
    std::string path;
    if (AskOpenPath(path, filters)) OpenAndRemember(path, bitmap);
}

// An entry of Recent Files opens as File Open (or Bmp File Open) would open it; a file that is
// gone is told and dropped from the list.
void OpenRecentFile(int index) {
    const std::vector<recent::File> files = recent::Files();
    if (index >= int(files.size())) return;
    const recent::File file = files[size_t(index)];
    std::error_code error;
    if (!std::filesystem::exists(file.path, error)) {
        MessageBoxA(MainWindow(), (std::string(kRecentFileGone) + "\n" + file.path).c_str(),
                    "Check", MB_OK);
        recent::Forget(file.path);
        ShowRecentFiles();
        return;
    }
    if (!RefuseWhenSlotsFull()) OpenAndRemember(file.path, file.bitmap);
}

void RunBmpFileAdd() {
    if (!session::HasSlots()) return;
    std::string path;
    if (!AskOpenPath(path, kBitmapFilters)) return;
    StopPlayback();
    Show(session::AddBitmap(path.c_str()));
}

// Close Stream and its Delete key: a slot with unsaved changes is closed only when the user
// agrees.
void CloseMarkedSlot() {
    const int slot = MarkedSlot();
    if (!session::HasUnsavedChanges(slot) || AskToDiscardChanges(MainWindow())) CloseStream(slot);
}

// Every edit stops playback first: the tick reads the streams an edit replaces.
void RunEdit(Outcome (*edit)()) {
    StopPlayback();
    Show(edit());
}

// A stream of one frame has no range left to edit: its slot is closed.
void RunCut() {
    StopPlayback();
    const Outcome cut = session::Cut();
    Show(cut);
    if (cut.done && workspace.streamInfo.dwLength <= 1) {
        MessageBoxA(MainWindow(), kStreamEmpty, "Check", MB_OK);
        CloseStream(workspace.currentSlot);
    }
}

} // namespace

void OpenFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (RefuseWhenSlotsFull()) return;
        // Full paths, as the open dialog gives them: the working folder moves with each dialog.
        std::error_code error;
        std::filesystem::path full = std::filesystem::absolute(path, error);
        if (error) full = path;
        OpenAndRemember(full.string(), false);
    }
}

bool DispatchCommand(int commandId) {
    if (commandId >= kCmdEffectFirst && commandId < kCmdEffectEnd) {
        RunPlugin(commandId);
        return true;
    }
    if (commandId >= kCmdRecentFileFirst && commandId < kCmdRecentFileEnd) {
        OpenRecentFile(commandId - kCmdRecentFileFirst);
        return true;
    }
    switch (commandId) {
    case kCmdExit:
        if (!session::AnyUnsavedChanges() || AskToDiscardChanges(MainWindow())) DestroyMainWindow();
        return true;
    case kCmdVersion:
        ShowVersion();
        return true;
    case kCmdFileOpen:
        OpenIntoNewSlot(kVideoOpenFilters, false);
        return true;
    case kCmdFileSave:
        SaveCurrentSlot(MainWindow());
        if (EditorPanel()) EditorPanel()->invalidate();
        return true;
    case kCmdCloseStream:
        CloseMarkedSlot();
        return true;
    case kCmdCut:
        RunCut();
        return true;
    case kCmdCopy:
        Show(session::Copy());
        return true;
    case kCmdPaste:
        RunEdit(session::Paste);
        return true;
    case kCmdStreamReverse:
        RunEdit(session::Reverse);
        return true;
    case kCmdUndo:
        RunEdit(session::Undo);
        return true;
    case kCmdRedo:
        RunEdit(session::Redo);
        return true;
    case kCmdClipboardChecker:
        ToggleClipboardChecker();
        return true;
    case kCmdBmpFileOpen:
        OpenIntoNewSlot(kBitmapFilters, true);
        return true;
    case kCmdBmpFileAdd:
        RunBmpFileAdd();
        return true;
    default:
        return false;
    }
}
