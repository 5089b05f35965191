// Work on many field books at once, its output kept in the order the books were given.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace rendle::cli {

/// The work on one item: writes its output and its problems to the two streams and gives its
/// exit status.
using ItemWork = std::function<int(size_t index, std::ostream& out, std::ostream& err)>;

/// What one item wrote: whole, or a part of it when the item flushed its output stream (a
/// levelling line of a book of several), the rest to follow.
struct ItemOutput {
    int status = 0;
    std::string out;
    std::string err;
    bool whole = true;  ///< the item's last part: its work is done and `status` is its own
};

/// Hands an item's output on (to standard output and error); false when it could not, which
/// ends the run.
using Deliver = std::function<bool(const ItemOutput& item)>;

/// The worse of two exit statuses of rendle-reduce, by the one order they are ranked in, from
/// the least to the worst: 0 reduced, 3 the reduction stopped early, 1 the read ended without
/// a message, 2 the read ended with a message, 64 bad usage, 4 an output could not be written,
/// 70 an internal error. A status not named ranks above them all.
int WorseStatus(int a, int b);

/// Runs `work` for every index below `count` on `threads` threads and delivers each item's
/// output whole, in order of the index, whatever order the items finish in. Run one at a time,
/// an item's output goes out in parts as the work flushes it, so that a book of many lines
/// holds one line's report at a time; a part that cannot be delivered makes the output stream
/// bad, which the work may look at to stop early. At most a few items
/// per thread wait to be delivered, so memory stays flat however many items there are. Stops
/// starting items once `stop` is set or a delivery fails; what was not delivered is dropped.
/// Gives the worst status of the items delivered (WorseStatus); an item whose work throws is status
/// 70 (an internal error) with the reason in its error output.
int RunInOrder(size_t count, unsigned threads, const ItemWork& work, const Deliver& deliver,
               const std::atomic<bool>& stop);

}  // namespace rendle::cli
