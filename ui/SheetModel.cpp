#include "ui/SheetModel.h"

#include <QFont>

#include "core/LevelSheet.h"
#include "core/RunState.h"
#include "grid/NumberFormat.h"

namespace rendle::ui {

SheetModel::SheetModel(grid::Grid& sheet, QObject* parent)
    : QAbstractTableModel(parent), sheet_(sheet) {
    sheet_.SetObserver(this);
}

SheetModel::~SheetModel() {
    sheet_.SetObserver(nullptr);
}

int SheetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRows;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int32_t row = index.row() + 1;
    const int32_t col = index.column() + 1;
    const grid::Cell& cell = sheet_.CellAt(row, col);
    switch (role) {
        case Qt::DisplayRole:
            if (cell.kind == grid::CellKind::Empty) return {};
            return QString::fromStdString(sheet_.CellText(row, col));
        case Qt::EditRole:
            // Editing shows the value at full precision, not as the number format rounds it.
            if (cell.kind == grid::CellKind::Number) {
                return QString::fromStdString(grid::GeneralNumberText(cell.number));
            }
            // A text that would be read as a number keeps the apostrophe that made it text.
            if (cell.kind == grid::CellKind::Text &&
                core::TypedCellValue(row, col, cell.text).number) {
                return QString::fromStdString("'" + cell.text);
            }
            return QString::fromStdString(cell.text);
        case Qt::FontRole:
            if (sheet_.FormatAt(row, col).bold) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        case Qt::TextAlignmentRole:
            return cell.kind == grid::CellKind::Number ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                       : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ToolTipRole:
            if (toolTip_) {
                const QString tip = toolTip_(row, col);
                if (!tip.isEmpty()) return tip;
            }
            return {};
        default:
            return {};
    }
}

bool SheetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const int32_t row = index.row() + 1;
    const int32_t col = index.column() + 1;
    pushUndo({valueAt(row, col)});
    store(row, col, value.toString().toStdString());
    fitColumns();
    return true;
}

void SheetModel::push(std::vector<Step>& stack, Step step) {
    constexpr size_t kUndoSteps = 100;
    if (stack.size() == kUndoSteps) stack.erase(stack.begin());
    stack.push_back(std::move(step));
}

void SheetModel::pushUndo(std::vector<CellValue> cells) {
    if (cells.empty()) return;
    redo_.clear();  // a new edit: what was undone cannot come back
    push(undo_, {std::move(cells), std::nullopt, {}});
    emit edited();
}

void SheetModel::pushSheetStep(grid::Grid before, std::function<void()> restoreRest) {
    redo_.clear();
    push(undo_, {{}, std::move(before), std::move(restoreRest)});
    emit edited();
}

SheetModel::CellValue SheetModel::valueAt(int32_t row, int32_t col) const {
    const grid::Cell& cell = sheet_.CellAt(row, col);
    return {row, col, cell.kind, cell.number, cell.text};
}

void SheetModel::store(int32_t row, int32_t col, const std::string& text) {
    // Text that reads as a number becomes a number, as in any spreadsheet.
    if (text.empty()) {
        sheet_.ClearCell(row, col);
        return;
    }
    const core::TypedValue value = core::TypedCellValue(row, col, text);
    if (value.number) {
        sheet_.SetCellNumber(row, col, *value.number);
    } else if (value.text.empty()) {
        sheet_.ClearCell(row, col);  // an apostrophe alone
    } else {
        sheet_.SetCellText(row, col, value.text);
    }
}

void SheetModel::fitColumns() {
    grid::FitColumnWidths(sheet_);  // a number typed wider than its column widens it
}

QSize SheetModel::paste(int row, int col, const QString& text,
                        const std::function<bool(int)>& hidden) {
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the last line's end
    std::vector<CellValue> before;
    int width = 0;
    for (int i = 0; i < lines.size() && row + i < kRows; ++i) {
        QString line = lines[i];
        if (line.endsWith('\r')) line.chop(1);
        const QStringList cells = line.split('\t');
        int c = col;
        for (const QString& cell : cells) {
            while (c < kColumns && hidden(c)) ++c;  // hidden columns are not pasted into
            if (c >= kColumns) break;
            before.push_back(valueAt(row + i + 1, c + 1));
            store(row + i + 1, c + 1, cell.toStdString());
            ++c;
        }
        width = std::max(width, static_cast<int>(cells.size()));
    }
    pushUndo(std::move(before));
    fitColumns();
    return {width, static_cast<int>(lines.size())};
}

SheetModel::Step SheetModel::apply(Step step) {
    Step back;
    if (step.sheet) {
        back.sheet = sheet_;
        back.restoreRest = captureRest();
        beginResetModel();
        sheet_ = std::move(*step.sheet);
        sheet_.SetObserver(this);
        pending_.reset();
        endResetModel();
        if (step.restoreRest) step.restoreRest();
        emit sheetPropertiesChanged();
        emit gridSelectionChanged();
        return back;
    }
    for (const CellValue& cell : step.cells) back.cells.push_back(valueAt(cell.row, cell.col));
    // In reverse, so that a cell changed twice in one step gets its first value back.
    const std::vector<CellValue>& cells = step.cells;
    for (auto it = cells.rbegin(); it != cells.rend(); ++it) {
        switch (it->kind) {
            case grid::CellKind::Empty:
                sheet_.ClearCell(it->row, it->col);
                break;
            case grid::CellKind::Number:
                sheet_.SetCellNumber(it->row, it->col, it->number);
                break;
            case grid::CellKind::Text:
                sheet_.SetCellText(it->row, it->col, it->text);
                break;
        }
    }
    fitColumns();
    return back;
}

bool SheetModel::undo() {
    if (undo_.empty()) return false;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    push(redo_, apply(std::move(step)));
    emit edited();
    return true;
}

bool SheetModel::redo() {
    if (redo_.empty()) return false;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    push(undo_, apply(std::move(step)));
    emit edited();
    return true;
}

void SheetModel::clearCells(const QModelIndexList& indexes) {
    std::vector<CellValue> before;
    for (const QModelIndex& index : indexes) {
        if (index.isValid()) before.push_back(valueAt(index.row() + 1, index.column() + 1));
    }
    pushUndo(std::move(before));
    for (const QModelIndex& index : indexes) {
        if (index.isValid()) {
            sheet_.ClearCells(index.row() + 1, index.column() + 1, index.row() + 1,
                              index.column() + 1, grid::ClearMode::Values);
        }
    }
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole && orientation == Qt::Vertical) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);  // row numbers, as spreadsheets
    }
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal) {
        return QString::fromStdString(sheet_.ColumnHeading(section + 1));
    }
    return section + 1;
}

Qt::ItemFlags SheetModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

void SheetModel::gather(const grid::Range& range) {
    const bool first = !pending_ && !selectionPending_;
    if (pending_) {
        pending_->row1 = std::min(pending_->row1, range.row1);
        pending_->col1 = std::min(pending_->col1, range.col1);
        pending_->row2 = std::max(pending_->row2, range.row2);
        pending_->col2 = std::max(pending_->col2, range.col2);
    } else {
        pending_ = range;
    }
    if (first) QMetaObject::invokeMethod(this, &SheetModel::flushChanges, Qt::QueuedConnection);
}

void SheetModel::flushChanges() {
    if (pending_) {
        const grid::Range range = *pending_;
        pending_.reset();
        if (range.row1 <= kRows && range.col1 <= kColumns) {
            emit dataChanged(
                index(range.row1 - 1, range.col1 - 1),
                index(std::min(range.row2, kRows) - 1, std::min(range.col2, kColumns) - 1));
        }
    }
    if (selectionPending_) {
        selectionPending_ = false;
        emit gridSelectionChanged();
    }
}

void SheetModel::CellsChanged(const grid::Range& range) {
    gather(range);
}

void SheetModel::SheetRefreshed() {
    gather({1, 1, kRows, kColumns});
    selectionPending_ = true;
}

void SheetModel::SelectionChanged() {
    if (!pending_ && !selectionPending_) {
        QMetaObject::invokeMethod(this, &SheetModel::flushChanges, Qt::QueuedConnection);
    }
    selectionPending_ = true;
}

void SheetModel::SheetPropertiesChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
    emit sheetPropertiesChanged();
}

}  // namespace rendle::ui
