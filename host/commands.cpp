#include "host.h"

#include "bitmap_import.h"
#include "clipboard_checker.h"
#include "edit_commands.h"
#include "panels.h"
#include "plugins.h"
#include "save.h"
#include "slots.h"

#include "ui/ui.h"

#include <QMainWindow>

namespace {

const char* const kVersionText = "Sarvolo\nVersion " MIVRA_VERSION;

const char kCutFailed[] = "ストリームのカットに失敗しました";
const char kStreamEmpty[] = "ストリームが空なのでクローズします";
const char kCopyFailed[] = "ストリームのコピーに失敗しました";
const char kPasteFailed[] = "ストリームのペーストに失敗しました";
const char kReverseFailed[] = "ストリームの反転に失敗しました";

void ReportFailure(const char* text) {
    MessageBoxA(MainWindow(), text, "Error", MB_OK);
}

void InvalidateEditorPanel() {
    if (EditorPanel()) EditorPanel()->invalidate();
}

void RequestStreamInfoRepaint() {
    if (StreamListPanel()) StreamListPanel()->requestInfoRepaint();
}

// A stream of one frame has no range left to edit: its slot is closed.
void RunCut() {
    if (!CutRange(workspace)) {
        ReportFailure(kCutFailed);
        return;
    }
    if (workspace.streamInfo.dwLength <= 1) {
        MessageBoxA(MainWindow(), kStreamEmpty, "Check", MB_OK);
        CloseSlot(workspace.currentSlot);
    }
    ReinitClipboardChecker();
    RequestStreamInfoRepaint();
    InvalidateEditorPanel();
}

void RunCopy() {
    if (!CopyRange(workspace)) {
        ReportFailure(kCopyFailed);
        return;
    }
    ReinitClipboardChecker();
    InvalidateEditorPanel();
}

void RunPaste() {
    if (!PasteClipboard(workspace)) {
        ReportFailure(kPasteFailed);
        return;
    }
    RequestStreamInfoRepaint();
    InvalidateEditorPanel();
}

void RunReverse() {
    if (!ReverseRange(workspace)) ReportFailure(kReverseFailed);
    InvalidateEditorPanel();
}

} // namespace

void ShowVersion() {
    MessageBoxA(MainWindow(), kVersionText, "Version", MB_OK | MB_ICONINFORMATION);
}

bool DispatchCommand(int commandId) {
    if (commandId >= kCmdEffectFirst && commandId < kCmdEffectEnd) {
        RunPlugin(commandId);
        return true;
    }
    switch (commandId) {
    case kCmdExit:
        DestroyMainWindow();
        return true;
    case kCmdVersion:
        ShowVersion();
        return true;
    case kCmdFileOpen:
        OpenAviFile(MainWindow());
        return true;
    case kCmdFileSave:
        SaveCurrentSlot(MainWindow(), workspace);
        InvalidateEditorPanel();
        return true;
    case kCmdCloseStream:
        CloseSlot(MarkedSlot());
        return true;
    case kCmdCut:
        RunCut();
        return true;
    case kCmdCopy:
        RunCopy();
        return true;
    case kCmdPaste:
        RunPaste();
        return true;
    case kCmdStreamReverse:
        RunReverse();
        return true;
    case kCmdClipboardChecker:
        ToggleClipboardChecker();
        return true;
    case kCmdBmpFileOpen:
        OpenBitmap(MainWindow());
        return true;
    case kCmdBmpFileAdd:
        AddBitmap(MainWindow());
        return true;
    default:
        return false;
    }
}
