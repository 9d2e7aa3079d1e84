// The Edit menu's commands through the host clipboard, and the clipboard checker.
#include "host_fixture.h"

#include "clipboard_checker.h"
#include "editor_panel.h"
#include "ui/ui.h"

#include <QAction>
#include <QSlider>
#include <QTabBar>

#include <functional>
#include <string>
#include <vector>

namespace {

using Host = HostFixture;

// The frame numbers a stream holds, told by their bytes (FrameByte is one-to-one on 0..255).
std::vector<int> FramesOf(PAVISTREAM stream) {
    std::vector<int> frames;
    const LONG length = AVIStreamLength(stream);
    std::vector<uint8_t> buffer(workspace.frameFormat->biSizeImage);
    for (LONG n = 0; n < length; ++n) {
        buffer[0] = 0;
        AVIStreamRead(stream, n, 1, buffer.data(), LONG(buffer.size()), nullptr, nullptr);
        int number = 0;
        while (number < 256 && tiny_avi::FrameByte(number) != buffer[0])
            ++number;
        frames.push_back(number);
    }
    return frames;
}

// first .. last - 1, appended to the frames so far.
std::vector<int> Then(std::vector<int> frames, int first, int last) {
    for (int n = first; n < last; ++n)
        frames.push_back(n);
    return frames;
}

std::vector<int> Frames(int first, int last) {
    return Then({}, first, last);
}

// The user drags the end slider, then the start slider.
void Choose(int start, int end) {
    static_cast<QSlider*>(EditorPanel()->control(kEditorEndSlider))->setValue(end);
    static_cast<QSlider*>(EditorPanel()->control(kEditorStartSlider))->setValue(start);
}

void Command(int id) {
    MenuItem(id)->trigger();
}

std::string Text(dlg::Dialog* dialog, int id) {
    return dialog->text(id).toStdString();
}

struct EditCase {
    const char* name;
    int frames;
    std::function<void()> steps;
    std::vector<int> expected; // frames of the working stream and of the slot
    int start, end;
    std::vector<int> clipboard;
};

TEST_F(Host, EditCommandsMoveFramesThroughTheClipboard) {
    const EditCase cases[] = {
        {"cut", 100, [] { Choose(10, 20), Command(kCmdCut); }, Then(Frames(0, 10), 20, 100), 10, 11,
         Frames(10, 20)},
        {"copy", 100, [] { Choose(0, 1), Command(kCmdCopy); }, Frames(0, 100), 0, 1, {0}},
        {"paste", 100, [] { Choose(50, 60), Command(kCmdCopy), Choose(5, 6), Command(kCmdPaste); },
         Then(Then(Frames(0, 5), 50, 60), 5, 100), 5, 15, Frames(50, 60)},
        {"paste twice",
         6,
         [] { Choose(1, 3), Command(kCmdCut), Command(kCmdPaste), Command(kCmdPaste); },
         {0, 1, 2, 1, 2, 3, 4, 5},
         1,
         3,
         {1, 2}},
        {"reverse",
         7,
         [] { Choose(2, 5), Command(kCmdStreamReverse); },
         {0, 1, 5, 4, 3, 2, 6},
         2,
         5,
         {}},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 4, 2, c.frames));
        c.steps();
        QCoreApplication::processEvents();
        EXPECT_EQ(FramesOf(workspace.currentStream), c.expected);
        EXPECT_EQ(FramesOf(workspace.slotStreams[0]), c.expected);
        EXPECT_EQ(workspace.streamInfo.dwLength, c.expected.size());
        EXPECT_EQ(FramesOf(clipboardStream), c.clipboard);
        EXPECT_EQ(EditorPanel()->text(kEditorStartNumber).toInt(), c.start);
        EXPECT_EQ(EditorPanel()->text(kEditorEndNumber).toInt(), c.end);
        EXPECT_EQ(workspace.startFrameBuffer[0], tiny_avi::FrameByte(c.expected[c.start]));
        EXPECT_TRUE(ui_script::ShownMessages().empty());
        DestroyMainWindow();
    }
}

// The clipboard first takes the frames of a file of the given shape (none when width is 0),
// then a 4 x 2, 24-bit file of `frames` frames becomes the current slot.
struct FailureCase {
    const char* name;
    int width, height, bitCount;
    int frames;
    int command;
    std::string message;
};

TEST_F(Host, FailedEditsChangeNothingAndSaySo) {
    const std::string paste = "ストリームのペーストに失敗しました\n";
    const FailureCase cases[] = {
        {"paste of an empty clipboard", 0, 0, 0, 5, kCmdPaste, paste + "クリップボードが空です"},
        {"paste of wider frames", 8, 2, 24, 5, kCmdPaste,
         paste + "クリップボード: 8x2 24ビット、スロット: 4x2 24ビット"},
        {"paste of taller frames", 4, 3, 24, 5, kCmdPaste,
         paste + "クリップボード: 4x3 24ビット、スロット: 4x2 24ビット"},
        {"paste of 16-bit frames", 4, 2, 16, 5, kCmdPaste,
         paste + "クリップボード: 4x2 16ビット、スロット: 4x2 24ビット"},
        {"reverse past the last frame", 0, 0, 0, 1, kCmdStreamReverse,
         "ストリームの反転に失敗しました"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        if (c.width) {
            Open(MakeAvi("b.avi", c.width, c.height, 5, c.bitCount));
            Command(kCmdCopy);
        }
        Open(MakeAvi("a.avi", 4, 2, c.frames));
        const int slot = workspace.currentSlot;
        const std::vector<int> before = FramesOf(workspace.currentStream);
        const std::vector<int> clipboard = FramesOf(clipboardStream);
        ui_script::ClearShownMessages();
        Command(c.command);
        EXPECT_EQ(FramesOf(workspace.currentStream), before);
        EXPECT_EQ(FramesOf(workspace.slotStreams[slot]), before);
        EXPECT_EQ(FramesOf(clipboardStream), clipboard);
        EXPECT_EQ(workspace.streamInfo.dwLength, before.size());
        ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
        EXPECT_EQ(ui_script::ShownMessages()[0].text, c.message);
        EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
        DestroyMainWindow();
    }
}

TEST_F(Host, ACutLeavingOneFrameClosesTheSlotAndTheClipboardOutlivesIt) {
    for (int slotsOpen : {1, 2}) {
        SCOPED_TRACE(slotsOpen);
        ui_script::ClearShownMessages();
        ASSERT_NE(CreateMainWindow(), nullptr);
        if (slotsOpen == 2) Open(MakeAvi("b.avi", 4, 2, 3));
        Open(MakeAvi("a.avi", 4, 2, 8));
        Choose(0, 7);
        Command(kCmdCut);
        ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
        EXPECT_EQ(ui_script::ShownMessages()[0].text, "ストリームが空なのでクローズします");
        EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Check");
        EXPECT_EQ(workspace.slotCount, slotsOpen - 1);
        EXPECT_EQ(EditorPanel() != nullptr, slotsOpen == 2);

        while (workspace.slotCount > 0)
            DispatchCommand(kCmdCloseStream);
        Open(MakeAvi("c.avi", 4, 2, 2));
        Command(kCmdPaste);
        EXPECT_EQ(FramesOf(workspace.currentStream), Then(Frames(0, 7), 0, 2));
        DestroyMainWindow();
    }
}

struct CheckerCase {
    const char* name;
    std::function<void()> steps;
    std::string status;
    std::string picture;
    bool sliderEnabled;
    int shown; // frame drawn in the picture, -1 for none
};

// The checker's picture is uniform grey: one frame's bytes, of the first 30 frames.
int ShownFrame() {
    QCoreApplication::processEvents();
    QWidget* picture = ClipboardChecker()->control(kCheckerPicture);
    const QColor centre = picture->grab().toImage().pixelColor(picture->rect().center());
    for (int n = 0; n < 30; ++n)
        if (centre ==
            QColor(tiny_avi::FrameByte(n), tiny_avi::FrameByte(n), tiny_avi::FrameByte(n)))
            return n;
    return -1;
}

TEST_F(Host, TheCheckerShowsTheClipboard) {
    const CheckerCase cases[] = {
        {"empty", [] { Command(kCmdClipboardChecker); }, "Nothing Clip Board", "Nothing Clip Board",
         false, -1},
        {"one frame copied", [] { Choose(0, 1), Command(kCmdCopy), Command(kCmdClipboardChecker); },
         "All 000/ Disp 000", "", true, 0},
        {"cut while slotsOpen, slider moved",
         [] {
             Command(kCmdClipboardChecker);
             Choose(10, 20), Command(kCmdCut);
             static_cast<QSlider*>(ClipboardChecker()->control(kCheckerSlider))->setValue(3);
         },
         "All 009/ Disp 003", "", true, 13},
    };
    for (const CheckerCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 4, 2, 30));
        c.steps();
        ASSERT_NE(ClipboardChecker(), nullptr);
        EXPECT_EQ(Text(ClipboardChecker(), kCheckerStatus), c.status);
        EXPECT_EQ(Text(ClipboardChecker(), kCheckerPicture), c.picture);
        EXPECT_EQ(ClipboardChecker()->isControlEnabled(kCheckerSlider), c.sliderEnabled);
        EXPECT_EQ(ShownFrame(), c.shown);
        DestroyMainWindow();
    }
}

// After each step: whether the checker is shown, the menu's check mark, and what else it shows.
struct CheckerStep {
    const char* name;
    std::function<void()> act;
    bool shown;
    bool checked;
    std::function<void()> verify = [] {};
};

TEST_F(Host, TheCheckerFollowsTheEditorTabAndItsMenuItem) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    MainWindow()->show();
    Open(MakeAvi("a.avi", 4, 2, 3));
    QRect placed;
    const CheckerStep steps[] = {
        {"menu opens", [] { Command(kCmdClipboardChecker); }, true, true},
        {"moved",
         [&] {
             ClipboardChecker()->move(ClipboardChecker()->pos() + QPoint(37, 23));
             QCoreApplication::processEvents();
             placed = ClipboardChecker()->geometry();
         },
         true, true,
         [] {
             EXPECT_EQ(repaintRequests & kRepaintAll,
                       kRepaintStreamInfo | kRepaintStartPicture | kRepaintEndPicture);
         }},
        {"player tab hides", [] { TabBar()->setCurrentIndex(kTabPlayer); }, false, true},
        {"editor tab restores", [] { TabBar()->setCurrentIndex(kTabEditor); }, true, true,
         [&] { EXPECT_EQ(ClipboardChecker()->geometry(), placed); }},
        {"close box", [] { ClipboardChecker()->close(); }, false, false},
        {"player and editor tabs",
         [] {
             TabBar()->setCurrentIndex(kTabPlayer);
             TabBar()->setCurrentIndex(kTabEditor);
         },
         false, false},
        {"menu opens again", [] { Command(kCmdClipboardChecker); }, true, true},
        {"menu closes", [] { Command(kCmdClipboardChecker); }, false, false},
    };
    for (const CheckerStep& step : steps) {
        SCOPED_TRACE(step.name);
        repaintRequests = 0;
        step.act();
        QCoreApplication::processEvents();
        const bool shown = ClipboardChecker() && ClipboardChecker()->isVisible();
        EXPECT_EQ(shown, step.shown);
        EXPECT_EQ(MenuItem(kCmdClipboardChecker)->isChecked(), step.checked);
        EXPECT_EQ(bool(hostFlags & kCheckerMarkedOpen), step.checked);
        step.verify();
    }
}

struct DiscardCase {
    const char* name;
    std::function<void()> discard;
    bool closesTheWindow;
};

TEST_F(Host, DiscardingUnsavedChangesAsksAndCancelKeepsEverything) {
    const DiscardCase paths[] = {
        {"Exit", [] { DispatchCommand(kCmdExit); }, true},
        {"close box", [] { MainWindow()->close(); }, true},
        {"Close Stream", [] { DispatchCommand(kCmdCloseStream); }, false},
    };
    for (const DiscardCase& path : paths) {
        for (const bool edited : {true, false}) {
            for (const int answer : {IDCANCEL, IDOK}) {
                SCOPED_TRACE(std::string(path.name) + (edited ? ", edited, " : ", unedited, ") +
                             (answer == IDOK ? "OK" : "Cancel"));
                ASSERT_NE(CreateMainWindow(), nullptr);
                Open(MakeAvi("a.avi", 32, 24, 6));
                if (edited) {
                    Drag(kEditorEndSlider, 3);
                    DispatchCommand(kCmdCut);
                }
                ui_script::ClearShownMessages();
                ui_script::QueueMessageAnswer(answer);

                path.discard();

                const auto& shown = ui_script::ShownMessages();
                ASSERT_EQ(shown.size(), edited ? 1u : 0u);
                if (edited) {
                    EXPECT_EQ(shown[0].caption, "Check");
                    EXPECT_EQ(shown[0].type, MB_OKCANCEL);
                }
                const bool kept = edited && answer == IDCANCEL;
                EXPECT_EQ(MainWindow() != nullptr, kept || !path.closesTheWindow);
                if (MainWindow()) {
                    EXPECT_EQ(workspace.slotCount, kept ? 1 : 0);
                }
                if (kept) {
                    EXPECT_EQ(workspace.streamInfo.dwLength, 3u);
                }
                CloseHost();
                ui_script::Begin(); // an answer an unasked path left queued is forgotten
            }
        }
    }
}

} // namespace
