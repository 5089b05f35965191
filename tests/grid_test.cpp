#include "grid/Grid.h"

#include <gtest/gtest.h>

#include <functional>

namespace rendle::grid {
namespace {

int ErrorCodeOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const GridError& error) {
        return error.code();
    }
    return 0;
}

TEST(GridCells, EmptyCellsReadAsEmptyTextAndZero) {
    Grid grid;
    EXPECT_EQ(grid.CellText(3, 4), "");
    EXPECT_EQ(grid.CellNumber(3, 4), 0.0);
    EXPECT_EQ(grid.LastUsedRow(), 0);
}

TEST(GridCells, TextAndNumbersKeepTheirKindAndFullPrecision) {
    Grid grid;
    grid.SetCellText(2, 1, "  12 ");
    grid.SetCellNumber(7, 3, 100.29745);
    EXPECT_EQ(grid.CellText(2, 1), "  12 ");
    EXPECT_EQ(grid.CellNumber(2, 1), 0.0) << "a text cell has no number";
    EXPECT_EQ(grid.CellNumber(7, 3), 100.29745);
    EXPECT_EQ(grid.CellAt(7, 3).kind, CellKind::Number);
    EXPECT_EQ(grid.LastUsedRow(), 7);

    grid.SetCellText(7, 3, "x");
    EXPECT_EQ(grid.CellNumber(7, 3), 0.0) << "text replaces the number";
    grid.SetCellText(7, 3, "");
    EXPECT_EQ(grid.LastUsedRow(), 2) << "emptying the last row's only cell frees the row";
}

TEST(GridCells, NumberTextFollowsTheCellsFormat) {
    Grid grid;
    grid.SetCellNumber(1, 1, 2.675);
    EXPECT_EQ(grid.CellText(1, 1), "2.675");
    grid.ActivateCell(1, 1);
    grid.SetSelectionNumberFormat("0.00");
    EXPECT_EQ(grid.CellText(1, 1), "2.68");
    EXPECT_EQ(grid.CellNumber(1, 1), 2.675) << "the format changes the display, not the value";
}

TEST(GridCells, ANumberShownOnceIsShownAnewAfterEveryChange) {
    // Each change made after the number was shown under "0.0000": the text it shows then.
    const struct {
        const char* change;
        std::function<void(Grid&)> apply;
        const char* shown;
    } cases[] = {
        {"a new number", [](Grid& g) { g.SetCellNumber(2, 2, 7.5); }, "7.5000"},
        {"a text", [](Grid& g) { g.SetCellText(2, 2, "BM1"); }, "BM1"},
        {"a text, then a number",
         [](Grid& g) {
             g.SetCellText(2, 2, "BM1");
             g.SetCellNumber(2, 2, 7.5);
         },
         "7.5000"},
        {"a new format",
         [](Grid& g) {
             g.SelectCells(1, 1, 3, 3);
             g.SetSelectionNumberFormat("0.0");
         },
         "2.7"},
        {"bold only",
         [](Grid& g) {
             FormatObject bold = g.SelectionFormat();
             bold.SetBold(true);
             g.ApplySelectionFormat(bold);
         },
         "2.6750"},
        {"formats cleared", [](Grid& g) { g.ClearCells(2, 2, 2, 2, ClearMode::Formats); }, "2.675"},
        {"values cleared", [](Grid& g) { g.ClearCells(2, 2, 2, 2, ClearMode::Values); }, ""},
        {"the cell cleared", [](Grid& g) { g.ClearCell(2, 2); }, ""},
        {"a row above removed", [](Grid& g) { g.RemoveCells(1, -1, 1, -1, RemoveMode::Rows); }, ""},
    };
    for (const auto& c : cases) {
        Grid grid;
        grid.SetCellNumber(2, 2, 2.675);
        grid.ActivateCell(2, 2);
        grid.SetSelectionNumberFormat("0.0000");
        ASSERT_EQ(grid.ShownText(2, 2), "2.6750");
        c.apply(grid);
        EXPECT_EQ(grid.CellText(2, 2), c.shown) << c.change;
        // A text cell's text is its own, never a number's display.
        if (grid.CellAt(2, 2).kind == CellKind::Text) {
            EXPECT_EQ(grid.CellAt(2, 2).text, c.shown) << c.change;
        }
    }
    // Text cells keep their text through a format applied over them.
    Grid grid;
    grid.SetCellText(1, 1, "0.5");
    grid.SelectCells(1, 1, 1, 1);
    grid.SetSelectionNumberFormat("0.00");
    EXPECT_EQ(grid.CellText(1, 1), "0.5");
}

TEST(GridCells, BadAddressesFailWithTheirOwnCodes) {
    Grid grid;
    struct Case {
        const char* name;
        std::function<void()> operation;
        int code;
    };
    const Case cases[] = {
        {"get text row 0", [&] { grid.CellText(0, 1); }, kErrRowColZero},
        {"get number column 0", [&] { grid.CellNumber(6, 0); }, kErrRowColZero},
        {"set number row 0", [&] { grid.SetCellNumber(0, 6, 1.0); }, kErrRowColZero},
        {"set text column 0", [&] { grid.SetCellText(1, 0, "a"); }, kErrRowColZero},
        {"select from row 0", [&] { grid.SelectCells(0, 2, 4, 7); }, kErrRowColZero},
        {"activate row 0", [&] { grid.ActivateCell(0, 1); }, kErrRowColZero},
        {"remove row 0", [&] { grid.RemoveCells(0, -1, 0, -1, RemoveMode::Rows); }, kErrRowColZero},
        {"negative row", [&] { grid.CellText(-2, 1); }, kErrOutOfRange},
        {"row past the sheet", [&] { grid.SetCellText(kMaxRow + 1, 1, "a"); }, kErrOutOfRange},
        {"column past the sheet", [&] { grid.CellNumber(1, kMaxCol + 1); }, kErrOutOfRange},
        {"unknown clear mode", [&] { grid.ClearCells(-1, -1, -1, -1, static_cast<ClearMode>(7)); },
         kErrBadArgument},
        {"unknown remove mode", [&] { grid.RemoveCells(1, -1, 1, -1, static_cast<RemoveMode>(9)); },
         kErrBadArgument},
        {"second sheet", [&] { grid.SetSheetTitle(2, "X"); }, kErrBadArgument},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorCodeOf(c.operation), c.code) << c.name;
    EXPECT_EQ(grid.LastUsedRow(), 0) << "failed writes leave nothing behind";
}

TEST(GridRemoveRows, RowsBelowMoveUpWithTheirFormats) {
    Grid grid;
    for (int32_t r = 1; r <= 6; ++r) grid.SetCellNumber(r, 2, r);
    grid.SelectCells(5, 2, 5, 2);
    FormatObject bold = grid.SelectionFormat();
    bold.SetBold(true);
    grid.ApplySelectionFormat(bold);

    grid.RemoveCells(2, -1, 3, -1, RemoveMode::Rows);
    EXPECT_EQ(grid.LastUsedRow(), 4);
    EXPECT_EQ(grid.CellNumber(1, 2), 1.0);
    EXPECT_EQ(grid.CellNumber(2, 2), 4.0);
    EXPECT_EQ(grid.CellNumber(3, 2), 5.0);
    EXPECT_TRUE(grid.FormatAt(3, 2).bold) << "the format moves with its row";
    EXPECT_FALSE(grid.FormatAt(5, 2).bold);
    EXPECT_EQ(grid.CellNumber(4, 2), 6.0);
    EXPECT_EQ(grid.CellText(5, 2), "");
}

TEST(GridRemoveRows, RemovingPastTheUsedRowsChangesNothing) {
    Grid grid;
    grid.SetCellText(2, 1, "a");
    grid.RemoveCells(10, -1, 12, -1, RemoveMode::Rows);
    EXPECT_EQ(grid.CellText(2, 1), "a");
    EXPECT_EQ(grid.LastUsedRow(), 2);
}

TEST(GridClear, ModeOneWithWholeBoundsEmptiesValuesAndFormats) {
    Grid grid;
    grid.SetCellText(1, 1, "LEVEL REPORT");
    grid.SetCellNumber(40, 8, 30.0);
    grid.SelectCells(1, 1, 4, 8);
    FormatObject bold = grid.SelectionFormat();
    bold.SetBold(true);
    grid.ApplySelectionFormat(bold);

    grid.ClearCells(-1, -1, -1, -1, ClearMode::All);
    EXPECT_EQ(grid.LastUsedRow(), 0);
    EXPECT_TRUE(grid.CellAt(1, 1).IsBlank());
    EXPECT_TRUE(grid.CellAt(3, 3).IsBlank());
}

TEST(GridClear, ValueAndFormatModesLeaveTheOtherHalf) {
    Grid grid;
    grid.SetCellNumber(2, 2, 1.5);
    grid.ActivateCell(2, 2);
    grid.SetSelectionNumberFormat("0.0000");

    grid.ClearCells(2, 2, 2, 2, ClearMode::Values);
    EXPECT_EQ(grid.CellAt(2, 2).kind, CellKind::Empty);
    EXPECT_EQ(grid.FormatAt(2, 2).numberFormat, "0.0000");
    EXPECT_EQ(grid.LastUsedRow(), 2) << "a formatted cell still counts as used";

    grid.SetCellNumber(2, 2, 1.5);
    grid.ClearCells(2, 2, 2, 2, ClearMode::Formats);
    EXPECT_EQ(grid.CellNumber(2, 2), 1.5);
    EXPECT_EQ(grid.FormatAt(2, 2).numberFormat, "");
}

TEST(GridFormats, OnlyChangedAttributesReachOnlyTheSelection) {
    Grid grid;
    grid.SetCellNumber(6, 2, 1.0);
    grid.SetCellNumber(7, 2, 2.0);
    grid.SetCellNumber(8, 2, 3.0);

    // The format object is taken before the selection, and a number format is set on the
    // selection before the object is applied: the number format must survive.
    FormatObject format = grid.SelectionFormat();
    grid.SelectCells(6, 2, 7, 2);
    grid.SetSelectionNumberFormat("0.0000");
    format.SetBold(true);
    grid.ApplySelectionFormat(format);

    EXPECT_TRUE(grid.FormatAt(6, 2).bold);
    EXPECT_TRUE(grid.FormatAt(7, 2).bold);
    EXPECT_EQ(grid.FormatAt(6, 2).numberFormat, "0.0000");
    EXPECT_EQ(grid.FormatAt(7, 2).numberFormat, "0.0000");
    EXPECT_FALSE(grid.FormatAt(8, 2).bold);
    EXPECT_EQ(grid.FormatAt(8, 2).numberFormat, "");
    EXPECT_TRUE(grid.CellAt(9, 2).IsBlank());
}

TEST(GridFormats, AnUnchangedFormatObjectChangesNothing) {
    Grid grid;
    grid.ActivateCell(1, 1);
    grid.SetSelectionNumberFormat("0.00");
    grid.SelectCells(1, 1, 3, 3);
    const FormatObject untouched = grid.SelectionFormat();
    grid.ApplySelectionFormat(untouched);
    EXPECT_EQ(grid.FormatAt(1, 1).numberFormat, "0.00");
    EXPECT_TRUE(grid.CellAt(3, 3).IsBlank());
}

TEST(GridSelection, ActivateMakesTheCellTheSelectionAndReversedBoundsAreOrdered) {
    Grid grid;
    grid.SelectCells(9, 7, 6, 2);
    EXPECT_EQ(grid.Selection(), (Range{6, 2, 9, 7}));
    grid.ActivateCell(2, 2);
    EXPECT_EQ(grid.ActiveRow(), 2);
    EXPECT_EQ(grid.ActiveCol(), 2);
    EXPECT_EQ(grid.Selection(), (Range{2, 2, 2, 2}));
}

TEST(GridSheet, StartsAsAnEmptyOneSheetWorkbookWithStoredPrintDefaults) {
    Grid grid;
    EXPECT_EQ(grid.SheetTitle(), "Sheet1");
    EXPECT_EQ(grid.DefaultFontName(), "Arial");
    EXPECT_EQ(grid.DefaultFontSize(), 10);
    EXPECT_EQ(grid.PageHeader(), "&A");
    EXPECT_EQ(grid.PageFooter(), "Page &P");
    const PageSetup setup = grid.GetPageSetup();
    EXPECT_EQ(setup.leftMargin, 0.75);
    EXPECT_EQ(setup.rightMargin, 0.75);
    EXPECT_EQ(setup.topMargin, 1.0);
    EXPECT_EQ(setup.bottomMargin, 1.0);
    EXPECT_EQ(setup.printTitleRows, "");
    EXPECT_TRUE(grid.PrintGridLines());
    EXPECT_EQ(grid.ColumnHeading(5), "E");
    EXPECT_EQ(grid.ColumnHeading(28), "AB");
}

TEST(GridSheet, PageSetupTakesEffectOnlyWhenApplied) {
    Grid grid;
    PageSetup setup = grid.GetPageSetup();
    setup.printTitleRows = "A1:IV4";
    setup.leftMargin = setup.rightMargin = 1.0;
    EXPECT_EQ(grid.GetPageSetup().printTitleRows, "");
    grid.ApplyPageSetup(setup);
    EXPECT_EQ(grid.GetPageSetup(), setup);
    setup.topMargin = -1.0;
    EXPECT_EQ(ErrorCodeOf([&] { grid.ApplyPageSetup(setup); }), kErrBadArgument);
}

TEST(GridSheet, HiddenColumnsKeepTheirCells) {
    Grid grid;
    grid.SetCellText(6, 9, "BS");
    grid.SetColumnHidden(9, true);
    EXPECT_TRUE(grid.ColumnHidden(9));
    EXPECT_FALSE(grid.ColumnHidden(8));
    EXPECT_EQ(grid.CellText(6, 9), "BS");
}

struct CountingObserver : GridObserver {
    void CellsChanged(const Range&) override { ++cells; }
    void SheetRefreshed() override { ++refreshes; }
    void SelectionChanged() override { ++selections; }
    int cells = 0;
    int refreshes = 0;
    int selections = 0;
};

TEST(GridNotification, RepaintingOffHoldsBackChangesUntilOneRefresh) {
    Grid grid;
    CountingObserver observer;
    grid.SetObserver(&observer);

    grid.SetCellNumber(1, 1, 1.0);
    EXPECT_EQ(observer.cells, 1);

    grid.SetRepainting(false);
    for (int32_t r = 1; r <= 50; ++r) grid.SetCellNumber(r, 2, r);
    grid.RemoveCells(3, -1, 3, -1, RemoveMode::Rows);
    grid.ActivateCell(2, 2);
    EXPECT_EQ(observer.cells, 1);
    EXPECT_EQ(observer.selections, 0);
    EXPECT_EQ(observer.refreshes, 0);

    grid.SetRepainting(true);
    EXPECT_EQ(observer.refreshes, 1);
    grid.SetRepainting(true);
    EXPECT_EQ(observer.refreshes, 1) << "switching on when already on is no refresh";
    grid.SetObserver(nullptr);
}

TEST(Grid, TitleRowsOfARange) {
    using Rows = std::optional<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(TitleRows("A1:IV4"), (Rows{{1, 4}}));
    EXPECT_EQ(TitleRows("$A$1:$IV$4"), (Rows{{1, 4}}));
    EXPECT_EQ(TitleRows("A3"), (Rows{{3, 3}}));
    EXPECT_EQ(TitleRows(""), Rows{});
    EXPECT_EQ(TitleRows("A4:IV1"), Rows{});
    EXPECT_EQ(TitleRows("A0:B2"), Rows{});
    EXPECT_EQ(TitleRows("A1:B99999999999"), Rows{});
    EXPECT_EQ(TitleRows("A:B"), Rows{});
}

TEST(GridRunOn, TextsRunOnOverEmptyShownCellsUntilTheyFit) {
    // Columns A to E, C hidden; every column 10 units wide.
    Grid grid;
    grid.SetColumnHeading(5, "E");
    grid.SetColumnHidden(3, true);
    grid.SetCellText(1, 1, "label");
    grid.SetCellText(2, 1, "label");
    grid.SetCellNumber(2, 4, 1.5);
    grid.SetCellNumber(3, 1, 123456.0);
    const std::vector<int32_t> columns = ShownColumns(grid);
    ASSERT_EQ(columns, (std::vector<int32_t>{1, 2, 4, 5})) << "up to the headed column E";
    auto width = [](size_t) { return 10.0; };
    struct Case {
        const char* name;
        int32_t row;
        double needed;
        size_t end;
    };
    const Case cases[] = {
        {"fits its own cell", 1, 8, 1},
        {"runs over B, skips hidden C, into D", 1, 25, 3},
        {"runs to the last shown column and no further", 1, 500, 4},
        {"stopped by the number in D", 2, 500, 2},
        {"a number never runs on", 3, 500, 1},
        {"an empty cell stays in its own", 4, 500, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunOnEnd(grid, c.row, columns, 0, c.needed, width), c.end) << c.name;
    }
}

TEST(FitColumnWidths, FitsToWhatTheSheetHoldsKeepingWidthsSetByHand) {
    Grid grid;
    // "H. DIFF." in Arial 10 at 96 dpi is 50.4 px, bold a tenth wider; 3 px room either side.
    for (int32_t col : {1, 2}) {
        grid.SetColumnWidth(col, 20);
        grid.SetCellText(1, col, "H. DIFF.");
        grid.SetCellText(1, col + 1, "x");  // neither text can run on
    }
    grid.SelectCells(1, 2, 1, 2);
    FormatObject bold = grid.SelectionFormat();
    bold.SetBold(true);
    grid.ApplySelectionFormat(bold);
    grid.SetColumnWidth(3, 200, true);  // wider by hand than anything in it
    grid.SetColumnWidth(4, 20);
    grid.SetCellText(2, 4, "a long label that runs on over empty cells");
    grid.SetColumnWidth(5, 300);  // fitted to what an earlier run held
    grid.SetColumnWidth(6, 20);
    grid.SetCellNumber(1, 6, 1234.5678);

    FitColumnWidths(grid);
    EXPECT_EQ(grid.ColumnWidth(1), kDefaultColumnWidthPx) << "57 px of text: never below default";
    EXPECT_EQ(grid.ColumnWidth(2), 62) << "bold text";
    EXPECT_EQ(grid.ColumnWidth(3), 200) << "a width set by hand stays";
    EXPECT_EQ(grid.ColumnWidth(4), kDefaultColumnWidthPx) << "a text that runs on needs no room";
    EXPECT_EQ(grid.ColumnWidth(5), kDefaultColumnWidthPx) << "a width from an earlier run goes";
    EXPECT_EQ(grid.ColumnWidth(6), 70) << "a number never runs on: 63.01 px and the room";

    grid.ResetColumnWidths();  // a new read
    FitColumnWidths(grid);
    EXPECT_EQ(grid.ColumnWidth(3), kDefaultColumnWidthPx) << "a width set by hand lasts a read";
}

}  // namespace
}  // namespace rendle::grid

#include "grid/Text.h"
#include "grid/Utf8.h"

// Characters are where a field book's positions count; columns are where a report lines up.
TEST(GridText, CharactersColumnsAndBlanks) {
    const struct {
        const char* text;
        size_t characters;
        size_t columns;
    } cases[] = {
        {"BM1", 3, 3},
        {"Pr\xC3\xBC"
         "fpunkt",
         9, 9},                                          // ü: two bytes, one column
        {"\xE6\xB0\xB4\xE5\x87\x86\xE7\x82\xB9", 3, 6},  // 水准点: wide, two columns each
        {"e\xCC\x81", 2, 1},                             // e and a combining acute accent
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(rendle::grid::Utf8Characters(c.text), c.characters);
        EXPECT_EQ(rendle::grid::DisplayWidth(c.text), c.columns);
    }
    // Bytes that are no UTF-8 (a Latin-1 name, a character cut short, a stray continuation)
    // count a column each, as the U+FFFD they are shown as: the count ends, wherever they stand.
    for (const std::string bad :
         {"\xE9", "\xFF", "\x80", "\xC3", "\xE6\xB0", "\xF0\x9F\x98", "\xED\xA0\x80", "\xC0\xAF"}) {
        for (size_t at = 0; at <= 3; ++at) {
            const std::string text = std::string("BM1").insert(at, bad);
            SCOPED_TRACE(text);
            EXPECT_EQ(rendle::grid::DisplayWidth(text),
                      rendle::grid::DisplayWidth(rendle::grid::ValidUtf8(text)));
            EXPECT_EQ(rendle::grid::DisplayWidth(text), 3 + bad.size());
        }
    }
    // One byte with its high bit set anywhere in a text of any length makes it no ASCII.
    for (size_t length = 1; length <= 24; ++length) {
        EXPECT_TRUE(rendle::grid::IsAscii(std::string(length, '\x7F')));
        for (size_t at = 0; at < length; ++at) {
            for (const char high : {'\x80', '\xE9', '\xFF'}) {
                std::string text(length, 'a');
                text[at] = high;
                EXPECT_FALSE(rendle::grid::IsAscii(text)) << length << " " << at;
            }
        }
    }
    using rendle::grid::LeftTrimmed;
    using rendle::grid::Trimmed;
    EXPECT_EQ(LeftTrimmed("   BM1  "), "BM1  ");
    EXPECT_EQ(LeftTrimmed("\tBM1"), "\tBM1");  // a field's blanks are spaces
    EXPECT_EQ(Trimmed(" \t BM1 \r\n"), "BM1");
    EXPECT_EQ(Trimmed("   "), "");
    EXPECT_EQ(Trimmed(""), "");
    EXPECT_EQ(Trimmed("x"), "x");
}
