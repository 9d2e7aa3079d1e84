// Where the program finds its effect modules and keeps its temporary files. Both follow from the
// folder of the program's executable and the user's XDG folders, never from the working
// directory, so the program works wherever it is started from. No Qt.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct AppFolders {
    // Searched in this order; of modules with one file name, the first folder's is used.
    std::vector<std::filesystem::path> plugins = {"plgin"};
    // Each running instance keeps its temporary files in a folder of its own below it.
    std::filesystem::path tempBase = "temp";
};

// What the environment says about the user's folders; empty when unset.
struct UserEnvironment {
    std::string home;
    std::string xdgDataHome;
    std::string xdgCacheHome;
};

// The folders of a program whose executable lies in executableDir:
// - with a plgin/ folder beside the executable (the working folder scripts/run lays out), that
//   folder and temp/ beside it;
// - otherwise installed under a prefix, the executable in <prefix>/bin: the user's modules in
//   $XDG_DATA_HOME/mivra/plgin, then <prefix>/lib/mivra/plgin; temporary files below
//   $XDG_CACHE_HOME/mivra/temp. Unset or relative XDG variables mean ~/.local/share and ~/.cache.
AppFolders FoldersOf(const std::filesystem::path& executableDir, const UserEnvironment& user);

// FoldersOf this running program (its executable as /proc/self/exe names it) and this process's
// environment; the home folder is the user's entry in the password database when HOME is unset.
// Without /proc, the defaults: plgin/ and temp/ in the working directory.
AppFolders FoldersOfThisProgram();
