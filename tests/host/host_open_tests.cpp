// Files opened without the File Open command: named on the command line or dropped on the window.
#include "host_fixture.h"

#include "stream_list.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

using OpenFiles = HostFixture;

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

} // namespace
