// The main window: its menu, key tables, tab control and the panels' places in it.
#pragma once

#include "host.h"

#include <cstdint>

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

// Runs the editor on the running QApplication; returns the exit code.
int HostMain();

QMainWindow* MainWindow();
QMenu* MenuPopup(int position);
// The tab control (a container with the tab strip along its bottom edge) and its strip.
QWidget* TabControl();
QTabBar* TabBar();

// The key table in force: 109 on the "Editer" tab, 142 on the "Player" tab.
int CurrentAcceleratorTable();

// The tab control's selection-changed handling.
void OnTabSelected(int index);
// Selects a tab from code with the same handling as the user's click.
void SelectTab(int index);

// Grays (true) or enables the commands that need a stream.
void GrayStreamCommands(bool gray);
