#include "dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace dlg;

namespace {

// One control of every kind, laid out like a small effect dialog.
const ControlDef kSample[] = {
    {kIdOk, Kind::PushButton, "Ok", 0, 120, 40, 14},
    {kIdCancel, Kind::PushButton, "Cansel", 40, 120, 40, 14},
    {10, Kind::Progress, "", 82, 122, 90, 10, kBorder},
    {kNoId, Kind::GroupBox, "Choice Range", 4, 66, 166, 33},
    {kNoId, Kind::Static, "Start", 10, 75, 15, 8},
    {11, Kind::Edit, "", 5, 5, 80, 60, kDisabled},
    {12, Kind::Picture, "", 90, 5, 80, 60, kBorder},
    {13, Kind::HSlider, "", 28, 78, 120, 9},
    {14, Kind::Edit, "0", 146, 76, 20, 12, kCentre},
    {15, Kind::Edit, "name", 4, 102, 51, 14, kCentre | kBorder},
    {16, Kind::CheckBox, "Pic Color Add", 180, 5, 60, 10},
    {17, Kind::ToggleButton, "Filtering", 180, 18, 40, 10},
    {18, Kind::RadioButton, "No Use BG", 180, 31, 50, 10, kAuto},
    {19, Kind::HScrollBar, "", 180, 44, 55, 11},
    {20, Kind::VScrollBar, "", 240, 5, 8, 60},
    {21, Kind::VSlider, "", 252, 5, 9, 61},
    {22, Kind::ListView, "", 180, 60, 60, 50},
    {23, Kind::DropDown, "", 90, 102, 25, 30},
};

const DialogDef kSampleDialog{"Sample", 265, 136, kSample};

class Recorder : public Dialog {
  public:
    Recorder(const DialogDef& layout, QWidget* parent = nullptr, Role role = Role::Modal)
        : Dialog(layout, parent, role) {}

    std::vector<std::string> events;
    std::function<void(Recorder&, int)> afterScroll;

    using Dialog::scrollCode;
    using Dialog::scrollThumb;

  protected:
    void onCommand(int id) override { events.push_back("command " + std::to_string(id)); }
    void onScroll(int id) override {
        events.push_back("scroll " + std::to_string(id) + " code " + std::to_string(scrollCode()) +
                         " thumb " + std::to_string(scrollThumb()) + " at " +
                         std::to_string(position(id)));
        if (afterScroll) afterScroll(*this, id);
    }
    void onNotify(int id, int code) override {
        events.push_back("notify " + std::to_string(id) + " " + std::to_string(code));
    }
    void onPaint() override { events.push_back("paint"); }
};

template <typename T> T* Widget(Dialog& dialog, int id) {
    return qobject_cast<T*>(dialog.control(id));
}

TEST(DialogUnits, ConvertWithBaseUnitsRoundingLikeMulDiv) {
    const BaseUnits base{6, 13};
    struct Case {
        QRect units;
        QRect pixels;
    };
    const Case cases[] = {
        {{0, 0, 4, 8}, {0, 0, 6, 13}},
        {{28, 78, 120, 9}, {42, 127, 180, 15}}, // 78*13/8 = 126.75, 9*13/8 = 14.6
        {{1, 1, 1, 1}, {2, 2, 2, 2}},           // 1.5 and 1.625 round up
        {{175, 121, 0, 0}, {263, 197, 0, 0}},   // 262.5 rounds away from zero
    };
    for (const Case& c : cases)
        EXPECT_EQ(DialogUnitsToPixels(c.units, base), c.pixels) << c.units.x();
}

TEST(DialogUnits, DialogFontGivesPlausibleBaseUnits) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pixelSize(), 12);
    const BaseUnits base = BaseUnitsOf(font);
    // A 12-pixel face: letters about 5 to 8 pixels wide on average, lines 12 to 18 high.
    EXPECT_GE(base.x, 4);
    EXPECT_LE(base.x, 9);
    EXPECT_GE(base.y, 12);
    EXPECT_LE(base.y, 18);
    if (QFontInfo(font).family() != QStringLiteral("IPAPGothic"))
        GTEST_SKIP() << "IPAPGothic missing; fell back to "
                     << QFontInfo(font).family().toStdString();
}

TEST(DialogUnits, ControlsAndDialogArePlacedInPixels) {
    Recorder dialog(kSampleDialog);
    const BaseUnits base = dialog.baseUnits();
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels({0, 0, 265, 136}, base).size());
    EXPECT_EQ(dialog.control(13)->geometry(), DialogUnitsToPixels({28, 78, 120, 9}, base));
    EXPECT_EQ(dialog.control(11)->geometry(), DialogUnitsToPixels({5, 5, 80, 60}, base));
    // A drop-down's template height includes its list; the closed box is one line high.
    EXPECT_LT(dialog.control(23)->height(), DialogUnitsToPixels({0, 0, 0, 30}, base).height());
}

TEST(DialogControls, EveryIdReachesItsControlOfTheRightKind) {
    Recorder dialog(kSampleDialog);
    EXPECT_NE(Widget<QPushButton>(dialog, kIdOk), nullptr);
    EXPECT_NE(Widget<QSlider>(dialog, 13), nullptr);
    EXPECT_NE(Widget<QScrollBar>(dialog, 19), nullptr);
    EXPECT_NE(Widget<QTreeWidget>(dialog, 22), nullptr);
    EXPECT_NE(Widget<QComboBox>(dialog, 23), nullptr);
    EXPECT_EQ(dialog.control(999), nullptr);
    EXPECT_EQ(dialog.control(kNoId), nullptr);
    EXPECT_FALSE(dialog.isControlEnabled(11)); // kDisabled
    EXPECT_TRUE(dialog.isControlEnabled(14));
    EXPECT_EQ(dialog.text(15), QStringLiteral("name"));
}

TEST(DialogControls, AccessorsRoundTrip) {
    Recorder dialog(kSampleDialog);
    dialog.setText(14, QStringLiteral("ａｂ 039"));
    EXPECT_EQ(dialog.text(14), QStringLiteral("ａｂ 039"));
    dialog.setNumber(14, -12);
    EXPECT_EQ(dialog.text(14), QStringLiteral("-12"));

    for (int id : {16, 17, 18}) {
        dialog.setCheck(id, true);
        EXPECT_TRUE(dialog.isChecked(id)) << id;
        dialog.setCheck(id, false);
        EXPECT_FALSE(dialog.isChecked(id)) << id;
    }

    for (int id : {13, 19, 20, 21, 10}) {
        dialog.setRange(id, 5, 99);
        EXPECT_EQ(dialog.minimum(id), 5) << id;
        EXPECT_EQ(dialog.maximum(id), 99) << id;
        dialog.setPosition(id, 40);
        EXPECT_EQ(dialog.position(id), 40) << id;
        dialog.setPosition(id, 500); // clamped to the range
        EXPECT_EQ(dialog.position(id), 99) << id;
    }

    for (int id : {22, 23}) {
        dialog.addRow(id, QStringLiteral("a.avi"));
        dialog.addRow(id, QStringLiteral("c.avi"));
        dialog.insertRow(id, 1, QStringLiteral("b.avi"));
        ASSERT_EQ(dialog.rowCount(id), 3) << id;
        EXPECT_EQ(dialog.rowText(id, 1), QStringLiteral("b.avi"));
        dialog.setCurrentRow(id, 2);
        EXPECT_EQ(dialog.currentRow(id), 2) << id;
        dialog.removeRow(id, 0);
        EXPECT_EQ(dialog.rowText(id, 0), QStringLiteral("b.avi"));
        EXPECT_EQ(dialog.currentRow(id), 1) << id; // the selected row moved up with its text
        dialog.setCurrentRow(id, -1);
        EXPECT_EQ(dialog.currentRow(id), -1) << id;
        dialog.clearRows(id);
        EXPECT_EQ(dialog.rowCount(id), 0) << id;
    }
    dialog.setColumn(22, QStringLiteral("Open File Name"));
    EXPECT_EQ(Widget<QTreeWidget>(dialog, 22)->headerItem()->text(0),
              QStringLiteral("Open File Name"));

    dialog.setControlEnabled(13, false);
    EXPECT_FALSE(dialog.isControlEnabled(13));
    dialog.setControlVisible(13, false);
    EXPECT_TRUE(dialog.control(13)->isHidden());
}

TEST(DialogControls, TextsTooLongAreCutInTheMiddleWithTheWholeAsTooltip) {
    const QString name = QStringLiteral("holiday_in_the_mountains_h264_720p.avi");
    const struct {
        int id;
        QString text;
        bool cut;
    } cases[] = {{15, QStringLiteral("a.avi"), false}, {15, name, true}, {14, name, true}};
    Recorder dialog(kSampleDialog);
    for (const auto& c : cases) {
        dialog.setText(c.id, c.text);
        const QLabel* edit = Widget<QLabel>(dialog, c.id);
        const QString shown = edit->text();
        EXPECT_EQ(dialog.text(c.id), c.text) << c.id;
        // Cut, the beginning and the end stay around "…".
        const qsizetype dots = shown.indexOf(QChar(0x2026));
        EXPECT_EQ(dots >= 0, c.cut) << c.id;
        if (c.cut) {
            EXPECT_GT(dots, 0) << shown.toStdString();
            EXPECT_LT(dots, shown.size() - 1) << shown.toStdString();
            EXPECT_TRUE(c.text.startsWith(shown.left(dots))) << shown.toStdString();
            EXPECT_TRUE(c.text.endsWith(shown.mid(dots + 1))) << shown.toStdString();
        } else {
            EXPECT_EQ(shown, c.text);
        }
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(shown), edit->contentsRect().width());
        EXPECT_EQ(edit->toolTip(), c.cut ? c.text : QString()) << c.id;
    }

    // A list's row: the view never scrolls sideways to show a part from the middle.
    dialog.show();
    dialog.addRow(22, QStringLiteral("b.avi"));
    dialog.addRow(22, name);
    dialog.setCurrentRow(22, 1);
    QApplication::processEvents();
    auto* list = Widget<QTreeWidget>(dialog, 22);
    EXPECT_EQ(list->horizontalScrollBar()->value(), 0);
    EXPECT_LE(list->columnWidth(0), list->viewport()->width());
    EXPECT_EQ(list->topLevelItem(1)->toolTip(0), name);
    EXPECT_EQ(dialog.rowText(22, 1), name);
}

TEST(DialogControls, UnknownIdsAndWrongKindsAreIgnored) {
    Recorder dialog(kSampleDialog);
    dialog.setText(999, QStringLiteral("x"));
    dialog.setPosition(16, 3);
    dialog.addRow(13, QStringLiteral("row"));
    EXPECT_EQ(dialog.text(999), QString());
    EXPECT_EQ(dialog.position(16), 0);
    EXPECT_EQ(dialog.rowCount(13), 0);
    EXPECT_EQ(dialog.currentRow(999), -1);
    EXPECT_FALSE(dialog.setControlImage(13, QImage(2, 2, QImage::Format_RGB32), true));
}

TEST(DialogControls, ProgressStepWrapsPastTheMaximum) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(10, 0, 3);
    dialog.setStep(10, 1);
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) {
        dialog.stepProgress(10);
        seen.push_back(dialog.position(10));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 1, 2}));
}

TEST(DialogHandlers, ChangesFromCodeNeverCallHandlers) {
    Recorder dialog(kSampleDialog);
    dialog.show();
    QApplication::processEvents();
    dialog.events.clear();

    for (int id : {13, 19, 20, 21, 10}) {
        dialog.setRange(id, 0, 10);
        dialog.setPosition(id, 7);
        dialog.setRange(id, 0, 3); // clamps the position
    }
    for (int id : {16, 17, 18})
        dialog.setCheck(id, true);
    dialog.setText(14, QStringLiteral("5"));
    for (int id : {22, 23}) {
        dialog.addRow(id, QStringLiteral("a"));
        dialog.addRow(id, QStringLiteral("b"));
        dialog.setCurrentRow(id, 1);
        dialog.removeRow(id, 1);
        dialog.clearRows(id);
    }
    EXPECT_TRUE(dialog.events.empty()) << dialog.events.front();
}

TEST(DialogHandlers, UserActionsCallHandlersWithTheirId) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(13, 0, 99);
    dialog.setPosition(13, 10);
    dialog.addRow(22, QStringLiteral("a.avi"));
    dialog.addRow(22, QStringLiteral("b.avi"));
    dialog.addRow(23, QStringLiteral("X 1"));
    dialog.addRow(23, QStringLiteral("X 2"));
    dialog.setCurrentRow(23, 0);
    dialog.show();
    QApplication::processEvents();
    dialog.events.clear();

    QTest::mouseClick(Widget<QPushButton>(dialog, kIdOk), Qt::LeftButton);
    Widget<QSlider>(dialog, 13)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QTest::keyClick(Widget<QComboBox>(dialog, 23), Qt::Key_Down);
    auto* list = Widget<QTreeWidget>(dialog, 22);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(1)).center());
    QTest::keyClick(list, Qt::Key_Return);

    const std::vector<std::string> expected = {
        "command 1",      "scroll 13 code 1 thumb 11 at 11", "command 23", "notify 22 -101",
        "notify 22 -114",
    };
    EXPECT_EQ(dialog.events, expected);
    EXPECT_EQ(dialog.currentRow(23), 1);
    EXPECT_EQ(dialog.currentRow(22), 1);
}

TEST(DialogHandlers, CheckMarksAreTheDialogsUnlessAutomatic) {
    Recorder dialog(kSampleDialog);
    struct Case {
        int id;
        bool before;
        bool after;
    };
    const Case cases[] = {
        {16, false, false}, // check box: the handler sets the mark
        {17, true, true},   // push-like toggle
        {18, false, true},  // automatic radio button checks itself
        {18, true, true},   // and stays checked
    };
    for (const Case& c : cases) {
        dialog.setCheck(c.id, c.before);
        dialog.events.clear();
        qobject_cast<QAbstractButton*>(dialog.control(c.id))->click();
        EXPECT_EQ(dialog.events, std::vector<std::string>{"command " + std::to_string(c.id)});
        EXPECT_EQ(dialog.isChecked(c.id), c.after) << c.id;
    }
}

TEST(DialogHandlers, ScrollBarsMoveOnlyWhereTheHandlerPutsThem) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(19, 0, 255);
    dialog.setPosition(19, 100);
    auto* bar = Widget<QScrollBar>(dialog, 19);
    struct Case {
        QAbstractSlider::SliderAction action;
        int code;
    };
    const Case cases[] = {
        {QAbstractSlider::SliderSingleStepSub, kLineUp},
        {QAbstractSlider::SliderSingleStepAdd, kLineDown},
        {QAbstractSlider::SliderPageStepSub, kPageUp},
        {QAbstractSlider::SliderPageStepAdd, kPageDown},
        {QAbstractSlider::SliderToMinimum, kTop},
        {QAbstractSlider::SliderToMaximum, kBottom},
    };
    for (const Case& c : cases) {
        dialog.events.clear();
        bar->triggerAction(c.action);
        ASSERT_EQ(dialog.events.size(), 1u);
        EXPECT_EQ(dialog.events[0].substr(0, dialog.events[0].find(" thumb")),
                  "scroll 19 code " + std::to_string(c.code));
        EXPECT_EQ(dialog.position(19), 100) << c.code; // nobody moved it
    }

    // A handler that accepts the thumb moves the bar, without calling itself again.
    dialog.afterScroll = [](Recorder& self, int id) { self.setPosition(id, self.scrollThumb()); };
    dialog.events.clear();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(dialog.position(19), 101);
    EXPECT_EQ(dialog.events.size(), 1u);
}

TEST(DialogHandlers, VerticalSliderGrowsDownwardsAsATrackbar) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(21, 0, 10);
    dialog.setPosition(21, 5);
    QTest::keyClick(dialog.control(21), Qt::Key_Down);
    EXPECT_EQ(dialog.position(21), 6);
    QTest::keyClick(dialog.control(21), Qt::Key_Up);
    EXPECT_EQ(dialog.position(21), 5);
    EXPECT_EQ(dialog.events.size(), 2u);
}

TEST(DialogHandlers, SliderHandlerCanPullTheThumbBack) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(13, 0, 99);
    dialog.setPosition(13, 39);
    // As the editor's "Start" slider: a move onto 40 is pulled back to 39.
    dialog.afterScroll = [](Recorder& self, int id) {
        if (self.position(id) >= 40) self.setPosition(id, 39);
    };
    Widget<QSlider>(dialog, 13)->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(dialog.position(13), 39);
    EXPECT_EQ(dialog.events.size(), 1u);
}

TEST(DialogPaint, InvalidateCoalescesIntoOneDeferredPaint) {
    Recorder dialog(kSampleDialog);
    dialog.invalidate();
    dialog.invalidate();
    dialog.invalidate();
    EXPECT_TRUE(dialog.events.empty()); // never inside the request
    QApplication::processEvents();
    EXPECT_EQ(dialog.events, std::vector<std::string>{"paint"});
    dialog.invalidate();
    QApplication::processEvents();
    EXPECT_EQ(dialog.events.size(), 2u);
}

TEST(DialogPaint, ShowingTheDialogPaintsOnce) {
    Recorder dialog(kSampleDialog);
    dialog.invalidate();
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.events, std::vector<std::string>{"paint"});
}

TEST(DialogPaint, DestroyedDialogRunsNoPendingPaint) {
    auto* dialog = new Recorder(kSampleDialog);
    dialog->invalidate();
    delete dialog;
    QApplication::processEvents(); // must not touch the deleted dialog
    SUCCEED();
}

TEST(DialogRun, ModalDialogReturnsItsEndCodeAndEscapeSendsCancel) {
    Recorder dialog(kSampleDialog);
    QTimer::singleShot(0, &dialog, [&dialog] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.endDialog(7);
    });
    EXPECT_EQ(dialog.runModal(), 7);
    EXPECT_NE(std::find(dialog.events.begin(), dialog.events.end(), "command 2"),
              dialog.events.end());
}

TEST(DialogRun, DialogEndedBeforeItRunsReturnsAtOnce) {
    Recorder dialog(kSampleDialog);
    dialog.endDialog(kIdCancel);
    EXPECT_EQ(dialog.runModal(), kIdCancel);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(DialogRun, PanelIsAChildThatKeepsItsPlace) {
    QWidget parent;
    parent.resize(600, 400);
    Recorder panel(kSampleDialog, &parent, Role::Panel);
    EXPECT_FALSE(panel.isWindow());
    EXPECT_EQ(panel.parentWidget(), &parent);
    panel.move(2, 2);
    parent.show();
    EXPECT_FALSE(panel.isVisible()); // hidden until shown
    for (int i = 0; i < 2; ++i) {
        panel.show();
        QApplication::processEvents();
        EXPECT_EQ(panel.pos(), QPoint(2, 2));
        panel.hide();
    }
    // Escape in a panel reaches the handler and hides nothing.
    panel.show();
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_TRUE(panel.isVisible());
}

// How many colours the rectangle holds, up to `enough`: 1 means a blank area.
int Colours(const QImage& image, const QRect& rect, int enough = 3) {
    std::set<QRgb> seen;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right() && int(seen.size()) < enough; ++x)
            seen.insert(image.pixel(x, y));
    return int(seen.size());
}

// What a person sees in the grab: the dialog's size, every control drawn where the table puts
// it, the picture and the progress in their places, plain background between the controls.
TEST(DialogScreenshot, GrabShowsEveryControlWhereTheTablePutsIt) {
    Recorder dialog(kSampleDialog);
    dialog.setRange(13, 0, 99);
    dialog.setPosition(13, 30);
    dialog.setRange(10, 0, 10);
    dialog.setPosition(10, 4);
    dialog.setColumn(22, QStringLiteral("Open File Name"));
    dialog.addRow(22, QStringLiteral("a.avi"));
    dialog.addRow(22, QStringLiteral("b.avi"));
    dialog.setCurrentRow(22, 1);
    dialog.addRow(23, QStringLiteral("X 1"));
    dialog.setCurrentRow(23, 0);
    dialog.setCheck(17, true);
    QImage picture(4, 3, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    dialog.setControlImage(12, picture, true);
    dialog.show();
    QApplication::processEvents();
    const QPixmap shot = dialog.grab();
    ASSERT_FALSE(shot.isNull());
    // A person may look at it.
    EXPECT_TRUE(shot.save(QStringLiteral("/tmp/dialog_sample.png")));
    const QImage image = shot.toImage().scaled(dialog.size()).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.deviceIndependentSize().toSize(), dialog.size());

    const BaseUnits base = dialog.baseUnits();
    auto at = [&](const QRect& units) { return DialogUnitsToPixels(units, base); };
    // An empty edit without a border draws nothing; every other control shows something.
    for (const ControlDef& c : kSample) {
        const bool drawsNothing = c.kind == Kind::Edit && !*c.caption && !(c.style & kBorder);
        const QRect place = at({c.x, c.y, c.width, c.height}).intersected(image.rect());
        EXPECT_EQ(Colours(image, place) > 1, !drawsNothing)
            << "control " << c.id << " \"" << c.caption << "\"";
    }
    const QRect shown = at({90, 5, 80, 60});
    EXPECT_EQ(image.pixelColor(shown.center()), QColor(Qt::darkCyan));
    // Four tenths done: the bar's left end is filled, its right end is not.
    const QRect progress = at({82, 122, 90, 10});
    const int middle = progress.center().y();
    EXPECT_NE(image.pixel(progress.left() + progress.width() / 8, middle),
              image.pixel(progress.right() - progress.width() / 8, middle));
    const QColor background = dialog.palette().color(QPalette::Window);
    for (const QPoint units : {QPoint(250, 100), QPoint(175, 130), QPoint(60, 108)})
        EXPECT_EQ(image.pixelColor(at({units, QSize(1, 1)}).topLeft()), background)
            << units.x() << "," << units.y();
}

} // namespace
