// The checks a surveyor makes on a reduced run before handing it in: the arithmetic check of the
// reduction, the misclose against a tolerance class, and the balance of sight lengths.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/Corrections.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "core/ToleranceClasses.h"

namespace rendle::grid {
class Grid;
}

namespace rendle::core {

/// ΣBS − ΣFS = ΣRise − ΣFall = last RL − first RL over the data rows. Intermediate sights take
/// part in rise and fall and cancel out.
struct ArithmeticCheck {
    double sumBS = 0;
    double sumFS = 0;
    double sumRise = 0;
    double sumFall = 0;  ///< as a positive number
    double firstRL = 0;
    double lastRL = 0;
    /// Reading and distance cells of the data rows that hold a text, each in a sentence ("B9
    /// holds the text 1.4.5, read as no reading."): the reduction read them as nothing.
    std::vector<std::string> textCells;
    /// The last set-up when it has no foresight (a line that ends on a backsight): the
    /// check leaves it out, summing to the last foresight, so that it agrees on what was
    /// measured. Its number (1-based) and the sheet row of its backsight; 0 when every set-up
    /// closes.
    int openSetUp = 0;
    int32_t openRow = 0;
    bool agrees = false;  ///< the three differences agree within 1e-9 m, and no text was read
    double ReadingDifference() const { return sumBS - sumFS; }
    double RiseFallDifference() const { return sumRise - sumFall; }
    double RLDifference() const { return lastRL - firstRL; }
};

/// The misclose against C mm √K, K the length of the run in km.
struct ToleranceVerdict {
    double misclose = 0;     ///< m, as the summary block shows it
    double classMm = 2;      ///< C
    double permissible = 0;  ///< m
    double ratio = 0;        ///< |misclose| / permissible, both as printed
    bool within = false;     ///< judged as printed ("0.0000" m)
};

struct SetUpBalance {
    int setUp = 0;  ///< 1-based
    double backsight = 0;
    double foresight = 0;
    double imbalance = 0;  ///< backsight distance − foresight distance
    double running = 0;    ///< the imbalances summed along the run so far
    bool flagged = false;
};

struct SightBalance {
    std::vector<SetUpBalance> setUps;
    double largestImbalance = 0;  ///< largest in size, with its sign
    int largestSetUp = 0;         ///< where it is, 1-based
    double largestRunning = 0;
    double imbalanceLimit = 5;
    double runningLimit = 10;
    bool flagged = false;
};

/// The station differences of the set-ups read twice, (B1 − F1) − (B2 − F2).
struct StationDifferences {
    std::vector<core::InstrumentRecord::StationDifference> setUps;
    double largest = 0;           ///< largest in size, with its sign, m
    int setUp = 0;                ///< where it is
    std::optional<double> limit;  ///< m; no flag without one
    bool flagged = false;
    /// The decimals of a mm they are printed and judged with: the book's last digit (a
    /// hundredth of a mm from readings of five decimals, when the book does not tell it), or
    /// the limit's, whichever is finer.
    int decimals = 2;
};

/// The instrument's own heights against the sheet's unadjusted RLs, set-up by set-up: each
/// foresight's and each intermediate's height difference from the set-up's starting point, as
/// the instrument stored the heights and as the sheet works it out from the readings. Each
/// stored height and each reading is rounded to the book's last digit, so two of them is what
/// the two may differ by; an edit of a reading shows at the set-up where it was made.
struct InstrumentCheck {
    int compared = 0;
    double largestDifference = 0;  ///< m, with its sign
    int32_t row = 0;               ///< where it is
    int setUp = 0;                 ///< the set-up of that row, 1-based
    double limit = 0.0001;         ///< m: a last digit of each of the two heights compared
    /// The finer last digit of the two heights compared, m, when the book tells it.
    std::optional<double> resolution;
    bool flagged = false;  ///< beyond the limit: the field book was edited, or read wrong
};

/// One figure of the run against the limit its class sets.
struct ClassFigure {
    double figure = 0;  ///< m (the misclose, a sight length, a balance, a station difference)
    double limit = 0;   ///< m
    bool within = false;
    /// The decimals the figure is printed and judged with, in the unit it is printed in (mm for
    /// the misclose and the station difference, m for lengths).
    int decimals = 2;
};

/// The levelling method of the run against the one its class asks for.
struct ClassMethod {
    std::string method;         ///< as the book names it; "BF" for a book of single readings
    std::string_view required;  ///< as the class names it
    std::string verdict;        ///< "meets", "fails" or "not shown by one line"
};

/// The checks a tolerance class adds: each figure the class sets, against it. A figure the
/// class does not set (or the run cannot show) is left out.
struct ClassChecks {
    const ToleranceClass* row = nullptr;
    /// The run closes on its first point: its misclose is judged by the class's loop figure.
    bool loop = false;
    /// The misclose is judged by the figure of the other kind, the class setting none of its
    /// own: "the class sets no loop figure: its line figure"; empty otherwise.
    std::string fallback;
    std::optional<ClassFigure> misclose;
    std::optional<ClassFigure> longestSight;
    std::optional<ClassFigure> shortestSight;  ///< within: no sight shorter than the limit
    std::optional<ClassFigure> balanceSetUp;
    std::optional<ClassFigure> balanceSection;
    std::optional<ClassFigure> stationDifference;
    std::optional<ClassMethod> method;
    /// The misclose against the class's figure by set-ups, C mm √n.
    std::optional<ClassFigure> perSetUp;
    std::optional<ClassFigure> lowestReading;  ///< within: no reading below the limit
    std::optional<ClassFigure> highestReading;
};

/// What the checks are measured against.
struct CheckLimits {
    std::optional<double> toleranceMm;     ///< C of C mm √K; the sheet's own 2 mm √K when empty
    double imbalanceLimit = 5;             ///< m, per set-up
    double runningLimit = 10;              ///< m, summed along the run
    bool balanceGiven = false;             ///< the two above were given (--balance-limit)
    std::optional<double> stationLimitMm;  ///< station differences flagged beyond it
    /// The class of the work (--class): its figures are checked too; a figure given on its own
    /// (--tolerance, --balance-limit, --station-limit) replaces the class's.
    const ToleranceClass* toleranceClass = nullptr;
};

struct RunChecks {
    bool reduced = false;    ///< the summary block stands below the data
    std::string notReduced;  ///< why not, in words a surveyor understands
    /// The RLs stand beside the data, adjusted or not: every check but the misclose's can be
    /// made (an open line, a spur without an ending RL, is checked as a closed one is).
    bool hasRLs = false;
    /// Fields of the field book that held no number and were read as one ("line 12: the staff
    /// reading "NaN" is no number and was read as 0"), put here by whoever read it.
    std::vector<std::string> fieldWarnings;
    std::optional<ArithmeticCheck> arithmetic;
    std::optional<ToleranceVerdict> tolerance;
    SightBalance balance;
    StationDifferences stationDifferences;
    InstrumentCheck instrument;
    std::optional<ClassChecks> byClass;
    /// The corrections of the readings, when asked for: the sheet keeps the readings as booked.
    std::optional<RunCorrections> corrections;
};

/// The checks of the run as its last reduction read and worked it out: the arithmetic check, the
/// station differences, the instrument's heights and the sight balance of every run that has RLs,
/// and the misclose of one that was adjusted. `reduction` is how the last reduction ended, when
/// known: it words the reason a run was not reduced.
RunChecks CheckRun(const RunState& run, const std::optional<ReductionResult>& reduction,
                   const CheckLimits& limits);

/// How many decimals of a millimetre a difference is shown and judged with: as many as its limit
/// and the book's last digit need (0.02 mm at GSI units 8 needs two), at least one.
int MillimetreDecimals(std::optional<double> limitMetres, std::optional<double> resolution);
/// A difference in metres as millimetres with `decimals` decimals: "-0.34".
std::string MillimetreText(double metres, int decimals);

/// The three figures of the arithmetic check (ΣBS − ΣFS, ΣRise − ΣFall, last RL − first RL) as
/// printed: as the sheet shows heights ("0.0000") when that tells them apart as the verdict
/// does, with as many more decimals as it takes where they disagree; figures that agree print
/// alike.
std::array<std::string, 3> ArithmeticFigures(const ArithmeticCheck& check);

/// The open last set-up of an arithmetic check in words: "last set-up (set-up 5, row 14) has
/// a backsight and no foresight: the checks leave it out, summing to the last foresight."
std::string OpenSetUpInWords(const ArithmeticCheck& check);

/// Why a reduction did not finish, in a surveyor's words ("the ending RL is empty, so the run
/// was not adjusted").
std::string NotReducedInWords(const ReductionResult& reduction, const RunState& run);

}  // namespace rendle::core
