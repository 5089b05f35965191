#include <gtest/gtest.h>

#include <clocale>

#include "core/RunState.h"
#include "grid/NumberFormat.h"
#include "readers/FieldBookLine.h"

namespace rendle::core {
namespace {

TEST(RLToNumber, ConvertsAsTheReductionNeeds) {
    struct Case {
        const char* name;
        RLValue value;
        std::optional<double> number;
    };
    const Case cases[] = {
        {"empty counts as 0", RLValue{}, 0.0},
        {"number", RLValue{100.5}, 100.5},
        {"text", RLValue{std::string("100.000")}, 100.0},
        {"blanks around", RLValue{std::string("  52.125\t")}, 52.125},
        {"signs", RLValue{std::string("-3.5")}, -3.5},
        {"plus sign", RLValue{std::string("+3")}, 3.0},
        {"leading point", RLValue{std::string(".5")}, 0.5},
        {"exponent", RLValue{std::string("1.5E2")}, 150.0},
        {"D exponent", RLValue{std::string("1.5d2")}, 150.0},
        {"underflow is 0", RLValue{std::string("1e-999")}, 0.0},
        {"empty text fails", RLValue{std::string("")}, std::nullopt},
        {"blank text fails", RLValue{std::string("   ")}, std::nullopt},
        // A decimal comma reads as the sheet's reading columns read one; what stays ambiguous
        // fails as before.
        {"decimal comma", RLValue{std::string("100,5")}, 100.5},
        {"decimal comma with blanks", RLValue{std::string(" 100,25 ")}, 100.25},
        {"thousands and a point fail", RLValue{std::string("1,000.25")}, std::nullopt},
        {"two commas fail", RLValue{std::string("1,000,25")}, std::nullopt},
        {"a lone comma fails", RLValue{std::string(",")}, std::nullopt},
        {"letters fail", RLValue{std::string("BM1")}, std::nullopt},
        {"trailing letters fail", RLValue{std::string("100.5m")}, std::nullopt},
        {"inner blank fails", RLValue{std::string("100 5")}, std::nullopt},
        {"bare exponent fails", RLValue{std::string("1e")}, std::nullopt},
        {"infinity text fails", RLValue{std::string("inf")}, std::nullopt},
        {"too large fails", RLValue{std::string("1E999")}, std::nullopt},
        {"lone sign fails", RLValue{std::string("-")}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(RLToNumber(c.value), c.number) << c.name;
}

TEST(RLText, GivesTheBoxText) {
    EXPECT_EQ(RLText(RLValue{}), "");
    EXPECT_EQ(RLText(RLValue{100.5}), "100.5");
    EXPECT_EQ(RLText(RLValue{100.0}), "100");
    EXPECT_EQ(RLText(RLValue{12.345}), "12.345");
    EXPECT_EQ(RLText(RLValue{0.0}), "0");
    EXPECT_EQ(RLText(RLValue{-0.25}), "-0.25");
    EXPECT_EQ(RLText(RLValue{0.00001}), "0.00001") << "never exponent form";
    EXPECT_EQ(RLText(RLValue{1E20}), "100000000000000000000");
    EXPECT_EQ(RLText(RLValue{-1.5E-7}), "-0.00000015");
    EXPECT_EQ(RLText(RLValue{1234.56789012345678}), "1234.56789012346") << "15 digits";
    EXPECT_EQ(RLText(RLValue{std::string(" 50 ")}), " 50 ");
}

TEST(RLText, FullStopWhateverTheLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is missing; scripts/install-deps.sh generates it";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "a comma-decimal locale is in force";
    EXPECT_EQ(RLText(RLValue{100.5}), "100.5");
    EXPECT_EQ(RLToNumber(RLValue{std::string("100.5")}), 100.5);
    EXPECT_EQ(readers::NumericValue("100.5"), 100.5);
    EXPECT_EQ(grid::FormatNumber(2.5, "0.00"), "2.50");
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace rendle::core
