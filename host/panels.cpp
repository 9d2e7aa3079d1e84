#include "panels.h"

#include "clipboard_checker.h"
#include "outcome_box.h"
#include "window.h"

#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QSignalBlocker>
#include <QTabBar>

#include <cstring>
#include <initializer_list>

namespace {

// With no slot open the window is only its menu bar, this wide.
constexpr int kBareWindowWidth = 300;
// Past this size of the dialog font the panels stop growing with the window.
constexpr int kLargestFontPixels = 96;

QPointer<EditorPanelDialog> editorPanel;
QPointer<PlayerPanelDialog> playerPanel;
QPointer<StreamListDialog> streamListPanel;

template <typename Panel> void Destroy(QPointer<Panel>& panel) {
    delete panel.data();
    panel = nullptr;
}

void ShowOne(QWidget* shown, QWidget* hidden) {
    if (hidden) {
        hidden->setEnabled(false);
        hidden->hide();
    }
    if (shown) {
        shown->setEnabled(true);
        shown->show();
    }
}

void CreateThePanels() {
    playerPanel = new PlayerPanelDialog(TabControl());
    editorPanel = new EditorPanelDialog(TabControl());
    streamListPanel = new StreamListDialog(MainWindow()->centralWidget(), SwitchToSlot);
    SelectTab(kTabEditor);
    streamListPanel->show();
    LayoutPanels();
    GrayStreamCommands(false);
    hostFlags |= kPanelsExist;
}

void RemoveThePanels() {
    DestroyPanels();
    GrayStreamCommands(true);
    hostFlags = 0;
    LayoutPanels();
}

// Slot names are the file system's bytes; shown as Qt decodes file names.
QString SlotName(int slot) {
    const char* name = workspace.slotNames[slot];
    return QFile::decodeName(QByteArray(name, qsizetype(strnlen(name, kPathSize))));
}

void ListSlots() {
    streamListPanel->clearRows(kStreamList);
    for (int slot = 0; slot < workspace.slotCount; ++slot)
        streamListPanel->addRow(kStreamList, SlotName(slot));
    streamListPanel->setCurrentRow(kStreamList, workspace.currentSlot);
}

} // namespace

EditorPanelDialog* EditorPanel() {
    return editorPanel;
}
PlayerPanelDialog* PlayerPanel() {
    return playerPanel;
}
StreamListDialog* StreamListPanel() {
    return streamListPanel;
}

void RefreshPanels() {
    if (workspace.slotCount == 0) {
        RemoveThePanels();
        return;
    }
    if (!editorPanel) CreateThePanels();
    ListSlots();
    editorPanel->setText(kEditorSlotName, SlotName(workspace.currentSlot));
    editorPanel->refresh();
    playerPanel->initialise();
    streamListPanel->requestInfoRepaint();
}

void RefreshEditorPanel() {
    if (editorPanel) editorPanel->refresh();
}

void ShowChanges(unsigned changes) {
    ShowUndoState(session::CanUndo(), session::CanRedo());
    if (changes & session::kSlotsChanged) {
        RefreshPanels();
        if (!session::HasSlots() && (session::CanUndo() || session::CanRedo())) KeepUndoReachable();
        return;
    }
    if (changes & session::kRateChanged) {
        if (playerPanel) playerPanel->initialise();
    }
    if (changes & session::kFramesChanged) {
        if (playerPanel) playerPanel->rereadFrame();
        if (streamListPanel) streamListPanel->requestInfoRepaint();
        if (TabControl()) TabControl()->update();
    }
    if (changes & (session::kFramesChanged | session::kRangeChanged)) RefreshEditorPanel();
    if (changes & session::kClipboardChanged) ReinitClipboardChecker();
}

void SwitchToSlot(int slot) {
    StopPlayback(); // the tick reads the slot entries and the working stream replaced here
    ShowOutcome(MainWindow(), session::SwitchSlot(slot));
}

void CloseStream(int slot) {
    StopPlayback();
    ShowOutcome(MainWindow(), session::CloseSlot(slot));
}

void StopPlayback() {
    if (playerPanel) playerPanel->stop();
}

int PlaybackTick() {
    return playerPanel ? playerPanel->tick() : 0;
}

bool PlaybackRunning() {
    return playerPanel && playerPanel->playing();
}

int MarkedSlot() {
    return streamListPanel ? streamListPanel->currentRow(kStreamList) : -1;
}

namespace {

// The tab control's parts, in pixels, with the dialog font at one size: the panels it shows,
// the strip below them and the stream list beside it.
struct PanelLayout {
    QSize editor;
    QSize list;
    int stripHeight;
    int tabWidth() const { return editor.width() + 4; }
    int tabHeight() const { return editor.height() + 4 + stripHeight; }
    QSize client() const { return {tabWidth() + list.width(), tabHeight()}; }
};

PanelLayout LayoutAt(int fontPixels) {
    TabBar()->setFont(dlg::DialogFont(fontPixels));
    return {editorPanel->sizeAt(fontPixels), streamListPanel->sizeAt(fontPixels),
            TabBar()->sizeHint().height()};
}

// Places the parts as laid out by LayoutAt(fontPixels), which gave the strip its font.
void Place(const PanelLayout& layout, int fontPixels) {
    for (dlg::Dialog* panel :
         std::initializer_list<dlg::Dialog*>{editorPanel, playerPanel, streamListPanel})
        panel->setFontPixelSize(fontPixels);
    const QSize editor = layout.editor;
    editorPanel->setGeometry(2, 2, editor.width(), editor.height());
    playerPanel->setGeometry(2, 2, editor.width(), editor.height());
    TabControl()->setGeometry(0, 0, layout.tabWidth(), layout.tabHeight());
    TabBar()->setGeometry(0, editor.height() + 4, layout.tabWidth(), layout.stripHeight);
    streamListPanel->setGeometry(layout.tabWidth(), 0, layout.list.width(), layout.tabHeight());
}

// The largest dialog font whose panels fit the room; the panels' tables scale with it, pictures
// and all, so a larger window shows larger pictures and the same layout.
int FontPixelsFor(QSize room) {
    int pixels = dlg::kDialogFontPixels;
    while (pixels < kLargestFontPixels) {
        const QSize next = LayoutAt(pixels + 1).client();
        if (next.width() > room.width() || next.height() > room.height()) break;
        ++pixels;
    }
    return pixels;
}

} // namespace

void LayoutPanels() {
    QMainWindow* window = MainWindow();
    const int menuHeight = window->menuBar()->sizeHint().height();
    if (!editorPanel) {
        window->setFixedSize(kBareWindowWidth, menuHeight);
        return;
    }
    // The window system draws the frame and the caption; at its smallest the client area holds
    // the menu bar and the panels at the dialog font's own size exactly. The user may make it
    // larger.
    const QSize smallest = LayoutAt(dlg::kDialogFontPixels).client() + QSize(0, menuHeight);
    window->setMinimumSize(smallest);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (window->width() < smallest.width() || window->height() < smallest.height())
        window->resize(smallest.expandedTo(window->size()));
    FitPanelsToWindow();
}

void FitPanelsToWindow() {
    QMainWindow* window = MainWindow();
    if (!window || !editorPanel) return;
    const QSize room = window->size() - QSize(0, window->menuBar()->sizeHint().height());
    const int pixels = FontPixelsFor(room);
    Place(LayoutAt(pixels), pixels);
}

void DestroyPanels() {
    Destroy(editorPanel);
    Destroy(streamListPanel);
    Destroy(playerPanel);
    DestroyClipboardChecker();
}

void ShowEditorTab() {
    ShowOne(editorPanel, playerPanel);
}

void ShowPlayerTab() {
    ShowOne(playerPanel, editorPanel);
}

void SelectTab(int index) {
    {
        // One call of the handling whether or not the index changes.
        const QSignalBlocker blocker(TabBar());
        TabBar()->setCurrentIndex(index);
    }
    OnTabSelected(index);
}

void OnTabSelected(int index) {
    if (index == kTabEditor) {
        UseKeyTable(kTabEditor);
        SetPopupsEnabled(true);
        MenuItem(kCmdFileSave)->setEnabled(true);
        RestoreClipboardChecker();
        ShowEditorTab();
        RefreshEditorPanel();
    } else if (index == kTabPlayer) {
        UseKeyTable(kTabPlayer);
        SetPopupsEnabled(false);
        MenuItem(kCmdFileSave)->setEnabled(false);
        HideClipboardChecker();
        ShowPlayerTab();
    }
    TabControl()->update();
}
