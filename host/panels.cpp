#include "panels.h"

#include <QPointer>
#include <QWidget>

namespace {

QPointer<QWidget> editorPanel;
QPointer<QWidget> playerPanel;
QPointer<QWidget> streamListPanel;
QPointer<QWidget> clipboardChecker;

void Destroy(QPointer<QWidget>& panel) {
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

} // namespace

QWidget* EditorPanel() { return editorPanel; }
QWidget* PlayerPanel() { return playerPanel; }
QWidget* StreamListPanel() { return streamListPanel; }
QWidget* ClipboardChecker() { return clipboardChecker; }

void DestroyPanels() {
    Destroy(editorPanel);
    Destroy(streamListPanel);
    Destroy(playerPanel);
    Destroy(clipboardChecker);
}

void ShowEditorTab() { ShowOne(editorPanel, playerPanel); }

void ShowPlayerTab() { ShowOne(playerPanel, editorPanel); }
