// The level sheet as a Qt table model: an adapter over the grid, holding no copy of the cells.
#pragma once

#include <QAbstractTableModel>
#include <QSize>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    /// Delete key does). One step to undo.
    void clearCells(const QModelIndexList& indexes);

    /// Pastes tab-separated lines (from Rendle or a spreadsheet) into the shown columns from
    /// (`row`, `col`) on, 0-based; text that reads as a number becomes a number. One step to
    /// undo. Gives the block pasted, as rows and shown columns.
    QSize paste(int row, int col, const QString& text, const std::function<bool(int)>& hidden);

    /// Undoes the last edit, paste, deletion or read; false when there is nothing to undo.
    bool undo();
    /// Does again what the last undo undid; false when there is nothing to redo.
    bool redo();

    /// What lives beside the sheet and goes back with it when a read is undone (the run
    /// state): `capture` gives a function that puts back what it holds now.
    void setCaptureRest(std::function<std::function<void()>()> capture) {
        captureRest_ = std::move(capture);
    }
    std::function<void()> captureRest() const {
        return captureRest_ ? captureRest_() : std::function<void()>();
    }
    /// Makes a read one step to undo: `before` is the sheet as it stood, `restoreRest` puts
    /// back what lived beside it.
    void pushSheetStep(grid::Grid before, std::function<void()> restoreRest);

    /// Where the tooltips of cells come from: a text for (row, column), 1-based, or none.
    void setToolTips(std::function<QString(int32_t, int32_t)> toolTip) {
        toolTip_ = std::move(toolTip);
    }

    grid::Grid& sheet() { return sheet_; }

    /// Sends the changes gathered so far at once (otherwise they go out when the program
    /// next waits for the user).
    void flushChanges();

  signals:
    /// The grid's selection or active cell changed.
    void gridSelectionChanged();
    /// Column headings, hidden columns or the sheet name changed.
    void sheetPropertiesChanged();
    /// The user changed the sheet: an edit, a paste, a deletion, a read, an undo or a redo.
    void edited();

  private:
    void CellsChanged(const grid::Range& range) override;
    void SheetRefreshed() override;
    void SelectionChanged() override;
    void SheetPropertiesChanged() override;

    void gather(const grid::Range& range);
    /// The value of a cell as it was, to be put back by undo.
    struct CellValue {
        int32_t row;
        int32_t col;
        grid::CellKind kind;
        double number;
        std::string text;
    };
    CellValue valueAt(int32_t row, int32_t col) const;
    /// Stores `text` into a cell as an edit does: empty clears, a number is a number.
    void store(int32_t row, int32_t col, const std::string& text);
    void fitColumns();
    void pushUndo(std::vector<CellValue> cells);

    /// One step to undo or redo: some cells' values, or the whole sheet and what lives beside it.
    struct Step {
        std::vector<CellValue> cells;
        std::optional<grid::Grid> sheet;
        std::function<void()> restoreRest;
    };
    /// Puts `step` back and gives the step that takes it back again.
    Step apply(Step step);
    void push(std::vector<Step>& stack, Step step);

    grid::Grid& sheet_;
    // Cell changes are gathered into one block and told to the view once per command, so a
    // reduction writing thousands of cells costs the view one refresh, not one per cell.
    std::optional<grid::Range> pending_;
    std::vector<Step> undo_;  // one entry per edit, paste, deletion or read
    std::vector<Step> redo_;
    std::function<std::function<void()>()> captureRest_;
    std::function<QString(int32_t, int32_t)> toolTip_;
    bool selectionPending_ = false;
};

}  // namespace rendle::ui
