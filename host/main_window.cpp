#include "main_window.h"

#include "clipboard_checker.h"
#include "outcome_box.h"
#include "panels.h"
#include "plugins.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

uint16_t hostFlags;

namespace {

const char* const kWindowTitle = "Sarvolo";

class HostWindow : public QMainWindow {
  public:
    HostWindow() {
        qApp->installEventFilter(this);
        setAcceptDrops(true);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void openFirstMenu();

    bool altAlone_ = false; // Alt is down and nothing else was pressed since
};

AppFolders appFolders;

HostWindow* mainWindow;
// The window is being closed by DestroyMainWindow, not by the user.
bool closingFromCode = false;
void RunDestruction() {
    StopPlayback();
    DestroyPanels();
    session::SetObserver(nullptr);
    session::End();
    hostFlags = 0;
    repaintRequests = 0;
    mainWindow = nullptr;
    ForgetWindowParts();
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
    QMenu* first = MenuPopup(kMenuFile);
    if (!first) return;
    menuBar()->setActiveAction(first->menuAction());
    first->setActiveAction(first->actions().value(0));
}

// The close box asks before unsaved changes go; DestroyMainWindow never asks.
void HostWindow::closeEvent(QCloseEvent* event) {
    if (!closingFromCode && session::AnyUnsavedChanges() && !AskToDiscardChanges(this)) {
        event->ignore();
        return;
    }
    RunDestruction();
    event->accept();
}

// The files of this machine among the dragged URLs, in their order.
std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return paths;
}

void HostWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

// Dropped files open as File Open would open them, once the drag is over: the opening may show
// boxes, and the application that started the drag waits until the drop returns.
void HostWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = LocalFiles(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [paths = std::move(paths)] { OpenFiles(paths); });
}

void HostWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) repaintRequests |= kRepaintAll;
    QMainWindow::changeEvent(event);
}

// The panels grow with the window the user makes larger.
void HostWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FitPanelsToWindow();
}

} // namespace

QMainWindow* CreateMainWindow() {
    hostFlags = 0;
    repaintRequests = 0;
    session::StartOptions options;
    options.tempBase = appFolders.tempBase;
    const Outcome started = session::Start(options);
    if (!started.done) {
        ShowOutcome(nullptr, started);
        return nullptr;
    }
    auto* window = new HostWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(kWindowTitle);
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    window->setCentralWidget(new QWidget(window));
    BuildMenu(window);
    DiscoverPlugins(window, appFolders.plugins);
    session::SetObserver(ShowChanges);
    CreateTabControl(window->centralWidget(), OnTabSelected);
    BuildAccelerators(window);
    UseKeyTable(kTabEditor);
    GrayStreamCommands(true);
    ShowUndoState(false, false);

    mainWindow = window;
    SetMainWindow(window);
    LayoutPanels();
    return window;
}

void DestroyMainWindow() {
    if (!mainWindow) return;
    closingFromCode = true;
    mainWindow->close();
    closingFromCode = false;
}

void UseAppFolders(AppFolders folders) {
    appFolders = std::move(folders);
}

void OfferToRecoverWork() {
    const std::vector<std::filesystem::path> found = session::RecoverableWork(appFolders.tempBase);
    if (found.empty()) return;
    // One at a time: the newest is offered now, any older one at the next start.
    const std::filesystem::path& newest = found.front();
    if (!AskToRecoverWork(MainWindow())) {
        session::DiscardWork(newest);
        return;
    }
    StopPlayback();
    ShowOutcome(MainWindow(), session::Recover(newest));
}

int HostMain(int argc, char** argv) {
    QMainWindow* window = CreateMainWindow();
    if (!window) return 0;
    window->show();
    OfferToRecoverWork();
    if (argc > 1) OpenFiles({argv + 1, argv + argc});
    return QApplication::exec();
}
