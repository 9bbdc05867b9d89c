#pragma once
// Private helpers of the IFT engine shared between its source files.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"

// Internal invariants: kept in debug and sanitizer builds.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
#define PX_ASSERT(cond) ((void)0)
#else
#define PX_ASSERT(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond), std::abort()))
#endif

namespace ift_detail {

// The IFT with ifWatershedMetric as arc weight and one of the library's five
// path costs (nothing else), writing label, cost and, when pred is not null,
// predecessor straight into the arrays given (npixels of img each), served in
// decreasing cost when `decreasing`. Lets the reconstructions fill their
// outputs without a work image; the results are those of iftNonNormalized
// (Inverted) on the same arguments.
void watershedIft(Image *img, int *label, int *cost, int *pred, AdjacencyFn adjacency, int maxcost,
                  PathCostFn pathCost, bool decreasing, Roots *seeds);


// The queue's own message when its memory cannot be had.
[[noreturn]] inline void queueAllocationFailed(const char *which)
{
    px::fatal(PX_FATAL_MEMORY, "Could not allocate queue (%s) in initQueue\n", which);
}

// Row of a pixel index by multiplication: exact for every 32-bit index and
// width (Lemire, Kaser and Kurz, "Faster remainder by direct computation",
// 2019), and much cheaper than a division once per served pixel.
class RowOf {
public:
    explicit RowOf(int ncols)
        : d_(static_cast<std::uint32_t>(ncols)), m_(ncols > 1 ? UINT64_MAX / d_ + 1 : 0)
    {
    }
    int operator()(int p) const
    {
        if (d_ == 1) return p;
        return static_cast<int>((static_cast<unsigned __int128>(m_) * static_cast<std::uint32_t>(p)) >> 64);
    }

private:
    std::uint32_t d_;
    std::uint64_t m_;
};

// The bucket queue with each element's links and state in one record: the
// loop touches one place per pixel instead of three arrays. Same discipline
// as the public queue.
class PixelQueue {
public:
    struct Link {
        int prev, next, state;
    };

    PixelQueue(int nbuckets, int nelems) : nbuckets_(nbuckets)
    {
        try {
            first_.assign(static_cast<std::size_t>(nbuckets), NONE);
            last_.assign(static_cast<std::size_t>(nbuckets), NONE);
        } catch (const std::exception &) {
            queueAllocationFailed("Q");
        }
        try {
            link_.assign(static_cast<std::size_t>(nelems), Link{NONE, NONE, QUEUE_ABSENT});
        } catch (const std::exception &) {
            queueAllocationFailed("A");
        }
    }

    int state(int e) const { return link_[e].state; }

    void append(int b, int e)
    {
        Link &l = link_[e];
        int tail = last_[b];
        if (tail == NONE) first_[b] = e;
        else link_[tail].next = e;
        l.prev = tail;
        l.next = NONE;
        l.state = b;
        last_[b] = e;
    }

    // Appends an absent e; moves a queued one to the tail of bucket b (also
    // when b is its bucket).
    void insertOrMove(int b, int e)
    {
        Link &l = link_[e];
        if (l.state != QUEUE_ABSENT) {
            int ob = l.state, p = l.prev, n = l.next;
            if (p == NONE) first_[ob] = n;
            else link_[p].next = n;
            if (n == NONE) last_[ob] = p;
            else link_[n].prev = p;
        }
        append(b, e);
    }

    // The head of the first non-empty bucket from the cursor on, searching
    // circularly like isEmpty; -1 when every bucket is empty.
    int pop()
    {
        int b = current_;
        if (first_[b] == NONE) {
            const int start = b;
            do {
                b = b + 1 == nbuckets_ ? 0 : b + 1;
            } while (first_[b] == NONE && b != start);
            current_ = b;
            if (first_[b] == NONE) return NONE;
        }
        int e = first_[b];
        int n = link_[e].next;
        first_[b] = n;
        if (n == NONE) last_[b] = NONE;
        else link_[n].prev = NONE;
        link_[e].state = QUEUE_DONE;
        return e;
    }

private:
    static constexpr int NONE = -1;
    int nbuckets_;
    int current_ = 0;
    std::vector<int> first_, last_;
    std::vector<Link> link_;
};

} // namespace ift_detail
