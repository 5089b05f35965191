#include "cli/OutputModules.h"

#include "grid/WorkbookModule.h"

namespace rendle::cli {

PdfPrinter::~PdfPrinter() {
    // The GUI application is closed while the process and Qt are whole.
    if (end_) end_();
}

bool PdfPrinter::Open(std::string& error) {
    std::lock_guard lock(mutex_);
    if (!opened_) {
        opened_ = true;
        std::string reason;
        print_ = reinterpret_cast<PrintPdfFunction>(module_.Symbol(kPrintPdfSymbol, reason));
        const auto begin =
            reinterpret_cast<PdfSessionFunction>(module_.Symbol(kPdfBeginSymbol, reason));
        end_ = reinterpret_cast<PdfSessionFunction>(module_.Symbol(kPdfEndSymbol, reason));
        if (!print_ || !begin || !end_) {
            openError_ = "the PDF printer " + reason;
            print_ = nullptr;
            end_ = nullptr;
        } else {
            begin();
        }
    }
    error = openError_;
    return print_ != nullptr;
}

bool PdfPrinter::Print(const grid::Grid& sheet, const std::string& path, std::string& error) {
    if (!Open(error)) return false;
    std::lock_guard lock(mutex_);
    char reason[1024] = {};
    if (print_(&sheet, path.c_str(), reason, sizeof reason) > 0) return true;
    error = reason;
    return false;
}

void WorkbookModuleWriter::operator()(const grid::Grid& sheet, const std::string& path) {
    std::string error;
    const auto write =
        reinterpret_cast<WriteWorkbookFunction>(module_.Symbol(kWriteWorkbookSymbol, error));
    if (!write) throw grid::GridError(grid::kErrWriteFailed, "the workbook writer " + error);
    char reason[1024] = {};
    if (write(&sheet, path.c_str(), reason, sizeof reason) == 0)
        throw grid::GridError(grid::kErrWriteFailed, reason);
}

}  // namespace rendle::cli
