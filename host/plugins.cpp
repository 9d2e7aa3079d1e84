#include "plugins.h"

#include "entry.h"
#include "outcome_box.h"
#include "panels.h"
#include "window.h"

#include "ui/ui.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include <dlfcn.h>

namespace {

constexpr const char* kModuleSuffix = ".tsk";
constexpr std::size_t kCaptionBytes = 49;
constexpr const char* kNoName = "No Name";
constexpr const char* kCannotLoad = "プラグインを読み込めませんでした";
constexpr const char* kNoDialogEntry = "プラグインに Dlg がありません";

struct ModuleCloser {
    void operator()(void* module) const { dlclose(module); }
};
// A module loaded for one use.
using Module = std::unique_ptr<void, ModuleCloser>;

Module Load(const std::string& path) {
    return Module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
}

PluginTable table;

bool IsModuleFile(const std::filesystem::directory_entry& entry) {
    std::error_code error;
    const std::string name = entry.path().filename().string();
    return entry.is_regular_file(error) && name.size() > std::strlen(kModuleSuffix) &&
           name.ends_with(kModuleSuffix);
}

// The modules of the folders, by file name in byte order, at most kMaxPlugins of them; of the
// modules with one file name, the first folder's.
std::vector<std::filesystem::path> ListModules(const std::vector<std::filesystem::path>& folders) {
    std::map<std::string, std::filesystem::path> byName;
    for (const std::filesystem::path& folder : folders) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (IsModuleFile(entry))
                byName.try_emplace(entry.path().filename().string(), entry.path());
    }
    std::vector<std::filesystem::path> paths;
    for (const auto& [name, path] : byName) {
        if (paths.size() == kMaxPlugins) break;
        paths.push_back(path);
    }
    return paths;
}

// At most kCaptionBytes bytes, never ending inside a UTF-8 character.
std::string Shortened(const char* caption) {
    std::size_t length = strnlen(caption, kCaptionBytes + 1);
    if (length > kCaptionBytes) {
        length = kCaptionBytes;
        while (length > 0 && (static_cast<unsigned char>(caption[length]) & 0xC0) == 0x80)
            --length;
    }
    return std::string(caption, length);
}

std::string ReadCaption(const std::string& path) {
    const Module module = Load(path);
    if (!module) return kNoName;
    std::string caption = kNoName;
    if (auto entry = reinterpret_cast<GetMenuNameEntry>(dlsym(module.get(), kGetMenuNameSymbol))) {
        // Room beyond the kept bytes, so that a longer caption is cut here, not written past.
        char buffer[1024] = {};
        entry(buffer);
        buffer[sizeof buffer - 1] = '\0';
        caption = Shortened(buffer);
    }
    return caption;
}

void FillEffectMenu(QMainWindow* window) {
    QMenu* menu = MenuPopup(kMenuEffect);
    if (!menu) return;
    menu->clear();
    for (std::size_t i = 0; i < table.menuCaptions.size(); ++i) {
        const int id = kCmdEffectFirst + int(i);
        QAction* action = menu->addAction(QString::fromStdString(table.menuCaptions[i]));
        action->setData(id);
        QObject::connect(action, &QAction::triggered, window, [id] { DispatchCommand(id); });
    }
}

void ReportModuleProblem(const char* problem, const std::string& path) {
    const char* detail = dlerror();
    const std::string text =
        std::string(problem) + "\n" + path + (detail ? "\n" : "") + (detail ? detail : "");
    MessageBoxA(MainWindow(), text.c_str(), "Check", MB_OK);
}

// Loads the module for this one call and runs its dialog; the slot is reloaded from its
// temporary file when the module says it replaced it.
// Whatever happened, the player's frame, the editor and the stream information are shown again.
void RunModule(const std::string& path) {
    const Module module = Load(path);
    if (!module) {
        ReportModuleProblem(kCannotLoad, path);
        return;
    }
    auto dlg = reinterpret_cast<DlgEntry>(dlsym(module.get(), kDlgSymbol));
    if (!dlg) {
        ReportModuleProblem(kNoDialogEntry, path);
        ShowChanges(session::kFramesChanged);
        return;
    }
    ShowOutcome(MainWindow(), session::ApplyEffect([dlg](EditWorkspace* record) {
                    return dlg(MainWindow(), record) == 1;
                }));
}

} // namespace

void DiscoverPlugins(QMainWindow* window, const std::vector<std::filesystem::path>& folders) {
    table = PluginTable{};
    std::vector<std::filesystem::path> absolute;
    for (const std::filesystem::path& folder : folders) {
        std::error_code error;
        absolute.push_back(std::filesystem::absolute(folder, error));
        if (error) absolute.pop_back();
    }
    for (const std::filesystem::path& path : ListModules(absolute)) {
        table.modulePaths.push_back(path.string());
        table.menuCaptions.push_back(ReadCaption(table.modulePaths.back()));
    }
    FillEffectMenu(window);
}

const PluginTable& Plugins() {
    return table;
}

void RunPlugin(int commandId) {
    const std::size_t index = std::size_t(commandId - kCmdEffectFirst);
    if (commandId < kCmdEffectFirst || index >= table.modulePaths.size()) return;
    StopPlayback();
    RunModule(table.modulePaths[index]);
}
