// The panels shown in and beside the main window: editor (132) and player (140) inside the tab
// control, the stream list (133) on the right, and the clipboard checker (143). They read the
// slots and are brought in line with them by RefreshPanels (host.h).
#pragma once

#include "editor_panel.h"
#include "player.h"
#include "stream_list.h"

EditorPanelDialog* EditorPanel();
PlayerPanelDialog* PlayerPanel();
StreamListDialog* StreamListPanel();
dlg::Dialog* ClipboardChecker();

// Puts the workspace's range into the editor panel, when there is one.
void RefreshEditorPanel();

// The slot of the stream-list row the user marked last, or -1 when none is marked.
int MarkedSlot();

// Sizes the tab control, the panels and the main window from the panels' own sizes; without
// panels the window holds only its menu bar.
void LayoutPanels();

// Destroys whichever panels exist.
void DestroyPanels();

// Shows, enables and hides the panels for the selected tab.
void ShowEditorTab();
void ShowPlayerTab();
