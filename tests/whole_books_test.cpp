// Field books that are not whole: cut off while they were copied (the last record without its
// line end, stopped at any byte), trimmed to begin at their levelling line, or ending on a
// backsight. The books are written out as the recorders write them, not made by the readers'
// rules, and every figure is worked out by hand from the readings.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace rendle::readers {
namespace {

using F = FieldBookFormat;

struct Read {
    grid::Grid sheet;
    core::RunState run;
    ReadResult result;
};

Read ReadBook(F format, const std::string& text, int runNumber = 1) {
    Read read;
    core::SetUpLevelSheet(read.sheet);
    std::istringstream in(text);
    Book book;
    std::string error;
    EXPECT_TRUE(LoadBook(in, format, LineDecoder(), book, error)) << error;
    read.result = ReadFieldBook(book, runNumber, read.sheet, read.run, LineDecoder());
    return read;
}

std::string Lines(const std::vector<std::string>& lines, const char* end) {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

// One set-up from BM1 to TP1 in each format: 1.23456 back, 0.87654 fore (a rise of 0.35802),
// 20 m each way, from BM1 at 100 m. The last line is the record that is cut.
struct CutCase {
    const char* name;
    F format;
    std::vector<std::string> before;  // whole lines, each with its line end
    std::string last;                 // the last record, as the recorder ends it
    const char* lineEnd;
    size_t wholeFrom;  // the last record cut to this many bytes or more is whole
};

const std::vector<CutCase>& CutCases() {
    static const std::vector<CutCase> cases = {
        {"SDR20",
         F::SDR20,
         {"00NMSDR20 V03-05   07-DEC-26 09:14  111111", "61  BM1                   100.0000",
          "62  LEVEL SET-UP", "63  BM1     20.000    1.2346 0.0000                  1    0"},
         "63  TP1     20.000    0.8765 0.0000                  0    1",
         "\r\n",
         59},
        {"SDR33",
         F::SDR33,
         {"00NMSDR33 V04-04.02           07-Dec-26 09:14 113111",
          "61  KI           BM1                  100.0000", "62  KI   LEVEL SET-UP",
          "63  KI           BM1    20.000          1.2346                               1    0"},
         "63  KI           TP1    20.000          0.8765                               0    1",
         "\r\n",
         83},
        {"M5 in plain columns",
         F::M5,
         {"For M5|Adr     1|TO  CUT.DAT", "For M5|Adr     2|TO  Start-Line         BF  1",
          "For M5|Adr     3|KD1      BM1                                                       "
          "                    100.0000",
          "For M5|Adr     4|KD1      BM1                    Rb         1.2346                 "
          "20.000"},
         "For M5|Adr     5|KD1      TP1                    Rf         0.8765                 "
         "20.000",
         "\r\n",
         89},
        {"M5 in plain columns, the distance's unit after it",
         F::M5,
         {"For M5|Adr     1|TO  CUT.DAT", "For M5|Adr     2|TO  Start-Line         BF  1",
          "For M5|Adr     3|KD1      BM1                                                       "
          "                    100.0000",
          "For M5|Adr     4|KD1      BM1                    Rb         1.2346 m               "
          "20.000 m"},
         "For M5|Adr     5|KD1      TP1                    Rf         0.8765 m               "
         "20.000 m",
         "\r\n",
         89},
        {"M5 of a DiNi, ending on the height",
         F::M5,
         {"For M5|Adr     1|TO  CUT.DAT                    |                      |           "
          "           |                      |",
          "For M5|Adr     2|TO  Start-Line         BF  1   |                      |           "
          "           |                      |",
          "For M5|Adr     3|KD1      BM1          1        |                      |           "
          "           |Z       100.00000 m   |",
          "For M5|Adr     4|KD1      BM1          1        |Rb        1.23456 m   |HD         "
          "20.000 m   |                      |",
          "For M5|Adr     5|KD1      TP1          1        |Rf        0.87654 m   |HD         "
          "20.000 m   |                      |"},
         "For M5|Adr     6|KD1      TP1          1        |                      |           "
         "           |Z       100.35802 m   |",
         "\r\n",
         118},
        {"GSI-8 of a Leica LS, CR line ends",
         F::GSI,
         {"410001+?......1 271...+LINE0001 ", "110002+00000BM1 83..18+10000000 ",
          "110003+00000BM1 32...8+02000000 331.08+00123456 "},
         "110004+00000TP1 32...8+02000000 332.08+00087654 ",
         "\r",
         47},
        {"GSI-16 of a DNA, the height after the foresight",
         F::GSI,
         {"*410001+?......1 271...+      CUT LINE ",
          "*110002+0000000000000BM1 83...8+0000000010000000 ",
          "*110003+0000000000000BM1 32...8+0000000002000000 331..8+0000000000123456 ",
          "*110004+0000000000000TP1 32...8+0000000002000000 332..8+0000000000087654 "},
         "*110005+0000000000000TP1 83...8+0000000010035802 ",
         "\r\n",
         48},
    };
    return cases;
}

TEST(WholeBooks, ALastRecordCutAtAnyByteIsRefusedAndTheWholeOneRead) {
    for (const CutCase& c : CutCases()) {
        SCOPED_TRACE(c.name);
        const std::string before = Lines(c.before, c.lineEnd);
        const size_t lastLine = c.before.size() + 1;
        // The whole book, with and without its last line end, reads and rises 0.35802.
        for (const std::string& ending : {std::string(c.lineEnd), std::string()}) {
            Read whole = ReadBook(c.format, before + c.last + ending);
            ASSERT_EQ(whole.result.status, ReadStatus::Read) << whole.result.reason;
            whole.run.StartRL = whole.run.EnteredStartRL;
            whole.run.EndRL = 100.358;
            const core::ReductionResult reduced = core::ReduceLevels(whole.sheet, whole.run);
            ASSERT_EQ(reduced.status, core::ReductionStatus::Reduced) << reduced.reason;
            EXPECT_NEAR(reduced.reduced.rows.back().rl.value_or(0), 100.358, 1e-4);
            EXPECT_TRUE(whole.result.warnings.Empty());
        }
        for (size_t kept = 1; kept < c.last.size(); ++kept) {
            SCOPED_TRACE("the last record cut to " + std::to_string(kept) +
                         " bytes: " + c.last.substr(0, kept));
            const Read cut = ReadBook(c.format, before + c.last.substr(0, kept));
            if (kept >= c.wholeFrom) {
                EXPECT_EQ(cut.result.status, ReadStatus::Read) << cut.result.reason;
                continue;
            }
            EXPECT_EQ(cut.result.status, ReadStatus::EndedWithMessage);
            EXPECT_NE(cut.result.reason.find("looks cut off"), std::string::npos)
                << cut.result.reason;
            EXPECT_EQ(cut.result.line, lastLine);
        }
    }
}

TEST(WholeBooks, AnM5BookTrimmedToItsStartLineKeepsItsStartingHeight) {
    // A transfer program that cut the book's first line away: the levelling line begins the
    // book, and the height that follows its Start-Line is still its start.
    const CutCase& plain = CutCases()[2];
    const CutCase& dini = CutCases()[4];
    for (const CutCase* c : {&plain, &dini}) {
        SCOPED_TRACE(c->name);
        const std::vector<std::string> trimmed(c->before.begin() + 1, c->before.end());
        Read read = ReadBook(F::M5, Lines(trimmed, "\r\n") + c->last + "\r\n");
        ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
        EXPECT_EQ(std::get<double>(read.run.EnteredStartRL), 100.0);
        read.run.StartRL = read.run.EnteredStartRL;
        const core::ReductionResult reduced = core::ReduceLevels(read.sheet, read.run);
        EXPECT_NEAR(reduced.reduced.rows.front().rl.value_or(0), 100.0, 1e-9);
        EXPECT_NEAR(reduced.reduced.rows.back().rl.value_or(0), 100.358, 1e-4);
    }
}

TEST(WholeBooks, ALineEndingOnABacksightIsSaidAndLeftOutOfTheChecks) {
    // Two set-ups, the second read only to its backsight: BM1 1.5000 back, TP1 1.2000 fore
    // (30 m and 25 m), then TP1 1.1000 back at 40 m and no foresight.
    const std::string book =
        "00NMSDR20 V03-05   07-DEC-26 09:14  111111\r\n"
        "61  BM1                    50.0000\r\n"
        "62  LEVEL SET-UP\r\n"
        "63  BM1     30.000    1.5000 0.0000                  1    0\r\n"
        "63  TP1     25.000    1.2000 0.0000                  0    1\r\n"
        "62  LEVEL SET-UP\r\n"
        "63  TP1     40.000    1.1000 0.0000                  1    0\r\n";
    Read read = ReadBook(F::SDR20, book);
    ASSERT_EQ(read.result.status, ReadStatus::Read) << read.result.reason;
    ASSERT_EQ(read.result.warnings.Told().size(), 1u);
    const ReadWarning& warning = read.result.warnings.Told()[0];
    EXPECT_EQ(warning.kind, WarningKind::OpenSetUp);
    EXPECT_EQ(warning.line, 6u) << "the line that opened the set-up";
    EXPECT_EQ(warning.text,
              "set-up 2 has a backsight and no foresight: the line ends on a backsight, which "
              "the checks leave out");

    read.run.StartRL = read.run.EnteredStartRL;
    const std::optional<core::ReductionResult> reduced = core::ReduceLevels(read.sheet, read.run);
    const core::RunChecks checks = core::CheckRun(read.run, reduced, core::CheckLimits{});
    ASSERT_TRUE(checks.arithmetic);
    const core::ArithmeticCheck& a = *checks.arithmetic;
    // Summed to TP1's foresight: 1.5 − 1.2 = 0.3 each way, not 1.4 − 1.2.
    EXPECT_NEAR(a.ReadingDifference(), 0.3, 1e-12);
    EXPECT_NEAR(a.RLDifference(), 0.3, 1e-12);
    EXPECT_TRUE(a.agrees);
    EXPECT_EQ(a.openSetUp, 2);
    EXPECT_EQ(a.openRow, 8)
        << "rows 6 and 7, then the backsight: the reduction took the marker row out";
    // The balance has only the closed set-up: 30 − 25.
    ASSERT_EQ(checks.balance.setUps.size(), 1u);
    EXPECT_NEAR(checks.balance.largestImbalance, 5.0, 1e-12);
    EXPECT_EQ(core::OpenSetUpInWords(a),
              "last set-up (set-up 2, row 8) has a backsight and no foresight: the checks leave "
              "it out, summing to the last foresight.");

    // A line that closes its last set-up says nothing of it.
    Read closed = ReadBook(F::SDR20, book +
                                         "63  BM2     40.000    0.9000 0.0000                  "
                                         "0    1\r\n");
    EXPECT_TRUE(closed.result.warnings.Empty());
}

}  // namespace
}  // namespace rendle::readers
