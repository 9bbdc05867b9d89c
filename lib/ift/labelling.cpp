// Connected labelling, regional extrema and small label-image utilities.
//
// Components are found by a two-pass union-find scan (the classical
// Rosenfeld-Pfaltz labelling, with union under the smaller index and path
// halving): a raster scan joins every object pixel to its already visited
// 8-neighbours (left, up-left, up, up-right), and a second raster scan numbers
// the sets. Every set's representative is its first pixel in raster order and
// every parent link points to an earlier pixel, so the second scan resolves
// each pixel from a pixel it has already resolved, and the sets are numbered
// 1, 2, ... in raster order of their first pixel: the numbering of a
// breadth-first flood started at each unlabelled object pixel in raster order.
//
// Regional extrema follow their definition directly (a flat zone none of
// whose neighbours is strictly lower, or higher), with the same union-find
// over runs of candidate pixels. No value is shifted or clamped on the way, so
// a constant image is one regional minimum and one regional maximum whatever
// its level, and negative values need no queue.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <type_traits>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"

namespace {

// Printed once per labelling pass: the regional operators announce the
// labellings they stand for, so their standard output matches a run that
// labels the candidate image and the extrema image.
void announceLabelling() { std::fputs("in ifLabelImage\n", stdout); }

constexpr int BACKGROUND = -1;  // parent entry of a pixel outside every set

// Representative of x's set; halves the path on the way. Parents always point
// to an earlier pixel, and so does every shortcut taken here.
inline int findRoot(int *parent, int x)
{
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Joins two sets under the earlier of their representatives.
inline void unite(int *parent, int a, int b)
{
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a < b) parent[b] = a;
    else if (b < a) parent[a] = b;
}

// Links pixel p, known to belong to some set, to its visited 8-neighbours for
// which joins(q) holds. When the upper neighbour joins, the other three are
// its neighbours too and already share its set; the upper-right and upper-left
// neighbours are not adjacent to each other, so both may need a union. Up,
// Left and Right say which of those neighbours exist.
template <bool Up, bool Left, bool Right, class Joins>
inline void linkPixel(int *parent, int p, int ncols, Joins joins)
{
    if (Up && joins(p - ncols)) {
        parent[p] = p - ncols;
    } else if (Up && Right && joins(p - ncols + 1)) {
        parent[p] = p - ncols + 1;
        if (Left && joins(p - ncols - 1)) unite(parent, p, p - ncols - 1);
        else if (Left && joins(p - 1)) unite(parent, p, p - 1);
    } else if (Up && Left && joins(p - ncols - 1)) {
        parent[p] = p - ncols - 1;
    } else if (Left && joins(p - 1)) {
        parent[p] = p - 1;
    } else {
        parent[p] = p;
    }
}

// First pass of the labelling of the positive pixels of bin into parent
// (BACKGROUND elsewhere). Only bin[p] of the current pixel is read; the
// neighbours are judged from their parent entries, so parent may be bin's
// own band.
template <bool Up>
void linkObjectRow(const int *bin, int *parent, int y, int ncols)
{
    const int row = y * ncols;
    auto joins = [parent](int q) { return parent[q] != BACKGROUND; };
    auto one = [&](int x, auto left, auto right) {
        const int p = row + x;
        if (bin[p] > 0) linkPixel<Up, decltype(left)::value, decltype(right)::value>(parent, p, ncols, joins);
        else parent[p] = BACKGROUND;
    };
    using T = std::true_type;
    using F = std::false_type;
    if (ncols == 1) {
        one(0, F(), F());
        return;
    }
    one(0, F(), T());
    for (int x = 1; x < ncols - 1; ++x) one(x, T(), T());
    one(ncols - 1, T(), F());
}

// Second pass: every entry of parent becomes its set's number (0 for
// background), in place. Returns the number of sets.
int numberSets(int *parent, int npixels)
{
    int count = 0;
    for (int p = 0; p < npixels; ++p) {
        const int r = parent[p];
        if (r == BACKGROUND) parent[p] = 0;
        else if (r == p) parent[p] = ++count;
        else parent[p] = parent[r];  // r < p holds its number already
    }
    return count;
}

// ---- Flat zones and regional extrema --------------------------------------
//
// A pixel with a strictly lower (minima) / higher (maxima) 8-neighbour is
// beaten; the others are candidates. Two 8-adjacent candidates always have the
// same value (the lower of two different ones would be beaten), so the
// 8-connected components of the candidate mask lie each inside one flat zone.
// A zone is an extremum exactly when all its pixels are candidates; a zone
// that also holds a beaten pixel is connected, so each of its candidate
// components touches a beaten pixel of the zone's value. Hence: label the
// candidate mask, spoil every candidate with an equal-valued beaten
// neighbour, and keep the components without a spoiled pixel. The mask is
// labelled run by run (maximal horizontal runs of candidates), each run joined
// to the candidate runs of the row above that touch it.

enum class Extremum { Minimum, Maximum };

constexpr std::uint8_t CANDIDATE = 1;  // no 8-neighbour beats the pixel
constexpr std::uint8_t SPOILED = 2;    // a candidate next to an equal beaten pixel

template <Extremum E>
inline int beats(int q, int c)
{
    return E == Extremum::Maximum ? q > c : q < c;
}

// The 8-neighbourhood; the tests below do not depend on its order.
const int DX8[8] = {1, 0, 0, -1, 1, -1, 1, -1};
const int DY8[8] = {0, 1, -1, 0, 1, 1, -1, -1};

// Runs f(x) for every pixel of row y that lies on the image frame or in a
// row too narrow for an inner part, and inner(y) for the inner part of the
// other rows (x = 1 .. ncols-2, every 8-neighbour inside the image).
template <class Frame, class Inner>
void sweepRows(int ncols, int nrows, Frame frame, Inner inner)
{
    for (int y = 0; y < nrows; ++y) {
        if (y == 0 || y == nrows - 1 || ncols < 3) {
            for (int x = 0; x < ncols; ++x) frame(x, y);
            continue;
        }
        frame(0, y);
        inner(y);
        frame(ncols - 1, y);
    }
}

// flag[p] = CANDIDATE when no in-image 8-neighbour of p beats it, else 0. The
// inner part of a row compares straight from the three rows, without
// branches, so that the compiler can vectorise it.
template <Extremum E>
void markCandidates(const int *v, std::uint8_t *flag, int ncols, int nrows)
{
    auto frame = [&](int x, int y) {
        const int c = v[y * ncols + x];
        int beaten = 0;
        for (int j = 0; j < 8; ++j) {
            const int nx = x + DX8[j], ny = y + DY8[j];
            if (nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) beaten |= beats<E>(v[ny * ncols + nx], c);
        }
        flag[y * ncols + x] = beaten ? 0 : CANDIDATE;
    };
    auto inner = [&](int y) {
        const int *u = v + static_cast<std::size_t>(y - 1) * ncols;
        const int *c = u + ncols, *d = c + ncols;
        std::uint8_t *f = flag + static_cast<std::size_t>(y) * ncols;
        for (int x = 1; x < ncols - 1; ++x) {
            const int cx = c[x];
            const int beaten = beats<E>(u[x - 1], cx) | beats<E>(u[x], cx) | beats<E>(u[x + 1], cx) |
                               beats<E>(c[x - 1], cx) | beats<E>(c[x + 1], cx) |
                               beats<E>(d[x - 1], cx) | beats<E>(d[x], cx) | beats<E>(d[x + 1], cx);
            f[x] = static_cast<std::uint8_t>(beaten ^ 1);
        }
    };
    sweepRows(ncols, nrows, frame, inner);
}

// Adds SPOILED to every candidate with an 8-neighbour of its own value that
// is not a candidate. A row is computed into rowBits first and merged after,
// so the loop reads only the candidate bits it does not write.
void markSpoiled(const int *v, std::uint8_t *flag, int ncols, int nrows)
{
    std::vector<std::uint8_t> rowBits = px::buffer<std::uint8_t>(static_cast<std::size_t>(ncols));
    auto frame = [&](int x, int y) {
        const int p = y * ncols + x;
        if (!(flag[p] & CANDIDATE)) return;
        for (int j = 0; j < 8; ++j) {
            const int nx = x + DX8[j], ny = y + DY8[j];
            if (nx < 0 || nx >= ncols || ny < 0 || ny >= nrows) continue;
            const int q = ny * ncols + nx;
            if (v[q] == v[p] && !(flag[q] & CANDIDATE)) flag[p] |= SPOILED;
        }
    };
    auto inner = [&](int y) {
        const std::size_t row = static_cast<std::size_t>(y) * ncols;
        const int *u = v + row - ncols, *c = v + row, *d = v + row + ncols;
        const std::uint8_t *fu = flag + row - ncols, *fc = flag + row, *fd = flag + row + ncols;
        std::uint8_t *out = rowBits.data();
        for (int x = 1; x < ncols - 1; ++x) {
            const int cx = c[x];
            const int s = ((u[x - 1] == cx) & ~fu[x - 1]) | ((u[x] == cx) & ~fu[x]) | ((u[x + 1] == cx) & ~fu[x + 1]) |
                          ((c[x - 1] == cx) & ~fc[x - 1]) | ((c[x + 1] == cx) & ~fc[x + 1]) |
                          ((d[x - 1] == cx) & ~fd[x - 1]) | ((d[x] == cx) & ~fd[x]) | ((d[x + 1] == cx) & ~fd[x + 1]);
            out[x] = static_cast<std::uint8_t>((s & fc[x] & CANDIDATE) << 1);
        }
        std::uint8_t *f = flag + row;
        for (int x = 1; x < ncols - 1; ++x) f[x] |= out[x];
    };
    sweepRows(ncols, nrows, frame, inner);
}

// Position of the first byte at or after x in r[0 .. n-1] that is non-zero
// (nonZero) or zero (!nonZero), or n. Eight bytes are tested at a time; the
// flag bytes are below 0x80, so adding 0x7f to each byte sets its top bit
// exactly when it is non-zero, without a carry into the next byte.
inline int scanRow(const std::uint8_t *r, int x, int n, bool nonZero)
{
    constexpr std::uint64_t LOW7 = 0x7f7f7f7f7f7f7f7fULL, TOP = 0x8080808080808080ULL;
    while (x + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, r + x, 8);
        std::uint64_t hit = (w + LOW7) & TOP;
        if (!nonZero) hit ^= TOP;
        if (hit) return x + (__builtin_ctzll(hit) >> 3);
        x += 8;
    }
    while (x < n && (r[x] != 0) != nonZero) ++x;
    return x;
}

// The candidate runs (maximal horizontal runs of candidates) in raster order,
// with a union-find forest over them: the representative of a component is
// its first run, which holds the component's first pixel.
struct CandidateRuns {
    std::vector<int> start, end;   // pixels start .. end-1
    std::vector<int> parent;       // an earlier run of the same component, or the run itself
    std::vector<std::uint8_t> spoiled;

    void add(int s, int e, std::uint8_t spoil)
    {
        parent.push_back(static_cast<int>(start.size()));
        start.push_back(s);
        end.push_back(e);
        spoiled.push_back(spoil);
    }
};

// Labels the candidate mask run by run: each run is joined to the runs of the
// row above that touch it (diagonals included), found by walking both rows'
// run lists side by side; then every run's parent is resolved to its
// component's first run, which collects the component's spoiling.
template <Extremum E>
void findExtremalZones(const Image *img, std::uint8_t *flag, CandidateRuns &runs)
{
    const int *v = img->bands[0];
    const int ncols = img->ncols, nrows = img->nrows;
    markCandidates<E>(v, flag, ncols, nrows);
    markSpoiled(v, flag, ncols, nrows);

    try {
        int above = 0, aboveEnd = 0;  // run indices of the previous row
        for (int y = 0; y < nrows; ++y) {
            const int row = y * ncols;
            const int first = static_cast<int>(runs.start.size());
            const std::uint8_t *r = flag + row;
            for (int x = scanRow(r, 0, ncols, true); x < ncols;) {
                const int x1 = scanRow(r, x, ncols, false);
                std::uint8_t spoil = 0;
                for (int i = x; i < x1; ++i) spoil |= r[i];
                const int k = static_cast<int>(runs.start.size());
                runs.add(row + x, row + x1, spoil & SPOILED);
                // Runs above that end before x - 1 touch no later run either.
                const int s = row + x - ncols, e = row + x1 - ncols;  // the run moved one row up
                while (above < aboveEnd && runs.end[above] < s) ++above;
                for (int j = above; j < aboveEnd && runs.start[j] <= e; ++j) unite(runs.parent.data(), k, j);
                x = scanRow(r, x1, ncols, true);
            }
            above = first;
            aboveEnd = static_cast<int>(runs.start.size());
        }
    } catch (const std::exception &) {  // the run lists could not grow
        px::dieOutOfMemory();
    }
    const int nruns = static_cast<int>(runs.start.size());
    for (int k = 0; k < nruns; ++k) {
        const int r = runs.parent[k] == k ? k : runs.parent[runs.parent[k]];
        runs.parent[k] = r;
        runs.spoiled[r] |= runs.spoiled[k];
    }
}

// Replaces every run's parent by its component's label: 1, 2, ... for the
// unspoiled components in raster order of their first pixel, 0 for the others.
// Returns the number of labels.
int labelExtremalRuns(CandidateRuns &runs)
{
    int count = 0;
    const int nruns = static_cast<int>(runs.start.size());
    for (int k = 0; k < nruns; ++k) {
        const int r = runs.parent[k];
        runs.parent[k] = r == k ? (runs.spoiled[k] ? 0 : ++count) : runs.parent[r];
    }
    return count;
}

template <Extremum E>
Image *regionalExtrema(Image *img)
{
    announceLabelling();
    Image *out = px::newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    std::vector<std::uint8_t> flag = px::buffer<std::uint8_t>(static_cast<std::size_t>(img->npixels));
    CandidateRuns runs;
    findExtremalZones<E>(img, flag.data(), runs);
    labelExtremalRuns(runs);
    int *o = out->bands[0];
    for (std::size_t k = 0; k < runs.start.size(); ++k)
        if (runs.parent[k] > 0) std::fill(o + runs.start[k], o + runs.end[k], 1);
    out->maxValue = 1;
    return out;
}

// Seeds on every pixel of every regional extremum, in raster order, labelled
// by extremum in raster order of the extremum's first pixel, with the pixel's
// value as cost.
template <Extremum E>
Roots *regionalExtremaAsRoots(Image *img)
{
    announceLabelling();  // the extrema image
    announceLabelling();  // its labelling into extrema
    std::vector<std::uint8_t> flag = px::buffer<std::uint8_t>(static_cast<std::size_t>(img->npixels));
    CandidateRuns runs;
    findExtremalZones<E>(img, flag.data(), runs);
    labelExtremalRuns(runs);
    const std::size_t nruns = runs.start.size();
    int nseeds = 0;
    for (std::size_t k = 0; k < nruns; ++k)
        if (runs.parent[k] > 0) nseeds += runs.end[k] - runs.start[k];

    Roots *seeds = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
    if (!seeds) px::dieOutOfMemory();
    ifAllocateRoots(seeds, nseeds);
    const int *v = img->bands[0];
    int i = 0;
    for (std::size_t k = 0; k < nruns; ++k) {
        const int l = runs.parent[k];
        if (l <= 0) continue;
        for (int p = runs.start[k]; p < runs.end[k]; ++p, ++i) {
            seeds->pixel[i] = p;
            seeds->label[i] = l;
            seeds->cost[i] = v[p];
        }
    }
    return seeds;
}

// ---- Label tables -----------------------------------------------------------

// Dense index 0 .. size-1 of the values present in a label band: an offset
// from the smallest value when they span a modest range, otherwise the rank
// among the sorted distinct values. So tables indexed by label are sized by
// the labels actually present, whatever the image's maxValue claims.
class LabelIndex {
public:
    LabelIndex(const int *labels, int n)
    {
        if (n <= 0) return;
        int lo = labels[0], hi = labels[0];
        for (int p = 1; p < n; ++p) {
            lo = std::min(lo, labels[p]);
            hi = std::max(hi, labels[p]);
        }
        const long long span = static_cast<long long>(hi) - lo + 1;
        lowest_ = lo;
        if (span <= static_cast<long long>(n) + DENSE_SLACK) {
            size_ = static_cast<int>(span);
            return;
        }
        sorted_ = px::buffer<int>(static_cast<std::size_t>(n));
        std::copy(labels, labels + n, sorted_.begin());
        std::sort(sorted_.begin(), sorted_.end());
        sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
        size_ = static_cast<int>(sorted_.size());
        sparse_ = true;
    }

    int size() const { return size_; }

    int operator()(int label) const
    {
        if (!sparse_) return static_cast<int>(static_cast<long long>(label) - lowest_);
        return static_cast<int>(std::lower_bound(sorted_.begin(), sorted_.end(), label) - sorted_.begin());
    }

private:
    static constexpr long long DENSE_SLACK = 1 << 16;
    int lowest_ = 0;
    int size_ = 0;
    bool sparse_ = false;
    std::vector<int> sorted_;
};

constexpr int NO_DIFFERENCE = -100000;   // out value of a pixel with no same-label neighbour
constexpr int UNSET_LOW = INT_MAX;       // initial lowest value of a label: its true minimum is kept
constexpr int UNSET_HIGH = -1;           // initial highest value of a label
constexpr int HIGHER_LABEL_MARK = INT_MAX;
constexpr int MARK = 255;                // marked pixels of flat zones and contours

} // namespace

extern "C" {

void ifLabelImage(Image *bin, Image *label)
{
    announceLabelling();
    const int ncols = bin->ncols, nrows = bin->nrows;
    if (bin->npixels <= 0) {
        label->maxValue = 0;
        return;
    }
    int *parent = label->bands[0];  // the sets are built in the label band itself
    const int *b = bin->bands[0];
    for (int y = 0; y < nrows; ++y) {
        if (y > 0) linkObjectRow<true>(b, parent, y, ncols);
        else linkObjectRow<false>(b, parent, y, ncols);
    }
    label->maxValue = numberSets(parent, bin->npixels);
}

// Marks the flat zones that hold a seed. The marks depend only on which zones
// are reached, so a plain depth-first flood with a visited mark serves; seeds
// outside the image are ignored and a seed listed twice floods once.
void ifConnectedComponents(Image *img, Image *out, Roots *seeds)
{
    const int n = img->npixels;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, img->ncols, img->nrows);
    std::vector<std::uint8_t> seen = px::buffer<std::uint8_t>(static_cast<std::size_t>(n));
    std::vector<int> stack = px::buffer<int>(0);
    for (int i = 0; i < seeds->count; ++i) {
        const int s = seeds->pixel[i];
        if (s < 0 || s >= n || seen[s]) continue;
        const int level = v[s];
        seen[s] = 1;
        o[s] = MARK;
        stack.push_back(s);
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            nb.forEach(p, [&](int, int q) {
                if (!seen[q] && v[q] == level) {
                    seen[q] = 1;
                    o[q] = MARK;
                    stack.push_back(q);
                }
            });
        }
    }
}

Image *ifRegionalMinima(Image *img) { return regionalExtrema<Extremum::Minimum>(img); }

Image *ifRegionalMaxima(Image *img) { return regionalExtrema<Extremum::Maximum>(img); }

Roots *ifRegionalMinimaAsRoots(Image *img) { return regionalExtremaAsRoots<Extremum::Minimum>(img); }

Roots *ifRegionalMaximaAsRoots(Image *img) { return regionalExtremaAsRoots<Extremum::Maximum>(img); }

// For each pixel, the largest difference of values to a 4-neighbour of its own
// label. Values are positions along a closed contour, so a difference of more
// than half the label's range of positions is folded to the way round the
// other side. A pixel next to a higher label gets the map's top value + 1.
void ifLabelDifferences(Image *values, Image *labels, Image *out, int absolute)
{
    const int n = labels->npixels;
    const int *lab = labels->bands[0];
    const int *val = values->bands[0];
    int *o = out->bands[0];
    LabelIndex index(lab, n);
    std::vector<int> hi = px::buffer<int>(static_cast<std::size_t>(index.size()), UNSET_HIGH);
    std::vector<int> lo = px::buffer<int>(static_cast<std::size_t>(index.size()), UNSET_LOW);
    std::vector<int> at = px::buffer<int>(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) {
        const int k = at[p] = index(lab[p]);
        hi[k] = std::max(hi[k], val[p]);
        lo[k] = std::min(lo[k], val[p]);
    }

    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood4, labels->ncols, labels->nrows);
    long long top = NO_DIFFERENCE;
    for (int p = 0; p < n; ++p) {
        o[p] = NO_DIFFERENCE;
        const long long range = static_cast<long long>(hi[at[p]]) - lo[at[p]];
        nb.forEach(p, [&](int, int q) {
            if (lab[p] == lab[q]) {
                long long g = static_cast<long long>(val[q]) - val[p];
                if (absolute && g < 0) g = -g;
                if (g > (range >> 1)) g = range - g;  // the shift halves towards minus infinity
                if (g > o[p]) {
                    o[p] = static_cast<int>(g);
                    top = std::max(top, g);
                }
            } else if (lab[p] < lab[q]) {
                o[p] = HIGHER_LABEL_MARK;
            }
        });
    }
    const int mark = static_cast<int>(std::min<long long>(top + 1, INT_MAX));
    out->maxValue = mark;
    for (int p = 0; p < n; ++p)
        if (o[p] == HIGHER_LABEL_MARK) o[p] = mark;
}

// Renumbers the labels 1, 2, ... in order of first appearance in raster order;
// every value, 0 included, counts as a label.
void ifCorrectLabels(Image *labels)
{
    const int n = labels->npixels;
    int *lab = labels->bands[0];
    LabelIndex index(lab, n);
    std::vector<int> renumbered = px::buffer<int>(static_cast<std::size_t>(index.size()));
    int next = 0;
    for (int p = 0; p < n; ++p) {
        int &m = renumbered[index(lab[p])];
        if (m == 0) m = ++next;
        lab[p] = m;
    }
    labels->maxValue = next;
}

void ifRegionsToContours(Image *bin, Image *out)
{
    const int n = bin->npixels;
    const int *b = bin->bands[0];
    int *o = out->bands[0];
    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood4, bin->ncols, bin->nrows);
    for (int p = 0; p < n; ++p) {
        if (b[p] <= 0) continue;
        bool contour = false;
        nb.forEach(p, [&](int, int q) { contour = contour || b[q] == 0; });
        if (contour) o[p] = MARK;
    }
    out->maxValue = MARK;
}

} // extern "C"
