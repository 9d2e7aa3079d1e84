#include "host.h"

#include "panels.h"
#include "slots.h"

#include "ui/ui.h"

#include <QMainWindow>

namespace {

const char* const kVersionText = "Sarvolo\nVersion " MIVRA_VERSION;

} // namespace

void ShowVersion() {
    MessageBoxA(MainWindow(), kVersionText, "Version", MB_OK | MB_ICONINFORMATION);
}

bool DispatchCommand(int commandId) {
    if (commandId >= kCmdEffectFirst && commandId < kCmdEffectEnd) return true;
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
    case kCmdCloseStream:
        CloseSlot(MarkedSlot());
        return true;
    // Carried out by the edit, save, bitmap and checker operations as they are added.
    case kCmdFileSave:
    case kCmdBmpFileOpen:
    case kCmdBmpFileAdd:
    case kCmdCopy:
    case kCmdCut:
    case kCmdPaste:
    case kCmdStreamReverse:
    case kCmdClipboardChecker:
        return true;
    default:
        return false;
    }
}
