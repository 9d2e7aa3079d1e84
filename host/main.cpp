#include "main_window.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Desktops match the windows to mivra.desktop by this name and show its icon.
    QGuiApplication::setDesktopFileName("mivra");
    QApplication::setWindowIcon(QIcon(":/mivra.svg"));
    UseAppFolders(FoldersOfThisProgram());
    return HostMain(argc, argv); // QApplication took out its own arguments
}
