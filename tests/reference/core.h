#pragma once
// The image foresting transform written out plainly, in both directions.
#include <climits>
#include <cstdlib>

#include "reference/common.h"

namespace straight {

// The algorithm written out plainly: the public queue, a bounds test per
// neighbour, every function called through its pointer. A pixel seeded twice
// is moved to the later seed's bucket.
inline void referenceIft(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, int maxcost,
                         PathCostFn pathCost, Roots *seeds, bool decreasing)
{
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows;
    long long nb = static_cast<long long>(maxcost) + 1;
    if (nb < 1) nb = 1;
    if (nb > INT_MAX) nb = INT_MAX;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, static_cast<int>(nb), &A, n);
    int *pairs = nullptr;
    int k = adjacency(&pairs);
    int *label = work->bands[work->nbands - 3];
    int *cost = work->bands[work->nbands - 2];
    int *pred = work->bands[work->nbands - 1];
    for (int p = 0; p < n; ++p) {
        cost[p] = decreasing ? IFT_INFINITY_MAX : IFT_INFINITY_MIN;
        label[p] = 0;
        pred[p] = p;
    }
    auto bucket = [&](int c) {
        long long key = decreasing ? static_cast<long long>(maxcost) - c : c;
        long long r = key % nb;
        return static_cast<int>(r < 0 ? r + nb : r);
    };
    for (int i = 0; i < seeds->count; ++i) {
        int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        cost[p] = seeds->cost[i];
        label[p] = seeds->label[i];
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, bucket(cost[p]), p);
        else updateQueue(&Q, &A, bucket(cost[p]), p);
    }
    while (!isEmpty(&Q)) {
        int p = removeQueue(&Q, &A, Q.current);
        int x = p % ncols, y = p / ncols;
        for (int j = 0; j < k; ++j) {
            int nx = x + pairs[2 * j], ny = y + pairs[2 * j + 1];
            if (nx < 0 || nx >= ncols || ny < 0 || ny >= nrows) continue;
            int q = ny * ncols + nx;
            if (A.bucketOf[q] == QUEUE_DONE) continue;
            int c = pathCost(cost[p], weight(img, p, q));
            bool better = decreasing ? c > cost[q] : c < cost[q];
            if (!better) continue;
            cost[q] = c;
            label[q] = label[p];
            pred[q] = p;
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, bucket(c), q);
            else updateQueue(&Q, &A, bucket(c), q);
        }
    }
    std::free(pairs);
    releaseQueue(&Q, &A);
}

} // namespace straight
