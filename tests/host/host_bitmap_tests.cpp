// Bmp File Open and Bmp File Add: bitmaps as new slots and as frames inserted into a slot.
#include "host_fixture.h"

#include "bitmap_bytes.h"
#include "bitmap_file.h"
#include "editor_panel.h"
#include "stream_list.h"

#include <QSlider>

namespace {

using bitmap_bytes::Picture;

std::vector<uint8_t> FrameOf(PAVISTREAM stream, LONG n) {
    std::vector<uint8_t> frame(workspace.frameFormat->biSizeImage);
    AVIStreamRead(stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr);
    return frame;
}

// The record is packed: its handles are copied out before they are compared.
PAVISTREAM Working() {
    return workspace.currentStream;
}
PAVISTREAM SlotStream(int slot) {
    return workspace.slotStreams[slot];
}

std::vector<uint8_t> Filled(uint8_t byte) {
    return std::vector<uint8_t>(workspace.frameFormat->biSizeImage, byte);
}

// The user drags the end slider, then the start slider.
void Choose(int start, int end) {
    static_cast<QSlider*>(EditorPanel()->control(kEditorEndSlider))->setValue(end);
    static_cast<QSlider*>(EditorPanel()->control(kEditorStartSlider))->setValue(start);
}

class Bitmaps : public HostFixture {
  protected:
    std::string Bmp(const std::string& name, const Picture& picture) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(bitmap_bytes::Write(path, picture));
        return path;
    }
    void Command(int id, const std::string& path) {
        ui_script::QueueFileAnswer(path, 1);
        DispatchCommand(id);
    }
    // A slot of `frames` frames of the tiny AVI kind, 8 x 6, with the range start-end.
    void OpenSlot(int frames, int bitCount, int start, int end) {
        Open(MakeAvi("a.avi", 8, 6, frames, bitCount));
        Choose(start, end);
    }
    bool TempExists(const char* name) const { return std::filesystem::exists(temp() / name); }
    // The files the session keeps for its slots.
    std::vector<std::filesystem::path> SlotFiles() const {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(temp()))
            if (entry.path().extension() == ".avi") files.push_back(entry.path());
        return files;
    }
    // Makes temporary file `name` impossible to write or replace: a folder that is not empty.
    void Block(const char* name) const {
        std::filesystem::create_directories(temp() / name);
        Touch(temp() / name / "x");
    }
    void Unblock(const char* name) const { std::filesystem::remove_all(temp() / name); }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& shown : ui_script::ShownMessages())
            texts.push_back(shown.text + " / " + shown.caption);
        return texts;
    }
};

struct AddCase {
    const char* name;
    Picture picture;
};

TEST_F(Bitmaps, AnAddedBitmapBecomesTheFrameAtTheRangeStart) {
    const AddCase cases[] = {
        {"24-bit", {}},
        {"16-bit", {.bitCount = 16}},
        {"stored top-down", {.height = -6}},
        {"image size field 0", {.imageSizeField = 0}},
        {"pixels after a gap", {.gap = 10}},
        {"124-byte header", {.headerSize = 124}},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        ui_script::ClearShownMessages();
        OpenSlot(10, c.picture.bitCount, 4, 6);
        Command(kCmdBmpFileAdd, Bmp("pic.bmp", c.picture));

        const std::vector<uint8_t> picture = bitmap_bytes::Frame(c.picture);
        EXPECT_EQ(AVIStreamLength(Working()), 11);
        EXPECT_EQ(workspace.streamInfo.dwLength, 11u);
        EXPECT_EQ(FrameOf(Working(), 3), Filled(tiny_avi::FrameByte(3)));
        EXPECT_EQ(FrameOf(Working(), 4), picture);
        EXPECT_EQ(FrameOf(Working(), 5), Filled(tiny_avi::FrameByte(4)));
        EXPECT_EQ(FrameOf(SlotStream(0), 4), picture);
        // The editor shows the range that now starts with the picture.
        EXPECT_EQ(workspace.rangeStart, 4);
        EXPECT_EQ(std::vector<uint8_t>(workspace.startFrameBuffer,
                                       workspace.startFrameBuffer + picture.size()),
                  picture);
        // The slot is backed by its own temporary file; the scratch files are gone.
        const std::vector<std::filesystem::path> files = SlotFiles();
        ASSERT_EQ(files.size(), 1u);
        PAVISTREAM file = nullptr;
        ASSERT_EQ(
            AVIStreamOpenFromFileA(&file, files[0].c_str(), streamtypeVIDEO, 0, OF_READ, nullptr),
            AVIERR_OK);
        EXPECT_EQ(AVIStreamLength(file), 11);
        EXPECT_EQ(FrameOf(file, 4), picture);
        AVIStreamRelease(file);
        EXPECT_FALSE(TempExists("98.avi"));
        EXPECT_FALSE(TempExists("99.avi"));
        EXPECT_TRUE(Messages().empty());
        DestroyMainWindow();
    }
}

struct RefusedAddCase {
    const char* name;
    Picture picture;
    const char* blocked; // a temporary file that cannot be written, or null
    const char* message;
};

TEST_F(Bitmaps, AnAddThatCannotBeDoneChangesNothingAndSaysWhy) {
    const RefusedAddCase cases[] = {
        {"other bit count",
         {.bitCount = 16},
         nullptr,
         "カラービットが現在のストリームと異なります。 / Check"},
        {"other width",
         {.width = 9},
         nullptr,
         "縦横サイズが現在のストリームと異なります。 / Check"},
        {"other height",
         {.height = 5},
         nullptr,
         "縦横サイズが現在のストリームと異なります。 / Check"},
        {"frame file unwritable", {}, "98.avi", "一時保存できませんでした。 / Error"},
        {"flattened file unwritable", {}, "99.avi", "一時保存できませんでした。 / Error"},
    };
    for (const RefusedAddCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        ui_script::ClearShownMessages();
        OpenSlot(10, 24, 4, 6);
        if (c.blocked) Block(c.blocked);
        const PAVISTREAM working = workspace.currentStream;
        const PAVISTREAM slot = workspace.slotStreams[0];
        Command(kCmdBmpFileAdd, Bmp("pic.bmp", c.picture));

        EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(Working(), working);
        EXPECT_EQ(SlotStream(0), slot);
        EXPECT_EQ(AVIStreamLength(working), 10);
        EXPECT_EQ(AVIStreamLength(slot), 10);
        EXPECT_EQ(workspace.streamInfo.dwLength, 10u);
        EXPECT_EQ(workspace.rangeStart, 4);
        EXPECT_EQ(workspace.rangeEnd, 6);
        EXPECT_EQ(FrameOf(working, 4), Filled(tiny_avi::FrameByte(4)));
        if (c.blocked) Unblock(c.blocked);
        EXPECT_FALSE(TempExists("98.avi"));
        EXPECT_FALSE(TempExists("99.avi"));
        DestroyMainWindow();
    }
}

TEST_F(Bitmaps, OpenedWithNoStreamABitmapIsSlot0OfOneFrameAt30PerSecond) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const Picture picture{.height = -6};
    Command(kCmdBmpFileOpen, Bmp("pic.bmp", picture));

    EXPECT_EQ(workspace.slotCount, 1);
    EXPECT_EQ(workspace.currentSlot, 0);
    EXPECT_STREQ(workspace.slotNames[0], "pic.bmp");
    EXPECT_EQ(StreamListPanel()->rowText(kStreamList, 0).toStdString(), "pic.bmp");
    EXPECT_EQ(AVIStreamLength(Working()), 1);
    EXPECT_EQ(FrameOf(Working(), 0), bitmap_bytes::Frame(picture));
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(workspace.slotStreams[0], &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(double(info.dwRate) / info.dwScale, 30.0);
    EXPECT_EQ(info.dwLength, 1u);
    EXPECT_EQ(std::string(info.szName), "\xCB\xDE\xC3\xDE\xB5");
    EXPECT_EQ(info.rcFrame.right, 8);
    EXPECT_EQ(info.rcFrame.bottom, 6);
    EXPECT_EQ(workspace.frameFormat->biWidth, 8);
    EXPECT_EQ(workspace.frameFormat->biHeight, 6);
    EXPECT_EQ(SlotFiles().size(), 1u);
    EXPECT_TRUE(MenuItem(kCmdBmpFileAdd)->isEnabled());
    EXPECT_TRUE(ui_script::ShownMessages().empty());
}

// Slot 1, backed by file 01 after an add, moves down to 0 when slot 0 closes but keeps reading
// file 01, which the bitmap opened as slot 1 is then written to. The frames are larger than a
// reader's buffer, so that the old slot's frames are read from the file again.
TEST_F(Bitmaps, OpenedWhileSlotsExistABitmapIsTheLastSlotAndCurrent) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const Picture added{.width = 128, .height = 128, .seed = 1};
    const Picture opened{.width = 128, .height = 128, .seed = 2};
    Open(MakeAvi("a.avi", 8, 6, 3));
    Open(MakeAvi("b.avi", 128, 128, 10));
    Command(kCmdBmpFileAdd, Bmp("added.bmp", added));
    StreamListPanel()->setCurrentRow(kStreamList, 0);
    DispatchCommand(kCmdCloseStream);
    Command(kCmdBmpFileOpen, Bmp("opened.bmp", opened));

    EXPECT_EQ(workspace.slotCount, 2);
    EXPECT_EQ(workspace.currentSlot, 1);
    EXPECT_EQ(StreamListPanel()->currentRow(kStreamList), 1);
    EXPECT_EQ(EditorPanel()->text(kEditorSlotName).toStdString(), "opened.bmp");
    EXPECT_EQ(FrameOf(Working(), 0), bitmap_bytes::Frame(opened));
    EXPECT_EQ(FrameOf(SlotStream(0), 0), bitmap_bytes::Frame(added));
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(FrameOf(SlotStream(0), n), Filled(tiny_avi::FrameByte(n - 1))) << n;
    EXPECT_TRUE(ui_script::ShownMessages().empty());
}

TEST_F(Bitmaps, AnEleventhSlotIsRefusedBeforeAFileIsAskedFor) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string path = Bmp("pic.bmp", {});
    for (int i = 0; i < kMaxSlots; ++i)
        Command(kCmdBmpFileOpen, path);
    ASSERT_EQ(workspace.slotCount, kMaxSlots);
    ui_script::ClearFileDialogs();
    DispatchCommand(kCmdBmpFileOpen);
    EXPECT_EQ(workspace.slotCount, kMaxSlots);
    EXPECT_TRUE(ui_script::AskedFileDialogs().empty());
    EXPECT_EQ(Messages(), std::vector<std::string>{"ストリームは10個までしか開けません / Check"});
}

struct BadFileCase {
    const char* name;
    Picture picture;
    const char* message;
};

// Each is refused by both commands, with the slots and the working stream as they were.
TEST_F(Bitmaps, AFileThatCannotBeAFrameIsRefusedByBothCommands) {
    const Picture whole{};
    const int64_t size = int64_t(bitmap_bytes::Bytes(whole).size());
    const BadFileCase cases[] = {
        {"no BM mark", {.mark = "XY"}, "ビットマップファイルではありません。"},
        {"shorter than the file header", {.keep = 10}, "ビットマップファイルではありません。"},
        {"ends inside the header", {.keep = 30}, "ビットマップのヘッダーが途中で切れています。"},
        {"12-byte header",
         {.headerSize = 12},
         "このビットマップのヘッダー形式には対応していません。"},
        {"width 0", {.width = 0}, "ビットマップの縦横サイズが不正です（1～16384）。"},
        {"height beyond 16384",
         {.height = 16385, .keep = 200},
         "ビットマップの縦横サイズが不正です（1～16384）。"},
        {"8-bit", {.bitCount = 8}, "16ビットと24ビットのビットマップしか使えません。"},
        {"32-bit", {.bitCount = 32}, "16ビットと24ビットのビットマップしか使えません。"},
        {"bit fields", {.compression = 3}, "圧縮されたビットマップは使えません。"},
        {"colour table", {.coloursUsed = 4}, "カラーテーブル付きのビットマップは使えません。"},
        {"pixels inside the header",
         {.pixelOffsetField = 40},
         "ビットマップの画素データの位置が不正です。"},
        {"one pixel byte short", {.keep = size - 1}, "ビットマップの画素データが足りません。"},
    };
    for (const BadFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        ui_script::ClearShownMessages();
        OpenSlot(10, 24, 4, 6);
        const PAVISTREAM working = workspace.currentStream;
        const std::string path = Bmp("bad.bmp", c.picture);
        Command(kCmdBmpFileOpen, path);
        Command(kCmdBmpFileAdd, path);

        const std::string shown = std::string(c.message) + " / Check";
        EXPECT_EQ(Messages(), (std::vector<std::string>{shown, shown}));
        EXPECT_EQ(workspace.slotCount, 1);
        EXPECT_EQ(Working(), working);
        EXPECT_EQ(AVIStreamLength(working), 10);
        EXPECT_EQ(workspace.rangeStart, 4);
        EXPECT_TRUE(SlotFiles().empty());
        DestroyMainWindow();
    }
}

TEST(BitmapFile, AFileThatCannotBeReadIsUnreadable) {
    bitmap::Frame frame;
    EXPECT_EQ(bitmap::LoadBitmap("/", frame), bitmap::Check::Unreadable);
    EXPECT_EQ(bitmap::LoadBitmap("/no/such/file.bmp", frame), bitmap::Check::Unreadable);
}

} // namespace
