#include "readers/SheetLayout.h"

#include <algorithm>
#include <string>

#include "core/LevelSheet.h"
#include "grid/Grid.h"
#include "readers/ReaderParts.h"

namespace rendle::readers::parts {

namespace {

constexpr std::string_view kTooManyDataRows =
    "The run is longer than the 1000 rows a level sheet holds, even once its set-up rows are "
    "taken out. Its readings stay in the sheet; the run was not reduced.";

std::string_view SightType(core::SightKind kind) {
    switch (kind) {
        case core::SightKind::Back:
            return "BS";
        case core::SightKind::Intermediate:
            return "IS";
        case core::SightKind::Fore:
            return "FS";
    }
    return "IS";
}

/// A reading and its sight type in the columns of its kind.
void WriteReading(grid::Grid& sheet, int16_t row, core::SightKind kind, double reading) {
    const int32_t col = kind == core::SightKind::Back           ? core::kColBS
                        : kind == core::SightKind::Intermediate ? core::kColIS
                                                                : core::kColFS;
    sheet.SetCellNumber(row, col, reading);
    sheet.SetCellText(row, core::kColSightType, SightType(kind));
}

/// Rows of the sheet as the line counter reaches them: the counter counts the book's lines
/// before the run, then one a row; a row is the counter less the lines that came before the
/// first marker row (row 5).
class Rows {
  public:
    Rows(grid::Grid& sheet, core::RunState& run, bool inDataRows)
        : sheet_(sheet), run_(run), inDataRows_(inDataRows) {}

    void Start(int32_t counter, int32_t offset) {
        counter_ = Counter16(counter, "the line counter");
        offset_ = Counter16(offset, "the offset");
    }
    int16_t Row() const { return Counter16(counter_ - offset_, "the sheet row"); }
    int32_t Counter() const { return counter_; }
    int16_t Next(size_t line) {
        try {
            counter_ = Counter16(counter_ + 1, "the line counter");
            return Row();
        } catch (Stop& stop) {
            stop.line = line;
            throw;
        }
    }
    void Marker(size_t line) {
        const int16_t row = Next(line);
        sheet_.SetCellText(row, core::kColSightType, core::kMarker);
        try {
            run_.StationCount = Counter16(run_.StationCount + 1, "the set-up count");
        } catch (Stop& stop) {
            stop.line = line;
            throw;
        }
    }
    /// Writes the station, then refuses a row past the capacity, then the rest.
    void Sight(int16_t row, const core::Sight& sight, size_t line) {
        sheet_.SetCellText(row, core::kColStation, sight.station);
        if (inDataRows_) {
            Capacity(row - (run_.StationCount - 1), line);
        } else {
            Capacity(counter_, line);
        }
        sheet_.SetCellNumber(row, core::kColDist, sight.distance);
        WriteReading(sheet_, row, sight.kind, sight.reading);
        if (sight.z) {
            run_.instrument.heights.push_back(
                {row - (run_.StationCount - 1), *sight.z, sight.zUnit});
        }
    }
    /// A reading is stored only while its count is at most 1000: the line counter (its row may
    /// pass 1000 when the first set-up comes on one of the first lines; the marker rows the
    /// reduction deletes bring the data rows back, which the end of the layout checks), or for
    /// a run counted in data rows, its data row once the marker rows are deleted.
    static void Capacity(int32_t count, size_t line) {
        if (count <= kCapacity) return;
        throw Stop{std::string(kTooManyRows),
                   "a reading comes at row " + std::to_string(count) +
                       ", past the 1000 rows of the level sheet",
                   line};
    }

  private:
    grid::Grid& sheet_;
    core::RunState& run_;
    bool inDataRows_ = false;
    int32_t counter_ = 0;
    int32_t offset_ = 0;
};

}  // namespace

bool CapacityWatch::Passed(const core::LevelRun& run) {
    if (run.setUps.empty()) return false;
    for (; counted_ + 1 < run.setUps.size(); ++counted_) {
        const core::SetUp& setUp = run.setUps[counted_];
        rows_ += (setUp.marker ? 1 : 0) + static_cast<int64_t>(setUp.sights.size());
        markers_ += setUp.marker ? 1 : 0;
    }
    // Only a sight is refused; a marker row past the capacity is not.
    const core::SetUp& last = run.setUps.back();
    if (last.sights.empty()) return false;
    const int64_t counter =
        run.standCounter + rows_ + (last.marker ? 1 : 0) + static_cast<int64_t>(last.sights.size());
    if (!run.capacityInDataRows) return counter > kCapacity;
    const int64_t row = counter - (run.standCounter - run.standRow);
    const int64_t markers = markers_ + (last.marker ? 1 : 0);
    return row - std::max<int64_t>(markers - 1, 0) > kCapacity;
}

void LayOutRun(const core::LevelRun& levelRun, grid::Grid& sheet, core::RunState& run, bool whole) {
    run.StationCount = 0;
    run.instrument = levelRun.instrument;
    run.instrument.heights.clear();
    run.instrument.stationDifferences.clear();
    if (levelRun.startRL) run.EnteredStartRL = *levelRun.startRL;
    Rows rows(sheet, run, levelRun.capacityInDataRows);
    // Readings before the first set-up land on the rows of their lines (the header block).
    for (const core::Sight& sight : levelRun.beforeFirstSetUp) {
        const auto row = static_cast<int16_t>(sight.line);
        sheet.SetCellText(row, core::kColStation, sight.station);
        Rows::Capacity(row, sight.line);
        sheet.SetCellNumber(row, core::kColDist, sight.distance);
        WriteReading(sheet, row, sight.kind, sight.reading);
    }
    rows.Start(levelRun.standCounter, levelRun.standCounter - levelRun.standRow);
    int16_t lastRow = 0;
    for (const core::SetUp& setUp : levelRun.setUps) {
        if (setUp.marker) rows.Marker(setUp.closedAt ? setUp.closedAt : setUp.line);
        for (const core::Sight& sight : setUp.sights) {
            const size_t line = setUp.closedAt ? setUp.closedAt : sight.line;
            lastRow = rows.Next(line);
            rows.Sight(lastRow, sight, line);
        }
        if (setUp.stationDifference) {
            run.instrument.stationDifferences.push_back(
                {run.StationCount, *setUp.stationDifference});
        }
    }
    if (const auto& unfinished = levelRun.unfinished) {
        // What the read got of the record it stopped inside stays in the sheet.
        if (unfinished->opensSetUp) rows.Marker(unfinished->line);
        if (unfinished->station) {
            int16_t row = 0;
            int32_t counter = 0;
            if (unfinished->beforeFirstSetUp) {
                row = static_cast<int16_t>(unfinished->line);
                counter = row;
            } else {
                row = rows.Next(unfinished->line);
                counter = rows.Counter();
                if (unfinished->overFore) row = lastRow;
            }
            sheet.SetCellText(row, core::kColStation, *unfinished->station);
            Rows::Capacity(counter, unfinished->line);
            if (unfinished->distance) {
                sheet.SetCellNumber(row, core::kColDist, *unfinished->distance);
            }
        }
    }
    if (!whole) return;

    // Once the reduction has deleted the marker rows below row 5, the last data row stands
    // StationCount - 1 rows higher than the last row written.
    const int16_t lastDataRow = Counter16(
        Counter16(rows.Row() - run.StationCount, "the last data row") + 1, "the last data row");
    // A run whose data rows still pass row 1000 then cannot be reduced: said now, rather than
    // the reduction stopping without a word.
    if (lastDataRow > kCapacity) {
        throw Stop{std::string(kTooManyDataRows),
                   "the data rows reach row " + std::to_string(lastDataRow) +
                       " once the set-up rows are taken out, past the 1000 rows of the level "
                       "sheet"};
    }
    run.FirstDataRow = core::kFirstDataRow;
    run.LastDataRow = lastDataRow;
    sheet.SetCellText(core::kStationCountRow, core::kStationCountCol,
                      std::to_string(run.StationCount));
    run.StartRL = run.EnteredStartRL;
    // A run that closes on the station it started from ends on the starting RL.
    if (sheet.CellText(sheet.LastUsedRow(), core::kColStation) ==
        sheet.CellText(core::kFirstDataRow, core::kColStation)) {
        run.EndRL = run.StartRL;
    }
}

}  // namespace rendle::readers::parts
