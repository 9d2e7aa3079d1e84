// Test modules that lack one of the two exports: built with WITHOUT_MENU_NAME or WITHOUT_DLG.
#include "framework.h"

#ifndef WITHOUT_MENU_NAME
PLUGIN_EXPORT char* GetMenuName(char* buffer) {
    std::strcpy(buffer, "No Dlg");
    return buffer;
}
#endif

#ifndef WITHOUT_DLG
PLUGIN_EXPORT int Dlg(HWND, EditWorkspace*) {
    return 0;
}
#endif
