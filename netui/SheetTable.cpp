#include "netui/SheetTable.h"

#include <QBrush>

namespace rendle::netui {

void SheetTable::setSheet(const grid::Grid* sheet, std::vector<QColor> rowColours) {
    beginResetModel();
    sheet_ = sheet;
    colours_ = std::move(rowColours);
    rows_ = sheet ? std::max(0, sheet->LastUsedRow() - 1) : 0;
    columns_ = sheet ? sheet->LastUsedCol() : 0;
    endResetModel();
}

int SheetTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SheetTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant SheetTable::data(const QModelIndex& index, int role) const {
    if (!sheet_ || !index.isValid()) return {};
    const int32_t row = index.row() + 2;  // below the heading row
    const int32_t col = index.column() + 1;
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(std::string(sheet_->ShownText(row, col)));
        case Qt::TextAlignmentRole:
            return sheet_->CellAt(row, col).kind == grid::CellKind::Number
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ForegroundRole:
            if (static_cast<size_t>(index.row()) < colours_.size() &&
                colours_[static_cast<size_t>(index.row())].isValid()) {
                return QBrush(colours_[static_cast<size_t>(index.row())]);
            }
            return {};
        default:
            return {};
    }
}

QVariant SheetTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || !sheet_) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return QString::fromStdString(sheet_->CellText(1, section + 1));
}

}  // namespace rendle::netui
