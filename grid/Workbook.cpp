#include "grid/Workbook.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "grid/Grid.h"

namespace rendle::grid {

namespace {

constexpr int kErrWriteFailed = 20010;
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

/// A temporary file that is removed unless kept.
class TempFile {
  public:
    /// Creates an empty file named after `pattern` (which ends in XXXXXX) in `folder`.
    TempFile(const std::filesystem::path& folder, const std::string& pattern) {
        std::string name = (folder / pattern).string();
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back('\0');
        fd_ = mkstemp(buffer.data());
        if (fd_ < 0) {
            Fail("cannot write in the folder " + folder.string() + ": " + std::strerror(errno));
        }
        path_ = buffer.data();
    }
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        if (!kept_) std::remove(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    /// Closes the file, reporting a failed close (a full disk may only show here).
    void Close() {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) Fail("cannot finish " + path_ + ": " + std::strerror(errno));
    }
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

/// Checks that a finished workbook is a whole zip archive: its end record is where it belongs.
/// A library that writes through the C library's buffered files can miss a failed write.
void CheckWholeArchive(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    unsigned char end[22] = {};
    if (size >= 22) {
        in.seekg(size - 22);
        in.read(reinterpret_cast<char*>(end), 22);
    }
    auto le32 = [&](int at) {
        return static_cast<uint32_t>(end[at]) | static_cast<uint32_t>(end[at + 1]) << 8 |
               static_cast<uint32_t>(end[at + 2]) << 16 | static_cast<uint32_t>(end[at + 3]) << 24;
    };
    const bool whole = size >= 22 && in && le32(0) == 0x06054b50 &&
                       static_cast<std::streamoff>(le32(16)) + le32(12) == size - 22;
    if (!whole) Fail("the workbook could not be written completely (is the disk full?)");
}

/// Copies a file's bytes to an open descriptor, checking every write and the final flush.
void CopyInto(const std::string& from, int fd, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const char* data = buffer.data();
        size_t left = static_cast<size_t>(in.gcount());
        while (left > 0) {
            const ssize_t written = write(fd, data, left);
            if (written < 0) {
                if (errno == EINTR) continue;
                Fail("cannot write " + to + ": " + std::strerror(errno));
            }
            data += written;
            left -= static_cast<size_t>(written);
        }
    }
    if (in.bad()) Fail("cannot read back the workbook just written");
    // Devices such as a terminal cannot be flushed to disk; that is no failure.
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        Fail("cannot write " + to + ": " + std::strerror(errno));
    }
}

/// Puts the finished workbook at `path`: through a temporary file in the same folder renamed
/// over the target, so that the target is either the old file or the whole new one. A device
/// or pipe named as target is written as it is, never replaced.
void PlaceWorkbook(const std::string& staged, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) target = fs::canonical(target, ec);
    const fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status)) Fail(target.string() + " is a folder");

    if (fs::exists(status) && !fs::is_regular_file(status)) {
        const int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) Fail("cannot write " + target.string() + ": " + std::strerror(errno));
        try {
            CopyInto(staged, fd, target.string());
        } catch (...) {
            close(fd);
            throw;
        }
        if (close(fd) != 0) Fail("cannot write " + target.string() + ": " + std::strerror(errno));
        return;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = ".";
    pattern += target.filename().string();
    pattern += ".rendle-XXXXXX";
    TempFile temp(folder, pattern);
    CopyInto(staged, temp.fd(), target.string());
    // The new file keeps the permissions of the file it replaces, or the usual ones.
    struct stat old {};
    mode_t mode = 0;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode = umask(0);
        umask(mode);
        mode = 0666 & ~mode;
    }
    fchmod(temp.fd(), mode);
    temp.Close();
    if (std::rename(temp.path().c_str(), target.c_str()) != 0) {
        Fail("cannot replace " + target.string() + ": " + std::strerror(errno));
    }
    temp.Keep();
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
            workbook_close(book_);
        }
    }
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;

    lxw_workbook* get() { return book_; }

    void Close() {
        lxw_workbook* book = book_;
        book_ = nullptr;
        errno = 0;
        const lxw_error error = workbook_close(book);
        if (error != LXW_NO_ERROR) {
            std::string why = lxw_strerror(error);
            if (errno != 0) why += std::string(": ") + std::strerror(errno);
            Fail(why);
        }
    }

  private:
    lxw_workbook* book_ = nullptr;
};

void Check(lxw_error error, const char* what) {
    if (error != LXW_NO_ERROR) Fail(std::string(what) + ": " + lxw_strerror(error));
}

size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
    if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;
    if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;
    if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;
    if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;
    return length;
}

}  // namespace

std::string XmlSafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                char escape[8];
                std::snprintf(escape, sizeof escape, "_x%04X_", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (const size_t length = Utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

std::optional<std::pair<int32_t, int32_t>> TitleRows(std::string_view range) {
    auto rowOf = [](std::string_view ref) -> std::optional<int32_t> {
        size_t i = 0;
        while (i < ref.size() && (ref[i] == '$' || (ref[i] >= 'A' && ref[i] <= 'Z') ||
                                  (ref[i] >= 'a' && ref[i] <= 'z'))) {
            ++i;
        }
        int32_t row = 0;
        if (i == ref.size()) return std::nullopt;
        for (; i < ref.size(); ++i) {
            if (ref[i] < '0' || ref[i] > '9' || row > kMaxRow) return std::nullopt;
            row = row * 10 + (ref[i] - '0');
        }
        if (row < 1 || row > kMaxRow) return std::nullopt;
        return row;
    };
    const size_t colon = range.find(':');
    const auto first = rowOf(range.substr(0, colon));
    const auto last = colon == std::string_view::npos ? first : rowOf(range.substr(colon + 1));
    if (!first || !last || *first > *last) return std::nullopt;
    return std::pair{*first, *last};
}

void WriteWorkbook(const Grid& sheet, const std::string& path, int32_t fileType) {
    if (fileType != kWorkbookFileType) {
        throw GridError(kErrBadArgument, "unknown workbook file type " + std::to_string(fileType));
    }
    if (path.empty()) Fail("no file name was given");
    const CNumericLocale cLocale;
    // The workbook is built in a staging file first; only a whole one goes near the target.
    TempFile staging(std::filesystem::temp_directory_path(), "rendle-workbook-XXXXXX");
    Book book(staging.path());

    lxw_worksheet* ws = workbook_add_worksheet(book.get(), XmlSafeText(sheet.SheetTitle()).c_str());
    if (!ws) Fail("the sheet name " + sheet.SheetTitle() + " cannot be used in a workbook");

    // One workbook format per distinct cell format, all in the sheet's default font.
    std::map<std::pair<bool, std::string>, lxw_format*> formats;
    auto formatFor = [&](const CellFormat& cell) {
        const auto key = std::pair{cell.bold, cell.numberFormat};
        auto [it, added] = formats.try_emplace(key, nullptr);
        if (added) {
            lxw_format* format = workbook_add_format(book.get());
            format_set_font_name(format, sheet.DefaultFontName().c_str());
            format_set_font_size(format, sheet.DefaultFontSize());
            if (cell.bold) format_set_bold(format);
            if (!cell.numberFormat.empty())
                format_set_num_format(format, cell.numberFormat.c_str());
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
            const lxw_row_t row = static_cast<lxw_row_t>(r - 1);
            const lxw_col_t col = static_cast<lxw_col_t>(c - 1);
            switch (cell.kind) {
                case CellKind::Number:
                    Check(worksheet_write_number(ws, row, col, cell.number, format), "a number");
                    break;
                case CellKind::Text: {
                    std::string text = XmlSafeText(cell.text);
                    if (text.size() > kMaxCellTextBytes) {
                        // Cut at a character boundary: a cell holds at most 32767 characters.
                        size_t cut = kMaxCellTextBytes;
                        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                            --cut;
                        text.resize(cut);
                    }
                    Check(worksheet_write_string(ws, row, col, text.c_str(), format), "a text");
                    break;
                }
                case CellKind::Empty:
                    Check(worksheet_write_blank(ws, row, col, format), "a formatted cell");
                    break;
            }
        }
    }

    // Column widths as on screen; the hidden columns stay hidden with their cells.
    lxw_row_col_options hidden{};
    hidden.hidden = LXW_TRUE;
    const int32_t widthCols = std::max<int32_t>(lastCol, 10);
    for (int32_t c = 1; c <= widthCols; ++c) {
        const lxw_col_t col = static_cast<lxw_col_t>(c - 1);
        Check(worksheet_set_column_pixels_opt(ws, col, col, kDefaultColumnWidthPx, nullptr,
                                              sheet.ColumnHidden(c) ? &hidden : nullptr),
              "a column");
    }
    for (int32_t c = 1; c <= kMaxCol; ++c) {
        if (!sheet.HasColumnHeading(c)) continue;
        const std::string name = "Column " + ColumnLetters(c) + " heading";
        Check(workbook_set_custom_property_string(book.get(), name.c_str(),
                                                  XmlSafeText(sheet.ColumnHeading(c)).c_str()),
              "a column heading");
    }

    const Range& selection = sheet.Selection();
    worksheet_set_selection(
        ws, static_cast<lxw_row_t>(selection.row1 - 1), static_cast<lxw_col_t>(selection.col1 - 1),
        static_cast<lxw_row_t>(selection.row2 - 1), static_cast<lxw_col_t>(selection.col2 - 1));

    // The print set-up, so that a spreadsheet program prints the same report.
    const PageSetup setup = sheet.GetPageSetup();
    if (const auto titles = TitleRows(setup.printTitleRows)) {
        Check(worksheet_repeat_rows(ws, static_cast<lxw_row_t>(titles->first - 1),
                                    static_cast<lxw_row_t>(titles->second - 1)),
              "the print title rows");
    }
    worksheet_set_margins(ws, setup.leftMargin, setup.rightMargin, setup.topMargin,
                          setup.bottomMargin);
    if (!sheet.PageHeader().empty()) {
        Check(worksheet_set_header(ws, XmlSafeText(sheet.PageHeader()).c_str()), "the header");
    }
    if (!sheet.PageFooter().empty()) {
        Check(worksheet_set_footer(ws, XmlSafeText(sheet.PageFooter()).c_str()), "the footer");
    }
    worksheet_gridlines(
        ws, sheet.PrintGridLines() ? LXW_SHOW_ALL_GRIDLINES : LXW_SHOW_SCREEN_GRIDLINES);

    book.Close();
    CheckWholeArchive(staging.path());
    PlaceWorkbook(staging.path(), path);
}

}  // namespace rendle::grid
