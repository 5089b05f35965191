// Corrections of the readings themselves: the staffs' calibration (scale, temperature, index)
// and the earth's curvature with refraction, set-up by set-up, held against textbook figures
// and against sums done by hand from a certificate's numbers.
#include "core/Corrections.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace rendle::core;

ReducedRow Sight(SightKind kind, const char* station, double reading, double distance) {
    ReducedRow row;
    row.kind = kind;
    row.station = station;
    (kind == SightKind::Back           ? row.backsight
     : kind == SightKind::Intermediate ? row.intermediate
                                       : row.foresight) = reading;
    row.distance = distance;
    return row;
}

// Two set-ups, the first with an intermediate sight: BM1 1.500 (30 m), IS 0.800 (20 m),
// TP1 0.500 (40 m); TP1 2.000 (35 m), BM2 1.000 (25 m).
ReducedRun TwoSetUps() {
    ReducedRun run;
    run.rows = {Sight(SightKind::Back, "BM1", 1.5, 30),
                Sight(SightKind::Intermediate, "X", 0.8, 20),
                Sight(SightKind::Fore, "TP1", 0.5, 40), Sight(SightKind::Back, "TP1", 2.0, 35),
                Sight(SightKind::Fore, "BM2", 1.0, 25)};
    return run;
}

// The textbook's combined correction for curvature and refraction, 0.0673 D² m (D in km, the
// refraction a seventh of the curvature), and curvature alone, 0.0785 D².
TEST(Corrections, CurvatureAndRefractionAsTheTextbooksGiveThem) {
    EXPECT_NEAR(CurvatureAndRefraction(1000, 1.0 / 7), 0.0673, 0.00005);
    EXPECT_NEAR(CurvatureAndRefraction(1000, 0), 0.0785, 0.00005);
    EXPECT_NEAR(CurvatureAndRefraction(2000, 1.0 / 7), 4 * 0.0673, 0.0002);
    EXPECT_EQ(CurvatureAndRefraction(0, 0.13), 0);
}

// A set-up whose backsight is the longer reads its backsight too high by more than its
// foresight: the rise is corrected down; the other way round, up.
TEST(Corrections, CurvatureCorrectsEachSetUpByItsOwnSights) {
    ReadingCorrections c;
    c.refraction = 0.13;
    const RowCorrections rows = CorrectRows(TwoSetUps(), c);
    const double f = 0.87 / (2 * 6'371'000.0);  // per m² of sight
    ASSERT_EQ(rows.curvature.size(), 5U);
    EXPECT_EQ(rows.curvature[0], 0);
    EXPECT_NEAR(rows.curvature[1], -f * (900 - 400), 1e-12);   // back 30 m, IS 20 m: down
    EXPECT_NEAR(rows.curvature[2], -f * (900 - 1600), 1e-12);  // fore 40 m, longer: up
    EXPECT_NEAR(rows.curvature[3], rows.curvature[2], 0) << "the change point keeps its own";
    EXPECT_NEAR(rows.curvature[4], -f * (900 - 1600) - f * (1225 - 625), 1e-12);
    EXPECT_EQ(rows.setUps, 2);
    for (double s : rows.staff) EXPECT_EQ(s, 0) << "no staff named, none corrected";
}

// Staffs A (+20 ppm at 20 C, 1 ppm a degree, index +0.1 mm) and B (-10 ppm, 1 ppm a degree,
// index -0.2 mm) leapfrogging at 30 C: A is 30 ppm long then, B true; A back at the first
// set-up, B back at the second. Worked by hand:
//   set-up 1: A 1.500 -> +0.045 mm + 0.1 mm; B 0.500 -> -0.2 mm: dh +0.345 mm
//   IS on B:  B 0.800 -> -0.2 mm: dh to X +0.345 mm
//   set-up 2: B 2.000 -> -0.2 mm; A 1.000 -> +0.030 mm + 0.1 mm: dh -0.330 mm
// The index offsets cancel over the two set-ups: +0.015 mm is A's scale on 0.5 m of rise.
TEST(Corrections, TwoStaffsLeapfrogByTheirCertificates) {
    ReadingCorrections c;
    c.staffs = {{"A", 20, 20, 1, 0.1}, {"B", -10, 20, 1, -0.2}};
    c.temperature = 30;
    const RowCorrections rows = CorrectRows(TwoSetUps(), c);
    EXPECT_NEAR(rows.staff[1], 0.000345, 1e-12);
    EXPECT_NEAR(rows.staff[2], 0.000345, 1e-12);
    EXPECT_NEAR(rows.staff[4], 0.000015, 1e-12);
    EXPECT_FALSE(rows.indexLeft);
    // One set-up only: the offsets do not cancel, and that is told.
    ReducedRun one = TwoSetUps();
    one.rows.resize(3);
    EXPECT_TRUE(CorrectRows(one, c).indexLeft);
}

// One staff: the correction is the height difference times its scale, whatever the readings;
// a staff too long makes a rise too small (corrected up) and a fall too small (corrected down).
TEST(Corrections, OneStaffScalesTheHeightDifferenceBothWays) {
    const struct {
        double scalePpm;
        double temperature;
        double back;
        double fore;
        double correctionMm;
    } cases[] = {
        // 20 ppm at T0, α 1.5: +35 ppm at 30 C; a rise of 2.0 m is 0.070 mm more.
        {20, 30, 2.5, 0.5, +0.070},
        {20, 30, 0.5, 2.5, -0.070},
        // -10 ppm at T0 and 10 C colder: -25 ppm; the rise is 0.050 mm less.
        {-10, 10, 2.5, 0.5, -0.050},
        {-10, 10, 0.5, 2.5, +0.050},
        // At its reference temperature the staff's scale alone.
        {20, 20, 1.7, 0.7, +0.020},
    };
    for (const auto& c : cases) {
        ReadingCorrections corrections;
        corrections.staffs = {{"S", c.scalePpm, 20, 1.5, 0.3}};
        corrections.temperature = c.temperature;
        ReducedRun run;
        run.rows = {Sight(SightKind::Back, "A", c.back, 30),
                    Sight(SightKind::Fore, "B", c.fore, 30)};
        EXPECT_NEAR(CorrectRows(run, corrections).staff[1] * 1000, c.correctionMm, 1e-9)
            << c.scalePpm << " ppm at " << c.temperature << " C";
    }
}

TEST(Corrections, StaffTableAsACertificateIsCopiedOut) {
    std::istringstream table(
        "\xEF\xBB\xBFserial,scale_ppm,t0_c,alpha_ppm_per_c,index_mm\r\n"
        "# invar pair, calibrated 2026-03\r\n"
        "GPCL3-1001, 12.4 ,20,0.8,-0.03\r\n"
        "GPCL3-1002,-6,20,0.8\r\n");
    const std::vector<Staff> staffs = ReadStaffTable(table, "staffs.csv");
    ASSERT_EQ(staffs.size(), 2U);
    EXPECT_EQ(staffs[0].serial, "GPCL3-1001");
    EXPECT_DOUBLE_EQ(staffs[0].scalePpm, 12.4);
    EXPECT_DOUBLE_EQ(staffs[0].indexMm, -0.03);
    EXPECT_DOUBLE_EQ(staffs[1].indexMm, 0);
    EXPECT_DOUBLE_EQ(ScaleOf(staffs[0], 25), (12.4 + 0.8 * 5) * 1e-6);
    EXPECT_DOUBLE_EQ(ScaleOf(staffs[0], std::nullopt), 12.4e-6);
    EXPECT_EQ(StaffsNamed(staffs, {"GPCL3-1002", "GPCL3-1001"}, "staffs.csv")[0].serial,
              "GPCL3-1002");
}

TEST(Corrections, RefusesAStaffItCannotTake) {
    const struct {
        std::string table;
        std::string said;
    } cases[] = {
        {"A,20,20\n", "staffs.csv:1: not serial,scale_ppm,t0_c,alpha_ppm_per_c[,index_mm]"},
        {"A,20,20,1\nB,2O,20,1\n", "staffs.csv:2: scale_ppm \"2O\" is no number"},
        {"A,1000,20,1\n", ""},
        {"A,1000.5,20,1\n", "staffs.csv:1: scale_ppm 1000.5 is past what a staff shows"},
        {"A,20,20,1\nA,21,20,1\n", "staffs.csv:2: staff A is given twice"},
        {"serial,scale_ppm,t0_c,alpha_ppm_per_c\n", "staffs.csv: no staff in the table"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.table);
        if (c.said.empty()) {
            EXPECT_NO_THROW(ReadStaffTable(in, "staffs.csv")) << c.table;
            continue;
        }
        try {
            ReadStaffTable(in, "staffs.csv");
            ADD_FAILURE() << "taken: " << c.table;
        } catch (const CorrectionError& error) {
            EXPECT_EQ(error.what(), c.said);
        }
    }
    const std::vector<Staff> one = {{"A", 0, 20, 0, 0}};
    EXPECT_THROW(StaffsNamed(one, {"B"}, "staffs.csv"), CorrectionError);
    EXPECT_THROW(StaffsNamed(one, {"A", "A", "A"}, "staffs.csv"), CorrectionError);
}

// What staff corrections asked for lack, as both programs and the window judge it.
TEST(Corrections, StaffsAskedForNeedTheTableAndTheStaffs) {
    const struct {
        std::string table;
        std::vector<std::string> staffs;
        bool temperature;
        StaffsGap gap;
    } cases[] = {
        {"", {}, false, StaffsGap::None},
        {"s.csv", {"A"}, false, StaffsGap::None},
        {"s.csv", {"A", "B"}, true, StaffsGap::None},
        {"", {"A"}, false, StaffsGap::NoTable},
        {"", {"A"}, true, StaffsGap::NoTable},
        {"s.csv", {}, false, StaffsGap::NoStaffs},
        {"s.csv", {}, true, StaffsGap::NoStaffs},
        {"", {}, true, StaffsGap::TemperatureWithoutStaffs},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StaffsGapOf(c.table, c.staffs, c.temperature), c.gap)
            << "table \"" << c.table << "\", " << c.staffs.size() << " staffs";
    }
}

// The table read from its file: a folder, a file that is not there and a staff it lacks are
// said; a table written as a spreadsheet saves it (Latin-1 name, CR LF) is read.
TEST(Corrections, StaffsLoadedFromTheirFile) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "rendle-staff-table";
    std::filesystem::create_directories(folder);
    const std::string table = (folder / "staffs.csv").string();
    std::ofstream(table, std::ios::binary) << "serial,scale_ppm,t0_c,alpha_ppm_per_c\r\n"
                                              "N\xE4he-1,12,20,0.8\r\n";
    EXPECT_DOUBLE_EQ(LoadStaffs(table, {"N\xE4he-1"}).front().scalePpm, 12);
    const struct {
        std::string path;
        std::string said;
    } refused[] = {
        {folder.string(), "cannot read " + folder.string() + ": a folder, not a file"},
        {(folder / "none.csv").string(), "cannot open " + (folder / "none.csv").string()},
        {table, "staff B is not in " + table},
    };
    for (const auto& r : refused) {
        try {
            LoadStaffs(r.path, {r.path == table ? "B" : "A"});
            ADD_FAILURE() << "taken: " << r.path;
        } catch (const CorrectionError& error) {
            EXPECT_EQ(error.what(), r.said);
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
