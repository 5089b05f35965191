#include "report/SheetPrinter.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <span>

#include "grid/AtomicFile.h"

namespace rendle::report {

namespace {

/// Row height of the sheet at 96 dots per inch, as on screen.
constexpr double kRowHeightPx = 20.0;

}  // namespace

HeaderFooterText ExpandHeaderFooter(const std::string& codes, int page, int pages,
                                    const std::string& sheetName) {
    HeaderFooterText text;
    QString* section = &text.centre;
    const QString all = QString::fromStdString(codes);
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QChar c = all[i];
        if (c != '&' || i + 1 >= all.size()) {
            *section += c;
            continue;
        }
        const QChar code = all[++i];
        switch (code.toUpper().unicode()) {
            case 'L':
                section = &text.left;
                break;
            case 'C':
                section = &text.centre;
                break;
            case 'R':
                section = &text.right;
                break;
            case 'P':
                *section += QString::number(page);
                break;
            case 'N':
                *section += QString::number(pages);
                break;
            case 'A':
                *section += QString::fromStdString(sheetName);
                break;
            case 'D':
                *section += QDate::currentDate().toString(Qt::ISODate);
                break;
            case 'T':
                *section += QTime::currentTime().toString("HH:mm");
                break;
            case '&':
                *section += '&';
                break;
            case '"': {
                // &"Font name,Style": a font choice, which the report does not follow.
                const qsizetype close = all.indexOf('"', i + 1);
                i = close < 0 ? all.size() : close;
                break;
            }
            default:
                // Font sizes (&12) and styles (&B, &I, &U ...) are skipped.
                while (code.isDigit() && i + 1 < all.size() && all[i + 1].isDigit()) ++i;
                break;
        }
    }
    return text;
}

SheetPrinter::SheetPrinter(const grid::Grid& sheet, std::function<int(int32_t)> columnWidthPx)
    : sheet_(sheet), columnWidthPx_(std::move(columnWidthPx)) {
    for (const int32_t col : grid::ShownColumns(sheet_)) {
        if (columnWidthPx_(col) > 0) columns_.push_back(col);
    }
    if (const auto titles = grid::TitleRows(sheet_.GetPageSetup().printTitleRows)) {
        titleFirst_ = titles->first;
        titleLast_ = titles->second;
    }
}

const std::vector<PrintPage>& SheetPrinter::Paginate(QPagedPaintDevice& device) {
    dpi_ = device.logicalDpiY();
    pageWidth_ = device.width();
    pageHeight_ = device.height();
    const grid::PageSetup setup = sheet_.GetPageSetup();
    left_ = setup.leftMargin * dpi_;
    right_ = setup.rightMargin * dpi_;
    top_ = setup.topMargin * dpi_;
    bottom_ = setup.bottomMargin * dpi_;
    rowHeight_ = kRowHeightPx * dpi_ / 96.0;
    FitColumns(device);

    // Column bands that fit across the page, at least one column each.
    const double usableWidth = std::max(1.0, pageWidth_ - left_ - right_);
    std::vector<std::pair<size_t, size_t>> bands;
    for (size_t first = 0; first < columns_.size();) {
        size_t last = first;
        double width = 0;
        while (last < columns_.size()) {
            const double w = widths_[last];
            if (last > first && width + w > usableWidth) break;
            width += w;
            ++last;
        }
        bands.emplace_back(first, last);
        first = last;
    }
    if (bands.empty()) bands.emplace_back(0, 0);

    // Row blocks that fit down the page; pages after the title rows repeat them at the top.
    const int32_t lastRow = sheet_.LastUsedRow();
    // A note about the sheet takes a line under the heading rows of every page.
    const double noteHeight = sheet_.DocumentNote().empty() ? 0.0 : rowHeight_;
    const double usableHeight = std::max(rowHeight_, pageHeight_ - top_ - bottom_ - noteHeight);
    const int32_t titleCount = titleLast_ >= titleFirst_ ? titleLast_ - titleFirst_ + 1 : 0;
    std::vector<std::pair<int32_t, int32_t>> blocks;
    for (int32_t first = 1; first <= lastRow;) {
        const bool titles = titleCount > 0 && first > titleLast_;
        const int32_t room = std::max<int32_t>(
            1, static_cast<int32_t>((usableHeight - (titles ? titleCount * rowHeight_ : 0)) /
                                    rowHeight_));
        const int32_t last = std::min(lastRow, first + room - 1);
        blocks.emplace_back(first, last);
        first = last + 1;
    }
    if (blocks.empty()) blocks.emplace_back(1, 0);

    pages_.clear();
    for (const auto& [firstColumn, lastColumn] : bands) {
        for (const auto& [firstRow, lastRowOfPage] : blocks) {
            pages_.push_back({firstRow, lastRowOfPage, firstColumn, lastColumn,
                              titleCount > 0 && firstRow > titleLast_});
        }
    }
    return pages_;
}

void SheetPrinter::FitColumns(QPagedPaintDevice& device) {
    // Each column as wide as on screen, to scale; wider where the device measures a number
    // wider than the screen does, so that a number the screen shows whole prints whole, and
    // #### stands on paper only where it stands on screen.
    QFont regular(QString::fromStdString(sheet_.DefaultFontName()));
    regular.setPointSize(sheet_.DefaultFontSize());
    QFont bold = regular;
    bold.setBold(true);
    const QFontMetricsF screenRegular(regular);
    const QFontMetricsF screenBold(bold);
    const QFontMetricsF paperRegular(regular, &device);
    const QFontMetricsF paperBold(bold, &device);
    const double padding = grid::kCellPaddingPx * dpi_ / 96.0;
    widths_.assign(columns_.size(), 0.0);
    const int32_t lastRow = sheet_.LastUsedRow();
    for (size_t i = 0; i < columns_.size(); ++i) {
        const int32_t col = columns_[i];
        const int screenWidth = columnWidthPx_(col);
        double width = screenWidth * dpi_ / 96.0;
        for (int32_t row = 1; row <= lastRow; ++row) {
            if (sheet_.CellAt(row, col).kind != grid::CellKind::Number) continue;
            const bool isBold = sheet_.FormatAt(row, col).bold;
            const QString text = QString::fromStdString(sheet_.CellText(row, col));
            const double onScreen = (isBold ? screenBold : screenRegular).horizontalAdvance(text);
            if (onScreen > screenWidth - 2 * grid::kCellPaddingPx) continue;  // #### there too
            width = std::max(width, (isBold ? paperBold : paperRegular).horizontalAdvance(text) +
                                        2 * padding + 1);
        }
        widths_[i] = width;
    }
}

bool SheetPrinter::Print(QPagedPaintDevice& device, QString* error) {
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error) *error = "the printer could not be started";
        return false;
    }
    if (!PrintOn(painter, device, false, error)) return false;
    if (!painter.end()) {
        if (error) *error = "the report could not be finished";
        return false;
    }
    return true;
}

bool SheetPrinter::PrintOn(QPainter& painter, QPagedPaintDevice& device, bool newPageFirst,
                           QString* error) {
    Paginate(device);
    for (size_t i = 0; i < pages_.size(); ++i) {
        if ((i > 0 || newPageFirst) && !device.newPage()) {
            if (error) *error = "a new page could not be started";
            return false;
        }
        DrawPage(painter, pages_[i], static_cast<int>(i + 1));
        if (!painter.isActive()) {
            if (error) *error = "printing stopped on page " + QString::number(i + 1);
            return false;
        }
    }
    return true;
}

void SheetPrinter::DrawPage(QPainter& painter, const PrintPage& page, int number) {
    DrawHeaderFooter(painter, sheet_.PageHeader(), top_ / 2, number);
    DrawHeaderFooter(painter, sheet_.PageFooter(), pageHeight_ - bottom_ / 2, number);
    double y = top_;
    if (page.titleRows) {
        DrawRows(painter, titleFirst_, titleLast_, page, y);
        DrawNote(painter, y);
        DrawRows(painter, page.firstRow, page.lastRow, page, y);
        return;
    }
    // The page that holds the heading rows themselves: the note follows them; without heading
    // rows it heads the page.
    const int32_t noteAfter =
        titleLast_ >= page.firstRow && titleLast_ <= page.lastRow ? titleLast_ : page.firstRow - 1;
    DrawRows(painter, page.firstRow, noteAfter, page, y);
    DrawNote(painter, y);
    DrawRows(painter, noteAfter + 1, page.lastRow, page, y);
}

void SheetPrinter::DrawNote(QPainter& painter, double& y) {
    if (sheet_.DocumentNote().empty()) return;
    QFont font(QString::fromStdString(sheet_.DefaultFontName()));
    font.setPointSize(sheet_.DefaultFontSize());
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const double padding = grid::kCellPaddingPx * dpi_ / 96.0;
    painter.drawText(QRectF(left_ + padding, y, pageWidth_ - left_ - right_ - padding, rowHeight_),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(sheet_.DocumentNote()));
    y += rowHeight_;
}

void SheetPrinter::DrawHeaderFooter(QPainter& painter, const std::string& codes, double centreY,
                                    int number) {
    if (codes.empty()) return;
    const HeaderFooterText text =
        ExpandHeaderFooter(codes, number, static_cast<int>(pages_.size()), sheet_.SheetTitle());
    QFont font(QString::fromStdString(sheet_.DefaultFontName()));
    font.setPointSize(sheet_.DefaultFontSize());
    painter.setFont(font);
    painter.setPen(Qt::black);
    const double height = rowHeight_;
    const QRectF band(left_, centreY - height / 2, pageWidth_ - left_ - right_, height);
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, text.left);
    painter.drawText(band, Qt::AlignHCenter | Qt::AlignVCenter, text.centre);
    painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter, text.right);
}

void SheetPrinter::DrawRows(QPainter& painter, int32_t first, int32_t last, const PrintPage& page,
                            double& y) {
    QFont regular(QString::fromStdString(sheet_.DefaultFontName()));
    regular.setPointSize(sheet_.DefaultFontSize());
    QFont bold = regular;
    bold.setBold(true);
    const double padding = grid::kCellPaddingPx * dpi_ / 96.0;

    std::vector<double> xs;  // left edge of each printed column of the band, and the right end
    double x = left_;
    for (size_t i = page.firstColumn; i < page.lastColumn; ++i) {
        xs.push_back(x);
        x += widths_[i];
    }
    xs.push_back(x);

    for (int32_t row = first; row <= last; ++row, y += rowHeight_) {
        if (sheet_.PrintGridLines()) {
            painter.setPen(QPen(Qt::gray, 0));
            for (size_t i = 0; i + 1 < xs.size(); ++i) {
                painter.drawRect(QRectF(xs[i], y, xs[i + 1] - xs[i], rowHeight_));
            }
        }
        painter.setPen(Qt::black);
        for (size_t i = page.firstColumn; i < page.lastColumn; ++i) {
            const int32_t col = columns_[i];
            const grid::Cell& cell = sheet_.CellAt(row, col);
            if (cell.kind == grid::CellKind::Empty) continue;
            painter.setFont(sheet_.FormatAt(row, col).bold ? bold : regular);
            const QString text = QString::fromStdString(sheet_.CellText(row, col));
            const size_t k = i - page.firstColumn;
            QRectF rect(xs[k], y, xs[k + 1] - xs[k], rowHeight_);
            if (cell.kind == grid::CellKind::Number) {
                // A number wider than its column is shown as #### there, as on screen.
                const QFontMetricsF metrics(painter.font(), painter.device());
                const std::string shown =
                    grid::NumberShown(text.toStdString(), metrics.horizontalAdvance(text),
                                      rect.width(), metrics.horizontalAdvance('#'), padding);
                painter.drawText(rect.adjusted(padding, 0, -padding, 0),
                                 Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(shown));
                continue;
            }
            // A text runs on over the empty cells to its right, as on screen.
            const std::span<const int32_t> band(columns_.data() + page.firstColumn,
                                                page.lastColumn - page.firstColumn);
            const double needed =
                QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(text) +
                2 * padding;
            const size_t end = grid::RunOnEnd(sheet_, row, band, k, needed,
                                              [&](size_t j) { return xs[j + 1] - xs[j]; });
            rect.setRight(xs[end]);
            painter.save();
            painter.setClipRect(rect);
            painter.drawText(rect.adjusted(padding, 0, -padding, 0),
                             Qt::AlignLeft | Qt::AlignVCenter, text);
            painter.restore();
        }
    }
}

void SetUpPdfWriter(QPdfWriter& writer, const QPageSize& pageSize, const std::string& title) {
    writer.setResolution(1200);
    writer.setPageSize(pageSize);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));  // the report keeps its own margins
    writer.setTitle(QString::fromStdString(title));
}

bool CommitPdf(const QByteArray& pdf, const std::string& path, QString* error) {
    const qsizetype trailer = pdf.lastIndexOf("%%EOF");
    if (pdf.isEmpty() || trailer < 0 || trailer < pdf.size() - 16) {
        if (error) *error = "the PDF came out incomplete";
        return false;
    }
    try {
        grid::StagedFile staged(path);
        staged.Write(std::string_view(pdf.constData(), static_cast<size_t>(pdf.size())));
        long long size = 0;
        const std::string tail = staged.Tail(16, &size);
        if (size != pdf.size() || tail.find("%%EOF") == std::string::npos) {
            if (error)
                *error = "the PDF could not be written whole to " + QString::fromStdString(path);
            return false;
        }
        staged.Commit();
    } catch (const grid::GridError& failure) {
        if (error) *error = QString::fromStdString(failure.what());
        return false;
    }
    return true;
}

int PrintToPdf(const grid::Grid& sheet, const std::string& path, QString* error,
               const std::function<int(int32_t)>& columnWidthPx, const QPageSize& pageSize,
               const std::string& title) {
    // The PDF is made in memory, checked whole, then staged beside the target and put in its
    // place in one step: a failed or killed print leaves an existing PDF as it was.
    QByteArray pdf;
    int pages = 0;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        SetUpPdfWriter(writer, pageSize, title.empty() ? sheet.SheetTitle() : title);
        SheetPrinter printer(
            sheet, columnWidthPx ? columnWidthPx
                                 : [&sheet](int32_t col) { return sheet.ColumnWidth(col); });
        if (!printer.Print(writer, error)) return 0;
        pages = static_cast<int>(printer.Paginate(writer).size());
    }
    if (!CommitPdf(pdf, path, error)) return 0;
    return pages;
}

}  // namespace rendle::report
