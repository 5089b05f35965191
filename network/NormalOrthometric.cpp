#include "network/NormalOrthometric.h"

#include <cmath>
#include <numbers>

namespace rendle::network {

double NormalOrthometricCorrection(const Geographic& from, double heightFrom, const Geographic& to,
                                   double heightTo) {
    constexpr double kRadian = std::numbers::pi / 180;
    const double meanHeight = (heightFrom + heightTo) / 2;
    const double meanLatitude = (from.latitude + to.latitude) / 2 * kRadian;
    const double northward = (to.latitude - from.latitude) * kRadian;
    return -kGravityFlattening * meanHeight * std::sin(2 * meanLatitude) * northward;
}

}  // namespace rendle::network
