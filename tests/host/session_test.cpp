// The session on its own: no window, no Qt. Operations change the slots and the clipboard,
// say why they could not, and announce what changed.
#include "session.h"

#include "../common/tiny_avi.h"
#include "invert_effect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Session : public testing::Test {
  protected:
    void SetUp() override {
        previous = fs::current_path();
        folder = fs::temp_directory_path() / ("mivra-session-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
        session::SetObserver([this](unsigned changes) { announced.push_back(changes); });
        ASSERT_TRUE(session::Start().done);
    }
    void TearDown() override {
        session::End();
        session::SetObserver(nullptr);
        fs::current_path(previous);
        fs::remove_all(folder);
    }

    // An 8-frame file whose frame i is filled with FrameByte(i).
    std::string MakeAvi(const std::string& name, int frames = 8) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(tiny_avi::WriteVideo(path, {.frames = frames}));
        return path;
    }

  public:
    // The frames of a stream as the numbers of the source frames they show.
    static std::vector<int> Frames(PAVISTREAM stream) {
        std::vector<int> numbers;
        std::vector<uint8_t> frame(workspace.frameFormat->biSizeImage);
        for (LONG n = 0; n < AVIStreamLength(stream); ++n) {
            AVIStreamRead(stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr);
            int number = -1;
            for (int i = 0; i < 256 && number < 0; ++i)
                if (tiny_avi::FrameByte(i) == frame[0]) number = i;
            numbers.push_back(number);
        }
        return numbers;
    }

  protected:
    fs::path previous, folder;
    std::vector<unsigned> announced;
};

struct EditCase {
    const char* name;
    std::function<void()> edit; // on an 8-frame slot
    std::vector<int> slot;      // its frames afterwards, in the working stream and the slot
    std::vector<int> clipboard;
    unsigned changes; // announced by the last operation
};
void PrintTo(const EditCase& c, std::ostream* out) {
    *out << c.name;
}

class SessionEdits : public Session, public testing::WithParamInterface<EditCase> {};

TEST_P(SessionEdits, ChangeTheSlotAndTheClipboardAndSaySo) {
    const EditCase& c = GetParam();
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi").c_str()).done);
    c.edit();
    EXPECT_EQ(Frames(workspace.currentStream), c.slot);
    EXPECT_EQ(Frames(workspace.slotStreams[0]), c.slot);
    EXPECT_EQ(workspace.streamInfo.dwLength, c.slot.size());
    EXPECT_EQ(Frames(clipboardStream), c.clipboard);
    ASSERT_FALSE(announced.empty());
    EXPECT_EQ(announced.back(), c.changes);
}

const std::vector<int> kUntouched = {0, 1, 2, 3, 4, 5, 6, 7};

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionEdits,
    testing::Values(EditCase{"Cut",
                             [] {
                                 session::SetRange(2, 5);
                                 EXPECT_TRUE(session::Cut().done);
                             },
                             {0, 1, 5, 6, 7},
                             {2, 3, 4},
                             session::kFramesChanged | session::kClipboardChanged},
                    EditCase{"CutThenPasteAtTheStart",
                             [] {
                                 session::SetRange(2, 5);
                                 session::Cut();
                                 session::SetRange(0, 1);
                                 EXPECT_TRUE(session::Paste().done);
                                 EXPECT_EQ(workspace.rangeStart, 0);
                                 EXPECT_EQ(workspace.rangeEnd, 3);
                             },
                             {2, 3, 4, 0, 1, 5, 6, 7},
                             {2, 3, 4},
                             session::kFramesChanged},
                    EditCase{"Copy",
                             [] {
                                 session::SetRange(1, 3);
                                 EXPECT_TRUE(session::Copy().done);
                             },
                             kUntouched,
                             {1, 2},
                             session::kRangeChanged | session::kClipboardChanged},
                    EditCase{"ReverseBothEndsIncluded",
                             [] {
                                 session::SetRange(1, 4);
                                 EXPECT_TRUE(session::Reverse().done);
                             },
                             {0, 4, 3, 2, 1, 5, 6, 7},
                             {},
                             session::kFramesChanged},
                    EditCase{"PasteOfAnEmptyClipboardFails",
                             [] {
                                 const Outcome pasted = session::Paste();
                                 EXPECT_FALSE(pasted.done);
                                 EXPECT_EQ(
                                     pasted.message,
                                     "ストリームのペーストに失敗しました\nクリップボードが空です");
                             },
                             kUntouched,
                             {},
                             session::kSlotsChanged},
                    EditCase{"EditsSurviveASwitchToAnotherSlotAndBack",
                             [] {
                                 session::SetRange(0, 4);
                                 session::Cut();
                                 session::OpenVideo("b.avi"); // missing: nothing changes
                                 const std::string other = (fs::current_path() / "c.avi").string();
                                 tiny_avi::WriteVideo(other, {.frames = 2});
                                 EXPECT_TRUE(session::OpenVideo(other.c_str()).done);
                                 EXPECT_TRUE(session::SwitchSlot(0).done);
                             },
                             {4, 5, 6, 7},
                             {0, 1, 2, 3},
                             session::kSlotsChanged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Session, RefusalsLeaveTheSlotsAsTheyWere) {
    const Outcome missing = session::OpenVideo((folder / "missing.avi").c_str());
    EXPECT_FALSE(missing.done);
    EXPECT_EQ(missing.message, "ファイルを開けませんでした");
    EXPECT_EQ(workspace.slotCount, 0);

    const std::string path = MakeAvi("a.avi", 2);
    for (int i = 0; i < kMaxSlots; ++i)
        ASSERT_TRUE(session::OpenVideo(path.c_str()).done);
    const Outcome eleventh = session::OpenVideo(path.c_str());
    EXPECT_FALSE(eleventh.done);
    EXPECT_EQ(eleventh.message, "ストリームは10個までしか開けません");
    EXPECT_STREQ(eleventh.caption, "Check");
    EXPECT_EQ(workspace.slotCount, kMaxSlots);
}

TEST_F(Session, ClosingASlotMovesTheLaterOnesDownAndMakesTheFirstCurrent) {
    session::OpenVideo(MakeAvi("a.avi", 3).c_str());
    session::OpenVideo(MakeAvi("b.avi", 5).c_str());
    session::OpenVideo(MakeAvi("c.avi", 7).c_str());
    ASSERT_TRUE(session::CloseSlot(1).done);
    EXPECT_EQ(workspace.slotCount, 2);
    EXPECT_EQ(workspace.currentSlot, 0);
    EXPECT_STREQ(workspace.slotNames[0], "a.avi");
    EXPECT_STREQ(workspace.slotNames[1], "c.avi");
    EXPECT_EQ(AVIStreamLength(workspace.slotStreams[1]), 7);
    EXPECT_EQ(workspace.streamInfo.dwLength, 3u);
    ASSERT_TRUE(session::CloseSlot(0).done);
    ASSERT_TRUE(session::CloseSlot(0).done);
    EXPECT_FALSE(session::HasSlots());
    EXPECT_EQ(PAVISTREAM{workspace.currentStream}, nullptr);
}

// What a user can see of the session: every slot's frames, name and rate, the current slot and
// its range, and the clipboard.
struct Look {
    std::vector<std::vector<int>> frames;
    std::vector<std::string> names;
    std::vector<DWORD> rates;
    int current = 0;
    int32_t start = 0, end = 0;
    std::vector<int> working, clipboard;
    bool operator==(const Look&) const = default;
};

Look Now(const std::function<std::vector<int>(PAVISTREAM)>& frames) {
    Look look;
    for (int i = 0; i < workspace.slotCount; ++i) {
        look.frames.push_back(frames(workspace.slotStreams[i]));
        look.names.emplace_back(workspace.slotNames[i]);
        AVISTREAMINFOA info{};
        AVIStreamInfoA(workspace.slotStreams[i], &info, sizeof info);
        look.rates.push_back(info.dwRate);
    }
    look.current = workspace.currentSlot;
    look.start = workspace.rangeStart;
    look.end = workspace.rangeEnd;
    if (workspace.currentStream) look.working = frames(workspace.currentStream);
    look.clipboard = frames(clipboardStream);
    return look;
}

struct UndoCase {
    const char* name;
    std::function<Outcome(const fs::path& folder)> change; // on slots a (8 frames) and b (3)
};
void PrintTo(const UndoCase& c, std::ostream* out) {
    *out << c.name;
}

class SessionUndo : public Session, public testing::WithParamInterface<UndoCase> {};

TEST_P(SessionUndo, BringsBackTheStateBeforeAndRedoTheStateAfter) {
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi").c_str()).done);
    ASSERT_TRUE(session::OpenVideo(MakeAvi("b.avi", 3).c_str()).done);
    ASSERT_TRUE(session::SwitchSlot(0).done);
    session::SetRange(2, 5);
    ASSERT_TRUE(session::Copy().done);
    const Look before = Now(Frames);

    ASSERT_TRUE(GetParam().change(folder).done);
    const Look after = Now(Frames);
    ASSERT_NE(after, before);
    EXPECT_FALSE(session::CanRedo());

    ASSERT_TRUE(session::Undo().done);
    EXPECT_EQ(Now(Frames), before);
    ASSERT_TRUE(session::Redo().done);
    EXPECT_EQ(Now(Frames), after);

    // A new change after an undo leaves nothing to redo.
    ASSERT_TRUE(session::Undo().done);
    ASSERT_TRUE(session::Reverse().done);
    EXPECT_FALSE(session::CanRedo());
    EXPECT_TRUE(session::CanUndo());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SessionUndo,
    testing::Values(
        UndoCase{"Cut", [](const fs::path&) { return session::Cut(); }},
        UndoCase{"Paste", [](const fs::path&) { return session::Paste(); }},
        UndoCase{"Reverse", [](const fs::path&) { return session::Reverse(); }},
        UndoCase{"RateSet", [](const fs::path&) { return session::SetRate(50); }},
        UndoCase{
            "OpenAnotherFile",
            [](const fs::path& folder) { return session::OpenVideo((folder / "b.avi").c_str()); }},
        UndoCase{"CloseTheCurrentSlot", [](const fs::path&) { return session::CloseSlot(0); }},
        UndoCase{"CloseAnotherSlot", [](const fs::path&) { return session::CloseSlot(1); }}),
    [](const auto& info) { return std::string(info.param.name); });

// The range is the one set before each change, not a change of its own: left out here.
Look Content() {
    Look look = Now(Session::Frames);
    look.start = look.end = 0;
    return look;
}

TEST_F(Session, FiftyMixedChangesUndoneToTheOpenedFileAndRedoneToTheEnd) {
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi").c_str()).done);
    const Look opened = Content();
    for (int step = 0; step < 50; ++step) {
        const int32_t length = int32_t(workspace.streamInfo.dwLength);
        session::SetRange(step % std::max(length - 1, 1), std::min(step % 5 + 2, length - 1));
        if (workspace.rangeStart >= workspace.rangeEnd) session::SetRange(0, 1);
        switch (step % 3) {
        case 0:
            ASSERT_TRUE(session::Reverse().done) << step;
            break;
        case 1:
            ASSERT_TRUE(session::Copy().done) << step;
            ASSERT_TRUE(session::Paste().done) << step;
            break;
        default:
            ASSERT_TRUE(session::SetRate(DWORD(10 + step)).done) << step;
        }
    }
    const Look last = Content();
    for (int step = 0; step < 50; ++step)
        ASSERT_TRUE(session::Undo().done) << step;
    EXPECT_EQ(Content(), opened);
    EXPECT_TRUE(session::CanUndo()); // the opening itself
    while (session::CanRedo())
        ASSERT_TRUE(session::Redo().done);
    EXPECT_EQ(Content(), last);
}

// Rendered files kept for Undo stay within the budget: the oldest steps go, with their files.
TEST_F(Session, UndoForgetsTheOldestRendersPastItsDiskBudgetAndSaysSoOnce) {
    const auto renderedFiles = [] {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(workspace.tempDir))
            if (entry.path().extension() == ".avi") files.push_back(entry.path());
        return files;
    };
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi").c_str()).done);
    ASSERT_TRUE(invert_effect::Apply().done);
    ASSERT_EQ(renderedFiles().size(), 1u);
    const uintmax_t fileSize = fs::file_size(renderedFiles()[0]);
    session::End();
    // Room for two and a half rendered files.
    ASSERT_TRUE(session::Start({.undoDiskBudget = fileSize * 5 / 2}).done);
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi").c_str()).done);
    std::vector<std::string> told;
    for (int render = 0; render < 4; ++render) {
        const Outcome rendered = invert_effect::Apply();
        ASSERT_TRUE(rendered.done) << render;
        told.push_back(rendered.message);
    }
    const std::string trimmed =
        "元に戻すための一時ファイルが上限を超えたので、古い操作は元に戻せなくなりました。";
    EXPECT_EQ(told, (std::vector<std::string>{"", "", trimmed, ""}));
    EXPECT_EQ(renderedFiles().size(), 2u);
    const std::vector<int> inverted = Frames(workspace.currentStream);
    EXPECT_TRUE(session::Undo().done);
    EXPECT_NE(Frames(workspace.currentStream), inverted);
    EXPECT_FALSE(session::CanUndo());
}

} // namespace
