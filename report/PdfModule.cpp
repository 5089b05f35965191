#include "report/PdfModule.h"

#include <QGuiApplication>
#include <cstring>
#include <memory>
#include <string>

#include "report/SheetPrinter.h"

extern "C" __attribute__((visibility("default"))) int rendle_print_pdf(
    const rendle::grid::Grid* sheet, const char* path, char* error, size_t errorSize) {
    // Fonts and painting need a GUI application; no display is needed for a PDF. One made here
    // is closed again before returning, while the process and Qt are whole.
    std::unique_ptr<QGuiApplication> gui;
    if (!QGuiApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "rendle-reduce";
        static char* argv[] = {name, nullptr};
        gui = std::make_unique<QGuiApplication>(argc, argv);
    }
    QString reason;
    const int pages = rendle::report::PrintToPdf(*sheet, path, &reason);
    if (pages == 0 && error && errorSize > 0) {
        const std::string text = reason.toStdString();
        std::strncpy(error, text.c_str(), errorSize - 1);
        error[errorSize - 1] = '\0';
    }
    return pages;
}

// The signature the program expects of the entry point.
[[maybe_unused]] static constexpr PrintPdfFunction kEntryPoint = &rendle_print_pdf;
