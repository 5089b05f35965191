#include "network/NetworkInput.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

#include "core/Corrections.h"
#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "grid/Text.h"
#include "network/NormalOrthometric.h"

namespace rendle::network {

namespace {

using grid::Trimmed;

std::string Located(const std::string& name, size_t line, const std::string& text) {
    return name + ":" + std::to_string(line) + ": " + text;
}

/// One levelling line's sections, walked row by row through its reduction.
class SectionWalk {
  public:
    SectionWalk(const IsNetworkPoint& isNetworkPoint, std::string source, NetworkInput& input,
                const core::ReadingCorrections* corrections)
        : isNetworkPoint_(isNetworkPoint),
          source_(std::move(source)),
          input_(input),
          corrections_(corrections) {}

    void Walk(const core::ReducedRun& reduced) {
        if (reduced.rows.empty()) return;
        if (corrections_) rows_ = core::CorrectRows(reduced, *corrections_);
        const int32_t first = reduced.rows.front().row;
        const int32_t last = reduced.rows.back().row;
        for (size_t i = 0; i < reduced.rows.size(); ++i) {
            const core::ReducedRow& row = reduced.rows[i];
            at_ = i;
            const int32_t r = row.row;
            const std::string point(Trimmed(row.station));
            const double distance = row.distance;
            const bool networkPoint = r == first || r == last || isNetworkPoint_(point);
            if ((r == first || r == last) && point.empty()) {
                throw NetworkError(source_ + ": the line's " + (r == first ? "first" : "last") +
                                   " point (row " + std::to_string(r) + ") has no name");
            }
            if (row.kind == core::SightKind::Back) {
                EndSetUp();
                entry_ = distance;
                if (networkPoint) Reach(point, r, row.rl.value_or(0));
            } else if (row.kind) {
                touched_ = true;
                exit_ = distance;
                if (networkPoint) {
                    // The set-up is cut here: its part so far belongs to the section ending at
                    // this point, the rest (after an intermediate sight) to the next.
                    EndSetUp();
                    entry_ = distance;
                    Reach(point, r, row.rl.value_or(0));
                }
            }
        }
        EndSetUp();
    }

  private:
    void EndSetUp() {
        if (touched_) {
            length_ += entry_ + exit_;
            ++setUps_;
        }
        touched_ = false;
    }

    void Reach(const std::string& point, int32_t row, double rl) {
        if (start_ && setUps_ > 0) {
            const std::string where =
                source_ + ", rows " + std::to_string(startRow_) + "–" + std::to_string(row);
            // The corrections of the section: what they add from its first row to this one.
            std::optional<DhCorrections> corrected;
            if (corrections_) {
                corrected = DhCorrections{rows_.staff[at_] - rows_.staff[startAt_],
                                          rows_.curvature[at_] - rows_.curvature[startAt_], 0};
                const bool twoStaffs =
                    corrections_->staffs.size() == 2 &&
                    corrections_->staffs[0].indexMm != corrections_->staffs[1].indexMm;
                if (twoStaffs && setUps_ % 2 == 1) {
                    input_.warnings.push_back(
                        where + ": " + std::to_string(setUps_) +
                        " set-ups, an odd number, between " + *start_ + " and " + point +
                        ": the index offsets of the two staffs do not cancel (corrected)");
                }
            }
            const double dh = rl - startRL_ + (corrected ? corrected->Total() : 0);
            if (*start_ == point) {
                input_.lineLoops.push_back({point, dh, length_ / 1000.0, setUps_, where});
            } else {
                Observation o{*start_,      point, dh,           length_ / 1000.0, setUps_,
                              std::nullopt, where, input_.lines, corrected,        std::nullopt};
                input_.observations.push_back(std::move(o));
            }
        }
        if (!start_ || setUps_ > 0 || *start_ != point) {
            start_ = point;
            startRL_ = rl;
            startRow_ = row;
            startAt_ = at_;
        }
        length_ = 0;
        setUps_ = 0;
    }

    const IsNetworkPoint& isNetworkPoint_;
    std::string source_;
    NetworkInput& input_;
    std::optional<std::string> start_;
    double startRL_ = 0;
    int32_t startRow_ = 0;
    double length_ = 0;  // m
    int setUps_ = 0;
    double entry_ = 0;  // the sight where the set-up came into the section
    double exit_ = 0;   // its last sight so far
    bool touched_ = false;
    const core::ReadingCorrections* corrections_;
    core::RowCorrections rows_;
    size_t at_ = 0;       // the reduced row walked
    size_t startAt_ = 0;  // the reduced row the section began at
};

std::vector<std::string> Fields(std::string_view row) {
    std::vector<std::string> fields;
    size_t from = 0;
    while (true) {
        const size_t comma = row.find(',', from);
        fields.emplace_back(Trimmed(row.substr(from, comma - from)));
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    return fields;
}

/// The rows of a CSV file with their line numbers, blank rows and # comments passed over.
std::vector<std::pair<size_t, std::vector<std::string>>> Rows(std::istream& in) {
    std::vector<std::pair<size_t, std::vector<std::string>>> rows;
    std::string line;
    size_t number = 0;
    // Names as a field book's are read: UTF-8, or else the Windows code page.
    readers::LineDecoder decoder;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        decoder.Decode(line);
        const std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == '#') continue;
        rows.emplace_back(number, Fields(text));
    }
    return rows;
}

double Number(const std::string& field, const std::string& column, const std::string& name,
              size_t line) {
    const std::optional<double> value = core::ParseDecimalText(field);
    if (!value || !std::isfinite(*value)) {
        throw NetworkError(Located(name, line, column + " \"" + field + "\" is no number"));
    }
    return *value;
}

}  // namespace

void AddBook(const readers::Book& book, const std::string& name,
             const readers::LineDecoder& decoder, const IsNetworkPoint& isNetworkPoint,
             NetworkInput& input, const core::ReadingCorrections* corrections) {
    if (book.unreadable) {
        throw NetworkError(Located(name, book.unreadable->line, book.unreadable->reason));
    }
    if (corrections && corrections->refraction) {
        if (const std::optional<size_t> line = readers::CurvatureAppliedAt(book)) {
            throw NetworkError(Located(name, *line,
                                       "the instrument corrected this book for curvature or "
                                       "refraction already: it is not corrected twice (leave "
                                       "out --curvature-refraction)"));
        }
    }
    const int lines = std::max<int>(1, static_cast<int>(book.lines.size()));
    for (int k = 1; k <= lines; ++k) {
        const std::string source = lines > 1 ? name + " run " + std::to_string(k) : name;
        grid::Grid sheet;
        core::SetUpLevelSheet(sheet);
        core::RunState run;
        // The rise and fall from an RL of 0: each row's RL is then the height difference from
        // the line's first point, whatever benchmark RL the book gives.
        const readers::ReducedBook done =
            readers::ReadAndReduce(book, k, decoder, sheet, run, [](core::RunState& read) {
                read.StartRL = 0.0;
                read.EndRL = std::monostate{};
            });
        const readers::ReadResult& read = done.read;
        if (read.status != readers::ReadStatus::Read) {
            throw NetworkError(
                Located(name, read.line,
                        (lines > 1 ? "run " + std::to_string(k) + ": " : "") +
                            (read.reason.empty() ? "the book cannot be read" : read.reason)));
        }
        for (const readers::ReadWarning& w : read.warnings.Told()) {
            input.warnings.push_back(Located(name, w.line, w.text));
        }
        const core::ReductionResult& reduced = *done.reduction;
        const bool risesAndFalls = reduced.status == core::ReductionStatus::Reduced ||
                                   (reduced.status == core::ReductionStatus::Stopped &&
                                    reduced.step == core::ReductionStep::ClosingCorrection);
        if (!risesAndFalls) {
            throw NetworkError(source + ": the rise and fall could not be worked out (" +
                               (reduced.reason.empty() ? "no readings" : reduced.reason) + ")");
        }
        ++input.lines;
        SectionWalk(isNetworkPoint, source, input, corrections).Walk(reduced.reduced);
    }
}

std::vector<Observation> ReadObservations(std::istream& in, const std::string& name) {
    const auto rows = Rows(in);
    if (rows.empty()) throw NetworkError(name + ": no header row (from,to,dh,length_km)");
    std::map<std::string, size_t> column;
    for (size_t i = 0; i < rows.front().second.size(); ++i) {
        std::string heading = rows.front().second[i];
        std::transform(heading.begin(), heading.end(), heading.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        column[heading] = i;
    }
    for (const char* needed : {"from", "to", "dh", "length_km"}) {
        if (!column.contains(needed)) {
            throw NetworkError(Located(name, rows.front().first,
                                       std::string("the header row has no column ") + needed +
                                           " (from,to,dh,length_km[,setups][,sigma_mm])"));
        }
    }
    std::vector<Observation> observations;
    const size_t width = rows.front().second.size();
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto& [line, fields] = rows[i];
        if (fields.size() != width) {
            throw NetworkError(Located(name, line,
                                       std::to_string(fields.size()) +
                                           " fields where the header has " +
                                           std::to_string(width)));
        }
        Observation o;
        o.source = name + ":" + std::to_string(line);
        o.from = fields[column["from"]];
        o.to = fields[column["to"]];
        if (o.from.empty() || o.to.empty()) {
            throw NetworkError(Located(name, line, "a point without a name"));
        }
        if (o.from == o.to) {
            throw NetworkError(Located(name, line, "an observation from " + o.from + " to itself"));
        }
        o.dh = Number(fields[column["dh"]], "dh", name, line);
        o.lengthKm = Number(fields[column["length_km"]], "length_km", name, line);
        if (column.contains("setups") && !fields[column["setups"]].empty()) {
            const double setUps = Number(fields[column["setups"]], "setups", name, line);
            if (setUps != std::floor(setUps) || setUps < 0 || setUps > 1e9) {
                throw NetworkError(Located(name, line, "setups is no count of set-ups"));
            }
            o.setUps = static_cast<int>(setUps);
        }
        if (column.contains("temperature_c") && !fields[column["temperature_c"]].empty()) {
            o.temperature = Number(fields[column["temperature_c"]], "temperature_c", name, line);
            if (*o.temperature < core::kColdestStaff || *o.temperature > core::kHottestStaff) {
                throw NetworkError(Located(name, line, "temperature_c is past what a staff meets"));
            }
        }
        if (column.contains("sigma_mm") && !fields[column["sigma_mm"]].empty()) {
            o.sigmaMm = Number(fields[column["sigma_mm"]], "sigma_mm", name, line);
            if (!(*o.sigmaMm > 0))
                throw NetworkError(Located(name, line, "sigma_mm is not above 0"));
        }
        observations.push_back(std::move(o));
    }
    return observations;
}

std::vector<Benchmark> ReadBenchmarks(std::istream& in, const std::string& name,
                                      std::vector<CorrelatedBlock>* correlated) {
    std::vector<Benchmark> benchmarks;
    const auto rows = Rows(in);
    // A header may name, after name,height,sigma_mm, columns cov_NAME: each row's covariance
    // (mm²) with benchmark NAME.
    std::vector<std::string> covarianceWith;
    std::map<std::pair<std::string, std::string>, double> covariances;
    std::map<std::string, size_t, std::less<>> lineOf;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [line, fields] = rows[i];
        if (i == 0 && fields.size() >= 2 && !core::ParseDecimalText(fields[1])) {  // header
            for (size_t c = 3; c < fields.size(); ++c) {
                if (!fields[c].starts_with("cov_") || fields[c].size() == 4) {
                    throw NetworkError(Located(name, line,
                                               "a column after sigma_mm that is not "
                                               "cov_NAME: " +
                                                   fields[c]));
                }
                covarianceWith.push_back(fields[c].substr(4));
            }
            continue;
        }
        if (fields.size() < 2 || fields.size() > 3 + covarianceWith.size() || fields[0].empty()) {
            throw NetworkError(Located(name, line,
                                       covarianceWith.empty()
                                           ? "not name,height[,sigma_mm]"
                                           : "not name,height,sigma_mm and the cov_ columns"));
        }
        Benchmark b{fields[0], Number(fields[1], "height", name, line), std::nullopt};
        if (std::fabs(b.height) > kHighestBenchmark) {
            throw NetworkError(Located(name, line, "a height beyond 100 km of the datum"));
        }
        if (fields.size() >= 3 && !fields[2].empty()) {
            b.sigmaMm = Number(fields[2], "sigma_mm", name, line);
            if (!(*b.sigmaMm > 0))
                throw NetworkError(Located(name, line, "sigma_mm is not above 0"));
        }
        for (size_t c = 3; c < fields.size(); ++c) {
            if (fields[c].empty()) continue;
            const std::string& other = covarianceWith[c - 3];
            const double value = Number(fields[c], "cov_" + other, name, line);
            if (value == 0) continue;
            if (!b.sigmaMm || other == b.name) {
                throw NetworkError(
                    Located(name, line,
                            other == b.name
                                ? "a covariance of " + b.name + " with itself"
                                : "a covariance with " + other + ", and no sigma_mm of its own"));
            }
            const auto key = std::minmax(b.name, other);
            const auto [at, added] = covariances.emplace(std::pair(key.first, key.second), value);
            if (!added && at->second != value) {
                throw NetworkError(Located(name, line,
                                           "the covariance of " + b.name + " and " + other +
                                               " is given twice, not alike"));
            }
        }
        lineOf[b.name] = line;
        benchmarks.push_back(std::move(b));
    }
    if (covariances.empty()) return benchmarks;
    if (!correlated) throw NetworkError(name + ": covariances of benchmarks are not read here");
    // The benchmarks joined by covariances are one block each.
    std::map<std::string, std::string> parent;
    const std::function<std::string(const std::string&)> root = [&](const std::string& n) {
        auto at = parent.find(n);
        if (at == parent.end() || at->second == n) return n;
        return at->second = root(at->second);
    };
    std::map<std::string, double> variance;
    for (const Benchmark& b : benchmarks) {
        if (b.sigmaMm) variance[b.name] = *b.sigmaMm * *b.sigmaMm;
    }
    for (const auto& [pair, value] : covariances) {
        if (!variance.contains(pair.first) || !variance.contains(pair.second)) {
            const std::string& missing = variance.contains(pair.first) ? pair.second : pair.first;
            std::string why = name;
            why.append(": a covariance with ")
                .append(missing)
                .append(", which is no weighted benchmark of the file");
            throw NetworkError(why);
        }
        parent.emplace(pair.first, pair.first);
        parent.emplace(pair.second, pair.second);
        parent[root(pair.first)] = root(pair.second);
    }
    std::map<std::string, std::vector<std::string>> members;
    for (const Benchmark& b : benchmarks) {
        if (parent.contains(b.name)) members[root(b.name)].push_back(b.name);
    }
    for (const auto& [top, names] : members) {
        if (names.size() > kLargestCorrelatedBlock) {
            throw NetworkError(name + ": a correlated block of " + std::to_string(names.size()) +
                               " benchmarks; at most " + std::to_string(kLargestCorrelatedBlock) +
                               " are read");
        }
        CorrelatedBlock block;
        block.benchmarks = names;
        block.covarianceMm2.assign(names.size(), std::vector<double>(names.size(), 0.0));
        for (size_t i = 0; i < names.size(); ++i) {
            for (size_t j = 0; j < names.size(); ++j) {
                if (i == j) {
                    block.covarianceMm2[i][j] = variance[names[i]];
                } else if (const auto at = covariances.find(std::minmax(names[i], names[j]));
                           at != covariances.end()) {
                    block.covarianceMm2[i][j] = at->second;
                }
            }
        }
        correlated->push_back(std::move(block));
    }
    return benchmarks;
}

Positions ReadCoordinates(std::istream& in, const std::string& name) {
    Positions positions;
    const auto rows = Rows(in);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [line, fields] = rows[i];
        if (i == 0 && fields.size() >= 2 && !core::ParseDecimalText(fields[1])) continue;  // header
        if (fields.size() != 3 || fields[0].empty()) {
            throw NetworkError(Located(name, line, "not name,east,north"));
        }
        const Position p{Number(fields[1], "east", name, line),
                         Number(fields[2], "north", name, line)};
        if (std::fabs(p.east) > kFarthestCoordinate || std::fabs(p.north) > kFarthestCoordinate) {
            throw NetworkError(Located(name, line, "a coordinate beyond 100,000 km"));
        }
        if (!positions.emplace(fields[0], p).second) {
            throw NetworkError(Located(name, line, fields[0] + " is given a second time"));
        }
    }
    return positions;
}

GeographicPositions ReadGeographicPositions(std::istream& in, const std::string& name) {
    GeographicPositions positions;
    const auto rows = Rows(in);
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [line, fields] = rows[i];
        if (i == 0 && fields.size() >= 2 && !core::ParseDecimalText(fields[1])) continue;  // header
        if (fields.size() != 3 || fields[0].empty()) {
            throw NetworkError(Located(name, line, "not name,latitude,longitude"));
        }
        const Geographic p{Number(fields[1], "latitude", name, line),
                           Number(fields[2], "longitude", name, line)};
        if (std::fabs(p.latitude) > 90 || std::fabs(p.longitude) > 360) {
            throw NetworkError(
                Located(name, line, "a latitude past 90 or a longitude past 360 degrees"));
        }
        if (!positions.emplace(fields[0], p).second) {
            throw NetworkError(Located(name, line, fields[0] + " is given a second time"));
        }
    }
    return positions;
}

Benchmark ParseBenchmark(std::string_view text) {
    const size_t equals = text.rfind('=');
    if (equals == std::string_view::npos || equals == 0) {
        throw NetworkError("--fix " + std::string(text) + ": not NAME=HEIGHT[:SIGMA_MM]");
    }
    Benchmark b;
    b.name = std::string(Trimmed(text.substr(0, equals)));
    std::string_view value = text.substr(equals + 1);
    const size_t colon = value.find(':');
    const std::optional<double> height = core::ParseDecimalText(value.substr(0, colon));
    std::optional<double> sigma;
    if (colon != std::string_view::npos) sigma = core::ParseDecimalText(value.substr(colon + 1));
    if (!height || (colon != std::string_view::npos && !sigma)) {
        throw NetworkError("--fix " + std::string(text) + ": not NAME=HEIGHT[:SIGMA_MM]");
    }
    b.height = *height;
    b.sigmaMm = sigma;
    return b;
}

}  // namespace rendle::network
