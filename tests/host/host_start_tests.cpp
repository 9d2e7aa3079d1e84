// The host's start-up, menus, key tables, tab switching and exit, on the offscreen platform.
#include "host_fixture.h"

#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTest>

#include "ui/ui.h"

#include <functional>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using HostTest = HostFixture;

struct MenuCase {
    int position;
    const char* popup;
    std::vector<std::pair<int, const char*>> items;
};

const std::vector<MenuCase> kMenuCases = {
    {0,
     "File",
     {{32772, "File Open"},
      {32774, "File Save"},
      {32787, "Bmp File Open"},
      {32788, "Bmp File Add"},
      {32783, "Close Stream"},
      {32809, "Recent Files"},
      {105, "Exit"}}},
    {1,
     "Edit",
     {{32800, "Undo"},
      {32801, "Redo"},
      {32781, "Copy"},
      {32779, "Cut"},
      {32780, "Paste"},
      {32785, "Stream Revers"}}},
    {2, "Effect", {}}, // without a plug-in folder the Effect menu is empty
    {3, "Tool", {{32786, "Clip Borad Checker"}}},
    {4, "Help", {{104, "Version"}}},
};

TEST_F(HostTest, MenuHasEveryPopupItemIdAndText) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    for (const MenuCase& expected : kMenuCases) {
        QMenu* menu = MenuPopup(expected.position);
        ASSERT_NE(menu, nullptr) << expected.popup;
        EXPECT_EQ(menu->title().toStdString(), expected.popup);
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), qsizetype(expected.items.size())) << expected.popup;
        for (size_t i = 0; i < expected.items.size(); ++i) {
            EXPECT_EQ(actions[i]->data().toInt(), expected.items[i].first);
            EXPECT_EQ(actions[i]->text().toStdString(), expected.items[i].second);
        }
    }
    EXPECT_EQ(MenuPopup(5), nullptr);
}

TEST_F(HostTest, StartsWithTitleSizeAndOnlyStreamlessCommandsUsable) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), "Sarvolo");
    EXPECT_EQ(window->width(), 300);
    EXPECT_EQ(TabControl()->size(), QSize(0, 0));
    EXPECT_EQ(TabBar()->count(), 2);
    EXPECT_EQ(TabBar()->tabText(0).toStdString(), "Editer");
    EXPECT_EQ(TabBar()->tabText(1).toStdString(), "Player");
    EXPECT_EQ(TabBar()->shape(), QTabBar::RoundedSouth);
    EXPECT_EQ(hostFlags, 0);

    for (int id : {32772, 32787, 105, 104})
        EXPECT_TRUE(MenuItem(id)->isEnabled()) << id;
    for (int id : {32774, 32783, 32788})
        EXPECT_FALSE(MenuItem(id)->isEnabled()) << id;
    EXPECT_TRUE(MenuPopup(kMenuFile)->menuAction()->isEnabled());
    EXPECT_TRUE(MenuPopup(kMenuHelp)->menuAction()->isEnabled());
    for (int position : {kMenuEdit, kMenuEffect, kMenuTool})
        EXPECT_FALSE(MenuPopup(position)->menuAction()->isEnabled()) << position;
}

TEST_F(HostTest, KeyTablesFollowTheTab) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::map<std::string, int> editor = {
        {"Ctrl+C", 32781}, {"Ctrl+V", 32780}, {"Del", 32783},         {"Ctrl+X", 32779},
        {"Ctrl+Z", 32800}, {"Ctrl+Y", 32801}, {"Ctrl+Shift+Z", 32801}};
    const std::map<std::string, int> player = {{"Del", 32783}};

    EXPECT_EQ(CurrentAcceleratorTable(), 109);
    EXPECT_EQ(LiveKeys(), editor);
    TabBar()->setCurrentIndex(kTabPlayer);
    EXPECT_EQ(CurrentAcceleratorTable(), 142);
    EXPECT_EQ(LiveKeys(), player);
    for (int position : {kMenuEdit, kMenuEffect, kMenuTool})
        EXPECT_FALSE(MenuPopup(position)->menuAction()->isEnabled());
    EXPECT_FALSE(MenuItem(kCmdFileSave)->isEnabled());
    TabBar()->setCurrentIndex(kTabEditor);
    EXPECT_EQ(CurrentAcceleratorTable(), 109);
    EXPECT_EQ(LiveKeys(), editor);
    EXPECT_TRUE(MenuPopup(kMenuEdit)->menuAction()->isEnabled());
    EXPECT_TRUE(MenuItem(kCmdFileSave)->isEnabled());
}

TEST_F(HostTest, F10OrALoneAltOpensTheFileMenu) {
    const struct {
        const char* keys;
        std::function<void(QWidget*)> press;
        bool opens;
    } cases[] = {
        {"F10", [](QWidget* w) { QTest::keyClick(w, Qt::Key_F10); }, true},
        {"Alt", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Alt, Qt::AltModifier); }, true},
        {"Alt+X",
         [](QWidget* w) {
             QTest::keyPress(w, Qt::Key_Alt, Qt::AltModifier);
             QTest::keyClick(w, Qt::Key_X, Qt::AltModifier);
             QTest::keyRelease(w, Qt::Key_Alt);
         },
         false},
        {"Shift+F10", [](QWidget* w) { QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier); },
         false},
    };
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    for (const auto& c : cases) {
        c.press(window);
        EXPECT_EQ(MenuPopup(kMenuFile)->isVisible(), c.opens) << c.keys;
        if (c.opens) { // Enter would run File Open; the arrow keys reach the other menus
            EXPECT_EQ(MenuPopup(kMenuFile)->activeAction(), MenuItem(kCmdFileOpen)) << c.keys;
            QTest::keyClick(MenuPopup(kMenuFile), Qt::Key_Right);
            EXPECT_TRUE(MenuPopup(kMenuHelp)->isVisible()) << c.keys;
        }
        window->menuBar()->setActiveAction(nullptr);
        for (int position = kMenuFile; position <= kMenuHelp; ++position)
            MenuPopup(position)->hide();
    }
}

TEST_F(HostTest, StrayFiles00To98GoAtStartAndTheInstanceFolderAtExit) {
    for (int n = 0; n <= 99; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%.2d.avi", n);
        Touch(tempBase() / name);
    }
    Touch(tempBase() / "100.avi");
    Touch(tempBase() / "notes.txt");

    ASSERT_NE(CreateMainWindow(), nullptr);
    const fs::path own = fs::path(workspace.tempDir).parent_path();
    EXPECT_EQ(own.parent_path(), tempBase());
    EXPECT_EQ(std::string(workspace.tempPath), (own / "00.avi").string());
    for (const char* gone : {"00.avi", "07.avi", "42.avi", "98.avi"})
        EXPECT_FALSE(fs::exists(tempBase() / gone)) << gone;
    for (const char* kept : {"99.avi", "100.avi", "notes.txt"})
        EXPECT_TRUE(fs::exists(tempBase() / kept)) << kept;

    Touch(own / "03.avi");
    EXPECT_TRUE(DispatchCommand(kCmdExit));
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_FALSE(fs::exists(own));
    EXPECT_TRUE(fs::exists(tempBase() / "99.avi"));
}

// The work of an editor that was killed is offered at the next start: OK brings it back, Cancel
// throws it away; either way it is not offered again.
TEST_F(HostTest, WorkAKilledEditorLeftIsOfferedAndRestoredOrDiscarded) {
    const std::string path = MakeAvi("a.avi", 16, 8, 6);
    for (const int answer : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(answer == IDOK ? "restored" : "discarded");
        const pid_t child = ::fork();
        if (child == 0) {
            session::Start();
            session::OpenVideo(path.c_str());
            session::SetRange(1, 3);
            session::Cut();
            ::_exit(0); // as a crash would: nothing cleaned up
        }
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);

        ASSERT_NE(CreateMainWindow(), nullptr);
        ui_script::ClearShownMessages();
        ui_script::QueueMessageAnswer(answer);
        OfferToRecoverWork();
        ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
        EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Check");
        EXPECT_EQ(workspace.slotCount, answer == IDOK ? 1 : 0);
        if (answer == IDOK) {
            EXPECT_EQ(AVIStreamLength(workspace.currentStream), 4);
            EXPECT_EQ(AVIStreamLength(clipboardStream), 2);
            EXPECT_TRUE(session::HasUnsavedChanges(0));
        }
        EXPECT_TRUE(session::RecoverableWork().empty());
        CloseHost();
    }
}

// An installed editor keeps its files below the user's cache, not the working folder, and finds
// the work a killed editor left there.
TEST_F(HostTest, WorkIsKeptAndOfferedBelowTheChosenTempBase) {
    const fs::path base = folder / "cache" / "mivra" / "temp";
    UseAppFolders({{}, base});
    const std::string path = MakeAvi("a.avi", 16, 8, 6);
    const pid_t child = ::fork();
    if (child == 0) {
        session::StartOptions options;
        options.tempBase = base;
        session::Start(options);
        session::OpenVideo(path.c_str());
        ::_exit(0); // as a crash would: nothing cleaned up
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);

    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_EQ(fs::path(workspace.tempDir).parent_path().parent_path(), base);
    ui_script::QueueMessageAnswer(IDOK);
    OfferToRecoverWork();
    EXPECT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(workspace.slotCount, 1);
    EXPECT_TRUE(fs::is_empty(tempBase()));
}

TEST_F(HostTest, MissingTempFolderIsCreated) {
    fs::remove_all(tempBase());
    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_TRUE(fs::is_directory(tempBase()));
}

TEST_F(HostTest, TooLongWorkingFolderIsRefusedWithAMessage) {
    fs::path deep = folder;
    while (deep.string().size() < 100)
        deep /= "deeper-folder";
    fs::create_directories(deep);
    fs::current_path(deep);
    EXPECT_EQ(CreateMainWindow(), nullptr);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
}

TEST_F(HostTest, UnknownCommandsGoToDefaultProcessing) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    for (int id : {0, 1, 106, 1999, 3000, 32773, 40000})
        EXPECT_FALSE(DispatchCommand(id)) << id;
    for (int id : {2000, 2999})
        EXPECT_TRUE(DispatchCommand(id)) << id;
}

TEST_F(HostTest, VersionBoxNamesTheProduct) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_TRUE(DispatchCommand(kCmdVersion));
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_NE(ui_script::ShownMessages()[0].text.find("Sarvolo"), std::string::npos);
}

TEST_F(HostTest, ClosingTheWindowRunsTheDestructionSequence) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    const fs::path own = fs::path(workspace.tempDir).parent_path();
    window->close();
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_FALSE(fs::exists(own));
}

} // namespace
