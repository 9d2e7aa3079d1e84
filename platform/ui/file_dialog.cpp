#include "ui/ui.h"
#include "ui/ui_script.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QWidget>

#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Choice {
    std::string path;
    unsigned filterIndex;
};

std::deque<std::optional<Choice>> fileAnswers; // nullopt: cancel
std::vector<ui_script::AskedFileDialog> askedFileDialogs;
DWORD lastError = 0;

std::vector<std::string> ParseFilter(const char* filter) {
    std::vector<std::string> parts;
    if (!filter) return parts;
    while (*filter) {
        parts.emplace_back(filter);
        filter += parts.back().size() + 1;
    }
    if (parts.size() % 2) parts.pop_back(); // a description without its pattern
    return parts;
}

std::string Text(const char* text) {
    return text ? text : "";
}

// The initial file name, read no further than the caller's buffer even without its NUL.
std::string InitialFile(const OPENFILENAMEA& request) {
    if (!request.lpstrFile) return {};
    return std::string(request.lpstrFile, strnlen(request.lpstrFile, request.nMaxFile));
}

std::optional<Choice> ScriptedChoice(const OPENFILENAMEA& request, bool save) {
    askedFileDialogs.push_back({save, Text(request.lpstrTitle), ParseFilter(request.lpstrFilter),
                                request.nFilterIndex, InitialFile(request), request.Flags});
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<Choice> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

// The dialog's name filter for one description and pattern ("*.avi;*.AVI").
QString NameFilter(const std::string& description, const std::string& pattern) {
    return QString::fromUtf8(description) + QStringLiteral(" (") +
           QString::fromUtf8(pattern).replace(';', ' ') + QStringLiteral(")");
}

// The 1-based index of the filter the dialog ended with. With details hidden, the dialog may
// report the filter as its bare description.
unsigned ChosenFilterIndex(const QString& selected, const std::vector<std::string>& filter,
                           unsigned fallback) {
    for (size_t i = 0; i + 1 < filter.size(); i += 2) {
        const QString description = QString::fromUtf8(filter[i]);
        if (selected == NameFilter(filter[i], filter[i + 1]) ||
            selected.trimmed() == description.trimmed())
            return static_cast<unsigned>(i / 2 + 1);
    }
    return fallback;
}

// Paths are bytes; Qt carries them as text decoded the way it decodes file names.
QString DisplayPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Qt leaves out of its listings the names it cannot turn back into the same bytes. When a
// folder holds such files, the user is told why they are missing and what to do.
void ExplainUnlistedNames(QWidget* owner, const fs::path& folder) {
    constexpr int kNamesShown = 5;
    QString names;
    int count = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string bytes = entry.path().filename().native();
        if (QFile::encodeName(QFile::decodeName(QByteArray::fromStdString(bytes))).toStdString() ==
            bytes)
            continue;
        if (count++ < kNamesShown) names += QStringLiteral("\n") + DisplayPath(bytes);
    }
    if (count == 0) return;
    if (count > kNamesShown) names += QStringLiteral("\n…");
    const QString text = QStringLiteral("このフォルダの次のファイルは、名前に文字として読めない"
                                        "バイトがあるため一覧に出せません。名前を変えてから開いて"
                                        "ください。") +
                         names;
    MessageBoxA(owner, text.toUtf8().constData(), "Check", MB_OK);
}

std::optional<Choice> ShownChoice(const OPENFILENAMEA& request, bool save) {
    if (!qApp) return std::nullopt;
    const char* title =
        request.lpstrTitle ? request.lpstrTitle : (save ? "名前を付けて保存" : "開く");
    QFileDialog dialog(static_cast<QWidget*>(request.hwndOwner), QString::fromUtf8(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails); // descriptions already name patterns
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.Flags & OFN_OVERWRITEPROMPT));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((request.Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);

    const std::vector<std::string> filter = ParseFilter(request.lpstrFilter);
    QStringList nameFilters;
    for (size_t i = 0; i + 1 < filter.size(); i += 2)
        nameFilters << NameFilter(filter[i], filter[i + 1]);
    if (!nameFilters.isEmpty()) {
        dialog.setNameFilters(nameFilters);
        const qsizetype index = request.nFilterIndex >= 1 ? request.nFilterIndex - 1 : 0;
        dialog.selectNameFilter(nameFilters.value(index < nameFilters.size() ? index : 0));
    }

    const fs::path initial = fs::path(InitialFile(request));
    std::error_code error;
    fs::path folder =
        request.lpstrInitialDir ? fs::path(request.lpstrInitialDir) : fs::current_path(error);
    if (initial.has_parent_path()) folder = fs::absolute(initial.parent_path(), error);
    dialog.setDirectory(DisplayPath(folder));
    if (initial.has_filename()) dialog.selectFile(DisplayPath(initial.filename()));
    ExplainUnlistedNames(dialog.parentWidget(), folder);
    // Every way into a folder (a click, the look-in box, a typed path) changes the root of the
    // dialog's file-system model; only some of them emit directoryEntered.
    if (auto* model = dialog.findChild<QFileSystemModel*>()) {
        QObject::connect(
            model, &QFileSystemModel::rootPathChanged, &dialog, [&dialog](const QString& entered) {
                ExplainUnlistedNames(&dialog, QFile::encodeName(entered).toStdString());
            });
    }

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return Choice{QFile::encodeName(dialog.selectedFiles().front()).toStdString(),
                  ChosenFilterIndex(dialog.selectedNameFilter(), filter, request.nFilterIndex)};
}

WORD ExtensionOffset(const std::string& path, size_t nameOffset) {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < nameOffset ? 0 : static_cast<WORD>(dot + 1);
}

// Writes the choice into the request as the Windows dialog does; refuses a path that does not
// fit the caller's buffer rather than cutting it.
int Deliver(OPENFILENAMEA& request, const Choice& choice) {
    std::error_code error;
    const fs::path path = fs::absolute(fs::path(choice.path), error).lexically_normal();
    if (error) return 0;
    if ((request.Flags & OFN_FILEMUSTEXIST) && !fs::is_regular_file(path, error)) return 0;
    if ((request.Flags & OFN_PATHMUSTEXIST) && !fs::is_directory(path.parent_path(), error))
        return 0;

    const std::string text = path.string();
    if (!request.lpstrFile || text.size() + 1 > request.nMaxFile) {
        lastError = FNERR_BUFFERTOOSMALL;
        return 0;
    }
    std::memcpy(request.lpstrFile, text.c_str(), text.size() + 1);
    const size_t nameOffset = text.size() - path.filename().string().size();
    request.nFileOffset = static_cast<WORD>(nameOffset);
    request.nFileExtension = ExtensionOffset(text, nameOffset);
    request.nFilterIndex = choice.filterIndex;
    const std::string name = path.filename().string();
    if (request.lpstrFileTitle && name.size() + 1 <= request.nMaxFileTitle)
        std::memcpy(request.lpstrFileTitle, name.c_str(), name.size() + 1);
    if (!(request.Flags & OFN_NOCHANGEDIR)) fs::current_path(path.parent_path(), error);
    return 1;
}

int AskFile(OPENFILENAMEA* request, bool save) {
    lastError = 0;
    if (!request) return 0;
    const std::optional<Choice> choice =
        ui_script::Active() ? ScriptedChoice(*request, save) : ShownChoice(*request, save);
    return choice ? Deliver(*request, *choice) : 0;
}

} // namespace

namespace ui_script {

void QueueFileAnswer(const std::string& path, unsigned filterIndex) {
    fileAnswers.push_back(Choice{path, filterIndex});
}

void QueueFileCancel() {
    fileAnswers.push_back(std::nullopt);
}

const std::vector<AskedFileDialog>& AskedFileDialogs() {
    return askedFileDialogs;
}

void ClearFileDialogs() {
    fileAnswers.clear();
    askedFileDialogs.clear();
}

} // namespace ui_script

extern "C" int GetOpenFileNameA(OPENFILENAMEA* request) {
    return AskFile(request, false);
}

extern "C" int GetSaveFileNameA(OPENFILENAMEA* request) {
    return AskFile(request, true);
}

extern "C" DWORD CommDlgExtendedError(void) {
    return lastError;
}
