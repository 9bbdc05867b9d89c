#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../../lib/pxImage/detail.h"
#include "../../lib/pxImage/parallel.h"
#include "support.h"

using namespace testing_support;

namespace {

struct Range {
    int begin, end, index;
    std::thread::id thread;
};

std::vector<Range> rangesOf(int n, int minPerTask)
{
    std::vector<Range> ranges(64, Range{-1, -1, -1, {}});
    std::atomic<int> calls{0};
    pxParallelRanges(n, minPerTask, [&](int b, int e, int i) {
        ranges.at(i) = Range{b, e, i, std::this_thread::get_id()};
        ++calls;
    });
    ranges.resize(calls.load());
    return ranges;
}

// Sets or clears FORESTING_NUM_THREADS for the length of a scope.
struct ScopedEnvironment {
    std::string old;
    bool had;
    explicit ScopedEnvironment(const char *value) : had(std::getenv("FORESTING_NUM_THREADS") != nullptr)
    {
        if (had) old = std::getenv("FORESTING_NUM_THREADS");
        if (value) setenv("FORESTING_NUM_THREADS", value, 1);
        else unsetenv("FORESTING_NUM_THREADS");
    }
    ~ScopedEnvironment()
    {
        if (had) setenv("FORESTING_NUM_THREADS", old.c_str(), 1);
        else unsetenv("FORESTING_NUM_THREADS");
    }
};

} // namespace

// The ranges tile [0, n) in index order, none shorter than asked, no more of
// them than threads, and range 0 runs on the caller.
TEST(Parallel, RangesTileTheItemsInOrder)
{
    for (int threads : {1, 2, 3, 7}) {
        ScopedThreads scoped(threads);
        for (int n : {0, 1, 2, 5, 7, 13, 64, 1000})
            for (int minPerTask : {0, 1, 2, 3, 100}) {
                std::vector<Range> ranges = rangesOf(n, minPerTask);
                SCOPED_TRACE("threads " + std::to_string(threads) + " n " + std::to_string(n) + " min " +
                             std::to_string(minPerTask));
                if (n == 0) {
                    EXPECT_TRUE(ranges.empty());
                    continue;
                }
                ASSERT_GE(ranges.size(), 1u);
                EXPECT_LE(static_cast<int>(ranges.size()), threads);
                if (ranges.size() > 1) {
                    EXPECT_LE(static_cast<int>(ranges.size()) * std::max(minPerTask, 1), n);
                }
                EXPECT_EQ(ranges[0].thread, std::this_thread::get_id());
                int next = 0;
                for (size_t i = 0; i < ranges.size(); ++i) {
                    EXPECT_EQ(ranges[i].index, static_cast<int>(i));
                    EXPECT_EQ(ranges[i].begin, next);
                    EXPECT_GE(ranges[i].end - ranges[i].begin, std::min(std::max(minPerTask, 1), n));
                    next = ranges[i].end;
                }
                EXPECT_EQ(next, n);
                // As many ranges as the threads allow.
                EXPECT_EQ(static_cast<int>(ranges.size()), std::max(1, std::min(threads, n / std::max(minPerTask, 1))));
            }
    }
}

// A fatal error raised on a worker reaches the caller's pxCatchFatal after the
// join, the lowest failing range's first; a nested loop stays on its thread.
TEST(Parallel, FatalErrorsOfRangesReachTheCaller)
{
    ScopedThreads scoped(4);
    std::string message;
    std::atomic<int> finished{0};
    int kind = catchFatal(
        [&] {
            pxParallelRanges(4, 1, [&](int b, int, int) {
                if (b >= 2) px::fatal(PX_FATAL_ARGUMENT, "range %d failed\n", b);
                ++finished;
            });
        },
        message);
    EXPECT_EQ(kind, PX_FATAL_ARGUMENT);
    EXPECT_EQ(message, "range 2 failed");
    EXPECT_EQ(finished.load(), 2);

    kind = catchFatal([&] { pxParallelRanges(4, 1, [&](int, int, int) { px::dieOutOfMemory(); }); }, message);
    EXPECT_EQ(kind, PX_FATAL_MEMORY);

    // Outside pxCatchFatal the message is printed once and the program ends,
    // as it would on one thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(pxParallelRanges(4, 1,
                                 [](int b, int, int) {
                                     if (b == 3) px::fatal(PX_FATAL_FILE, "could not open file x\n");
                                 }),
                testing::ExitedWithCode(1), "^could not open file x\n$");

    std::atomic<int> innerRanges{0};
    pxParallelRanges(4, 1, [&](int, int, int) {
        pxParallelRanges(100, 1, [&](int, int, int) { ++innerRanges; });
    });
    EXPECT_EQ(innerRanges.load(), 4);
}

// The setting wins over the environment, which wins over the machine; bad or
// absurd values cannot give zero or millions of threads.
TEST(Parallel, ThreadCountComesFromSettingEnvironmentOrMachine)
{
    int saved = pxSetNumThreads(0);
    int machine;
    {
        ScopedEnvironment none(nullptr);
        machine = pxGetNumThreads();
    }
    EXPECT_GE(machine, 1);
    EXPECT_LE(machine, 256);
    for (auto [text, expected] : std::vector<std::pair<const char *, int>>{
             {"3", 3}, {" 5\n", 5}, {"0", machine}, {"-2", machine}, {"two", machine}, {"4x", machine},
             {"", machine}, {"100000", 256}, {"99999999999999999999", 256}}) {
        ScopedEnvironment env(text);
        EXPECT_EQ(pxGetNumThreads(), expected) << '"' << text << '"';
    }
    ScopedEnvironment env("3");
    EXPECT_EQ(pxSetNumThreads(5), 0);
    EXPECT_EQ(pxGetNumThreads(), 5);
    EXPECT_EQ(pxSetNumThreads(1000), 5);
    EXPECT_EQ(pxGetNumThreads(), 256);
    EXPECT_EQ(pxSetNumThreads(-1), 256);
    EXPECT_EQ(pxGetNumThreads(), 3);
    pxSetNumThreads(saved);
}
