#pragma once
// Area opening by its definition.
#include <algorithm>
#include <vector>

#include "reference/common.h"

namespace straight {

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
