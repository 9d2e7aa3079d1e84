// The plug-in dialog skeleton on a host that opened a file: rendering into the slot, renders
// that fail or are cancelled, and the slot list.
#include "../host/host_fixture.h"

#include "avi_io.h"
#include "framework.h"

#include <QAbstractButton>
#include <QTreeWidget>

#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

using Framework = HostFixture;

constexpr int kIdSlider = 1005;
constexpr int kIdList = 1010;

const dlg::ControlDef kControls[] = {
    {dlg::kIdOk, dlg::Kind::PushButton, "Ok", 5, 5, 40, 14},
    {dlg::kIdCancel, dlg::Kind::PushButton, "Cansel", 50, 5, 40, 14},
    {plugin::kIdProgress, dlg::Kind::Progress, "", 5, 24, 100, 8, dlg::kBorder},
    {kIdSlider, dlg::Kind::HSlider, "", 5, 36, 100, 12},
    {kIdList, dlg::Kind::ListView, "", 5, 52, 100, 40},
};

class TestDialog;
// Makes output frame i; may act on the dialog as a user would while the render runs.
using Producer = std::function<bool(TestDialog&, int64_t i, uint8_t* pixels)>;

// The producer as the renderer the framework runs; a failing producer has said why itself.
class TestRenderer : public plugin::Renderer {
  public:
    TestRenderer(TestDialog& dialog, int64_t frames, const BITMAPINFOHEADER& format,
                 const Producer& produce)
        : dialog_(dialog), frames_(frames), format_(format), produce_(produce) {}
    int64_t frameCount() const override { return frames_; }
    const BITMAPINFOHEADER& format() const override { return format_; }
    plugin::FrameResult render(int64_t i, uint8_t* pixels) override {
        return produce_(dialog_, i, pixels) ? plugin::FrameResult::Made()
                                            : plugin::FrameResult::Failed({});
    }

  private:
    TestDialog& dialog_;
    int64_t frames_;
    BITMAPINFOHEADER format_;
    const Producer& produce_;
};

// Ok renders `frames` frames in `format` (the slot's format when null).
class TestDialog : public plugin::PluginDialog {
  public:
    TestDialog(QWidget* parent, EditWorkspace& ws, int64_t frames, const BITMAPINFOHEADER* format,
               Producer produce)
        : PluginDialog({"Test", 120, 100, kControls}, parent, ws), frames_(frames),
          format_(format ? *format : *ws.frameFormat), produce_(std::move(produce)) {}

    EditWorkspace& record() { return workspace(); }
    void click(int id) { static_cast<QAbstractButton*>(control(id))->click(); }

  protected:
    void onControl(int id) override {
        if (id != dlg::kIdOk) return;
        TestRenderer renderer(*this, frames_, format_, produce_);
        renderToSlot(renderer);
    }

  private:
    int64_t frames_;
    BITMAPINFOHEADER format_;
    Producer produce_;
};

// What the user saw of Ok once the render had ended without success.
struct AfterFailure {
    bool okEnabled = false;
};

// Runs the dialog as Dlg does: the user presses Ok and, when the dialog stays open, Cancel.
int RunTestDialog(int64_t frames, const BITMAPINFOHEADER* format, Producer produce,
                  AfterFailure* after = nullptr) {
    return plugin::RunDialog(MainWindow(), &workspace, [&](QWidget* owner, EditWorkspace& ws) {
        auto dialog = std::make_unique<TestDialog>(owner, ws, frames, format, produce);
        TestDialog* shown = dialog.get();
        QTimer::singleShot(0, shown, [shown, after] {
            shown->click(dlg::kIdOk);
            if (!shown->isVisible()) return;
            if (after) after->okEnabled = shown->isControlEnabled(dlg::kIdOk);
            shown->click(dlg::kIdCancel);
        });
        return std::unique_ptr<plugin::PluginDialog>(std::move(dialog));
    });
}

uint8_t Inverted(int64_t i) {
    return uint8_t(255 - tiny_avi::FrameByte(int(std::min<int64_t>(i, 2))));
}

// Output frame i is source frame min(i, 2) inverted.
bool InvertSource(TestDialog& dialog, int64_t i, uint8_t* pixels) {
    EditWorkspace& ws = dialog.record();
    if (!plugin::ReadFrame(ws.currentStream, std::min<int64_t>(i, 2), pixels, *ws.frameFormat))
        return false;
    for (DWORD b = 0; b < ws.frameFormat->biSizeImage; ++b)
        pixels[b] = uint8_t(255 - pixels[b]);
    return true;
}

// Files beyond `bytes` cannot grow while it lives, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

struct SuccessCase {
    const char* name;
    bool slotFormat; // frames in the slot's own header, or in one differing in an unused field
};

TEST_F(Framework, RenderReplacesTheSlotFileWithTheProducedFrames) {
    for (const SuccessCase& c : {SuccessCase{"slot format", true}, SuccessCase{"other", false}}) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 32, 24, 3));
        // A scratch file left behind, here a link to a file of the user's: removed, not
        // written through.
        Touch(folder / "keep.txt");
        std::filesystem::create_symlink(folder / "keep.txt", temp() / "98.avi");
        BITMAPINFOHEADER other = *workspace.frameFormat;
        other.biXPelsPerMeter = 1;

        ASSERT_EQ(RunTestDialog(5, c.slotFormat ? nullptr : &other, InvertSource), 1);
        session::ReloadAfterEffect();

        const std::vector<int> expected = {Inverted(0), Inverted(1), Inverted(2), Inverted(3),
                                           Inverted(4)};
        EXPECT_EQ(FirstBytes(workspace.currentStream), expected);
        EXPECT_EQ(FirstBytes(workspace.slotStreams[0]), expected);
        EXPECT_EQ(workspace.streamInfo.dwLength, 5u);
        EXPECT_EQ(FileBytes(folder / "keep.txt"), "x");
        EXPECT_FALSE(std::filesystem::exists(temp() / "98.avi"));
        EXPECT_FALSE(std::filesystem::exists(temp() / "99.avi"));
        EXPECT_TRUE(ui_script::ShownMessages().empty());
        CloseHost();
    }
}

struct FailureCase {
    const char* name;
    std::function<void(const std::filesystem::path& temp)> prepare;
    Producer produce;
    rlim_t fileSizeLimit; // bytes a file may grow to during the render; 0: no limit
    const char* message;  // shown by the framework, or null
};

TEST_F(Framework, RenderThatFailsOrIsCancelledLeavesTheSlotAlone) {
    std::vector<std::pair<bool, bool>> enabledDuringCancel; // Ok, Cancel
    const FailureCase cases[] = {
        {"producer fails", nullptr,
         [](TestDialog& d, int64_t i, uint8_t* p) { return i < 2 && InvertSource(d, i, p); }, 0,
         nullptr},
        {"scratch file cannot be made",
         [](const std::filesystem::path& temp) {
             std::filesystem::create_directories(temp / "98.avi" / "in-the-way");
         },
         InvertSource, 0, "テンプファイルを作成できませんでした"},
        {"disk full", nullptr, InvertSource, 4096, "フレームを書き込めませんでした"},
        {"cancel during the render", nullptr,
         [&](TestDialog& d, int64_t i, uint8_t* p) {
             if (i == 2) {
                 enabledDuringCancel.emplace_back(d.isControlEnabled(dlg::kIdOk),
                                                  d.isControlEnabled(dlg::kIdCancel));
                 QTimer::singleShot(0, &d, [&d] { d.click(dlg::kIdCancel); });
             }
             return InvertSource(d, i, p);
         },
         0, nullptr},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(MakeAvi("a.avi", 32, 24, 3));
        if (c.prepare) c.prepare(temp());
        // The slot's file as an earlier effect left it.
        std::filesystem::copy_file(folder / "a.avi", temp() / "00.avi");
        const std::string slotFile = FileBytes(temp() / "00.avi");
        const std::string record(reinterpret_cast<const char*>(&workspace), sizeof workspace);
        ui_script::ClearShownMessages();

        AfterFailure after;
        {
            std::optional<FileSizeLimit> limit;
            if (c.fileSizeLimit) limit.emplace(c.fileSizeLimit);
            EXPECT_EQ(RunTestDialog(5, nullptr, c.produce, &after), 0);
        }

        EXPECT_TRUE(after.okEnabled);
        EXPECT_TRUE(FileBytes(temp() / "00.avi") == slotFile) << "the slot file changed";
        EXPECT_FALSE(std::filesystem::is_regular_file(temp() / "98.avi"));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&workspace), sizeof workspace), record);
        const std::vector<int> source = {tiny_avi::FrameByte(0), tiny_avi::FrameByte(1),
                                         tiny_avi::FrameByte(2)};
        EXPECT_EQ(FirstBytes(workspace.slotStreams[0]), source);
        const auto& shown = ui_script::ShownMessages();
        ASSERT_EQ(shown.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(shown[0].text, c.message);
            EXPECT_EQ(shown[0].caption, "Error");
        }
        std::filesystem::remove_all(temp() / "98.avi");
        CloseHost();
    }
    EXPECT_EQ(enabledDuringCancel, (std::vector<std::pair<bool, bool>>{{false, true}}));
}

TEST_F(Framework, DialogThatCannotBeBuiltSaysSo) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    EXPECT_EQ(plugin::RunDialog(MainWindow(), &workspace,
                                [](QWidget*, EditWorkspace&) { return nullptr; }),
              0);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].text, "ダイアログ失敗");
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "OK");
}

struct ListCase {
    int slotCount;
    std::vector<std::string> rows;
};

TEST(FrameworkSlotList, ListsTheSlotsThereAreUpToTen) {
    const std::vector<std::string> ten = {"s0", "s1", "s2", "s3", "s4",
                                          "s5", "s6", "s7", "s8", "s9"};
    for (const ListCase& c : {ListCase{0, {}}, ListCase{2, {"s0", "s1"}}, ListCase{12, ten}}) {
        SCOPED_TRACE(c.slotCount);
        EditWorkspace ws{};
        for (int i = 0; i < kMaxSlots; ++i)
            CopyPath(ws.slotNames[i], ("s" + std::to_string(i)).c_str());
        ws.slotCount = c.slotCount;
        dlg::Dialog dialog({"", 120, 100, kControls}, nullptr);
        plugin::FillSlotList(dialog, kIdList, ws);

        std::vector<std::string> rows;
        for (int row = 0; row < dialog.rowCount(kIdList); ++row)
            rows.push_back(dialog.rowText(kIdList, row).toStdString());
        EXPECT_EQ(rows, c.rows);
        auto* list = static_cast<QTreeWidget*>(dialog.control(kIdList));
        EXPECT_EQ(list->headerItem()->text(0), "Open File Name");
    }
}

} // namespace
