// Message boxes and file dialogs with the Windows argument lists, shown with Qt.
// Tests answer them through the scripting seam in ui_script.h instead of showing them.
#pragma once

#include "avifile/avifile.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HWND; // a QWidget*, or null

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2

PLATFORM_API int MessageBoxA(HWND owner, const char* text, const char* caption, unsigned type);

#ifdef __cplusplus
}
#endif
