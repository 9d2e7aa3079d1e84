// The temporary-file naming and deletion, and path copying into the record's buffers.
#include "workspace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TempFileTest : public testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("mivra-temp-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        const std::string dir = folder.string() + "/";
        std::memcpy(ws.tempDir, dir.c_str(), dir.size() + 1);
    }
    void TearDown() override { fs::remove_all(folder); }
    void Touch(const char* name) { std::ofstream(folder / name) << "x"; }

    EditWorkspace ws{};
    fs::path folder;
};

TEST_F(TempFileTest, NamesAreTheFolderAndTwoDigits) {
    const std::pair<int, const char*> cases[] = {
        {0, "00.avi"}, {7, "07.avi"}, {42, "42.avi"}, {98, "98.avi"}, {99, "99.avi"}};
    std::strcpy(ws.savePath, "untouched");
    for (const auto& [n, name] : cases) {
        TempAviName(n, ws);
        EXPECT_EQ(std::string(ws.tempPath), (folder / name).string());
    }
    EXPECT_STREQ(ws.savePath, "untouched");
}

TEST_F(TempFileTest, DeleteByNumberRemovesOnlyThatFileAndKeepsTheBuffer) {
    Touch("05.avi");
    Touch("06.avi");
    std::strcpy(ws.tempPath, "whatever was here");
    DeleteTempFile(ws.tempPath, 5, ws);
    EXPECT_FALSE(fs::exists(folder / "05.avi"));
    EXPECT_TRUE(fs::exists(folder / "06.avi"));
    EXPECT_STREQ(ws.tempPath, "whatever was here");

    DeleteTempFile(ws.tempPath, 5, ws); // already gone: nothing happens
    EXPECT_TRUE(fs::exists(folder / "06.avi"));
    EXPECT_STREQ(ws.tempPath, "whatever was here");

    std::strcpy(ws.savePath, (folder / "06.avi").c_str()); // a number names its file only
    DeleteTempFile(ws.savePath, 7, ws);
    EXPECT_TRUE(fs::exists(folder / "06.avi"));
}

TEST_F(TempFileTest, DeleteMinusOneRemovesTheNamedFile) {
    Touch("saved.avi");
    Touch("other.avi");
    const std::string path = (folder / "saved.avi").string();
    std::memcpy(ws.savePath, path.c_str(), path.size() + 1);
    DeleteTempFile(ws.savePath, -1, ws);
    EXPECT_FALSE(fs::exists(folder / "saved.avi"));
    EXPECT_TRUE(fs::exists(folder / "other.avi"));
    EXPECT_EQ(std::string(ws.savePath), path);
}

TEST(CopyPath, RefusesTextThatDoesNotFitAndKeepsTheBuffer) {
    char buffer[kPathSize] = "before";
    EXPECT_TRUE(CopyPath(buffer, std::string(99, 'a').c_str()));
    EXPECT_EQ(std::strlen(buffer), 99u);
    std::strcpy(buffer, "before");
    EXPECT_FALSE(CopyPath(buffer, std::string(100, 'a').c_str()));
    EXPECT_STREQ(buffer, "before");
}

} // namespace
