#include "network/NaturalOrder.h"

#include <algorithm>

namespace rendle::network {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// -1, 0 or 1 as `a` orders before, with or after `b`.
int NaturalCompare(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    int zeros = 0;  // the first difference in leading zeros of equal numbers
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const size_t startA = i;
            const size_t startB = j;
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            const size_t digitsA = i;
            const size_t digitsB = j;
            while (i < a.size() && IsDigit(a[i])) ++i;
            while (j < b.size() && IsDigit(b[j])) ++j;
            const std::string_view numberA = a.substr(digitsA, i - digitsA);
            const std::string_view numberB = b.substr(digitsB, j - digitsB);
            if (numberA.size() != numberB.size()) return numberA.size() < numberB.size() ? -1 : 1;
            if (const int c = numberA.compare(numberB); c != 0) return c < 0 ? -1 : 1;
            if (zeros == 0 && digitsA - startA != digitsB - startB) {
                zeros = digitsA - startA < digitsB - startB ? -1 : 1;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    if (zeros != 0) return zeros;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    return NaturalCompare(a, b) < 0;
}

void SortHeightsNaturally(NetworkResult& result) {
    std::stable_sort(result.heights.begin(), result.heights.end(),
                     [](const AdjustedHeight& x, const AdjustedHeight& y) {
                         return NaturalLess(x.point, y.point);
                     });
}

}  // namespace rendle::network
