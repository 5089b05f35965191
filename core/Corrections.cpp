#include "core/Corrections.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "core/RunState.h"
#include "grid/NumberFormat.h"
#include "grid/Text.h"

namespace rendle::core {

namespace {

std::vector<std::string> Fields(std::string_view row) {
    std::vector<std::string> fields;
    size_t from = 0;
    while (true) {
        const size_t comma = row.find(',', from);
        fields.emplace_back(grid::Trimmed(row.substr(from, comma - from)));
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    return fields;
}

// What a certificate can say and still be a measurement, not a slip.
constexpr double kLargestScalePpm = 1000;
constexpr double kLargestAlpha = 100;
constexpr double kLargestIndexMm = 100;

}  // namespace

std::vector<Staff> ReadStaffTable(std::istream& in, const std::string& name) {
    std::vector<Staff> staffs;
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string_view text = grid::Trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        const std::vector<std::string> fields = Fields(text);
        const auto fail = [&](const std::string& why) {
            std::string said = name;
            said.append(":").append(std::to_string(number)).append(": ").append(why);
            throw CorrectionError(said);
        };
        if (fields.size() < 4 || fields.size() > 5) {
            fail("not serial,scale_ppm,t0_c,alpha_ppm_per_c[,index_mm]");
        }
        // A header row: its scale is no number.
        if (staffs.empty() && !ParseDecimalText(fields[1])) continue;
        const auto number_of = [&](size_t i, const char* what, double largest) {
            const std::optional<double> value = ParseDecimalText(fields[i]);
            if (!value || !std::isfinite(*value))
                fail(std::string(what) + " \"" + fields[i] + "\" is no number");
            if (std::fabs(*value) > largest)
                fail(std::string(what) + " " + fields[i] + " is past what a staff shows");
            return *value;
        };
        Staff staff;
        staff.serial = fields[0];
        if (staff.serial.empty()) fail("a staff without its serial");
        staff.scalePpm = number_of(1, "scale_ppm", kLargestScalePpm);
        staff.t0 = number_of(2, "t0_c", 100);
        staff.alphaPpmPerC = number_of(3, "alpha_ppm_per_c", kLargestAlpha);
        if (fields.size() == 5 && !fields[4].empty()) {
            staff.indexMm = number_of(4, "index_mm", kLargestIndexMm);
        }
        for (const Staff& other : staffs) {
            if (other.serial == staff.serial) fail("staff " + staff.serial + " is given twice");
        }
        staffs.push_back(std::move(staff));
    }
    if (in.bad()) throw CorrectionError("cannot read " + name);
    if (staffs.empty()) throw CorrectionError(name + ": no staff in the table");
    return staffs;
}

StaffsGap StaffsGapOf(const std::string& table, const std::vector<std::string>& staffs,
                      bool temperatureGiven) {
    if (!staffs.empty() && table.empty()) return StaffsGap::NoTable;
    if (staffs.empty() && !table.empty()) return StaffsGap::NoStaffs;
    if (temperatureGiven && staffs.empty()) return StaffsGap::TemperatureWithoutStaffs;
    return StaffsGap::None;
}

std::vector<Staff> LoadStaffs(const std::string& table, const std::vector<std::string>& serials) {
    std::error_code error;
    if (std::filesystem::is_directory(table, error)) {
        throw CorrectionError("cannot read " + table + ": a folder, not a file");
    }
    std::ifstream in(table, std::ios::binary);
    if (!in) throw CorrectionError("cannot open " + table);
    return StaffsNamed(ReadStaffTable(in, table), serials, table);
}

std::vector<Staff> StaffsNamed(const std::vector<Staff>& table,
                               const std::vector<std::string>& serials,
                               const std::string& tableName) {
    if (serials.empty() || serials.size() > 2) {
        throw CorrectionError("name one staff, or the two that leapfrog (--staff A,B)");
    }
    std::vector<Staff> staffs;
    for (const std::string& serial : serials) {
        const auto found = std::find_if(table.begin(), table.end(),
                                        [&](const Staff& s) { return s.serial == serial; });
        if (found == table.end()) {
            std::string said = "staff ";
            said.append(serial).append(" is not in ").append(tableName);
            throw CorrectionError(said);
        }
        staffs.push_back(*found);
    }
    return staffs;
}

double ScaleOf(const Staff& staff, std::optional<double> temperature) {
    const double t = temperature.value_or(staff.t0);
    return (staff.scalePpm + staff.alphaPpmPerC * (t - staff.t0)) * 1e-6;
}

double CurvatureAndRefraction(double distance, double k) {
    return (1 - k) * distance * distance / (2 * kEarthRadius);
}

RowCorrections CorrectRows(const ReducedRun& run, const ReadingCorrections& c) {
    RowCorrections rows;
    rows.staff.assign(run.rows.size(), 0);
    rows.curvature.assign(run.rows.size(), 0);
    // What a staff adds to a reading: its scale and its index offset.
    const auto byStaff = [&c](double reading, const Staff& staff) {
        return reading * ScaleOf(staff, c.temperature) + staff.indexMm / 1000;
    };
    double staff = 0;
    double curvature = 0;
    double staffAtBack = 0;
    double curvatureAtBack = 0;
    double back = 0;
    double backDistance = 0;
    int setUp = -1;
    for (size_t i = 0; i < run.rows.size(); ++i) {
        const ReducedRow& row = run.rows[i];
        if (row.kind == SightKind::Back) {
            ++setUp;
            back = row.backsight;
            backDistance = row.distance;
            staffAtBack = staff;
            curvatureAtBack = curvature;
        } else if (row.kind && setUp >= 0) {
            const double reading = row.kind == SightKind::Fore ? row.foresight : row.intermediate;
            if (!c.staffs.empty()) {
                const size_t n = c.staffs.size();
                const Staff& backStaff = c.staffs[static_cast<size_t>(setUp) % n];
                const Staff& foreStaff = c.staffs[static_cast<size_t>(setUp + 1) % n];
                staff = staffAtBack + byStaff(back, backStaff) - byStaff(reading, foreStaff);
            }
            if (c.refraction) {
                curvature = curvatureAtBack - (CurvatureAndRefraction(backDistance, *c.refraction) -
                                               CurvatureAndRefraction(row.distance, *c.refraction));
            }
        }
        rows.staff[i] = staff;
        rows.curvature[i] = curvature;
    }
    rows.setUps = setUp + 1;
    rows.indexLeft =
        c.staffs.size() == 2 && c.staffs[0].indexMm != c.staffs[1].indexMm && rows.setUps % 2 == 1;
    return rows;
}

RunCorrections CorrectRun(const ReducedRun& run, const ReadingCorrections& corrections,
                          std::string words) {
    RunCorrections done;
    done.words = std::move(words);
    if (run.rows.empty()) return done;
    const RowCorrections rows = CorrectRows(run, corrections);
    done.staff = rows.staff.back();
    done.curvatureRefraction = rows.curvature.back();
    done.indexLeft = rows.indexLeft;
    done.setUps = rows.setUps;
    if (run.hasSummary) done.misclose = run.misclose + done.staff + done.curvatureRefraction;
    for (size_t i = 0; i < run.rows.size(); ++i) {
        const ReducedRow& row = run.rows[i];
        const std::string_view station = grid::Trimmed(row.station);
        // A backsight's point is the foresight's before it: named once, where it is reached.
        if (station.empty() || !row.rl || (row.kind == SightKind::Back && i > 0)) continue;
        done.points.push_back({std::string(station), *row.rl + rows.staff[i] + rows.curvature[i]});
    }
    return done;
}

std::string CorrectionWords(const ReadingCorrections& c, const std::string& table) {
    std::string words;
    if (!c.staffs.empty()) {
        words = "staff scale and temperature (";
        words += c.staffs.size() == 1 ? "staff " + c.staffs[0].serial
                                      : "staffs " + c.staffs[0].serial + " and " +
                                            c.staffs[1].serial + " leapfrogging";
        words += " of " + table + ", ";
        words += c.temperature ? grid::GeneralNumberText(*c.temperature) + " C"
                               : "each at its reference temperature";
        words += ")";
    }
    if (c.refraction) {
        words += std::string(words.empty() ? "" : "; ") + "curvature and refraction (K " +
                 grid::GeneralNumberText(*c.refraction) + ", R 6371 km)";
    }
    return words;
}

}  // namespace rendle::core
