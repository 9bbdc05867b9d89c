#pragma once
// Connected labelling and regional extrema by their definitions.
#include <deque>
#include <map>
#include <vector>

#include "reference/common.h"

namespace straight {

// Breadth-first 8-connected labelling of band 0 > 0, numbered in raster order
// of each component's first pixel.
inline std::vector<int> bfsLabels(const Image *img, int *count = nullptr)
{
    std::vector<int> lab(img->npixels, 0);
    int k = 0;
    std::deque<int> queue;
    for (int p = 0; p < img->npixels; ++p) {
        if (img->bands[0][p] <= 0 || lab[p]) continue;
        lab[p] = ++k;
        queue.push_back(p);
        while (!queue.empty()) {
            int s = queue.front();
            queue.pop_front();
            eachNeighbour8(img, s, [&](int q) {
                if (img->bands[0][q] > 0 && !lab[q]) {
                    lab[q] = k;
                    queue.push_back(q);
                }
            });
        }
    }
    if (count) *count = k;
    return lab;
}

// The definition: flood every flat zone and keep it when no neighbour outside
// it is strictly lower (minima) or higher (maxima).
inline std::vector<int> definitionExtrema(const Image *img, bool maxima)
{
    const int *v = img->bands[0];
    std::vector<int> zone(img->npixels, -1), out(img->npixels, 0);
    for (int s = 0; s < img->npixels; ++s) {
        if (zone[s] >= 0) continue;
        std::vector<int> members{s};
        zone[s] = s;
        bool beaten = false;
        for (std::size_t i = 0; i < members.size(); ++i) {
            eachNeighbour8(img, members[i], [&](int q) {
                if (v[q] == v[s]) {
                    if (zone[q] < 0) {
                        zone[q] = s;
                        members.push_back(q);
                    }
                } else if (maxima ? v[q] > v[s] : v[q] < v[s]) {
                    beaten = true;
                }
            });
        }
        if (!beaten)
            for (int p : members) out[p] = 1;
    }
    return out;
}


// Seeds of every extremum pixel in raster order, labelled by extremum.
inline SeedList seedsFromMask(const Image *img, const std::vector<int> &mask)
{
    ImagePtr m(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    for (int p = 0; p < img->npixels; ++p) m.at(p) = mask[p];
    std::vector<int> lab = bfsLabels(m.get());
    SeedList s;
    for (int p = 0; p < img->npixels; ++p)
        if (lab[p] > 0) {
            s.pixel.push_back(p);
            s.label.push_back(lab[p]);
            s.cost.push_back(img->bands[0][p]);
        }
    return s;
}


// The flat zones holding a seed inside the image, flooded one by one, get 255;
// nothing else is written.
inline void plainConnectedComponents(const Image *img, Image *out, const Roots *seeds)
{
    const int *v = img->bands[0];
    std::vector<char> seen(img->npixels, 0);
    for (int i = 0; i < seeds->count; ++i) {
        const int s = seeds->pixel[i];
        if (s < 0 || s >= img->npixels || seen[s]) continue;
        std::deque<int> queue{s};
        seen[s] = 1;
        while (!queue.empty()) {
            const int p = queue.front();
            queue.pop_front();
            out->bands[0][p] = 255;
            eachNeighbour8(img, p, [&](int q) {
                if (!seen[q] && v[q] == v[s]) {
                    seen[q] = 1;
                    queue.push_back(q);
                }
            });
        }
    }
}

// Every value, 0 included, renumbered 1, 2, ... in order of first appearance.
inline std::vector<int> plainCorrectLabels(const Image *labels, int *count)
{
    std::map<int, int> number;
    std::vector<int> out(labels->npixels);
    for (int p = 0; p < labels->npixels; ++p) {
        auto it = number.emplace(labels->bands[0][p], static_cast<int>(number.size()) + 1).first;
        out[p] = it->second;
    }
    *count = static_cast<int>(number.size());
    return out;
}

} // namespace straight
