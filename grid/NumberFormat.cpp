#include "grid/NumberFormat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
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

/// 128-bit integers, which GCC and Clang have on every 64-bit target.
__extension__ using Uint128 = unsigned __int128;

/// 10^0 to 10^22, exactly.
constexpr auto kTenToThe = [] {
    std::array<Uint128, 23> powers{};
    powers[0] = 1;
    for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
    return powers;
}();

/// The fifteen digits of a magnitude from 1e-8 up to 1e15 by exact integer arithmetic: the
/// double is m * 2^q, so m * 10^k * 2^q with k = 14 - exponent is the value scaled to fifteen
/// integer digits, held exactly in 128 bits and rounded to the nearest integer. Zero is fifteen
/// zeros. False outside that range and on an exact tie, which the caller settles the slow way.
bool ExactSignificantDigits(double magnitude, Significant& out) {
    if (magnitude == 0) {
        out.digits.fill('0');
        out.exponent = 0;
        return true;
    }
    if (!(magnitude >= 1e-8 && magnitude < 1e15)) return false;
    // A normal double: magnitude = mantissa / 2^shift, shift > 0 in this range.
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int shift = 1075 - static_cast<int>(bits >> 52);
    // A first guess of the decimal exponent from the binary one (log10 2 ~ 1233 / 4096), off
    // by at most one, which the integer check below puts right.
    const int binaryExponent = static_cast<int>(bits >> 52) - 1023;  // 2^this <= magnitude
    int exponent = binaryExponent >= 0 ? (binaryExponent * 1233) >> 12
                                       : -((-binaryExponent * 1233 + 4095) >> 12);
    static constexpr uint64_t kTen15 = 1'000'000'000'000'000;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int k = 14 - exponent;
        if (k < 0 || k > 22) return false;
        const Uint128 scaled = mantissa * kTenToThe[static_cast<size_t>(k)];
        if (shift >= 128) return false;
        const Uint128 whole = scaled >> shift;
        const Uint128 rest = scaled & ((static_cast<Uint128>(1) << shift) - 1);
        if (whole < kTen15 / 10) {
            --exponent;  // fewer than fifteen digits: the guess was one too high
            continue;
        }
        if (whole >= kTen15) {
            ++exponent;
            continue;
        }
        const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
        if (rest == half) return false;  // a tie
        auto digits = static_cast<uint64_t>(whole) + (rest > half ? 1 : 0);
        if (digits == kTen15) {
            digits /= 10;  // 999...9.5 and up carry into a new first digit
            ++exponent;
        }
        // Two digits at a time from the right, in 32-bit halves.
        static constexpr auto kPairs = [] {
            std::array<char, 200> pairs{};
            for (size_t n = 0; n < 100; ++n) {
                pairs[2 * n] = static_cast<char>('0' + n / 10);
                pairs[2 * n + 1] = static_cast<char>('0' + n % 10);
            }
            return pairs;
        }();
        auto low = static_cast<uint32_t>(digits % 100'000'000);   // the last eight digits
        auto high = static_cast<uint32_t>(digits / 100'000'000);  // the first seven
        const auto putPair = [&](size_t at, uint32_t& rest) {
            const size_t pair = rest % 100;
            rest /= 100;
            out.digits[at] = kPairs[2 * pair];
            out.digits[at + 1] = kPairs[2 * pair + 1];
        };
        for (size_t at : {13, 11, 9, 7}) putPair(at, low);
        for (size_t at : {5, 3, 1}) putPair(at, high);
        out.digits[0] = static_cast<char>('0' + high);
        out.exponent = exponent;
        return true;
    }
    return false;
}

/// The fifteen significant digits of a finite number's magnitude, rounded from its exact binary
/// value (an exact tie to the even digit). The integer arithmetic above gives those of a level
/// sheet's numbers at a fraction of the cost of the standard library's, which does the rest.
Significant SignificantDigits(double value) {
    const double magnitude = std::fabs(value);
    if (Significant exact{}; ExactSignificantDigits(magnitude, exact)) return exact;
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
    // General shows at most ten significant digits, as spreadsheets do: a sum such as
    // 0.0680000000000001 shows as 0.068. The cell keeps its full value.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 10);
    std::string text(buf, res.ptr);
    if (text == "-0") text = "0";
    return text;
}

}  // namespace rendle::grid
