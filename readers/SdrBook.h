// SDR20 and SDR33 field books of Sokkia's electronic field books: fixed-column records, a
// set-up record before each set-up and one reading record a sighting, read line by line.
#pragma once

#include "core/LevelRun.h"
#include "readers/ReadResult.h"
#include "readers/ReaderParts.h"

namespace rendle::readers::parts {

/// Reads an SDR20 or SDR33 book (`format`) into the level sheet: a marker row at each set-up
/// record, a data row at each reading record, the starting RL of the last benchmark record.
/// Gives the rows written.
void ReadSdrLines(FieldBookFormat format, LineReader& lines, core::LevelRun& run,
                  ReadWarnings& warnings);

}  // namespace rendle::readers::parts
