#pragma once
// Private helpers of the IFT engine shared between its source files.

#include <cstdio>
#include <cstdlib>

#include "../ift.h"

// Internal invariants: kept in debug and sanitizer builds.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
#define PX_ASSERT(cond) ((void)0)
#else
#define PX_ASSERT(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond), std::abort()))
#endif

namespace ift_detail {

// The IFT with ifWatershedMetric as arc weight and one of the library's five
// path costs (nothing else), writing label, cost and, when pred is not null,
// predecessor straight into the arrays given (npixels of img each), served in
// decreasing cost when `decreasing`. Lets the reconstructions fill their
// outputs without a work image; the results are those of iftNonNormalized
// (Inverted) on the same arguments.
void watershedIft(Image *img, int *label, int *cost, int *pred, AdjacencyFn adjacency, int maxcost,
                  PathCostFn pathCost, bool decreasing, Roots *seeds);

} // namespace ift_detail

namespace ift_detail {

// Owners for the C records of the region operations, so that a fatal error
// raised while they are alive (inside pxCatchFatal) releases them.
struct UnionFindOwner {
    UnionFind uf;
    UnionFindOwner(int nElements) { ufStartUnionFind(&uf, nElements, 0); }
    ~UnionFindOwner() { ufReleaseUnionFind(&uf); }
    UnionFindOwner(const UnionFindOwner &) = delete;
    UnionFindOwner &operator=(const UnionFindOwner &) = delete;
    int find(int x) { return ufFindSet(&uf, x); }
    void link(int x, int y) { ufLink(&uf, x, y); }
};

struct GraphOwner {
    Graph *g;
    explicit GraphOwner(Graph *graph) : g(graph) {}
    ~GraphOwner() { destroyGraph(&g); }
    GraphOwner(const GraphOwner &) = delete;
    GraphOwner &operator=(const GraphOwner &) = delete;
    Graph *release()
    {
        Graph *r = g;
        g = nullptr;
        return r;
    }
};

struct ImageOwner {
    Image *img;
    explicit ImageOwner(Image *image) : img(image) {}
    ~ImageOwner() { pxReleaseImage(&img); }
    ImageOwner(const ImageOwner &) = delete;
    ImageOwner &operator=(const ImageOwner &) = delete;
    Image *release()
    {
        Image *r = img;
        img = nullptr;
        return r;
    }
};

// Band 0 of the graph's label image, after checking that the graph has one
// and that every label names one of its `nVertices` vertices (a region
// operation indexes its per-vertex arrays with them).
const int *checkedLabels(const Graph *g, int nVertices, const char *who);

} // namespace ift_detail
