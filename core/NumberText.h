// Conversion of decimal number text to a double, the same whatever the user's locale.
#pragma once

#include <optional>
#include <string_view>

namespace rendle::core {

/// Converts "[-]digits[.digits][e[+|-]digits]" (at least one mantissa digit, full stop as
/// decimal point) to a double. A number too small for a double gives 0; one too large for a
/// double gives nothing.
std::optional<double> DecimalToDouble(std::string_view canonical);

}  // namespace rendle::core
