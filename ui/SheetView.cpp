#include "ui/SheetView.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "grid/Workbook.h"

namespace rendle::ui {

namespace {

/// Paints a text cell as a spreadsheet does: a text longer than its cell runs on over the empty
/// cells to its right instead of being cut short.
class OverflowDelegate : public QStyledItemDelegate {
  public:
    explicit OverflowDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem wide = option;
        const bool isText = !index.data(Qt::DisplayRole).toString().isEmpty() &&
                            !(index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
        if (isText) {
            const int needed = option.fontMetrics.horizontalAdvance(index.data().toString()) + 8;
            QFont font = option.font;
            if (const QVariant f = index.data(Qt::FontRole); f.isValid()) font = f.value<QFont>();
            const int width = QFontMetrics(font).horizontalAdvance(index.data().toString()) + 8;
            const QAbstractItemModel* model = index.model();
            for (int col = index.column() + 1;
                 wide.rect.width() < std::max(needed, width) && col < model->columnCount(); ++col) {
                if (view_->isColumnHidden(col)) continue;
                if (!model->index(index.row(), col).data().toString().isEmpty()) break;
                wide.rect.setRight(wide.rect.right() + view_->columnWidth(col));
            }
        }
        if (wide.rect != option.rect) {
            // The cells run over are painted after this one; draw only the text there.
            QStyledItemDelegate::paint(painter, option, index);
            initStyleOption(&wide, index);
            wide.rect.setLeft(option.rect.left());
            painter->save();
            painter->setClipRect(wide.rect);
            const QRect textRect = wide.rect.adjusted(3, 0, -3, 0);
            painter->setFont(wide.font);
            painter->setPen(option.state & QStyle::State_Selected
                                ? option.palette.color(QPalette::HighlightedText)
                                : option.palette.color(QPalette::Text));
            painter->fillRect(option.rect.adjusted(0, 0, -1, -1),
                              option.state & QStyle::State_Selected ? option.palette.highlight()
                                                                    : option.palette.base());
            painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, wide.text);
            painter->restore();
            return;
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

  private:
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
    setItemDelegate(new OverflowDelegate(this));
    setTextElideMode(Qt::ElideNone);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);

    connect(&model_, &SheetModel::gridSelectionChanged, this, &SheetView::followGridSelection);
    connect(&model_, &SheetModel::sheetPropertiesChanged, this, &SheetView::followSheetProperties);
    followSheetProperties();
    followGridSelection();
}

void SheetView::followSheetProperties() {
    for (int col = 0; col < SheetModel::kColumns; ++col) {
        setColumnHidden(col, model_.sheet().ColumnHidden(col + 1));
    }
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

void SheetView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(selectionAsText());
        return;
    }
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
        state() != QAbstractItemView::EditingState) {
        model_.clearCells(selectionModel()->selectedIndexes());
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace rendle::ui
