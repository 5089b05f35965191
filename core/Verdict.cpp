#include "core/Verdict.h"

#include <algorithm>
#include <cmath>

#include "core/NumberText.h"
#include "grid/NumberFormat.h"

namespace rendle::core {

std::string FixedText(double value, int decimals) {
    const std::string pattern =
        decimals > 0 ? "0." + std::string(static_cast<size_t>(decimals), '0') : std::string("0");
    return grid::FormatNumber(value, pattern);
}

double AsPrinted(double value, int decimals) {
    if (!std::isfinite(value)) return value;
    return DecimalToDouble(FixedText(value, decimals)).value_or(value);
}

int DecimalsOf(double value, int most) {
    int decimals = 0;
    for (double scaled = std::fabs(value);
         decimals < most && std::fabs(scaled - std::round(scaled)) > 1e-6 * std::max(1.0, scaled);
         scaled *= 10) {
        ++decimals;
    }
    return decimals;
}

bool Within(double figure, double limit, int decimals, Bound bound) {
    if (!std::isfinite(figure) || !std::isfinite(limit)) return false;
    const double shown = AsPrinted(figure, decimals);
    const double allowed = AsPrinted(limit, decimals);
    return bound == Bound::AtMost ? shown <= allowed : shown >= allowed;
}

}  // namespace rendle::core
