#include "core/Reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/LevelSheet.h"
#include "grid/Grid.h"

namespace rendle::core {

namespace {

enum class Sight : uint8_t { Other, BS, IS, FS };

Sight SightOf(std::string_view text) {
    if (text == "BS") return Sight::BS;
    if (text == "IS") return Sight::IS;
    if (text == "FS") return Sight::FS;
    return Sight::Other;
}

/// A step that cannot go on; the reduction ends where it stands.
struct Stop {
    std::string reason;
};

/// Switches repainting back on if a failure leaves the marker-row step early, so the sheet on
/// screen does not stay frozen on a half-done deletion.
class RepaintingOff {
  public:
    explicit RepaintingOff(grid::Grid& sheet) : sheet_(sheet) { sheet_.SetRepainting(false); }
    ~RepaintingOff() {
        if (!sheet_.Repainting()) sheet_.SetRepainting(true);
    }
    RepaintingOff(const RepaintingOff&) = delete;
    RepaintingOff& operator=(const RepaintingOff&) = delete;

  private:
    grid::Grid& sheet_;
};

class Reducer {
  public:
    Reducer(grid::Grid& sheet, RunState& run) : sheet_(sheet), run_(run) {}

    void Run();
    ReductionStep step() const { return step_; }
    ReducedRun& reduced() { return reduced_; }

  private:
    /// One entry of a working table; rows and set-ups past 1000 do not fit.
    template <typename T>
    T& At(std::vector<T>& table, int32_t index) {
        if (index < 0 || index >= kReductionTableSize) {
            throw Stop{"row or set-up " + std::to_string(index) +
                       " is past the 1000 a level sheet holds"};
        }
        return table[static_cast<size_t>(index)];
    }

    double Checked(double value) {
        if (!std::isfinite(value)) throw Stop{"a result is too large to compute"};
        return value;
    }

    void WriteNumber(int32_t row, int32_t col, double value) {
        sheet_.SetCellNumber(row, col, Checked(value));
        if (row < first_ || row > last_ || reduced_.rows.empty()) return;
        ReducedRow& reduced = Reduced(row);
        if (col == kColRiseFall) reduced.riseFall = value;
        if (col == kColRL) reduced.rl = value;
        if (col == kColAdjRL) reduced.adjustedRL = value;
    }

    void DeleteMarkerRows();
    void ClearEarlierResults();
    void ReadObservations();
    void RiseAndFall();
    void ReducedLevels();
    void Adjust();
    void Summary();
    void DataFormats();
    void Formats();

    grid::Grid& sheet_;
    RunState& run_;
    ReductionStep step_ = ReductionStep::None;
    int32_t first_ = 0;
    int32_t last_ = 0;

    std::vector<double> backsight_ = std::vector<double>(kReductionTableSize, 0.0);
    std::vector<double> intermediate_ = std::vector<double>(kReductionTableSize, 0.0);
    std::vector<double> foresight_ = std::vector<double>(kReductionTableSize, 0.0);
    std::vector<Sight> sight_ = std::vector<Sight>(kReductionTableSize, Sight::Other);
    std::vector<double> riseFall_ = std::vector<double>(kReductionTableSize, 0.0);
    std::vector<double> rl_ = std::vector<double>(kReductionTableSize, 0.0);
    std::vector<double> correction_ = std::vector<double>(kReductionTableSize, 0.0);

    ReducedRun reduced_;
    ReducedRow& Reduced(int32_t r) { return reduced_.rows[static_cast<size_t>(r - first_)]; }

    double totalDistance_ = 0.0;
    double firstRL_ = 0.0;
    double closingCorrection_ = 0.0;
    double permissibleError_ = 0.0;
};

void Reducer::DeleteMarkerRows() {
    step_ = ReductionStep::MarkerRows;
    // Every deletion shifts all rows below it, so the sheet on screen waits for the last one.
    RepaintingOff repaintingOff(sheet_);
    int32_t r = first_;
    while (r <= last_) {
        if (sheet_.ShownText(r, kColSightType) == kMarker) {
            sheet_.RemoveCells(r, -1, r, -1, grid::RemoveMode::Rows);
        } else {
            ++r;
        }
    }
}

void Reducer::ClearEarlierResults() {
    // The results of an earlier reduction go before any step can stop, so that a stop never
    // leaves them standing beside the readings as if they were this run's.
    if (last_ < first_ || last_ + 5 > grid::kMaxRow) return;
    sheet_.ClearCells(first_, kColRiseFall, last_, kColAdjRL, grid::ClearMode::Values);
    sheet_.ClearCells(last_ + 3, 2, last_ + 5, 2, grid::ClearMode::All);
    sheet_.ClearCells(last_ + 3, kColRL, last_ + 5, kColRL, grid::ClearMode::All);
}

void Reducer::ReadObservations() {
    step_ = ReductionStep::ReadObservations;
    for (int32_t r = first_; r <= last_; ++r) {
        At(backsight_, r) = sheet_.CellNumber(r, kColBS);
        At(intermediate_, r) = sheet_.CellNumber(r, kColIS);
        At(foresight_, r) = sheet_.CellNumber(r, kColFS);
        At(sight_, r) = SightOf(sheet_.ShownText(r, kColSightType));
        ReducedRow row;
        row.row = r;
        switch (sight_[static_cast<size_t>(r)]) {
            case Sight::BS:
                row.kind = SightKind::Back;
                break;
            case Sight::IS:
                row.kind = SightKind::Intermediate;
                break;
            case Sight::FS:
                row.kind = SightKind::Fore;
                break;
            case Sight::Other:
                break;
        }
        row.station = sheet_.CellText(r, kColStation);
        row.backsight = backsight_[static_cast<size_t>(r)];
        row.intermediate = intermediate_[static_cast<size_t>(r)];
        row.foresight = foresight_[static_cast<size_t>(r)];
        row.distance = sheet_.CellNumber(r, kColDist);
        for (const int32_t col : {kColBS, kColIS, kColFS, kColDist}) {
            const grid::Cell& cell = sheet_.CellAt(r, col);
            if (cell.kind == grid::CellKind::Text) row.texts.emplace_back(col, cell.text);
        }
        reduced_.rows.push_back(std::move(row));
    }
}

void Reducer::RiseAndFall() {
    totalDistance_ = 0.0;
    double running = 0.0;

    step_ = ReductionStep::RiseFall;
    for (int32_t r = first_; r <= last_; ++r) {
        // Meant: a reading of 0 in the row above counts as no reading.
        const double bsAbove = At(backsight_, r - 1);
        const double isAbove = At(intermediate_, r - 1);
        switch (At(sight_, r)) {
            case Sight::BS:
                totalDistance_ = Checked(totalDistance_ + sheet_.CellNumber(r, kColDist));
                running = 0.0;
                break;
            case Sight::IS:
                running = bsAbove != 0.0 ? bsAbove - At(intermediate_, r)
                                         : isAbove - At(intermediate_, r);
                WriteNumber(r, kColRiseFall, running);
                break;
            case Sight::FS:
                if (isAbove != 0.0) {
                    running = isAbove - At(foresight_, r);
                } else if (bsAbove != 0.0) {
                    running = bsAbove - At(foresight_, r);
                }
                WriteNumber(r, kColRiseFall, running);
                totalDistance_ = Checked(totalDistance_ + sheet_.CellNumber(r, kColDist));
                break;
            case Sight::Other:
                break;
        }
        At(riseFall_, r) = running;
    }
}

void Reducer::ReducedLevels() {
    step_ = ReductionStep::ReducedLevels;
    const std::optional<double> start = RLToNumber(run_.StartRL);
    if (!start) throw Stop{"the starting benchmark RL is not a number"};
    WriteNumber(first_, kColRL, *start);
    WriteNumber(first_, kColAdjRL, *start);
    firstRL_ = *start;
    double running = *start;
    for (int32_t r = first_ + 1; r <= last_; ++r) {
        running = Checked(running + At(riseFall_, r));
        At(rl_, r) = running;
        run_.StartRL = running;
        sheet_.SetCellNumber(r, kColRL, running);
        Reduced(r).rl = running;
    }
    reduced_.hasRLs = true;
}

void Reducer::Adjust() {
    step_ = ReductionStep::ClosingCorrection;
    // An ending RL that was never given is no RL of 0: spreading a misclose of about the whole
    // height over the run would be a wrong result reported as reduced. (An empty starting RL
    // still counts as 0, an assumed datum.)
    if (IsEmptyRL(run_.EndRL)) {
        // An open run: its rise and fall and RLs are a result surveyors use, shown as those of
        // a finished run are.
        DataFormats();
        throw Stop{"the ending benchmark RL is empty, so the run was not adjusted"};
    }
    const std::optional<double> end = RLToNumber(run_.EndRL);
    if (!end) throw Stop{"the ending benchmark RL is not a number"};
    // A run of one data row closes on that row's RL, the starting RL.
    closingCorrection_ = Checked(*end - (last_ == first_ ? firstRL_ : At(rl_, last_)));

    step_ = ReductionStep::CorrectionPerSetUp;
    // The correction is shared over the set-ups that the adjusted RLs below count, the "BS"
    // rows, so that the last foresight lands on the ending RL whatever the read counted (a
    // set-up record after the last reading, a re-read backsight, an edited sheet).
    int32_t setUps = 0;
    for (int32_t r = first_; r <= last_; ++r) {
        if (At(sight_, r) == Sight::BS) ++setUps;
    }
    if (setUps == 0) throw Stop{"the run has no backsight to spread the misclose over"};
    const double perSetUp = closingCorrection_ / setUps;
    for (int32_t k = 1; k <= setUps; ++k) At(correction_, k) = k * perSetUp;

    step_ = ReductionStep::AdjustedRLs;
    int32_t setUp = 0;
    for (int32_t r = first_; r <= last_; ++r) {
        switch (At(sight_, r)) {
            case Sight::BS:
                ++setUp;
                break;
            case Sight::IS:
            case Sight::FS:
                WriteNumber(r, kColAdjRL, At(rl_, r) + At(correction_, setUp));
                break;
            case Sight::Other:
                break;
        }
    }
}

void Reducer::Summary() {
    step_ = ReductionStep::PermissibleError;
    const double km = totalDistance_ / 1000.0;
    if (km < 0.0) throw Stop{"the total distance is negative"};
    permissibleError_ = 2.0 * std::sqrt(km);  // millimetres

    step_ = ReductionStep::Summary;
    sheet_.SetCellText(last_ + 3, 2, "Misclose(m)");
    WriteNumber(last_ + 3, kColRL, -closingCorrection_);
    sheet_.SetCellText(last_ + 4, 2, "Permissible error(m)");
    WriteNumber(last_ + 4, kColRL, permissibleError_ / 1000.0);
    sheet_.SetCellText(last_ + 5, 2, "Length of Level Run(m)");
    WriteNumber(last_ + 5, kColRL, 1000.0 * km);
    reduced_.misclose = -closingCorrection_;
    reduced_.permissibleError = permissibleError_ / 1000.0;
    reduced_.length = 1000.0 * km;
    reduced_.hasSummary = true;
}

void Reducer::DataFormats() {
    if (last_ < first_) return;
    sheet_.SelectCells(first_, kColBS, last_, kColAdjRL);
    sheet_.SetSelectionNumberFormat(kReadingFormat);
    sheet_.SelectCells(first_, kColDist, last_, kColDist);
    sheet_.SetSelectionNumberFormat(kDistanceFormat);
}

void Reducer::Formats() {
    step_ = ReductionStep::Formats;
    DataFormats();

    grid::FormatObject bold = sheet_.SelectionFormat();
    sheet_.SelectCells(last_ + 3, 2, last_ + 5, 2);
    bold.SetBold(true);
    sheet_.ApplySelectionFormat(bold);

    const std::string_view summaryFormats[] = {kReadingFormat, kReadingFormat, kDistanceFormat};
    for (int32_t i = 0; i < 3; ++i) {
        const int32_t row = last_ + 3 + i;
        grid::FormatObject format = sheet_.SelectionFormat();
        sheet_.SelectCells(row, kColRL, row, kColRL);
        sheet_.SetSelectionNumberFormat(summaryFormats[i]);
        format.SetBold(true);
        sheet_.ApplySelectionFormat(format);
    }

    step_ = ReductionStep::Activate;
    sheet_.ActivateCell(kProjectRow, kProjectCol);
}

void Reducer::Run() {
    first_ = run_.FirstDataRow;
    last_ = run_.LastDataRow;
    DeleteMarkerRows();
    ClearEarlierResults();
    ReadObservations();
    RiseAndFall();
    ReducedLevels();
    Adjust();
    Summary();
    Formats();
}

ReductionResult NoData() {
    return {ReductionStatus::NoData, "no run in the level sheet", ReductionStep::None, {}, {}};
}

}  // namespace

namespace {

ReductionResult Reduce(grid::Grid& sheet, RunState& run) {
    // No field book read yet: the sheet holds no run. The grid would reject row 0 at the first
    // cell the reduction touches; saying so up front keeps the path independent of that.
    if (run.FirstDataRow == 0) return NoData();

    Reducer reducer(sheet, run);
    try {
        reducer.Run();
    } catch (const grid::GridError& error) {
        if (error.code() == grid::kErrRowColZero) return NoData();
        return {ReductionStatus::Stopped,
                error.what(),
                reducer.step(),
                std::move(reducer.reduced()),
                {}};
    } catch (const Stop& stop) {
        return {ReductionStatus::Stopped,
                stop.reason,
                reducer.step(),
                std::move(reducer.reduced()),
                {}};
    }
    ReductionResult result;
    result.reduced = std::move(reducer.reduced());
    return result;
}

}  // namespace

ReductionResult ReduceLevels(grid::Grid& sheet, RunState& run) {
    RLValue startRL = run.StartRL;
    ReductionResult result = Reduce(sheet, run);
    result.startRL = std::move(startRL);
    return result;
}

const char* ReductionStepName(ReductionStep step) {
    switch (step) {
        case ReductionStep::MarkerRows:
            return "marker rows";
        case ReductionStep::ReadObservations:
            return "reading the observations";
        case ReductionStep::RiseFall:
            return "rise and fall";
        case ReductionStep::ReducedLevels:
            return "reduced levels";
        case ReductionStep::ClosingCorrection:
            return "closing correction";
        case ReductionStep::CorrectionPerSetUp:
            return "correction per set-up";
        case ReductionStep::AdjustedRLs:
            return "adjusted RLs";
        case ReductionStep::PermissibleError:
            return "permissible error";
        case ReductionStep::Summary:
            return "summary block";
        case ReductionStep::Formats:
            return "formats";
        case ReductionStep::Activate:
            return "active cell";
        case ReductionStep::None:
            break;
    }
    return "none";
}

}  // namespace rendle::core
