#include "network/NormalOrthometric.h"

#include <cmath>
#include <numbers>
#include <sstream>

#include "core/RunState.h"
#include "grid/Text.h"
#include "network/Network.h"

namespace rendle::network {

GeographicPositions ReadGeographicPositions(std::istream& in, const std::string& name) {
    GeographicPositions positions;
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string_view text = grid::Trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        std::vector<std::string> fields;
        std::stringstream row{std::string(text)};
        for (std::string field; std::getline(row, field, ',');) {
            fields.emplace_back(grid::Trimmed(field));
        }
        const auto fail = [&](const std::string& why) {
            std::string said = name;
            said.append(":").append(std::to_string(number)).append(": ").append(why);
            throw NetworkError(said);
        };
        if (fields.size() != 3) fail("not name,latitude,longitude");
        const std::optional<double> latitude = core::ParseDecimalText(fields[1]);
        const std::optional<double> longitude = core::ParseDecimalText(fields[2]);
        if (!latitude && positions.empty()) continue;  // a header row
        if (!latitude || !longitude) fail("latitude and longitude are decimal degrees");
        if (std::fabs(*latitude) > 90 || std::fabs(*longitude) > 360) {
            fail("a latitude past 90 or a longitude past 360 degrees");
        }
        if (fields[0].empty()) fail("a point without a name");
        if (!positions.emplace(fields[0], Geographic{*latitude, *longitude}).second) {
            fail(fields[0] + " is given twice");
        }
    }
    return positions;
}

double NormalOrthometricCorrection(const Geographic& from, double heightFrom, const Geographic& to,
                                   double heightTo) {
    constexpr double kRadian = std::numbers::pi / 180;
    const double meanHeight = (heightFrom + heightTo) / 2;
    const double meanLatitude = (from.latitude + to.latitude) / 2 * kRadian;
    const double northward = (to.latitude - from.latitude) * kRadian;
    return -kGravityFlattening * meanHeight * std::sin(2 * meanLatitude) * northward;
}

}  // namespace rendle::network
