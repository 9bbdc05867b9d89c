#pragma once
// Private helpers of the IFT engine shared between its source files.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <vector>

#include <sys/mman.h>

#include "../ift.h"
#include "../pxImage/detail.h"

// Internal invariants: kept in debug and sanitizer builds.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
#define PX_ASSERT(cond) ((void)0)
#else
#define PX_ASSERT(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond), std::abort()))
#endif

namespace ift_detail {

// A block for the per-pixel records of a large image, on huge pages when the
// system grants them: the serving order jumps around the image, and with
// small pages nearly every jump is also a TLB miss. Small blocks come from
// malloc (a huge page would cost more to clear than it saves).
class LargeBlock {
public:
    explicit LargeBlock(std::size_t bytes)
    {
        constexpr std::size_t huge = std::size_t(2) << 20;
        if (bytes < 4 * huge) {
            data_ = std::malloc(bytes);
            if (!data_) px::dieOutOfMemory();
            return;
        }
        size_ = (bytes + huge - 1) / huge * huge;
        void *p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) px::dieOutOfMemory();
        madvise(p, size_, MADV_HUGEPAGE);  // advice only: failure changes nothing
        data_ = p;
    }
    ~LargeBlock()
    {
        if (size_) munmap(data_, size_);
        else std::free(data_);
    }
    LargeBlock(const LargeBlock &) = delete;
    LargeBlock &operator=(const LargeBlock &) = delete;
    void *data() const { return data_; }

private:
    void *data_ = nullptr;
    std::size_t size_ = 0;  // 0 for a malloc'd block
};


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
        px::requireMemory((2.0 * nbuckets + 3.0 * nelems) * sizeof(int), "the bucket queue");
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

// Bucket numbers for a circular queue of maxcost + 1 buckets in which only
// the keys given (each already reduced into 0 .. maxcost) can ever be used.
// When that queue would far outnumber the keys, the used keys are numbered in
// increasing order instead: the cursor meets the non-empty buckets in the same
// circular order, so the serving order is unchanged, and a claimed maxValue in
// the billions does not cost a bucket per level.
class QueueKeys {
public:
    // nkeys: maxcost + 1; npixels: the elements queued. forEachKey(add) calls
    // add(key) for every key that can be used (any order, repeats allowed); it
    // runs only when the used keys are numbered.
    template <class ForEachKey>
    QueueKeys(long long nkeys, long long npixels, ForEachKey forEachKey)
    {
        constexpr long long DENSE_LIMIT = 1 << 20;
        if (nkeys <= std::max(DENSE_LIMIT, 2 * npixels) && nkeys <= 2147483647LL) {
            count_ = static_cast<int>(nkeys < 1 ? 1 : nkeys);
            return;
        }
        try {
            forEachKey([this](int key) { used_.push_back(key); });
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
        std::sort(used_.begin(), used_.end());
        used_.erase(std::unique(used_.begin(), used_.end()), used_.end());
        count_ = used_.empty() ? 1 : static_cast<int>(used_.size());
        sparse_ = true;
    }
    int count() const { return count_; }
    int bucket(int key) const
    {
        if (!sparse_) return key;
        if (used_.empty()) return 0;
        // A key that was not listed takes the next used one (circularly), so
        // the bucket stays inside the queue.
        std::size_t i = static_cast<std::size_t>(std::lower_bound(used_.begin(), used_.end(), key) - used_.begin());
        return i == used_.size() ? 0 : static_cast<int>(i);
    }

private:
    int count_ = 1;
    bool sparse_ = false;
    std::vector<int> used_;
};

// Owners of a heap seed set (arrays and record) and of an image, for working
// memory that a fatal error may unwind through.
struct RootsDeleter {
    void operator()(Roots *r) const
    {
        ifReleaseRoots(r);
        std::free(r);
    }
};
using RootsOwner = std::unique_ptr<Roots, RootsDeleter>;

struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using ImageOwner = std::unique_ptr<Image, ImageDeleter>;

// The public bucket queue, released however the scope is left (a fatal
// error inside pxCatchFatal unwinds through it).
struct OwnedQueue {
    struct Arrays {
        QueueBuckets Q{};
        QueueElements A{};
        ~Arrays() { releaseQueue(&Q, &A); }
    } q;
    OwnedQueue(int nbuckets, int nelems) { initQueue(&q.Q, nbuckets, &q.A, nelems); }
    QueueBuckets *Q() { return &q.Q; }
    QueueElements *A() { return &q.A; }
};

// maxcost + 1, the size of a circular queue keyed by costs in 0 .. maxcost,
// kept at least 1 and without overflow.
inline long long queueSpan(int maxcost)
{
    long long n = static_cast<long long>(maxcost) + 1;
    return n < 1 ? 1 : n;
}

// The true (non-negative) residue of key modulo span: a cost outside
// 0 .. maxcost still names a bucket of the queue.
inline int wrapKey(long long key, long long span)
{
    long long r = key % span;
    return static_cast<int>(r < 0 ? r + span : r);
}

} // namespace ift_detail

namespace ift_detail {

// Owners for the C records of the region operations, so that a fatal error
// raised while they are alive (inside pxCatchFatal) releases them.
struct UnionFindOwner {
    UnionFind uf;
    UnionFindOwner(int nElements) { ufStartUnionFind(&uf, nElements, 0); }
    ~UnionFindOwner() { ufReleaseUnionFind(&uf); }
    UnionFindOwner(const UnionFindOwner &) = delete;
    UnionFindOwner &operator=(const UnionFindOwner &) = delete;
    int find(int x) { return ufFindSet(&uf, x); }
    void link(int x, int y) { ufLink(&uf, x, y); }
};

struct GraphOwner {
    Graph *g;
    explicit GraphOwner(Graph *graph) : g(graph) {}
    ~GraphOwner() { destroyGraph(&g); }
    GraphOwner(const GraphOwner &) = delete;
    GraphOwner &operator=(const GraphOwner &) = delete;
    Graph *release()
    {
        Graph *r = g;
        g = nullptr;
        return r;
    }
};

// Band 0 of the graph's label image, after checking that the graph has one
// and that every label names one of its `nVertices` vertices (a region
// operation indexes its per-vertex arrays with them).
const int *checkedLabels(const Graph *g, int nVertices, const char *who);

} // namespace ift_detail
