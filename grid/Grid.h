// The spreadsheet grid that holds the level sheet: a one-sheet workbook of cells addressed
// (row, column), 1-based, each empty, a number or a text, each with its own format.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "grid/NumberFormat.h"

namespace rendle::grid {

/// Error codes a failing grid operation raises.
enum ErrorCode : int {
    kErrBadArgument = 20001,  ///< a mode, sheet index or other argument the grid does not know
    kErrOutOfRange = 20002,   ///< a row or column below 1 (other than 0) or above the sheet's size
    kErrRowColZero = 20007,   ///< a cell operation given row 0 or column 0
    kErrWriteFailed = 20010,  ///< a workbook or another output could not be written
};

/// A failing grid operation. The caller decides what the code means to its command.
class GridError : public std::runtime_error {
  public:
    GridError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

inline constexpr int32_t kMaxRow = 1048576;  // a workbook sheet's rows
inline constexpr int32_t kMaxCol = 256;

/// Bounds of a rectangular block of cells, inclusive, 1-based.
struct Range {
    int32_t row1 = 1, col1 = 1, row2 = 1, col2 = 1;
    bool Contains(int32_t r, int32_t c) const {
        return r >= row1 && r <= row2 && c >= col1 && c <= col2;
    }
    bool operator==(const Range&) const = default;
};

struct CellFormat {
    bool bold = false;
    std::string numberFormat;  ///< empty: General
    bool IsDefault() const { return !bold && numberFormat.empty(); }
    bool operator==(const CellFormat&) const = default;
};

enum class CellKind : uint8_t { Empty, Number, Text };

/// What ClearCells empties: values and formats, formats only, or values only.
enum class ClearMode : int { All = 1, Formats = 2, Values = 3 };

/// What RemoveCells deletes: whole rows, the rows below moving up.
enum class RemoveMode : int { Rows = 3 };

/// Column width on screen, in print and in a workbook, in pixels at 96 dots per inch.
inline constexpr int kDefaultColumnWidthPx = 60;

/// A cell as stored. Its format lives in the grid's format table (entry 0 is the default
/// format), so that the thousands of cells of a level sheet share a handful of formats.
struct Cell {
    CellKind kind = CellKind::Empty;
    uint16_t formatId = 0;
    double number = 0.0;
    /// A text cell's text. A number cell keeps here its text as displayed, once it has been
    /// asked for through Grid::ShownText (the level sheet's numbers are shown again and again:
    /// column widths, the report, the JSON document); every change of the cell or of its format
    /// empties it. Read a number's text through the grid, never here.
    mutable std::string text;
    bool IsBlank() const { return kind == CellKind::Empty && formatId == 0; }
};

/// A format to change, as handed out by SelectionFormat(): only attributes set on it after it was
/// obtained reach the selection when it is applied.
class FormatObject {
  public:
    explicit FormatObject(CellFormat current = {}) : current_(std::move(current)) {}
    bool Bold() const { return bold_.value_or(current_.bold); }
    void SetBold(bool on) { bold_ = on; }
    const std::string& NumberFormat() const {
        return numberFormat_ ? *numberFormat_ : current_.numberFormat;
    }
    void SetNumberFormat(std::string pattern) { numberFormat_ = std::move(pattern); }

  private:
    friend class Grid;
    CellFormat current_;
    std::optional<bool> bold_;
    std::optional<std::string> numberFormat_;
};

/// The sheet's print set-up: title rows repeated on every page and the margins in inches.
struct PageSetup {
    std::string printTitleRows;
    double leftMargin = 0.75;
    double rightMargin = 0.75;
    double topMargin = 1.0;
    double bottomMargin = 1.0;
    bool operator==(const PageSetup&) const = default;
};

/// What a view of the grid is told. While repainting is off nothing is sent; switching it back
/// on sends one SheetRefreshed().
class GridObserver {
  public:
    virtual ~GridObserver() = default;
    virtual void CellsChanged(const Range&) {}
    virtual void SheetRefreshed() {}
    virtual void SelectionChanged() {}
    virtual void SheetPropertiesChanged() {}
};

class Grid {
  public:
    Grid();

    // Cells. Getters of an empty cell give "" and 0.
    /// The cell's value as the sheet shows it: text as is, a number under its number format.
    std::string CellText(int32_t row, int32_t col) const;
    /// CellText without a copy: valid until the cell or its format changes.
    std::string_view ShownText(int32_t row, int32_t col) const;
    void SetCellText(int32_t row, int32_t col, std::string_view text);
    double CellNumber(int32_t row, int32_t col) const;
    void SetCellNumber(int32_t row, int32_t col, double value);
    void ClearCell(int32_t row, int32_t col);
    /// The cell as stored; an address past the used part gives an empty cell.
    const Cell& CellAt(int32_t row, int32_t col) const {
        CheckAddress(row, col);
        if (static_cast<size_t>(row) > rowSlots_.size()) return kEmptyCell;
        const Row& r = RowAt(row);
        if (static_cast<size_t>(col) > r.size()) return kEmptyCell;
        return r[col - 1];
    }
    const CellFormat& FormatAt(int32_t row, int32_t col) const;

    /// Empties a block. Bounds of -1 stand for the whole extent.
    void ClearCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, ClearMode mode);
    /// Deletes rows row1..row2 as a whole; the rows below move up.
    void RemoveCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, RemoveMode mode);

    // Selection and active cell.
    void SelectCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2);
    /// The same block selected with the active cell where the user's moves left it inside it
    /// (a selection grown by Shift and the arrows keeps its anchor as the active cell).
    void SelectCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, int32_t activeRow,
                     int32_t activeCol);
    void ActivateCell(int32_t row, int32_t col);
    const Range& Selection() const { return selection_; }
    int32_t ActiveRow() const { return activeRow_; }
    int32_t ActiveCol() const { return activeCol_; }

    /// Highest row holding a value or a format; 0 for an empty sheet.
    int32_t LastUsedRow() const { return static_cast<int32_t>(rowSlots_.size()); }
    /// Highest column holding a value or a format in any row; 0 for an empty sheet.
    int32_t LastUsedCol() const;
    /// The sheet's columns: up to the last used column or the last with a heading of its own,
    /// whichever is further.
    int32_t ColumnCount() const;

    void SetRepainting(bool on);
    bool Repainting() const { return repainting_; }

    // Formats of the selection.
    FormatObject SelectionFormat() const;
    void ApplySelectionFormat(const FormatObject& format);
    void SetSelectionNumberFormat(std::string_view pattern);

    // Sheet properties.
    void SetColumnHeading(int32_t col, std::string_view text);
    /// The label of the column-heading bar: the text set for it, otherwise the column's letters.
    std::string ColumnHeading(int32_t col) const;
    bool HasColumnHeading(int32_t col) const;
    void SetColumnHidden(int32_t col, bool hidden);
    bool ColumnHidden(int32_t col) const;
    /// A column's width in pixels at 96 dots per inch, on screen, in print and in a workbook.
    /// `byHand`: the user set it; a fit keeps it as the least width until ResetColumnWidths().
    void SetColumnWidth(int32_t col, int widthPx, bool byHand = false);
    int ColumnWidth(int32_t col) const;
    bool ColumnWidthByHand(int32_t col) const;
    /// Every column back to the default width, widths set by hand included (a new read).
    void ResetColumnWidths();
    void SetSheetTitle(int16_t sheet, std::string_view title);
    const std::string& SheetTitle() const { return sheetTitle_; }
    const std::string& DefaultFontName() const { return fontName_; }
    int DefaultFontSize() const { return fontSize_; }

    // Print settings.
    PageSetup GetPageSetup() const { return pageSetup_; }
    void ApplyPageSetup(const PageSetup& setup);
    void SetPrintSwitch(bool printGridLines) { printGridLines_ = printGridLines; }
    bool PrintGridLines() const { return printGridLines_; }
    void SetPageHeader(std::string_view text) { pageHeader_ = text; }
    const std::string& PageHeader() const { return pageHeader_; }
    void SetPageFooter(std::string_view text) { pageFooter_ = text; }
    const std::string& PageFooter() const { return pageFooter_; }
    /// A word about the workbook as a whole that is no cell of it (results an edit made stale):
    /// printed under the heading rows of every page, and written into a saved workbook's page
    /// header and document properties. Empty for none.
    void SetDocumentNote(std::string_view text) { documentNote_ = text; }
    const std::string& DocumentNote() const { return documentNote_; }

    void SetObserver(GridObserver* observer) { observer_ = observer; }

  private:
    using Row = std::vector<Cell>;

    static void CheckAddress(int32_t row, int32_t col) {
        if (row < 1 || row > kMaxRow || col < 1 || col > kMaxCol) [[unlikely]] {
            BadAddress(row, col);
        }
    }
    [[noreturn]] static void BadAddress(int32_t row, int32_t col);
    Cell& MutableCell(int32_t row, int32_t col);
    /// Empties a number cell's text as displayed, before the cell or its format changes.
    static void ForgetShownNumber(Cell& cell);
    // Keep every row free of blank cells at its end and the sheet free of empty rows at its end,
    // so that the row count is the last used row.
    void TrimRow(int32_t row);
    void TrimRows();
    Range ResolveBounds(int32_t row1, int32_t col1, int32_t row2, int32_t col2) const;
    uint16_t InternFormat(const CellFormat& format);
    void NotifyCells(const Range& range);
    void NotifySelection();
    void NotifyProperties();

    static inline const Cell kEmptyCell{};

    Row& RowAt(int32_t row) { return rowStore_[rowSlots_[row - 1]]; }
    const Row& RowAt(int32_t row) const { return rowStore_[rowSlots_[row - 1]]; }

    // Row r lives in rowStore_[rowSlots_[r - 1]]: deleting rows moves only the slot numbers.
    // No empty rows at the end, so the slot count is the last used row.
    std::vector<uint32_t> rowSlots_;
    std::vector<Row> rowStore_;
    std::vector<uint32_t> freeSlots_;
    std::vector<CellFormat> formats_{CellFormat{}};
    std::vector<NumberPattern> patterns_{NumberPattern{}};  ///< each format's, read once
    std::vector<std::string> headings_;
    std::vector<bool> hidden_;
    std::vector<int> widths_;   // 0: the default width
    std::vector<bool> byHand_;  // the width was set by the user
    Range selection_{1, 1, 1, 1};
    int32_t activeRow_ = 1;
    int32_t activeCol_ = 1;
    bool repainting_ = true;
    std::string sheetTitle_ = "Sheet1";
    std::string fontName_ = "Arial";
    int fontSize_ = 10;
    PageSetup pageSetup_;
    bool printGridLines_ = true;
    std::string pageHeader_ = "&A";
    std::string pageFooter_ = "Page &P";
    std::string documentNote_;
    GridObserver* observer_ = nullptr;
};

/// Column letters as a spreadsheet names them: 1 is "A", 27 is "AA".
std::string ColumnLetters(int32_t col);

/// First and last row of a print-title range such as "A1:IV4" or "$A$1:$IV$4".
std::optional<std::pair<int32_t, int32_t>> TitleRows(std::string_view range);

/// The columns a report shows: the sheet's columns that are not hidden, 1-based, in order.
/// The text report, the printed page and the view all show these.
std::vector<int32_t> ShownColumns(const Grid& sheet);

/// Room between a cell's edge and its text, in pixels at 96 dots per inch, on each side.
inline constexpr int kCellPaddingPx = 3;

/// The width of a text in the sheet's font (Arial 10 pt, at 96 dots per inch) in pixels,
/// rounded up, from the font's advance widths; bold text is taken a tenth wider. (A table of
/// our own, so that the sheet is laid out alike without a window, for a workbook or a PDF.)
int TextWidthPx(std::string_view text, bool bold);

/// The widest a column is fitted to: 40 digits of the sheet's font, with the cell's padding.
int MaxFittedColumnWidthPx();

/// Fits every shown column to what the sheet now holds: as wide as its widest displayed number,
/// or text that cannot run on (the cell to its right holds something), up to
/// MaxFittedColumnWidthPx, so that no ordinary number is cut off on screen, in print or in a
/// workbook; never narrower than the default width, or than a width set by hand.
void FitColumnWidths(Grid& sheet);

/// What a number cell shows in its column, as a spreadsheet shows it: its display text when
/// that fits (`textWidth` with `padding` on each side at most `cellWidth`), else as many '#'
/// as fit between the paddings (`hashWidth` the width of one), at least one. Any one unit.
std::string NumberShown(std::string text, double textWidth, double cellWidth, double hashWidth,
                        double padding);

/// How far a cell's text reaches across `columns` (indices into it), as in a spreadsheet: a
/// text wider than its cell runs on over the empty cells to its right until it fits or meets a
/// cell that holds something. Numbers and empty cells stay in their own cell. `needed` is the
/// text's width and `width(i)` that of columns[i], in any one unit. Gives one past the index
/// of the last column the text covers (at least `index + 1`).
size_t RunOnEnd(const Grid& sheet, int32_t row, std::span<const int32_t> columns, size_t index,
                double needed, const std::function<double(size_t)>& width);

}  // namespace rendle::grid
