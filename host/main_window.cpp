#include "main_window.h"

#include "clipboard_checker.h"
#include "outcome_box.h"
#include "panels.h"
#include "plugins.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QTabBar>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

uint16_t hostFlags;
uint16_t repaintRequests;

namespace {

const char* const kWindowTitle = "Sarvolo";

struct MenuEntry {
    int id;
    const char* text;
};

struct Popup {
    const char* title;
    std::vector<MenuEntry> items;
};

const std::vector<Popup> kMenu109 = {
    {"File",
     {{kCmdFileOpen, "File Open"},
      {kCmdFileSave, "File Save"},
      {kCmdBmpFileOpen, "Bmp File Open"},
      {kCmdBmpFileAdd, "Bmp File Add"},
      {kCmdCloseStream, "Close Stream"},
      {kCmdExit, "Exit"}}},
    {"Edit",
     {{kCmdCopy, "Copy"},
      {kCmdCut, "Cut"},
      {kCmdPaste, "Paste"},
      {kCmdStreamReverse, "Stream Revers"}}},
    {"Effect", {{kCmdEffectFirst, "none"}}},
    {"Tool", {{kCmdClipboardChecker, "Clip Borad Checker"}}},
    {"Help", {{kCmdVersion, "Version"}}},
};

struct Accelerator {
    QKeySequence key;
    int command;
};

struct AcceleratorTable {
    int id;
    std::vector<Accelerator> keys;
};

const AcceleratorTable kTable109 = {109,
                                    {{QKeySequence(Qt::CTRL | Qt::Key_C), kCmdCopy},
                                     {QKeySequence(Qt::CTRL | Qt::Key_V), kCmdPaste},
                                     {QKeySequence(Qt::Key_Delete), kCmdCloseStream},
                                     {QKeySequence(Qt::CTRL | Qt::Key_X), kCmdCut}}};
const AcceleratorTable kTable142 = {142, {{QKeySequence(Qt::Key_Delete), kCmdCloseStream}}};

class HostWindow : public QMainWindow {
  public:
    HostWindow() { qApp->installEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void openFirstMenu();

    bool altAlone_ = false; // Alt is down and nothing else was pressed since
};

HostWindow* mainWindow;
QWidget* tabControl;
QTabBar* tabBar;
std::vector<QMenu*> popups;
// One action per key of both tables; only the current table's are enabled.
std::vector<std::pair<const AcceleratorTable*, QAction*>> acceleratorActions;
const AcceleratorTable* currentAccelerators = &kTable109;

void BuildMenu(QMainWindow* window) {
    popups.clear();
    for (const Popup& popup : kMenu109) {
        QMenu* menu = window->menuBar()->addMenu(QString::fromUtf8(popup.title));
        for (const MenuEntry& entry : popup.items) {
            QAction* action = menu->addAction(QString::fromUtf8(entry.text));
            action->setData(entry.id);
            const int id = entry.id;
            QObject::connect(action, &QAction::triggered, window, [id] { DispatchCommand(id); });
        }
        popups.push_back(menu);
    }
    MenuItem(kCmdClipboardChecker)->setCheckable(true);
}

// A key-table command is not sent when its menu item or popup is grayed, as with menus.
bool CommandEnabled(int commandId) {
    QAction* item = MenuItem(commandId);
    if (!item) return true;
    if (!item->isEnabled()) return false;
    for (QMenu* menu : popups)
        if (menu->actions().contains(item)) return menu->menuAction()->isEnabled();
    return true;
}

void BuildAccelerators(QMainWindow* window) {
    acceleratorActions.clear();
    for (const AcceleratorTable* table : {&kTable109, &kTable142}) {
        for (const Accelerator& accelerator : table->keys) {
            auto* action = new QAction(window);
            action->setShortcut(accelerator.key);
            action->setShortcutContext(Qt::WindowShortcut);
            action->setData(accelerator.command);
            const int id = accelerator.command;
            QObject::connect(action, &QAction::triggered, window, [id] {
                if (CommandEnabled(id)) DispatchCommand(id);
            });
            window->addAction(action);
            acceleratorActions.emplace_back(table, action);
        }
    }
}

void UseAccelerators(const AcceleratorTable& table) {
    currentAccelerators = &table;
    for (auto& [owner, action] : acceleratorActions)
        action->setEnabled(owner == &table);
}

void SetPopupsEnabled(bool enabled) {
    for (int position : {kMenuEdit, kMenuEffect, kMenuTool})
        popups[position]->menuAction()->setEnabled(enabled);
}

QWidget* CreateTabControl(QWidget* parent) {
    auto* control = new QWidget(parent);
    control->setObjectName("tabControl");
    control->setProperty("controlId", kTabControlId);
    control->setGeometry(0, 0, 0, 0);
    tabBar = new QTabBar(control);
    tabBar->setShape(QTabBar::RoundedSouth);
    tabBar->setExpanding(false);
    tabBar->setStyleSheet("QTabBar::tab { width: 100px; height: 18px; }");
    tabBar->addTab("Editer");
    tabBar->addTab("Player");
    QObject::connect(tabBar, &QTabBar::currentChanged, control,
                     [](int index) { OnTabSelected(index); });
    control->show();
    return control;
}

void RunDestruction() {
    StopPlayback();
    DestroyPanels();
    session::SetObserver(nullptr);
    session::End();
    hostFlags = 0;
    repaintRequests = 0;
    mainWindow = nullptr;
    tabControl = nullptr;
    tabBar = nullptr;
    popups.clear();
    acceleratorActions.clear();
    QCoreApplication::exit(0);
}

// F10, or Alt pressed and released with nothing between, opens the first menu, so every command
// can be reached from the keyboard. Keys are watched before any control of the window sees them.
bool HostWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress) altAlone_ = false;
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat()) return false;
    if (type == QEvent::KeyPress) {
        altAlone_ = key->key() == Qt::Key_Alt;
        if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::NoModifier) return false;
    } else {
        const bool lone = altAlone_ && key->key() == Qt::Key_Alt;
        altAlone_ = false;
        if (!lone) return false;
    }
    openFirstMenu();
    return true;
}

// With its first item marked, Enter runs it and the arrow keys move on from there.
void HostWindow::openFirstMenu() {
    if (popups.empty()) return;
    QMenu* first = popups.front();
    menuBar()->setActiveAction(first->menuAction());
    first->setActiveAction(first->actions().value(0));
}

void HostWindow::closeEvent(QCloseEvent* event) {
    RunDestruction();
    event->accept();
}

void HostWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) repaintRequests |= kRepaintAll;
    QMainWindow::changeEvent(event);
}

} // namespace

QMainWindow* CreateMainWindow() {
    hostFlags = 0;
    repaintRequests = 0;
    const Outcome started = session::Start();
    if (!started.done) {
        ShowOutcome(nullptr, started);
        return nullptr;
    }
    auto* window = new HostWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(kWindowTitle);
    window->setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window->setCentralWidget(new QWidget(window));
    BuildMenu(window);
    DiscoverPlugins(window);
    session::SetObserver(ShowChanges);
    tabControl = CreateTabControl(window->centralWidget());
    BuildAccelerators(window);
    UseAccelerators(kTable109);
    GrayStreamCommands(true);

    mainWindow = window;
    LayoutPanels();
    return window;
}

void DestroyMainWindow() {
    if (mainWindow) mainWindow->close();
}

int HostMain() {
    QMainWindow* window = CreateMainWindow();
    if (!window) return 0;
    window->show();
    return QApplication::exec();
}

QMainWindow* MainWindow() {
    return mainWindow;
}

QMenu* MenuPopup(int position) {
    return position >= 0 && position < int(popups.size()) ? popups[position] : nullptr;
}

QAction* MenuItem(int commandId) {
    for (QMenu* menu : popups)
        for (QAction* action : menu->actions())
            if (action->data().toInt() == commandId) return action;
    return nullptr;
}

QWidget* TabControl() {
    return tabControl;
}
QTabBar* TabBar() {
    return tabBar;
}

int CurrentAcceleratorTable() {
    return currentAccelerators->id;
}

void GrayStreamCommands(bool gray) {
    for (int id : {kCmdFileSave, kCmdCloseStream, kCmdBmpFileAdd})
        MenuItem(id)->setEnabled(!gray);
    SetPopupsEnabled(!gray);
}

void SelectTab(int index) {
    {
        // One call of the handling whether or not the index changes.
        const QSignalBlocker blocker(tabBar);
        tabBar->setCurrentIndex(index);
    }
    OnTabSelected(index);
}

void OnTabSelected(int index) {
    if (index == kTabEditor) {
        UseAccelerators(kTable109);
        SetPopupsEnabled(true);
        MenuItem(kCmdFileSave)->setEnabled(true);
        RestoreClipboardChecker();
        ShowEditorTab();
        RefreshEditorPanel();
    } else if (index == kTabPlayer) {
        UseAccelerators(kTable142);
        SetPopupsEnabled(false);
        MenuItem(kCmdFileSave)->setEnabled(false);
        HideClipboardChecker();
        ShowPlayerTab();
    }
    tabControl->update();
}
