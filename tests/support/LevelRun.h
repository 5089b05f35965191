// Builds a level sheet the way a field-book reader leaves it: marker rows and data rows from
// row 5 on, and the run state to match.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/Grid.h"

namespace rendle::testing {

/// One record of a run: a set-up (type "CP") or a sighting ("BS", "IS", "FS").
struct Record {
    Record(std::string type_, std::string station_ = {}, double reading_ = 0.0,
           double distance_ = 0.0)
        : type(std::move(type_)),
          station(std::move(station_)),
          reading(reading_),
          distance(distance_) {}
    std::string type;
    std::string station;
    double reading;
    double distance;
};

inline void FillRun(grid::Grid& sheet, core::RunState& run, const std::vector<Record>& records) {
    core::SetUpLevelSheet(sheet);
    int32_t row = core::kFirstMarkerRow;
    int16_t setUps = 0;
    for (const Record& record : records) {
        if (record.type == "CP") {
            sheet.SetCellText(row, core::kColSightType, "CP");
            ++setUps;
        } else {
            sheet.SetCellText(row, core::kColStation, record.station);
            sheet.SetCellNumber(row, core::kColDist, record.distance);
            const int32_t col = record.type == "BS"   ? core::kColBS
                                : record.type == "IS" ? core::kColIS
                                                      : core::kColFS;
            sheet.SetCellNumber(row, col, record.reading);
            sheet.SetCellText(row, core::kColSightType, record.type);
        }
        ++row;
    }
    run.StationCount = setUps;
    run.FirstDataRow = core::kFirstDataRow;
    run.LastDataRow = static_cast<int16_t>((row - 1) - setUps + 1);
    sheet.SetCellText(2, 6, std::to_string(setUps));
}

}  // namespace rendle::testing
