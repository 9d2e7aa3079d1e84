// Opening and closing slots, the editor panel's range sliders, the stream list and the layout.
#include "host_fixture.h"

#include "avi_fixtures.h"

#include "editor_panel.h"
#include "stream_list.h"

#include "avifile/stream.h"
#include "fake_sound.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabBar>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define MIVRA_ASAN 1
// Allocations beyond 1 GiB fail here as they may on a smaller machine, instead of ending the run.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#else
#define MIVRA_ASAN 0
#endif

namespace {

using Host = HostFixture;

int Rows() {
    return StreamListPanel()->rowCount(kStreamList);
}
std::string Row(int row) {
    return StreamListPanel()->rowText(kStreamList, row).toStdString();
}
std::string EditorText(int id) {
    return EditorPanel()->text(id).toStdString();
}

// Removes the first frames of the working stream, as a Cut would.
void CutWorkingStream(LONG frames) {
    LONG start = 0, length = frames;
    PAVISTREAM cut = nullptr;
    ASSERT_EQ(EditStreamCut(workspace.currentStream, &start, &length, &cut), AVIERR_OK);
    AVIStreamRelease(cut);
}

// A stream whose frames claim 3.6 GB each, more than can be allocated while a
// FrameAllocationLimit lives.
class HugeFrameStream final : public AviStream {
  public:
    HRESULT Info(AVISTREAMINFOA& info) override {
        info = {};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwLength = 50;
        return AVIERR_OK;
    }
    LONG Length() override { return 50; }
    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        const BITMAPINFOHEADER header{40, 30000, 30000, 1, 32, BI_RGB, 3600000000u, 0, 0, 0, 0};
        if (format && *size >= LONG(sizeof header)) std::memcpy(format, &header, sizeof header);
        *size = sizeof header;
        return AVIERR_OK;
    }
    HRESULT ReadFrame(LONG, void*, LONG, LONG*) override { return AVIERR_ERROR; }
};

// AddressSanitizer's shadow needs the whole address space, so there the size limit above does
// the work; elsewhere the address space is held to 1 GiB above what is in use.
class FrameAllocationLimit {
  public:
    FrameAllocationLimit() {
        if (MIVRA_ASAN) return;
        getrlimit(RLIMIT_AS, &saved_);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit = saved_;
        limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(1) << 30);
        setrlimit(RLIMIT_AS, &limit);
    }
    ~FrameAllocationLimit() {
        if (!MIVRA_ASAN) setrlimit(RLIMIT_AS, &saved_);
    }

  private:
    rlimit saved_{};
};

TEST_F(Host, ThreeOpensGiveThreeNamedSlotsWithTheLastCurrent) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    // File names are bytes: one that is not UTF-8 opens and is shown as Qt decodes file names.
    const std::string odd = "\xff"
                            "c.avi";
    for (const std::string& name : {std::string("a.avi"), std::string("b.avi"), odd})
        Open(MakeAvi(name, 32, 24, 5));
    const std::string shown = QFile::decodeName(QByteArray::fromStdString(odd)).toStdString();
    EXPECT_EQ(workspace.slotCount, 3);
    EXPECT_EQ(workspace.currentSlot, 2);
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(Row(0), "a.avi");
    EXPECT_EQ(Row(2), shown);
    EXPECT_STREQ(workspace.slotNames[1], "b.avi");
    EXPECT_EQ(std::string(workspace.slotNames[2]), odd);
    EXPECT_EQ(StreamListPanel()->currentRow(kStreamList), 2);
    EXPECT_EQ(EditorText(kEditorSlotName), shown);
    EXPECT_EQ(hostFlags & kPanelsExist, kPanelsExist);
    EXPECT_TRUE(ui_script::ShownMessages().empty());
}

TEST_F(Host, FirstOpenEnablesTheStreamCommandsAndLaysOutTheWindow) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    const QPoint corner = window->pos();
    Open(MakeAvi("a.avi", 32, 24, 5));
    for (int id : {kCmdFileSave, kCmdCloseStream, kCmdBmpFileAdd})
        EXPECT_TRUE(MenuItem(id)->isEnabled()) << id;
    for (int position : {kMenuEdit, kMenuEffect, kMenuTool})
        EXPECT_TRUE(MenuPopup(position)->menuAction()->isEnabled()) << position;

    // The editor and the player share the tab control above its strip; the stream list stands
    // to the right; the window's client area holds exactly these.
    const QRect tab = TabControl()->geometry();
    const QRect list = StreamListPanel()->geometry();
    EXPECT_TRUE(tab.contains(EditorPanel()->geometry().translated(tab.topLeft())));
    EXPECT_EQ(PlayerPanel()->geometry(), EditorPanel()->geometry());
    EXPECT_GT(TabBar()->geometry().top(), EditorPanel()->geometry().bottom());
    EXPECT_LE(TabBar()->geometry().bottom(), tab.height());
    EXPECT_EQ(list.left(), tab.right() + 1);
    EXPECT_EQ(list.height(), tab.height());
    EXPECT_EQ(window->size(),
              QSize(list.right() + 1, tab.bottom() + 1 + window->menuBar()->sizeHint().height()));
    EXPECT_EQ(window->pos(), corner);
    EXPECT_TRUE(EditorPanel()->isVisible() || !window->isVisible());
    EXPECT_FALSE(PlayerPanel()->isEnabled());
}

TEST_F(Host, ClosingAMiddleSlotMovesTheLaterOnesDown) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    int frames = 5;
    for (const char* name : {"a.avi", "b.avi", "c.avi"})
        Open(MakeAvi(name, 32, 24, frames++));
    StreamListPanel()->setCurrentRow(kStreamList, 1);
    DispatchCommand(kCmdCloseStream);
    EXPECT_EQ(workspace.slotCount, 2);
    EXPECT_EQ(workspace.currentSlot, 0);
    // Handles are copied out of the packed record before they are compared.
    const PAVISTREAM moved = workspace.slotStreams[1];
    const PAVISTREAM emptied = workspace.slotStreams[2];
    EXPECT_EQ(AVIStreamLength(moved), 7);
    EXPECT_EQ(emptied, nullptr);
    EXPECT_STREQ(workspace.slotNames[1], "c.avi");
    EXPECT_STREQ(workspace.slotNames[2], "");
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Row(1), "c.avi");
    EXPECT_EQ(workspace.rangeStart, 0);
    EXPECT_EQ(workspace.rangeEnd, 1);
    EXPECT_EQ(EditorText(kEditorSlotName), "a.avi");
}

TEST_F(Host, ClosingTheOnlySlotReturnsToTheStartState) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    const QSize startSize = window->size();
    Open(MakeAvi("a.avi", 32, 24, 5));
    DispatchCommand(kCmdCloseStream);
    EXPECT_EQ(window->size(), startSize);
    EXPECT_EQ(window->width(), 300);
    EXPECT_EQ(EditorPanel(), nullptr);
    EXPECT_EQ(StreamListPanel(), nullptr);
    EXPECT_EQ(PlayerPanel(), nullptr);
    EXPECT_EQ(hostFlags, 0);
    EXPECT_EQ(workspace.slotCount, 0);
    EXPECT_FALSE(workspace.currentStream);
    for (int id : {kCmdFileSave, kCmdCloseStream, kCmdBmpFileAdd, kCmdCopy, kCmdCut})
        EXPECT_FALSE(MenuItem(id)->isEnabled()) << id;
    for (int position : {kMenuEffect, kMenuTool})
        EXPECT_FALSE(MenuPopup(position)->menuAction()->isEnabled()) << position;
    // The close can be undone: Edit stays open for Undo alone.
    EXPECT_TRUE(MenuPopup(kMenuEdit)->menuAction()->isEnabled());
    EXPECT_TRUE(MenuItem(kCmdUndo)->isEnabled());

    Open(MakeAvi("b.avi", 32, 24, 5)); // and the next open starts over
    EXPECT_EQ(workspace.slotCount, 1);
    EXPECT_EQ(Row(0), "b.avi");
}

TEST_F(Host, CloseWithNoMarkedRowClosesNothing) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 32, 24, 5));
    Open(MakeAvi("b.avi", 32, 24, 5));
    StreamListPanel()->setCurrentRow(kStreamList, -1);
    DispatchCommand(kCmdCloseStream);
    EXPECT_EQ(workspace.slotCount, 2);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(Host, ClosingFitsTheFrameBuffersToTheNewCurrentSlot) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("small.avi", 8, 6, 3));
    Open(MakeAvi("large.avi", 64, 48, 3));
    StreamListPanel()->setCurrentRow(kStreamList, 0);
    DispatchCommand(kCmdCloseStream);
    EXPECT_EQ(workspace.frameFormat->biWidth, 64);
    // Reading and painting both ends must stay inside the buffers (the sanitizers check).
    RefreshEditorPanel();
    EditorPanel()->invalidate();
    QCoreApplication::processEvents();
    EXPECT_EQ(workspace.startFrameBuffer[64 * 48 * 3 - 1], tiny_avi::FrameByte(0));
    EXPECT_EQ(workspace.endFrameBuffer[64 * 48 * 3 - 1], tiny_avi::FrameByte(1));
}

TEST_F(Host, AnEleventhOpenIsRefusedAndChangesNothing) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string path = MakeAvi("a.avi", 8, 6, 3);
    for (int i = 0; i < kMaxSlots; ++i)
        Open(path);
    ASSERT_EQ(workspace.slotCount, kMaxSlots);
    ui_script::ClearFileDialogs();
    Open(path);
    EXPECT_EQ(workspace.slotCount, kMaxSlots);
    EXPECT_EQ(workspace.currentSlot, kMaxSlots - 1);
    EXPECT_EQ(Rows(), kMaxSlots);
    EXPECT_TRUE(ui_script::AskedFileDialogs().empty()); // refused before asking for a file
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Check");
    ui_script::ClearFileDialogs(); // the unused answer
}

TEST_F(Host, AFailedOpenKeepsTheCurrentSlot) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 32, 24, 5));
    const BITMAPINFOHEADER format = *workspace.frameFormat;
    const DWORD length = workspace.streamInfo.dwLength;
    std::ofstream(folder / "junk.avi") << "not a video at all";
    Open((folder / "junk.avi").string());
    EXPECT_EQ(workspace.slotCount, 1);
    EXPECT_EQ(std::memcmp(workspace.frameFormat, &format, sizeof format), 0);
    EXPECT_EQ(workspace.streamInfo.dwLength, length);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
}

// Opening offers every video file first; saving writes AVI only and keeps a filter of its own.
TEST_F(Host, TheFilterChosenIsOfferedByTheNextDialogOfItsKind) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string path = MakeAvi("a.avi", 8, 6, 3);
    ui_script::QueueFileAnswer(path, 2);
    DispatchCommand(kCmdFileOpen);
    Open(path); // ends with filter 1
    Open(path);
    DispatchCommand(kCmdFileSave); // cancelled
    const auto& asked = ui_script::AskedFileDialogs();
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[1].filterIndex, 2u);
    EXPECT_EQ(asked[2].filterIndex, 1u);
    EXPECT_EQ(asked[0].title, "マルチメディア");
    EXPECT_EQ(
        asked[0].filter,
        (std::vector<std::string>{
            "Video files (*.avi *.mp4 *.mkv *.mov *.webm *.m4v *.mpg *.mpeg *.ts *.wmv *.flv)",
            "*.avi;*.mp4;*.mkv;*.mov;*.webm;*.m4v;*.mpg;*.mpeg;*.ts;*.wmv;*.flv",
            "digitalvideo(*.avi)", "*.avi", "All Files(*.*)", "*.*"}));
    EXPECT_TRUE(asked[3].save);
    EXPECT_EQ(asked[3].filterIndex, 0u);
    EXPECT_EQ(asked[3].filter,
              (std::vector<std::string>{"digitalvideo(*.avi)", "*.avi", "All Files(*.*)", "*.*"}));
}

TEST(StripPath, KeepsTheNameOrTheFolder) {
    const struct {
        const char* path;
        int mode;
        const char* expected;
    } cases[] = {
        {"/movies/clip.avi", 1, "clip.avi"},
        {"/movies/clip.avi", 0, "/movies/"},
        {"/app/plgin/*.tsk", 0, "/app/plgin/"},
        {"clip.avi", 1, "clip.avi"},
        {"clip.avi", 0, ""},
        {"/movies/", 1, ""},
    };
    for (const auto& c : cases) {
        char path[kPathSize];
        std::memset(path, 'z', sizeof path);
        std::strcpy(path, c.path);
        StripPath(path, c.mode);
        EXPECT_STREQ(path, c.expected) << c.path << " mode " << c.mode;
        for (size_t i = std::strlen(c.expected); i < kPathSize; ++i)
            ASSERT_EQ(path[i], 0);
    }
}

TEST_F(Host, SlidersOfAHundredFrameStream) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 100));
    EXPECT_EQ(EditorPanel()->maximum(kEditorStartSlider), 99);
    EXPECT_EQ(EditorPanel()->maximum(kEditorEndSlider), 99);
    EXPECT_EQ(EditorText(kEditorStartNumber), "0");
    EXPECT_EQ(EditorText(kEditorEndNumber), "1");
    EXPECT_EQ(workspace.startFrameBuffer[0], tiny_avi::FrameByte(0));
    EXPECT_EQ(workspace.endFrameBuffer[0], tiny_avi::FrameByte(1));

    Drag(kEditorEndSlider, 40);
    EXPECT_EQ(workspace.rangeEnd, 40);
    EXPECT_EQ(EditorText(kEditorEndNumber), "40");
    Drag(kEditorStartSlider, 20);
    EXPECT_EQ(workspace.rangeStart, 20);
    EXPECT_EQ(EditorText(kEditorStartNumber), "20");
    QCoreApplication::processEvents(); // the deferred paint reads both ends
    EXPECT_EQ(workspace.startFrameBuffer[0], tiny_avi::FrameByte(20));
    EXPECT_EQ(workspace.endFrameBuffer[0], tiny_avi::FrameByte(40));

    Drag(kEditorStartSlider, 60); // past End: pulled back one short of it
    EXPECT_EQ(workspace.rangeStart, 39);
    EXPECT_EQ(Slider(kEditorStartSlider)->value(), 39);
    EXPECT_EQ(EditorText(kEditorStartNumber), "39");

    Drag(kEditorStartSlider, 0);
    Drag(kEditorEndSlider, 0); // onto Start: back to one past it
    EXPECT_EQ(workspace.rangeEnd, 1);
    EXPECT_EQ(Slider(kEditorEndSlider)->value(), 1);
}

// Drags back and forth over an H.264 file with B-frames, each position painted as the user sees
// it: where the thumbs stop, the pictures are those frames, not ones shown on the way.
TEST_F(Host, SliderDragsOfACompressedFileStopOnTheFramesUnderTheThumbs) {
    if (!fixtures::HasEncoder("libx264")) GTEST_SKIP() << "libx264 not available";
    fixtures::EncodeOptions o;
    o.encoder = "libx264";
    o.gop = 15;
    o.bFrames = 3;
    const std::string path = (folder / "drag.avi").string();
    ASSERT_TRUE(fixtures::EncodeAvi(path, o));
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(path);
    for (int end : {30, 29, 27, 36, 12, 33}) {
        Drag(kEditorEndSlider, end);
        QCoreApplication::processEvents();
    }
    for (int start : {20, 19, 5, 8}) {
        Drag(kEditorStartSlider, start);
        QCoreApplication::processEvents();
    }
    const LONG bytes = LONG(workspace.frameFormat->biSizeImage);
    // The workspace is packed: its pointers are read by value, never bound to a reference.
    const uint8_t* start = workspace.startFrameBuffer;
    const uint8_t* end = workspace.endFrameBuffer;
    fixtures::Frame frame(size_t(bytes), 0);
    for (const auto& [n, shown] : {std::pair{8, start}, std::pair{33, end}}) {
        PAVISTREAM fresh = fixtures::OpenView(path);
        ASSERT_NE(fresh, nullptr);
        ASSERT_EQ(AVIStreamRead(fresh, n, 1, frame.data(), bytes, nullptr, nullptr), AVIERR_OK);
        AVIStreamRelease(fresh);
        EXPECT_EQ(fixtures::Frame(shown, shown + bytes), frame) << "frame " << n;
    }
}

TEST_F(Host, MovingStartTakesTheEndSlidersClampedPositionAfterACut) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 100));
    LONG start = 10, length = 89;
    PAVISTREAM cut = nullptr;
    ASSERT_EQ(EditStreamCut(workspace.currentStream, &start, &length, &cut), AVIERR_OK);
    AVIStreamRelease(cut);
    AVIStreamInfoA(workspace.currentStream, &workspace.streamInfo, sizeof(AVISTREAMINFOA));
    ASSERT_EQ(workspace.streamInfo.dwLength, 11u);
    workspace.rangeStart = 10;
    workspace.rangeEnd = 11;
    RefreshEditorPanel();
    Drag(kEditorStartSlider, 5);
    EXPECT_EQ(workspace.rangeStart, 5);
    EXPECT_EQ(workspace.rangeEnd, 10);
}

TEST_F(Host, SlidersCarryTheFullFrameCount) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 2, 2, 100));
    // Grow the working stream past 65536 frames by pasting it into itself.
    for (int i = 0; i < 10; ++i) {
        LONG position = 0, length = 0;
        PAVISTREAM copy = nullptr;
        CreateEditableStream(&copy, workspace.currentStream);
        ASSERT_EQ(EditStreamPaste(workspace.currentStream, &position, &length, copy, 0,
                                  AVIStreamLength(copy)),
                  AVIERR_OK);
        AVIStreamRelease(copy);
    }
    AVIStreamInfoA(workspace.currentStream, &workspace.streamInfo, sizeof(AVISTREAMINFOA));
    ASSERT_EQ(workspace.streamInfo.dwLength, 102400u);
    RefreshEditorPanel();
    EXPECT_EQ(EditorPanel()->maximum(kEditorEndSlider), 102400 - 1);
}

TEST_F(Host, AOneFrameStreamKeepsTheRangeNonNegative) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 1));
    EXPECT_EQ(EditorPanel()->maximum(kEditorStartSlider), 0);
    EXPECT_EQ(workspace.rangeEnd, 1);
    Slider(kEditorStartSlider)->triggerAction(QAbstractSlider::SliderToMinimum);
    Drag(kEditorEndSlider, 0);
    EXPECT_EQ(workspace.rangeStart, 0);
    EXPECT_EQ(workspace.rangeEnd, 1);
    EXPECT_EQ(workspace.endFrameBuffer[0], 0); // no frame 1: the right picture stays black
}

TEST_F(Host, StreamInformationText) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 320, 240, 150));
    EXPECT_EQ(StreamInfoText(), "Color Bit 24\nWindow Size 320 X 240\nFrame Length 150");
    Open(MakeAvi("b.avi", 30, 20, 7, 16));
    EXPECT_EQ(StreamInfoText(), "Color Bit 16\nWindow Size 030 X 020\nFrame Length 007");
}

TEST(SoundFormat, ShowsTheRateAndChannelsOrNothingWithoutSound) {
    FakeSound sound(1, 8000);
    const struct {
        PAVISTREAM stream;
        DWORD rate;
        WORD channels;
        const char* text;
    } cases[] = {{nullptr, 0, 0, ""},
                 {&sound, 48000, 2, "48000 Hz 2 ch"},
                 {&sound, 8000, 1, "8000 Hz 1 ch"}};
    for (const auto& c : cases) {
        session::SlotSound slot{c.stream, {}};
        slot.format.nSamplesPerSec = c.rate;
        slot.format.nChannels = c.channels;
        EXPECT_EQ(SoundFormatText(slot), c.text);
    }
}

TEST_F(Host, EditsStayInTheirSlotWhenAnotherSlotBecomesCurrent) {
    const struct {
        const char* change;
        std::function<void()> makeAnotherCurrent;
        const char* current; // the slot current afterwards: its name and length
        DWORD length;
        int editedRow; // the edited slot's row afterwards
    } cases[] = {
        {"switch", [] { SwitchToSlot(0); }, "a.avi", 10, 2},
        {"close another slot",
         [] {
             StreamListPanel()->setCurrentRow(kStreamList, 1);
             DispatchCommand(kCmdCloseStream);
         },
         "a.avi", 10, 1},
        {"open another file", [this] { Open(MakeAvi("d.avi", 8, 6, 4)); }, "d.avi", 4, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 8, 6, 10));
        Open(MakeAvi("b.avi", 8, 6, 20));
        Open(MakeAvi("c.avi", 16, 12, 30));
        CutWorkingStream(5);
        c.makeAnotherCurrent();
        EXPECT_EQ(EditorText(kEditorSlotName), c.current);
        EXPECT_EQ(workspace.streamInfo.dwLength, c.length);
        EXPECT_EQ(workspace.frameFormat->biWidth, 8);

        SwitchToSlot(c.editedRow);
        EXPECT_EQ(workspace.currentSlot, c.editedRow);
        EXPECT_EQ(EditorText(kEditorSlotName), "c.avi");
        EXPECT_EQ(workspace.streamInfo.dwLength, 25u);
        EXPECT_EQ(workspace.frameFormat->biWidth, 16);
        EXPECT_EQ(workspace.startFrameBuffer[0], tiny_avi::FrameByte(5));
        QCoreApplication::processEvents();
        EXPECT_EQ(StreamListPanel()->currentRow(kStreamList), c.editedRow);
        DestroyMainWindow();
    }
}

TEST_F(Host, ASlotWhoseFramesCannotBeHeldIsRefusedAndTheCurrentOneStays) {
    const struct {
        const char* change;
        std::function<void()> makeHugeSlotCurrent;
    } cases[] = {
        {"switch", [] { SwitchToSlot(1); }},
        {"close the current slot",
         [] {
             StreamListPanel()->setCurrentRow(kStreamList, 0);
             DispatchCommand(kCmdCloseStream);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 8, 6, 10));
        Open(MakeAvi("huge.avi", 8, 6, 10));
        SwitchToSlot(0);
        AVIStreamRelease(workspace.slotStreams[1]);
        workspace.slotStreams[1] = new HugeFrameStream;
        ui_script::ClearShownMessages();
        {
            const FrameAllocationLimit limit;
            c.makeHugeSlotCurrent();
        }
        ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
        EXPECT_EQ(ui_script::ShownMessages()[0].text, "メモリが足りません");
        EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
        EXPECT_EQ(workspace.slotCount, 2);
        EXPECT_EQ(Rows(), 2);
        EXPECT_EQ(workspace.currentSlot, 0);
        EXPECT_EQ(EditorText(kEditorSlotName), "a.avi");
        EXPECT_EQ(workspace.streamInfo.dwLength, 10u);
        EXPECT_EQ(workspace.frameFormat->biWidth, 8);
        ASSERT_TRUE(workspace.startFrameBuffer && workspace.endFrameBuffer);
        RefreshEditorPanel();
        QCoreApplication::processEvents();
        EXPECT_EQ(workspace.endFrameBuffer[8 * 6 * 3 - 1], tiny_avi::FrameByte(1));
        DestroyMainWindow();
    }
}

TEST_F(Host, ASliderPulledBackShowsTheRangeHeld) {
    const struct {
        const char* move;
        int endFirst;
        std::function<void()> move2;
        int start, end;
    } cases[] = {
        {"Start dragged past End", 237, [] { Drag(kEditorStartSlider, 250); }, 236, 237},
        {"Start sent to the far end", 237,
         [] { Slider(kEditorStartSlider)->triggerAction(QAbstractSlider::SliderToMaximum); }, 236,
         237},
        {"End sent Home", 298,
         [] { Slider(kEditorEndSlider)->triggerAction(QAbstractSlider::SliderToMinimum); }, 0, 1},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 300));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.move);
        Drag(kEditorStartSlider, 0);
        Drag(kEditorEndSlider, c.endFirst);
        QCoreApplication::processEvents();
        c.move2();
        QCoreApplication::processEvents();
        EXPECT_EQ(Slider(kEditorStartSlider)->value(), c.start);
        EXPECT_EQ(Slider(kEditorEndSlider)->value(), c.end);
        EXPECT_EQ(EditorText(kEditorStartNumber), std::to_string(c.start));
        EXPECT_EQ(EditorText(kEditorEndNumber), std::to_string(c.end));
        EXPECT_EQ(workspace.startFrameBuffer[0], tiny_avi::FrameByte(c.start));
        EXPECT_EQ(workspace.endFrameBuffer[0], tiny_avi::FrameByte(c.end));
    }
}

TEST_F(Host, TheFirstOpenAfterClosingOnThePlayerTabUsesTheEditorKeys) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 3));
    TabBar()->setCurrentIndex(kTabPlayer);
    DispatchCommand(kCmdCloseStream);
    Open(MakeAvi("b.avi", 8, 6, 3));
    EXPECT_EQ(TabBar()->currentIndex(), kTabEditor);
    EXPECT_EQ(CurrentAcceleratorTable(), 109);
    EXPECT_EQ(LiveKeys(), (std::map<std::string, int>{{"Ctrl+C", kCmdCopy},
                                                      {"Ctrl+V", kCmdPaste},
                                                      {"Del", kCmdCloseStream},
                                                      {"Ctrl+X", kCmdCut},
                                                      {"Ctrl+Z", kCmdUndo},
                                                      {"Ctrl+Y", kCmdRedo},
                                                      {"Ctrl+Shift+Z", kCmdRedo}}));
    EXPECT_TRUE(MenuPopup(kMenuEdit)->menuAction()->isEnabled());
}

// Qt cannot list a name that is not UTF-8; the dialog says so instead of hiding the file.
TEST_F(Host, TheFileDialogTellsOfNamesItCannotList) {
    const std::string bad = "\xff"
                            "bad.avi";
    const std::string shown = QFile::decodeName(QByteArray::fromStdString(bad)).toStdString();
    const struct {
        const char* where;
        std::string folder;  // of the file with the bad name
        std::string visited; // the folder the user goes to in the dialog, if any
        std::vector<std::string> seen;
    } cases[] = {
        {"the folder shown first", ".", "", {"message", "cancelled"}},
        {"a folder gone to", "clips", "clips", {"went to clips", "message", "cancelled"}},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    std::filesystem::create_directories(folder / "clips");
    ui_script::End();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        std::filesystem::current_path(folder);
        MakeAvi(c.folder + "/" + bad, 8, 6, 3);
        MakeAvi(c.folder + "/good.avi", 8, 6, 3);
        std::vector<std::string> answered;
        std::string explained;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                answered.push_back("message");
                explained = box->text().toStdString();
                box->accept();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                const QString there = QString::fromStdString((folder / c.visited).string());
                if (c.visited.empty() || QDir(there) == dialog->directory()) {
                    answered.push_back("cancelled");
                    dialog->reject();
                } else if (answered.empty()) {
                    // Queued: the message it brings must not wait inside this timer's own call.
                    answered.push_back("went to " + c.visited);
                    QTimer::singleShot(0, dialog, [dialog, there] { dialog->setDirectory(there); });
                }
            }
        });
        answer.start(0);
        DispatchCommand(kCmdFileOpen);
        answer.stop();
        EXPECT_EQ(answered, c.seen);
        EXPECT_NE(explained.find(shown), std::string::npos) << explained;
        EXPECT_EQ(explained.find("good.avi"), std::string::npos);
        EXPECT_EQ(workspace.slotCount, 0);
        std::filesystem::remove(folder / c.folder / bad);
    }
}

TEST_F(Host, DeleteKeyClosesTheSlotOnEitherTab) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("a.avi", 8, 6, 3));
    Open(MakeAvi("b.avi", 8, 6, 3));
    TabBar()->setCurrentIndex(kTabPlayer);
    for (QAction* action : MainWindow()->actions())
        if (action->isEnabled() && action->shortcut() == QKeySequence(Qt::Key_Delete))
            action->trigger();
    EXPECT_EQ(workspace.slotCount, 1);
}

} // namespace

namespace {

// The editor with two slots, as a person sees it. With MIVRA_SCREENSHOT set, the window is
// saved there as a PNG.
TEST_F(Host, EditorPicturesShowTheFramesOfTheRange) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    window->show();
    const std::string first = (folder / "sunset.avi").string();
    const std::string second = (folder / "garden.avi").string();
    ASSERT_TRUE(WriteGradientAvi(first, 320, 240, 60, 24));
    ASSERT_TRUE(WriteGradientAvi(second, 160, 120, 40, 16));
    Open(first);
    Open(second);
    Drag(kEditorEndSlider, 30);
    Drag(kEditorStartSlider, 10);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    const QImage shot = window->grab().toImage();
    const QWidget* picture = EditorPanel()->control(kEditorStartPicture);
    // Inside the frame, which keeps its aspect ratio within the picture.
    const QPoint left = picture->mapTo(window, QPoint(picture->width() / 3, picture->height() / 2));
    const QPoint right =
        picture->mapTo(window, QPoint(picture->width() * 2 / 3, picture->height() / 2));
    EXPECT_NE(shot.pixel(left), shot.pixel(right)); // a gradient, not an empty box
    if (const char* path = std::getenv("MIVRA_SCREENSHOT")) {
        EXPECT_TRUE(shot.save(path));
    }
}

} // namespace
