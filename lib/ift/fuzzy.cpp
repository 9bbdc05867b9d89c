// Fuzzy connectedness: objects described by the mean and variance of their
// grey values compete for the pixels along paths whose cost is their largest
// fuzzy dissimilarity (the max-arc path cost).
//
// The dissimilarity of an arc for an object depends only on the sum of the
// arc's two values, so it is tabled once per object over the sums the image
// can produce (511 entries for an 8-bit image) instead of taking an
// exponential per arc; the table holds exactly what the formula gives. Only an
// image whose values span millions of levels takes the formula per arc.
//
// Both segmenters write debug images into the working directory, which is part
// of their documented output.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "../ift.h"
#include "../pxIO.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

// Dissimilarities, and so the costs of max-arc paths, lie in 0 .. 255.
constexpr int DISSIMILARITY_MAX = 255;
constexpr int COST_LEVELS = DISSIMILARITY_MAX + 1;
// Tables up to this many sums (4 MiB); beyond it the formula runs per arc.
constexpr long long MAX_TABLE_SUMS = 1LL << 22;
// The debug files show at most this many bands of an arc image.
constexpr int DEBUG_BANDS = 4;

// 255 - trunc(255 exp(-(m * m) / variance)) with m = sum / 2 - mean, every
// division truncating towards zero. The square is taken in 128 bits so that
// no value overflows; where the int arithmetic does not overflow the result
// is the same. variance > 0.
int dissimilarity(long long sum, int mean, int variance)
{
    const long long m = sum / 2 - mean;
    const __int128 squared = static_cast<__int128>(m) * m;
    const double t = -static_cast<double>(squared / variance);
    const int a = static_cast<int>(std::exp(t) * 255);
    return DISSIMILARITY_MAX - a;
}

// A variance of 0 would divide by zero and a negative one would turn the
// dissimilarity upside down, so both are refused before any work is done.
// object 0 stands for the single object of the arc-image functions.
void checkVariance(const char *caller, int object, int variance)
{
    if (variance > 0) return;
    if (object == 0) px::fatal(PX_FATAL_ARGUMENT, "%s: the variance is %d; it must be positive\n", caller, variance);
    px::fatal(PX_FATAL_ARGUMENT, "%s: the variance of object %d is %d; it must be positive\n", caller, object,
              variance);
}

void checkVariances(const char *caller, const int *variances, int nobjects)
{
    for (int k = 1; k <= nobjects; ++k) checkVariance(caller, k, variances[k]);
}

// The label and cost images receive one value per pixel of img.
void checkOutputs(const char *caller, const Image *img, const Image *label, const Image *cost)
{
    if (label->npixels < img->npixels || cost->npixels < img->npixels)
        px::fatal(PX_FATAL_ARGUMENT, "%s: the label and cost images must have the input's %d x %d pixels\n",
                  caller, img->ncols, img->nrows);
}

// ---- Arc weights -----------------------------------------------------------

// The least dissimilarity over objects first .. last, read from a table
// indexed by the sum of the two values less twice the smallest value.
struct TableWeight {
    const unsigned char *table;
    unsigned offset;  // twice the smallest value, modulo 2^32
    int operator()(int a, int b) const
    {
        return table[static_cast<unsigned>(a) + static_cast<unsigned>(b) - offset];
    }
};

// The same, computed from the formula on every call.
struct FormulaWeight {
    const int *means, *variances;
    int first, last;
    int operator()(int a, int b) const
    {
        const long long sum = static_cast<long long>(a) + b;
        int least = INT_MAX;
        for (int k = first; k <= last; ++k) least = std::min(least, dissimilarity(sum, means[k], variances[k]));
        return least;
    }
};

// Calls run(weight) with the cheapest weight that gives the least
// dissimilarity over objects first .. last (first <= last) on img's band 0.
template <class Run>
void withWeight(const Image *img, const int *means, const int *variances, int first, int last, Run run)
{
    const int *v = img->bands[0];
    int lo = v[0], hi = v[0];
    for (int p = 1; p < img->npixels; ++p) {
        lo = std::min(lo, v[p]);
        hi = std::max(hi, v[p]);
    }
    const long long sums = 2 * (static_cast<long long>(hi) - lo) + 1;
    if (sums > MAX_TABLE_SUMS) {
        run(FormulaWeight{means, variances, first, last});
        return;
    }
    std::vector<unsigned char> table = px::buffer<unsigned char>(static_cast<std::size_t>(sums), DISSIMILARITY_MAX);
    for (int k = first; k <= last; ++k)
        for (long long i = 0; i < sums; ++i) {
            const int d = dissimilarity(2LL * lo + i, means[k], variances[k]);
            if (d < table[i]) table[i] = static_cast<unsigned char>(d);
        }
    run(TableWeight{table.data(), 2u * static_cast<unsigned>(lo)});
}

// Band j of an arc image: the weight of the arc from every pixel to its
// neighbour under displacement j, 0 where that neighbour is outside.
template <class Weight>
void fillArcBand(const Image *img, const px::NeighbourTable &t, int j, const Weight &w, int *out)
{
    const int *v = img->bands[0];
    const int ncols = img->ncols, nrows = img->nrows, dx = t.dx[j], dy = t.dy[j];
    for (int y = 0, p = 0; y < nrows; ++y) {
        const bool rowInside = y + dy >= 0 && y + dy < nrows;
        for (int x = 0; x < ncols; ++x, ++p)
            out[p] = rowInside && x + dx >= 0 && x + dx < ncols ? w(v[p], v[p + t.off[j]]) : 0;
    }
}

// ---- The max-arc forest ----------------------------------------------------

// Costs 0 .. 255 served in increasing order. An offer is never below the cost
// being served, so the pixels come out in nondecreasing cost and no bucket
// below the one being served is ever filled again: 256 first-in first-out
// buckets taken in turn serve them as the circular bucket queue does. A
// waiting pixel that is offered a better cost is appended at the tail of its
// new bucket, exactly where the queue would move it, and its old place is
// passed over when reached (its cost no longer names that bucket; costs only
// ever go down while a pixel waits, so it cannot name it again).
class CostBuckets {
public:
    // How many places ahead of the pixel served the next one is announced.
    static constexpr std::size_t LOOKAHEAD = 8;

    CostBuckets() : bucket_(COST_LEVELS) {}

    void push(int b, int e)
    {
        try {
            bucket_[b].push_back(e);
        } catch (const std::bad_alloc &) {
            px::dieOutOfMemory();
        } catch (const std::length_error &) {
            px::dieOutOfMemory();
        }
    }

    const std::vector<int> &bucket(int b) const { return bucket_[b]; }

    // Calls serve(b, e, ahead) for every entry e in serving order, entries
    // appended while serving included, with the entry LOOKAHEAD places later
    // in the same bucket (-1 if none yet); leaves the buckets empty.
    template <class Serve>
    void drain(Serve serve)
    {
        for (int b = 0; b < COST_LEVELS; ++b) {
            std::vector<int> &list = bucket_[b];
            for (std::size_t i = 0; i < list.size(); ++i)
                serve(b, list[i], i + LOOKAHEAD < list.size() ? list[i + LOOKAHEAD] : -1);
            list.clear();
        }
    }

private:
    std::vector<std::vector<int>> bucket_;
};

// Everything an expansion reads or writes about a pixel, in one record: a
// jump of the serving order then costs one cache line per row, not one per
// row and array.
struct Cell {
    int value, cost, label;
};

// Cells with img's band-0 values, every cost at the infinity, and the labels
// given (0 when label is null).
std::vector<Cell> makeCells(const Image *img, const int *label)
{
    std::vector<Cell> cells = px::buffer<Cell>(static_cast<std::size_t>(img->npixels));
    const int *v = img->bands[0];
    for (int p = 0; p < img->npixels; ++p) cells[p] = Cell{v[p], IFT_INFINITY_MIN, label ? label[p] : 0};
    return cells;
}

// Seeds enter bucket 0 in array order with cost 0 (those outside the image or
// not accepted are skipped); a pixel seeded again is moved to the tail, which
// leaves it where its last seed alone would have put it. Every cost must be
// the infinity.
template <class Accept, class OnSeed>
void enterSeeds(Roots *seeds, std::vector<Cell> &cells, CostBuckets &queue, Accept accept, OnSeed onSeed)
{
    const int n = static_cast<int>(cells.size());
    // cost holds, for the moment, the index of the last accepted seed on each pixel.
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p < 0 || p >= n || !accept(i)) continue;
        cells[p].cost = i;
        onSeed(i, cells[p]);
    }
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p >= 0 && p < n && accept(i) && cells[p].cost == i) queue.push(0, p);
    }
    for (int p : queue.bucket(0)) cells[p].cost = 0;
}

using ift_detail::RowOf;

// The IFT with the max-arc path cost from the seeds already in the queue.
// Neighbours are offered in relation order and only a strictly better cost
// is taken; with Labels, labels follow the paths. Pixels of the safe area
// add the linear offsets, the others test each displacement: both walk the
// relation in its order.
template <bool Labels, class Weight>
void maxArcForest(std::vector<Cell> &cellVector, const px::NeighbourTable &t, CostBuckets &queue, const Weight &w)
{
    Cell *const cells = cellVector.data();
    const int n = static_cast<int>(cellVector.size()), ncols = t.ncols, nrows = t.nrows, k = t.n;
    const int x0 = t.rx, x1 = ncols - t.rx, y0 = t.ry, y1 = nrows - t.ry;
    const int *off = t.off.data(), *dx = t.dx.data(), *dy = t.dy.data();
    const RowOf rowOf(ncols);
    queue.drain([&](int b, int p, int ahead) {
        if (ahead >= 0) {
            // The rows above and below of a pixel served soon; edge rows
            // fetch their own row again.
            __builtin_prefetch(cells + (ahead >= ncols ? ahead - ncols : ahead), 1);
            __builtin_prefetch(cells + ahead, 1);
            __builtin_prefetch(cells + (ahead + ncols < n ? ahead + ncols : ahead), 1);
        }
        const Cell &cp = cells[p];
        if (cp.cost != b) return;  // moved to a lower bucket and served there
        const int vp = cp.value, lp = cp.label;
        auto offer = [&](int q) {
            Cell &cq = cells[q];
            const int c = std::max(b, w(vp, cq.value));
            if (c >= cq.cost) return;
            cq.cost = c;
            if (Labels) cq.label = lp;
            queue.push(c, q);
        };
        const int y = rowOf(p), x = p - y * ncols;
        if (x >= x0 && x < x1 && y >= y0 && y < y1) {
            for (int j = 0; j < k; ++j) offer(p + off[j]);
        } else {
            for (int j = 0; j < k; ++j) {
                const int nx = x + dx[j], ny = y + dy[j];
                if (nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) offer(ny * ncols + nx);
            }
        }
    });
}

// ---- Debug images ----------------------------------------------------------

// Writes one band as a 1-band image of type 2 (maxValue 0, so the writer
// takes the band's largest value); a missing band (null) is written as zeros.
void saveDebugBand(const char *name, const Image *like, const int *band)
{
    std::vector<int> zeros;
    if (!band) {
        zeros = px::buffer<int>(static_cast<std::size_t>(like->npixels));
        band = zeros.data();
    }
    int *bands[1] = {const_cast<int *>(band)};
    Image view{};
    view.bands = bands;
    view.nbands = 1;
    view.ncols = like->ncols;
    view.nrows = like->nrows;
    view.npixels = like->npixels;
    view.rowOffset = like->rowOffset;
    view.maxValue = 0;
    view.type = PX_GREY_INT;
    pxSaveImage(name, &view);
}

// "<stem>1.pgm" .. "<stem>4.pgm" from bands 0 .. 3 of the arc image of the
// least dissimilarity over objects first .. last; bands the relation does not
// have are written as zeros.
void saveArcBands(const char *stem, const Image *img, const px::NeighbourTable &t, const int *means,
                  const int *variances, int first, int last, std::vector<int> &scratch)
{
    withWeight(img, means, variances, first, last, [&](const auto &w) {
        for (int j = 0; j < DEBUG_BANDS; ++j) {
            char name[32];
            std::snprintf(name, sizeof name, "%s%d.pgm", stem, j + 1);
            if (j >= t.n) {
                saveDebugBand(name, img, nullptr);
                continue;
            }
            fillArcBand(img, t, j, w, scratch.data());
            saveDebugBand(name, img, scratch.data());
        }
    });
}

struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using OwnedImage = std::unique_ptr<Image, ImageDeleter>;

} // namespace

extern "C" {

Image *ifFuzzyEdgesWeight(Image *img, AdjacencyFn adjacency, int mean, int variance)
{
    checkVariance("ifFuzzyEdgesWeight", 0, variance);
    const px::NeighbourTable t = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    Image *out = px::newImage(t.n, PX_WORK, img->ncols, img->nrows);
    const int means[2] = {0, mean}, variances[2] = {0, variance};
    withWeight(img, means, variances, 1, 1, [&](const auto &w) {
        for (int j = 0; j < t.n; ++j) fillArcBand(img, t, j, w, out->bands[j]);
    });
    return out;
}

Image *ifTestFuzzy(Image *img, int mean, int variance)
{
    checkVariance("ifTestFuzzy", 0, variance);
    const px::NeighbourTable t = px::NeighbourTable::from(pxNeighborhood4, img->ncols, img->nrows);
    Image *out = px::newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    const int means[2] = {0, mean}, variances[2] = {0, variance};
    const int *v = img->bands[0];
    int *o = out->bands[0];
    withWeight(img, means, variances, 1, 1, [&](const auto &w) {
        for (int p = 0; p < img->npixels; ++p) {
            int sum = 0;
            t.forEach(p, [&](int, int q) { sum += w(v[p], v[q]); });
            // Divided by 4 even where fewer neighbours exist.
            o[p] = sum >> 2;
        }
    });
    return out;
}

void iftFuzzy(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
              int *variances, int nobjects)
{
    checkVariances("iftFuzzy", variances, nobjects);
    checkOutputs("iftFuzzy", img, label, cost);
    const int objects = std::max(nobjects, 0);
    const int n = img->npixels;
    const px::NeighbourTable t = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    // Band k holds the cost map of object k; band 0 is not used.
    OwnedImage work(px::newImage(objects + 1, PX_WORK, img->ncols, img->nrows));
    CostBuckets queue;
    std::vector<Cell> cells = makeCells(img, nullptr);

    // One forest per object, grown from that object's seeds only.
    for (int k = 1; k <= objects; ++k) {
        if (k > 1)
            for (Cell &c : cells) c.cost = IFT_INFINITY_MIN;
        enterSeeds(
            seeds, cells, queue, [&](int i) { return seeds->label[i] == k; }, [](int, Cell &) {});
        withWeight(img, means, variances, k, k, [&](const auto &w) { maxArcForest<false>(cells, t, queue, w); });
        int *c = work->bands[k];
        for (int p = 0; p < n; ++p) c[p] = cells[p].cost;
    }
    cells = std::vector<Cell>();

    saveDebugBand("tmp1.pgm", img, objects >= 1 ? work->bands[1] : nullptr);
    saveDebugBand("tmp2.pgm", img, objects >= 2 ? work->bands[2] : nullptr);

    // Each pixel goes to the object that reaches it most cheaply, the lower
    // number on a tie; a pixel no object reaches keeps its label.
    int *outCost = cost->bands[0], *outLabel = label->bands[0];
    for (int p = 0; p < n; ++p) {
        int best = IFT_INFINITY_MIN;
        for (int k = 1; k <= objects; ++k)
            if (work->bands[k][p] < best) {
                best = work->bands[k][p];
                outLabel[p] = k;
            }
        outCost[p] = best;
    }
}

void iftFuzzyEdges(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
                   int *variances, int nobjects)
{
    if (nobjects < 1)
        px::fatal(PX_FATAL_ARGUMENT, "iftFuzzyEdges: at least one object is needed, got %d\n", nobjects);
    checkVariances("iftFuzzyEdges", variances, nobjects);
    checkOutputs("iftFuzzyEdges", img, label, cost);
    const int n = img->npixels;
    const px::NeighbourTable t = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);

    // Arc by arc, the least dissimilarity over all objects is the least of
    // their tables at the arc's sum: one table serves the whole relation, so
    // the per-object and minimum arc images are never stored; only the bands
    // the debug files show are made, one at a time.
    for (int k = 1; k <= nobjects; ++k) px::message("computing edge weights for object %d\n", k);
    px::message("Computing minimum edge weight\n");
    std::vector<int> scratch = px::buffer<int>(static_cast<std::size_t>(n));
    saveArcBands("obj", img, t, means, variances, nobjects, nobjects, scratch);
    saveArcBands("fun", img, t, means, variances, 1, 1, scratch);
    saveArcBands("tmp", img, t, means, variances, 1, nobjects, scratch);
    scratch = std::vector<int>();

    CostBuckets queue;
    px::message("running ift\n");
    int *c = cost->bands[0], *l = label->bands[0];
    std::vector<Cell> cells = makeCells(img, l);
    // Every seed sets its label in array order, so a pixel seeded twice
    // keeps the later label.
    enterSeeds(
        seeds, cells, queue, [](int) { return true; }, [&](int i, Cell &cell) { cell.label = seeds->label[i]; });
    withWeight(img, means, variances, 1, nobjects, [&](const auto &w) { maxArcForest<true>(cells, t, queue, w); });
    for (int p = 0; p < n; ++p) {
        c[p] = cells[p].cost;
        l[p] = cells[p].label;
    }
}

} // extern "C"
