#include "file_dialogs.h"

#include "ui/ui.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <vector>

const char kVideoOpenFilters[] =
    "Video files (*.avi *.mp4 *.mkv *.mov *.webm *.m4v *.mpg *.mpeg *.ts *.wmv *.flv)\0"
    "*.avi;*.mp4;*.mkv;*.mov;*.webm;*.m4v;*.mpg;*.mpeg;*.ts;*.wmv;*.flv\0"
    "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";
const char kAviFilters[] = "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";
const char kBitmapFilters[] = "BitMap(*.bmp)\0*.bmp\0All Files(*.*)\0*.*\0";

namespace {

// Longer paths are refused by the system itself.
constexpr DWORD kLongestPath = PATH_MAX;
const char kPathTooLong[] = "ファイルのパスが長すぎます（4095バイトまで）";

// The filter the user chose last, per list: the same position means another filter in another
// list.
std::map<const char*, DWORD> rememberedFilterIndex;

} // namespace

int AskFileName(QWidget* owner, std::string& path, const char* filters, FileDialogMode mode) {
    std::vector<char> buffer(kLongestPath, '\0');
    std::memcpy(buffer.data(), path.c_str(), std::min<size_t>(path.size(), kLongestPath - 1));
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filters;
    request.nFilterIndex = rememberedFilterIndex[filters];
    request.lpstrFile = buffer.data();
    request.nMaxFile = kLongestPath;
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
    path = buffer.data();
    return 1;
}
