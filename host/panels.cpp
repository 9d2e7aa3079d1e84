#include "panels.h"

#include "editor_panel.h"
#include "host.h"
#include "stream_list.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QSignalBlocker>
#include <QTabBar>

namespace {

// The player's controls come with playback; until then the panel only holds its place.
class PlayerPanelDialog : public dlg::Dialog {
public:
    explicit PlayerPanelDialog(QWidget* parent)
        : Dialog({"", 175, 121, {}}, parent, dlg::Role::Panel) {}
};

QPointer<dlg::Dialog> editorPanel;
QPointer<dlg::Dialog> playerPanel;
QPointer<dlg::Dialog> streamListPanel;
QPointer<dlg::Dialog> clipboardChecker;

void Destroy(QPointer<dlg::Dialog>& panel) {
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
    streamListPanel = new StreamListDialog(MainWindow()->centralWidget());
    {
        // Selecting the tab from code is not the user's switch.
        const QSignalBlocker blocker(TabBar());
        TabBar()->setCurrentIndex(kTabEditor);
    }
    playerPanel->setEnabled(false);
    editorPanel->show();
    streamListPanel->show();
    LayoutPanels();
    GrayStreamCommands(false);
}

} // namespace

dlg::Dialog* EditorPanel() { return editorPanel; }
dlg::Dialog* PlayerPanel() { return playerPanel; }
dlg::Dialog* StreamListPanel() { return streamListPanel; }
dlg::Dialog* ClipboardChecker() { return clipboardChecker; }

int CreatePanels() {
    if (!(hostFlags & kPanelsExist)) CreateThePanels();
    const int slot = workspace.slotCount - 1;
    const QString name = QString::fromUtf8(workspace.slotNames[slot]);
    streamListPanel->insertRow(kStreamList, slot, name);
    editorPanel->setText(kEditorSlotName, name);
    workspace.currentSlot = slot;
    streamListPanel->setCurrentRow(kStreamList, slot);
    RefreshEditorPanel();
    hostFlags |= kPanelsExist;
    RequestStreamInfoRepaint();
    editorPanel->invalidate();
    return 1;
}

void LayoutPanels() {
    const QSize editor = editorPanel->size();
    const QSize list = streamListPanel->size();
    editorPanel->setGeometry(2, 2, editor.width(), editor.height());
    playerPanel->setGeometry(2, 2, editor.width(), editor.height());
    const int tabWidth = editor.width() + 4;
    const int tabHeight = editor.height() + 24;
    TabControl()->setGeometry(0, 0, tabWidth, tabHeight);
    TabBar()->setGeometry(0, editor.height() + 4, tabWidth, 20);
    streamListPanel->setGeometry(tabWidth, 0, list.width(), tabHeight);
    // The window system draws the frame and the caption; the client area holds the menu bar
    // and the panels exactly.
    QMainWindow* window = MainWindow();
    window->setFixedSize(tabWidth + list.width(),
                         tabHeight + window->menuBar()->sizeHint().height());
}

void DestroyPanels() {
    Destroy(editorPanel);
    Destroy(streamListPanel);
    Destroy(playerPanel);
    Destroy(clipboardChecker);
}

void ShowEditorTab() { ShowOne(editorPanel, playerPanel); }

void ShowPlayerTab() { ShowOne(playerPanel, editorPanel); }
