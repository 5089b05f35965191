// A levelling run as the readers give it, with no level sheet: set-ups and sights with the lines
// of the book they came from, and the layout of such a run as the level sheet.
#include <gtest/gtest.h>

#include <sstream>

#include "FieldBookText.h"
#include "GsiText.h"
#include "core/LevelRun.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"
#include "readers/ReaderParts.h"
#include "readers/SheetLayout.h"

namespace {

using rendle::core::LevelRun;
using RunSetUp = rendle::core::SetUp;
using rendle::core::Sight;
using rendle::core::SightKind;
using rendle::readers::FieldBookFormat;
using rendle::readers::ReadStatus;
using namespace rendle::testing;

struct Typed {
    LevelRun run;
    rendle::readers::ReadResult result;
};

Typed ReadTyped(FieldBookFormat format, const std::string& text, int runNumber = 1) {
    std::istringstream in(text);
    rendle::readers::Book book;
    std::string error;
    EXPECT_TRUE(rendle::readers::LoadBook(in, format, {}, book, error)) << error;
    Typed typed;
    typed.result = rendle::readers::ReadLevelRun(book, runNumber, {}, typed.run);
    return typed;
}

/// Kind, station, reading, distance and line of a sight, as a table row.
struct Expected {
    SightKind kind;
    const char* station;
    double reading;
    double distance;
    size_t line;
};

void ExpectSights(const RunSetUp& setUp, const std::vector<Expected>& expected) {
    ASSERT_EQ(setUp.sights.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Sight& sight = setUp.sights[i];
        EXPECT_EQ(sight.kind, expected[i].kind);
        EXPECT_EQ(sight.station, expected[i].station);
        EXPECT_DOUBLE_EQ(sight.reading, expected[i].reading);
        EXPECT_DOUBLE_EQ(sight.distance, expected[i].distance);
        EXPECT_EQ(sight.line, expected[i].line);
    }
}

TEST(LevelRun, AnSdrBookGivesItsSetUpsWithTheirLines) {
    // Lines: 1 header, 2 note, 3 benchmark, 4 set-up, 5 BS, 6 FS, 7 note, 8 set-up, 9, 10.
    for (const auto& [format, text] : {std::pair{FieldBookFormat::SDR20, Sdr20Example()},
                                       std::pair{FieldBookFormat::SDR33, Sdr33Example()}}) {
        const Typed typed = ReadTyped(format, text);
        ASSERT_EQ(typed.result.status, ReadStatus::Read) << typed.result.reason;
        ASSERT_TRUE(typed.run.startRL);
        EXPECT_EQ(*typed.run.startRL, 100.5);
        ASSERT_EQ(typed.run.setUps.size(), 2u);
        EXPECT_EQ(typed.run.setUps[0].line, 4u);
        EXPECT_EQ(typed.run.setUps[1].line, 8u);
        ExpectSights(typed.run.setUps[0], {{SightKind::Back, "BM01", 1.5, 30, 5},
                                           {SightKind::Fore, "CP01", 0.9, 30, 6}});
        ExpectSights(typed.run.setUps[1], {{SightKind::Back, "CP01", 1.6, 40, 9},
                                           {SightKind::Fore, "BM02", 1.4, 40, 10}});
        // Three lines came before the first set-up record: the run stands on row 4 at 3.
        EXPECT_EQ(typed.run.standCounter, 3);
        EXPECT_EQ(typed.run.standRow, 4);
        EXPECT_TRUE(typed.run.beforeFirstSetUp.empty());
    }
}

TEST(LevelRun, AReadingBeforeTheFirstSetUpIsKeptWithItsLine) {
    const Typed typed = ReadTyped(
        FieldBookFormat::SDR20,
        Join({Sdr20Header(), Sdr20Reading("BM01", "    12.000", "    1.2000", "0", "0"),
              SetUpRecord(), Sdr20Reading("BM01", "    30.000", "    1.5000", "1", "0")}));
    ASSERT_EQ(typed.result.status, ReadStatus::Read);
    ASSERT_EQ(typed.run.beforeFirstSetUp.size(), 1u);
    EXPECT_EQ(typed.run.beforeFirstSetUp[0].line, 2u);
    EXPECT_EQ(typed.run.beforeFirstSetUp[0].kind, SightKind::Intermediate);
    ASSERT_EQ(typed.run.setUps.size(), 1u);
    EXPECT_FALSE(typed.run.startRL);
}

TEST(LevelRun, ReadingsReadTwiceGiveTheirMeansAndStationDifferences) {
    // The same run as a book of means (BF) and as books of both readings: the set-ups are the
    // same, and the books read twice carry (B1 − F1) − (B2 − F2) of each set-up.
    const Typed bf = ReadTyped(FieldBookFormat::M5, M5Run("BF"));
    ASSERT_EQ(bf.result.status, ReadStatus::Read) << bf.result.reason;
    for (const char* method : {"BFFB", "aBFFB", "BBFF", "BFBF", "aBF"}) {
        SCOPED_TRACE(method);
        const Typed typed = ReadTyped(FieldBookFormat::M5, M5Run(method));
        ASSERT_EQ(typed.result.status, ReadStatus::Read) << typed.result.reason;
        EXPECT_EQ(typed.run.instrument.method, method);
        ASSERT_EQ(typed.run.setUps.size(), 3u);
        for (size_t s = 0; s < 3; ++s) {
            const RunSetUp& mine = typed.run.setUps[s];
            const RunSetUp& means = bf.run.setUps[s];
            ASSERT_EQ(mine.sights.size(), means.sights.size());
            for (size_t i = 0; i < mine.sights.size(); ++i) {
                EXPECT_EQ(mine.sights[i].kind, means.sights[i].kind);
                EXPECT_EQ(mine.sights[i].station, means.sights[i].station);
                EXPECT_DOUBLE_EQ(mine.sights[i].reading, means.sights[i].reading);
                EXPECT_DOUBLE_EQ(mine.sights[i].distance, means.sights[i].distance);
            }
        }
        // By hand: (1.25 − 0.5) − (1.75 − 0.75), (1.5 − 1.25) − (2 − 1.5), (0.75 − 2) − (1.25
        // − 2.5).
        const bool twice =
            std::string(method).find("FF") != std::string::npos || std::string(method) == "BFBF";
        const double differences[] = {-0.25, -0.25, 0.0};
        for (size_t s = 0; s < 3; ++s) {
            ASSERT_EQ(typed.run.setUps[s].stationDifference.has_value(), twice);
            if (twice) {
                EXPECT_DOUBLE_EQ(*typed.run.setUps[s].stationDifference, differences[s]);
            }
        }
    }
    // Set-up 1: back readings 1.25 and 1.75 at 20 and 22 m, fore 0.5 and 0.75 at 19 and 21 m;
    // set-up 2 holds the intermediate sight A; each foresight its instrument height.
    ExpectSights(bf.run.setUps[0],
                 {{SightKind::Back, "BM1", 1.5, 21, 4}, {SightKind::Fore, "CP1", 0.625, 20, 5}});
    ASSERT_EQ(bf.run.setUps[1].sights.size(), 3u);
    EXPECT_EQ(bf.run.setUps[1].sights[1].station, "A");
    EXPECT_EQ(bf.run.setUps[1].sights[1].kind, SightKind::Intermediate);
    const double heights[] = {100.875, 101.25, 100};
    for (size_t s = 0; s < 3; ++s) {
        ASSERT_TRUE(bf.run.setUps[s].sights.back().z);
        EXPECT_DOUBLE_EQ(*bf.run.setUps[s].sights.back().z, heights[s]);
    }
    ASSERT_TRUE(bf.run.startRL);
    EXPECT_EQ(*bf.run.startRL, 100.0);
}

TEST(LevelRun, AnIntermediateSightBookedAfterTheForesightStandsBeforeIt) {
    // A DiNi books the intermediate sights of a set-up after its foresight.
    const Typed typed = ReadTyped(
        FieldBookFormat::M5,
        Join({M5First(), "For M5|Adr     2|TO  Start-Line      BF     1", M5Benchmark("50.000"),
              M5Sighting("Rb", "BM1", "1.2", "20"), M5Sighting("Rf", "CP1", "1.1", "20"),
              M5Sighting("Rz", "K1", "0.9", "12"), M5Sighting("Rz", "K2", "0.8", "14"),
              M5Sighting("Rb", "CP1", "1.3", "25"), M5Sighting("Rf", "BM2", "1.0", "25")}));
    ASSERT_EQ(typed.result.status, ReadStatus::Read) << typed.result.reason;
    ASSERT_EQ(typed.run.setUps.size(), 2u);
    ExpectSights(typed.run.setUps[0], {{SightKind::Back, "BM1", 1.2, 20, 4},
                                       {SightKind::Intermediate, "K1", 0.9, 12, 6},
                                       {SightKind::Intermediate, "K2", 0.8, 14, 7},
                                       {SightKind::Fore, "CP1", 1.1, 20, 5}});
}

TEST(LevelRun, AReadStoppedInsideARecordKeepsWhatItRead) {
    // A decimal comma in the distance of line 4: the station of that record was read.
    const Typed typed = ReadTyped(
        FieldBookFormat::SDR20, Join({Sdr20Header(), SetUpRecord(),
                                      Sdr20Reading("BM01", "    30.000", "    1.5000", "1", "0"),
                                      Sdr20Reading("CP01", "    25,500", "    0.9000", "0", "1")}));
    EXPECT_EQ(typed.result.status, ReadStatus::EndedWithMessage);
    EXPECT_EQ(typed.result.line, 4u);
    ASSERT_EQ(typed.run.setUps.size(), 1u);
    EXPECT_EQ(typed.run.setUps[0].sights.size(), 1u);
    ASSERT_TRUE(typed.run.unfinished);
    EXPECT_EQ(typed.run.unfinished->station, "CP01");
    EXPECT_FALSE(typed.run.unfinished->distance);
    EXPECT_EQ(typed.run.unfinished->line, 4u);
}

/// A run of one set-up of `sights` sights standing at line counter `counter`, row 4.
LevelRun RunOf(int sights, int32_t counter) {
    LevelRun run;
    run.standCounter = counter;
    run.standRow = 4;
    RunSetUp setUp;
    setUp.line = 10;
    for (int i = 0; i < sights; ++i) {
        setUp.sights.push_back({i == 0 ? SightKind::Back : SightKind::Intermediate,
                                "P" + std::to_string(i), 1.0, 10.0, std::nullopt,
                                static_cast<size_t>(11 + i)});
    }
    run.setUps.push_back(std::move(setUp));
    return run;
}

TEST(LevelRun, LaidOutWhileTheLineCounterIsAtMost1000) {
    using rendle::readers::parts::LayOutRun;
    using rendle::readers::parts::Stop;
    // The marker row takes counter 5 (row 5), the sights the counters after it: 995 sights end
    // at counter 1000, the last a level sheet holds. A run that stands 100 lines further down
    // the book holds 100 rows fewer.
    const struct {
        int sights;
        int32_t counter;
        bool laidOut;
    } cases[] = {
        {995, 4, true},    // at the capacity
        {996, 4, false},   // one past it
        {994, 4, true},    // one short of it
        {895, 104, true},  // at it, further down
        {896, 104, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sights) + " sights from " + std::to_string(c.counter));
        rendle::grid::Grid sheet;
        rendle::core::SetUpLevelSheet(sheet);
        rendle::core::RunState state;
        const LevelRun run = RunOf(c.sights, c.counter);
        try {
            LayOutRun(run, sheet, state, true);
            EXPECT_TRUE(c.laidOut);
            EXPECT_EQ(state.LastDataRow, c.sights + 5);
            EXPECT_EQ(sheet.CellText(5, rendle::core::kColSightType), "CP");
            EXPECT_EQ(sheet.CellText(6, rendle::core::kColSightType), "BS");
            EXPECT_EQ(sheet.CellText(c.sights + 5, rendle::core::kColStation),
                      "P" + std::to_string(c.sights - 1));
        } catch (const Stop& stop) {
            EXPECT_FALSE(c.laidOut) << stop.reason;
            EXPECT_EQ(stop.message, rendle::readers::parts::kTooManyRows);
            // The sight past the capacity is named by its line, and its station stays.
            EXPECT_EQ(stop.line, static_cast<size_t>(11 + c.sights - 1));
            EXPECT_EQ(sheet.CellText(c.sights + 5, rendle::core::kColStation),
                      "P" + std::to_string(c.sights - 1));
            EXPECT_EQ(sheet.CellText(c.sights + 5, rendle::core::kColSightType), "");
        }
    }
}

}  // namespace

namespace {

// A loop of six set-ups whose turning points the recorder left unnamed ("0", as many do): each
// backsight on the last foresight's point begins the next set-up, and none is a reading taken
// again.
TEST(LevelRun, TurningPointsWithoutNamesAreSetUpsOfTheirOwn) {
    const double readings[6][2] = {{1.5, 1.2}, {1.4, 1.6},  {1.3, 1.1},
                                   {1.6, 1.9}, {1.2, 1.25}, {1.45, 1.4}};
    for (const int method : {1, 2}) {
        for (const bool wide : {false, true}) {
            SCOPED_TRACE("method " + std::to_string(method) + (wide ? ", GSI-16" : ", GSI-8"));
            std::vector<GsiSetUp> setUps;
            for (size_t i = 0; i < 6; ++i) {
                const double b = readings[i][0];
                const double f = readings[i][1];
                setUps.push_back({i == 0 ? "A1" : "0",
                                  i == 5 ? "A1" : "0",
                                  b,
                                  f,
                                  b + 0.0001,
                                  f + 0.0001,
                                  20,
                                  20,
                                  {}});
            }
            const std::string book = GsiBookText(GsiLine(method, "A1", 100.0, setUps, wide));
            const Typed typed = ReadTyped(FieldBookFormat::GSI, book);
            ASSERT_EQ(typed.result.status, ReadStatus::Read) << typed.result.reason;
            EXPECT_TRUE(typed.result.warnings.Empty()) << typed.result.warnings.Told().front().text;
            ASSERT_EQ(typed.run.setUps.size(), 6u);
            double rise = 0;
            for (size_t i = 0; i < 6; ++i) {
                const auto& sights = typed.run.setUps[i].sights;
                ASSERT_EQ(sights.size(), 2u);
                EXPECT_NEAR(sights[0].reading, readings[i][0] + (method == 2 ? 0.00005 : 0), 1e-12);
                rise += sights[0].reading - sights[1].reading;
            }
            EXPECT_NEAR(rise, 0.0, 1e-12) << "the loop closes";
            // Reduced, it closes on its start with no misclose.
            std::istringstream in(book);
            rendle::readers::Book loaded;
            std::string error;
            ASSERT_TRUE(rendle::readers::LoadBook(in, FieldBookFormat::GSI, {}, loaded, error));
            rendle::grid::Grid sheet;
            rendle::core::SetUpLevelSheet(sheet);
            rendle::core::RunState state;
            const rendle::readers::ReducedBook reduced = rendle::readers::ReadAndReduce(
                loaded, 1, {}, sheet, state, [](rendle::core::RunState&) {});
            ASSERT_TRUE(reduced.reduction);
            ASSERT_TRUE(reduced.reduction->reduced.hasSummary) << reduced.reduction->reason;
            EXPECT_NEAR(reduced.reduction->reduced.misclose, 0.0, 1e-9);
        }
    }
}

}  // namespace

namespace {

// A run longer than a sheet is read no further than the sight that passes the sheet's rows: a
// book of any length costs what one sheet does, and what follows (here a data error) is never
// read.
TEST(LevelRun, ARunPastTheSheetIsReadNoFurther) {
    std::vector<std::string> lines = {Sdr20Header()};
    for (int i = 0; i < 2000; ++i) {
        lines.push_back(SetUpRecord());
        lines.push_back(Sdr20Reading("P1", "    30.000", "    1.5000", "1", "0"));
        lines.push_back(Sdr20Reading("P2", "    30.000", "    1.4000", "0", "1"));
    }
    lines.push_back(Sdr20Reading("P3", "    25,500", "    1.4000", "0", "1"));
    const Typed typed = ReadTyped(FieldBookFormat::SDR20, Join(lines));
    EXPECT_EQ(typed.result.status, ReadStatus::EndedWithMessage);
    EXPECT_EQ(typed.result.message, rendle::readers::parts::kTooManyRows);
    // Every line counts once (the header, then three lines a set-up), so the counter is the
    // line: line 1001 is the 334th set-up's record (a marker row is not refused), and its
    // backsight on line 1002 passes.
    EXPECT_EQ(typed.result.line, 1002u);
    EXPECT_TRUE(typed.run.pastCapacity);
    EXPECT_EQ(typed.run.setUps.size(), 334u);
    EXPECT_EQ(typed.run.setUps.back().sights.size(), 1u);
}

}  // namespace
