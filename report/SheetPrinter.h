// The level sheet printed as a paged report: page breaks worked out first, then every page
// drawn with one painter from the grid's cells and print settings.
#pragma once

#include <QPageSize>
#include <QString>
#include <functional>
#include <vector>

#include "grid/Grid.h"

class QPagedPaintDevice;
class QPdfWriter;
class QPainter;

namespace rendle::report {

/// The left, centre and right texts of a page header or footer.
struct HeaderFooterText {
    QString left;
    QString centre;
    QString right;
    bool operator==(const HeaderFooterText&) const = default;
};

/// Reads the codes of a page header or footer: "&L", "&C", "&R" start a section (text before
/// any of them is centred), "&P" is the page number, "&N" the number of pages, "&A" the sheet
/// name, "&D" and "&T" the date and time, "&&" an ampersand. Font codes are skipped.
HeaderFooterText ExpandHeaderFooter(const std::string& codes, int page, int pages,
                                    const std::string& sheetName);

/// One printed page: a block of rows and a block of the printed columns.
struct PrintPage {
    int32_t firstRow = 1;
    int32_t lastRow = 0;     ///< below firstRow when the page has no rows (an empty sheet)
    size_t firstColumn = 0;  ///< index into the printed columns
    size_t lastColumn = 0;   ///< one past the last
    bool titleRows = false;  ///< the print-title rows are repeated at its top
};

class SheetPrinter {
  public:
    /// `columnWidthPx` gives a column's width in pixels at 96 dots per inch, as on screen.
    SheetPrinter(const grid::Grid& sheet, std::function<int(int32_t)> columnWidthPx);

    /// Works out the pages for a page of the device's size and resolution.
    const std::vector<PrintPage>& Paginate(QPagedPaintDevice& device);

    /// Prints every page on the device. Gives false, with the reason, when the device could not
    /// be painted on.
    bool Print(QPagedPaintDevice& device, QString* error);

    /// Prints every page with a painter already begun on the device, after a new page when
    /// `newPageFirst` (the pages of a report that has pages before them).
    bool PrintOn(QPainter& painter, QPagedPaintDevice& device, bool newPageFirst, QString* error);

  private:
    /// Each printed column's width on `device`, in its units (widths_).
    void FitColumns(QPagedPaintDevice& device);
    void DrawPage(QPainter& painter, const PrintPage& page, int number);
    void DrawRows(QPainter& painter, int32_t first, int32_t last, const PrintPage& page, double& y);
    void DrawHeaderFooter(QPainter& painter, const std::string& codes, double centreY, int number);
    /// The sheet's document note on a line of its own at `y`, which moves past it.
    void DrawNote(QPainter& painter, double& y);

    const grid::Grid& sheet_;
    std::function<int(int32_t)> columnWidthPx_;
    std::vector<double> widths_;    ///< of each printed column on the device
    std::vector<int32_t> columns_;  // printed columns, 1-based
    std::vector<PrintPage> pages_;
    // Page geometry in device units.
    double dpi_ = 96;
    double pageWidth_ = 0, pageHeight_ = 0;
    double left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    double rowHeight_ = 0;
    int32_t titleFirst_ = 0, titleLast_ = -1;
};

/// A PDF writer as every report is printed: 1200 dots an inch, no margins of its own (the
/// report keeps its own), the page size and the document's title.
void SetUpPdfWriter(QPdfWriter& writer, const QPageSize& pageSize, const std::string& title);

/// Puts a PDF made in memory at `path` once it is checked whole, in one step: a failed write
/// leaves an existing file as it was. False with the path and the cause in `error`.
bool CommitPdf(const QByteArray& pdf, const std::string& path, QString* error);

/// Prints the level report to a PDF file at the sheet's own margins, on A4 and with the sheet's
/// own column widths unless told otherwise. The PDF replaces the file at `path`
/// only when it is whole; gives the number of pages, or 0 with the path and the cause in
/// `error` (an existing file is then left as it was).
/// `title` is the document's title in its metadata (the sheet's title when empty).
int PrintToPdf(const grid::Grid& sheet, const std::string& path, QString* error,
               const std::function<int(int32_t)>& columnWidthPx = {},
               const QPageSize& pageSize = QPageSize(QPageSize::A4), const std::string& title = {});

}  // namespace rendle::report
