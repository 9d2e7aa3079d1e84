// Instance folders: every running instance holds one of its own, a gone instance's folder can be
// taken over or deleted, and a held folder is never listed, taken or deleted, whether this
// process or another one holds it.
#include "instance_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using instance::Descriptor;
using instance::Folder;

namespace {

// A path ending in '/' is made as a folder, any other as an empty file.
void Make(const fs::path& entry) {
    if (!entry.has_filename()) {
        fs::create_directories(entry);
        return;
    }
    fs::create_directories(entry.parent_path());
    std::ofstream{entry};
}

class InstanceFolder : public testing::Test {
  protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        fs::remove_all(base);
        fs::remove_all(outside);
    }

    const std::string pid = std::to_string(::getpid());
    const fs::path base = fs::temp_directory_path() / ("mivra-instances-" + pid);
    const fs::path outside = fs::temp_directory_path() / ("mivra-outside-" + pid);
};

TEST_F(InstanceFolder, LiveInstancesHaveFoldersOfTheirOwnThatNobodyTakes) {
    const Folder first = Folder::Create(base);
    const Folder second = Folder::Create(base);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(instance::DeadFolders(base).empty());
    for (const Folder* live : {&first, &second}) {
        EXPECT_EQ(live->path().parent_path(), base);
        EXPECT_LE(live->path().filename().string().size(), 7u); // room in the record's paths
        EXPECT_FALSE(Folder::Adopt(live->path()));
        EXPECT_FALSE(instance::RemoveDeadFolder(live->path()));
        EXPECT_TRUE(fs::is_directory(live->path()));
    }
}

TEST_F(InstanceFolder, RemoveDeletesTheFolderWithItsFiles) {
    Folder folder = Folder::Create(base);
    ASSERT_TRUE(folder);
    const fs::path path = folder.path();
    Make(path / "00.avi");
    Make(path / "journal" / "1");
    folder.Remove();
    EXPECT_FALSE(folder);
    EXPECT_TRUE(folder.path().empty());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(instance::DeadFolders(base).empty());
}

struct DeathCase {
    const char* name;
    std::function<fs::path(const fs::path& base)> leaveFolder;
};
void PrintTo(const DeathCase& c, std::ostream* out) {
    *out << c.name;
}

class DeadInstance : public InstanceFolder, public testing::WithParamInterface<DeathCase> {};

TEST_P(DeadInstance, IsListedAdoptedOnceAndDeletedOnlyWhenFree) {
    const fs::path folder = GetParam().leaveFolder(base);
    Make(folder / "00.avi");
    EXPECT_EQ(instance::DeadFolders(base), std::vector{folder});

    Folder adopted = Folder::Adopt(folder);
    ASSERT_TRUE(adopted);
    EXPECT_EQ(adopted.path(), folder);
    EXPECT_FALSE(Folder::Adopt(folder));
    EXPECT_TRUE(instance::DeadFolders(base).empty());
    EXPECT_FALSE(instance::RemoveDeadFolder(folder));
    EXPECT_TRUE(fs::exists(folder / "00.avi"));

    adopted = Folder();
    EXPECT_TRUE(instance::RemoveDeadFolder(folder));
    EXPECT_FALSE(fs::exists(folder));
}

INSTANTIATE_TEST_SUITE_P(Ways, DeadInstance,
                         testing::Values(DeathCase{"DroppedWithoutRemove",
                                                   [](const fs::path& base) {
                                                       return Folder::Create(base).path();
                                                   }},
                                         DeathCase{"LockFileNeverLocked",
                                                   [](const fs::path& base) {
                                                       Make(base / "k3x9Qa" / "lock");
                                                       return base / "k3x9Qa";
                                                   }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Entries below base that are not an instance's folder, though they may lead to one elsewhere.
struct ForeignCase {
    const char* name;
    std::function<void(const fs::path& entry, const fs::path& outside)> make;
};
void PrintTo(const ForeignCase& c, std::ostream* out) {
    *out << c.name;
}

class ForeignEntry : public InstanceFolder, public testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignEntry, IsNeitherListedNorTakenNorDeleted) {
    const fs::path entry = base / "k3x9Qa";
    fs::create_directories(base);
    Make(outside / "lock");
    GetParam().make(entry, outside);

    EXPECT_TRUE(instance::DeadFolders(base).empty());
    EXPECT_FALSE(Folder::Adopt(entry));
    EXPECT_FALSE(instance::RemoveDeadFolder(entry));
    EXPECT_TRUE(fs::exists(fs::symlink_status(entry)));
    EXPECT_TRUE(fs::exists(outside / "lock"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ForeignEntry,
    testing::Values(ForeignCase{"FolderWithoutLock",
                                [](const fs::path& entry, const fs::path&) {
                                    Make(entry / "00.avi");
                                }},
                    ForeignCase{"LinkToADeadFolder",
                                [](const fs::path& entry, const fs::path& outside) {
                                    fs::create_directory_symlink(outside, entry);
                                }},
                    ForeignCase{"LockThatIsALink",
                                [](const fs::path& entry, const fs::path& outside) {
                                    fs::create_directories(entry);
                                    fs::create_symlink(outside / "lock", entry / "lock");
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstanceFolder, DeadFoldersComeNewestFirstAndAdoptingMakesOneNewest) {
    std::vector<fs::path> folders;
    const auto now = fs::file_time_type::clock::now();
    for (const int hoursAgo : {3, 1, 2}) {
        folders.push_back(Folder::Create(base).path());
        fs::last_write_time(folders.back() / "lock", now - std::chrono::hours(hoursAgo));
    }
    EXPECT_EQ(instance::DeadFolders(base), (std::vector{folders[1], folders[2], folders[0]}));

    ASSERT_TRUE(Folder::Adopt(folders[0]));
    EXPECT_EQ(instance::DeadFolders(base), (std::vector{folders[0], folders[1], folders[2]}));
}

// A child process that holds a folder of its own below base until it is killed (or, should the
// test die first, until its pipe from the test closes).
class ChildHoldingAFolder {
  public:
    explicit ChildHoldingAFolder(const fs::path& base) {
        int report[2];
        int wait[2];
        if (::pipe2(report, O_CLOEXEC) != 0) return;
        Descriptor reportRead(report[0]);
        Descriptor reportWrite(report[1]);
        if (::pipe2(wait, O_CLOEXEC) != 0) return;
        Descriptor waitRead(wait[0]);
        waitWrite_ = Descriptor(wait[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            waitWrite_ = Descriptor();
            HoldFolder(base, reportWrite, waitRead);
        }
        reportWrite = Descriptor();
        folder_ = ReadAll(reportRead);
    }
    ~ChildHoldingAFolder() { Kill(); }

    const fs::path& folder() const { return folder_; }

    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    [[noreturn]] static void HoldFolder(const fs::path& base, Descriptor& report,
                                        const Descriptor& wait) {
        const Folder folder = Folder::Create(base);
        const std::string path = folder.path().string();
        if (::write(report.get(), path.data(), path.size()) < 0) ::_exit(1);
        report = Descriptor();
        char byte;
        while (::read(wait.get(), &byte, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }

    static std::string ReadAll(const Descriptor& from) {
        std::string text;
        char buffer[256];
        for (;;) {
            const ssize_t got = ::read(from.get(), buffer, sizeof buffer);
            if (got > 0)
                text.append(buffer, size_t(got));
            else if (got == 0 || errno != EINTR)
                return text;
        }
    }

    pid_t pid_ = -1;
    Descriptor waitWrite_; // the child waits until this closes
    fs::path folder_;
};

TEST_F(InstanceFolder, AnotherProcessHoldsItsFolderUntilItIsKilled) {
    ChildHoldingAFolder child(base);
    const fs::path folder = child.folder();
    ASSERT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(instance::DeadFolders(base).empty());
    EXPECT_FALSE(Folder::Adopt(folder));
    EXPECT_FALSE(instance::RemoveDeadFolder(folder));

    child.Kill();
    EXPECT_EQ(instance::DeadFolders(base), std::vector{folder});
    EXPECT_TRUE(instance::RemoveDeadFolder(folder));
    EXPECT_FALSE(fs::exists(folder));
}

struct StrayCase {
    const char* entry; // below base; a trailing '/' makes a folder
    bool removed;
};
void PrintTo(const StrayCase& c, std::ostream* out) {
    *out << c.entry;
}

class StrayFiles : public InstanceFolder, public testing::WithParamInterface<StrayCase> {};

TEST_P(StrayFiles, OnlySlotFilesLyingDirectlyInBaseGo) {
    const fs::path entry = base / GetParam().entry;
    Make(entry);
    instance::ClearStrayFiles(base);
    EXPECT_EQ(fs::exists(entry), !GetParam().removed);
}

INSTANTIATE_TEST_SUITE_P(Names, StrayFiles,
                         testing::Values(StrayCase{"00.avi", true}, StrayCase{"07.avi", true},
                                         StrayCase{"98.avi", true}, StrayCase{"99.avi", false},
                                         StrayCase{"7.avi", false}, StrayCase{"00.AVI", false},
                                         StrayCase{"00.avi.part", false},
                                         StrayCase{"k3x9Qa/00.avi", false},
                                         StrayCase{"05.avi/", false}));

} // namespace
