// Many field books at once: output in the order given, whatever order the work finishes in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cli/OrderedRun.h"

namespace {

const std::atomic<bool> kGoOn{false};

TEST(RunInOrder, TheWorseOfTwoStatusesByTheirOrder) {
    // A data error is not hidden behind a reduction that stopped, nor a failed output behind
    // a data error; order of the two given never matters.
    const struct {
        int a;
        int b;
        int worse;
    } cases[] = {
        {0, 0, 0}, {0, 3, 3},  {3, 1, 1},   {1, 2, 2},      {3, 2, 2},       {2, 64, 64},
        {2, 4, 4}, {64, 4, 4}, {4, 70, 70}, {70, 130, 130}, {130, 143, 143},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rendle::cli::WorseStatus(c.a, c.b), c.worse) << c.a << " " << c.b;
        EXPECT_EQ(rendle::cli::WorseStatus(c.b, c.a), c.worse) << c.b << " " << c.a;
    }
}

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
        const auto deliver = [&](const rendle::cli::ItemOutput& item) {
            out << item.out;
            err << item.err;
            return true;
        };
        EXPECT_EQ(rendle::cli::RunInOrder(40, threads, work, deliver, kGoOn), 70)
            << "the item that threw is an internal error";
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

TEST(RunInOrder, AFailedDeliveryOrAStopEndsTheRunWithWholeItemsOnly) {
    for (unsigned threads : {1U, 2U, 4U}) {
        SCOPED_TRACE(threads);
        std::atomic<size_t> started{0};
        std::atomic<bool> stop{false};
        const auto work = [&](size_t i, std::ostream& out, std::ostream&) {
            ++started;
            out << "book " << i << "\n";
            return i == 9 ? 2 : 0;
        };
        std::vector<std::string> delivered;
        // Standard output fails at the sixth item: nothing after it is delivered.
        const auto failing = [&](const rendle::cli::ItemOutput& item) {
            if (delivered.size() == 5) return false;
            delivered.push_back(item.out);
            return true;
        };
        EXPECT_EQ(rendle::cli::RunInOrder(1000, threads, work, failing, kGoOn), 0)
            << "the status of the ninth item was never delivered";
        EXPECT_EQ(delivered.size(), 5u);
        EXPECT_EQ(delivered.back(), "book 4\n");
        EXPECT_LT(started.load(), 6u + 5 * threads) << "work went on after the failure";

        // A stop asked for after the third item: the items under way come out whole.
        delivered.clear();
        started = 0;
        const auto stopping = [&](const rendle::cli::ItemOutput& item) {
            delivered.push_back(item.out);
            if (delivered.size() == 3) stop = true;
            return true;
        };
        rendle::cli::RunInOrder(1000, threads, work, stopping, stop);
        ASSERT_GE(delivered.size(), 3u);
        EXPECT_LT(delivered.size(), 4u + 5 * threads);
        for (size_t i = 0; i < delivered.size(); ++i) {
            EXPECT_EQ(delivered[i], "book " + std::to_string(i) + "\n");
        }
    }
}

}  // namespace

namespace {

TEST(RunInOrder, OneAtATimeEachFlushGoesOutAtOnce) {
    // An item of three lines, flushed after each: run one at a time, each line and its problem
    // are handed on before the next is written; a part that cannot be handed on stops the item.
    for (const size_t failAt : {size_t{0}, size_t{1}, size_t{2}}) {
        SCOPED_TRACE(failAt);
        std::vector<rendle::cli::ItemOutput> parts;
        size_t linesWritten = 0;
        const auto work = [&](size_t, std::ostream& out, std::ostream& err) -> int {
            for (int line = 1; line <= 3; ++line) {
                ++linesWritten;
                out << "line " << line << "\n";
                err << "said " << line << "\n";
                if (line < 3 && !out.flush()) return 9;
            }
            return 3;
        };
        const auto deliver = [&](const rendle::cli::ItemOutput& item) {
            parts.push_back(item);
            return failAt == 0 || parts.size() < failAt;
        };
        const int status = rendle::cli::RunInOrder(1, 1, work, deliver, kGoOn);
        if (failAt == 0) {
            ASSERT_EQ(parts.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(parts[i].out, "line " + std::to_string(i + 1) + "\n");
                EXPECT_EQ(parts[i].err, "said " + std::to_string(i + 1) + "\n");
                EXPECT_EQ(parts[i].whole, i == 2);
            }
            EXPECT_EQ(parts[2].status, 3);
            EXPECT_EQ(status, 3);
        } else {
            EXPECT_EQ(parts.size(), failAt) << "nothing handed on after the failed part";
            EXPECT_EQ(linesWritten, failAt) << "the item stopped at the failed part";
            EXPECT_EQ(status, 0) << "an item not delivered counts for nothing";
        }
    }
}

}  // namespace
