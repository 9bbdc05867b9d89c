// Arc-weight images: the weight of every arc of an adjacency relation worked
// out once, one band per displacement, for the IFT variants that read their
// arcs from such an image.
//
// The bands are filled one displacement at a time and row by row: within a
// row the arcs that stay inside the image form one run of columns, so the
// inner loop has no border test and the simple measures vectorise. Measures
// that depend on one difference only (the Gaussians) read a table of it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "../pxImage/parallel.h"

namespace {

constexpr int ARC_WEIGHT_TOP = 1000;
constexpr int NO_ARC = -1;

struct PairsOwner {
    int *pairs = nullptr;
    ~PairsOwner() { std::free(pairs); }
};

// Creates the arc-weight image of img for the relation, prints the "out:" line
// when asked, and calls fill(out, pIndex, qIndex, count) for each run of arcs
// inside the image (band out, pixels p .. p+count-1, ends q .. q+count-1);
// fill may leave an entry as created. Arcs leaving the image get -1.
template <class Fill>
Image *buildArcWeights(Image *img, AdjacencyFn adjacency, bool prints, Fill fill)
{
    PairsOwner owner;
    const int n = adjacency(&owner.pairs);
    const int ncols = img->ncols, nrows = img->nrows;
    Image *out = px::newImage(n, PX_ARCWEIGHTS, ncols, nrows);
    if (prints) px::message("out: %d %d %d \n", out->nbands, out->ncols, img->nrows);
    out->adjCount = n;
    out->adjPairs = static_cast<int *>(std::calloc(2 * static_cast<std::size_t>(n > 0 ? n : 1), sizeof(int)));
    if (!out->adjPairs) {
        pxReleaseImage(&out);
        px::dieOutOfMemory();
    }
    if (n > 0) std::memcpy(out->adjPairs, owner.pairs, 2 * static_cast<std::size_t>(n) * sizeof(int));

    // Written once from start to end: fresh memory, a fault per small page.
    for (int j = 0; j < n; ++j)
        px::adviseHugePages(out->bands[j], static_cast<std::size_t>(ncols) * nrows * sizeof(int));
    // Stripes of rows of every band on the library's threads.
    const long long rowValues = std::max(1LL, static_cast<long long>(ncols) * std::max(n, 1));
    const int rowsPerTask = static_cast<int>(std::max(1LL, (1LL << 15) / rowValues));
    pxParallelRanges(nrows, rowsPerTask, [&](int y0, int y1, int) {
        for (int j = 0; j < n; ++j) {
            const int dx = owner.pairs[2 * j], dy = owner.pairs[2 * j + 1];
            int *band = out->bands[j];
            // Columns whose neighbour along dx exists: x0 .. x1-1.
            const long long x0 = dx < 0 ? -static_cast<long long>(dx) : 0;
            const long long x1 = dx > 0 ? static_cast<long long>(ncols) - dx : ncols;
            for (int y = y0; y < y1; ++y) {
                int *row = band + static_cast<std::size_t>(y) * ncols;
                const long long ny = static_cast<long long>(y) + dy;
                if (ny < 0 || ny >= nrows || x0 >= x1) {
                    std::fill(row, row + ncols, NO_ARC);
                    continue;
                }
                std::fill(row, row + x0, NO_ARC);
                std::fill(row + x1, row + ncols, NO_ARC);
                const int p = y * ncols + static_cast<int>(x0);
                const int q = static_cast<int>(ny) * ncols + static_cast<int>(x0) + dx;
                fill(row + x0, p, q, static_cast<int>(x1 - x0));
            }
        }
    });
    out->maxValue = ARC_WEIGHT_TOP;
    return out;
}

// |a - b| without overflow.
inline unsigned long long absDiff(int a, int b)
{
    return a > b ? static_cast<unsigned long long>(static_cast<long long>(a) - b)
                 : static_cast<unsigned long long>(static_cast<long long>(b) - a);
}

// e: the truncated square root of the per-band mean of squared differences,
// the sum kept exact in 128 bits. One band: |difference| (the square root of
// a perfect square below 2^64 is exact in double).
int euclideanOf(Image *img, int p, int q)
{
    const int nb = img->nbands;
    if (nb <= 0) return 0;
    if (nb == 1) {
        unsigned long long d = absDiff(img->bands[0][p], img->bands[0][q]);
        return d > INT32_MAX ? INT32_MAX : static_cast<int>(d);
    }
    unsigned __int128 s = 0;
    for (int b = 0; b < nb; ++b) {
        unsigned long long d = absDiff(img->bands[b][p], img->bands[b][q]);
        s += static_cast<unsigned __int128>(d) * d;
    }
    double e = std::sqrt(static_cast<double>(s / static_cast<unsigned>(nb)));
    return e >= INT32_MAX ? INT32_MAX : static_cast<int>(e);
}

int gaussianOf(long long e)
{
    return static_cast<int>((1.0 - std::exp(static_cast<double>(e) * static_cast<double>(e) / -10000.0)) * 1000.0);
}

// Only called for d > 3.
int gaussian2Of(unsigned long long d)
{
    const unsigned long long t = d - 3;
    const double sq = static_cast<double>(t * t);
    const int w = static_cast<int>((1.0 - std::exp(-sq / 0.5)) * 1000.0);
    return w < ARC_WEIGHT_TOP ? w : ARC_WEIGHT_TOP;
}

// Values of a measure of one non-negative integer, tabled below `size` (the
// measures reach their ceiling well before it) and worked out above.
template <class F>
class Tabled {
public:
    Tabled(int size, F f) : f_(f), table_(px::buffer<int>(static_cast<std::size_t>(size)))
    {
        for (int i = 0; i < size; ++i) table_[i] = f(i);
    }
    int operator()(unsigned long long x) const
    {
        return x < table_.size() ? table_[x] : f_(x);
    }

private:
    F f_;
    std::vector<int> table_;
};

constexpr int TABLE_SIZE = 4096;

} // namespace

extern "C" {

Image *euclideanWF(Image *img, AdjacencyFn adjacency)
{
    if (img->nbands == 1) {
        const int *v = img->bands[0];
        return buildArcWeights(img, adjacency, true, [v](int *out, int p, int q, int count) {
            for (int i = 0; i < count; ++i) {
                const long long d = static_cast<long long>(v[p + i]) - v[q + i];
                const long long e = d < 0 ? -d : d;
                out[i] = static_cast<int>(e < ARC_WEIGHT_TOP ? e : ARC_WEIGHT_TOP);
            }
        });
    }
    return buildArcWeights(img, adjacency, true, [img](int *out, int p, int q, int count) {
        for (int i = 0; i < count; ++i) {
            const int e = euclideanOf(img, p + i, q + i);
            out[i] = e < ARC_WEIGHT_TOP ? e : ARC_WEIGHT_TOP;
        }
    });
}

Image *gaussianWF(Image *img, AdjacencyFn adjacency)
{
    const Tabled<int (*)(long long)> weight(TABLE_SIZE, gaussianOf);
    return buildArcWeights(img, adjacency, false, [&](int *out, int p, int q, int count) {
        for (int i = 0; i < count; ++i) out[i] = weight(static_cast<unsigned long long>(euclideanOf(img, p + i, q + i)));
    });
}

Image *gaussian2WF(Image *img, AdjacencyFn adjacency)
{
    const Tabled<int (*)(unsigned long long)> weight(TABLE_SIZE, [](unsigned long long d) {
        return d > 3 ? gaussian2Of(d) : 0;
    });
    const int *v = img->bands[0];
    return buildArcWeights(img, adjacency, true, [&](int *out, int p, int q, int count) {
        // A difference of 3 or less leaves the entry as created.
        for (int i = 0; i < count; ++i) {
            const unsigned long long d = absDiff(v[p + i], v[q + i]);
            if (d > 3) out[i] = weight(d);
        }
    });
}

Image *watershedWF(Image *img, AdjacencyFn adjacency)
{
    const int *v = img->bands[0];
    return buildArcWeights(img, adjacency, false, [v](int *out, int, int q, int count) {
        std::memcpy(out, v + q, static_cast<std::size_t>(count) * sizeof(int));
    });
}

} // extern "C"
