#include "core/Checks.h"

#include <gtest/gtest.h>

#include <cmath>

#include "LevelRun.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "report/CheckNotes.h"

namespace rendle::core {
namespace {

using testing::FillRun;
using testing::Record;

// Two set-ups, BM1 to BM2 with an intermediate sight: ΣBS 3.100, ΣFS 2.300.
const std::vector<Record> kWorkedExample = {
    {"CP", "", 0, 0}, {"BS", "BM1", 1.500, 30}, {"IS", "A", 1.200, 15},   {"FS", "CP1", 0.900, 30},
    {"CP", "", 0, 0}, {"BS", "CP1", 1.600, 40}, {"FS", "BM2", 1.400, 40},
};

class ChecksTest : public ::testing::Test {
  protected:
    RunChecks Reduce(const std::vector<Record>& records, RLValue end, CheckLimits limits = {}) {
        FillRun(sheet, run, records);
        run.StartRL = 100.0;
        run.EndRL = std::move(end);
        result = ReduceLevels(sheet, run);
        return CheckRun(run, result, limits);
    }
    grid::Grid sheet;
    RunState run;
    ReductionResult result;
};

TEST_F(ChecksTest, ArithmeticCheckOfTheWorkedExampleAndAfterAnEdit) {
    const RunChecks checks = Reduce(kWorkedExample, 100.8);
    ASSERT_TRUE(checks.arithmetic);
    const ArithmeticCheck& a = *checks.arithmetic;
    EXPECT_DOUBLE_EQ(a.sumBS, 3.100);
    EXPECT_DOUBLE_EQ(a.sumFS, 2.300);
    EXPECT_NEAR(a.ReadingDifference(), 0.800, 1e-12);
    EXPECT_NEAR(a.RiseFallDifference(), 0.800, 1e-12);
    EXPECT_NEAR(a.RLDifference(), 0.800, 1e-12);
    EXPECT_TRUE(a.agrees);
    EXPECT_NE(report::MiscloseNote(checks).find("= 0.8000; they agree."), std::string::npos);

    // A foresight whose rise was not worked from it (row 8, the first set-up's foresight): the
    // check fails, and says so.
    ReductionResult rebooked = result;
    ASSERT_EQ(rebooked.reduced.rows[2].row, 8);
    rebooked.reduced.rows[2].foresight = 0.950;
    const RunChecks edited = CheckRun(run, rebooked, {});
    EXPECT_FALSE(edited.arithmetic->agrees);
    EXPECT_NE(report::MiscloseNote(edited).find("; it fails. Reduce the run again"),
              std::string::npos);
    // The checks say what the reduction worked out: a cell edited after it changes nothing.
    sheet.SetCellNumber(8, kColFS, 0.950);
    EXPECT_TRUE(CheckRun(run, result, {}).arithmetic->agrees);

    // A reading that stayed text is no reading to the reduction: the sums agree with it, and
    // the check still fails, naming the cell.
    sheet.SetCellText(8, kColFS, "1.4.5");
    result = ReduceLevels(sheet, run);
    const RunChecks withText = CheckRun(run, result, {});
    EXPECT_FALSE(withText.arithmetic->agrees);
    EXPECT_NE(report::MiscloseNote(withText).find("D8 holds the text 1.4.5, read as no reading."),
              std::string::npos);
}

TEST_F(ChecksTest, ToleranceVerdictOnBothSides) {
    // 140 m of run: 2 mm √K is 0.75 mm; 3 mm √K is 1.12 mm.
    struct Case {
        const char* name;
        double end;
        std::optional<double> classMm;
        bool within;
    };
    const Case cases[] = {
        {"closes exactly", 100.8, std::nullopt, true},
        {"0.5 mm out, within 2 mm", 100.8005, std::nullopt, true},
        {"1.0 mm out, beyond 2 mm", 100.801, std::nullopt, false},
        {"1.0 mm out, within 3 mm", 100.801, 3.0, true},
        {"1.2 mm out, beyond 3 mm", 100.8012, 3.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sheet = grid::Grid{};
        const RunChecks checks =
            Reduce(kWorkedExample, c.end, {c.classMm, 5, 10, false, std::nullopt});
        ASSERT_TRUE(checks.tolerance);
        EXPECT_EQ(checks.tolerance->within, c.within);
        EXPECT_NEAR(checks.tolerance->permissible,
                    c.classMm.value_or(2.0) * std::sqrt(0.140) / 1000.0, 1e-12);
        EXPECT_EQ(report::MiscloseNote(checks).rfind(
                      c.within ? "The misclose of" : "The misclose exceeds", 0),
                  0u);
    }
}

TEST_F(ChecksTest, SightBalanceTable) {
    const std::vector<Record> run3 = {
        {"CP"},
        {"BS", "BM1", 1.5, 30},
        {"IS", "A", 1.2, 99},
        {"FS", "TP1", 1.0, 24},
        {"CP"},
        {"BS", "TP1", 1.5, 40},
        {"FS", "TP2", 1.0, 33},
        {"CP"},
        {"BS", "TP2", 1.5, 20},
        {"FS", "BM1", 1.0, 21},
    };
    const RunChecks checks = Reduce(run3, 101.5);
    const std::vector<std::pair<double, double>> expected = {{6, 6}, {7, 13}, {-1, 12}};
    ASSERT_EQ(checks.balance.setUps.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(checks.balance.setUps[i].imbalance, expected[i].first) << i;
        EXPECT_DOUBLE_EQ(checks.balance.setUps[i].running, expected[i].second) << i;
    }
    EXPECT_TRUE(checks.balance.setUps[0].flagged) << "6 m at one set-up is past 5 m";
    EXPECT_TRUE(checks.balance.setUps[2].flagged) << "12 m summed is past 10 m";
    EXPECT_DOUBLE_EQ(checks.balance.largestImbalance, 7);
    EXPECT_DOUBLE_EQ(checks.balance.largestRunning, 13);
    EXPECT_EQ(checks.balance.largestSetUp, 2);
    EXPECT_NE(report::BalanceNote(checks).find("is 7.00 m, at set-up 2;"), std::string::npos);
    EXPECT_NE(report::BalanceNote(checks).find("Beyond the limits"), std::string::npos);
}

TEST_F(ChecksTest, EachStopIsToldInASurveyorsWords) {
    struct Case {
        const char* name;
        RLValue start;
        RLValue end;
        std::string words;
    };
    const Case cases[] = {
        {"empty ending RL", 100.0, RLValue{},
         "the ending RL is empty, so the run was not adjusted"},
        {"ending RL no number", 100.0, std::string("BM2"),
         "the ending RL is not a number, so the run was not adjusted"},
        {"starting RL no number", std::string("x"), 100.0,
         "the starting RL is not a number, so no RLs were worked out"},
    };
    for (const Case& c : cases) {
        sheet = grid::Grid{};
        FillRun(sheet, run, kWorkedExample);
        run.StartRL = c.start;
        run.EndRL = c.end;
        const ReductionResult stopped = ReduceLevels(sheet, run);
        const RunChecks checks = CheckRun(run, stopped, {});
        EXPECT_FALSE(checks.reduced) << c.name;
        EXPECT_EQ(checks.notReduced, c.words) << c.name;
    }
    sheet = grid::Grid{};
    FillRun(sheet, run, {{"CP"}, {"FS", "X", 1.0, 10}});
    run.StartRL = 100.0;
    run.EndRL = 100.0;
    const ReductionResult noBacksight = ReduceLevels(sheet, run);
    EXPECT_EQ(CheckRun(run, noBacksight, {}).notReduced,
              "the run has no backsight, so the misclose could not be spread over set-ups");
}

}  // namespace
// Differences are said as precisely as the limit they are judged by, and the arithmetic check's
// figures as precisely as it takes for the verdict to follow them.
TEST(ChecksInWords, FiguresAsPreciseAsTheirLimit) {
    struct Case {
        double metres;
        std::optional<double> limit;
        std::optional<double> resolution;
        const char* shown;
    };
    const Case cases[] = {
        {-0.00034, 0.0003, std::nullopt, "-0.3"},    // judged at 0.1 mm
        {-0.00006, 0.00008, std::nullopt, "-0.06"},  // --station-limit 0.08
        {-0.00006, std::nullopt, 0.00001, "-0.06"},  // GSI units 8
        {0.0013, std::nullopt, 0.001, "1.3"},        // units 0: at least one decimal
        {0.00002, 0.00002, 0.00001, "0.02"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MillimetreText(c.metres, MillimetreDecimals(c.limit, c.resolution)), c.shown)
            << c.metres;
    }

    ArithmeticCheck agree;
    agree.sumBS = 0.00065 + 1e-12;  // halves of 0.1 mm, as means of double readings give
    agree.sumRise = 0.00065 - 1e-12;
    agree.lastRL = 0.00065;
    agree.agrees = true;
    const auto alike = ArithmeticFigures(agree);
    EXPECT_EQ(alike[0], alike[1]);
    EXPECT_EQ(alike[1], alike[2]);
    ArithmeticCheck differ = agree;
    differ.sumBS = 0.000651;
    differ.agrees = false;
    const auto apart = ArithmeticFigures(differ);
    EXPECT_EQ(apart[0], "0.000651");
    EXPECT_EQ(apart[2], "0.000650");
}

}  // namespace rendle::core
