#include "network/GamaXml.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "core/RunState.h"
#include "grid/XmlText.h"
#include "readers/LineDecoder.h"

namespace rendle::network {

namespace {

/// The shortest text that reads back as the same double, with a full stop in every locale.
std::string Exact(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value == 0 ? 0.0 : value);
    return error == std::errc() ? std::string(text, end) : std::string("0");
}

class Reader {
  public:
    Reader(std::string_view text, std::string name) : text_(text), name_(std::move(name)) {
        // Where each line starts, once: a node's line is then looked up, not counted from the
        // start of the file for every observation.
        lineStarts_.push_back(0);
        for (size_t at = text_.find('\n'); at != std::string_view::npos;
             at = text_.find('\n', at + 1)) {
            lineStarts_.push_back(at + 1);
        }
    }

    [[noreturn]] void Fail(const pugi::xml_node& node, const std::string& what) const {
        throw NetworkError(name_ + ":" + std::to_string(LineOf(node)) + ": " + what);
    }

    size_t LineOf(const pugi::xml_node& node) const {
        const auto offset = static_cast<size_t>(std::max<ptrdiff_t>(node.offset_debug(), 0));
        return LineAt(offset);
    }
    size_t LineAt(size_t offset) const {
        offset = std::min(offset, text_.size());
        return static_cast<size_t>(
            std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset) - lineStarts_.begin());
    }

    /// An attribute's number; nothing when the attribute is missing.
    std::optional<double> Number(const pugi::xml_node& node, const char* attribute) const {
        const pugi::xml_attribute a = node.attribute(attribute);
        if (!a) return std::nullopt;
        const std::optional<double> value = core::ParseDecimalText(a.value());
        if (!value || !std::isfinite(*value)) {
            Fail(node, std::string(attribute) + "=\"" + a.value() + "\" is not a number");
        }
        return value;
    }

    /// A point's name, made valid UTF-8 as a CSV file's names are (bytes that are no UTF-8
    /// read as Windows-1252), so that every report can show it.
    std::string Id(const pugi::xml_node& node, const char* attribute) const {
        std::string id = node.attribute(attribute).value();
        if (id.empty()) Fail(node, std::string("<") + node.name() + "> has no " + attribute);
        decoder_.Decode(id);
        return id;
    }

    const std::string& Name() const { return name_; }

  private:
    std::string_view text_;
    std::string name_;
    std::vector<size_t> lineStarts_;
    mutable readers::LineDecoder decoder_;  // decoding keeps no state between names
};

bool Has(const char* value, char c) {
    return std::string_view(value).find(c) != std::string_view::npos;
}

/// Gama's a-priori standard deviation of unit weight when a network names none, mm.
constexpr double kGamaSigmaApr = 10;

/// A block's <cov-mat> (mm²), from Gama's banded upper triangle: each row its variance and the
/// `band` covariances after it, the rest 0. The variances, and the whole symmetric matrix only
/// where a covariance is not 0 (none for a diagonal one, however large its block).
struct Covariances {
    std::vector<double> variances;
    std::vector<std::vector<double>> matrix;  ///< empty: no covariance
};

Covariances ReadCovariances(const Reader& r, const pugi::xml_node& node, size_t observations) {
    const auto dim = r.Number(node, "dim");
    const auto band = r.Number(node, "band");
    if (!dim || *dim != static_cast<double>(observations)) {
        r.Fail(node, "the <cov-mat> is not of the observations before it in its block");
    }
    const double width = band.value_or(0);
    if (!(width >= 0) || width != std::floor(width)) r.Fail(node, "band is not a whole number");
    std::istringstream values(node.text().get());
    Covariances c;
    std::vector<std::tuple<size_t, size_t, double>> covariances;
    for (size_t i = 0; i < observations; ++i) {
        const size_t inRow =
            std::min(static_cast<size_t>(std::min<double>(width, 1e6)) + 1, observations - i);
        for (size_t j = 0; j < inRow; ++j) {
            std::string word;
            values >> word;
            const std::optional<double> value = core::ParseDecimalText(word);
            if (!value || (j == 0 && !(*value > 0)) ||
                std::fabs(*value) > kLargestSigmaMm * kLargestSigmaMm) {
                r.Fail(node, "a value of the <cov-mat> that is not a number" +
                                 std::string(j == 0 ? " above 0" : "") + ": " + word);
            }
            if (j == 0) {
                c.variances.push_back(*value);
            } else if (*value != 0) {
                covariances.emplace_back(i, i + j, *value);
            }
        }
    }
    if (covariances.empty()) return c;
    if (observations > kLargestCorrelatedBlock) {
        r.Fail(node, "a correlated block of " + std::to_string(observations) +
                         " observations; at most " + std::to_string(kLargestCorrelatedBlock) +
                         " are read");
    }
    c.matrix.assign(observations, std::vector<double>(observations, 0.0));
    for (size_t i = 0; i < observations; ++i) c.matrix[i][i] = c.variances[i];
    for (const auto& [i, j, value] : covariances) c.matrix[i][j] = c.matrix[j][i] = value;
    return c;
}

/// The <dh> of a block, each with its standard deviation: from the block's <cov-mat> when it
/// has one (a diagonal one), else its stdev, else sigma-apr × √dist (km) as gama-local takes it.
void ReadHeightDifferences(const Reader& r, const pugi::xml_node& block, double sigmaApr,
                           GamaNetwork& net) {
    std::vector<std::pair<Observation, pugi::xml_node>> read;
    std::vector<std::vector<double>> matrix;
    bool covariances = false;
    for (const pugi::xml_node& node : block.children()) {
        if (node.type() != pugi::node_element) continue;
        const std::string kind = node.name();
        if (kind == "cov-mat") {
            Covariances c = ReadCovariances(r, node, read.size());
            for (size_t i = 0; i < read.size(); ++i) {
                read[i].first.sigmaMm = std::sqrt(c.variances[i]);
            }
            matrix = std::move(c.matrix);
            covariances = true;
            continue;
        }
        if (kind != "dh") r.Fail(node, "<" + kind + "> in <height-differences>");
        if (covariances) r.Fail(node, "a <dh> after the block's <cov-mat>");
        Observation o;
        o.from = r.Id(node, "from");
        o.to = r.Id(node, "to");
        const std::optional<double> val = r.Number(node, "val");
        if (!val) r.Fail(node, "<dh> has no val");
        o.dh = *val;
        if (std::fabs(o.dh) > kLargestDh) r.Fail(node, "a height difference beyond 10 km");
        if (const auto dist = r.Number(node, "dist")) {
            if (*dist < 0 || *dist > kLongestKm) r.Fail(node, "dist is not 0 to 10000 km");
            o.lengthKm = *dist;
        }
        if (const auto stdev = r.Number(node, "stdev")) {
            if (!(*stdev > 0) || *stdev > kLargestSigmaMm) {
                r.Fail(node, "stdev is not above 0 and within 100 m");
            }
            o.sigmaMm = stdev;
        } else if (o.lengthKm > 0) {
            o.sigmaMm = sigmaApr * std::sqrt(o.lengthKm);
        }
        if (o.from == o.to) r.Fail(node, "<dh> from " + o.from + " to itself");
        o.source = r.Name() + ":" + std::to_string(r.LineOf(node));
        read.emplace_back(std::move(o), node);
    }
    // A <cov-mat> with covariances makes the block's observations one correlated block; a
    // diagonal one only gives their variances.
    if (!matrix.empty()) {
        CorrelatedBlock block;
        block.covarianceMm2 = std::move(matrix);
        for (size_t i = 0; i < read.size(); ++i) {
            block.observations.push_back(net.observations.size() + i);
        }
        net.correlated.push_back(std::move(block));
    }
    for (auto& [o, node] : read) {
        if (!o.sigmaMm) {
            r.Fail(node,
                   "<dh> has no weight: give its stdev (mm), its dist (km, with the network's "
                   "sigma-apr), or a <cov-mat> of its block");
        }
        net.observations.push_back(std::move(o));
    }
}

/// Observed heights with their variances: weighted benchmarks.
void ReadCoordinates(const Reader& r, const pugi::xml_node& block, GamaNetwork& net) {
    std::vector<std::pair<Benchmark, pugi::xml_node>> observed;
    for (const pugi::xml_node& node : block.children()) {
        if (node.type() != pugi::node_element) continue;
        const std::string kind = node.name();
        if (kind == "point") {
            if (node.attribute("x") || node.attribute("y")) {
                r.Fail(node, "observed x and y are not levelling; only z is read");
            }
            const auto z = r.Number(node, "z");
            if (!z) r.Fail(node, "an observed point with no z");
            observed.push_back({{r.Id(node, "id"), *z, std::nullopt}, node});
        } else if (kind == "cov-mat") {
            // Observed heights correlated with each other (a band above 0) are one block of
            // the weight matrix, as height differences are.
            Covariances c = ReadCovariances(r, node, observed.size());
            CorrelatedBlock block;
            for (size_t i = 0; i < observed.size(); ++i) {
                observed[i].first.sigmaMm = std::sqrt(c.variances[i]);
                block.benchmarks.push_back(observed[i].first.name);
            }
            if (!c.matrix.empty()) {
                block.covarianceMm2 = std::move(c.matrix);
                net.correlated.push_back(std::move(block));
            }
        } else {
            r.Fail(node, "<" + kind + "> in <coordinates>");
        }
    }
    for (auto& [b, at] : observed) {
        if (!b.sigmaMm) r.Fail(at, "observed height of " + b.name + " with no <cov-mat>");
        net.benchmarks.push_back(std::move(b));
    }
}

}  // namespace

GamaNetwork ReadGamaXml(std::string_view text, const std::string& name) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    const Reader r(text, name);
    if (!parsed) {
        throw NetworkError(
            name + ":" +
            std::to_string(r.LineAt(static_cast<size_t>(std::max<ptrdiff_t>(parsed.offset, 0)))) +
            ": not XML (" + parsed.description() + ")");
    }
    const pugi::xml_node root = doc.document_element();
    if (std::string_view(root.name()) != "gama-local") {
        throw NetworkError(name + ": not a GNU Gama input (no <gama-local>)");
    }
    GamaNetwork net;
    std::set<std::string> seen;
    for (const pugi::xml_node& network : root.children("network")) {
        double sigmaApr = kGamaSigmaApr;
        if (const pugi::xml_node p = network.child("parameters")) {
            if (const auto sigma = r.Number(p, "sigma-apr")) {
                if (!(*sigma > 0)) r.Fail(p, "sigma-apr is not above 0");
                sigmaApr = *sigma;
            }
            if (const auto conf = r.Number(p, "conf-pr")) {
                if (!(*conf >= 0.5 && *conf <= 0.9999)) r.Fail(p, "conf-pr is not 0.5 to 0.9999");
                net.confidence = conf;
            }
        }
        for (const pugi::xml_node& block : network.children("points-observations")) {
            for (const pugi::xml_node& node : block.children()) {
                if (node.type() != pugi::node_element) continue;
                const std::string kind = node.name();
                if (kind == "point") {
                    const std::string id = r.Id(node, "id");
                    const char* fix = node.attribute("fix").value();
                    const char* adj = node.attribute("adj").value();
                    if (Has(fix, 'z') || Has(fix, 'Z')) {
                        const auto z = r.Number(node, "z");
                        if (!z) r.Fail(node, "point " + id + " is held fixed with no z");
                        if (std::fabs(*z) > kHighestBenchmark) {
                            r.Fail(node, "a height beyond 100 km of the datum");
                        }
                        if (!seen.insert(id).second) r.Fail(node, "point " + id + " is held twice");
                        net.benchmarks.push_back({id, *z, std::nullopt});
                    } else {
                        if (Has(adj, 'Z')) net.datum.push_back(id);
                        if (node.attribute("z")) {
                            const auto z = r.Number(node, "z");
                            if (std::fabs(*z) > kHighestBenchmark) {
                                r.Fail(node, "a height beyond 100 km of the datum");
                            }
                            net.approx.emplace_back(id, *z);
                        }
                    }
                } else if (kind == "height-differences") {
                    ReadHeightDifferences(r, node, sigmaApr, net);
                } else if (kind == "coordinates") {
                    ReadCoordinates(r, node, net);
                } else if (kind == "obs") {
                    for (const pugi::xml_node& o : node.children()) {
                        if (o.type() == pugi::node_element) {
                            r.Fail(o, std::string("<") + o.name() +
                                          "> is not a height difference; only levelling is "
                                          "adjusted");
                        }
                    }
                } else if (kind == "vectors") {
                    r.Fail(node,
                           "<vectors> are not height differences; only levelling is "
                           "adjusted");
                } else {
                    r.Fail(node, "<" + kind + "> is not read");
                }
            }
        }
    }
    if (net.observations.empty()) {
        throw NetworkError(name + ": no height differences (<height-differences> with <dh>)");
    }
    return net;
}

std::string GamaXmlOf(const NetworkResult& result, const std::vector<std::string>& datum,
                      const std::string& description) {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = doc.append_child("gama-local");
    root.append_attribute("xmlns") = "http://www.gnu.org/software/gama/gama-local";
    pugi::xml_node network = root.append_child("network");
    network.append_child("description").text() = grid::XmlSafeText(description).c_str();
    pugi::xml_node parameters = network.append_child("parameters");
    parameters.append_attribute("sigma-apr") = "1";
    parameters.append_attribute("conf-pr") = Exact(result.confidence).c_str();
    pugi::xml_node block = network.append_child("points-observations");

    std::map<std::string, double, std::less<>> weighted;  // point, sigma mm
    std::map<std::string, double, std::less<>> observedHeight;
    for (const AdjustedObservation& o : result.observations) {
        if (o.benchmark) {
            weighted[o.observation.to] = o.sigma * 1000.0;
            observedHeight[o.observation.to] = o.observation.dh;
        }
    }
    const std::set<std::string, std::less<>> datumPoints(datum.begin(), datum.end());
    for (const AdjustedHeight& h : result.heights) {
        pugi::xml_node point = block.append_child("point");
        point.append_attribute("id") = grid::XmlSafeText(h.point).c_str();
        if (h.fixed) {
            point.append_attribute("z") = Exact(h.height).c_str();
            point.append_attribute("fix") = "z";
        } else {
            const bool inDatum =
                result.freeNetwork && (datumPoints.empty() || datumPoints.contains(h.point));
            // Its height as the approximate one: a free network's datum is then laid where the
            // job laid it (gama-local takes a missing z as 0).
            point.append_attribute("z") = Exact(h.height).c_str();
            point.append_attribute("adj") = inDatum ? "Z" : "z";
        }
    }
    const auto writeDh = [&](pugi::xml_node differences, const AdjustedObservation& o,
                             bool withStdev) {
        const Observation& ob = o.observation;
        pugi::xml_node dh = differences.append_child("dh");
        dh.append_attribute("from") = grid::XmlSafeText(ob.from).c_str();
        dh.append_attribute("to") = grid::XmlSafeText(ob.to).c_str();
        dh.append_attribute("val") = Exact(ob.dh).c_str();
        if (withStdev) dh.append_attribute("stdev") = Exact(o.sigma * 1000.0).c_str();
        dh.append_attribute("dist") = Exact(ob.lengthKm).c_str();
    };
    std::set<size_t> inBlocks;
    const auto ofHeights = [&](const CorrelatedBlock& b) {
        return !b.observations.empty() && result.observations[b.observations[0]].benchmark;
    };
    for (const CorrelatedBlock& b : result.correlated) {
        inBlocks.insert(b.observations.begin(), b.observations.end());
    }
    pugi::xml_node differences = block.append_child("height-differences");
    for (size_t k = 0; k < result.observations.size(); ++k) {
        if (!result.observations[k].benchmark && !inBlocks.contains(k)) {
            writeDh(differences, result.observations[k], true);
        }
    }
    // Each correlated block as a <height-differences> of its own, its <cov-mat> in full (the
    // band reaching every covariance).
    for (const CorrelatedBlock& b : result.correlated) {
        if (ofHeights(b)) continue;  // written with the observed heights below
        pugi::xml_node correlated = block.append_child("height-differences");
        for (const size_t k : b.observations) writeDh(correlated, result.observations[k], false);
        std::string values;
        for (size_t i = 0; i < b.covarianceMm2.size(); ++i) {
            for (size_t j = i; j < b.covarianceMm2.size(); ++j) {
                values += (values.empty() ? "" : " ") + Exact(b.covarianceMm2[i][j]);
            }
        }
        pugi::xml_node covariance = correlated.append_child("cov-mat");
        covariance.append_attribute("dim") = std::to_string(b.observations.size()).c_str();
        covariance.append_attribute("band") = std::to_string(b.observations.size() - 1).c_str();
        covariance.text() = values.c_str();
    }
    if (!weighted.empty()) {
        // The observed heights' covariances: each correlated block's, the rest 0; the band
        // reaches every covariance there is.
        std::map<std::pair<std::string, std::string>, double> covariance;
        for (const CorrelatedBlock& b : result.correlated) {
            if (!ofHeights(b)) continue;
            for (size_t i = 0; i < b.observations.size(); ++i) {
                for (size_t j = 0; j < b.observations.size(); ++j) {
                    covariance[{result.observations[b.observations[i]].observation.to,
                                result.observations[b.observations[j]].observation.to}] =
                        b.covarianceMm2[i][j];
                }
            }
        }
        std::vector<std::string> names;
        names.reserve(weighted.size());
        for (const auto& [name, sigmaMm] : weighted) names.push_back(name);
        size_t band = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            for (size_t j = i + 1; j < names.size(); ++j) {
                const auto at = covariance.find({names[i], names[j]});
                if (at != covariance.end() && at->second != 0) band = std::max(band, j - i);
            }
        }
        pugi::xml_node coordinates = block.append_child("coordinates");
        std::string values;
        for (size_t i = 0; i < names.size(); ++i) {
            pugi::xml_node point = coordinates.append_child("point");
            point.append_attribute("id") = grid::XmlSafeText(names[i]).c_str();
            point.append_attribute("z") = Exact(observedHeight[names[i]]).c_str();
            const double sigmaMm = weighted[names[i]];
            const auto own = covariance.find({names[i], names[i]});
            values += (values.empty() ? "" : " ") +
                      Exact(own != covariance.end() ? own->second : sigmaMm * sigmaMm);
            for (size_t j = i + 1; j <= i + band && j < names.size(); ++j) {
                const auto at = covariance.find({names[i], names[j]});
                values += " " + Exact(at != covariance.end() ? at->second : 0.0);
            }
        }
        pugi::xml_node matrix = coordinates.append_child("cov-mat");
        matrix.append_attribute("dim") = std::to_string(names.size()).c_str();
        matrix.append_attribute("band") = std::to_string(band).c_str();
        matrix.text() = values.c_str();
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace rendle::network
