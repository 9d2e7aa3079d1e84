// Where the program finds its modules and keeps its temporary files, from where its executable
// lies and the user's XDG folders.
#include "app_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct FoldersCase {
    const char* name;
    fs::path executableDir;
    UserEnvironment user;
    std::vector<fs::path> plugins;
    fs::path tempBase;
};

TEST(AppFolders, FollowTheExecutablesFolderAndTheUsersXdgFolders) {
    const fs::path root =
        fs::temp_directory_path() / ("mivra-folders-" + std::to_string(::getpid()));
    fs::create_directories(root / "app" / "plgin");
    const std::vector<fs::path> defaultPlugins = {"/home/u/.local/share/mivra/plgin",
                                                  "/opt/m/lib/mivra/plgin"};
    const FoldersCase cases[] = {
        {"the working folder scripts/run lays out",
         root / "app",
         {"/home/u", "/data", "/cache"},
         {root / "app" / "plgin"},
         root / "app" / "temp"},
        {"installed, XDG folders set",
         "/opt/m/bin",
         {"/home/u", "/data", "/cache"},
         {"/data/mivra/plgin", "/opt/m/lib/mivra/plgin"},
         "/cache/mivra/temp"},
        {"installed, XDG folders unset",
         "/opt/m/bin",
         {"/home/u", "", ""},
         defaultPlugins,
         "/home/u/.cache/mivra/temp"},
        {"installed, relative XDG folders are ignored",
         "/opt/m/bin",
         {"/home/u", "data", "cache"},
         defaultPlugins,
         "/home/u/.cache/mivra/temp"},
    };
    for (const FoldersCase& c : cases) {
        SCOPED_TRACE(c.name);
        const AppFolders folders = FoldersOf(c.executableDir, c.user);
        EXPECT_EQ(folders.plugins, c.plugins);
        EXPECT_EQ(folders.tempBase, c.tempBase);
    }
    fs::remove_all(root);
}

} // namespace
