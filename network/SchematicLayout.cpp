// A schematic layout of the network by Graphviz: neato's stress placement for small networks,
// its multilevel sfdp for large ones, where neato's cost grows too fast (a 10⁴-point grid:
// 108 s against 2 s).
#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <memory>
#include <set>

#include "network/Drawing.h"

namespace rendle::network {

namespace {

/// Above this many points the multilevel layout is taken.
constexpr size_t kStressPoints = 1000;

/// Graphviz's context, made once for the process and kept: each one made reads the plugin
/// configuration again and keeps what it read.
GVC_t* GraphvizContext() {
    static GVC_t* const context = gvContext();
    return context;
}

struct Graph {
    Graph() { graph = agopen(const_cast<char*>("network"), Agundirected, nullptr); }
    ~Graph() {
        if (graph) agclose(graph);
    }
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    Agraph_t* graph = nullptr;
};

void Set(Agraph_t* g, const char* name, const char* value) {
    agattr(g, AGRAPH, const_cast<char*>(name), const_cast<char*>(value));
}

}  // namespace

Positions SchematicLayout(const NetworkResult& result) {
    Positions positions;
    if (result.heights.size() < 2) {
        for (const AdjustedHeight& h : result.heights) positions[h.point] = {0, 0};
        return positions;
    }
    agseterr(AGMAX);  // Graphviz's warnings are no concern of the report's reader
    GVC_t* const gvc = GraphvizContext();
    Graph g;
    if (!gvc || !g.graph) throw NetworkError("the schematic layout could not be started");
    const bool large = result.heights.size() > kStressPoints;
    Set(g.graph, "overlap", "true");
    Set(g.graph, "pack", "true");
    Set(g.graph, "start", "1");  // the same drawing every time
    Set(g.graph, "splines", "false");
    // Points without labels: no text is measured, so no font is ever looked up.
    agattr(g.graph, AGNODE, const_cast<char*>("label"), const_cast<char*>(""));
    agattr(g.graph, AGNODE, const_cast<char*>("shape"), const_cast<char*>("point"));

    std::map<std::string_view, Agnode_t*> nodes;
    for (const AdjustedHeight& h : result.heights) {
        std::string name = h.point;
        nodes[h.point] = agnode(g.graph, name.data(), 1);
    }
    std::set<std::pair<std::string_view, std::string_view>> joined;
    for (const AdjustedObservation& o : result.observations) {
        if (o.benchmark) continue;
        std::string_view a = o.observation.from;
        std::string_view b = o.observation.to;
        if (b < a) std::swap(a, b);
        if (a == b || !joined.emplace(a, b).second) continue;
        agedge(g.graph, nodes.at(a), nodes.at(b), nullptr, 1);
    }
    if (gvLayout(gvc, g.graph, large ? "sfdp" : "neato") != 0) {
        throw NetworkError(std::string("the schematic layout failed (Graphviz's ") +
                           (large ? "sfdp" : "neato") + " layout is missing or gave up)");
    }
    for (const auto& [name, node] : nodes) {
        const pointf at = ND_coord(node);
        positions[std::string(name)] = {at.x, at.y};
    }
    gvFreeLayout(gvc, g.graph);
    return positions;
}

}  // namespace rendle::network
