#include "main_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return HostMain(argc, argv); // QApplication took out its own arguments
}
