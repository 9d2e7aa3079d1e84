// The Effect menu: modules found in the plug-in folders at start-up, and one run on the current
// slot.
#include "host_fixture.h"

#include "editor_panel.h"
#include "plugins.h"

#include <QAbstractButton>
#include <QMenu>

#include <string>
#include <utility>
#include <vector>

namespace {

using PluginHost = HostFixture;

using Items = std::vector<std::pair<int, std::string>>;

Items EffectItems() {
    Items items;
    for (QAction* action : MenuPopup(kMenuEffect)->actions())
        items.emplace_back(action->data().toInt(), action->text().toStdString());
    return items;
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The test modules, a file that is no shared object, a stale renamed module and a text file.
void FillPluginFolder(const std::filesystem::path& plgin) {
    std::filesystem::create_directories(plgin);
    for (const char* module :
         {INVERT_MODULE, REFUSE_MODULE, WITHOUT_MENU_NAME_MODULE, WITHOUT_DLG_MODULE})
        std::filesystem::copy_file(module, plgin / std::filesystem::path(module).filename());
    std::ofstream(plgin / "Broken.tsk") << "not a module";
    std::ofstream(plgin / "Zoom.X") << "left from an earlier run";
    std::ofstream(plgin / "readme.txt") << "text";
}

void Click(QWidget* dialog, const char* caption) {
    for (auto* button : dialog->findChildren<QAbstractButton*>())
        if (button->text() == caption) return button->click();
}

// The user presses Ok in the module's dialog, once it shows, and Cancel when it stays open.
void PressOkThenCancel() {
    QTimer::singleShot(0, qApp, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        Click(dialog, "Ok");
        if (dialog->isVisible()) Click(dialog, "Cansel");
    });
}

// The grey level the player's picture shows (frames of a fixture file are uniform grey).
int PlayerGrey() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    const QImage shot = PlayerPanel()->control(kPlayerPicture)->grab().toImage();
    return qBlue(shot.pixel(shot.width() / 2, shot.height() / 2));
}

TEST_F(PluginHost, DiscoveryListsModulesInNameOrderAndLeavesTheFolderAlone) {
    FillPluginFolder(folder / "plgin");
    const std::vector<std::string> before = FolderNames(folder / "plgin");
    ASSERT_NE(CreateMainWindow(), nullptr);
    const Items expected = {
        {2000, "No Name"}, {2001, "Invert"}, {2002, "Refuse"}, {2003, "No Dlg"}, {2004, "No Name"}};
    EXPECT_EQ(EffectItems(), expected);
    EXPECT_EQ(FolderNames(folder / "plgin"), before);
    EXPECT_TRUE(ui_script::ShownMessages().empty());
}

TEST_F(PluginHost, DiscoveryListsTheFirstHundredModules) {
    std::filesystem::create_directories(folder / "plgin");
    for (int i = 0; i <= kMaxPlugins; ++i)
        Touch(folder / "plgin" / (std::to_string(1000 + i) + ".tsk"));
    ASSERT_NE(CreateMainWindow(), nullptr);
    const Items items = EffectItems();
    ASSERT_EQ(items.size(), std::size_t(kMaxPlugins));
    EXPECT_EQ(items.back().first, 2099);
    EXPECT_EQ(std::filesystem::path(Plugins().modulePaths.back()).filename(), "1099.tsk");
}

// The user's folder comes before the installed one: of two modules with one name, the user's.
TEST_F(PluginHost, DiscoveryTakesEachNameFromTheFirstFolderThatHasIt) {
    const std::filesystem::path user = folder / "user", installed = folder / "installed";
    for (const auto& place : {user, installed})
        std::filesystem::create_directories(place);
    std::filesystem::copy_file(REFUSE_MODULE, installed / "A.tsk");
    std::filesystem::copy_file(REFUSE_MODULE, installed / "B.tsk");
    std::filesystem::copy_file(INVERT_MODULE, user / "B.tsk");
    std::filesystem::copy_file(WITHOUT_DLG_MODULE, user / "C.tsk");
    UseAppFolders({{user, installed}, tempBase()});
    ASSERT_NE(CreateMainWindow(), nullptr);
    const Items expected = {{2000, "Refuse"}, {2001, "Invert"}, {2002, "No Dlg"}};
    EXPECT_EQ(EffectItems(), expected);
}

struct RunCase {
    const char* name;
    int commandId;
    const char* message; // start of the text shown, or null
    const char* caption;
    bool rendered;               // each run inverts the range's frames
    bool scratchBlocked = false; // file 98 cannot be made
    int runs = 1;
};

TEST_F(PluginHost, RunningAModuleChangesTheSlotOnlyWhenItRendered) {
    FillPluginFolder(folder / "plgin");
    const std::string plgin = (folder / "plgin").string() + "/";
    const RunCase cases[] = {
        {"not a shared object", 2000, "プラグインを読み込めませんでした", "Check", false},
        {"renders", 2001, nullptr, nullptr, true},
        {"renders twice, over its own file", 2001, nullptr, nullptr, true, false, 2},
        {"render fails", 2001, "テンプファイルを作成できませんでした", "Error", false, true},
        {"returns 0", 2002, nullptr, nullptr, false},
        {"without Dlg", 2003, "プラグインに Dlg がありません", "Check", false},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 8, 6, 6));
        Drag(kEditorEndSlider, 3);
        if (c.scratchBlocked) std::filesystem::create_directories(temp() / "98.avi" / "x");
        // The slot's file as an earlier effect left it.
        std::filesystem::copy_file(folder / "a.avi", temp() / "00.avi");
        const std::string slotFile = FileBytes(temp() / "00.avi");
        const std::vector<int> source = FirstBytes(workspace.currentStream);
        workspace.startFrameBuffer[0] = 0; // a picture the refresh must replace
        ui_script::ClearShownMessages();

        for (int run = 0; run < c.runs; ++run) {
            PressOkThenCancel();
            EXPECT_TRUE(DispatchCommand(c.commandId));
            QCoreApplication::processEvents();
        }

        std::vector<int> expected = source;
        if (c.rendered && c.runs % 2)
            for (int n = 0; n <= 3; ++n)
                expected[n] = 255 - source[n];
        EXPECT_EQ(FirstBytes(workspace.currentStream), expected);
        EXPECT_EQ(FirstBytes(workspace.slotStreams[0]), expected);
        EXPECT_EQ(workspace.streamInfo.dwLength, 6u);
        EXPECT_EQ(workspace.rangeStart, 0);
        EXPECT_EQ(workspace.rangeEnd, 3);
        EXPECT_EQ(workspace.startFrameBuffer[0], expected[0]);
        EXPECT_EQ(EditorPanel()->text(kEditorEndNumber).toInt(), 3);
        EXPECT_EQ(PlayerGrey(), expected[0]);
        if (!c.rendered) {
            EXPECT_TRUE(FileBytes(temp() / "00.avi") == slotFile) << "the slot file changed";
        }
        EXPECT_FALSE(std::filesystem::is_regular_file(temp() / "98.avi"));
        const auto& shown = ui_script::ShownMessages();
        ASSERT_EQ(shown.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(shown[0].text.rfind(c.message, 0), 0u) << shown[0].text;
            EXPECT_EQ(shown[0].caption, c.caption);
            if (c.caption == std::string("Check")) {
                EXPECT_NE(shown[0].text.find(plgin), std::string::npos) << shown[0].text;
            }
        }
        std::filesystem::remove_all(temp() / "98.avi");
        CloseHost();
    }
}

TEST_F(PluginHost, AnEffectIsUndoneAndRedoneFromTheEditMenu) {
    FillPluginFolder(folder / "plgin");
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 6));
    Drag(kEditorEndSlider, 3);
    const std::vector<int> source = FirstBytes(workspace.currentStream);
    std::vector<int> inverted = source;
    for (int n = 0; n <= 3; ++n)
        inverted[n] = 255 - source[n];
    EXPECT_FALSE(MenuItem(kCmdRedo)->isEnabled());

    PressOkThenCancel();
    DispatchCommand(2001);
    QCoreApplication::processEvents();
    ASSERT_EQ(FirstBytes(workspace.currentStream), inverted);
    EXPECT_TRUE(MenuItem(kCmdUndo)->isEnabled());

    DispatchCommand(kCmdUndo);
    EXPECT_EQ(FirstBytes(workspace.currentStream), source);
    EXPECT_EQ(FirstBytes(workspace.slotStreams[0]), source);
    EXPECT_EQ(workspace.rangeEnd, 3);
    EXPECT_EQ(PlayerGrey(), source[0]);
    EXPECT_TRUE(MenuItem(kCmdRedo)->isEnabled());

    DispatchCommand(kCmdRedo);
    EXPECT_EQ(FirstBytes(workspace.currentStream), inverted);
    EXPECT_FALSE(MenuItem(kCmdRedo)->isEnabled());
    EXPECT_TRUE(ui_script::ShownMessages().empty());
}

// Paths longer than the record's buffers work as any other: the slot is named after the file.
TEST_F(PluginHost, AThreeHundredBytePathOpensTakesAnEffectAndSaves) {
    FillPluginFolder(folder / "plgin");
    ASSERT_NE(CreateMainWindow(), nullptr);
    std::filesystem::path deep = folder;
    while (deep.string().size() < 300)
        deep /= "a-folder-with-a-long-name";
    std::filesystem::create_directories(deep);
    const std::string source = (deep / "clip.avi").string();
    const std::string saved = (deep / "saved.avi").string();
    ASSERT_TRUE(tiny_avi::WriteVideo(source, {.width = 8, .height = 6, .frames = 4}));
    Open(source);
    ASSERT_EQ(workspace.slotCount, 1);
    EXPECT_STREQ(workspace.slotNames[0], "clip.avi");
    std::vector<int> inverted = FirstBytes(workspace.currentStream);
    for (int n : {0, 1}) // the range 0..1
        inverted[size_t(n)] = 255 - inverted[size_t(n)];

    PressOkThenCancel();
    DispatchCommand(2001);
    QCoreApplication::processEvents();
    EXPECT_EQ(FirstBytes(workspace.currentStream), inverted);

    ui_script::QueueFileAnswer(saved, 1);
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    options.dwFlags = AVICOMPRESSF_VALID;
    ui_script::QueueSaveOptions(options);
    DispatchCommand(kCmdFileSave);
    Open(saved);
    ASSERT_EQ(workspace.slotCount, 2);
    EXPECT_EQ(FirstBytes(workspace.currentStream), inverted);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].text, "ファイルを保存しました。");
}

} // namespace
