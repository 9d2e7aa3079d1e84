// A test module whose dialog never renders: Dlg returns 0 and touches nothing.
#include "framework.h"

PLUGIN_EXPORT char* GetMenuName(char* buffer) {
    std::strcpy(buffer, "Refuse");
    return buffer;
}

PLUGIN_EXPORT int Dlg(HWND, EditWorkspace*) {
    return 0;
}
