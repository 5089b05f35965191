// File > Save and File > Print: the level sheet written as a workbook and printed as a report.
#pragma once

#include <functional>
#include <string>

#include "commands/Windowing.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::commands {

enum class SaveStatus { Saved, Cancelled, Failed };

struct SaveResult {
    SaveStatus status = SaveStatus::Saved;
    std::string reason;  ///< why it was not saved
    std::string path;    ///< where the workbook went, ".xlsx" added to a bare name
};

/// The file a workbook saved under `name` goes to: ".xlsx" added to a bare name that does not
/// stand for an existing file.
std::string WorkbookPath(const std::string& name);

/// Writes the whole level sheet as a workbook at a path, taking the place of a file there only
/// when complete; throws grid::GridError saying why when it cannot (grid::WriteWorkbookFile, or
/// a program's way of reaching it).
using WorkbookWriter = std::function<void(const grid::Grid& sheet, const std::string& path)>;

/// File > Save: the save dialog "SAVE LEVEL" with a fresh file-spec object, then the whole
/// workbook written to the chosen path by `write`. A cancelled dialog writes nothing and says
/// nothing; a write that fails says so in a message box and leaves an existing file as it was.
SaveResult SaveLevelSheet(const grid::Grid& sheet, Windowing& windowing,
                          const WorkbookWriter& write);

/// The print settings of the level report: rows 1 to 4 on every page, margins of 1 inch, no grid
/// lines, no header, "Page n of m Page(s)" centred in the footer.
void SetUpLevelReport(grid::Grid& sheet);

/// File > Print: the level report's print settings, then the sheet printed.
void PrintLevelReport(grid::Grid& sheet, Windowing& windowing);

}  // namespace rendle::commands
