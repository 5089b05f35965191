// The work of rendle-reduce on one field book: open, tell its format, read it into a level sheet
// of its own as the File menu command does, reduce, print and save as asked, and write the
// level report or the JSON document.
#pragma once

#include <optional>
#include <ostream>
#include <string>

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

/// One field book and the outputs asked of it (empty when not asked), named in full.
struct BookPlan {
    std::string fieldBook;
    std::string savePath;  ///< the workbook, its extension added
    std::string pdfPath;
};

/// The status of rendle-reduce for this book: 0 reduced, 1 read ended without a message, 2 read
/// ended with a message, 3 the reduction stopped early, 4 an output could not be written, 64 a
/// format that cannot be told. The workbook and the PDF are written only when the read ended
/// normally (0 or 3); the report or the JSON object is written for every book.
int ReduceBook(const RunOptions& options, const BookPlan& plan, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err);

}  // namespace rendle::cli
