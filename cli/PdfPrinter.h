// The report printer module (rendle-pdf.so beside the program), loaded the first time a PDF is
// asked for, so that a run without --pdf loads no Qt library.
#pragma once

#include <mutex>
#include <string>

#include "grid/Grid.h"
#include "report/PdfModule.h"

namespace rendle::cli {

class PdfPrinter {
  public:
    PdfPrinter() = default;
    ~PdfPrinter();
    PdfPrinter(const PdfPrinter&) = delete;
    PdfPrinter& operator=(const PdfPrinter&) = delete;

    /// Loads the module and starts its GUI application on the calling thread (the program's
    /// main thread), to be kept for every PDF of the call. False with the reason when the module
    /// is missing.
    bool Open(std::string& error);

    /// Prints the level report of `sheet` to `path`; false with the reason. Prints one at a
    /// time whatever thread asks.
    bool Print(const grid::Grid& sheet, const std::string& path, std::string& error);

  private:
    std::mutex mutex_;
    bool tried_ = false;
    std::string loadError_;
    void* handle_ = nullptr;
    PrintPdfFunction print_ = nullptr;
    PdfSessionFunction end_ = nullptr;
};

}  // namespace rendle::cli
