// The dialog builder: every dialog and panel is a table of controls in dialog units, built
// into Qt widgets. Controls keep their numeric ids; code reaches them by id, and one set of
// handlers per dialog dispatches on the id of the control the user acted on.
//
//   static const dlg::ControlDef kControls[] = {
//       {1005, dlg::Kind::HSlider, "", 28, 78, 120, 9},
//       {1007, dlg::Kind::Edit, "", 146, 76, 20, 12, dlg::kCentre},
//   };
//   class EditorPanel : public dlg::Dialog {
//     public:
//       explicit EditorPanel(QWidget* parent)
//           : Dialog({"", 175, 121, kControls}, parent, dlg::Role::Panel) {}
//     protected:
//       void onScroll(int id) override { ... position(id) ... }
//   };
//
// Setting a control from code never calls a handler; only the user's actions do.
#pragma once

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace dlg {

// Id of controls that code never addresses (labels, group boxes).
constexpr int kNoId = -1;

// Ids the dialog itself sends: Esc and the window's close box send kIdCancel to onCommand.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

enum class Kind {
    PushButton,
    CheckBox,     // check box; not automatic unless kAuto
    ToggleButton, // push-like check box; not automatic unless kAuto
    RadioButton,  // radio-style button, independent of its neighbours; not automatic unless kAuto
    GroupBox,
    Static,  // static text
    Edit,    // read-only edit (text set by code); also serves as a picture frame
    HSlider, // trackbar
    VSlider, // trackbar, minimum at the top
    HScrollBar,
    VScrollBar,
    ListView, // report view, one column, single selection, selection always shown
    DropDown, // drop-down list
    Progress,
    Picture, // picture control: shows the frame given by PaintFrame
};

// Style bits of a control.
enum Style : unsigned {
    kDisabled = 1u << 0,
    kBorder = 1u << 1,     // thin frame (edits, pictures, progress bars)
    kCentre = 1u << 2,     // centred text (edits, statics)
    kAuto = 1u << 3,       // check box / toggle / radio flips its own check mark when clicked
    kFlat = 1u << 4,       // flat push-like buttons
    kHidden = 1u << 5,     // not initially visible
    kKeepAspect = 1u << 6, // pictures: the image keeps its aspect ratio, centred in the control
};

struct ControlDef {
    int id;
    Kind kind;
    const char* caption;     // UTF-8
    int x, y, width, height; // dialog units
    unsigned style = 0;
};

struct DialogDef {
    const char* title; // UTF-8; unused for panels
    int width, height; // client size in dialog units
    std::span<const ControlDef> controls;
};

enum class Role {
    Modal, // a window of its own, run with runModal()
    Panel, // a child widget of the parent, hidden until shown; place it with move()
};

// Windows scroll codes, as reported by scrollCode() during onScroll.
enum ScrollCode {
    kLineUp = 0,
    kLineDown = 1,
    kPageUp = 2,
    kPageDown = 3,
    kThumbPosition = 4,
    kThumbTrack = 5,
    kTop = 6,
    kBottom = 7,
};

// List view notification codes passed to onNotify.
constexpr int kNotifyItemChanged = -101;  // the selected row changed
constexpr int kNotifyItemActivate = -114; // a row was double-clicked or Enter was pressed

// Dialog base units: pixels per 4 horizontal and per 8 vertical dialog units.
struct BaseUnits {
    int x;
    int y;
};

// The size of the dialog font the tables were laid out for: 9 points at 96 dots per inch. Qt
// scales these device-independent pixels with the screen's device pixel ratio.
constexpr int kDialogFontPixels = 12;

// The dialog font: IPAPGothic (12 pixels unless asked for larger), or the nearest font the
// system has.
QFont DialogFont(int pixelSize = kDialogFontPixels);
// Base units of a font as Windows computes them: average width of the 52 Latin letters, line
// height.
BaseUnits BaseUnitsOf(const QFont& font);
// Dialog units to pixels, rounding as MulDiv does.
QRect DialogUnitsToPixels(const QRect& units, BaseUnits base);

class Dialog : public QDialog {
  public:
    Dialog(const DialogDef& layout, QWidget* parent, Role role = Role::Modal);
    ~Dialog() override;

    BaseUnits baseUnits() const { return base_; }
    // Lays the dialog and its controls out again with the dialog font at this size: the table's
    // dialog units scale with the font, so every control keeps its place and its text its room.
    void setFontPixelSize(int pixelSize);
    // The client size the dialog would have with the dialog font at this size.
    QSize sizeAt(int pixelSize) const;
    // Shows the dialog modally; returns the code given to endDialog. A dialog ended before
    // it runs returns that code without showing.
    int runModal();
    void endDialog(int code);

    // Schedules one onPaint() on the next turn of the event loop; several requests made
    // before it runs give one call. Showing the dialog also schedules one.
    void invalidate();

    // The widget of a control, or null when the dialog has no control with this id.
    QWidget* control(int id) const;

    // Texts: edits, statics, buttons, group boxes. An edit's line too long for it shows its
    // beginning and end around "…", and the whole line as the tooltip; text() gives the whole
    // line.
    void setText(int id, const QString& text);
    // Decimal number, as SetDlgItemInt with a signed value.
    void setNumber(int id, long long value);
    QString text(int id) const;

    // Check marks: check boxes, toggles, radio buttons.
    void setCheck(int id, bool checked);
    bool isChecked(int id) const;

    // Sliders, scroll bars and progress bars. Values are taken as given: the 16-bit wrapping of
    // a trackbar's range and positions is the caller's arithmetic.
    void setRange(int id, int minimum, int maximum);
    int minimum(int id) const;
    int maximum(int id) const;
    void setPosition(int id, int position);
    int position(int id) const;
    // Progress bars: the step added by stepProgress, which wraps to the minimum past the
    // maximum (as PBM_STEPIT does).
    void setStep(int id, int step);
    void stepProgress(int id);

    // Rows of list views and drop-down lists. Row -1 means none.
    // List views only: the header of the one column, which fills the view; a row too long
    // for it shows its beginning and end around "…", and the whole row as its tooltip.
    void setColumn(int id, const QString& header);
    void insertRow(int id, int row, const QString& text); // row past the end appends
    void addRow(int id, const QString& text);
    void removeRow(int id, int row);
    void clearRows(int id);
    int rowCount(int id) const;
    QString rowText(int id, int row) const;
    void setCurrentRow(int id, int row); // selects the row (and only it); -1 clears
    int currentRow(int id) const;        // the selected row, or -1

    void setControlEnabled(int id, bool enabled);
    bool isControlEnabled(int id) const;
    void setControlVisible(int id, bool visible);

    // Client area of a control in pixels (inside its border).
    QSize clientSize(int id) const;

    // Puts an image into an Edit or Picture control, drawn stretched over its client area
    // (smoothly or nearest-neighbour). A null image clears the control. Returns false for
    // other kinds or unknown ids. PaintFrame (paint_frame.h) is the usual caller.
    bool setControlImage(int id, const QImage& image, bool smooth);

  protected:
    // Handlers; the defaults do nothing.
    // A button was clicked (check marks already follow kAuto), or a drop-down's selection
    // was changed by the user.
    virtual void onCommand(int id);
    // A slider or scroll bar was moved by the user. Sliders have already moved: read
    // position(id). Scroll bars do not move by themselves (as on Windows): scrollCode()
    // tells the action and scrollThumb() the position the user asked for; the handler sets
    // the position it accepts.
    virtual void onScroll(int id);
    // A list view notification (kNotifyItemChanged, kNotifyItemActivate).
    virtual void onNotify(int id, int code);
    // Deferred paint, requested by invalidate().
    virtual void onPaint();

    int scrollCode() const { return scrollCode_; }
    int scrollThumb() const { return scrollThumb_; }

    void reject() override; // Esc and the close box: onCommand(kIdCancel)
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* createControl(const ControlDef& control);
    void placeControls();
    void connectControl(QWidget* widget, const ControlDef& control);
    void runPaint();

    DialogDef layout_;
    BaseUnits base_;
    std::map<int, QWidget*> controls_;
    std::vector<std::pair<QWidget*, ControlDef>> placed_; // every control, in table order
    bool panel_ = false;
    bool endedEarly_ = false;
    bool paintPending_ = false;
    bool destroying_ = false;
    int scrollCode_ = kThumbTrack;
    int scrollThumb_ = 0;
};

} // namespace dlg
