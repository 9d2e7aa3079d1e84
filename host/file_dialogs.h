// The host's file dialogs: the title, the filters and the filter the user chose last.
#pragma once

#include <string>

class QWidget;

enum class FileDialogMode { Save = 0, Open = 1 };

// Pairs of description and pattern, double-NUL terminated. Opening takes any video file the
// media layer reads; saving writes AVI only.
extern const char kVideoOpenFilters[];
extern const char kAviFilters[];
extern const char kBitmapFilters[];

// Shows the open or save dialog; `path` offers the initial name and receives the chosen full
// path, of any length the system can open. 1 when the user chose a file, 0 when cancelled or
// refused (a path longer than the system takes is refused with a message).
int AskFileName(QWidget* owner, std::string& path, const char* filters, FileDialogMode mode);
