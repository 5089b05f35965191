#include "grid/Grid.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "grid/NumberFormat.h"

namespace rendle::grid {

namespace {

/// A mode outside the enumeration (a number cast to it) is a bad argument, as the grid says.
template <typename Mode>
int CheckMode(Mode mode, int lowest, int highest) {
    const int value = static_cast<int>(mode);
    if (value < lowest || value > highest) {
        throw GridError(kErrBadArgument, "unknown mode " + std::to_string(value));
    }
    return value;
}

}  // namespace

std::string ColumnLetters(int32_t col) {
    std::string letters;
    while (col > 0) {
        const int32_t digit = (col - 1) % 26;
        letters.insert(letters.begin(), static_cast<char>('A' + digit));
        col = (col - 1) / 26;
    }
    return letters;
}

Grid::Grid() = default;

void Grid::BadAddress(int32_t row, int32_t col) {
    if (row == 0 || col == 0) throw GridError(kErrRowColZero, "row or column 0");
    throw GridError(kErrOutOfRange, "cell address out of range");
}

void Grid::ForgetShownNumber(Cell& cell) {
    if (cell.kind == CellKind::Number) cell.text.clear();
}

Cell& Grid::MutableCell(int32_t row, int32_t col) {
    CheckAddress(row, col);
    while (rowSlots_.size() < static_cast<size_t>(row)) {
        if (freeSlots_.empty()) {
            rowSlots_.push_back(static_cast<uint32_t>(rowStore_.size()));
            rowStore_.emplace_back();
        } else {
            rowSlots_.push_back(freeSlots_.back());
            freeSlots_.pop_back();
        }
    }
    Row& r = RowAt(row);
    if (static_cast<size_t>(col) <= r.size()) ForgetShownNumber(r[col - 1]);  // about to change
    if (static_cast<size_t>(col) > r.size()) {
        // Rows fill left to right: room for the level sheet's columns at once, not cell by cell.
        if (r.capacity() < static_cast<size_t>(col)) r.reserve(std::max<size_t>(col, 10));
        while (r.size() < static_cast<size_t>(col)) r.emplace_back();
    }
    return r[col - 1];
}

void Grid::TrimRow(int32_t row) {
    if (static_cast<size_t>(row) > rowSlots_.size()) return;
    Row& r = RowAt(row);
    while (!r.empty() && r.back().IsBlank()) r.pop_back();
}

void Grid::TrimRows() {
    while (!rowSlots_.empty() && rowStore_[rowSlots_.back()].empty()) {
        freeSlots_.push_back(rowSlots_.back());
        rowSlots_.pop_back();
    }
}

const CellFormat& Grid::FormatAt(int32_t row, int32_t col) const {
    return formats_[CellAt(row, col).formatId];
}

uint16_t Grid::InternFormat(const CellFormat& format) {
    for (size_t i = 0; i < formats_.size(); ++i) {
        if (formats_[i] == format) return static_cast<uint16_t>(i);
    }
    if (formats_.size() > UINT16_MAX) throw GridError(kErrBadArgument, "too many cell formats");
    formats_.push_back(format);
    patterns_.push_back(ParseNumberPattern(format.numberFormat));
    return static_cast<uint16_t>(formats_.size() - 1);
}

std::string Grid::CellText(int32_t row, int32_t col) const {
    return std::string(ShownText(row, col));
}

std::string_view Grid::ShownText(int32_t row, int32_t col) const {
    const Cell& cell = CellAt(row, col);
    switch (cell.kind) {
        case CellKind::Text:
            return cell.text;
        case CellKind::Number:
            if (cell.text.empty()) {
                cell.text = FormatNumber(cell.number, patterns_[cell.formatId]);
            }
            return cell.text;
        case CellKind::Empty:
            break;
    }
    return {};
}

double Grid::CellNumber(int32_t row, int32_t col) const {
    const Cell& cell = CellAt(row, col);
    return cell.kind == CellKind::Number ? cell.number : 0.0;
}

void Grid::SetCellText(int32_t row, int32_t col, std::string_view text) {
    Cell& cell = MutableCell(row, col);
    cell.kind = text.empty() ? CellKind::Empty : CellKind::Text;
    cell.text.assign(text);
    cell.number = 0.0;
    if (text.empty()) {
        TrimRow(row);
        TrimRows();
    }
    NotifyCells({row, col, row, col});
}

void Grid::SetCellNumber(int32_t row, int32_t col, double value) {
    Cell& cell = MutableCell(row, col);
    cell.kind = CellKind::Number;
    cell.number = value;
    cell.text.clear();
    NotifyCells({row, col, row, col});
}

void Grid::ClearCell(int32_t row, int32_t col) {
    CheckAddress(row, col);
    if (static_cast<size_t>(row) > rowSlots_.size()) return;
    Row& r = RowAt(row);
    if (static_cast<size_t>(col) > r.size()) return;
    Cell& cell = r[col - 1];
    cell.kind = CellKind::Empty;
    cell.text.clear();
    cell.number = 0.0;
    TrimRow(row);
    TrimRows();
    NotifyCells({row, col, row, col});
}

int32_t Grid::LastUsedCol() const {
    size_t widest = 0;
    for (uint32_t slot : rowSlots_) widest = std::max(widest, rowStore_[slot].size());
    return static_cast<int32_t>(widest);
}

int32_t Grid::ColumnCount() const {
    int32_t headed = static_cast<int32_t>(headings_.size());
    while (headed > 0 && headings_[headed - 1].empty()) --headed;
    return std::max(headed, LastUsedCol());
}

Range Grid::ResolveBounds(int32_t row1, int32_t col1, int32_t row2, int32_t col2) const {
    auto resolve = [](int32_t value, int32_t whole) {
        if (value == -1) return whole;
        return value;
    };
    Range range{resolve(row1, 1), resolve(col1, 1), resolve(row2, kMaxRow), resolve(col2, kMaxCol)};
    CheckAddress(range.row1, range.col1);
    CheckAddress(range.row2, range.col2);
    // Bounds given the other way round name the same block, as in any spreadsheet.
    if (range.row1 > range.row2) std::swap(range.row1, range.row2);
    if (range.col1 > range.col2) std::swap(range.col1, range.col2);
    return range;
}

void Grid::ClearCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, ClearMode mode) {
    CheckMode(mode, 1, 3);
    const bool values = mode == ClearMode::All || mode == ClearMode::Values;
    const bool formats = mode == ClearMode::All || mode == ClearMode::Formats;
    const Range range = ResolveBounds(row1, col1, row2, col2);
    const int32_t lastRow = std::min<int32_t>(range.row2, LastUsedRow());
    for (int32_t r = range.row1; r <= lastRow; ++r) {
        Row& row = RowAt(r);
        const int32_t lastCol = std::min<int32_t>(range.col2, static_cast<int32_t>(row.size()));
        for (int32_t c = range.col1; c <= lastCol; ++c) {
            Cell& cell = row[c - 1];
            ForgetShownNumber(cell);
            if (values) {
                cell.kind = CellKind::Empty;
                cell.text.clear();
                cell.number = 0.0;
            }
            if (formats) cell.formatId = 0;
        }
        TrimRow(r);
    }
    TrimRows();
    NotifyCells(range);
}

void Grid::RemoveCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, RemoveMode mode) {
    CheckMode(mode, 3, 3);
    // Whole rows go, so the column bounds only need to be a valid address or -1.
    const Range range = ResolveBounds(row1, col1 == -1 ? 1 : col1, row2, col2 == -1 ? 1 : col2);
    const size_t used = rowSlots_.size();
    if (static_cast<size_t>(range.row1) <= used) {
        // Only the row order moves: the deleted rows' storage is emptied and reused.
        const auto first = rowSlots_.begin() + (range.row1 - 1);
        const auto last =
            rowSlots_.begin() + static_cast<ptrdiff_t>(std::min<size_t>(range.row2, used));
        for (auto it = first; it != last; ++it) {
            rowStore_[*it].clear();
            freeSlots_.push_back(*it);
        }
        rowSlots_.erase(first, last);
        TrimRows();
    }
    NotifyCells(
        {range.row1, 1, std::max<int32_t>(range.row1, static_cast<int32_t>(used)), kMaxCol});
}

void Grid::SelectCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2) {
    selection_ = ResolveBounds(row1, col1, row2, col2);
    activeRow_ = selection_.row1;
    activeCol_ = selection_.col1;
    NotifySelection();
}

void Grid::SelectCells(int32_t row1, int32_t col1, int32_t row2, int32_t col2, int32_t activeRow,
                       int32_t activeCol) {
    const Range range = ResolveBounds(row1, col1, row2, col2);
    CheckAddress(activeRow, activeCol);
    selection_ = range;
    // An active cell outside the block would be no cell of the selection: the block's first.
    const bool inside = activeRow >= range.row1 && activeRow <= range.row2 &&
                        activeCol >= range.col1 && activeCol <= range.col2;
    activeRow_ = inside ? activeRow : range.row1;
    activeCol_ = inside ? activeCol : range.col1;
    NotifySelection();
}

void Grid::ActivateCell(int32_t row, int32_t col) {
    CheckAddress(row, col);
    activeRow_ = row;
    activeCol_ = col;
    selection_ = {row, col, row, col};
    NotifySelection();
}

void Grid::SetRepainting(bool on) {
    const bool wasOff = !repainting_;
    repainting_ = on;
    if (on && wasOff && observer_) observer_->SheetRefreshed();
}

FormatObject Grid::SelectionFormat() const {
    return FormatObject(FormatAt(activeRow_, activeCol_));
}

void Grid::ApplySelectionFormat(const FormatObject& format) {
    if (!format.bold_ && !format.numberFormat_) return;
    // A selection of whole rows or columns formats the cells in use, not the empty sheet beyond.
    const Range& s = selection_;
    const int32_t lastRow = s.row2 == kMaxRow ? std::min(s.row2, LastUsedRow()) : s.row2;
    const int32_t lastCol = s.col2 == kMaxCol ? std::min(s.col2, LastUsedCol()) : s.col2;
    // Each format in the selection maps to one changed format: remember the mapping.
    std::vector<std::pair<uint16_t, uint16_t>> changed;
    auto changedId = [&](uint16_t id) {
        for (const auto& [from, to] : changed) {
            if (from == id) return to;
        }
        CellFormat updated = formats_[id];
        if (format.bold_) updated.bold = *format.bold_;
        if (format.numberFormat_) updated.numberFormat = *format.numberFormat_;
        const uint16_t to = InternFormat(updated);
        changed.emplace_back(id, to);
        return to;
    };
    for (int32_t r = s.row1; r <= lastRow; ++r) {
        if (s.col1 > lastCol) break;
        MutableCell(r, lastCol);  // the row reaches the selection's last column
        Row& row = RowAt(r);
        int lastFrom = -1;  // neighbouring cells mostly share a format
        uint16_t lastTo = 0;
        for (int32_t c = s.col1; c <= lastCol; ++c) {
            Cell& cell = row[c - 1];
            ForgetShownNumber(cell);
            if (cell.formatId != lastFrom) {
                lastFrom = cell.formatId;
                lastTo = changedId(cell.formatId);
            }
            cell.formatId = lastTo;
        }
        TrimRow(r);
    }
    TrimRows();
    NotifyCells(s);
}

void Grid::SetSelectionNumberFormat(std::string_view pattern) {
    FormatObject format;
    format.SetNumberFormat(std::string(pattern));
    ApplySelectionFormat(format);
}

void Grid::SetColumnHeading(int32_t col, std::string_view text) {
    CheckAddress(1, col);
    if (headings_.size() < static_cast<size_t>(col)) headings_.resize(col);
    headings_[col - 1] = text;
    NotifyProperties();
}

bool Grid::HasColumnHeading(int32_t col) const {
    CheckAddress(1, col);
    return static_cast<size_t>(col) <= headings_.size() && !headings_[col - 1].empty();
}

std::string Grid::ColumnHeading(int32_t col) const {
    return HasColumnHeading(col) ? headings_[col - 1] : ColumnLetters(col);
}

void Grid::SetColumnHidden(int32_t col, bool hidden) {
    CheckAddress(1, col);
    if (hidden_.size() < static_cast<size_t>(col)) hidden_.resize(col);
    hidden_[col - 1] = hidden;
    NotifyProperties();
}

void Grid::SetColumnWidth(int32_t col, int widthPx, bool byHand) {
    CheckAddress(1, col);
    if (widthPx < 0) throw GridError(kErrBadArgument, "a column width below 0");
    if (widths_.size() < static_cast<size_t>(col)) {
        widths_.resize(col, 0);
        byHand_.resize(col, false);
    }
    const bool changed = widths_[col - 1] != widthPx;
    widths_[col - 1] = widthPx;
    byHand_[col - 1] = byHand_[col - 1] || byHand;
    if (changed) NotifyProperties();
}

bool Grid::ColumnWidthByHand(int32_t col) const {
    CheckAddress(1, col);
    return static_cast<size_t>(col) <= byHand_.size() && byHand_[col - 1];
}

void Grid::ResetColumnWidths() {
    if (widths_.empty()) return;
    widths_.clear();
    byHand_.clear();
    NotifyProperties();
}

int Grid::ColumnWidth(int32_t col) const {
    CheckAddress(1, col);
    const int width = static_cast<size_t>(col) <= widths_.size() ? widths_[col - 1] : 0;
    return width > 0 ? width : kDefaultColumnWidthPx;
}

bool Grid::ColumnHidden(int32_t col) const {
    CheckAddress(1, col);
    return static_cast<size_t>(col) <= hidden_.size() && hidden_[col - 1];
}

void Grid::SetSheetTitle(int16_t sheet, std::string_view title) {
    if (sheet != 1) throw GridError(kErrBadArgument, "no such sheet");
    sheetTitle_ = title;
    NotifyProperties();
}

void Grid::ApplyPageSetup(const PageSetup& setup) {
    for (double margin :
         {setup.leftMargin, setup.rightMargin, setup.topMargin, setup.bottomMargin}) {
        if (!(margin >= 0.0)) throw GridError(kErrBadArgument, "negative margin");
    }
    pageSetup_ = setup;
}

void Grid::NotifyCells(const Range& range) {
    if (repainting_ && observer_) observer_->CellsChanged(range);
}

void Grid::NotifySelection() {
    if (repainting_ && observer_) observer_->SelectionChanged();
}

void Grid::NotifyProperties() {
    if (repainting_ && observer_) observer_->SheetPropertiesChanged();
}

std::optional<std::pair<int32_t, int32_t>> TitleRows(std::string_view range) {
    auto rowOf = [](std::string_view ref) -> std::optional<int32_t> {
        size_t i = 0;
        while (i < ref.size() && (ref[i] == '$' || (ref[i] >= 'A' && ref[i] <= 'Z') ||
                                  (ref[i] >= 'a' && ref[i] <= 'z'))) {
            ++i;
        }
        int32_t row = 0;
        if (i == ref.size()) return std::nullopt;
        for (; i < ref.size(); ++i) {
            if (ref[i] < '0' || ref[i] > '9' || row > kMaxRow) return std::nullopt;
            row = row * 10 + (ref[i] - '0');
        }
        if (row < 1 || row > kMaxRow) return std::nullopt;
        return row;
    };
    const size_t colon = range.find(':');
    const auto first = rowOf(range.substr(0, colon));
    const auto last = colon == std::string_view::npos ? first : rowOf(range.substr(colon + 1));
    if (!first || !last || *first > *last) return std::nullopt;
    return std::pair{*first, *last};
}

std::vector<int32_t> ShownColumns(const Grid& sheet) {
    std::vector<int32_t> columns;
    const int32_t count = sheet.ColumnCount();
    for (int32_t col = 1; col <= count; ++col) {
        if (!sheet.ColumnHidden(col)) columns.push_back(col);
    }
    return columns;
}

size_t RunOnEnd(const Grid& sheet, int32_t row, std::span<const int32_t> columns, size_t index,
                double needed, const std::function<double(size_t)>& width) {
    size_t end = index + 1;
    if (sheet.CellAt(row, columns[index]).kind != CellKind::Text) return end;
    double reach = width(index);
    while (end < columns.size() && reach < needed) {
        if (sheet.CellAt(row, columns[end]).kind != CellKind::Empty) break;
        reach += width(end);
        ++end;
    }
    return end;
}

namespace {

/// Advance widths of Arial's printable ASCII characters, in thousandths of an em.
constexpr int kArialAdvance[95] = {278,  278, 355, 556, 556, 889, 667, 191,
                                   333,  333, 389, 584, 278, 333, 278, 278,  //  !"#$%&'()*+,-./
                                   556,  556, 556, 556, 556, 556, 556, 556,
                                   556,  556, 278, 278, 584, 584, 584, 556,  // 0-9:;<=>?
                                   1015, 667, 667, 722, 722, 667, 611, 778,
                                   722,  278, 500, 667, 556, 833, 722, 778,  // @A-O
                                   667,  778, 722, 667, 611, 722, 667, 944,
                                   667,  667, 611, 278, 278, 278, 469, 556,  // P-Z[\]^_
                                   333,  556, 556, 500, 556, 556, 278, 556,
                                   556,  222, 222, 500, 222, 833, 556, 556,  // `a-o
                                   556,  556, 333, 500, 278, 556, 500, 722,
                                   500,  500, 500, 334, 260, 334, 584};  // p-z{|}~

/// Arial 10 pt at 96 dots per inch: 13 1/3 pixels to the em.
constexpr double kEmPx = 10.0 * 96.0 / 72.0;

}  // namespace

int TextWidthPx(std::string_view text, bool bold) {
    double thousandths = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            thousandths += kArialAdvance[c - 0x20];
        } else if ((c & 0xC0) != 0x80) {
            thousandths += 667;  // a character beyond ASCII: a wide letter's width
        }
    }
    const double px = thousandths * kEmPx / 1000.0 * (bold ? 1.1 : 1.0);
    return static_cast<int>(std::ceil(px));
}

int MaxFittedColumnWidthPx() {
    static const int width = TextWidthPx(std::string(40, '0'), false) + 2 * kCellPaddingPx;
    return width;
}

std::string NumberShown(std::string text, double textWidth, double cellWidth, double hashWidth,
                        double padding) {
    const double room = cellWidth - 2 * padding;
    if (textWidth <= room) return text;
    const double fit = hashWidth > 0 ? std::floor(room / hashWidth) : 1.0;
    return std::string(static_cast<size_t>(std::clamp(fit, 1.0, 255.0)), '#');
}

void FitColumnWidths(Grid& sheet) {
    const std::vector<int32_t> columns = ShownColumns(sheet);
    std::vector<int> needed(columns.size(), 0);
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (size_t i = 0; i < columns.size(); ++i) {
            const Cell& cell = sheet.CellAt(r, columns[i]);
            if (cell.kind == CellKind::Empty) continue;
            // A text that can run on over an empty cell to its right needs no room of its own.
            if (cell.kind == CellKind::Text &&
                RunOnEnd(sheet, r, columns, i, INFINITY, [](size_t) { return 0.0; }) > i + 1) {
                continue;
            }
            const int width =
                TextWidthPx(sheet.CellText(r, columns[i]), sheet.FormatAt(r, columns[i]).bold) +
                2 * kCellPaddingPx;
            needed[i] = std::max(needed[i], std::min(width, MaxFittedColumnWidthPx()));
        }
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        // A width set by hand is the least the column keeps; any other starts from the default.
        const int least = sheet.ColumnWidthByHand(columns[i]) ? sheet.ColumnWidth(columns[i])
                                                              : kDefaultColumnWidthPx;
        const int width = std::max(least, needed[i]);
        if (width != sheet.ColumnWidth(columns[i])) sheet.SetColumnWidth(columns[i], width);
    }
}

}  // namespace rendle::grid
