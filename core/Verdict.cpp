#include "core/Verdict.h"

#include <algorithm>
#include <cmath>

#include "grid/NumberFormat.h"

namespace rendle::core {

std::string FixedText(double value, int decimals) {
    return grid::FixedNumberText(value, decimals);
}

double AsPrinted(double value, int decimals) {
    return grid::FixedNumberValue(value, decimals);
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
