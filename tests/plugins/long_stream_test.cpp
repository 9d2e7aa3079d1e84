// A stream past 65,535 frames: the editor's sliders, the edits, the clipboard checker and every
// effect's trackbars and progress bar reach its last frames.
#include "../host/host_fixture.h"

#include "color_dialog.h"
#include "crossfade_dialog.h"
#include "editor_panel.h"
#include "mask_dialog.h"
#include "session.h"
#include "zoom_dialog.h"

#include <QAbstractButton>
#include <QAbstractSlider>

#include <functional>
#include <memory>
#include <vector>

namespace {

using crossfade::CrossfadeDialog;
using mask::MaskDialog;
using zoom::ZoomDialog;
using LongStream = HostFixture;
using Frame = std::vector<uint8_t>;

constexpr int kFrames = 70000;
constexpr int kFirst = 69990; // the range chosen at the end of the stream
constexpr int kLast = 69999;

std::vector<Frame> ReadAll(PAVISTREAM stream) {
    std::vector<Frame> frames(size_t(AVIStreamLength(stream)),
                              Frame(workspace.frameFormat->biSizeImage));
    for (size_t n = 0; n < frames.size(); ++n)
        AVIStreamRead(stream, LONG(n), 1, frames[n].data(), LONG(frames[n].size()), nullptr,
                      nullptr);
    return frames;
}

Frame Uniform(int n) {
    return Frame(workspace.frameFormat->biSizeImage, tiny_avi::FrameByte(n));
}

std::string EditorText(int id) {
    return EditorPanel()->text(id).toStdString();
}

// A user's drag of a trackbar's or a scroll bar's thumb.
void Move(dlg::Dialog& d, int id, int position) {
    static_cast<QAbstractSlider*>(d.control(id))->setSliderPosition(position);
}

TEST_F(LongStream, SlidersEditsAndTheCheckerReachTheLastFrames) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("long.avi", 4, 2, kFrames));
    EXPECT_EQ(EditorPanel()->maximum(kEditorEndSlider), kFrames - 1);
    Drag(kEditorEndSlider, kLast);
    Drag(kEditorStartSlider, kFirst);
    EXPECT_EQ(EditorText(kEditorStartNumber), "69990");
    EXPECT_EQ(EditorText(kEditorEndNumber), "69999");

    DispatchCommand(kCmdCut);
    std::vector<Frame> frames = ReadAll(workspace.currentStream);
    ASSERT_EQ(frames.size(), size_t(kFrames - (kLast - kFirst)));
    EXPECT_EQ(frames[kFirst], Uniform(kLast));
    const std::vector<Frame> cut = ReadAll(clipboardStream);
    ASSERT_EQ(cut.size(), size_t(kLast - kFirst));
    for (int i = 0; i < kLast - kFirst; ++i)
        EXPECT_EQ(cut[size_t(i)], Uniform(kFirst + i)) << i;

    DispatchCommand(kCmdPaste);
    Drag(kEditorEndSlider, kLast);
    Drag(kEditorStartSlider, kFirst);
    DispatchCommand(kCmdStreamReverse);
    frames = ReadAll(workspace.currentStream);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    for (int n = kFirst - 1; n < kFrames; ++n) {
        const int shown = n >= kFirst ? kFirst + kLast - n : n; // both ends reversed
        EXPECT_EQ(frames[size_t(n)], Uniform(shown)) << n;
    }

    Drag(kEditorStartSlider, 0);
    DispatchCommand(kCmdCopy);
    ToggleClipboardChecker();
    EXPECT_EQ(ClipboardChecker()->maximum(kCheckerSlider), kLast - 1);
    static_cast<QSlider*>(ClipboardChecker()->control(kCheckerSlider))->setValue(kLast - 1);
    EXPECT_EQ(ClipboardChecker()->text(kCheckerStatus).toStdString(), "All 69998/ Disp 69998");
}

struct EffectCase {
    const char* name;
    std::function<std::unique_ptr<plugin::PluginDialog>(EditWorkspace&)> run;
    std::vector<int> changed; // the frames the effect changes; every other stays
};

template <typename Effect>
std::unique_ptr<plugin::PluginDialog> Show(EditWorkspace& ws,
                                           const std::function<void(Effect&)>& settings) {
    auto d = std::make_unique<Effect>(nullptr, ws);
    d->show();
    settings(*d);
    static_cast<QAbstractButton*>(d->control(dlg::kIdOk))->click();
    return d;
}

std::vector<int> Frames(int first, int last) {
    std::vector<int> frames;
    for (int n = first; n <= last; ++n)
        frames.push_back(n);
    return frames;
}

TEST_F(LongStream, EveryEffectRendersTheLastFramesWithTheFullProgressRange) {
    const EffectCase cases[] = {
        {"colour",
         [](EditWorkspace& ws) {
             return Show<ColorDialog>(ws,
                                      [](ColorDialog& d) { Move(d, kColorOffsetBlue, 127 + 3); });
         },
         Frames(kFirst - 1, kLast)},
        {"zoom",
         [](EditWorkspace& ws) {
             return Show<ZoomDialog>(ws, [](ZoomDialog& d) {
                 Move(d, kZoomStartXZoom, 50);
                 Move(d, kZoomEndXZoom, 50);
             });
         },
         Frames(kFirst, kLast)},
        {"mask: frame 69990 keyed whole, the background from frame 0",
         [](EditWorkspace& ws) {
             return Show<MaskDialog>(ws, [](MaskDialog& d) {
                 Move(d, kMaskBaseEnd, kLast);
                 Move(d, kMaskBaseStart, kFirst);
                 Move(d, kMaskMaskStart, kFirst);
                 for (int bar : {kMaskRedBar, kMaskGreenBar, kMaskBlueBar})
                     Move(d, bar, tiny_avi::FrameByte(kFirst));
             });
         },
         {kFirst}},
        {"crossfade with the stream's first frames",
         [](EditWorkspace& ws) {
             return Show<CrossfadeDialog>(ws, [](CrossfadeDialog& d) {
                 Move(d, kCrossfadeSourceEnd, kLast);
                 Move(d, kCrossfadeSourceStart, kFirst);
                 Move(d, kCrossfadeStartTrans, 50);
                 Move(d, kCrossfadeEndTrans, 50);
             });
         },
         Frames(kFirst, kLast)},
    };
    const std::string path = MakeAvi("long.avi", 4, 2, kFrames);
    for (const EffectCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(CreateMainWindow(), nullptr);
        Open(path);
        Drag(kEditorEndSlider, kLast);
        Drag(kEditorStartSlider, kFirst);
        EditWorkspace ws = workspace;
        const std::unique_ptr<plugin::PluginDialog> d = c.run(ws);
        EXPECT_TRUE(d->rendered());
        EXPECT_EQ(d->maximum(plugin::kIdProgress), kFrames);
        session::ReloadAfterEffect();
        const std::vector<Frame> frames = ReadAll(workspace.currentStream);
        ASSERT_EQ(frames.size(), size_t(kFrames));
        std::vector<int> changed;
        for (int n = 0; n < kFrames; ++n)
            if (frames[size_t(n)] != Uniform(n)) changed.push_back(n);
        EXPECT_EQ(changed, c.changed);
        CloseHost();
    }
}

} // namespace
