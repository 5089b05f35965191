// The workbook writer as a module of its own, loaded by the command-line programs only when a
// workbook is asked for, so that a run without --save loads neither libxlsxwriter nor what it
// needs.
#pragma once

#include <cstddef>

namespace rendle::grid {
class Grid;
}

/// The name of the module's entry point.
inline constexpr const char* kWriteSheetsSymbol = "rendle_write_workbook_sheets";
/// Writes the `count` sheets as one workbook at `path`, in the order given (one sheet: as File >
/// Save does). Gives 1, or 0 with the reason, as UTF-8, in `error` (`errorSize` bytes,
/// NUL-terminated).
using WriteSheetsFunction = int (*)(const rendle::grid::Grid* const* sheets, size_t count,
                                    const char* path, char* error, size_t errorSize);
