// Euclidean distance transforms and the skeleton IFTs built on them.
//
// The Euclidean operators propagate, besides the cost, the vector (dx, dy) of
// summed absolute steps from each pixel's seed, and offer dx² + dy² to the
// neighbours. Their queue is circular with about twice the image's
// half-perimeter in buckets: only the spread of the costs waiting at one time
// has to fit in it. Where that spread is exceeded (winding objects) pixels
// leave out of cost order, and the results follow that order.
//
// The Euclidean propagation runs on a private queue that gives exactly the
// order of the public one (first-in first-out buckets, an update re-appends
// at the tail of its new bucket, the circular cursor of isEmpty) but never
// unlinks: an update appends a new entry and the old one is skipped when it
// comes out, recognised by a cost that is no longer the pixel's (costs only
// ever go down). Everything the loop reads about a pixel sits in one record.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

constexpr int UNREACHED_STEPS = 10000;  // dx and dy of a pixel no seed has reached
constexpr int MARK = 255;               // skeleton and reconstruction marks

// Quotient and remainder by a fixed divisor through one multiplication,
// exact for every 32-bit dividend (Lemire, Kaser and Kurz, "Faster remainder
// by direct computation", 2019).
class FixedDivisor {
public:
    explicit FixedDivisor(int d)
        : d_(static_cast<std::uint32_t>(d)), m_(d > 1 ? UINT64_MAX / d_ + 1 : 0)
    {
    }
    int quotient(std::uint32_t a) const
    {
        if (d_ == 1) return static_cast<int>(a);
        return static_cast<int>((static_cast<unsigned __int128>(m_) * a) >> 64);
    }
    int remainder(std::uint32_t a) const
    {
        if (d_ == 1) return 0;
        std::uint64_t low = m_ * a;
        return static_cast<int>((static_cast<unsigned __int128>(low) * d_) >> 64);
    }

private:
    std::uint32_t d_;
    std::uint64_t m_;
};

// A bucket count computed in 64 bits, kept in 1 .. INT_MAX. Costs stay below
// INT_MAX, so a count clamped there names the same bucket for every cost.
int clampBuckets(long long b) { return static_cast<int>(std::max(1LL, std::min<long long>(b, INT_MAX))); }

// Per-pixel records of a large image (on huge pages when the system grants
// them), left uninitialised.
template <class T>
class RecordArray {
public:
    explicit RecordArray(std::size_t n) : block_(sizeof(T) * (n > 0 ? n : 1)) {}
    T &operator[](std::size_t i) { return data()[i]; }
    T *data() { return static_cast<T *>(block_.data()); }

private:
    ift_detail::LargeBlock block_;
};

// ---- The lazy circular queue of the Euclidean operators -------------------

// First-in first-out buckets of (pixel, cost) entries, each bucket a chain of
// chunks from one pool with a free list. What waits next in a bucket lies in
// one array, so the pixels to be served soon can be fetched ahead.
class EntryBuckets {
public:
    struct Entry {
        int pixel, cost;
    };
    static constexpr int CHUNK = 1024;
    static constexpr int NONE = -1;

    // `seeds` entries go in first. The pool's room is taken with a margin for
    // the waves that follow, so that it seldom has to move (unused room costs
    // no memory).
    EntryBuckets(int nbuckets, int seeds) : bucket_(px::buffer<Bucket>(static_cast<std::size_t>(nbuckets)))
    {
        try {
            chunks_.reserve(3 * (static_cast<std::size_t>(seeds) / CHUNK) + 256);
        } catch (const std::exception &) {
            // the pool grows as it needs
        }
    }

    bool empty(int b) const { return bucket_[b].head == NONE; }

    __attribute__((always_inline)) void push(int b, Entry e)
    {
        Bucket &k = bucket_[b];
        if (k.tail == NONE) {
            k.head = k.tail = takeChunk();
            k.headPos = k.tailPos = 0;
        } else if (k.tailPos == CHUNK) {
            int c = takeChunk();
            chunks_[k.tail].next = c;
            k.tail = c;
            k.tailPos = 0;
        }
        chunks_[k.tail].entry[k.tailPos++] = e;
    }

    Entry pop(int b)
    {
        Bucket &k = bucket_[b];
        const int c = k.head;
        const Entry e = chunks_[c].entry[k.headPos++];
        if (c == k.tail && k.headPos == k.tailPos) {
            giveBack(c);
            k.head = k.tail = NONE;
        } else if (k.headPos == CHUNK) {
            k.head = chunks_[c].next;
            k.headPos = 0;
            giveBack(c);
        }
        return e;
    }

    // The pixel `ahead` places behind the front of bucket b, found in b's
    // front chunk or, past b's last entry, in the front chunk of bucket
    // `next` (the next one to be served after b, or -1 when unknown); -1
    // when it lies elsewhere.
    int peek(int b, int next, int ahead) const
    {
        const Bucket &k = bucket_[b];
        if (k.head != NONE) {
            const int pos = k.headPos + ahead;
            if (k.head != k.tail) return pos < CHUNK ? chunks_[k.head].entry[pos].pixel : NONE;
            if (pos < k.tailPos) return chunks_[k.head].entry[pos].pixel;
            ahead = pos - k.tailPos;
        }
        if (next == NONE) return NONE;
        const Bucket &m = bucket_[next];
        if (m.head == NONE) return NONE;
        const int pos = m.headPos + ahead;
        const int end = m.head == m.tail ? m.tailPos : CHUNK;
        return pos < end ? chunks_[m.head].entry[pos].pixel : NONE;
    }

    // The first non-empty bucket after b within `reach` buckets, circularly;
    // -1 if none.
    int nextFilled(int b, int reach) const
    {
        const int nb = static_cast<int>(bucket_.size());
        for (int i = 0; i < reach; ++i) {
            b = b + 1 == nb ? 0 : b + 1;
            if (bucket_[b].head != NONE) return b;
        }
        return NONE;
    }

private:
    struct Bucket {
        int head = NONE, tail = NONE, headPos = 0, tailPos = 0;
    };
    struct Chunk {
        Entry entry[CHUNK];
        int next;
    };

    int takeChunk()
    {
        if (free_ != NONE) {
            int c = free_;
            free_ = chunks_[c].next;
            return c;
        }
        if (chunks_.size() >= static_cast<std::size_t>(INT_MAX)) px::dieOutOfMemory();
        try {
            chunks_.emplace_back();
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
        return static_cast<int>(chunks_.size() - 1);
    }
    void giveBack(int c)
    {
        chunks_[c].next = free_;
        free_ = c;
    }

    std::vector<Bucket> bucket_;
    std::vector<Chunk> chunks_;
    int free_ = NONE;
};

// Serves an EntryBuckets queue in its order: the cursor's circular search,
// the pixel some entries further on (to be fetched meanwhile), and each
// offer's bucket counted on from the served pixel's (offers exceed its
// cost). It counts the entries in the queue, live or stale: the propagation
// ends when the last one is out.
class Server {
public:
    Server(int nbuckets, int seeds) : queue_(nbuckets, seeds), nbuckets_(nbuckets), byBuckets_(nbuckets) {}

    void enterSeed(int pixel)
    {
        queue_.push(0, {pixel, 0});
        ++entries_;
    }
    bool finished() const { return entries_ == 0; }

    EntryBuckets::Entry take()
    {
        if (queue_.empty(current_)) {
            do
                current_ = current_ + 1 == nbuckets_ ? 0 : current_ + 1;
            while (queue_.empty(current_));
            // Where the fetching ahead goes on once this bucket runs out (a
            // bucket filled later in between is only missed by the fetches).
            next_ = queue_.nextFilled(current_, NEXT_REACH);
        }
        --entries_;
        return queue_.pop(current_);
    }
    int ahead(int distance) const { return queue_.peek(current_, next_, distance); }

    // An offer to `pixel` of a cost above `servedCost`, the cost of the pixel
    // taken last.
    __attribute__((always_inline)) void enter(int pixel, int cost, int servedCost)
    {
        const long long later = static_cast<long long>(cost) - servedCost;
        long long b;
        if (later < nbuckets_) {
            b = current_ + later;
            if (b >= nbuckets_) b -= nbuckets_;
        } else {
            b = byBuckets_.remainder(static_cast<std::uint32_t>(cost));
        }
        queue_.push(static_cast<int>(b), {pixel, cost});
        ++entries_;
    }

private:
    static constexpr int NEXT_REACH = 64;  // how far the bucket after the current one is looked for
    EntryBuckets queue_;
    const int nbuckets_;
    const FixedDivisor byBuckets_;
    int current_ = 0, next_ = EntryBuckets::NONE;
    long long entries_ = 0;
};

enum class Mode { Distance, TwoLabels, Skeleton };

// Everything the propagation reads or writes about a pixel, in one record, so
// that serving a pixel touches a line per row of its neighbourhood. A cost is
// never negative, which leaves the sign for "done": a done pixel's field is
// below every offer. A pixel index is never negative either, which leaves
// the sign of `pred` for the pixels near the image's edge. The step sums of
// an accepted offer stay below 46341 (their squares sum below 2^31).
struct CellBase {
    int costDone;
    std::uint16_t dx, dy;
    int label, pred;
};
template <Mode M>
struct Cell : CellBase {
};
template <>
struct Cell<Mode::TwoLabels> : CellBase {
    int label2;
};
constexpr int DONE_BIT = INT_MIN;  // in `costDone`
constexpr int EDGE_BIT = INT_MIN;  // in `pred`

// The result bands of each operator (see the header for their places).
struct Layout {
    int *label = nullptr;   // the label (position label in TwoLabels)
    int *label2 = nullptr;  // the contour label (TwoLabels)
    int *cost = nullptr;
    int *pred = nullptr;
    int *mark = nullptr;    // skeleton marks (Skeleton)
};

// A seed set: pixels with their labels (`label2` for TwoLabels only).
struct SeedSet {
    const int *pixel = nullptr;
    int count = 0;
    const int *label = nullptr;
    const int *label2 = nullptr;
};

struct SkeletonRule {
    const int *bin = nullptr;
    bool inner = false;
    double error = 0;
    long long seedDist = 0;
};

// Neighbourhoods known at compile time, as (dx, dy) pairs in the order of
// their adjacency relation. The propagation over one of them unrolls its
// arcs with their steps as constants.
template <int... S>
struct ArcSet {
    static constexpr int N = sizeof...(S) / 2;
    static constexpr int step[sizeof...(S)] = {S...};
    static bool matches(const px::NeighbourTable &t)
    {
        if (t.n != N) return false;
        for (int j = 0; j < N; ++j)
            if (t.dx[j] != step[2 * j] || t.dy[j] != step[2 * j + 1]) return false;
        return true;
    }
};
using Arcs4 = ArcSet<1, 0, 0, 1, 0, -1, -1, 0>;                                  // pxNeighborhood4
using Arcs8 = ArcSet<1, 0, 0, 1, 0, -1, -1, 0, 1, 1, -1, 1, 1, -1, -1, -1>;     // pxNeighborhood8
using Disc2 = ArcSet<-1, -1, -1, 0, -1, 1, 0, -1, 0, 0, 0, 1, 1, -1, 1, 0, 1, 1>;  // the disc of squared radius 2
struct AnyArcs {  // a table known only at run time
};

template <class F, int... J>
__attribute__((always_inline)) inline void forEachArc(F &&f, std::integer_sequence<int, J...>)
{
    (f(std::integral_constant<int, J>()), ...);
}

// The Euclidean propagation shared by iftSkelNova, iftEuclideanSkel and
// iftEuclideanDT (but for its page-blocked case below). Every seed enters at
// cost 0 with its labels, whatever else its set says; the results go to
// `out` at the end.
template <Mode M, class Arcs>
void propagate(int ncols, int nrows, const px::NeighbourTable &table, int nbuckets, const Layout &out,
               const SeedSet &seeds, const SkeletonRule &rule)
{
    constexpr bool fixedArcs = !std::is_same_v<Arcs, AnyArcs>;
    // How many entries ahead of the one served the pixels are fetched.
    constexpr int PREFETCH_DISTANCE = 20;
    const int n = ncols * nrows;
    using Record = Cell<M>;
    RecordArray<Record> cells(static_cast<std::size_t>(n));
    // Every pixel starts unlabelled and its own predecessor. The step sums of
    // a pixel are only read once an offer has set them.
    // Pixels whose neighbourhood may leave the image carry EDGE_BIT in their
    // predecessor field until the end.
    const int x0 = table.rx, x1 = ncols - table.rx, y0 = table.ry, y1 = nrows - table.ry;
    auto edge = [&](int x, int y) { return x < x0 || x >= x1 || y < y0 || y >= y1 ? EDGE_BIT : 0; };
    for (int y = 0, p = 0; y < nrows; ++y)
        for (int x = 0; x < ncols; ++x, ++p) {
            Record c{};
            c.costDone = IFT_INFINITY_MIN;
            c.pred = p | edge(x, y);
            cells[p] = c;
        }
    // Seeds in array order: a pixel seeded again takes the later labels and
    // goes behind the seeds entered before that later one, which is where
    // moving it in the queue leaves it. Seeds outside the image are skipped.
    // The predecessor field holds the last seed index meanwhile.
    for (int i = 0; i < seeds.count; ++i) {
        const int p = seeds.pixel[i];
        if (p < 0 || p >= n) continue;
        cells[p].pred = i;
        cells[p].label = seeds.label[i];
        if constexpr (M == Mode::TwoLabels) cells[p].label2 = seeds.label2[i];
    }
    Server queue(nbuckets, seeds.count);
    const FixedDivisor byCols(ncols);
    for (int i = 0; i < seeds.count; ++i) {
        const int p = seeds.pixel[i];
        if (p < 0 || p >= n || cells[p].pred != i) continue;
        const int y = byCols.quotient(static_cast<std::uint32_t>(p));
        cells[p].pred = p | edge(p - y * ncols, y);
        cells[p].costDone = 0;
        cells[p].dx = cells[p].dy = 0;
        queue.enterSeed(p);
    }

    const int k = table.n;
    std::vector<int> ax = px::buffer<int>(static_cast<std::size_t>(k)), ay = ax;
    for (int j = 0; j < k; ++j) {
        ax[j] = std::abs(table.dx[j]);
        ay[j] = std::abs(table.dy[j]);
    }
    const int *const offset = table.off.data();
    Record *const base = cells.data();

    while (!queue.finished()) {
        // Entries of moved or finished pixels are dropped.
        const EntryBuckets::Entry e = queue.take();
        const int ahead = queue.ahead(PREFETCH_DISTANCE);
        if (ahead >= 0) {
            // The records of the rows around a pixel served soon (edge rows
            // fetch their own row again). Some equivalent spellings (lambdas
            // among them) lose their prefetches under GCC 12: check the
            // disassembly after changing this.
            const Record *c = base + ahead;
            const Record *up = ahead >= ncols ? c - ncols : c;
            const Record *down = ahead + ncols < n ? c + ncols : c;
            __builtin_prefetch(up - 1, 1);
            __builtin_prefetch(up + 1, 1);
            __builtin_prefetch(c - 1, 1);
            __builtin_prefetch(c + 1, 1);
            __builtin_prefetch(down - 1, 1);
            __builtin_prefetch(down + 1, 1);
        }
        const int p = e.pixel;
        Record &cp = base[p];
        if (cp.costDone != e.cost) continue;
        const int costP = cp.costDone;
        cp.costDone |= DONE_BIT;
        const int dxP = cp.dx, dyP = cp.dy;
        const int labelP = cp.label;
        int label2P = 0;
        if constexpr (M == Mode::TwoLabels) label2P = cp.label2;
        const bool safe = cp.pred >= 0;

        // Offers q the vector (nx, ny) at squared length `offer` (a done
        // pixel's field is negative: no offer beats it).
        auto visit = [&](int j, int q, Record &cq, long long nx, long long ny, long long offer)
                         __attribute__((always_inline)) {
            if constexpr (M == Mode::Skeleton) {
                if (rule.inner ? rule.bin[q] <= 0 : rule.bin[q] != 0) return;
                if (cq.costDone < 0) {
                    // Is p where two fronts meet? Compare the vector q's seed
                    // would hand to p with p's own.
                    const int costQ = cq.costDone & IFT_INFINITY_MIN;
                    const long long vx = static_cast<long long>(cq.dx) + ax[j], vy = static_cast<long long>(cq.dy) + ay[j];
                    const double d = std::fabs(std::sqrt(static_cast<double>(vx * vx + vy * vy)) -
                                               std::sqrt(static_cast<double>(costP)));
                    if (std::trunc(d) > rule.error) return;
                    if (rule.inner && rule.bin[p] > 0) {
                        const long long dl = std::llabs(static_cast<long long>(labelP) - cq.label);
                        if ((dl > rule.seedDist || dl == 1) && costP > 0) {
                            out.mark[p] = MARK;
                            if (out.mark[q] != MARK &&
                                std::fabs(std::sqrt(static_cast<double>(costQ)) -
                                          std::sqrt(static_cast<double>(costP))) <= 0.01)
                                out.mark[q] = MARK;
                        }
                    } else if (!rule.inner && rule.bin[p] == 0) {
                        if (labelP != cq.label) out.mark[p] = MARK;
                    }
                    return;
                }
            }
            if (offer >= cq.costDone) return;
            const int c = static_cast<int>(offer);
            cq.costDone = c;
            cq.dx = static_cast<std::uint16_t>(nx);
            cq.dy = static_cast<std::uint16_t>(ny);
            cq.label = labelP;
            if constexpr (M == Mode::TwoLabels) cq.label2 = label2P;
            cq.pred = p | (cq.pred & EDGE_BIT);
            queue.enter(q, c, costP);
        };
        auto visitArc = [&](int j, int q) __attribute__((always_inline)) {
            const long long nx = dxP + ax[j], ny = dyP + ay[j];
            visit(j, q, base[q], nx, ny, nx * nx + ny * ny);
        };
        if constexpr (fixedArcs) {
            if (safe) {
                // Every step is -1, 0 or 1: p's vector grown by 0 or 1 on
                // each axis. p's cost is its vector's squared length, so the
                // offers exceed it by 2 dx + 1 across, 2 dy + 1 along, and
                // both on a diagonal.
                const long long across = costP + 2LL * dxP + 1, along = costP + 2LL * dyP + 1;
                const long long diagonal = across + 2LL * dyP + 1;
                Record *const rows[3] = {&cp - ncols, &cp, &cp + ncols};
                forEachArc(
                    [&](auto arc) __attribute__((always_inline)) {
                        constexpr int j = decltype(arc)::value;
                        constexpr int DX = Arcs::step[2 * j], DY = Arcs::step[2 * j + 1];
                        constexpr int AX = DX < 0 ? -DX : DX, AY = DY < 0 ? -DY : DY;
                        static_assert(AX <= 1 && AY <= 1, "unit steps only");
                        const long long offer = AX && AY ? diagonal : AX ? across : AY ? along : costP;
                        visit(j, p + DY * ncols + DX, rows[DY + 1][DX], dxP + AX, dyP + AY, offer);
                    },
                    std::make_integer_sequence<int, Arcs::N>());
                continue;
            }
        } else if (safe) {
            for (int j = 0; j < k; ++j) visitArc(j, p + offset[j]);
            continue;
        }
        const int y = byCols.quotient(static_cast<std::uint32_t>(p)), x = p - y * ncols;
        for (int j = 0; j < k; ++j) {
            const int nx = x + table.dx[j], ny = y + table.dy[j];
            if (nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) visitArc(j, ny * ncols + nx);
        }
    }
    for (int p = 0; p < n; ++p) {
        const Record &c = cells[p];
        out.cost[p] = c.costDone & IFT_INFINITY_MIN;
        out.label[p] = c.label;
        out.pred[p] = c.pred & ~EDGE_BIT;
        if constexpr (M == Mode::TwoLabels) out.label2[p] = c.label2;
    }
}

// ---- The page-blocked propagation of the distance transform ----------------
//
// The distance transform over the 8- or 4-neighbourhood lays its records out
// in blocks of 16 x 16 pixels, one 4 KB page each, row by row within a block,
// so that a pixel's 3 x 3 neighbourhood mostly lies on one page. In a plain
// layout the three rows of a large image's neighbourhood lie on three pages,
// and translating their addresses then costs as much as fetching their lines.
// A frame of served records around the image spares every neighbour test,
// and a record holds the arc that reached its pixel rather than its
// predecessor.
namespace blocked {

constexpr int SELF = -1;  // the arc of a pixel that is its own predecessor

struct Record {
    int costDone;
    std::uint16_t dx, dy;
    int label, arc;
};

// Record places in the framed image (x and y counted from -1), and the
// steps in bytes from a record to its neighbours on each side, looked up by
// the record's place in its block (without branches: the sides a pixel's
// neighbours lie on are as good as random).
struct Blocks {
    struct Steps {
        std::ptrdiff_t left, right, up, down;
    };
    int perRow;  // blocks per row of blocks
    Steps step[256];
    explicit Blocks(int ncols) : perRow((ncols + 2 + 15) / 16)
    {
        const std::ptrdiff_t size = sizeof(Record), rowStep = 256 * static_cast<std::ptrdiff_t>(perRow);
        for (int i = 0; i < 256; ++i) {
            const int x = i & 15, y = i >> 4;
            step[i].left = size * (x == 0 ? -241 : -1);
            step[i].right = size * (x == 15 ? 241 : 1);
            step[i].up = size * (y == 0 ? 240 - rowStep : -16);
            step[i].down = size * (y == 15 ? rowStep - 240 : 16);
        }
    }
    int at(int x, int y) const { return ((y >> 4) * perRow + (x >> 4)) * 256 + (y & 15) * 16 + (x & 15); }
    const Steps &around(int r) const { return step[r & 255]; }
};

// Returns false, having done nothing, when the framed image has more records
// than an int counts, or when the frame would take most of them (a narrow or
// flat image).
template <class Arcs>
bool propagate(int ncols, int nrows, int nbuckets, const Layout &out, const SeedSet &seeds)
{
    constexpr int PREFETCH_DISTANCE = 20;
    const int n = ncols * nrows;
    const long long blockRows = (nrows + 2LL + 15) / 16;
    const long long records = 256 * blockRows * ((ncols + 2LL + 15) / 16);
    if (records > INT_MAX || records > 2LL * n + 65536) return false;
    const Blocks blocks(ncols);
    RecordArray<Record> rec(static_cast<std::size_t>(records));
    Record *const base = rec.data();
    // The frame is served (at cost 0); the image's pixels start unreached,
    // unlabelled and their own predecessors.
    for (int by = 0, r = 0; by < blockRows; ++by)
        for (int bx = 0; bx < blocks.perRow; ++bx)
            for (int yy = 0; yy < 16; ++yy)
                for (int xx = 0; xx < 16; ++xx, ++r) {
                    const int x = 16 * bx + xx - 1, y = 16 * by + yy - 1;
                    Record c{};
                    c.costDone = x >= 0 && x < ncols && y >= 0 && y < nrows ? IFT_INFINITY_MIN : DONE_BIT;
                    c.arc = SELF;
                    base[r] = c;
                }
    // A pixel seeded more than once takes its last seed's label and place in
    // the queue: the seeds are read from the last, each record fetched a few
    // seeds ahead, and enter in array order. Seeds outside the image are
    // skipped.
    constexpr int SEEDS_AHEAD = 16;
    const FixedDivisor byCols(ncols);
    auto seedRecord = [&](int p) {
        const int y = byCols.quotient(static_cast<std::uint32_t>(p));
        return blocks.at(p - y * ncols + 1, y + 1);
    };
    std::vector<int> seeded = px::buffer<int>(static_cast<std::size_t>(std::max(seeds.count, 0)));
    std::size_t nseeded = 0;
    for (int i = seeds.count - 1; i >= 0; --i) {
        if (i >= SEEDS_AHEAD) {
            const int soon = seeds.pixel[i - SEEDS_AHEAD];
            if (soon >= 0 && soon < n) __builtin_prefetch(base + seedRecord(soon), 1);
        }
        const int p = seeds.pixel[i];
        if (p < 0 || p >= n) continue;
        const int r = seedRecord(p);
        Record &c = base[r];
        if (c.costDone == 0) continue;  // seeded again further on
        c.costDone = 0;
        c.dx = c.dy = 0;
        c.label = seeds.label[i];
        seeded[nseeded++] = r;
    }
    Server queue(nbuckets, seeds.count);
    while (nseeded > 0) queue.enterSeed(seeded[--nseeded]);

    while (!queue.finished()) {
        const EntryBuckets::Entry e = queue.take();
        const int ahead = queue.ahead(PREFETCH_DISTANCE);
        if (ahead >= 0) {
            // The lines of the three rows around it. Some equivalent
            // spellings lose their prefetches under GCC 12: check the
            // disassembly after changing this.
            const Blocks::Steps &st = blocks.around(ahead);
            const char *mid = reinterpret_cast<const char *>(base + ahead), *up = mid + st.up, *down = mid + st.down;
            const std::ptrdiff_t l = st.left, rt = st.right;
            __builtin_prefetch(up + l, 1);
            __builtin_prefetch(up + rt, 1);
            __builtin_prefetch(mid + l, 1);
            __builtin_prefetch(mid + rt, 1);
            __builtin_prefetch(down + l, 1);
            __builtin_prefetch(down + rt, 1);
        }
        const int r = e.pixel;
        Record &cp = base[r];
        if (cp.costDone != e.cost) continue;
        const int costP = cp.costDone;
        cp.costDone |= DONE_BIT;
        const int dxP = cp.dx, dyP = cp.dy, labelP = cp.label;
        // Offers exceed p's cost by 2 dx + 1 across, 2 dy + 1 along, and
        // both on a diagonal.
        const long long across = costP + 2LL * dxP + 1, along = costP + 2LL * dyP + 1;
        const long long diagonal = across + 2LL * dyP + 1;
        // The neighbours through the rows above and below and the steps
        // sideways, in bytes.
        const Blocks::Steps &st = blocks.around(r);
        char *const mid = reinterpret_cast<char *>(&cp), *const rowUp = mid + st.up, *const rowDown = mid + st.down;
        const std::ptrdiff_t toLeft = st.left, toRight = st.right;
        forEachArc(
            [&](auto arc) __attribute__((always_inline)) {
                constexpr int j = decltype(arc)::value;
                constexpr int DX = Arcs::step[2 * j], DY = Arcs::step[2 * j + 1];
                constexpr int AX = DX < 0 ? -DX : DX, AY = DY < 0 ? -DY : DY;
                static_assert(AX <= 1 && AY <= 1 && AX + AY > 0, "unit steps only");
                const long long offer = AX && AY ? diagonal : AX ? across : along;
                char *const row = DY > 0 ? rowDown : DY < 0 ? rowUp : mid;
                Record &cq = *reinterpret_cast<Record *>(row + (DX > 0 ? toRight : DX < 0 ? toLeft : 0));
                if (offer >= cq.costDone) return;
                const int c = static_cast<int>(offer);
                cq.costDone = c;
                cq.dx = static_cast<std::uint16_t>(dxP + AX);
                cq.dy = static_cast<std::uint16_t>(dyP + AY);
                cq.label = labelP;
                cq.arc = j;
                queue.enter(static_cast<int>(&cq - base), c, costP);
            },
            std::make_integer_sequence<int, Arcs::N>());
    }
    int predStep[Arcs::N];
    for (int j = 0; j < Arcs::N; ++j) predStep[j] = Arcs::step[2 * j] + Arcs::step[2 * j + 1] * ncols;
    // A stretch of a row of blocks at a time: the results are staged in the
    // records' order, framed columns included, then copied out row by row.
    // The staged rows are a line longer than the stretch, so that the 16 rows
    // of a block do not compete for the same cache sets.
    constexpr int STRETCH = 32;  // blocks
    constexpr int stride = 16 * STRETCH + 16;
    std::vector<int> staged = px::buffer<int>(3 * 16 * stride);
    int *const stagedCost = staged.data(), *const stagedLabel = stagedCost + 16 * stride;
    int *const stagedPred = stagedLabel + 16 * stride;
    for (int by = 0; by < blockRows; ++by)
        for (int bx0 = 0; bx0 < blocks.perRow; bx0 += STRETCH) {
            const int bx1 = std::min(bx0 + STRETCH, blocks.perRow);
            const Record *c = base + (static_cast<std::ptrdiff_t>(by) * blocks.perRow + bx0) * 256;
            for (int bx = bx0; bx < bx1; ++bx)
                for (int yy = 0; yy < 16; ++yy) {
                    // The pixel of the block's framed column 0 (x = 16 bx - 1);
                    // frame values are staged but never copied out.
                    const long long p = (16LL * by + yy - 1) * ncols + 16 * bx - 1;
                    const int at = yy * stride + 16 * (bx - bx0);
                    for (int xx = 0; xx < 16; ++xx, ++c) {
                        stagedCost[at + xx] = c->costDone & IFT_INFINITY_MIN;
                        stagedLabel[at + xx] = c->label;
                        stagedPred[at + xx] = static_cast<int>(c->arc == SELF ? p + xx : p + xx - predStep[c->arc]);
                    }
                }
            // Framed columns 16 bx0 .. 16 bx1 - 1 are image columns from
            // 16 bx0 - 1 on, the frame's own left off.
            const int x0 = std::max(16 * bx0 - 1, 0), x1 = std::min(16 * bx1 - 1, ncols);
            const int skip = x0 - (16 * bx0 - 1);
            for (int yy = 0; yy < 16; ++yy) {
                const int y = 16 * by + yy - 1;
                if (y < 0 || y >= nrows || x1 <= x0) continue;
                const std::ptrdiff_t to = static_cast<std::ptrdiff_t>(y) * ncols + x0;
                const std::size_t bytes = sizeof(int) * static_cast<std::size_t>(x1 - x0);
                std::memcpy(out.cost + to, stagedCost + yy * stride + skip, bytes);
                std::memcpy(out.label + to, stagedLabel + yy * stride + skip, bytes);
                std::memcpy(out.pred + to, stagedPred + yy * stride + skip, bytes);
            }
        }
    return true;
}

} // namespace blocked

// The propagation, its arcs unrolled for the usual neighbourhoods: the
// 8- and 4-neighbourhoods of the distance transforms (page-blocked for the
// distance transform itself), and the disc of iftSkelNova.
template <Mode M>
void propagateWith(int ncols, int nrows, const px::NeighbourTable &table, int nbuckets, const Layout &out,
                   const SeedSet &seeds, const SkeletonRule &rule)
{
    if constexpr (M == Mode::TwoLabels) {
        if (Disc2::matches(table)) return propagate<M, Disc2>(ncols, nrows, table, nbuckets, out, seeds, rule);
    } else {
        if (Arcs8::matches(table)) {
            if constexpr (M == Mode::Distance)
                if (blocked::propagate<Arcs8>(ncols, nrows, nbuckets, out, seeds)) return;
            return propagate<M, Arcs8>(ncols, nrows, table, nbuckets, out, seeds, rule);
        }
        if (Arcs4::matches(table)) {
            if constexpr (M == Mode::Distance)
                if (blocked::propagate<Arcs4>(ncols, nrows, nbuckets, out, seeds)) return;
            return propagate<M, Arcs4>(ncols, nrows, table, nbuckets, out, seeds, rule);
        }
    }
    propagate<M, AnyArcs>(ncols, nrows, table, nbuckets, out, seeds, rule);
}

// ---- The exact queue of the general operators ------------------------------

// The public queue's discipline (first-in first-out buckets, an update
// re-appends at the tail of its new bucket, the cursor searches circularly)
// with links and state in one record per element. The bucket table is an
// array when the count is modest, otherwise a map of the non-empty buckets
// (a wide image or a huge radius must not cost memory per possible cost);
// both are searched in the same circular order.
class ExactQueue {
public:
    static constexpr int NONE = -1;

    ExactQueue(long long nbuckets, int nelems, long long denseLimit)
        : nbuckets_(nbuckets), dense_(nbuckets <= denseLimit)
    {
        link_ = px::buffer<Link>(static_cast<std::size_t>(nelems), Link{NONE, NONE, QUEUE_ABSENT});
        if (dense_) {
            first_ = px::buffer<int>(static_cast<std::size_t>(nbuckets), NONE);
            last_ = px::buffer<int>(static_cast<std::size_t>(nbuckets), NONE);
        }
    }

    // QUEUE_ABSENT, QUEUE_DONE, or the bucket holding e.
    long long state(int e) const { return link_[e].state; }

    void insert(long long b, int e)
    {
        Link &l = link_[e];
        int &first = firstOf(b);
        int &last = lastOf(b);
        if (first == NONE) first = e;
        else link_[last].next = e;
        l.prev = last;
        l.next = NONE;
        l.state = b;
        last = e;
    }

    // Moves a queued e to the tail of bucket b (also when it is its bucket).
    void move(long long b, int e)
    {
        Link &l = link_[e];
        const long long ob = l.state;
        if (ob < 0) return;
        {
            int &first = firstOf(ob);
            int &last = lastOf(ob);
            if (l.prev == NONE) first = l.next;
            else link_[l.prev].next = l.next;
            if (l.next == NONE) last = l.prev;
            else link_[l.next].prev = l.prev;
            if (!dense_ && first == NONE) sparse_.erase(ob);
        }
        insert(b, e);
    }

    // The head of the first non-empty bucket from the cursor on, circularly;
    // -1 when the queue is empty.
    int pop()
    {
        long long b;
        if (dense_) {
            b = current_;
            if (first_[b] == NONE) {
                const long long start = b;
                do {
                    b = b + 1 == nbuckets_ ? 0 : b + 1;
                } while (first_[b] == NONE && b != start);
                current_ = b;
                if (first_[b] == NONE) return NONE;
            }
        } else {
            if (sparse_.empty()) return NONE;
            auto it = sparse_.lower_bound(current_);
            if (it == sparse_.end()) it = sparse_.begin();
            b = current_ = it->first;
        }
        int &first = firstOf(b);
        const int e = first;
        const int next = link_[e].next;
        first = next;
        if (next == NONE) {
            lastOf(b) = NONE;
            if (!dense_) sparse_.erase(b);
        } else {
            link_[next].prev = NONE;
        }
        link_[e].state = QUEUE_DONE;
        return e;
    }

private:
    struct Link {
        int prev, next;
        long long state;
    };
    struct Ends {
        int first = NONE, last = NONE;
    };

    int &firstOf(long long b) { return dense_ ? first_[b] : sparseEnds(b).first; }
    int &lastOf(long long b) { return dense_ ? last_[b] : sparseEnds(b).last; }
    Ends &sparseEnds(long long b)
    {
        try {
            return sparse_[b];
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
    }

    long long nbuckets_;
    bool dense_;
    long long current_ = 0;
    std::vector<Link> link_;
    std::vector<int> first_, last_;
    std::map<long long, Ends> sparse_;
};

// Up to this many buckets beyond twice the pixel count the bucket table is
// an array, as large as the image's own bands.
long long denseLimit(int npixels) { return 2LL * npixels + (1 << 16); }

long long trueModulo(long long c, long long m)
{
    long long r = c % m;
    return r < 0 ? r + m : r;
}

int saturate(long long v) { return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v))); }

// Arc weights and path costs for iftSkel: the library's own are called
// directly, a user's through its pointer.
template <WeightFn F>
struct KnownWeight {
    int operator()(Image *img, int p, int q) const { return F(img, p, q); }
};
struct UserWeight {
    WeightFn f;
    int operator()(Image *img, int p, int q) const { return f(img, p, q); }
};
template <PathCostFn F>
struct KnownPathCost {
    int operator()(int a, int w) const { return F(a, w); }
};
struct UserPathCost {
    PathCostFn f;
    int operator()(int a, int w) const { return f(a, w); }
};

template <class W, class C>
void skelIft(Image *img, Image *work, const px::NeighbourTable &table, W weight, C pathCost, Roots *roots,
             int contourMode)
{
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows;
    const int nb = work->nbands;
    int *label = work->bands[nb - 4], *cost = work->bands[nb - 3], *pred = work->bands[nb - 2];
    int *mark = work->bands[nb - 1];
    const int *value = img->bands[0];
    const long long diag = static_cast<long long>(ncols) * ncols + static_cast<long long>(nrows) * nrows;
    const long long nbuckets = diag + 1;
    const long long scale = diag / 1000;
    ExactQueue queue(nbuckets, n, denseLimit(n));
    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = IFT_INFINITY_MIN;
        pred[p] = p;
    }
    auto enqueue = [&](long long b, int p) {
        if (queue.state(p) == QUEUE_ABSENT) queue.insert(b, p);
        else queue.move(b, p);
    };
    // The seed pixel of each label (labels outside 0 .. npixels-1 have none).
    std::vector<int> seedOf;
    if (contourMode) seedOf = px::buffer<int>(static_cast<std::size_t>(n), -1);
    for (int i = 0; i < roots->count; ++i) {
        const int p = roots->pixel[i];
        if (p < 0 || p >= n) continue;
        label[p] = roots->label[i];
        if (contourMode) {
            cost[p] = roots->cost[i];
            if (label[p] >= 0 && label[p] < n) seedOf[label[p]] = p;
            enqueue(trueModulo(cost[p], nbuckets), p);
        } else {
            cost[p] = 0;
            enqueue(0, p);
        }
    }
    // Whether the seeds of labels a and b are neighbours (a's seed lies at a
    // displacement of b's).
    auto seedsAdjacent = [&](int a, int b) {
        const int sa = a >= 0 && a < n ? seedOf[a] : -1;
        const int sb = b >= 0 && b < n ? seedOf[b] : -1;
        if (sa < 0 || sb < 0) return false;
        bool found = false;
        table.forEach(sb, [&](int, int q) { found = found || q == sa; });
        return found;
    };
    for (int p; (p = queue.pop()) != ExactQueue::NONE;) {
        table.forEach(p, [&](int, int q) {
            if (queue.state(q) == QUEUE_DONE) {
                // Could p have been reached from q at the same cost?
                if (pathCost(cost[q], saturate(weight(img, q, p) * scale)) != cost[p] || label[q] == label[p]) return;
                if (contourMode) {
                    if (value[p] > 0 && !seedsAdjacent(label[p], label[q])) mark[p] = MARK;
                } else if (value[p] == 0) {
                    mark[p] = MARK;
                }
                return;
            }
            const int c = pathCost(cost[p], saturate(weight(img, p, q) * scale));
            if (c >= cost[q]) return;
            cost[q] = c;
            label[q] = label[p];
            pred[q] = p;
            enqueue(trueModulo(c, nbuckets), q);
        });
    }
}

template <class W>
void skelIftWithCost(Image *img, Image *work, const px::NeighbourTable &table, W weight, PathCostFn pathCost,
                     Roots *roots, int contourMode)
{
    if (pathCost == ifPathCostSum) skelIft(img, work, table, weight, KnownPathCost<ifPathCostSum>(), roots, contourMode);
    else if (pathCost == ifPathCostMax) skelIft(img, work, table, weight, KnownPathCost<ifPathCostMax>(), roots, contourMode);
    else skelIft(img, work, table, weight, UserPathCost{pathCost}, roots, contourMode);
}

// The bands an operator writes must exist and match the input's size.
void requireWork(const char *op, Image *img, Image *work, int bands)
{
    if (!work || work->nbands < bands || work->npixels != img->npixels || work->ncols != img->ncols)
        px::fatal(PX_FATAL_ARGUMENT, "%s: the work image needs %d bands of the input's size\n", op, bands);
}

// The operators seeded by a Roots set: every pixel starts unlabelled and its
// own predecessor, every seed at cost 0 (whatever its own cost field says)
// with its label, and the queue has 2 x (ncols + nrows) + 2 buckets.
template <Mode M>
void propagateFromRoots(Image *img, const Layout &out, AdjacencyFn adjacency, Roots *roots, const SkeletonRule &rule)
{
    SeedSet seeds;
    seeds.pixel = roots->pixel;
    seeds.count = roots->count;
    seeds.label = roots->label;
    const px::NeighbourTable table = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    const int nbuckets = clampBuckets(2LL * (static_cast<long long>(img->ncols) + img->nrows) + 2);
    propagateWith<M>(img->ncols, img->nrows, table, nbuckets, out, seeds, rule);
}

} // namespace

extern "C" {

void iftEuclideanDT(Image *img, Image *work, AdjacencyFn adjacency, Roots *roots)
{
    requireWork("iftEuclideanDT", img, work, 3);
    const int nb = work->nbands;
    Layout out;
    out.label = work->bands[nb - 3];
    out.cost = work->bands[nb - 2];
    out.pred = work->bands[nb - 1];
    propagateFromRoots<Mode::Distance>(img, out, adjacency, roots, SkeletonRule());
}

void iftSkelNova(Image *img, Image *work, ContourRoots *seeds)
{
    requireWork("iftSkelNova", img, work, 4);
    const int nb = work->nbands;
    Layout out;
    out.label = work->bands[nb - 4];
    out.cost = work->bands[nb - 3];
    out.pred = work->bands[nb - 2];
    out.label2 = work->bands[nb - 1];
    SeedSet order;
    order.pixel = seeds->pixel;
    order.count = seeds->count;
    order.label = seeds->position;
    order.label2 = seeds->contour;
    std::vector<int> pairs = px::discPairs(2);
    const px::NeighbourTable table(pairs.data(), static_cast<int>(pairs.size() / 2), img->ncols, img->nrows);
    // 2 x (int)sqrt(2) x (ncols + nrows) buckets.
    const int nbuckets = clampBuckets(2LL * (static_cast<long long>(img->ncols) + img->nrows));
    propagateWith<Mode::TwoLabels>(img->ncols, img->nrows, table, nbuckets, out, order, SkeletonRule());
}

void iftEuclideanSkel(Image *bin, Image *work, AdjacencyFn adjacency, Roots *roots, int inner, double error,
                      int seedDist)
{
    px::message("inner = %d; error = %f; seedDist = %d\n", inner, error, seedDist);
    requireWork("iftEuclideanSkel", bin, work, 4);
    const int nb = work->nbands;
    Layout out;
    out.label = work->bands[nb - 4];
    out.cost = work->bands[nb - 3];
    out.pred = work->bands[nb - 2];
    out.mark = work->bands[nb - 1];
    SkeletonRule rule;
    rule.bin = bin->bands[0];
    rule.inner = inner != 0;
    rule.error = error;
    rule.seedDist = seedDist;
    propagateFromRoots<Mode::Skeleton>(bin, out, adjacency, roots, rule);
}

void iftSkel(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost, Roots *roots,
             int contourMode)
{
    requireWork("iftSkel", img, work, 4);
    const px::NeighbourTable table = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    if (weight == ifWatershedMetric)
        skelIftWithCost(img, work, table, KnownWeight<ifWatershedMetric>(), pathCost, roots, contourMode);
    else if (weight == ifEuclideanDistance)
        skelIftWithCost(img, work, table, KnownWeight<ifEuclideanDistance>(), pathCost, roots, contourMode);
    else
        skelIftWithCost(img, work, table, UserWeight{weight}, pathCost, roots, contourMode);
}

void iftSkelReconstr(Image *skel, Image *work)
{
    const int n = skel->npixels, ncols = skel->ncols, nrows = skel->nrows;
    const int *radius2 = skel->bands[0];
    int top = 0;
    for (int p = 0; p < n; ++p) top = std::max(top, radius2[p]);
    const long long nb = static_cast<long long>(top) + 1;
    px::message("nBuckets is %lld\n", nb);
    requireWork("iftSkelReconstr", skel, work, 4);
    int *root = work->bands[work->nbands - 4], *remaining = work->bands[work->nbands - 3];
    int *mark = work->bands[work->nbands - 1];
    // A remaining value of 0 names bucket nb: the queue has one bucket more.
    ExactQueue queue(nb + 1, n, denseLimit(n));
    std::vector<int> dx = px::buffer<int>(static_cast<std::size_t>(n)), dy = dx;
    for (int p = 0; p < n; ++p) {
        remaining[p] = 0;
        if (radius2[p] < 1) {
            dx[p] = dy[p] = UNREACHED_STEPS;
            root[p] = 0;
        } else {
            mark[p] = MARK;
            dx[p] = dy[p] = 0;
            root[p] = p;
            queue.insert(nb - radius2[p], p);  // larger radii leave first
        }
    }
    int *pairs = nullptr;
    const int k = pxNeighborhood8Clockwise(&pairs);
    const px::NeighbourTable table(pairs, k, ncols, nrows);
    std::free(pairs);
    for (int p; (p = queue.pop()) != ExactQueue::NONE;) {
        table.forEach(p, [&](int j, int f) {
            const long long state = queue.state(f);
            if (state == QUEUE_DONE) return;
            const long long nx = static_cast<long long>(dx[p]) + std::abs(table.dx[j]);
            const long long ny = static_cast<long long>(dy[p]) + std::abs(table.dy[j]);
            const long long t = radius2[root[p]] - nx * nx - ny * ny;
            if (t < 0) return;  // outside the disc of p's root
            mark[f] = MARK;
            if (state == QUEUE_ABSENT) {
                queue.insert(nb - t, f);
            } else if (nb - t < state) {
                queue.move(nb - t, f);
            } else {
                return;
            }
            remaining[f] = static_cast<int>(t);
            root[f] = root[p];
            dx[f] = static_cast<int>(nx);
            dy[f] = static_cast<int>(ny);
        });
    }
}

void ifEuclideanShortestPath(Image *bin, Image *out, int source, int target)
{
    Image *work = px::newImage(bin->nbands + 4, PX_WORK, bin->ncols, bin->nrows);
    std::unique_ptr<Image, void (*)(Image *)> owner(work, [](Image *w) { pxReleaseImage(&w); });
    Roots seed;
    ifAllocateRoots(&seed, 1);
    std::unique_ptr<Roots, void (*)(Roots *)> seedOwner(&seed, ifReleaseRoots);
    seed.pixel[0] = source;
    seed.label[0] = 1;
    iftEuclideanSkel(bin, work, pxNeighborhood8, &seed, 1, 0.0, 0);
    // The cost and predecessor bands sit just before the mark band, whatever
    // bin's band count. A target outside the image has no path.
    const int *cost = work->bands[work->nbands - 3], *pred = work->bands[work->nbands - 2];
    if (target >= 0 && target < bin->npixels && out->npixels == bin->npixels)
        for (int p = target; pred[p] != p; p = pred[p]) out->bands[0][p] = cost[p];
    px::message("pf saved\n");
}

} // extern "C"
