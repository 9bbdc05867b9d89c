#pragma once
// Levelings by their definition.
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

} // namespace straight
