// Command ids of the File menu's "Recent Files" submenu: the submenu itself and one id per entry,
// newest first.
#pragma once

constexpr int kRecentFiles = 8;
constexpr int kCmdRecentFilesMenu = 32809;
constexpr int kCmdRecentFileFirst = 32810;
constexpr int kCmdRecentFileEnd = kCmdRecentFileFirst + kRecentFiles; // one past the last
