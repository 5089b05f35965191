// What precise levelling corrects in the readings themselves, before anything is reduced or
// adjusted: each staff's scale and its expansion with temperature (from its calibration
// certificate), its index (zero) offset, and the earth's curvature with refraction over each
// sight. The level sheet keeps the readings as booked; the corrections go beside them, row by
// row of the reduced run, so that every height difference can be corrected and said.
#pragma once

#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Reduction.h"

namespace rendle::core {

/// The mean radius of the earth the curvature is taken over, m.
inline constexpr double kEarthRadius = 6'371'000;

/// A staff temperature, °C, past these is a mistake, not a field day.
inline constexpr double kColdestStaff = -60;
inline constexpr double kHottestStaff = 80;
/// The coefficient of refraction K, wherever it is given.
inline constexpr double kLeastRefraction = -1;
inline constexpr double kMostRefraction = 1;

/// A staff as its calibration certificate gives it.
struct Staff {
    std::string serial;
    double scalePpm = 0;      ///< the scale at T0: + when the staff reads too little
    double t0 = 20;           ///< the certificate's reference temperature, °C
    double alphaPpmPerC = 0;  ///< its expansion, ppm a degree
    double indexMm = 0;       ///< the index (zero) offset, mm, added to every reading
};

/// A staff table, a reading or a staff named that cannot be taken: the message names the file,
/// its line and why.
class CorrectionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The staff table: `serial,scale_ppm,t0_c,alpha_ppm_per_c[,index_mm]` a row, a header row if
/// wanted, blank rows and # comments passed over. Throws CorrectionError naming the line.
std::vector<Staff> ReadStaffTable(std::istream& in, const std::string& name);

/// The staffs `serials` names, from `table`: one, or two leapfrogging from the first
/// backsight. Throws CorrectionError naming a staff the table does not hold.
std::vector<Staff> StaffsNamed(const std::vector<Staff>& table,
                               const std::vector<std::string>& serials,
                               const std::string& tableName);

/// What the staff corrections asked for lack: the rule both programs and the network window hold
/// them to, each saying it in its own words.
enum class StaffsGap {
    None,
    NoTable,                   ///< staffs named, no table to find them in
    NoStaffs,                  ///< a table, but no staff of the runs named
    TemperatureWithoutStaffs,  ///< a staff temperature, and no staffs to correct
};
StaffsGap StaffsGapOf(const std::string& table, const std::vector<std::string>& staffs,
                      bool temperatureGiven);

/// The staffs `serials` names, from the staff table in the file `table`. Throws CorrectionError
/// for a file that cannot be read, a line of it, or a staff it does not hold.
std::vector<Staff> LoadStaffs(const std::string& table, const std::vector<std::string>& serials);

/// The scale of a staff at `temperature` (its T0 when none is given), as a factor less one:
/// (scale + α (T − T0)) × 10⁻⁶.
double ScaleOf(const Staff& staff, std::optional<double> temperature);

/// What curvature and refraction add to a reading at `distance` m: (1 − K) d² / 2R.
double CurvatureAndRefraction(double distance, double k);

/// What is corrected, and with what.
struct ReadingCorrections {
    std::vector<Staff> staffs;          ///< none: no staff correction; one; or two leapfrogging
    std::optional<double> temperature;  ///< °C; none: each staff at its T0
    std::optional<double> refraction;   ///< K: curvature and refraction corrected
    bool Any() const { return !staffs.empty() || refraction.has_value(); }
};

/// The corrections of a reduced run, row by row: each the sum of the corrections of the
/// height differences from the first row to that row, m; what the row's RL takes.
struct RowCorrections {
    std::vector<double> staff;
    std::vector<double> curvature;
    int setUps = 0;
    /// Two staffs whose index offsets differ and an odd number of set-ups: the offsets do not
    /// cancel over the run.
    bool indexLeft = false;
};

/// Works out the corrections of every row: a set-up's height difference to each of its later
/// sights, back reading less the sight's, each reading by its staff (the back staff the first
/// of two at the first set-up, the two taking turns after), and curvature and refraction over
/// the two sights' own lengths.
RowCorrections CorrectRows(const ReducedRun& run, const ReadingCorrections& corrections);

/// The corrections of a whole run, as the level report's Corrections block says them.
struct RunCorrections {
    std::string words;  ///< what was corrected, with which inputs
    double staff = 0;   ///< over the run, m
    double curvatureRefraction = 0;
    /// The misclose with the corrections, m; none for a run that was not closed.
    std::optional<double> misclose;
    /// Each named point the run reaches, its RL with the corrections (unadjusted), in order.
    struct Point {
        std::string station;
        double rl = 0;
    };
    std::vector<Point> points;
    bool indexLeft = false;
    int setUps = 0;
};

/// The corrections of `run` (reduced from its RLs), as totals, its corrected misclose when it
/// was closed, and the corrected RL of every named point.
RunCorrections CorrectRun(const ReducedRun& run, const ReadingCorrections& corrections,
                          std::string words);

/// The corrections in words: "staff scale and temperature (staffs A and B leapfrogging of
/// staffs.csv, 30 C); curvature and refraction (K 0.13, R 6371 km)".
std::string CorrectionWords(const ReadingCorrections& corrections, const std::string& table);

}  // namespace rendle::core
