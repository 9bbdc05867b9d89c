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
#include <limits>
#include <memory>
#include <type_traits>

#include "ift.h"

namespace {

constexpr int kFrame = -1;  // below every offer

// As small as the image's values and the costs allow: the cells of an 8-bit
// grey image take 4 bytes, and the fewer bytes the loop reads the faster it
// runs. An unreached cell costs the largest Cost, above every cost served.
template <class Value, class Cost, int Bands>
struct Cell {
    static constexpr int bands = Bands;
    Cost cost;
    Value value[Bands];
    std::uint8_t label;
};

// Calls run(cell) with a cell of the smallest type that holds values up to
// top and costs up to nbuckets - 1.
template <int Bands, class Run>
void withCells(int top, int nbuckets, Run run)
{
    const bool shortCosts = nbuckets < std::numeric_limits<std::int16_t>::max();
    if (shortCosts && top <= std::numeric_limits<std::uint8_t>::max()) run(Cell<std::uint8_t, std::int16_t, Bands>{});
    else if (shortCosts) run(Cell<std::uint16_t, std::int16_t, Bands>{});
    else run(Cell<std::uint16_t, int, Bands>{});
}

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
template <class C, class Start, class Weigh>
void grow(const Image *img, int nbuckets, const std::uint8_t *seeds, std::uint8_t *labels, Buckets &buckets,
          Start start, Weigh weigh)
{
    using Value = std::remove_reference_t<decltype(C{}.value[0])>;
    using Cost = decltype(C{}.cost);
    const int ncols = img->ncols, nrows = img->nrows, stride = ncols + 2;
    std::vector<C> cells(static_cast<std::size_t>(stride) * (nrows + 2), C{kFrame, {}, 0});
    // A failed call may have left entries behind.
    for (std::vector<int> &b : buckets) b.clear();
    if (buckets.size() < static_cast<std::size_t>(nbuckets)) buckets.resize(static_cast<std::size_t>(nbuckets));
    for (int y = 0, p = 0; y < nrows; ++y)
        for (int x = 0, at = (y + 1) * stride + 1; x < ncols; ++x, ++p, ++at) {
            C &c = cells[at];
            for (int b = 0; b < C::bands; ++b) c.value[b] = static_cast<Value>(img->bands[b][p]);
            c.label = seeds[p];
            c.cost = std::numeric_limits<Cost>::max();
            if (seeds[p]) {
                c.cost = static_cast<Cost>(start(c));
                buckets[c.cost].push_back(at);
            }
        }
    const std::vector<int> offsets = neighbourOffsets(stride);
    const int *off = offsets.data(), k = static_cast<int>(offsets.size());
    C *const cell = cells.data();
    for (int b = 0; b < nbuckets; ++b) {
        std::vector<int> &bucket = buckets[b];
        // Offers at cost b join this bucket while it is served.
        for (std::size_t i = 0; i < bucket.size(); ++i) {
            const int p = bucket[i];
            const C cp = cell[p];
            if (cp.cost != b) continue;
            for (int j = 0; j < k; ++j) {
                C &cq = cell[p + off[j]];
                // Done, or waiting at b already: no offer can beat it.
                if (cq.cost <= b) continue;
                const int c = std::max(b, weigh(cp, cq));
                if (c >= cq.cost) continue;
                cq.cost = static_cast<Cost>(c);
                cq.label = cp.label;
                buckets[c].push_back(p + off[j]);
            }
        }
        bucket.clear();
    }
    for (int y = 0, p = 0; y < nrows; ++y)
        for (int x = 0, at = (y + 1) * stride + 1; x < ncols; ++x, ++p, ++at) labels[p] = cell[at].label;
}

const auto atZero = [](const auto &) { return 0; };
const auto ownValue = [](const auto &c) -> int { return c.value[0]; };

const auto largestDifference = [](const auto &a, const auto &b) {
    int d = 0;
    for (int k = 0; k < a.bands; ++k) d = std::max(d, std::abs(a.value[k] - b.value[k]));
    return d;
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
    withCells<1>(largest(img), nbuckets, [&](auto cell) {
        grow<decltype(cell)>(img, nbuckets, seeds, labels, buckets_, atZero,
                             [t](const auto &a, const auto &b) -> int { return t[a.value[0] + b.value[0]]; });
    });
}

void MaxArcForest::maxArc(const Image *img, const std::uint8_t *seeds, std::uint8_t *labels)
{
    const int top = largest(img), span = top - smallest(img) + 1;
    auto run = [&](auto cell) { grow<decltype(cell)>(img, span, seeds, labels, buckets_, atZero, largestDifference); };
    if (img->nbands == 3) withCells<3>(top, span, run);
    else withCells<1>(top, span, run);
}

void MaxArcForest::watershed(const Image *relief, const std::uint8_t *seeds, std::uint8_t *labels)
{
    const int top = largest(relief);
    withCells<1>(top, top + 1, [&](auto cell) {
        grow<decltype(cell)>(relief, top + 1, seeds, labels, buckets_, ownValue,
                             [](const auto &, const auto &to) -> int { return to.value[0]; });
    });
}
