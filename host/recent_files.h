// The files opened last, newest first, kept in the user's settings from one run to the next.
#pragma once

#include <string>
#include <vector>

namespace recent {

struct File {
    std::string path;    // full path, as it was opened
    bool bitmap = false; // opened with Bmp File Open
};

// At most kRecentFiles entries, newest first.
std::vector<File> Files();
// The file was opened: it goes to the top (from wherever it was), the oldest beyond the limit go.
void Remember(const File& file);
// The file is dropped from the list.
void Forget(const std::string& path);

} // namespace recent
