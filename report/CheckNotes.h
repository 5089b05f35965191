// The checks of a run in sentences, for the tooltips of the misclose, permissible-error and
// length cells: the same checks the Checks block and the JSON document give.
#pragma once

#include <string>

#include "core/Checks.h"

namespace rendle::report {

/// The station differences and the instrument's heights in words ("; largest station difference
/// 0.0003 m at set-up 2 ..."), empty for a book that has neither.
std::string InstrumentNotes(const core::RunChecks& checks);

/// The tooltip of the misclose cell, in sentences: the verdict, the arithmetic check with its
/// three sums and the instrument's own checks; why the run was not reduced when it was not.
std::string MiscloseNote(const core::RunChecks& checks);
/// The tooltip of the permissible-error cell: the tolerance it was worked out with.
std::string PermissibleNote(const core::RunChecks& checks);
/// The tooltip of the length cell: the sight balance, naming the set-up of the largest
/// imbalance.
std::string BalanceNote(const core::RunChecks& checks);

}  // namespace rendle::report
