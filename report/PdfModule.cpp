#include "report/PdfModule.h"

#include <QGuiApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "report/NetworkPrinter.h"
#include "report/SheetPrinter.h"

namespace {

int argc = 1;
char name[] = "rendle-reduce";
char* argv[] = {name, nullptr};

/// Qt's own warnings (such as a missing XDG_RUNTIME_DIR) are no concern of a PDF's reader: the
/// printer says what went wrong in its result.
void Quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs((message.toStdString() + "\n").c_str(), stderr);
        std::abort();
    }
}

std::unique_ptr<QGuiApplication> MakeApplication() {
    qInstallMessageHandler(Quiet);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto application = std::make_unique<QGuiApplication>(argc, argv);
    // Qt takes the user's locale for the whole process; the program's numbers keep a full stop.
    std::setlocale(LC_NUMERIC, "C");
    return application;
}

/// The application started by rendle_pdf_begin.
std::unique_ptr<QGuiApplication> session;

}  // namespace

extern "C" __attribute__((visibility("default"))) void rendle_pdf_begin() {
    if (!QGuiApplication::instance()) session = MakeApplication();
}

extern "C" __attribute__((visibility("default"))) void rendle_pdf_end() {
    session.reset();
}

extern "C" __attribute__((visibility("default"))) int rendle_print_pdf(
    const rendle::grid::Grid* sheet, const char* path, char* error, size_t errorSize) {
    // Fonts and painting need a GUI application; no display is needed for a PDF. One made here
    // is closed again before returning, while the process and Qt are whole.
    std::unique_ptr<QGuiApplication> gui;
    if (!QGuiApplication::instance()) gui = MakeApplication();
    QString reason;
    const int pages = rendle::report::PrintToPdf(*sheet, path, &reason);
    if (pages == 0 && error && errorSize > 0) {
        const std::string text = reason.toStdString();
        std::strncpy(error, text.c_str(), errorSize - 1);
        error[errorSize - 1] = '\0';
    }
    return pages;
}

extern "C" __attribute__((visibility("default"))) int rendle_print_network_pdf(
    const rendle::network::Drawing* drawing, const rendle::grid::Grid* const* sheets, size_t count,
    const char* path, char* error, size_t errorSize) {
    std::unique_ptr<QGuiApplication> gui;
    if (!QGuiApplication::instance()) gui = MakeApplication();
    QString reason;
    const int pages = rendle::report::PrintNetworkToPdf(
        *drawing, std::vector<const rendle::grid::Grid*>(sheets, sheets + count), path, &reason);
    if (pages == 0 && error && errorSize > 0) {
        const std::string text = reason.toStdString();
        std::strncpy(error, text.c_str(), errorSize - 1);
        error[errorSize - 1] = '\0';
    }
    return pages;
}

// The signatures the program expects of the entry points.
[[maybe_unused]] static constexpr PrintPdfFunction kEntryPoint = &rendle_print_pdf;
[[maybe_unused]] static constexpr PdfSessionFunction kBegin = &rendle_pdf_begin;
[[maybe_unused]] static constexpr PdfSessionFunction kEnd = &rendle_pdf_end;
[[maybe_unused]] static constexpr PrintNetworkPdfFunction kNetwork = &rendle_print_network_pdf;
