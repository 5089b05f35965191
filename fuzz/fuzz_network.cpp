// libFuzzer target: a levelling network read as rendle-net reads it and adjusted with every
// statistic. The first byte chooses the options (weights, snooping, a class, the datum); the rest
// is a CSV file of observations, GNU Gama's XML, or a field book (any format Rendle reads),
// followed after a line "#benchmarks" by a benchmarks file. A file that does not read, or a network
// that cannot be adjusted, must say so; nothing may crash or hang, and what is adjusted must hold
// together: redundancy numbers summing to the degrees of freedom, finite heights, held heights
// exact, every verdict its printed figures', a JSON document that parses, a drawing whose SVG
// parses as XML, and Gama's XML written that reads back with every observation.
#include <rapidjson/document.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "core/ToleranceClasses.h"
#include "core/Verdict.h"
#include "network/Adjustment.h"
#include "network/Drawing.h"
#include "network/GamaXml.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"
#include "readers/FieldBook.h"

namespace {

using namespace rendle::network;

void Check(bool holds) {
    if (!holds) std::abort();
}

void CheckVerdicts(const std::vector<ClosureCheck>& checks) {
    for (const ClosureCheck& c : checks) {
        Check(std::isfinite(c.misclosure) && std::isfinite(c.limit) && c.limit >= 0);
        const double shown = rendle::core::AsPrinted(std::fabs(c.misclosure) * 1000, 2);
        const double limit = rendle::core::AsPrinted(c.limit * 1000, 2);
        Check(c.within == (shown <= limit));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    const uint8_t choice = data[0];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string benchmarkText;
    if (const size_t at = text.find("#benchmarks"); at != std::string::npos) {
        benchmarkText = text.substr(at + 11);
        text.resize(at);
    }
    try {
        NetworkInput input;
        std::vector<Benchmark> held;
        if (text.starts_with("<")) {
            GamaNetwork gama = ReadGamaXml(text, "fuzz.gkf");
            input.observations = std::move(gama.observations);
            held = std::move(gama.benchmarks);
        } else if (text.starts_with("from") || text.starts_with("to") || text.starts_with("dh")) {
            std::istringstream in(text);
            input.observations = ReadObservations(in, "fuzz.csv");
        } else {
            std::istringstream in(text);
            const rendle::readers::LineDecoder decoder;
            rendle::readers::Book book;
            std::string error;
            if (!rendle::readers::LoadBook(in, std::nullopt, decoder, book, error) ||
                !book.format) {
                return 0;
            }
            AddBook(
                book, "fuzz.book", decoder, [](std::string_view) { return false; }, input);
        }
        std::istringstream benchmarksIn(benchmarkText);
        std::vector<Benchmark> benchmarks = ReadBenchmarks(benchmarksIn, "fuzz-benchmarks.csv");
        benchmarks.insert(benchmarks.begin(), held.begin(), held.end());
        if ((choice & 8) != 0 && benchmarks.empty() && !input.observations.empty()) {
            benchmarks.push_back({input.observations.front().from, 0.0, std::nullopt});
        }
        AdjustmentOptions options;
        options.weighting = static_cast<Weighting>(choice % 3);
        options.snoop = static_cast<Snooping>((choice >> 2) % 2 == 0 ? 0 : 1 + (choice >> 7));
        const auto classes = rendle::core::ToleranceClasses();
        if ((choice & 16) != 0) options.limits = LimitsOfClass(&classes[choice % classes.size()]);
        if ((choice & 32) != 0 && benchmarks.empty() && !input.observations.empty()) {
            options.datum = {input.observations.front().to};
        }
        const NetworkResult result =
            Adjust(input.observations, benchmarks, input.lineLoops, options);
        double redundancy = 0;
        for (const AdjustedObservation& o : result.observations) {
            Check(o.redundancy >= 0 && o.redundancy <= 1);
            if (!o.removed) redundancy += o.redundancy;
        }
        if (!result.observations.empty()) {
            Check(std::fabs(redundancy - result.redundancy) <=
                  1e-6 * static_cast<double>(result.observations.size()) + 1e-6);
        }
        for (const AdjustedHeight& h : result.heights) {
            Check(std::isfinite(h.height) && std::isfinite(h.sigma) && std::isfinite(h.interval));
            if (h.fixed) {
                bool found = false;
                for (const Benchmark& b : benchmarks) {
                    if (b.name == h.point && !b.sigmaMm) found = found || b.height == h.height;
                }
                Check(found);
            }
        }
        CheckVerdicts(result.loops);
        CheckVerdicts(result.doubleRuns);
        CheckVerdicts(result.benchmarkLines);
        std::ostringstream report;
        WriteTextReport(result, {}, report);
        std::ostringstream json;
        WriteJsonReport(result, {}, json);
        rapidjson::Document document;
        Check(!document.Parse(json.str().c_str()).HasParseError());

        // The drawing, its points placed on a line (the layout is Graphviz's to test).
        Positions positions;
        double east = 0;
        for (const AdjustedHeight& h : result.heights) positions[h.point] = {east++, east / 3};
        DrawingOptions drawing;
        drawing.colourBy = (choice & 64) != 0 ? ColourBy::Redundancy : ColourBy::W;
        drawing.schematic = (choice & 128) != 0;
        const std::string svg = SvgOf(DrawNetwork(result, positions, drawing));
        pugi::xml_document parsed;
        Check(static_cast<bool>(parsed.load_string(svg.c_str())));

        const GamaNetwork back = ReadGamaXml(GamaXmlOf(result, options.datum, text), "back.gkf");
        size_t differences = 0;
        for (const AdjustedObservation& o : result.observations) differences += o.benchmark ? 0 : 1;
        Check(back.observations.size() == differences);
    } catch (const NetworkError&) {
        // said, as it should be
    }
    return 0;
}
