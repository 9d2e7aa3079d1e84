#include "host.h"

#include "clipboard_checker.h"
#include "file_dialogs.h"
#include "outcome_box.h"
#include "panels.h"
#include "plugins.h"
#include "save.h"
#include "window.h"

#include "ui/ui.h"

#include <QMainWindow>

#include <cstring>
#include <filesystem>

namespace {

const char* const kVersionText = "Sarvolo\nVersion " MIVRA_VERSION;
const char kStreamEmpty[] = "ストリームが空なのでクローズします";

void Show(const Outcome& outcome) {
    ShowOutcome(MainWindow(), outcome);
}

void ShowVersion() {
    MessageBoxA(MainWindow(), kVersionText, "Version", MB_OK | MB_ICONINFORMATION);
}

// The open dialog offers the file opened last; true with the chosen path in `path`.
bool AskOpenPath(char (&path)[kPathSize], const char* filters) {
    std::memcpy(path, workspace.openPath, kPathSize);
    return AskFileName(MainWindow(), path, filters, FileDialogMode::Open);
}

// File Open and Bmp File Open: a full set of slots is refused before any file is asked for.
template <typename Open> void OpenIntoNewSlot(const char* filters, Open open) {
    if (const Outcome room = session::CheckRoomForSlot(); !room.done) {
        Show(room);
        return;
    }
    char path[kPathSize];
    if (!AskOpenPath(path, filters)) return;
    StopPlayback(); // no tick may read the slots while they change
    Show(open(path));
}

void RunBmpFileAdd() {
    if (!session::HasSlots()) return;
    char path[kPathSize];
    if (!AskOpenPath(path, kBitmapFilters)) return;
    StopPlayback();
    Show(session::AddBitmap(path));
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
        if (const Outcome room = session::CheckRoomForSlot(); !room.done) {
            Show(room);
            return;
        }
        // Full paths, as the open dialog gives them: the working folder moves with each dialog.
        std::error_code error;
        std::filesystem::path full = std::filesystem::absolute(path, error);
        if (error) full = path;
        StopPlayback();
        Show(session::OpenVideo(full.c_str()));
    }
}

bool DispatchCommand(int commandId) {
    if (commandId >= kCmdEffectFirst && commandId < kCmdEffectEnd) {
        RunPlugin(commandId);
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
        OpenIntoNewSlot(kVideoOpenFilters, session::OpenVideo);
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
        OpenIntoNewSlot(kBitmapFilters, session::OpenBitmap);
        return true;
    case kCmdBmpFileAdd:
        RunBmpFileAdd();
        return true;
    default:
        return false;
    }
}
