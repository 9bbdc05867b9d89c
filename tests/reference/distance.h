#pragma once
// The Euclidean propagation and the skeleton IFTs written out plainly.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "reference/common.h"

namespace straight {

enum class Op { DT, Nova, Skel };

// The Euclidean propagation written out plainly on the public queue: a
// bounds test per neighbour, insertQueue / updateQueue, isEmpty's cursor.
// For Nova the seed labels are (position, contour) pairs in label / label2.
inline void referenceEuclidean(Op op, Image *bin, Image *work, const std::vector<int> &pairs, const Roots *seeds,
                               const std::vector<int> &label2, int inner = 0, double error = 0, int seedDist = 0)
{
    const int n = bin->npixels, ncols = bin->ncols, nrows = bin->nrows, nb = work->nbands;
    const int k = static_cast<int>(pairs.size() / 2);
    int *label, *cost, *pred, *other = nullptr, *mark = nullptr;
    if (op == Op::DT) {
        label = work->bands[nb - 3], cost = work->bands[nb - 2], pred = work->bands[nb - 1];
    } else {
        label = work->bands[nb - 4], cost = work->bands[nb - 3], pred = work->bands[nb - 2];
        (op == Op::Nova ? other : mark) = work->bands[nb - 1];
    }
    const int B = op == Op::Nova ? 2 * (ncols + nrows) : 2 * (ncols + nrows) + 2;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, B, &A, n);
    std::vector<int> dx(n, 10000), dy(n, 10000);
    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = INT_MAX;
        pred[p] = p;
        if (other) other[p] = 0;
    }
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        cost[p] = 0;
        dx[p] = dy[p] = 0;
        label[p] = seeds->label[i];
        if (other) other[p] = label2[i];
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, 0, p);
        else updateQueue(&Q, &A, 0, p);
    }
    const int *b = bin->bands[0];
    while (!isEmpty(&Q)) {
        const int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < k; ++j) {
            const int ax = pairs[2 * j], ay = pairs[2 * j + 1];
            const int x = p % ncols + ax, y = p / ncols + ay;
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            const int q = y * ncols + x;
            if (op == Op::Skel && (inner ? b[q] <= 0 : b[q] != 0)) continue;
            if (A.bucketOf[q] == QUEUE_DONE) {
                if (op != Op::Skel) continue;
                const long long nx = dx[q] + std::abs(ax), ny = dy[q] + std::abs(ay);
                const int d = static_cast<int>(std::fabs(std::sqrt(double(nx * nx + ny * ny)) - std::sqrt(double(cost[p]))));
                if (d > error) continue;
                if (inner && b[p] > 0) {
                    const int e = std::abs(label[p] - label[q]);
                    if ((e > seedDist || e == 1) && cost[p] > 0) {
                        mark[p] = 255;
                        if (mark[q] != 255 && std::fabs(std::sqrt(double(cost[q])) - std::sqrt(double(cost[p]))) <= 0.01)
                            mark[q] = 255;
                    }
                } else if (!inner && b[p] == 0 && label[p] != label[q]) {
                    mark[p] = 255;
                }
                continue;
            }
            const long long nx = dx[p] + std::abs(ax), ny = dy[p] + std::abs(ay);
            const long long c = nx * nx + ny * ny;
            if (c >= cost[q]) continue;
            cost[q] = static_cast<int>(c);
            dx[q] = static_cast<int>(nx);
            dy[q] = static_cast<int>(ny);
            label[q] = label[p];
            if (other) other[q] = other[p];
            pred[q] = p;
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, static_cast<int>(c % B), q);
            else updateQueue(&Q, &A, static_cast<int>(c % B), q);
        }
    }
    releaseQueue(&Q, &A);
}


inline std::vector<std::vector<int>> bandsOf(const Image *work)
{
    std::vector<std::vector<int>> v;
    for (int b = 0; b < work->nbands; ++b) v.push_back(bandValues(work, b));
    return v;
}


// iftSkel written out plainly on the public queue.
inline void referenceSkel(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost,
                          Roots *roots, int contourMode)
{
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows, nb = work->nbands;
    const std::vector<int> pairs = pairsOf(adjacency);
    const int k = static_cast<int>(pairs.size() / 2);
    int *label = work->bands[nb - 4], *cost = work->bands[nb - 3], *pred = work->bands[nb - 2];
    int *mark = work->bands[nb - 1];
    const int B = ncols * ncols + nrows * nrows + 1, s = (ncols * ncols + nrows * nrows) / 1000;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, B, &A, n);
    std::vector<int> seedOf(n, -1);
    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = INT_MAX;
        pred[p] = p;
    }
    auto enqueue = [&](int b, int p) {
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, b, p);
        else updateQueue(&Q, &A, b, p);
    };
    for (int i = 0; i < roots->count; ++i) {
        const int p = roots->pixel[i];
        label[p] = roots->label[i];
        cost[p] = contourMode ? roots->cost[i] : 0;
        if (contourMode) seedOf[label[p]] = p;
        enqueue(cost[p] % B, p);
    }
    auto neighbour = [&](int p, int j) {
        const int x = p % ncols + pairs[2 * j], y = p / ncols + pairs[2 * j + 1];
        return x < 0 || x >= ncols || y < 0 || y >= nrows ? -1 : y * ncols + x;
    };
    while (!isEmpty(&Q)) {
        const int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < k; ++j) {
            const int q = neighbour(p, j);
            if (q < 0) continue;
            if (A.bucketOf[q] == QUEUE_DONE) {
                if (pathCost(cost[q], weight(img, q, p) * s) != cost[p] || label[q] == label[p]) continue;
                if (contourMode && img->bands[0][p] > 0) {
                    bool adjacent = false;
                    for (int i = 0; i < k; ++i) adjacent = adjacent || neighbour(seedOf[label[q]], i) == seedOf[label[p]];
                    if (!adjacent) mark[p] = 255;
                } else if (!contourMode && img->bands[0][p] == 0) {
                    mark[p] = 255;
                }
                continue;
            }
            const int c = pathCost(cost[p], weight(img, p, q) * s);
            if (c >= cost[q]) continue;
            cost[q] = c;
            label[q] = label[p];
            pred[q] = p;
            enqueue(c % B, q);
        }
    }
    releaseQueue(&Q, &A);
}

// iftSkelReconstr written out plainly on the public queue, one bucket more
// than the largest squared radius + 1.
inline void referenceReconstr(Image *skel, Image *work)
{
    const int n = skel->npixels, ncols = skel->ncols, nrows = skel->nrows, nb = work->nbands;
    int *root = work->bands[nb - 4], *mark = work->bands[nb - 1];
    const int *v = skel->bands[0];
    int top = 0;
    for (int p = 0; p < n; ++p) top = std::max(top, v[p]);
    const int N = top + 1;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, N + 1, &A, n);
    std::vector<int> dx(n, 10000), dy(n, 10000);
    for (int p = 0; p < n; ++p) {
        root[p] = 0;
        if (v[p] >= 1) {
            mark[p] = 255;
            dx[p] = dy[p] = 0;
            root[p] = p;
            insertQueue(&Q, &A, N - v[p], p);
        }
    }
    const std::vector<int> pairs = pairsOf(pxNeighborhood8Clockwise);
    while (!isEmpty(&Q)) {
        const int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < 8; ++j) {
            const int x = p % ncols + pairs[2 * j], y = p / ncols + pairs[2 * j + 1];
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            const int f = y * ncols + x;
            if (A.bucketOf[f] == QUEUE_DONE) continue;
            const int nx = dx[p] + std::abs(pairs[2 * j]), ny = dy[p] + std::abs(pairs[2 * j + 1]);
            const int t = v[root[p]] - nx * nx - ny * ny;
            if (t < 0) continue;
            mark[f] = 255;
            if (A.bucketOf[f] == QUEUE_ABSENT) insertQueue(&Q, &A, N - t, f);
            else if (N - t < A.bucketOf[f]) updateQueue(&Q, &A, N - t, f);
            else continue;
            root[f] = root[p];
            dx[f] = nx;
            dy[f] = ny;
        }
    }
    releaseQueue(&Q, &A);
}

} // namespace straight
