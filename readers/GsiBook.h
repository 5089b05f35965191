// Leica GSI field books of digital levels (the LS and DNA series, the Sprinter): blocks of
// 16-character (GSI-8) or 24-character (GSI-16) words, one block a line, a book of one or more
// levelling lines, each laid out in the level sheet as the other readers lay out a run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "readers/FieldBook.h"
#include "readers/ReaderParts.h"

namespace rendle::core {
struct RunState;
}

namespace rendle::readers {

/// One levelling line of a GSI book, as a list of its runs shows it.
struct GsiRun {
    int number = 0;      ///< 1-based, in the order of the book
    std::string name;    ///< the line's name (word 271), empty when the book gives none
    std::string method;  ///< "BF", "BFFB", "aBF" or "aBFFB"
    int setUps = 0;
    std::string firstPoint;
    std::string lastPoint;
    size_t line = 0;  ///< the line of the book where the run starts
};

/// True when `line` is a block of GSI words: an optional "*", then a word index of two digits
/// and a sign in position 7.
bool LooksLikeGsi(std::string_view line);

/// The runs of a GSI book, read to its end. A book without a line-start block (41) is one run
/// of the BF method. Blocks that cannot be read are passed over (`problem` says what the first
/// was): reading their line tells it. Empty for a book that could not be read to its end.
std::vector<GsiRun> ListGsiRuns(LineReader& lines, std::string* problem = nullptr);

namespace parts {

/// Reads run `runNumber` (1-based) of a GSI book into the level sheet: a marker row and one BS
/// row, its intermediate sights and one FS row per set-up, readings taken twice averaged; the
/// starting height as the entered starting RL; the instrument's heights and station
/// differences for the checks. Gives the rows written, as the other readers do.
RowCounter ReadGsiLines(LineReader& lines, int runNumber, grid::Grid& sheet, core::RunState& run,
                        std::vector<ReadWarning>& warnings);

}  // namespace parts

}  // namespace rendle::readers
