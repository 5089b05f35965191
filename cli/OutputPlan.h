// Where rendle-reduce writes each field book's workbook and PDF, checked before any work starts.
#pragma once

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
bool PlanOutputs(const std::vector<BookItem>& items, const std::string& saveTarget,
                 const std::string& pdfTarget, std::vector<BookPlan>& plans, std::string& refusal);

}  // namespace rendle::cli
