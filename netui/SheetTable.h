// A sheet of the adjustment (heights, observations, loops...) as a read-only Qt table: its first
// row the column headings, each cell shown as the workbook shows it, each row's verdict coloured
// as the drawing colours it.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <vector>

#include "grid/Grid.h"

namespace rendle::netui {

class SheetTable : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit SheetTable(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    /// Shows `sheet` (none: empty), its rows below the heading row coloured by `rowColours`
    /// (an invalid colour: none).
    void setSheet(const grid::Grid* sheet, std::vector<QColor> rowColours = {});

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const grid::Grid* sheet_ = nullptr;
    std::vector<QColor> colours_;
    int rows_ = 0;
    int columns_ = 0;
};

}  // namespace rendle::netui
