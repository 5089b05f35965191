// rendle: the desktop program.
#include <QApplication>

#include "ui/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Rendle");
    rendle::ui::MainWindow window;
    window.showMaximized();
    return QApplication::exec();
}
