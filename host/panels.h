// The panels shown in and beside the main window: editor (132) and player (140) inside the tab
// control, the stream list (133) on the right, and the clipboard checker (143). They read the
// session's record and are brought in line with it when the session announces a change.
#pragma once

#include "editor_panel.h"
#include "player.h"
#include "stream_list.h"

EditorPanelDialog* EditorPanel();
PlayerPanelDialog* PlayerPanel();
StreamListDialog* StreamListPanel();

// Puts the workspace's range into the editor panel, when there is one.
void RefreshEditorPanel();

// Brings the panels in line with the slots after the slots changed: creates them with the
// first slot, lists the slots, shows the current one, and removes them with the last.
void RefreshPanels();

// The session's observer: refreshes what shows the changes (session::Change bits).
void ShowChanges(unsigned changes);

// A double-click on the stream list: makes the slot current.
void SwitchToSlot(int slot);
// Close Stream: closes the slot; the first remaining slot becomes current.
void CloseStream(int slot);

// Stops playback, if any, so that no tick reads a stream about to be replaced or released.
void StopPlayback();
// Runs one playback tick on the player panel, as its timer does; returns the nominal delay in
// milliseconds, or 0 without a panel.
int PlaybackTick();
// True while a tick is pending.
bool PlaybackRunning();

// The slot of the stream-list row the user marked last, or -1 when none is marked.
int MarkedSlot();

// Sizes the tab control, the panels and the main window from the panels' own sizes; without
// panels the window holds only its menu bar. The window may be made larger than the panels need.
void LayoutPanels();
// Lays the panels out as large as the main window's size lets them be.
void FitPanelsToWindow();

// Destroys whichever panels exist.
void DestroyPanels();

// The tab control's selection-changed handling: the panels, key table and menus of the tab.
void OnTabSelected(int index);
// Selects a tab from code with the same handling as the user's click.
void SelectTab(int index);

// Shows, enables and hides the panels for the selected tab.
void ShowEditorTab();
void ShowPlayerTab();
