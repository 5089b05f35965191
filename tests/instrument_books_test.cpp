// Field books as the recorders write them: a Leica LS book whose words outgrow their fields, and
// a DiNi M5 book of three levelling lines with intermediate sights booked after the foresight.
// Every figure below is worked out by hand from the readings, not by the readers' own rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "FieldBookText.h"
#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace rendle::readers {
namespace {

using rendle::testing::Dini;

struct Read {
    grid::Grid sheet;
    core::RunState run;
    ReadResult result;
    std::vector<LevellingLine> lines;
    std::optional<core::ReductionResult> reduction;

    std::string Station(int32_t row) const { return sheet.CellText(row, core::kColStation); }
    double Rl(int32_t row) const { return sheet.CellNumber(row, core::kColRL); }
};

/// Loads `text` as a book of `format` and reads levelling line `runNumber` into a fresh sheet.
Read ReadLine(FieldBookFormat format, const std::string& text, int runNumber = 1) {
    Read read;
    core::SetUpLevelSheet(read.sheet);
    std::istringstream in(text);
    Book book;
    std::string error;
    EXPECT_TRUE(LoadBook(in, format, LineDecoder(), book, error)) << error;
    read.lines = book.lines;
    read.result = ReadFieldBook(book, runNumber, read.sheet, read.run, LineDecoder());
    return read;
}

/// Reduces as after FormRL's OK on the boxes as the read filled them, the ending RL given
/// where the read left it empty.
void Reduce(Read& read, double endRL = 0) {
    read.run.StartRL = read.run.EnteredStartRL;
    if (std::holds_alternative<std::monostate>(read.run.EndRL)) read.run.EndRL = endRL;
    read.reduction = core::ReduceLevels(read.sheet, read.run);
}

// A Leica LS level's GSI-8 book, CR line ends, Latin-1 remarks: the total distance (574) of the
// second set-up, 1010.21242 m, and the heights past 1000 m take nine digits where the field has
// eight, so every word after them stands one place further right; the closing block's remark
// runs past its field with a blank in it; the last line lost its trailing blank.
const char* const kLsBook =
    "410001+?......1 271...+LINE00001 \r"
    "110002+00000BM1 83..18+123456789 \r"
    "110003+00000BM1 32...8+02500000 331.08+00123400 \r"
    "110004+00000TP1 32...8+02500000 332.08+00087600 \r"
    "110005+00000TP1 573..8+00000000 574..8+05000000 83..18+123492589 \r"
    "110006+00000TP1 32...8+03000000 331.08+00145600 \r"
    "110007+00000BM2 32...8+03000000 332.08+00178900 \r"
    "110008+00000BM2 573..8+00000000 574..8+101021242 83..18+123459289 \r"
    "110009+00000BM2 508...+Cierre R\xE1pido 509...+0000BM01 \r"
    "110010+00000BM2 83..18+123459289\r";

TEST(InstrumentBooks, AnLsBookWhoseWordsOutgrowTheirFields) {
    Read read = ReadLine(FieldBookFormat::GSI, kLsBook);
    ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
    ASSERT_EQ(read.lines.size(), 1u);
    EXPECT_EQ(read.lines[0].name, "LINE00001");
    EXPECT_EQ(read.run.StationCount, 2);
    EXPECT_EQ(std::get<double>(read.run.EnteredStartRL), 1234.56789) << "all nine digits";
    // BS BM1 / FS TP1, marker, BS TP1 / FS BM2.
    EXPECT_EQ(read.Station(7), "TP1");
    EXPECT_EQ(read.sheet.CellNumber(7, core::kColFS), 0.876);
    EXPECT_EQ(read.sheet.CellNumber(9, core::kColBS), 1.456);
    EXPECT_EQ(read.sheet.CellNumber(10, core::kColFS), 1.789);
    EXPECT_EQ(read.sheet.CellNumber(10, core::kColDist), 30.0);

    Reduce(read, 1234.59289);
    EXPECT_NEAR(read.Rl(7), 1234.92589, 1e-9);
    EXPECT_NEAR(read.Rl(9), 1234.59289, 1e-9);
    // The heights after the overlong distance are read where they start: the instrument's own
    // heights agree with the sheet to the last digit.
    const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
    EXPECT_EQ(checks.instrument.compared, 2);
    EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.largestDifference;
}

TEST(InstrumentBooks, AHeightInAnIntermediatesBlockIsThatSightsOwn) {
    // P1 sighted from the second set-up (HI 1234.92589 + 1.456), its height in its own block.
    std::string text = kLsBook;
    const std::string backsight = "331.08+00145600 \r";
    text.insert(text.find(backsight) + backsight.size(),
                "110020+000000P1 32...8+01000000 333.08+00100000 83..18+123538189 \r");
    Read read = ReadLine(FieldBookFormat::GSI, text);
    ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
    EXPECT_EQ(read.Station(10), "P1");
    Reduce(read, 1234.59289);
    EXPECT_NEAR(read.Rl(9), 1235.38189, 1e-9);  // the marker row above it gone
    const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
    EXPECT_EQ(checks.instrument.compared, 3);
    EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.row;
}

TEST(InstrumentBooks, GsiWordsThatCannotBeReadOnlyWhereTheReductionUsesThem) {
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        ReadStatus status;
    };
    const Case cases[] = {
        // A remark holding a date and a number is text, whatever it looks like.
        {"a remark like a word", "Cierre R\xE1pido", "11.12.2006 12....3 ok", ReadStatus::Read},
        {"an unknown word", "509...+0000BM01", "999...+zz", ReadStatus::Read},
        {"a negative staff reading", "332.08+00178900", "332.08-00178900", ReadStatus::Read},
        {"a reading that is no number", "331.08+00145600", "331.08+0014x600",
         ReadStatus::EndedWithMessage},
        {"a distance without its sign", "32...8+03000000 331", "32...8 00003000 331",
         ReadStatus::EndedWithMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = kLsBook;
        text.replace(text.find(c.from), c.from.size(), c.to);
        const Read read = ReadLine(FieldBookFormat::GSI, text);
        EXPECT_EQ(read.result.status, c.status) << read.result.reason;
        if (c.status == ReadStatus::Read && c.from.starts_with("332")) {
            EXPECT_EQ(read.sheet.CellNumber(10, core::kColFS), -1.789) << "an inverted staff";
        }
        if (c.status != ReadStatus::Read) {
            EXPECT_EQ(read.result.line, 6u) << read.result.reason;
        }
    }
}

TEST(InstrumentBooks, GsiUnitsDigitsScaleEveryDigitWritten) {
    struct Case {
        char unit;
        const char* data;  // of the first backsight, a 331 word
        double metres;
    };
    const Case cases[] = {
        {'0', "+00001234", 1.234},        // mm
        {'6', "+00012345", 1.2345},       // 1/10 mm
        {'8', "+00123456", 1.23456},      // 1/100 mm
        {'8', "-00123456", -1.23456},     // an inverted staff
        {'0', "+123456789", 123456.789},  // longer than its field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        std::string text = kLsBook;
        const std::string was = "331.08+00123400";
        text.replace(text.find(was), was.size(), std::string("331.0") + c.unit + c.data);
        const Read read = ReadLine(FieldBookFormat::GSI, text);
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        EXPECT_EQ(read.sheet.CellNumber(6, core::kColBS), c.metres);
    }
}

TEST(InstrumentBooks, AGsiReadingTakenAgainReplacesTheEarlierOne) {
    struct Case {
        const char* name;
        const char* after;     // the block the repeat follows
        std::string repeated;  // blocks the instrument recorded again
        double bs2, fs1, fs2;  // what the sheet then holds
        size_t warnedLine;
    };
    const Case cases[] = {
        {"a foresight read again", "332.08+00087600 \r",
         "110011+00000TP1 32...8+02500000 332.08+00087700 \r", 1.456, 0.877, 1.789, 5},
        {"a set-up measured again", "332.08+00178900 \r",
         "110012+00000TP1 32...8+03000000 331.08+00145700 \r"
         "110013+00000BM2 32...8+03000000 332.08+00179000 \r",
         1.457, 0.876, 1.790, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = kLsBook;
        const size_t at = text.find(c.after);
        text.insert(at + std::string(c.after).size(), c.repeated);
        const Read read = ReadLine(FieldBookFormat::GSI, text);
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        EXPECT_EQ(read.run.StationCount, 2) << "no set-up of its own";
        EXPECT_EQ(read.sheet.CellNumber(7, core::kColFS), c.fs1);
        EXPECT_EQ(read.sheet.CellNumber(9, core::kColBS), c.bs2);
        EXPECT_EQ(read.sheet.CellNumber(10, core::kColFS), c.fs2);
        ASSERT_EQ(read.result.warnings.Told().size(), 1u);
        EXPECT_EQ(read.result.warnings.Told()[0].line, c.warnedLine)
            << read.result.warnings.Told()[0].text;
    }
}

/// Three levelling lines: line 1 from BM1 (Z 100) with an intermediate sight booked after the
/// first foresight, broken off for line 2 from BM7 (Z 50), taken up again with "Cont-Line" and
/// closed on BM1; line 3 from X1 at the instrument's default height 0.
std::string ThreeLineDiniBook(const std::string& end = "\r\n") {
    const std::vector<std::string> lines = {
        Dini(1, "TO", "THREE.DAT"),
        Dini(2, "TO", "Start-Line         BF  1"),
        Dini(3, "KD1", "BM1", "", 0, "", 0, "Z", 100.0),
        Dini(4, "KD1", "BM1", "Rb", 1.23456, "HD", 20.0),
        Dini(5, "KD1", "TP1", "Rf", 0.87654, "HD", 20.0),
        Dini(6, "KD1", "TP1", "", 0, "", 0, "Z", 100.35802),
        Dini(7, "TO", "Intermediate sight."),
        Dini(8, "KD1", "P1", "Rz", 1.5, "HD", 10.0, "Z", 99.73456),
        Dini(9, "TO", "End of interm. sight."),
        Dini(10, "KD1", "TP1", "Rb", 1.11111, "HD", 15.0),
        Dini(11, "KD1", "BM2", "Rf", 1.22222, "HD", 15.0),
        Dini(12, "KD1", "BM2", "", 0, "", 0, "Z", 100.24691),
        Dini(13, "TO", "Start-Line         BF  2"),
        Dini(14, "KD1", "BM7", "", 0, "", 0, "Z", 50.0),
        Dini(15, "KD1", "BM7", "Rb", 1.5, "HD", 10.0),
        Dini(16, "KD1", "Q1", "Rf", 0.5, "HD", 10.0),
        Dini(17, "KD1", "Q1", "", 0, "", 0, "Z", 51.0),
        Dini(18, "TO", "End-Line           2"),
        Dini(19, "TO", "Cont-Line          1"),
        Dini(20, "KD1", "BM2", "", 0, "", 0, "Z", 100.24691),
        Dini(21, "KD1", "BM2", "Rb", 1.0, "HD", 12.0),
        Dini(22, "KD1", "BM1", "Rf", 1.24691, "HD", 12.0),
        Dini(23, "KD1", "BM1", "", 0, "", 0, "Z", 100.0),
        Dini(24, "TO", "End-Line           1"),
        Dini(25, "TO", "Start-Line         BF  3"),
        Dini(26, "KD1", "X1", "", 0, "", 0, "Z", 0.0),
        Dini(27, "KD1", "X1", "Rb", 1.0, "HD", 5.0),
        Dini(28, "KD1", "X2", "Rf", 2.0, "HD", 5.0),
        Dini(29, "KD1", "X2", "", 0, "", 0, "Z", -1.0),
        Dini(30, "TO", "End-Line           3"),
    };
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

TEST(InstrumentBooks, ADiniBookOfThreeLinesReducesEachFromItsOwnStart) {
    for (const std::string end : {"\r\n", "\r"}) {
        const std::string book = ThreeLineDiniBook(end);
        Read line1 = ReadLine(FieldBookFormat::M5, book, 1);
        ASSERT_EQ(line1.result.status, ReadStatus::Read) << line1.result.reason;
        ASSERT_EQ(line1.lines.size(), 3u);
        EXPECT_EQ(line1.lines[0].setUps, 3) << "with the set-up after Cont-Line";
        EXPECT_EQ(line1.lines[1].firstPoint, "BM7");
        EXPECT_EQ(line1.lines[2].lastPoint, "X2");
        EXPECT_EQ(line1.run.StationCount, 3);
        Reduce(line1);
        // The intermediate sight stands before the foresight it was booked after, and every RL
        // of the line is the instrument's own height.
        const struct {
            int32_t row;
            const char* station;
            double rl;
        } rows[] = {{6, "BM1", 100.0},     {7, "P1", 99.73456},    {8, "TP1", 100.35802},
                    {9, "TP1", 100.35802}, {10, "BM2", 100.24691}, {11, "BM2", 100.24691},
                    {12, "BM1", 100.0}};
        for (const auto& r : rows) {
            SCOPED_TRACE(r.row);
            EXPECT_EQ(line1.Station(r.row), r.station);
            EXPECT_NEAR(line1.Rl(r.row), r.rl, 1e-9);
        }
        EXPECT_EQ(line1.sheet.CellText(7, core::kColSightType), "IS");
        EXPECT_EQ(line1.sheet.CellText(7, core::kColFS), "") << "the foresight moved below it";
        const core::RunChecks checks = core::CheckRun(line1.run, line1.reduction, {});
        EXPECT_EQ(checks.instrument.compared, 4);
        EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.row;

        // Lines 2 and 3 start from their own heights, not from the end of the line before.
        Read line2 = ReadLine(FieldBookFormat::M5, book, 2);
        ASSERT_EQ(line2.result.status, ReadStatus::Read) << line2.result.reason;
        Reduce(line2);
        EXPECT_NEAR(line2.Rl(7), 51.0, 1e-9);
        Read line3 = ReadLine(FieldBookFormat::M5, book, 3);
        ASSERT_EQ(line3.result.status, ReadStatus::Read) << line3.result.reason;
        EXPECT_EQ(std::get<double>(line3.run.EnteredStartRL), 0.0);
        Reduce(line3);
        EXPECT_NEAR(line3.Rl(7), -1.0, 1e-9);
        EXPECT_EQ(ReadLine(FieldBookFormat::M5, book, 4).result.status,
                  ReadStatus::EndedWithMessage);

        // What is said of a line after "Cont-Line" names that line of the book.
        std::string edited = book;
        const std::string resumed = Dini(21, "KD1", "BM2", "Rb", 1.0, "HD", 12.0);
        std::string odd = resumed;
        odd.replace(odd.find("1.00000"), 7, "1.0000x");
        edited.replace(edited.find(resumed), resumed.size(), odd);
        const Read warned = ReadLine(FieldBookFormat::M5, edited, 1);
        ASSERT_EQ(warned.result.warnings.Told().size(), 1u);
        EXPECT_EQ(warned.result.warnings.Told()[0].line, 21u);
    }
}

TEST(InstrumentBooks, WhatStartsALevellingLine) {
    // A free code block 41 (data without "?") is a code inside the line, not a start.
    std::string coded = kLsBook;
    const std::string afterFirstSetUp = "574..8+05000000 83..18+123492589 \r";
    coded.insert(coded.find(afterFirstSetUp) + afterFirstSetUp.size(),
                 "410042+00000042 42....+0000TREE \r");
    const Read read = ReadLine(FieldBookFormat::GSI, coded);
    ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
    EXPECT_EQ(read.lines.size(), 1u);
    EXPECT_EQ(read.run.StationCount, 2);

    // An M5 book of one "Start-Line" is read whole, as it always was: the readings before it
    // and those after its "Cont-Line" are one run.
    const std::vector<std::string> oneLine = {
        Dini(1, "TO", "ONE.DAT"),
        Dini(2, "KD1", "BM1", "", 0, "", 0, "Z", 100.0),
        Dini(3, "KD1", "BM1", "Rb", 1.0, "HD", 10.0),
        Dini(4, "KD1", "TP1", "Rf", 0.5, "HD", 10.0),
        Dini(5, "TO", "Start-Line         BF  1"),
        Dini(6, "KD1", "TP1", "Rb", 1.5, "HD", 10.0),
        Dini(7, "KD1", "TP2", "Rf", 1.0, "HD", 10.0),
        Dini(8, "TO", "End-Line           1"),
        Dini(9, "TO", "Cont-Line          1"),
        Dini(10, "KD1", "TP2", "Rb", 1.0, "HD", 10.0),
        Dini(11, "KD1", "BM1", "Rf", 2.0, "HD", 10.0),
    };
    std::string text;
    for (const std::string& line : oneLine) text += line + "\r\n";
    const Read whole = ReadLine(FieldBookFormat::M5, text);
    ASSERT_EQ(whole.result.status, ReadStatus::Read) << whole.result.reason;
    EXPECT_TRUE(whole.lines.empty());
    EXPECT_EQ(whole.run.StationCount, 3);
}

/// A simulated levelling line as an instrument records it: true readings, each written rounded
/// to the book's last digit, and the heights the instrument works out from the true readings,
/// rounded the same way. Set-up `edited` (1-based; 0 for none) has its foresight re-booked 5 mm
/// lower by hand.
struct SimulatedLine {
    std::vector<double> backs, fores;  // true readings, m
    std::vector<double> heights;       // true heights after each set-up, from 100 m
};

SimulatedLine Simulate(uint64_t seed, int setUps) {
    SimulatedLine line;
    double height = 100.0;
    for (int i = 0; i < setUps; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double back = 0.5 + static_cast<double>((seed >> 20) % 2000000) / 1e6;
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double fore = 0.5 + static_cast<double>((seed >> 20) % 2000000) / 1e6;
        line.backs.push_back(back);
        line.fores.push_back(fore);
        height += back - fore;
        line.heights.push_back(height);
    }
    return line;
}

/// The line as a GSI-8 book of units digit `unit` (0, 6 or 8), each staff read twice (BFFB):
/// the second readings 0.37 mm from the first, the heights, the station differences (571) and
/// their running sum (572) from the true readings. The edit re-books both foresight readings of
/// its set-up 5 mm lower; `shift` moves the stored 571 and 572 of set-up `shifted` by as many of
/// the book's last digits.
std::string GsiOf(const SimulatedLine& line, char unit, int edited, int shifted = 0,
                  int shift571 = 0, int shift572 = 0) {
    const int decimals = unit == '0' ? 3 : unit == '6' ? 4 : 5;
    const auto word = [&](const std::string& index, double metres) {
        const long long digits = std::llround(std::fabs(metres) * std::pow(10.0, decimals));
        char text[40];
        std::snprintf(text, sizeof text, "%s%c%c%08lld ", index.c_str(), unit,
                      metres < 0 ? '-' : '+', digits);
        return std::string(text);
    };
    std::string book = "410001+?......2 \r\n110002+0000BM01 " + word("83...", 100.0) + "\r\n";
    constexpr double kSecond = 0.00037;
    const double digit = std::pow(10.0, -decimals);
    double running = 0;
    for (size_t i = 0; i < line.backs.size(); ++i) {
        const double edit = static_cast<int>(i) + 1 == edited ? 0.005 : 0.0;
        const std::string from = "110003+0000TP" + std::to_string(i % 10);
        const std::string to = "110004+0000TP" + std::to_string((i + 1) % 10);
        const double b1 = line.backs[i] - kSecond;
        const double f1 = line.fores[i] - kSecond;
        const double b2 = line.backs[i] + kSecond;
        const double f2 = line.fores[i] + kSecond;
        book += from + word(" 32...", 20) + word("331..", b1) + "\r\n";
        book += to + word(" 32...", 20) + word("332..", f1 + edit) + "\r\n";
        book += to + word(" 32...", 20) + word("336..", f2 + edit) + "\r\n";
        book += from + word(" 32...", 20) + word("335..", b2) + "\r\n";
        const bool shifted_ = static_cast<int>(i) + 1 == shifted;
        running += (b1 - f1) - (b2 - f2);
        book += "110005+0000TP" + std::to_string((i + 1) % 10) + " " +
                word("571..", (b1 - f1) - (b2 - f2) + (shifted_ ? shift571 * digit : 0)) +
                word("572..", running + (shifted_ ? shift572 * digit : 0)) +
                word("83...", line.heights[i]) + "\r\n";
    }
    return book;
}

TEST(InstrumentBooks, TheInstrumentCheckAtTheBooksOwnResolution) {
    for (const char unit : {'0', '6', '8'}) {
        SCOPED_TRACE(std::string("units ") + unit);
        int falseFlags = 0;
        for (uint64_t run = 1; run <= 100; ++run) {
            const SimulatedLine line = Simulate(run * 7919, 8);
            for (const int edited : {0, 1 + static_cast<int>(run % 8)}) {
                Read read = ReadLine(FieldBookFormat::GSI, GsiOf(line, unit, edited));
                ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
                Reduce(read, 100.0);
                const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
                ASSERT_EQ(checks.instrument.compared, 8);
                if (edited == 0) {
                    falseFlags += checks.instrument.flagged ? 1 : 0;
                } else {
                    // The edit shows at its own set-up, however coarse the book.
                    EXPECT_TRUE(checks.instrument.flagged) << run;
                    EXPECT_EQ(checks.instrument.setUp, edited) << run;
                }
                // The instrument's station differences fit the readings to its last digit.
                falseFlags += read.result.warnings.Empty() ? 0 : 1;
            }
        }
        EXPECT_EQ(falseFlags, 0);
    }
}

TEST(InstrumentBooks, EachGsiHeightIsCheckedAtItsOwnUnitsDigit) {
    // A GSI-8 loop from A1 at 999.90000 m over T1, past 1000 m, whose height no longer fits
    // eight digits at units 8: the instrument stores it at units 6 (1000.2001). A difference of
    // heights may then be 0.01 + 0.1 mm from the readings'.
    struct Case {
        const char* fore;   // the first foresight, to T1
        const char* back;   // the second foresight, back to A1
        double difference;  // mm, T1 as stored less T1 as read, from the readings
        bool flagged;
    };
    const Case cases[] = {
        {"00119980", "00130020", -0.10, false},
        {"00119979", "00130021", -0.11, false},  // at the limit
        {"00119978", "00130022", -0.12, true},
        {"00120000", "00130000", +0.10, false},
        {"00120001", "00129999", +0.11, false},
        {"00120002", "00129998", +0.12, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fore);
        const std::string book = std::string("410001+?......1 \r\n") +
                                 "110002+00000A1 83..18+99990000 \r\n"
                                 "110003+00000A1 32...8+00002000 331.08+00150000 \r\n"
                                 "110004+00000T1 32...8+00002000 332.08+" +
                                 c.fore +
                                 " 83..16+10002001 \r\n"
                                 "110005+00000T1 32...8+00002000 331.08+00100000 \r\n"
                                 "110006+00000A1 32...8+00002000 332.08+" +
                                 c.back + " 83..18+99990000 \r\n";
        Read read = ReadLine(FieldBookFormat::GSI, book);
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        Reduce(read, 999.9);
        const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
        EXPECT_EQ(checks.instrument.compared, 2);
        EXPECT_EQ(checks.instrument.flagged, c.flagged);
        EXPECT_NEAR(checks.instrument.limit, 0.00011, 1e-12);
        EXPECT_NEAR(std::fabs(checks.instrument.largestDifference) * 1000, std::fabs(c.difference),
                    1e-6);
    }
}

TEST(InstrumentBooks, StoredStationDifferencesWithinThreeOfTheirDigits) {
    // Set-up 5 of a line of eight has its 571 or its 572 moved by some of the book's last
    // digits (0.01 mm at units 8, 1 mm at units 0); within three they are rounding. A 572 is
    // judged by what the set-up adds to the one stored before it, so an edited one shows at its
    // own set-up and at the next.
    struct Case {
        char unit;
        int shift571, shift572;
        const char* told;  // the first warning, or nothing
        size_t count;
    };
    const Case cases[] = {
        {'8', 3, 0, nullptr, 0},
        {'8', 0, 3, nullptr, 0},
        {'8', 0, -3, nullptr, 0},
        {'8', 4, 0, "the instrument's station difference 0.04 mm is not the readings' 0.00 mm", 1},
        {'8', 0, 4,
         "the instrument's running station difference 0.04 mm is not the 0.00 mm its station "
         "differences add up to",
         2},
        {'8', 0, -4, "the instrument's running station difference", 2},
        {'0', 0, 7, "the instrument's running station difference 7.0 mm is not the 0.0 mm", 2},
    };
    const SimulatedLine line = Simulate(2718281, 8);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.unit) + " " + std::to_string(c.shift571) + " " +
                     std::to_string(c.shift572));
        Read read =
            ReadLine(FieldBookFormat::GSI, GsiOf(line, c.unit, 0, 5, c.shift571, c.shift572));
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        const auto& told = read.result.warnings.Told();
        if (!c.told) {
            EXPECT_TRUE(told.empty()) << told.front().text;
            continue;
        }
        ASSERT_EQ(told.size(), c.count);
        EXPECT_EQ(told[0].line, 27u) << "the closing block of set-up 5";
        if (c.count == 2) {
            EXPECT_EQ(told[1].line, 32u) << "of set-up 6";
        }
        EXPECT_NE(told[0].text.find(c.told), std::string::npos) << told[0].text;
    }
}

TEST(InstrumentBooks, AnM5BookIsCheckedAtItsDecimals) {
    int falseFlags = 0;
    for (uint64_t run = 1; run <= 100; ++run) {
        const SimulatedLine line = Simulate(run * 104729, 8);
        for (const int edited : {0, 1 + static_cast<int>(run % 8)}) {
            std::string book = Dini(1, "TO", "SIM.DAT") + "\r\n" +
                               Dini(2, "TO", "Start-Line         BF  1") + "\r\n" +
                               Dini(3, "KD1", "BM1", "", 0, "", 0, "Z", 100.0) + "\r\n";
            for (size_t i = 0; i < line.backs.size(); ++i) {
                const double fore =
                    line.fores[i] + (static_cast<int>(i) + 1 == edited ? 0.005 : 0.0);
                const std::string from = "TP" + std::to_string(i);
                const std::string to = "TP" + std::to_string(i + 1);
                book += Dini(4, "KD1", from, "Rb", line.backs[i], "HD", 20.0) + "\r\n" +
                        Dini(5, "KD1", to, "Rf", fore, "HD", 20.0) + "\r\n" +
                        Dini(6, "KD1", to, "", 0, "", 0, "Z", line.heights[i]) + "\r\n";
            }
            Read read = ReadLine(FieldBookFormat::M5, book);
            ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
            Reduce(read, 100.0);
            const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
            ASSERT_EQ(checks.instrument.compared, 8);
            if (edited == 0) {
                falseFlags += checks.instrument.flagged ? 1 : 0;
            } else {
                EXPECT_TRUE(checks.instrument.flagged) << run;
                EXPECT_EQ(checks.instrument.setUp, edited) << run;
            }
        }
    }
    EXPECT_EQ(falseFlags, 0);
}

/// A DiNi line `Dini` writes, its readings marked as rejected (#####) as the instrument marks
/// them before "Station repeated".
std::string Rejected(std::string line) {
    return line.replace(29, 5, "#####");
}

TEST(InstrumentBooks, AVoidedFirstSetUpIsDroppedAndTheLineStartsAtItsFirstKeptBacksight) {
    // A loop BM1 - TP1 - BM1 whose first set-up the observer rejected and measured again, read
    // once (BF) and twice (BFFB: back, fore, fore, back). The second set-up's means close the loop
    // to 100 m exactly, and each Z is the height the readings give.
    struct Method {
        const char* name;
        std::vector<std::string> rejected, first, second;
    };
    const std::vector<Method> methods = {
        {"BF",
         {Dini(4, "KD1", "BM1", "Rb", 1.5, "HD", 20.0),
          Dini(5, "KD1", "TP1", "Rf", 1.2, "HD", 20.0)},
         {Dini(7, "KD1", "BM1", "Rb", 1.23456, "HD", 20.0),
          Dini(8, "KD1", "TP1", "Rf", 0.87654, "HD", 20.0)},
         {Dini(10, "KD1", "TP1", "Rb", 1.11111, "HD", 15.0),
          Dini(11, "KD1", "BM1", "Rf", 1.46913, "HD", 15.0)}},
        {"BFFB",
         {Dini(4, "KD1", "BM1", "Rb", 1.5, "HD", 20.0),
          Dini(5, "KD1", "TP1", "Rf", 1.2, "HD", 20.0),
          Dini(5, "KD1", "TP1", "Rf", 1.2, "HD", 20.0),
          Dini(4, "KD1", "BM1", "Rb", 1.5, "HD", 20.0)},
         {Dini(7, "KD1", "BM1", "Rb", 1.23455, "HD", 20.0),
          Dini(8, "KD1", "TP1", "Rf", 0.87654, "HD", 20.0),
          Dini(8, "KD1", "TP1", "Rf", 0.87654, "HD", 20.0),
          Dini(7, "KD1", "BM1", "Rb", 1.23457, "HD", 20.0)},
         {Dini(10, "KD1", "TP1", "Rb", 1.11111, "HD", 15.0),
          Dini(11, "KD1", "BM1", "Rf", 1.46912, "HD", 15.0),
          Dini(11, "KD1", "BM1", "Rf", 1.46914, "HD", 15.0),
          Dini(10, "KD1", "TP1", "Rb", 1.11111, "HD", 15.0)}},
    };
    for (const Method& method : methods) {
        SCOPED_TRACE(method.name);
        std::vector<std::string> lines = {
            Dini(1, "TO", "VOID.DAT"),
            Dini(2, "TO", std::string("Start-Line         ") + method.name + "  1"),
            Dini(3, "KD1", "BM1", "", 0, "", 0, "Z", 100.0)};
        for (const std::string& line : method.rejected) lines.push_back(Rejected(line));
        lines.push_back(Dini(6, "TO", "Station repeated"));
        lines.insert(lines.end(), method.first.begin(), method.first.end());
        lines.push_back(Dini(9, "KD1", "TP1", "", 0, "", 0, "Z", 100.35802));
        lines.insert(lines.end(), method.second.begin(), method.second.end());
        lines.push_back(Dini(12, "KD1", "BM1", "", 0, "", 0, "Z", 100.0));
        lines.push_back(Dini(13, "TO", "End-Line           1"));
        std::string book;
        for (const std::string& line : lines) book += line + "\r\n";

        Read read = ReadLine(FieldBookFormat::M5, book);
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        EXPECT_TRUE(read.result.warnings.Empty());
        EXPECT_EQ(read.run.StationCount, 2);
        Reduce(read, 100.0);
        ASSERT_TRUE(read.reduction);
        const struct {
            int32_t row;
            const char* station;
            double rl;
        } rows[] = {
            {6, "BM1", 100.0}, {7, "TP1", 100.35802}, {8, "TP1", 100.35802}, {9, "BM1", 100.0}};
        for (const auto& r : rows) {
            SCOPED_TRACE(r.row);
            EXPECT_EQ(read.Station(r.row), r.station);
            EXPECT_NEAR(read.Rl(r.row), r.rl, 1e-9);
        }
        EXPECT_EQ(read.Station(10), "") << "no row made up after the loop's end";
        EXPECT_NEAR(read.reduction->reduced.misclose, 0.0, 1e-9);
        const core::RunChecks checks = core::CheckRun(read.run, read.reduction, {});
        ASSERT_TRUE(checks.arithmetic);
        EXPECT_TRUE(checks.arithmetic->agrees);
        EXPECT_EQ(checks.instrument.compared, 2);
        EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.row;
    }
}

TEST(InstrumentBooks, AContLineOfALineStartedInAnotherBookIsALineOfItsOwn) {
    // Line 1 measured whole, then line 9 taken up again from a book before this one: its
    // readings go on from TP9 at the height the instrument carried over, not from line 1's end.
    const std::vector<std::string> lines = {
        Dini(1, "TO", "CONT.DAT"),
        Dini(2, "TO", "Start-Line         BF  1"),
        Dini(3, "KD1", "BM1", "", 0, "", 0, "Z", 100.0),
        Dini(4, "KD1", "BM1", "Rb", 1.23456, "HD", 20.0),
        Dini(5, "KD1", "TP1", "Rf", 0.87654, "HD", 20.0),
        Dini(6, "KD1", "TP1", "", 0, "", 0, "Z", 100.35802),
        Dini(7, "TO", "End-Line           1"),
        Dini(8, "TO", "Cont-Line          9"),
        Dini(9, "KD1", "TP9", "", 0, "", 0, "Z", 50.0),
        Dini(10, "KD1", "TP9", "Rb", 1.5, "HD", 10.0),
        Dini(11, "KD1", "BM9", "Rf", 0.5, "HD", 10.0),
        Dini(12, "KD1", "BM9", "", 0, "", 0, "Z", 51.0),
        Dini(13, "TO", "End-Line           9"),
    };
    std::string book;
    for (const std::string& line : lines) book += line + "\r\n";
    Read first = ReadLine(FieldBookFormat::M5, book, 1);
    ASSERT_EQ(first.result.status, ReadStatus::Read) << first.result.reason;
    ASSERT_EQ(first.lines.size(), 2u);
    EXPECT_EQ(first.lines[0].lastPoint, "TP1");
    EXPECT_EQ(first.lines[1].name, "line 9 (continued)");
    EXPECT_EQ(first.lines[1].firstPoint, "TP9");
    EXPECT_EQ(first.run.StationCount, 1);

    Read continued = ReadLine(FieldBookFormat::M5, book, 2);
    ASSERT_EQ(continued.result.status, ReadStatus::Read) << continued.result.reason;
    EXPECT_EQ(std::get<double>(continued.run.EnteredStartRL), 50.0);
    Reduce(continued, 51.0);
    EXPECT_EQ(continued.Station(6), "TP9");
    EXPECT_NEAR(continued.Rl(7), 51.0, 1e-9);
    const core::RunChecks checks = core::CheckRun(continued.run, continued.reduction, {});
    EXPECT_EQ(checks.instrument.compared, 1);
    EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.largestDifference;
}

TEST(InstrumentBooks, AStartAbandonedAtOnceIsNoLine) {
    std::string book = ThreeLineDiniBook();
    // Line 2 started twice: the first start has no readings and is not listed.
    const std::string second = Dini(13, "TO", "Start-Line         BF  2") + "\r\n";
    book.insert(book.find(second), second);
    const Read read = ReadLine(FieldBookFormat::M5, book, 2);
    ASSERT_EQ(read.lines.size(), 3u);
    EXPECT_EQ(read.lines[1].firstPoint, "BM7");
    EXPECT_EQ(std::get<double>(read.run.EnteredStartRL), 50.0);
}

}  // namespace
}  // namespace rendle::readers
