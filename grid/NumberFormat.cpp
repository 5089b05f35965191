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

/// The 15 significant digits a spreadsheet keeps of a finite number's magnitude, as an integer,
/// and the power of ten of the first: 1523.4567 gives (152345670000000, 3). Zero is (0, 0).
struct Significant {
    uint64_t digits;
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

constexpr uint64_t kTen15 = 1'000'000'000'000'000;

/// 10^0 to 10^22, the powers of ten a double holds exactly.
constexpr std::array<double, 23> kExactTens = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

/// The fifteen digits of a magnitude from 1e-8 up to 1e15 by exact integer arithmetic: the
/// double is m * 2^q, so m * 10^k * 2^q with k = 14 - exponent is the value scaled to fifteen
/// integer digits, held exactly in 128 bits and rounded to the nearest integer. False outside
/// that range and on an exact tie, which the caller settles the slow way.
bool ExactSignificantDigits(double magnitude, Significant& out) {
    if (magnitude == 0) {
        out = {0, 0};
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
        out = {digits, exponent};
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
    Significant out{0, 0};
    out.digits = static_cast<uint64_t>(text[0] - '0');
    for (const char* c = text + 2; c < text + 16; ++c) {
        out.digits = out.digits * 10 + static_cast<uint64_t>(*c - '0');
    }
    int exponent = 0;
    std::from_chars(text + 18, end, exponent);
    out.exponent = text[17] == '-' ? -exponent : exponent;
    return out;
}

/// The magnitude of a number below 10^9 at `decimals` decimals, as an integer, where the
/// double arithmetic cannot put it on the wrong side of a half: the product is within 1.1e-7 of
/// the exact one, and the fifteen significant digits move the value by at most half their last
/// place, 5e-7 of that integer's units, so a fraction more than 1e-5 away from a half (a
/// margin of some ten times both) rounds alike either way. False near a half, which the exact
/// digits settle.
bool QuickFixed(double magnitude, int decimals, uint64_t& scaled) {
    if (decimals > 9) return false;
    const double product = magnitude * kExactTens[static_cast<size_t>(decimals)];
    if (!(product < 1e9)) return false;
    const auto whole = static_cast<uint64_t>(product);  // its floor, for it is not negative
    const double fraction = product - static_cast<double>(whole);  // exact
    if (std::fabs(fraction - 0.5) <= 1e-5) return false;
    scaled = whole + (fraction > 0.5 ? 1 : 0);
    return true;
}

/// A finite number's magnitude at `decimals` decimals as the integer `scaled` followed by
/// `zeros` zeros, rounded half away from zero from its fifteen significant digits.
void FixedDigits(double value, int decimals, uint64_t& scaled, size_t& zeros) {
    zeros = 0;
    if (QuickFixed(std::fabs(value), decimals, scaled)) return;
    // value = digits * 10^(exponent - 14), so at the wanted decimals digits * 10^k.
    const Significant significant = SignificantDigits(value);
    const int k = significant.exponent - 14 + decimals;
    scaled = significant.digits;
    if (scaled == 0) {
        // nothing to scale
    } else if (k >= 0) {
        zeros = static_cast<size_t>(k);
    } else if (k < -15) {
        scaled = 0;  // below a tenth of the last decimal
    } else {
        const auto unit = static_cast<uint64_t>(kTenToThe[static_cast<size_t>(-k)]);
        const uint64_t rest = scaled % unit;
        scaled = scaled / unit + (rest >= unit - rest ? 1 : 0);
    }
}

std::string FormatFixed(double value, const FixedPattern& fixed) {
    if (!std::isfinite(value)) return GeneralNumberText(value);
    // The number at the wanted decimals as an integer: `decimals` of its digits follow the
    // decimal point.
    uint64_t scaled = 0;
    size_t zeros = 0;
    FixedDigits(value, fixed.decimals, scaled, zeros);
    char text[24];  // the digits of scaled
    const auto length =
        static_cast<size_t>(std::to_chars(text, text + sizeof text, scaled).ptr - text);
    const size_t count = length + zeros;  // digits of the scaled integer
    const auto digitAt = [&](size_t i) { return i < length ? text[i] : '0'; };
    const auto decimals = static_cast<size_t>(fixed.decimals);
    // The integer part: what comes before the last `decimals` digits, or a single zero.
    const size_t integerDigits = count > decimals ? count - decimals : 0;

    // Written in place, on the stack for the numbers of a level sheet: a sign, the integer
    // digits with a comma every three, the decimals.
    const size_t most = std::max<size_t>(integerDigits, 1) * 4 / 3 + decimals + 3;
    std::array<char, 48> small{};
    std::string large;
    if (most > small.size()) large.resize(most);
    char* const begin = most > small.size() ? large.data() : small.data();
    char* at = begin;
    if (std::signbit(value) && scaled != 0) *at++ = '-';
    if (integerDigits == 0) *at++ = '0';
    for (size_t i = 0; i < integerDigits; ++i) {
        if (fixed.grouping && i > 0 && (integerDigits - i) % 3 == 0) *at++ = ',';
        *at++ = digitAt(i);
    }
    if (decimals > 0) {
        *at++ = '.';
        for (size_t i = count; i < decimals; ++i) *at++ = '0';
        for (size_t i = integerDigits; i < count; ++i) *at++ = digitAt(i);
    }
    return {begin, static_cast<size_t>(at - begin)};
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
    std::string digits = std::to_string(significant.digits);
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

std::string FixedNumberText(double value, int decimals) {
    return FormatFixed(value, FixedPattern{std::max(decimals, 0), false});
}

double FixedNumberValue(double value, int decimals) {
    if (!std::isfinite(value)) return value;
    const int places = std::max(decimals, 0);
    uint64_t scaled = 0;
    size_t zeros = 0;
    FixedDigits(value, places, scaled, zeros);
    // An integer below 2^53 and 10^places up to 10^22 are exact doubles: one division gives the
    // nearest double to the decimal, as the decimal conversion of its text would.
    if (zeros == 0 && scaled < (uint64_t{1} << 53) &&
        static_cast<size_t>(places) < kExactTens.size()) {
        const double read = static_cast<double>(scaled) / kExactTens[static_cast<size_t>(places)];
        return std::signbit(value) && scaled != 0 ? -read : read;
    }
    const std::string text = FixedNumberText(value, places);
    double read = value;
    std::from_chars(text.data(), text.data() + text.size(), read);
    return read;
}

NumberPattern ParseNumberPattern(std::string_view pattern) {
    const std::optional<FixedPattern> fixed = ParseFixedPattern(pattern);
    if (!fixed) return {};
    return {true, fixed->decimals, fixed->grouping};
}

std::string FormatNumber(double value, std::string_view pattern) {
    return FormatNumber(value, ParseNumberPattern(pattern));
}

std::string FormatNumber(double value, const NumberPattern& pattern) {
    if (pattern.fixed) return FormatFixed(value, FixedPattern{pattern.decimals, pattern.grouping});
    // General shows at most ten significant digits, as spreadsheets do: a sum such as
    // 0.0680000000000001 shows as 0.068. The cell keeps its full value.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 10);
    std::string text(buf, res.ptr);
    if (text == "-0") text = "0";
    return text;
}

}  // namespace rendle::grid
