// The scripting seam: while a script is active, message boxes and file dialogs are not shown;
// each call takes the next queued answer and is recorded for the test to read back.
#pragma once

#include "wintypes.h"

#include <string>
#include <vector>

namespace ui_script {

struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned type;
};

// Starts scripting and forgets earlier answers and records.
PLATFORM_API void Begin();
// Stops scripting: dialogs are shown again.
PLATFORM_API void End();
PLATFORM_API bool Active();

// Answer for the next message box (IDOK or IDCANCEL); without one a box answers IDOK.
PLATFORM_API void QueueMessageAnswer(int answer);
PLATFORM_API const std::vector<ShownMessage>& ShownMessages();
PLATFORM_API void ClearShownMessages();

// What a file dialog was asked to show.
struct AskedFileDialog {
    bool save; // GetSaveFileNameA rather than GetOpenFileNameA
    std::string title;
    std::vector<std::string> filter; // description, pattern, description, pattern, ...
    unsigned filterIndex;            // as passed in
    std::string initialFile;         // the text of lpstrFile on entry
    unsigned flags;
};

// Answer for the next file dialog: the chosen path (relative paths count from the working
// directory) and the filter the user ended with (1-based). Without an answer a dialog is
// cancelled. A scripted path obeys the dialog's flags: a missing file under OFN_FILEMUSTEXIST
// counts as a cancel, as the real dialog would not accept it.
PLATFORM_API void QueueFileAnswer(const std::string& path, unsigned filterIndex);
PLATFORM_API void QueueFileCancel();
PLATFORM_API const std::vector<AskedFileDialog>& AskedFileDialogs();
// Forgets queued file answers and the record of asked dialogs (Begin does this too).
PLATFORM_API void ClearFileDialogs();

} // namespace ui_script
