#include "dialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

namespace dlg {

namespace {

// Read-only edits and picture controls: a label that can also hold a frame image, drawn
// stretched over its client area (inside the border), or at its own aspect ratio centred there,
// on top of any text. A line a little too long for the control is set in smaller type, so that
// the frame numbers of a long stream stay whole; one longer still shows its beginning and end
// around "…" (names that differ only in the middle stay apart), and the whole line as the
// tooltip.
class FrameLabel : public QLabel {
  public:
    using QLabel::QLabel;

    void setFullText(const QString& text) {
        full_ = text;
        elide();
    }
    const QString& fullText() const { return full_; }

    void setKeepAspect(bool keep) { keepAspect_ = keep; }

    void setImage(const QImage& image, bool smooth) {
        image_ = image;
        smooth_ = smooth;
        scaled_ = QImage();
        update();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (image_.isNull() || contentsRect().isEmpty()) return;
        const QRect target = imageTarget();
        // Scaled for the screen's pixels, so that a high-DPI screen shows every one of them.
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(target.size()) * ratio).toSize();
        if (scaled_.size() != pixels) {
            scaled_ = image_.scaled(pixels, Qt::IgnoreAspectRatio,
                                    smooth_ ? Qt::SmoothTransformation : Qt::FastTransformation);
            scaled_.setDevicePixelRatio(ratio);
        }
        QPainter painter(this);
        painter.drawImage(target.topLeft(), scaled_);
    }

  private:
    QRect imageTarget() const {
        const QRect client = contentsRect();
        if (!keepAspect_) return client;
        const QSize fitted = image_.size().scaled(client.size(), Qt::KeepAspectRatio);
        return QStyle::alignedRect(layoutDirection(), Qt::AlignCenter, fitted, client);
    }

    // The width QLabel gives the text: the contents less the margins and, beside a frame, the
    // indent on the aligned side.
    int textWidth() const {
        int width = contentsRect().width() - 2 * margin();
        if ((alignment() & (Qt::AlignLeft | Qt::AlignRight)) && frameWidth() > 0)
            width -=
                indent() >= 0 ? indent() : fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
        return width;
    }

    void elide() {
        setFont(QFont()); // the dialog's own type again
        if (!full_.contains('\n')) fitType();
        const QString shown = full_.contains('\n')
                                  ? full_
                                  : fontMetrics().elidedText(full_, Qt::ElideMiddle, textWidth());
        setText(shown);
        setToolTip(shown == full_ ? QString() : full_);
    }

    // Smaller type a pixel at a time, down to three quarters of the dialog's.
    void fitType() {
        QFont type = font();
        const int dialogSize = QFontInfo(type).pixelSize();
        for (int size = dialogSize - 1;
             size >= dialogSize * 3 / 4 && fontMetrics().horizontalAdvance(full_) > textWidth();
             --size) {
            type.setPixelSize(size);
            setFont(type);
        }
    }

    QString full_;
    QImage image_;
    QImage scaled_; // image_ at the last client size, so repaints do not rescale
    bool smooth_ = true;
    bool keepAspect_ = false;
};

int MulDiv(int value, int numerator, int denominator) {
    return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

int ScrollCodeOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return kLineUp;
    case QAbstractSlider::SliderSingleStepAdd:
        return kLineDown;
    case QAbstractSlider::SliderPageStepSub:
        return kPageUp;
    case QAbstractSlider::SliderPageStepAdd:
        return kPageDown;
    case QAbstractSlider::SliderToMinimum:
        return kTop;
    case QAbstractSlider::SliderToMaximum:
        return kBottom;
    default:
        return kThumbTrack;
    }
}

// One of a slider's, scroll bar's or progress bar's values; 0 for other controls.
int RangeValue(QWidget* widget, int (QAbstractSlider::*ofSlider)() const,
               int (QProgressBar::*ofProgress)() const) {
    if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) return (slider->*ofSlider)();
    if (auto* progress = qobject_cast<QProgressBar*>(widget)) return (progress->*ofProgress)();
    return 0;
}

bool IsSliderKind(Kind kind) {
    return kind == Kind::HSlider || kind == Kind::VSlider;
}
bool IsScrollBarKind(Kind kind) {
    return kind == Kind::HScrollBar || kind == Kind::VScrollBar;
}

} // namespace

QFont DialogFont(int pixelSize) {
    QFont font;
    // Built at run time: Qt's font cache keeps these strings, and a literal's text would live
    // in a plug-in module that is unloaded after its dialog.
    font.setFamilies({QString::fromLatin1("IPAPGothic"), QString::fromLatin1("IPAGothic")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {std::max(1, (letters / 26 + 1) / 2), std::max(1, metrics.height())};
}

QRect DialogUnitsToPixels(const QRect& units, BaseUnits base) {
    return {MulDiv(units.x(), base.x, 4), MulDiv(units.y(), base.y, 8),
            MulDiv(units.width(), base.x, 4), MulDiv(units.height(), base.y, 8)};
}

Dialog::Dialog(const DialogDef& layout, QWidget* parent, Role role)
    : QDialog(parent), layout_(layout), base_(BaseUnitsOf(DialogFont())) {
    if (role == Role::Panel) setWindowFlags(Qt::Widget);
    panel_ = role == Role::Panel;
    setFont(DialogFont());
    if (panel_)
        hide(); // explicitly, or showing the parent would show the panel too
    else
        setWindowTitle(QString::fromUtf8(layout.title ? layout.title : ""));
    for (const ControlDef& control : layout.controls) {
        QWidget* widget = createControl(control);
        if (auto* label = dynamic_cast<FrameLabel*>(widget)) {
            label->setKeepAspect(control.style & kKeepAspect);
            label->setFullText(QString::fromUtf8(control.caption ? control.caption : ""));
        }
        widget->setEnabled(!(control.style & kDisabled));
        widget->setVisible(!(control.style & kHidden));
        if (control.id != kNoId) controls_[control.id] = widget;
        placed_.emplace_back(widget, control);
        connectControl(widget, control);
    }
    placeControls();
}

void Dialog::placeControls() {
    const QSize client =
        DialogUnitsToPixels(QRect(0, 0, layout_.width, layout_.height), base_).size();
    if (panel_)
        resize(client);
    else
        setFixedSize(client);
    for (const auto& [widget, control] : placed_) {
        widget->setGeometry(
            DialogUnitsToPixels(QRect(control.x, control.y, control.width, control.height), base_));
        if (control.kind == Kind::DropDown) {
            // The template height includes the dropped list; the closed box is one line.
            widget->resize(widget->width(), widget->sizeHint().height());
        }
    }
}

void Dialog::setFontPixelSize(int pixelSize) {
    const QFont font = DialogFont(pixelSize);
    base_ = BaseUnitsOf(font);
    setFont(font);
    placeControls();
}

QSize Dialog::sizeAt(int pixelSize) const {
    return DialogUnitsToPixels(QRect(0, 0, layout_.width, layout_.height),
                               BaseUnitsOf(DialogFont(pixelSize)))
        .size();
}

Dialog::~Dialog() {
    // Children are destroyed after this class; none of their signals may reach a handler.
    destroying_ = true;
    for (QObject* child : children())
        child->blockSignals(true);
}

QWidget* Dialog::createControl(const ControlDef& control) {
    const QString caption = QString::fromUtf8(control.caption ? control.caption : "");
    const Qt::Alignment horizontal = (control.style & kCentre) ? Qt::AlignHCenter : Qt::AlignLeft;
    switch (control.kind) {
    case Kind::PushButton: {
        auto* button = new QPushButton(caption, this);
        button->setAutoDefault(false);
        button->setFlat(control.style & kFlat);
        return button;
    }
    case Kind::CheckBox: {
        auto* box = new QCheckBox(caption, this);
        return box;
    }
    case Kind::ToggleButton: {
        auto* button = new QPushButton(caption, this);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setFlat(control.style & kFlat);
        return button;
    }
    case Kind::RadioButton: {
        auto* radio = new QRadioButton(caption, this);
        radio->setAutoExclusive(false);
        return radio;
    }
    case Kind::GroupBox:
        return new QGroupBox(caption, this);
    case Kind::Static: {
        auto* label = new QLabel(caption, this);
        label->setAlignment(horizontal | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case Kind::Edit:
    case Kind::Picture: {
        auto* label = new FrameLabel(this);
        label->setAlignment(horizontal | Qt::AlignVCenter);
        if (control.style & kBorder) {
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
            label->setLineWidth(1);
        }
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        return label;
    }
    case Kind::HSlider:
    case Kind::VSlider: {
        const bool vertical = control.kind == Kind::VSlider;
        auto* slider = new QSlider(vertical ? Qt::Vertical : Qt::Horizontal, this);
        // Trackbars put the minimum at the top.
        slider->setInvertedAppearance(vertical);
        slider->setInvertedControls(vertical);
        slider->setRange(0, 100);
        slider->setPageStep(20);
        return slider;
    }
    case Kind::HScrollBar:
    case Kind::VScrollBar: {
        auto* bar =
            new QScrollBar(control.kind == Kind::VScrollBar ? Qt::Vertical : Qt::Horizontal, this);
        bar->setRange(0, 100);
        return bar;
    }
    case Kind::ListView: {
        auto* list = new QTreeWidget(this);
        list->setColumnCount(1);
        list->setHeaderLabels({QString()});
        list->setRootIsDecorated(false);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setUniformRowHeights(true);
        // The one column fills the view, so a long row is cut in its middle (its beginning and
        // its end stay, where names of one series differ), never scrolled off at one side.
        list->header()->setStretchLastSection(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setTextElideMode(Qt::ElideMiddle);
        // Selection always shown: the highlight keeps its colour without focus.
        QPalette palette = list->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::HighlightedText));
        list->setPalette(palette);
        return list;
    }
    case Kind::DropDown:
        return new QComboBox(this);
    case Kind::Progress: {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setProperty("step", 10);
        return bar;
    }
    }
    return new QWidget(this);
}

void Dialog::connectControl(QWidget* widget, const ControlDef& control) {
    const int id = control.id;
    const Kind kind = control.kind;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const bool automatic = control.style & kAuto;
        connect(button, &QAbstractButton::clicked, this, [this, button, id, kind, automatic] {
            if (destroying_) return;
            if (button->isCheckable()) {
                // Qt has flipped the mark; keep the one the dialog's own code set.
                const QSignalBlocker blocker(button);
                if (!automatic)
                    button->setChecked(!button->isChecked());
                else if (kind == Kind::RadioButton)
                    button->setChecked(true);
            }
            onCommand(id);
        });
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
        if (IsSliderKind(kind)) {
            connect(slider, &QAbstractSlider::actionTriggered, this,
                    [this](int action) { scrollCode_ = ScrollCodeOf(action); });
            connect(slider, &QAbstractSlider::valueChanged, this, [this, id](int value) {
                if (destroying_) return;
                scrollThumb_ = value;
                onScroll(id);
                scrollCode_ = kThumbTrack; // a drag reports no action of its own
            });
        } else if (IsScrollBarKind(kind)) {
            connect(slider, &QAbstractSlider::actionTriggered, this,
                    [this, slider, id](int action) {
                        if (destroying_) return;
                        scrollCode_ = ScrollCodeOf(action);
                        scrollThumb_ = slider->sliderPosition();
                        {
                            // Undo Qt's own move: the handler decides the position.
                            const QSignalBlocker blocker(slider);
                            slider->setSliderPosition(slider->value());
                        }
                        onScroll(id);
                        scrollCode_ = kThumbTrack;
                    });
        }
    } else if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        connect(list, &QTreeWidget::itemSelectionChanged, this, [this, id] {
            if (!destroying_) onNotify(id, kNotifyItemChanged);
        });
        connect(list, &QTreeWidget::itemActivated, this, [this, id] {
            if (!destroying_) onNotify(id, kNotifyItemActivate);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, id] {
            if (!destroying_) onCommand(id);
        });
    }
}

int Dialog::runModal() {
    // Ended before it ran (say while the owner initialised it): return at once, as Windows does.
    if (endedEarly_) {
        endedEarly_ = false;
        return result();
    }
    return exec();
}

void Dialog::endDialog(int code) {
    if (!isVisible()) endedEarly_ = true;
    done(code);
}

void Dialog::invalidate() {
    if (paintPending_) return;
    paintPending_ = true;
    QTimer::singleShot(0, this, [this] { runPaint(); });
}

void Dialog::runPaint() {
    paintPending_ = false;
    if (!destroying_) onPaint();
}

void Dialog::onCommand(int) {}
void Dialog::onScroll(int) {}
void Dialog::onNotify(int, int) {}
void Dialog::onPaint() {}

void Dialog::reject() {
    onCommand(kIdCancel);
}

void Dialog::showEvent(QShowEvent* event) {
    // A panel stays where its owner put it; only a dialog window is centred on its parent.
    if (panel_)
        QWidget::showEvent(event);
    else
        QDialog::showEvent(event);
    invalidate();
}

QWidget* Dialog::control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void Dialog::setText(int id, const QString& text) {
    QWidget* widget = control(id);
    if (!widget) return;
    const QSignalBlocker blocker(widget);
    if (auto* frame = dynamic_cast<FrameLabel*>(widget))
        frame->setFullText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(text);
}

void Dialog::setNumber(int id, long long value) {
    setText(id, QString::number(value));
}

QString Dialog::text(int id) const {
    QWidget* widget = control(id);
    if (auto* frame = dynamic_cast<FrameLabel*>(widget)) return frame->fullText();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    return {};
}

void Dialog::setCheck(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(control(id));
    if (!button || !button->isCheckable()) return;
    const QSignalBlocker blocker(button);
    button->setChecked(checked);
}

bool Dialog::isChecked(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(control(id));
    return button && button->isChecked();
}

void Dialog::setRange(int id, int minimum, int maximum) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* slider = qobject_cast<QSlider*>(widget)) {
        slider->setRange(minimum, maximum);
        slider->setPageStep(std::max(1, (maximum - minimum) / 5)); // the trackbar's page
    } else if (auto* bar = qobject_cast<QAbstractSlider*>(widget)) {
        bar->setRange(minimum, maximum);
    } else if (auto* progress = qobject_cast<QProgressBar*>(widget)) {
        progress->setRange(minimum, maximum);
    }
}

int Dialog::minimum(int id) const {
    return RangeValue(control(id), &QAbstractSlider::minimum, &QProgressBar::minimum);
}

int Dialog::maximum(int id) const {
    return RangeValue(control(id), &QAbstractSlider::maximum, &QProgressBar::maximum);
}

void Dialog::setPosition(int id, int position) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
        slider->setValue(position);
    } else if (auto* progress = qobject_cast<QProgressBar*>(widget)) {
        // Qt ignores a value outside the range; the progress bar clamps it.
        progress->setValue(std::clamp(position, progress->minimum(), progress->maximum()));
    }
}

int Dialog::position(int id) const {
    return RangeValue(control(id), &QAbstractSlider::value, &QProgressBar::value);
}

void Dialog::setStep(int id, int step) {
    if (auto* progress = qobject_cast<QProgressBar*>(control(id)))
        progress->setProperty("step", step);
}

void Dialog::stepProgress(int id) {
    auto* progress = qobject_cast<QProgressBar*>(control(id));
    if (!progress) return;
    const long long low = progress->minimum();
    const long long span = static_cast<long long>(progress->maximum()) - low;
    long long next = static_cast<long long>(progress->value()) + progress->property("step").toInt();
    if (span > 0 && (next < low || next > low + span))
        next = low + ((next - low) % span + span) % span;
    setPosition(id, static_cast<int>(next));
}

void Dialog::setColumn(int id, const QString& header) {
    if (auto* list = qobject_cast<QTreeWidget*>(control(id))) list->setHeaderLabels({header});
}

void Dialog::insertRow(int id, int row, const QString& text) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        row = std::clamp(row, 0, list->topLevelItemCount());
        auto* item = new QTreeWidgetItem(QStringList{text});
        item->setToolTip(0, text); // the whole row where the view shows only its end
        list->insertTopLevelItem(row, item);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->insertItem(std::clamp(row, 0, combo->count()), text);
    }
}

void Dialog::addRow(int id, const QString& text) {
    insertRow(id, rowCount(id), text);
}

void Dialog::removeRow(int id, int row) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        delete list->takeTopLevelItem(row);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->removeItem(row);
    }
}

void Dialog::clearRows(int id) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* list = qobject_cast<QTreeWidget*>(widget))
        list->clear();
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->clear();
}

int Dialog::rowCount(int id) const {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) return list->topLevelItemCount();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->count();
    return 0;
}

QString Dialog::rowText(int id, int row) const {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        const QTreeWidgetItem* item = list->topLevelItem(row);
        return item ? item->text(0) : QString();
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->itemText(row);
    return {};
}

void Dialog::setCurrentRow(int id, int row) {
    QWidget* widget = control(id);
    const QSignalBlocker blocker(widget);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        list->clearSelection();
        if (item) {
            list->setCurrentItem(item);
            item->setSelected(true);
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(row >= 0 && row < combo->count() ? row : -1);
    }
}

int Dialog::currentRow(int id) const {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
        const QList<QTreeWidgetItem*> selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.front());
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentIndex();
    return -1;
}

void Dialog::setControlEnabled(int id, bool enabled) {
    if (QWidget* widget = control(id)) widget->setEnabled(enabled);
}

bool Dialog::isControlEnabled(int id) const {
    QWidget* widget = control(id);
    return widget && widget->isEnabled();
}

void Dialog::setControlVisible(int id, bool visible) {
    if (QWidget* widget = control(id)) widget->setVisible(visible);
}

QSize Dialog::clientSize(int id) const {
    QWidget* widget = control(id);
    if (!widget) return {};
    if (auto* frame = qobject_cast<QFrame*>(widget)) return frame->contentsRect().size();
    return widget->size();
}

bool Dialog::setControlImage(int id, const QImage& image, bool smooth) {
    auto* label = dynamic_cast<FrameLabel*>(control(id));
    if (!label) return false;
    label->setImage(image, smooth);
    return true;
}

} // namespace dlg
