// The disk a render takes: the instance's folder holds the frames an effect made and no more,
// and a rendered file goes as soon as neither a slot, the clipboard nor Undo needs it.
#include "session.h"

#include "../common/tiny_avi.h"
#include "color_render.h"
#include "invert_effect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 32, kHeight = 24, kFrameBytes = kWidth * kHeight * 3;

class RenderDisk : public testing::Test {
  protected:
    void SetUp() override {
        previous = fs::current_path();
        folder = fs::temp_directory_path() / ("mivra-render-disk-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
    }
    void TearDown() override {
        session::End();
        fs::current_path(previous);
        fs::remove_all(folder);
    }

    std::string MakeAvi(const std::string& name, int frames) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(tiny_avi::WriteVideo(
            path, {.width = kWidth, .height = kHeight, .bitCount = 24, .frames = frames}));
        return path;
    }

    // The sizes of the frame files in the instance's folder.
    static std::vector<uintmax_t> RenderedFiles() {
        std::vector<uintmax_t> sizes;
        for (const auto& entry : fs::directory_iterator(fs::path(workspace.tempDir).parent_path()))
            if (entry.path().extension() == ".avi") sizes.push_back(entry.file_size());
        return sizes;
    }

    static std::vector<std::vector<uint8_t>> Frames(PAVISTREAM stream) {
        std::vector<std::vector<uint8_t>> frames(size_t(AVIStreamLength(stream)),
                                                 std::vector<uint8_t>(kFrameBytes));
        for (size_t n = 0; n < frames.size(); ++n)
            AVIStreamRead(stream, LONG(n), 1, frames[n].data(), kFrameBytes, nullptr, nullptr);
        return frames;
    }

    fs::path previous, folder;
};

// Stores every frame it renders, as renders did before they stored only what they change.
class EveryFrame : public plugin::Renderer {
  public:
    explicit EveryFrame(plugin::Renderer& inner) : inner_(inner) {}
    int64_t frameCount() const override { return inner_.frameCount(); }
    const BITMAPINFOHEADER& format() const override { return inner_.format(); }
    plugin::FrameResult render(int64_t index, uint8_t* pixels) override {
        plugin::FrameResult result = inner_.render(index, pixels);
        result.made = result.ok;
        return result;
    }

  private:
    plugin::Renderer& inner_;
};

// The colour change the dialog makes with blue +3 and a blue step of 1 per frame over the range.
Outcome ChangeColour(bool storeEveryFrame) {
    return session::ApplyEffect([storeEveryFrame](EditWorkspace* ws) {
        ColorParams params;
        params.format = *ws->frameFormat;
        InitColorMasks(params.state, params.format);
        params.state.offsetB = 3;
        params.state.stepB = 1;
        params.pixelX = kWidth;
        params.pixelY = kHeight;
        params.source = ws->slotStreams[ws->currentSlot];
        params.frameCount = ws->streamInfo.dwLength;
        params.rangeStart = ws->rangeStart;
        params.rangeEnd = ws->rangeEnd;
        ColorRenderer colour(params);
        EveryFrame every(colour);
        plugin::Renderer& renderer = storeEveryFrame ? static_cast<plugin::Renderer&>(every)
                                                     : static_cast<plugin::Renderer&>(colour);
        return plugin::RenderIntoSlot(*ws, renderer, {}).state ==
               plugin::RenderOutcome::State::Rendered;
    });
}

TEST_F(RenderDisk, AColourChangeStoresOnlyItsFramesAndShowsWhatAFullRenderShows) {
    ASSERT_TRUE(session::Start().done);
    ASSERT_TRUE(session::OpenVideo(MakeAvi("long.avi", 3000).c_str()).done);
    const auto source = Frames(workspace.currentStream);
    session::SetRange(1501, 1799); // frames 1500 .. 1799 change
    ASSERT_TRUE(ChangeColour(false).done);
    const std::vector<uintmax_t> stored = RenderedFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_GE(stored[0], 300u * kFrameBytes);
    EXPECT_LE(stored[0], 300u * kFrameBytes * 11 / 10);
    const auto changed = Frames(workspace.currentStream);
    ASSERT_EQ(changed.size(), source.size());
    EXPECT_EQ(changed[1499], source[1499]);
    EXPECT_NE(changed[1500], source[1500]);
    EXPECT_NE(changed[1799], source[1799]);
    EXPECT_EQ(changed[1800], source[1800]);

    ASSERT_TRUE(session::Undo().done);
    EXPECT_EQ(RenderedFiles(), stored); // kept for Redo
    ASSERT_TRUE(ChangeColour(true).done);
    EXPECT_EQ(Frames(workspace.currentStream), changed);
    const std::vector<uintmax_t> full = RenderedFiles(); // the first render's file is gone
    ASSERT_EQ(full.size(), 1u);
    EXPECT_GE(full[0], 3000u * kFrameBytes);

    ASSERT_TRUE(session::Undo().done);
    session::SetRange(0, 1);
    ASSERT_TRUE(session::Cut().done); // nothing can be redone any more
    EXPECT_TRUE(RenderedFiles().empty());
}

// With no room for Undo's files, only the slots' own files stay: a slot moved down by a close
// and rendered again leaves nothing of its earlier render behind, nor does closing it.
TEST_F(RenderDisk, FilesGoWhenNoSlotNorUndoNeedsThem) {
    ASSERT_TRUE(session::Start({.undoDiskBudget = 1}).done);
    ASSERT_TRUE(session::OpenVideo(MakeAvi("a.avi", 8).c_str()).done);
    ASSERT_TRUE(session::OpenVideo(MakeAvi("b.avi", 8).c_str()).done);
    ASSERT_TRUE(invert_effect::Apply().done);
    ASSERT_EQ(RenderedFiles().size(), 1u);
    ASSERT_TRUE(session::CloseSlot(0).done);
    ASSERT_TRUE(invert_effect::Apply().done);
    EXPECT_EQ(RenderedFiles().size(), 1u);
    ASSERT_TRUE(session::CloseSlot(0).done);
    EXPECT_TRUE(RenderedFiles().empty());
}

} // namespace
