// The network seen and exchanged: points in natural order, the drawing (what it holds, its
// colours at their bounds, its SVG read back as XML), coordinates, and GNU Gama's XML written,
// read back and read as GNU Gama's documentation publishes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <set>
#include <sstream>

#include "network/Adjustment.h"
#include "network/Drawing.h"
#include "network/GamaXml.h"
#include "network/NaturalOrder.h"
#include "network/NetworkInput.h"
#include "network/NetworkReport.h"

namespace {

using namespace rendle::network;

std::vector<Observation> Csv(const std::string& text) {
    std::istringstream in(text);
    return ReadObservations(in, "loops.csv");
}

TEST(NaturalOrder, NamesAsASurveyorListsThem) {
    const struct {
        const char* a;
        const char* b;
    } before[] = {
        {"BM2", "BM10"},
        {"BM9", "BM10"},
        {"BM10", "BM10a"},
        {"BM10a", "BM10b"},
        {"BM2", "BM02"},  // equal numbers: fewer leading zeros first
        {"BM02", "BM3"},
        {"A", "B"},
        {"1", "A"},  // digits before letters, as their bytes are
        {"P99999999999999999999", "P100000000000000000000"},  // past 64 bits
        {"", "A"},
        {"K1-2", "K1-10"},
        {"TP", "TP1"},
    };
    for (const auto& c : before) {
        SCOPED_TRACE(std::string(c.a) + " before " + c.b);
        EXPECT_TRUE(NaturalLess(c.a, c.b));
        EXPECT_FALSE(NaturalLess(c.b, c.a));
    }
    EXPECT_FALSE(NaturalLess("BM7", "BM7"));

    NetworkResult r;
    for (const char* p : {"BM10", "BM2", "A7", "BM1", "A10"})
        r.heights.push_back({p, 0, 0, 0, 0, false});
    SortHeightsNaturally(r);
    std::vector<std::string> order;
    for (const AdjustedHeight& h : r.heights) order.push_back(h.point);
    EXPECT_EQ(order, (std::vector<std::string>{"A7", "A10", "BM1", "BM2", "BM10"}));
}

// Six points in four loops: A held, B a weighted benchmark, F a spur without check, A to C run
// twice; E to B 25 mm off.
const char* kLoops =
    "from,to,dh,length_km\n"
    "A,C,2.5003,1\nC,D,-2.6998,1\nD,A,0.1996,1\nC,E,-1.8004,1\nE,D,-0.8999,1\n"
    "A,E,0.7002,1\nB,C,1.5001,1\nE,B,0.3252,1\nB,D,-1.2003,1\nE,F,2.3000,1\nA,C,2.4998,1\n";

NetworkResult AdjustLoops(Snooping snoop) {
    AdjustmentOptions options;
    options.snoop = snoop;
    return Adjust(Csv(kLoops), {{"A", 100.0, std::nullopt}, {"B", 101.0, 2.0}}, {}, options);
}

/// Elements of an SVG document by their class attribute, each with its <title>.
std::multimap<std::string, std::string> Classes(const std::string& svg) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_string(svg.c_str());
    EXPECT_TRUE(parsed) << parsed.description();
    std::multimap<std::string, std::string> classes;
    for (const pugi::xpath_node& n : doc.select_nodes("//*[@class]")) {
        classes.emplace(n.node().attribute("class").value(), n.node().child_value("title"));
    }
    return classes;
}

Positions Grid3(const NetworkResult& r) {
    Positions p;
    double x = 0;
    for (const AdjustedHeight& h : r.heights) {
        p[h.point] = {x * 100, std::fmod(x, 2) * 50};
        ++x;
    }
    return p;
}

TEST(NetworkDrawing, OneShapeOfItsKindForEveryPointAndObservation) {
    const NetworkResult r = AdjustLoops(Snooping::Always);
    ASSERT_EQ(r.snooping.size(), 1u);
    EXPECT_EQ(r.observations[r.snooping[0].observation].observation.from, "E")
        << "the blunder is the one removed";

    const Drawing d = DrawNetwork(r, Grid3(r), {});
    const auto classes = Classes(SvgOf(d));
    EXPECT_EQ(classes.count("benchmark"), 1u);
    EXPECT_EQ(classes.count("datum"), 1u);
    EXPECT_EQ(classes.count("point"), 4u);
    EXPECT_EQ(classes.count("section"), 9u);
    EXPECT_EQ(classes.count("section removed"), 1u);
    EXPECT_EQ(classes.count("section nocheck"), 1u);
    EXPECT_EQ(classes.find("benchmark")->second, "A\nheight 100.00000 m\nheld fixed");
    EXPECT_NE(classes.find("section removed")->second.find("E to B\ndh 0.32520 m"),
              std::string::npos);
    EXPECT_NE(classes.find("section nocheck")->second.find("\nw none\nMDB none\n"),
              std::string::npos)
        << classes.find("section nocheck")->second;

    // Every loop, section run twice and line between benchmarks labelled; those beyond their
    // limits (the loops through E to B, measured with its blunder) marked.
    size_t beyond = 0;
    for (const auto* checks : {&r.loops, &r.doubleRuns, &r.benchmarkLines}) {
        for (const ClosureCheck& c : *checks) beyond += c.within ? 0 : 1;
    }
    ASSERT_GT(beyond, 0u);
    EXPECT_EQ(classes.count("loop") + classes.count("loop beyond") + classes.count("line") +
                  classes.count("line beyond"),
              r.loops.size() + r.doubleRuns.size() + r.benchmarkLines.size());
    EXPECT_EQ(classes.count("loop beyond") + classes.count("line beyond"), beyond);
    EXPECT_GT(classes.count("loop"), 0u);
    const auto twice = std::find_if(classes.begin(), classes.end(), [](const auto& c) {
        return c.second.starts_with("section run twice A C");
    });
    ASSERT_NE(twice, classes.end());
    EXPECT_NE(twice->second.find("misclosure 0.50 mm"), std::string::npos) << twice->second;

    // Removed dashed red, without check dotted in a colour of its own.
    for (const Segment& s : d.segments) {
        if (s.kind == "section removed") {
            EXPECT_EQ(s.stroke, Stroke::Dashed);
            EXPECT_EQ(s.colour, kBad);
        } else if (s.kind == "section nocheck") {
            EXPECT_EQ(s.stroke, Stroke::Dotted);
            EXPECT_EQ(s.colour, kNoCheckColour);
        } else {
            EXPECT_EQ(s.stroke, Stroke::Solid);
        }
    }
}

TEST(NetworkDrawing, SectionsOfOnePairSideBySideAndInTheirDirection) {
    const NetworkResult r = AdjustLoops(Snooping::Off);
    const Drawing d = DrawNetwork(r, Grid3(r), {});
    std::vector<const Segment*> ac;
    for (const Segment& s : d.segments) {
        if (s.title.starts_with("A to C")) ac.push_back(&s);
    }
    ASSERT_EQ(ac.size(), 2u);
    // Parallel, 6 units apart, each from A to C.
    const double dx = ac[0]->x2 - ac[0]->x1;
    const double dy = ac[0]->y2 - ac[0]->y1;
    EXPECT_NEAR(dx, ac[1]->x2 - ac[1]->x1, 1e-9);
    EXPECT_NEAR(dy, ac[1]->y2 - ac[1]->y1, 1e-9);
    const double apart =
        std::fabs((ac[1]->x1 - ac[0]->x1) * dy - (ac[1]->y1 - ac[0]->y1) * dx) / std::hypot(dx, dy);
    EXPECT_NEAR(apart, 6.0, 1e-9);
    const Symbol& a = *std::find_if(d.symbols.begin(), d.symbols.end(),
                                    [](const Symbol& s) { return s.name == "A"; });
    EXPECT_NEAR((ac[0]->x1 + ac[1]->x1) / 2, a.x, 1e-9) << "starts at A";
    EXPECT_NEAR((ac[0]->y1 + ac[1]->y1) / 2, a.y, 1e-9);
    // The arrowhead points along the levelling: its tip nearer C than either corner of its base.
    ASSERT_EQ(ac[0]->arrow.size(), 3u);
    const auto toC = [&](const std::pair<double, double>& p) {
        return std::hypot(ac[0]->x2 - p.first, ac[0]->y2 - p.second);
    };
    EXPECT_LT(toC(ac[0]->arrow[0]) + 8, toC(ac[0]->arrow[1]));
    EXPECT_LT(toC(ac[0]->arrow[0]) + 8, toC(ac[0]->arrow[2]));
}

/// A network of one section A to B with the given w and r, drawn coloured by `by`.
std::string ColourOf(double w, double r, ColourBy by) {
    NetworkResult result;
    result.criticalW = 3.29;
    result.heights = {{"A", 100, 0, 0, 0, true}, {"B", 101, 0.001, 0.001, 0.002, false}};
    AdjustedObservation o;
    o.observation = {"A",          "B",          1,           1, std::nullopt, std::nullopt, "s",
                     std::nullopt, std::nullopt, std::nullopt};
    o.w = w;
    o.redundancy = r;
    result.observations.push_back(o);
    DrawingOptions options;
    options.colourBy = by;
    return DrawNetwork(result, {{"A", {0, 0}}, {"B", {100, 0}}}, options).segments.at(0).colour;
}

TEST(NetworkDrawing, ColourClassesAtTheirBoundsAsPrinted) {
    const struct {
        double w;
        const char* colour;
    } byW[] = {
        {0.0, kGood},   {1.0, kGood},      {-1.004, kGood}, {1.006, kFair},
        {2.0, kFair},   {2.004, kFair},    {2.006, kAmber}, {-3.29, kAmber},
        {3.2901, kBad}, {-3.2899, kAmber}, {12.0, kBad},
    };
    for (const auto& c : byW) {
        SCOPED_TRACE("w " + std::to_string(c.w));
        EXPECT_EQ(ColourOf(c.w, 0.5, ColourBy::W), c.colour);
    }
    const struct {
        double r;
        const char* colour;
    } byR[] = {
        {0.0, kBad},   {0.2949, kBad},   {0.3, kAmber},   {0.3049, kAmber}, {0.5, kAmber},
        {0.7, kAmber}, {0.7049, kAmber}, {0.7051, kGood}, {1.0, kGood},
    };
    for (const auto& c : byR) {
        SCOPED_TRACE("r " + std::to_string(c.r));
        EXPECT_EQ(ColourOf(0.5, c.r, ColourBy::Redundancy), c.colour);
    }
}

TEST(NetworkDrawing, PlacesFromCoordinatesNorthUpWithAScale) {
    const NetworkResult r = AdjustLoops(Snooping::Off);
    Positions at;
    const std::map<std::string, std::pair<double, double>> en = {
        {"A", {1000, 2000}}, {"B", {1800, 2000}}, {"C", {1400, 2600}},
        {"D", {1000, 2400}}, {"E", {1700, 2300}}, {"F", {2000, 2700}}};
    for (const auto& [name, p] : en) at[name] = {p.first, p.second};
    DrawingOptions options;
    options.schematic = false;
    const Drawing d = DrawNetwork(r, at, options);
    std::map<std::string, const Symbol*> s;
    for (const Symbol& symbol : d.symbols) s[symbol.name] = &symbol;
    EXPECT_LT(s["A"]->x, s["B"]->x) << "east to the right";
    EXPECT_GT(s["A"]->y, s["C"]->y) << "north up";
    // One scale both ways: 800 m east from A to B, 400 m north from A to D.
    EXPECT_NEAR((s["B"]->x - s["A"]->x) / (s["A"]->y - s["D"]->y), 2.0, 1e-9);
    ASSERT_TRUE(d.scale);
    const double unitsPerMetre = (s["B"]->x - s["A"]->x) / 800.0;
    EXPECT_EQ(d.scale->text, "200 m");
    EXPECT_NEAR(d.scale->length, 200 * unitsPerMetre, 1e-9);
    EXPECT_FALSE(d.schematic);

    // Error bars: one sigma, all alike exaggerated, as the legend says.
    const std::string* bars = nullptr;
    for (const std::string& note : d.legendNotes) {
        if (note.starts_with("Error bars")) bars = &note;
    }
    ASSERT_NE(bars, nullptr);
    const size_t drawnAs = bars->find("drawn as ");
    const double perMm = std::stod(bars->substr(drawnAs + 9));
    for (const AdjustedHeight& h : r.heights) {
        SCOPED_TRACE(h.point);
        EXPECT_NEAR(s[h.point]->bar, h.fixed ? 0 : h.sigma * 1000 * perMm, 1e-9);
        EXPECT_LE(s[h.point]->bar, 24.0);
    }

    const Drawing schematic = DrawNetwork(r, at, {});
    EXPECT_FALSE(schematic.scale);
    EXPECT_NE(SvgOf(schematic).find("(schematic)"), std::string::npos);
    EXPECT_THROW(DrawNetwork(r, {{"A", {0, 0}}}, {}), NetworkError) << "a point with no place";
}

// A levelling line closed on a point that no section reaches: its loop is labelled all the same,
// at the top right, with nothing read outside the drawing's places.
TEST(NetworkDrawing, ALoopOnAPointNoSectionReachesIsStillLabelled) {
    AdjustmentOptions options;
    const NetworkResult r =
        Adjust(Csv("from,to,dh,length_km\nA,B,1,1\n"), {{"A", 10, std::nullopt}},
               {{"Q", 0.0042, 1.0, 9, "ring.gsi line 3"}}, options);
    ASSERT_EQ(r.loops.size(), 1u);
    const Drawing d = DrawNetwork(r, {{"A", {0, 0}}, {"B", {100, 0}}}, {});
    ASSERT_EQ(d.notes.size(), 1u);
    EXPECT_EQ(d.notes[0].kind, "loop beyond");
    EXPECT_EQ(d.notes[0].text, "L1  4.20 / 2.00 mm");
    EXPECT_GT(d.notes[0].x, d.width / 2);
    EXPECT_LT(d.notes[0].y, 60.0);
}

// A note beyond its limit is drawn after every other, so that none covers it: in the bundled
// loops (one loop beyond, the others within) the beyond note comes last, in the SVG too.
TEST(NetworkDrawing, NotesBeyondTheirLimitAreDrawnLast) {
    const NetworkResult r = AdjustLoops(Snooping::Off);
    const Drawing d = DrawNetwork(r, Grid3(r), {});
    size_t firstBeyond = d.notes.size();
    size_t beyond = 0;
    for (size_t i = 0; i < d.notes.size(); ++i) {
        if (!d.notes[i].beyond) continue;
        ++beyond;
        firstBeyond = std::min(firstBeyond, i);
    }
    ASSERT_GT(beyond, 0u) << "the bundled loops hold a blunder";
    ASSERT_LT(beyond, d.notes.size());
    EXPECT_EQ(firstBeyond, d.notes.size() - beyond) << "every note within comes before them";
    const std::string svg = SvgOf(d);
    EXPECT_GT(svg.rfind("class=\"loop beyond\""), svg.rfind("class=\"loop\""));
}

/// What covers what among the labels and points. Every overlap when `everyOverlap`; else what
/// covers a label beyond its limit: a label drawn after it (the notes are drawn in order), or a
/// symbol or point name under it.
std::vector<std::string> Covered(const Drawing& d, bool everyOverlap) {
    std::vector<std::string> covered;
    for (size_t i = 0; i < d.notes.size(); ++i) {
        const Note& n = d.notes[i];
        if (!everyOverlap && !n.beyond) continue;
        const Box box = NoteBox(n);
        for (size_t j = everyOverlap ? 0 : i + 1; j < d.notes.size(); ++j) {
            if (j != i && NoteBox(d.notes[j]).Overlaps(box)) {
                covered.push_back(n.text + " and " + d.notes[j].text);
            }
        }
        for (const Symbol& s : d.symbols) {
            if (SymbolBox(s).Overlaps(box)) covered.push_back(n.text + " over " + s.name);
        }
    }
    return covered;
}

// Every label is placed near its loop where it covers no point and no other label, and names
// its loop as the report's loop table does: in the bundled loops, in a star of loops whose
// centres lie close together, and in a dense grid whose labels cannot all lie free, the
// beyond ones first.
TEST(NetworkDrawing, NoLabelCoversAPointOrAnotherLabel) {
    const NetworkResult loops = AdjustLoops(Snooping::Off);
    // A point far off makes the star small in the drawing, its loops' centres close together.
    std::string star = "from,to,dh,length_km\nO,FAR,3.5,2\n";
    Positions starAt{{"O", {0, 0}}, {"FAR", {2000, 0}}};
    for (int i = 0; i < 6; ++i) {
        const std::string p = "P" + std::to_string(i);
        const std::string q = "P" + std::to_string((i + 1) % 6);
        starAt[p] = {100 * std::cos(i * M_PI / 3), 100 * std::sin(i * M_PI / 3)};
        // Each triangle closes 1 mm apart, the last 9 mm: one loop beyond.
        star += "O," + p + ",0.5,0.1\n" + p + "," + q + "," + (i == 5 ? "0.009" : "0.001") +
                ",0.1\nO," + q + ",0.5,0.1\n";
    }
    AdjustmentOptions options;
    const NetworkResult starResult = Adjust(Csv(star), {{"O", 10, std::nullopt}}, {}, options);
    // A grid of 25 x 25 points 1 km apart, a few sections off by 8 mm.
    std::string grid = "from,to,dh,length_km\n";
    Positions gridAt;
    const auto name = [](int r, int c) {
        return "G" + std::to_string(r) + "_" + std::to_string(c);
    };
    for (int r = 0; r < 25; ++r) {
        for (int c = 0; c < 25; ++c) {
            gridAt[name(r, c)] = {c * 1000.0, -r * 1000.0};
            const std::string off = (r * 25 + c) % 37 == 0 ? "0.108" : "0.1";
            if (c + 1 < 25) grid += name(r, c) + "," + name(r, c + 1) + "," + off + ",1\n";
            if (r + 1 < 25) grid += name(r, c) + "," + name(r + 1, c) + ",0.2,1\n";
        }
    }
    const NetworkResult gridResult = Adjust(Csv(grid), {{"G0_0", 10, std::nullopt}}, {}, options);
    DrawingOptions mapped;
    mapped.schematic = false;
    const struct {
        const char* name;
        const NetworkResult& result;
        Positions at;
        DrawingOptions options;
        bool allFree;
    } cases[] = {
        {"bundled loops, schematic", loops, SchematicLayout(loops), {}, true},
        {"bundled loops in a row", loops, Grid3(loops), {}, true},
        {"a star of loops", starResult, starAt, mapped, true},
        {"a dense grid", gridResult, gridAt, mapped, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawing d = DrawNetwork(c.result, c.at, c.options);
        ASSERT_EQ(d.notes.size(), c.result.loops.size() + c.result.doubleRuns.size() +
                                      c.result.benchmarkLines.size());
        size_t beyond = 0;
        for (const Note& n : d.notes) beyond += n.beyond ? 1 : 0;
        EXPECT_GT(beyond, 0u);
        EXPECT_EQ(Covered(d, c.allFree), std::vector<std::string>{});
        for (const Note& n : d.notes) {
            const Box b = NoteBox(n);
            EXPECT_TRUE(b.left >= 0 && b.right <= d.width && b.top >= 0 && b.bottom <= d.height)
                << n.text;
        }
        // Each label begins with its check's id, the one the report lists it by.
        std::set<std::string> ids;
        for (const ClosureCheck& check : c.result.loops) ids.insert(check.id);
        for (const Note& n : d.notes) {
            const std::string id = n.text.substr(0, n.text.find(' '));
            if (n.kind.starts_with("loop") && n.text.find("twice") == std::string::npos) {
                EXPECT_TRUE(ids.contains(id)) << n.text;
            }
        }
    }
    // The loop ids are the report's: L1 is the loop table's first row.
    std::ostringstream report;
    WriteTextReport(loops, {}, report);
    EXPECT_NE(report.str().find("\n  L1 "), std::string::npos) << report.str();
}

TEST(NetworkDrawing, TheSchematicLayoutPlacesEveryPointApart) {
    const NetworkResult r = AdjustLoops(Snooping::Off);
    const Positions p = SchematicLayout(r);
    ASSERT_EQ(p.size(), r.heights.size());
    for (auto a = p.begin(); a != p.end(); ++a) {
        for (auto b = std::next(a); b != p.end(); ++b) {
            EXPECT_GT(
                std::hypot(a->second.east - b->second.east, a->second.north - b->second.north), 1.0)
                << a->first << " and " << b->first;
        }
    }
}

TEST(NetworkDrawing, NamesAreEscapedInTheSvg) {
    AdjustmentOptions options;
    const NetworkResult r = Adjust(Csv("from,to,dh,length_km\nA&<1>,B'>,1,1\n"),
                                   {{"A&<1>", 0, std::nullopt}}, {}, options);
    const std::string svg = SvgOf(DrawNetwork(r, SchematicLayout(r), {}));
    const auto classes = Classes(svg);
    ASSERT_EQ(classes.count("benchmark"), 1u);
    EXPECT_TRUE(classes.find("benchmark")->second.starts_with("A&<1>\n"));
}

TEST(NetworkCoordinates, RowsThatDoNotRead) {
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"name,east,north\nA,1,2\nB,3\n", "xy.csv:3: not name,east,north"},
        {"A,1,x\n", "xy.csv:1: north \"x\" is no number"},
        {"A,1,2\nA,3,4\n", "xy.csv:2: A is given a second time"},
        {"A,1e9,2\n", "xy.csv:1: a coordinate beyond 100,000 km"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.text);
        try {
            ReadCoordinates(in, "xy.csv");
            ADD_FAILURE() << c.text;
        } catch (const NetworkError& e) {
            EXPECT_EQ(std::string(e.what()), c.says);
        }
    }
    std::istringstream good("name,east,north\r\nA,1.5,-2\r\n");
    const Positions p = ReadCoordinates(good, "xy.csv");
    EXPECT_EQ(p.at("A").east, 1.5);
    EXPECT_EQ(p.at("A").north, -2.0);
}

// GNU Gama's documentation: four points levelled forward and back, 5 mm a leg, 1a held at
// 1000 m; heights 998.77513, 997.93325, 999.27487, m0 5.42 mm. Written as Gama's own users write
// it (single quotes, a description, attributes in any order).
const char* kGamaSample = R"(<?xml version="1.0" ?>
<gama-local xmlns="http://www.gnu.org/software/gama/gama-local">
<network angles="left-handed" axes-xy="ne">
<description>
  Levelling: forward and back
</description>
<parameters sigma-apr='5' conf-pr='0.95' tol-abs='1000' sigma-act='aposteriori' />
<points-observations>
<point id='1a' z='1000' fix='z' />
<point id='2' adj='z' /> <point id='3' adj='z' /> <point id='4' adj='z' />
<height-differences>
<dh from='1a' to='4' val='-1.225' stdev='5' dist='1' />
<dh from='4' to='3' val='-0.848' stdev='5' dist='1' />
<dh from='3' to='2' val='1.342' stdev='5' dist='1' />
<dh from='2' to='1a' val='0.720' stdev='5' dist='1' />
<dh from='1a' to='2' val='-0.724' stdev='5' dist='1' />
<dh val='-1.335' from='2' to='3' dist='1' stdev='5' />
<dh from='3' to='4' val='0.842' stdev='5' dist='1' />
<dh from='4' to='1a' val='1.231' stdev='5' dist='1' />
</height-differences>
</points-observations>
</network>
</gama-local>
)";

const AdjustedHeight& HeightOf(const NetworkResult& r, const std::string& point) {
    return *std::find_if(r.heights.begin(), r.heights.end(),
                         [&](const AdjustedHeight& h) { return h.point == point; });
}

TEST(GamaXml, ThePublishedNetworkReadsAsPublished) {
    const GamaNetwork net = ReadGamaXml(kGamaSample, "sample.gkf");
    ASSERT_EQ(net.observations.size(), 8u);
    EXPECT_EQ(net.observations[5].source, "sample.gkf:17");
    EXPECT_EQ(net.observations[5].dh, -1.335);
    ASSERT_EQ(net.benchmarks.size(), 1u);
    EXPECT_EQ(net.benchmarks[0].name, "1a");
    EXPECT_EQ(net.confidence, 0.95);
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    const NetworkResult r = Adjust(net.observations, net.benchmarks, {}, options);
    ASSERT_TRUE(r.sigma0);
    EXPECT_NEAR(*r.sigma0 * 5.0, 5.42, 0.005);
    EXPECT_NEAR(HeightOf(r, "4").height, 998.77513, 0.000005 + 1e-9);
    EXPECT_NEAR(HeightOf(r, "3").height, 997.93325, 0.000005 + 1e-9);
    EXPECT_NEAR(HeightOf(r, "2").height, 999.27487, 0.000005 + 1e-9);
}

void ExpectSameHeights(const NetworkResult& a, const NetworkResult& b) {
    ASSERT_EQ(a.heights.size(), b.heights.size());
    for (const AdjustedHeight& h : a.heights) {
        SCOPED_TRACE(h.point);
        EXPECT_NEAR(HeightOf(b, h.point).height, h.height, 1e-9);
        EXPECT_NEAR(HeightOf(b, h.point).sigma, h.sigma, 1e-12);
        EXPECT_EQ(HeightOf(b, h.point).fixed, h.fixed);
    }
}

TEST(GamaXml, AJobWrittenAndReadBackAdjustsTheSame) {
    // Held and weighted benchmarks, weights by length.
    const NetworkResult first = AdjustLoops(Snooping::Off);
    const std::string xml = GamaXmlOf(first, {}, "loops & more");
    const GamaNetwork read = ReadGamaXml(xml, "loops.gkf");
    ASSERT_EQ(read.observations.size(), 11u);
    ASSERT_EQ(read.benchmarks.size(), 2u);
    EXPECT_EQ(read.benchmarks[1].name, "B");
    EXPECT_EQ(read.benchmarks[1].sigmaMm, 2.0);
    AdjustmentOptions options;
    options.weighting = Weighting::Sigma;
    ExpectSameHeights(first, Adjust(read.observations, read.benchmarks, {}, options));

    // A free network laid over two of its points: adj="Z" marks them.
    AdjustmentOptions free;
    free.datum = {"C", "E"};
    const std::vector<Observation> legs = Csv(kLoops);
    const NetworkResult loose = Adjust(legs, {}, {}, free);
    const GamaNetwork back = ReadGamaXml(GamaXmlOf(loose, free.datum, "free"), "free.gkf");
    EXPECT_EQ(back.datum, (std::vector<std::string>{"C", "E"}));
    AdjustmentOptions again;
    again.weighting = Weighting::Sigma;
    again.datum = back.datum;
    ExpectSameHeights(loose, Adjust(back.observations, back.benchmarks, {}, again));
}

TEST(GamaXml, WhatIsNotALevellingNetworkIsRefusedByName) {
    const auto wrap = [](const std::string& inside) {
        return "<?xml version='1.0'?>\n<gama-local><network>\n<points-observations>\n" + inside +
               "\n</points-observations></network></gama-local>\n";
    };
    const std::string dh =
        "<height-differences><dh from='A' to='B' val='1' stdev='1'/>"
        "</height-differences>";
    const struct {
        std::string text;
        std::string says;
    } cases[] = {
        {"<gama-local><network>", "g.gkf:1: not XML (Start-end tags mismatch)"},
        {"<?xml version='1.0'?>\n<gama-global/>", "g.gkf: not a GNU Gama input (no <gama-local>)"},
        {wrap(dh + "\n<obs>\n<distance from='A' to='B' val='10'/></obs>"),
         "g.gkf:6: <distance> is not a height difference; only levelling is adjusted"},
        {wrap("<vectors/>" + dh),
         "g.gkf:4: <vectors> are not height differences; only levelling is adjusted"},
        {wrap("<height-differences><dh from='A' to='B' val='1'/><dh from='B' to='C' "
              "val='1'/><cov-mat dim='2' band='1'>1 x 1</cov-mat></height-differences>"),
         "g.gkf:4: a value of the <cov-mat> that is not a number: x"},
        {wrap("<height-differences>\n<dh from='A' to='B' val='1'/></height-differences>"),
         "g.gkf:5: <dh> has no weight: give its stdev (mm), its dist (km, with the network's "
         "sigma-apr), or a <cov-mat> of its block"},
        {wrap("<height-differences>\n<dh from='A' to='B' val='1'/>\n<cov-mat dim='2' band='0'>1 1"
              "</cov-mat></height-differences>"),
         "g.gkf:6: the <cov-mat> is not of the observations before it in its block"},
        {wrap("<height-differences>\n<dh from='A' to='B' val='1,5'/></height-differences>"),
         "g.gkf:5: val=\"1,5\" is not a number"},
        {wrap("<height-differences>\n<dh from='A' to='B'/></height-differences>"),
         "g.gkf:5: <dh> has no val"},
        {wrap("<point id='A' fix='z'/>" + dh), "g.gkf:4: point A is held fixed with no z"},
        {wrap("<height-differences>\n<dh from='A' to='B' val='1' stdev='0'/>"
              "</height-differences>"),
         "g.gkf:5: stdev is not above 0 and within 100 m"},
        {wrap("<point id='A' adj='z'/>"),
         "g.gkf: no height differences (<height-differences> with <dh>)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ReadGamaXml(c.text, "g.gkf");
            ADD_FAILURE() << "read";
        } catch (const NetworkError& e) {
            EXPECT_EQ(std::string(e.what()), c.says);
        }
    }
}

// Each way a Gama file gives a <dh> its weight, as gama-local takes it: its stdev; its dist
// with the network's sigma-apr (10 mm when it names none), sigma-apr × √dist; a diagonal
// <cov-mat> of its block (band 0, or a band of zeros), which stands over the stdev.
TEST(GamaXml, EachWayADhIsWeighted) {
    const auto network = [](const std::string& parameters, const std::string& block) {
        return "<?xml version='1.0'?>\n<gama-local><network>" + parameters +
               "<points-observations>\n<height-differences>\n" + block +
               "</height-differences></points-observations></network></gama-local>\n";
    };
    const struct {
        std::string text;
        std::vector<double> sigmaMm;
    } cases[] = {
        {network("", "<dh from='A' to='B' val='1' stdev='1.5'/>"), {1.5}},
        {network("", "<dh from='A' to='B' val='1' dist='0.25'/>"), {5.0}},
        {network("<parameters sigma-apr='2'/>", "<dh from='A' to='B' val='1' dist='4'/>"), {4.0}},
        {network("",
                 "<dh from='A' to='B' val='1' stdev='9'/><dh from='B' to='C' val='1'/>"
                 "<cov-mat dim='2' band='0'>4 0.25</cov-mat>"),
         {2.0, 0.5}},
        {network("",
                 "<dh from='A' to='B' val='1'/><dh from='B' to='C' val='1'/>"
                 "<dh from='C' to='A' val='-2'/><cov-mat dim='3' band='1'>1 0 9 0 16</cov-mat>"),
         {1.0, 3.0, 4.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const GamaNetwork read = ReadGamaXml(c.text, "w.gkf");
        ASSERT_EQ(read.observations.size(), c.sigmaMm.size());
        for (size_t i = 0; i < c.sigmaMm.size(); ++i) {
            ASSERT_TRUE(read.observations[i].sigmaMm);
            EXPECT_NEAR(*read.observations[i].sigmaMm, c.sigmaMm[i], 1e-12) << i;
        }
    }
}

TEST(NetworkWorkbook, EverySheetInItsOrderWithItsRows) {
    const NetworkResult r = AdjustLoops(Snooping::Always);
    ReportSettings settings;
    settings.snooping = "always";
    const std::vector<rendle::grid::Grid> sheets = WorkbookSheets(r, settings);
    std::vector<std::string> titles;
    for (const auto& s : sheets) titles.push_back(s.SheetTitle());
    EXPECT_EQ(titles, (std::vector<std::string>{"Summary", "Heights", "Observations", "Loops",
                                                "Lines between benchmarks", "Sections run twice",
                                                "Snooping"}));
    const rendle::grid::Grid& loops = sheets[3];
    EXPECT_EQ(loops.CellText(1, 1), "Id");
    EXPECT_EQ(loops.CellText(1, 3), "Misclosure (mm)");
    for (size_t k = 0; k < r.loops.size(); ++k) {
        const auto row = static_cast<int32_t>(k) + 2;
        EXPECT_EQ(loops.CellText(row, 1), "L" + std::to_string(k + 1));
        EXPECT_EQ(loops.CellText(row, 6), r.loops[k].within ? "within" : "BEYOND");
        EXPECT_NEAR(loops.CellNumber(row, 3), r.loops[k].misclosure * 1000, 1e-9);
    }
    EXPECT_EQ(loops.CellText(static_cast<int32_t>(r.loops.size()) + 2, 1), "");
    const rendle::grid::Grid& twice = sheets[5];
    EXPECT_EQ(twice.CellText(2, 1), "D1");
    EXPECT_EQ(twice.CellText(2, 2), "A C");
    EXPECT_EQ(twice.CellText(2, 3), "0.50");
    const rendle::grid::Grid& snooping = sheets[6];
    EXPECT_EQ(snooping.CellText(2, 2), "removed");
    EXPECT_EQ(snooping.CellText(2, 3), "E");
    EXPECT_EQ(snooping.CellText(2, 4), "B");
    EXPECT_EQ(snooping.CellText(3, 2).substr(0, 15), "policy: always;");
    const rendle::grid::Grid& summary = sheets[0];
    EXPECT_EQ(summary.CellText(6, 1), "Removed by data snooping");
    EXPECT_EQ(summary.CellText(6, 2), "1");
}

}  // namespace
