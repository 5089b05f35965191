// The report printer as a module of its own, loaded by rendle-reduce only when a PDF is asked
// for, so that a run without --pdf loads no Qt library.
#pragma once

#include <cstddef>

namespace rendle::grid {
class Grid;
}
namespace rendle::network {
struct Drawing;
}

/// The names of the module's entry points.
inline constexpr const char* kPrintPdfSymbol = "rendle_print_pdf";
inline constexpr const char* kPdfBeginSymbol = "rendle_pdf_begin";
inline constexpr const char* kPdfEndSymbol = "rendle_pdf_end";
inline constexpr const char* kPrintNetworkPdfSymbol = "rendle_print_network_pdf";

/// Begin: starts a GUI application on the offscreen platform on the calling thread, kept for the
/// PDFs that follow (fonts are then loaded once); end closes it. Both do nothing when the
/// process had an application of its own.
using PdfSessionFunction = void (*)();

/// Prints the level report of `sheet` to the PDF file `path` as File > Print does (a GUI
/// application on the offscreen platform is made for the call when the process has none). Gives the
/// number of pages, or 0 with the reason, as UTF-8, in `error` (`errorSize` bytes, NUL-terminated).
using PrintPdfFunction = int (*)(const rendle::grid::Grid* sheet, const char* path, char* error,
                                 size_t errorSize);

/// Prints the network's report (its drawing, then `count` sheets) to the PDF file `path`; the
/// number of pages, or 0 with the reason in `error`.
using PrintNetworkPdfFunction = int (*)(const rendle::network::Drawing* drawing,
                                        const rendle::grid::Grid* const* sheets, size_t count,
                                        const char* path, char* error, size_t errorSize);
