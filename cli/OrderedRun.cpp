#include "cli/OrderedRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace rendle::cli {

namespace {

/// The status of an item whose work ended on an exception: an internal error.
constexpr int kInternalError = 70;

int Guarded(const ItemWork& work, size_t index, std::ostream& out, std::ostream& err) {
    try {
        return work(index, out, err);
    } catch (const std::exception& error) {
        err << "rendle-reduce: " << error.what() << "\n";
    } catch (...) {
        err << "rendle-reduce: an unexpected error ended the work on a field book\n";
    }
    return kInternalError;
}

/// The output of an item run on its own: each flush hands what was written so far, with its
/// problems, on at once.
class DeliveringBuffer : public std::stringbuf {
  public:
    DeliveringBuffer(const Deliver& deliver, std::ostringstream& err)
        : deliver_(deliver), err_(err) {}
    bool Failed() const { return failed_; }

  protected:
    int sync() override {
        if (failed_) return -1;
        ItemOutput part{0, str(), err_.str(), false};
        str({});
        err_.str({});
        if (part.out.empty() && part.err.empty()) return 0;
        failed_ = !deliver_(part);
        return failed_ ? -1 : 0;
    }

  private:
    const Deliver& deliver_;
    std::ostringstream& err_;
    bool failed_ = false;
};

/// Runs an item on its own, delivering its output as it goes; false when a part could not be
/// delivered.
bool RunDelivering(const ItemWork& work, size_t index, const Deliver& deliver, int& status) {
    std::ostringstream err;
    DeliveringBuffer buffer(deliver, err);
    std::ostream out(&buffer);
    status = Guarded(work, index, out, err);
    if (buffer.Failed()) return false;
    return deliver(ItemOutput{status, buffer.str(), err.str(), true});
}

ItemOutput Run(const ItemWork& work, size_t index) {
    std::ostringstream out;
    std::ostringstream err;
    ItemOutput item;
    item.status = Guarded(work, index, out, err);
    item.out = std::move(out).str();
    item.err = std::move(err).str();
    return item;
}

}  // namespace

int WorseStatus(int a, int b) {
    static constexpr int kOrder[] = {0, 3, 1, 2, 64, 4, 70};
    const auto rank = [](int status) {
        const int* found = std::find(std::begin(kOrder), std::end(kOrder), status);
        return found == std::end(kOrder) ? static_cast<int>(std::size(kOrder)) + status
                                         : static_cast<int>(found - std::begin(kOrder));
    };
    return rank(b) > rank(a) ? b : a;
}

int RunInOrder(size_t count, unsigned threads, const ItemWork& work, const Deliver& deliver,
               const std::atomic<bool>& stop) {
    int highest = 0;
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count && !stop; ++i) {
            int status = 0;
            if (!RunDelivering(work, i, deliver, status)) break;
            highest = WorseStatus(highest, status);
        }
        return highest;
    }

    const size_t window = static_cast<size_t>(threads) * 4;
    std::mutex mutex;
    std::condition_variable finished;  // an item is ready to be delivered
    std::condition_variable room;      // an item was delivered, so another may start
    std::map<size_t, ItemOutput> ready;
    size_t next = 0;
    size_t written = 0;
    bool quit = false;  // a delivery failed or a stop was asked for: start nothing more

    auto worker = [&] {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock lock(mutex);
                room.wait(lock, [&] { return quit || next >= count || next < written + window; });
                if (quit || stop || next >= count) return;
                index = next++;
            }
            ItemOutput item = Run(work, index);
            {
                std::lock_guard lock(mutex);
                ready.emplace(index, std::move(item));
            }
            finished.notify_one();
        }
    };
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);

    while (written < count) {
        ItemOutput item;
        {
            std::unique_lock lock(mutex);
            // A stop asked for by a signal cannot wake the wait: it is looked for ten times a
            // second. Items under way are still delivered; those not started never are.
            while (ready.count(written) == 0 && !(stop && written >= next)) {
                finished.wait_for(lock, std::chrono::milliseconds(100));
            }
            auto found = ready.find(written);
            if (found == ready.end()) {
                quit = true;
                break;
            }
            item = std::move(found->second);
            ready.erase(found);
        }
        const bool delivered = deliver(item);
        if (delivered) highest = WorseStatus(highest, item.status);
        {
            std::lock_guard lock(mutex);
            ++written;
            quit = !delivered;
        }
        room.notify_all();
        if (!delivered) break;
    }
    room.notify_all();
    // The items under way finish before the pool is gone; their output is dropped.
    return highest;
}

}  // namespace rendle::cli
