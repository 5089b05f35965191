// The grid's own workbook format (file type 11): an Office Open XML workbook (.xlsx).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rendle::grid {

class Grid;
class StagedFile;

/// The grid's own workbook format, the only one WriteWorkbook writes.
inline constexpr int32_t kWorkbookFileType = 11;

/// Writes the whole workbook: the sheet's name, every cell's text or number, bold and number
/// formats, hidden columns, the column-heading bar texts (as custom document properties named
/// "Column E heading" and so on, since a workbook has no place for them on the sheet) and the
/// print set-up. The workbook is staged beside the target and takes its place only when complete
/// (StagedFile), so a failed write leaves an existing file as it was. Throws GridError saying
/// why when the workbook cannot be written, or when the target is a folder or read-only.
void WriteWorkbook(const Grid& sheet, const std::string& path, int32_t fileType);
/// The same for a workbook of several sheets, in the order given.
void WriteWorkbookSheets(const std::vector<const Grid*>& sheets, const std::string& path);

/// Throws GridError unless the staged file is a whole zip archive: its end record where it
/// belongs, closing the central directory that precedes it. A library that writes through the C
/// library's buffered files can miss a failed write; a cut workbook never replaces a file.
void CheckWholeArchive(const StagedFile& staged);

/// The workbook in the grid's own format, as File > Save writes it.
inline void WriteWorkbookFile(const Grid& sheet, const std::string& path) {
    WriteWorkbook(sheet, path, kWorkbookFileType);
}

}  // namespace rendle::grid
