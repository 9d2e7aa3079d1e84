// Files opened without the File Open command: named on the command line, dropped on the window
// or chosen from Recent Files.
#include "host_fixture.h"

#include "bitmap_bytes.h"
#include "recent_commands.h"
#include "stream_list.h"

#include <QMenu>

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

// As named on the command line (the suite below takes the function's name).
void OpenNamedFiles(const std::vector<std::string>& paths) {
    OpenFiles(paths);
}

using OpenFiles = HostFixture;
using RecentFiles = HostFixture;

std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int row = 0; row < StreamListPanel()->rowCount(kStreamList); ++row)
        rows.push_back(StreamListPanel()->rowText(kStreamList, row).toStdString());
    return rows;
}

std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const auto& shown : ui_script::ShownMessages())
        texts.push_back(shown.text + " / " + shown.caption);
    return texts;
}

const char kTooMany[] = "ストリームは10個までしか開けません / Check";

TEST_F(OpenFiles, CommandLineFilesOpenInOrder) {
    const struct {
        const char* name;
        std::vector<std::string> files; // "missing.avi" is never made
        std::vector<std::string> rows;
        std::vector<std::string> messages;
    } cases[] = {
        {"two files", {"b.avi", "a.avi"}, {"b.avi", "a.avi"}, {}},
        {"a missing file",
         {"missing.avi", "a.avi"},
         {"a.avi"},
         {"ファイルを開けませんでした / Error"}},
        {"more files than slots",
         std::vector<std::string>(12, "a.avi"),
         std::vector<std::string>(kMaxSlots, "a.avi"),
         {kTooMany}},
    };
    MakeAvi("a.avi", 8, 6, 3);
    MakeAvi("b.avi", 8, 6, 4);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui_script::ClearShownMessages();
        std::vector<std::string> arguments = {"mivra"};
        arguments.insert(arguments.end(), c.files.begin(), c.files.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        std::vector<std::string> rows;
        QTimer::singleShot(0, qApp, [&] {
            rows = Rows();
            DestroyMainWindow();
        });
        EXPECT_EQ(HostMain(int(argv.size()), argv.data()), 0);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(Messages(), c.messages);
    }
}

TEST_F(OpenFiles, DroppedLocalFilesOpenInOrder) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    QMimeData remote;
    remote.setUrls({QUrl("https://example.org/c.avi")});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &remote, Qt::LeftButton,
                            Qt::NoModifier);
    QCoreApplication::sendEvent(window, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MakeAvi("b.avi", 8, 6, 4))),
                  QUrl("https://example.org/c.avi"),
                  QUrl::fromLocalFile(QString::fromStdString(MakeAvi("a.avi", 8, 6, 3)))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"b.avi", "a.avi"}));
    EXPECT_TRUE(Messages().empty());
}

std::vector<std::string> RecentItems() {
    std::vector<std::string> texts;
    for (QAction* action : MenuItem(kCmdRecentFilesMenu)->menu()->actions())
        texts.push_back(action->text().toStdString());
    return texts;
}

TEST_F(RecentFiles, OpenedFilesAreListedNewestFirstAndKeptForTheNextRun) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_FALSE(MenuItem(kCmdRecentFilesMenu)->isEnabled());
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i)
        paths.push_back(MakeAvi("f" + std::to_string(i) + ".avi", 8, 6, 2));
    const std::string picture = (folder / "p.bmp").string();
    ASSERT_TRUE(bitmap_bytes::Write(picture, {}));
    OpenNamedFiles({paths[0], paths[1]});
    Open(paths[2]);
    ui_script::QueueFileAnswer(picture, 1);
    DispatchCommand(kCmdBmpFileOpen);
    Open(paths[0]);
    EXPECT_EQ(RecentItems(), (std::vector<std::string>{paths[0], picture, paths[2], paths[1]}));
    OpenNamedFiles({paths[3], paths[4], paths[5], paths[6], paths[7]});
    const std::vector<std::string> newest = {paths[7], paths[6], paths[5], paths[4],
                                             paths[3], paths[0], picture,  paths[2]};
    EXPECT_EQ(RecentItems(), newest);
    EXPECT_TRUE(MenuItem(kCmdRecentFilesMenu)->isEnabled());
    CloseHost();
    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_EQ(RecentItems(), newest);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(RecentFiles, AnEntryOpensAsItWasOpenedAndAMissingOneIsToldAndDropped) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string video = MakeAvi("a.avi", 8, 6, 3);
    const std::string gone = MakeAvi("b.avi", 8, 6, 4);
    const std::string picture = (folder / "p.bmp").string();
    ASSERT_TRUE(bitmap_bytes::Write(picture, {}));
    ui_script::QueueFileAnswer(picture, 1);
    DispatchCommand(kCmdBmpFileOpen);
    OpenNamedFiles({video, gone});
    std::filesystem::remove(gone);

    MenuItem(kCmdRecentFileFirst + 2)->trigger(); // the picture
    MenuItem(kCmdRecentFileFirst + 2)->trigger(); // the video, second now
    EXPECT_EQ(Rows(), (std::vector<std::string>{"p.bmp", "a.avi", "b.avi", "p.bmp", "a.avi"}));
    EXPECT_EQ(workspace.streamInfo.dwLength, 3u);
    EXPECT_TRUE(Messages().empty());

    MenuItem(kCmdRecentFileFirst + 2)->trigger(); // the file that is gone
    EXPECT_EQ(Rows().size(), 5u);
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "ファイルが見つからないので、最近使ったファイルから外しました\n" +
                              gone + " / Check"}));
    EXPECT_EQ(RecentItems(), (std::vector<std::string>{video, picture}));
}

} // namespace
