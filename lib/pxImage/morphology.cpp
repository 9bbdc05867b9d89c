// Flat grey-scale morphology: dilation and erosion by a disc, opening, closing,
// the two alternating sequential filters and the 3 x 3 gradient.
//
// Dilation and erosion take the maximum (minimum) over the part of the disc
// inside the image. Max and min are exact and order-free, so the disc is
// handled as horizontal runs, one per row offset dy: each source row is first
// reduced over every run half width the disc uses (a running max, or min, of
// width 2w + 1, built up one step of w at a time over a padded copy of the
// row), and an output row is then the max (min) of 2r + 1 such reduced rows. A ring of the
// last 2r + 1 reduced rows keeps the work per pixel near 2 w_max + 2 r instead
// of the disc's area, with no bounds test in any inner loop: the row copy is
// padded with the operation's neutral value and rows outside the image are
// simply left out.

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../pxImage.h"
#include "detail.h"
#include "parallel.h"

namespace {

// The running maximum that dilation and erosion report as maxValue starts
// here, so an image without pixels or bands reports it.
constexpr int TOP_START = -1000000;

struct MaxOp {
    static constexpr int neutral = INT_MIN;
    static int apply(int a, int b) { return a > b ? a : b; }
};

struct MinOp {
    static constexpr int neutral = INT_MAX;
    static int apply(int a, int b) { return a < b ? a : b; }
};

// Rows of ncols pixels worth a thread of their own.
int rowsPerTask(int ncols) { return std::max(1, (1 << 15) / std::max(ncols, 1)); }

// Rows per thread for filtering src into dst: all of them when dst writes
// into a band of src, which a single pass reads in its own order.
int rowsPerTask(const Image *src, const Image *dst, int dstBands)
{
    for (int b = 0; b < src->nbands; ++b)
        for (int d = 0; d < dstBands; ++d)
            if (src->bands[b] == dst->bands[d]) return std::max(src->nrows, 1);
    return rowsPerTask(src->ncols);
}

// top = max(top, v), from any thread.
void raise(std::atomic<int> &top, int v)
{
    int seen = top.load();
    while (v > seen && !top.compare_exchange_weak(seen, v)) {
    }
}

// The disc of squared radius r2 as runs: the row dy (-r .. r) of the disc
// covers dx in [-half[dy + r], half[dy + r]]. `widths` lists the distinct half
// widths in ascending order and level[dy + r] indexes it. A negative r2 is
// taken as 0: the pixel alone.
struct DiscRuns {
    int r = 0;
    std::vector<int> half, widths, level;

    explicit DiscRuns(int r2)
    {
        std::vector<int> pairs = px::discPairs(r2 < 0 ? 0 : r2);
        for (std::size_t k = 1; k < pairs.size(); k += 2) r = std::max(r, std::abs(pairs[k]));
        half = px::buffer<int>(2 * static_cast<std::size_t>(r) + 1, -1);
        // The disc test depends on dx only through dx * dx, so every row is a
        // run symmetric about 0 and its largest dx is its half width.
        for (std::size_t k = 0; k + 1 < pairs.size(); k += 2) {
            int &h = half[pairs[k + 1] + r];
            h = std::max(h, pairs[k]);
        }
        widths = px::buffer<int>(half.size());
        std::copy(half.begin(), half.end(), widths.begin());
        std::sort(widths.begin(), widths.end());
        widths.erase(std::unique(widths.begin(), widths.end()), widths.end());
        level = px::buffer<int>(half.size());
        for (std::size_t i = 0; i < half.size(); ++i)
            level[i] = static_cast<int>(std::lower_bound(widths.begin(), widths.end(), half[i]) - widths.begin());
    }

    int maxWidth() const { return widths.back(); }
};

// Working memory of one filtering call: a padded copy of the source row and the
// ring of reduced rows. Above this many ring rows (very large discs) each
// reduced row is built when it is used instead of being kept.
constexpr std::size_t MAX_RING_ROWS = 256;

template <class Op>
class DiscFilter {
public:
    DiscFilter(const DiscRuns &disc, int ncols, int nrows)
        : disc_(disc), ncols_(ncols), nrows_(nrows), span_(2 * disc.r + 1),
          keep_(static_cast<std::size_t>(span_) * disc.widths.size() <= MAX_RING_ROWS),
          pad_(px::buffer<int>(static_cast<std::size_t>(ncols) + 2 * static_cast<std::size_t>(disc.maxWidth()),
                               Op::neutral)),
          ring_(px::buffer<int>(keep_ ? static_cast<std::size_t>(span_) * disc.widths.size() * ncols : 0)),
          scratch_(px::buffer<int>(keep_ ? 0 : static_cast<std::size_t>(ncols))),
          rows_(px::buffer<const int *>(static_cast<std::size_t>(span_), nullptr))
    {
    }

    // Filters the rows y0 .. y1 - 1 of one band and returns the largest value
    // written (TOP_START at least).
    int run(const int *src, int *dst, int y0, int y1)
    {
        src_ = src;
        int top = TOP_START;
        const int r = disc_.r;
        int loaded = std::max(0, y0 - r);
        for (int y = y0; y < y1; ++y) {
            if (keep_)
                for (; loaded < nrows_ && loaded <= y + r; ++loaded) reduceAllWidths(loaded);
            int *out = dst + static_cast<long long>(y) * ncols_;
            if (keep_) {
                int n = 0;
                for (int dy = -r; dy <= r; ++dy) {
                    const int yy = y + dy;
                    if (yy >= 0 && yy < nrows_) rows_[n++] = reducedRow(yy, disc_.level[dy + r]);
                }
                top = std::max(top, combineRows(n, out));
            } else {
                // Each reduced row is built in the scratch row and folded in
                // before the next one is built.
                bool first = true;
                for (int dy = -r; dy <= r; ++dy) {
                    const int yy = y + dy;
                    if (yy < 0 || yy >= nrows_) continue;
                    const int *row = reducedRow(yy, disc_.level[dy + r]);
                    if (first)
                        std::memcpy(out, row, sizeof(int) * static_cast<std::size_t>(ncols_));
                    else
                        for (int x = 0; x < ncols_; ++x) out[x] = Op::apply(out[x], row[x]);
                    first = false;
                }
                for (int x = 0; x < ncols_; ++x) top = std::max(top, out[x]);
            }
        }
        return top;
    }

private:
    // out = op over the n gathered rows; returns the largest value written.
    // The first pass reads two rows and the last one also collects the top.
    int combineRows(int n, int *out) const
    {
        int top = INT_MIN;
        if (n == 1) {
            const int *a = rows_[0];
            for (int x = 0; x < ncols_; ++x) {
                out[x] = a[x];
                top = std::max(top, a[x]);
            }
            return top;
        }
        for (int i = 1; i < n; ++i) {
            const int *acc = i == 1 ? rows_[0] : out, *b = rows_[i];
            if (i < n - 1) {
                for (int x = 0; x < ncols_; ++x) out[x] = Op::apply(acc[x], b[x]);
            } else {
                for (int x = 0; x < ncols_; ++x) {
                    const int v = Op::apply(acc[x], b[x]);
                    out[x] = v;
                    top = std::max(top, v);
                }
            }
        }
        return top;
    }

    const int *sourceRow(int yy) const { return src_ + static_cast<long long>(yy) * ncols_; }

    int *ringRow(int yy, int lev)
    {
        std::size_t slot = static_cast<std::size_t>(yy % span_) * disc_.widths.size() + lev;
        return ring_.data() + slot * ncols_;
    }

    void loadPadded(int yy)
    {
        std::memcpy(pad_.data() + disc_.maxWidth(), sourceRow(yy), sizeof(int) * static_cast<std::size_t>(ncols_));
    }

    // out[x] = op over the source row on [x - w, x + w], from prev holding the
    // reduction of half width `from` (from < w; prev may be out); reads the
    // padded copy, whose neutral margins stand for the columns outside the
    // image.
    void widen(const int *prev, int *out, int from, int w) const
    {
        const int *c = pad_.data() + disc_.maxWidth();
        for (int k = from + 1; k <= w; ++k) {
            const int *left = c - k, *right = c + k, *in = k == from + 1 ? prev : out;
            for (int x = 0; x < ncols_; ++x) out[x] = Op::apply(in[x], Op::apply(left[x], right[x]));
        }
    }

    // Reduces source row yy over every half width of the disc into the ring.
    void reduceAllWidths(int yy)
    {
        if (disc_.maxWidth() > 0) loadPadded(yy);
        const int *prev = sourceRow(yy);
        int prevWidth = 0;
        for (std::size_t i = 0; i < disc_.widths.size(); ++i) {
            const int w = disc_.widths[i];
            if (w == 0) continue; // read straight from the source
            int *out = ringRow(yy, static_cast<int>(i));
            widen(prev, out, prevWidth, w);
            prev = out;
            prevWidth = w;
        }
    }

    const int *reducedRow(int yy, int lev)
    {
        const int w = disc_.widths[lev];
        if (w == 0) return sourceRow(yy);
        if (keep_) return ringRow(yy, lev);
        loadPadded(yy);
        int *out = scratch_.data();
        widen(sourceRow(yy), out, 0, w);
        return out;
    }

    const DiscRuns &disc_;
    const int ncols_, nrows_, span_;
    const bool keep_;
    std::vector<int> pad_, ring_, scratch_;
    std::vector<const int *> rows_;
    const int *src_ = nullptr;
};

// Every band of src filtered into the same band of dst with the disc r2;
// dst's maxValue becomes the largest value written.
// On the library's threads, each over a stripe of rows of every band with
// working memory of its own.
template <class Op>
void filterDisc(const Image *src, Image *dst, int r2)
{
    const DiscRuns disc(r2);
    std::atomic<int> top(TOP_START);
    pxParallelRanges(src->nrows, rowsPerTask(src, dst, src->nbands), [&](int y0, int y1, int) {
        DiscFilter<Op> filter(disc, src->ncols, src->nrows);
        for (int b = 0; b < src->nbands; ++b) raise(top, filter.run(src->bands[b], dst->bands[b], y0, y1));
    });
    dst->maxValue = top.load();
}

Image *likeImage(const Image *src)
{
    return px::newImage(src->nbands, src->type, src->ncols, src->nrows);
}

// Opening (erosion then dilation) or closing (dilation then erosion) through
// the caller's temporary `mid`, an image of src's bands and size.
void openInto(const Image *src, Image *mid, Image *dst, int r2)
{
    filterDisc<MinOp>(src, mid, r2);
    filterDisc<MaxOp>(mid, dst, r2);
}

void closeInto(const Image *src, Image *mid, Image *dst, int r2)
{
    filterDisc<MaxOp>(src, mid, r2);
    filterDisc<MinOp>(mid, dst, r2);
}

// Alternating sequential filter of n steps; step k filters with the disc of
// squared radius k, opening first or closing first. Three work images serve
// every step, so nothing is allocated per step.
void alternatingFilter(Image *src, Image *dst, int n, bool openFirst, const char *message)
{
    Image *cur = pxCopyImage(src);
    if (!cur) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    if (n >= 1) {
        Image *tmp = likeImage(src), *mid = likeImage(src);
        for (int k = 1; k <= n; ++k) {
            px::message(message, k);
            if (openFirst) {
                openInto(cur, mid, tmp, k);
                closeInto(tmp, mid, cur, k);
            } else {
                closeInto(cur, mid, tmp, k);
                openInto(tmp, mid, cur, k);
            }
        }
        pxReleaseImage(&tmp);
        pxReleaseImage(&mid);
    }
    const std::size_t bytes = static_cast<std::size_t>(src->npixels) * sizeof(int);
    for (int b = 0; b < src->nbands; ++b) std::memcpy(dst->bands[b], cur->bands[b], bytes);
    pxReleaseImage(&cur);
}

// The pixel's 8-neighbours in the order of pxNeighborhood8.
constexpr int EIGHT_NEIGHBOURS[] = {1, 0, 0, 1, 0, -1, -1, 0, 1, 1, -1, 1, 1, -1, -1, -1};

} // namespace

extern "C" {

// A disc larger than the image's diagonal holds no more of the image than
// the one that just reaches across it, which is the one used.
void pxMorphDilate(Image *src, Image *dst, int r2)
{
    r2 = std::min(r2, px::reachSquared(src->ncols, src->nrows));
    filterDisc<MaxOp>(src, dst, r2);
}

void pxMorphErode(Image *src, Image *dst, int r2)
{
    r2 = std::min(r2, px::reachSquared(src->ncols, src->nrows));
    filterDisc<MinOp>(src, dst, r2);
}

void pxMorphOpen(Image *src, Image *dst, int r2)
{
    r2 = std::min(r2, px::reachSquared(src->ncols, src->nrows));
    Image *mid = likeImage(src);
    openInto(src, mid, dst, r2);
    pxReleaseImage(&mid);
}

void pxMorphClose(Image *src, Image *dst, int r2)
{
    r2 = std::min(r2, px::reachSquared(src->ncols, src->nrows));
    Image *mid = likeImage(src);
    closeInto(src, mid, dst, r2);
    pxReleaseImage(&mid);
}

// From the step whose disc reaches across the image on, every step gives
// the constant image the previous one left, so the steps stop there.
void pxMorphAsfOC(Image *src, Image *dst, int n)
{
    n = std::min(n, px::reachSquared(src->ncols, src->nrows));
    alternatingFilter(src, dst, n, true, "radius is %d\n");
}

void pxMorphAsfCO(Image *src, Image *dst, int n)
{
    n = std::min(n, px::reachSquared(src->ncols, src->nrows));
    alternatingFilter(src, dst, n, false, "squared radius is %d\n");
}

// Per band, the spread (max - min) of the pixel and its in-image 8-neighbours;
// band 0 of dst keeps the largest spread of any band or its own larger value.
// maxValue is the largest spread computed, -1 for an image without pixels.
void pxMorphGrad(Image *src, Image *dst)
{
    const px::NeighbourTable nb(EIGHT_NEIGHBOURS, 8, src->ncols, src->nrows);
    std::atomic<int> top(-1);
    int *out = dst->bands[0];
    pxParallelRanges(src->nrows, rowsPerTask(src, dst, 1), [&](int y0, int y1, int) {
        int stripeTop = -1;
        for (int b = 0; b < src->nbands; ++b) {
            const int *v = src->bands[b];
            for (int y = y0, p = y0 * src->ncols; y < y1; ++y) {
                for (int x = 0; x < src->ncols; ++x, ++p) {
                    int hi = v[p], lo = v[p];
                    nb.forEach(p, x, y, [&](int, int q) {
                        hi = std::max(hi, v[q]);
                        lo = std::min(lo, v[q]);
                    });
                    const long long spread = static_cast<long long>(hi) - lo;
                    const int g = spread > INT_MAX ? INT_MAX : static_cast<int>(spread);
                    if (g > out[p]) out[p] = g;
                    stripeTop = std::max(stripeTop, g);
                }
            }
        }
        raise(top, stripeTop);
    });
    dst->maxValue = top.load();
}

} // extern "C"
