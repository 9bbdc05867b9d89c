#pragma once
// Reconstruction by its definitions: the global one iterated to its fixpoint,
// the local one flooded level by level.
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "reference/common.h"

namespace straight {

// The 8-neighbours of p, by plain coordinates.
inline std::vector<int> neighbours8(int ncols, int nrows, int p)
{
    std::vector<int> out;
    int x = p % ncols, y = p / ncols;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if ((dx || dy) && nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) out.push_back(ny * ncols + nx);
        }
    return out;
}

// Global reconstruction by its definition, iterated to the fixpoint:
// f(p) = best of the seed cost at p and, over neighbours r, of the neighbour's
// value limited by orig(p) (min for dome cutting, max for basin filling).
inline std::vector<int> globalByFixpoint(const Image *orig, const Roots *seeds, bool domes)
{
    const int n = orig->npixels;
    const int none = domes ? IFT_INFINITY_MAX : IFT_INFINITY_MIN;
    auto better = [&](int a, int b) { return domes ? std::max(a, b) : std::min(a, b); };
    std::vector<int> seedCost(n, none);
    for (int i = 0; i < seeds->count; ++i) seedCost[seeds->pixel[i]] = better(seedCost[seeds->pixel[i]], seeds->cost[i]);
    std::vector<int> f = seedCost;
    for (bool changed = true; changed;) {
        changed = false;
        for (int p = 0; p < n; ++p) {
            int v = seedCost[p];
            for (int r : neighbours8(orig->ncols, orig->nrows, p)) {
                if (f[r] == none) continue;
                int o = orig->bands[0][p];
                v = better(v, domes ? std::min(f[r], o) : std::max(f[r], o));
            }
            if (v != f[p]) {
                f[p] = v;
                changed = true;
            }
        }
    }
    return f;
}

// Local reconstruction level by level: the seeds of the best remaining cost h
// flood, through pixels not yet taken whose orig value is on h's side, every
// pixel they reach; those take h. Untaken pixels keep orig.
inline std::vector<int> localByLevels(const Image *orig, const Roots *seeds, bool domes)
{
    const int n = orig->npixels;
    std::vector<int> f(n);
    std::vector<bool> taken(n, false);
    std::map<int, std::vector<int>> byCost;
    for (int i = 0; i < seeds->count; ++i) byCost[seeds->cost[i]].push_back(seeds->pixel[i]);
    std::vector<std::pair<int, std::vector<int>>> levels(byCost.begin(), byCost.end());
    if (domes) std::reverse(levels.begin(), levels.end());
    for (auto &[h, pixels] : levels) {
        std::vector<int> stack;
        for (int p : pixels)
            if (!taken[p]) {
                taken[p] = true;
                f[p] = h;
                stack.push_back(p);
            }
        while (!stack.empty()) {
            int p = stack.back();
            stack.pop_back();
            for (int q : neighbours8(orig->ncols, orig->nrows, p)) {
                int o = orig->bands[0][q];
                if (taken[q] || (domes ? o < h : o > h)) continue;
                taken[q] = true;
                f[q] = h;
                stack.push_back(q);
            }
        }
    }
    for (int p = 0; p < n; ++p)
        if (!taken[p]) f[p] = orig->bands[0][p];
    return f;
}

} // namespace straight
