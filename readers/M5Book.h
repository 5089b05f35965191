// Zeiss M5 field books (the Zeiss and Trimble DiNi levels, Elta recorders): one record a line,
// a sight code in the middle of the line, readings the instrument rejected marked "#####"; a
// book of one levelling line, or of several ("Start-Line", "Cont-Line").
#pragma once

#include <vector>

#include "core/LevelRun.h"
#include "readers/ReadResult.h"
#include "readers/ReaderParts.h"

namespace rendle::readers {

/// The levelling lines of an M5 book of more than one "Start-Line": each is its "Start-Line"
/// and every "Cont-Line" of its number, in book order; readings before the first "Start-Line"
/// form a line of their own. Lines without readings are not listed. A book of one line (or of
/// none named) is read whole: empty.
std::vector<LevellingLine> ListM5Lines(LineReader& lines);

namespace parts {

/// Reads what `lines` gives of an M5 book into the level sheet. A BF book is read line by line,
/// intermediate sights booked after a foresight placed before it; a book of another method has
/// each set-up gathered and laid out as BF lays it out, readings paired by their code. The
/// benchmark height on the line after the "Start-Line" (line 3) is the starting RL; the
/// instrument's heights are kept for the checks. Gives the rows written.
void ReadM5Lines(LineReader& lines, core::LevelRun& run, ReadWarnings& warnings);

}  // namespace parts

}  // namespace rendle::readers
