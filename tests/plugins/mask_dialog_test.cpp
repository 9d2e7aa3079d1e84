// The mask dialog driven through its controls by id, over slots opened in the real host; the
// composite is read back from the slot as the host reloads it.
#include "../host/host_fixture.h"

#include "avi_fixtures.h"
#include "avi_io.h"
#include "key_replace.h"
#include "mask_dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace mask;
using fixtures::Frame;

constexpr int W = 32, H = 24; // rows of W * 3 bytes need no padding

Frame Solid(int w, int h, uint8_t blue, uint8_t green, uint8_t red) {
    Frame frame;
    for (int i = 0; i < w * h; ++i)
        frame.insert(frame.end(), {blue, green, red});
    return frame;
}

// Red is the column, green the row from the top, blue 7.
Frame Coordinates(int w, int h) {
    Frame frame(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &frame[(size_t(h - 1 - y) * w + x) * 3];
            p[0] = 7, p[1] = uint8_t(y), p[2] = uint8_t(x);
        }
    return frame;
}

// Mask frame m: black (the default key) left of column W / 2 + m, grey elsewhere.
Frame MaskFrame(int m) {
    Frame frame = Solid(W, H, 90, 90, 90);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W / 2 + m && x < W; ++x)
            std::fill_n(&frame[(size_t(y) * W + x) * 3], 3, 0);
    return frame;
}

// Background frame b: red, with green telling the frame.
Frame BackFrame(int b) {
    return Solid(W, H, 0, uint8_t(b * 10), 255);
}

Frame BaseFrame(int n) {
    return fixtures::PatternFrame(W, H, 24, n);
}

std::vector<Frame> Make(int count, const std::function<Frame(int)>& frame) {
    std::vector<Frame> frames;
    for (int n = 0; n < count; ++n)
        frames.push_back(frame(n));
    return frames;
}

// A W x H 24-bit file of three black frames whose frame 1 is cut short, so that it cannot be
// read.
bool WriteCutShort(const std::string& path) {
    using namespace tiny_avi;
    const uint32_t size = W * H * 3;
    Riff r;
    const size_t riff = r.Open("RIFF", "AVI ");
    const size_t hdrl = r.Open("LIST", "hdrl");
    MainHeader(r, 3, W, H);
    const size_t strl = r.Open("LIST", "strl");
    StreamHeader(r, "vids", "DIB ", 1, 25, 3, 0, W, H);
    const size_t strf = r.Open("strf");
    for (uint32_t field : {40u, uint32_t(W), uint32_t(H), 1u | 24u << 16, 0u, size, 0u, 0u, 0u, 0u})
        r.U32(field);
    r.Close(strf);
    r.Close(strl);
    r.Close(hdrl);
    Movie(r, "00db", {Frame(size, 0), Frame(size / 2, 0), Frame(size, 0)});
    r.Close(riff);
    return Save(path, r.bytes);
}

class MaskDialogTest : public HostFixture {
  protected:
    void TearDown() override {
        Close();
        HostFixture::TearDown();
    }

    // A file of the given frames of w x h pixels and bitCount bits.
    std::string Write(const std::string& name, const std::vector<Frame>& frames, int w = W,
                      int h = H, int bitCount = 24) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(fixtures::WriteAvi(path, fixtures::VideoInfo(w, h),
                                       fixtures::DibHeader(w, h, bitCount), frames));
        return path;
    }

    // A file of `count` pattern frames.
    std::string Write(const std::string& name, int count) {
        return Write(name, Make(count, BaseFrame));
    }

    // Starts the host with one slot per file, makes slot `current` current and opens the dialog.
    void OpenDialog(const std::vector<std::string>& paths, int current = 0) {
        ASSERT_NE(CreateMainWindow(), nullptr);
        for (const std::string& path : paths)
            Open(path);
        SwitchToSlot(current);
        ws = workspace;
        dialog = std::make_unique<MaskDialog>(nullptr, ws);
        dialog->show();
        Settle();
    }

    void Close() {
        dialog.reset();
        DestroyMainWindow();
        ui_script::ClearShownMessages();
    }

    // Runs the deferred paint.
    static void Settle() { QCoreApplication::processEvents(); }

    template <typename T> T* Widget(int id) { return static_cast<T*>(dialog->control(id)); }
    void Drag(int id, int value) { Widget<QSlider>(id)->setValue(value); }
    void Click(int id) { Widget<QAbstractButton>(id)->click(); }
    void Scroll(int id, QAbstractSlider::SliderAction action) {
        Widget<QScrollBar>(id)->triggerAction(action);
    }
    void ScrollTo(int id, int value) { Widget<QScrollBar>(id)->setSliderPosition(value); }
    // A double-click on a slot list's row.
    void Activate(int id, int row) {
        auto* list = Widget<QTreeWidget>(id);
        list->setCurrentItem(list->topLevelItem(row));
        QTest::keyClick(list, Qt::Key_Return);
    }
    void Magnify(int times) { Widget<QComboBox>(kMaskMagnification)->setCurrentIndex(times - 1); }

    std::string Text(int id) { return dialog->text(id).toStdString(); }

    // What a picture control shows, one image pixel per client pixel.
    QImage Shown(int id) {
        auto* frame = Widget<QFrame>(id);
        return frame->grab(frame->contentsRect()).toImage();
    }

    // The slot's frames after a render, reloaded as the host does.
    std::vector<Frame> SlotFrames() {
        session::ReloadAfterEffect();
        return fixtures::ReadAll(workspace.currentStream, LONG(workspace.frameFormat->biSizeImage));
    }

    EditWorkspace ws{};
    std::unique_ptr<MaskDialog> dialog;
};

TEST_F(MaskDialogTest, OpensOnTheFirstFramesWithTheSlotsListedAndABlackKey) {
    OpenDialog({Write("base.avi", 100), Write("other.avi", 3)});
    EXPECT_EQ(Text(kMaskBaseInfo), "099/ (000,001)");
    for (int list : {kMaskBackSlots, kMaskMaskSlots}) {
        EXPECT_EQ(dialog->rowCount(list), 2);
        EXPECT_EQ(Widget<QTreeWidget>(list)->headerItem()->text(0), "Open File Name");
    }
    const QImage swatch = Shown(kMaskSwatch);
    EXPECT_EQ(swatch.pixel(swatch.width() / 2, swatch.height() / 2), qRgb(0, 0, 0));
    EXPECT_EQ(Text(kMaskPickInfo), "Manual Color");
}

// A user's step: a slider dragged, a button clicked or a slot list row activated.
struct Step {
    enum { Drag, Click, Activate } kind;
    int id;
    int value = 0;
};

struct RangeCase {
    const char* name;
    std::vector<int> slotLengths; // slot 0 is the base
    std::vector<Step> steps;
    const char* infos; // base | background | mask
};

TEST_F(MaskDialogTest, LinkedRangesFollowTheBaseInsideTheirStreams) {
    using S = Step;
    const RangeCase cases[] = {
        {"base end links both",
         {100},
         {{S::Drag, kMaskBaseEnd, 20}},
         "099/ (000,020) | 099/ (000,020) | 099/ (000,020)"},
        {"a short background pulls the base back",
         {100, 15},
         {{S::Activate, kMaskBackSlots, 1}, {S::Drag, kMaskBaseEnd, 20}},
         "099/ (000,014) | 014/ (000,014) | 099/ (000,014)"},
        {"a late background start moves back",
         {100, 50},
         {{S::Activate, kMaskBackSlots, 1},
          {S::Drag, kMaskBaseEnd, 10},
          {S::Drag, kMaskBackStart, 45}},
         "099/ (000,010) | 049/ (039,049) | 099/ (000,010)"},
        {"base start at the last frame",
         {10},
         {{S::Drag, kMaskBaseStart, 9}},
         "009/ (008,009) | 009/ (000,001) | 009/ (000,001)"},
        {"a linked end follows its start",
         {100},
         {{S::Drag, kMaskBaseEnd, 10}, {S::Drag, kMaskMaskStart, 5}, {S::Drag, kMaskMaskEnd, 50}},
         "099/ (000,010) | 099/ (000,010) | 099/ (005,015)"},
        {"background holds its start frame",
         {100},
         {{S::Drag, kMaskBaseEnd, 10}, {S::Click, kMaskBackOneFrame}},
         "099/ (000,010) | 099/ (000,001) | 099/ (000,010)"},
        {"and follows again",
         {100},
         {{S::Drag, kMaskBaseEnd, 10},
          {S::Click, kMaskBackOneFrame},
          {S::Click, kMaskBackOneFrame}},
         "099/ (000,010) | 099/ (000,010) | 099/ (000,010)"},
        {"mask holds its start frame",
         {100},
         {{S::Drag, kMaskBaseEnd, 10}, {S::Drag, kMaskMaskStart, 3}, {S::Click, kMaskMaskOneFrame}},
         "099/ (000,010) | 099/ (000,010) | 099/ (003,004)"},
        {"background off",
         {100},
         {{S::Drag, kMaskBaseEnd, 10},
          {S::Click, kMaskNoUseBackground},
          {S::Drag, kMaskBaseEnd, 20}},
         "099/ (000,020) | No Use | 099/ (000,020)"},
        {"background on again is linked again",
         {100},
         {{S::Click, kMaskNoUseBackground},
          {S::Drag, kMaskBaseEnd, 20},
          {S::Click, kMaskNoUseBackground}},
         "099/ (000,020) | 099/ (000,020) | 099/ (000,020)"},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> paths;
        for (size_t i = 0; i < c.slotLengths.size(); ++i)
            paths.push_back(Write("s" + std::to_string(i) + ".avi", c.slotLengths[i]));
        OpenDialog(paths);
        for (const Step& step : c.steps) {
            if (step.kind == Step::Drag) Drag(step.id, step.value);
            if (step.kind == Step::Click) Click(step.id);
            if (step.kind == Step::Activate) Activate(step.id, step.value);
        }
        Settle();
        EXPECT_EQ(Text(kMaskBaseInfo) + " | " + Text(kMaskBackInfo) + " | " + Text(kMaskMaskInfo),
                  c.infos);
        Close();
    }
}

TEST_F(MaskDialogTest, ToggleButtonsShowTheirStateAndBackgroundOffDisablesItsControls) {
    OpenDialog({Write("base.avi", 20)});
    const int backControls[] = {kMaskBackStart, kMaskBackEnd, kMaskBackOneFrame, kMaskBackSlots};
    Click(kMaskBackOneFrame);
    Click(kMaskMaskOneFrame);
    EXPECT_TRUE(dialog->isChecked(kMaskBackOneFrame));
    EXPECT_TRUE(dialog->isChecked(kMaskMaskOneFrame));
    Click(kMaskMaskOneFrame);
    EXPECT_FALSE(dialog->isChecked(kMaskMaskOneFrame));
    Click(kMaskNoUseBackground);
    EXPECT_TRUE(dialog->isChecked(kMaskNoUseBackground));
    EXPECT_FALSE(dialog->isChecked(kMaskBackOneFrame)); // off with the background
    for (int id : backControls)
        EXPECT_FALSE(dialog->isControlEnabled(id)) << id;
    Click(kMaskNoUseBackground);
    EXPECT_FALSE(dialog->isChecked(kMaskNoUseBackground));
    for (int id : backControls)
        EXPECT_TRUE(dialog->isControlEnabled(id)) << id;
}

struct LevelCase {
    const char* name;
    int bar;
    int from;
    QAbstractSlider::SliderAction action;
    const char* level;
};

TEST_F(MaskDialogTest, LevelBarsStepByOneInsideTheirRangeAndIgnorePages) {
    using A = QAbstractSlider;
    const LevelCase cases[] = {
        {"red right arrow at 255", kMaskRedBar, 255, A::SliderSingleStepAdd, "255"},
        {"red right arrow at 254", kMaskRedBar, 254, A::SliderSingleStepAdd, "255"},
        {"green left arrow at 0", kMaskGreenBar, 0, A::SliderSingleStepSub, "0"},
        {"green left arrow at 9", kMaskGreenBar, 9, A::SliderSingleStepSub, "8"},
        {"blue page right", kMaskBlueBar, 100, A::SliderPageStepAdd, "100"},
        {"blue page left", kMaskBlueBar, 100, A::SliderPageStepSub, "100"},
    };
    OpenDialog({Write("base.avi", 3)});
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScrollTo(c.bar, c.from);
        Scroll(c.bar, c.action);
        EXPECT_EQ(Text(c.bar + 1), c.level);
        EXPECT_EQ(dialog->position(c.bar), std::stoi(c.level));
    }
}

TEST_F(MaskDialogTest, PickingTakesThePixelUnderTheCrossHairNeverTheCrossHair) {
    OpenDialog({Write("coordinates.avi", {Coordinates(160, 120)}, 160, 120)});
    auto levels = [&] {
        return Text(kMaskRedLevel) + "," + Text(kMaskGreenLevel) + "," + Text(kMaskBlueLevel);
    };
    Click(kMaskGetDispColor);
    Settle();
    EXPECT_EQ(levels(), "79,59,7");
    EXPECT_EQ(Text(kMaskPickInfo), "100% (079,059)");
    EXPECT_FALSE(dialog->isControlEnabled(kMaskRedBar));

    for (int i = 0; i < 3; ++i) { // every step repaints the view with the cross-hair drawn in
        Scroll(kMaskCrossColumn, QAbstractSlider::SliderSingleStepAdd);
        Settle();
    }
    Scroll(kMaskCrossRow, QAbstractSlider::SliderSingleStepSub);
    Scroll(kMaskCrossRow, QAbstractSlider::SliderPageStepAdd);
    Scroll(kMaskCrossColumn, QAbstractSlider::SliderPageStepSub);
    Settle();
    EXPECT_EQ(levels(), "82,58,7");
    EXPECT_EQ(Text(kMaskPickInfo), "100% (082,058)");
    // At 100 % the view centres the cross-hair as far as the frame allows; the cross-hair's
    // pixel keeps its true colour, the one beside it on its row is inverted.
    const QImage view = Shown(kMaskMaskPreview);
    const QSize preview = dialog->clientSize(kMaskBasePreview);
    const int cx = 82 - std::clamp(82 - preview.width() / 2, 0, 160 - preview.width());
    const int cy = 58 - std::clamp(58 - preview.height() / 2, 0, 120 - preview.height());
    EXPECT_EQ(view.pixel(cx, cy), qRgb(82, 58, 7));
    EXPECT_EQ(view.pixel(cx + 1, cy), qRgb(83 ^ 0xAA, 58 ^ 0xAA, 7 ^ 0xAA));

    Click(kMaskGetDispColor);
    Settle();
    EXPECT_EQ(Text(kMaskPickInfo), "Manual Color");
    EXPECT_TRUE(dialog->isControlEnabled(kMaskRedBar));
    EXPECT_EQ(dialog->position(kMaskRedBar), 82);
    EXPECT_EQ(dialog->position(kMaskGreenBar), 58);
    EXPECT_EQ(dialog->position(kMaskBlueBar), 7);
}

TEST_F(MaskDialogTest, MagnifiedViewStaysInsideTheFrame) {
    struct Case {
        int column;
        int viewColumn; // of the view's top row
        int shows;      // frame column shown there
    };
    OpenDialog({Write("coordinates.avi", {Coordinates(160, 120)}, 160, 120)});
    const int last = dialog->clientSize(kMaskBasePreview).width() - 1;
    // Column 0 is the cross-hair's own, inverted; the columns after it show 1, 1, 2.
    const Case cases[] = {{0, 2, 1}, {0, 4, 2}, {159, last - 2, 158}, {159, last - 4, 157}};
    Click(kMaskGetDispColor);
    Magnify(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        ScrollTo(kMaskCrossColumn, c.column);
        Settle();
        EXPECT_EQ(qRed(Shown(kMaskMaskPreview).pixel(c.viewColumn, 0)), c.shows);
    }
    EXPECT_EQ(Text(kMaskPickInfo), "200% (159,059)");
}

struct CompositeCase {
    const char* name;
    std::vector<Step> steps;
    int start, end; // base range
    int maskFirst;  // mask frame keying the first frame of the range
    int backFirst;  // background frame of the first frame of the range
    bool maskHolds, backHolds, useBackground;
};

// The range sliders, the slot lists and the toggle buttons reach the composite; the composite
// itself is checked in mask_render_test.
TEST_F(MaskDialogTest, OkCompositesTheBaseRangeWhereTheMaskShowsTheKey) {
    constexpr int kFrames = 12;
    const CompositeCase cases[] = {
        {"range 5..6",
         {{Step::Drag, kMaskBaseEnd, 6}, {Step::Drag, kMaskBaseStart, 5}},
         5,
         6,
         0,
         0,
         false,
         false,
         true},
        {"linked starts",
         {{Step::Drag, kMaskBaseEnd, 4},
          {Step::Drag, kMaskMaskStart, 3},
          {Step::Drag, kMaskBackStart, 6}},
         0,
         4,
         3,
         6,
         false,
         false,
         true},
        {"no background: the key itself",
         {{Step::Drag, kMaskBaseEnd, 4}, {Step::Click, kMaskNoUseBackground}},
         0,
         4,
         0,
         0,
         false,
         false,
         false},
        {"background holds",
         {{Step::Drag, kMaskBaseEnd, 11},
          {Step::Drag, kMaskBaseStart, 2},
          {Step::Click, kMaskBackOneFrame}},
         2,
         11,
         0,
         0,
         false,
         true,
         true},
        {"mask holds",
         {{Step::Drag, kMaskBaseEnd, 11},
          {Step::Drag, kMaskBaseStart, 2},
          {Step::Click, kMaskMaskOneFrame}},
         2,
         11,
         0,
         0,
         true,
         false,
         true},
    };
    const std::vector<Frame> base = Make(kFrames, BaseFrame);
    const std::vector<Frame> masks = Make(kFrames, MaskFrame);
    const std::vector<Frame> backs = Make(kFrames, BackFrame);
    const std::string paths[] = {Write("base.avi", base), Write("mask.avi", masks),
                                 Write("back.avi", backs)};
    const uint8_t black[3] = {0, 0, 0};
    for (const CompositeCase& c : cases) {
        SCOPED_TRACE(c.name);
        OpenDialog({paths[0], paths[1], paths[2]});
        Activate(kMaskMaskSlots, 1);
        Activate(kMaskBackSlots, 2);
        for (const Step& step : c.steps) {
            if (step.kind == Step::Drag) Drag(step.id, step.value);
            if (step.kind == Step::Click) Click(step.id);
        }
        Click(dlg::kIdOk);
        std::vector<Frame> expected = base;
        for (int n = c.start; n <= c.end; ++n) {
            const int k = n - c.start;
            const Frame& mask = masks[c.maskFirst + (c.maskHolds ? 0 : k)];
            const Frame& back = backs[c.backFirst + (c.backHolds ? 0 : k)];
            KeyReplace(expected[n].data(), mask.data(), back.data(), black,
                       uint32_t(expected[n].size()), c.useBackground);
        }
        EXPECT_EQ(dialog->result(), 1);
        EXPECT_TRUE(ui_script::ShownMessages().empty());
        EXPECT_EQ(SlotFrames(), expected);
        Close();
    }
}

TEST_F(MaskDialogTest, AnUnreadableFrameStopsTheRenderAndSaysSo) {
    const std::string broken = (folder / "broken.avi").string();
    ASSERT_TRUE(WriteCutShort(broken));
    OpenDialog({Write("base.avi", 3), broken});
    Activate(kMaskMaskSlots, 1);
    Click(dlg::kIdOk);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].text, "フレームを読み込めませんでした");
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(std::filesystem::exists(temp() / "00.avi"));
}

struct RefusalCase {
    const char* name;
    int maskW, maskH, backW, backH, bitCount;
    bool backgroundOff;
    const char* message; // null: the render runs
};

TEST_F(MaskDialogTest, StreamsUnlikeTheBaseAreRefusedAtOkAndNeverReadPastABuffer) {
    const RefusalCase cases[] = {
        {"smaller mask", 16, 12, W, H, 24, false, "マスクの映像の大きさか色数が元の映像と違います"},
        {"larger background", W, H, 48, 36, 24, false,
         "背景の映像の大きさか色数が元の映像と違います"},
        {"larger background, not in use", W, H, 48, 36, 24, true, nullptr},
        {"16-bit frames", W, H, W, H, 16, false, "マスク合成は24ビットの映像にだけ使えます"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int b = c.bitCount / 8;
        auto frames = [&](int w, int h) { return std::vector<Frame>(4, Frame(w * h * b, 0)); };
        const std::string base = Write("base.avi", frames(W, H), W, H, c.bitCount);
        const std::string mask =
            Write("mask.avi", frames(c.maskW, c.maskH), c.maskW, c.maskH, c.bitCount);
        const std::string back =
            Write("back.avi", frames(c.backW, c.backH), c.backW, c.backH, c.bitCount);
        OpenDialog({base, mask, back});
        Activate(kMaskMaskSlots, 1);
        Activate(kMaskBackSlots, 2);
        // The previews and the pick view over every corner at every magnification.
        Click(kMaskGetDispColor);
        for (int times : {1, 8})
            for (int x : {0, W - 1})
                for (int y : {0, H - 1}) {
                    Magnify(times);
                    ScrollTo(kMaskCrossColumn, x);
                    ScrollTo(kMaskCrossRow, y);
                    Settle();
                }
        if (c.backgroundOff) Click(kMaskNoUseBackground);
        Click(dlg::kIdOk);
        if (c.message) {
            ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
            EXPECT_EQ(ui_script::ShownMessages()[0].text, c.message);
            EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Check");
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_FALSE(std::filesystem::exists(temp() / "00.avi")); // nothing written
            EXPECT_FALSE(std::filesystem::exists(temp() / "98.avi"));
        } else {
            EXPECT_TRUE(ui_script::ShownMessages().empty());
            EXPECT_EQ(dialog->result(), 1);
            EXPECT_EQ(SlotFrames().size(), 4u);
        }
        Close();
    }
}

} // namespace
