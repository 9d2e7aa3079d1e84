// Message boxes and file dialogs with the Windows argument lists, shown with Qt.
// Tests answer them through the scripting seam in ui_script.h instead of showing them.
#pragma once

#include "avifile/avifile.h"
#include "wintypes.h"

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

// Open and save dialogs. The record keeps the Windows field order; the fields used are
// hwndOwner, lpstrFilter (pairs of description and pattern, each NUL-terminated, the list
// ending with an empty string), nFilterIndex (1-based; 0 means the first), lpstrFile (initial
// file name in, chosen full path out), nMaxFile (bytes of lpstrFile), lpstrFileTitle and
// nMaxFileTitle (optional: the chosen file-name part), lpstrInitialDir, lpstrTitle, Flags,
// nFileOffset and nFileExtension (out).
typedef struct {
    DWORD lStructSize;
    HWND hwndOwner;
    void* hInstance;
    const char* lpstrFilter;
    char* lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    char* lpstrFile;
    DWORD nMaxFile;
    char* lpstrFileTitle;
    DWORD nMaxFileTitle;
    const char* lpstrInitialDir;
    const char* lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    const char* lpstrDefExt;
    intptr_t lCustData;
    void* lpfnHook;
    const char* lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
} OPENFILENAMEA;

#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u

// CommDlgExtendedError after a call that returned 0: 0 when the user cancelled,
// FNERR_BUFFERTOOSMALL when the chosen path did not fit nMaxFile (lpstrFile is then unchanged).
#define FNERR_BUFFERTOOSMALL 0x3003u

// Both return 1 when the user chose a file, else 0. On success the chosen file's folder
// becomes the working directory (unless OFN_NOCHANGEDIR), as on Windows.
PLATFORM_API int GetOpenFileNameA(OPENFILENAMEA* request);
PLATFORM_API int GetSaveFileNameA(OPENFILENAMEA* request);
PLATFORM_API DWORD CommDlgExtendedError(void);

// The compression-options dialog for one stream: the compressors its frames can be saved with
// on this machine, and their settings. The flag bits ICMF_CHOOSE_KEYFRAME, ICMF_CHOOSE_DATARATE
// and ICMF_CHOOSE_PREVIEW offer the key-frame interval, the data rate and a preview of the
// stream's first frame as the settings store it. A record marked AVICOMPRESSF_VALID gives the
// initial choice. With two streams, the second an audio stream, it also offers how the audio is
// saved: PCM 16-bit (the default), AAC and MP3 where this machine has their encoders, or no
// audio; that choice goes into options[1] (fccType streamtypeAUDIO, fccHandler a WAVE_FORMAT_
// tag or AUDIO_LEAVE_OUT, dwBytesPerSecond for the compressed ones). 1 when the user pressed
// OK (the choice is then in options[0], and options[1] for audio), else 0.
PLATFORM_API int AVISaveOptions(HWND owner, unsigned flags, int streamCount, PAVISTREAM* streams,
                                AVICOMPRESSOPTIONS** options);

#ifdef __cplusplus
}
#endif
