// The threads that run the parts of the parallel phases: every part once,
// whatever the number of threads and however they change, the first
// failure reported and the parts after it left, calls from inside a part,
// from two threads at once, and in a child made by fork().
#include "base/threads.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace talvo {
namespace {

class Threads : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { use_threads(GetParam()); }
    void TearDown() override { use_threads(0); }
};

INSTANTIATE_TEST_SUITE_P(OneTwoSeven, Threads, ::testing::Values(1, 2, 7));

// Runs `parts` parts and checks that each ran exactly once before the call
// returned.
void expect_each_once(std::size_t parts) {
    std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[parts + 1]);
    for (std::size_t p = 0; p <= parts; ++p) runs[p] = 0;
    run_parts(parts, [&](std::size_t part) {
        ASSERT_LT(part, parts);
        // Some parts take long enough for the others to overtake them.
        if (part % 13 == 5 && part < 300) std::this_thread::sleep_for(std::chrono::microseconds(50));
        runs[part].fetch_add(1);
    });
    for (std::size_t p = 0; p < parts; ++p) ASSERT_EQ(runs[p].load(), 1) << "part " << p << " of " << parts;
    ASSERT_EQ(runs[parts].load(), 0);
}

TEST_P(Threads, EveryPartRunsOnce) {
    for (std::size_t parts = 0; parts <= 40; ++parts) expect_each_once(parts);
    for (std::size_t parts : {63, 64, 65, 1000, 100003}) expect_each_once(parts);
}

// Many short calls one after the other, as an EM pass makes them: no call
// returns early and none loses a part.
TEST_P(Threads, ManyShortCallsInARow) {
    std::vector<std::size_t> sums(16);
    for (int call = 0; call < 20000; ++call) {
        const std::size_t parts = 1 + static_cast<std::size_t>(call) % 16;
        run_parts(parts, [&](std::size_t part) { sums[part] += part + 1; });
        std::size_t total = 0;
        for (std::size_t p = 0; p < parts; ++p) total += sums[p];
        ASSERT_EQ(total, parts * (parts + 1) / 2) << "call " << call;
        std::fill(sums.begin(), sums.end(), 0);
    }
}

TEST_P(Threads, PartsRunSideBySide) {
    if (GetParam() == 1) GTEST_SKIP() << "one thread";
    // Every part waits, for a while, until another part has begun: with
    // two threads or more that happens at once.
    std::atomic<int> begun{0}, met{0};
    run_parts(2, [&](std::size_t) {
        begun.fetch_add(1);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (begun.load() < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        if (begun.load() == 2) met.fetch_add(1);
    });
    EXPECT_EQ(met.load(), 2);
}

TEST_P(Threads, TheFirstFailureIsReportedAndLaterPartsAreLeft) {
    const std::size_t parts = 400;
    for (int round = 0; round < 20; ++round) {
        std::atomic<std::size_t> ran{0};
        try {
            run_parts(parts, [&](std::size_t part) {
                ran.fetch_add(1);
                if (part == 0) throw std::runtime_error("part 0");
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            });
            FAIL() << "no failure reported";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "part 0");
        }
        // The parts already begun when part 0 failed end; no other begins.
        EXPECT_LE(ran.load(), static_cast<std::size_t>(2 * GetParam())) << "round " << round;
        // And the next call runs in full.
        expect_each_once(57);
    }
}

TEST_P(Threads, OfSeveralFailuresOneIsReportedAndNothingIsLost) {
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> ended{0};
        try {
            run_parts(64, [&](std::size_t part) {
                if (part % 16 == 3) throw static_cast<int>(part);
                ended.fetch_add(1);
            });
            FAIL() << "no failure reported";
        } catch (int part) {
            EXPECT_EQ(part % 16, 3);
            // On one thread the parts run in order: the first is reported.
            if (GetParam() == 1) {
                EXPECT_EQ(part, 3);
            }
        }
        if (GetParam() == 1) {
            EXPECT_EQ(ended.load(), 3);
        }
    }
    expect_each_once(100);
}

TEST_P(Threads, CallsFromInsideAPartRunThere) {
    const std::size_t outer = 23, inner = 17;
    std::vector<std::atomic<int>> runs(outer * inner);
    for (auto& r : runs) r = 0;
    run_parts(outer, [&](std::size_t o) {
        const std::thread::id here = std::this_thread::get_id();
        run_parts(inner, [&](std::size_t i) {
            EXPECT_EQ(std::this_thread::get_id(), here);
            runs[o * inner + i].fetch_add(1);
        });
    });
    for (std::size_t k = 0; k < runs.size(); ++k) ASSERT_EQ(runs[k].load(), 1) << k;
}

TEST_P(Threads, AFailureInsideANestedCallReachesTheCaller) {
    EXPECT_THROW(run_parts(8,
                           [&](std::size_t o) {
                               run_parts(8, [&](std::size_t i) {
                                   if (o == 5 && i == 6) throw std::logic_error("inner");
                               });
                           }),
                 std::logic_error);
    expect_each_once(31);
}

TEST_P(Threads, CallsFromTwoThreadsAtOnce) {
    std::atomic<bool> wrong{false};
    auto caller = [&] {
        for (int call = 0; call < 300; ++call) {
            std::vector<std::atomic<int>> runs(37);
            for (auto& r : runs) r = 0;
            run_parts(runs.size(), [&](std::size_t p) { runs[p].fetch_add(1); });
            for (auto& r : runs)
                if (r.load() != 1) wrong = true;
        }
    };
    std::thread other(caller);
    caller();
    other.join();
    EXPECT_FALSE(wrong.load());
}

TEST(ThreadCounts, SwitchingBackAndForth) {
    for (int round = 0; round < 30; ++round) {
        for (int n : {7, 1, 2, 7, 2, 1, 3}) {
            use_threads(n);
            ASSERT_EQ(thread_count(), n);
            std::mutex lock;
            std::set<std::thread::id> seen;
            std::vector<int> runs(50, 0);
            run_parts(runs.size(), [&](std::size_t p) {
                std::lock_guard<std::mutex> hold(lock);
                ++runs[p];
                seen.insert(std::this_thread::get_id());
            });
            for (int r : runs) ASSERT_EQ(r, 1);
            // Never more threads than asked for.
            ASSERT_LE(seen.size(), static_cast<std::size_t>(n)) << "with " << n << " threads";
        }
    }
    use_threads(0);
}

TEST(ThreadCounts, AChildMadeByForkRunsParts) {
    // The parent's threads are started, then the child runs calls of its own.
    use_threads(2);
    expect_each_once(100);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);  // a child that hangs ends, and fails
        bool right = true;
        for (int n : {2, 7, 1, 2}) {
            use_threads(n);
            std::vector<std::atomic<int>> runs(500);
            for (auto& r : runs) r = 0;
            run_parts(runs.size(), [&](std::size_t p) { runs[p].fetch_add(1); });
            for (auto& r : runs) right = right && r.load() == 1;
        }
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    expect_each_once(100);
    use_threads(0);
}

}  // namespace
}  // namespace talvo
