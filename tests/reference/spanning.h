#pragma once
// Prim's tree of the pixel graph written out plainly.
#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>

#include "reference/common.h"

namespace straight {

// The algorithm written out plainly: the public queue with `nbuckets`
// buckets, a bounds test per neighbour, the weight through its pointer or,
// when `arcs` is given, from that arc-weight image.
inline void plainPrim(Image *in, Image *out, AdjacencyFn adjacency, WeightFn weight, Image *arcs = nullptr,
                      int nbuckets = 50000)
{
    const int n = in->npixels;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, nbuckets, &A, n);
    int *pairs = nullptr;
    int k = arcs ? arcs->adjCount : adjacency(&pairs);
    const int *pr = arcs ? arcs->adjPairs : pairs;
    int *cost = out->bands[out->nbands - 2], *parent = out->bands[out->nbands - 1];
    for (int p = 0; p < n; ++p) {
        cost[p] = INT_MAX;
        parent[p] = p;
    }
    cost[0] = 0;
    insertQueue(&Q, &A, 0, 0);
    while (!isEmpty(&Q)) {
        int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < k; ++j) {
            int x = p % in->ncols + pr[2 * j], y = p / in->ncols + pr[2 * j + 1];
            if (x < 0 || y < 0 || x >= in->ncols || y >= in->nrows) continue;
            int q = x + y * in->ncols;
            if (arcs && arcs->bands[j][p] < 0) continue;
            if (A.bucketOf[q] == QUEUE_DONE) continue;
            int w = (arcs ? arcs->bands[j][p] : weight(in, p, q)) * 49;
            if (w >= cost[q]) continue;
            cost[q] = w;
            parent[q] = p;
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueueUpdateCurr(&Q, &A, w % nbuckets, q);
            else updateQueueUpdateCurr(&Q, &A, w % nbuckets, q);
        }
    }
    std::free(pairs);
    releaseQueue(&Q, &A);
}


// An arc-weight image as the arc-weight functions build it: band j holds the
// weight of the arc to the j-th neighbour, -1 where it does not exist.
inline ImagePtr arcImage(Image *img, AdjacencyFn adjacency, WeightFn weight)
{
    int *pairs = nullptr;
    int k = adjacency(&pairs);
    ImagePtr arcs(pxCreateImage(k, PX_ARCWEIGHTS, img->ncols, img->nrows));
    arcs->adjCount = k;
    arcs->adjPairs = pairs;
    for (int p = 0; p < img->npixels; ++p)
        for (int j = 0; j < k; ++j) {
            int x = p % img->ncols + pairs[2 * j], y = p / img->ncols + pairs[2 * j + 1];
            bool inside = x >= 0 && y >= 0 && x < img->ncols && y < img->nrows;
            arcs.at(p, j) = inside ? weight(img, p, x + y * img->ncols) : -1;
        }
    arcs->maxValue = 1000;
    return arcs;
}


// Cutting a tree image at fraction x its heaviest arc: the public union-find,
// each pixel linked to its parent when the arc is light enough, the label
// being the set's representative.
inline void plainMstThreshold(Image *tree, Image *labels, double fraction)
{
    const int n = tree->npixels;
    const int *cost = tree->bands[tree->nbands - 2], *parent = tree->bands[tree->nbands - 1];
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (parent[i] != i && cost[i] > m) m = cost[i];
    const double t = std::nearbyint(fraction * m);
    UnionFind uf{};
    ufStartUnionFind(&uf, n, 1);
    for (int i = 0; i < n; ++i)
        if (parent[i] != i && cost[i] <= t) ufLink(&uf, ufFindSet(&uf, i), ufFindSet(&uf, parent[i]));
    int top = 0;
    for (int i = 0; i < n; ++i) {
        labels->bands[0][i] = ufFindSet(&uf, i);
        top = std::max(top, labels->bands[0][i]);
    }
    labels->maxValue = top;
    ufReleaseUnionFind(&uf);
}

} // namespace straight
