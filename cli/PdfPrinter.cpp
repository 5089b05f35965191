#include "cli/PdfPrinter.h"

#include <dlfcn.h>

#include <filesystem>

namespace rendle::cli {

PdfPrinter::~PdfPrinter() {
    // The GUI application is closed while the process and Qt are whole; the module itself
    // stays loaded until the process ends.
    if (end_) end_();
}

bool PdfPrinter::Open(std::string& error) {
    std::lock_guard lock(mutex_);
    if (!tried_) {
        tried_ = true;
        std::error_code ec;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
        const std::string module = (self.parent_path() / "rendle-pdf.so").string();
        handle_ = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            loadError_ = "the PDF printer " + module + " is missing or cannot be loaded (" +
                         std::string(dlerror()) + ")";
        } else {
            print_ = reinterpret_cast<PrintPdfFunction>(dlsym(handle_, kPrintPdfSymbol));
            const auto begin =
                reinterpret_cast<PdfSessionFunction>(dlsym(handle_, kPdfBeginSymbol));
            end_ = reinterpret_cast<PdfSessionFunction>(dlsym(handle_, kPdfEndSymbol));
            if (!print_ || !begin || !end_) {
                loadError_ = "the PDF printer " + module + " has no entry point";
                print_ = nullptr;
                end_ = nullptr;
            } else {
                begin();
            }
        }
    }
    error = loadError_;
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

}  // namespace rendle::cli
