// Where rendle-reduce writes each field book's workbook and PDF, checked before any work starts.
#pragma once

#include <string>
#include <vector>

#include "cli/ReduceBook.h"

namespace rendle::cli {

/// One plan per field book. With one book, --save and --pdf name the files; with many they name
/// folders and each output is named after its field book ("ring.SDR" gives "DIR/ring.xlsx" and
/// "DIR/ring.pdf"). False, with the reason in `refusal`, when an output would be a field book,
/// two outputs would be the same file, a folder is no folder, or standard input is named twice.
bool PlanOutputs(const std::vector<std::string>& fieldBooks, const std::string& saveTarget,
                 const std::string& pdfTarget, std::vector<BookPlan>& plans, std::string& refusal);

}  // namespace rendle::cli
