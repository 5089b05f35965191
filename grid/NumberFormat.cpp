#include "grid/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

namespace rendle::grid {

namespace {

struct FixedPattern {
    int decimals = 0;
    bool grouping = false;
};

// Accepts an integer part of '0', '#' and ',' with at least one '0' or '#', then optionally a
// full stop and '0's.
std::optional<FixedPattern> ParseFixedPattern(std::string_view pattern) {
    FixedPattern fixed;
    size_t i = 0;
    bool digits = false;
    while (i < pattern.size() && (pattern[i] == '0' || pattern[i] == '#' || pattern[i] == ',')) {
        if (pattern[i] == ',')
            fixed.grouping = true;
        else
            digits = true;
        ++i;
    }
    if (!digits) return std::nullopt;
    if (i < pattern.size() && pattern[i] == '.') {
        ++i;
        while (i < pattern.size() && pattern[i] == '0') {
            ++fixed.decimals;
            ++i;
        }
    }
    if (i != pattern.size()) return std::nullopt;
    return fixed;
}

void GroupThousands(std::string& integerDigits) {
    for (ptrdiff_t pos = static_cast<ptrdiff_t>(integerDigits.size()) - 3; pos > 0; pos -= 3) {
        integerDigits.insert(static_cast<size_t>(pos), 1, ',');
    }
}

/// The 15 significant digits a spreadsheet keeps of a finite number's magnitude, and the power
/// of ten of the first: 1523.4567 gives ("152345670000000", 3).
std::pair<std::string, int> SignificantDigits(double value) {
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));  // d.ddd...e[+-]x
    const size_t ePos = sci.find('e');
    std::string digits;
    digits += sci[0];
    digits.append(sci.substr(2, ePos - 2));
    return {digits, std::atoi(std::string(sci.substr(ePos + 1)).c_str())};
}

std::string FormatFixed(double value, const FixedPattern& fixed) {
    if (!std::isfinite(value)) return GeneralNumberText(value);
    const bool negative = std::signbit(value);
    const auto [mantissa, exponent] = SignificantDigits(value);

    // Lay the digits out as integer digits and decimals: value = 0.mantissa * 10^(exponent + 1).
    const int pointPos = exponent + 1;  // digits of mantissa before the decimal point
    std::string integerDigits;
    std::string decimals;
    const int mantissaLen = static_cast<int>(mantissa.size());
    if (pointPos <= 0) {
        integerDigits = "0";
        decimals.assign(static_cast<size_t>(-pointPos), '0');
        decimals += mantissa;
    } else if (pointPos >= mantissaLen) {
        integerDigits = mantissa;
        integerDigits.append(static_cast<size_t>(pointPos - mantissaLen), '0');
    } else {
        integerDigits = mantissa.substr(0, static_cast<size_t>(pointPos));
        decimals = mantissa.substr(static_cast<size_t>(pointPos));
    }

    // Round half away from zero at the wanted number of decimals.
    const bool roundUp = decimals.size() > static_cast<size_t>(fixed.decimals) &&
                         decimals[static_cast<size_t>(fixed.decimals)] >= '5';
    decimals.resize(static_cast<size_t>(fixed.decimals), '0');
    if (roundUp) {
        std::string all = integerDigits + decimals;
        int i = static_cast<int>(all.size()) - 1;
        while (i >= 0 && all[static_cast<size_t>(i)] == '9') all[static_cast<size_t>(i--)] = '0';
        if (i < 0)
            all.insert(all.begin(), '1');
        else
            ++all[static_cast<size_t>(i)];
        integerDigits = all.substr(0, all.size() - decimals.size());
        decimals = all.substr(all.size() - decimals.size());
    }
    integerDigits.erase(0,
                        std::min(integerDigits.find_first_not_of('0'), integerDigits.size() - 1));

    const bool allZero =
        integerDigits == "0" && decimals.find_first_not_of('0') == std::string::npos;
    if (fixed.grouping) GroupThousands(integerDigits);
    std::string out = (negative && !allZero) ? "-" : "";
    out += integerDigits;
    if (fixed.decimals > 0) {
        out += '.';
        out += decimals;
    }
    return out;
}

}  // namespace

std::string GeneralNumberText(double value) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string text(buf, res.ptr);
    if (text == "-0") text = "0";
    return text;
}

std::string PlainDecimalText(double value) {
    if (!std::isfinite(value) || value == 0.0) return GeneralNumberText(value);
    auto [digits, exponent] = SignificantDigits(value);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    // value = 0.digits * 10^(exponent + 1): lay the digits out around the decimal point.
    const int pointPos = exponent + 1;
    const int count = static_cast<int>(digits.size());
    std::string text = std::signbit(value) ? "-" : "";
    if (pointPos <= 0) {
        text += "0.";
        text.append(static_cast<size_t>(-pointPos), '0');
        text += digits;
    } else if (pointPos >= count) {
        text += digits;
        text.append(static_cast<size_t>(pointPos - count), '0');
    } else {
        text += digits.substr(0, static_cast<size_t>(pointPos));
        text += '.';
        text += digits.substr(static_cast<size_t>(pointPos));
    }
    return text;
}

std::string FormatNumber(double value, std::string_view pattern) {
    if (auto fixed = ParseFixedPattern(pattern)) return FormatFixed(value, *fixed);
    return GeneralNumberText(value);
}

}  // namespace rendle::grid
