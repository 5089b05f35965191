// rendle-help: the help viewer of Rendle, started by the program when help is first asked for.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "ui/AboutWindow.h"
#include "ui/Help.h"
#include "ui/HelpViewer.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("rendle-help");

    QCommandLineParser options;
    options.setApplicationDescription("The help viewer of Rendle.");
    options.addHelpOption();
    const QCommandLineOption socket("socket", "Serve requests on this local socket.", "name",
                                    rendle::ui::help::DefaultSocketName());
    const QCommandLineOption file("file", "Open this help file's index at start.", "path");
    options.addOption(socket);
    options.addOption(file);
    options.process(app);

    rendle::ui::LoadResources();
    QApplication::setWindowIcon(QIcon(":/rendle/rendle-64.png"));
    rendle::ui::HelpViewer viewer;
    if (!viewer.listen(options.value(socket))) return 0;  // already running for this user
    if (options.isSet(file)) {
        viewer.show();
        if (viewer.load(options.value(file))) viewer.showIndex("");
    }
    return QApplication::exec();
}
