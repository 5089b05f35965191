#include "core/ToleranceClasses.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "grid/NumberFormat.h"

namespace rendle::core {

namespace {

// The table of levelling classes with the sources their figures were read in ("standard": in
// the standard or an official page quoting it; "cited": in public software or documents that
// cite it). Balance is |Σ back − Σ fore| per set-up and over the line; the station difference is
// that of one set-up read twice.
// A row leaves out the figures its class does not set: they stay empty.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr std::array kClasses = std::to_array<ToleranceClass>({
    {"fgcs-1-1", "USA FGCS 1984, first order class I", 3, 4, 50, std::nullopt, 2, 4, std::nullopt,
     "double run",
     "FGCS 1984 standards for geodetic control networks, table for geodetic "
     "levelling: the misclose of second and third order cited in public course notes; the other "
     "figures as surveying texts reproduce the table, not yet read in the standard itself",
     true},
    {"fgcs-1-2", "USA FGCS 1984, first order class II", 4, 5, 60, std::nullopt, 5, 10, std::nullopt,
     "double run",
     "cited: FGCS 1984 standards for geodetic control networks, table for "
     "geodetic levelling: the misclose of second and third order cited in public course notes; the "
     "other figures as surveying texts reproduce the table, not yet read in the standard itself",
     true},
    {"fgcs-2-1", "USA FGCS 1984, second order class I", 6, 6, 60, std::nullopt, 5, 10, std::nullopt,
     "double run",
     "cited: FGCS 1984 standards for geodetic control networks, table for "
     "geodetic levelling: the misclose of second and third order cited in public course notes; the "
     "other figures as surveying texts reproduce the table, not yet read in the standard itself",
     true},
    {"fgcs-2-2", "USA FGCS 1984, second order class II", 8, 8, 70, std::nullopt, 10, 10,
     std::nullopt, "single or double",
     "cited: FGCS 1984 standards for geodetic control networks, table for "
     "geodetic levelling: the misclose of second and third order cited in public course notes; the "
     "other figures as surveying texts reproduce the table, not yet read in the standard itself",
     true},
    {"fgcs-3", "USA FGCS 1984, third order", 12, 12, 90, std::nullopt, 10, 10, std::nullopt,
     "single",
     "cited: FGCS 1984 standards for geodetic control networks, table for "
     "geodetic levelling: the misclose of second and third order cited in public course notes; the "
     "other figures as surveying texts reproduce the table, not yet read in the standard itself",
     true},
    {"icsm-l2a", "Australia ICSM SP1, class L2A", 2, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, "forward and back",
     "standard: ICSM SP1 as quoted by the NSW spatial services \"class and order\" page", false},
    {"icsm-la", "Australia ICSM SP1, class LA", 4, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, "forward and back",
     "standard: ICSM SP1 as quoted by the NSW spatial services \"class and order\" page", false},
    {"sa-3", "South Australia, order 3", 12, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, "", "standard: SA convention for the AHD survey control network",
     false},
    {"sa-4", "South Australia, order 4", 18, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, "", "standard: SA convention for the AHD survey control network",
     false},
    {"il-h1", "Israel SOI levelling, H1", 3, std::nullopt, 30, std::nullopt, 1, 5, std::nullopt,
     "BFFB", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"il-h2", "Israel SOI levelling, H2", 5, std::nullopt, 40, std::nullopt, 2, 5, std::nullopt,
     "BFFB", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"il-h3", "Israel SOI levelling, H3", 10, std::nullopt, 50, std::nullopt, 2, 10, std::nullopt,
     "BFFB", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"il-h4", "Israel SOI levelling, H4", 20, std::nullopt, 80, std::nullopt, 5, 10, std::nullopt,
     "BF", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"il-h5", "Israel SOI levelling, H5", 30, std::nullopt, 100, std::nullopt, 10, 10, std::nullopt,
     "BF", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"il-h6", "Israel SOI levelling, H6", 60, std::nullopt, 100, std::nullopt, 10, 15, std::nullopt,
     "BF", "cited: Survey of Israel directive as coded in the open Geo_Level_Gravi tool", false},
    {"cn-2", "China GB 50026 engineering levelling, grade 2", 4, 4, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, "",
     "cited: open Levelnet adjustment software's options", false},
    {"cn-3", "China GB 50026, grade 3", 12, 12, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, "", "cited: open Levelnet adjustment software's options", false},
    {"cn-4", "China GB 50026, grade 4", 20, 20, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, "", "cited: open Levelnet adjustment software's options", false},
    {"cn-5", "China GB 50026, grade 5", 30, 30, std::nullopt, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, "", "cited: open Levelnet adjustment software's options", false},
    {"cn-2-digital", "China second order with a digital level", 4, std::nullopt, 50, 3, 1.5, 6.0,
     0.6, "two readings",
     "cited: a public standard of second-order digital levelling, as published", false},
    // Classes found since, with the kinds of figure they set (round trip apart from the loop,
    // the lowest staff reading); K is the one-way length of the section.
    {.id = "jp-1",
     .name = "Japan public survey, class 1 levelling",
     .lineMm = 2.5,
     .loopMm = 2.0,
     .method = "forward and back",
     .source = "quoted: secondary pages citing the public-survey rules (articles 62-70); staff "
               "and normal-orthometric corrections made",
     .roundTripMm = 2.5,
     .lowestReading = 0.20},
    {.id = "jp-2",
     .name = "Japan public survey, class 2 levelling",
     .lineMm = 5,
     .loopMm = 5,
     .method = "forward and back",
     .source = "quoted: secondary pages citing the public-survey rules (articles 62-70)",
     .roundTripMm = 5},
    {.id = "jp-3",
     .name = "Japan public survey, class 3 levelling",
     .lineMm = 10,
     .loopMm = 10,
     .method = "forward and back",
     .source = "quoted: secondary pages citing the public-survey rules (articles 62-70)",
     .roundTripMm = 10},
    {.id = "jp-4",
     .name = "Japan public survey, class 4 levelling",
     .lineMm = 20,
     .loopMm = 20,
     .method = "forward and back",
     .source = "quoted: secondary pages citing the public-survey rules (articles 62-70)",
     .roundTripMm = 20},
    {.id = "jp-simple",
     .name = "Japan public survey, simple levelling",
     .lineMm = 40,
     .source = "quoted: secondary pages citing the public-survey rules (articles 62-70); one way"},
    {.id = "nz-1",
     .name = "New Zealand, pre-2010 height order 1 (precise)",
     .lineMm = 2,
     .source = "read: the national survey agency's page on pre-2010 height orders"},
    {.id = "nz-2",
     .name = "New Zealand, pre-2010 height order 2",
     .lineMm = 7,
     .source = "read: the national survey agency's page on pre-2010 height orders"},
    {.id = "ru-4",
     .name = "Russia, levelling class IV",
     .lineMm = 20,
     .longestSight = 150,
     .balanceSetUp = 5,
     .balanceSection = 10,
     .source = "quoted: two open programs that name the national instruction agree"},
    {.id = "ru-tech",
     .name = "Russia, technical levelling",
     .lineMm = 50,
     .balanceSetUp = 10,
     .balanceSection = 20,
     .source = "quoted: two open programs that name the national instruction agree"},
    {.id = "au-1-hist",
     .name = "Australia, historical first order",
     .lineMm = 4,
     .longestSight = 40,
     .balanceSection = 15,
     .method = "forward and back",
     .source = "read: a historical national first-order levelling standard",
     .roundTripMm = 4},
});
#pragma GCC diagnostic pop

}  // namespace

std::span<const ToleranceClass> ToleranceClasses() {
    return kClasses;
}

namespace {

/// The classes read from class files, with the text their views point into; never moved.
struct ReadClass {
    std::string id, name, source, method;
    ToleranceClass row;
};
std::mutex readClassesLock;
std::deque<ReadClass>& ReadClasses() {
    static std::deque<ReadClass> classes;
    return classes;
}

}  // namespace

const ToleranceClass* FindToleranceClass(std::string_view id) {
    for (const ToleranceClass& row : kClasses) {
        if (row.id == id) return &row;
    }
    const std::lock_guard lock(readClassesLock);
    const std::deque<ReadClass>& read = ReadClasses();
    for (auto latest = read.rbegin(); latest != read.rend(); ++latest) {
        if (latest->row.id == id) return &latest->row;
    }
    return nullptr;
}

const ToleranceClass& ReadClassFile(std::string_view text, const std::string& name) {
    const auto fail = [&name](const std::string& why) { throw ClassFileError(name + ": " + why); };
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    if (document.HasParseError()) {
        fail(std::string("not JSON at byte ") + std::to_string(document.GetErrorOffset()) + ": " +
             rapidjson::GetParseError_En(document.GetParseError()));
    }
    if (!document.IsObject()) fail("not a JSON object of a class's figures");
    ReadClass read;
    ToleranceClass& row = read.row;
    // Members looked up by HasMember and [] (RapidJSON's iterators compare ambiguously in C++20).
    const auto words = [&](const char* key, std::string& into) {
        if (!document.HasMember(key) || document[key].IsNull()) return;
        if (!document[key].IsString()) fail(std::string(key) + " is not a text");
        into = document[key].GetString();
    };
    // A figure: a positive number no standard would pass.
    const auto figure = [&](const char* key, double largest) -> std::optional<double> {
        if (!document.HasMember(key) || document[key].IsNull()) return std::nullopt;
        if (!document[key].IsNumber()) fail(std::string(key) + " is not a number");
        const double value = document[key].GetDouble();
        if (!(value > 0) || value > largest || !std::isfinite(value)) {
            fail(std::string(key) + " " + grid::GeneralNumberText(value) +
                 " is not above 0 and at most " + grid::GeneralNumberText(largest));
        }
        return value;
    };
    static constexpr std::array kKeys = {"id",
                                         "name",
                                         "source",
                                         "method",
                                         "miscloseMm",
                                         "loopMm",
                                         "perSetUpMm",
                                         "roundTripMm",
                                         "longestSightM",
                                         "setupImbalanceM",
                                         "runningImbalanceM",
                                         "lowestReadingM",
                                         "highestReadingM"};
    for (rapidjson::SizeType i = 0; i < document.MemberCount(); ++i) {
        const rapidjson::Value& memberName = (document.MemberBegin() + i)->name;
        const std::string_view key(memberName.GetString(), memberName.GetStringLength());
        if (std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end()) {
            fail("\"" + std::string(key) +
                 "\" is no figure of a class (a misspelt key would be "
                 "passed over without a word)");
        }
    }
    words("id", read.id);
    if (read.id.empty()) fail("the class has no id");
    for (const ToleranceClass& builtIn : kClasses) {
        if (builtIn.id == read.id)
            fail("the id " + read.id + " is a class Rendle knows: give yours another");
    }
    words("name", read.name);
    if (read.name.empty()) read.name = read.id;
    words("source", read.source);
    if (read.source.empty()) read.source = "a surveyor's own class file, " + name;
    words("method", read.method);
    row.lineMm = figure("miscloseMm", 1000);
    row.loopMm = figure("loopMm", 1000);
    row.perSetUpMm = figure("perSetUpMm", 1000);
    row.roundTripMm = figure("roundTripMm", 1000);
    row.longestSight = figure("longestSightM", 1000);
    row.balanceSetUp = figure("setupImbalanceM", 1000);
    row.balanceSection = figure("runningImbalanceM", 10000);
    row.lowestReading = figure("lowestReadingM", 10);
    row.highestReading = figure("highestReadingM", 10);
    if (row.lowestReading && row.highestReading && *row.lowestReading >= *row.highestReading) {
        fail("lowestReadingM is not below highestReadingM");
    }
    // Read again (a window adjusting anew after the file was edited), the latest reading is the
    // one its id finds.
    const std::lock_guard lock(readClassesLock);
    ReadClass& kept = ReadClasses().emplace_back(std::move(read));
    kept.row.id = kept.id;
    kept.row.name = kept.name;
    kept.row.source = kept.source;
    kept.row.method = kept.method;
    return kept.row;
}

const ToleranceClass& LoadClassFile(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw ClassFileError("cannot read " + path + ": a folder, not a class file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ClassFileError("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ClassFileError("cannot read " + path);
    // A class file is a few hundred bytes: anything past a megabyte is no class file.
    if (text.tellp() > 1 << 20) throw ClassFileError(path + ": too big for a class file");
    return ReadClassFile(text.str(), path);
}

}  // namespace rendle::core
