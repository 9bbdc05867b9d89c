#pragma once
// Private: the library's one way of running work on several threads. A loop
// over n independent items is cut into contiguous ranges, one per thread, so
// that every operator's result is the same whatever the thread count.

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

#include "../pxImage.h"

namespace px {

// Held by every thread that runs a range: a fatal error there unwinds to the
// range's wrapper instead of ending the program from inside a parallel loop.
struct WorkerFatalScope {
    WorkerFatalScope();
    ~WorkerFatalScope();
    WorkerFatalScope(const WorkerFatalScope &) = delete;
    WorkerFatalScope &operator=(const WorkerFatalScope &) = delete;
};

// On the calling thread, after the join: an error caught in a range goes on as
// if it had been raised there (unwinding under pxCatchFatal, else its message
// printed and the program ended); any other exception is rethrown as it is.
[[noreturn]] void rethrowOnCaller(std::exception_ptr error);

// True on a thread while it runs a range: a parallel loop inside another one
// runs on its caller alone instead of multiplying the threads.
inline thread_local bool insideParallelRange = false;

// The number of ranges pxParallelRanges cuts n items into.
inline int parallelRangeCount(int n, int minPerTask)
{
    if (n <= 0) return 0;
    minPerTask = std::max(minPerTask, 1);
    if (insideParallelRange) return 1;
    return std::max(1, std::min(pxGetNumThreads(), n / minPerTask));
}

} // namespace px

// Cuts [0, n) into at most pxGetNumThreads() contiguous ranges of at least
// minPerTask items each (a single range when n < 2 * minPerTask) and calls
// f(begin, end, index) for each, range 0 on the calling thread and the others
// on their own std::thread; returns once every range is done. Range i is
// [n * i / k, n * (i + 1) / k) for k ranges. When ranges fail, the error of
// the lowest index comes back to the caller after the join. A thread that
// cannot be started leaves its range to the calling thread.
template <class F>
void pxParallelRanges(int n, int minPerTask, F &&f)
{
    const int tasks = px::parallelRangeCount(n, minPerTask);
    if (tasks == 0) return;
    if (tasks == 1) {
        f(0, n, 0);
        return;
    }
    auto begin = [n, tasks](int i) {
        return static_cast<int>(static_cast<long long>(n) * i / tasks);
    };
    std::vector<std::exception_ptr> errors(tasks);
    auto run = [&](int i) {
        px::WorkerFatalScope scope;
        px::insideParallelRange = true;
        try {
            f(begin(i), begin(i + 1), i);
        } catch (...) {
            errors[i] = std::current_exception();
        }
        px::insideParallelRange = false;
    };
    std::vector<std::thread> workers;
    workers.reserve(tasks - 1);
    int started = 1;
    try {
        for (; started < tasks; ++started) workers.emplace_back(run, started);
    } catch (...) {
        // No more threads to be had: the calling thread takes what is left.
    }
    run(0);
    for (int i = started; i < tasks; ++i) run(i);
    for (std::thread &t : workers) t.join();
    for (const std::exception_ptr &e : errors)
        if (e) px::rethrowOnCaller(e);
}
