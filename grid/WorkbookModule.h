// The workbook writer as a module of its own, loaded by rendle-reduce only when a workbook is
// asked for, so that a run without --save loads neither libxlsxwriter nor what it needs.
#pragma once

#include <cstddef>

namespace rendle::grid {
class Grid;
}

/// The name of the module's entry point.
inline constexpr const char* kWriteWorkbookSymbol = "rendle_write_workbook";

/// Writes `sheet` as a workbook at `path` as File > Save does (grid::WriteWorkbookFile). Gives 1,
/// or 0 with the reason, as UTF-8, in `error` (`errorSize` bytes, NUL-terminated).
using WriteWorkbookFunction = int (*)(const rendle::grid::Grid* sheet, const char* path,
                                      char* error, size_t errorSize);
