#include "cli/OutputModules.h"

#include <fcntl.h>
#include <unistd.h>

#include "cli/Terminal.h"
#include "grid/WorkbookModule.h"

namespace rendle::cli {

namespace {

/// Silences descriptor 2 while any thread writes a workbook: the library prints "[ERROR] ..."
/// lines of its own beside the failure it reports, which the program words once itself.
class QuietStderr {
  public:
    QuietStderr() {
        std::lock_guard lock(mutex_);
        if (count_++ > 0) return;
        const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull >= 0 && ProgramStderr() != STDERR_FILENO) {
            dup2(devNull, STDERR_FILENO);
        }
        if (devNull >= 0) close(devNull);
    }
    ~QuietStderr() {
        std::lock_guard lock(mutex_);
        if (--count_ == 0 && ProgramStderr() != STDERR_FILENO) {
            dup2(ProgramStderr(), STDERR_FILENO);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    static inline std::mutex mutex_;
    static inline int count_ = 0;
};

}  // namespace

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

bool PdfPrinter::PrintNetwork(const network::Drawing& drawing,
                              const std::vector<const grid::Grid*>& sheets, const std::string& path,
                              std::string& error) {
    if (!Open(error)) return false;
    std::string reason;
    const auto print =
        reinterpret_cast<PrintNetworkPdfFunction>(module_.Symbol(kPrintNetworkPdfSymbol, reason));
    if (!print) {
        error = "the PDF printer " + reason;
        return false;
    }
    std::lock_guard lock(mutex_);
    char why[1024] = {};
    if (print(&drawing, sheets.data(), sheets.size(), path.c_str(), why, sizeof why) > 0) {
        return true;
    }
    error = why;
    return false;
}

void WorkbookModuleWriter::operator()(const grid::Grid& sheet, const std::string& path) {
    (*this)(std::vector<const grid::Grid*>{&sheet}, path);
}

void WorkbookModuleWriter::operator()(const std::vector<const grid::Grid*>& sheets,
                                      const std::string& path) {
    std::string error;
    const auto write =
        reinterpret_cast<WriteSheetsFunction>(module_.Symbol(kWriteSheetsSymbol, error));
    if (!write) throw grid::GridError(grid::kErrWriteFailed, "the workbook writer " + error);
    char reason[1024] = {};
    int written = 0;
    {
        const QuietStderr quiet;
        written = write(sheets.data(), sheets.size(), path.c_str(), reason, sizeof reason);
    }
    if (written == 0) throw grid::GridError(grid::kErrWriteFailed, reason);
}

}  // namespace rendle::cli
