// Where rendle-reduce writes each field book's workbook and PDF, checked before any work starts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/ReduceBook.h"

namespace rendle::cli {

/// One plan per levelling line to reduce, every output named in full (a workbook's extension
/// added). --save and --pdf name a folder when it exists or the name ends in "/": each output is
/// then named after its field book ("ring.SDR" gives "DIR/ring.xlsx" and "DIR/ring.pdf"; line 2
/// of a GSI book of several "DIR/ring.run-2.xlsx"); otherwise, for one line of one book only, the
/// file. False, with the reason in `refusal`, when an output would be a field book, two outputs
/// would be the same file, a folder does not exist or is needed, or standard input is named
/// twice.
/// How many levelling lines a field book holds, where that can be told before the book's turn
/// without taking its bytes from anyone (a regular file); nothing otherwise.
using LineCounter = std::function<std::optional<int>(const std::string& fieldBook)>;

/// `countLines` is asked only of a book whose outputs' names may meet another name of the call
/// (ring.gsi of two lines and ring.run-1.gsi in one folder, or a book given twice).
bool PlanOutputs(const std::vector<BookItem>& items, const std::string& saveTarget,
                 const std::string& pdfTarget, const LineCounter& countLines,
                 std::vector<BookPlan>& plans, std::string& refusal);

/// The output of line `number` of a book of `of` lines, in a folder: ring.run-2.xlsx; the
/// book's own name for a book of one line, or outside a folder.
std::string LineOutput(const std::string& path, bool inFolder, int number, int of);

/// The numbers of the lines a call writes of a book of `lines` (0 or 1: a book of one line):
/// each, or the one --run names when the book holds it.
std::vector<int> LinesWritten(int lines, std::optional<int> run);

}  // namespace rendle::cli
