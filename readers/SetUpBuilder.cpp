#include "readers/SetUpBuilder.h"

#include <cmath>
#include <utility>

#include "core/Checks.h"

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

SetUpBuilder::SetUpBuilder(core::LevelRun& run, ReadWarnings& warnings)
    : run_(run), warnings_(warnings) {}

bool SetUpBuilder::NoSights() const {
    return !backs_[0] && !backs_[1] && !fores_[0] && !fores_[1];
}

bool SetUpBuilder::Whole() const {
    for (size_t i = 0; i < static_cast<size_t>(readings_); ++i) {
        if (!backs_[i] || !fores_[i]) return false;
    }
    return true;
}

void SetUpBuilder::Take(bool back, int which, Sight sight) {
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
        // A backsight on the point of the whole set-up's foresight is the next set-up's, whatever
        // the names: turning points the recorder leaves unnamed ("0") all share one.
        const bool onForePoint =
            back && Whole() && fores_[0] && fores_[0]->station == sight.station;
        const bool measuredAgain =
            back && Whole() && backs_[0] && backs_[0]->station == sight.station && !onForePoint;
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
            storedRunning_.reset();
            if (paired) slot = 0;
        } else if (Whole() && (!samePoint || onForePoint)) {
            Close(sight.line);  // this reading starts the next set-up
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

void SetUpBuilder::Intermediate(Sight sight, bool alone) {
    intermediates_.push_back(std::move(sight));
    if (alone && NoSights()) Close(intermediates_.back().line);
}

void SetUpBuilder::Height(double z, bool ofIntermediate, double unit) {
    if (ofIntermediate && !intermediates_.empty()) {
        intermediates_.back().z = z;
        intermediates_.back().zUnit = unit;
    } else {
        z_ = z;
        zUnit_ = unit;
    }
}

core::Sight SetUpBuilder::Sighted(core::SightKind kind, const Sight& sight) {
    return {kind, sight.station, sight.reading, sight.distance, sight.z, sight.line, sight.zUnit};
}

void SetUpBuilder::Close(size_t line) {
    const std::optional<Sight> back = MeanOf(backs_);
    const std::optional<Sight> fore = MeanOf(fores_);
    core::SetUp setUp;
    setUp.marker = back.has_value();
    setUp.line = back ? back->line : 0;
    setUp.closedAt = line;
    if (back) setUp.sights.push_back(Sighted(core::SightKind::Back, *back));
    for (const Sight& sight : intermediates_) {
        setUp.sights.push_back(Sighted(core::SightKind::Intermediate, sight));
    }
    if (fore) {
        setUp.sights.push_back(Sighted(core::SightKind::Fore, *fore));
        setUp.sights.back().z = z_;
        setUp.sights.back().zUnit = zUnit_;
    }
    const auto& b = backs_;
    const auto& f = fores_;
    if (b[0] && b[1] && f[0] && f[1]) {
        const double difference = (b[0]->reading - f[0]->reading) - (b[1]->reading - f[1]->reading);
        setUp.stationDifference = difference;
        // The instrument's own figure, where it stored one, should be the same: within three
        // of its last digits, as it works it out from readings it rounds on their own.
        if (storedDifference_ && std::fabs(*storedDifference_ - difference) >
                                     kStoredDifferenceUnits * storedDifferenceUnit_ + 1e-12) {
            const int decimals = core::MillimetreDecimals(std::nullopt, storedDifferenceUnit_);
            Warn(WarningKind::InstrumentDiffers, storedDifferenceLine_,
                 "the instrument's station difference " +
                     core::MillimetreText(*storedDifference_, decimals) +
                     " mm is not the readings' " + core::MillimetreText(difference, decimals) +
                     " mm");
        }
        // The running one goes on from the last the instrument stored, so that the rounding of
        // a long line's readings does not add up.
        running_ += difference;
        if (storedRunning_ && std::fabs(*storedRunning_ - running_) >
                                  kStoredDifferenceUnits * storedRunningUnit_ + 1e-12) {
            const int decimals = core::MillimetreDecimals(std::nullopt, storedRunningUnit_);
            Warn(WarningKind::InstrumentDiffers, storedRunningLine_,
                 "the instrument's running station difference " +
                     core::MillimetreText(*storedRunning_, decimals) + " mm is not the " +
                     core::MillimetreText(running_, decimals) +
                     " mm its station differences add up to");
        }
    }
    if (storedRunning_) running_ = *storedRunning_;
    run_.setUps.push_back(std::move(setUp));
    backs_ = {};
    fores_ = {};
    intermediates_.clear();
    z_.reset();
    storedDifference_.reset();
    storedRunning_.reset();
}

void SetUpBuilder::Finish(size_t line) {
    if (!NoSights() || !intermediates_.empty()) Close(line);
}

}  // namespace rendle::readers::parts
