// The panels shown in and beside the main window: editor (132) and player (140) inside the tab
// control, the stream list (133) on the right, and the clipboard checker (143).
#pragma once

class QWidget;

QWidget* EditorPanel();
QWidget* PlayerPanel();
QWidget* StreamListPanel();
QWidget* ClipboardChecker();

// Destroys whichever panels exist.
void DestroyPanels();

// Shows, enables and hides the panels for the selected tab.
void ShowEditorTab();
void ShowPlayerTab();
