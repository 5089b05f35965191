#include "readers/SetUpLayout.h"

#include <cmath>
#include <utility>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "grid/NumberFormat.h"

namespace rendle::readers::parts {

namespace {

/// Mean reading and distance of the sights there are, and the first's station.
std::optional<Sight> MeanOf(const std::array<std::optional<Sight>, 2>& sights) {
    std::optional<Sight> mean;
    int count = 0;
    for (const auto& sight : sights) {
        if (!sight) continue;
        if (!mean) {
            mean = *sight;
        } else {
            mean->reading += sight->reading;
            mean->distance += sight->distance;
        }
        ++count;
    }
    if (mean && count > 1) {
        mean->reading /= count;
        mean->distance /= count;
    }
    return mean;
}

/// How many of its last digits the instrument's station difference may be from the readings'.
constexpr double kStoredDifferenceUnits = 3;

}  // namespace

SetUpLayout::SetUpLayout(grid::Grid& sheet, core::RunState& run, ReadWarnings& warnings,
                         RowCounter& rows)
    : sheet_(sheet), run_(run), warnings_(warnings), rows_(rows) {}

bool SetUpLayout::NoSights() const {
    return !backs_[0] && !backs_[1] && !fores_[0] && !fores_[1];
}

bool SetUpLayout::Whole() const {
    for (size_t i = 0; i < static_cast<size_t>(readings_); ++i) {
        if (!backs_[i] || !fores_[i]) return false;
    }
    return true;
}

void SetUpLayout::Take(bool back, int which, Sight sight) {
    auto& slots = back ? backs_ : fores_;
    const char* kind = back ? "backsight" : "foresight";
    const bool paired = which < 0;  // the first free slot of its kind
    size_t slot = 0;
    if (paired) {
        while (slot + 1 < static_cast<size_t>(readings_) && slots[slot]) ++slot;
    } else {
        slot = static_cast<size_t>(std::min(which, 1));
    }
    if (slots[slot]) {
        const bool samePoint = slots[slot]->station == sight.station;
        const bool measuredAgain = back && Whole() && backs_[0] &&
                                   backs_[0]->station == sight.station &&
                                   !(fores_[0] && fores_[0]->station == sight.station);
        if (measuredAgain) {
            // The same back point again instead of the last foresight: the whole set-up was
            // measured again, and the later one is kept.
            Warn(WarningKind::TakenAgain, sight.line,
                 "the set-up from " + sight.station + " was measured again from line " +
                     std::to_string(sight.line) + "; it replaces the one measured from line " +
                     std::to_string(slots[slot]->line));
            backs_ = {};
            fores_ = {};
            intermediates_.clear();  // taken from where the instrument stood before
            z_.reset();
            storedDifference_.reset();
            if (paired) slot = 0;
        } else if (Whole() && !samePoint) {
            LayOut();  // this reading starts the next set-up
            if (paired) slot = 0;
        } else {
            Warn(WarningKind::TakenAgain, sight.line,
                 "the " + std::string(kind) + " to " + sight.station + " was taken again on line " +
                     std::to_string(sight.line) + "; it replaces the reading of line " +
                     std::to_string(slots[slot]->line));
        }
    }
    slots[slot] = std::move(sight);
}

void SetUpLayout::Intermediate(Sight sight, bool alone) {
    intermediates_.push_back(std::move(sight));
    if (alone && NoSights()) LayOut();
}

void SetUpLayout::Height(double z, bool ofIntermediate) {
    if (ofIntermediate && !intermediates_.empty()) {
        intermediates_.back().z = z;
    } else {
        z_ = z;
    }
}

int32_t SetUpLayout::DataRow() const {
    return static_cast<int32_t>(rows_.Row()) - (run_.StationCount - 1);
}

void SetUpLayout::Store(std::string_view sightType, const Sight& sight) {
    const int16_t row = rows_.Row();
    sheet_.SetCellText(row, core::kColStation, sight.station);
    CheckCapacity(rows_);
    sheet_.SetCellNumber(row, core::kColDist, sight.distance);
    WriteReading(sheet_, row, sightType, sight.reading);
}

void SetUpLayout::LayOut() {
    const std::optional<Sight> back = MeanOf(backs_);
    const std::optional<Sight> fore = MeanOf(fores_);
    if (back) {
        if (standing_) {
            standing_ = false;
        } else {
            rows_.Advance(2);  // a new set-up leaves a row for its marker
        }
        sheet_.SetCellText(rows_.Row() - 1, core::kColSightType, core::kMarker);
        run_.StationCount = Counter16(run_.StationCount + 1, "the set-up count");
        Store("BS", *back);
    }
    for (const Sight& sight : intermediates_) {
        rows_.Advance(1);
        Store("IS", sight);
        if (sight.z) run_.instrument.heights.push_back({DataRow(), *sight.z});
    }
    if (fore) {
        rows_.Advance(1);
        Store("FS", *fore);
        if (z_) run_.instrument.heights.push_back({DataRow(), *z_});
    }
    const auto& b = backs_;
    const auto& f = fores_;
    if (b[0] && b[1] && f[0] && f[1]) {
        const double difference = (b[0]->reading - f[0]->reading) - (b[1]->reading - f[1]->reading);
        run_.instrument.stationDifferences.push_back({run_.StationCount, difference});
        // The instrument's own figure, where it stored one, should be the same: within three
        // of its last digits, as it works it out from readings it rounds on their own.
        if (storedDifference_ && std::fabs(*storedDifference_ - difference) >
                                     kStoredDifferenceUnits * storedDifferenceUnit_ + 1e-12) {
            Warn(WarningKind::InstrumentDiffers, storedDifferenceLine_,
                 "the instrument's station difference " +
                     grid::FormatNumber(*storedDifference_, "0.00000") +
                     " m is not the readings' " + grid::FormatNumber(difference, "0.00000") + " m");
        }
    }
    backs_ = {};
    fores_ = {};
    intermediates_.clear();
    z_.reset();
    storedDifference_.reset();
}

void SetUpLayout::Finish() {
    if (!NoSights() || !intermediates_.empty()) LayOut();
}

}  // namespace rendle::readers::parts
