#include "network/NormalOrthometric.h"

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <numbers>

namespace rendle::network {

namespace {

/// Δφ, radians north positive, as `form` takes it.
double Northward(const Geographic& from, const Geographic& to, NormalOrthometricForm form) {
    constexpr double kRadian = std::numbers::pi / 180;
    if (form == NormalOrthometricForm::Latitude) return (to.latitude - from.latitude) * kRadian;
    static const GeographicLib::Geodesic grs80(6378137.0, 1 / 298.257222101);
    double length = 0;
    double azimuthFrom = 0;
    double azimuthTo = 0;
    grs80.Inverse(from.latitude, from.longitude, to.latitude, to.longitude, length, azimuthFrom,
                  azimuthTo);
    return length * std::cos(azimuthFrom * kRadian) / kMeanRadius;
}

}  // namespace

double NormalOrthometricCorrection(const Geographic& from, double heightFrom, const Geographic& to,
                                   double heightTo, NormalOrthometricForm form) {
    constexpr double kRadian = std::numbers::pi / 180;
    const double meanHeight = (heightFrom + heightTo) / 2;
    const double meanLatitude = (from.latitude + to.latitude) / 2 * kRadian;
    return -kGravityFlattening * meanHeight * std::sin(2 * meanLatitude) *
           Northward(from, to, form);
}

}  // namespace rendle::network
