// The work of rendle-reduce on one field book: open, tell its format, read it into a level sheet
// of its own as the File menu command does, reduce, print and save as asked, and write the
// level report or the JSON document.
#pragma once

#include <atomic>
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
    /// The corrections of the readings asked for, and how the report says them.
    core::ReadingCorrections corrections;
    std::string correctionWords;
    /// More than one field book: JSON Lines naming the book, and problems named by their book.
    bool manyBooks = false;
    /// Set when the run is to stop (Ctrl+C): a read waiting on its input ends.
    const std::atomic<bool>* stop = nullptr;
};

/// A field book as given, and the levelling line to reduce when one was chosen (--run).
struct BookItem {
    std::string fieldBook;
    std::optional<int> run;  ///< 1-based; every line in turn without it
};

/// One field book and the outputs asked of it (empty when not asked), named in full. Of a book
/// of several levelling lines each line's outputs carry its number (ring.run-2.xlsx) when they
/// go to a folder.
struct BookPlan {
    std::string fieldBook;
    std::string savePath;  ///< the workbook, its extension added
    std::string pdfPath;
    BookItem item;
    bool saveInFolder = false;
    bool pdfInFolder = false;
    size_t index = 0;  ///< among the books given
};

/// Everything rendle-reduce does with one field book: read once into memory (a file, standard
/// input, a pipe, a FIFO), its format told and its levelling lines listed from those bytes,
/// then each line (or the one --run names) reduced as a field book of its own from the
/// program's start state, reports headed by the line when there are several. The status is
/// the worst of its lines (WorseStatus): 0 reduced, 1 read ended without a message, 2 read ended
/// with a message, 3 the reduction stopped early, 4 an output could not be written, 64 a format
/// that cannot be told, or one output file named for several lines. The workbook and the PDF are
/// written only for a line whose read ended normally (0 or 3).
int ReduceBook(const RunOptions& options, const BookPlan& plan, PdfPrinter& printer,
               WorkbookModuleWriter& writer, std::ostream& out, std::ostream& err);

}  // namespace rendle::cli
