// rendle-network: the levelling network adjustment in a window of its own.
#include <QApplication>
#include <QIcon>
#include <exception>
#include <string>

#include "cli/NetArguments.h"
#include "netui/NetworkWindow.h"

namespace {

const char* kDescription =
    R"(Opens the network window: the levelling network adjustment of rendle-net, on the desktop.

Takes the inputs and options rendle-net takes (field books, CSV files of observations, GNU
Gama's inputs, a folder meaning every field book in it, --fix, --benchmarks, --class,
--weights, --snoop, --job FILE...) and opens with them filled in. F5 adjusts; Ctrl+S saves the
workbook, Ctrl+P prints the paged report to PDF, and the File menu exports the drawing (SVG)
and the job as GNU Gama's input: each exactly what rendle-net writes for the same job. File >
Save Job As keeps the job in a small text file that rendle-net --job reads. F1 opens the help.)";

const char* kFooter =
    R"(Exit status: 0 when the window is closed; 2 a job file that cannot be read; 64 bad usage.)";

}  // namespace

int main(int argc, char** argv) {
    try {
        rendle::network::NetworkJob job;
        bool quiet = false;
        rendle::cli::NetProgram program;
        program.name = "rendle-network";
        program.description = kDescription;
        program.footer = kFooter;
        program.inputsRequired = false;
        if (const std::optional<int> ended =
                rendle::cli::ParseNetArguments(argc, argv, job, quiet, program)) {
            return *ended;
        }
        QApplication app(argc, argv);
        QApplication::setApplicationName("Rendle Network");
        QApplication::setWindowIcon(QIcon(":/rendle-network-128.png"));
        rendle::netui::NetworkWindow window;
        // The outputs named on the command line are written from the window when asked.
        job.savePath.clear();
        job.pdfPath.clear();
        job.svgPath.clear();
        job.gamaXmlPath.clear();
        std::vector<std::string> inputs = std::move(job.inputs);
        job.inputs.clear();
        window.setJob(job);
        window.show();
        window.addPaths(inputs);
        return QApplication::exec();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rendle-network: internal error: %s\n", error.what());
        return 70;
    }
}
