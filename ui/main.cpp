// rendle: the desktop program.
#include <QApplication>
#include <clocale>

#include "ui/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Rendle");
    // Numbers in saved workbooks and printed reports always use the full stop; Qt's own
    // formatting does not depend on the C library's locale.
    std::setlocale(LC_NUMERIC, "C");
    rendle::ui::MainWindow window;
    window.showMaximized();
    return QApplication::exec();
}
