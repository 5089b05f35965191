#include "core/RunState.h"

#include "core/NumberText.h"
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

    return DecimalToDouble(number);
}

std::optional<double> ParseDecimalCommaText(std::string_view text) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos ||
        text.find_first_of(",.", comma + 1) != std::string_view::npos ||
        text.find('.') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string point(text);
    point[comma] = '.';
    return ParseDecimalText(point);
}

std::optional<double> RLToNumber(const RLValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return 0.0;
    if (const double* number = std::get_if<double>(&value)) return *number;
    const std::string& text = std::get<std::string>(value);
    // An RL typed with a decimal comma reads as the sheet's reading columns read one.
    if (const std::optional<double> number = ParseDecimalText(text)) return number;
    return ParseDecimalCommaText(text);
}

std::string RLText(const RLValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return {};
    if (const double* number = std::get_if<double>(&value)) return grid::PlainDecimalText(*number);
    return std::get<std::string>(value);
}

}  // namespace rendle::core

namespace rendle::core {

bool IsEmptyRL(const RLValue& value) {
    if (std::holds_alternative<std::monostate>(value)) return true;
    const auto* text = std::get_if<std::string>(&value);
    return text && text->find_first_not_of(" \t") == std::string::npos;
}

}  // namespace rendle::core
