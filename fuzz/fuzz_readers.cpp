// libFuzzer target: one field book of a format over arbitrary bytes, read into a laid-out level
// sheet and reduced as the read command would. The format comes from the build
// (RENDLE_FUZZ_FORMAT).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "core/LevelSheet.h"
#include "core/Reduction.h"
#include "core/RunState.h"
#include "grid/Grid.h"
#include "readers/FieldBook.h"

namespace {

/// Reads levelling line `number` of the book into a laid-out level sheet and reduces it as the
/// read command would.
void ReadAndReduce(const rendle::readers::Book& book, int number) {
    rendle::grid::Grid sheet;
    rendle::core::SetUpLevelSheet(sheet);
    rendle::core::RunState run;
    const rendle::readers::ReadResult read =
        rendle::readers::ReadFieldBook(book, number, sheet, run, rendle::readers::LineDecoder());
    if (read.status == rendle::readers::ReadStatus::Read) {
        // FormRL confirmed with OK on the boxes as the read filled them: the RLs come back as
        // the texts the boxes showed.
        const std::string start = rendle::core::RLText(run.EnteredStartRL);
        const std::string end = rendle::core::RLText(run.EndRL);
        run.EnteredStartRL = start;
        run.StartRL = start;
        run.EndRL = end;
        rendle::core::ReduceLevels(sheet, run);
    }
    // Every cell the read and the reduction left must be displayable. The used columns are
    // found once: asking per row would make the check quadratic in the rows.
    const int32_t lastCol = sheet.LastUsedCol();
    for (int32_t r = 1; r <= sheet.LastUsedRow(); ++r) {
        for (int32_t c = 1; c <= lastCol; ++c) (void)sheet.CellText(r, c);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The book read once, its levelling lines listed, and each of the first few read on its own.
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    rendle::readers::Book book;
    std::string error;
    if (!rendle::readers::LoadBook(in, rendle::readers::FieldBookFormat::RENDLE_FUZZ_FORMAT,
                                   rendle::readers::LineDecoder(), book, error)) {
        return 0;
    }
    const int lines = static_cast<int>(std::min<size_t>(std::max<size_t>(book.lines.size(), 1), 4));
    for (int number = 1; number <= lines; ++number) ReadAndReduce(book, number);
    return 0;
}
