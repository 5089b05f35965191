// The outputs rendle-reduce reaches through modules beside it: the level report printed to PDF
// (rendle-pdf.so) and the workbook (rendle-xlsx.so).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "cli/Module.h"
#include "cli/Terminal.h"
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
    /// main thread), kept for every PDF of the call. False with the reason when the module is
    /// missing.
    bool Open(std::string& error);

    /// Prints the level report of `sheet` to `path`; false with the reason. Prints one at a
    /// time whatever thread asks.
    bool Print(const grid::Grid& sheet, const std::string& path, std::string& error);

    /// Prints a levelling network's report: its drawing, then its sheets; false with the
    /// reason.
    bool PrintNetwork(const network::Drawing& drawing, const std::vector<const grid::Grid*>& sheets,
                      const std::string& path, std::string& error);

  private:
    Module module_{"rendle-pdf.so"};
    std::mutex mutex_;
    bool opened_ = false;
    std::string openError_;
    PrintPdfFunction print_ = nullptr;
    PdfSessionFunction end_ = nullptr;
};

/// Writes the workbook through the writer module (rendle-xlsx.so beside the program); throws
/// grid::GridError with the reason when the module is missing or the workbook is not written.
class WorkbookModuleWriter {
  public:
    void operator()(const grid::Grid& sheet, const std::string& path);
    /// A workbook of several sheets, in the order given.
    void operator()(const std::vector<const grid::Grid*>& sheets, const std::string& path);

  private:
    Module module_{"rendle-xlsx.so"};
};

}  // namespace rendle::cli
