// F1Book1: the level sheet on screen, a spreadsheet the surveyor can work in.
#pragma once

#include <QTableView>

#include "ui/SheetModel.h"

namespace rendle::ui {

class SheetView : public QTableView {
    Q_OBJECT

  public:
    explicit SheetView(SheetModel& model, QWidget* parent = nullptr);

    /// The selected cells as tab-separated lines, values as displayed.
    QString selectionAsText() const;

    /// The text a cell shows on screen: a number wider than its column as ####.
    QString shownText(const QModelIndex& index) const;

    /// The cell a Shift move extends the selection from: the current cell after any other move.
    QModelIndex anchor() const { return anchor_; }

    /// Whether the entry being made was begun by typing into the cell (an arrow key ends it)
    /// rather than by F2 or a double-click (the arrows move within the text).
    bool typingEntry() const { return state() == EditingState && typingEntry_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    void followGridSelection();
    void followSheetProperties();
    void tellGridSelection();
    /// The bounding block of the selected cells; empty when nothing is selected.
    QItemSelection selectedBlock() const;
    void tellColumnWidth(int col, int width);
    bool filled(int row, int col) const;
    /// The cell a Ctrl+Arrow key jumps to: the edge of the block of data, or the next cell
    /// holding something, or the sheet's edge.
    QModelIndex jump(const QModelIndex& from, int rowStep, int colStep) const;
    void moveTo(int row, int col);
    /// Makes (`row`, `col`) current; with `extend`, selects the block from the anchor to it.
    void moveOrExtend(int row, int col, bool extend);
    /// Where a plain navigation key moves the current cell (arrows, Home, End, page keys,
    /// Ctrl+Arrow, Ctrl+End); invalid for any other key.
    QModelIndex keyTarget(QKeyEvent* event);
    void pasteClipboard();

    SheetModel& model_;
    bool following_ = false;  // the view is taking the grid's selection, not the other way
    QPersistentModelIndex anchor_;
    QPersistentModelIndex movingEnd_;  // where Shift and an arrow extend the selection from
    bool extending_ = false;           // a Shift move: the anchor stays
    bool typingEntry_ = false;         // the entry being made was begun by typing
};

}  // namespace rendle::ui
