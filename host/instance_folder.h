// Every running editor keeps its temporary files in a folder of its own below a base folder,
// held with an flock on a lock file inside it for as long as the instance runs. A folder whose
// lock is free belongs to an instance that is gone. No Qt.
#pragma once

#include <filesystem>
#include <vector>

namespace instance {

// An open file descriptor, closed when dropped.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    ~Descriptor();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// One instance's folder, locked while this object holds it. Dropping it without Remove leaves
// the folder behind as a dead instance's.
class Folder {
  public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;

    // A new locked folder with a short unique name below base (created if missing); empty on
    // failure.
    static Folder Create(const std::filesystem::path& base);
    // The folder of an instance that is gone, locked; empty when its lock is held or the folder
    // has no lock file.
    static Folder Adopt(const std::filesystem::path& folder);

    const std::filesystem::path& path() const { return path_; } // empty when none
    explicit operator bool() const { return static_cast<bool>(lock_); }

    // Deletes the folder with everything in it, then releases the lock (a clean exit).
    void Remove();

  private:
    Folder(std::filesystem::path path, Descriptor lock);

    std::filesystem::path path_;
    Descriptor lock_;
};

// The folders below base whose lock is free, newest first by the lock file's modification time
// (set whenever an instance takes the folder).
std::vector<std::filesystem::path> DeadFolders(const std::filesystem::path& base);

// Deletes a dead instance's folder once its lock is taken; false when the lock is held or the
// folder has no lock file.
bool RemoveDeadFolder(const std::filesystem::path& folder);

// Removes the slot files "00.avi".."98.avi" lying directly in base, where older versions kept
// them; any other entry is left alone.
void ClearStrayFiles(const std::filesystem::path& base);

} // namespace instance
