// Display text of a number under a spreadsheet number format.
#pragma once

#include <string>
#include <string_view>

namespace rendle::grid {

/// The number as a spreadsheet shows it under `pattern`. Patterns of the form "0", "0.00",
/// "#,##0.0000" fix the decimals: the number is first written to 15 significant digits and then
/// rounded half away from zero on those decimal digits, so 2.675 under "0.00" shows "2.68".
/// An empty pattern, "General" or one this grid does not know shows at most 10 significant
/// digits, as a spreadsheet's General format does.
std::string FormatNumber(double value, std::string_view pattern);

/// A number format read once, for the many numbers shown under it: fixed decimals (with a
/// thousands separator or not), or General.
struct NumberPattern {
    bool fixed = false;
    int decimals = 0;
    bool grouping = false;
};
NumberPattern ParseNumberPattern(std::string_view pattern);
/// FormatNumber under a pattern already read.
std::string FormatNumber(double value, const NumberPattern& pattern);

/// The number under the pattern of `decimals` fixed decimals ("0.0000" for 4), as FormatNumber
/// shows it.
std::string FixedNumberText(double value, int decimals);

/// The number as that text reads back: 2.675 at 2 decimals is 2.68 (the double nearest it).
/// What a check judges, so that its verdict never contradicts the figures it prints.
double FixedNumberValue(double value, int decimals);

/// Up to 15 significant digits, no trailing zeros, full stop as decimal point whatever the
/// locale: 100.5 gives "100.5", 100 gives "100".
std::string GeneralNumberText(double value);

/// Ordinary decimal text of a number with up to 15 significant digits and never an exponent:
/// 0.00001 is "0.00001", 1E20 is "100000000000000000000", 100.5 is "100.5".
std::string PlainDecimalText(double value);

}  // namespace rendle::grid
