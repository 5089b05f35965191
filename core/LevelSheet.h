// Layout of the level sheet: header block, columns of a data row, summary block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rendle::grid {
class Grid;
}

namespace rendle::core {

inline constexpr int32_t kColStation = 1;
inline constexpr int32_t kColBS = 2;
inline constexpr int32_t kColIS = 3;
inline constexpr int32_t kColFS = 4;
inline constexpr int32_t kColRiseFall = 5;
inline constexpr int32_t kColRL = 6;
inline constexpr int32_t kColAdjRL = 7;
inline constexpr int32_t kColDist = 8;
inline constexpr int32_t kColSightType = 9;  ///< hidden: "BS", "IS", "FS", or "CP" on a marker row
inline constexpr int32_t kColUnused = 10;    ///< hidden, not used
inline constexpr int32_t kSheetColumns = 8;  ///< visible columns of the level sheet

inline constexpr int32_t kHeaderRows = 4;
inline constexpr int32_t kFirstMarkerRow = 5;
inline constexpr int32_t kFirstDataRow = 6;
inline constexpr int32_t kStationCountRow = 2;
inline constexpr int32_t kStationCountCol = 6;
inline constexpr int32_t kProjectRow = 2;
inline constexpr int32_t kProjectCol = 2;

inline constexpr std::string_view kMarker = "CP";
inline constexpr std::string_view kReadingFormat = "0.0000";
inline constexpr std::string_view kDistanceFormat = "0.00";
inline constexpr std::string_view kSheetName = "LEVEL";

inline constexpr std::array<std::string_view, kSheetColumns> kRowFourHeadings = {
    "STN", "BS", "IS", "FS", "Rise/Fall", "RL", "ADJ. RL", "DIST"};
inline constexpr std::array<std::string_view, kSheetColumns> kColumnBarHeadings = {
    "STN", "BS", "IS", "FS", "H. DIFF.", "RL", "ADJ. RL", "DIST"};

/// Lays out the empty level sheet when the main window loads: hidden columns 9 and 10, the
/// header block, the column-heading bar and the sheet name.
void SetUpLevelSheet(grid::Grid& sheet);

/// Writes the header block's fixed texts, sets rows 1 to 4 in bold and makes (5, 1) active.
/// Shared by the sheet set-up and the field-book readers (which clear the sheet first).
void WriteHeaderBlock(grid::Grid& sheet);

/// What a text typed (or pasted) into cell (row, col) is: a number, or text. A decimal number
/// is a number anywhere; in a reading or distance cell below the header block, one written
/// with a decimal comma is the number it means too ("1,456" is 1.456: no staff reading or sight
/// is written with a thousands separator). A leading apostrophe keeps the rest as text.
struct TypedValue {
    std::optional<double> number;
    std::string text;  ///< when it is no number
};
TypedValue TypedCellValue(int32_t row, int32_t col, std::string_view typed);

}  // namespace rendle::core
