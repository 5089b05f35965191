#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FieldBookText.h"
#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"
#include "readers/FieldBookLine.h"
#include "report/CheckNotes.h"

namespace rendle::readers {
namespace {

using namespace rendle::testing;
using core::RLValue;
using F = FieldBookFormat;

// Each read starts from the program's start state: a laid-out level sheet and a fresh run state.
class ReaderTest : public ::testing::Test {
  protected:
    ReadResult Read(FieldBookFormat format, const std::string& text) {
        sheet = grid::Grid{};
        core::SetUpLevelSheet(sheet);
        run = core::RunState{};
        std::istringstream in(text);
        return ReadFieldBook(format, in, sheet, run);
    }

    /// The reduction as it runs after FormRL's OK with these box texts.
    core::ReductionResult Reduce(const std::string& start, const std::string& end) {
        run.EnteredStartRL = start;
        run.StartRL = start;
        run.EndRL = end;
        reduction = core::ReduceLevels(sheet, run);
        return *reduction;
    }

    /// The reduction after FormRL's close box: the run state as the read left it.
    core::ReductionResult ReduceAsRead() {
        reduction = core::ReduceLevels(sheet, run);
        return *reduction;
    }
    std::optional<core::ReductionResult> reduction;  ///< the last reduction

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

    grid::Grid sheet;
    core::RunState run;
};

TEST_F(ReaderTest, SdrRowPlacementExampleLandsAsTabled) {
    for (const auto& [format, text] :
         {std::pair{F::SDR20, Sdr20Example()}, std::pair{F::SDR33, Sdr33Example()}}) {
        SCOPED_TRACE(format == F::SDR20 ? "SDR20" : "SDR33");
        const ReadResult read = Read(format, text);
        ASSERT_EQ(read.status, ReadStatus::Read) << read.reason;
        // The sheet as the read leaves it: marker rows 5 and 8, the last row written 10.
        EXPECT_EQ(Text(5, 9), "CP");
        EXPECT_EQ(Text(8, 9), "CP");
        EXPECT_EQ(Text(8, 1), "");
        EXPECT_EQ(Text(9, 1), "CP01");
        EXPECT_EQ(Text(10, 1), "BM02");
        EXPECT_EQ(sheet.LastUsedRow(), 10);
        EXPECT_EQ(run.FirstDataRow, 6);
        EXPECT_EQ(run.LastDataRow, 9);
        EXPECT_EQ(run.StationCount, 2);
        EXPECT_EQ(Text(2, 6), "2");
        EXPECT_EQ(std::get<double>(run.EnteredStartRL), 100.5);
        EXPECT_EQ(run.StartRL, run.EnteredStartRL);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));

        // Reduced with the RLs confirmed: marker row 8 is gone, the data rows are 6 to 9.
        ASSERT_EQ(Reduce("100.5", "101.3").status, core::ReductionStatus::Reduced);
        EXPECT_EQ(Text(5, 9), "CP");
        ExpectReadingRow(6, "BM01", "BS", 1.5, 30);
        ExpectReadingRow(7, "CP01", "FS", 0.9, 30);
        ExpectReadingRow(8, "CP01", "BS", 1.6, 40);
        ExpectReadingRow(9, "BM02", "FS", 1.4, 40);
        EXPECT_EQ(sheet.CellText(9, 6), "101.3000");
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
    const ReadResult read = Read(F::M5, text);
    ASSERT_EQ(read.status, ReadStatus::Read) << read.reason;
    EXPECT_EQ(Text(9, 9), "CP");
    EXPECT_EQ(Text(9, 1), "");
    EXPECT_EQ(Text(10, 1), "CP1");
    EXPECT_EQ(Text(11, 1), "BM2");
    EXPECT_EQ(run.LastDataRow, 10);
    EXPECT_EQ(run.StationCount, 2);
    EXPECT_EQ(Text(2, 6), "2");
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 12.345);

    ASSERT_EQ(Reduce("12.345", "").status, core::ReductionStatus::Stopped);
    EXPECT_EQ(Text(5, 9), "CP");
    ExpectReadingRow(6, "BM1", "BS", 1.5, 30);
    ExpectReadingRow(7, "A", "IS", 1.2, 15);
    ExpectReadingRow(8, "CP1", "FS", 0.9, 30);
    ExpectReadingRow(9, "CP1", "BS", 1.6, 40);  // marker row 9 deleted by the reduction
    ExpectReadingRow(10, "BM2", "FS", 1.4, 40);
    EXPECT_EQ(Text(11, 1), "");
}

TEST_F(ReaderTest, EveryM5MethodGivesTheSheetOfTheBFBookOfItsMeans) {
    const auto sheetText = [this] {
        std::string all;
        for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
            for (int32_t c = 1; c <= 9; ++c) {
                all += sheet.CellText(r, c) + "|";
                if (IsNumber(r, c)) all += std::to_string(Number(r, c)) + "|";
            }
            all += "\n";
        }
        return all + std::to_string(run.StationCount) + " " + std::to_string(run.LastDataRow);
    };
    ASSERT_EQ(Read(F::M5, M5Run("BF")).status, ReadStatus::Read);
    ExpectReadingRow(6, "BM1", "BS", 1.5, 21);
    ExpectReadingRow(10, "A", "IS", 1, 10);
    ExpectReadingRow(11, "CP2", "FS", 1.375, 29);
    EXPECT_EQ(run.StationCount, 3);
    const std::string means = sheetText();

    const char* german[3] = {"Lr", "Lz", "Lv"};
    const struct {
        const char* name;
        std::string book;
    } cases[] = {
        {"aBF", M5Run("aBF")},
        {"BFFB", M5Run("BFFB")},
        {"aBFFB", M5Run("aBFFB")},
        {"BBFF", M5Run("BBFF")},
        {"BFBF", M5Run("BFBF")},
        {"bffb", M5Run("bffb")},
        {"German BFFB", M5Run("BFFB", german)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult read = Read(F::M5, c.book);
        ASSERT_EQ(read.status, ReadStatus::Read) << read.reason;
        EXPECT_EQ(sheetText(), means);
    }

    // The instrument measured set-up 2 again: it marked the readings it rejected before
    // "Station repeated", and only those go. Readings it did not mark (a book edited by hand)
    // stay, and the repeat after them is told.
    const std::string secondSetUp = M5Sighting("Rb", "CP1", "1.5", "30");
    for (const bool marked : {true, false}) {
        SCOPED_TRACE(marked);
        std::string repeated = M5Run("BFFB");
        repeated.insert(repeated.find(secondSetUp),
                        Join({M5Sighting("Rb", "CP1", "9", "99", marked),
                              M5Sighting("Rf", "CP2", "9", "99", marked),
                              "For M5|Adr    25|TO  Station repeated"}));
        const ReadResult read = Read(F::M5, repeated);
        ASSERT_EQ(read.status, ReadStatus::Read);
        EXPECT_EQ(sheetText() == means, marked);
        ASSERT_EQ(read.warnings.Empty(), marked);
        if (!marked) {
            EXPECT_EQ(read.warnings.Told()[0].line, 11u) << "the line of the repeat";
            EXPECT_NE(read.warnings.Told()[0].text.find("did not mark"), std::string::npos);
        }
    }
}

TEST_F(ReaderTest, TheRunIsCheckedAgainstTheInstrument) {
    const core::CheckLimits limits{std::nullopt, 5, 10, false, 0.3};
    // The instrument's heights after each set-up agree with the sheet's RLs, whatever the
    // starting RL entered, in a book of either kind.
    for (const char* method : {"BF", "BFFB"}) {
        SCOPED_TRACE(method);
        ASSERT_EQ(Read(F::M5, M5Run(method)).status, ReadStatus::Read);
        ASSERT_EQ(Reduce("57.5", "57.5").status, core::ReductionStatus::Reduced);
        const core::RunChecks checks = core::CheckRun(run, reduction, limits);
        EXPECT_EQ(checks.instrument.compared, 3);
        EXPECT_FALSE(checks.instrument.flagged);
        EXPECT_EQ(checks.stationDifferences.setUps.size(), method[2] == 'F' ? 3u : 0u);
    }
    // By hand, (B1 - F1) - (B2 - F2) of the three set-ups: (1.25 - 0.5) - (1.75 - 0.75) = -0.25,
    // (1.5 - 1.25) - (2 - 1.5) = -0.25 and (0.75 - 2) - (1.25 - 2.5) = 0; beyond 0.3 mm.
    core::RunChecks checks = core::CheckRun(run, reduction, limits);
    EXPECT_EQ(checks.stationDifferences.setUps[1].value, -0.25);
    EXPECT_EQ(checks.stationDifferences.setUps[2].value, 0.0);
    EXPECT_EQ(checks.stationDifferences.largest, -0.25);
    EXPECT_EQ(checks.stationDifferences.setUp, 1);
    EXPECT_TRUE(checks.stationDifferences.flagged);
    // In BBFF the first readings taken are both backsights first: the same pairs.
    ASSERT_EQ(Read(F::M5, M5Run("BBFF")).status, ReadStatus::Read);
    EXPECT_EQ(run.instrument.stationDifferences[0].value, -0.25);

    // A Z edited by 5 mm after set-up 2 is found at that set-up's FS row (10 once the marker
    // rows are gone).
    std::string edited = M5Run("BFFB");
    edited.replace(edited.find("101.25"), 6, "101.255");
    ASSERT_EQ(Read(F::M5, edited).status, ReadStatus::Read);
    ASSERT_EQ(Reduce("100", "100").status, core::ReductionStatus::Reduced);
    checks = core::CheckRun(run, reduction, limits);
    EXPECT_TRUE(checks.instrument.flagged);
    EXPECT_EQ(checks.instrument.row, 10);
    EXPECT_NEAR(checks.instrument.largestDifference, 0.005, 1e-9);
    EXPECT_NE(report::MiscloseNote(checks).find("the field book was edited, or read wrong"),
              std::string::npos);
}

TEST_F(ReaderTest, AnM5BookInFeetOrOfAnUnknownMethodIsRefused) {
    // The unit of a value is the four characters after its field.
    std::string line = M5Sighting("Rf", "CP1", "0.5", "19");
    line.resize(70, ' ');
    line.replace(66, 4, "ft  ");
    const std::string book = Join(
        {M5First(), M5Other(), M5Benchmark("100"), M5Sighting("Rb", "BM1", "1.5", "20"), line});
    const ReadResult inFeet = Read(F::M5, book);
    EXPECT_EQ(inFeet.status, ReadStatus::EndedWithMessage);
    EXPECT_NE(inFeet.message.find("feet (ft)"), std::string::npos) << inFeet.message;

    const ReadResult unknown = Read(F::M5, M5Run("BFFFB"));
    EXPECT_EQ(unknown.status, ReadStatus::EndedWithMessage);
    EXPECT_NE(unknown.message.find("BFFFB"), std::string::npos);
}

TEST_F(ReaderTest, M5MarkedFirstBacksightStillStartsTheRun) {
    const std::string text =
        Join({M5First(), M5Other(), M5Other(), M5Sighting("Rb", "BM1", "1.5", "30", true),
              M5Sighting("Rz", "A", "1.2", "10"), M5Sighting("Rb", "CP", "1.1", "20"),
              M5Sighting("rf", "X", "1.0", "20"), M5Sighting("Rf", "BM1", "1.0", "20")});
    Read(F::M5, text);
    // Rows as read: 5 and 6 empty, IS on 7, marker 8, BS 9, FS 10.
    EXPECT_EQ(Text(5, 9), "");
    EXPECT_EQ(Text(6, 1), "") << "the marked Rb stored nothing";
    EXPECT_EQ(Text(7, 9), "IS");
    EXPECT_EQ(Text(8, 9), "CP");
    EXPECT_EQ(Text(9, 9), "BS");
    EXPECT_EQ(Text(10, 9), "FS");
    EXPECT_EQ(run.StationCount, 1);
    EXPECT_EQ(run.LastDataRow, 10);

    ReduceAsRead();
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
    for (const char* end : {"\r\n", "\r", "\n", "\r\r\n"}) {
        ASSERT_EQ(Read(F::SDR20, Join(lines, end)).status, ReadStatus::Read);
        ASSERT_EQ(Reduce("50", "50.01").status, core::ReductionStatus::Reduced);
        std::string all;
        for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
            for (int32_t c = 1; c <= 9; ++c) all += sheet.CellText(r, c) + "|";
        }
        shown.push_back(all);
    }
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], shown[2]);
    EXPECT_EQ(shown[0], shown[3]);
    EXPECT_EQ(run.LastDataRow, 9);

    // An M5 book takes its benchmark from its third line, whatever its line ends.
    ASSERT_EQ(Read(F::M5, Join({M5First(), M5Other(), M5Benchmark("100.25")}, "\r\r\n")).status,
              ReadStatus::Read);
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 100.25);
}

TEST_F(ReaderTest, WrongFormatsAreRejectedAtTheirHeader) {
    struct Case {
        const char* name;
        FieldBookFormat format;
        std::string text;
        const char* message;
        int32_t rowsKept;  // last used row after the rejection
        size_t line;       // the line the read stopped at
    };
    const std::string reading = Sdr20Reading("A   ", "1", "1", "1", "0");
    const Case cases[] = {
        {"SDR33 file to the SDR20 command", F::SDR20, Join({Sdr33Header()}),
         "NOT SDR20 File. Please Check Your Data File ", 4, 1},
        {"SDR20 file to the SDR33 command", F::SDR33, Join({Sdr20Header()}),
         "NOT SDR33 File. Please Check Your Data File ", 4, 1},
        {"model in lower case", F::SDR20, Join({Sdr20Header("sdr20")}),
         "NOT SDR20 File. Please Check Your Data File ", 4, 1},
        {"blank line after a set-up", F::SDR20, Join({Sdr20Header(), SetUpRecord(), reading, ""}),
         "NOT SDR20 File. Please Check Your Data File ", 6, 4},
        {"line starting with letters", F::SDR33, Join({"AB  SDR20"}),
         "NOT SDR33 File. Please Check Your Data File ", 4, 1},
        {"M5 with a leading blank", F::M5, Join({" For M5|Adr 1"}),
         "NOT Zeiss File. Please Check Your Data File ", 4, 1},
        {"M5 in another case", F::M5, Join({"FOR M5|Adr 1"}),
         "NOT Zeiss File. Please Check Your Data File ", 4, 1},
        {"M5 short first line", F::M5, Join({"For M"}),
         "NOT Zeiss File. Please Check Your Data File ", 4, 1},
        {"SDR file to the M5 command", F::M5, Join({Sdr20Header()}),
         "NOT Zeiss File. Please Check Your Data File ", 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult read = Read(c.format, c.text);
        EXPECT_EQ(read.status, ReadStatus::EndedWithMessage);
        EXPECT_EQ(read.message, c.message);
        EXPECT_EQ(read.line, c.line);
        EXPECT_EQ(sheet.LastUsedRow(), c.rowsKept);
        EXPECT_EQ(run.FirstDataRow, 0) << "the run state is not set";
    }
}

TEST_F(ReaderTest, HeaderRecordsThatAreAccepted) {
    const std::string rest = Join({SetUpRecord(), Sdr20Reading("A   ", "1", "1", "1", "0")});
    for (const std::string& text :
         {Join({"00xxSDR20"}) + rest, rest,
          Join({Sdr20Header(), "99"}) + rest + Join({Sdr20Header()}), Join({"    SDR20"}) + rest}) {
        const ReadResult read = Read(F::SDR20, text);
        EXPECT_EQ(read.status, ReadStatus::Read) << text;
        EXPECT_EQ(read.message, "");
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
        const ReadResult read = Read(c.format, Join({SetUpRecord(), c.record}));
        EXPECT_EQ(read.status, ReadStatus::EndedWithMessage);
        EXPECT_EQ(read.message, "Please Check Your Data File ");
        EXPECT_EQ(read.line, 2u);
        EXPECT_EQ(LeftTrimmed(Text(6, 1)), "ST") << "station name written before the check";
        EXPECT_EQ(Number(6, 8), 12.5) << "distance written before the check";
        EXPECT_EQ(Text(6, 9), "");
    }
}

TEST_F(ReaderTest, StationNamesKeepOrLoseTheirBlanksByFormat) {
    Read(F::SDR20, Join({SetUpRecord(), Sdr20Reading("  12", "1", "1", "1", "0")}));
    EXPECT_EQ(Text(6, 1), "  12");

    Read(F::SDR33, Join({SetUpRecord(), Sdr33Reading("   1001    ", "1", "1", "1", "0")}));
    EXPECT_EQ(Text(6, 1), "1001    ");

    Read(F::M5, Join({M5First(), M5Sighting("Rb", "  BM1   ", "1", "1")}));
    EXPECT_EQ(Text(6, 1), "BM1   ");
    Read(F::M5, Join({M5First(), M5Sighting("Rb", "        ", "1", "1")}));
    EXPECT_EQ(Text(6, 1), "");
}

/// A line of `length` nines with each text placed at its 1-based position: every field has a
/// non-blank character on either side, so a field read one column off reads something else.
std::string Packed(size_t length, const std::vector<std::pair<size_t, std::string>>& fields) {
    std::string line(length, '9');
    for (const auto& [position, text] : fields) line.replace(position - 1, text.size(), text);
    return line;
}

TEST_F(ReaderTest, EveryFieldIsReadToItsFullWidthAndNoFurther) {
    struct Case {
        const char* name;
        F format;
        std::string book;
        const char* station;
        double reading;
        double distance;
        double benchmark;
    };
    const Case cases[] = {
        {"SDR20", F::SDR20,
         Join({Sdr20Header(), Packed(35, {{1, "61"}, {25, "100.123456"}}), SetUpRecord(),
               Packed(60, {{1, "63"},
                           {5, "ABCD"},
                           {9, "123456.789"},
                           {19, "1234.56789"},
                           {54, "1"},
                           {59, "0"}})}),
         "ABCD", 1234.56789, 123456.789, 100.123456},
        {"SDR33", F::SDR33,
         Join({Sdr33Header(), Packed(47, {{1, "61"}, {37, "100.123456"}}), SetUpRecord(),
               Packed(84, {{1, "63"},
                           {10, "ABCDEFGHIJK"},
                           {21, "123456.789"},
                           {37, "1234.56789"},
                           {78, "1"},
                           {83, "0"}})}),
         "ABCDEFGHIJK", 1234.56789, 123456.789, 100.123456},
        {"M5", F::M5,
         Join({M5First(), M5Other(), Packed(113, {{1, "For M5|"}, {99, "1234.567890123"}}),
               Packed(90, {{1, "For M5|Adr     9|KD1"},
                           {22, "ABCDEFGH"},
                           {30, "XXXXX"},
                           {50, "Rb"},
                           {53, "12345.67890123"},
                           {76, "123456.7890123"}})}),
         "ABCDEFGH", 12345.67890123, 123456.7890123, 1234.567890123},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult read = Read(c.format, c.book);
        ASSERT_EQ(read.status, ReadStatus::Read) << read.reason;
        ExpectReadingRow(6, c.station, "BS", c.reading, c.distance);
        EXPECT_EQ(std::get<double>(run.EnteredStartRL), c.benchmark);
    }
}

TEST_F(ReaderTest, ALastLineCutInsideItsNumbersIsADataError) {
    struct Case {
        const char* name;
        F format;
        std::string before;
        std::string sighting;
        size_t cutAt;  // bytes of the sighting kept: inside its reading
    };
    const Case cases[] = {
        {"SDR20", F::SDR20, Join({Sdr20Header(), SetUpRecord()}),
         Sdr20Reading("BM1 ", "    30.000", "    1.2345", "1", "0"), 25},
        {"SDR33", F::SDR33, Join({Sdr33Header(), SetUpRecord()}),
         Sdr33Reading("BM1", "    30.000", "    1.2345", "1", "0"), 43},
        {"M5", F::M5, Join({M5First(), M5Other(), M5Benchmark("100")}),
         M5Sighting("Rb", "BM1", "1.23456", "30.0000"), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult cut = Read(c.format, c.before + c.sighting.substr(0, c.cutAt));
        EXPECT_EQ(cut.status, ReadStatus::EndedWithMessage);
        EXPECT_NE(cut.reason.find("cut off"), std::string::npos) << cut.reason;
        // The whole line without a line end, and the cut line with one, are read.
        EXPECT_EQ(Read(c.format, c.before + c.sighting).status, ReadStatus::Read);
        EXPECT_EQ(Read(c.format, c.before + c.sighting.substr(0, c.cutAt) + "\r\n").status,
                  c.format == F::M5 ? ReadStatus::Read : ReadStatus::EndedWithMessage)
            << "an SDR line that short has no flags";
    }
}

TEST_F(ReaderTest, FieldsThatHoldNoNumberAreReadByTheRuleAndWarnedOf) {
    struct Case {
        const char* reading;
        double value;
        const char* warning;  // empty: none
    };
    const Case cases[] = {
        {"       NaN", 0, "the staff reading \"NaN\" is no number and was read as 0"},
        {"      $1.5", 0, "the staff reading \"$1.5\" is no number and was read as 0"},
        {"   12.5abc", 12.5, "the staff reading \"12.5abc\" is no number and was read as 12.5"},
        {"      0x1A", 0, "the staff reading \"0x1A\" is no number and was read as 0"},
        {"         -", 0, "the staff reading \"-\" is no number and was read as 0"},
        {"          ", 0, ""},
        {"    1.2345", 1.2345, ""},
        {"     &H1F ", 31, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reading);
        const ReadResult read =
            Read(F::SDR20, Join({SetUpRecord(), Sdr20Reading("BM1 ", "10", c.reading, "1", "0"),
                                 Sdr20Reading("TP1 ", "10", "1.0", "0", "1")}));
        ASSERT_EQ(read.status, ReadStatus::Read);
        EXPECT_EQ(Number(6, 2), c.value);
        if (*c.warning == '\0') {
            EXPECT_TRUE(read.warnings.Empty());
        } else {
            ASSERT_EQ(read.warnings.Told().size(), 1u);
            EXPECT_EQ(read.warnings.Told()[0].line, 2u);
            EXPECT_EQ(read.warnings.Told()[0].text, c.warning);
        }
    }
}

TEST_F(ReaderTest, BenchmarkRecords) {
    Read(F::SDR20, Join({Sdr20Benchmark("10.25"), Sdr20Benchmark("  20.125"), SetUpRecord()}));
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 20.125) << "the last benchmark record wins";

    Read(F::SDR20, Join({"61  short", SetUpRecord()}));
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 0.0) << "a short record gives 0, not empty";

    Read(F::SDR33, Join({Sdr33Benchmark("7.5"), SetUpRecord()}));
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 7.5);

    Read(F::M5, Join({M5First(), M5Other()}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EnteredStartRL)) << "no line 3";
    Read(F::M5, Join({M5First(), M5Other(), "For M5|Adr     3|short"}));
    EXPECT_EQ(std::get<double>(run.EnteredStartRL), 0.0);
}

TEST_F(ReaderTest, ClosedRunTakesTheStartingRLAsTheEndingRL) {
    struct Case {
        const char* name;
        const char* lastStation;
        bool closed;
    };
    const Case cases[] = {{"same name", "BM1 ", true},
                          {"other case", "bm1 ", false},
                          {"other blanks", " BM1", false}};
    for (const Case& c : cases) {
        Read(F::SDR20, Join({Sdr20Benchmark("100.5"), SetUpRecord(),
                             Sdr20Reading("BM1 ", "1", "1.5", "1", "0"),
                             Sdr20Reading(c.lastStation, "1", "1.4", "0", "1")}));
        EXPECT_EQ(run.EndRL, c.closed ? RLValue{100.5} : RLValue{}) << c.name;
    }
    // SDR33 names keep their trailing blanks in the comparison.
    Read(F::SDR33,
         Join({Sdr33Benchmark("9"), SetUpRecord(), Sdr33Reading("   1001    ", "1", "1", "1", "0"),
               Sdr33Reading("    1001   ", "1", "1", "0", "1")}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));
}

TEST_F(ReaderTest, EmptyFileIsAcceptedAndReduced) {
    for (FieldBookFormat format : {F::SDR20, F::SDR33, F::M5}) {
        const ReadResult read = Read(format, "");
        ASSERT_EQ(read.status, ReadStatus::Read);
        EXPECT_EQ(read.line, 0u);
        EXPECT_EQ(Text(2, 6), "0");
        EXPECT_EQ(run.FirstDataRow, 6);
        EXPECT_EQ(run.LastDataRow, 1);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EnteredStartRL));
        EXPECT_TRUE(std::holds_alternative<std::monostate>(run.EndRL));
        // With RLs given, a run without a backsight has nothing to spread the misclose over.
        EXPECT_EQ(Reduce("100", "100").step, core::ReductionStep::CorrectionPerSetUp);
    }
}

TEST_F(ReaderTest, RecordsBeforeTheFirstSetUpLandOnTheirLineNumber) {
    Read(F::SDR20, Join({Sdr20Header(), Sdr20Reading("EARL", "1", "1.5", "1", "0"), "99",
                         SetUpRecord(), Sdr20Reading("A   ", "1", "1.5", "1", "0")}));
    EXPECT_EQ(Text(2, 1), "EARL") << "line 2 writes into the header block";
    EXPECT_EQ(Text(6, 1), "A   ");
    EXPECT_EQ(run.LastDataRow, 6);

    const ReadResult read = Read(
        F::M5, Join({M5First(), M5Sighting("Rz", "X", "1", "1"), M5Sighting("Rf", "Y", "1", "1")}));
    EXPECT_EQ(read.status, ReadStatus::Read);
    EXPECT_EQ(sheet.LastUsedRow(), 4) << "M5 readings before the first Rb are not stored";
    EXPECT_EQ(run.LastDataRow, 4) << "lines plus one";
}

TEST_F(ReaderTest, OtherRecordsTakeNoRow) {
    Read(F::SDR33, Join({SetUpRecord(), "13", Sdr33Reading("A", "1", "1", "1", "0"), "08", "41",
                         Sdr33Reading("          B", "1", "1", "0", "1"), "13", "13"}));
    EXPECT_EQ(run.LastDataRow, 7);
    EXPECT_EQ(Text(7, 1), "B");
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
        const ReadResult read = Read(c.format, c.text);
        EXPECT_EQ(read.status, ReadStatus::EndedWithMessage);
        EXPECT_EQ(read.message.rfind(c.messageStart, 0), 0u) << read.message;
        EXPECT_FALSE(read.reason.empty());
    }
    // The line counter decides, not the row: the set-up on line 1 is in marker row 5 (offset -4),
    // so the reading of line 1001, the first with the counter past 1000, is refused, with its
    // station name written (row 1005) and nothing else.
    const ReadResult read = Read(F::SDR20, Join(longRun));
    EXPECT_EQ(read.line, 1001u);
    EXPECT_EQ(Text(1005, 1), "P   ");
    EXPECT_EQ(Text(1005, 9), "");
    EXPECT_EQ(Text(1004, 9), "IS");

    // Rows past 1000 that the deleted marker rows bring back: 250 set-ups of three readings fill
    // 1000 lines, rows 5 to 1004, and 755 data rows once the markers are gone. Read and reduced.
    std::vector<std::string> manySetUps;
    for (int s = 0; s < 250; ++s) {
        manySetUps.push_back(SetUpRecord());
        manySetUps.push_back(Sdr20Reading("P   ", "1", "1.5", "1", "0"));
        manySetUps.push_back(Sdr20Reading("Q   ", "1", "1.2", "0", "0"));
        manySetUps.push_back(Sdr20Reading("R   ", "1", "1.4", "0", "1"));
    }
    ASSERT_EQ(Read(F::SDR20, Join(manySetUps)).status, ReadStatus::Read);
    EXPECT_EQ(run.LastDataRow, 755);
    EXPECT_EQ(Reduce("100", "125").status, core::ReductionStatus::Reduced);

    // One set-up of 999 readings stays at rows 6 to 1004: refused, with a message, at the end.
    longRun.pop_back();
    const ReadResult few = Read(F::SDR20, Join(longRun));
    EXPECT_EQ(few.status, ReadStatus::EndedWithMessage);
    EXPECT_NE(few.reason.find("row 1004"), std::string::npos) << few.reason;
    EXPECT_EQ(Text(1004, 9), "IS") << "the readings stay";

    // With notes before the first set-up the counter runs ahead of the rows, and it decides.
    std::vector<std::string> lateStart(10, "13NMnote");
    lateStart.push_back(SetUpRecord());
    for (int i = 0; i < 995; ++i) lateStart.push_back(Sdr20Reading("P   ", "1", "1", "0", "0"));
    EXPECT_EQ(Read(F::SDR20, Join(lateStart)).status, ReadStatus::EndedWithMessage);
}

TEST(DetectFormat, TellsTheFormatFromTheContent) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<FieldBookFormat> format;
    };
    const Case cases[] = {
        {"M5 first line", Join({M5First(), Sdr20Header()}), F::M5},
        {"SDR20 header after other records", Join({"13NMnote", Sdr20Header()}), F::SDR20},
        {"SDR33 header", Join({Sdr33Header(), Sdr20Header()}), F::SDR33},
        {"For M5 past line 1", Join({"13", M5First()}), std::nullopt},
        {"no header", Join({SetUpRecord(), "13NMnote"}), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        LineReader lines(in);
        EXPECT_EQ(DetectFormat(lines), c.format) << c.name;
    }
}

}  // namespace
}  // namespace rendle::readers
