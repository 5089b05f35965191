#include "ui/SheetView.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
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
    explicit SheetDelegate(SheetView* view) : QStyledItemDelegate(view), view_(view) {}

    /// An arrow key ends an entry begun by typing into the cell, and moves from it, as in a
    /// spreadsheet; in an entry begun by F2 or a double-click it moves within the text.
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* editor = qobject_cast<QWidget*>(object);
        if (editor && event->type() == QEvent::KeyPress && view_->typingEntry()) {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right ||
                               key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
            if (arrow && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
                QCoreApplication::sendEvent(view_, key);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& given,
               const QModelIndex& index) const override {
        // As spreadsheets draw it: the selection lightly tinted, the current cell white inside
        // a frame, the texts in their own colour throughout.
        QStyleOptionViewItem option = given;
        const bool current = index == view_->currentIndex();
        const bool selected = given.state & QStyle::State_Selected;
        option.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        if (selected) {
            // Over the face the style may already have given the selected row.
            painter->fillRect(option.rect, option.palette.base());
            if (!current) painter->fillRect(option.rect, SelectionTint(option.palette));
        }
        paintCell(painter, option, index);
        if (current) {
            painter->save();
            painter->setPen(QPen(option.palette.color(QPalette::Highlight), 2));
            painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
            painter->restore();
        }
    }

    /// The highlight colour, a fifth of its strength over the sheet's face.
    static QColor SelectionTint(const QPalette& palette) {
        QColor tint = palette.color(QPalette::Highlight);
        tint.setAlpha(51);
        return tint;
    }

    /// The text of a cell in a column `width` wide: a number wider than it as ####, as a
    /// spreadsheet shows it.
    static QString Shown(const grid::Grid& sheet, const QModelIndex& index, const QString& text,
                         const QFont& font, int width) {
        if (sheet.CellAt(index.row() + 1, index.column() + 1).kind != grid::CellKind::Number) {
            return text;
        }
        const QFontMetrics metrics(font);
        return QString::fromStdString(grid::NumberShown(text.toStdString(),
                                                        metrics.horizontalAdvance(text), width,
                                                        metrics.horizontalAdvance('#'), kPadding));
    }

  private:
    void paintCell(QPainter* painter, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const {
        // Every cell paints its own share of a run-on text, so that a cell repainted alone (a
        // selection moving over it or away) shows its share again, over its own face.
        QModelIndex owner = index;
        int reach = textReach(index, option);
        if (index.data().toString().isEmpty()) {
            owner = runOnOwner(index, option.rect, &reach);
            if (!owner.isValid()) {
                QStyledItemDelegate::paint(painter, option, index);
                drawGridLines(painter, option, index);
                return;
            }
        } else if (reach <= option.rect.right()) {
            QStyledItemDelegate::paint(painter, option, index);
            drawGridLines(painter, option, index);
            return;
        }
        QStyleOptionViewItem text = option;
        initStyleOption(&text, owner);
        const QRect ownerRect = owner == index ? option.rect : view_->visualRect(owner);
        painter->save();
        const QRect textRect(ownerRect.left() + kPadding, option.rect.top(),
                             reach - ownerRect.left() - kPadding, option.rect.height());
        painter->setClipRect(option.rect);
        painter->setFont(text.font);
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text.text);
        painter->restore();
        drawGridLines(painter, option, index);
    }

    static constexpr int kPadding = 3;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = Shown(sheet(), index, option->text, option->font, option->rect.width());
    }

  private:
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

    /// The cell whose text covers `index` (its own, or the nearest one to its left across
    /// empty cells) when that text reaches past the left edge of `rect`; invalid otherwise.
    /// `reach` gets the right edge the text reaches.
    QModelIndex runOnOwner(const QModelIndex& index, const QRect& rect, int* reach) const {
        int col = index.column();
        while (col >= 0 && (view_->isColumnHidden(col) || isEmpty(index.row(), col))) --col;
        if (col < 0) return {};
        const QModelIndex owner = view_->model()->index(index.row(), col);
        QStyleOptionViewItem ownerOption;
        ownerOption.rect = view_->visualRect(owner);
        ownerOption.font = view_->font();
        *reach = textReach(owner, ownerOption);
        return *reach > rect.left() ? owner : QModelIndex();
    }

    bool runsOnPastRightEdge(const QModelIndex& index, const QRect& rect) const {
        int reach = 0;
        return runOnOwner(index, rect, &reach).isValid() && reach > rect.right();
    }

    SheetView* view_;
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
    model_.sheet().SetColumnWidth(col + 1, width, true);
    following_ = false;
}

void SheetView::followGridSelection() {
    const grid::Grid& sheet = model_.sheet();
    const grid::Range& s = sheet.Selection();
    auto clampRow = [](int32_t r) { return std::min(r, SheetModel::kRows) - 1; };
    auto clampCol = [](int32_t c) { return std::min(c, SheetModel::kColumns) - 1; };
    const QModelIndex active =
        model_.index(clampRow(sheet.ActiveRow()), clampCol(sheet.ActiveCol()));
    const QItemSelection block(model_.index(clampRow(s.row1), clampCol(s.col1)),
                               model_.index(clampRow(s.row2), clampCol(s.col2)));
    // The grid telling back the selection the view gave it (its answer comes after the next
    // key press on a real display): nothing to follow, and the anchor stays.
    if (active == currentIndex() && selectedBlock() == block) return;
    following_ = true;
    selectionModel()->setCurrentIndex(active, QItemSelectionModel::NoUpdate);
    selectionModel()->select(block, QItemSelectionModel::ClearAndSelect);
    following_ = false;
}

QItemSelection SheetView::selectedBlock() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return {};
    int r1 = selected.first().row(), r2 = r1, c1 = selected.first().column(), c2 = c1;
    for (const QModelIndex& index : selected) {
        r1 = std::min(r1, index.row());
        r2 = std::max(r2, index.row());
        c1 = std::min(c1, index.column());
        c2 = std::max(c2, index.column());
    }
    return QItemSelection(model_.index(r1, c1), model_.index(r2, c2));
}

void SheetView::tellGridSelection() {
    if (following_) return;
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    // The grid keeps one block: the bounding box of what is selected, the current cell active.
    const QItemSelection block = selectedBlock();
    grid::Grid& sheet = model_.sheet();
    following_ = true;
    if (block.isEmpty() || (block.first().width() == 1 && block.first().height() == 1)) {
        sheet.ActivateCell(current.row() + 1, current.column() + 1);
    } else {
        const QItemSelectionRange& r = block.first();
        // The current cell stays active: the grid's answer then moves nothing, and a
        // selection grown by Shift keeps its anchor and its moving end.
        sheet.SelectCells(
            std::min(r.top(), current.row()) + 1, std::min(r.left(), current.column()) + 1,
            std::max(r.bottom(), current.row()) + 1, std::max(r.right(), current.column()) + 1,
            current.row() + 1, current.column() + 1);
    }
    following_ = false;
}

void SheetView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!extending_) {
        anchor_ = current;  // every move but a Shift move sets the anchor
        movingEnd_ = current;
    }
    tellGridSelection();
}

void SheetView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    tellGridSelection();
}

QString SheetView::shownText(const QModelIndex& index) const {
    QFont shownFont = font();
    if (const QVariant f = index.data(Qt::FontRole); f.isValid()) shownFont = f.value<QFont>();
    return SheetDelegate::Shown(model_.sheet(), index, index.data().toString(), shownFont,
                                columnWidth(index.column()));
}

QString SheetView::selectionAsText() const {
    const QItemSelection block = selectedBlock();
    if (block.isEmpty()) return {};
    const int r1 = block.first().top(), r2 = block.first().bottom();
    const int c1 = block.first().left(), c2 = block.first().right();
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
    moveOrExtend(row, col, false);
}

void SheetView::moveOrExtend(int row, int col, bool extend) {
    const QModelIndex target = model_.index(std::clamp(row, 0, SheetModel::kRows - 1),
                                            std::clamp(col, 0, SheetModel::kColumns - 1));
    if (!extend || !anchor_.isValid()) {
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    } else {
        // The block from the anchor, which stays where it is, to the new current cell.
        const QModelIndex anchor = anchor_;
        extending_ = true;
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
        extending_ = false;
        const QModelIndex topLeft = model_.index(std::min(anchor.row(), target.row()),
                                                 std::min(anchor.column(), target.column()));
        const QModelIndex bottomRight = model_.index(std::max(anchor.row(), target.row()),
                                                     std::max(anchor.column(), target.column()));
        selectionModel()->select(QItemSelection(topLeft, bottomRight),
                                 QItemSelectionModel::ClearAndSelect);
    }
    movingEnd_ = target;
    scrollTo(target);
}

QModelIndex SheetView::keyTarget(QKeyEvent* event) {
    // With Shift a selection's moving end moves (where a drag ended, or the last Shift move);
    // without it, the current cell.
    const QModelIndex current = (event->modifiers() & Qt::ShiftModifier) && movingEnd_.isValid()
                                    ? QModelIndex(movingEnd_)
                                    : currentIndex();
    const bool control = event->modifiers() & Qt::ControlModifier;
    const int key = event->key();
    if (control && key == Qt::Key_End) {
        // The last used cell, not the sheet's last row.
        const grid::Grid& sheet = model_.sheet();
        int col = std::min(sheet.LastUsedCol(), SheetModel::kColumns) - 1;
        while (col > 0 && isColumnHidden(col)) --col;
        return model_.index(std::max(sheet.LastUsedRow(), 1) - 1, std::max(col, 0));
    }
    const int rowStep = key == Qt::Key_Down ? 1 : key == Qt::Key_Up ? -1 : 0;
    const int colStep = key == Qt::Key_Right ? 1 : key == Qt::Key_Left ? -1 : 0;
    if (control && (rowStep != 0 || colStep != 0)) return jump(current, rowStep, colStep);
    if (rowStep != 0 || colStep != 0) {
        // One cell from the current cell, the moving end of a selection (hidden columns passed
        // over), as spreadsheets move and extend: the same with Shift in every direction.
        int col = current.column() + colStep;
        while (colStep != 0 && col >= 0 && col < SheetModel::kColumns && isColumnHidden(col)) {
            col += colStep;
        }
        if (col < 0 || col >= SheetModel::kColumns) col = current.column();
        return model_.index(std::clamp(current.row() + rowStep, 0, SheetModel::kRows - 1), col);
    }
    CursorAction action;
    switch (key) {
        case Qt::Key_Home:
            action = MoveHome;
            break;
        case Qt::Key_End:
            action = MoveEnd;
            break;
        case Qt::Key_PageUp:
            action = MovePageUp;
            break;
        case Qt::Key_PageDown:
            action = MovePageDown;
            break;
        default:
            return {};
    }
    return moveCursor(action, control ? Qt::ControlModifier : Qt::NoModifier);
}

void SheetView::mousePressEvent(QMouseEvent* event) {
    // Shift+click extends from the anchor, as Shift with a key does.
    const QModelIndex index = indexAt(event->position().toPoint());
    if ((event->modifiers() & Qt::ShiftModifier) && event->button() == Qt::LeftButton &&
        index.isValid() && anchor_.isValid()) {
        moveOrExtend(index.row(), index.column(), true);
        return;
    }
    QTableView::mousePressEvent(event);
}

void SheetView::mouseMoveEvent(QMouseEvent* event) {
    // A drag keeps its anchor where it was pressed; its end is where Shift and the arrows go on
    // from.
    const bool dragging = (event->buttons() & Qt::LeftButton) != 0;
    extending_ = dragging;
    QTableView::mouseMoveEvent(event);
    extending_ = false;
    if (dragging) {
        const QModelIndex at = indexAt(event->position().toPoint());
        if (at.isValid()) movingEnd_ = at;
    }
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

bool SheetView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool editing = QTableView::edit(index, trigger, event);
    if (editing) typingEntry_ = trigger == QAbstractItemView::AnyKeyPressed;
    return editing;
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
    const bool editing = state() == QAbstractItemView::EditingState;
    if (!editing) {
        if (event->matches(QKeySequence::Copy)) {
            QApplication::clipboard()->setText(selectionAsText());
            return;
        }
        if (event->matches(QKeySequence::Cut)) {
            // Copied, then emptied as Delete does: one step to undo.
            QApplication::clipboard()->setText(selectionAsText());
            model_.clearCells(selectionModel()->selectedIndexes());
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
        const bool controlY =
            event->key() == Qt::Key_Y && event->modifiers() == Qt::ControlModifier;
        if (controlY || event->matches(QKeySequence::Redo)) {
            model_.redo();
            model_.flushChanges();
            return;
        }
    }
    const QModelIndex current = currentIndex();
    if (!editing && current.isValid()) {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter) {
            const int step = event->modifiers() & Qt::ShiftModifier ? -1 : 1;
            moveTo(current.row() + step, current.column());
            return;
        }
        // Every move sets the anchor; with Shift, the selection grows from it instead.
        const QModelIndex target = keyTarget(event);
        if (target.isValid()) {
            moveOrExtend(target.row(), target.column(), event->modifiers() & Qt::ShiftModifier);
            return;
        }
    }
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && !editing) {
        model_.clearCells(selectionModel()->selectedIndexes());
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace rendle::ui
