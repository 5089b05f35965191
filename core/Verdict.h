// The one rule by which a figure is judged against its limit: at the precision the two are
// printed, so that the words beside them never contradict the numbers a surveyor reads.
#pragma once

#include <string>

namespace rendle::core {

/// A number printed with `decimals` decimals, rounded half away from zero as the level sheet
/// rounds ("0.0000"): 0.00005 gives "0.0001".
std::string FixedText(double value, int decimals);

/// The value a number has once printed with `decimals` decimals: FixedText read back.
double AsPrinted(double value, int decimals);

/// The decimals that write `value` exactly (0.3 one, 0.02 two, 5 none), up to `most`.
int DecimalsOf(double value, int most = 6);

enum class Bound {
    AtMost,   ///< the figure may not be larger than the limit (a misclose, a sight length)
    AtLeast,  ///< the figure may not be smaller (the shortest sight)
};

/// Whether `figure` keeps to `limit`, both taken as printed with `decimals` decimals (the finer
/// of the precisions the two are printed at, in the unit they are printed in). A figure that
/// prints as its limit is within it, whatever the binary doubles hold beyond the printed digit;
/// a figure that is not a finite number never is.
bool Within(double figure, double limit, int decimals, Bound bound = Bound::AtMost);

}  // namespace rendle::core
