// Contour seeds and multiscale skeletons.
//
// Every inner contour pixel of an object becomes a seed labelled with its
// position along the contour; the Euclidean propagation hands the positions
// on, and where neighbouring pixels carry positions far apart along their
// contour the object has a skeleton branch. The size of that difference
// measures the branch's importance, so a threshold on it prunes the skeleton
// at any scale.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../ift.h"
#include "../pxIO.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

constexpr int MARK = 255;

struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using OwnedImage = std::unique_ptr<Image, ImageDeleter>;

OwnedImage owned(Image *img)
{
    if (!img) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    return OwnedImage(img);
}

// Contour seeds released when they go out of scope.
struct ContourSeeds {
    ContourRoots r{};
    ContourSeeds() = default;
    ContourSeeds(const ContourSeeds &) = delete;
    ContourSeeds &operator=(const ContourSeeds &) = delete;
    ~ContourSeeds() { ifReleaseRoots2(&r); }
};

struct SeedSet {
    Roots r{};
    SeedSet() = default;
    SeedSet(const SeedSet &) = delete;
    SeedSet &operator=(const SeedSet &) = delete;
    ~SeedSet() { ifReleaseRoots(&r); }
};

int *zeroedInts(int n)
{
    int *a = static_cast<int *>(std::calloc(n > 0 ? static_cast<std::size_t>(n) : 1, sizeof(int)));
    if (!a) px::dieOutOfMemory();
    return a;
}

// The inner contour of bin: 255 on object pixels with a background
// 4-neighbour inside the image.
OwnedImage contourImage(Image *bin)
{
    OwnedImage t = owned(px::newImage(1, PX_GREY8, bin->ncols, bin->nrows));
    ifRegionsToContours(bin, t.get());
    return t;
}

// For a contour step (ax, ay) from p to q: the displacement from q of the
// pixel that must lie on the object and of the one that must not, so that
// the walk keeps the object on the same side. False for any other step.
bool stepSides(int ax, int ay, int &inX, int &inY, int &outX, int &outY)
{
    struct Side {
        int ax, ay, inX, inY, outX, outY;
    };
    static const Side sides[] = {
        {0, -1, -1, 0, 1, 0},   // up
        {0, 1, 1, 0, -1, 0},    // down
        {1, 0, 0, -1, 0, 1},    // right
        {-1, 0, 0, 1, 0, -1},   // left
        {1, -1, -1, 0, 0, 1},   // up-right
        {1, 1, 0, -1, -1, 0},   // down-right
        {-1, -1, 0, 1, 1, 0},   // up-left
        {-1, 1, 1, 0, 0, -1},   // down-left
    };
    for (const Side &s : sides)
        if (s.ax == ax && s.ay == ay) {
            inX = s.inX;
            inY = s.inY;
            outX = s.outX;
            outY = s.outY;
            return true;
        }
    return false;
}

} // namespace

extern "C" {

// The walk is depth-first: from each pixel the first admissible step (in the
// relation's order) is taken at once, and the pixel's remaining steps are
// tried only when everything reached from there is exhausted. The stack holds
// each pixel on the current path with the next step to try, which gives the
// recursive order without its depth limit.
void ifContourFollow(ContourRoots *seeds, int *counter, int k, Image *contour, Image *object, int p, int *pairs)
{
    constexpr int STEPS = 8;
    const int ncols = contour->ncols, nrows = contour->nrows;
    int *t = contour->bands[0];
    const int *f = object->bands[0];
    struct Step {
        int ax, ay, inX, inY, outX, outY;
        bool valid;
    };
    Step steps[STEPS];
    for (int j = 0; j < STEPS; ++j) {
        Step &s = steps[j];
        s.ax = pairs[2 * j];
        s.ay = pairs[2 * j + 1];
        s.valid = stepSides(s.ax, s.ay, s.inX, s.inY, s.outX, s.outY);
    }
    auto objectAt = [&](int x, int y) { return x >= 0 && x < ncols && y >= 0 && y < nrows ? f[y * ncols + x] : 0; };
    auto record = [&](int q) {
        const int c = *counter;
        seeds->pixel[c] = q;
        seeds->position[c] = c + 1;
        seeds->contour[c] = k;
        *counter = c + 1;
        t[q] = 0;
    };
    struct Frame {
        int p, next;
    };
    std::vector<Frame> stack = px::buffer<Frame>(0);
    auto push = [&](int q) {
        record(q);
        try {
            stack.push_back({q, 0});
        } catch (const std::exception &) {
            px::dieOutOfMemory();
        }
    };
    push(p);
    while (!stack.empty()) {
        Frame &top = stack.back();
        const int x = top.p % ncols, y = top.p / ncols;
        int q = -1;
        while (top.next < STEPS && q < 0) {
            const Step &s = steps[top.next++];
            if (!s.valid) continue;
            const int qx = x + s.ax, qy = y + s.ay;
            if (qx < 0 || qx >= ncols || qy < 0 || qy >= nrows) continue;
            const int cand = qy * ncols + qx;
            if (t[cand] > 0 && objectAt(qx + s.inX, qy + s.inY) > 0 && objectAt(qx + s.outX, qy + s.outY) == 0)
                q = cand;
        }
        if (q < 0) stack.pop_back();
        else push(q);
    }
}

Image *ifSkel2Roots(Image *bin, ContourRoots *seeds)
{
    const int n = bin->npixels;
    OwnedImage contour = contourImage(bin);
    OwnedImage interior = owned(pxBinaryDifference(bin, contour.get(), PX_GREY8));

    // A contour pixel stays only with both an interior and a background
    // pixel among its 8-neighbours; the test reads neither image it changes.
    int *t = contour->bands[0];
    const int *d = interior->bands[0], *b = bin->bands[0];
    const px::NeighbourTable nb8 = px::NeighbourTable::from(pxNeighborhood8, bin->ncols, bin->nrows);
    for (int p = 0; p < n; ++p) {
        if (t[p] <= 0) continue;
        bool hasInterior = false, hasBackground = false;
        nb8.forEach(p, [&](int, int q) {
            hasInterior = hasInterior || d[q] > 0;
            hasBackground = hasBackground || b[q] == 0;
        });
        if (!hasInterior || !hasBackground) t[p] = 0;
    }
    OwnedImage object = owned(pxBinaryUnion(contour.get(), interior.get(), PX_GREY8));
    interior.reset();

    seeds->pixel = zeroedInts(n);
    seeds->position = zeroedInts(n);
    seeds->contour = zeroedInts(n);
    seeds->spare = zeroedInts(n);
    seeds->count = 0;
    int *pairs = nullptr;
    pxNeighborhood8(&pairs);
    std::unique_ptr<int, void (*)(void *)> pairsOwner(pairs, std::free);
    // Following a contour consumes it, so each starts once, at its first
    // pixel in raster order.
    int counter = 0, k = 0;
    for (int s = 0; s < n; ++s)
        if (t[s] > 0) ifContourFollow(seeds, &counter, ++k, contour.get(), object.get(), s, pairs);
    seeds->count = counter;
    return object.release();
}

void ifSkel2RootsSplit(Image *bin, Roots *seeds)
{
    const int n = bin->npixels, ncols = bin->ncols, nrows = bin->nrows;
    OwnedImage contour = contourImage(bin);
    OwnedImage labels = owned(px::newImage(1, PX_GREY_INT, ncols, nrows));
    ifLabelImage(contour.get(), labels.get());
    const int components = labels->maxValue;
    const int *t = contour->bands[0], *lab = labels->bands[0];

    // Each contour's first and last row (an 8-connected contour has a pixel
    // in every row between them).
    std::vector<int> lowest = px::buffer<int>(static_cast<std::size_t>(components) + 1, INT_MAX);
    std::vector<int> highest = px::buffer<int>(static_cast<std::size_t>(components) + 1, -1);
    for (int p = 0; p < n; ++p) {
        const int k = lab[p];
        if (k < 1 || k > components) continue;
        const int y = p / ncols;
        lowest[k] = std::min(lowest[k], y);
        highest[k] = std::max(highest[k], y);
    }

    // Breadth-first numbering from a pixel of each contour's middle row, so
    // the numbers grow from there in both directions along the contour.
    std::vector<int> order = px::buffer<int>(static_cast<std::size_t>(n));
    std::vector<int> fifo = px::buffer<int>(static_cast<std::size_t>(n));
    int *pairs = nullptr;
    const int kpairs = pxNeighborhood8Clockwise(&pairs);
    const px::NeighbourTable clockwise(pairs, kpairs, ncols, nrows);
    std::free(pairs);
    int j = 0;
    for (int k = 1; k <= components; ++k) {
        if (highest[k] < 0) continue;
        const int row = (lowest[k] + highest[k]) / 2;
        int s = -1;
        for (int x = 0; x < ncols && s < 0; ++x)
            if (lab[row * ncols + x] == k) s = row * ncols + x;
        if (s < 0) continue;
        std::size_t head = 0, tail = 0;
        order[s] = ++j;
        fifo[tail++] = s;
        while (head < tail) {
            const int p = fifo[head++];
            clockwise.forEach(p, [&](int, int q) {
                if (t[q] > 0 && order[q] == 0) {
                    order[q] = ++j;
                    fifo[tail++] = q;
                }
            });
        }
    }

    ifAllocateRoots(seeds, j);
    int i = 0;
    for (int p = 0; p < n; ++p)
        if (order[p] > 0) {
            seeds->pixel[i] = p;
            seeds->label[i] = order[p];
            ++i;
        }
}

int ifSkel(Image *bin, int skelType, int threshold, Image **out)
{
    *out = nullptr;
    const int ncols = bin->ncols, nrows = bin->nrows;
    ContourSeeds seeds;
    owned(ifSkel2Roots(bin, &seeds.r));
    const bool known = skelType >= 0 && skelType <= 2;
    // No contour to follow (no object, an object filling the image, or only
    // lines the cleaning removed): no skeleton and no difference.
    if (seeds.r.count == 0) {
        if (known) *out = px::newImage(1, PX_GREY_INT, ncols, nrows);
        else std::fprintf(stderr, "invalid skelType: %d\n", skelType);
        return 0;
    }

    OwnedImage work = owned(px::newImage(bin->nbands + 4, PX_WORK, ncols, nrows));
    iftSkelNova(bin, work.get(), &seeds.r);
    const int nb = work->nbands;
    OwnedImage position = owned(pxCopyBand(work.get(), PX_GREY_INT, nb - 4));
    OwnedImage dist2 = owned(pxCopyBand(work.get(), PX_GREY_INT, nb - 3));
    OwnedImage contourLabel = owned(pxCopyBand(work.get(), PX_GREY_INT, nb - 1));
    work.reset();

    OwnedImage diff = owned(px::newImage(1, PX_GREY_INT, ncols, nrows));
    ifLabelDifferences(position.get(), contourLabel.get(), diff.get(), 0);
    position.reset();
    contourLabel.reset();
    const int result = diff->maxValue;
    OwnedImage skeleton = owned(pxThreshold(diff.get(), PX_GREY_INT, std::min(result, threshold), INT_MAX));
    diff.reset();

    switch (skelType) {
    case 0:
        *out = pxMask(dist2.get(), skeleton.get(), 0);
        break;
    case 1: {
        OwnedImage inside = owned(pxMask(dist2.get(), bin, 0));
        *out = pxMask(inside.get(), skeleton.get(), 0);
        break;
    }
    case 2: {
        OwnedImage background = owned(pxNegative2(bin, PX_GREY8));
        OwnedImage outside = owned(pxMask(dist2.get(), background.get(), 0));
        *out = pxMask(outside.get(), skeleton.get(), 0);
        break;
    }
    default:
        std::fprintf(stderr, "invalid skelType: %d\n", skelType);
    }
    return result;
}

void ifHistogramBySkel(Image *bin, int percent, float **hist, int *nBins)
{
    const int ncols = bin->ncols, nrows = bin->nrows;
    ContourSeeds seeds;
    OwnedImage object = owned(ifSkel2Roots(bin, &seeds.r));
    if (seeds.r.count == 0) {
        *hist = nullptr;
        *nBins = 0;
        return;
    }
    const int n = object->npixels;

    OwnedImage work = owned(px::newImage(object->nbands + 4, PX_WORK, ncols, nrows));
    iftSkelNova(object.get(), work.get(), &seeds.r);
    OwnedImage position = owned(pxCopyBand(work.get(), PX_GREY_INT, work->nbands - 4));
    OwnedImage contourLabel = owned(pxCopyBand(work.get(), PX_GREY_INT, work->nbands - 1));
    OwnedImage diff = owned(px::newImage(1, PX_GREY_INT, ncols, nrows));
    ifLabelDifferences(position.get(), contourLabel.get(), diff.get(), 0);

    OwnedImage masked = owned(pxMask(diff.get(), object.get(), 0));
    int top = 0;
    for (int p = 0; p < n; ++p) top = std::max(top, masked->bands[0][p]);
    masked->maxValue = top;
    const int level = static_cast<int>(static_cast<long long>(percent) * top / 100);
    px::messageOnStderr("thresh = %d, maxVal = %d\n", level, top);
    OwnedImage skeleton = owned(pxThreshold(masked.get(), PX_GREY_INT, level, INT_MAX));
    work.reset();
    contourLabel.reset();
    diff.reset();
    position.reset();
    ifReleaseRoots2(&seeds.r);
    pxSaveImage("skel.pgm", skeleton.get());

    // The distance of every pixel to the pruned skeleton.
    SeedSet roots;
    int count = 0;
    for (int p = 0; p < n; ++p) count += skeleton->bands[0][p] > 0;
    ifAllocateRoots(&roots.r, count);
    for (int p = 0, i = 0; p < n; ++p)
        if (skeleton->bands[0][p] > 0) {
            roots.r.pixel[i] = p;
            roots.r.label[i] = i + 1;
            ++i;
        }
    OwnedImage work2 = owned(px::newImage(object->nbands + 3, PX_WORK, ncols, nrows));
    iftEuclideanDT(object.get(), work2.get(), pxNeighborhood8, &roots.r);
    OwnedImage dist = owned(pxCopyBand(work2.get(), PX_GREY_INT, work2->nbands - 2));
    int *e = dist->bands[0];
    int largest = 0;
    for (int p = 0; p < n; ++p) {
        // The square root rounded to the nearest integer, halves to even.
        const double s = std::sqrt(static_cast<double>(e[p]));
        double r = std::floor(s);
        const double frac = s - r;
        if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
        e[p] = static_cast<int>(r);
        largest = std::max(largest, e[p]);
    }
    dist->maxValue = largest;
    pxSaveImage("edt.pgm", dist.get());

    pxHistogram(dist.get(), object.get(), hist, nBins);
    int objectPixels = 0;
    for (int p = 0; p < n; ++p) objectPixels += object->bands[0][p] > 0;
    for (int i = 0; i < *nBins; ++i) (*hist)[i] = (*hist)[i] / objectPixels;
}

} // extern "C"
