// The grid's own workbook format (file type 11): an Office Open XML workbook (.xlsx).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace rendle::grid {

class Grid;

/// The grid's own workbook format, the only one WriteWorkbook writes.
inline constexpr int32_t kWorkbookFileType = 11;

/// Column width on screen and in a workbook, in pixels at 96 dots per inch.
inline constexpr int kDefaultColumnWidthPx = 60;

/// Writes the whole workbook: the sheet's name, every cell's text or number, bold and number
/// formats, hidden columns, the column-heading bar texts (as custom document properties named
/// "Column E heading" and so on, since a workbook has no place for them on the sheet) and the
/// print set-up. The workbook is written to a temporary file in the target's folder and renamed
/// over the target only when complete, so a failed write leaves an existing file as it was.
/// Throws GridError saying why when the workbook cannot be written.
void WriteWorkbook(const Grid& sheet, const std::string& path, int32_t fileType);

/// First and last row of a print-title range such as "A1:IV4" or "$A$1:$IV$4".
std::optional<std::pair<int32_t, int32_t>> TitleRows(std::string_view range);

/// Text as valid UTF-8 that XML can carry: bytes that do not form UTF-8 are taken as
/// Latin-1 characters, control characters are written as the _xHHHH_ escapes spreadsheet
/// programs read back.
std::string XmlSafeText(std::string_view text);

}  // namespace rendle::grid
