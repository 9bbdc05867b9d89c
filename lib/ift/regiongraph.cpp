// Region adjacency graphs from label images (mosaics), per-region features
// attached to their vertices (area, volume, mean colour, normalised feature
// vectors, a morphological gradient), small-region elimination, and the
// features painted back into images.
//
// Every per-region sum is kept in 64 bits: a region of millions of pixels
// overflows an int long before its mean or area does.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

using ift_detail::GraphOwner;
using ift_detail::ImageOwner;
using ift_detail::UnionFindOwner;

namespace ift_detail {

const int *checkedLabels(const Graph *g, int nVertices, const char *who)
{
    if (!g->labelImage) px::fatal(PX_FATAL_ARGUMENT, "%s: the graph has no label image\n", who);
    const int *lab = g->labelImage->bands[0];
    const int n = g->labelImage->npixels;
    for (int p = 0; p < n; ++p)
        if (lab[p] < 0 || lab[p] >= nVertices)
            px::fatal(PX_FATAL_ARGUMENT, "%s: label %d at pixel %d is outside the graph's %d vertices\n", who,
                      lab[p], p, nVertices);
    return lab;
}

} // namespace ift_detail

namespace {

using ift_detail::checkedLabels;

int saturated(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }

void checkSameSize(const Image *a, const Image *b, const char *who)
{
    if (a->ncols != b->ncols || a->nrows != b->nrows)
        px::fatal(PX_FATAL_ARGUMENT, "%s: images of %d x %d and %d x %d pixels\n", who, a->ncols, a->nrows,
                  b->ncols, b->nrows);
}

// Pixel count per vertex.
std::vector<long long> areasOf(const int *lab, int npixels, std::size_t nVertices)
{
    std::vector<long long> area = px::buffer<long long>(nVertices);
    for (int p = 0; p < npixels; ++p) ++area[lab[p]];
    return area;
}

// The smallest and largest of n values, scanned from the first; both 0 when
// there is none.
void spanOf(const int *v, int n, int &lo, int &hi)
{
    lo = hi = n > 0 ? v[0] : 0;
    for (int i = 1; i < n; ++i) {
        if (v[i] > hi) hi = v[i];
        else if (v[i] < lo) lo = v[i];
    }
}

// (value - lo) * 1000 / (hi - lo), truncated, in 64 bits; a constant set (hi
// equal to lo) maps to 0 instead of dividing by zero.
int normalised(int value, int lo, int hi)
{
    if (hi == lo) return 0;
    return static_cast<int>((static_cast<long long>(value) - lo) * 1000 / (static_cast<long long>(hi) - lo));
}

// Remembers label pairs already joined, so that the boundary of two regions
// does not scan their edge lists again at every pixel. An edge is never
// removed while the graph is built, so a remembered pair is always present
// and insertEdge would change nothing.
class JoinedPairs {
public:
    JoinedPairs() : slot_(px::buffer<std::uint64_t>(SIZE, EMPTY)) {}

    void join(Graph *g, int a, int b)
    {
        if (a == b) return;
        const int lo = a < b ? a : b, hi = a < b ? b : a;
        const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(lo)) << 32) |
                                  static_cast<std::uint32_t>(hi);
        std::uint64_t &s = slot_[(key * 0x9E3779B97F4A7C15ull) >> (64 - BITS)];
        if (s == key) return;
        insertEdge(g, a, b, 0);
        s = key;
    }

private:
    static constexpr int BITS = 15;
    static constexpr std::size_t SIZE = std::size_t(1) << BITS;
    // Two different labels never give this key.
    static constexpr std::uint64_t EMPTY = ~std::uint64_t(0);
    std::vector<std::uint64_t> slot_;
};

// The new graph's features come from copyBaseGraph; a copy that cannot be
// made has printed its message and the operation gives null too.
Graph *copyOrNull(Graph *g, int nFeatures) { return copyBaseGraph(g, nFeatures); }

} // namespace

extern "C" {

// The forward 8-adjacency (right, down, down-right, down-left) visits every
// unordered pair of 8-neighbours once. Inner pixels have all four; the
// border pixels test them, in the same order.
Graph *ifMosaicToGraph(Image *labels)
{
    GraphOwner g(createGraph(labels, 0));
    if (!g.g) return nullptr;
    const int ncols = labels->ncols, nrows = labels->nrows;
    const int *lab = labels->bands[0];
    JoinedPairs joined;
    for (int y = 0; y < nrows; ++y) {
        const int *row = lab + static_cast<std::size_t>(y) * ncols;
        if (y + 1 == nrows) {
            for (int x = 0; x + 1 < ncols; ++x)
                if (row[x + 1] != row[x]) joined.join(g.g, row[x], row[x + 1]);
            continue;
        }
        const int *below = row + ncols;
        // x = 0: no down-left neighbour.
        {
            const int l = row[0];
            if (ncols > 1 && row[1] != l) joined.join(g.g, l, row[1]);
            if (below[0] != l) joined.join(g.g, l, below[0]);
            if (ncols > 1 && below[1] != l) joined.join(g.g, l, below[1]);
        }
        for (int x = 1; x + 1 < ncols; ++x) {
            const int l = row[x];
            // Most pixels lie inside a region: one test for the four.
            if (row[x + 1] == l && below[x] == l && below[x + 1] == l && below[x - 1] == l) continue;
            if (row[x + 1] != l) joined.join(g.g, l, row[x + 1]);
            if (below[x] != l) joined.join(g.g, l, below[x]);
            if (below[x + 1] != l) joined.join(g.g, l, below[x + 1]);
            if (below[x - 1] != l) joined.join(g.g, l, below[x - 1]);
        }
        if (ncols > 1) {
            const int x = ncols - 1, l = row[x];
            if (below[x] != l) joined.join(g.g, l, below[x]);
            if (below[x - 1] != l) joined.join(g.g, l, below[x - 1]);
        }
    }
    return g.release();
}

// Running areas live on the two vertices of each merge, not on the set
// roots, so a region that has grown past maxArea is not merged again when
// its own turn comes. They are kept in 64 bits: each merge may add a grown
// area once more.
Graph *ifEliminateSmallRegions(Graph *g, int maxArea, int maxDegree)
{
    const int nv = g->nVertices;
    const int *lab = checkedLabels(g, nv, "ifEliminateSmallRegions");
    const Image *labels = g->labelImage;
    UnionFindOwner uf(nv);
    std::vector<long long> area = areasOf(lab, labels->npixels, static_cast<std::size_t>(nv));
    for (int i = 0; i < nv; ++i) {
        EdgeList *list = &g->vertices[i];
        if (area[i] > maxArea || list->nEdges <= 0 || list->nEdges > maxDegree) continue;
        // The neighbour with the most neighbours; the first met wins a tie.
        int c = -1, best = 0;
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) {
            const int d = g->vertices[e->vertex].nEdges;
            if (c < 0 || d > best) {
                c = e->vertex;
                best = d;
            }
        }
        if (c < 0) continue;
        uf.link(uf.find(i), uf.find(c));
        area[i] = area[c] = area[i] + area[c];
    }

    ImageOwner merged(px::newImage(labels->nbands, labels->type, labels->ncols, labels->nrows));
    int *out = merged.get()->bands[0];
    int top = 0;
    for (int p = 0; p < labels->npixels; ++p) {
        out[p] = uf.find(lab[p]);
        top = std::max(top, out[p]);
    }
    merged.get()->maxValue = top;
    // Regions numbered 1, 2, ... in raster order of their first pixel.
    ifCorrectLabels(merged.get());
    return ifMosaicToGraph(merged.get());
}

Graph *ifComputeArea(Graph *g)
{
    px::message("will copy base graph %d\n", g->nVertices);
    GraphOwner base(copyOrNull(g, 1));
    px::message("done!!!!\n");
    if (!base.g) return nullptr;
    const int nv = base.g->nVertices;
    const int *lab = checkedLabels(base.g, nv, "ifComputeArea");
    std::vector<long long> area = areasOf(lab, base.g->labelImage->npixels, static_cast<std::size_t>(nv));
    for (int v = 0; v < nv; ++v) base.g->vertices[v].features[0] = saturated(area[v]);
    return base.release();
}

// The volume is saturated to int, like the other region sums that reach the
// graph's int features.
Graph *ifComputeVolume(Graph *g, Image *grey)
{
    px::message("will copy base graph %d\n", g->nVertices);
    GraphOwner base(copyOrNull(g, 1));
    px::message("done!!!!\n");
    if (!base.g) return nullptr;
    const int nv = base.g->nVertices;
    const int *lab = checkedLabels(base.g, nv, "ifComputeVolume");
    checkSameSize(grey, base.g->labelImage, "ifComputeVolume");
    std::vector<long long> volume = px::buffer<long long>(static_cast<std::size_t>(nv));
    const int *v = grey->bands[0];
    const long long top = grey->maxValue;
    for (int p = 0; p < grey->npixels; ++p) volume[lab[p]] += top - v[p];
    for (int i = 0; i < nv; ++i) base.g->vertices[i].features[0] = saturated(volume[i]);
    return base.release();
}

Graph *ifComputeAverageColors(Graph *g, Image *image)
{
    const int nb = image->nbands;
    GraphOwner base(copyOrNull(g, nb));
    if (!base.g) return nullptr;
    const int nv = base.g->nVertices;
    const int *lab = checkedLabels(base.g, nv, "ifComputeAverageColors");
    checkSameSize(image, base.g->labelImage, "ifComputeAverageColors");
    const int n = image->npixels;
    std::vector<long long> count = areasOf(lab, n, static_cast<std::size_t>(nv));
    std::vector<long long> sum = px::buffer<long long>(static_cast<std::size_t>(nv));
    for (int b = 0; b < nb; ++b) {
        std::fill(sum.begin(), sum.end(), 0);
        const int *v = image->bands[b];
        for (int p = 0; p < n; ++p) sum[lab[p]] += v[p];
        for (int i = 0; i < nv; ++i)
            base.g->vertices[i].features[b] = count[i] ? static_cast<int>(sum[i] / count[i]) : 0;
    }
    return base.release();
}

// A graph without features would need an image without bands, which cannot
// be made: null, as the image constructor gives for zero bands.
Image *ifAverageColorsGraphToImage(Graph *g, int type)
{
    const int nf = g->nFeatures;
    if (nf <= 0) return nullptr;
    const int *lab = checkedLabels(g, g->nVertices, "ifAverageColorsGraphToImage");
    const Image *labels = g->labelImage;
    Image *out = pxCreateImage(nf, type, labels->ncols, labels->nrows);
    if (!out) return nullptr;
    for (int b = 0; b < nf; ++b) {
        int *o = out->bands[b];
        for (int p = 0; p < labels->npixels; ++p) o[p] = g->vertices[lab[p]].features[b];
    }
    return out;
}

void ifAverageColor(Image *image, Image *output, Image *labels)
{
    checkSameSize(image, labels, "ifAverageColor");
    checkSameSize(output, labels, "ifAverageColor");
    if (output->nbands < image->nbands)
        px::fatal(PX_FATAL_ARGUMENT, "ifAverageColor: the output has %d bands, the image %d\n", output->nbands,
                  image->nbands);
    const int n = labels->npixels, nb = image->nbands;
    const int *lab = labels->bands[0];
    // The sums need room only up to the largest label present, which must
    // not exceed the claimed maxValue.
    int top = 0;
    for (int p = 0; p < n; ++p) {
        if (lab[p] < 0 || lab[p] > labels->maxValue)
            px::fatal(PX_FATAL_ARGUMENT, "ifAverageColor: label %d at pixel %d is outside 0 .. %d\n", lab[p], p,
                      labels->maxValue);
        top = std::max(top, lab[p]);
    }
    const std::size_t nl = static_cast<std::size_t>(top) + 1;
    std::vector<long long> count = areasOf(lab, n, nl);
    std::vector<long long> sum = px::buffer<long long>(nl);
    std::vector<int> mean = px::buffer<int>(nl);
    for (int b = 0; b < nb; ++b) {
        std::fill(sum.begin(), sum.end(), 0);
        const int *v = image->bands[b];
        for (int p = 0; p < n; ++p) sum[lab[p]] += v[p];
        for (std::size_t l = 0; l < nl; ++l) mean[l] = count[l] ? static_cast<int>(sum[l] / count[l]) : 0;
        int *o = output->bands[b];
        for (int p = 0; p < n; ++p) o[p] = mean[lab[p]];
    }
}

Image *ifCreateFeaturesVector(Image *image)
{
    Image *fv = pxCreateImage(image->nbands, PX_FEATURES, image->ncols, image->nrows);
    if (!fv) return nullptr;
    const int n = image->npixels;
    for (int b = 0; b < image->nbands; ++b) {
        const int *v = image->bands[b];
        int lo, hi;
        spanOf(v, n, lo, hi);
        px::message("MAX = %d, MIN = %d\n", hi, lo);
        int *o = fv->bands[b];
        for (int p = 0; p < n; ++p) o[p] = normalised(v[p], lo, hi);
    }
    fv->maxValue = 1000;
    return fv;
}

// The new record takes the old band arrays over; only the old record (and
// the row offsets and arc pairs it owns) is released.
void ifAddFeatureToVector(Image **fv, int *values)
{
    Image *old = *fv;
    Image *grown = pxCreateImage(old->nbands + 1, PX_FEATURES, old->ncols, old->nrows);
    if (!grown) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    for (int b = 0; b < old->nbands; ++b) {
        std::free(grown->bands[b]);
        grown->bands[b] = old->bands[b];
        old->bands[b] = nullptr;
    }
    const int n = old->npixels;
    int lo, hi;
    spanOf(values, n, lo, hi);
    px::message("MAX = %d, MIN = %d\n", hi, lo);
    int *last = grown->bands[grown->nbands - 1];
    for (int k = 0; k < grown->npixels; ++k) {
        last[k] = normalised(values[k], lo, hi);
        px::message("%4d ", last[k]);
    }
    pxReleaseImage(&old);
    *fv = grown;
    px::message("fv has now %d bands\n", grown->nbands);
}

// A graph without features (or without vertices) has nothing to normalise:
// its copy comes back and nothing is printed.
Graph *ifCreateFeaturesGraph(Graph *g)
{
    const int nf = g->nFeatures, nv = g->nVertices;
    if (nf <= 0 || nv <= 0) return copyOrNull(g, nf > 0 ? nf : 0);
    ImageOwner work(px::newImage(nf, PX_FEATURES, 1, nv));
    for (int b = 0; b < nf; ++b)
        for (int v = 0; v < nv; ++v) work.get()->bands[b][v] = g->vertices[v].features[b];
    ImageOwner fv(ifCreateFeaturesVector(work.get()));
    if (!fv.get()) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    Graph *base = copyOrNull(g, nf);
    if (!base) return nullptr;
    for (int b = 0; b < nf; ++b)
        for (int v = 0; v < nv; ++v) base->vertices[v].features[b] = fv.get()->bands[b][v];
    return base;
}

// hi - lo is worked out in 64 bits and saturated: features may span more
// than an int.
Graph *ifMorphoGradGraph(Graph *g)
{
    const int nf = g->nFeatures;
    std::vector<int> hi = px::buffer<int>(static_cast<std::size_t>(nf > 0 ? nf : 0));
    std::vector<int> lo = hi;
    Graph *base = copyOrNull(g, 1);
    if (!base) return nullptr;
    for (int i = 1; i < g->nVertices; ++i) {
        EdgeList *list = &g->vertices[i];
        for (int k = 0; k < nf; ++k) hi[k] = lo[k] = list->features[k];
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) {
            const int *f = g->vertices[e->vertex].features;
            for (int k = 0; k < nf; ++k) {
                if (f[k] > hi[k]) hi[k] = f[k];
                else if (f[k] < lo[k]) lo[k] = f[k];
            }
        }
        long long grad = 0;
        for (int k = 0; k < nf; ++k) grad = std::max(grad, static_cast<long long>(hi[k]) - lo[k]);
        base->vertices[i].features[0] = saturated(grad);
    }
    return base;
}

} // extern "C"
