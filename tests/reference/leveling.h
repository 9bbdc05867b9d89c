#pragma once
// Levelings by their definition.
#include <cstdio>
#include <algorithm>
#include <vector>

#include "reference/common.h"

namespace straight {

template <class F>
inline void forNeighbours(const Image *img, int p, bool eight, F f)
{
    const int x = p % img->ncols, y = p / img->ncols;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            if ((!dx && !dy) || (!eight && dx && dy)) continue;
            const int nx = x + dx, ny = y + dy;
            if (nx >= 0 && nx < img->ncols && ny >= 0 && ny < img->nrows) f(ny * img->ncols + nx);
        }
}

// Geodesic reconstruction iterated to its fixpoint: by dilation of marker
// under mask (dilate = true) or by erosion above it, over 8-neighbours.
inline std::vector<int> reconstructByFixpoint(const Image *geometry, std::vector<int> r, const std::vector<int> &mask,
                                              bool dilate)
{
    for (bool changed = true; changed;) {
        changed = false;
        for (int p = 0; p < geometry->npixels; ++p) {
            int best = r[p];
            forNeighbours(geometry, p, true, [&](int q) { best = dilate ? std::max(best, r[q]) : std::min(best, r[q]); });
            best = dilate ? std::min(best, mask[p]) : std::max(best, mask[p]);
            if (best != r[p]) {
                r[p] = best;
                changed = true;
            }
        }
    }
    return r;
}

// The leveling by its definition: opening by reconstruction of img from
// min(img, marker's 4-neighbour dilation), then closing by reconstruction of
// that from max(marker's 4-neighbour erosion, opening).
inline std::vector<int> levelByDefinition(const Image *img, const Image *marker)
{
    const int n = img->npixels;
    const std::vector<int> v = bandValues(img), m = bandValues(marker);
    std::vector<int> low(n), up(n);
    for (int p = 0; p < n; ++p) {
        int d = m[p];
        forNeighbours(img, p, false, [&](int q) { d = std::max(d, m[q]); });
        low[p] = std::min(v[p], d);
    }
    const std::vector<int> opened = reconstructByFixpoint(img, low, v, true);
    for (int p = 0; p < n; ++p) {
        int e = m[p];
        forNeighbours(img, p, false, [&](int q) { e = std::min(e, m[q]); });
        up[p] = std::max(e, opened[p]);
    }
    return reconstructByFixpoint(img, up, opened, false);
}


// The two-way IFT of levelings on the public queue of ref's maxValue + 1
// buckets: rising seeds (label 2) keyed maxValue - cost, falling ones (label
// 1) keyed by their cost, both as true residues; a bounds test per neighbour.
// Seeds of other labels are reported as they offer nothing.
inline void plainLevel(Image *img, Image *ref, Image *work, AdjacencyFn adjacency, Roots *seeds)
{
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows, M = ref->maxValue;
    const long long span = std::max(1LL, static_cast<long long>(M) + 1);
    auto bucket = [&](long long key) { return static_cast<int>(((key % span) + span) % span); };
    int *label = work->bands[work->nbands - 3], *cost = work->bands[work->nbands - 2];
    int *pred = work->bands[work->nbands - 1];
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, static_cast<int>(span), &A, n);
    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = ref->bands[0][p];
        pred[p] = p;
    }
    auto enqueue = [&](int p) {
        const int b = bucket(label[p] == 2 ? static_cast<long long>(M) - cost[p] : cost[p]);
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, b, p);
        else updateQueue(&Q, &A, b, p);
    };
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        cost[p] = seeds->cost[i];
        label[p] = seeds->label[i];
        enqueue(p);
    }
    const std::vector<int> pairs = pairsOf(adjacency);
    while (!isEmpty(&Q)) {
        const int p = removeQueue(&Q, &A, Q.current);
        for (std::size_t j = 0; j < pairs.size(); j += 2) {
            const int x = p % ncols + pairs[j], y = p / ncols + pairs[j + 1];
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            const int q = y * ncols + x;
            if (A.bucketOf[q] == QUEUE_DONE) continue;
            const int v = img->bands[0][q];
            if (label[p] == 2 ? std::min(cost[p], v) <= cost[q] : label[p] == 1 ? std::max(cost[p], v) >= cost[q] : true) {
                if (label[p] != 1 && label[p] != 2) std::fprintf(stderr, "pixel %d has invalid label (%d)!\n", p, label[p]);
                continue;
            }
            cost[q] = label[p] == 2 ? std::min(cost[p], v) : std::max(cost[p], v);
            label[q] = label[p];
            pred[q] = p;
            enqueue(q);
        }
    }
    releaseQueue(&Q, &A);
}

} // namespace straight
