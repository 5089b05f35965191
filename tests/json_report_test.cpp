// The JSON report over real reads: computed RLs and sums, read failures, texts of unknown
// encoding. It parses as UTF-8 JSON, and every number reads back to the double it stands for.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "FieldBookText.h"
#include "JsonDump.h"
#include "cli/BatchRun.h"
#include "core/LevelSheet.h"
#include "grid/JsonWriter.h"
#include "report/JsonReport.h"
#include "report/TextReport.h"

namespace {

using namespace rendle::testing;
using rendle::readers::FieldBookFormat;

/// An SDR33 run of `setUps` set-ups with readings and distances drawn from `seed`, so that the
/// reduced RLs and sums are the long binary fractions a real run gives.
std::string RandomRun(unsigned seed, int setUps) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> reading(2000, 39999);
    std::uniform_int_distribution<int> distance(5000, 60000);
    auto text = [](int value, int scale) {
        std::ostringstream out;
        out.setf(std::ios::fixed);
        out.precision(scale == 10000 ? 4 : 3);
        out << static_cast<double>(value) / scale;
        return out.str();
    };
    std::vector<std::string> lines = {Sdr33Header(), Sdr33Benchmark("100.0000")};
    for (int s = 0; s < setUps; ++s) {
        lines.push_back(SetUpRecord());
        lines.push_back(Sdr33Reading("B" + std::to_string(s), text(distance(random), 1000),
                                     text(reading(random), 10000), "1", "0"));
        lines.push_back(Sdr33Reading("I" + std::to_string(s), text(distance(random), 1000),
                                     text(reading(random), 10000), "0", "0"));
        lines.push_back(Sdr33Reading("F" + std::to_string(s), text(distance(random), 1000),
                                     text(reading(random), 10000), "0", "1"));
    }
    return Join(lines);
}

/// A document the schema check holds against rendle-reduce's schema too.
std::string Kept(const std::string& text) {
    rendle::testing::KeepJsonDocument("reduce", text);
    return text;
}

std::string Sample(const char* name) {
    std::ifstream in(std::string(RENDLE_EXAMPLES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(JsonReport, NumbersAreWrittenToANanometreInTheirShortestForm) {
    const struct {
        double value;
        const char* written;
    } cases[] = {
        {0.1 + 0.2, "0.3"},
        {1234.9009800000001, "1234.90098"},
        {-0.0, "0.0"},
        {-4e-10, "0.0"},  // rounds to nothing: no -0
        {-6e-10, "-1e-9"},
        {100.0, "100.0"},
        {-0.0000000015, "-2e-9"},
        {99.99999999949, "99.999999999"},
        {1e300, "1e300"},  // past 2^52 nm: as it is
        {std::nan(""), "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        rendle::grid::JsonWriter<rapidjson::Writer<rapidjson::StringBuffer>> json(writer, 1e9);
        writer.StartArray();
        json.Number(c.value);
        writer.EndArray();
        EXPECT_EQ(std::string(buffer.GetString()), std::string("[") + c.written + "]");
    }
}

// The shortest text of a double by an independent road: the fewest significant digits that
// printf's %.*g writes and strtod reads back as the same double.
int ShortestDigits(double value) {
    for (int digits = 1; digits <= 17; ++digits) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) return digits;
    }
    return 17;
}

int SignificantDigits(std::string text) {
    text = text.substr(0, text.find_first_of("eE"));
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9') digits += c;
    }
    digits.erase(0, digits.find_first_not_of('0'));
    if (text.find('.') != std::string::npos) digits.erase(digits.find_last_not_of('0') + 1);
    return digits.empty() ? 1 : static_cast<int>(digits.size());
}

std::string Written(double value, double scale, bool plain) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    rendle::grid::JsonWriter<rapidjson::Writer<rapidjson::StringBuffer>> json(writer, scale);
    writer.StartArray();
    plain ? json.Plain(value) : json.Number(value);
    writer.EndArray();
    const std::string text = buffer.GetString();
    return text.substr(1, text.size() - 2);
}

TEST(JsonReport, EveryNumberIsTheShortestTextThatReadsBack) {
    // Figures of real books that a writer of a digit too many spelled 19.060669999999999,
    // 0.026950000000000003 and 1.0762100000000002.
    EXPECT_EQ(Written(19.06067, 1e9, false), "19.06067");
    EXPECT_EQ(Written(0.01 + 0.01695, 1e9, false), "0.02695");
    EXPECT_EQ(Written(1.07621, 1e9, false), "1.07621");
    // A figure that is no length keeps every digit it has, in its shortest form.
    EXPECT_EQ(Written(2.5013363636363692, 1e9, false), "2.501336364");
    EXPECT_EQ(Written(2.5013363636363692, 1e9, true), "2.5013363636363692");
    EXPECT_EQ(Written(1.0 / 3.0, 1e9, true), "0.3333333333333333");
    EXPECT_EQ(Written(1.0 / 3.0, 1e9, false), "0.333333333");
    EXPECT_EQ(Written(25.0, 0, true), "25.0");
    EXPECT_EQ(Written(-2.5e-20, 0, true), "-2.5e-20");

    std::mt19937_64 random(44);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    for (int i = 0; i < 20000; ++i) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        for (const bool plain : {true, false}) {
            const std::string text = Written(value, 1e9, plain);
            SCOPED_TRACE(text);
            const double back = std::strtod(text.c_str(), nullptr);
            const double expected =
                plain || std::fabs(value * 1e9) >= 4503599627370496.0
                    ? value
                    : std::strtod(std::to_string(std::llround(value * 1e9)).c_str(), nullptr) / 1e9;
            ASSERT_EQ(back, expected == 0 ? 0.0 : expected);
            if (back != 0) {
                ASSERT_EQ(SignificantDigits(text), ShortestDigits(back));
            }
        }
    }
}

TEST(JsonReport, ALengthToTheNanometreIsWrittenAsTheGeneralConversionWritesIt) {
    // Lengths below 10^6 m are written without the general conversion: the same text as
    // std::to_chars gives the value rounded to the nanometre, with a whole number's ".0" and
    // the exponent without its "+" and leading zeros.
    const auto general = [](double value) {
        value = std::round(value * 1e9) / 1e9;
        if (value == 0) value = 0;
        char text[64];
        std::string shown(text, std::to_chars(text, text + sizeof text, value).ptr);
        const size_t e = shown.find('e');
        if (e == std::string::npos)
            return shown.find('.') == std::string::npos ? shown + ".0" : shown;
        std::string exponent = shown.substr(e + 1);
        const bool negative = exponent[0] == '-';
        exponent.erase(0, exponent.find_first_not_of("+-"));
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        return shown.substr(0, e + 1) + (negative ? "-" : "") + exponent;
    };
    std::mt19937_64 random(1906067);
    std::uniform_int_distribution<int> decimals(0, 12);
    std::uniform_int_distribution<int64_t> digits(-999999999999999, 999999999999999);
    for (int i = 0; i < 300000; ++i) {
        const double value =
            static_cast<double>(digits(random)) / std::pow(10.0, decimals(random) + 9);
        ASSERT_EQ(Written(value, 1e9, false), general(value)) << value;
    }
    for (const double value : {5e-4, -5e-4, 1e-9, 25.0, 100000.0, 999999.9999999994, 0.000123,
                               -0.0000000015, 120000.0, 1e5, 3e-5, 0.00045}) {
        EXPECT_EQ(Written(value, 1e9, false), general(value)) << value;
    }
}

TEST(JsonReport, ParsesAndEveryNumberReadsBackToTheSheetsDoubleToANanometre) {
    struct Case {
        const char* name;
        FieldBookFormat format;
        std::string book;
        std::optional<std::string> endRL;
    };
    const std::vector<Case> cases = {
        {"SDR20 sample", FieldBookFormat::SDR20, Sample("ring-road.sdr20.SDR"), std::nullopt},
        {"M5 sample", FieldBookFormat::M5, Sample("ring-road.m5.DAT"), std::nullopt},
        {"closed run", FieldBookFormat::SDR33, RandomRun(1, 60), "100.0123"},
        {"open run", FieldBookFormat::SDR33, RandomRun(2, 60), "97.31"},
        {"RL no number", FieldBookFormat::SDR33, RandomRun(3, 5), "ten"},
        {"wrong format", FieldBookFormat::SDR20, Sdr33Example(), std::nullopt},
        {"not UTF-8", FieldBookFormat::SDR33, RandomRun(4, 3) + "\xC3(\xE2\x82", "\xF0\x9F\x98"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rendle::grid::Grid sheet;
        rendle::core::SetUpLevelSheet(sheet);
        rendle::core::RunState run;
        rendle::cli::BatchWindowing windowing("book", std::nullopt, c.endRL);
        std::istringstream in(c.book);
        const auto outcome = rendle::commands::RunReadCommand(c.format, in, sheet, run, windowing);
        // A message naming a file of unknown encoding, cut in the middle of a character.
        windowing.messages.push_back({"Save", "not saved to /tmp/\xE2\x82q\xFF\xED\xA0\x80.xlsx"});
        const auto checks = rendle::core::CheckRun(run, outcome.reduction, {});
        const std::string path = "/survey/2026/\xE9t\xE9.SDR";
        for (const std::string* book : {static_cast<const std::string*>(nullptr), &path}) {
            const std::string text =
                Kept(rendle::report::JsonReport(sheet, run, outcome, windowing.messages, &checks,
                                                {book, nullptr, nullptr, book != nullptr}));
            // One line of JSON Lines for a book of many.
            EXPECT_EQ(text.find('\n') == text.size() - 1, book != nullptr);
            const nlohmann::json document = nlohmann::json::parse(text);  // throws on bad UTF-8
            EXPECT_EQ(document["messages"].back()["text"],
                      "not saved to /tmp/\uFFFD\uFFFDq\uFFFD\uFFFD\uFFFD\uFFFD.xlsx");
            if (book) {
                EXPECT_EQ(document["fieldBook"], "/survey/2026/\uFFFDt\uFFFD.SDR");
            }
            // A double written with nine decimals and read back: what the JSON must hold.
            const auto toNanometre = [](double value) {
                char nine[64];
                std::snprintf(nine, sizeof nine, "%.9f", value);
                return std::strtod(nine, nullptr);
            };
            size_t numbers = 0;
            for (const auto& cell : document["sheet"]["cells"]) {
                const int row = cell["row"];
                const int col = cell["col"];
                if (!cell.contains("number")) continue;
                ++numbers;
                EXPECT_EQ(cell["number"].get<double>(), toNanometre(sheet.CellNumber(row, col)))
                    << "row " << row << ", column " << col;
            }
            size_t sheetNumbers = 0;
            for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
                for (int32_t col = 1; col <= sheet.LastUsedCol(); ++col) {
                    sheetNumbers += sheet.CellAt(r, col).kind == rendle::grid::CellKind::Number;
                }
            }
            EXPECT_EQ(numbers, sheetNumbers);
            if (checks.reduced) {
                EXPECT_EQ(document["checks"]["arithmetic"]["sumRise"].get<double>(),
                          toNanometre(checks.arithmetic->sumRise));
            }
        }
    }
}

TEST(JsonReport, TheInstrumentsChecksOfARunReadTwice) {
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    rendle::cli::BatchWindowing windowing("book", std::nullopt, std::nullopt);
    std::istringstream in(M5Run("BFFB"));
    const auto outcome =
        rendle::commands::RunReadCommand(FieldBookFormat::M5, in, sheet, run, windowing);
    const auto checks =
        rendle::core::CheckRun(run, outcome.reduction, {std::nullopt, 5, 10, false, 0.3});
    const nlohmann::json document = nlohmann::json::parse(
        Kept(rendle::report::JsonReport(sheet, run, outcome, windowing.messages, &checks)));
    const nlohmann::json& differences = document["checks"]["stationDifferences"];
    EXPECT_EQ(differences["largest"], -0.25);
    EXPECT_EQ(differences["setUp"], 1);
    EXPECT_EQ(differences["limit"], 0.0003);
    EXPECT_EQ(differences["flagged"], true);
    EXPECT_EQ(differences["setUps"].size(), 3u);
    EXPECT_EQ(document["checks"]["instrument"]["compared"], 3);
    EXPECT_EQ(document["checks"]["instrument"]["flagged"], false);
}

TEST(ChecksReport, NumbersAsTheSheetShowsThemAndNoRatioWithoutALength) {
    rendle::core::RunChecks checks;
    checks.reduced = true;
    checks.arithmetic = rendle::core::ArithmeticCheck{};
    checks.arithmetic->sumBS = 1.1 + 2.2;  // 3.3000000000000003
    checks.arithmetic->sumFS = 3.3;
    checks.arithmetic->firstRL = 100.0;
    checks.arithmetic->lastRL = 100.0 - 1e-15;
    checks.arithmetic->agrees = true;
    checks.tolerance = rendle::core::ToleranceVerdict{};
    checks.tolerance->misclose = -1e-17;  // a perfect run, as the sums leave it
    checks.tolerance->permissible = 0;
    checks.tolerance->ratio = INFINITY;
    checks.balance.imbalanceLimit = 2.5;
    checks.balance.largestImbalance = -0.004;
    const std::string report = rendle::report::ChecksReport(checks);
    EXPECT_EQ(report.find("-0.0"), std::string::npos) << report;
    EXPECT_NE(report.find("last RL - first RL = 0.0000"), std::string::npos) << report;
    EXPECT_NE(report.find("misclose 0.0000 m"), std::string::npos) << report;
    EXPECT_NE(report.find("(no ratio: the run has no length)"), std::string::npos) << report;
    EXPECT_NE(report.find("limits 2.5 m and 10 m"), std::string::npos) << report;

    // A run with a length whose misclose is past any ratio (a start RL of 1.7e308) says so,
    // not that it has no length.
    rendle::core::RunChecks huge = checks;
    huge.tolerance->misclose = 1.7e308;
    huge.tolerance->permissible = 0.0009;
    EXPECT_NE(rendle::report::ChecksReport(huge).find(
                  "EXCEEDS (no ratio: the misclose is too large to compare)"),
              std::string::npos)
        << rendle::report::ChecksReport(huge);
    // Nor is the surveyor told to reduce again where the RLs cannot hold the sheet's tenth of a
    // millimetre: a double at 1e11 m still does (its step is 0.015 mm), at 1e12 m (0.12 mm) no
    // longer.
    for (const auto& [rl, words] :
         {std::pair{1.0e11, "DO NOT AGREE (reduce the run again)"},
          std::pair{1.0e12, "DO NOT AGREE (the RLs are too large to hold their differences)"},
          std::pair{1.7e308, "DO NOT AGREE (the RLs are too large to hold their differences)"}}) {
        rendle::core::RunChecks lost = huge;
        lost.arithmetic->firstRL = rl;
        lost.arithmetic->lastRL = rl;
        lost.arithmetic->agrees = false;
        EXPECT_NE(rendle::report::ChecksReport(lost).find(words), std::string::npos) << rl;
    }

    // JSON has no spelling for an infinite ratio: null.
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    const rendle::core::RunState run;
    const nlohmann::json document =
        nlohmann::json::parse(Kept(rendle::report::JsonReport(sheet, run, {}, {}, &checks)));
    EXPECT_TRUE(document["checks"]["tolerance"]["ratio"].is_null()) << document["checks"];
}

}  // namespace
