#include "network/Drawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <set>
#include <tuple>
#include <unordered_map>

#include "core/Verdict.h"
#include "grid/NumberFormat.h"
#include "grid/Utf8.h"
#include "network/NetworkReport.h"

namespace rendle::network {

namespace {

constexpr double kWidth = 960;           // the network's area, drawing units
constexpr double kTallest = 720;         // at most this tall
constexpr double kMargin = 60;           // room for labels around it
constexpr double kShortestArrowed = 28;  // a section shorter carries no arrowhead
constexpr double kReadable = 60;         // the median section drawn at least this long
constexpr double kLongestBar = 24;       // the largest error bar's half, about
constexpr double kParallel = 6;          // between sections of one pair of points
constexpr double kNoteLift = 16;         // a line loop's note above its point
constexpr double kScaleShare = 0.2;      // of the area's width, the scale bar about

constexpr double kNoteCharWidth = 7.2;  // of the 11-unit font in bold, about
constexpr double kNameCharWidth = 6.6;  // of the 11-unit font, about
constexpr double kLabelStep = 8;        // between the rings of places tried round a loop
constexpr int kLabelRings = 12;         // the farthest ring tried: still near its loop
constexpr double kGridCell = 40;        // of the index of the boxes already taken

/// The boxes already taken in the drawing (symbols, names, labels), indexed by the cells of a
/// coarse grid so that a place is tried against its neighbours only.
class TakenBoxes {
  public:
    void Add(const Box& box) {
        const auto index = static_cast<int>(boxes_.size());
        boxes_.push_back(box);
        ForCells(box, [&](int64_t cell) { cells_[cell].push_back(index); });
    }
    bool Free(const Box& box) const {
        bool free = true;
        ForCells(box, [&](int64_t cell) {
            const auto at = cells_.find(cell);
            if (!free || at == cells_.end()) return;
            for (const int i : at->second) {
                if (boxes_[static_cast<size_t>(i)].Overlaps(box)) {
                    free = false;
                    return;
                }
            }
        });
        return free;
    }

  private:
    template <typename F>
    static void ForCells(const Box& box, F&& visit) {
        const auto cellOf = [](double v) {
            return static_cast<int64_t>(std::floor(v / kGridCell));
        };
        for (int64_t cx = cellOf(box.left); cx <= cellOf(box.right); ++cx) {
            for (int64_t cy = cellOf(box.top); cy <= cellOf(box.bottom); ++cy) {
                visit(cx * 1000003 + cy);
            }
        }
    }
    std::vector<Box> boxes_;
    std::unordered_map<int64_t, std::vector<int>> cells_;
};

/// Moves each note's label to the nearest place round its loop where it covers no symbol, no
/// point's name and no label placed before it, inside the drawing; the notes beyond their limit
/// are placed first. A label with no such place near its loop stays where its loop is.
void PlaceLabels(Drawing& d) {
    TakenBoxes taken;
    for (const Symbol& s : d.symbols) taken.Add(SymbolBox(s));
    // The places tried round the loop's centre, ring by ring outwards, each ring's nearest
    // first (above before below, right before left where they tie); labels are wider than
    // tall, so a ring's steps across are twice its steps down.
    std::vector<std::pair<int, int>> offsets;
    for (int i = -kLabelRings; i <= kLabelRings; ++i) {
        for (int j = -kLabelRings; j <= kLabelRings; ++j) offsets.emplace_back(i, j);
    }
    const auto reach = [](const std::pair<int, int>& o) {
        return std::tuple(std::max(std::abs(o.first), std::abs(o.second)),
                          o.first * o.first + o.second * o.second, o.second > 0, o.first < 0);
    };
    std::stable_sort(offsets.begin(), offsets.end(),
                     [&](const auto& a, const auto& b) { return reach(a) < reach(b); });
    const auto inside = [&](const Box& b) {
        return b.left >= 0 && b.right <= d.width && b.top >= 0 && b.bottom <= d.height;
    };
    std::vector<size_t> order(d.notes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_partition(order.begin(), order.end(), [&](size_t i) { return d.notes[i].beyond; });
    for (const size_t i : order) {
        Note& n = d.notes[i];
        const double x = n.x;
        const double y = n.y;
        bool placed = false;
        for (const auto& [across, down] : offsets) {
            n.x = x + across * kLabelStep * 2;
            n.y = y + down * kLabelStep;
            const Box box = NoteBox(n);
            if (inside(box) && taken.Free(box)) {
                placed = true;
                break;
            }
        }
        if (!placed) {
            n.x = x;
            n.y = y;
        }
        taken.Add(NoteBox(n));
    }
}

/// The largest of 1, 2 and 5 times a power of ten that is at most `value` (> 0).
double NiceAtMost(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * power <= value) return step * power;
    }
    return power;
}

std::string Mm(double metres) {
    return core::FixedText(metres * 1000.0, kMillimetreDecimals);
}

std::string Metres(double metres) {
    return grid::FormatNumber(metres, "0.00000");
}

/// Places east and north in the drawing's area: north up, one scale for both.
class Frame {
  public:
    Frame(const NetworkResult& result, const Positions& positions) {
        double minE = std::numeric_limits<double>::infinity();
        double minN = minE;
        double maxE = -minE;
        double maxN = -minE;
        for (const AdjustedHeight& h : result.heights) {
            const Position& p = positions.find(h.point)->second;
            minE = std::min(minE, p.east);
            maxE = std::max(maxE, p.east);
            minN = std::min(minN, p.north);
            maxN = std::max(maxN, p.north);
        }
        if (result.heights.empty()) minE = maxE = minN = maxN = 0;
        const double spanE = maxE - minE;
        const double spanN = maxN - minN;
        double room = kWidth - 2 * kMargin;
        scale_ = 1;
        if (spanE > 0 || spanN > 0) {
            constexpr double kNoBound = std::numeric_limits<double>::infinity();
            const double acrossE = spanE > 0 ? room / spanE : kNoBound;
            const double acrossN = spanN > 0 ? (kTallest - 2 * kMargin) / spanN : kNoBound;
            scale_ = std::min(acrossE, acrossN);
            // A large network is drawn larger, so that its sections keep a readable length:
            // the median section at least kReadable units.
            std::vector<double> lengths;
            for (const AdjustedObservation& o : result.observations) {
                if (o.benchmark) continue;
                const Position& a = positions.find(o.observation.from)->second;
                const Position& b = positions.find(o.observation.to)->second;
                if (const double l = std::hypot(a.east - b.east, a.north - b.north); l > 0) {
                    lengths.push_back(l);
                }
            }
            if (!lengths.empty()) {
                auto middle = lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2);
                std::nth_element(lengths.begin(), middle, lengths.end());
                scale_ = std::max(scale_, kReadable / *middle);
            }
            room = std::max(room, spanE * scale_);
        }
        width_ = room + 2 * kMargin;
        left_ = kMargin + (room - spanE * scale_) / 2 - minE * scale_;
        height_ = std::max(spanN * scale_ + 2 * kMargin, 3 * kMargin);
        top_ = height_ - kMargin + minN * scale_ - (height_ - 2 * kMargin - spanN * scale_) / 2;
    }
    double X(const Position& p) const { return left_ + p.east * scale_; }
    double Y(const Position& p) const { return top_ - p.north * scale_; }
    double Scale() const { return scale_; }
    double Height() const { return height_; }
    double Width() const { return width_; }

  private:
    double scale_ = 1;
    double width_ = 0;
    double left_ = 0;
    double top_ = 0;
    double height_ = 0;
};

/// The colour classes of |w|: up to 1, 2 and the critical value, then beyond it.
struct WClasses {
    explicit WClasses(double critical) : critical_(critical) {
        for (const double edge : {1.0, 2.0}) {
            if (edge < critical) edges_.push_back(edge);
        }
    }
    const char* ColourOf(const AdjustedObservation& o) const {
        if (FlagOf(o, critical_) == "outlier") return kBad;
        const double w = core::AsPrinted(std::abs(o.w.value_or(0)), 2);
        for (size_t k = 0; k < edges_.size(); ++k) {
            if (w <= edges_[k]) return kColours[k];
        }
        return kColours[edges_.size()];
    }
    std::vector<Key> Legend() const {
        std::vector<Key> keys;
        double from = 0;
        for (size_t k = 0; k <= edges_.size(); ++k) {
            const double to = k < edges_.size() ? edges_[k] : critical_;
            keys.push_back({kColours[k], Stroke::Solid, 2,
                            k == 0 ? "|w| up to " + grid::FormatNumber(to, "0.00")
                                   : "|w| " + grid::FormatNumber(from, "0.00") + " to " +
                                         grid::FormatNumber(to, "0.00")});
            from = to;
        }
        keys.push_back(
            {kBad, Stroke::Solid, 2, "|w| beyond " + grid::FormatNumber(critical_, "0.00")});
        return keys;
    }

  private:
    static constexpr const char* kColours[] = {kGood, kFair, kAmber};
    double critical_;
    std::vector<double> edges_;
};

/// Redundancy numbers as the report prints them (two decimals): below 0.30, up to 0.70, above.
const char* RedundancyColour(double r) {
    if (!core::Within(r, 0.3, 2, core::Bound::AtLeast)) return kBad;
    if (!core::Within(r, 0.7, 2, core::Bound::AtMost)) return kGood;
    return kAmber;
}

std::string PointTitle(const AdjustedHeight& h, SymbolKind kind) {
    std::string title = h.point + "\nheight " + Metres(h.height) + " m";
    if (h.fixed) return title + "\nheld fixed";
    title += "\nsigma " + Mm(h.sigma) + " mm";
    if (kind == SymbolKind::Datum) title += "\n(a weighted benchmark or datum point)";
    return title;
}

std::string SectionTitle(const AdjustedObservation& o, double critical) {
    const auto optionalMm = [](const std::optional<double>& v) {
        return v ? Mm(*v) + " mm" : std::string("none");
    };
    const Observation& ob = o.observation;
    std::string title =
        ob.from + " to " + ob.to + "\ndh " + Metres(ob.dh) + " m\nadjusted " + Metres(o.adjusted) +
        " m\nv " + Mm(o.residual) + " mm\nr " + grid::FormatNumber(o.redundancy, "0.00") + "\nw " +
        (o.w ? grid::FormatNumber(*o.w, "0.00") : "none") + "\nMDB " + optionalMm(o.mdb) +
        "\nlength " + grid::FormatNumber(ob.lengthKm, "0.000") + " km";
    if (const std::string flag = FlagOf(o, critical); !flag.empty()) title += "\n" + flag;
    return title + "\n" + ob.source;
}

std::string ClosureTitle(const char* what, const ClosureCheck& c) {
    std::string points;
    for (const std::string& p : c.points) points += (points.empty() ? "" : " ") + p;
    std::string title = std::string(what) + " " + points + "\nmisclosure " + Mm(c.misclosure) +
                        " mm\nlimit " + Mm(c.limit) + " mm\nlength " +
                        grid::FormatNumber(c.lengthKm, "0.000") + " km\n" +
                        (c.within ? "within" : "BEYOND");
    if (!c.source.empty()) title += "\n" + c.source;
    return title;
}

}  // namespace

Box NoteBox(const Note& note) {
    const double half = kNoteCharWidth * static_cast<double>(grid::DisplayWidth(note.text)) / 2 + 3;
    return {note.x - half, note.y - 11, note.x + half, note.y + 4};
}

Box SymbolBox(const Symbol& symbol) {
    // The symbol about its point, and its name above to the right of it.
    const double nameRight =
        symbol.x + 9 + kNameCharWidth * static_cast<double>(grid::DisplayWidth(symbol.name));
    return {symbol.x - 7, symbol.y - 19, std::max(symbol.x + 7, nameRight), symbol.y + 7};
}

namespace {

/// The points: each by its kind, with an error bar of one sigma, exaggerated alike for all.
/// Gives the drawing units a millimetre of sigma is drawn as (0: no bar).
double DrawPoints(const NetworkResult& result, const Positions& positions, const Frame& frame,
                  const DrawingOptions& options, Drawing& d) {
    const auto at = [&](const std::string& name) { return positions.find(name)->second; };
    std::set<std::string, std::less<>> weighted;
    for (const AdjustedObservation& o : result.observations) {
        if (o.benchmark) weighted.insert(o.observation.to);
    }
    if (result.freeNetwork) {
        if (options.datum.empty()) {
            for (const AdjustedHeight& h : result.heights) weighted.insert(h.point);
        } else {
            weighted.insert(options.datum.begin(), options.datum.end());
        }
    }
    double largestMm = 0;
    for (const AdjustedHeight& h : result.heights) {
        if (!h.fixed) largestMm = std::max(largestMm, h.sigma * 1000.0);
    }
    const double perMm = largestMm > 0 ? NiceAtMost(kLongestBar / largestMm) : 0;
    for (const AdjustedHeight& h : result.heights) {
        Symbol s;
        s.kind = h.fixed                      ? SymbolKind::Benchmark
                 : weighted.contains(h.point) ? SymbolKind::Datum
                                              : SymbolKind::Point;
        s.name = h.point;
        s.x = frame.X(at(h.point));
        s.y = frame.Y(at(h.point));
        s.bar = h.fixed ? 0 : h.sigma * 1000.0 * perMm;
        s.title = PointTitle(h, s.kind);
        d.symbols.push_back(std::move(s));
    }

    return perMm;
}

/// What the sections drawn hold, for the legend.
struct SectionKinds {
    bool removed = false;
    bool noCheck = false;
};

/// The sections: one line each, side by side where a pair of points has several.
SectionKinds DrawSections(const NetworkResult& result, const Positions& positions,
                          const Frame& frame, const DrawingOptions& options, Drawing& d) {
    const auto at = [&](const std::string& name) { return positions.find(name)->second; };
    std::map<std::pair<std::string, std::string>, std::pair<int, int>> pairs;  // count, drawn
    const auto pairOf = [](const Observation& ob) {
        return ob.from < ob.to ? std::pair(ob.from, ob.to) : std::pair(ob.to, ob.from);
    };
    for (const AdjustedObservation& o : result.observations) {
        if (!o.benchmark) ++pairs[pairOf(o.observation)].first;
    }
    const WClasses wClasses(result.criticalW);
    bool anyRemoved = false;
    bool anyNoCheck = false;
    for (size_t k = 0; k < result.observations.size(); ++k) {
        const AdjustedObservation& o = result.observations[k];
        if (o.benchmark) continue;
        const Observation& ob = o.observation;
        const auto key = pairOf(ob);
        auto& [count, drawn] = pairs[key];
        const Position a = at(key.first);
        const Position b = at(key.second);
        double nx = -(frame.Y(b) - frame.Y(a));
        double ny = frame.X(b) - frame.X(a);
        const double length = std::hypot(nx, ny);
        const double shift = (drawn++ - (count - 1) / 2.0) * kParallel;
        nx = length > 0 ? nx / length * shift : 0;
        ny = length > 0 ? ny / length * shift : 0;
        Segment s;
        s.observation = k;
        s.x1 = frame.X(at(ob.from)) + nx;
        s.y1 = frame.Y(at(ob.from)) + ny;
        s.x2 = frame.X(at(ob.to)) + nx;
        s.y2 = frame.Y(at(ob.to)) + ny;
        s.title = SectionTitle(o, result.criticalW);
        // The direction of levelling: an arrowhead at the middle, pointing to the second point.
        if (const double run = std::hypot(s.x2 - s.x1, s.y2 - s.y1); run > kShortestArrowed) {
            const double ux = (s.x2 - s.x1) / run;
            const double uy = (s.y2 - s.y1) / run;
            const double mx = (s.x1 + s.x2) / 2;
            const double my = (s.y1 + s.y2) / 2;
            s.arrow = {{mx + 5 * ux, my + 5 * uy},
                       {mx - 4 * ux - 4 * uy, my - 4 * uy + 4 * ux},
                       {mx - 4 * ux + 4 * uy, my - 4 * uy - 4 * ux}};
        }
        if (o.removed) {
            s.kind = "section removed";
            s.colour = kBad;
            s.stroke = Stroke::Dashed;
            anyRemoved = true;
        } else if (o.noCheck) {
            s.kind = "section nocheck";
            s.colour = kNoCheckColour;
            s.stroke = Stroke::Dotted;
            s.width = 3.5;
            anyNoCheck = true;
        } else {
            s.kind = "section";
            s.colour = options.colourBy == ColourBy::W ? wClasses.ColourOf(o)
                                                       : RedundancyColour(o.redundancy);
        }
        d.segments.push_back(std::move(s));
    }

    return {anyRemoved, anyNoCheck};
}

/// Loops, sections run twice and lines between benchmarks: each misclosure against its limit,
/// labelled where it lies.
void DrawNotes(const NetworkResult& result, const Positions& positions, const Frame& frame,
               Drawing& d) {
    // A line closed on a point no section reaches has no place in the drawing: its note stands
    // in a column at the top right.
    size_t unplaced = 0;
    const auto centre = [&](const std::vector<std::string>& points, double lift) {
        std::set<std::string_view> distinct(points.begin(), points.end());
        double x = 0;
        double y = 0;
        size_t placed = 0;
        for (const std::string_view p : distinct) {
            const auto pos = positions.find(p);
            if (pos == positions.end()) continue;
            x += frame.X(pos->second);
            y += frame.Y(pos->second);
            ++placed;
        }
        if (placed == 0) {
            return std::pair(d.width - 2 * kMargin,
                             kMargin / 2 + kNoteLift * static_cast<double>(unplaced++));
        }
        const double n = static_cast<double>(placed);
        return std::pair(x / n, y / n + (placed == 1 ? -kNoteLift : lift));
    };
    for (const ClosureCheck& c : result.loops) {
        const auto [x, y] = centre(c.points, 0);
        d.notes.push_back({c.within ? "loop" : "loop beyond", x, y,
                           c.id + "  " + Mm(c.misclosure) + " / " + Mm(c.limit) + " mm",
                           ClosureTitle("loop", c), !c.within});
    }
    // A section run twice is a loop of two runs.
    for (const ClosureCheck& c : result.doubleRuns) {
        const auto [x, y] = centre({c.points.front(), c.points.back()}, -kNoteLift);
        d.notes.push_back({c.within ? "loop" : "loop beyond", x, y,
                           c.id + " twice " + Mm(c.misclosure) + " / " + Mm(c.limit) + " mm",
                           ClosureTitle("section run twice", c), !c.within});
    }
    for (const ClosureCheck& c : result.benchmarkLines) {
        const auto [x, y] = centre({c.points.front(), c.points.back()}, kNoteLift);
        d.notes.push_back({c.within ? "line" : "line beyond", x, y,
                           c.id + " line " + Mm(c.misclosure) + " / " + Mm(c.limit) + " mm",
                           ClosureTitle("line between benchmarks", c), !c.within});
    }

    PlaceLabels(d);
    // The notes are drawn in their order: those beyond their limit last, so that no other
    // note covers one where no free place was found for it.
    std::stable_partition(d.notes.begin(), d.notes.end(), [](const Note& n) { return !n.beyond; });
}

/// The legend: the colours and strokes used, what the symbols mean, the error bars' scale, and
/// the scale bar of a drawing where the points lie.
void DrawLegend(const NetworkResult& result, const Frame& frame, const DrawingOptions& options,
                double perMm, SectionKinds kinds, Drawing& d) {
    const bool anyRemoved = kinds.removed;
    const bool anyNoCheck = kinds.noCheck;
    const WClasses wClasses(result.criticalW);
    if (options.colourBy == ColourBy::W) {
        d.legendNotes.push_back(
            "Sections coloured by |w|, the standardized residual (critical "
            "value " +
            grid::FormatNumber(result.criticalW, "0.00") + ")");
        d.legend = wClasses.Legend();
    } else {
        d.legendNotes.push_back("Sections coloured by the redundancy number r");
        d.legend = {{kBad, Stroke::Solid, 2, "r below 0.30"},
                    {kAmber, Stroke::Solid, 2, "r 0.30 to 0.70"},
                    {kGood, Stroke::Solid, 2, "r above 0.70"}};
    }
    if (anyRemoved) d.legend.push_back({kBad, Stroke::Dashed, 2, "removed by data snooping"});
    if (anyNoCheck)
        d.legend.push_back({kNoCheckColour, Stroke::Dotted, 3.5, "no check (r below 0.001)"});
    d.legendNotes.push_back(
        "Triangle: benchmark held fixed; hexagon: weighted benchmark or datum point; circle: "
        "adjusted point. Arrows: the direction of levelling.");
    d.legendNotes.push_back(
        "Loops, sections run twice (\"twice\") and lines between benchmarks (\"line\"): "
        "misclosure / limit in mm, in red when beyond");
    if (perMm > 0) {
        std::string bars = "Error bars: +-1 sigma of the height, 1 mm drawn as " +
                           grid::GeneralNumberText(perMm) + " units";
        if (!options.schematic) {
            // Drawing units per metre of the map, against those per metre of height.
            bars += " (heights exaggerated " +
                    grid::GeneralNumberText(std::round(perMm * 1000.0 / frame.Scale())) +
                    " times against the map)";
        }
        d.legendNotes.push_back(bars);
    }
    if (options.schematic) {
        d.legendNotes.push_back(
            "Schematic: points placed to show how they connect, not where "
            "they lie; no scale");
    } else if (frame.Scale() > 0) {
        const double metres =
            NiceAtMost(kScaleShare * (frame.Width() - 2 * kMargin) / frame.Scale());
        ScaleBar bar;
        bar.x = kMargin;
        bar.y = d.height - kMargin / 3;
        bar.length = metres * frame.Scale();
        bar.text = metres >= 1000 ? grid::GeneralNumberText(metres / 1000) + " km"
                                  : grid::GeneralNumberText(metres) + " m";
        d.scale = bar;
    }
}

}  // namespace

Drawing DrawNetwork(const NetworkResult& result, const Positions& positions,
                    const DrawingOptions& options) {
    for (const AdjustedHeight& h : result.heights) {
        if (!positions.contains(h.point)) {
            throw NetworkError("the drawing has no place for " + h.point);
        }
    }
    const Frame frame(result, positions);
    Drawing d;
    d.width = frame.Width();
    d.height = frame.Height();
    d.heading = options.heading;
    d.schematic = options.schematic;
    const double perMm = DrawPoints(result, positions, frame, options, d);
    const SectionKinds kinds = DrawSections(result, positions, frame, options, d);
    DrawNotes(result, positions, frame, d);
    DrawLegend(result, frame, options, perMm, kinds, d);
    return d;
}

}  // namespace rendle::network
