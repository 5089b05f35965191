#include <gtest/gtest.h>

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

}  // namespace
}  // namespace rendle::core
