#pragma once
// The contour seeds of the skeletons written as usually described, with
// recursive depth-first contour following.
#include <vector>

#include "reference/common.h"

namespace straight {

struct Seeds {
    std::vector<int> pixel, position, contour;
    bool operator==(const Seeds &o) const
    {
        return pixel == o.pixel && position == o.position && contour == o.contour;
    }
};

// The contour seeds as usually written: contour image, cleaning, object,
// and recursive depth-first following.
struct RecursiveContours {
    int ncols, nrows;
    std::vector<int> bin, t, f;
    Seeds seeds;

    explicit RecursiveContours(const Image *img) : ncols(img->ncols), nrows(img->nrows), bin(bandValues(img))
    {
        const int n = ncols * nrows;
        auto at = [&](const std::vector<int> &v, int x, int y) { return inside(x, y) ? v[y * ncols + x] : -1; };
        t.assign(n, 0);
        for (int p = 0; p < n; ++p) {
            const int x = p % ncols, y = p / ncols;
            if (bin[p] > 0 && (at(bin, x + 1, y) == 0 || at(bin, x, y + 1) == 0 || at(bin, x, y - 1) == 0 || at(bin, x - 1, y) == 0))
                t[p] = 255;
        }
        std::vector<int> d(n);
        for (int p = 0; p < n; ++p) d[p] = bin[p] > 0 && t[p] == 0 ? 255 : 0;
        for (int p = 0; p < n; ++p) {
            if (!t[p]) continue;
            bool interior = false, background = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((dx || dy) && inside(p % ncols + dx, p / ncols + dy)) {
                        interior = interior || at(d, p % ncols + dx, p / ncols + dy) > 0;
                        background = background || at(bin, p % ncols + dx, p / ncols + dy) == 0;
                    }
                }
            if (!interior || !background) t[p] = 0;
        }
        f.assign(n, 0);
        for (int p = 0; p < n; ++p) f[p] = t[p] > 0 || d[p] > 0 ? 255 : 0;
        int k = 0;
        for (int p = 0; p < n; ++p)
            if (t[p]) follow(p, ++k);
    }

    bool inside(int x, int y) const { return x >= 0 && x < ncols && y >= 0 && y < nrows; }
    int object(int x, int y) const { return inside(x, y) ? f[y * ncols + x] : 0; }

    void follow(int p, int k)
    {
        seeds.pixel.push_back(p);
        seeds.position.push_back(static_cast<int>(seeds.pixel.size()));
        seeds.contour.push_back(k);
        t[p] = 0;
        // right, down, up, left, down-right, down-left, up-right, up-left with
        // the side that must be object and the side that must not.
        static const int rule[8][6] = {{1, 0, 0, -1, 0, 1},   {0, 1, 1, 0, -1, 0},  {0, -1, -1, 0, 1, 0},
                                       {-1, 0, 0, 1, 0, -1},  {1, 1, 0, -1, -1, 0}, {-1, 1, 1, 0, 0, -1},
                                       {1, -1, -1, 0, 0, 1},  {-1, -1, 0, 1, 1, 0}};
        for (const auto &r : rule) {
            const int qx = p % ncols + r[0], qy = p / ncols + r[1];
            if (!inside(qx, qy) || !t[qy * ncols + qx]) continue;
            if (object(qx + r[2], qy + r[3]) > 0 && object(qx + r[4], qy + r[5]) == 0) follow(qy * ncols + qx, k);
        }
    }
};

} // namespace straight
