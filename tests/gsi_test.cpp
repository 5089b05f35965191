// Leica GSI books read into the level sheet: both word lengths, the four methods, books of
// several levelling lines, Latin-1 text, edits, and what is refused.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "GsiText.h"
#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"
#include "readers/FieldBookLine.h"
#include "readers/GsiBook.h"

namespace rendle::readers {
namespace {

using testing::GsiBookText;
using testing::GsiLine;
using testing::GsiLoop;

struct Read {
    grid::Grid sheet;
    core::RunState run;
    ReadResult result;
};

std::unique_ptr<Read> ReadBook(const std::string& text, int runNumber = 1) {
    auto read = std::make_unique<Read>();
    core::SetUpLevelSheet(read->sheet);
    std::istringstream in(text);
    read->result =
        ReadFieldBook(FieldBookFormat::GSI, in, read->sheet, read->run, LineDecoder(), runNumber);
    return read;
}

struct MethodCase {
    int method;
    bool wide;
};

class GsiMethods : public ::testing::TestWithParam<MethodCase> {};

TEST_P(GsiMethods, ReadLikeABfRunOfTheMeans) {
    const auto [method, wide] = GetParam();
    const std::string text = GsiBookText(GsiLine(method, "A1", 100.0, GsiLoop(), wide));
    std::istringstream probe(text);
    LineReader lines(probe);
    EXPECT_EQ(DetectFormat(lines), FieldBookFormat::GSI);

    const auto read = ReadBook(text);
    ASSERT_EQ(read->result.status, ReadStatus::Read) << read->result.reason;
    const grid::Grid& sheet = read->sheet;
    EXPECT_EQ(read->run.StationCount, 3);
    EXPECT_EQ(std::get<double>(read->run.EnteredStartRL), 100.0) << "the starting height";
    const bool twice = method == 2 || method == 4;
    // Marker 5, BS 6, FS 7; marker 8, BS 9, IS 10, FS 11; marker 12, BS 13, FS 14.
    struct Row {
        int32_t row;
        const char* sight;
        const char* station;
        double reading;
    };
    const auto mean = [&](double a, double b) { return twice ? (a + b) / 2 : a; };
    const Row rows[] = {
        {6, "BS", "A1", mean(1.52341, 1.52351)},  {7, "FS", "T1", mean(1.20112, 1.20118)},
        {9, "BS", "T1", mean(1.41100, 1.41104)},  {10, "IS", "P7", 1.33333},
        {11, "FS", "T2", mean(1.65432, 1.65440)}, {13, "BS", "T2", mean(1.30000, 1.30010)},
        {14, "FS", "A1", mean(1.37888, 1.37894)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(sheet.CellText(r.row, core::kColSightType), r.sight);
        EXPECT_EQ(sheet.CellText(r.row, core::kColStation), r.station);
        const int32_t col = std::string(r.sight) == "BS"   ? core::kColBS
                            : std::string(r.sight) == "IS" ? core::kColIS
                                                           : core::kColFS;
        EXPECT_NEAR(sheet.CellNumber(r.row, col), r.reading, 1e-12);
    }
    for (const int32_t marker : {5, 8, 12}) {
        EXPECT_EQ(sheet.CellText(marker, core::kColSightType), "CP");
    }
    EXPECT_DOUBLE_EQ(sheet.CellNumber(6, core::kColDist), 30.12);
    EXPECT_EQ(read->run.LastDataRow, 12);
    // The run closes on A1: the ending RL is the starting one.
    EXPECT_EQ(std::get<double>(read->run.EndRL), 100.0);

    const core::RunChecks checks =
        core::CheckRun(read->run, core::ReduceLevels(read->sheet, read->run), {});
    EXPECT_EQ(checks.instrument.compared, 4) << "three foresights and an intermediate";
    EXPECT_FALSE(checks.instrument.flagged) << checks.instrument.largestDifference;
    ASSERT_EQ(checks.stationDifferences.setUps.size(), twice ? 3u : 0u);
    if (twice) {
        EXPECT_NEAR(checks.stationDifferences.setUps[0].value,
                    (1.52341 - 1.20112) - (1.52351 - 1.20118), 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(BothWordLengths, GsiMethods,
                         ::testing::Values(MethodCase{1, false}, MethodCase{2, false},
                                           MethodCase{3, false}, MethodCase{4, false},
                                           MethodCase{1, true}, MethodCase{2, true},
                                           MethodCase{3, true}, MethodCase{4, true}));

TEST(GsiBook, SeveralLinesAreListedAndEachReadAsABookOfItsOwn) {
    int block = 1;
    std::vector<std::string> lines = GsiLine(1, "A1", 100.0, GsiLoop(), true, "North", &block);
    // The second line starts where the first ended, with its own name and method.
    const std::vector<std::string> second =
        GsiLine(2, "A1", 100.0, {{"A1", "B9", 1.5, 1.0, 1.5001, 1.0001, 20, 20, {}}}, true, "South",
                &block);
    lines.insert(lines.end(), second.begin(), second.end());
    const std::string text = GsiBookText(lines);

    std::istringstream in(text);
    LineReader reader(in);
    const std::vector<LevellingLine> runs = ListGsiLines(reader);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].name, "North");
    EXPECT_EQ(runs[0].method, "BF");
    EXPECT_EQ(runs[0].setUps, 3);
    EXPECT_EQ(runs[0].firstPoint, "A1");
    EXPECT_EQ(runs[0].lastPoint, "A1");
    EXPECT_EQ(runs[1].name, "South");
    EXPECT_EQ(runs[1].method, "BFFB");
    EXPECT_EQ(runs[1].setUps, 1);
    EXPECT_EQ(runs[1].lastPoint, "B9");

    const auto secondRun = ReadBook(text, 2);
    ASSERT_EQ(secondRun->result.status, ReadStatus::Read) << secondRun->result.reason;
    EXPECT_EQ(secondRun->run.StationCount, 1);
    EXPECT_EQ(secondRun->sheet.CellText(7, core::kColStation), "B9");
    EXPECT_NEAR(secondRun->sheet.CellNumber(6, core::kColBS), 1.50005, 1e-12);
    EXPECT_EQ(secondRun->run.LastDataRow, 7);

    // A block of the second line that cannot be read leaves it listed, and its read says why.
    std::string broken = text;
    broken[broken.rfind("\n*11", broken.rfind("332..8+")) + 3] = 'X';
    std::istringstream brokenIn(broken);
    LineReader brokenLines(brokenIn);
    std::string problem;
    EXPECT_EQ(ListGsiLines(brokenLines, &problem).size(), 2u);
    EXPECT_NE(problem.find("no word index"), std::string::npos) << problem;
    EXPECT_EQ(ReadBook(broken, 1)->result.status, ReadStatus::Read);
    EXPECT_EQ(ReadBook(broken, 2)->result.status, ReadStatus::EndedWithMessage);

    // A line past 64 KB at the end: the whole book is no field book, whichever line is read.
    const std::string tooLong = text + std::string(70000, 'x') + "\r\n";
    for (const int run : {1, 2}) {
        const auto read = ReadBook(tooLong, run);
        EXPECT_EQ(read->result.status, ReadStatus::EndedSilently) << run;
        EXPECT_EQ(read->result.line, lines.size() + 1) << read->result.reason;
    }

    const auto missing = ReadBook(text, 3);
    EXPECT_EQ(missing->result.status, ReadStatus::EndedWithMessage);
    EXPECT_NE(missing->result.message.find("holds 2 levelling lines"), std::string::npos);
}

TEST(GsiBook, ALineWithoutItsStartBlockIsReadByItsWords) {
    // A BFFB line whose start block was lost: its second readings say it was read twice.
    std::vector<std::string> lines = GsiLine(2, "A1", 100.0, GsiLoop(), false);
    const auto withStart = ReadBook(GsiBookText(lines));
    lines.erase(lines.begin());
    const auto withoutStart = ReadBook(GsiBookText(lines));
    ASSERT_EQ(withoutStart->result.status, ReadStatus::Read) << withoutStart->result.reason;
    EXPECT_EQ(withoutStart->run.StationCount, 3);
    for (int32_t row = 6; row <= 14; ++row) {
        for (const int32_t col : {core::kColBS, core::kColIS, core::kColFS}) {
            EXPECT_EQ(withoutStart->sheet.CellNumber(row, col),
                      withStart->sheet.CellNumber(row, col))
                << row << "," << col;
        }
    }
}

TEST(GsiBook, TextWordsHoldBlanksAndLatin1) {
    std::vector<std::string> lines = GsiLine(1, "A1", 100.0, GsiLoop(), true);
    // A closing block with remarks: blanks, and "Straße" in Latin-1 (ß is one byte, 0xDF).
    lines.push_back("*" + testing::GsiPoint(99, "A1", true) +
                    testing::GsiWord(508, "...", '+',
                                     "Stra\xDF"
                                     "e 1 ok",
                                     true, ' '));
    const auto read = ReadBook(GsiBookText(lines));
    ASSERT_EQ(read->result.status, ReadStatus::Read) << read->result.reason;
    EXPECT_EQ(read->run.StationCount, 3);
    EXPECT_EQ(read->sheet.CellText(14, core::kColStation), "A1");
}

TEST(GsiBook, AnEditedBookShowsInTheInstrumentCheck) {
    std::vector<std::string> lines = GsiLine(1, "A1", 100.0, GsiLoop(), false);
    // The second set-up's foresight re-booked on the instrument 5 mm lower, its stored height
    // left as measured; a block number jumps where a set-up was deleted.
    for (std::string& line : lines) {
        const std::string was = testing::GsiMetres(332, 1.65432, false);
        if (const size_t at = line.find(was); at != std::string::npos) {
            line.replace(at, was.size(), testing::GsiMetres(332, 1.65932, false));
            line.replace(2, 4, "0040");
        }
    }
    const auto read = ReadBook(GsiBookText(lines));
    ASSERT_EQ(read->result.status, ReadStatus::Read) << read->result.reason;
    const core::RunChecks checks =
        core::CheckRun(read->run, core::ReduceLevels(read->sheet, read->run), {});
    EXPECT_TRUE(checks.instrument.flagged);
    EXPECT_NEAR(checks.instrument.largestDifference, 0.005, 1e-9);
    EXPECT_GE(checks.instrument.row, 10) << "from the foresight re-booked on";
}

TEST(GsiBook, WhatIsRefusedSaysWhy) {
    struct Case {
        const char* name;
        std::string text;
        const char* said;
    };
    std::string feet = GsiBookText(GsiLine(1, "A1", 100.0, GsiLoop(), false));
    feet.replace(feet.find("32...8"), 6, "32...1");
    std::string method = GsiBookText(GsiLine(1, "A1", 100.0, GsiLoop(), false));
    method.replace(method.find("?......1"), 8, "?......7");
    std::string cut = GsiBookText(GsiLine(1, "A1", 100.0, GsiLoop(), false));
    cut.resize(cut.size() - 9);  // the last word cut short, no line end
    std::string sign = GsiBookText(GsiLine(1, "A1", 100.0, GsiLoop(), false));
    sign[sign.find("32...8+") + 6] = ' ';
    const Case cases[] = {
        {"feet", feet, "in feet (GSI units digit 1)"},
        {"an unknown method", method, "The levelling method 7 of the line starting on line 1"},
        {"a book cut off", cut, "Please Check Your Data File "},
        {"a word without its sign", sign, "Please Check Your Data File "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = ReadBook(c.text);
        EXPECT_EQ(read->result.status, ReadStatus::EndedWithMessage);
        EXPECT_NE(read->result.message.find(c.said), std::string::npos) << read->result.message;
        EXPECT_EQ(read->run.FirstDataRow, 0) << "no run is handed to the reduction";
    }
}

TEST(GsiBook, ALineIsRefusedOnlyWhenItsDataRowsPassTheSheet) {
    // A BFFB line of 497 set-ups, each a backsight and a foresight once the readings are meaned:
    // data rows 6 to 999, with the marker rows 1,491 sheet rows in all. Intermediate sights in
    // its first set-up take it to row 1000, the last a sheet holds, and one past it.
    struct Case {
        int intermediates;
        bool read;
    };
    for (const Case c : {Case{0, true}, Case{1, true}, Case{2, false}}) {
        SCOPED_TRACE(c.intermediates);
        std::vector<testing::GsiSetUp> setUps;
        for (int i = 0; i < 497; ++i) {
            testing::GsiSetUp s{"P" + std::to_string(i),
                                "P" + std::to_string(i + 1),
                                1.5,
                                1.25,
                                1.5,
                                1.25,
                                20,
                                20,
                                {}};
            if (i == 0) {
                for (int k = 0; k < c.intermediates; ++k) s.intermediates.emplace_back("Q", 1.0);
            }
            setUps.push_back(s);
        }
        const auto read = ReadBook(GsiBookText(GsiLine(2, "P0", 100.0, setUps, true)));
        if (!c.read) {
            EXPECT_EQ(read->result.status, ReadStatus::EndedWithMessage);
            EXPECT_NE(read->result.message.find("longer than the 1000 rows"), std::string::npos)
                << read->result.message;
            continue;
        }
        ASSERT_EQ(read->result.status, ReadStatus::Read) << read->result.reason;
        EXPECT_EQ(read->run.StationCount, 497);
        EXPECT_EQ(read->run.LastDataRow, 999 + c.intermediates);
        const core::ReductionResult reduced = core::ReduceLevels(read->sheet, read->run);
        EXPECT_NEAR(read->sheet.CellNumber(999 + c.intermediates, core::kColRL), 100.0 + 497 * 0.25,
                    1e-6);
        EXPECT_EQ(read->sheet.CellText(999 + c.intermediates, core::kColStation), "P497");
        (void)reduced;
    }
}

TEST(GsiBook, ALastWordShortOfItsFieldWithNoLineEndIsRefused) {
    // A loop of two set-ups as an LS and a DNA write it, each line ending on a blank; the book's
    // last line holds the closing foresight, 1.63430 m, and is cut after `kept` of its characters
    // with no line end after them (a copy that stopped early).
    const std::string gsi8 =
        "410001+?......1 \r\n"
        "110002+00000A1 83..18+10000000 \r\n"
        "110003+00000A1 32...8+00002500 331.08+00152341 \r\n"
        "110004+00000T1 32...8+00002500 332.08+00120112 \r\n"
        "110005+00000T1 32...8+00003000 331.08+00141100 \r\n";
    const std::string last8 = "110006+00000A1 32...8+00003000 332.08+00163430 ";
    const std::string gsi16 =
        "*410001+?..............1 \r\n"
        "*110002+00000000000000A1 83..18+0000000010000000 \r\n"
        "*110003+00000000000000A1 32...8+0000000000002500 331.08+0000000000152341 \r\n"
        "*110004+00000000000000T1 32...8+0000000000002500 332.08+0000000000120112 \r\n"
        "*110005+00000000000000T1 32...8+0000000000003000 331.08+0000000000141100 \r\n";
    const std::string last16 =
        "*110006+00000000000000A1 32...8+0000000000003000 332.08+0000000000163430 ";
    struct Case {
        const char* name;
        size_t cut;    // characters taken off the end of the last line
        bool lineEnd;  // "\r\n" after what is left
        bool read;
    };
    const Case cases[] = {
        {"whole, with its line end", 0, true, true},
        {"whole, no line end", 0, false, true},
        {"its trailing blank gone, no line end", 1, false, true},
        {"one digit short, no line end", 2, false, false},
        {"two digits short, no line end", 3, false, false},
    };
    for (const auto& [book, last] : {std::pair{gsi8, last8}, std::pair{gsi16, last16}}) {
        SCOPED_TRACE(last.size());
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string text =
                book + last.substr(0, last.size() - c.cut) + (c.lineEnd ? "\r\n" : "");
            const auto read = ReadBook(text);
            if (!c.read) {
                EXPECT_EQ(read->result.status, ReadStatus::EndedWithMessage);
                EXPECT_NE(read->result.reason.find("cut off"), std::string::npos)
                    << read->result.reason;
                EXPECT_EQ(read->run.FirstDataRow, 0) << "no run is handed to the reduction";
                continue;
            }
            ASSERT_EQ(read->result.status, ReadStatus::Read) << read->result.reason;
            // Marker 5, BS 6, FS 7, marker 8, BS 9, FS 10.
            EXPECT_EQ(read->sheet.CellText(10, core::kColStation), "A1");
            EXPECT_DOUBLE_EQ(read->sheet.CellNumber(10, core::kColFS), 1.6343);
        }
    }
}

}  // namespace
}  // namespace rendle::readers
