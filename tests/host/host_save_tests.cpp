// File Save: where the file lands and what it holds, and the old file kept whole when a save
// fails or is cancelled.
#include "host_fixture.h"

#include "avi_fixtures.h"
#include "editor_panel.h"
#include "ui/ui.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>

#include <csignal>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Host = HostFixture;

const char kSaved[] = "ファイルを保存しました。";
const char kNotSaved[] = "ファイルを保存できませんでした。";
const char kReplace[] = "ファイルは既にあります。上書きしてよろしいですか？";

AVICOMPRESSOPTIONS Options(DWORD handler) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = handler;
    options.dwFlags = AVICOMPRESSF_VALID;
    return options;
}

// The frame numbers a saved file holds, told by their bytes (FrameByte is one-to-one on 0..255).
std::vector<int> FramesIn(const fs::path& path) {
    PAVISTREAM view = fixtures::OpenView(path.string());
    if (!view) return {};
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    AVIStreamReadFormat(view, 0, &format, &size);
    std::vector<int> frames;
    for (const fixtures::Frame& frame : fixtures::ReadAll(view, LONG(format.biSizeImage))) {
        int number = 0;
        while (number < 256 && tiny_avi::FrameByte(number) != frame[0])
            ++number;
        frames.push_back(number);
    }
    AVIStreamRelease(view);
    return frames;
}

std::set<fs::path> Listing(const fs::path& folder) {
    std::set<fs::path> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename());
    return names;
}

std::string Bytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void Save(const fs::path& target, const AVICOMPRESSOPTIONS& options) {
    ui_script::QueueFileAnswer(target.string(), 1);
    ui_script::QueueSaveOptions(options);
    DispatchCommand(kCmdFileSave);
}

struct SaveCase {
    const char* name;
    const char* target; // below the working folder
    bool existing;      // a file of that name is there already
    const char* handler;
    std::function<void()> edit;
    std::vector<int> frames;
};

TEST_F(Host, SavingOverAFileTheUserKeepsWritesNothing) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    const std::string source = MakeAvi("clip.avi", 16, 8, 6);
    Open(source);
    DispatchCommand(kCmdStreamReverse);
    const std::string original = Bytes(source);
    ui_script::ClearShownMessages();
    ui_script::QueueMessageAnswer(IDCANCEL);
    ui_script::QueueFileAnswer(source, 1);
    DispatchCommand(kCmdFileSave);

    EXPECT_EQ(Bytes(source), original);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Check");
    EXPECT_TRUE(ui_script::AskedSaveOptionsDialogs().empty());
    EXPECT_TRUE(session::HasUnsavedChanges(0));
}

TEST_F(Host, SaveWritesTheCurrentSlotWhereTheUserChose) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    fs::create_directory(folder / "other");
    const SaveCase cases[] = {
        {"new file", "saved.avi", false, "DIB ", [] {}, {0, 1, 2, 3, 4, 5}},
        {"over an old file", "saved.avi", true, "DIB ", [] {}, {0, 1, 2, 3, 4, 5}},
        {"another folder", "other/saved.avi", false, "DIB ", [] {}, {0, 1, 2, 3, 4, 5}},
        {"after a cut",
         "cut.avi",
         false,
         "FFV1",
         [] {
             static_cast<QSlider*>(EditorPanel()->control(kEditorEndSlider))->setValue(4);
             static_cast<QSlider*>(EditorPanel()->control(kEditorStartSlider))->setValue(1);
             DispatchCommand(kCmdCut);
         },
         {0, 4, 5}},
    };
    int clip = 0;
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        Open(MakeAvi("clip" + std::to_string(clip++) + ".avi", 16, 8, 6));
        c.edit();
        const fs::path target = folder / c.target;
        if (c.existing) Touch(target);
        std::set<fs::path> expected = Listing(target.parent_path());
        expected.insert(target.filename());
        ui_script::ClearShownMessages();

        Save(target, Options(mmioFOURCC(c.handler[0], c.handler[1], c.handler[2], c.handler[3])));

        EXPECT_EQ(FramesIn(target), c.frames);
        EXPECT_EQ(Listing(target.parent_path()), expected);
        // An old file is replaced only after the user said so.
        const auto& shown = ui_script::ShownMessages();
        ASSERT_EQ(shown.size(), c.existing ? 2u : 1u);
        if (c.existing) {
            EXPECT_EQ(shown[0].text, target.string() + "\n" + kReplace);
        }
        EXPECT_EQ(shown.back().text, kSaved);
        EXPECT_EQ(shown.back().caption, "Check");
        EXPECT_EQ(ui_script::AskedSaveOptionsDialogs().back().flags,
                  unsigned(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW));
        EXPECT_STREQ(workspace.savePath, target.filename().c_str());
    }
}

// Files of the process may not grow beyond `bytes` while it lives: writes past that fail as on
// a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);
    }

  private:
    rlimit saved{};
    void (*savedSignal)(int) = nullptr;
};

// Presses the progress dialog's Cancel as soon as it shows.
void CancelProgressWhenShown(QTimer& timer) {
    QObject::connect(&timer, &QTimer::timeout, [&timer] {
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!progress) return;
        progress->findChild<QPushButton*>()->click();
        timer.stop();
    });
    timer.start(0);
}

// Well below the 30 frames of 9 KiB a failing save writes.
constexpr rlim_t kFileSizeLimit = 64 * 1024;

enum class Failure { OptionsCancelled, ProgressCancelled, WriteFails };

struct FailureCase {
    const char* name;
    Failure failure;
    std::vector<std::string> messages;
};

TEST_F(Host, AFailedOrCancelledSaveLeavesTheOldFileAlone) {
    const FailureCase cases[] = {
        {"options cancelled", Failure::OptionsCancelled, {}},
        {"progress cancelled", Failure::ProgressCancelled, {}},
        {"write fails", Failure::WriteFails, {kNotSaved}},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("clip.avi", 64, 48, 30));
    const fs::path target = folder / "old.avi";
    std::ofstream(target) << "the old file";
    const std::set<fs::path> before = Listing(folder);
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ui_script::ClearShownMessages();
        ui_script::QueueFileAnswer(target.string(), 1);
        if (c.failure == Failure::OptionsCancelled)
            ui_script::QueueSaveOptionsCancel();
        else
            ui_script::QueueSaveOptions(Options(mmioFOURCC('D', 'I', 'B', ' ')));
        QTimer canceller;
        if (c.failure == Failure::ProgressCancelled) CancelProgressWhenShown(canceller);
        std::optional<FileSizeLimit> limit;
        if (c.failure == Failure::WriteFails) limit.emplace(kFileSizeLimit);
        DispatchCommand(kCmdFileSave);
        limit.reset();
        canceller.stop();

        EXPECT_EQ(Bytes(target), "the old file");
        EXPECT_EQ(Listing(folder), before);
        std::vector<std::string> shown;
        for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
            shown.push_back(message.text);
        std::vector<std::string> expected = {target.string() + "\n" + kReplace};
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(shown, expected);
    }
}

} // namespace
