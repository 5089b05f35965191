// The checks of a levelling network on its observations as measured: its sections (a section
// run twice taken at its mean), the loops of a cycle basis, the sections run twice, the lines
// closed on themselves and the lines from one benchmark to another, each against its limit.
#pragma once

#include <vector>

#include "network/Problem.h"

namespace rendle::network {

/// The sections of the network as measured: the observations between the same two points that
/// are one section run twice (of other lines, and of lengths that agree) taken together.
struct Section {
    int a = 0;
    int b = 0;
    double dhSum = 0;  // from a to b
    double lengthSum = 0;
    std::vector<size_t> runs;
    bool holdsRemoved = false;
    double Dh(int from) const {
        const double dh = dhSum / static_cast<double>(runs.size());
        return a == from ? dh : -dh;
    }
    double Length() const { return lengthSum / static_cast<double>(runs.size()); }
    int Other(int p) const { return a == p ? b : a; }
};

/// The sections of the observations not marked in `removed`.
std::vector<Section> Sections(const Problem& problem, const std::vector<Observation>& observations,
                              const std::vector<bool>& removed);

/// The loops of a cycle basis of the network (sections run twice taken at their mean) and the
/// differences of the sections run twice. Each against C mm √K of its length, or, where it has
/// no length, against `criticalW` times the a-priori σ of its misclosure (by σ): never a limit
/// of nothing.
void CheckClosures(const Problem& problem, const std::vector<Observation>& observations,
                   const std::vector<Section>& sections, const std::vector<bool>& removed,
                   const MiscloseLimits& limits, double criticalW, NetworkResult& result);

/// The lines closed on themselves, each a loop of its own.
void AddLineLoops(const std::vector<LineLoop>& lineLoops, const MiscloseLimits& limits,
                  NetworkResult& result);

/// The lines from one benchmark to another, against the benchmarks' known difference; by σ
/// where a line has no length, as above.
void CheckBenchmarkLines(const Problem& problem, const std::vector<Observation>& observations,
                         const std::vector<Section>& sections, const std::vector<bool>& removed,
                         const MiscloseLimits& limits, double criticalW, NetworkResult& result);

/// Gives each check its id (ClosureCheck::id) in the order the result holds them.
void NameChecks(NetworkResult& result);

}  // namespace rendle::network
