#include "ui/SheetModel.h"

#include <QFont>

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
        default:
            return {};
    }
}

bool SheetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const int32_t row = index.row() + 1;
    const int32_t col = index.column() + 1;
    const std::string text = value.toString().toStdString();
    // Text that reads as a number becomes a number, as in any spreadsheet.
    if (text.empty()) {
        sheet_.ClearCell(row, col);
    } else if (const std::optional<double> number = core::ParseDecimalText(text)) {
        sheet_.SetCellNumber(row, col, *number);
    } else {
        sheet_.SetCellText(row, col, text);
    }
    grid::FitColumnWidths(sheet_);  // a number typed wider than its column widens it
    return true;
}

void SheetModel::clearCells(const QModelIndexList& indexes) {
    for (const QModelIndex& index : indexes) {
        if (index.isValid()) {
            sheet_.ClearCells(index.row() + 1, index.column() + 1, index.row() + 1,
                              index.column() + 1, grid::ClearMode::Values);
        }
    }
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
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
