// The colour-change dialog driven through its controls on slots opened by the real host.
#include "../host/host_fixture.h"

#include "avi_io.h"
#include "color_dialog.h"
#include "editor_panel.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QSlider>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using ColorDialogTest = HostFixture;

// 8 x 2 pixels of 24 bits: rows of 24 bytes, so pixel p of frame n is bytes 3p .. 3p + 2.
constexpr int kWidth = 8;
constexpr int kHeight = 2;
constexpr int kFrames = 24;
constexpr int kCentre = 127; // slider position of the setting 0 on 24-bit frames

// A user's drag of a slider.
void Move(ColorDialog& d, int id, int position) {
    static_cast<QSlider*>(d.control(id))->setValue(position);
}

void Click(ColorDialog& d, int id) {
    static_cast<QAbstractButton*>(d.control(id))->click();
}

// The user drags the editor's end slider, then its start slider.
void ChooseRange(int start, int end) {
    static_cast<QSlider*>(EditorPanel()->control(kEditorEndSlider))->setValue(end);
    static_cast<QSlider*>(EditorPanel()->control(kEditorStartSlider))->setValue(start);
}

std::vector<uint8_t> ReadBack(PAVISTREAM stream, int n) {
    std::vector<uint8_t> frame(workspace.frameFormat->biSizeImage);
    AVIStreamRead(stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr);
    return frame;
}

// The colour a picture control shows at its centre, once pending paints have run.
QColor Shown(ColorDialog& d, int id) {
    QCoreApplication::processEvents();
    const QImage image = d.control(id)->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

struct RenderCase {
    const char* name;
    int start, end;
    std::function<void(ColorDialog&)> settings;
    // The red byte of pixel p of frame n after the run; every other byte stays as it was.
    std::function<int(int n, int p, int red)> red;
};

// The sliders, the check box and the editor's range reach the render; the ramp itself is
// checked in color_render_test.
TEST_F(ColorDialogTest, OkRampsTheOffsetsOverTheRangeAndTheFrameBeforeIt) {
    const RenderCase cases[] = {
        {"range 0..1: frame 0 plain", 0, 1,
         [](ColorDialog& d) {
             Move(d, kColorOffsetRed, kCentre + 3);
             Move(d, kColorStepRed, kCentre + 5);
         },
         [](int n, int, int red) { return n == 0   ? red + 3
                                          : n == 1 ? red + 8
                                                   : red; }},
        {"pixelX = pixelY = 0: one step after the first pixel", 0, 1,
         [](ColorDialog& d) {
             Move(d, kColorStepRed, kCentre + 5);
             Move(d, kColorPixelX, 0);
             Move(d, kColorPixelY, 0);
         },
         [](int n, int p, int red) { return n <= 1 ? red + 5 * n + (p > 0 ? 5 : 0) : red; }},
        {"not looping saturates", 5, 6,
         [](ColorDialog& d) {
             Click(d, kColorNotLooping);
             Move(d, kColorOffsetRed, 255);
         },
         [](int n, int, int red) { return n >= 4 && n <= 6 ? std::min(red + 128, 255) : red; }},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    int slot = 0;
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        Open(MakeAvi("slot" + std::to_string(slot++) + ".avi", kWidth, kHeight, kFrames));
        ChooseRange(c.start, c.end);
        EditWorkspace ws = workspace;
        ColorDialog d(nullptr, ws);
        d.show();
        c.settings(d);
        Click(d, dlg::kIdOk);
        ASSERT_TRUE(ui_script::ShownMessages().empty());
        session::ReloadAfterEffect();
        ASSERT_EQ(AVIStreamLength(workspace.currentStream), kFrames);
        for (int n = 0; n < kFrames; ++n) {
            std::vector<uint8_t> expected(workspace.frameFormat->biSizeImage,
                                          tiny_avi::FrameByte(n));
            for (int p = 0; p < kWidth * kHeight; ++p)
                expected[3 * p + 2] = uint8_t(c.red(n, p, expected[3 * p + 2]));
            ASSERT_EQ(ReadBack(workspace.currentStream, n), expected) << "frame " << n;
        }
    }
}

TEST_F(ColorDialogTest, SixteenBitFramesGiveSlidersOfFiveBits) {
    const int sliders[] = {kColorOffsetRed, kColorOffsetGreen, kColorOffsetBlue,
                           kColorStepRed,   kColorStepGreen,   kColorStepBlue};
    const int values[] = {kColorOffsetRedValue, kColorOffsetGreenValue, kColorOffsetBlueValue,
                          kColorStepRedValue,   kColorStepGreenValue,   kColorStepBlueValue};
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("sixteen.avi", kWidth, kHeight, 3, 16));
    EditWorkspace ws = workspace;
    ColorDialog d(nullptr, ws);
    d.show();
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(sliders[i]);
        const auto* slider = static_cast<QSlider*>(d.control(sliders[i]));
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 31);
        EXPECT_EQ(d.text(values[i]), "0");
        Move(d, sliders[i], 0);
        EXPECT_EQ(d.text(values[i]), "-15");
        Move(d, sliders[i], 31);
        EXPECT_EQ(d.text(values[i]), "16");
    }
}

TEST_F(ColorDialogTest, PicColorAddShowsWhatTheOffsetsAddToBlack) {
    struct Case {
        const char* name;
        int redPosition;
        QColor expected;
    };
    const Case cases[] = {
        {"defaults", kCentre, Qt::black},
        {"offset red +100", kCentre + 100, QColor(100, 0, 0)},
    };
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("preview.avi", kWidth, kHeight, 3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EditWorkspace ws = workspace;
        ColorDialog d(nullptr, ws);
        d.show();
        const int narrow = d.width();
        Click(d, kColorPicturePanel);
        EXPECT_TRUE(d.isChecked(kColorPicturePanel));
        EXPECT_GT(d.width(), narrow);
        Move(d, kColorOffsetRed, c.redPosition);
        EXPECT_EQ(Shown(d, kColorPreview), c.expected);
        EXPECT_EQ(Shown(d, kColorOffsetSwatch), c.expected);
        Click(d, kColorPicturePanel);
        EXPECT_EQ(d.width(), narrow);
    }
}

TEST_F(ColorDialogTest, AFrameTheSlotCannotDeliverStopsTheRunAndKeepsTheSlot) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("short.avi", kWidth, kHeight, 4));
    EditWorkspace ws = workspace;
    ws.streamInfo.dwLength += 1; // the record promises a frame the slot does not hold
    ws.rangeEnd = 4;             // and the range takes it in
    ColorDialog d(nullptr, ws);
    d.show();
    Move(d, kColorOffsetRed, kCentre + 9);
    Click(d, dlg::kIdOk);
    ASSERT_EQ(ui_script::ShownMessages().size(), 1u);
    EXPECT_EQ(ui_script::ShownMessages()[0].text, "フレーム 4 を読み込めませんでした");
    EXPECT_EQ(ui_script::ShownMessages()[0].caption, "Error");
    EXPECT_TRUE(d.isVisible());
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(ReadBack(workspace.slotStreams[workspace.currentSlot], n),
                  std::vector<uint8_t>(workspace.frameFormat->biSizeImage, tiny_avi::FrameByte(n)));
}

TEST_F(ColorDialogTest, TheModuleRunsFromTheEffectMenu) {
    std::filesystem::create_directories(folder / "plgin");
    std::filesystem::copy_file(COLOR_MODULE, folder / "plgin" / "color.tsk");
    ASSERT_NE(CreateMainWindow(), nullptr);
    Open(MakeAvi("menu.avi", kWidth, kHeight, 3));
    QAction* item = MenuPopup(kMenuEffect)->actions().value(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "カラーチェンジ Ver1.00");
    QString title;
    QTimer::singleShot(0, qApp, [&title] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        title = dialog->windowTitle();
        // The first slider of the table is the red offset.
        dialog->findChildren<QSlider*>().value(0)->setValue(kCentre + 10);
        for (auto* button : dialog->findChildren<QAbstractButton*>())
            if (button->text() == "Ok") button->click();
    });
    item->trigger();
    EXPECT_EQ(title, "カラーチェンジ Ver 1.00");
    for (int n = 0; n < 3; ++n) {
        std::vector<uint8_t> expected(workspace.frameFormat->biSizeImage, tiny_avi::FrameByte(n));
        for (int p = 0; n <= 1 && p < kWidth * kHeight; ++p)
            expected[3 * p + 2] = uint8_t(expected[3 * p + 2] + 10);
        EXPECT_EQ(ReadBack(workspace.currentStream, n), expected) << "frame " << n;
    }
}

} // namespace
