// The clipboard checker (dialog 143): a small window beside the main window that shows the
// clipboard's frames one at a time. It follows the editor tab and reappears where it was left.
#pragma once

namespace dlg {
class Dialog;
}

enum CheckerControl : int {
    kCheckerPicture = 1033,
    kCheckerSlider = 1034,
    kCheckerStatus = 1035,
};

// The open checker, or null.
dlg::Dialog* ClipboardChecker();

// The Tool menu's item: opens the checker, or closes it when it is open.
void ToggleClipboardChecker();

// Re-reads the clipboard into an open checker.
void ReinitClipboardChecker();

// Closes the checker and forgets that it is marked open.
void DestroyClipboardChecker();

// Closes an open checker but keeps it marked open, remembering where it stood.
void HideClipboardChecker();

// Opens the checker again where it stood, when it is marked open.
void RestoreClipboardChecker();
