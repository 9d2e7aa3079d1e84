#include "recent_files.h"

#include "recent_commands.h"

#include <QFile>
#include <QSettings>

#include <algorithm>

namespace recent {

namespace {

const char kOrganisation[] = "mivra";
const char kApplication[] = "mivra";
const char kArray[] = "recentFiles";
const char kPathKey[] = "path";
const char kBitmapKey[] = "bitmap";

void Store(const std::vector<File>& files) {
    QSettings settings(kOrganisation, kApplication);
    settings.remove(kArray);
    settings.beginWriteArray(kArray, int(files.size()));
    for (int i = 0; i < int(files.size()); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(kPathKey, QFile::decodeName(files[size_t(i)].path.c_str()));
        settings.setValue(kBitmapKey, files[size_t(i)].bitmap);
    }
    settings.endArray();
}

} // namespace

std::vector<File> Files() {
    QSettings settings(kOrganisation, kApplication);
    const int count = std::min(settings.beginReadArray(kArray), kRecentFiles);
    std::vector<File> files;
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        const QString path = settings.value(kPathKey).toString();
        if (!path.isEmpty())
            files.push_back(
                {QFile::encodeName(path).toStdString(), settings.value(kBitmapKey).toBool()});
    }
    settings.endArray();
    return files;
}

void Remember(const File& file) {
    std::vector<File> files = Files();
    std::erase_if(files, [&](const File& kept) { return kept.path == file.path; });
    files.insert(files.begin(), file);
    if (files.size() > size_t(kRecentFiles)) files.resize(size_t(kRecentFiles));
    Store(files);
}

void Forget(const std::string& path) {
    std::vector<File> files = Files();
    std::erase_if(files, [&](const File& kept) { return kept.path == path; });
    Store(files);
}

} // namespace recent
