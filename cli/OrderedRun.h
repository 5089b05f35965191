// Work on many field books at once, its output kept in the order the books were given.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>

namespace rendle::cli {

/// The work on one item: writes its output and its problems to the two streams and gives its
/// exit status.
using ItemWork = std::function<int(size_t index, std::ostream& out, std::ostream& err)>;

/// Runs `work` for every index below `count` on `threads` threads and writes each item's output
/// to `out` and `err` in order of the index, whatever order the items finish in. With one thread
/// the items write straight to the streams. At most a few items per thread wait to be written,
/// so memory stays flat however many items there are. Gives the highest status of any item; an
/// item whose work throws is status 1 with the reason on `err`.
int RunInOrder(size_t count, unsigned threads, const ItemWork& work, std::ostream& out,
               std::ostream& err);

}  // namespace rendle::cli
