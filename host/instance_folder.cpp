#include "instance_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace instance {

namespace {

constexpr const char* kLockName = "lock";
constexpr mode_t kLockMode = 0600;
constexpr int kStraySlots = 99; // 00.avi .. 98.avi

int RetryingOnSignal(const auto& call) {
    int result = 0;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

bool IsFileAt(int fd, const fs::path& file) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(file.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// The folder's lock, taken; empty when it is held or the folder is not a real folder with a lock
// file. A remover may delete the file between our open and our flock, so the locked file must
// still be the one in the folder.
Descriptor LockFolder(const fs::path& folder, int createFlag) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error))) return {};
    const fs::path file = folder / kLockName;
    Descriptor lock(RetryingOnSignal([&] {
        return ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | createFlag, kLockMode);
    }));
    if (!lock) return {};
    if (RetryingOnSignal([&] { return ::flock(lock.get(), LOCK_EX | LOCK_NB); }) != 0) return {};
    if (!IsFileAt(lock.get(), file)) return {};
    return lock;
}

} // namespace

Descriptor::Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    const int taken = std::exchange(other.fd_, -1);
    if (fd_ >= 0) ::close(fd_);
    fd_ = taken;
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
}

Folder::Folder(fs::path path, Descriptor lock) : path_(std::move(path)), lock_(std::move(lock)) {}

Folder::Folder(Folder&& other) noexcept
    : path_(std::exchange(other.path_, {})), lock_(std::move(other.lock_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    path_ = std::exchange(other.path_, {});
    lock_ = std::move(other.lock_);
    return *this;
}

Folder Folder::Create(const fs::path& base) {
    std::error_code error;
    fs::create_directories(base, error);
    std::string name = (base / "XXXXXX").string();
    if (!::mkdtemp(name.data())) return {};
    Descriptor lock = LockFolder(name, O_CREAT);
    if (!lock) {
        fs::remove(name, error);
        return {};
    }
    return Folder(name, std::move(lock));
}

Folder Folder::Adopt(const fs::path& folder) {
    Descriptor lock = LockFolder(folder, 0);
    if (!lock) return {};
    // The newest holder's folder is the first offered once it is gone in turn.
    ::futimens(lock.get(), nullptr);
    return Folder(folder, std::move(lock));
}

void Folder::Remove() {
    if (!lock_) return;
    std::error_code error;
    // Deleted before the lock goes, so no starting instance adopts it meanwhile.
    fs::remove_all(path_, error);
    *this = Folder();
}

std::vector<fs::path> DeadFolders(const fs::path& base) {
    std::vector<std::pair<fs::file_time_type, fs::path>> dead;
    std::error_code error;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        // Taking the lock for a moment is the only way to learn that it is free.
        if (!LockFolder(it->path(), 0)) continue;
        std::error_code timeError;
        dead.emplace_back(fs::last_write_time(it->path() / kLockName, timeError), it->path());
    }
    std::ranges::sort(dead, std::greater{});
    std::vector<fs::path> folders;
    for (auto& [time, folder] : dead)
        folders.push_back(std::move(folder));
    return folders;
}

bool RemoveDeadFolder(const fs::path& folder) {
    const Descriptor lock = LockFolder(folder, 0);
    if (!lock) return false;
    std::error_code error;
    fs::remove_all(folder, error);
    return !error;
}

void ClearStrayFiles(const fs::path& base) {
    for (int n = 0; n < kStraySlots; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "%02d.avi", n);
        const fs::path file = base / name;
        std::error_code error;
        if (fs::is_regular_file(fs::symlink_status(file, error))) fs::remove(file, error);
    }
}

} // namespace instance
