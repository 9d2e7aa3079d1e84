// The temporary-file naming and removal, and path copying into the record's buffers.
#include "avi_io.h"

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

TEST_F(TempFileTest, NamesAreTheFolderAndTwoDigitsAndLeaveTheRecordAlone) {
    const std::pair<int, const char*> cases[] = {
        {0, "00.avi"}, {7, "07.avi"}, {42, "42.avi"}, {98, "98.avi"}, {99, "99.avi"}};
    std::strcpy(ws.tempPath, "untouched");
    for (const auto& [n, name] : cases)
        EXPECT_EQ(TempFilePath(ws, n), folder / name);
    EXPECT_STREQ(ws.tempPath, "untouched");
}

TEST_F(TempFileTest, RemovingByNumberRemovesOnlyThatFile) {
    Touch("05.avi");
    Touch("06.avi");
    RemoveTempFile(ws, 5);
    EXPECT_FALSE(fs::exists(folder / "05.avi"));
    EXPECT_TRUE(fs::exists(folder / "06.avi"));
    RemoveTempFile(ws, 5); // already gone: nothing happens
    EXPECT_TRUE(fs::exists(folder / "06.avi"));
}

TEST(CopyPath, RefusesTextThatDoesNotFitAndKeepsTheBuffer) {
    char buffer[kPathSize] = "before";
    EXPECT_TRUE(CopyPath(buffer, std::string(99, 'a').c_str()));
    EXPECT_EQ(std::strlen(buffer), 99u);
    std::strcpy(buffer, "before");
    EXPECT_FALSE(CopyPath(buffer, std::string(100, 'a').c_str()));
    EXPECT_STREQ(buffer, "before");
}

TEST(FitPath, KeepsThePathOrElseTheNameWithWholeCharacters) {
    const std::string folder = "/" + std::string(120, 'f') + "/";
    const std::string wide = std::string(97, 'n') + "動画"; // each of 動 and 画 is 3 bytes
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {"/movies/clip.avi", "/movies/clip.avi"},
        {folder + "clip.avi", "clip.avi"},
        {folder + wide, std::string(97, 'n')},
        {wide, std::string(97, 'n')},
    };
    for (const auto& c : cases) {
        char buffer[kPathSize];
        std::memset(buffer, 'z', sizeof buffer);
        FitPath(buffer, c.path.c_str());
        EXPECT_EQ(std::string(buffer, strnlen(buffer, kPathSize)), c.expected) << c.path;
    }
}

} // namespace
