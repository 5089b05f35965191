// rendle: the desktop program.
#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"

namespace {

int Run(int argc, char** argv) {
    // --help and --version answer on the terminal and start nothing, not even a display.
    if (const auto answer =
            rendle::ui::TerminalAnswer(std::vector<std::string>(argv, argv + argc))) {
        std::fputs(answer->c_str(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Rendle");
    // Numbers in saved workbooks and printed reports always use the full stop; Qt's own
    // formatting does not depend on the C library's locale.
    std::setlocale(LC_NUMERIC, "C");
    rendle::ui::LoadResources();
    QApplication::setWindowIcon(QIcon(":/rendle/rendle-64.png"));
    rendle::ui::MainWindow window;
    // At its own client size, centred on the screen.
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    // The names as the file system has them: argv after Qt took its own options.
    rendle::ui::OpenFromCommandLine(window, std::vector<std::string>(argv, argv + argc), std::cerr);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit makes a save fail with EFBIG, reported like a full disk, instead of
    // killing the program with the sheet in it.
    std::signal(SIGXFSZ, SIG_IGN);
    // Whatever escapes the program ends it with one line and a failure status, never an abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fputs(("rendle: " + std::string(error.what()) + "\n").c_str(), stderr);
    } catch (...) {
        std::fputs("rendle: an unexpected error ended the program\n", stderr);
    }
    return 1;
}
