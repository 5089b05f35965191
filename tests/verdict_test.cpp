// Every verdict judged at the precision its figure and limit are printed: a figure that prints
// as its limit is within it, a unit of the last printed digit over is not.
#include "core/Verdict.h"

#include <gtest/gtest.h>

#include <cmath>

#include "LevelRun.h"
#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/ToleranceClasses.h"
#include "grid/Grid.h"
#include "report/CheckNotes.h"
#include "report/TextReport.h"

namespace rendle::core {
namespace {

using testing::FillRun;
using testing::Record;

TEST(Verdict, WithinAtThePrintedPrecision) {
    const struct {
        const char* name;
        double figure;
        double limit;
        int decimals;
        Bound bound;
        bool within;
    } cases[] = {
        // The misclose a run of 1.2340 / 1.2000 against an ending RL of 100.032 holds.
        {"at, with binary noise over", 0.0020000000000095, 0.002, 4, Bound::AtMost, true},
        {"a unit over", 0.0021, 0.002, 4, Bound::AtMost, false},
        {"a unit under", 0.0019, 0.002, 4, Bound::AtMost, true},
        {"half a unit over rounds up", 0.00205, 0.002, 4, Bound::AtMost, false},
        {"just under half a unit over", 0.0020499, 0.002, 4, Bound::AtMost, true},
        {"0.64 against 0.6 at two decimals", 0.64, 0.6, 2, Bound::AtMost, false},
        {"0.604 against 0.6 at two decimals", 0.604, 0.6, 2, Bound::AtMost, true},
        {"the limit's own rounding", 2.0, 2.004, 2, Bound::AtMost, true},
        {"shortest sight at", 2.995, 3, 2, Bound::AtLeast, true},
        {"shortest sight a unit short", 2.99, 3, 2, Bound::AtLeast, false},
        {"shortest sight over", 3.01, 3, 2, Bound::AtLeast, true},
        {"no number", NAN, 1, 2, Bound::AtMost, false},
        {"no limit", 0.5, INFINITY, 2, Bound::AtMost, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Within(c.figure, c.limit, c.decimals, c.bound), c.within) << c.name;
    }
}

TEST(Verdict, HalfWayValuesRoundAsTheSheetShowsThem) {
    EXPECT_EQ(FixedText(0.00005, 4), "0.0001");
    EXPECT_EQ(FixedText(-0.00005, 4), "-0.0001");
    EXPECT_EQ(FixedText(2.675, 2), "2.68") << "the binary 2.67499999... is 2.675 to 15 digits";
    EXPECT_EQ(FixedText(1.5, 0), "2");
    EXPECT_DOUBLE_EQ(AsPrinted(0.0020000000000095, 4), 0.002);
    EXPECT_EQ(DecimalsOf(0.6), 1);
    EXPECT_EQ(DecimalsOf(0.02), 2);
    EXPECT_EQ(DecimalsOf(50), 0);

    // Figures of the arithmetic check that agree print as the RLs' difference does, the
    // figure the sheet's cells hold, whichever side of the half the sums fell.
    ArithmeticCheck a;
    a.sumBS = 0.0000499999999;
    a.sumRise = 0.0000500000001;
    a.firstRL = 0;
    a.lastRL = 0.0000500000001;
    const auto figures = ArithmeticFigures(a);
    EXPECT_EQ(figures[0], "0.0001");
    EXPECT_EQ(figures[1], "0.0001");
    EXPECT_EQ(figures[2], "0.0001");
}

class VerdictOfARun : public ::testing::Test {
  protected:
    RunChecks Reduce(const std::vector<Record>& records, double end, CheckLimits limits = {}) {
        FillRun(sheet, run, records);
        run.StartRL = 100.0;
        run.EndRL = end;
        const ReductionResult result = ReduceLevels(sheet, run);
        return CheckRun(run, result, limits);
    }
    grid::Grid sheet;
    RunState run;
};

// One set-up over 1 km, 1.2340 back and 1.2000 fore: the run ends at 100.0340, and 2 mm √1 is
// 2.0 mm. The misclose against the ending RL at, a unit over and a unit under its limit.
TEST_F(VerdictOfARun, TheMiscloseAtItsLimit) {
    const std::vector<Record> oneSetUp = {
        {"CP"}, {"BS", "BM1", 1.2340, 500}, {"FS", "BM2", 1.2000, 500}};
    const struct {
        double end;
        bool within;
        const char* line;
    } cases[] = {
        {100.032, true, "misclose 0.0020 m against 2 mm x sqrt(K) = 0.0020 m: within (ratio 1.00)"},
        {100.0319, false,
         "misclose 0.0021 m against 2 mm x sqrt(K) = 0.0020 m: EXCEEDS (ratio 1.05)"},
        {100.0321, true,
         "misclose 0.0019 m against 2 mm x sqrt(K) = 0.0020 m: within (ratio 0.95)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        const RunChecks checks = Reduce(oneSetUp, c.end);
        ASSERT_TRUE(checks.tolerance);
        EXPECT_EQ(checks.tolerance->within, c.within);
        EXPECT_NE(report::ChecksReport(checks).find(c.line), std::string::npos)
            << report::ChecksReport(checks);
        const std::string note = report::MiscloseNote(checks);
        EXPECT_NE(note.find(c.within ? "is within the permissible 0.0020 m"
                                     : "exceeds the permissible 0.0020 m by 0.0001 m"),
                  std::string::npos)
            << note;
    }
}

TEST_F(VerdictOfARun, TheClassBlockPrintsEachFigureAtItsOwnPrecision) {
    const std::vector<Record> oneSetUp = {
        {"CP"}, {"BS", "BM1", 1.2340, 30}, {"FS", "BM2", 1.2000, 25}};
    const struct {
        double stationDifference;  // m
        const char* line;
    } cases[] = {
        {0.00064, "station difference 0.64 mm (limit 0.6 mm): EXCEEDS"},
        {0.0006, "station difference 0.60 mm (limit 0.6 mm): within"},
        {0.00061, "station difference 0.61 mm (limit 0.6 mm): EXCEEDS"},
        {-0.00059, "station difference 0.59 mm (limit 0.6 mm): within"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CheckLimits limits;
        limits.toleranceClass = FindToleranceClass("fgcs-1-1");
        limits.stationLimitMm = 0.6;
        FillRun(sheet, run, oneSetUp);
        run.instrument.stationDifferences = {{1, c.stationDifference}};
        run.StartRL = 100.0;
        run.EndRL = 100.034;
        const ReductionResult result = ReduceLevels(sheet, run);
        const RunChecks checks = CheckRun(run, result, limits);
        ASSERT_TRUE(checks.byClass && checks.byClass->stationDifference);
        const std::string block = report::ClassReport(*checks.byClass);
        EXPECT_NE(block.find(c.line), std::string::npos) << block;
        // The Checks block's own line judges alike.
        EXPECT_EQ(checks.stationDifferences.flagged, c.line[std::string(c.line).size() - 1] == 'S');
    }
}

TEST_F(VerdictOfARun, SightsAndBalanceAtTheirLimits) {
    // fgcs-1-1: longest sight 50 m, balance 2 m a set-up, 4 m over the line.
    const struct {
        double back;
        double fore;
        bool longestWithin;
        bool balanceWithin;
    } cases[] = {
        {50.004, 48.004, true, true},  // 50.00 and 2.00 as printed
        {50.01, 48.0, false, false},   // 50.01 and 2.01
        {49.99, 47.995, true, true},   // 49.99 and 2.00 (1.995 rounds up to 2.00)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.back);
        CheckLimits limits;
        limits.toleranceClass = FindToleranceClass("fgcs-1-1");
        const RunChecks checks =
            Reduce({{"CP"}, {"BS", "BM1", 1.5, c.back}, {"FS", "BM2", 1.0, c.fore}}, 100.5, limits);
        ASSERT_TRUE(checks.byClass && checks.byClass->longestSight && checks.byClass->balanceSetUp);
        EXPECT_EQ(checks.byClass->longestSight->within, c.longestWithin);
        EXPECT_EQ(checks.byClass->balanceSetUp->within, c.balanceWithin);
    }
}

}  // namespace
}  // namespace rendle::core

namespace rendle::core {
namespace {

TEST_F(VerdictOfARun, ALoopJudgedByTheLineFigureWhereTheClassSetsNoLoopFigure) {
    CheckLimits limits;
    limits.toleranceClass = FindToleranceClass("icsm-l2a");
    ASSERT_TRUE(limits.toleranceClass && !limits.toleranceClass->loopMm);
    // A loop of 1 km back to BM1, 2.0 mm out: 2 mm √1 is 2.0 mm.
    const RunChecks checks = Reduce({{"CP"},
                                     {"BS", "BM1", 1.5, 250},
                                     {"FS", "TP", 1.0, 250},
                                     {"CP"},
                                     {"BS", "TP", 1.0, 250},
                                     {"FS", "BM1", 1.498, 250}},
                                    100.0, limits);
    ASSERT_TRUE(checks.byClass && checks.byClass->misclose);
    EXPECT_TRUE(checks.byClass->loop);
    EXPECT_EQ(checks.byClass->fallback, "the class sets no loop figure: its line figure");
    EXPECT_TRUE(checks.byClass->misclose->within);
    EXPECT_NE(report::ClassReport(*checks.byClass)
                  .find("misclose 2.0 mm against 2.0 mm (a loop; the class sets no loop figure: "
                        "its line figure): within"),
              std::string::npos)
        << report::ClassReport(*checks.byClass);
}

}  // namespace
}  // namespace rendle::core

namespace rendle::core {
namespace {

TEST_F(VerdictOfARun, TheMethodAgainstTheClasssMethod) {
    const struct {
        const char* id;
        const char* method;  // as the book names it; empty for a book of single readings
        const char* verdict;
    } cases[] = {
        {"il-h1", "BFFB", "meets"},
        {"il-h1", "aBFFB", "meets"},  // alternating BFFB is BFFB
        {"il-h1", "BF", "fails"},
        {"il-h1", "BBFF", "fails"},
        {"cn-2-digital", "BBFF", "meets"},
        {"cn-2-digital", "BFBF", "meets"},
        {"cn-2-digital", "", "fails"},
        {"il-h4", "", "meets"},
        {"fgcs-1-1", "BFFB", "not shown by one line"},
        {"icsm-la", "BF", "not shown by one line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + c.method);
        CheckLimits limits;
        limits.toleranceClass = FindToleranceClass(c.id);
        FillRun(sheet, run, {{"CP"}, {"BS", "BM1", 1.5, 20}, {"FS", "BM2", 1.0, 20}});
        run.instrument.method = c.method;
        run.StartRL = 100.0;
        run.EndRL = 100.5;
        const RunChecks checks = CheckRun(run, std::optional(ReduceLevels(sheet, run)), limits);
        ASSERT_TRUE(checks.byClass && checks.byClass->method);
        EXPECT_EQ(checks.byClass->method->verdict, c.verdict);
        EXPECT_EQ(checks.byClass->method->method, *c.method ? c.method : "BF");
    }
}

}  // namespace
}  // namespace rendle::core
