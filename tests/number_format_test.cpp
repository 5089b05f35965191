#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <random>
#include <string>

#include "grid/NumberFormat.h"

namespace rendle::grid {
namespace {

struct FormatCase {
    const char* name;
    double value;
    const char* pattern;
    const char* shown;
};

TEST(FormatNumber, RoundsAsASpreadsheetDoes) {
    const FormatCase cases[] = {
        {"binary value below the half", 100.29745, "0.0000", "100.2975"},
        {"2.675 rounds up", 2.675, "0.00", "2.68"},
        {"1.005 rounds up", 1.005, "0.00", "1.01"},
        {"negative half away from zero", -2.675, "0.00", "-2.68"},
        {"negative misclose", -0.005, "0.0000", "-0.0050"},
        {"carry through nines", 99.99995, "0.0000", "100.0000"},
        {"carry to a new digit", 9.995, "0.00", "10.00"},
        {"padding zeros", 140.0, "0.00", "140.00"},
        {"below one", 0.000748331, "0.0000", "0.0007"},
        {"tiny negative shows no minus", -0.00001, "0.00", "0.00"},
        {"zero", 0.0, "0.0000", "0.0000"},
        {"negative zero", -0.0, "0.00", "0.00"},
        {"no decimals", 2.5, "0", "3"},
        {"thousands grouping", 1234567.891, "#,##0.00", "1,234,567.89"},
        {"large", 1.5e20, "0.00", "150000000000000000000.00"},
        {"small exponent", 1.25e-7, "0.0000", "0.0000"},
        {"sixteen nines carry to one", 0.9999999999999999, "0.0000", "1.0000"},
        {"fifteen-digit tie, binary value below", 2.000000000000005, "0.00000000000000",
         "2.00000000000000"},
        {"fifteen-digit tie, binary value above", 1.000000000000005, "0.00000000000000",
         "1.00000000000001"},
        {"exact tie at the sixteenth digit, to the even digit below", 100000000000000.5, "0",
         "100000000000000"},
        {"exact tie at the sixteenth digit, to the even digit above", 100000000000001.5, "0",
         "100000000000002"},
        {"exact tie carried through fifteen nines", 999999999999999.5, "0", "1000000000000000"},
        {"seventeen digits kept to fifteen", 99.66650000000001, "0.0000000000000",
         "99.6665000000000"},
        {"subnormal", 4.9406564584124654e-324, "0.0000", "0.0000"},
        {"general", 100.5, "", "100.5"},
        {"general whole", 100.0, "General", "100"},
        {"general sum, ten digits", 0.0680000000000001, "", "0.068"},
        {"general, ten digits rounded", -1523.456789012, "General", "-1523.456789"},
        {"general fifteen digits", 0.1 + 0.2, "", "0.3"},
        {"unknown pattern shows general", 1.5, "0.0%", "1.5"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatNumber(c.value, c.pattern), c.shown) << c.name;
    }
}

/// The rule written plainly: the value to 15 significant digits by printf (exact), then rounded
/// half away from zero at `decimals` on the decimal digits.
std::string PlainFixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", std::fabs(value));  // d.dddddddddddddde+XX
    std::string digits = std::string(1, text[0]) + std::string(text + 2, 14);
    const int exponent = std::atoi(text + 17);
    // Place the digits so that index `units` holds the units digit.
    const int lead = std::max(0, -exponent) + 1;
    digits.insert(0, static_cast<size_t>(lead), '0');
    const int units = exponent + lead;
    const size_t keep = static_cast<size_t>(units + 1 + decimals);
    digits.resize(std::max(digits.size(), keep + 1), '0');
    const bool up = digits[keep] >= '5';
    digits.resize(keep);
    for (size_t i = keep; up && i-- > 0;) {
        if (digits[i] == '9') {
            digits[i] = '0';
        } else {
            ++digits[i];
            break;
        }
    }
    std::string whole = digits.substr(0, static_cast<size_t>(units + 1));
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    const std::string fraction = digits.substr(static_cast<size_t>(units + 1));
    const bool zero = (whole + fraction).find_first_not_of('0') == std::string::npos;
    return (std::signbit(value) && !zero ? "-" : "") + whole + (decimals > 0 ? "." + fraction : "");
}

TEST(FormatNumber, AgreesWithThePlainRuleOverManyValues) {
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int64_t> tenths(-99'999'999, 99'999'999);
    for (int i = 0; i < 60'000; ++i) {
        // Readings, RLs and their sums and differences, and values of any size.
        const double value = i % 3 == 0 ? static_cast<double>(tenths(random)) / 10000.0 +
                                              static_cast<double>(tenths(random)) / 10000.0
                             : i % 3 == 1
                                 ? static_cast<double>(tenths(random)) / 20000.0
                                 : std::ldexp(static_cast<double>(tenths(random)), i % 90 - 60);
        for (const auto& [pattern, decimals] :
             {std::pair{"0.0000", 4}, std::pair{"0.00", 2}, std::pair{"0", 0},
              std::pair{"0.000000000000", 12}}) {
            const std::string plain = PlainFixed(value, decimals);
            ASSERT_EQ(FormatNumber(value, pattern), plain)
                << std::setprecision(17) << value << " as " << pattern;
            // What a check judges is that text read back by the C library.
            const double readBack = std::strtod(plain.c_str(), nullptr);
            ASSERT_EQ(FixedNumberValue(value, decimals), readBack)
                << std::setprecision(17) << value << " at " << decimals;
            ASSERT_EQ(std::signbit(FixedNumberValue(value, decimals)), std::signbit(readBack))
                << std::setprecision(17) << value << " at " << decimals;
        }
    }
    // Values within a few millionths of a unit of the last decimal from a half, at every size up
    // to where the last decimal is the ninth digit: where the fifteen significant digits and the
    // double's own arithmetic part ways, if anywhere.
    std::uniform_int_distribution<int64_t> units(0, 999'999'999);
    for (int i = 0; i < 20'000; ++i) {
        const int decimals = i % 5;
        const double unit = std::pow(10.0, -decimals);
        const auto whole =
            static_cast<double>(units(random) % static_cast<int64_t>(std::pow(10.0, 9 - i % 9)));
        for (const double off : {0.0, 1e-9, -1e-9, 4e-6, -4e-6, 6e-6, -6e-6, 1.1e-5, -1.1e-5}) {
            const double value = (whole + 0.5 + off) * unit;
            const std::string pattern = decimals == 0 ? "0" : "0." + std::string(decimals, '0');
            ASSERT_EQ(FormatNumber(value, pattern), PlainFixed(value, decimals))
                << std::setprecision(17) << value << " as " << pattern;
        }
    }
    // Values past the fifteen digits a double's integer part can show exactly, and below the
    // last of many decimals.
    for (const double value :
         {1e15, 123456789012345678.0, -9.87654321e20, 5e-9, -4.9999e-13, 1.5e300, -2.5e100}) {
        for (const int decimals : {0, 2, 4, 12}) {
            const std::string pattern = decimals == 0 ? "0" : "0." + std::string(decimals, '0');
            EXPECT_EQ(FormatNumber(value, pattern), PlainFixed(value, decimals)) << value;
            EXPECT_EQ(FixedNumberValue(value, decimals),
                      std::strtod(PlainFixed(value, decimals).c_str(), nullptr))
                << value;
        }
    }
}

TEST(FormatNumber, NonFiniteValuesDoNotCrash) {
    EXPECT_FALSE(FormatNumber(std::numeric_limits<double>::infinity(), "0.00").empty());
    EXPECT_FALSE(FormatNumber(std::nan(""), "0.0000").empty());
}

}  // namespace
}  // namespace rendle::grid
