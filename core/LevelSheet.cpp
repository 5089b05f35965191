#include "core/LevelSheet.h"

#include "core/RunState.h"
#include "grid/Grid.h"

namespace rendle::core {

void WriteHeaderBlock(grid::Grid& sheet) {
    sheet.SetCellText(1, 1, "LEVEL REPORT");
    sheet.SetCellText(2, 1, "Project :");
    sheet.SetCellText(2, 5, "No. Stn. :");
    for (int32_t col = 1; col <= kSheetColumns; ++col) {
        sheet.SetCellText(4, col, kRowFourHeadings[col - 1]);
    }
    grid::FormatObject format = sheet.SelectionFormat();
    sheet.SelectCells(1, 1, kHeaderRows, kSheetColumns);
    format.SetBold(true);
    sheet.ApplySelectionFormat(format);
    sheet.ActivateCell(kFirstMarkerRow, 1);
}

void SetUpLevelSheet(grid::Grid& sheet) {
    // The grid's own display defaults (row and column headings shown, grid lines on screen,
    // editing allowed) are what the level sheet wants, so there is nothing to switch here.
    sheet.SetColumnHidden(kColSightType, true);
    sheet.SetColumnHidden(kColUnused, true);
    WriteHeaderBlock(sheet);
    for (int32_t col = 1; col <= kSheetColumns; ++col) {
        sheet.SetColumnHeading(col, kColumnBarHeadings[col - 1]);
    }
    sheet.SetSheetTitle(1, kSheetName);
}

TypedValue TypedCellValue(int32_t row, int32_t col, std::string_view typed) {
    if (typed.starts_with('\'')) return {std::nullopt, std::string(typed.substr(1))};
    if (const std::optional<double> number = ParseDecimalText(typed)) return {number, {}};
    const bool readingOrDistance =
        row > kHeaderRows && (col == kColBS || col == kColIS || col == kColFS || col == kColDist);
    if (readingOrDistance) {
        if (const std::optional<double> number = ParseDecimalCommaText(typed)) return {number, {}};
    }
    return {std::nullopt, std::string(typed)};
}

}  // namespace rendle::core
