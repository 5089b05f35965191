// An adjusted levelling network said in words (the text report), as data (the JSON document)
// and as the sheets of a workbook.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "grid/Grid.h"
#include "grid/JsonWriter.h"
#include "network/Network.h"

namespace rendle::network {

/// What the report says of how the network was weighted and tested, besides the result.
struct ReportSettings {
    std::string weights;  ///< "by length, 1 mm × √L km"
    double alpha = 0.05;
    double alpha0 = 0.001;
    double power = 0.80;
    std::string tolerance;         ///< "2 mm √K" or the class's name
    std::string snooping = "off";  ///< "off", "while the global test fails", "always"
    /// The corrections made to the height differences, with their inputs, in words; empty:
    /// none.
    std::string corrections;
};

/// Summary; heights with standard deviations in mm; observations with dh, adjusted dh, v, r,
/// w, MDB and flags; loops and sections run twice against their limits; the snooping log.
void WriteTextReport(const NetworkResult& result, const ReportSettings& settings,
                     std::ostream& out);

using grid::OutputWritten;

/// The files of a job (--save, --pdf, --svg, --gama-xml), each when asked for.
struct NetworkOutputs {
    std::optional<OutputWritten> workbook;
    std::optional<OutputWritten> pdf;
    std::optional<OutputWritten> svg;
    std::optional<OutputWritten> gamaXml;
};

/// The same content as one JSON object, metres throughout, with what became of each file asked
/// for; docs/rendle-net.schema.json is its schema.
void WriteJsonReport(const NetworkResult& result, const ReportSettings& settings, std::ostream& out,
                     const NetworkOutputs& outputs = {});

/// The sheet of heights and the sheet of observations, for the workbook.
grid::Grid HeightsSheet(const NetworkResult& result);
grid::Grid ObservationsSheet(const NetworkResult& result);

/// The workbook whole, in this order: the summary, heights, observations, loops, lines between
/// benchmarks, sections run twice and the snooping log.
std::vector<grid::Grid> WorkbookSheets(const NetworkResult& result, const ReportSettings& settings);

/// The flag of an observation: "removed", "no check", "outlier" (|w| beyond the critical
/// value), or empty.
std::string FlagOf(const AdjustedObservation& o, double criticalW);

/// What failed, each in a few words ("global test failed high", "3 observations beyond 3.29",
/// "2 loops beyond their limits"); empty when every test passed: the global test, every w, every
/// loop, line between benchmarks and section run twice, and snooping that could tell its
/// observations apart.
std::vector<std::string> Failures(const NetworkResult& result);
bool AllPassed(const NetworkResult& result);

/// Throws NetworkError when the workbook's sheets cannot hold this many heights or
/// observations (a row each, below the headings).
void CheckWorkbookRows(size_t heights, size_t observations);

}  // namespace rendle::network
