// The cross-fade dialog driven through its controls by id on slots opened by the real host.
#include "../host/host_fixture.h"

#include "avi_fixtures.h"
#include "avi_io.h"
#include "crossfade_dialog.h"

#include <QAbstractButton>
#include <QTest>
#include <QTreeWidget>

#include <dlfcn.h>

namespace {

using namespace crossfade;
using fixtures::Frame;

constexpr int kWidth = 30, kHeight = 4; // rows padded to four bytes in 24 bits, not in 16

// Frame n of the source is picture n, of a destination picture kDestination + n (or kOther + n).
constexpr int kDestination = 100, kOther = 200;
Frame Picture(int number, int bitCount = 24) {
    return fixtures::PatternFrame(kWidth, kHeight, bitCount, number);
}

// The pictures first .. last.
std::vector<int> Pictures(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n)
        numbers.push_back(n);
    return numbers;
}
std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A user's step: a slider dragged to a position, or (position -1) a button clicked.
using Steps = std::vector<std::pair<int, int>>;

class Crossfade : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_NE(CreateMainWindow(), nullptr);
    }
    void TearDown() override {
        dialog.reset();
        HostFixture::TearDown();
    }
    void OpenStream(int frames, int base, int bitCount = 24, int width = kWidth) {
        if (frames == 0) return;
        std::vector<Frame> pictures;
        for (int n = 0; n < frames; ++n)
            pictures.push_back(fixtures::PatternFrame(width, kHeight, bitCount, n + base));
        const std::string path = (folder / (std::to_string(base) + ".avi")).string();
        ASSERT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(width, kHeight),
                                       fixtures::DibHeader(width, kHeight, bitCount), pictures));
        Open(path);
    }
    // A destination of `destFrames` in slot 0, the current source of `sourceFrames` in slot 1.
    // Without destination frames the source is its own destination.
    void OpenPair(int sourceFrames, int destFrames, int destBitCount = 24) {
        OpenStream(destFrames, kDestination, destBitCount);
        OpenStream(sourceFrames, 0);
    }
    void Show() {
        dialog.reset();
        ws = workspace;
        dialog = std::make_unique<CrossfadeDialog>(nullptr, ws);
        dialog->show();
    }
    void Click(int id) { static_cast<QAbstractButton*>(dialog->control(id))->click(); }
    void Take(const Steps& steps) {
        for (const auto& [id, position] : steps)
            if (position < 0)
                Click(id);
            else
                static_cast<QSlider*>(dialog->control(id))->setValue(position);
    }
    void Activate(int row) {
        auto* list = static_cast<QTreeWidget*>(dialog->control(kCrossfadeSlotList));
        list->setCurrentItem(list->topLevelItem(row));
        QTest::keyClick(list, Qt::Key_Return);
    }
    std::vector<int> Positions() {
        std::vector<int> positions;
        for (int id : {kCrossfadeSourceStart, kCrossfadeSourceEnd, kCrossfadeDestinationStart,
                       kCrossfadeDestinationEnd})
            positions.push_back(dialog->position(id));
        return positions;
    }
    // The current slot's frames after the render, reloaded as the host does.
    std::vector<Frame> Output() {
        session::ReloadAfterEffect();
        return fixtures::ReadAll(workspace.currentStream, LONG(workspace.frameFormat->biSizeImage));
    }
    std::string SlotFileBytes() {
        char name[8];
        std::snprintf(name, sizeof name, "%.2d.avi", workspace.currentSlot);
        std::ifstream file(temp() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    EditWorkspace ws{};
    std::unique_ptr<CrossfadeDialog> dialog;
};

// S = 10, D = 8: both ranges keep one length, inside their streams.
TEST_F(Crossfade, TrackbarsKeepRangesOfOneLengthInsideTheStreams) {
    struct {
        Steps steps;
        std::vector<int> positions; // source start, end, destination start, end
        const char* sourceText;
        const char* destinationText;
    } const cases[] = {
        {{}, {0, 1, 0, 1}, "009 / 000 To 001", "007 / 000 To 001"},
        {{{kCrossfadeSourceStart, 9}}, {8, 9, 0, 1}, "009 / 008 To 009", "007 / 000 To 001"},
        {{{kCrossfadeSourceEnd, 9}}, {0, 1, 0, 1}, "009 / 000 To 001", "007 / 000 To 001"},
        {{{kCrossfadeSourceEnd, 3}, {kCrossfadeDestinationStart, 7}},
         {0, 3, 4, 7},
         "009 / 000 To 003",
         "007 / 004 To 007"},
        {{{kCrossfadeSourceEnd, 3}, {kCrossfadeDestinationEnd, 1}},
         {0, 3, 0, 3},
         "009 / 000 To 003",
         "007 / 000 To 003"},
    };
    OpenPair(10, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sourceText + std::string(" ") + c.destinationText);
        Show();
        Take(c.steps);
        EXPECT_EQ(Positions(), c.positions);
        EXPECT_EQ(dialog->text(kCrossfadeSourceText).toStdString(), c.sourceText);
        EXPECT_EQ(dialog->text(kCrossfadeDestinationText).toStdString(), c.destinationText);
    }
}

struct RenderCase {
    const char* name;
    int sourceFrames, destFrames;
    Steps steps;
    int lastFrame;             // the length the Info box shows
    std::vector<int> pictures; // of the frames written
};

void PrintTo(const RenderCase& c, std::ostream* out) {
    *out << c.name;
}

class CrossfadeRenders : public Crossfade, public testing::WithParamInterface<RenderCase> {};

// With the default percentages the range's two frames are wholly the destination's.
TEST_P(CrossfadeRenders, WriteTheSourceThenTheRestOfTheDestination) {
    const RenderCase& c = GetParam();
    OpenPair(c.sourceFrames, c.destFrames);
    Show();
    Take(c.steps);
    Click(dlg::kIdOk);

    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Info");
    EXPECT_EQ(ui_script::ShownMessages()[0].text,
              "Out Put Info\nScreen Size    30 X 4 \nFream Length      " +
                  std::to_string(c.lastFrame));
    EXPECT_EQ(dialog->maximum(plugin::kIdProgress), int(c.pictures.size()));
    const std::vector<Frame> output = Output();
    ASSERT_EQ(output.size(), c.pictures.size());
    for (size_t i = 0; i < output.size(); ++i)
        EXPECT_EQ(output[i], Picture(c.pictures[i])) << "frame " << i;
}

const int D = kDestination;
INSTANTIATE_TEST_SUITE_P(
    Ok, CrossfadeRenders,
    testing::Values(RenderCase{"Defaults", 10, 8, {}, 9, Pictures(D, D + 1) + Pictures(2, 9)},
                    RenderCase{"InsertOverStream",
                               10,
                               8,
                               {{kCrossfadeDestinationEnd, 3}, {kCrossfadeInsertOverStream, -1}},
                               13,
                               Pictures(D + 2, D + 3) + Pictures(2, 9) + Pictures(D + 4, D + 7)},
                    RenderCase{"CurrentSlotAsDestination",
                               10,
                               0,
                               {{kCrossfadeDestinationStart, 5}},
                               9,
                               Pictures(5, 6) + Pictures(2, 9)},
                    RenderCase{"OneFrameSource",
                               1,
                               8,
                               {{kCrossfadeInsertOverStream, -1}},
                               6,
                               Pictures(D, D) + Pictures(D + 2, D + 7)},
                    RenderCase{"OneFrameDestination",
                               10,
                               1,
                               {{kCrossfadeInsertOverStream, -1}},
                               9,
                               Pictures(D, D) + Pictures(1, 9)}),
    [](const auto& info) { return std::string(info.param.name); });

// A destination chosen after the source range was widened starts at 0..1 again; Ok renders
// its frames from 0 on over the whole source range.
TEST_F(Crossfade, RowActivatedAfterWideningTheSource) {
    OpenStream(8, kDestination);
    OpenStream(8, kOther);
    OpenStream(10, 0);
    Show();
    Take({{kCrossfadeSourceEnd, 5}});
    Activate(1);
    EXPECT_EQ(Positions(), (std::vector<int>{0, 5, 0, 1}));
    EXPECT_EQ(dialog->text(kCrossfadeDestinationText).toStdString(), "007 / 000 To 001");

    CrossfadeParams params;
    params.source = workspace.currentStream;
    params.sourceFormat = fixtures::DibHeader(kWidth, kHeight, 24);
    params.sourceFrames = 10;
    params.rangeEnd = 5;
    params.destination = workspace.slotStreams[1];
    params.destinationFormat = params.sourceFormat;
    params.destinationFrames = 8;
    CrossfadeRenderer renderer(params);
    std::vector<Frame> expected(10, Frame(params.sourceFormat.biSizeImage));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(renderer.render(i, expected[size_t(i)].data()).ok);

    Click(dlg::kIdOk);
    const std::vector<Frame> output = Output();
    ASSERT_EQ(output.size(), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(output[i], expected[size_t(i)]) << "frame " << i;
}

// Cancel in the Info box, or a destination of another size ("Check"), writes nothing and
// keeps the dialog open.
TEST_F(Crossfade, OkWithoutRenderKeepsTheSlot) {
    OpenStream(8, kOther, 24, kWidth + 2);
    OpenStream(8, kDestination);
    OpenStream(10, 0);
    const std::string before = SlotFileBytes();
    for (const auto& [row, caption] : {std::pair{1, "Info"}, std::pair{0, "Check"}}) {
        SCOPED_TRACE(caption);
        ui_script::ClearShownMessages();
        Show();
        Activate(row);
        if (row == 1) ui_script::QueueMessageAnswer(IDCANCEL);
        Click(dlg::kIdOk);
        ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
        EXPECT_EQ(ui_script::ShownMessages()[0].caption, caption);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(SlotFileBytes(), before);
        EXPECT_FALSE(std::filesystem::exists(temp() / "98.avi"));
    }
}

// A 16-bit destination is widened into the 24-bit source row by row, appended frames too.
TEST_F(Crossfade, OtherDepthIsConvertedToTheSources) {
    OpenPair(3, 4, 16);
    Show();
    Click(kCrossfadeInsertOverStream);
    Click(dlg::kIdOk);
    const auto widened = [](int n) {
        const Frame words = Picture(kDestination + n, 16);
        Frame bytes = Picture(0);
        const size_t row = bytes.size() / kHeight;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int w = words[y * kWidth * 2 + x * 2] | words[y * kWidth * 2 + x * 2 + 1]
                                                                  << 8;
                for (int c = 0; c < 3; ++c)
                    bytes[y * row + x * 3 + c] = uint8_t((w >> (5 * c) & 0x1F) << 3);
            }
        return bytes;
    };
    const std::vector<Frame> output = Output();
    ASSERT_EQ(output.size(), 5u);
    EXPECT_EQ(workspace.frameFormat->biBitCount, 24);
    EXPECT_EQ(output[0], widened(0));
    EXPECT_EQ(output[1], widened(1));
    EXPECT_EQ(output[2], Picture(2));
    EXPECT_EQ(output[3], widened(2));
    EXPECT_EQ(output[4], widened(3));
}

// The module the host loads names its menu item.
TEST(WexelModule, GivesItsMenuCaption) {
    void* module = dlopen(CROSSFADE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    const auto getMenuName = reinterpret_cast<char* (*)(char*)>(dlsym(module, "GetMenuName"));
    ASSERT_NE(getMenuName, nullptr);
    char caption[50] = {};
    EXPECT_STREQ(getMenuName(caption), "クロスフェード Ver1.01");
    dlclose(module);
}

} // namespace
