// Seed generators: contour-border seeds of a binary image (one label per
// border pixel, numbered by tracing the contours, or one label per object) and
// the two-label seeds for extracting cells from a grey image.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../ift.h"
#include "../pxIO.h"
#include "../pxImage/detail.h"

namespace {

// Number of displacements of pxNeighborhood8 that form the 4-neighbourhood;
// the rest are the diagonals.
constexpr int FOUR_NEIGHBOURS = 4;

constexpr int BORDER_MARK = 255;  // border pixels of the traced border image
constexpr int GAP_LABEL = 1;      // cell seeds on the boundaries between zones
constexpr int CELL_LABEL = 2;     // cell seeds on the maxima inside the cells

void releaseRootsRecord(Roots *r)
{
    ifReleaseRoots(r);
    std::free(r);
}

// Fills seeds with one seed per listed pixel, labelled from label, cost 0.
void fillSeeds(Roots *seeds, const std::vector<int> &pixels, const int *label)
{
    ifAllocateRoots(seeds, static_cast<int>(pixels.size()));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        seeds->pixel[i] = pixels[i];
        seeds->label[i] = label[pixels[i]];
    }
}

// Pixels with a positive value and at least one neighbour of the relation,
// inside the image, whose value is exactly 0, in raster order. The image's
// own edge does not make a border.
std::vector<int> borderPixels(const Image *img, const int *v, AdjacencyFn adjacency)
{
    px::NeighbourTable nb = px::NeighbourTable::from(adjacency, img->ncols, img->nrows);
    std::vector<int> out = px::buffer<int>(0);
    for (int p = 0; p < img->npixels; ++p) {
        if (v[p] <= 0) continue;
        bool border = false;
        nb.forEach(p, [&](int, int q) { border = border || v[q] == 0; });
        if (border) out.push_back(p);
    }
    return out;
}

// Builds the seed image's watershed zones: an IFT with the max path cost of
// the negative image from the maxima, leaving the label band in work. Only the
// zones are used, and they do not change when every cost is shifted by one
// constant, so values outside 0 .. maxValue (which would wrap around or leave
// the bucket queue) are shifted into range first.
void growZones(Image *neg, Image *work, Roots *maxima)
{
    const int n = neg->npixels;
    int *v = neg->bands[0];
    int lo = INT_MAX, hi = INT_MIN;
    for (int p = 0; p < n; ++p) {
        lo = std::min(lo, v[p]);
        hi = std::max(hi, v[p]);
    }
    int maxcost = neg->maxValue;
    if (n > 0 && (lo < 0 || hi > maxcost)) {
        const long long span = static_cast<long long>(hi) - lo;
        for (int p = 0; p < n; ++p) v[p] = static_cast<int>(static_cast<long long>(v[p]) - lo);
        for (int i = 0; i < maxima->count; ++i)
            maxima->cost[i] = static_cast<int>(static_cast<long long>(maxima->cost[i]) - lo);
        maxcost = static_cast<int>(std::min<long long>(span, INT_MAX - 1));
    }
    iftNonNormalized(neg, work, pxNeighborhood8, ifWatershedMetric, maxcost, ifPathCostMax, maxima);
}

} // namespace

extern "C" {

// Border seeds of the objects of bin. mode != 0: a border pixel has a
// background 4-neighbour, and each gets its own label from contour tracing.
// mode 0: a border pixel has a background 8-neighbour (the first one found
// decides), and all border pixels of an 8-connected object share its number.
void ifDistTransfRoots(Image *bin, Roots *seeds, int mode)
{
    const int ncols = bin->ncols, nrows = bin->nrows;
    if (mode != 0) {
        Image *border = px::newImage(1, PX_GREY8, ncols, nrows);
        for (int p : borderPixels(bin, bin->bands[0], pxNeighborhood4)) border->bands[0][p] = BORDER_MARK;
        border->maxValue = BORDER_MARK;
        Image *labels = px::newImage(1, PX_GREY_INT, ncols, nrows);
        labelContours(border, labels);
        std::vector<int> pixels = px::buffer<int>(0);
        for (int p = 0; p < labels->npixels; ++p)
            if (labels->bands[0][p] > 0) pixels.push_back(p);
        fillSeeds(seeds, pixels, labels->bands[0]);
        pxReleaseImage(&border);
        pxReleaseImage(&labels);
        return;
    }
    Image *comp = px::newImage(1, PX_GREY8, ncols, nrows);
    ifLabelImage(bin, comp);
    std::vector<int> pixels = borderPixels(comp, comp->bands[0], pxNeighborhood8);
    fillSeeds(seeds, pixels, comp->bands[0]);
    pxReleaseImage(&comp);
}

// Numbers the border pixels by first-in first-out traversals started at each
// untraced positive pixel in raster order. A pixel takes the next number when
// it enters the queue. Diagonal neighbours are taken only from a pixel that
// adds no new 4-neighbour, so a traversal follows the contour's 4-connected
// run before it turns a corner; the last pixel of each traversal is moved two
// numbers past the counter, which separates consecutive contours.
int labelContours(Image *border, Image *labels)
{
    const int n = border->npixels;
    const int ncols = border->ncols, nrows = border->nrows;
    const int *b = border->bands[0];
    int *lab = labels->bands[0];
    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, ncols, nrows);
    std::vector<std::uint8_t> entered = px::buffer<std::uint8_t>(static_cast<std::size_t>(n));
    std::vector<int> queue = px::buffer<int>(static_cast<std::size_t>(n));
    int k = 0, count = 0;

    // Appends the new non-zero neighbours of p among displacements j0 .. j1-1.
    std::size_t tail = 0;
    auto offer = [&](int p, int j0, int j1) {
        const int x = p % ncols, y = p / ncols;
        const bool safe = nb.inSafeArea(x, y);
        for (int j = j0; j < j1; ++j) {
            int q;
            if (safe) {
                q = p + nb.off[j];
            } else {
                const int nx = x + nb.dx[j], ny = y + nb.dy[j];
                if (nx < 0 || nx >= ncols || ny < 0 || ny >= nrows) continue;
                q = ny * ncols + nx;
            }
            if (b[q] != 0 && !entered[q]) {
                entered[q] = 1;
                lab[q] = ++k;
                ++count;
                queue[tail++] = q;
            }
        }
    };

    for (int j = 0; j < n; ++j) {
        if (b[j] <= 0 || entered[j]) continue;
        std::size_t head = 0;
        tail = 0;
        entered[j] = 1;
        lab[j] = ++k;
        ++count;
        queue[tail++] = j;
        while (head < tail) {
            const int p = queue[head++];
            const int k0 = k;
            offer(p, 0, FOUR_NEIGHBOURS);
            if (k != k0) continue;
            offer(p, FOUR_NEIGHBOURS, nb.n);
            if (head == tail) {
                k += 2;
                lab[p] = k;
            }
        }
    }
    labels->maxValue = k;
    return count;
}

// Cell seeds: the regional maxima of the smoothed image mark the cells
// (label 2), and the pixels on the lower-labelled side of every boundary
// between the watershed zones grown from them on the negative image mark the
// gaps between cells (label 1). The seed image is written to "labeled.pgm".
Roots *ifCellsRoots(Image *img, int size)
{
    px::message("in cells roots\n\n");
    const int ncols = img->ncols, nrows = img->nrows, n = img->npixels;

    // The filter writes every band of img, so the smoothed image gets them
    // all; only band 0 is used.
    Image *smooth = px::newImage(img->nbands, PX_GREY_INT, ncols, nrows);
    pxMorphAsfOC(img, smooth, size);
    smooth->maxValue = n > 0 ? std::max(0, *std::max_element(smooth->bands[0], smooth->bands[0] + n)) : 0;
    Roots *maxima = ifRegionalMaximaAsRoots(smooth);
    pxReleaseImage(&smooth);
    px::message("ha %d sementes\n", maxima->count);

    Image *seedImg = px::newImage(1, PX_GREY_INT, ncols, nrows);
    int *seed = seedImg->bands[0];
    for (int i = 0; i < maxima->count; ++i) seed[maxima->pixel[i]] = maxima->label[i];

    Image *neg = pxNegative(img, PX_GREY_INT);
    if (!neg) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    for (int i = 0; i < maxima->count; ++i) maxima->cost[i] = neg->bands[0][maxima->pixel[i]];
    Image *work = px::newImage(neg->nbands + 3, PX_WORK, ncols, nrows);
    growZones(neg, work, maxima);
    const int *zones = work->bands[work->nbands - 3];

    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, ncols, nrows);
    for (int p = 0; p < n; ++p) {
        bool edge = false;
        nb.forEach(p, [&](int, int q) { edge = edge || zones[p] < zones[q]; });
        if (edge) seed[p] = GAP_LABEL;
        else if (seed[p] > 0) seed[p] = CELL_LABEL;
    }
    pxReleaseImage(&work);
    pxReleaseImage(&neg);
    releaseRootsRecord(maxima);

    pxSaveImage("labeled.pgm", seedImg);
    Roots *seeds = ifLabelsToRoots(seedImg);
    pxReleaseImage(&seedImg);
    return seeds;
}

} // extern "C"
