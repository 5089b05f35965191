// The level sheet as a Qt table model: an adapter over the grid, holding no copy of the cells.
#pragma once

#include <QAbstractTableModel>
#include <optional>

#include "grid/Grid.h"

namespace rendle::ui {

class SheetModel : public QAbstractTableModel, private grid::GridObserver {
    Q_OBJECT

  public:
    /// Rows and columns the sheet shows; the grid's own size is larger.
    static constexpr int kRows = 16384;
    static constexpr int kColumns = 26;

    explicit SheetModel(grid::Grid& sheet, QObject* parent = nullptr);
    ~SheetModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Empties the cells of the index list, values only (formats stay, as a spreadsheet's
    /// Delete key does).
    void clearCells(const QModelIndexList& indexes);

    grid::Grid& sheet() { return sheet_; }

    /// Sends the changes gathered so far at once (otherwise they go out when the program
    /// next waits for the user).
    void flushChanges();

  signals:
    /// The grid's selection or active cell changed.
    void gridSelectionChanged();
    /// Column headings, hidden columns or the sheet name changed.
    void sheetPropertiesChanged();

  private:
    void CellsChanged(const grid::Range& range) override;
    void SheetRefreshed() override;
    void SelectionChanged() override;
    void SheetPropertiesChanged() override;

    void gather(const grid::Range& range);

    grid::Grid& sheet_;
    // Cell changes are gathered into one block and told to the view once per command, so a
    // reduction writing thousands of cells costs the view one refresh, not one per cell.
    std::optional<grid::Range> pending_;
    bool selectionPending_ = false;
};

}  // namespace rendle::ui
