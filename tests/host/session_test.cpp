// The session on its own: no window, no Qt. Operations change the slots and the clipboard,
// say why they could not, and announce what changed.
#include "session.h"

#include "../common/tiny_avi.h"

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
                                 EXPECT_EQ(pasted.message, "ストリームのペーストに失敗しました");
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

} // namespace
