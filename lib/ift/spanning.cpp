// Minimum spanning trees by Prim's algorithm (Prim, 1957) on the pixel graph
// and on region graphs, their cuts into regions, and the seeded IFT on a
// region graph.
//
// A pixel's priority in the pixel trees is the weight of the single arc that
// joins it to the tree, scaled by 49 so that weights in 0 .. 1000 fill 50000
// buckets. Arc weights drop below the cursor all the time, so insertions and
// moves pull the cursor back to their bucket; with every priority inside the
// queue the cursor then always stands at or below the lightest waiting arc,
// and pixels leave lightest first, first-in first-out among equal weights.
// The implementations here keep exactly that order with a queue keyed by the
// unscaled weight (the scaling is monotone), so only the buckets that can be
// filled exist.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

using ift_detail::checkedLabels;
using ift_detail::GraphOwner;
using ift_detail::ImageOwner;
using ift_detail::UnionFindOwner;

namespace {

// 49999 div 1000: a weight of 1000 scaled stays below the 50000 buckets.
constexpr int WEIGHT_SCALE = 49999 / 1000;
constexpr int PIXEL_BUCKETS = 50000;
// The largest weight a user's function may give: 1020 x 49 still fits the
// 50000 buckets.
constexpr int MAX_USER_WEIGHT = 1020;
constexpr int GRAPH_BUCKETS = 1001;
// Forest features of a region graph.
constexpr int FEATURE_LABEL = 0, FEATURE_COST = 1, FEATURE_PRED = 2, FOREST_FEATURES = 3;

// ---- Pixel trees -------------------------------------------------------------

// The bucket queue of the pixel trees. A pixel's priority only ever drops
// (an offer is accepted when strictly lighter), so a pixel never comes back
// to a bucket it has left: a move can leave the old entry where it is, to be
// dropped when it comes out (its cost is no longer the pixel's), and the new
// one goes to the tail of its bucket, where the public queue's move puts it.
// Buckets are then plain first-in first-out arrays and an offer touches no
// other pixel. A bit per bucket tells which hold entries; the search for the
// next pixel is the circular one of isEmpty, from the cursor, and buckets
// holding only dropped entries are passed as the empty buckets they stand
// for.
//
// The queue keeps no record of its own: the cost band holds each pixel's
// cost while it waits (INT_MAX before any offer) and its complement, which
// is negative, once it is done, so no offer can beat a done pixel.
template <class BucketCost>
class PrimQueue {
public:
    // bucketCost(b): the cost of the pixels that bucket b holds.
    PrimQueue(int nbuckets, int *code, BucketCost bucketCost)
        : buckets_(px::buffer<Bucket>(static_cast<std::size_t>(nbuckets))),
          used_(px::buffer<std::uint64_t>((static_cast<std::size_t>(nbuckets) + 63) / 64)), code_(code),
          bucketCost_(bucketCost)
    {
    }

    // insertQueueUpdateCurr for an absent e, updateQueueUpdateCurr for a
    // queued one (always to a lower bucket).
    void offer(int b, int e)
    {
        Bucket &k = buckets_[b];
        try {
            k.items.push_back(e);
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
        used_[b >> 6] |= std::uint64_t(1) << (b & 63);
        if (b < current_) current_ = b;
    }

    // isEmpty followed by removeQueue at the cursor; -1 when nothing waits.
    int pop()
    {
        for (;;) {
            int b = current_;
            if (!(used_[b >> 6] >> (b & 63) & 1)) {
                b = nextUsed(b);
                if (b < 0) return NONE;
                current_ = b;
            }
            Bucket &k = buckets_[b];
            const int e = k.items[k.head++];
            if (k.head == k.items.size()) {
                k.items.clear();
                k.head = 0;
                used_[b >> 6] &= ~(std::uint64_t(1) << (b & 63));
            }
            const int c = bucketCost_(b);
            if (code_[e] != c) continue;  // moved to a lower bucket since
            code_[e] = ~c;
            return e;
        }
    }

    // The entry `ahead` places behind the one served last in the cursor's
    // bucket, or -1.
    int peek(std::size_t ahead) const
    {
        const Bucket &k = buckets_[current_];
        return k.head + ahead < k.items.size() ? k.items[k.head + ahead] : NONE;
    }

private:
    static constexpr int NONE = -1;
    struct Bucket {
        std::vector<int> items;
        std::size_t head = 0;
    };

    // The first bucket holding entries after `from`, searching circularly;
    // -1 when there is none.
    int nextUsed(int from) const
    {
        const std::size_t words = used_.size();
        std::size_t w = static_cast<std::size_t>(from) >> 6;
        std::uint64_t bits = used_[w] & (~std::uint64_t(0) << (from & 63));
        for (std::size_t k = 0; k <= words; ++k) {
            if (bits) return static_cast<int>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
            w = w + 1 == words ? 0 : w + 1;
            bits = used_[w];
        }
        return NONE;
    }

    std::vector<Bucket> buckets_;
    std::vector<std::uint64_t> used_;
    int *code_;
    BucketCost bucketCost_;
    int current_ = 0;
};

[[noreturn]] void dieWeight(const char *who, long long w, int p, int q)
{
    px::fatal(PX_FATAL_ARGUMENT, "%s: arc weight %lld from pixel %d to pixel %d is outside 0 .. %d\n", who, w, p, q,
              MAX_USER_WEIGHT);
}

// Arcs of an adjacency relation with a weight function: the neighbour rule,
// with the bounds test only for pixels outside the safe area.
template <class Weight>
struct RelationArcs {
    static constexpr bool plainWeights = Weight::plainWeights;
    const px::NeighbourTable &table;
    Weight weight;

    template <class F>
    void forEach(int p, int x, int y, F &&f) const
    {
        const int k = table.n;
        if (table.inSafeArea(x, y)) {
            const int *off = table.off.data();
            for (int j = 0; j < k; ++j) f(p + off[j], j);
        } else {
            const int *dx = table.dx.data(), *dy = table.dy.data();
            for (int j = 0; j < k; ++j) {
                const int nx = x + dx[j], ny = y + dy[j];
                if (nx >= 0 && nx < table.ncols && ny >= 0 && ny < table.nrows) f(ny * table.ncols + nx, j);
            }
        }
    }

    // The unscaled weight of an arc to a pixel that is not done; a weight
    // the 50000 buckets cannot hold once scaled ends the program.
    int operator()(int p, int q, int j) const
    {
        const int w = weight(p, q, j);
        if (w < 0 || w > MAX_USER_WEIGHT) dieWeight("iftPrim", w, p, q);
        return w;
    }
};

// The library's weight functions, inlined; each gives what the public
// function gives for the same arc.
//
// The grey ones also give the weight as a plain value that may lie out of
// range (then the arc is taken the long way, which reports it): the loop
// weighs a pixel's neighbours without a branch per arc.
struct WatershedWeight {
    static constexpr bool plainWeights = true;
    const int *v;
    int operator()(int, int q, int) const { return v[q]; }
    long long plain(int, int q) const { return v[q]; }
};

struct GreyEuclideanWeight {
    static constexpr bool plainWeights = true;
    Image *img;
    const int *v;
    long long plain(int p, int q) const { return std::llabs(static_cast<long long>(v[p]) - v[q]); }
    int operator()(int p, int q, int) const
    {
        const long long d = std::llabs(static_cast<long long>(v[p]) - v[q]);
        // sqrt of a perfect square below 2^53 is exact; larger differences
        // are out of range anyway, and the public function reports them.
        return d <= MAX_USER_WEIGHT ? static_cast<int>(d) : ifEuclideanDistance(img, p, q);
    }
};

struct EuclideanWeight {
    static constexpr bool plainWeights = false;
    Image *img;
    int operator()(int p, int q, int) const { return ifEuclideanDistance(img, p, q); }
};

struct MaxWeight {
    static constexpr bool plainWeights = false;
    Image *img;
    int operator()(int p, int q, int) const { return ifMaxDistance(img, p, q); }
};

// 12 along a row or a column, 17 otherwise: fixed per displacement.
struct ChanferWeight {
    static constexpr bool plainWeights = false;
    const int *byDisplacement;
    int operator()(int, int, int j) const { return byDisplacement[j]; }
};

struct UserWeight {
    static constexpr bool plainWeights = false;
    Image *img;
    WeightFn fn;
    int operator()(int p, int q, int) const { return fn(img, p, q); }
};

// Arcs of an arc-weight image: band j at p is the weight of the arc to the
// j-th neighbour, negative for none. An arc that leaves the image cannot be
// followed, and ends the program rather than reach outside the image.
struct ImageArcs {
    static constexpr bool plainWeights = false;
    const px::NeighbourTable &table;
    int *const *bands;

    template <class F>
    void forEach(int p, int x, int y, F &&f) const
    {
        const int k = table.n;
        if (table.inSafeArea(x, y)) {
            const int *off = table.off.data();
            for (int j = 0; j < k; ++j)
                if (bands[j][p] >= 0) f(p + off[j], j);
        } else {
            const int *dx = table.dx.data(), *dy = table.dy.data();
            for (int j = 0; j < k; ++j) {
                if (bands[j][p] < 0) continue;
                const int nx = x + dx[j], ny = y + dy[j];
                if (nx < 0 || nx >= table.ncols || ny < 0 || ny >= table.nrows)
                    px::fatal(PX_FATAL_ARGUMENT, "iftPrimWF: arc %d of pixel %d (weight %d) leaves the image\n", j,
                              p, bands[j][p]);
                f(ny * table.ncols + nx, j);
            }
        }
    }

    int operator()(int p, int, int j) const { return bands[j][p]; }
};

// Bucket of an unscaled weight: the weight itself, or its rank among the
// weights present when they are few and far apart; cost() gives the scaled
// cost of a bucket's pixels.
struct DirectKey {
    int operator()(int w) const { return w; }
    struct Cost {
        int operator()(int b) const { return b * WEIGHT_SCALE; }
    };
    Cost cost() const { return {}; }
};
struct RankKey {
    const std::vector<int> *levels;
    int operator()(int w) const
    {
        return static_cast<int>(std::lower_bound(levels->begin(), levels->end(), w) - levels->begin());
    }
    struct Cost {
        const int *level;
        int operator()(int b) const { return level[b] * WEIGHT_SCALE; }
    };
    Cost cost() const { return {levels->data()}; }
};

using ift_detail::RowOf;

// Prim's algorithm from pixel 0 (the only root). Costs are the scaled
// weights; the parent band is written as pixels are offered.
//
// The loop waits mostly on the costs and values of the neighbours, which lie
// wherever the tree grows next. The pixels just behind the one served in its
// bucket are usually served soon, so the three rows of the one a few places
// on are fetched ahead.
template <class Arcs, class Key>
void primLoop(int n, int ncols, const Arcs &arcs, Key key, int nkeys, int *cost, int *parent,
              const int *values = nullptr)
{
    for (int p = 0; p < n; ++p) {
        cost[p] = IFT_INFINITY_MIN;
        parent[p] = p;
    }
    PrimQueue<typename Key::Cost> queue(nkeys, cost, key.cost());
    if (n > 0) {
        cost[0] = 0;
        queue.offer(key(0), 0);
    }
    // How many places ahead of the pixel served the next ones are fetched.
    constexpr std::size_t PREFETCH_DISTANCE = 3;
    const RowOf rowOf(ncols);
    auto prefetchRow = [&](int c) {
        if (c < 1 || c + 1 >= n) return;
        __builtin_prefetch(cost + c - 1, 1);
        __builtin_prefetch(cost + c + 1, 1);
        if (values) __builtin_prefetch(values + c);
    };
    for (int p; (p = queue.pop()) >= 0;) {
        const int next = queue.peek(PREFETCH_DISTANCE);
        if (next >= 0) {
            prefetchRow(next - ncols);
            prefetchRow(next);
            prefetchRow(next + ncols);
        }
        const int y = rowOf(p), x = p - y * ncols;
        auto take = [&](int q, int a) {
            cost[q] = a * WEIGHT_SCALE;
            parent[q] = p;
            queue.offer(key(a), q);
        };
        if constexpr (Arcs::plainWeights) {
            // Every arc weighed first, then the offers taken in arc order:
            // each decision depends only on its own neighbour. A weight out of
            // range on an arc to a pixel not done sends the pixel the long
            // way, which ends the program at that arc.
            const px::NeighbourTable &table = arcs.table;
            if (table.n <= 32 && table.inSafeArea(x, y)) {
                const int *off = table.off.data();
                std::uint32_t accepted = 0, bad = 0;
                int weights[32];
                for (int j = 0; j < table.n; ++j) {
                    const int q = p + off[j];
                    const long long a = arcs.weight.plain(p, q);
                    const bool inRange = a >= 0 && a <= MAX_USER_WEIGHT;
                    const int w = static_cast<int>(inRange ? a : 0);
                    weights[j] = w;
                    accepted |= static_cast<std::uint32_t>(inRange && w * WEIGHT_SCALE < cost[q]) << j;
                    bad |= static_cast<std::uint32_t>(!inRange && cost[q] >= 0) << j;
                }
                if (!bad) {
                    for (; accepted; accepted &= accepted - 1) {
                        const int j = __builtin_ctz(accepted);
                        take(p + off[j], weights[j]);
                    }
                    continue;
                }
            }
        }
        arcs.forEach(p, x, y, [&](int q, int j) {
            if (cost[q] < 0) return;  // done
            const int a = arcs(p, q, j);
            if (a * WEIGHT_SCALE >= cost[q]) return;
            take(q, a);
        });
    }
    for (int p = 0; p < n; ++p)
        if (cost[p] < 0) cost[p] = ~cost[p];
}

void checkTreeImage(const Image *input, const Image *output, const char *who)
{
    if (output->nbands < 2 || output->npixels < input->npixels)
        px::fatal(PX_FATAL_ARGUMENT, "%s: the output needs two bands of %d pixels (it has %d of %d)\n", who,
                  input->npixels, output->nbands, output->npixels);
}

template <class Weight>
void primWith(Image *input, const px::NeighbourTable &table, Weight weight, int *cost, int *parent,
              const int *values = nullptr)
{
    const RelationArcs<Weight> arcs{table, weight};
    primLoop(input->npixels, input->ncols, arcs, DirectKey{}, MAX_USER_WEIGHT + 1, cost, parent,
             values ? values : input->nbands > 0 ? input->bands[0] : nullptr);
}

// Band 0 for the grey-level weights, read at every arc while the tree grows
// in the output's bands: copied first when it is one of them.
struct GreyValues {
    std::vector<int> copy;
    const int *v;
    GreyValues(const Image *img, const int *cost, const int *parent) : v(img->bands[0])
    {
        if (v != cost && v != parent) return;
        copy = px::buffer<int>(static_cast<std::size_t>(img->npixels));
        std::copy(img->bands[0], img->bands[0] + img->npixels, copy.begin());
        v = copy.data();
    }
};

// ---- Region graphs ----------------------------------------------------------

// Every directed edge of a graph, vertex by vertex in list order, with its
// distance worked out once.
struct EdgeTable {
    std::vector<int> start;   // edges of v: start[v] .. start[v + 1] - 1
    std::vector<int> target;
    std::vector<int> dist;

    EdgeTable(Graph *g, GraphDistanceFn distance)
    {
        const int nv = g->nVertices > 0 ? g->nVertices : 0;
        start = px::buffer<int>(static_cast<std::size_t>(nv) + 1);
        try {
            for (int v = 0; v < nv; ++v) {
                start[v] = static_cast<int>(target.size());
                EdgeList *list = &g->vertices[v];
                list->walk = list->head;
                for (Edge *e; (e = listGetAndWalk(list));) target.push_back(e->vertex);
            }
            start[nv] = static_cast<int>(target.size());
            dist.resize(target.size());
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
        // The distances are asked for after the walks, so a distance function
        // may walk the graph itself.
        for (int v = 0; v < nv; ++v)
            for (int k = start[v]; k < start[v + 1]; ++k) dist[k] = distance(g, v, target[k]);
    }
};

// The bucket queue of the region graphs, with only the buckets in use held
// (in a map): distances and path costs of unnormalised features can be far
// larger than 1000, and a bucket per value would not fit. Bucket b of
// `nbuckets` and the cursor behave as in the public queue, the circular
// search included; `pullBack` selects the UpdateCurr forms.
class GraphQueue {
public:
    GraphQueue(int nelems, long long nbuckets, bool pullBack)
        : nbuckets_(nbuckets), pullBack_(pullBack),
          link_(px::buffer<Link>(static_cast<std::size_t>(nelems > 0 ? nelems : 0), Link{NONE, NONE, QUEUE_ABSENT, 0}))
    {
    }

    int state(int e) const { return link_[e].state; }

    // The bucket of a cost: its true residue modulo the bucket count.
    long long bucketOf(long long c) const
    {
        long long r = c % nbuckets_;
        return r < 0 ? r + nbuckets_ : r;
    }

    // Insertion of an absent e, or move of a queued one to the tail of b.
    void offer(long long b, int e)
    {
        Link &l = link_[e];
        if (l.state == QUEUED) unlink(e);
        try {
            auto it = buckets_.emplace(b, Chain{NONE, NONE}).first;
            Chain &c = it->second;
            if (c.first == NONE) {
                c.first = e;
                l.prev = NONE;
            } else {
                l.prev = c.last;
                link_[c.last].next = e;
            }
            c.last = e;
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
        l.next = NONE;
        l.state = QUEUED;
        l.bucket = b;
        if (pullBack_ && b < current_) current_ = b;
    }

    // isEmpty and removeQueue: the head of the first bucket at or after the
    // cursor, circularly; -1 when nothing waits.
    int pop()
    {
        if (buckets_.empty()) return NONE;
        auto it = buckets_.lower_bound(current_);
        if (it == buckets_.end()) it = buckets_.begin();
        current_ = it->first;
        const int e = it->second.first;
        const int n = link_[e].next;
        if (n == NONE) buckets_.erase(it);
        else {
            it->second.first = n;
            link_[n].prev = NONE;
        }
        link_[e].state = QUEUE_DONE;
        return e;
    }

private:
    static constexpr int NONE = -1, QUEUED = 0;
    struct Link {
        int prev, next, state;
        long long bucket;
    };
    struct Chain {
        int first, last;
    };

    void unlink(int e)
    {
        const Link &l = link_[e];
        auto it = buckets_.find(l.bucket);
        Chain &c = it->second;
        if (l.prev == NONE) c.first = l.next;
        else link_[l.prev].next = l.next;
        if (l.next == NONE) c.last = l.prev;
        else link_[l.next].prev = l.prev;
        if (c.first == NONE) buckets_.erase(it);
    }

    long long nbuckets_;
    bool pullBack_;
    long long current_ = 0;
    std::vector<Link> link_;
    std::map<long long, Chain> buckets_;
};

// A graph with nothing but vertices and, when the base has one, a copy of its
// label image; as many vertices as the base has or its label image names.
Graph *bareGraphLike(Graph *base, int nFeatures)
{
    long long n = base->nVertices;
    if (base->labelImage) n = std::max(n, static_cast<long long>(base->labelImage->maxValue) + 1);
    if (n < 1 || n - 1 > INT_MAX) {
        std::fprintf(stderr, "in createGraph: could not allocate memory\n");
        return nullptr;
    }
    GraphOwner g(allocateGraph(static_cast<int>(n - 1), nFeatures));
    if (!g.g) return nullptr;
    if (base->labelImage) {
        Image *copy = pxCopyImage(base->labelImage);
        if (!copy) return nullptr;
        setLabelImage(g.g, copy);
    }
    return g.release();
}

void initForest(Graph *forest)
{
    for (int v = 0; v < forest->nVertices; ++v) {
        int *f = forest->vertices[v].features;
        f[FEATURE_LABEL] = 0;
        f[FEATURE_COST] = IFT_INFINITY_MIN;
        f[FEATURE_PRED] = v;
    }
}

void checkVertex(const Graph *g, int v, const char *who)
{
    if (v < 0 || v >= g->nVertices)
        px::fatal(PX_FATAL_ARGUMENT, "%s: vertex %d outside the graph's %d vertices\n", who, v, g->nVertices);
}

// Region numbers 1, 2, ... for the vertices from 1 that are their own root,
// in vertex order; a set whose root is vertex 0 (never numbered: region
// vertices start at 1) keeps number 0. Returns the number of regions.
int numberRegions(UnionFindOwner &uf, int nv, std::vector<int> &number)
{
    number = px::buffer<int>(static_cast<std::size_t>(nv > 0 ? nv : 0));
    int regions = 0;
    for (int v = 1; v < nv; ++v)
        if (uf.find(v) == v) number[v] = ++regions;
    return regions;
}

// The graph of the regions of a cut tree: a weight-0 edge between the
// regions of the two ends of every tree edge that joins two sets, and a label
// image giving every pixel its region's number (maxValue as given).
Graph *regionGraph(Graph *tree, UnionFindOwner &uf, const std::vector<int> &number, int regions, int maxValue,
                   const char *who)
{
    const int nv = tree->nVertices;
    GraphOwner result(allocateGraph(regions, 0));
    if (!result.g) return nullptr;
    for (int i = 1; i < nv; ++i) {
        EdgeList *list = &tree->vertices[i];
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) {
            const int ri = uf.find(i), rj = uf.find(e->vertex);
            if (ri < rj) insertEdge(result.g, number[ri], number[rj], 0);
        }
    }
    if (tree->labelImage) {
        const int *lab = checkedLabels(tree, nv, who);
        const Image *labels = tree->labelImage;
        Image *img = px::newImage(1, PX_GREY_INT, labels->ncols, labels->nrows);
        setLabelImage(result.g, img);
        for (int p = 0; p < labels->npixels; ++p) img->bands[0][p] = number[uf.find(lab[p])];
        img->maxValue = maxValue;
    }
    return result.release();
}

// A double turned into an int, rounded as given, clamped to the int range;
// NaN counts as below every int.
int clampedInt(double v)
{
    if (std::isnan(v) || v <= static_cast<double>(INT_MIN)) return INT_MIN;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(v);
}

} // namespace

extern "C" {

// Dispatch once per call: the library's weight functions run inlined, any
// other function is called once per arc to a pixel that is not done.
void iftPrim(Image *input, Image *output, AdjacencyFn adjacency, WeightFn weight)
{
    checkTreeImage(input, output, "iftPrim");
    const px::NeighbourTable table = px::NeighbourTable::from(adjacency, input->ncols, input->nrows);
    int *cost = output->bands[output->nbands - 2], *parent = output->bands[output->nbands - 1];
    if (weight == ifWatershedMetric) {
        const GreyValues grey(input, cost, parent);
        primWith(input, table, WatershedWeight{grey.v}, cost, parent, grey.v);
    } else if (weight == ifEuclideanDistance && input->nbands == 1) {
        const GreyValues grey(input, cost, parent);
        primWith(input, table, GreyEuclideanWeight{input, grey.v}, cost, parent, grey.v);
    } else if (weight == ifEuclideanDistance) {
        primWith(input, table, EuclideanWeight{input}, cost, parent);
    } else if (weight == ifMaxDistance) {
        primWith(input, table, MaxWeight{input}, cost, parent);
    } else if (weight == ifChanferDistance) {
        std::vector<int> chanfer = px::buffer<int>(static_cast<std::size_t>(table.n));
        for (int j = 0; j < table.n; ++j) chanfer[j] = table.dx[j] == 0 || table.dy[j] == 0 ? 12 : 17;
        primWith(input, table, ChanferWeight{chanfer.data()}, cost, parent);
    } else {
        primWith(input, table, UserWeight{input, weight}, cost, parent);
    }
}

// Every weight is seen before the tree grows, so the queue covers them all:
// max(50000, 49 x the largest weight + 1) buckets, held here as one bucket
// per weight (or per weight present, when they are few and far apart).
void iftPrimWF(Image *input, Image *output, Image *arcWeights)
{
    checkTreeImage(input, output, "iftPrimWF");
    const int k = arcWeights->adjCount;
    if (arcWeights->ncols != input->ncols || arcWeights->nrows != input->nrows || k < 0 ||
        k > arcWeights->nbands || (k > 0 && !arcWeights->adjPairs))
        px::fatal(PX_FATAL_ARGUMENT,
                  "iftPrimWF: the arc-weight image (%d x %d, %d bands, %d arcs) does not fit the %d x %d input\n",
                  arcWeights->ncols, arcWeights->nrows, arcWeights->nbands, k, input->ncols, input->nrows);
    const px::NeighbourTable table(arcWeights->adjPairs, k, input->ncols, input->nrows);
    const int n = input->npixels;
    int top = 0;
    for (int j = 0; j < k; ++j) top = std::max(top, *std::max_element(arcWeights->bands[j], arcWeights->bands[j] + n));
    if (top > (INT_MAX - 1) / WEIGHT_SCALE)
        px::fatal(PX_FATAL_ARGUMENT, "iftPrimWF: arc weight %d is too large to be scaled by %d\n", top,
                  WEIGHT_SCALE);
    int *cost = output->bands[output->nbands - 2], *parent = output->bands[output->nbands - 1];
    const ImageArcs arcs{table, arcWeights->bands};
    const long long dense = std::max<long long>(PIXEL_BUCKETS, n);
    if (top < dense) {
        primLoop(n, input->ncols, arcs, DirectKey{}, top + 1, cost, parent);
        return;
    }
    std::vector<int> levels;
    try {
        levels.push_back(0);
        for (int j = 0; j < k; ++j)
            for (int p = 0; p < n; ++p)
                if (arcWeights->bands[j][p] >= 0) levels.push_back(arcWeights->bands[j][p]);
    } catch (const std::exception &) {
        px::dieOutOfMemory();
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    primLoop(n, input->ncols, arcs, RankKey{&levels}, static_cast<int>(levels.size()), cost, parent);
}

// Pixels that no arc reached (cost 2147483647, parent themselves) do not
// count towards the largest cost: only pixels with a parent do.
void ifMstThreshold(Image *tree, Image *labels, double fraction)
{
    if (tree->nbands < 2 || labels->npixels < tree->npixels)
        px::fatal(PX_FATAL_ARGUMENT, "ifMstThreshold: needs a tree of two bands and labels of %d pixels\n",
                  tree->npixels);
    const int n = tree->npixels;
    const int *cost = tree->bands[tree->nbands - 2], *parent = tree->bands[tree->nbands - 1];
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (parent[i] != i && cost[i] > m) m = cost[i];
    const int t = clampedInt(std::nearbyint(fraction * m));
    UnionFindOwner uf(n);
    for (int i = 0; i < n; ++i)
        if (parent[i] != i && cost[i] <= t) uf.link(uf.find(i), uf.find(parent[i]));
    int *out = labels->bands[0];
    int top = 0;
    for (int i = 0; i < n; ++i) {
        out[i] = uf.find(i);
        top = std::max(top, out[i]);
    }
    labels->maxValue = top;
}

// The tree starts at vertex 1. Every edge's distance is worked out once, and
// the queue covers them all, keyed from the lowest (0 or below) upwards: with
// distances in 0 .. 1000 this is the order of 1001 buckets.
Graph *iftPrimGraph(Graph *g, GraphDistanceFn distance)
{
    GraphOwner result(bareGraphLike(g, FOREST_FEATURES));
    if (!result.g) return nullptr;
    initForest(result.g);
    const int nv = g->nVertices;
    const EdgeTable edges(g, distance);
    long long lo = 0;
    for (int d : edges.dist) lo = std::min<long long>(lo, d);
    GraphQueue queue(nv, 1LL << 33, true);
    auto f = [&](int v) { return result.g->vertices[v].features; };
    if (nv > 1) {
        f(1)[FEATURE_LABEL] = 1;
        f(1)[FEATURE_COST] = g->nFeatures > 0 ? g->vertices[1].features[0] : 0;
        queue.offer(0, 1);
    }
    for (int v; (v = queue.pop()) >= 0;) {
        if (f(v)[FEATURE_PRED] != v) insertEdge(result.g, f(v)[FEATURE_PRED], v, f(v)[FEATURE_COST]);
        for (int k = edges.start[v]; k < edges.start[v + 1]; ++k) {
            const int w = edges.target[k];
            if (queue.state(w) == QUEUE_DONE) continue;
            const int e = edges.dist[k];
            if (e >= f(w)[FEATURE_COST]) continue;
            f(w)[FEATURE_COST] = e;
            f(w)[FEATURE_LABEL] = f(v)[FEATURE_LABEL];
            f(w)[FEATURE_PRED] = v;
            queue.offer(e - lo, w);
        }
    }
    return result.release();
}

// Path costs go to bucket cost mod N with plain insertions (the cursor is not
// pulled back), N covering the largest distance and seed cost and at least
// the 1001 buckets of normalised features.
Graph *iftGraph(Graph *g, GraphDistanceFn distance, PathCostFn pathCost, Roots *roots)
{
    GraphOwner result(copyBaseGraph(g, FOREST_FEATURES));
    if (!result.g) return nullptr;
    initForest(result.g);
    const int nv = g->nVertices;
    const EdgeTable edges(g, distance);
    long long hi = GRAPH_BUCKETS - 1;
    for (int d : edges.dist) hi = std::max<long long>(hi, d);
    for (int i = 0; i < roots->count; ++i)
        if (roots->pixel[i] >= 0 && roots->pixel[i] < nv) hi = std::max<long long>(hi, roots->cost[i]);
    GraphQueue queue(nv, hi + 1, false);
    auto f = [&](int v) { return result.g->vertices[v].features; };
    // A vertex seeded again takes the later cost and label and moves to its
    // new bucket; seeds outside the graph are skipped.
    for (int i = 0; i < roots->count; ++i) {
        const int v = roots->pixel[i];
        if (v < 0 || v >= nv) continue;
        f(v)[FEATURE_COST] = roots->cost[i];
        f(v)[FEATURE_LABEL] = roots->label[i];
        queue.offer(queue.bucketOf(roots->cost[i]), v);
    }
    for (int v; (v = queue.pop()) >= 0;) {
        for (int k = edges.start[v]; k < edges.start[v + 1]; ++k) {
            const int w = edges.target[k];
            if (queue.state(w) == QUEUE_DONE) continue;
            const int c = pathCost(f(v)[FEATURE_COST], edges.dist[k]);
            if (c >= f(w)[FEATURE_COST]) continue;
            f(w)[FEATURE_COST] = c;
            f(w)[FEATURE_LABEL] = f(v)[FEATURE_LABEL];
            f(w)[FEATURE_PRED] = v;
            queue.offer(queue.bucketOf(c), w);
        }
    }
    return result.release();
}

// The result is sized by the regions there are (vertices from 1 that are
// their own root after the unions): a tree that is not connected has more
// than cut + 1.
Graph *ifThresholdMST(Graph *tree, int threshold)
{
    const int nv = tree->nVertices;
    UnionFindOwner uf(nv > 0 ? nv : 0);
    for (int i = 1; i < nv; ++i) {
        EdgeList *list = &tree->vertices[i];
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));)
            if (e->weight <= threshold) uf.link(uf.find(i), uf.find(e->vertex));
    }
    std::vector<int> number;
    const int regions = numberRegions(uf, nv, number);
    px::message("there will be %d regions\n", regions);
    return regionGraph(tree, uf, number, regions, 0, "ifThresholdMST");
}

// The heaviest edges go first, equal weights in the order met (vertex by
// vertex from 1, each edge once); a stable sort gives the order of the
// bucket queue keyed from the lowest to the highest weight.
Graph *ifThresholdMST_nRegions(Graph *tree, int nRegions)
{
    const int nv = tree->nVertices;
    struct TreeEdge {
        int i, j, weight;
    };
    std::vector<TreeEdge> edges;
    try {
        for (int i = 1; i < nv; ++i) {
            EdgeList *list = &tree->vertices[i];
            list->walk = list->head;
            for (Edge *e; (e = listGetAndWalk(list));)
                if (i < e->vertex) edges.push_back({i, e->vertex, e->weight});
        }
    } catch (const std::exception &) {
        px::dieOutOfMemory();
    }
    std::stable_sort(edges.begin(), edges.end(),
                     [](const TreeEdge &a, const TreeEdge &b) { return a.weight > b.weight; });
    GraphOwner copy(copyBaseGraph(tree, 0));
    if (!copy.g) return nullptr;
    const long long toRemove = static_cast<long long>(nRegions) - 1;
    for (std::size_t k = 0; k < edges.size() && static_cast<long long>(k) < toRemove; ++k)
        removeEdge(copy.g, edges[k].i, edges[k].j);
    UnionFindOwner uf(nv > 0 ? nv : 0);
    for (int i = 1; i < nv; ++i) {
        EdgeList *list = &copy.g->vertices[i];
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) uf.link(uf.find(i), uf.find(e->vertex));
    }
    std::vector<int> number;
    const int regions = numberRegions(uf, nv, number);
    return regionGraph(tree, uf, number, regions, regions, "ifThresholdMST_nRegions");
}

Graph *ifThresholdGraph(Graph *forest, double threshold)
{
    const int t = clampedInt(std::trunc(threshold * 1000));
    px::message("threshold is %d\n", t);
    if (forest->nFeatures < FOREST_FEATURES)
        px::fatal(PX_FATAL_ARGUMENT, "ifThresholdGraph: the forest has %d features, not label, cost and predecessor\n",
                  forest->nFeatures);
    GraphOwner result(bareGraphLike(forest, 0));
    if (!result.g) return nullptr;
    UnionFindOwner uf(result.g->nVertices);
    for (int j = 1; j < forest->nVertices; ++j) {
        const int *f = forest->vertices[j].features;
        const int p = f[FEATURE_PRED], a = f[FEATURE_COST];
        if (p == j || a > t) continue;
        insertEdge(result.g, j, p, a);
        uf.link(uf.find(j), uf.find(p));
    }
    if (result.g->labelImage) {
        checkedLabels(result.g, result.g->nVertices, "ifThresholdGraph");
        Image *labels = result.g->labelImage;
        int *lab = labels->bands[0];
        for (int p = 0; p < labels->npixels; ++p) lab[p] = uf.find(lab[p]);
        // Regions numbered 1, 2, ... in raster order of their first pixel.
        ifCorrectLabels(labels);
    }
    return result.release();
}

Graph *ifColapseGraph(Graph *g)
{
    if (g->nFeatures < 1)
        px::fatal(PX_FATAL_ARGUMENT, "ifColapseGraph: the graph has no label feature\n");
    const int *lab = checkedLabels(g, g->nVertices, "ifColapseGraph");
    const Image *labels = g->labelImage;
    ImageOwner merged(px::newImage(1, PX_GREY_INT, labels->ncols, labels->nrows));
    int *out = merged.get()->bands[0];
    int top = INT_MIN;
    for (int p = 0; p < labels->npixels; ++p) {
        out[p] = g->vertices[lab[p]].features[FEATURE_LABEL];
        top = std::max(top, out[p]);
    }
    merged.get()->maxValue = top;
    GraphOwner result(createGraph(merged.get(), 0));
    if (!result.g) return nullptr;
    for (int j = 1; j < g->nVertices; ++j) {
        EdgeList *list = &g->vertices[j];
        const int lj = list->features[FEATURE_LABEL];
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) {
            const int lw = g->vertices[e->vertex].features[FEATURE_LABEL];
            if (lw == lj) continue;
            // A label that no pixel carries has no vertex in the result.
            checkVertex(result.g, lj, "ifColapseGraph");
            checkVertex(result.g, lw, "ifColapseGraph");
            insertDirectedEdge(result.g, lj, lw, 0);
        }
    }
    return result.release();
}

// Squares summed in 64 bits; a graph without features gives 0.
int ifGraphEuclideanDistance(Graph *g, int u, int v)
{
    checkVertex(g, u, "ifGraphEuclideanDistance");
    checkVertex(g, v, "ifGraphEuclideanDistance");
    const int nf = g->nFeatures;
    if (nf <= 0) return 0;
    const int *a = g->vertices[u].features, *b = g->vertices[v].features;
    long long s = 0;
    for (int k = 0; k < nf; ++k) {
        const long long d = static_cast<long long>(a[k]) - b[k];
        s += d * d;
    }
    return static_cast<int>(std::sqrt(static_cast<double>(s / nf)));
}

int ifGraphMinDistance(Graph *g, int u, int v)
{
    checkVertex(g, u, "ifGraphMinDistance");
    checkVertex(g, v, "ifGraphMinDistance");
    if (g->nFeatures <= 0) return 0;
    return std::min(g->vertices[u].features[0], g->vertices[v].features[0]);
}

int ifGraphWatershedDistance(Graph *g, int u, int v)
{
    checkVertex(g, u, "ifGraphWatershedDistance");
    checkVertex(g, v, "ifGraphWatershedDistance");
    return g->nFeatures > 0 ? g->vertices[v].features[0] : 0;
}

} // extern "C"
