// libFuzzer target: the checks of a reduced run and the class block. The bytes make a run (each
// four bytes a sighting: its kind, its reading, its distance), the book's station differences
// and last digit, the ending RL, a tolerance class and its own limits. Nothing may crash, and
// every verdict must be the one its printed figure and limit give.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Checks.h"
#include "core/LevelSheet.h"
#include "core/ToleranceClasses.h"
#include "core/Verdict.h"
#include "grid/Grid.h"
#include "report/CheckNotes.h"
#include "report/TextReport.h"
#include "tests/support/LevelRun.h"

namespace {

using namespace rendle::core;

void Check(bool holds) {
    if (!holds) std::abort();
}

/// The verdict of a figure in m, printed at `decimals` in its unit.
void CheckFigure(const std::optional<ClassFigure>& f, double unit, Bound bound = Bound::AtMost) {
    if (!f) return;
    const double shown = AsPrinted(f->figure * unit, f->decimals);
    const double limit = AsPrinted(f->limit * unit, f->decimals);
    Check(f->within == (bound == Bound::AtMost ? shown <= limit : shown >= limit));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 4000) return 0;
    const auto byte = [&](size_t i) { return i < size ? data[i] : uint8_t{0}; };
    // A set-up first, as a reader lays a run out; then each four bytes a record.
    std::vector<rendle::testing::Record> records = {{"CP"}};
    for (size_t i = 4; i + 3 < size && records.size() < 900; i += 4) {
        const uint8_t kind = byte(i) % 4;
        // Readings to the tenth of a mm up to 6.5 m, distances to the quarter metre up to 64 m.
        const double reading = static_cast<double>(byte(i + 1) << 8 | byte(i + 2)) / 10000.0;
        const double distance = static_cast<double>(byte(i + 3)) / 4.0;
        const char* type = kind == 0 ? "CP" : kind == 1 ? "BS" : kind == 2 ? "IS" : "FS";
        records.push_back({type, "P" + std::to_string(records.size()), reading, distance});
    }
    rendle::grid::Grid sheet;
    RunState run;
    rendle::testing::FillRun(sheet, run, records);
    const int16_t setUps = run.StationCount;
    run.StartRL = 100.0;
    run.EndRL = 100.0 + (static_cast<double>(byte(0)) - 128.0) / 1000.0;
    for (int s = 1; s <= setUps && s < 20; ++s) {
        run.instrument.stationDifferences.push_back(
            {s, (static_cast<double>(byte(static_cast<size_t>(s) * 5)) - 128.0) / 100000.0});
    }
    if ((byte(1) & 1) != 0) run.instrument.Resolution(byte(1) & 2 ? 0.00001 : 0.0001);

    CheckLimits limits;
    const auto classes = ToleranceClasses();
    limits.toleranceClass = &classes[byte(2) % classes.size()];
    if ((byte(3) & 1) != 0) limits.stationLimitMm = static_cast<double>(byte(3)) / 100.0;
    if ((byte(3) & 2) != 0) limits.toleranceMm = static_cast<double>(byte(3) % 13) + 0.5;

    const ReductionResult result = ReduceLevels(sheet, run);
    const RunChecks checks = CheckRun(run, result, limits);
    if (checks.tolerance) {
        const ToleranceVerdict& t = *checks.tolerance;
        Check(t.within == (AsPrinted(std::fabs(t.misclose), 4) <= AsPrinted(t.permissible, 4)));
    }
    if (checks.byClass) {
        CheckFigure(checks.byClass->misclose, 1000);
        CheckFigure(checks.byClass->longestSight, 1);
        CheckFigure(checks.byClass->shortestSight, 1, Bound::AtLeast);
        CheckFigure(checks.byClass->balanceSetUp, 1);
        CheckFigure(checks.byClass->balanceSection, 1);
        CheckFigure(checks.byClass->stationDifference, 1000);
        (void)rendle::report::ClassReport(*checks.byClass);
    }
    const StationDifferences& d = checks.stationDifferences;
    if (d.limit && !d.setUps.empty()) {
        Check(d.flagged != (AsPrinted(std::fabs(d.largest) * 1000, d.decimals) <=
                            AsPrinted(*d.limit * 1000, d.decimals)));
    }
    (void)rendle::report::ChecksReport(checks);
    (void)rendle::report::MiscloseNote(checks);
    return 0;
}
