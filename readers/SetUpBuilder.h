// A set-up of a levelling line read twice or out of sheet order (the M5 methods other than BF,
// every GSI line), gathered reading by reading and closed into the run as a BF book gives it:
// one backsight with the mean of its back readings, its intermediate sights, one foresight with
// the mean of its fore readings; the instrument's heights and station differences for the
// checks. The Zeiss M5 and the Leica GSI readers both gather their set-ups here.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/LevelRun.h"
#include "readers/ReadResult.h"
#include "readers/ReaderParts.h"

namespace rendle::readers::parts {

/// One sight of a set-up.
struct Sight {
    std::string station;
    double reading = 0;
    double distance = 0;
    std::optional<double> z;  ///< the instrument's height of the point, for an intermediate
    size_t line = 0;          ///< the field-book line it was read on
    double zUnit = 0;         ///< the last digit z is stored to, m
};

class SetUpBuilder {
  public:
    /// Closes each set-up into `run`.
    SetUpBuilder(core::LevelRun& run, ReadWarnings& warnings);

    /// How many back and fore readings make a set-up whole: 1 (BF, aBF) or 2 (BFFB ...).
    void SetReadings(int readings) { readings_ = readings; }
    int Readings() const { return readings_; }
    /// A back or fore reading; `which` is 0 or 1 for the first or second reading of its kind,
    /// -1 for the next one of the set-up (readings paired by their order). A reading that the
    /// open set-up already holds starts the next set-up when the set-up is whole and the point
    /// is another; on the same point, or before the set-up is whole, it was taken again and
    /// replaces the earlier reading. A backsight to the set-up's own back point after the
    /// set-up is whole is the set-up measured again, which replaces it. Each replacement is
    /// told as a warning with its line.
    void Take(bool back, int which, Sight sight);
    /// An intermediate sight of the open set-up, given between its backsight and foresight in the
    /// order taken, wherever it was booked. `alone`: one taken outside any set-up is closed at
    /// once on its own.
    void Intermediate(Sight sight, bool alone = false);
    /// The instrument's height of the open set-up's foresight point, or of its last
    /// intermediate sight, stored to the last digit `unit` (m; 0: the book's finest digit).
    void Height(double z, bool ofIntermediate, double unit);
    /// The station difference the instrument stored for the open set-up, on `line`, to the
    /// last digit `unit` (m).
    void StoredDifference(double metres, size_t line, double unit) {
        storedDifference_ = metres;
        storedDifferenceLine_ = line;
        storedDifferenceUnit_ = unit;
    }
    /// The running station difference the instrument stored for the open set-up (the sum of
    /// the line's station differences so far), on `line`, to the last digit `unit` (m).
    void StoredRunningDifference(double metres, size_t line, double unit) {
        storedRunning_ = metres;
        storedRunningLine_ = line;
        storedRunningUnit_ = unit;
    }
    bool HasFore() const { return fores_[0] || fores_[1]; }
    /// True while the open set-up holds no back or fore reading.
    bool NoSights() const;
    /// Closes what the open set-up holds; `line` is the line being read.
    void Finish(size_t line);

  private:
    bool Whole() const;
    void Close(size_t line);
    static core::Sight Sighted(core::SightKind kind, const Sight& sight);
    void Warn(WarningKind kind, size_t line, std::string text) {
        warnings_.Add(kind, line, std::move(text));
    }
    core::LevelRun& run_;
    ReadWarnings& warnings_;
    int readings_ = 1;
    std::array<std::optional<Sight>, 2> backs_;
    std::array<std::optional<Sight>, 2> fores_;
    std::vector<Sight> intermediates_;
    std::optional<double> z_;  ///< the instrument's height of the foresight point
    double zUnit_ = 0;
    std::optional<double> storedDifference_;
    size_t storedDifferenceLine_ = 0;
    double storedDifferenceUnit_ = 0.00001;
    std::optional<double> storedRunning_;
    size_t storedRunningLine_ = 0;
    double storedRunningUnit_ = 0.00001;
    /// The running station difference carried to the open set-up: the instrument's last stored
    /// one, with the readings' station differences of the set-ups after it.
    double running_ = 0;
};

}  // namespace rendle::readers::parts
