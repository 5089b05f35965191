#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/LevelSheet.h"
#include "grid/Grid.h"

namespace rendle::core {
namespace {

TEST(SetUpLevelSheet, LaysOutTheEmptyLevelSheet) {
    grid::Grid sheet;
    SetUpLevelSheet(sheet);

    EXPECT_EQ(sheet.SheetTitle(), "LEVEL");
    EXPECT_EQ(sheet.CellText(1, 1), "LEVEL REPORT");
    EXPECT_EQ(sheet.CellText(2, 1), "Project :");
    EXPECT_EQ(sheet.CellText(2, 2), "");
    EXPECT_EQ(sheet.CellText(2, 5), "No. Stn. :");
    const char* row4[] = {"STN", "BS", "IS", "FS", "Rise/Fall", "RL", "ADJ. RL", "DIST"};
    const char* bar[] = {"STN", "BS", "IS", "FS", "H. DIFF.", "RL", "ADJ. RL", "DIST"};
    for (int32_t col = 1; col <= 8; ++col) {
        EXPECT_EQ(sheet.CellText(4, col), row4[col - 1]) << "column " << col;
        EXPECT_EQ(sheet.ColumnHeading(col), bar[col - 1]) << "column " << col;
        EXPECT_FALSE(sheet.ColumnHidden(col));
    }
    EXPECT_EQ(sheet.ColumnHeading(11), "K");
    for (int32_t col = 1; col <= 3; ++col)
        EXPECT_EQ(sheet.CellText(3, col), "") << "row 3 stays empty";
    for (int32_t row = 1; row <= 4; ++row) {
        for (int32_t col = 1; col <= 8; ++col) {
            EXPECT_TRUE(sheet.FormatAt(row, col).bold) << row << "," << col;
        }
    }
    EXPECT_FALSE(sheet.FormatAt(5, 1).bold);
    EXPECT_FALSE(sheet.FormatAt(1, 9).bold);
    EXPECT_TRUE(sheet.ColumnHidden(9));
    EXPECT_TRUE(sheet.ColumnHidden(10));
    EXPECT_EQ(sheet.ActiveRow(), 5);
    EXPECT_EQ(sheet.ActiveCol(), 1);
    EXPECT_EQ(sheet.LastUsedRow(), 4);
}

TEST(WriteHeaderBlock, RewritesTheBlockOnAClearedSheetAndKeepsSheetProperties) {
    grid::Grid sheet;
    SetUpLevelSheet(sheet);
    sheet.SetCellText(2, 2, "Ring road");
    sheet.SetCellNumber(30, 4, 1.234);
    sheet.ClearCells(-1, -1, -1, -1, grid::ClearMode::All);
    WriteHeaderBlock(sheet);

    EXPECT_EQ(sheet.CellText(2, 2), "") << "the project description goes with the rest";
    EXPECT_EQ(sheet.LastUsedRow(), 4);
    EXPECT_EQ(sheet.CellText(4, 5), "Rise/Fall");
    EXPECT_TRUE(sheet.FormatAt(4, 8).bold);
    EXPECT_EQ(sheet.ColumnHeading(5), "H. DIFF.");
    EXPECT_TRUE(sheet.ColumnHidden(9));
    EXPECT_EQ(sheet.SheetTitle(), "LEVEL");
    EXPECT_EQ(sheet.ActiveRow(), 5);
}

// A surveyor on a comma-decimal desktop types 1,456 for a staff reading: in every reading and
// distance column of a data row it is the number, in any other cell the text it was typed as.
TEST(TypedCellValue, TheDecimalCommaInEveryReadingColumn) {
    const struct {
        int32_t row;
        int32_t col;
        const char* typed;
        std::optional<double> number;
    } cases[] = {
        {6, kColBS, "1,456", 1.456},           {6, kColIS, "0,905", 0.905},
        {7, kColFS, "2,010", 2.010},           {7, kColDist, "31,5", 31.5},
        {6, kColRL, "100,5", std::nullopt},     // an RL cell is no reading
        {6, kColStation, "1,2", std::nullopt},  // a station name
        {4, kColBS, "1,456", std::nullopt},     // the header block
        {6, kColIS, "1,456,7", std::nullopt},   // two commas: no reading
        {6, kColFS, "1,4.5", std::nullopt},     // a comma and a point: no reading
        {6, kColIS, "'1,5", std::nullopt},      // kept as text by the apostrophe
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " in column " + std::to_string(c.col));
        const TypedValue value = TypedCellValue(c.row, c.col, c.typed);
        EXPECT_EQ(value.number, c.number);
        if (!c.number) {
            EXPECT_FALSE(value.text.empty());
        }
    }
}

}  // namespace
}  // namespace rendle::core
