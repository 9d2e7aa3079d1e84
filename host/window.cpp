#include "window.h"

#include "recent_commands.h"
#include "recent_files.h"

#include <QAction>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>

#include <vector>

uint16_t repaintRequests;

namespace {

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
      {kCmdRecentFilesMenu, "Recent Files"},
      {kCmdExit, "Exit"}}},
    {"Edit",
     {{kCmdUndo, "Undo"},
      {kCmdRedo, "Redo"},
      {kCmdCopy, "Copy"},
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
                                     {QKeySequence(Qt::CTRL | Qt::Key_X), kCmdCut},
                                     {QKeySequence(Qt::CTRL | Qt::Key_Z), kCmdUndo},
                                     {QKeySequence(Qt::CTRL | Qt::Key_Y), kCmdRedo},
                                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), kCmdRedo}}};
const AcceleratorTable kTable142 = {142, {{QKeySequence(Qt::Key_Delete), kCmdCloseStream}}};

QMainWindow* mainWindow;
QWidget* tabControl;
QTabBar* tabBar;
std::vector<QMenu*> popups;
QMenu* recentFilesMenu;
// One action per key of both tables; only the current table's are enabled.
std::vector<std::pair<const AcceleratorTable*, QAction*>> acceleratorActions;
const AcceleratorTable* currentAccelerators = &kTable109;

} // namespace

namespace {

// A menu item that runs its command when chosen.
QAction* AddCommand(QMenu* menu, const QString& text, int id) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    QObject::connect(action, &QAction::triggered, menu, [id] { DispatchCommand(id); });
    return action;
}

} // namespace

void BuildMenu(QMainWindow* window) {
    popups.clear();
    for (const Popup& popup : kMenu109) {
        QMenu* menu = window->menuBar()->addMenu(QString::fromUtf8(popup.title));
        for (const MenuEntry& entry : popup.items) {
            if (entry.id == kCmdRecentFilesMenu) {
                recentFilesMenu = menu->addMenu(QString::fromUtf8(entry.text));
                recentFilesMenu->menuAction()->setData(entry.id);
            } else {
                AddCommand(menu, QString::fromUtf8(entry.text), entry.id);
            }
        }
        popups.push_back(menu);
    }
    MenuItem(kCmdClipboardChecker)->setCheckable(true);
    ShowRecentFiles();
}

void ShowRecentFiles() {
    if (!recentFilesMenu) return;
    // Chosen entries rebuild the list while their own signal runs: they go once it has returned.
    for (QAction* old : recentFilesMenu->actions()) {
        recentFilesMenu->removeAction(old);
        old->deleteLater();
    }
    const std::vector<recent::File> files = recent::Files();
    for (size_t i = 0; i < files.size(); ++i) {
        // A '&' in a name would otherwise mark the next character as the item's key.
        QString text = QFile::decodeName(files[i].path.c_str());
        AddCommand(recentFilesMenu, text.replace('&', QStringLiteral("&&")),
                   kCmdRecentFileFirst + int(i));
    }
    recentFilesMenu->menuAction()->setEnabled(!files.empty());
}

namespace {

// A key-table command is not sent when its menu item or popup is grayed, as with menus.
bool CommandEnabled(int commandId) {
    QAction* item = MenuItem(commandId);
    if (!item) return true;
    if (!item->isEnabled()) return false;
    for (QMenu* menu : popups)
        if (menu->actions().contains(item)) return menu->menuAction()->isEnabled();
    return true;
}

} // namespace

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

namespace {

void UseAccelerators(const AcceleratorTable& table) {
    currentAccelerators = &table;
    for (auto& [owner, action] : acceleratorActions)
        action->setEnabled(owner == &table);
}

} // namespace

void SetPopupsEnabled(bool enabled) {
    for (int position : {kMenuEdit, kMenuEffect, kMenuTool})
        popups[position]->menuAction()->setEnabled(enabled);
}

QWidget* CreateTabControl(QWidget* parent, void (*onSelected)(int index)) {
    auto* control = new QWidget(parent);
    control->setObjectName("tabControl");
    control->setProperty("controlId", kTabControlId);
    control->setGeometry(0, 0, 0, 0);
    tabBar = new QTabBar(control);
    tabBar->setShape(QTabBar::RoundedSouth);
    tabBar->setExpanding(false);
    tabBar->addTab("Editer");
    tabBar->addTab("Player");
    QObject::connect(tabBar, &QTabBar::currentChanged, control, onSelected);
    control->show();
    tabControl = control;
    return control;
}

void UseKeyTable(int tab) {
    UseAccelerators(tab == kTabPlayer ? kTable142 : kTable109);
}

void SetMainWindow(QMainWindow* window) {
    mainWindow = window;
}

void ForgetWindowParts() {
    mainWindow = nullptr;
    tabControl = nullptr;
    tabBar = nullptr;
    popups.clear();
    recentFilesMenu = nullptr;
    acceleratorActions.clear();
}

QMainWindow* MainWindow() {
    return mainWindow;
}

QMenu* MenuPopup(int position) {
    return position >= 0 && position < int(popups.size()) ? popups[position] : nullptr;
}

namespace {

QAction* FindItem(const QMenu* menu, int commandId) {
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == commandId) return action;
        if (const QMenu* submenu = action->menu())
            if (QAction* found = FindItem(submenu, commandId)) return found;
    }
    return nullptr;
}

} // namespace

QAction* MenuItem(int commandId) {
    for (QMenu* menu : popups)
        if (QAction* found = FindItem(menu, commandId)) return found;
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

void ShowUndoState(bool canUndo, bool canRedo) {
    if (QAction* undo = MenuItem(kCmdUndo)) undo->setEnabled(canUndo);
    if (QAction* redo = MenuItem(kCmdRedo)) redo->setEnabled(canRedo);
}

void KeepUndoReachable() {
    if (QMenu* edit = MenuPopup(kMenuEdit)) edit->menuAction()->setEnabled(true);
}

void GrayStreamCommands(bool gray) {
    for (int id : {kCmdFileSave, kCmdCloseStream, kCmdBmpFileAdd, kCmdCopy, kCmdCut, kCmdPaste,
                   kCmdStreamReverse})
        MenuItem(id)->setEnabled(!gray);
    SetPopupsEnabled(!gray);
}
