#include "grid/NumberFormat.h"

#include <algorithm>
#include <array>
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

/// The 15 significant digits a spreadsheet keeps of a finite number's magnitude, and the power
/// of ten of the first: 1523.4567 gives ("152345670000000", 3).
struct Significant {
    std::array<char, 15> digits;
    int exponent;
};

Significant SignificantDigits(double value) {
    const double magnitude = std::fabs(value);
    char buf[64];
    Significant out{};
    out.digits.fill('0');
    // Digits and exponent of to_chars's scientific text "d.ddde[+-]xx" into `all`/`count`.
    std::array<char, 20> all{};
    size_t count = 0;
    int exponent = 0;
    const auto parse = [&](const char* end) {
        const char* p = buf;
        count = 0;
        for (; p != end && *p != 'e'; ++p) {
            if (*p != '.' && count < all.size()) all[count++] = *p;
        }
        const bool negativeExponent = p + 1 < end && p[1] == '-';
        exponent = 0;
        for (p += 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
        if (negativeExponent) exponent = -exponent;
    };

    // The shortest text that reads back to the value comes first, being quick to make. Of a
    // normal number, when it has 15 digits or fewer it is the value rounded to 15 digits (the
    // value lies within half a unit in its last binary place of it, far inside half a unit in
    // the 15th decimal digit). With 16 or 17 digits, rounding it to 15 gives what rounding the
    // value gives, unless it ends on a tie ("5" or "50" past the 15th digit): a half-way point
    // between it and the value would be a shorter or closer text that reads back, which the
    // shortest text is not.
    parse(std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific).ptr);
    const bool normal = std::isnormal(magnitude);
    const bool tie = count > 15 && all[15] == '5' && (count == 16 || all[16] == '0');
    if (!normal || tie) {
        parse(
            std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 14).ptr);
    } else if (count > 15 && all[15] >= '5') {
        // Round the fifteen digits up, carrying into a new first digit when all are nines.
        int i = 14;
        while (i >= 0 && all[static_cast<size_t>(i)] == '9') all[static_cast<size_t>(i--)] = '0';
        if (i < 0) {
            all[0] = '1';
            ++exponent;
        } else {
            ++all[static_cast<size_t>(i)];
        }
    }
    for (size_t n = 0; n < std::min<size_t>(count, 15); ++n) out.digits[n] = all[n];
    out.exponent = exponent;
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
    std::string all;  // integer digits, then the wanted decimals
    all.reserve(static_cast<size_t>(integerLength + fixed.decimals) + 1);
    for (int q = 1 - integerLength; q <= fixed.decimals; ++q) all += digitAt(q);

    // Round half away from zero at the wanted number of decimals.
    size_t integerDigits = static_cast<size_t>(integerLength);
    if (digitAt(fixed.decimals + 1) >= '5') {
        int i = static_cast<int>(all.size()) - 1;
        while (i >= 0 && all[static_cast<size_t>(i)] == '9') all[static_cast<size_t>(i--)] = '0';
        if (i < 0) {
            all.insert(all.begin(), '1');
            ++integerDigits;
        } else {
            ++all[static_cast<size_t>(i)];
        }
    }
    // No leading zeros but one before the decimal point.
    size_t first = 0;
    while (first + 1 < integerDigits && all[first] == '0') ++first;
    const bool allZero = all.find_first_not_of('0') == std::string::npos;

    std::string out;
    out.reserve(all.size() + all.size() / 3 + 3);
    if (negative && !allZero) out += '-';
    for (size_t i = first; i < integerDigits; ++i) {
        if (fixed.grouping && i > first && (integerDigits - i) % 3 == 0) out += ',';
        out += all[i];
    }
    if (fixed.decimals > 0) {
        out += '.';
        out.append(all, integerDigits, std::string::npos);
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
