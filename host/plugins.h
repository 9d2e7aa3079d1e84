// The effect modules: found once at start-up in the plug-in folders and listed in the Effect
// menu; one is loaded for the length of one command and unloaded again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class QMainWindow;

constexpr int kMaxPlugins = 100;

struct PluginTable {
    std::vector<std::string> modulePaths;  // absolute, in menu order
    std::vector<std::string> menuCaptions; // UTF-8, at most 49 bytes
};

// Lists the first 100 regular files ending in ".tsk" of the folders (relative ones below the
// working directory), in byte order of their names; of files with one name, the one in the
// earliest folder. Reads each module's caption ("No Name" when it cannot be loaded or has no
// GetMenuName) and rebuilds the window's Effect menu with ids 2000 + i. Files keep their names;
// no module stays loaded.
void DiscoverPlugins(QMainWindow* window, const std::vector<std::filesystem::path>& folders);

const PluginTable& Plugins();

// Runs the effect of menu id 2000 + i on the current slot: stops playback, calls the module's
// Dlg with the main window and the workspace, reloads the slot when Dlg returns 1, and then,
// whatever happened, refreshes the player's frame, the editor and the stream information.
// A module that cannot be loaded or has no Dlg is named in a message; nothing of it is called.
void RunPlugin(int commandId);
