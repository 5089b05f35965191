// The drawing of an adjusted levelling network, described once: shapes, their kind, their style
// and their figures, in the drawing's own units (y down, as on a page). The SVG writer and the
// report printer only draw what it holds.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "network/Network.h"

namespace rendle::network {

/// A point's place, east and north in metres (or a schematic layout's units).
struct Position {
    double east = 0;
    double north = 0;
};
using Positions = std::map<std::string, Position, std::less<>>;

enum class SymbolKind {
    Benchmark,  ///< held fixed: a triangle
    Datum,      ///< a weighted benchmark, or a datum point of a free network: a hexagon
    Point,      ///< adjusted: an open circle
};

struct Symbol {
    SymbolKind kind = SymbolKind::Point;
    std::string name;
    double x = 0;
    double y = 0;
    double bar = 0;     ///< half the error bar, drawing units (0: none, a fixed point)
    std::string title;  ///< its figures, a line each
};

enum class Stroke { Solid, Dashed, Dotted };

/// One observed section, drawn from its first point to its second (the direction of levelling,
/// an arrowhead at its middle), shifted sideways where a pair of points has several.
struct Segment {
    std::string kind;  ///< "section", "section removed" or "section nocheck"
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string colour;  ///< "#rrggbb"
    double width = 2;
    Stroke stroke = Stroke::Solid;
    std::string title;
    /// The arrowhead at its middle, tip first, filled in its colour; empty on a section too short
    /// to carry one.
    std::vector<std::pair<double, double>> arrow;
    /// Its observation's place among the result's observations.
    size_t observation = 0;
};

/// A loop's or a line between benchmarks' misclosure against its limit, written where it lies.
struct Note {
    std::string kind;  ///< "loop", "loop beyond", "line", "line beyond"
    double x = 0;
    double y = 0;
    std::string text;
    std::string title;
    bool beyond = false;
};

/// A rectangle of the drawing, y down.
struct Box {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    bool Overlaps(const Box& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
};

/// The box a note's label takes, its text centred on (x, y) as its baseline, in the 11-unit
/// font (bold, for a note beyond its limit, is the wider: every label is taken at its width).
Box NoteBox(const Note& note);
/// The box a point's symbol and its name take.
Box SymbolBox(const Symbol& symbol);

/// A row of the legend: a line drawn in this style, and what it stands for.
struct Key {
    std::string colour;
    Stroke stroke = Stroke::Solid;
    double width = 2;
    std::string text;
};

struct ScaleBar {
    double x = 0;
    double y = 0;
    double length = 0;  ///< drawing units
    std::string text;   ///< "100 m"
};

struct Drawing {
    double width = 0;
    double height = 0;  ///< the network's area; the legend is drawn below it
    std::string heading;
    bool schematic = true;
    std::vector<Symbol> symbols;
    std::vector<Segment> segments;
    std::vector<Note> notes;
    std::vector<Key> legend;
    std::vector<std::string> legendNotes;  ///< "schematic ...", "error bars ..."
    std::optional<ScaleBar> scale;
};

enum class ColourBy { W, Redundancy };

struct DrawingOptions {
    ColourBy colourBy = ColourBy::W;
    /// Points of the datum of a free network (every point when empty).
    std::vector<std::string> datum;
    /// Whether the positions are a surveyor's coordinates, or a schematic layout.
    bool schematic = true;
    std::string heading = "Levelling network";
};

// Colours of the drawing, the one place they are chosen.
inline constexpr const char* kGood = "#1a9850";
inline constexpr const char* kFair = "#91cf60";
inline constexpr const char* kAmber = "#f59e0b";
inline constexpr const char* kBad = "#d73027";
inline constexpr const char* kNoCheckColour = "#c026d3";
inline constexpr const char* kInk = "#222222";

/// The drawing of `result` with its points at `positions` (every point of the result has one).
Drawing DrawNetwork(const NetworkResult& result, const Positions& positions,
                    const DrawingOptions& options);

/// A schematic layout of the network's points by Graphviz (stress placement for small
/// networks, multilevel for large), in its own units.
Positions SchematicLayout(const NetworkResult& result);

/// The drawing as an SVG document: every element classed by its kind, with its figures in a
/// <title>.
std::string SvgOf(const Drawing& drawing);

}  // namespace rendle::network
