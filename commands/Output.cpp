#include "commands/Output.h"

#include <filesystem>

#include "grid/Grid.h"
#include "grid/Text.h"

namespace rendle::commands {

std::string WorkbookPath(const std::string& name) {
    // A bare name typed in the dialog gets the workbook's extension; a name that already
    // stands for something (a device, a file kept without extension) is taken as it is.
    std::filesystem::path path(name);
    std::error_code ec;
    if (!path.has_extension() && !std::filesystem::exists(path, ec)) path += ".xlsx";
    return path.string();
}

SaveResult SaveLevelSheet(const grid::Grid& sheet, Windowing& windowing,
                          const WorkbookWriter& write) {
    FileSpec fileSpec;
    windowing.SaveAsDialog("SAVE LEVEL", fileSpec);
    SaveResult result;
    if (fileSpec.FileSpecName.empty()) {
        result.status = SaveStatus::Cancelled;
        return result;
    }
    result.path = WorkbookPath(fileSpec.FileSpecName);
    try {
        write(sheet, result.path);
    } catch (const grid::GridError& error) {
        // The surveyor must not walk away believing the sheet is on disk.
        result.status = SaveStatus::Failed;
        result.reason = error.what();
        windowing.ShowMessage("The level sheet was not saved to " + result.path + ".\n\n" +
                                  grid::Sentence(result.reason),
                              "SAVE LEVEL", MessageIcon::Critical);
    }
    return result;
}

void SetUpLevelReport(grid::Grid& sheet) {
    grid::PageSetup setup = sheet.GetPageSetup();
    setup.printTitleRows = "A1:IV4";
    setup.leftMargin = 1.0;
    setup.rightMargin = 1.0;
    setup.topMargin = 1.0;
    setup.bottomMargin = 1.0;
    sheet.ApplyPageSetup(setup);
    sheet.SetPrintSwitch(false);
    sheet.SetPageFooter("&C Page &P of &N Page(s)");
    sheet.SetPageHeader("");
}

void PrintLevelReport(grid::Grid& sheet, Windowing& windowing) {
    SetUpLevelReport(sheet);
    windowing.PrintSheet(sheet);
}

}  // namespace rendle::commands
