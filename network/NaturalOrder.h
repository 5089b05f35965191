// Points in the order a surveyor lists them: BM2 before BM10, runs of digits compared as numbers.
#pragma once

#include <string_view>

#include "network/Network.h"

namespace rendle::network {

/// True when `a` comes before `b`: text compared byte by byte, runs of digits by their value
/// (leading zeros skipped; of two equal values the one with fewer zeros first), and names that
/// are still the same by that (BM02 and BM2 aside) by their bytes.
bool NaturalLess(std::string_view a, std::string_view b);

/// The heights of `result` in natural order of their names.
void SortHeightsNaturally(NetworkResult& result);

}  // namespace rendle::network
