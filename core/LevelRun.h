// A levelling run as a field-book reader gives it: its set-ups in the order the recorder closed
// them, each with its sights, the instrument's own figures, and where each came from in the
// book. No sheet row is in it: laying it out as the level sheet is a step of its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/RunState.h"

namespace rendle::core {

enum class SightKind { Back, Intermediate, Fore };

/// One sight as the level sheet shows it: a back or fore reading is the mean of the readings of
/// its kind where the method reads the staff twice.
struct Sight {
    SightKind kind = SightKind::Back;
    std::string station;
    double reading = 0;       ///< m
    double distance = 0;      ///< m
    std::optional<double> z;  ///< the instrument's height of the point, m
    size_t line = 0;          ///< the field-book line it was read on
    double zUnit = 0;         ///< the last digit z is stored to, m; 0: the book's finest digit
};

/// A set-up: where the instrument stood, and the sights taken from there in sheet order.
struct SetUp {
    /// The set-up opens with a marker row. A set-up the book gives without its backsight (a
    /// foresight or intermediate sight on its own) opens none, and is not counted.
    bool marker = true;
    std::vector<Sight> sights;
    size_t line = 0;      ///< the field-book line that opened it
    size_t closedAt = 0;  ///< the line being read when the recorder closed it
    /// (B1 − F1) − (B2 − F2) of a set-up read twice, m.
    std::optional<double> stationDifference;
};

/// A sighting record a read stopped inside of: what of it was read before the stop.
struct UnfinishedSight {
    bool opensSetUp = false;  ///< a backsight record, whose set-up was opened
    std::optional<std::string> station;
    std::optional<double> distance;
    bool overFore = false;          ///< an intermediate sight taken after its set-up's foresight
    bool beforeFirstSetUp = false;  ///< on the row of its line, as readings before a set-up
    size_t line = 0;
};

struct LevelRun {
    /// Where the read stands before its first set-up: the book's line counter (the lines before
    /// the run count one each, so a run that begins further down the book holds fewer rows) and
    /// the sheet row it stands on. Each marker row and each sight takes the next row.
    int32_t standCounter = 4;
    int32_t standRow = 4;
    /// Readings of an SDR book before its first set-up record, each on the row of its line.
    std::vector<Sight> beforeFirstSetUp;
    std::vector<SetUp> setUps;
    std::optional<UnfinishedSight> unfinished;
    /// The read stopped at the sight that passes the rows a level sheet holds: the run is
    /// refused there, and what follows it in the book was not read.
    bool pastCapacity = false;
    /// The sheet's capacity counts the run's data rows, which stay once the reduction has
    /// deleted the marker rows (a reader that gathers its set-ups: GSI, an M5 book read twice),
    /// rather than the line counter the File menu's readers of single readings keep.
    bool capacityInDataRows = false;
    std::optional<double> startRL;  ///< the starting RL the book gives
    InstrumentRecord instrument;    ///< start height, resolution, method (heights are on sights)

    /// The sights of the run, in sheet order.
    size_t SightCount() const {
        size_t count = beforeFirstSetUp.size();
        for (const SetUp& setUp : setUps) count += setUp.sights.size();
        return count;
    }
};

}  // namespace rendle::core
