#include "file_dialogs.h"

#include "ui/ui.h"

#include <map>

const char kVideoOpenFilters[] =
    "Video files (*.avi *.mp4 *.mkv *.mov *.webm *.m4v *.mpg *.mpeg *.ts *.wmv *.flv)\0"
    "*.avi;*.mp4;*.mkv;*.mov;*.webm;*.m4v;*.mpg;*.mpeg;*.ts;*.wmv;*.flv\0"
    "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";
const char kAviFilters[] = "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";
const char kBitmapFilters[] = "BitMap(*.bmp)\0*.bmp\0All Files(*.*)\0*.*\0";

namespace {

const char kPathTooLong[] = "ファイルのパスが長すぎます（99バイトまで）";

// The filter the user chose last, per list: the same position means another filter in another
// list.
std::map<const char*, DWORD> rememberedFilterIndex;

} // namespace

int AskFileName(QWidget* owner, char (&path)[kPathSize], const char* filters, FileDialogMode mode) {
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filters;
    request.nFilterIndex = rememberedFilterIndex[filters];
    request.lpstrFile = path;
    request.nMaxFile = kPathSize;
    request.lpstrTitle = "マルチメディア";
    // A save dialog that only accepted existing files could not save under a new name.
    request.Flags = OFN_HIDEREADONLY | (mode == FileDialogMode::Open ? OFN_FILEMUSTEXIST : 0);
    const bool chosen =
        mode == FileDialogMode::Open ? GetOpenFileNameA(&request) : GetSaveFileNameA(&request);
    if (!chosen) {
        if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
            MessageBoxA(owner, kPathTooLong, "Check", MB_OK);
        return 0;
    }
    rememberedFilterIndex[filters] = request.nFilterIndex;
    return 1;
}
