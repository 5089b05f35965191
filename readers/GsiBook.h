// Leica GSI field books of digital levels (the LS and DNA series, the Sprinter): blocks of
// 16-character (GSI-8) or 24-character (GSI-16) words, one block a line, a book of one or more
// levelling lines, each read as the other readers read a run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/LevelRun.h"
#include "readers/ReadResult.h"
#include "readers/ReaderParts.h"

namespace rendle::readers {

/// True when `line` is a block of GSI words: an optional "*", then word 11 or 41 with its
/// sign in position 7.
bool LooksLikeGsi(std::string_view line);

/// The levelling lines of a GSI book, read to its end: each starts at its line-start block (41
/// with "?" in its data); readings before the first form a line of the BF method. Lines with
/// no readings are not listed. Blocks that cannot be read are passed over (`problem` says what
/// the first was): reading their line tells it. Empty for a book that could not be read to its
/// end.
std::vector<LevellingLine> ListGsiLines(LineReader& lines, std::string* problem = nullptr);

namespace parts {

/// Reads the levelling line `lines` gives (its spans of the book) into the level sheet: a
/// marker row and one BS row, its intermediate sights and one FS row per set-up, readings taken
/// twice averaged; the starting height as the entered starting RL; the instrument's heights and
/// station differences for the checks. Gives the rows written, as the other readers do.
/// `readings` (1 or 2 a set-up) holds until a start block names the method.
void ReadGsiLines(LineReader& lines, core::LevelRun& run, ReadWarnings& warnings, int readings = 1);

}  // namespace parts

}  // namespace rendle::readers
