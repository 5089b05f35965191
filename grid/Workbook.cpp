#include "grid/Workbook.h"

#include <locale.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "grid/AtomicFile.h"
#include "grid/Grid.h"
#include "grid/XmlText.h"

namespace rendle::grid {

namespace {

constexpr size_t kMaxCellTextBytes = 32767;

[[noreturn]] void Fail(const std::string& why) {
    throw GridError(kErrWriteFailed, why);
}

/// libxlsxwriter writes numbers with the C library's printf, which follows the process locale;
/// a workbook must have the full stop whatever the user's regional settings.
class CNumericLocale {
  public:
    CNumericLocale() : locale_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0))) {
        if (locale_) previous_ = uselocale(locale_);
    }
    ~CNumericLocale() {
        if (locale_) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

  private:
    locale_t locale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

/// The library writes the workbook's dates with gmtime(), whose result lives in one place for
/// the whole process: two workbooks are never closed (written out) at once.
std::mutex& CloseMutex() {
    static std::mutex mutex;
    return mutex;
}

/// A libxlsxwriter workbook freed on every way out; Close() reports the write's result.
class Book {
  public:
    explicit Book(const std::string& file) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_FALSE;
        book_ = workbook_new_opt(file.c_str(), &options);
        if (!book_) Fail("cannot start the workbook");
    }
    ~Book() {
        if (book_) {
            // An abandoned workbook still has to be closed to free it; its result is moot.
            const std::lock_guard lock(CloseMutex());
            workbook_close(book_);
        }
    }
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;

    lxw_workbook* get() { return book_; }

    void Close() {
        lxw_workbook* book = book_;
        book_ = nullptr;
        const std::lock_guard lock(CloseMutex());
        errno = 0;
        const lxw_error error = workbook_close(book);
        if (error != LXW_NO_ERROR) {
            // The system's reason, where there is one, is the one a user can act on.
            Fail(errno != 0 ? WriteErrorText(errno) : std::string(lxw_strerror(error)));
        }
    }

  private:
    lxw_workbook* book_ = nullptr;
};

void Check(lxw_error error, const char* what) {
    if (error != LXW_NO_ERROR) Fail(std::string(what) + ": " + lxw_strerror(error));
}

/// A text cell as the workbook stores it: valid XML text, cut at a character boundary to the
/// 32767 characters a cell holds.
std::string CellTextForWorkbook(const std::string& cellText) {
    std::string text = XmlSafeText(cellText);
    if (text.size() > kMaxCellTextBytes) {
        size_t cut = kMaxCellTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    return text;
}

/// Every cell's text or number with its bold and number format, in the sheet's default font;
/// one workbook format per distinct cell format.
void WriteCells(const Grid& sheet, lxw_workbook* book, lxw_worksheet* ws) {
    std::map<std::pair<bool, std::string>, lxw_format*> formats;
    auto formatFor = [&](const CellFormat& cell) {
        const auto key = std::pair{cell.bold, cell.numberFormat};
        auto [it, added] = formats.try_emplace(key, nullptr);
        if (added) {
            lxw_format* format = workbook_add_format(book);
            format_set_font_name(format, sheet.DefaultFontName().c_str());
            format_set_font_size(format, sheet.DefaultFontSize());
            if (cell.bold) format_set_bold(format);
            if (!cell.numberFormat.empty()) {
                format_set_num_format(format, cell.numberFormat.c_str());
            }
            it->second = format;
        }
        return it->second;
    };

    const int32_t lastCol = sheet.LastUsedCol();
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= lastCol; ++c) {
            const Cell& cell = sheet.CellAt(r, c);
            if (cell.IsBlank()) continue;
            lxw_format* format = formatFor(sheet.FormatAt(r, c));
            const auto row = static_cast<lxw_row_t>(r - 1);
            const auto col = static_cast<lxw_col_t>(c - 1);
            switch (cell.kind) {
                case CellKind::Number:
                    Check(worksheet_write_number(ws, row, col, cell.number, format), "a number");
                    break;
                case CellKind::Text:
                    Check(worksheet_write_string(ws, row, col,
                                                 CellTextForWorkbook(cell.text).c_str(), format),
                          "a text");
                    break;
                case CellKind::Empty:
                    Check(worksheet_write_blank(ws, row, col, format), "a formatted cell");
                    break;
            }
        }
    }
}

/// Column widths as on screen, the hidden columns hidden with their cells, and the texts of the
/// column-heading bar as custom document properties ("Column E heading"), since a workbook has
/// no place for them on the sheet.
void WriteColumns(const Grid& sheet, lxw_workbook* book, lxw_worksheet* ws) {
    lxw_row_col_options hidden{};
    hidden.hidden = LXW_TRUE;
    const int32_t widthCols = std::max<int32_t>(sheet.LastUsedCol(), 10);
    for (int32_t c = 1; c <= widthCols; ++c) {
        const auto col = static_cast<lxw_col_t>(c - 1);
        Check(worksheet_set_column_pixels_opt(ws, col, col, sheet.ColumnWidth(c), nullptr,
                                              sheet.ColumnHidden(c) ? &hidden : nullptr),
              "a column");
    }
    for (int32_t c = 1; c <= kMaxCol; ++c) {
        if (!sheet.HasColumnHeading(c)) continue;
        const std::string name = "Column " + ColumnLetters(c) + " heading";
        Check(workbook_set_custom_property_string(book, name.c_str(),
                                                  XmlSafeText(sheet.ColumnHeading(c)).c_str()),
              "a column heading");
    }
}

/// The selection and the print set-up, so that a spreadsheet program prints the same report.
void WritePrintSetUp(const Grid& sheet, lxw_worksheet* ws) {
    const Range& selection = sheet.Selection();
    worksheet_set_selection(
        ws, static_cast<lxw_row_t>(selection.row1 - 1), static_cast<lxw_col_t>(selection.col1 - 1),
        static_cast<lxw_row_t>(selection.row2 - 1), static_cast<lxw_col_t>(selection.col2 - 1));

    const PageSetup setup = sheet.GetPageSetup();
    if (const auto titles = TitleRows(setup.printTitleRows)) {
        Check(worksheet_repeat_rows(ws, static_cast<lxw_row_t>(titles->first - 1),
                                    static_cast<lxw_row_t>(titles->second - 1)),
              "the print title rows");
    }
    worksheet_set_margins(ws, setup.leftMargin, setup.rightMargin, setup.topMargin,
                          setup.bottomMargin);
    std::string header = sheet.PageHeader();
    if (!sheet.DocumentNote().empty()) {
        // The note in the header's left section; a header without sections of its own is a
        // centred one.
        std::string note;
        for (const char c : sheet.DocumentNote())
            note += c == '&' ? std::string("&&") : std::string(1, c);
        const bool sections = header.size() >= 2 && header[0] == '&' &&
                              (header[1] == 'L' || header[1] == 'C' || header[1] == 'R');
        header = "&L" + note + (header.empty() || sections ? header : "&C" + header);
    }
    if (!header.empty()) {
        Check(worksheet_set_header(ws, XmlSafeText(header).c_str()), "the header");
    }
    if (!sheet.PageFooter().empty()) {
        Check(worksheet_set_footer(ws, XmlSafeText(sheet.PageFooter()).c_str()), "the footer");
    }
    worksheet_gridlines(
        ws, sheet.PrintGridLines() ? LXW_SHOW_ALL_GRIDLINES : LXW_SHOW_SCREEN_GRIDLINES);
}

}  // namespace

void CheckWholeArchive(const StagedFile& staged) {
    long long size = 0;
    const std::string tail = staged.Tail(22, &size);
    auto le32 = [&](size_t at) {
        auto byte = [&](size_t k) {
            return static_cast<uint32_t>(static_cast<unsigned char>(tail[k]));
        };
        return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
    };
    const bool whole = tail.size() == 22 && le32(0) == 0x06054b50 &&
                       static_cast<long long>(le32(16)) + le32(12) == size - 22;
    if (!whole) Fail("the workbook could not be written completely (is the disk full?)");
}

void WriteWorkbook(const Grid& sheet, const std::string& path, int32_t fileType) {
    if (fileType != kWorkbookFileType) {
        throw GridError(kErrBadArgument, "unknown workbook file type " + std::to_string(fileType));
    }
    WriteWorkbookSheets({&sheet}, path);
}

void WriteWorkbookSheets(const std::vector<const Grid*>& sheets, const std::string& path) {
    const CNumericLocale cLocale;
    // The workbook is built in a file beside the target; only a whole one takes its place.
    StagedFile staged(path);
    Book book(staged.WritePath());

    // A note about the workbook (results not reduced since an edit) among its document
    // properties too, where a file manager or a spreadsheet program's file details show it.
    std::string note;
    for (const Grid* sheet : sheets) {
        if (!sheet->DocumentNote().empty() && note.empty())
            note = XmlSafeText(sheet->DocumentNote());
    }
    if (!note.empty()) {
        lxw_doc_properties properties{};
        properties.status = note.data();
        properties.comments = note.data();
        Check(workbook_set_properties(book.get(), &properties), "the document properties");
    }
    for (const Grid* sheet : sheets) {
        lxw_worksheet* ws =
            workbook_add_worksheet(book.get(), XmlSafeText(sheet->SheetTitle()).c_str());
        if (!ws) Fail("the sheet name " + sheet->SheetTitle() + " cannot be used in a workbook");
        WriteCells(*sheet, book.get(), ws);
        WriteColumns(*sheet, book.get(), ws);
        WritePrintSetUp(*sheet, ws);
    }

    book.Close();
    CheckWholeArchive(staged);
    staged.Commit();
}

}  // namespace rendle::grid
