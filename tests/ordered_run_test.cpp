// Many field books at once: output in the order given, whatever order the work finishes in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/OrderedRun.h"

namespace {

TEST(RunInOrder, OutputInTheOrderGivenAndTheHighestStatus) {
    for (unsigned threads : {1U, 2U, 3U, 8U}) {
        SCOPED_TRACE(threads);
        std::atomic<int> running{0};
        std::atomic<int> mostAtOnce{0};
        const auto work = [&](size_t i, std::ostream& out, std::ostream& err) -> int {
            const int now = ++running;
            int seen = mostAtOnce.load();
            while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
            }
            // Early items take longest, so later ones finish first.
            std::this_thread::sleep_for(std::chrono::microseconds(i < 6 ? 3000 - 500 * i : 0));
            --running;
            if (i == 7) throw std::runtime_error("item seven failed");
            out << "out " << i << "\n";
            err << "err " << i << "\n";
            return i == 3 ? 4 : i == 5 ? 2 : 0;
        };
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(rendle::cli::RunInOrder(40, threads, work, out, err), 4);
        std::string expectedOut;
        std::string expectedErr;
        for (size_t i = 0; i < 40; ++i) {
            if (i == 7) {
                expectedErr += "rendle-reduce: item seven failed\n";
                continue;
            }
            expectedOut += "out " + std::to_string(i) + "\n";
            expectedErr += "err " + std::to_string(i) + "\n";
        }
        EXPECT_EQ(out.str(), expectedOut);
        EXPECT_EQ(err.str(), expectedErr);
        EXPECT_LE(mostAtOnce.load(), static_cast<int>(threads));
        if (threads > 1) {
            EXPECT_GT(mostAtOnce.load(), 1) << "the work ran on one thread only";
        }
    }
}

}  // namespace
