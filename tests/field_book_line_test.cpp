#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "readers/FieldBookLine.h"

namespace rendle::readers {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream in(text);
    LineReader reader(in);
    std::vector<std::string> lines;
    std::string line;
    while (reader.Next(line)) lines.push_back(line);
    EXPECT_FALSE(reader.Failed());
    return lines;
}

using L = std::vector<std::string>;

TEST(LineReader, EveryLineEndEndsALine) {
    EXPECT_EQ(Lines("a\r\nb\r\n"), (L{"a", "b"}));
    EXPECT_EQ(Lines("a\rb\r"), (L{"a", "b"}));
    EXPECT_EQ(Lines("a\nb\n"), (L{"a", "b"}));
    EXPECT_EQ(Lines("a\r\nb\nc\rd"), (L{"a", "b", "c", "d"})) << "mixed ends, last line unended";
    EXPECT_EQ(Lines("a\n\r\nb"), (L{"a", "", "b"}));
    EXPECT_EQ(Lines("\r\n\r\n"), (L{"", ""}));
    EXPECT_EQ(Lines("a\r\r\nb\r\r\n"), (L{"a", "b"})) << "CR LF after a text-mode transfer";
    EXPECT_EQ(Lines("a\r\rb"), (L{"a", "", "b"})) << "two carriage returns: an empty line";
    EXPECT_EQ(Lines("a\r\r\r\nb"), (L{"a", "", "b"}));
    EXPECT_EQ(Lines(""), L{});
    EXPECT_EQ(Lines(std::string("a\0b\n", 4)), (L{std::string("a\0b", 3)}));
}

TEST(LineReader, LineEndsSplitAcrossBlocks) {
    // Every line end's bytes astride the end of the first block, at each place they can split.
    for (const std::string end : {"\r\n", "\r\r\n", "\r", "\n"}) {
        for (size_t before = 1; before <= 3; ++before) {
            std::string text;
            for (int i = 0; i < 3; ++i) text += std::string(39999, 'x') + "\n";
            text.resize(LineReader::kReadBlock - before, 'x');
            const auto lines = Lines(text + end + "second" + end + "third");
            ASSERT_EQ(lines.size(), 6u) << before;
            EXPECT_EQ(lines[4], "second");
            EXPECT_EQ(lines[5], "third");
        }
    }
}

TEST(LineReader, ALineThatNeverEndsIsNoFieldBook) {
    std::istringstream in("63 first\n" + std::string(kMaxLineBytes + 1, '\0'));
    LineReader reader(in);
    std::string line;
    EXPECT_TRUE(reader.Next(line));
    EXPECT_FALSE(reader.Next(line));
    EXPECT_TRUE(reader.Failed());
    EXPECT_TRUE(reader.LineTooLong());
    EXPECT_EQ(reader.LineNumber(), 2u);

    std::istringstream cut("63 whole\r\n63 cut");
    LineReader last(cut);
    EXPECT_TRUE(last.Next(line));
    EXPECT_TRUE(last.LastLineEnded());
    EXPECT_TRUE(last.Next(line));
    EXPECT_FALSE(last.LastLineEnded()) << line;
}

TEST(LineReader, LongLinesKeepTheirBeginning) {
    const std::string longLine = "63" + std::string(5000, '7');
    const auto lines = Lines(longLine + "\nnext");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine.substr(0, kKeptLineLength));
    EXPECT_EQ(lines[1], "next");
}

/// (line number, text) of every line but those starting "13", which the reader may pass over
/// when `pass` is set (the caller still meets those it does not).
std::vector<std::pair<size_t, std::string>> Numbered(const std::string& text, bool pass) {
    std::istringstream in(text);
    LineReader reader(in);
    LineReader::LinePass thirteen{};
    thirteen[13] = true;
    std::vector<std::pair<size_t, std::string>> lines;
    std::string line;
    while (reader.Next(line, pass ? &thirteen : nullptr)) {
        if (line.starts_with("13")) continue;
        lines.emplace_back(reader.LineNumber(), line);
    }
    return lines;
}

TEST(LineReader, LinesPassedOverStillCountAndNothingElseChanges) {
    const std::string note = "13NM a note that takes no row";
    std::string acrossBlocks;  // CR LF pairs and lines of both kinds astride the blocks
    while (acrossBlocks.size() < 3 * LineReader::kReadBlock) {
        acrossBlocks += note + (acrossBlocks.size() % 7 == 0 ? "\r" : "\r\n");
        if (acrossBlocks.size() % 5 == 0) acrossBlocks += "63 reading\r\n";
    }
    const std::string texts[] = {
        "13a\r\n13b\r\n63c\r\n13d\n62\r13\r1\r\n\r\n13",
        "\xEF\xBB\xBF"
        "13 first line, after a byte-order mark\r\n13\r\n63",
        "13" + std::string(60 * 1024, 'x') + "\r\n63 after a long note\r\n",
        "63\r\r\n13\r\r\n13\r\r13\r\r\n63 end",
        "63 first\n" + std::string(64 * 1024 - 12, '1') + "\r\n13\r\n63 last",
        acrossBlocks,
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(Numbered(text, true), Numbered(text, false)) << text.substr(0, 40);
    }
}

TEST(LineReader, ALineEndIsFoundWhereverItFallsInTheLine) {
    // Lines of every length up to three times sixteen bytes, each ended in every way, read from
    // a stream and from a book in memory; and passed over as notes, still counted.
    for (const std::string end : {"\r\n", "\r\r\n", "\r", "\n"}) {
        for (size_t length = 0; length <= 48; ++length) {
            const std::string first = "13" + std::string(length, 'x');
            const std::string second = "63" + std::string(length + 7, 'y');
            const std::string text = first + end + second + end + "63 end";
            const L expected{first, second, "63 end"};
            EXPECT_EQ(Lines(text), expected) << length;
            LineReader inMemory(text, LineDecoder());
            L read;
            std::string line;
            while (inMemory.Next(line)) read.push_back(line);
            EXPECT_EQ(read, expected) << length;
            EXPECT_EQ(Numbered(text, true), Numbered(text, false)) << length;
        }
    }
}

TEST(Field, ShortLinesHoldWhatExists) {
    EXPECT_EQ(Field("63  BM1 ", 5, 4), "BM1 ");
    EXPECT_EQ(Field("63  BM", 5, 4), "BM");
    EXPECT_EQ(Field("63", 5, 4), "");
    EXPECT_EQ(Field("63  B", 5, 1), "B");
    EXPECT_EQ(Field("", 1, 2), "");
    EXPECT_EQ(LeftTrimmed("   1001    "), "1001    ");
    EXPECT_EQ(LeftTrimmed("    "), "");
    EXPECT_EQ(LeftTrimmed("\tA"), "\tA") << "only spaces are trimmed";
}

TEST(Field, PositionsCountCharactersWhereverANonAsciiOneStands) {
    // A station name with an accented letter (two bytes once decoded) anywhere before, inside
    // or after the field: the field is still the characters at its positions.
    for (size_t accent = 0; accent < 70; ++accent) {
        std::vector<std::string> characters;
        for (size_t i = 0; i < 70; ++i) {
            characters.push_back(i == accent ? "\xC3\xA9"
                                             : std::string(1, static_cast<char>('A' + i % 26)));
        }
        std::string line;
        for (const std::string& c : characters) line += c;
        std::string expected;
        for (size_t i = 53; i < 57; ++i) expected += characters[i];
        EXPECT_EQ(Field(line, 54, 4), expected) << "accent at " << accent;
    }
}

TEST(NumericValue, ReadsAsMuchNumberAsTheFieldStartsWith) {
    struct Case {
        const char* field;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"    1.2345", 1.2345},
        {"12.5abc", 12.5},
        {"1 234", 1234.0},
        {" -1 . 5", -1.5},
        {"\t2\t5", 25.0},
        {"1\n2", 12.0},
        {"", 0.0},
        {"          ", 0.0},
        {"abc", 0.0},
        {"BM1", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"+.5", 0.5},
        {"5.", 5.0},
        {"1.2.3", 1.2},
        {"1E3", 1000.0},
        {"1e-2", 0.01},
        {"1D2", 100.0},
        {"1E", 1.0},
        {"1E+", 1.0},
        {"2.5E 1", 25.0},
        {"00", 0.0},
        {"063", 63.0},
        {"6 2", 62.0},
        {"&H1F", 31.0},
        {"&hff", 255.0},
        {"&O17", 15.0},
        {"&H", 0.0},
        {"&X1", 0.0},
        {"&H1G", 1.0},
        {"1E-999", 0.0},
        {"1E999", std::nullopt},
        {"-1E999", std::nullopt},
        {"9E308", std::nullopt},
        {"1E99999999999999999999", std::nullopt},
        {"0.000000000000000000000000000000000000001E330", 1e291},
        {"0E999", 0.0},
        {"1,5", 1.0},
    };
    for (const Case& c : cases) EXPECT_EQ(NumericValue(c.field), c.value) << '"' << c.field << '"';
    EXPECT_EQ(NumericValue("&H" + std::string(300, 'F')), std::nullopt);

    // Readings of every length up to and past 15 digits come out as the nearest double, as the
    // standard decimal conversion gives it, to the last bit.
    uint64_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const int digits = 1 + static_cast<int>((seed >> 33) % 18);
        const int decimals = static_cast<int>((seed >> 40) % static_cast<uint64_t>(digits + 1));
        std::string text = (seed >> 63) != 0 ? "-" : "";
        uint64_t d = seed;
        for (int k = 0; k < digits; ++k) {
            if (k == digits - decimals) text += '.';
            text += static_cast<char>('0' + (d % 10));
            d = d / 10 ^ (d << 7);
        }
        const double expected = std::strtod(text.c_str(), nullptr);
        const std::optional<double> read = NumericValue("  " + text + "  ");
        ASSERT_TRUE(read.has_value()) << text;
        ASSERT_EQ(*read, expected) << text;
        ASSERT_EQ(std::signbit(*read), std::signbit(expected)) << text;
    }
}

TEST(NumericValue, APlainDecimalIsTheDoubleNearestItsText) {
    // Against strtod, which rounds the text correctly: readings and distances of every width a
    // recorder writes, right-aligned in their field, with and without a sign and a point.
    std::mt19937_64 random(19060670);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 15);
        const int decimals = static_cast<int>(random() % static_cast<uint64_t>(digits + 1));
        std::string number = random() % 3 == 0 ? "-" : "";
        for (int d = 0; d < digits; ++d) {
            if (d == digits - decimals && decimals > 0) number += d == 0 ? "0." : ".";
            number += static_cast<char>('0' + random() % 10);
        }
        const std::string field = std::string(16 - number.size() % 16, ' ') + number;
        SCOPED_TRACE(field);
        const std::optional<double> value = NumericValue(field);
        ASSERT_TRUE(value);
        ASSERT_EQ(*value, std::strtod(number.c_str(), nullptr));
    }
    for (const char* text : {"19.06067", "0.02695", "1.07621", "999999999999.999", "0.1"}) {
        EXPECT_EQ(NumericValue(text), std::strtod(text, nullptr)) << text;
    }
}

}  // namespace
}  // namespace rendle::readers
