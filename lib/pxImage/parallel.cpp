// The thread count of the data-parallel operators: a process-wide setting,
// else the environment, else the machine.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "parallel.h"

namespace {

// Beyond this many threads the stripes of a large image get too thin to pay
// for their starts and joins; it also keeps a mistyped count from asking the
// system for millions of threads.
constexpr int MAX_THREADS = 256;

std::atomic<int> threadSetting{0};

int hardwareThreads()
{
    static const int n = static_cast<int>(std::min<unsigned>(
        std::max(std::thread::hardware_concurrency(), 1u), MAX_THREADS));
    return n;
}

// FORESTING_NUM_THREADS as a count, or 0 when it is unset or not a positive
// integer. Read on every call, so a change of the environment takes effect.
int environmentThreads()
{
    const char *text = std::getenv("FORESTING_NUM_THREADS");
    if (!text || !*text) return 0;
    errno = 0;
    char *end = nullptr;
    long n = std::strtol(text, &end, 10);
    while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
    if (*end || n < 1) return 0;
    if (errno == ERANGE || n > MAX_THREADS) return MAX_THREADS;
    return static_cast<int>(n);
}

} // namespace

extern "C" int pxSetNumThreads(int n)
{
    int value = n < 1 ? 0 : std::min(n, MAX_THREADS);
    return threadSetting.exchange(value);
}

extern "C" int pxGetNumThreads(void)
{
    int n = threadSetting.load();
    if (n > 0) return n;
    n = environmentThreads();
    return n > 0 ? n : hardwareThreads();
}
