// Variants of the minimising IFT: normalised weights (times 49 over 50000
// buckets), arcs read from an arc-weight image, a mask restricting the graph,
// and the dynamic IFT that merges regions and records their contacts in a
// region graph while the forest grows.
//
// All of them run one loop, instantiated once per call for the arc source,
// the mask rule, the path cost and what happens when a served pixel meets a
// finished one: the library's own weight and path-cost functions are inlined,
// a user's function is called through its pointer. The queue is the public
// bucket queue's discipline (first-in first-out buckets, an improved pixel
// moves to the tail of its new bucket, a circular cursor) with each pixel's
// links and state in one record. Max path costs whose costs all have buckets
// of their own run a leaner loop that serves the same order (growInOrder).

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "../pxImage/parallel.h"
#include "detail.h"

namespace {

constexpr int NORMALISED_BUCKETS = 50000;
// 49999 div 1000: a normalised weight of 1000 times this stays inside the
// 50000 buckets, and so does every weight up to MAX_NORMALISED_WEIGHT.
constexpr int WEIGHT_SCALE = 49;
constexpr int MAX_NORMALISED_WEIGHT = 1020;
constexpr int WF_BUCKETS = 1001;

// ---- Path-cost rules -----------------------------------------------------

struct MaxCost {
    int operator()(int a, int w) const { return w > a ? w : a; }
};
struct MinCost {
    int operator()(int a, int w) const { return w < a ? w : a; }
};
struct SumCost {
    int operator()(int a, int w) const
    {
        return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(w));
    }
};
struct MaxLocalCost {
    int operator()(int a, int w) const { return a >= w ? a : IFT_INFINITY_MIN; }
};
struct MinLocalCost {
    int operator()(int a, int w) const { return a <= w ? a : IFT_INFINITY_MAX; }
};
struct UserCost {
    PathCostFn f;
    int operator()(int a, int w) const { return f(a, w); }
};

// Calls run(rule) with the inlined rule for the library's path costs and the
// pointer for any other.
template <class Run>
void withPathCost(PathCostFn pathCost, Run &&run)
{
    if (pathCost == ifPathCostMax) run(MaxCost{});
    else if (pathCost == ifPathCostMin) run(MinCost{});
    else if (pathCost == ifPathCostSum) run(SumCost{});
    else if (pathCost == ifPathCostMaxLocal) run(MaxLocalCost{});
    else if (pathCost == ifPathCostMinLocal) run(MinLocalCost{});
    else run(UserCost{pathCost});
}

// ---- Arc weights from a function over an adjacency relation -----------------

struct WatershedWeight {
    const int *value;
    int operator()(int, int q) const { return value[q]; }
};
struct UserWeight {
    WeightFn f;
    Image *img;
    int operator()(int p, int q) const { return f(img, p, q); }
};
// A normalised weight must stay where its scaled value cannot wrap around the
// queue and break the order: outside 0 .. 1020 it ends the program.
template <class W>
struct Normalised {
    W weight;
    const char *who;
    int operator()(int p, int q) const
    {
        int w = weight(p, q);
        if (static_cast<unsigned>(w) > static_cast<unsigned>(MAX_NORMALISED_WEIGHT))
            px::fatal(PX_FATAL_ARGUMENT, "%s: arc weight %d outside 0 .. %d\n", who, w, MAX_NORMALISED_WEIGHT);
        return w * WEIGHT_SCALE;
    }
};

template <class Run>
void withWeight(Image *img, WeightFn weight, Run &&run)
{
    if (weight == ifWatershedMetric) run(WatershedWeight{img->bands[0]});
    else run(UserWeight{weight, img});
}

using ift_detail::PixelQueue;
using ift_detail::RowOf;

// Neighbours in the relation's order: inside the safe area by linear offsets,
// elsewhere with a bounds test. f(j, q) for each neighbour q.
class Neighbours {
public:
    Neighbours(px::NeighbourTable t) : t_(std::move(t)), rowOf_(t_.ncols) {}

    template <class F>
    void forEach(int p, F &&f) const
    {
        const int y = rowOf_(p), x = p - y * t_.ncols;
        if (t_.inSafeArea(x, y)) {
            const int *off = t_.off.data();
            for (int j = 0; j < t_.n; ++j) f(j, p + off[j]);
        } else {
            const int *dx = t_.dx.data(), *dy = t_.dy.data();
            for (int j = 0; j < t_.n; ++j) {
                int nx = x + dx[j], ny = y + dy[j];
                if (nx >= 0 && nx < t_.ncols && ny >= 0 && ny < t_.nrows) f(j, ny * t_.ncols + nx);
            }
        }
    }

private:
    px::NeighbourTable t_;
    RowOf rowOf_;
};

// Arcs of an adjacency relation; the weight is worked out only when the loop
// asks for it (after the mask and done tests), so a user's function is called
// exactly where the plain algorithm calls it.
template <class W>
struct FunctionArcs {
    Neighbours neighbours;
    W weight;

    template <class F>
    void forEach(int p, F &&f) const
    {
        neighbours.forEach(p, [&](int, int q) { f(q, [&] { return weight(p, q); }); });
    }
};

// Per-pixel records of a large image on huge pages when the system grants
// them: the serving order jumps around the image, and with small pages nearly
// every jump is also a TLB miss. Uninitialised; an allocation failure ends
// the program.
template <class T>
class PixelRecords {
public:
    explicit PixelRecords(std::size_t count)
    {
        const std::size_t bytes = (count > 0 ? count : 1) * sizeof(T);
        void *p = std::malloc(bytes);
        px::adviseHugePages(p, bytes);
        if (!p) px::dieOutOfMemory();
        data_.reset(static_cast<T *>(p));
    }
    T *data() const { return data_.get(); }

private:
    struct Free {
        void operator()(T *p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> data_;
};

// Arcs of an arc-weight image: band j at p is the weight of the arc along pair
// j, a negative value no arc. An arc whose end lies outside the image is
// skipped whatever its band says (the images the library builds hold -1
// there); the safe area keeps that test off inner pixels.
//
// The weights are kept as one record of k entries per pixel, so that a served
// pixel reads one place instead of k bands. An Entry of int holds the weight
// itself; an Entry of uint16_t, for images whose weights all lie below 65535,
// holds the weight plus one and 0 for no arc, which halves the records.
template <class Entry>
struct ImageArcs {
    Neighbours neighbours;
    int k;
    int scale;
    PixelRecords<Entry> record;

    static constexpr bool compact = std::is_same<Entry, std::uint16_t>::value;
    static Entry encode(int v)
    {
        if constexpr (compact) return static_cast<Entry>(v < 0 ? 0 : v + 1);
        else return v;
    }

    const Entry *weightsOf(int p) const { return record.data() + static_cast<std::size_t>(p) * k; }

    template <class F>
    void forEach(int p, F &&f) const
    {
        const Entry *w = weightsOf(p);
        neighbours.forEach(p, [&](int j, int q) {
            if constexpr (compact) {
                if (w[j] != 0) f(q, [v = static_cast<int>(w[j]) - 1, s = scale] { return v * s; });
            } else {
                if (w[j] >= 0) f(q, [v = w[j], s = scale] { return v * s; });
            }
        });
    }
};

template <class T>
struct IsImageArcs : std::false_type {};
template <class Entry>
struct IsImageArcs<ImageArcs<Entry>> : std::true_type {};

// ---- Masks ----------------------------------------------------------------

struct NoMask {
    bool seedAllowed(int) const { return true; }
    bool blocked(int) const { return false; }
};
// A seed needs a strictly positive mask value, a neighbour only a non-zero one.
struct BandMask {
    const int *m;
    bool seedAllowed(int p) const { return m[p] > 0; }
    bool blocked(int q) const { return m[q] == 0; }
};

// ---- Queue ------------------------------------------------------------------

[[noreturn]] void dieQueue(const char *which) { ift_detail::queueAllocationFailed(which); }

// The true residue of a cost: no cost can name a bucket outside the queue.
int bucketOf(int c, int nbuckets)
{
    if (static_cast<unsigned>(c) < static_cast<unsigned>(nbuckets)) return c;
    const int r = c % nbuckets;
    return r < 0 ? r + nbuckets : r;
}

// ---- The loop -----------------------------------------------------------------

struct Bands {
    int *label, *cost, *pred;
};

// Nothing happens when a served pixel meets a finished one.
struct NoMerging {
    static constexpr bool tracksDone = false;
    void served(int) {}
    void metDone(int, int) {}
};

template <class Arcs, class Mask, class Cost, class Hooks>
void grow(int n, const Bands &r, int nbuckets, const Arcs &arcs, const Mask &mask, Cost cost,
          Hooks &hooks, Roots *seeds)
{
    PixelQueue queue(nbuckets, n);
    for (int p = 0; p < n; ++p) {
        r.cost[p] = IFT_INFINITY_MIN;
        r.label[p] = 0;
        r.pred[p] = p;
    }
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p < 0 || p >= n || !mask.seedAllowed(p)) continue;
        r.cost[p] = seeds->cost[i];
        r.label[p] = seeds->label[i];
        queue.insertOrMove(bucketOf(r.cost[p], nbuckets), p);
    }
    int *const costOf = r.cost, *const label = r.label, *const pred = r.pred;
    for (int p; (p = queue.pop()) >= 0;) {
        hooks.served(p);
        const int cp = costOf[p], lp = label[p];
        arcs.forEach(p, [&](int q, auto weight) {
            if (mask.blocked(q)) return;
            if (queue.state(q) == QUEUE_DONE) {
                hooks.metDone(p, q);
                return;
            }
            const int c = cost(cp, weight());
            if (c >= costOf[q]) return;
            costOf[q] = c;
            label[q] = lp;
            pred[q] = p;
            queue.insertOrMove(bucketOf(c, nbuckets), q);
        });
    }
}

// Max path costs (plain or Local) served in increasing order, with every seed
// cost and every scaled weight inside 0 .. nbuckets-1: then no cost wraps,
// costs are served in order, and an offer is never below the cost being
// expanded. So
//  - an offer to a finished pixel can never beat it, and the done test is
//    redundant;
//  - a pixel only ever moves to a lower bucket, never back to one it left, so
//    instead of unlinking it the loop appends it to its new bucket and skips
//    the entry it leaves behind when that bucket is served (the pixel's cost
//    then names another bucket);
//  - each bucket is served once, in the order of its entries.
// The serving order, and so every result, is that of the queue above.
template <class Cost>
constexpr bool servedInOrder()
{
    return std::is_same<Cost, MaxCost>::value || std::is_same<Cost, MaxLocalCost>::value;
}

// Seeds in array order; a pixel seeded again takes the later cost and label
// and goes where its last seed alone would have put it. Seeds outside the
// image or refused by the mask are skipped. Returns the seeded pixels in queue
// order (within one cost).
template <class Mask>
std::vector<int> enterSeeds(Roots *seeds, const Bands &r, int n, const Mask &mask)
{
    // pred holds, for the moment, the index of the last seed on each pixel.
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p < 0 || p >= n || !mask.seedAllowed(p)) continue;
        r.cost[p] = seeds->cost[i];
        r.label[p] = seeds->label[i];
        r.pred[p] = i;
    }
    std::vector<int> order;
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p >= 0 && p < n && mask.seedAllowed(p) && r.pred[p] == i) order.push_back(p);
    }
    for (int p : order) r.pred[p] = p;
    return order;
}

// What the in-order loop reads of a pixel, in one record: a pixel's
// neighbours lie in three rows, and one record per pixel costs a cache line
// per row instead of one per row and array. The results are copied out at the
// end.
struct Cell {
    int cost, label, pred, value;
};

// Arc weights for the in-order loop. From band 0 through ifWatershedMetric:
// the value at the arc's end, kept in its cell, times the scale.
struct ValueWeights {
    const Neighbours &neighbours;
    const int *value;
    int scale;

    void fill(Cell *cells, int n) const
    {
        for (int p = 0; p < n; ++p) cells[p].value = value[p];
    }
    void prefetch(int) const {}
    template <class F>
    void forEach(const Cell *cells, int p, F &&f) const
    {
        neighbours.forEach(p, [&](int, int q) { f(q, cells[q].value * scale); });
    }
};

// From an arc-weight image, through the record of its weights.
template <class Arcs>
struct RecordWeights {
    const Arcs &arcs;

    void fill(Cell *, int) const {}
    void prefetch(int p) const { __builtin_prefetch(arcs.weightsOf(p)); }
    template <class F>
    void forEach(const Cell *, int p, F &&f) const
    {
        arcs.forEach(p, [&](int q, auto weight) { f(q, weight()); });
    }
};

template <class Weights, class Mask, class Cost, class Hooks>
void growInOrder(int n, int ncols, const Bands &r, int nbuckets, const Weights &weights, const Mask &mask,
                 Cost cost, Hooks &hooks, Roots *seeds)
{
    // How many entries ahead of the pixel served the next ones are fetched.
    constexpr std::size_t PREFETCH_DISTANCE = 8;
    PixelRecords<Cell> cells(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) cells.data()[p] = Cell{IFT_INFINITY_MIN, 0, p, 0};
    weights.fill(cells.data(), n);

    std::vector<std::vector<int>> buckets;
    px::requireMemory(static_cast<double>(nbuckets) * sizeof(buckets), "the bucket queue");
    try {
        buckets.resize(static_cast<std::size_t>(nbuckets));
    } catch (const std::exception &) {
        dieQueue("Q");
    }
    auto append = [&](int b, int p) {
        try {
            buckets[b].push_back(p);
        } catch (const std::exception &) {
            dieQueue("A");
        }
    };
    {
        // Seeds entered through the result bands, then moved into the cells.
        for (int p : enterSeeds(seeds, r, n, mask)) {
            cells.data()[p].cost = r.cost[p];
            cells.data()[p].label = r.label[p];
            append(r.cost[p], p);
        }
    }
    Cell *const cell = cells.data();
    // Which pixels are finished, kept only when something happens at a
    // finished neighbour (no offer can beat one).
    std::vector<unsigned char> done;
    if constexpr (Hooks::tracksDone) done = px::buffer<unsigned char>(static_cast<std::size_t>(n));
    for (int b = 0; b < nbuckets; ++b) {
        std::vector<int> &bucket = buckets[b];
        // Offers at the cost being served join this bucket while it is served.
        for (std::size_t i = 0; i < bucket.size(); ++i) {
            if (i + PREFETCH_DISTANCE < bucket.size()) {
                // The rows around a pixel served soon; edge rows fetch their own
                // row again. GCC drops the prefetches of some equivalent
                // spellings (lambdas among them): check the disassembly after
                // changing this.
                const int e = bucket[i + PREFETCH_DISTANCE];
                const Cell *above = cell + (e >= ncols ? e - ncols : e), *at = cell + e,
                           *below = cell + (e + ncols < n ? e + ncols : e);
                __builtin_prefetch(above - 1, 1);
                __builtin_prefetch(above + 1, 1);
                __builtin_prefetch(at - 1, 1);
                __builtin_prefetch(at + 1, 1);
                __builtin_prefetch(below - 1, 1);
                __builtin_prefetch(below + 1, 1);
                weights.prefetch(e);
            }
            const int p = bucket[i];
            if (cell[p].cost != b) continue;  // moved to a lower bucket and served there
            if constexpr (Hooks::tracksDone) {
                done[p] = 1;
                hooks.served(cell, p);
            }
            const int lp = cell[p].label;
            weights.forEach(cell, p, [&](int q, int w) {
                if (mask.blocked(q)) return;
                if constexpr (Hooks::tracksDone) {
                    if (done[q]) {
                        hooks.metDone(cell, p, q);
                        return;
                    }
                }
                Cell &cq = cell[q];
                const int c = cost(b, w);
                if (c >= cq.cost) return;
                cq.cost = c;
                cq.label = lp;
                cq.pred = p;
                append(c, q);
            });
        }
        std::vector<int>().swap(bucket);
    }
    for (int p = 0; p < n; ++p) {
        r.cost[p] = cell[p].cost;
        r.label[p] = cell[p].label;
        r.pred[p] = cell[p].pred;
    }
}

// The in-order loop when the rule and the costs allow it, else the queue.
// The in-order loop needs only inOrderBuckets: no cost it meets passes the
// largest weight or seed cost, so the buckets above them would stay empty.
template <class Arcs, class Mask, class Cost>
void growVariant(int n, const Bands &r, int nbuckets, int inOrderBuckets, const Arcs &arcs, const Mask &mask,
                 Cost cost, Roots *seeds, int ncols, const int *values, bool costsInRange)
{
    NoMerging hooks;
    if constexpr (servedInOrder<Cost>()) {
        if (costsInRange) {
            if constexpr (IsImageArcs<Arcs>::value)
                return growInOrder(n, ncols, r, inOrderBuckets, RecordWeights<Arcs>{arcs}, mask, cost, hooks, seeds);
            else if constexpr (std::is_same<Arcs, FunctionArcs<Normalised<WatershedWeight>>>::value)
                return growInOrder(n, ncols, r, inOrderBuckets, ValueWeights{arcs.neighbours, values, WEIGHT_SCALE},
                                   mask, cost, hooks, seeds);
        }
    }
    grow(n, r, nbuckets, arcs, mask, cost, hooks, seeds);
}

// Every seed cost inside the image lies in 0 .. nbuckets-1.
bool seedCostsIn(const Roots *seeds, int n, int nbuckets)
{
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->pixel[i] >= 0 && seeds->pixel[i] < n &&
            static_cast<unsigned>(seeds->cost[i]) >= static_cast<unsigned>(nbuckets))
            return false;
    return true;
}

// ---- Argument checks (once per call) -------------------------------------------

Bands workBands(Image *work, const Image *img, const char *who)
{
    if (!work || work->nbands < 3 || work->npixels < img->npixels)
        px::fatal(PX_FATAL_ARGUMENT,
                  "%s: the work image needs 3 bands and %d pixels, it has %d bands and %d pixels\n", who,
                  img->npixels, work ? work->nbands : 0, work ? work->npixels : 0);
    const int nb = work->nbands;
    return {work->bands[nb - 3], work->bands[nb - 2], work->bands[nb - 1]};
}

void checkSize(const Image *other, const Image *img, const char *who, const char *what)
{
    if (!other || other->ncols != img->ncols || other->nrows != img->nrows || other->nbands < 1)
        px::fatal(PX_FATAL_ARGUMENT, "%s: the %s image is %d x %d, the input %d x %d\n", who, what,
                  other ? other->ncols : 0, other ? other->nrows : 0, img->ncols, img->nrows);
}

// An arc-weight image must have the input's size and a pair for every arc.
void checkArcImage(Image *weights, const Image *img, const char *who)
{
    checkSize(weights, img, who, "arc-weight");
    if (weights->adjCount < 0 || weights->adjCount > weights->nbands || (weights->adjCount > 0 && !weights->adjPairs))
        px::fatal(PX_FATAL_ARGUMENT, "%s: the arc-weight image has %d bands for %d arcs\n", who, weights->nbands,
                  weights->adjCount);
}

// The bands of an arc-weight image turned into one record of k entries per
// pixel, on the library's threads; sets `top` to the largest weight (-1 at
// least). With compact entries, returns false, and leaves the records
// unfinished, when a weight does not fit them.
template <class Arcs>
bool fillRecords(Arcs &arcs, Image *weights, int n, int &top)
{
    constexpr int COMPACT_LIMIT = 65534;
    const int k = arcs.k;
    const int *const *band = weights->bands;
    std::atomic<int> largest(-1);
    pxParallelRanges(n, 1 << 14, [&](int begin, int end, int) {
        auto *rec = arcs.record.data() + static_cast<std::size_t>(begin) * k;
        int t = -1;
        for (int p = begin; p < end; ++p) {
            for (int j = 0; j < k; ++j) {
                const int v = band[j][p];
                *rec++ = Arcs::encode(v);
                t = v > t ? v : t;
            }
            if (Arcs::compact && t > COMPACT_LIMIT) break;
        }
        for (int seen = largest.load(); t > seen && !largest.compare_exchange_weak(seen, t);) {
        }
    });
    top = largest.load();
    return !Arcs::compact || top <= COMPACT_LIMIT;
}

// Runs run(arcs) on the arcs of an arc-weight image, with weights times
// `scale`, and the largest scaled weight (-1 when there is no arc): compact
// records when every weight fits them, else records of int.
template <class Run>
void withImageArcs(Image *weights, const Image *img, int scale, const char *who, Run &&run)
{
    checkArcImage(weights, img, who);
    const int k = weights->adjCount, n = img->npixels;
    const px::NeighbourTable table(weights->adjPairs, k, img->ncols, img->nrows);
    auto finish = [&](auto &arcs, int top) {
        const long long largest = top < 0 ? -1 : static_cast<long long>(top) * scale;
        if (largest > INT_MAX)
            px::fatal(PX_FATAL_ARGUMENT, "%s: arc weight %d times %d is beyond int\n", who, top, scale);
        run(arcs, largest);
    };
    int top;
    {
        ImageArcs<std::uint16_t> arcs{Neighbours(table), k, scale,
                                      PixelRecords<std::uint16_t>(static_cast<std::size_t>(n) * k)};
        if (fillRecords(arcs, weights, n, top)) return finish(arcs, top);
    }
    ImageArcs<int> arcs{Neighbours(table), k, scale, PixelRecords<int>(static_cast<std::size_t>(n) * k)};
    fillRecords(arcs, weights, n, top);
    finish(arcs, top);
}

// The largest cost of a seed inside the image (INT_MIN when there is none).
long long largestSeedCost(const Roots *seeds, int n)
{
    long long top = INT_MIN;
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->pixel[i] >= 0 && seeds->pixel[i] < n && seeds->cost[i] > top) top = seeds->cost[i];
    return top;
}

// The specified bucket count, raised so that every arc weight and seed cost
// has a bucket of its own; kept inside 1 .. INT_MAX.
int coveringBuckets(long long specified, long long largestWeight, long long largestSeed)
{
    long long n = specified;
    if (largestWeight + 1 > n) n = largestWeight + 1;
    if (largestSeed + 1 > n) n = largestSeed + 1;
    return static_cast<int>(n < 1 ? 1 : n > INT_MAX ? INT_MAX : n);
}

template <class Mask>
void runFunctionVariant(Image *img, Image *work, const Mask &mask, AdjacencyFn adjacency, WeightFn weight,
                        PathCostFn pathCost, Roots *seeds, const char *who)
{
    const Bands r = workBands(work, img, who);
    Neighbours neighbours(px::NeighbourTable::from(adjacency, img->ncols, img->nrows));
    // The library's weight with every value a valid normalised weight: no
    // weight can fail its check, and the scaled weights fit the buckets.
    bool inRange = false;
    if (weight == ifWatershedMetric && seedCostsIn(seeds, img->npixels, NORMALISED_BUCKETS)) {
        const int *v = img->bands[0];
        inRange = std::all_of(v, v + img->npixels, [](int x) {
            return static_cast<unsigned>(x) <= static_cast<unsigned>(MAX_NORMALISED_WEIGHT);
        });
    }
    withWeight(img, weight, [&](auto w) {
        FunctionArcs<Normalised<decltype(w)>> arcs{neighbours, {w, who}};
        withPathCost(pathCost, [&](auto cost) {
            growVariant(img->npixels, r, NORMALISED_BUCKETS, NORMALISED_BUCKETS, arcs, mask, cost, seeds, img->ncols,
                        img->bands[0], inRange);
        });
    });
}

template <class Mask>
void runImageVariant(Image *img, Image *work, const Mask &mask, Image *weights, long long specified, int scale,
                     PathCostFn pathCost, Roots *seeds, const char *who)
{
    const Bands r = workBands(work, img, who);
    const long long largestSeed = largestSeedCost(seeds, img->npixels);
    withImageArcs(weights, img, scale, who, [&](const auto &arcs, long long largest) {
        const int nbuckets = coveringBuckets(specified, largest, largestSeed);
        const bool inRange = largest < nbuckets && seedCostsIn(seeds, img->npixels, nbuckets);
        const int inOrderBuckets = inRange ? coveringBuckets(0, largest, largestSeed) : nbuckets;
        withPathCost(pathCost, [&](auto cost) {
            growVariant(img->npixels, r, nbuckets, inOrderBuckets, arcs, mask, cost, seeds, img->ncols, nullptr,
                        inRange);
        });
    });
}

int bucketCount(int maxcost)
{
    long long n = static_cast<long long>(maxcost) + 1;
    return static_cast<int>(n < 1 ? 1 : n > INT_MAX ? INT_MAX : n);
}

// ---- Dynamic region merging ------------------------------------------------------

struct UnionFindOwner {
    UnionFind uf{};
    UnionFindOwner(int n, int nData) { ufStartUnionFind(&uf, n, nData); }
    ~UnionFindOwner() { ufReleaseUnionFind(&uf); }
    UnionFindOwner(const UnionFindOwner &) = delete;
    UnionFindOwner &operator=(const UnionFindOwner &) = delete;
};

void releaseGraph(Graph *g) { destroyGraph(&g); }
using GraphOwner = std::unique_ptr<Graph, void (*)(Graph *)>;

// A served pixel joins the region of its predecessor; a neighbour already
// finished in another label's region meets it for the first time when their
// sets still differ: the edge gets the region weight of that moment, then the
// two regions merge. Later contacts of joined regions add nothing.
template <class Records>
struct RegionMerging {
    static constexpr bool tracksDone = true;
    UnionFind *uf;
    Graph *graph;
    Image *img;
    RegionWeightFn regionWeight;
    Records rec;

    // ufFindSet and ufLink inlined (every index here is a pixel of the
    // forest): the same links, compression and merge calls.
    int find(int x) const
    {
        UnionFindElement *e = uf->elements;
        int root = x;
        while (e[root].parent != root) root = e[root].parent;
        while (e[x].parent != root) {
            const int next = e[x].parent;
            e[x].parent = root;
            x = next;
        }
        return root;
    }
    void link(int x, int y) const
    {
        UnionFindElement *e = uf->elements;
        if (e[x].rank > e[y].rank) {
            e[y].parent = x;
            if (uf->mergeData) uf->mergeData(e, x, y);
        } else {
            e[x].parent = y;
            if (uf->mergeData) uf->mergeData(e, y, x);
            if (e[x].rank == e[y].rank) ++e[y].rank;
        }
    }

    void served(int p)
    {
        const int pp = rec.pred(p);
        if (pp != p) link(find(p), find(pp));
    }
    void metDone(int p, int q)
    {
        const int lp = rec.label(p), lq = rec.label(q);
        if (lq == lp) return;
        if (find(p) == find(q)) return;
        const int w = regionWeight ? regionWeight(img, uf, p, q) : 0;
        insertEdge(graph, lp, lq, w);
        link(find(q), find(p));
    }
    // The same, from the in-order loop's records.
    void served(const Cell *cells, int p)
    {
        rec.cells = cells;
        served(p);
    }
    void metDone(const Cell *cells, int p, int q)
    {
        rec.cells = cells;
        metDone(p, q);
    }
};

// Labels and predecessors in the result bands (the queue's loop) or in the
// in-order loop's records.
struct BandRecords {
    const Bands &r;
    int label(int p) const { return r.label[p]; }
    int pred(int p) const { return r.pred[p]; }
};
struct CellRecords {
    const Cell *cells = nullptr;
    int label(int p) const { return cells[p].label; }
    int pred(int p) const { return cells[p].pred; }
};

} // namespace

extern "C" {

void ift(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost, Roots *seeds)
{
    runFunctionVariant(img, work, NoMask{}, adjacency, weight, pathCost, seeds, "ift");
}

void iftMask(Image *img, Image *work, Image *mask, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost,
             Roots *seeds)
{
    checkSize(mask, img, "iftMask", "mask");
    runFunctionVariant(img, work, BandMask{mask->bands[0]}, adjacency, weight, pathCost, seeds, "iftMask");
}

void iftWF(Image *img, Image *work, Image *weights, PathCostFn pathCost, Roots *seeds)
{
    runImageVariant(img, work, NoMask{}, weights, WF_BUCKETS, 1, pathCost, seeds, "iftWF");
}

void iftNonNormalizedWF(Image *img, Image *work, Image *weights, int maxcost, PathCostFn pathCost, Roots *seeds)
{
    runImageVariant(img, work, NoMask{}, weights, bucketCount(maxcost), 1, pathCost, seeds, "iftNonNormalizedWF");
}

void iftMaskWF(Image *img, Image *work, Image *mask, Image *weights, PathCostFn pathCost, Roots *seeds)
{
    checkSize(mask, img, "iftMaskWF", "mask");
    runImageVariant(img, work, BandMask{mask->bands[0]}, weights, NORMALISED_BUCKETS, WEIGHT_SCALE, pathCost,
                    seeds, "iftMaskWF");
}

// The graph needs a vertex for every seed label, which may exceed the seed
// count; a negative label has no vertex and is refused.
Graph *iftDinamicNonNormalized(Image *data, Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight,
                               int maxcost, PathCostFn pathCost, Roots *seeds, RegionWeightFn regionWeight,
                               InitDataFn init, MergeDataFn mergeData, int nData)
{
    const char *who = "iftDinamicNonNormalized";
    const Bands r = workBands(work, img, who);
    int top = seeds->count;
    for (int i = 0; i < seeds->count; ++i) {
        if (seeds->label[i] < 0)
            px::fatal(PX_FATAL_ARGUMENT, "%s: seed %d has the negative label %d\n", who, i, seeds->label[i]);
        top = seeds->label[i] > top ? seeds->label[i] : top;
    }

    UnionFindOwner forest(img->npixels + 1, nData);
    if (init) init(&forest.uf, data);
    forest.uf.mergeData = mergeData;
    GraphOwner graph(allocateGraph(top, 0), releaseGraph);
    if (!graph) px::dieOutOfMemory();

    Neighbours neighbours(px::NeighbourTable::from(adjacency, img->ncols, img->nrows));
    const int nbuckets = bucketCount(maxcost);
    // Max path costs on the library's weight with every value and seed cost a
    // bucket of its own: the in-order loop.
    bool inRange = false;
    if (weight == ifWatershedMetric && seedCostsIn(seeds, img->npixels, nbuckets)) {
        const int *v = img->bands[0];
        inRange = std::all_of(v, v + img->npixels, [nbuckets](int x) {
            return static_cast<unsigned>(x) < static_cast<unsigned>(nbuckets);
        });
    }
    withWeight(img, weight, [&](auto w) {
        FunctionArcs<decltype(w)> arcs{neighbours, w};
        withPathCost(pathCost, [&](auto cost) {
            using Rule = decltype(cost);
            if constexpr (servedInOrder<Rule>() && std::is_same<decltype(w), WatershedWeight>::value) {
                if (inRange) {
                    RegionMerging<CellRecords> hooks{&forest.uf, graph.get(), img, regionWeight, {}};
                    // No cost passes the largest value or seed cost: the
                    // buckets above them would stay empty.
                    const int *v = img->bands[0];
                    const int inOrderBuckets = coveringBuckets(0, img->npixels > 0 ? *std::max_element(v, v + img->npixels) : 0,
                                                               largestSeedCost(seeds, img->npixels));
                    return growInOrder(img->npixels, img->ncols, r, inOrderBuckets,
                                       ValueWeights{neighbours, img->bands[0], 1}, NoMask{}, cost, hooks, seeds);
                }
            }
            RegionMerging<BandRecords> hooks{&forest.uf, graph.get(), img, regionWeight, {r}};
            grow(img->npixels, r, nbuckets, arcs, NoMask{}, cost, hooks, seeds);
        });
    });
    Image *labels = pxCopyBand(work, PX_GREY_INT, work->nbands - 3);
    if (!labels) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    setLabelImage(graph.get(), labels);
    return graph.release();
}

} // extern "C"
