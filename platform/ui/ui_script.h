// The scripting seam: while a script is active, message boxes and file dialogs are not shown;
// each call takes the next queued answer and is recorded for the test to read back.
#pragma once

#include "avifile/avifile.h"

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

} // namespace ui_script
