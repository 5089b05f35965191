// The command line of both command-line programs, parsed by CLI11 alike.
#pragma once

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/Terminal.h"
#include "core/Corrections.h"

namespace rendle::cli {

inline constexpr int kOutputFailed = 4;
inline constexpr int kUsageError = 64;

/// Parses the command line. Nothing when the program goes on; else the status it ends with:
/// 0 after --help or --version (4 when standard output could not take them), 64 for bad usage,
/// said on stderr by CLI11.
inline std::optional<int> ParseArguments(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {  // --help, --version
        const int status = app.exit(done);
        std::cout.flush();
        if (!std::cout) {
            Say(app.get_name() + ": standard output could not be written");
            return kOutputFailed;
        }
        return status;
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kUsageError;
    }
    return std::nullopt;
}

/// The options that correct the readings, alike in both programs: the staff table and the
/// staffs, their temperature, and K for curvature and refraction. `of` names what is levelled
/// ("run", "runs").
inline void AddCorrectionOptions(CLI::App& app, std::string& staffsFile,
                                 std::vector<std::string>& staffs,
                                 std::optional<double>& temperature,
                                 std::optional<double>& refraction, const std::string& of) {
    app.add_option("--staffs", staffsFile,
                   "Staff corrections: the staff table, serial,scale_ppm,t0_c,alpha_ppm_per_c"
                   "[,index_mm] (a calibration certificate's figures)")
        ->type_name("FILE.csv")
        ->check(NotAnOption);
    app.add_option("--staff", staffs,
                   "The staff of the " + of +
                       ", or the two that leapfrog from the first backsight (A,B); each reading "
                       "corrected as reading x (1 + (scale + alpha x (T - T0)) x 1e-6) + index")
        ->delimiter(',')
        ->type_name("S[,S2]")
        ->allow_extra_args(false)
        ->check(NotAnOption);
    app.add_option("--temperature", temperature,
                   "The staffs' temperature, C; without it each staff is taken at its reference "
                   "temperature")
        ->type_name("C")
        ->check(CLI::Range(core::kColdestStaff, core::kHottestStaff));
    app.add_option("--curvature-refraction", refraction,
                   "Correct each set-up for the earth's curvature and refraction over its own "
                   "sights, -(1 - K)(dB^2 - dF^2) / 2R, R 6371 km, with this K (0.13 is usual)")
        ->type_name("K")
        ->check(CLI::Range(core::kLeastRefraction, core::kMostRefraction));
}

}  // namespace rendle::cli
