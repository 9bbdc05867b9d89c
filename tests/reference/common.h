#pragma once
// What the straightforward versions of the operators share with the unit tests
// and the differential fuzz targets: owners of the library's records, literal
// images and seed sets, result bands as vectors. No test framework here, so
// that the fuzz targets can include it.

#include <cstdlib>
#include <initializer_list>
#include <ostream>
#include <utility>
#include <vector>

#include "ift.h"
#include "pxImage.h"

namespace testing_support {

// Owns an Image for the length of a test.
struct ImagePtr {
    Image *img = nullptr;
    ImagePtr() = default;
    explicit ImagePtr(Image *i) : img(i) {}
    ImagePtr(const ImagePtr &) = delete;
    ImagePtr &operator=(const ImagePtr &) = delete;
    ImagePtr(ImagePtr &&o) noexcept : img(o.img) { o.img = nullptr; }
    ImagePtr &operator=(ImagePtr &&o) noexcept
    {
        std::swap(img, o.img);
        return *this;
    }
    ~ImagePtr()
    {
        if (img) pxReleaseImage(&img);
    }
    Image *get() const { return img; }
    Image *operator->() const { return img; }
    int &at(int p, int band = 0) const { return img->bands[band][p]; }
};

// Owns a heap Roots record (arrays and record).
struct RootsPtr {
    Roots *r = nullptr;
    explicit RootsPtr(Roots *x = nullptr) : r(x) {}
    RootsPtr(const RootsPtr &) = delete;
    RootsPtr &operator=(const RootsPtr &) = delete;
    ~RootsPtr()
    {
        if (r) {
            ifReleaseRoots(r);
            std::free(r);
        }
    }
    Roots *get() const { return r; }
    Roots *operator->() const { return r; }
};

// 1-band image from a literal array in raster order; maxValue = largest value
// (or the given one when >= 0).
inline ImagePtr makeImage(int ncols, int nrows, std::initializer_list<int> values,
                          int type = PX_GREY_INT, int maxValue = -1)
{
    Image *img = pxCreateImage(1, type, ncols, nrows);
    int p = 0, top = 0;
    for (int v : values) {
        img->bands[0][p++] = v;
        if (v > top) top = v;
    }
    img->maxValue = maxValue >= 0 ? maxValue : top;
    return ImagePtr(img);
}

inline std::vector<int> bandValues(const Image *img, int band = 0)
{
    return std::vector<int>(img->bands[band], img->bands[band] + img->npixels);
}

// Seed set built in place (arrays via ifAllocateRoots), released at scope end.
struct SeedSet {
    Roots r{};
    SeedSet(std::initializer_list<int> pixels, std::initializer_list<int> labels,
            std::initializer_list<int> costs)
    {
        ifAllocateRoots(&r, static_cast<int>(pixels.size()));
        int i = 0;
        for (int v : pixels) r.pixel[i++] = v;
        i = 0;
        for (int v : labels) r.label[i++] = v;
        i = 0;
        for (int v : costs) r.cost[i++] = v;
    }
    SeedSet() { ifAllocateRoots(&r, 0); }
    SeedSet(const SeedSet &) = delete;
    SeedSet &operator=(const SeedSet &) = delete;
    ~SeedSet() { ifReleaseRoots(&r); }
    Roots *get() { return &r; }
};

// A seed set's three arrays as vectors, for comparing whole seed sets.
struct SeedList {
    std::vector<int> pixel, label, cost;
    bool operator==(const SeedList &o) const
    {
        return pixel == o.pixel && label == o.label && cost == o.cost;
    }
};

inline SeedList seedsOf(const Roots *r)
{
    SeedList s;
    s.pixel.assign(r->pixel, r->pixel + r->count);
    s.label.assign(r->label, r->label + r->count);
    s.cost.assign(r->cost, r->cost + r->count);
    return s;
}

} // namespace testing_support

namespace straight {

using namespace testing_support;

// The three result bands of an IFT work image, in the order label, cost, pred.
struct Result {
    std::vector<int> label, cost, pred;
    bool operator==(const Result &o) const { return label == o.label && cost == o.cost && pred == o.pred; }
};

inline Result resultOf(const Image *work)
{
    int nb = work->nbands;
    return {bandValues(work, nb - 3), bandValues(work, nb - 2), bandValues(work, nb - 1)};
}

inline void PrintTo(const Result &r, std::ostream *os)
{
    auto show = [&](const char *name, const std::vector<int> &v) {
        *os << name << ":";
        for (int x : v) *os << ' ' << x;
        *os << '\n';
    };
    show("label", r.label);
    show("cost", r.cost);
    show("pred", r.pred);
}

// (dx, dy) of pxNeighborhood8, in its order.
constexpr int DX8[8] = {1, 0, 0, -1, 1, -1, 1, -1};
constexpr int DY8[8] = {0, 1, -1, 0, 1, 1, -1, -1};

// Calls f(q) for every in-image 8-neighbour of p, in pxNeighborhood8's order.
template <class F>
void eachNeighbour8(const Image *img, int p, F f)
{
    const int x = p % img->ncols, y = p / img->ncols;
    for (int j = 0; j < 8; ++j) {
        const int nx = x + DX8[j], ny = y + DY8[j];
        if (nx >= 0 && nx < img->ncols && ny >= 0 && ny < img->nrows) f(ny * img->ncols + nx);
    }
}

// The displacement pairs of a relation, as a vector.
inline std::vector<int> pairsOf(AdjacencyFn adjacency)
{
    int *pairs = nullptr;
    int k = adjacency(&pairs);
    std::vector<int> v(pairs, pairs + 2 * k);
    std::free(pairs);
    return v;
}

} // namespace straight
