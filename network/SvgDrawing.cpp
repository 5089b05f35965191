// The network's drawing written as SVG text: plain markup any browser shows, each element
// classed by its kind and carrying its figures in a <title> for the pointer to reveal.
#include <charconv>
#include <cmath>
#include <numbers>
#include <string>

#include "grid/Utf8.h"
#include "grid/XmlText.h"
#include "network/Drawing.h"

namespace rendle::network {

namespace {

constexpr double kKeyRow = 18;
constexpr double kNoteRow = 16;
constexpr double kLegendGap = 12;
constexpr double kSymbolSize = 7;

/// A coordinate to a tenth of a unit, with a full stop whatever the locale.
std::string N(double value) {
    char text[32];
    const double rounded = std::round(value * 10) / 10;
    const auto [end, error] = std::to_chars(text, text + sizeof text, rounded == 0 ? 0.0 : rounded,
                                            std::chars_format::fixed, 1);
    std::string s(text, error == std::errc() ? end : text);
    if (s.size() > 2 && s.ends_with(".0")) s.resize(s.size() - 2);
    return s;
}

const char* DashOf(Stroke stroke) {
    switch (stroke) {
        case Stroke::Dashed:
            return " stroke-dasharray=\"8 5\"";
        case Stroke::Dotted:
            return " stroke-dasharray=\"2 4\" stroke-linecap=\"round\"";
        case Stroke::Solid:
            break;
    }
    return "";
}

std::string Title(const std::string& text) {
    return "<title>" + grid::XmlEscaped(text) + "</title>";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, Stroke stroke) {
    return "<line x1=\"" + N(x1) + "\" y1=\"" + N(y1) + "\" x2=\"" + N(x2) + "\" y2=\"" + N(y2) +
           "\" stroke=\"" + colour + "\" stroke-width=\"" + N(width) + "\"" + DashOf(stroke) + "/>";
}

std::string Text(double x, double y, const std::string& text, const char* extra = "") {
    return "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\"" + extra + ">" + grid::XmlEscaped(text) +
           "</text>";
}

std::string Polygon(const std::vector<std::pair<double, double>>& corners, const char* fill) {
    std::string points;
    for (const auto& [x, y] : corners) points += (points.empty() ? "" : " ") + N(x) + "," + N(y);
    return std::string("<polygon points=\"") + points + "\" fill=\"" + fill + "\" stroke=\"" +
           kInk + "\" stroke-width=\"1.5\"/>";
}

std::string SymbolShape(const Symbol& s) {
    const double r = kSymbolSize;
    switch (s.kind) {
        case SymbolKind::Benchmark:
            return Polygon(
                {{s.x, s.y - r}, {s.x + r * 0.87, s.y + r / 2}, {s.x - r * 0.87, s.y + r / 2}},
                kInk);
        case SymbolKind::Datum: {
            std::vector<std::pair<double, double>> corners;
            for (int k = 0; k < 6; ++k) {
                const double angle = std::numbers::pi / 3 * k;
                corners.emplace_back(s.x + r * std::cos(angle), s.y + r * std::sin(angle));
            }
            return Polygon(corners, "#ffffff");
        }
        case SymbolKind::Point:
            break;
    }
    return "<circle cx=\"" + N(s.x) + "\" cy=\"" + N(s.y) + "\" r=\"" + N(r * 0.7) +
           "\" fill=\"#ffffff\" stroke=\"" + kInk + "\" stroke-width=\"1.5\"/>";
}

const char* ClassOf(SymbolKind kind) {
    switch (kind) {
        case SymbolKind::Benchmark:
            return "benchmark";
        case SymbolKind::Datum:
            return "datum";
        case SymbolKind::Point:
            break;
    }
    return "point";
}

}  // namespace

std::string SvgOf(const Drawing& d) {
    const double legendTop = d.height + kLegendGap;
    const double total = legendTop + kKeyRow * static_cast<double>(d.legend.size()) +
                         kNoteRow * static_cast<double>(d.legendNotes.size()) + kLegendGap;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(d.width) + "\" height=\"" +
           N(total) + "\" viewBox=\"0 0 " + N(d.width) + " " + N(total) +
           "\" font-family=\"Liberation Sans, Arial, Helvetica, sans-serif\" font-size=\"11\">\n";
    svg += Title(d.heading) + "\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += Text(12, 22, d.heading + (d.schematic ? " (schematic)" : ""),
                " font-size=\"15\" font-weight=\"bold\"") +
           "\n";

    svg += "<g class=\"sections\">\n";
    for (const Segment& s : d.segments) {
        svg += "<g class=\"" + s.kind + "\">" + Title(s.title) +
               Line(s.x1, s.y1, s.x2, s.y2, s.colour, s.width, s.stroke);
        if (!s.arrow.empty()) {
            std::string d;
            for (const auto& [x, y] : s.arrow) d += (d.empty() ? "M" : " L") + N(x) + " " + N(y);
            svg += "<path d=\"" + d + " Z\" fill=\"" + s.colour + "\"/>";
        }
        svg += "</g>\n";
    }
    svg += "</g>\n<g class=\"points\">\n";
    for (const Symbol& s : d.symbols) {
        svg += std::string("<g class=\"") + ClassOf(s.kind) + "\">" + Title(s.title);
        if (s.bar > 0) {
            svg += Line(s.x, s.y - s.bar, s.x, s.y + s.bar, kInk, 1, Stroke::Solid) +
                   Line(s.x - 3, s.y - s.bar, s.x + 3, s.y - s.bar, kInk, 1, Stroke::Solid) +
                   Line(s.x - 3, s.y + s.bar, s.x + 3, s.y + s.bar, kInk, 1, Stroke::Solid);
        }
        svg += SymbolShape(s) + Text(s.x + 9, s.y - 8, s.name) + "</g>\n";
    }
    svg += "</g>\n<g class=\"notes\">\n";
    for (const Note& n : d.notes) {
        const Box box = NoteBox(n);
        const char* colour = n.beyond ? kBad : kInk;
        svg += "<g class=\"" + n.kind + "\">" + Title(n.title) + "<rect x=\"" + N(box.left) +
               "\" y=\"" + N(box.top) + "\" width=\"" + N(box.right - box.left) + "\" height=\"" +
               N(box.bottom - box.top) +
               "\" rx=\"3\" fill=\"#ffffff\" fill-opacity=\"0.85\" stroke=\"" + colour +
               "\" stroke-width=\"" + (n.beyond ? "1.5" : "0.5") + "\"/>" +
               Text(n.x, n.y, n.text,
                    n.beyond ? " text-anchor=\"middle\" fill=\"#d73027\" font-weight=\"bold\""
                             : " text-anchor=\"middle\"") +
               "</g>\n";
    }
    svg += "</g>\n";
    if (d.scale) {
        const ScaleBar& b = *d.scale;
        svg += "<g class=\"scale\">" + Line(b.x, b.y, b.x + b.length, b.y, kInk, 2, Stroke::Solid) +
               Line(b.x, b.y - 4, b.x, b.y + 4, kInk, 1, Stroke::Solid) +
               Line(b.x + b.length, b.y - 4, b.x + b.length, b.y + 4, kInk, 1, Stroke::Solid) +
               Text(b.x + b.length + 6, b.y + 4, b.text) + "</g>\n";
    }
    svg += "<g class=\"legend\">\n";
    double y = legendTop;
    for (const Key& k : d.legend) {
        y += kKeyRow;
        svg += Line(12, y - 4, 52, y - 4, k.colour, k.width, k.stroke) + Text(60, y, k.text) + "\n";
    }
    for (const std::string& note : d.legendNotes) {
        y += kNoteRow;
        svg += Text(12, y, note) + "\n";
    }
    svg += "</g>\n</svg>\n";
    return svg;
}

}  // namespace rendle::network
