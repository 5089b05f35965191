#include "ui/SheetView.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <tuple>
#include <vector>

#include "grid/Grid.h"

namespace rendle::ui {

namespace {

/// Paints the cells as a spreadsheet does: a text longer than its cell runs on over the empty cells
/// to its right instead of being cut short, and no grid line crosses it.
class SheetDelegate : public QStyledItemDelegate {
  public:
    explicit SheetDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int reach = textReach(index, option);
        if (reach > option.rect.right()) {
            // The cells run over are painted after this one and leave the text alone.
            QStyleOptionViewItem wide = option;
            initStyleOption(&wide, index);
            painter->save();
            const bool selected = option.state & QStyle::State_Selected;
            painter->fillRect(option.rect,
                              selected ? option.palette.highlight() : option.palette.base());
            const QRect textRect(option.rect.left() + kPadding, option.rect.top(),
                                 reach - option.rect.left() - kPadding, option.rect.height());
            painter->setFont(wide.font);
            // On the cell's own (perhaps highlighted) face, then on the cells it runs over.
            const QRect own = option.rect;
            const QRect beyond(own.right() + 1, own.top(), reach - own.right(), own.height());
            painter->setClipRect(own);
            painter->setPen(
                option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
            painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, wide.text);
            painter->setClipRect(beyond);
            painter->setPen(option.palette.color(QPalette::Text));
            painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, wide.text);
            painter->restore();
        } else {
            QStyledItemDelegate::paint(painter, option, index);
        }
        drawGridLines(painter, option, index);
    }

  private:
    static constexpr int kPadding = 3;

    const grid::Grid& sheet() const { return static_cast<SheetModel*>(view_->model())->sheet(); }

    bool isEmpty(int row, int col) const {
        return view_->model()->index(row, col).data().toString().isEmpty();
    }

    /// The right edge that a left-aligned text of this cell needs, stopped by the first cell to
    /// its right that holds something; the cell's own right edge for everything else.
    int textReach(const QModelIndex& index, const QStyleOptionViewItem& option) const {
        const QString text = index.data().toString();
        if (text.isEmpty()) return option.rect.right();
        // The shown columns from this one on, and the sheet's own run-on rule over them.
        std::vector<int32_t> columns;
        std::vector<int> widths;
        for (int col = index.column(); col < view_->model()->columnCount(); ++col) {
            if (col != index.column() && view_->isColumnHidden(col)) continue;
            columns.push_back(col + 1);
            widths.push_back(col == index.column() ? option.rect.width() : view_->columnWidth(col));
        }
        QFont font = option.font;
        if (const QVariant f = index.data(Qt::FontRole); f.isValid()) font = f.value<QFont>();
        const int needed = QFontMetrics(font).horizontalAdvance(text) + 2 * kPadding;
        // A QRect's right edge is its last pixel, so the text fits a width one more than it.
        const size_t end = grid::RunOnEnd(sheet(), index.row() + 1, columns, 0, needed + 1,
                                          [&](size_t i) { return widths[i]; });
        int reach = option.rect.right();
        for (size_t i = 1; i < end; ++i) reach += widths[i];
        return std::min(reach, option.rect.left() + needed);
    }

    /// Bottom and right lines of a cell; the right line is left out where a text runs on into
    /// the next cell.
    void drawGridLines(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
        const QColor colour = QColor::fromRgba(static_cast<QRgb>(
            view_->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, view_)));
        painter->save();
        painter->setPen(colour);
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        if (!runsOnPastRightEdge(index, r)) painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }

    bool runsOnPastRightEdge(const QModelIndex& index, const QRect& rect) const {
        // The text that covers this cell: its own, or the nearest one to its left across empty
        // cells.
        int col = index.column();
        while (col >= 0 && (view_->isColumnHidden(col) || isEmpty(index.row(), col))) --col;
        if (col < 0) return false;
        const QModelIndex owner = view_->model()->index(index.row(), col);
        QStyleOptionViewItem ownerOption;
        ownerOption.rect = view_->visualRect(owner);
        ownerOption.font = view_->font();
        return textReach(owner, ownerOption) > rect.right();
    }

    QTableView* view_;
};

}  // namespace

SheetView::SheetView(SheetModel& model, QWidget* parent) : QTableView(parent), model_(model) {
    setObjectName("F1Book1");
    setModel(&model_);
    QFont font("Arial");
    font.setPointSize(10);
    setFont(font);
    horizontalHeader()->setFont(font);
    verticalHeader()->setFont(font);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 4);
    horizontalHeader()->setDefaultSectionSize(grid::kDefaultColumnWidthPx);
    setItemDelegate(new SheetDelegate(this));
    setShowGrid(false);  // the delegate draws the grid lines, leaving out those under long texts
    setTextElideMode(Qt::ElideNone);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);

    connect(&model_, &SheetModel::gridSelectionChanged, this, &SheetView::followGridSelection);
    connect(&model_, &SheetModel::sheetPropertiesChanged, this, &SheetView::followSheetProperties);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int col, int, int width) { tellColumnWidth(col, width); });
    followSheetProperties();
    followGridSelection();
}

void SheetView::followSheetProperties() {
    following_ = true;
    for (int col = 0; col < SheetModel::kColumns; ++col) {
        const bool hidden = model_.sheet().ColumnHidden(col + 1);
        setColumnHidden(col, hidden);
        if (!hidden) setColumnWidth(col, model_.sheet().ColumnWidth(col + 1));
    }
    following_ = false;
}

void SheetView::tellColumnWidth(int col, int width) {
    // A column widened or narrowed by hand keeps that width in the sheet, in print and in a
    // saved workbook.
    if (following_ || width <= 0 || isColumnHidden(col)) return;
    following_ = true;
    model_.sheet().SetColumnWidth(col + 1, width);
    following_ = false;
}

void SheetView::followGridSelection() {
    const grid::Grid& sheet = model_.sheet();
    const grid::Range& s = sheet.Selection();
    auto clampRow = [](int32_t r) { return std::min(r, SheetModel::kRows) - 1; };
    auto clampCol = [](int32_t c) { return std::min(c, SheetModel::kColumns) - 1; };
    following_ = true;
    const QModelIndex active =
        model_.index(clampRow(sheet.ActiveRow()), clampCol(sheet.ActiveCol()));
    selectionModel()->setCurrentIndex(active, QItemSelectionModel::NoUpdate);
    selectionModel()->select(QItemSelection(model_.index(clampRow(s.row1), clampCol(s.col1)),
                                            model_.index(clampRow(s.row2), clampCol(s.col2))),
                             QItemSelectionModel::ClearAndSelect);
    following_ = false;
}

void SheetView::tellGridSelection() {
    if (following_) return;
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    // The grid keeps one block: the bounding box of what is selected, the current cell active.
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    grid::Grid& sheet = model_.sheet();
    following_ = true;
    if (selected.size() <= 1) {
        sheet.ActivateCell(current.row() + 1, current.column() + 1);
    } else {
        int r1 = current.row(), r2 = current.row(), c1 = current.column(), c2 = current.column();
        for (const QModelIndex& index : selected) {
            r1 = std::min(r1, index.row());
            r2 = std::max(r2, index.row());
            c1 = std::min(c1, index.column());
            c2 = std::max(c2, index.column());
        }
        sheet.SelectCells(r1 + 1, c1 + 1, r2 + 1, c2 + 1);
    }
    following_ = false;
}

void SheetView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    tellGridSelection();
}

void SheetView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    tellGridSelection();
}

QString SheetView::selectionAsText() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return {};
    int r1 = selected.first().row(), r2 = r1, c1 = selected.first().column(), c2 = c1;
    for (const QModelIndex& index : selected) {
        r1 = std::min(r1, index.row());
        r2 = std::max(r2, index.row());
        c1 = std::min(c1, index.column());
        c2 = std::max(c2, index.column());
    }
    QString text;
    for (int r = r1; r <= r2; ++r) {
        QStringList cells;
        for (int c = c1; c <= c2; ++c) {
            if (isColumnHidden(c)) continue;
            cells << model_.index(r, c).data(Qt::DisplayRole).toString();
        }
        text += cells.join('\t') + '\n';
    }
    return text;
}

bool SheetView::filled(int row, int col) const {
    return !model_.index(row, col).data().toString().isEmpty();
}

QModelIndex SheetView::jump(const QModelIndex& from, int rowStep, int colStep) const {
    const auto inside = [](int r, int c) {
        return r >= 0 && r < SheetModel::kRows && c >= 0 && c < SheetModel::kColumns;
    };
    // The next shown cell in the direction, or (-1, -1) past the edge.
    const auto next = [&](int r, int c) {
        do {
            r += rowStep;
            c += colStep;
        } while (inside(r, c) && colStep != 0 && isColumnHidden(c));
        return inside(r, c) ? std::pair{r, c} : std::pair{-1, -1};
    };
    int row = from.row();
    int col = from.column();
    auto [r, c] = next(row, col);
    if (r < 0) return from;
    if (filled(row, col) && filled(r, c)) {
        // Along the block of data to its last cell.
        while (r >= 0 && filled(r, c)) {
            row = r;
            col = c;
            std::tie(r, c) = next(r, c);
        }
    } else {
        // Over the empty cells to the next that holds something, or to the sheet's edge.
        while (r >= 0) {
            row = r;
            col = c;
            if (filled(r, c)) break;
            std::tie(r, c) = next(r, c);
        }
    }
    return model_.index(row, col);
}

void SheetView::moveTo(int row, int col) {
    const QModelIndex target = model_.index(std::clamp(row, 0, SheetModel::kRows - 1),
                                            std::clamp(col, 0, SheetModel::kColumns - 1));
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target);
}

void SheetView::pasteClipboard() {
    const QModelIndex current = currentIndex();
    const QString text = QApplication::clipboard()->text();
    if (!current.isValid() || text.isEmpty()) return;
    const QSize block = model_.paste(current.row(), current.column(), text,
                                     [this](int col) { return isColumnHidden(col); });
    model_.flushChanges();
    // The pasted block is left selected, its first cell active.
    int lastCol = current.column();
    for (int shown = 1; shown < block.width() && lastCol + 1 < SheetModel::kColumns;) {
        ++lastCol;
        if (!isColumnHidden(lastCol)) ++shown;
    }
    const int lastRow = std::min(current.row() + block.height(), SheetModel::kRows) - 1;
    selectionModel()->select(QItemSelection(current, model_.index(lastRow, lastCol)),
                             QItemSelectionModel::ClearAndSelect);
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
}

void SheetView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTableView::closeEditor(editor, hint);
    // Enter commits the edit and moves down one row (Shift+Enter up), as spreadsheets do.
    if (hint == QAbstractItemDelegate::SubmitModelCache) {
        const QModelIndex current = currentIndex();
        const int step = QApplication::keyboardModifiers() & Qt::ShiftModifier ? -1 : 1;
        if (current.isValid()) moveTo(current.row() + step, current.column());
    }
}

void SheetView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(selectionAsText());
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteClipboard();
        return;
    }
    if (event->matches(QKeySequence::Undo)) {
        model_.undo();
        model_.flushChanges();
        return;
    }
    const QModelIndex current = currentIndex();
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (state() != QAbstractItemView::EditingState && current.isValid()) {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter) {
            const int step = event->modifiers() & Qt::ShiftModifier ? -1 : 1;
            moveTo(current.row() + step, current.column());
            return;
        }
        if (control && event->key() == Qt::Key_End) {
            // The last used cell, not the sheet's last row.
            const grid::Grid& sheet = model_.sheet();
            int col = std::min(sheet.LastUsedCol(), SheetModel::kColumns) - 1;
            while (col > 0 && isColumnHidden(col)) --col;
            moveTo(std::max(sheet.LastUsedRow(), 1) - 1, std::max(col, 0));
            return;
        }
        const int rowStep = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
        const int colStep = event->key() == Qt::Key_Right  ? 1
                            : event->key() == Qt::Key_Left ? -1
                                                           : 0;
        if (control && (rowStep != 0 || colStep != 0)) {
            const QModelIndex target = jump(current, rowStep, colStep);
            moveTo(target.row(), target.column());
            return;
        }
    }
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
        state() != QAbstractItemView::EditingState) {
        model_.clearCells(selectionModel()->selectedIndexes());
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace rendle::ui
