#include "core/ToleranceClasses.h"

#include <array>

namespace rendle::core {

namespace {

// The table of levelling classes with the sources their figures were read in ("standard": in
// the standard or an official page quoting it; "cited": in public software or documents that
// cite it). Balance is |Σ back − Σ fore| per set-up and over the line; the station difference is
// that of one set-up read twice.
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
});

}  // namespace

std::span<const ToleranceClass> ToleranceClasses() {
    return kClasses;
}

const ToleranceClass* FindToleranceClass(std::string_view id) {
    for (const ToleranceClass& row : kClasses) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

}  // namespace rendle::core
