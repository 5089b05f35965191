// rendle: the desktop program.
#include <QApplication>
#include <QIcon>
#include <clocale>

#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Rendle");
    // Numbers in saved workbooks and printed reports always use the full stop; Qt's own
    // formatting does not depend on the C library's locale.
    std::setlocale(LC_NUMERIC, "C");
    rendle::ui::LoadResources();
    QApplication::setWindowIcon(QIcon(":/rendle/rendle-64.png"));
    rendle::ui::MainWindow window;
    window.showMaximized();
    return QApplication::exec();
}
