// The host's interface that tests and tools rely on: the main window's life, the commands and
// their ids, the record and the clipboard (owned by the session), and the panel flags. main.cpp
// only calls UseAppFolders and HostMain (main_window.h).
#pragma once

#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

class QAction;
class QMainWindow;

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
    kCmdUndo = 32800,
    kCmdRedo = 32801,
};

// hostFlags bits.
constexpr uint16_t kPanelsExist = 1u << 0;
constexpr uint16_t kCheckerMarkedOpen = 1u << 1;
extern uint16_t hostFlags;

// Creates the main window and starts the session; null when it cannot be created.
QMainWindow* CreateMainWindow();
// Runs the destruction sequence and deletes the main window (the Exit command does this too).
// Never asks anything.
void DestroyMainWindow();

QAction* MenuItem(int commandId);

// Runs a menu or key-table command. False means default processing (the id is not handled).
bool DispatchCommand(int commandId);

// Opens each file into a new slot, in order, as File Open does, telling each failure; once every
// slot is in use the refusal is told once and the rest are skipped.
void OpenFiles(const std::vector<std::string>& paths);
