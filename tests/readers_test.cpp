#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeWindowing.h"
#include "FieldBookText.h"
#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"
#include "readers/FieldBookLine.h"

namespace rendle::readers {
namespace {

using namespace rendle::testing;
using core::RLValue;
using F = FieldBookFormat;

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { core::SetUpLevelSheet(sheet); }

    ReadOutcome Read(FieldBookFormat format, const std::string& text) {
        std::istringstream in(text);
        return RunReadCommand(format, in, sheet, run, windowing);
    }

    std::string Text(int32_t r, int32_t c) { return sheet.CellText(r, c); }
    double Number(int32_t r, int32_t c) { return sheet.CellNumber(r, c); }
    bool IsNumber(int32_t r, int32_t c) {
        return sheet.CellAt(r, c).kind == grid::CellKind::Number;
    }

    void ExpectReadingRow(int32_t row, const std::string& station, const std::string& sight,
                          double reading, double distance) {
        SCOPED_TRACE("row " + std::to_string(row));
        EXPECT_EQ(Text(row, 1), station);
        EXPECT_EQ(Text(row, 9), sight);
        const int32_t col = sight == "BS" ? 2 : sight == "IS" ? 3 : 4;
        EXPECT_TRUE(IsNumber(row, col));
        EXPECT_EQ(Number(row, col), reading);
        EXPECT_EQ(Number(row, 8), distance);
    }

    void ExpectMessage(const std::string& text) {
        ASSERT_EQ(windowing.messages.size(), 1u);
        EXPECT_EQ(windowing.messages[0].text, text);
        EXPECT_EQ(windowing.messages[0].title, "Data File");
        EXPECT_EQ(windowing.messages[0].icon, core::MessageIcon::Critical);
        EXPECT_TRUE(windowing.formRLShown.empty());
    }

    grid::Grid sheet;
    core::RunState run;
    FakeWindowing windowing;
};

// The record sequence of the row-placement example: header, other, benchmark, set-up, BS, FS,
// other, set-up, BS, FS, other.
std::string Sdr20Example() {
    return Join({Sdr20Header(), "13NMnote", Sdr20Benchmark("100.5"), SetUpRecord(),
                 Sdr20Reading("BM01", "    30.000", "    1.5000", "1", "0"),
                 Sdr20Reading("CP01", "    30.000", "    0.9000", "0", "1"), "13NMnote",
                 SetUpRecord(), Sdr20Reading("CP01", "    40.000", "    1.6000", "1", "0"),
                 Sdr20Reading("BM02", "    40.000", "    1.4000", "0", "1"), "13NMnote"});
}

std::string Sdr33Example() {
    return Join({Sdr33Header(), "13NMnote", Sdr33Benchmark("100.5"), SetUpRecord(),
                 Sdr33Reading("       BM01", "    30.000", "    1.5000", "1", "0"),
                 Sdr33Reading("       CP01", "    30.000", "    0.9000", "0", "1"), "13NMnote",
                 SetUpRecord(), Sdr33Reading("       CP01", "    40.000", "    1.6000", "1", "0"),
                 Sdr33Reading("       BM02", "    40.000", "    1.4000", "0", "1"), "13NMnote"});
}

TEST_F(ReaderTest, SdrRowPlacementExampleLandsAsTabled) {
    for (const auto& [format, text] :
         {std::pair{F::SDR20, Sdr20Example()}, std::pair{F::SDR33, Sdr33Example()}}) {
        SCOPED_TRACE(format == F::SDR20 ? "SDR20" : "SDR33");
        windowing = FakeWindowing{};
        windowing.closeFormRLByCloseBox = true;  // reduce with the prefilled run state
        windowing.onFormRL = [&] {
            // The sheet as the read left it: marker rows 5 and 8, the last row written 10.
            EXPECT_EQ(Text(5, 9), "CP");
            EXPECT_EQ(Text(8, 9), "CP");
            EXPECT_EQ(Text(8, 1), "");
            EXPECT_EQ(Text(9, 1), "CP01");
            EXPECT_EQ(Text(10, 1), "BM02");
            EXPECT_EQ(sheet.LastUsedRow(), 10);
            EXPECT_EQ(windowing.events.size(), 1u) << "the file closed before FormRL";
        };
        const ReadOutcome outcome = Read(format, text);
        ASSERT_EQ(outcome.end, ReadEnd::ReachedReduction) << outcome.reason;
        EXPECT_EQ(run.FirstDataRow, 6);
        EXPECT_EQ(run.LastDataRow, 9);
        EXPECT_EQ(run.StationCount, 2);
        EXPECT_EQ(Text(2, 6), "2");
        EXPECT_EQ(std::get<double>(run.EnteredStartRL), 100.5);
        ASSERT_EQ(windowing.formRLShown.size(), 1u);
        EXPECT_EQ(windowing.formRLShown[0], (core::RLBoxes{"100.5", ""}));
        // After the reduction the marker row 8 is gone and the data rows are 6 to 9.
        EXPECT_EQ(Text(5, 9), "CP");
        ExpectReadingRow(6, "BM01", "BS", 1.5, 30);
        ExpectReadingRow(7, "CP01", "FS", 0.9, 30);
        ExpectReadingRow(8, "CP01", "BS", 1.6, 40);
        ExpectReadingRow(9, "BM02", "FS", 1.4, 40);
        EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
        EXPECT_EQ(sheet.DisplayText(9, 6), "101.3000");
    }
}

TEST_F(ReaderTest, M5RowPlacementExampleLandsAsTabled) {
    const std::string text = Join({M5First(), M5Other(), M5Benchmark("   12.345"),
                                   M5Sighting("Rb", "     BM1", " 1.5000", " 30.000"),
                                   M5Sighting("Rz", "       A", " 1.2000", " 15.000"),
                                   M5Sighting("Rf", "     CP1", " 0.9000", " 30.000"), M5Other(),
                                   M5Sighting("Rf", "     CP1", " 0.9500", " 30.000", true),
                                   M5Sighting("Rb", "     CP1", " 1.6000", " 40.000"),
                                   M5Sighting("Rf", "     BM2", " 1.4000", " 40.000")});
    windowing.onFormRL = [&] {
        EXPECT_EQ(Text(9, 9), "CP");
        EXPECT_EQ(Text(9, 1), "");
        EXPECT_EQ(Text(10, 1), "CP1");
        EXPECT_EQ(Text(11, 1), "BM2");
    };
    windowing.typeEnd = "";
    const ReadOutcome outcome = Read(F::M5, text);
    ASSERT_EQ(outcome.end, ReadEnd::ReachedReduction) << outcome.reason;
    EXPECT_EQ(run.LastDataRow, 10);
    EXPECT_EQ(run.StationCount, 2);
    EXPECT_EQ(Text(2, 6), "2");
    EXPECT_EQ(windowing.formRLShown[0], (core::RLBoxes{"12.345", ""}));
    EXPECT_EQ(Text(5, 9), "CP");
    ExpectReadingRow(6, "BM1", "BS", 1.5, 30);
    ExpectReadingRow(7, "A", "IS", 1.2, 15);
    ExpectReadingRow(8, "CP1", "FS", 0.9, 30);
    ExpectReadingRow(9, "CP1", "BS", 1.6, 40);  // marker row 9 deleted by the reduction
    ExpectReadingRow(10, "BM2", "FS", 1.4, 40);
    EXPECT_EQ(Text(11, 1), "");
}

TEST_F(ReaderTest, M5MarkedFirstBacksightStillStartsTheRun) {
    const std::string text =
        Join({M5First(), M5Other(), M5Other(), M5Sighting("Rb", "BM1", "1.5", "30", true),
              M5Sighting("Rz", "A", "1.2", "10"), M5Sighting("Rb", "CP", "1.1", "20"),
              M5Sighting("rf", "X", "1.0", "20"), M5Sighting("Rf", "BM1", "1.0", "20")});
    windowing.closeFormRLByCloseBox = true;
    windowing.onFormRL = [&] {
        EXPECT_EQ(Text(5, 9), "");
        EXPECT_EQ(Text(6, 1), "");
        EXPECT_EQ(Text(7, 9), "IS");
        EXPECT_EQ(Text(8, 9), "CP");
        EXPECT_EQ(Text(9, 9), "BS");
        EXPECT_EQ(Text(10, 9), "FS");
    };
    Read(F::M5, text);
    // Rows before the reduction: 5 and 6 empty, IS on 7, marker 8, BS 9, FS 10.
    EXPECT_EQ(run.StationCount, 1);
    EXPECT_EQ(run.LastDataRow, 10);
    EXPECT_EQ(Text(6, 1), "") << "the marked Rb stored nothing";
    EXPECT_EQ(Text(7, 1), "A");
    EXPECT_EQ(Text(8, 1), "CP") << "marker row 8 deleted, the BS moved up";
    EXPECT_EQ(Text(9, 1), "BM1") << "a code in another letter case is no sighting";
}

TEST_F(ReaderTest, LineEndsOfAnyKindGiveTheSameSheet) {
    const std::vector<std::string> lines = {Sdr20Header(),
                                            SetUpRecord(),
                                            Sdr20Reading("BM1 ", "10", "1.5", "1", "0"),
                                            Sdr20Reading("P   ", "10", "1.0", "0", "1"),
                                            SetUpRecord(),
                                            Sdr20Reading("P   ", "10", "1.2", "1", "0"),
                                            Sdr20Reading("BM1 ", "10", "1.7", "0", "1")};
    std::vector<std::string> shown;
    for (const char* end : {"\r\n", "\r", "\n"}) {
        windowing = FakeWindowing{};
        windowing.typeStart = "50";
        windowing.typeEnd = "50.01";
        const ReadOutcome outcome = Read(F::SDR20, Join(lines, end));
        ASSERT_EQ(outcome.end, ReadEnd::ReachedReduction);
        ASSERT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
        std::string all;
        for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
            for (int32_t c = 1; c <= 9; ++c) all += sheet.DisplayText(r, c) + "|";
        }
        shown.push_back(all);
    }
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], shown[2]);
    EXPECT_EQ(run.LastDataRow, 9);
}

TEST_F(ReaderTest, WrongFormatsAreRejectedAtTheirHeader) {
    struct Case {
        const char* name;
        FieldBookFormat format;
        std::string text;
        const char* message;
        int32_t rowsKept;  // last used row after the rejection
    };
    const std::string reading = Sdr20Reading("A   ", "1", "1", "1", "0");
    const Case cases[] = {
        {"SDR33 file to the SDR20 command", F::SDR20, Join({Sdr33Header()}),
         "NOT SDR20 File. Please Check Your Data File ", 4},
        {"SDR20 file to the SDR33 command", F::SDR33, Join({Sdr20Header()}),
         "NOT SDR33 File. Please Check Your Data File ", 4},
        {"model in lower case", F::SDR20, Join({Sdr20Header("sdr20")}),
         "NOT SDR20 File. Please Check Your Data File ", 4},
        {"blank line after a set-up", F::SDR20, Join({Sdr20Header(), SetUpRecord(), reading, ""}),
         "NOT SDR20 File. Please Check Your Data File ", 6},
        {"line starting with letters", F::SDR33, Join({"AB  SDR20"}),
         "NOT SDR33 File. Please Check Your Data File ", 4},
        {"M5 with a leading blank", F::M5, Join({" For M5|Adr 1"}),
         "NOT Zeiss File. Please Check Your Data File ", 4},
        {"M5 in another case", F::M5, Join({"FOR M5|Adr 1"}),
         "NOT Zeiss File. Please Check Your Data File ", 4},
        {"M5 short first line", F::M5, Join({"For M"}),
         "NOT Zeiss File. Please Check Your Data File ", 4},
        {"SDR file to the M5 command", F::M5, Join({Sdr20Header()}),
         "NOT Zeiss File. Please Check Your Data File ", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windowing = FakeWindowing{};
        const ReadOutcome outcome = Read(c.format, c.text);
        EXPECT_EQ(outcome.end, ReadEnd::EndedWithMessage);
        ExpectMessage(c.message);
        EXPECT_FALSE(outcome.reduction);
        EXPECT_EQ(sheet.LastUsedRow(), c.rowsKept);
        EXPECT_EQ(windowing.pointers.back(), core::MousePointer::Default);
    }
}

TEST_F(ReaderTest, HeaderRecordsThatAreAccepted) {
    const std::string rest = Join({SetUpRecord(), Sdr20Reading("A   ", "1", "1", "1", "0")});
    for (const std::string& text :
         {Join({"00xxSDR20"}) + rest, rest,
          Join({Sdr20Header(), "99"}) + rest + Join({Sdr20Header()}), Join({"    SDR20"}) + rest}) {
        windowing = FakeWindowing{};
        EXPECT_EQ(Read(F::SDR20, text).end, ReadEnd::ReachedReduction) << text;
        EXPECT_TRUE(windowing.messages.empty());
    }
}

TEST_F(ReaderTest, FlagsDecideTheSightType) {
    struct Case {
        const char* bs;
        const char* fs;
        const char* sight;
    };
    const Case cases[] = {{"1", "1", "BS"}, {"0", "1", "FS"}, {"2", "3", "IS"}, {"1", " ", "BS"}};
    for (const Case& c : cases) {
        windowing = FakeWindowing{};
        windowing.closeFormRLByCloseBox = true;
        Read(F::SDR20, Join({SetUpRecord(), Sdr20Reading("A   ", "1", "1.25", c.bs, c.fs)}));
        EXPECT_EQ(Text(6, 9), c.sight) << c.bs << "/" << c.fs;
    }
}

TEST_F(ReaderTest, AFlagThatIsNoDigitIsADataError) {
    struct Case {
        const char* name;
        FieldBookFormat format;
        std::string record;
    };
    const Case cases[] = {
        {"blank backsight flag", F::SDR20, Sdr20Reading("  ST", "  12.5", "1.5", " ", "1")},
        {"letter foresight flag", F::SDR20, Sdr20Reading("  ST", "  12.5", "1.5", "0", "x")},
        {"line too short for the flags", F::SDR20, Line({{1, "63"}, {5, "  ST"}, {9, "  12.5"}})},
        {"SDR33 record shorter than 78", F::SDR33,
         Line({{1, "63"}, {10, "         ST"}, {21, "  12.5"}, {60, "x"}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windowing = FakeWindowing{};
        const ReadOutcome outcome = Read(c.format, Join({SetUpRecord(), c.record}));
        EXPECT_EQ(outcome.end, ReadEnd::EndedWithMessage);
        ExpectMessage("Please Check Your Data File ");
        EXPECT_EQ(LeftTrimmed(Text(6, 1)), "ST") << "station name written before the check";
        EXPECT_EQ(Number(6, 8), 12.5) << "distance written before the check";
        EXPECT_EQ(Text(6, 9), "");
    }
}

TEST_F(ReaderTest, StationNamesKeepOrLoseTheirBlanksByFormat) {
    windowing.closeFormRLByCloseBox = true;
    Read(F::SDR20, Join({SetUpRecord(), Sdr20Reading("  12", "1", "1", "1", "0")}));
    EXPECT_EQ(Text(6, 1), "  12");

    Read(F::SDR33, Join({SetUpRecord(), Sdr33Reading("   1001    ", "1", "1", "1", "0")}));
    EXPECT_EQ(Text(6, 1), "1001    ");

    Read(F::M5, Join({M5First(), M5Sighting("Rb", "  BM1   ", "1", "1")}));
    EXPECT_EQ(Text(6, 1), "BM1   ");
    Read(F::M5, Join({M5First(), M5Sighting("Rb", "        ", "1", "1")}));
    EXPECT_EQ(Text(6, 1), "");
}

TEST_F(ReaderTest, BenchmarkRecords) {
    windowing.closeFormRLByCloseBox = true;
    Read(F::SDR20, Join({Sdr20Benchmark("10.25"), Sdr20Benchmark("  20.125"), SetUpRecord()}));
    EXPECT_EQ(windowing.formRLShown.back().start, "20.125") << "the last benchmark record wins";

    Read(F::SDR20, Join({"61  short", SetUpRecord()}));
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 0.0) << "a short record gives 0, not empty";
    EXPECT_EQ(windowing.formRLShown.back().start, "0");

    Read(F::SDR33, Join({Sdr33Benchmark("7.5"), SetUpRecord()}));
    EXPECT_EQ(windowing.formRLShown.back().start, "7.5");

    Read(F::M5, Join({M5First(), M5Other()}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EnteredStartRL)) << "no line 3";
    Read(F::M5, Join({M5First(), M5Other(), "For M5|Adr     3|short"}));
    EXPECT_EQ(windowing.formRLShown.back().start, "0");
}

TEST_F(ReaderTest, ClosedRunPrefillsTheEndingRL) {
    struct Case {
        const char* name;
        const char* lastStation;
        const char* end;
    };
    const Case cases[] = {
        {"same name", "BM1 ", "100.5"}, {"other case", "bm1 ", ""}, {"other blanks", " BM1", ""}};
    for (const Case& c : cases) {
        windowing = FakeWindowing{};
        windowing.closeFormRLByCloseBox = true;
        Read(F::SDR20, Join({Sdr20Benchmark("100.5"), SetUpRecord(),
                             Sdr20Reading("BM1 ", "1", "1.5", "1", "0"),
                             Sdr20Reading(c.lastStation, "1", "1.4", "0", "1")}));
        EXPECT_EQ(windowing.formRLShown[0], (core::RLBoxes{"100.5", c.end})) << c.name;
    }
    // SDR33 names keep their trailing blanks in the comparison.
    windowing = FakeWindowing{};
    Read(F::SDR33,
         Join({Sdr33Benchmark("9"), SetUpRecord(), Sdr33Reading("   1001    ", "1", "1", "1", "0"),
               Sdr33Reading("    1001   ", "1", "1", "0", "1")}));
    EXPECT_EQ(windowing.formRLShown[0].end, "");
}

TEST_F(ReaderTest, FormRLOkStoresTheTextsAndTheCloseBoxKeepsThePrefill) {
    const std::string text =
        Join({Sdr20Benchmark("100.5"), SetUpRecord(), Sdr20Reading("BM1 ", "1", "1.5", "1", "0"),
              Sdr20Reading("BM2 ", "1", "1.4", "0", "1")});
    windowing.typeEnd = " 100.6 ";
    Read(F::SDR20, text);
    EXPECT_EQ(std::get<std::string>(run.EnteredStartRL), "100.5");
    EXPECT_EQ(std::get<std::string>(run.EndRL), " 100.6 ");
    EXPECT_EQ(sheet.DisplayText(7, 7), "100.6000");

    windowing = FakeWindowing{};
    windowing.closeFormRLByCloseBox = true;
    const ReadOutcome outcome = Read(F::SDR20, text);
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 100.5);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL)) << "empty counts as 0";
    EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
    EXPECT_EQ(sheet.DisplayText(10, 6), "100.6000") << "misclose against an ending RL of 0";
}

TEST_F(ReaderTest, EmptyFileIsAcceptedAndReduced) {
    for (FieldBookFormat format : {F::SDR20, F::SDR33, F::M5}) {
        windowing = FakeWindowing{};
        windowing.closeFormRLByCloseBox = true;  // OK would store two empty texts: no numbers
        const ReadOutcome outcome = Read(format, "");
        ASSERT_EQ(outcome.end, ReadEnd::ReachedReduction);
        EXPECT_EQ(Text(2, 6), "0");
        EXPECT_EQ(run.FirstDataRow, 6);
        EXPECT_EQ(run.LastDataRow, 1);
        EXPECT_EQ(windowing.formRLShown[0], (core::RLBoxes{"", ""}));
        EXPECT_EQ(outcome.reduction->step, core::kStepCorrectionPerSetUp);
    }
}

TEST_F(ReaderTest, RecordsBeforeTheFirstSetUpLandOnTheirLineNumber) {
    windowing.closeFormRLByCloseBox = true;
    Read(F::SDR20, Join({Sdr20Header(), Sdr20Reading("EARL", "1", "1.5", "1", "0"), "99",
                         SetUpRecord(), Sdr20Reading("A   ", "1", "1.5", "1", "0")}));
    EXPECT_EQ(Text(2, 1), "EARL") << "line 2 writes into the header block";
    EXPECT_EQ(Text(6, 1), "A   ");
    EXPECT_EQ(run.LastDataRow, 6);

    windowing = FakeWindowing{};
    windowing.onFormRL = [&] {
        EXPECT_EQ(sheet.LastUsedRow(), 4) << "M5 readings before the first Rb are not stored";
    };
    Read(F::M5,
         Join({M5First(), M5Sighting("Rz", "X", "1", "1"), M5Sighting("Rf", "Y", "1", "1")}));
    EXPECT_EQ(windowing.formRLShown.size(), 1u);
    EXPECT_EQ(run.LastDataRow, 4) << "lines plus one";
}

TEST_F(ReaderTest, OtherRecordsTakeNoRow) {
    windowing.closeFormRLByCloseBox = true;
    Read(F::SDR33, Join({SetUpRecord(), "13", Sdr33Reading("A", "1", "1", "1", "0"), "08", "41",
                         Sdr33Reading("          B", "1", "1", "0", "1"), "13", "13"}));
    EXPECT_EQ(run.LastDataRow, 7);
    EXPECT_EQ(Text(7, 1), "B");
}

TEST_F(ReaderTest, CancelledDialogLeavesTheHeaderBlockOnly) {
    // A previous run first.
    Read(F::SDR20, Sdr20Example());
    sheet.SetCellText(2, 2, "Ring road");
    const core::RunState previous = run;

    windowing = FakeWindowing{};
    windowing.nextFileName = "";
    const ReadOutcome outcome = RunReadCommand(F::M5, sheet, run, windowing);
    EXPECT_EQ(outcome.end, ReadEnd::EndedSilently);
    EXPECT_TRUE(windowing.messages.empty());
    EXPECT_TRUE(windowing.formRLShown.empty());
    EXPECT_EQ(windowing.presetFileNames, std::vector<std::string>{""});
    EXPECT_EQ(sheet.LastUsedRow(), 4);
    EXPECT_EQ(Text(2, 2), "");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EnteredStartRL));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));
    EXPECT_EQ(run.StationCount, previous.StationCount);
    EXPECT_EQ(run.LastDataRow, previous.LastDataRow);
    EXPECT_EQ(run.StartRL, previous.StartRL);
}

TEST_F(ReaderTest, MissingFileEndsSilentlyAndARealFileIsRead) {
    windowing.nextFileName = "/nonexistent/field.SDR";
    EXPECT_EQ(RunReadCommand(F::SDR20, sheet, run, windowing).end, ReadEnd::EndedSilently);
    EXPECT_TRUE(windowing.messages.empty());

    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "rendle-reader-test.SDR";
    std::ofstream(path, std::ios::binary) << Sdr20Example();
    windowing = FakeWindowing{};
    windowing.nextFileName = path.string();
    const ReadOutcome outcome = RunReadCommand(F::SDR20, sheet, run, windowing);
    std::filesystem::remove(path);
    EXPECT_EQ(outcome.end, ReadEnd::ReachedReduction);
    EXPECT_EQ(run.LastDataRow, 9);
}

TEST_F(ReaderTest, CapacityCounterAndNumberLimitsSayWhatWentWrong) {
    std::vector<std::string> longRun = {SetUpRecord()};
    for (int i = 0; i < 1000; ++i) longRun.push_back(Sdr20Reading("P   ", "1", "1", "0", "0"));
    std::vector<std::string> manyLines(32768, "99");
    std::vector<std::string> m5Lines(32769, M5Other());
    m5Lines[0] = M5First();

    struct Case {
        const char* name;
        FieldBookFormat format;
        std::string text;
        const char* messageStart;
    };
    const Case cases[] = {
        {"reading past row 1000", F::SDR20, Join(longRun), "The run is longer than the 1000 rows"},
        {"line counter past 32767", F::SDR33, Join(manyLines), "The field book has more lines"},
        {"M5 line index past 32767", F::M5, Join(m5Lines, "\n"), "The field book has more lines"},
        {"distance too large", F::SDR20,
         Join({SetUpRecord(), Sdr20Reading("P   ", "1E999", "1", "1", "0")}),
         "Please Check Your Data File "},
        {"M5 benchmark too large", F::M5, Join({M5First(), M5Other(), M5Benchmark("1E999")}),
         "Please Check Your Data File "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windowing = FakeWindowing{};
        const ReadOutcome outcome = Read(c.format, c.text);
        EXPECT_EQ(outcome.end, ReadEnd::EndedWithMessage);
        ASSERT_EQ(windowing.messages.size(), 1u);
        EXPECT_EQ(windowing.messages[0].text.rfind(c.messageStart, 0), 0u)
            << windowing.messages[0].text;
        EXPECT_EQ(windowing.messages[0].title, "Data File");
        EXPECT_TRUE(windowing.formRLShown.empty());
        EXPECT_FALSE(outcome.reduction);
    }
    // The reading past the capacity has its station name written and nothing else.
    windowing = FakeWindowing{};
    Read(F::SDR20, Join(longRun));
    // The set-up is line 1 in row 5, so line 1001 (counter 1001) stands in row 1005.
    EXPECT_EQ(Text(1005, 1), "P   ");
    EXPECT_EQ(Text(1005, 9), "");
    EXPECT_EQ(Text(1004, 9), "IS");
}

TEST_F(ReaderTest, ANewReadWorksAfterAFailure) {
    Read(F::SDR20, Join({Sdr33Header()}));
    windowing = FakeWindowing{};
    windowing.typeEnd = "101.3";
    const ReadOutcome outcome = Read(F::SDR33, Sdr33Example());
    EXPECT_EQ(outcome.end, ReadEnd::ReachedReduction);
    EXPECT_EQ(outcome.reduction->status, core::ReductionStatus::Reduced);
    EXPECT_TRUE(windowing.messages.empty());
}

TEST_F(ReaderTest, BundledSamplesReduceToTheirHandComputedMisclose) {
    // Closed runs on BM1 at 100.000: rises add up to +0.002 over 4 set-ups and 210 m.
    struct Sample {
        FieldBookFormat format;
        const char* name;
        const char* filter;
    };
    const Sample samples[] = {
        {F::SDR20, "ring-road.sdr20.SDR", "SDR20 files (*.SDR)|*.SDR|All files(*.*)|*.*"},
        {F::SDR33, "ring-road.sdr33.SDR", "SDR33 files (*.SDR)|*.SDR|All files(*.*)|*.*"},
        {F::M5, "ring-road.m5.DAT", "Zeiss files (*.DAT)|*.DAT|All files(*.*)|*.*"},
    };
    for (const auto& [format, name, filter] : samples) {
        SCOPED_TRACE(name);
        windowing = FakeWindowing{};
        windowing.nextFileName = std::string(RENDLE_EXAMPLES_DIR) + "/" + name;
        const ReadOutcome outcome = RunReadCommand(format, sheet, run, windowing);
        ASSERT_EQ(outcome.end, ReadEnd::ReachedReduction) << outcome.reason;
        EXPECT_EQ(windowing.filters, std::vector<std::string>{filter});
        EXPECT_EQ(windowing.presetFileNames, std::vector<std::string>{""});
        EXPECT_EQ(windowing.formRLShown[0], (core::RLBoxes{"100", "100"}));
        EXPECT_EQ(Text(2, 6), "4");
        EXPECT_EQ(run.LastDataRow, 16);
        const int32_t last = run.LastDataRow;
        EXPECT_EQ(sheet.DisplayText(last, 6), "100.0020");
        EXPECT_EQ(sheet.DisplayText(last, 7), "100.0000");
        EXPECT_EQ(sheet.DisplayText(last + 3, 6), "0.0020");
        EXPECT_EQ(sheet.DisplayText(last + 4, 6), "0.0009");
        EXPECT_EQ(sheet.DisplayText(last + 5, 6), "210.00");
    }
}

}  // namespace
}  // namespace rendle::readers
