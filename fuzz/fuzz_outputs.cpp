// libFuzzer target: a level sheet of fuzzed cell texts and numbers saved as a workbook and
// printed to a PDF, as File > Save and File > Print do. Both must always come out whole.
#include <unistd.h>

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "grid/Workbook.h"
#include "report/SheetPrinter.h"

namespace {

/// A folder of the run's own for the two outputs, removed when the run ends.
struct OutputFolder {
    OutputFolder()
        : path(std::filesystem::temp_directory_path() /
               ("rendle-fuzz-outputs-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~OutputFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

const std::filesystem::path& Folder() {
    static const OutputFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fonts and painting need a GUI application; no display is needed for a PDF.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "rendle-fuzz-outputs";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    int32_t cell = 0;
    for (size_t start = 0; start <= input.size() && cell < 200; ++cell) {
        const size_t end = std::min(input.find('\n', start), input.size());
        const std::string_view text = input.substr(start, end - start);
        const int32_t row = 5 + cell / 8;
        const int32_t col = 1 + cell % 8;
        if (!text.empty() && text[0] == '#') {
            sheet.SetCellNumber(row, col, static_cast<double>(text.size()) * 1234.5678);
            sheet.SelectCells(row, col, row, col);
            sheet.SetSelectionNumberFormat(text.size() % 2 ? "0.0000" : "0.00");
        } else {
            sheet.SetCellText(row, col, text);
        }
        start = end + 1;
    }
    const std::string workbook = (Folder() / "level.xlsx").string();
    const std::string pdf = (Folder() / "level.pdf").string();
    try {
        rendle::grid::WriteWorkbook(sheet, workbook, rendle::grid::kWorkbookFileType);
    } catch (const rendle::grid::GridError&) {
        std::abort();  // a writable folder always takes the workbook
    }
    QString error;
    if (rendle::report::PrintToPdf(sheet, pdf, &error) == 0) std::abort();
    return 0;
}
