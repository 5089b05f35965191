#include "core/RunState.h"

#include <charconv>
#include <cmath>

#include "grid/NumberFormat.h"

namespace rendle::core {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<double> ParseDecimalText(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);

    std::string number;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
    }
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) number += text[i++], ++digits;
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && IsDigit(text[i])) number += text[i++], ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        number += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
        size_t expDigits = 0;
        while (i < text.size() && IsDigit(text[i])) number += text[i++], ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    double value = 0.0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // Out of range below (a large negative exponent) is simply 0; above, too large for a
        // double.
        const size_t ePos = number.find('e');
        if (ePos != std::string::npos && ePos + 1 < number.size() && number[ePos + 1] == '-') {
            return 0.0;
        }
        return std::nullopt;
    }
    if (res.ec != std::errc{} || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> RLToNumber(const RLValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return 0.0;
    if (const double* number = std::get_if<double>(&value)) return *number;
    return ParseDecimalText(std::get<std::string>(value));
}

std::string RLText(const RLValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return {};
    if (const double* number = std::get_if<double>(&value)) return grid::GeneralNumberText(*number);
    return std::get<std::string>(value);
}

}  // namespace rendle::core
