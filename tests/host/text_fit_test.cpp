// Every text of every dialog and panel is shown whole: inside its control and clear of the
// controls beside it, numbers at their widest. CTest runs this suite at scale 1 and again with
// QT_SCALE_FACTOR=2, as on a high-DPI screen.
#include "host_fixture.h"

#include "color_dialog.h"
#include "crossfade_dialog.h"
#include "mask_dialog.h"
#include "zoom_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// Where a control shows its text: the room it has and the rectangle the text takes there, both
// in the control's coordinates.
struct TextPlace {
    QString text;
    QRect room;
    QRect taken;
};

QRect Taken(const QWidget* control, const QRect& room, int flags, const QString& text) {
    return QFontMetrics(control->font()).boundingRect(room, flags, text);
}

TextPlace PlaceOfButton(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool check = qobject_cast<const QCheckBox*>(button);
    const bool radio = qobject_cast<const QRadioButton*>(button);
    const QStyle::SubElement element = check   ? QStyle::SE_CheckBoxContents
                                       : radio ? QStyle::SE_RadioButtonContents
                                               : QStyle::SE_PushButtonContents;
    const QRect room = button->style()->subElementRect(element, &option, button);
    const int flags = Qt::TextShowMnemonic | Qt::AlignVCenter |
                      (check || radio ? Qt::AlignLeft : Qt::AlignHCenter);
    return {button->text(), room, Taken(button, room, flags, button->text())};
}

TextPlace PlaceOfGroupTitle(const QGroupBox* group) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = group->alignment();
    const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, group);
    return {group->title(), group->rect(), label};
}

TextPlace PlaceOfLabel(const QLabel* label) {
    const QString text = label->text();
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return {text, room, Taken(label, room, flags, text)};
}

std::optional<TextPlace> PlaceOfText(const QWidget* control) {
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return PlaceOfButton(button);
    if (auto* group = qobject_cast<const QGroupBox*>(control)) return PlaceOfGroupTitle(group);
    if (auto* label = qobject_cast<const QLabel*>(control)) return PlaceOfLabel(label);
    return std::nullopt;
}

std::string Describe(const QWidget* control, const TextPlace& place) {
    return std::string(control->metaObject()->className()) + " \"" + place.text.toStdString() +
           "\"";
}

// The other controls of the same window a text may not run under. Group boxes hold controls
// inside their frame, so only their titles count (as texts of their own).
std::string Covering(const QWidget* control, const QRect& taken) {
    const QRect inParent = taken.translated(control->pos());
    for (const QObject* object : control->parent()->children()) {
        auto* other = qobject_cast<const QWidget*>(object);
        if (!other || other == control || other->isHidden() ||
            qobject_cast<const QGroupBox*>(other))
            continue;
        if (other->geometry().intersects(inParent))
            return std::string(other->metaObject()->className());
    }
    return {};
}

// The texts of a window that are not shown whole, a line each.
std::string TextsNotShownWhole(const QWidget* window) {
    std::string cut;
    for (const QWidget* control : window->findChildren<QWidget*>()) {
        if (!control->isVisibleTo(window)) continue;
        const std::optional<TextPlace> place = PlaceOfText(control);
        if (!place || place->text.isEmpty()) continue;
        if (!place->room.contains(place->taken))
            cut += Describe(control, *place) + " needs " + std::to_string(place->taken.width()) +
                   "x" + std::to_string(place->taken.height()) + ", has " +
                   std::to_string(place->room.width()) + "x" +
                   std::to_string(place->room.height()) + "\n";
        const std::string cover = Covering(control, place->taken);
        if (!cover.empty()) cut += Describe(control, *place) + " runs under a " + cover + "\n";
    }
    return cut;
}

using Inspect = std::function<void(const QWidget* window)>;
using Texts = std::map<int, const char*>;

// The widest text each control that shows a number can get, shown whole (a name too long for
// its control may be cut in the middle, a number never).
void ShowWidest(dlg::Dialog& dialog, const Texts& texts) {
    for (const auto& [id, text] : texts) {
        dialog.setText(id, QString::fromUtf8(text));
        EXPECT_EQ(static_cast<const QLabel*>(dialog.control(id))->text().toStdString(), text);
    }
}

template <typename Effect> void InspectEffect(const Texts& widest, const Inspect& inspect) {
    EditWorkspace copy = workspace;
    Effect dialog(MainWindow(), copy);
    dialog.show();
    ShowWidest(dialog, widest);
    inspect(&dialog);
}

const Texts kEditorWidest = {{kEditorStartNumber, "9999999"}, {kEditorEndNumber, "9999999"}};
const Texts kPlayerWidest = {{kPlayerPosition, "9999999"},
                             {kPlayerSpeedOffset, "-100"},
                             {kPlayerRateText, "1 Sec 999 Frame"},
                             {kPlayerTime, "999:59.99 / 999:59.99"}};
const Texts kStreamListWidest = {
    {kStreamInfoBox, "Color Bit 24\nWindow Size 9999 X 9999\nFrame Length 9999999"}};
const Texts kCheckerWidest = {{kCheckerStatus, "All 99999/ Disp 99999"}};
const Texts kMaskWidest = {{kMaskBaseInfo, "999999/ (999999,999999)"},
                           {kMaskBackInfo, "999999/ (999999,999999)"},
                           {kMaskMaskInfo, "999999/ (999999,999999)"},
                           {kMaskPickInfo, "800% (9999,9999)"},
                           {kMaskRedLevel, "255"},
                           {kMaskGreenLevel, "255"},
                           {kMaskBlueLevel, "255"}};
const Texts kZoomWidest = {{kZoomStartXZoomEdit, "400"},  {kZoomStartYZoomEdit, "400"},
                           {kZoomStartXPosEdit, "-9999"}, {kZoomStartYPosEdit, "-9999"},
                           {kZoomEndXZoomEdit, "400"},    {kZoomEndYZoomEdit, "400"},
                           {kZoomEndXPosEdit, "-9999"},   {kZoomEndYPosEdit, "-9999"}};
const Texts kColorWidest = {{kColorOffsetRedValue, "-255"},  {kColorOffsetGreenValue, "-255"},
                            {kColorOffsetBlueValue, "-255"}, {kColorStepRedValue, "-255"},
                            {kColorStepGreenValue, "-255"},  {kColorStepBlueValue, "-255"},
                            {kColorPixelXValue, "9999"},     {kColorPixelYValue, "9999"}};
const Texts kCrossfadeWidest = {{kCrossfadeStartTransNumber, "100"},
                                {kCrossfadeEndTransNumber, "100"},
                                {kCrossfadeSourceText, "999999 / 999999 To 999999"},
                                {kCrossfadeDestinationText, "999999 / 999999 To 999999"}};

struct FitCase {
    const char* name;
    std::function<void(const Inspect&)> open;
    friend void PrintTo(const FitCase& c, std::ostream* out) { *out << c.name; }
};

const FitCase kCases[] = {
    {"EditorTab",
     [](const Inspect& inspect) {
         ShowWidest(*EditorPanel(), kEditorWidest);
         ShowWidest(*StreamListPanel(), kStreamListWidest);
         inspect(MainWindow());
     }},
    {"PlayerTab",
     [](const Inspect& inspect) {
         SelectTab(kTabPlayer);
         ShowWidest(*PlayerPanel(), kPlayerWidest);
         inspect(MainWindow());
     }},
    {"ClipboardChecker",
     [](const Inspect& inspect) {
         DispatchCommand(kCmdCopy);
         ToggleClipboardChecker();
         ShowWidest(*ClipboardChecker(), kCheckerWidest);
         inspect(ClipboardChecker());
     }},
    {"SaveOptions",
     [](const Inspect& inspect) {
         ui_script::End(); // the real dialog, looked at and cancelled
         QTimer::singleShot(0, qApp, [&inspect] {
             QWidget* dialog = QApplication::activeModalWidget();
             ASSERT_NE(dialog, nullptr);
             inspect(dialog);
             dialog->close();
         });
         AVICOMPRESSOPTIONS options{};
         AVICOMPRESSOPTIONS* list[] = {&options};
         PAVISTREAM stream = workspace.currentStream;
         AVISaveOptions(MainWindow(),
                        ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW, 1,
                        &stream, list);
         ui_script::Begin();
     }},
    {"Mask", [](const Inspect& inspect) { InspectEffect<mask::MaskDialog>(kMaskWidest, inspect); }},
    {"Zoom", [](const Inspect& inspect) { InspectEffect<zoom::ZoomDialog>(kZoomWidest, inspect); }},
    {"Color", [](const Inspect& inspect) { InspectEffect<ColorDialog>(kColorWidest, inspect); }},
    {"Crossfade",
     [](const Inspect& inspect) {
         InspectEffect<crossfade::CrossfadeDialog>(kCrossfadeWidest, inspect);
     }},
};

class TextFit : public HostFixture, public testing::WithParamInterface<FitCase> {};

TEST_P(TextFit, EveryTextIsShownWhole) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    window->show();
    Open(MakeAvi("a-rather-long-name-of-a-first-take.avi", 320, 240, 3));
    Open(MakeAvi("a-rather-long-name-of-a-second-take.avi", 320, 240, 3));
    const double scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
    bool inspected = false;
    GetParam().open([&](const QWidget* shown) {
        inspected = true;
        // The scale this run stands for is the one the window is drawn at.
        EXPECT_DOUBLE_EQ(shown->devicePixelRatioF(), scale);
        EXPECT_EQ(TextsNotShownWhole(shown), "");
    });
    EXPECT_TRUE(inspected);
}

INSTANTIATE_TEST_SUITE_P(DialogsAndPanels, TextFit, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

using WindowGrowth = HostFixture;

// A window made larger shows larger pictures, and its texts still fit. With MIVRA_SCREENSHOTS
// set to a folder, the larger window and the zoom dialog over it are saved there as PNGs.
TEST_F(WindowGrowth, PicturesGrowWithTheWindowAndEveryTextStillFits) {
    QMainWindow* window = CreateMainWindow();
    ASSERT_NE(window, nullptr);
    window->show();
    const std::string path = (folder / "sunset.avi").string();
    ASSERT_TRUE(WriteGradientAvi(path, 320, 240, 60, 24));
    Open(path);
    Drag(kEditorEndSlider, 40);
    Drag(kEditorStartSlider, 10);
    const QSize smallest = window->size();
    const int pictureWidth = EditorPanel()->control(kEditorStartPicture)->width();

    window->resize(smallest * 3 / 2);
    QCoreApplication::processEvents();
    EXPECT_GE(EditorPanel()->control(kEditorStartPicture)->width(), pictureWidth * 4 / 3);
    EXPECT_EQ(TextsNotShownWhole(window), "");

    const QString shots = qEnvironmentVariable("MIVRA_SCREENSHOTS");
    if (shots.isEmpty()) return;
    EXPECT_TRUE(window->grab().save(shots + "/editor-large.png"));
    window->resize(smallest);
    EditWorkspace copy = workspace;
    zoom::ZoomDialog dialog(window, copy);
    dialog.show();
    static_cast<QSlider*>(dialog.control(kZoomEndXZoom))->setValue(200);
    static_cast<QSlider*>(dialog.control(kZoomEndYZoom))->setValue(200);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(shots + "/zoom-dialog.png"));
}

} // namespace
