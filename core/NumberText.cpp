#include "core/NumberText.h"

#include <charconv>
#include <cmath>

namespace rendle::core {

namespace {

// Power of ten of the number's leading digit, so that an out-of-range result can be told apart
// as too large or too small. Saturates well past the double range.
long DecimalMagnitude(std::string_view text) {
    const size_t ePos = text.find('e');
    const std::string_view mantissa = text.substr(0, ePos);
    long exponent = 0;
    if (ePos != std::string_view::npos) {
        std::string_view digits = text.substr(ePos + 1);
        bool negative = false;
        if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
            negative = digits[0] == '-';
            digits.remove_prefix(1);
        }
        for (char c : digits) {
            if (exponent < 1'000'000) exponent = exponent * 10 + (c - '0');
        }
        if (negative) exponent = -exponent;
    }
    long position = -1;  // power of ten of the digit just before the point
    const size_t point = mantissa.find('.');
    const size_t intEnd = point == std::string_view::npos ? mantissa.size() : point;
    for (size_t i = 0; i < mantissa.size(); ++i) {
        const char c = mantissa[i];
        if (c < '1' || c > '9') continue;
        position = i < intEnd ? static_cast<long>(intEnd - i - 1) : -static_cast<long>(i - intEnd);
        return position + exponent;
    }
    return -1'000'000;  // all zeros
}

}  // namespace

std::optional<double> DecimalToDouble(std::string_view canonical) {
    double value = 0.0;
    const auto res = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        if (DecimalMagnitude(canonical) > 0) return std::nullopt;
        return canonical.starts_with('-') ? -0.0 : 0.0;
    }
    if (res.ec != std::errc{} || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace rendle::core
