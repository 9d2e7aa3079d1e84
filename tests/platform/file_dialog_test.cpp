#include "ui/ui.h"
#include "ui/ui_script.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kAviFilter[] = "digitalvideo(*.avi)\0*.avi\0All Files(*.*)\0*.*\0";

// Scripts the file dialogs in a fresh folder holding clip.avi and restores the working
// directory afterwards.
class FileDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        startDir = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "mivra_fd_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = fs::canonical(pattern);
        fs::create_directory(folder / "sub");
        std::ofstream(folder / "sub" / "clip.avi") << "x";
        ui_script::Begin();
    }
    void TearDown() override {
        ui_script::End();
        fs::current_path(startDir);
        fs::remove_all(folder);
    }

    OPENFILENAMEA Request(char* buffer, DWORD size) {
        OPENFILENAMEA request{};
        request.lStructSize = sizeof request;
        request.lpstrFilter = kAviFilter;
        request.lpstrFile = buffer;
        request.nMaxFile = size;
        request.lpstrTitle = "マルチメディア";
        request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
        return request;
    }

    fs::path startDir;
    fs::path folder;
};

TEST_F(FileDialogTest, ChosenFileFillsTheRequestAndBecomesTheWorkingFolder) {
    const std::string clip = (folder / "sub" / "clip.avi").string();
    ui_script::QueueFileAnswer(clip, 2);
    char buffer[100] = "old.avi";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);

    ASSERT_EQ(GetOpenFileNameA(&request), 1);
    EXPECT_EQ(std::string(buffer), clip);
    EXPECT_EQ(request.nFilterIndex, 2u);
    EXPECT_EQ(std::string(buffer + request.nFileOffset), "clip.avi");
    EXPECT_EQ(std::string(buffer + request.nFileExtension), "avi");
    EXPECT_EQ(fs::current_path(), folder / "sub");

    ASSERT_EQ(ui_script::AskedFileDialogs().size(), 1u);
    const ui_script::AskedFileDialog& asked = ui_script::AskedFileDialogs()[0];
    EXPECT_FALSE(asked.save);
    EXPECT_EQ(asked.title, "マルチメディア");
    EXPECT_EQ(asked.filter,
              (std::vector<std::string>{"digitalvideo(*.avi)", "*.avi", "All Files(*.*)", "*.*"}));
    EXPECT_EQ(asked.filterIndex, 0u);
    EXPECT_EQ(asked.initialFile, "old.avi");
    EXPECT_EQ(asked.flags, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
}

TEST_F(FileDialogTest, RelativeAnswerCountsFromTheWorkingFolder) {
    fs::current_path(folder);
    ui_script::QueueFileAnswer("sub/../sub/clip.avi", 1);
    char buffer[100] = "";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    ASSERT_EQ(GetOpenFileNameA(&request), 1);
    EXPECT_EQ(std::string(buffer), (folder / "sub" / "clip.avi").string());
}

TEST_F(FileDialogTest, RefusalsLeaveBufferAndFolderAlone) {
    const std::string clip = (folder / "sub" / "clip.avi").string();
    const DWORD fits = static_cast<DWORD>(clip.size() + 1);
    struct Case {
        const char* what;
        bool cancel;
        std::string path;
        DWORD bufferSize;
        unsigned flags;
        DWORD error;
    };
    const Case cases[] = {
        {"cancelled", true, "", 100, OFN_FILEMUSTEXIST, 0},
        {"one byte too long", false, clip, fits - 1, OFN_FILEMUSTEXIST, FNERR_BUFFERTOOSMALL},
        {"no room at all", false, clip, 0, 0, FNERR_BUFFERTOOSMALL},
        {"missing file", false, (folder / "sub" / "none.avi").string(), 100, OFN_FILEMUSTEXIST, 0},
        {"missing folder", false, (folder / "gone" / "a.avi").string(), 100, OFN_PATHMUSTEXIST, 0},
    };
    for (const Case& c : cases) {
        if (c.cancel)
            ui_script::QueueFileCancel();
        else
            ui_script::QueueFileAnswer(c.path, 2);
        std::vector<char> buffer(c.bufferSize + 1, 'k');
        OPENFILENAMEA request = Request(buffer.data(), c.bufferSize);
        request.Flags = c.flags;
        request.nFilterIndex = 1;
        EXPECT_EQ(GetOpenFileNameA(&request), 0) << c.what;
        EXPECT_EQ(CommDlgExtendedError(), c.error) << c.what;
        EXPECT_EQ(buffer, std::vector<char>(c.bufferSize + 1, 'k')) << c.what;
        EXPECT_EQ(request.nFilterIndex, 1u) << c.what;
        EXPECT_EQ(fs::current_path(), startDir) << c.what;
    }
}

TEST_F(FileDialogTest, PathThatJustFitsIsTaken) {
    const std::string clip = (folder / "sub" / "clip.avi").string();
    ui_script::QueueFileAnswer(clip, 1);
    std::vector<char> buffer(clip.size() + 1);
    OPENFILENAMEA request = Request(buffer.data(), static_cast<DWORD>(buffer.size()));
    EXPECT_EQ(GetOpenFileNameA(&request), 1);
    EXPECT_EQ(std::string(buffer.data()), clip);
}

TEST_F(FileDialogTest, SaveDialogAcceptsANewFileAndSaysItIsASave) {
    const std::string target = (folder / "out.avi").string();
    ui_script::QueueFileAnswer(target, 1);
    char buffer[100] = "";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    ASSERT_EQ(GetSaveFileNameA(&request), 1);
    EXPECT_EQ(std::string(buffer), target);
    EXPECT_EQ(fs::current_path(), folder);
    EXPECT_TRUE(ui_script::AskedFileDialogs().back().save);
}

TEST_F(FileDialogTest, WithoutAnAnswerTheDialogIsCancelled) {
    char buffer[100] = "keep";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    EXPECT_EQ(GetOpenFileNameA(&request), 0);
    EXPECT_EQ(std::string(buffer), "keep");
    EXPECT_EQ(ui_script::AskedFileDialogs().size(), 1u);
}

TEST_F(FileDialogTest, NoChangeDirKeepsTheWorkingFolder) {
    ui_script::QueueFileAnswer((folder / "sub" / "clip.avi").string(), 1);
    char buffer[100] = "";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    request.Flags |= OFN_NOCHANGEDIR;
    ASSERT_EQ(GetOpenFileNameA(&request), 1);
    EXPECT_EQ(fs::current_path(), startDir);
}

TEST_F(FileDialogTest, BeginForgetsEarlierAnswersAndRecords) {
    ui_script::QueueFileAnswer((folder / "sub" / "clip.avi").string(), 1);
    char buffer[100] = "";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    GetOpenFileNameA(&request);
    ui_script::QueueFileAnswer((folder / "sub" / "clip.avi").string(), 1);
    ui_script::Begin();
    EXPECT_TRUE(ui_script::AskedFileDialogs().empty());
    EXPECT_EQ(GetOpenFileNameA(&request), 0);
}

TEST_F(FileDialogTest, ShownDialogOffersTheRequestAndReturnsTheUsersChoice) {
    ui_script::End();
    const std::string clip = (folder / "sub" / "clip.avi").string();
    QString shownTitle, shownFilter;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownTitle = dialog->windowTitle();
        shownFilter = dialog->selectedNameFilter();
        dialog->selectNameFilter(dialog->nameFilters().value(0));
        dialog->selectFile(QString::fromStdString(clip));
        static_cast<QDialog*>(dialog)->accept(); // as the Open button does
    });
    char buffer[100] = "";
    OPENFILENAMEA request = Request(buffer, sizeof buffer);
    request.nFilterIndex = 2;
    ASSERT_EQ(GetOpenFileNameA(&request), 1);
    EXPECT_EQ(shownTitle, QStringLiteral("マルチメディア"));
    EXPECT_TRUE(shownFilter.startsWith(QStringLiteral("All Files(*.*)")))
        << shownFilter.toStdString();
    EXPECT_EQ(std::string(buffer), clip);
    EXPECT_EQ(request.nFilterIndex, 1u);
    EXPECT_EQ(fs::current_path(), folder / "sub");
}

} // namespace
