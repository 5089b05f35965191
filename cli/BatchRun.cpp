#include "cli/BatchRun.h"

#include <cmath>
#include <sstream>

#include "grid/Utf8.h"

namespace rendle::cli {

using readers::FieldBookFormat;
using readers::ReadStatus;

BatchWindowing::BatchWindowing(std::string fieldBook, std::optional<std::string> startRL,
                               std::optional<std::string> endRL)
    : fieldBook_(std::move(fieldBook)) {
    // What is typed into FormRL's boxes is text of the program's own, so UTF-8.
    if (startRL) startRL_ = grid::ValidUtf8(*startRL);
    if (endRL) endRL_ = grid::ValidUtf8(*endRL);
}

void BatchWindowing::ShowMessage(std::string_view text, std::string_view title,
                                 commands::MessageIcon) {
    messages.push_back({std::string(title), std::string(text)});
}

std::string BatchWindowing::ShowOpenFileDialog(std::string_view, std::string_view) {
    return fieldBook_;
}

std::optional<commands::RLBoxes> BatchWindowing::ShowFormRL(const commands::RLBoxes& boxes) {
    commands::RLBoxes typed = boxes;
    if (startRL_) typed.start = *startRL_;
    if (endRL_) typed.end = *endRL_;
    return typed;
}

void BatchWindowing::SaveAsDialog(std::string_view, commands::FileSpec& fileSpec) {
    fileSpec.FileSpecName = saveName_;
}

void BatchWindowing::PrintSheet(const grid::Grid& sheet) {
    if (print_) print_(sheet);
}

int ExitStatus(const commands::ReadCommandResult& outcome) {
    switch (outcome.read.status) {
        case ReadStatus::Read:
            return outcome.reduction && outcome.reduction->status == core::ReductionStatus::Reduced
                       ? 0
                       : 3;
        case ReadStatus::EndedWithMessage:
            return 2;
        case ReadStatus::EndedSilently:
            break;
    }
    return 1;
}

}  // namespace rendle::cli
