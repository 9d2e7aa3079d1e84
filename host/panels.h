// The panels shown in and beside the main window: editor (132) and player (140) inside the tab
// control, the stream list (133) on the right, and the clipboard checker (143).
#pragma once

namespace dlg {
class Dialog;
}

dlg::Dialog* EditorPanel();
dlg::Dialog* PlayerPanel();
dlg::Dialog* StreamListPanel();
dlg::Dialog* ClipboardChecker();

// After a new slot was added at slotCount - 1: creates the panels on the first call, lists the
// slot and makes it current. Returns 1 (widget creation does not fail here).
int CreatePanels();

// Sizes the tab control, the panels and the main window from the panels' own sizes.
void LayoutPanels();

// Destroys whichever panels exist.
void DestroyPanels();

// Shows, enables and hides the panels for the selected tab.
void ShowEditorTab();
void ShowPlayerTab();
