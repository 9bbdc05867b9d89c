#pragma once
// Area opening by its definition, and its level search as one flood per
// maximum.
#include <algorithm>
#include <climits>
#include <vector>

#include "reference/common.h"

namespace straight {

// The level search written as one flood per maximum on the public queue: the
// floods share the queue and the per-pixel arrays, which are never cleared; a
// flood resets a pixel left by an earlier one when it first touches it, and
// stops counting at `area` pixels. Returns the level of each label.
inline std::vector<int> floodLevels(Image *img, Roots *seeds, int area)
{
    const int n = img->npixels, M = img->maxValue;
    const int *v = img->bands[0];
    std::vector<int> label(n, 0), cost(n, 0);
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, M + 1, &A, n);
    int k = 0;
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->label[i] > k) k = k + 1;
    std::vector<int> counter(k + 1, 0), level(k + 1, 0), flag(k + 1, 0);
    for (int i = 0; i < seeds->count; ++i) {
        int t = seeds->label[i];
        if (flag[t]) continue;
        flag[t] = 1;
        int s = seeds->pixel[i];
        cost[s] = seeds->cost[i];
        label[s] = t;
        insertQueue(&Q, &A, M - cost[s], s);
        while (!isEmpty(&Q)) {
            int p = removeQueue(&Q, &A, Q.current);
            t = label[p];
            if (counter[t] >= area) continue;
            counter[t] = counter[t] + 1;
            level[t] = cost[p];
            eachNeighbour8(img, p, [&](int q) {
                if (label[q] != label[p]) {
                    cost[q] = INT_MIN;
                    A.bucketOf[q] = QUEUE_ABSENT;
                }
                if (A.bucketOf[q] == QUEUE_DONE) return;
                int c = std::min(cost[p], v[q]);
                if (c <= cost[q]) return;
                cost[q] = c;
                label[q] = label[p];
                if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, M - c, q);
                else updateQueue(&Q, &A, M - c, q);
            });
        }
    }
    releaseQueue(&Q, &A);
    return level;
}

// Area opening by its definition: a pixel keeps the highest level h at which
// the 8-connected component of pixels >= h around it holds `area` pixels, and
// the image's lowest value when there is none.
inline std::vector<int> bruteAreaOpen(const Image *img, int area)
{
    const int n = img->npixels;
    const int *v = img->bands[0];
    std::vector<int> levels(v, v + n);
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    std::vector<int> out(n, levels[0]), comp(n);
    for (int h : levels) {
        std::vector<char> seen(n, 0);
        for (int s = 0; s < n; ++s) {
            if (seen[s] || v[s] < h) continue;
            comp.clear();
            comp.push_back(s);
            seen[s] = 1;
            for (std::size_t i = 0; i < comp.size(); ++i)
                eachNeighbour8(img, comp[i], [&](int q) {
                    if (!seen[q] && v[q] >= h) {
                        seen[q] = 1;
                        comp.push_back(q);
                    }
                });
            if (static_cast<int>(comp.size()) >= area)
                for (int p : comp) out[p] = std::max(out[p], h);
        }
    }
    return out;
}

} // namespace straight
