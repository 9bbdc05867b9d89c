// The image foresting transform: best paths from a seed set over the pixel
// graph, served by a bucket queue, keeping the first of equal offers.
//
// Implementations that give identical results, chosen once per call:
//  - the generic one runs the algorithm as it is usually written, with the
//    public queue, and calls the caller's weight and path-cost functions once
//    per arc to a pixel that is not done;
//  - when the weight is ifWatershedMetric and the path cost one of the
//    library's own, a template instantiation runs with the arc rule inlined,
//    on a private queue with the same discipline (first-in first-out buckets,
//    an update re-appends at the tail, the circular cursor of isEmpty);
//  - and when, in addition, every cost lies in 0 .. maxcost and the rule moves
//    costs the way they are served (the reconstructions), a leaner queue that
//    the order of that case allows (see iftMonotone).

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

// ---- Path-cost rules ----------------------------------------------------
// Shared by the public functions and the inlined loops, so both agree.

// `sign` tells which way a rule moves a path's cost (+1 never down, -1 never
// up, 0 either); `sentinel` whether it can answer with an infinity value.
struct MaxCost {
    static int apply(int a, int w) { return w > a ? w : a; }
    static constexpr int sign = 1;
    static constexpr bool sentinel = false;
};
struct MinCost {
    static int apply(int a, int w) { return w < a ? w : a; }
    static constexpr int sign = -1;
    static constexpr bool sentinel = false;
};
// Wrapping addition: the sum is unchecked, but must not be undefined.
struct SumCost {
    static int apply(int a, int w)
    {
        return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(w));
    }
    static constexpr int sign = 0;
    static constexpr bool sentinel = false;
};
struct MaxLocalCost {
    static int apply(int a, int w) { return a >= w ? a : IFT_INFINITY_MIN; }
    static constexpr int sign = 1;
    static constexpr bool sentinel = true;
};
struct MinLocalCost {
    static int apply(int a, int w) { return a <= w ? a : IFT_INFINITY_MAX; }
    static constexpr int sign = -1;
    static constexpr bool sentinel = true;
};

// ---- Directions ---------------------------------------------------------
// The key of a cost is what the bucket index is taken from: the cost itself
// when the cheapest path is served first, maxcost - cost when the dearest is.

struct Increasing {
    static constexpr int sign = 1;
    static constexpr int infinity = IFT_INFINITY_MIN;
    static bool better(int c, int old) { return c < old; }
    static long long key(int, int c) { return c; }
};
struct Decreasing {
    static constexpr int sign = -1;
    static constexpr int infinity = IFT_INFINITY_MAX;
    static bool better(int c, int old) { return c > old; }
    static long long key(int maxcost, int c) { return static_cast<long long>(maxcost) - c; }
};

// maxcost + 1 buckets, kept inside 1 .. INT_MAX whatever maxcost is.
int bucketCount(int maxcost)
{
    long long n = static_cast<long long>(maxcost) + 1;
    if (n < 1) n = 1;
    if (n > INT_MAX) n = INT_MAX;
    return static_cast<int>(n);
}

// The true (non-negative) residue, so that no cost can name a bucket outside
// the queue; for keys in 0 .. nbuckets-1 it is the key itself.
int wrapBucket(long long key, int nbuckets)
{
    long long r = key % nbuckets;
    return static_cast<int>(r < 0 ? r + nbuckets : r);
}

// Where results go: the last three bands of a work image, or the outputs of
// a reconstruction directly (then pred may be null: not kept).
struct Bands {
    int *label, *cost, *pred;
};

Bands resultBands(Image *work)
{
    int nb = work->nbands;
    return {work->bands[nb - 3], work->bands[nb - 2], work->bands[nb - 1]};
}

template <class Dir>
void initialiseResults(const Bands &r, int n)
{
    for (int p = 0; p < n; ++p) {
        r.cost[p] = Dir::infinity;
        r.label[p] = 0;
        r.pred[p] = p;
    }
}

// ---- Generic path: the algorithm in its plain form, on the public queue ----

template <class Dir>
void iftGeneric(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight,
                int maxcost, PathCostFn pathCost, Roots *seeds)
{
    const int n = img->npixels;
    const int nbuckets = bucketCount(maxcost);
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, nbuckets, &A, n);
    const px::NeighbourTable table = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    const Bands r = resultBands(work);
    initialiseResults<Dir>(r, n);

    // A pixel seeded twice is moved, so the later seed's cost and label win
    // and the pixel is queued once.
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        r.cost[p] = seeds->cost[i];
        r.label[p] = seeds->label[i];
        int b = wrapBucket(Dir::key(maxcost, r.cost[p]), nbuckets);
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, b, p);
        else updateQueue(&Q, &A, b, p);
    }

    while (!isEmpty(&Q)) {
        int p = removeQueue(&Q, &A, Q.current);
        table.forEach(p, [&](int, int q) {
            if (A.bucketOf[q] == QUEUE_DONE) return;
            int c = pathCost(r.cost[p], weight(img, p, q));
            if (!Dir::better(c, r.cost[q])) return;
            r.cost[q] = c;
            r.label[q] = r.label[p];
            r.pred[q] = p;
            int b = wrapBucket(Dir::key(maxcost, c), nbuckets);
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, b, q);
            else updateQueue(&Q, &A, b, q);
        });
    }
    releaseQueue(&Q, &A);
}

// ---- Fast path -----------------------------------------------------------

[[noreturn]] void dieQueue(const char *which)
{
    px::fatal(PX_FATAL_MEMORY, "Could not allocate queue (%s) in initQueue\n", which);
}

// n ints, left uninitialised: every entry is written before it is read.
std::unique_ptr<int[]> uninitialisedInts(std::size_t n, const char *which)
{
    std::unique_ptr<int[]> p(new (std::nothrow) int[n > 0 ? n : 1]);
    if (!p) dieQueue(which);
    px::adviseHugePages(p.get(), n * sizeof(int));
    return p;
}

std::vector<int> filledInts(int n, int value, const char *which)
{
    try {
        return std::vector<int>(static_cast<std::size_t>(n), value);
    } catch (const std::exception &) {
        dieQueue(which);
    }
}

using ift_detail::RowOf;

// The neighbour loop of the fast path: pixels of the safe area add the
// linear offsets, the others test each displacement; both in table order.
class Neighbours {
public:
    Neighbours(const px::NeighbourTable &t, int ncols, int nrows)
        : t_(t), ncols_(ncols), nrows_(nrows), x0_(t.rx), x1_(ncols - t.rx), y0_(t.ry),
          y1_(nrows - t.ry), rowOf_(ncols)
    {
    }

    template <class F>
    void forEach(int p, F &&f) const
    {
        const int k = t_.n;
        const int y = rowOf_(p), x = p - y * ncols_;
        PX_ASSERT(x >= 0 && x < ncols_ && y >= 0 && y < nrows_);
        if (x >= x0_ && x < x1_ && y >= y0_ && y < y1_) {
            const int *off = t_.off.data();
            for (int j = 0; j < k; ++j) f(p + off[j]);
        } else {
            const int *dx = t_.dx.data(), *dy = t_.dy.data();
            for (int j = 0; j < k; ++j) {
                int nx = x + dx[j], ny = y + dy[j];
                if (nx >= 0 && nx < ncols_ && ny >= 0 && ny < nrows_) f(ny * ncols_ + nx);
            }
        }
    }

private:
    const px::NeighbourTable &t_;
    int ncols_, nrows_, x0_, x1_, y0_, y1_;
    RowOf rowOf_;
};

// Seeds enter in array order: a pixel seeded again takes the later cost
// and label and moves to the tail of its new bucket, which leaves it where
// its last seed alone would have put it. Seeds outside the image are skipped.
// Returns the pixels queued, in their queue order within each bucket.
std::vector<int> enterSeeds(Roots *seeds, const Bands &r, int n)
{
    // pred holds, for the moment, the index of the last seed on each pixel.
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        r.cost[p] = seeds->cost[i];
        r.label[p] = seeds->label[i];
        r.pred[p] = i;
    }
    std::vector<int> order;
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p >= 0 && p < n && r.pred[p] == i) order.push_back(p);
    }
    for (int p : order) r.pred[p] = p;
    return order;
}

using ift_detail::PixelQueue;

// The smallest and largest of the band-0 values and of the costs of the
// seeds inside the image (lo > hi when there are none).
void costSpan(Image *img, Roots *seeds, int &lo, int &hi)
{
    const int *v = img->bands[0];
    lo = INT_MAX;
    hi = INT_MIN;
    for (int p = 0; p < img->npixels; ++p) {
        lo = v[p] < lo ? v[p] : lo;
        hi = v[p] > hi ? v[p] : hi;
    }
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p < 0 || p >= img->npixels) continue;
        lo = seeds->cost[i] < lo ? seeds->cost[i] : lo;
        hi = seeds->cost[i] > hi ? seeds->cost[i] : hi;
    }
}

// The distinct slot(c) over the band-0 values and in-image seed costs c, in
// increasing order.
template <class Slot>
std::vector<int> usedSlots(Image *img, Roots *seeds, Slot slot)
{
    std::vector<int> levels = px::buffer<int>(static_cast<std::size_t>(img->npixels));
    std::transform(img->bands[0], img->bands[0] + img->npixels, levels.begin(), slot);
    try {
        for (int i = 0; i < seeds->count; ++i)
            if (seeds->pixel[i] >= 0 && seeds->pixel[i] < img->npixels) levels.push_back(slot(seeds->cost[i]));
    } catch (const std::exception &) {
        px::dieOutOfMemory();
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    return levels;
}

// A rule whose every accepted offer is the value of a pixel or the cost it
// already had: then only values and seed costs ever enter the queue. A rule
// whose own infinity is the best possible value in this direction (a Local
// rule run the other way) can put that infinity in the queue, and a sum can
// put anything there.
template <class Dir, class Cost>
constexpr bool closedRule()
{
    return Cost::sign != 0 && (!Cost::sentinel || Cost::sign == Dir::sign);
}

// Every value and seed cost lies in 0 .. maxcost, and the rule only answers
// with one of them or with an infinity that is never accepted: a key is its
// own bucket. Then every cost that enters the queue is one of those values or
// seed costs, and the buckets of all other levels stay empty all along: the
// cursor's circular search passes them without effect. So the queue holds a
// bucket per level of the span from the lowest to the highest of them, or,
// when that span is much larger than the image, a bucket per distinct level
// (a file that claims or holds a few huge levels must not cost a bucket per
// level in between). Any direction and rule, with done pixels tested before
// each arc; Wrap selects the true-residue buckets of all maxcost + 1 for costs
// outside that range. Those too keep only the buckets that can ever be filled
// when they far outnumber the pixels and the rule is closed: the used buckets
// in increasing order are searched in the same circular order.
template <class Dir, class Cost, bool Wrap>
void iftQueued(Image *img, const Bands &r, const px::NeighbourTable &table, int maxcost,
               Roots *seeds)
{
    constexpr long long DENSE_SLACK = 1 << 16;
    const int n = img->npixels;
    long long base = 0;  // the key of bucket 0
    const int wrapBuckets = bucketCount(maxcost);
    int nbuckets = Wrap ? wrapBuckets : 1;
    std::vector<int> slots;  // when not empty, buckets go by rank in it
    auto wrapped = [&](int c) { return wrapBucket(Dir::key(maxcost, c), wrapBuckets); };
    if (!Wrap) {
        int lo, hi;
        costSpan(img, seeds, lo, hi);
        if (lo <= hi) {
            const long long k0 = Dir::key(maxcost, lo), k1 = Dir::key(maxcost, hi);
            base = std::min(k0, k1);
            const long long span = std::max(k0, k1) - base + 1;
            if (span <= static_cast<long long>(n) + DENSE_SLACK) {
                nbuckets = static_cast<int>(span);
            } else {
                slots = usedSlots(img, seeds, [](int c) { return c; });
                nbuckets = static_cast<int>(slots.size());
            }
        }
    } else if (closedRule<Dir, Cost>() && wrapBuckets > static_cast<long long>(n) + DENSE_SLACK) {
        slots = usedSlots(img, seeds, wrapped);
        nbuckets = static_cast<int>(slots.size());
    }
    const int *value = img->bands[0];
    int *const cost = r.cost, *const label = r.label, *const pred = r.pred;
    PixelQueue queue(nbuckets, n);
    auto rank = [&](int slot) {
        return static_cast<int>(std::lower_bound(slots.begin(), slots.end(), slot) - slots.begin());
    };
    auto bucketFor = [&](int c) {
        if (Wrap) return slots.empty() ? wrapped(c) : rank(wrapped(c));
        if (!slots.empty()) return Dir::sign > 0 ? rank(c) : nbuckets - 1 - rank(c);
        return static_cast<int>(Dir::key(maxcost, c) - base);
    };

    initialiseResults<Dir>(r, n);
    for (int p : enterSeeds(seeds, r, n)) queue.insertOrMove(bucketFor(cost[p]), p);

    const Neighbours neighbours(table, img->ncols, img->nrows);
    for (int p; (p = queue.pop()) >= 0;) {
        const int cp = cost[p], lp = label[p];
        neighbours.forEach(p, [&](int q) {
            if (queue.state(q) == QUEUE_DONE) return;
            int c = Cost::apply(cp, value[q]);
            if (!Dir::better(c, cost[q])) return;
            cost[q] = c;
            label[q] = lp;
            pred[q] = p;
            queue.insertOrMove(bucketFor(c), q);
        });
    }
}

// First-in first-out buckets that are only ever appended to and served from
// the front: each bucket is a chain of fixed-size chunks taken from one pool
// and handed back as soon as they are served. The pool is reserved for the
// worst case (every pixel waiting at once) but only the chunks in use are
// ever touched, and what waits next in a bucket lies in one array, so the
// pixels to be served soon can be fetched well ahead.
class ChunkedBuckets {
public:
    static constexpr int CHUNK = 1024;
    static constexpr int NONE = -1;

    ChunkedBuckets(int nbuckets, int nelems)
        : head_(filledInts(nbuckets, NONE, "Q")), tail_(filledInts(nbuckets, NONE, "Q")),
          headPos_(filledInts(nbuckets, 0, "Q")), tailPos_(filledInts(nbuckets, 0, "Q"))
    {
        // Every element waits at most once; each bucket may hold two partly
        // used chunks besides the full ones. (Callers keep nbuckets small.)
        const std::size_t chunks = static_cast<std::size_t>(nelems) / CHUNK + 2 * static_cast<std::size_t>(nbuckets) + 1;
        pool_ = uninitialisedInts(chunks * CHUNK, "A");
        chainOf_ = uninitialisedInts(chunks, "A");
        capacity_ = chunks;
    }

    bool empty(int b) const { return head_[b] == NONE; }

    void push(int b, int e)
    {
        if (tail_[b] == NONE) {
            head_[b] = tail_[b] = takeChunk();
            headPos_[b] = tailPos_[b] = 0;
        } else if (tailPos_[b] == CHUNK) {
            int c = takeChunk();
            chainOf_[tail_[b]] = c;
            tail_[b] = c;
            tailPos_[b] = 0;
        }
        pool_[static_cast<std::size_t>(tail_[b]) * CHUNK + tailPos_[b]++] = e;
    }

    // Takes the front of a non-empty bucket out.
    int pop(int b)
    {
        const int c = head_[b];
        const int e = pool_[static_cast<std::size_t>(c) * CHUNK + headPos_[b]++];
        if (c == tail_[b] && headPos_[b] == tailPos_[b]) {
            giveBack(c);
            head_[b] = tail_[b] = NONE;
        } else if (headPos_[b] == CHUNK) {
            head_[b] = chainOf_[c];
            headPos_[b] = 0;
            giveBack(c);
        }
        return e;
    }

    // The element `ahead` places behind the front of bucket b, when it lies
    // in the front chunk; otherwise -1.
    int peek(int b, int ahead) const
    {
        const int c = head_[b];
        if (c == NONE) return NONE;
        const int pos = headPos_[b] + ahead;
        const int end = c == tail_[b] ? tailPos_[b] : CHUNK;
        return pos < end ? pool_[static_cast<std::size_t>(c) * CHUNK + pos] : NONE;
    }

private:
    int takeChunk()
    {
        if (freeTop_ != NONE) {
            int c = freeTop_;
            freeTop_ = chainOf_[c];
            return c;
        }
        // The reservation covers the worst case, so this cannot run out.
        PX_ASSERT(used_ < capacity_);
        return static_cast<int>(used_++);
    }
    void giveBack(int c)
    {
        chainOf_[c] = freeTop_;
        freeTop_ = c;
    }

    std::vector<int> head_, tail_, headPos_, tailPos_;
    std::unique_ptr<int[]> pool_, chainOf_;
    std::size_t used_ = 0, capacity_ = 0;
    int freeTop_ = NONE;
};

// Up to this many buckets (8- to 12-bit images) the chunked buckets pay:
// each waiting level may hold two partly used chunks.
constexpr int MONOTONE_MAX_BUCKETS = 4096;

// The common case, and the one sieve runs: keys are their own buckets (as
// above) and the rule moves costs in the direction they are served (max
// served increasing, min served decreasing, or their Local forms). Then
//  - costs are served in order, so the cursor never passes a waiting cost;
//  - an offer can never beat a pixel already done: it is at least as bad as
//    the cost being expanded, which is no better than any done cost;
//  - a pixel that entered the queue by an offer is never offered better
//    later, for the same reason; only a seed, which entered with a cost of
//    its own, can be beaten, and then only once, by its first better offer.
// So every bucket holds its seeds (in seed order) followed by what was
// appended to it, and nothing appended is ever unlinked again: the appended
// part is a plain first-in first-out list, the seed part a run of the seed
// array sorted by bucket, and a beaten seed is skipped there (it no longer
// carries its seed mark). The done test before each arc and all per-pixel
// queue state are redundant; the order, and so every result, is that of the
// public queue.
//
// It also follows that an arc needs to know of its far end only whether it
// is still unreached, a seed not yet beaten, or anything else (which no offer
// can beat), and for the first two its value. So the cost band itself holds
// one code per pixel while the forest grows: -1 - value while unreached
// (values lie in 0 .. maxcost), the cost once an offer has been taken, and
// for a seed not yet beaten a mark with both its value and its cost (each
// below MONOTONE_MAX_BUCKETS). An arc reads one int, and the loop needs no
// memory besides the results and the queue.
template <class Dir, class Cost, bool KeepPred>
void iftMonotone(Image *img, const Bands &r, const px::NeighbourTable &table, int maxcost,
                 Roots *seeds)
{
    constexpr int NONE = -1;
    constexpr int FIELD = 12, SEEDED = 1 << (2 * FIELD);
    static_assert(MONOTONE_MAX_BUCKETS <= 1 << FIELD, "a seed's value and cost must fit its code");
    auto seedCode = [](int value, int cost) { return SEEDED | value << FIELD | cost; };
    auto costOf = [](int code) { return code >= SEEDED ? code & ((1 << FIELD) - 1) : code; };
    // How many places ahead of the pixel served the next ones are fetched.
    constexpr int PREFETCH_DISTANCE = 8;
    const int n = img->npixels, ncols = img->ncols;
    const int nbuckets = maxcost + 1;
    auto keyOf = [&](int c) { return static_cast<int>(Dir::key(maxcost, c)); };

    // The values are read while the result bands are written: a caller may
    // hand the image's own band as one of them.
    std::vector<int> valueCopy;
    const int *value = img->bands[0];
    if (value == r.cost || value == r.label || value == r.pred) {
        valueCopy = px::buffer<int>(static_cast<std::size_t>(n));
        std::copy(value, value + n, valueCopy.begin());
        value = valueCopy.data();
    }
    int *const code = r.cost, *const label = r.label, *const pred = r.pred;
    for (int p = 0; p < n; ++p) {
        code[p] = -1 - value[p];
        label[p] = 0;
        if constexpr (KeepPred) pred[p] = p;
    }
    ChunkedBuckets buckets(nbuckets, n);

    // Seeds in array order; a pixel seeded again takes the later cost and
    // label and moves to the tail of its new bucket, which leaves it where its
    // last seed alone would have put it. Seeds outside the image are skipped.
    // label holds, for the moment, the index of the last seed on each pixel.
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p >= 0 && p < n) label[p] = i;
    }
    // The seeds as (bucket, pixel), sorted by bucket and within one in queue
    // order (a counting sort: the buckets are few).
    auto lastSeed = [&](int i) {
        const int p = seeds->pixel[i];
        return p >= 0 && p < n && label[p] == i;
    };
    std::vector<int> firstOf = px::buffer<int>(static_cast<std::size_t>(nbuckets) + 1);
    std::size_t nseeds = 0;
    for (int i = 0; i < seeds->count; ++i)
        if (lastSeed(i)) {
            ++firstOf[static_cast<std::size_t>(keyOf(seeds->cost[i])) + 1];
            ++nseeds;
        }
    for (int b = 0; b < nbuckets; ++b) firstOf[b + 1] += firstOf[b];
    std::vector<std::pair<int, int>> seeded = px::buffer<std::pair<int, int>>(nseeds);
    for (int i = 0; i < seeds->count; ++i)
        if (lastSeed(i)) {
            const int b = keyOf(seeds->cost[i]);
            seeded[static_cast<std::size_t>(firstOf[b]++)] = {b, seeds->pixel[i]};
        }
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        label[p] = seeds->label[i];
        code[p] = seedCode(value[p], seeds->cost[i]);
    }
    std::size_t nextSeed = 0;

    // One row of three codes around a pixel that will be served soon (it may
    // straddle two lines).
    auto prefetchRow = [&](int e) {
        __builtin_prefetch(code + e - 1, 1);
        __builtin_prefetch(code + e + 1, 1);
    };
    int current = 0;
    // The next pixel in serving order, as isEmpty and removeQueue give it.
    auto pop = [&]() -> int {
        const int start = current;
        int b = start;
        for (;;) {
            while (nextSeed < nseeds && seeded[nextSeed].first == b) {
                int s = seeded[nextSeed++].second;
                if (code[s] < SEEDED) continue;  // beaten and moved on
                current = b;
                return s;
            }
            if (!buckets.empty(b)) {
                int e = buckets.peek(b, PREFETCH_DISTANCE);
                if (e != NONE) {
                    // The rows above and below; edge rows fetch their own row again.
                    prefetchRow(e >= ncols ? e - ncols : e);
                    prefetchRow(e);
                    prefetchRow(e + ncols < n ? e + ncols : e);
                    __builtin_prefetch(label + e);
                }
                current = b;
                return buckets.pop(b);
            }
            b = b + 1 == nbuckets ? 0 : b + 1;
            if (b == start) return NONE;
        }
    };

    const Neighbours neighbours(table, ncols, img->nrows);
    for (int p; (p = pop()) >= 0;) {
        const int cp = costOf(code[p]), lp = label[p];
        neighbours.forEach(p, [&](int q) {
            const int w = code[q];
            int c;
            if (w < 0) {
                c = Cost::apply(cp, -1 - w);
                if (!Dir::better(c, Dir::infinity)) return;  // a Local rule's refusal
            } else {
                if (w < SEEDED) return;
                c = Cost::apply(cp, (w - SEEDED) >> FIELD);
                if (!Dir::better(c, costOf(w))) return;
            }
            code[q] = c;
            label[q] = lp;
            if constexpr (KeepPred) pred[q] = p;
            buckets.push(keyOf(c), q);
        });
    }

    for (int p = 0; p < n; ++p) {
        const int w = code[p];
        code[p] = w < 0 ? Dir::infinity : costOf(w);
    }
}

// True when every value and seed cost lies in 0 .. maxcost. A maxcost of
// INT_MAX (a file may claim it) is served by INT_MAX buckets, which still
// hold every cost below INT_MAX in a bucket of its own.
bool costsInRange(Image *img, int maxcost, Roots *seeds)
{
    if (maxcost < 0) return false;
    int lo, hi;
    costSpan(img, seeds, lo, hi);
    return lo > hi || (lo >= 0 && hi <= maxcost && hi < INT_MAX);
}

template <class Dir, class Cost>
void runWatershed(Image *img, Bands r, AdjacencyFn adjacency, int maxcost, Roots *seeds)
{
    const px::NeighbourTable table = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    constexpr bool closed = closedRule<Dir, Cost>();
    const bool direct = closed && costsInRange(img, maxcost, seeds);
    if constexpr (Cost::sign == Dir::sign && closed) {
        if (direct && maxcost < MONOTONE_MAX_BUCKETS) {
            if (r.pred) return iftMonotone<Dir, Cost, true>(img, r, table, maxcost, seeds);
            return iftMonotone<Dir, Cost, false>(img, r, table, maxcost, seeds);
        }
    }
    // The queued paths keep predecessors as they go (and use them while
    // entering seeds): give them a band when the caller wants none.
    std::vector<int> scratch;
    if (!r.pred) {
        scratch = px::buffer<int>(static_cast<std::size_t>(img->npixels));
        r.pred = scratch.data();
    }
    if (direct) iftQueued<Dir, Cost, false>(img, r, table, maxcost, seeds);
    else iftQueued<Dir, Cost, true>(img, r, table, maxcost, seeds);
}

template <class Dir>
bool runLibraryRule(Image *img, const Bands &r, AdjacencyFn adjacency, int maxcost,
                    PathCostFn pathCost, Roots *seeds)
{
    if (pathCost == ifPathCostMax) runWatershed<Dir, MaxCost>(img, r, adjacency, maxcost, seeds);
    else if (pathCost == ifPathCostMin) runWatershed<Dir, MinCost>(img, r, adjacency, maxcost, seeds);
    else if (pathCost == ifPathCostSum) runWatershed<Dir, SumCost>(img, r, adjacency, maxcost, seeds);
    else if (pathCost == ifPathCostMaxLocal) runWatershed<Dir, MaxLocalCost>(img, r, adjacency, maxcost, seeds);
    else if (pathCost == ifPathCostMinLocal) runWatershed<Dir, MinLocalCost>(img, r, adjacency, maxcost, seeds);
    else return false;
    return true;
}

// Chooses the instantiation once per call by the identity of the functions.
template <class Dir>
void runIft(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, int maxcost,
            PathCostFn pathCost, Roots *seeds)
{
    if (weight == ifWatershedMetric &&
        runLibraryRule<Dir>(img, resultBands(work), adjacency, maxcost, pathCost, seeds))
        return;
    iftGeneric<Dir>(img, work, adjacency, weight, maxcost, pathCost, seeds);
}

} // namespace

namespace ift_detail {

void watershedIft(Image *img, int *label, int *cost, int *pred, AdjacencyFn adjacency, int maxcost,
                  PathCostFn pathCost, bool decreasing, Roots *seeds)
{
    const Bands r{label, cost, pred};
    const bool known = decreasing
                           ? runLibraryRule<Decreasing>(img, r, adjacency, maxcost, pathCost, seeds)
                           : runLibraryRule<Increasing>(img, r, adjacency, maxcost, pathCost, seeds);
    PX_ASSERT(known);
    (void)known;
}

} // namespace ift_detail

extern "C" {

void iftNonNormalized(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight,
                      int maxcost, PathCostFn pathCost, Roots *seeds)
{
    runIft<Increasing>(img, work, adjacency, weight, maxcost, pathCost, seeds);
}

void iftNonNormalizedInverted(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight,
                              int maxcost, PathCostFn pathCost, Roots *seeds)
{
    runIft<Decreasing>(img, work, adjacency, weight, maxcost, pathCost, seeds);
}

int ifPathCostMax(int a, int w) { return MaxCost::apply(a, w); }
int ifPathCostMin(int a, int w) { return MinCost::apply(a, w); }
int ifPathCostSum(int a, int w) { return SumCost::apply(a, w); }
int ifPathCostMaxLocal(int a, int w) { return MaxLocalCost::apply(a, w); }
int ifPathCostMinLocal(int a, int w) { return MinLocalCost::apply(a, w); }

int ifWatershedMetric(Image *img, int, int q) { return img->bands[0][q]; }

// The squared differences are summed in 64 bits so that wide values cannot
// overflow; an image without bands has distance 0.
int ifEuclideanDistance(Image *img, int p, int q)
{
    if (img->nbands <= 0) return 0;
    long long s = 0;
    for (int b = 0; b < img->nbands; ++b) {
        long long d = static_cast<long long>(img->bands[b][p]) - img->bands[b][q];
        s += d * d;
    }
    return static_cast<int>(std::sqrt(static_cast<double>(s / img->nbands)));
}

int ifMaxDistance(Image *img, int p, int q)
{
    long long best = -1;
    for (int b = 0; b < img->nbands; ++b) {
        long long d = static_cast<long long>(img->bands[b][p]) - img->bands[b][q];
        if (d < 0) d = -d;
        if (d > best) best = d;
    }
    return best > INT_MAX ? INT_MAX : static_cast<int>(best);
}

int ifChanferDistance(Image *img, int p, int q)
{
    const int sameColumn = p % img->ncols == q % img->ncols;
    const int sameRow = p / img->ncols == q / img->ncols;
    return sameColumn || sameRow ? 12 : 17;
}

int eliminateSimilarRegions(void) { return 0; }

} // extern "C"
