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

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    void followGridSelection();
    void followSheetProperties();
    void tellGridSelection();
    void tellColumnWidth(int col, int width);
    bool filled(int row, int col) const;
    /// The cell a Ctrl+Arrow key jumps to: the edge of the block of data, or the next cell
    /// holding something, or the sheet's edge.
    QModelIndex jump(const QModelIndex& from, int rowStep, int colStep) const;
    void moveTo(int row, int col);
    void pasteClipboard();

    SheetModel& model_;
    bool following_ = false;  // the view is taking the grid's selection, not the other way
};

}  // namespace rendle::ui
