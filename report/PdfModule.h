// The report printer as a module of its own, loaded by rendle-reduce only when a PDF is asked
// for, so that a run without --pdf loads no Qt library.
#pragma once

#include <cstddef>

namespace rendle::grid {
class Grid;
}

/// The names of the module's entry points.
inline constexpr const char* kPrintPdfSymbol = "rendle_print_pdf";
inline constexpr const char* kPdfBeginSymbol = "rendle_pdf_begin";
inline constexpr const char* kPdfEndSymbol = "rendle_pdf_end";

/// Begin: starts a GUI application on the offscreen platform on the calling thread, kept for the
/// PDFs that follow (fonts are then loaded once); end closes it. Both do nothing when the
/// process had an application of its own.
using PdfSessionFunction = void (*)();

/// Prints the level report of `sheet` to the PDF file `path` as File > Print does (a GUI
/// application on the offscreen platform is made for the call when the process has none). Gives the
/// number of pages, or 0 with the reason, as UTF-8, in `error` (`errorSize` bytes, NUL-terminated).
using PrintPdfFunction = int (*)(const rendle::grid::Grid* sheet, const char* path, char* error,
                                 size_t errorSize);
