#include "app_folders.h"

#include <cstdlib>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPluginFolder = "plgin";
constexpr const char* kTempFolder = "temp";
constexpr const char* kProgramFolder = "mivra";

// An XDG base folder: the variable's value when it is an absolute path (the only kind the XDG
// rules accept), otherwise its default below the home folder.
fs::path BaseFolder(const std::string& value, const fs::path& home, const char* fallback) {
    const fs::path chosen(value);
    return chosen.is_absolute() ? chosen : home / fallback;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder() {
    std::string home = Variable("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) home = entry->pw_dir;
    return home;
}

} // namespace

AppFolders FoldersOf(const fs::path& executableDir, const UserEnvironment& user) {
    std::error_code error;
    if (fs::is_directory(executableDir / kPluginFolder, error))
        return {{executableDir / kPluginFolder}, executableDir / kTempFolder};
    const fs::path home(user.home);
    const fs::path data = BaseFolder(user.xdgDataHome, home, ".local/share");
    const fs::path cache = BaseFolder(user.xdgCacheHome, home, ".cache");
    const fs::path prefix = executableDir.parent_path();
    return {
        {data / kProgramFolder / kPluginFolder, prefix / "lib" / kProgramFolder / kPluginFolder},
        cache / kProgramFolder / kTempFolder};
}

AppFolders FoldersOfThisProgram() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const UserEnvironment user{HomeFolder(), Variable("XDG_DATA_HOME"), Variable("XDG_CACHE_HOME")};
    return FoldersOf(executable.parent_path(), user);
}
