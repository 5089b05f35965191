// The normal-orthometric correction of levelled height differences: levelled dh between two
// points at different latitudes is not the difference of their heights, the level surfaces
// converging toward the poles. Needs the points' latitudes and approximate heights.
#pragma once

#include <istream>
#include <map>
#include <string>

namespace rendle::network {

/// GRS80's normal-gravity flattening f* = (γp − γe) / γe.
inline constexpr double kGravityFlattening = 0.005302440112;

/// A point's latitude and longitude, decimal degrees, north and east positive.
struct Geographic {
    double latitude = 0;
    double longitude = 0;
};
using GeographicPositions = std::map<std::string, Geographic, std::less<>>;

/// Positions from CSV, read as every CSV file of a job is: `name,latitude,longitude` in decimal
/// degrees a row (a header row if wanted). Throws NetworkError naming the file and line.
GeographicPositions ReadGeographicPositions(std::istream& in, const std::string& name);

/// How the northward part of a section is taken: the difference of the ends' latitudes, or the
/// geodesic between them on GRS80 (its length s and azimuth α₁ at the start, Δφ = s · cos α₁ / R
/// with R GRS80's mean radius), the form Geoscience Australia's GeodePy computes.
enum class NormalOrthometricForm { Latitude, Geodesic };

/// GRS80's mean radius (2a + b) / 3, metres.
inline constexpr double kMeanRadius = 6371008.7714;

/// The correction added to the levelled dh from `from` (height `heightFrom`) to `to`:
/// −f* · H̄ · sin 2φ̄ · Δφ, H̄ and φ̄ the means at the two ends, Δφ in radians, north positive.
double NormalOrthometricCorrection(const Geographic& from, double heightFrom, const Geographic& to,
                                   double heightTo,
                                   NormalOrthometricForm form = NormalOrthometricForm::Latitude);

}  // namespace rendle::network
