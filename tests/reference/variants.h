#pragma once
// The IFT variants (normalised weights, arc-weight images, masks, region
// merging) written out plainly.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>
#include <graph.h>

#include "reference/common.h"

namespace straight {

// Every list of a graph, walked in order, with the label image.
struct GraphDump {
    std::vector<std::vector<std::pair<int, int>>> lists;
    std::vector<int> labels;
    bool operator==(const GraphDump &o) const { return lists == o.lists && labels == o.labels; }
};

inline GraphDump dump(Graph *g)
{
    GraphDump d;
    for (int v = 0; v < g->nVertices; ++v) {
        d.lists.emplace_back();
        for (Edge *e = g->vertices[v].head; e; e = e->nextEdge) d.lists.back().emplace_back(e->vertex, e->weight);
    }
    if (g->labelImage) d.labels = bandValues(g->labelImage);
    return d;
}


// One call of a variant, described for both the library and the reference.
struct Call {
    enum Kind { IFT, IFT_WF, IFT_NON_NORMALIZED_WF, IFT_MASK, IFT_MASK_WF, DYNAMIC } kind;
    Image *img;
    Roots *seeds;
    PathCostFn cost;
    AdjacencyFn adjacency = pxNeighborhood8;
    WeightFn weight = ifWatershedMetric;
    Image *arcs = nullptr;
    Image *mask = nullptr;
    int maxcost = 0;
    RegionWeightFn regionWeight = ifEdgeWeightArea;
    InitDataFn init = ifInitAreaData;
    MergeDataFn merge = ifUpdateAreaData;
    int nData = 1;
};

// The variants as written: the public queue, a bounds test per arc, every
// function called through its pointer. Buckets as the variants size them:
// 50000 for normalised weights, otherwise the specified count raised to cover
// every arc weight and seed cost.
inline Result plainVariant(const Call &c, GraphDump *graph = nullptr)
{
    Image *img = c.img;
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows;
    const bool normalised = c.kind == Call::IFT || c.kind == Call::IFT_MASK || c.kind == Call::IFT_MASK_WF;
    const int scale = normalised ? 49 : 1;
    const bool dynamic = c.kind == Call::DYNAMIC;
    long long nb = c.kind == Call::IFT || c.kind == Call::IFT_MASK ? 50000
                   : c.kind == Call::IFT_WF                        ? 1001
                   : c.kind == Call::IFT_MASK_WF                   ? 50000
                                                                   : static_cast<long long>(c.maxcost) + 1;
    if (c.arcs) {
        for (int j = 0; j < c.arcs->nbands; ++j)
            for (int p = 0; p < n; ++p) nb = std::max(nb, static_cast<long long>(c.arcs->bands[j][p]) * scale + 1);
        for (int i = 0; i < c.seeds->count; ++i)
            if (c.seeds->pixel[i] >= 0 && c.seeds->pixel[i] < n) nb = std::max(nb, c.seeds->cost[i] + 1LL);
    }
    ImagePtr work(pxCreateImage(3, PX_WORK, ncols, nrows));
    int *label = work->bands[0], *cost = work->bands[1], *pred = work->bands[2];
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, static_cast<int>(nb), &A, n);
    auto bucket = [&](int v) { return static_cast<int>(((v % nb) + nb) % nb); };
    UnionFind uf{};
    Graph *g = nullptr;
    if (dynamic) {
        ufStartUnionFind(&uf, n + 1, c.nData);
        c.init(&uf, img);
        uf.mergeData = c.merge;
        int top = c.seeds->count;
        for (int i = 0; i < c.seeds->count; ++i) top = std::max(top, c.seeds->label[i]);
        g = allocateGraph(top, 0);
    }
    for (int p = 0; p < n; ++p) {
        cost[p] = INT_MAX;
        label[p] = 0;
        pred[p] = p;
    }
    for (int i = 0; i < c.seeds->count; ++i) {
        int p = c.seeds->pixel[i];
        if (p < 0 || p >= n || (c.mask && c.mask->bands[0][p] <= 0)) continue;
        cost[p] = c.seeds->cost[i];
        label[p] = c.seeds->label[i];
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, bucket(cost[p]), p);
        else updateQueue(&Q, &A, bucket(cost[p]), p);
    }
    int *pairs = nullptr;
    int k = 0;
    if (c.arcs) k = c.arcs->adjCount;
    else k = c.adjacency(&pairs);
    const int *dxy = c.arcs ? c.arcs->adjPairs : pairs;
    while (!isEmpty(&Q)) {
        int p = removeQueue(&Q, &A, Q.current);
        if (dynamic && pred[p] != p) ufLink(&uf, ufFindSet(&uf, p), ufFindSet(&uf, pred[p]));
        for (int j = 0; j < k; ++j) {
            if (c.arcs && c.arcs->bands[j][p] < 0) continue;
            int x = p % ncols + dxy[2 * j], y = p / ncols + dxy[2 * j + 1];
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            int q = y * ncols + x;
            if (c.mask && c.mask->bands[0][q] == 0) continue;
            if (A.bucketOf[q] == QUEUE_DONE) {
                if (dynamic && label[q] != label[p] && ufFindSet(&uf, p) != ufFindSet(&uf, q)) {
                    insertEdge(g, label[p], label[q], c.regionWeight(img, &uf, p, q));
                    ufLink(&uf, ufFindSet(&uf, q), ufFindSet(&uf, p));
                }
                continue;
            }
            int w = c.arcs ? c.arcs->bands[j][p] : c.weight(img, p, q);
            int v = c.cost(cost[p], w * scale);
            if (v >= cost[q]) continue;
            cost[q] = v;
            label[q] = label[p];
            pred[q] = p;
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, bucket(v), q);
            else updateQueue(&Q, &A, bucket(v), q);
        }
    }
    std::free(pairs);
    releaseQueue(&Q, &A);
    if (dynamic) {
        setLabelImage(g, pxCopyBand(work.get(), PX_GREY_INT, 0));
        if (graph) *graph = dump(g);
        destroyGraph(&g);
        ufReleaseUnionFind(&uf);
    }
    return resultOf(work.get());
}

// The library's call that a Call describes.
inline Result libraryVariant(const Call &c, GraphDump *graph = nullptr)
{
    ImagePtr work(pxCreateImage(c.img->nbands + 3, PX_WORK, c.img->ncols, c.img->nrows));
    Image *w = work.get();
    switch (c.kind) {
    case Call::IFT: ift(c.img, w, c.adjacency, c.weight, c.cost, c.seeds); break;
    case Call::IFT_WF: iftWF(c.img, w, c.arcs, c.cost, c.seeds); break;
    case Call::IFT_NON_NORMALIZED_WF: iftNonNormalizedWF(c.img, w, c.arcs, c.maxcost, c.cost, c.seeds); break;
    case Call::IFT_MASK: iftMask(c.img, w, c.mask, c.adjacency, c.weight, c.cost, c.seeds); break;
    case Call::IFT_MASK_WF: iftMaskWF(c.img, w, c.mask, c.arcs, c.cost, c.seeds); break;
    case Call::DYNAMIC: {
        Graph *g = iftDinamicNonNormalized(c.img, c.img, w, c.adjacency, c.weight, c.maxcost, c.cost, c.seeds,
                                           c.regionWeight, c.init, c.merge, c.nData);
        if (graph) *graph = dump(g);
        destroyGraph(&g);
        break;
    }
    }
    return resultOf(w);
}

} // namespace straight
