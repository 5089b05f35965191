#include "network/Closures.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <set>

#include "core/Verdict.h"

namespace rendle::network {

namespace {

/// The misclose limit C mm √K of `km`, in m.
double LimitOf(double mm, double km) {
    return mm * std::sqrt(std::max(km, 0.0)) / 1000.0;
}

/// A misclosure against its limit, judged as the report prints the two (mm, to the hundredth).
bool WithinLimit(double misclosure, double limit) {
    return core::Within(std::fabs(misclosure) * 1000.0, limit * 1000.0, kMillimetreDecimals);
}

/// The a-priori variance of a section's mean height difference, m².
double SectionVariance(const Problem& problem, const Section& s) {
    double sum = 0;
    for (size_t k : s.runs) sum += problem.rows[k].sigma * problem.rows[k].sigma;
    const auto n = static_cast<double>(s.runs.size());
    return sum / (n * n);
}

/// The coefficients of a section's runs in its mean height difference from `from`.
void AddSectionTerms(const Problem& problem, const Section& s, int from,
                     std::vector<std::pair<size_t, double>>& terms) {
    const auto n = static_cast<double>(s.runs.size());
    const double way = s.a == from ? 1.0 : -1.0;
    for (const size_t k : s.runs) {
        terms.emplace_back(k, way * (problem.rows[k].from == s.a ? 1.0 : -1.0) / n);
    }
}

/// A check's limit and verdict: C mm √K of its length, or where it has none the critical |w|
/// times the a-priori σ of its misclosure (`variance`, m²).
void Judge(ClosureCheck& check, double mmPerRootKm, double variance, double criticalW) {
    check.bySigma = !(check.lengthKm > 0);
    check.limit = check.bySigma ? criticalW * std::sqrt(std::max(variance, 0.0))
                                : LimitOf(mmPerRootKm, check.lengthKm);
    check.within = WithinLimit(check.misclosure, check.limit);
}

std::string Sources(const std::vector<Observation>& observations, const std::vector<size_t>& runs) {
    std::string text;
    for (size_t k : runs) text += (text.empty() ? "" : "; ") + observations[k].source;
    return text;
}

}  // namespace

std::vector<Section> Sections(const Problem& problem, const std::vector<Observation>& observations,
                              const std::vector<bool>& removed) {
    std::map<std::pair<int, int>, std::vector<size_t>> sectionsOf;
    std::vector<Section> sections;
    for (size_t k = 0; k < observations.size(); ++k) {
        const auto& row = problem.rows[k];
        const Observation& o = observations[k];
        const int a = std::min(row.from, row.to);
        const int b = std::max(row.from, row.to);
        std::vector<size_t>& between = sectionsOf[{a, b}];
        size_t at = sections.size();
        for (size_t i : between) {
            const Observation& first = observations[sections[i].runs.front()];
            const bool oneLine = o.line && first.line && *o.line == *first.line;
            const double shorter = std::min(o.lengthKm, first.lengthKm);
            const double longer = std::max(o.lengthKm, first.lengthKm);
            if (!oneLine && shorter >= kRunTwiceLengths * longer) {
                at = i;
                break;
            }
        }
        if (at == sections.size()) {
            between.push_back(at);
            sections.push_back({a, b, 0, 0, {}, false});
        }
        Section& s = sections[at];
        s.dhSum += row.from == a ? row.observed : -row.observed;
        s.lengthSum += o.lengthKm;
        s.runs.push_back(k);
        s.holdsRemoved = s.holdsRemoved || removed[k];
    }
    return sections;
}

/// The loops of a cycle basis of the network (sections run twice taken at their mean) and the
/// differences of the sections run twice, on the observations as measured.
void CheckClosures(const Problem& problem, const std::vector<Observation>& observations,
                   const std::vector<Section>& sections, const std::vector<bool>& removed,
                   const MiscloseLimits& limits, double criticalW, NetworkResult& result) {
    const auto sigma2 = [&](size_t k) { return problem.rows[k].sigma * problem.rows[k].sigma; };
    for (const Section& s : sections) {
        const auto oriented = [&](size_t k) {
            const auto& row = problem.rows[k];
            return row.from == s.a ? row.observed : -row.observed;
        };
        for (size_t j = 1; j < s.runs.size(); ++j) {
            ClosureCheck check;
            check.points = {problem.names[static_cast<size_t>(s.a)],
                            problem.names[static_cast<size_t>(s.b)]};
            check.misclosure = oriented(s.runs[0]) - oriented(s.runs[j]);
            check.lengthKm =
                (observations[s.runs[0]].lengthKm + observations[s.runs[j]].lengthKm) / 2.0;
            double variance = sigma2(s.runs[0]) + sigma2(s.runs[j]);
            if (!problem.blocks.empty()) {
                const auto sign = [&](size_t k) {
                    return problem.rows[k].from == s.a ? 1.0 : -1.0;
                };
                variance = problem.CombinedVariance(
                    {{s.runs[0], sign(s.runs[0])}, {s.runs[j], -sign(s.runs[j])}});
            }
            Judge(check, limits.sectionDifferenceMm, variance, criticalW);
            check.source = Sources(observations, {s.runs[0], s.runs[j]});
            check.holdsRemoved = removed[s.runs[0]] || removed[s.runs[j]];
            result.doubleRuns.push_back(std::move(check));
        }
    }

    // The loops of the basis: taken in the order of the sections, one that joins two points
    // already joined by the sections before it closes a loop, with the fewest of them. Each loop
    // holds a section no earlier one holds, so the loops are independent, and they number as
    // many as the network's loops; in a net of levelled blocks each is a block.
    const size_t n = problem.names.size();
    std::vector<std::vector<size_t>> at(n);
    PointSets joined(n);
    std::vector<size_t> seen(n, 0);  // the search that reached a point last, 0 none
    std::vector<size_t> via(n, 0);   // the section it was reached by
    size_t search = 0;
    std::deque<size_t> queue;
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        if (!joined.Join(s.a, s.b)) {
            // The fewest sections from b back to a, breadth first.
            ++search;
            const auto a = static_cast<size_t>(s.a);
            const auto b = static_cast<size_t>(s.b);
            queue.assign(1, b);
            seen[b] = search;
            while (!queue.empty() && seen[a] != search) {
                const size_t p = queue.front();
                queue.pop_front();
                for (size_t k : at[p]) {
                    const auto q = static_cast<size_t>(sections[k].Other(static_cast<int>(p)));
                    if (seen[q] == search) continue;
                    seen[q] = search;
                    via[q] = k;
                    queue.push_back(q);
                }
            }
            // Round the loop: a, b by this section, then back to a along the path found.
            ClosureCheck check;
            check.points = {problem.names[a], problem.names[b]};
            check.misclosure = s.Dh(s.a);
            check.lengthKm = s.Length();
            double variance = SectionVariance(problem, s);
            std::vector<std::pair<size_t, double>> terms;
            AddSectionTerms(problem, s, s.a, terms);
            check.holdsRemoved = s.holdsRemoved;
            std::vector<size_t> runs = s.runs;
            size_t p = a;  // walked from a towards b, the path read backwards
            std::vector<std::string> back;
            while (p != b) {
                const Section& k = sections[via[p]];
                const auto q = static_cast<size_t>(k.Other(static_cast<int>(p)));
                check.misclosure += k.Dh(static_cast<int>(q));
                check.lengthKm += k.Length();
                variance += SectionVariance(problem, k);
                AddSectionTerms(problem, k, static_cast<int>(q), terms);
                check.holdsRemoved = check.holdsRemoved || k.holdsRemoved;
                runs.insert(runs.end(), k.runs.begin(), k.runs.end());
                if (q != b) back.push_back(problem.names[q]);
                p = q;
            }
            check.points.insert(check.points.end(), back.rbegin(), back.rend());
            check.points.push_back(problem.names[a]);
            if (!problem.blocks.empty()) variance = problem.CombinedVariance(terms);
            Judge(check, limits.loopMm, variance, criticalW);
            if (check.holdsRemoved) {
                std::vector<size_t> removedRuns;
                for (size_t k : runs) {
                    if (removed[k]) removedRuns.push_back(k);
                }
                check.source = "removed: " + Sources(observations, removedRuns);
            }
            result.loops.push_back(std::move(check));
        }
        at[static_cast<size_t>(s.a)].push_back(i);
        at[static_cast<size_t>(s.b)].push_back(i);
    }
}

void AddLineLoops(const std::vector<LineLoop>& lineLoops, const MiscloseLimits& limits,
                  NetworkResult& result) {
    for (const LineLoop& loop : lineLoops) {
        ClosureCheck check;
        check.points = {loop.point, loop.point};
        check.misclosure = loop.misclosure;
        check.lengthKm = loop.lengthKm;
        check.limit = LimitOf(limits.loopMm, loop.lengthKm);
        check.within = WithinLimit(check.misclosure, check.limit);
        check.source = loop.source;
        result.loops.push_back(std::move(check));
    }
}

/// The lines from one benchmark to another: each chain of sections through points that join
/// nothing else, and each levelling line whose two ends are benchmarks. Observed Σ dh against
/// the benchmarks' known difference; a weighted benchmark widens the limit by twice its σ.
void CheckBenchmarkLines(const Problem& problem, const std::vector<Observation>& observations,
                         const std::vector<Section>& sections, const std::vector<bool>& removed,
                         const MiscloseLimits& limits, double criticalW, NetworkResult& result) {
    const size_t n = problem.names.size();
    std::vector<std::vector<size_t>> at(n);
    for (size_t i = 0; i < sections.size(); ++i) {
        at[static_cast<size_t>(sections[i].a)].push_back(i);
        at[static_cast<size_t>(sections[i].b)].push_back(i);
    }
    std::set<std::vector<size_t>> checked;  // by the observations they are made of
    // `variance`: the a-priori variance of `observed`, m².
    const auto add = [&](int from, int to, const std::vector<size_t>& runs, double observed,
                         double km, double variance, std::vector<std::string> points) {
        std::vector<size_t> key = runs;
        std::sort(key.begin(), key.end());
        if (from == to || !checked.insert(key).second) return;
        const auto& [hFrom, sFrom] = *problem.benchmark[static_cast<size_t>(from)];
        const auto& [hTo, sTo] = *problem.benchmark[static_cast<size_t>(to)];
        ClosureCheck check;
        check.points = std::move(points);
        check.misclosure = observed - (hTo - hFrom);
        check.lengthKm = km;
        const double benchmarks =
            sFrom.value_or(0) * sFrom.value_or(0) + sTo.value_or(0) * sTo.value_or(0);
        if (km > 0) {
            check.limit =
                std::sqrt(std::pow(LimitOf(limits.benchmarkLineMm, km), 2) + 4.0 * benchmarks);
            check.within = WithinLimit(check.misclosure, check.limit);
        } else {
            Judge(check, limits.benchmarkLineMm, variance + benchmarks, criticalW);
        }
        check.source = Sources(observations, runs);
        for (size_t k : runs) check.holdsRemoved = check.holdsRemoved || removed[k];
        result.benchmarkLines.push_back(std::move(check));
    };
    // Chains of sections, walked from each benchmark along each of its sections.
    for (size_t start = 0; start < n; ++start) {
        if (!problem.benchmark[start]) continue;
        for (size_t first : at[start]) {
            auto p = static_cast<int>(start);
            size_t via = first;
            double observed = 0;
            double km = 0;
            double variance = 0;
            std::vector<std::pair<size_t, double>> terms;
            std::vector<size_t> runs;
            std::vector<std::string> points = {problem.names[start]};
            while (true) {
                const Section& s = sections[via];
                const int q = s.Other(p);
                observed += s.Dh(p);
                km += s.Length();
                variance += SectionVariance(problem, s);
                AddSectionTerms(problem, s, p, terms);
                runs.insert(runs.end(), s.runs.begin(), s.runs.end());
                points.push_back(problem.names[static_cast<size_t>(q)]);
                const auto& next = at[static_cast<size_t>(q)];
                if (problem.benchmark[static_cast<size_t>(q)] || next.size() != 2 ||
                    q == static_cast<int>(start)) {
                    if (problem.benchmark[static_cast<size_t>(q)]) {
                        if (!problem.blocks.empty()) variance = problem.CombinedVariance(terms);
                        add(static_cast<int>(start), q, runs, observed, km, variance, points);
                    }
                    break;
                }
                via = next[0] == via ? next[1] : next[0];
                p = q;
            }
        }
    }
    // Levelling lines whose two ends are benchmarks: the sections of a line are consecutive.
    for (size_t k = 0; k < observations.size();) {
        size_t end = k + 1;
        while (observations[k].line && end < observations.size() &&
               observations[end].line == observations[k].line) {
            ++end;
        }
        const int from = problem.rows[k].from;
        const int to = problem.rows[end - 1].to;
        if (end - k > 1 && problem.benchmark[static_cast<size_t>(from)] &&
            problem.benchmark[static_cast<size_t>(to)]) {
            std::vector<size_t> runs;
            double observed = 0;
            double km = 0;
            double variance = 0;
            std::vector<std::string> points = {problem.names[static_cast<size_t>(from)]};
            for (size_t i = k; i < end; ++i) {
                runs.push_back(i);
                observed += observations[i].dh;
                km += observations[i].lengthKm;
                variance += problem.rows[i].sigma * problem.rows[i].sigma;
                points.push_back(observations[i].to);
            }
            if (!problem.blocks.empty()) {
                std::vector<std::pair<size_t, double>> terms;
                terms.reserve(runs.size());
                for (const size_t i : runs) terms.emplace_back(i, 1.0);
                variance = problem.CombinedVariance(terms);
            }
            add(from, to, runs, observed, km, variance, points);
        }
        k = end;
    }
}

void NameChecks(NetworkResult& result) {
    const auto name = [](std::vector<ClosureCheck>& checks, const char* letter) {
        for (size_t i = 0; i < checks.size(); ++i) checks[i].id = letter + std::to_string(i + 1);
    };
    name(result.loops, "L");
    name(result.doubleRuns, "D");
    name(result.benchmarkLines, "B");
}

}  // namespace rendle::network
