// Area opening and closing: every bright (dark) structure that covers fewer
// than `area` pixels is lowered (raised) to the grey level at which it reaches
// that area. The result is a global reconstruction of the image from its
// regional maxima, each maximum's seeds carrying its level.
//
// The level of a regional maximum is the highest grey level h at which the
// 8-connected set of pixels >= h around it holds at least `area` pixels, or
// the image's lowest value when the whole image holds fewer. A flood from the
// maximum served in decreasing order of min-path cost meets the pixels in
// decreasing order of the highest level at which they join it, so the cost of
// its area-th pixel is that level; but one flood per maximum costs about
// k x area x 8 steps and explodes on textured images with large areas. The
// levels come instead from a single flood of the whole image that builds its
// component tree on the way (Salembier, Oliveras and Garrido 1998, in the
// non-recursive form of Nister and Stewenius 2008): the flood always moves to
// the highest pixel it can reach, so each set of pixels >= h is complete, with
// its area, at the moment the flood first goes below h. A maximum's level is
// the level of the first set on its way down that holds `area` pixels.
//
// ifAreaOpenOld floods from all maxima at once: they compete for the pixels,
// and only those that win `area` pixels cut their dome.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

using ift_detail::ImageOwner;
using ift_detail::RootsOwner;

// An area below 1 would count no pixel at all; it removes nothing, like 1.
int effectiveArea(int area) { return area < 1 ? 1 : area; }

// The maxima's labels come in increasing order of first appearance, so
// counting the new ones gives the highest label.
int countMaxima(const Roots *seeds)
{
    int k = 0;
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->label[i] > k) k = k + 1;
    return k;
}

void announceMaxima(int k) { px::message("There are %d regional maxima\n", k); }

// Grey levels as dense indices: the offset from the lowest value when the
// values span a modest range, else the rank among the distinct values.
class GreyLevels {
public:
    GreyLevels(const int *v, int n)
    {
        constexpr long long DENSE_SLACK = 1 << 16;
        int lo = v[0], hi = v[0];
        for (int p = 1; p < n; ++p) {
            lo = std::min(lo, v[p]);
            hi = std::max(hi, v[p]);
        }
        lowest_ = lo;
        const long long span = static_cast<long long>(hi) - lo + 1;
        if (span <= std::min<long long>(static_cast<long long>(n) + DENSE_SLACK, INT_MAX)) {
            count_ = static_cast<int>(span);
            return;
        }
        distinct_ = px::buffer<int>(static_cast<std::size_t>(n));
        std::copy(v, v + n, distinct_.begin());
        std::sort(distinct_.begin(), distinct_.end());
        distinct_.erase(std::unique(distinct_.begin(), distinct_.end()), distinct_.end());
        count_ = static_cast<int>(distinct_.size());
    }
    int count() const { return count_; }
    int index(int value) const
    {
        if (distinct_.empty()) return static_cast<int>(static_cast<long long>(value) - lowest_);
        return static_cast<int>(std::lower_bound(distinct_.begin(), distinct_.end(), value) - distinct_.begin());
    }
    int value(int index) const { return distinct_.empty() ? lowest_ + index : distinct_[index]; }

private:
    int lowest_ = 0;
    int count_ = 0;
    std::vector<int> distinct_;
};

// A set of level indices that finds its highest member in a few word
// operations: one bit per level, and above it tiers of one bit per non-zero
// word of the tier below, up to a single word.
class LevelSet {
public:
    explicit LevelSet(int nlevels)
    {
        std::size_t size = static_cast<std::size_t>(nlevels > 0 ? nlevels : 1);
        do {
            size = (size + 63) / 64;
            tiers_.push_back(px::buffer<std::uint64_t>(size));
        } while (size > 1);
    }
    void insert(int l)
    {
        for (auto &tier : tiers_) {
            std::uint64_t &w = tier[static_cast<std::size_t>(l) >> 6];
            const bool known = w != 0;
            w |= std::uint64_t(1) << (l & 63);
            if (known) return;
            l >>= 6;
        }
    }
    void erase(int l)
    {
        for (auto &tier : tiers_) {
            std::uint64_t &w = tier[static_cast<std::size_t>(l) >> 6];
            w &= ~(std::uint64_t(1) << (l & 63));
            if (w) return;
            l >>= 6;
        }
    }
    // The highest member, -1 when empty.
    int highest() const
    {
        if (tiers_.back()[0] == 0) return -1;
        std::size_t i = 0;
        for (std::size_t t = tiers_.size(); t-- > 0;) i = i * 64 + 63 - __builtin_clzll(tiers_[t][i]);
        return static_cast<int>(i);
    }

private:
    std::vector<std::vector<std::uint64_t>> tiers_;
};

// The level of every regional maximum (indexed by label, 1 .. k) for the
// given area (at least 1). seeds are those of ifRegionalMaximaAsRoots(img).
//
// The image's level indices are copied into a frame of one pixel, and a bit
// per pixel of that framed image marks the pixels reached (the frame from the
// start), so the flood needs no border test. Pixels waiting to be visited
// sit in one stack per grey level, carved out of one array by the histogram
// (a pixel waits at most once at a time). The component stack holds the sets
// of pixels >= its levels that the flood is inside, from the lowest up; each
// carries its area and the maxima inside it whose level is still open.
//
// The flood's time goes into fetching neighbours' entries, so they are kept
// small: each neighbour tests its bit (the bits of a 4096 x 4096 image fit a
// core's cache), and only a pixel reached for the first time reads its level,
// kept in the narrowest type that holds the level indices.
template <class Cell>
void floodLevels(const Image *img, const GreyLevels &grey, const Roots *seeds, int k, int area,
                 std::vector<int> &level)
{
    const int n = img->npixels;
    const int ncols = img->ncols, nrows = img->nrows;
    const int *v = img->bands[0];
    const int nlevels = grey.count();

    const std::size_t stride = static_cast<std::size_t>(ncols) + 2;
    const std::size_t padded = stride * (static_cast<std::size_t>(nrows) + 2);
    if (padded > UINT32_MAX) px::dieOutOfMemory();
    std::vector<Cell> levelOf = px::buffer<Cell>(padded);
    std::vector<std::uint64_t> reachedBits = px::buffer<std::uint64_t>((padded + 63) / 64);
    std::uint64_t *const reached = reachedBits.data();
    auto markReached = [reached](std::size_t q) { reached[q >> 6] |= std::uint64_t(1) << (q & 63); };
    for (std::size_t x = 0; x < stride; ++x) {
        markReached(x);
        markReached(padded - 1 - x);
    }
    for (int y = 1; y <= nrows; ++y) {
        markReached(y * stride);
        markReached(y * stride + stride - 1);
    }
    std::vector<int> base = px::buffer<int>(static_cast<std::size_t>(nlevels) + 1);
    for (int y = 0; y < nrows; ++y) {
        const int *row = v + static_cast<std::size_t>(y) * ncols;
        Cell *out = levelOf.data() + (y + 1) * stride + 1;
        for (int x = 0; x < ncols; ++x) {
            const int l = grey.index(row[x]);
            out[x] = static_cast<Cell>(l);
            ++base[static_cast<std::size_t>(l) + 1];
        }
    }
    for (int l = 0; l < nlevels; ++l) base[l + 1] += base[l];
    std::vector<int> top(base.begin(), base.end() - 1);
    // Written before it is read, so left uninitialised: only the parts in use
    // are ever touched.
    std::unique_ptr<std::uint32_t[]> waiting(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(n)]);
    if (!waiting) px::dieOutOfMemory();
    px::adviseHugePages(waiting.get(), static_cast<std::size_t>(n) * sizeof(std::uint32_t));
    LevelSet nonEmpty(nlevels);
    auto push = [&](int l, std::uint32_t pp) {
        if (top[l] == base[l]) nonEmpty.insert(l);
        waiting[top[l]++] = pp;
    };
    auto pop = [&](int l) {
        const std::uint32_t pp = waiting[--top[l]];
        if (top[l] == base[l]) nonEmpty.erase(l);
        return pp;
    };

    // A component without a higher set inside is a flat zone whose
    // neighbours are all lower: a regional maximum. Such leaves are numbered
    // 1, 2, ... as they complete, with the pixel that opened them; their
    // labels are looked up once the flood is over, in one sorted pass over
    // the seeds instead of a search per leaf. Leaves whose level is still
    // open are kept as lists threaded through nextOpen (0 ends).
    std::vector<int> nextOpen = px::buffer<int>(static_cast<std::size_t>(k) + 1);
    std::vector<std::uint32_t> leafStart = px::buffer<std::uint32_t>(static_cast<std::size_t>(k) + 1);
    std::vector<int> leafLevel = px::buffer<int>(static_cast<std::size_t>(k) + 1);
    int leaves = 0;
    struct Component {
        int level;           // index of the lowest level of the set so far
        int area;
        std::uint32_t start; // the pixel that opened it
        bool hasChild;       // holds a higher set, so is no maximum itself
        int first, last;     // leaves whose level is open
    };
    // The set is complete: its open leaves get its level when it is large
    // enough, else they stay open for the set below.
    auto settle = [&](Component &c) {
        if (!c.hasChild) {
            PX_ASSERT(leaves < k);
            if (leaves < k) {
                const int t = ++leaves;
                leafStart[t] = c.start;
                c.first = c.last = t;
                nextOpen[t] = 0;
            }
        }
        if (c.first && c.area >= area) {
            const int h = grey.value(c.level);
            for (int t = c.first; t; t = nextOpen[t]) leafLevel[t] = h;
            c.first = c.last = 0;
        }
    };
    auto mergeInto = [&](Component &to, const Component &from) {
        to.area += from.area;
        to.hasChild = true;
        if (!from.first) return;
        if (to.first) nextOpen[to.last] = from.first;
        else to.first = from.first;
        to.last = from.last;
    };

    std::vector<Component> stack;
    auto open = [&](int l, std::uint32_t pp) {
        try {
            stack.push_back(Component{l, 0, pp, false, 0, 0});
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
    };
    // The flood goes down to level l: every set above l is complete.
    auto lowerTo = [&](int l) {
        for (;;) {
            Component &c = stack.back();
            settle(c);
            Component &below = stack[stack.size() - 2];
            if (l > below.level) {
                c.level = l;
                c.hasChild = true;
                return;
            }
            mergeInto(below, c);
            stack.pop_back();
            if (l == stack.back().level) return;
        }
    };

    const std::ptrdiff_t s = static_cast<std::ptrdiff_t>(stride);
    // The 3 x 3 block around a pixel as bits 0 .. 8 (row by row, from the
    // top left); the order in which neighbours are taken does not change any
    // set's area, so they are taken as the bits come.
    std::ptrdiff_t blockOffset[9];
    for (int i = 0; i < 9; ++i) blockOffset[i] = (i / 3 - 1) * s + (i % 3 - 1);
    constexpr unsigned CENTRE = 1u << 4;
    auto rowBits = [reached](std::size_t first) {  // reached bits first .. first+2
        const std::size_t word = first >> 6, shift = first & 63;
        std::uint64_t w = reached[word] >> shift;
        if (shift > 61) w |= reached[word + 1] << (64 - shift);
        return static_cast<unsigned>(w & 7);
    };
    std::uint32_t cur = static_cast<std::uint32_t>(stride + 1);
    int curLevel = levelOf[cur];
    markReached(cur);
    open(-1, 0);  // below every level: the flood never goes under it
    stack.back().hasChild = true;
    open(curLevel, cur);
    for (;;) {
        bool climbed = false;
        // The levels of the fresh neighbours are read next: start their rows
        // while the reached bits come in.
        __builtin_prefetch(levelOf.data() + cur - stride);
        __builtin_prefetch(levelOf.data() + cur + stride);
        unsigned fresh = ~(rowBits(cur - stride - 1) | rowBits(cur - 1) << 3 | rowBits(cur + stride - 1) << 6) & 0x1ff & ~CENTRE;
        for (; fresh; fresh &= fresh - 1) {
            const std::uint32_t q = static_cast<std::uint32_t>(cur + blockOffset[__builtin_ctz(fresh)]);
            markReached(q);
            const int lq = levelOf[q];
            if (lq > curLevel) {
                // Go up at once; cur comes back later for its other neighbours.
                push(curLevel, cur);
                cur = q;
                curLevel = lq;
                open(lq, q);
                climbed = true;
                break;
            }
            push(lq, q);
        }
        if (climbed) continue;
        ++stack.back().area;
        const int l = nonEmpty.highest();
        if (l < 0) break;
        cur = pop(l);
        // The pixel that waits below in the same stack comes up once what cur
        // adds is done, often far from here: fetch its rows meanwhile.
        if (top[l] > base[l]) {
            const std::size_t e = waiting[top[l] - 1];
            for (std::size_t r : {e - stride, e, e + stride}) {
                __builtin_prefetch(levelOf.data() + r);
                __builtin_prefetch(reached + (r >> 6));
            }
        }
        if (l < curLevel) lowerTo(l);
        curLevel = l;
    }
    // Every pixel has been reached, and the flood ends in the set of the
    // whole image at its lowest value.
    PX_ASSERT(stack.size() == 2);
    while (stack.size() > 2) {
        settle(stack.back());
        mergeInto(stack[stack.size() - 2], stack.back());
        stack.pop_back();
    }
    Component &whole = stack.back();
    settle(whole);
    for (int t = whole.first; t; t = nextOpen[t]) leafLevel[t] = grey.value(whole.level);

    // Each leaf opened on a pixel of its maximum, and every pixel of a
    // maximum is a seed: the waiting stacks, free now, map pixels to the seed
    // on them (entries of other pixels are stale, hence the check).
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->pixel[i] >= 0 && seeds->pixel[i] < n) waiting[seeds->pixel[i]] = static_cast<std::uint32_t>(i);
    for (int t = 1; t <= leaves; ++t) {
        const std::size_t p = (leafStart[t] / stride - 1) * ncols + (leafStart[t] % stride - 1);
        const std::uint32_t i = waiting[p];
        const bool found = i < static_cast<std::uint32_t>(seeds->count) && static_cast<std::size_t>(seeds->pixel[i]) == p;
        PX_ASSERT(found);
        if (found && seeds->label[i] >= 1 && seeds->label[i] <= k) level[seeds->label[i]] = leafLevel[t];
    }
}

std::vector<int> maximaLevels(const Image *img, const Roots *seeds, int k, int area)
{
    std::vector<int> level = px::buffer<int>(static_cast<std::size_t>(k) + 1);
    if (img->npixels <= 0 || k == 0) return level;
    const GreyLevels grey(img->bands[0], img->npixels);
    if (grey.count() <= 1 << 8) floodLevels<std::uint8_t>(img, grey, seeds, k, area, level);
    else if (grey.count() <= 1 << 16) floodLevels<std::uint16_t>(img, grey, seeds, k, area, level);
    else floodLevels<std::uint32_t>(img, grey, seeds, k, area, level);
    return level;
}

// Maxima, levels, and the global reconstruction from the maxima at their
// levels. The image's maxValue sizes the reconstruction's queue.
void areaOpen(Image *img, Image **filtered, Image **labels, int area)
{
    RootsOwner seeds(ifRegionalMaximaAsRoots(img));
    const int k = countMaxima(seeds.get());
    announceMaxima(k);
    const std::vector<int> level = maximaLevels(img, seeds.get(), k, effectiveArea(area));
    for (int i = 0; i < seeds->count; ++i) {
        const int t = seeds->label[i];
        if (t >= 1 && t <= k) seeds->cost[i] = level[t];
    }
    ifReconstr(img, img, seeds.get(), 1, filtered, labels);
}

} // namespace

extern "C" {

void ifAreaOpen(Image *img, Image **filtered, Image **labels, int area)
{
    areaOpen(img, filtered, labels, area);
}

// The maxima flood together, highest cost first, through one bucket queue
// keyed like the decreasing IFT: cost c goes to bucket (M - c) modulo M + 1.
// A pixel taken out counts for its label, and is expanded, only while that
// label has fewer than `area` pixels; the maxima that reach `area` cut their
// own dome at the level of their area-th pixel, the others are dropped.
void ifAreaOpenOld(Image *img, Image **filtered, Image **labels, int area)
{
    area = effectiveArea(area);
    const int n = img->npixels;
    const int M = img->maxValue;
    const int *v = img->bands[0];
    RootsOwner seeds(ifRegionalMaximaAsRoots(img));
    const int k = countMaxima(seeds.get());
    announceMaxima(k);

    const long long span = ift_detail::queueSpan(M);
    auto key = [&](int c) { return ift_detail::wrapKey(static_cast<long long>(M) - c, span); };
    // Every cost that enters the queue is a pixel value or a seed cost.
    const ift_detail::QueueKeys keys(span, n, [&](auto add) {
        for (int p = 0; p < n; ++p) add(key(v[p]));
        for (int i = 0; i < seeds->count; ++i) add(key(seeds->cost[i]));
    });
    ift_detail::OwnedQueue queue(keys.count(), n);
    QueueBuckets *Q = queue.Q();
    QueueElements *A = queue.A();
    std::vector<int> cost = px::buffer<int>(static_cast<std::size_t>(n), IFT_INFINITY_MAX);
    std::vector<int> label = px::buffer<int>(static_cast<std::size_t>(n));
    std::vector<int> counter = px::buffer<int>(static_cast<std::size_t>(k) + 1);
    std::vector<int> level = px::buffer<int>(static_cast<std::size_t>(k) + 1);
    auto offer = [&](int p, int c) {
        const int b = keys.bucket(key(c));
        if (A->bucketOf[p] == QUEUE_ABSENT) insertQueue(Q, A, b, p);
        else updateQueue(Q, A, b, p);
    };
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        cost[p] = seeds->cost[i];
        label[p] = seeds->label[i];
        offer(p, cost[p]);
    }

    const px::NeighbourTable table = px::NeighbourTable::from(pxNeighborhood8, img->ncols, img->nrows);
    while (!isEmpty(Q)) {
        const int p = removeQueue(Q, A, Q->current);
        const int t = label[p];
        if (t < 1 || t > k || counter[t] >= area) continue;
        ++counter[t];
        level[t] = cost[p];
        table.forEach(p, [&](int, int q) {
            if (A->bucketOf[q] == QUEUE_DONE) return;
            const int c = std::min(cost[p], v[q]);
            if (c <= cost[q]) return;
            cost[q] = c;
            label[q] = t;
            offer(q, c);
        });
    }

    int kept = 0;
    for (int i = 0; i < seeds->count; ++i) {
        const int t = seeds->label[i];
        if (t >= 1 && t <= k && counter[t] >= area) ++kept;
    }
    RootsOwner winners(static_cast<Roots *>(std::calloc(1, sizeof(Roots))));
    if (!winners) px::dieOutOfMemory();
    ifAllocateRoots(winners.get(), kept);
    for (int i = 0, j = 0; i < seeds->count; ++i) {
        const int t = seeds->label[i];
        if (t < 1 || t > k || counter[t] < area) continue;
        winners->pixel[j] = seeds->pixel[i];
        winners->label[j] = t;
        winners->cost[j] = level[t];
        ++j;
    }
    ifReconstr(img, img, winners.get(), 0, filtered, labels);
}

// The opening of the negative, negated back against the same top value: 255
// for 8-bit images, else the input's maxValue raised to its largest value
// (pxNegative raises it). Negating against the opened image's own, usually
// lower, top would shift the whole closing down.
void ifAreaClose(Image *img, Image **filtered, Image **labels, int area)
{
    ImageOwner neg(pxNegative(img, img->type));
    if (!neg) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    const int top = neg->maxValue;
    Image *openedRaw = nullptr, *labelsRaw = nullptr;
    ifAreaOpen(neg.get(), &openedRaw, &labelsRaw, area);
    ImageOwner opened(openedRaw), labelOwner(labelsRaw);
    Image *out = px::newImage(1, opened->type, opened->ncols, opened->nrows);
    const int *o = opened->bands[0];
    int *c = out->bands[0];
    for (int p = 0; p < out->npixels; ++p) {
        const long long d = static_cast<long long>(top) - o[p];
        c[p] = d > INT_MAX ? INT_MAX : d < INT_MIN ? INT_MIN : static_cast<int>(d);
    }
    out->maxValue = top;
    *labels = labelOwner.release();
    *filtered = out;
}

} // extern "C"
