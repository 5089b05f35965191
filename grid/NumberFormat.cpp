#include "grid/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>

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

/// The 15 significant digits a spreadsheet keeps of a finite number's magnitude, and the power
/// of ten of the first: 1523.4567 gives ("152345670000000", 3).
struct Significant {
    std::array<char, 15> digits;
    int exponent;
};

/// The fifteen significant digits of a finite number's magnitude, rounded from its exact binary
/// value (an exact tie to the even digit) by the standard library.
Significant SignificantDigits(double value) {
    const double magnitude = std::fabs(value);
    char text[32];
    const char* end =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 14).ptr;
    // "d.dddddddddddddde[+-]xx"
    Significant out{};
    out.digits[0] = text[0];
    std::copy(text + 2, text + 16, out.digits.begin() + 1);
    int exponent = 0;
    std::from_chars(text + 18, end, exponent);
    out.exponent = text[17] == '-' ? -exponent : exponent;
    return out;
}

std::string FormatFixed(double value, const FixedPattern& fixed) {
    if (!std::isfinite(value)) return GeneralNumberText(value);
    const bool negative = std::signbit(value);
    const Significant significant = SignificantDigits(value);

    // value = 0.d1d2...d15 * 10^pointPos; the digit in decimal place q (0 the units, 1 the first
    // decimal, -1 the tens) is d at index pointPos + q - 1, zero outside the fifteen.
    const int pointPos = significant.exponent + 1;
    const auto digitAt = [&](int q) {
        const int m = pointPos + q - 1;
        return m >= 0 && m < 15 ? significant.digits[static_cast<size_t>(m)] : '0';
    };
    const int integerLength = std::max(pointPos, 1);
    // Integer digits, then the wanted decimals, after a place for a carry into a new digit.
    const size_t length = static_cast<size_t>(integerLength) + static_cast<size_t>(fixed.decimals);
    std::string digits(length + 1, '0');
    for (size_t j = 0; j < length; ++j) {
        digits[j + 1] = digitAt(static_cast<int>(j) + 1 - integerLength);
    }

    // Round half away from zero at the wanted number of decimals.
    size_t integerDigits = static_cast<size_t>(integerLength);
    const char* all = digits.data() + 1;
    if (digitAt(fixed.decimals + 1) >= '5') {
        size_t i = length;
        while (digits[i] == '9') digits[i--] = '0';
        ++digits[i];
        if (i == 0) {
            all = digits.data();  // carried into a new first digit
            ++integerDigits;
        }
    }
    size_t first = 0;
    const size_t total = integerDigits + static_cast<size_t>(fixed.decimals);
    // No leading zeros but one before the decimal point.
    while (first + 1 < integerDigits && all[first] == '0') ++first;
    bool allZero = true;
    for (size_t j = 0; j < total && allZero; ++j) allZero = all[j] == '0';

    std::string out;
    out.reserve(total + (integerDigits - first) / 3 + 3);
    if (negative && !allZero) out += '-';
    if (fixed.grouping) {
        for (size_t i = first; i < integerDigits; ++i) {
            if (i > first && (integerDigits - i) % 3 == 0) out += ',';
            out += all[i];
        }
    } else {
        out.append(all + first, integerDigits - first);
    }
    if (fixed.decimals > 0) {
        out += '.';
        out.append(all + integerDigits, static_cast<size_t>(fixed.decimals));
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
    const Significant significant = SignificantDigits(value);
    std::string digits(significant.digits.data(), significant.digits.size());
    const int exponent = significant.exponent;
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
