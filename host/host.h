// The host program's module-level state and operations. main.cpp only calls HostMain; the
// tests link the same library and drive the host through these functions.
#pragma once

#include "workspace.h"

#include <cstdint>

class QAction;
class QMainWindow;
class QMenu;
class QTabBar;
class QWidget;

// Command ids of menu 109 and the key tables.
enum Command : int {
    kCmdExit = 105,
    kCmdVersion = 104,
    kCmdEffectFirst = 2000,
    kCmdEffectEnd = 3000, // effect items are 2000 .. 2999
    kCmdFileOpen = 32772,
    kCmdFileSave = 32774,
    kCmdCut = 32779,
    kCmdPaste = 32780,
    kCmdCopy = 32781,
    kCmdCloseStream = 32783,
    kCmdStreamReverse = 32785,
    kCmdClipboardChecker = 32786,
    kCmdBmpFileOpen = 32787,
    kCmdBmpFileAdd = 32788,
};

constexpr int kTabControlId = 3000;
constexpr int kTabEditor = 0;
constexpr int kTabPlayer = 1;

// Menu positions of the top-level popups.
enum MenuPosition : int { kMenuFile, kMenuEdit, kMenuEffect, kMenuTool, kMenuHelp };

// hostFlags bits.
constexpr uint16_t kPanelsExist = 1u << 0;
constexpr uint16_t kCheckerMarkedOpen = 1u << 1;

// repaintRequests bits.
constexpr uint16_t kRepaintStreamInfo = 1u << 0;
constexpr uint16_t kRepaintStartPicture = 1u << 1;
constexpr uint16_t kRepaintEndPicture = 1u << 2;
// Every picture and text, as after the window was activated again.
constexpr uint16_t kRepaintAll = 0x00FF;

// The host's state: the record shared with the plug-ins, the panel and checker flags, the
// pictures and texts waiting for the next paint, the clipboard, and the options of the view
// that uncompresses opened files.
extern EditWorkspace workspace;
extern uint16_t hostFlags;
extern uint16_t repaintRequests;
extern PAVISTREAM clipboardStream;
extern AVICOMPRESSOPTIONS compressOptions;

// Runs the editor on the running QApplication; returns the exit code.
int HostMain();

// Creates the main window and runs the creation sequence; null when it cannot be created.
QMainWindow* CreateMainWindow();
// Runs the destruction sequence and deletes the main window (the Exit command does this too).
void DestroyMainWindow();
QMainWindow* MainWindow();

QMenu* MenuPopup(int position);
QAction* MenuItem(int commandId);
// The tab control (a container with the tab strip along its bottom edge) and its strip.
QWidget* TabControl();
QTabBar* TabBar();

// The key table in force: 109 on the "Editer" tab, 142 on the "Player" tab.
int CurrentAcceleratorTable();

// Runs a menu or key-table command. False means default processing (the id is not handled).
bool DispatchCommand(int commandId);

// The tab control's selection-changed handling.
void OnTabSelected(int index);
// Selects a tab from code with the same handling as the user's click.
void SelectTab(int index);

// Grays (true) or enables the commands that need a stream.
void GrayStreamCommands(bool gray);

void ShowVersion();

// Brings the panels in line with the slots after the slots changed: creates them with the
// first slot, lists the slots, shows the current one, and removes them with the last.
void RefreshPanels();
