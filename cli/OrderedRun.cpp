#include "cli/OrderedRun.h"

#include <algorithm>
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

int Guarded(const ItemWork& work, size_t index, std::ostream& out, std::ostream& err) {
    try {
        return work(index, out, err);
    } catch (const std::exception& error) {
        err << "rendle-reduce: " << error.what() << "\n";
    } catch (...) {
        err << "rendle-reduce: an unexpected error ended the work on a field book\n";
    }
    return 1;
}

struct Finished {
    int status = 0;
    std::string out;
    std::string err;
};

}  // namespace

int RunInOrder(size_t count, unsigned threads, const ItemWork& work, std::ostream& out,
               std::ostream& err) {
    int highest = 0;
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) highest = std::max(highest, Guarded(work, i, out, err));
        return highest;
    }

    const size_t window = static_cast<size_t>(threads) * 4;
    std::mutex mutex;
    std::condition_variable finished;  // an item is ready to be written
    std::condition_variable room;      // an item was written, so another may start
    std::map<size_t, Finished> ready;
    size_t next = 0;
    size_t written = 0;

    auto worker = [&] {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock lock(mutex);
                room.wait(lock, [&] { return next >= count || next < written + window; });
                if (next >= count) return;
                index = next++;
            }
            std::ostringstream itemOut;
            std::ostringstream itemErr;
            Finished item;
            item.status = Guarded(work, index, itemOut, itemErr);
            item.out = std::move(itemOut).str();
            item.err = std::move(itemErr).str();
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
        Finished item;
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] { return ready.count(written) > 0; });
            auto found = ready.find(written);
            item = std::move(found->second);
            ready.erase(found);
        }
        out << item.out;
        err << item.err;
        highest = std::max(highest, item.status);
        {
            std::lock_guard lock(mutex);
            ++written;
        }
        room.notify_all();
    }
    return highest;
}

}  // namespace rendle::cli
