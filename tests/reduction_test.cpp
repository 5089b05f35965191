#include "core/Reduction.h"

#include <gtest/gtest.h>

#include <cmath>

#include "LevelRun.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"

namespace rendle::core {
namespace {

using testing::FillRun;
using testing::Record;

class ReductionTest : public ::testing::Test {
  protected:
    ReductionResult Reduce(const std::vector<Record>& records, RLValue start, RLValue end) {
        FillRun(sheet, run, records);
        run.StartRL = std::move(start);
        run.EndRL = std::move(end);
        return ReduceLevels(sheet, run);
    }

    std::string Shown(int32_t row, int32_t col) { return sheet.CellText(row, col); }
    bool Empty(int32_t row, int32_t col) {
        return sheet.CellAt(row, col).kind == grid::CellKind::Empty;
    }

    grid::Grid sheet;
    RunState run;
};

const std::vector<Record> kWorkedExample = {
    {"CP", "", 0, 0}, {"BS", "BM1", 1.500, 30}, {"IS", "A", 1.200, 15},   {"FS", "CP1", 0.900, 30},
    {"CP", "", 0, 0}, {"BS", "CP1", 1.600, 40}, {"FS", "BM2", 1.400, 40},
};

TEST_F(ReductionTest, WorkedExampleGivesTheListedValues) {
    const ReductionResult outcome =
        Reduce(kWorkedExample, std::string("100.000"), std::string("100.795"));
    ASSERT_EQ(outcome.status, ReductionStatus::Reduced) << outcome.reason;
    ASSERT_EQ(run.LastDataRow, 10);

    // Marker row 9 is gone; the data rows are 6 to 10; row 5 keeps its marker.
    EXPECT_EQ(sheet.CellText(5, 9), "CP");
    const char* stations[] = {"BM1", "A", "CP1", "CP1", "BM2"};
    for (int32_t r = 6; r <= 10; ++r) EXPECT_EQ(sheet.CellText(r, 1), stations[r - 6]);

    // Rise and fall, displayed and at full precision.
    EXPECT_TRUE(Empty(6, 5));
    EXPECT_EQ(Shown(7, 5), "0.3000");
    EXPECT_EQ(Shown(8, 5), "0.3000");
    EXPECT_TRUE(Empty(9, 5));
    EXPECT_EQ(Shown(10, 5), "0.2000");
    EXPECT_EQ(sheet.CellNumber(7, 5), 1.5 - 1.2);
    EXPECT_EQ(sheet.CellNumber(8, 5), 1.2 - 0.9);
    EXPECT_EQ(sheet.CellNumber(10, 5), 1.6 - 1.4);

    const char* rls[] = {"100.0000", "100.3000", "100.6000", "100.6000", "100.8000"};
    for (int32_t r = 6; r <= 10; ++r) EXPECT_EQ(Shown(r, 6), rls[r - 6]) << "row " << r;
    const double rl7 = 100.0 + (1.5 - 1.2);
    const double rl8 = rl7 + (1.2 - 0.9);
    const double rl10 = rl8 + (1.6 - 1.4);
    EXPECT_EQ(sheet.CellNumber(7, 6), rl7);
    EXPECT_EQ(sheet.CellNumber(9, 6), rl8) << "the BS of a change point repeats the FS's RL";
    EXPECT_EQ(sheet.CellNumber(10, 6), rl10);
    EXPECT_EQ(std::get<double>(run.StartRL), rl10) << "StartRL ends as the last RL";

    EXPECT_EQ(Shown(6, 7), "100.0000");
    EXPECT_EQ(Shown(7, 7), "100.2975");
    EXPECT_EQ(Shown(8, 7), "100.5975");
    EXPECT_TRUE(Empty(9, 7));
    EXPECT_EQ(Shown(10, 7), "100.7950");
    const double w = 100.795 - rl10;
    EXPECT_EQ(sheet.CellNumber(7, 7), rl7 + 1 * (w / 2));
    EXPECT_EQ(sheet.CellNumber(10, 7), rl10 + 2 * (w / 2));

    // Summary block two rows below the data.
    EXPECT_TRUE(sheet.CellAt(11, 2).IsBlank());
    EXPECT_TRUE(sheet.CellAt(12, 6).IsBlank());
    EXPECT_EQ(sheet.CellText(13, 2), "Misclose(m)");
    EXPECT_EQ(Shown(13, 6), "0.0050");
    EXPECT_EQ(sheet.CellNumber(13, 6), -w);
    EXPECT_EQ(sheet.CellText(14, 2), "Permissible error(m)");
    EXPECT_EQ(Shown(14, 6), "0.0007");
    EXPECT_DOUBLE_EQ(sheet.CellNumber(14, 6), 2.0 * std::sqrt(0.14) / 1000.0);
    EXPECT_EQ(sheet.CellText(15, 2), "Length of Level Run(m)");
    EXPECT_EQ(Shown(15, 6), "140.00") << "the IS distance does not count";
    EXPECT_EQ(sheet.LastUsedRow(), 15);
}

TEST_F(ReductionTest, FormatsBoldAndActiveCellAfterAReduction) {
    Reduce(kWorkedExample, 100.0, 100.795);
    for (int32_t r = 6; r <= 10; ++r) {
        for (int32_t c = 2; c <= 7; ++c) {
            EXPECT_EQ(sheet.FormatAt(r, c).numberFormat, "0.0000") << r << "," << c;
        }
        EXPECT_EQ(sheet.FormatAt(r, 8).numberFormat, "0.00");
        EXPECT_EQ(sheet.FormatAt(r, 1).numberFormat, "");
        EXPECT_FALSE(sheet.FormatAt(r, 6).bold);
    }
    EXPECT_EQ(Shown(6, 2), "1.5000");
    EXPECT_EQ(Shown(6, 8), "30.00");
    for (int32_t r = 13; r <= 15; ++r) {
        EXPECT_TRUE(sheet.FormatAt(r, 2).bold);
        EXPECT_TRUE(sheet.FormatAt(r, 6).bold);
    }
    EXPECT_EQ(sheet.FormatAt(13, 6).numberFormat, "0.0000");
    EXPECT_EQ(sheet.FormatAt(14, 6).numberFormat, "0.0000");
    EXPECT_EQ(sheet.FormatAt(15, 6).numberFormat, "0.00");
    EXPECT_EQ(sheet.ActiveRow(), 2);
    EXPECT_EQ(sheet.ActiveCol(), 2);
    EXPECT_TRUE(sheet.Repainting());
}

TEST_F(ReductionTest, RiseAndFallBranches) {
    struct Case {
        const char* name;
        std::vector<Record> records;
        int32_t row;      // row whose rise/fall is checked, after marker deletion
        double expected;  // rise/fall in that row
    };
    const std::vector<Case> cases = {
        {"IS after a BS reading",
         {{"CP"}, {"BS", "A", 1.5, 1}, {"IS", "B", 1.2, 1}, {"FS", "C", 1.0, 1}},
         7,
         1.5 - 1.2},
        {"IS after an IS uses the IS above",
         {{"CP"},
          {"BS", "A", 1.5, 1},
          {"IS", "B", 1.2, 1},
          {"IS", "C", 1.0, 1},
          {"FS", "D", 0.5, 1}},
         8,
         1.2 - 1.0},
        {"IS after a zero BS uses the IS above (none: 0)",
         {{"CP"}, {"BS", "A", 0.0, 1}, {"IS", "B", 1.0, 1}, {"FS", "C", 1.0, 1}},
         7,
         -1.0},
        {"FS after an IS",
         {{"CP"}, {"BS", "A", 1.5, 1}, {"IS", "B", 1.2, 1}, {"FS", "C", 0.7, 1}},
         8,
         1.2 - 0.7},
        {"FS after a BS", {{"CP"}, {"BS", "A", 1.5, 1}, {"FS", "B", 0.4, 1}}, 7, 1.5 - 0.4},
        {"FS after an FS repeats the rise/fall above",
         {{"CP"}, {"BS", "A", 1.5, 1}, {"FS", "B", 1.1, 1}, {"FS", "C", 0.3, 1}},
         8,
         1.5 - 1.1},
        {"FS after a zero BS repeats the running value (0)",
         {{"CP"}, {"BS", "A", 0.0, 1}, {"FS", "B", 0.3, 1}},
         7,
         0.0},
        {"FS after an IS reading of 0 repeats that IS row's rise/fall",
         {{"CP"}, {"BS", "A", 1.5, 1}, {"IS", "B", 0.0, 1}, {"FS", "C", 0.3, 1}},
         8,
         1.5 - 0.0},
    };
    for (const Case& c : cases) {
        grid::Grid fresh;
        RunState freshRun;
        FillRun(fresh, freshRun, c.records);
        freshRun.StartRL = 10.0;
        freshRun.EndRL = 10.0;
        ReduceLevels(fresh, freshRun);
        EXPECT_EQ(fresh.CellNumber(c.row, 5), c.expected) << c.name;
    }
}

TEST_F(ReductionTest, AZeroReadingBehavesAsAnEmptyCell) {
    const std::vector<Record> records = {
        {"CP"}, {"BS", "A", 0.0, 10}, {"IS", "B", 1.0, 10}, {"FS", "C", 1.2, 10}};
    Reduce(records, 50.0, 50.0);
    const double withZero = sheet.CellNumber(7, 5);

    grid::Grid other;
    RunState otherRun;
    FillRun(other, otherRun, records);
    other.ClearCells(6, 2, 6, 2,
                     grid::ClearMode::All);  // the backsight cell left empty instead of 0
    otherRun.StartRL = 50.0;
    otherRun.EndRL = 50.0;
    ReduceLevels(other, otherRun);
    EXPECT_EQ(other.CellNumber(7, 5), withZero);
    EXPECT_EQ(other.CellNumber(8, 5), sheet.CellNumber(8, 5));
}

TEST_F(ReductionTest, TwoMarkerRowsInARowAreBothDeleted) {
    const std::vector<Record> records = {
        {"CP"}, {"BS", "BM1", 1.0, 10}, {"FS", "P", 1.5, 10},  {"CP"},
        {"CP"}, {"BS", "P", 1.2, 10},   {"FS", "BM1", 0.7, 10}};
    const ReductionResult outcome = Reduce(records, 20.0, 20.0);
    ASSERT_EQ(outcome.status, ReductionStatus::Reduced);
    EXPECT_EQ(run.LastDataRow, 9);
    EXPECT_EQ(sheet.CellText(5, 9), "CP");
    const char* types[] = {"BS", "FS", "BS", "FS"};
    for (int32_t r = 6; r <= 9; ++r) EXPECT_EQ(sheet.CellText(r, 9), types[r - 6]) << r;
    EXPECT_EQ(sheet.CellText(8, 1), "P");
    EXPECT_EQ(sheet.CellText(12, 2), "Misclose(m)");
}

TEST_F(ReductionTest, LevelSheetLayoutExampleClosesUpToRowTwelve) {
    const std::vector<Record> records = {{"CP"},
                                         {"BS", "BM1", 1.4, 20},
                                         {"IS", "A", 1.3, 5},
                                         {"IS", "B", 1.1, 5},
                                         {"FS", "CP1", 1.0, 20},
                                         {"CP"},
                                         {"BS", "CP1", 1.2, 25},
                                         {"IS", "C", 1.5, 5},
                                         {"FS", "BM1", 1.6, 25}};
    Reduce(records, 10.0, 10.0);
    EXPECT_EQ(run.LastDataRow, 12);
    EXPECT_EQ(sheet.CellText(2, 6), "2");
    for (int32_t r = 6; r <= 12; ++r) EXPECT_NE(sheet.CellText(r, 9), "") << "no gap at " << r;
    EXPECT_EQ(sheet.CellText(5, 9), "CP");
    EXPECT_EQ(sheet.CellText(15, 2), "Misclose(m)");
    EXPECT_EQ(sheet.CellText(17, 2), "Length of Level Run(m)");
    EXPECT_TRUE(Empty(10, 7)) << "the adjusted RL of a later BS row stays empty";
    EXPECT_TRUE(Empty(10, 5));
}

TEST_F(ReductionTest, CorrectionIsSharedEquallyPerSetUp) {
    // Three set-ups rising 0.002 in all against an ending RL equal to the start: w = -0.006.
    const std::vector<Record> records = {{"CP"},
                                         {"BS", "BM1", 1.500, 30},
                                         {"IS", "a", 1.400, 10},
                                         {"FS", "P1", 1.000, 30},
                                         {"CP"},
                                         {"BS", "P1", 1.200, 30},
                                         {"FS", "P2", 1.700, 30},
                                         {"CP"},
                                         {"BS", "P2", 1.300, 30},
                                         {"IS", "b", 1.250, 10},
                                         {"FS", "BM1", 1.298, 30}};
    const ReductionResult outcome = Reduce(records, 100.0, 100.0);
    ASSERT_EQ(outcome.status, ReductionStatus::Reduced);
    ASSERT_NEAR(sheet.CellNumber(run.LastDataRow, 6), 100.002, 1e-9);
    ASSERT_NEAR(100.0 - sheet.CellNumber(run.LastDataRow, 6), -0.002, 1e-9);

    // Rows: 6 BS, 7 IS, 8 FS | 9 BS, 10 FS | 11 BS, 12 IS, 13 FS.
    run.EndRL = 99.996;  // closing correction -0.006
    run.StartRL = 100.0;
    ASSERT_EQ(ReduceLevels(sheet, run).status, ReductionStatus::Reduced);
    const struct {
        int32_t row;
        double share;
    } rows[] = {{7, -0.002}, {8, -0.002}, {10, -0.004}, {12, -0.006}, {13, -0.006}};
    for (const auto& r : rows) {
        EXPECT_NEAR(sheet.CellNumber(r.row, 7) - sheet.CellNumber(r.row, 6), r.share, 1e-12)
            << "row " << r.row;
    }
    EXPECT_NEAR(sheet.CellNumber(13, 7), 99.996, 1e-12) << "the closing FS lands on the ending RL";
    EXPECT_TRUE(Empty(9, 7));
    EXPECT_TRUE(Empty(11, 7));
    EXPECT_EQ(Shown(16, 6), "0.0060");
}

TEST_F(ReductionTest, PermissibleErrorOfAKilometreIsTwoMillimetres) {
    const std::vector<Record> records = {
        {"CP"}, {"BS", "BM1", 1.0, 250}, {"IS", "x", 1.0, 400},  {"FS", "P", 1.0, 250},
        {"CP"}, {"BS", "P", 1.0, 250},   {"FS", "BM1", 1.0, 250}};
    Reduce(records, 5.0, 5.0);
    EXPECT_DOUBLE_EQ(sheet.CellNumber(run.LastDataRow + 4, 6), 0.002);
    EXPECT_EQ(Shown(run.LastDataRow + 5, 6), "1000.00");
}

TEST_F(ReductionTest, EmptyEndingRLGivesRLsButNoAdjustmentNoSummary) {
    // An empty box text, and an ending RL never given (FormRL closed by its close box), which
    // is no RL of 0: adjusting to 0 would spread a misclose of about 100 m over the run.
    for (const RLValue& end : {RLValue{std::string("")}, RLValue{}}) {
        sheet = grid::Grid{};
        const ReductionResult outcome = Reduce(kWorkedExample, std::string("100"), end);
        EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
        EXPECT_EQ(outcome.step, ReductionStep::ClosingCorrection);
        EXPECT_DOUBLE_EQ(sheet.CellNumber(10, 6), 100.8);
        EXPECT_DOUBLE_EQ(sheet.CellNumber(7, 5), 0.3);
        // An open run is a result surveyors use: shown as a finished run's rows are.
        EXPECT_EQ(Shown(7, 5), "0.3000");
        EXPECT_EQ(Shown(10, 8), "40.00");
        EXPECT_EQ(sheet.CellNumber(6, 7), 100.0) << "the first row's adjusted RL comes first";
        EXPECT_TRUE(Empty(7, 7));
        EXPECT_TRUE(Empty(10, 7));
        EXPECT_EQ(sheet.LastUsedRow(), 10);
    }
    // An empty starting RL still counts as 0, an assumed datum.
    sheet = grid::Grid{};
    EXPECT_EQ(Reduce(kWorkedExample, RLValue{}, 0.8).status, ReductionStatus::Reduced);
}

TEST_F(ReductionTest, BadStartingRLStopsAfterTheRiseAndFall) {
    const ReductionResult outcome = Reduce(kWorkedExample, std::string("BM"), std::string("1"));
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::ReducedLevels);
    EXPECT_DOUBLE_EQ(sheet.CellNumber(7, 5), 0.3);
    EXPECT_TRUE(Empty(6, 6));
    EXPECT_TRUE(Empty(10, 6));
}

TEST_F(ReductionTest, NoRunInTheSheetGivesNoDataAndTouchesNothing) {
    SetUpLevelSheet(sheet);
    run.StartRL = std::string("");
    run.EndRL = std::string("");
    const ReductionResult outcome = ReduceLevels(sheet, run);
    EXPECT_EQ(outcome.status, ReductionStatus::NoData);
    EXPECT_EQ(sheet.LastUsedRow(), 4);
    EXPECT_EQ(sheet.ActiveRow(), 5);
}

TEST_F(ReductionTest, OddLastDataRowsStopQuietlyWithoutTheNoDataPath) {
    // A first data row is set, so a last row that makes no sense is no "No Data ".
    SetUpLevelSheet(sheet);
    run.FirstDataRow = 6;
    run.LastDataRow = -3;
    run.StationCount = 1;
    const ReductionResult outcome = ReduceLevels(sheet, run);
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped) << "index -3 is outside the tables";

    run.LastDataRow = 0;
    run.StationCount = 0;
    EXPECT_EQ(ReduceLevels(sheet, run).status, ReductionStatus::Stopped);
}

TEST_F(ReductionTest, SecondRunRewritesResultsInPlace) {
    Reduce(kWorkedExample, 50.0, 52.0);
    const int32_t lastUsed = sheet.LastUsedRow();
    const std::string firstMisclose = Shown(13, 6);

    run.StartRL = std::string("60");
    run.EndRL = std::string("61");
    ASSERT_EQ(ReduceLevels(sheet, run).status, ReductionStatus::Reduced);
    EXPECT_EQ(sheet.LastUsedRow(), lastUsed);
    EXPECT_EQ(Shown(6, 6), "60.0000");
    EXPECT_EQ(Shown(10, 6), "60.8000");
    EXPECT_EQ(Shown(10, 7), "61.0000");
    EXPECT_EQ(Shown(7, 5), "0.3000");
    EXPECT_EQ(Shown(13, 6), "-0.2000");
    EXPECT_NE(Shown(13, 6), firstMisclose);
    EXPECT_EQ(Shown(8, 4), "0.9000") << "readings stay";
    EXPECT_EQ(sheet.CellText(9, 1), "CP1");
}

TEST_F(ReductionTest, EditedObservationIsReadAgainFromTheSheet) {
    Reduce(kWorkedExample, 100.0, 100.795);
    sheet.SetCellNumber(8, 4, 0.800);  // the foresight on CP1 re-booked
    run.StartRL = 100.0;
    ReduceLevels(sheet, run);
    EXPECT_EQ(Shown(8, 5), "0.4000");
    EXPECT_EQ(Shown(10, 6), "100.9000");
}

TEST_F(ReductionTest, RunWithoutDataRowsStopsAtTheCorrectionPerSetUp) {
    SetUpLevelSheet(sheet);
    run.FirstDataRow = 6;
    run.LastDataRow = 1;  // as after an empty field book
    run.StationCount = 0;
    run.StartRL = 12.5;
    run.EndRL = 12.5;
    const ReductionResult outcome = ReduceLevels(sheet, run);
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::CorrectionPerSetUp);
    EXPECT_EQ(sheet.CellNumber(6, 6), 12.5);
    EXPECT_EQ(sheet.CellNumber(6, 7), 12.5);
    EXPECT_EQ(sheet.LastUsedRow(), 6);
    EXPECT_EQ(sheet.CellText(4, 2), "BS");
}

TEST_F(ReductionTest, DataRowPastRowOneThousandStopsBeforeAnyResult) {
    std::vector<Record> records = {{"CP"}};
    for (int i = 0; i < 500; ++i) {
        records.push_back({"BS", "P", 1.0, 10});
        records.push_back({"FS", "Q", 1.0, 10});
    }
    const ReductionResult outcome = Reduce(records, 1.0, 1.0);  // rows 6..1005
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::ReadObservations);
    EXPECT_TRUE(Empty(7, 5));
    EXPECT_TRUE(Empty(6, 6));
}

TEST_F(ReductionTest, FullThousandRowRunReduces) {
    // 250 set-ups: data rows 6 to 1000 once the markers are gone.
    std::vector<Record> records;
    for (int i = 0; i < 250; ++i) {
        records.push_back({"CP"});
        records.push_back({"BS", "P", 1.5, 20});
        records.push_back({"IS", "i", 1.4, 5});
        if (i < 245) records.push_back({"IS", "j", 1.3, 5});
        records.push_back({"FS", "Q", 1.2, 20});
    }
    const ReductionResult outcome = Reduce(records, 0.0, 0.0);
    ASSERT_EQ(run.LastDataRow, 1000);
    EXPECT_EQ(outcome.status, ReductionStatus::Reduced) << outcome.reason;
    EXPECT_EQ(sheet.CellText(1000, 9), "FS");
    EXPECT_EQ(sheet.CellText(1003, 2), "Misclose(m)");
    EXPECT_NEAR(sheet.CellNumber(1000, 7), 0.0, 1e-9);
}

TEST_F(ReductionTest, NoSetUpsStopsAtTheCorrectionPerSetUp) {
    FillRun(sheet, run, {{"BS", "A", 1.0, 10}, {"FS", "B", 0.5, 10}});
    run.StartRL = 1.0;
    run.EndRL = 1.0;
    const ReductionResult outcome = ReduceLevels(sheet, run);
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::CorrectionPerSetUp);
}

TEST_F(ReductionTest, NegativeTotalDistanceStopsAfterTheAdjustedRLs) {
    const std::vector<Record> records = {{"CP"}, {"BS", "A", 1.0, -30}, {"FS", "B", 0.5, 10}};
    const ReductionResult outcome = Reduce(records, 1.0, 1.5);
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::PermissibleError);
    EXPECT_EQ(sheet.CellNumber(7, 7), 1.5);
    EXPECT_TRUE(Empty(10, 2));
}

TEST_F(ReductionTest, OverflowingResultStopsInsteadOfWritingInfinity) {
    const std::vector<Record> records = {{"CP"}, {"BS", "A", 1e308, 10}, {"FS", "B", -1e308, 10}};
    const ReductionResult outcome = Reduce(records, 1.0, 1.0);
    EXPECT_EQ(outcome.status, ReductionStatus::Stopped);
    EXPECT_EQ(outcome.step, ReductionStep::RiseFall);
    EXPECT_TRUE(Empty(7, 5));
}

}  // namespace
}  // namespace rendle::core
