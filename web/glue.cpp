// The library's face towards the page's worker: one image at a time, the
// seeds painted on it and the labels of the last segmentation, in buffers the
// worker fills and reads through the module's memory. Every library call runs
// under pxCatchFatal, so a corrupt file or a failed allocation comes back as
// a message instead of ending the module.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "ift.h"
#include "pxIO.h"

namespace {

// Images larger than this in either direction are refused (the page checks
// file headers against the same limit before anything is read).
constexpr int kLargestSide = 4096;
constexpr int kLabels = 8;
constexpr int kLargestValue = 65535;

// The variance given to a fuzzy object is never below this, so that an
// object seeded on a flat patch still accepts its own texture.
constexpr long long kLeastFuzzyVariance = 100;

enum Method { WATERSHED = 0, MAX_ARC = 1, FUZZY = 2 };

struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using ImageHandle = std::unique_ptr<Image, ImageDeleter>;

struct State {
    ImageHandle image;     // as loaded: 1 band (grey) or 3 (colour)
    ImageHandle gradient;  // the relief of the watershed, made on first use
    ImageHandle grey;      // band 0 or the luminance, for the fuzzy objects
    ImageHandle differences;  // the max-arc IFT's arc weights, made on first use
    std::vector<std::uint8_t> seeds;   // 0 or a label 1 .. 8 per pixel
    std::vector<std::uint8_t> labels;  // result of the last segmentation
    char message[512] = "";
    bool outOfMemory = false;  // an image could not be created inside guarded
    bool refused = false;      // a request refused inside guarded, message set
} state;

template <typename F>
int guarded(F &&f)
{
    state.outOfMemory = state.refused = false;
    char message[sizeof state.message];
    auto trampoline = [](void *arg) { (*static_cast<F *>(arg))(); };
    const int failed = pxCatchFatal(trampoline, &f, message, sizeof message);
    if (state.refused) return PX_FATAL_ARGUMENT;
    if (failed) std::memcpy(state.message, message, sizeof message);
    if (failed || !state.outOfMemory) return failed;
    std::snprintf(state.message, sizeof state.message, "Not enough memory for this image.");
    return PX_FATAL_MEMORY;
}

// A new image, or null with the failure noted for guarded.
ImageHandle created(int nbands, int type, int ncols, int nrows)
{
    ImageHandle img(pxCreateImage(nbands, type, ncols, nrows));
    if (!img) state.outOfMemory = true;
    return img;
}

// Sets the message of a refused request; inside guarded it ends the request
// as failed once the guarded function returns.
int refuse(const char *fmt, int a = 0, int b = 0)
{
    state.refused = true;
    std::snprintf(state.message, sizeof state.message, fmt, a, b);
    return PX_FATAL_ARGUMENT;
}

// Takes img as the current image when it fits the page's limits.
int adopt(Image *img)
{
    ImageHandle held(img);
    if (img->ncols > kLargestSide || img->nrows > kLargestSide)
        return refuse("The image is %d x %d pixels; this page takes at most 4096 x 4096.", img->ncols,
                      img->nrows);
    if (img->nbands != 1 && img->nbands != 3) return refuse("Only grey and colour images can be segmented here.");
    // Negative values have no place in the path costs; values above 16 bits
    // (a P2 file may hold any int) would size the bucket queues by billions.
    for (int b = 0; b < img->nbands; ++b)
        for (int p = 0; p < img->npixels; ++p)
            if (img->bands[b][p] < 0 || img->bands[b][p] > kLargestValue)
                return refuse("The image holds values outside 0 .. 65535, which this page cannot segment.");
    state.gradient.reset();
    state.grey.reset();
    state.differences.reset();
    state.seeds.assign(static_cast<std::size_t>(img->npixels), 0);
    state.labels.assign(static_cast<std::size_t>(img->npixels), 0);
    state.image = std::move(held);
    return 0;
}

Image *gradient()
{
    if (!state.gradient) {
        Image *img = state.image.get();
        ImageHandle g = created(1, PX_GREY_INT, img->ncols, img->nrows);
        if (!g) return nullptr;
        pxMorphGrad(img, g.get());
        state.gradient = std::move(g);
    }
    return state.gradient.get();
}

// Grey images as they are; colour ones by their luminance (ITU-R BT.601
// weights, truncated).
Image *grey()
{
    if (!state.grey) {
        Image *img = state.image.get();
        ImageHandle g = created(1, PX_GREY_INT, img->ncols, img->nrows);
        if (!g) return nullptr;
        int *out = g->bands[0];
        for (int p = 0; p < img->npixels; ++p)
            out[p] = img->nbands == 1 ? img->bands[0][p]
                                      : static_cast<int>((299LL * img->bands[0][p] + 587LL * img->bands[1][p] +
                                                          114LL * img->bands[2][p]) / 1000);
        state.grey = std::move(g);
    }
    return state.grey.get();
}

struct RootsHandle {
    Roots roots{};
    ~RootsHandle() { ifReleaseRoots(&roots); }
};

// The painted seeds in raster order, which is the order the IFT enters them.
void seedsAsRoots(RootsHandle &out)
{
    int n = 0;
    for (std::uint8_t s : state.seeds) n += s != 0;
    ifAllocateRoots(&out.roots, n);
    for (int p = 0, i = 0; p < static_cast<int>(state.seeds.size()); ++p)
        if (state.seeds[p]) {
            out.roots.pixel[i] = p;
            out.roots.label[i] = state.seeds[p];
            ++i;
        }
}

int largest(const Image *img)
{
    int top = 0;
    for (int b = 0; b < img->nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) top = std::max(top, img->bands[b][p]);
    return top;
}

int smallest(const Image *img)
{
    int low = img->bands[0][0];
    for (int b = 0; b < img->nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) low = std::min(low, img->bands[b][p]);
    return low;
}

void copyLabels(const int *label)
{
    for (std::size_t p = 0; p < state.labels.size(); ++p) state.labels[p] = static_cast<std::uint8_t>(label[p]);
}

// Watershed from the seeds on the gradient: each seed starts at the gradient's
// value under it, a path costs the highest level it crosses.
void watershed(Roots &roots)
{
    Image *g = gradient();
    if (!g) return;
    for (int i = 0; i < roots.count; ++i) roots.cost[i] = g->bands[0][roots.pixel[i]];
    ImageHandle work = created(4, PX_WORK, g->ncols, g->nrows);
    if (!work) return;
    iftNonNormalized(g, work.get(), pxNeighborhood8, ifWatershedMetric, std::max(largest(g), 0), ifPathCostMax,
                     &roots);
    copyLabels(work->bands[1]);
}

// Up to this many pixels the max-arc IFTs run on an arc-weight image (eight
// ints per pixel, twice that while the fuzzy one is made), served by the
// library's inlined loop. Larger images take the plain IFT call, which needs
// no such memory and gives the same forest; fuzzy connectedness refuses them,
// as the library's own call would write a dozen text images of their size.
constexpr int kLargestWeighedImage = 2048 * 2048;

// An arc-weight image over the 8-neighbourhood: band j at p is weightOf(p, q)
// for p's neighbour q under displacement j, -1 where q lies outside.
template <typename F>
ImageHandle arcWeights(int ncols, int nrows, F weightOf)
{
    ImageHandle out = created(8, PX_ARCWEIGHTS, ncols, nrows);
    if (!out) return out;
    out->adjCount = pxNeighborhood8(&out->adjPairs);
    for (int j = 0; j < out->adjCount; ++j) {
        const int dx = out->adjPairs[2 * j], dy = out->adjPairs[2 * j + 1];
        int *band = out->bands[j];
        for (int y = 0, p = 0; y < nrows; ++y)
            for (int x = 0; x < ncols; ++x, ++p) {
                const int nx = x + dx, ny = y + dy;
                band[p] = nx < 0 || ny < 0 || nx >= ncols || ny >= nrows ? -1 : weightOf(p, ny * ncols + nx, j);
            }
    }
    return out;
}

// A max-arc IFT from the seeds at cost 0 on given arc weights; the labels go
// to state.labels.
void maxArcOnWeights(Image *img, Image *weights, int maxcost, Roots &roots)
{
    ImageHandle work = created(img->nbands + 3, PX_WORK, img->ncols, img->nrows);
    if (!work) return;
    iftNonNormalizedWF(img, work.get(), weights, maxcost, ifPathCostMax, &roots);
    copyLabels(work->bands[img->nbands]);
}

// The IFT on the image itself: an arc weighs the largest band difference
// between its ends, a path its heaviest arc, seeds start at 0. The weights do
// not depend on the seeds, so they are made once per image.
void maxArc(Roots &roots)
{
    Image *img = state.image.get();
    const int maxcost = largest(img) - smallest(img);
    if (img->npixels > kLargestWeighedImage) {
        ImageHandle work = created(img->nbands + 3, PX_WORK, img->ncols, img->nrows);
        if (!work) return;
        iftNonNormalized(img, work.get(), pxNeighborhood8, ifMaxDistance, maxcost, ifPathCostMax, &roots);
        copyLabels(work->bands[img->nbands]);
        return;
    }
    if (!state.differences) {
        state.differences = arcWeights(img->ncols, img->nrows, [img](int p, int q, int) { return ifMaxDistance(img, p, q); });
        if (!state.differences) return;
    }
    maxArcOnWeights(img, state.differences.get(), maxcost, roots);
}

// Competitive fuzzy connectedness with one object per label in use, in label
// order: the mean of the seeds' grey values and their variance (both
// truncated, the variance raised to kLeastFuzzyVariance). An arc weighs its
// least dissimilarity over the objects, a path its heaviest arc.
void fuzzy(Roots &roots)
{
    Image *g = grey();
    if (!g) return;
    if (g->npixels > kLargestWeighedImage) {
        refuse("Fuzzy connectedness takes images of at most 2048 x 2048 pixels here.");
        return;
    }
    long long count[kLabels + 1] = {}, sum[kLabels + 1] = {}, squares[kLabels + 1] = {};
    for (int i = 0; i < roots.count; ++i) {
        const long long v = g->bands[0][roots.pixel[i]];
        count[roots.label[i]] += 1;
        sum[roots.label[i]] += v;
        squares[roots.label[i]] += v * v;
    }
    std::vector<int> means(1, 0), variances(1, 1);
    for (int k = 1; k <= kLabels; ++k) {
        if (!count[k]) continue;
        const long long n = count[k];
        const long long variance = (n * squares[k] - sum[k] * sum[k]) / (n * n);
        means.push_back(static_cast<int>(sum[k] / n));
        variances.push_back(static_cast<int>(std::min<long long>(std::max(variance, kLeastFuzzyVariance), INT32_MAX)));
    }
    const int objects = static_cast<int>(means.size()) - 1;
    ImageHandle least = arcWeights(g->ncols, g->nrows, [](int, int, int) { return INT32_MAX; });
    if (!least) return;
    for (int k = 1; k <= objects; ++k) {
        ImageHandle object(ifFuzzyEdgesWeight(g, pxNeighborhood8, means[k], variances[k]));
        for (int j = 0; j < least->adjCount; ++j) {
            int *to = least->bands[j];
            const int *from = object->bands[j];
            for (int p = 0; p < g->npixels; ++p)
                if (to[p] >= 0) to[p] = std::min(to[p], from[p]);
        }
    }
    maxArcOnWeights(g, least.get(), 255, roots);
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char *webMessage() { return state.message; }

// A P2, P5 or P6 file in the module's file system, read by the library.
EMSCRIPTEN_KEEPALIVE int webLoadFile(const char *path)
{
    Image *img = nullptr;
    const int failed = guarded([&] { pxReadImage(path, &img); });
    if (failed) return failed;
    return adopt(img);
}

// Pixels decoded by the browser (RGBA, alpha ignored): grey when every pixel
// has three equal channels, else colour.
EMSCRIPTEN_KEEPALIVE int webLoadPixels(const std::uint8_t *rgba, int ncols, int nrows)
{
    if (ncols < 1 || nrows < 1) return refuse("The image is empty.");
    if (ncols > kLargestSide || nrows > kLargestSide)
        return refuse("The image is %d x %d pixels; this page takes at most 4096 x 4096.", ncols, nrows);
    const int n = ncols * nrows;
    bool colour = false;
    for (int p = 0; p < n && !colour; ++p)
        colour = rgba[4 * p] != rgba[4 * p + 1] || rgba[4 * p] != rgba[4 * p + 2];
    Image *img = pxCreateImage(colour ? 3 : 1, colour ? PX_COLOR8 : PX_GREY8, ncols, nrows);
    if (!img) return refuse("Not enough memory for a %d x %d image.", ncols, nrows);
    for (int b = 0; b < img->nbands; ++b)
        for (int p = 0; p < n; ++p) img->bands[b][p] = rgba[4 * p + b];
    img->maxValue = largest(img);
    return adopt(img);
}

EMSCRIPTEN_KEEPALIVE int webWidth() { return state.image ? state.image->ncols : 0; }
EMSCRIPTEN_KEEPALIVE int webHeight() { return state.image ? state.image->nrows : 0; }
EMSCRIPTEN_KEEPALIVE int webBands() { return state.image ? state.image->nbands : 0; }
EMSCRIPTEN_KEEPALIVE std::uint8_t *webSeeds() { return state.seeds.data(); }
EMSCRIPTEN_KEEPALIVE std::uint8_t *webLabels() { return state.labels.data(); }

// The image as 8-bit RGBA for the screen, deeper images scaled by their
// largest value.
EMSCRIPTEN_KEEPALIVE void webDisplay(std::uint8_t *rgba)
{
    const Image *img = state.image.get();
    if (!img) return;
    const long long top = std::max(largest(img), 1);
    for (int p = 0; p < img->npixels; ++p) {
        for (int c = 0; c < 3; ++c) {
            const long long v = img->bands[img->nbands == 3 ? c : 0][p];
            rgba[4 * p + c] = static_cast<std::uint8_t>(top > 255 ? v * 255 / top : v);
        }
        rgba[4 * p + 3] = 255;
    }
}

// Segments the current image from the seeds buffer into the labels buffer.
EMSCRIPTEN_KEEPALIVE int webSegment(int method)
{
    if (!state.image) return refuse("No image is open.");
    for (std::uint8_t &s : state.seeds)
        if (s > kLabels) s = 0;
    return guarded([&] {
        RootsHandle roots;
        seedsAsRoots(roots);
        if (roots.roots.count == 0) {
            std::fill(state.labels.begin(), state.labels.end(), 0);
            return;
        }
        if (method == WATERSHED) watershed(roots.roots);
        else if (method == MAX_ARC) maxArc(roots.roots);
        else fuzzy(roots.roots);
    });
}

// The labels as an 8-bit P5 file and the seeds as a roots file, written by
// the library into the module's file system.
EMSCRIPTEN_KEEPALIVE int webSaveLabels(const char *path)
{
    if (!state.image) return refuse("No image is open.");
    return guarded([&] {
        ImageHandle out = created(1, PX_GREY8, state.image->ncols, state.image->nrows);
        if (!out) return;
        std::copy(state.labels.begin(), state.labels.end(), out->bands[0]);
        pxSaveImage(path, out.get());
    });
}

EMSCRIPTEN_KEEPALIVE int webSaveRoots(const char *path)
{
    if (!state.image) return refuse("No image is open.");
    return guarded([&] {
        RootsHandle roots;
        seedsAsRoots(roots);
        ifSaveRoots(path, state.image.get(), &roots.roots);
    });
}

} // extern "C"
