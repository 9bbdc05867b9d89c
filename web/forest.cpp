// The page's forests with the max-arc path cost, served in the order of the
// library's IFT, and so with its labels, ties included: costs in increasing order, the
// pixels of one cost first in first out, a pixel's neighbours offered in the
// 8-neighbourhood's order, and only a strictly better cost taken. An offer is
// never below the cost being served, so each cost's bucket is served once; a
// waiting pixel offered a better cost is appended to its new bucket, and its
// old entry is passed over when reached (its cost no longer names it).
//
// The image is copied into cells framed by one pixel whose cost is below any
// offer: no arc to the frame is ever taken, so the loop needs no bounds test
// and still offers the inner neighbours in the relation's order.
//
// This file is built without exceptions (see web/CMakeLists.txt): a failed
// allocation unwinds through it to the glue's guard.

#include "forest.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "ift.h"

namespace {

constexpr int kUnreached = IFT_INFINITY_MIN;
constexpr int kFrame = -1;  // below every offer

template <int Bands>
struct Cell {
    int cost;
    std::uint16_t value[Bands];  // the page takes values 0 .. 65535 only
    std::uint8_t label;
};

using Buckets = std::vector<std::vector<int>>;

// The linear offsets of the 8-neighbourhood, in its order, on rows of the
// given stride.
std::vector<int> neighbourOffsets(int stride)
{
    int *pairs = nullptr;
    const int k = pxNeighborhood8(&pairs);
    const std::unique_ptr<int, void (*)(void *)> held(pairs, std::free);
    std::vector<int> off(static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) off[j] = pairs[2 * j + 1] * stride + pairs[2 * j];
    return off;
}

// Grows the forest from the seeds, each at cost start(its cell), over arcs
// weighing weigh(from, to), and writes its labels; every cost lies in
// 0 .. nbuckets - 1.
template <int Bands, class Start, class Weigh>
void grow(const Image *img, int nbuckets, const std::uint8_t *seeds, std::uint8_t *labels, Buckets &buckets,
          Start start, Weigh weigh)
{
    const int ncols = img->ncols, nrows = img->nrows, stride = ncols + 2;
    std::vector<Cell<Bands>> cells(static_cast<std::size_t>(stride) * (nrows + 2), Cell<Bands>{kFrame, {}, 0});
    // A failed call may have left entries behind.
    for (std::vector<int> &b : buckets) b.clear();
    if (buckets.size() < static_cast<std::size_t>(nbuckets)) buckets.resize(static_cast<std::size_t>(nbuckets));
    for (int y = 0, p = 0; y < nrows; ++y)
        for (int x = 0, at = (y + 1) * stride + 1; x < ncols; ++x, ++p, ++at) {
            Cell<Bands> &c = cells[at];
            for (int b = 0; b < Bands; ++b) c.value[b] = static_cast<std::uint16_t>(img->bands[b][p]);
            c.label = seeds[p];
            c.cost = kUnreached;
            if (seeds[p]) {
                c.cost = start(c);
                buckets[c.cost].push_back(at);
            }
        }
    const std::vector<int> offsets = neighbourOffsets(stride);
    const int *off = offsets.data(), k = static_cast<int>(offsets.size());
    Cell<Bands> *const cell = cells.data();
    for (int b = 0; b < nbuckets; ++b) {
        std::vector<int> &bucket = buckets[b];
        // Offers at cost b join this bucket while it is served.
        for (std::size_t i = 0; i < bucket.size(); ++i) {
            const int p = bucket[i];
            const Cell<Bands> cp = cell[p];
            if (cp.cost != b) continue;
            for (int j = 0; j < k; ++j) {
                Cell<Bands> &cq = cell[p + off[j]];
                // Done, or waiting at b already: no offer can beat it.
                if (cq.cost <= b) continue;
                const int c = std::max(b, weigh(cp, cq));
                if (c >= cq.cost) continue;
                cq.cost = c;
                cq.label = cp.label;
                buckets[c].push_back(p + off[j]);
            }
        }
        bucket.clear();
    }
    for (int y = 0, p = 0; y < nrows; ++y)
        for (int x = 0, at = (y + 1) * stride + 1; x < ncols; ++x, ++p, ++at) labels[p] = cell[at].label;
}

template <int Bands>
int atZero(const Cell<Bands> &) { return 0; }
int ownValue(const Cell<1> &c) { return c.value[0]; }

template <int Bands>
struct LargestDifference {
    int operator()(const Cell<Bands> &a, const Cell<Bands> &b) const
    {
        int d = 0;
        for (int k = 0; k < Bands; ++k) d = std::max(d, std::abs(a.value[k] - b.value[k]));
        return d;
    }
};

int largest(const Image *img)
{
    int top = img->bands[0][0];
    for (int b = 0; b < img->nbands; ++b) top = std::max(top, *std::max_element(img->bands[b], img->bands[b] + img->npixels));
    return top;
}

int smallest(const Image *img)
{
    int low = img->bands[0][0];
    for (int b = 0; b < img->nbands; ++b) low = std::min(low, *std::min_element(img->bands[b], img->bands[b] + img->npixels));
    return low;
}

} // namespace

void MaxArcForest::fuzzy(const Image *img, const std::vector<std::uint8_t> &table, const std::uint8_t *seeds,
                         std::uint8_t *labels)
{
    const std::uint8_t *t = table.data();
    const int nbuckets = *std::max_element(table.begin(), table.end()) + 1;
    grow<1>(img, nbuckets, seeds, labels, buckets_, atZero<1>,
            [t](const Cell<1> &a, const Cell<1> &b) -> int { return t[a.value[0] + b.value[0]]; });
}

void MaxArcForest::maxArc(const Image *img, const std::uint8_t *seeds, std::uint8_t *labels)
{
    const int span = largest(img) - smallest(img) + 1;
    if (img->nbands == 3) grow<3>(img, span, seeds, labels, buckets_, atZero<3>, LargestDifference<3>{});
    else grow<1>(img, span, seeds, labels, buckets_, atZero<1>, LargestDifference<1>{});
}

void MaxArcForest::watershed(const Image *relief, const std::uint8_t *seeds, std::uint8_t *labels)
{
    grow<1>(relief, largest(relief) + 1, seeds, labels, buckets_, ownValue,
            [](const Cell<1> &, const Cell<1> &to) -> int { return to.value[0]; });
}
