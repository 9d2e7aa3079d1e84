// The main window's parts that the panels and commands reach: the window, its menu and key
// tables, the tab control, and the pictures and texts waiting to be painted.
#pragma once

#include "host.h"

#include <cstdint>

class QMainWindow;
class QMenu;
class QTabBar;
class QWidget;

constexpr int kTabControlId = 3000;
constexpr int kTabEditor = 0;
constexpr int kTabPlayer = 1;

// Menu positions of the top-level popups.
enum MenuPosition : int { kMenuFile, kMenuEdit, kMenuEffect, kMenuTool, kMenuHelp };

// repaintRequests bits: the pictures and texts waiting for the next paint.
constexpr uint16_t kRepaintStreamInfo = 1u << 0;
constexpr uint16_t kRepaintStartPicture = 1u << 1;
constexpr uint16_t kRepaintEndPicture = 1u << 2;
// Every picture and text, as after the window was activated again.
constexpr uint16_t kRepaintAll = 0x00FF;
extern uint16_t repaintRequests;

QMainWindow* MainWindow();
QMenu* MenuPopup(int position);
// The tab control (a container with the tab strip along its bottom edge) and its strip.
QWidget* TabControl();
QTabBar* TabBar();

// The key table in force: 109 on the "Editer" tab, 142 on the "Player" tab.
int CurrentAcceleratorTable();
// Puts the key table of a tab in force.
void UseKeyTable(int tab);

// Enables Undo and Redo when there is something to undo or redo.
void ShowUndoState(bool canUndo, bool canRedo);
// With every slot closed, the Edit menu stays open for Undo (its stream commands stay grey).
void KeepUndoReachable();

// Grays (true) or enables the commands that need a stream.
void GrayStreamCommands(bool gray);
// Enables or grays the Edit, Effect and Tool popups.
void SetPopupsEnabled(bool enabled);

// Building the parts, once per main window.
void BuildMenu(QMainWindow* window);
// Lists the recent files in the File menu's "Recent Files" submenu, grayed when there is none.
void ShowRecentFiles();
void BuildAccelerators(QMainWindow* window);
QWidget* CreateTabControl(QWidget* parent, void (*onSelected)(int index));
void SetMainWindow(QMainWindow* window);
// The window is gone: every part is forgotten.
void ForgetWindowParts();
