// The work of rendle-reduce on one field book: open, tell its format, read it into a level sheet
// of its own as the File menu command does, reduce, print and save as asked, and write the
// level report or the JSON document.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/OutputModules.h"
#include "core/Checks.h"
#include "readers/FieldBook.h"

namespace rendle::cli {

/// What applies to every field book of the call.
struct RunOptions {
    std::optional<readers::FieldBookFormat> format;  ///< told from each book when empty
    std::optional<std::string> startRL;
    std::optional<std::string> endRL;
    bool asJson = false;
    /// JSON Lines naming the book, even for one book.
    bool jsonLines = false;
    std::string encoding;
    core::CheckLimits limits;
    /// More than one field book: JSON Lines naming the book, and problems named by their book.
    bool manyBooks = false;
};

/// One levelling line of a field book: a GSI book may hold several, each reduced as a field
/// book of its own; any other book holds one.
struct BookItem {
    std::string fieldBook;
    int run = 1;         ///< 1-based
    int runsOf = 1;      ///< how many the book holds
    bool named = false;  ///< chosen with --run, or one of several: reports say which
    std::string runName;
};

/// One field book's run and the outputs asked of it (empty when not asked), named in full.
struct BookPlan {
    std::string fieldBook;
    std::string savePath;  ///< the workbook, its extension added
    std::string pdfPath;
    BookItem item;
};

/// The levelling lines to reduce of each field book: every line of a GSI book of several, in
/// turn, or the one `runNumber` names; one of any other book. Only regular files are looked
/// into: standard input, a pipe or a FIFO has one pass, the read's.
std::vector<BookItem> ExpandRuns(const std::vector<std::string>& fieldBooks,
                                 const std::optional<readers::FieldBookFormat>& format,
                                 const std::optional<int>& runNumber, const std::string& encoding);

/// The status of rendle-reduce for this book: 0 reduced, 1 read ended without a message, 2 read
/// ended with a message, 3 the reduction stopped early, 4 an output could not be written, 64 a
/// format that cannot be told. The workbook and the PDF are written only when the read ended
/// normally (0 or 3); the report or the JSON object is written for every book.
int ReduceBook(const RunOptions& options, const BookPlan& plan, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err);

}  // namespace rendle::cli
