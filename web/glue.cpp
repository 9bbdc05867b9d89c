// The library's face towards the page's worker: one image at a time, the
// seeds painted on it and the labels of the last segmentation, in buffers the
// worker fills and reads through the module's memory. Every library call runs
// under pxCatchFatal, so a corrupt file or a failed allocation comes back as
// a message instead of ending the module.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "forest.h"
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
    std::vector<std::uint8_t> seeds;   // 0 or a label 1 .. 8 per pixel
    std::vector<std::uint8_t> labels;  // result of the last segmentation
    MaxArcForest forest;               // grows the segmentations
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
    state.forest = MaxArcForest();
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

// Watershed from the seeds on the gradient: each seed starts at the gradient's
// value under it, a path costs the highest level it crosses.
void watershed()
{
    Image *g = gradient();
    if (!g) return;
    state.forest.watershed(g, state.seeds.data(), state.labels.data());
}

// The IFT on the image itself: an arc weighs the largest band difference
// between its ends, a path its heaviest arc, seeds start at 0.
void maxArc()
{
    state.forest.maxArc(state.image.get(), state.seeds.data(), state.labels.data());
}

// The least dissimilarity over the objects for every sum 0 .. 2 top of two
// grey values, read off the library's own arc weights: on one row holding
// 0, 0, 1, 1, .., top, top, the arcs from each pixel to its right neighbour
// run through the sums in turn. An object's dissimilarity depends only on
// the sum of an arc's two values, so the table gives every arc's weight.
std::vector<std::uint8_t> leastDissimilarities(int top, const std::vector<int> &means,
                                               const std::vector<int> &variances)
{
    std::vector<std::uint8_t> table(2 * static_cast<std::size_t>(top) + 1, 255);
    ImageHandle row = created(1, PX_GREY_INT, 2 * (top + 1), 1);
    if (!row) return {};
    for (int x = 0; x < row->ncols; ++x) row->bands[0][x] = x / 2;
    int *pairs = nullptr;
    const int k = pxNeighborhood4(&pairs);
    int right = 0;
    while (right < k && !(pairs[2 * right] == 1 && pairs[2 * right + 1] == 0)) ++right;
    std::free(pairs);
    for (std::size_t i = 1; i < means.size(); ++i) {
        ImageHandle weights(ifFuzzyEdgesWeight(row.get(), pxNeighborhood4, means[i], variances[i]));
        for (std::size_t s = 0; s < table.size(); ++s)
            table[s] = static_cast<std::uint8_t>(std::min<int>(table[s], weights->bands[right][s]));
    }
    return table;
}

// Competitive fuzzy connectedness with one object per label in use, in label
// order: the mean of the seeds' grey values and their variance (both
// truncated, the variance raised to kLeastFuzzyVariance). An arc weighs its
// least dissimilarity over the objects, a path its heaviest arc.
void fuzzy()
{
    Image *g = grey();
    if (!g) return;
    long long count[kLabels + 1] = {}, sum[kLabels + 1] = {}, squares[kLabels + 1] = {};
    for (int p = 0; p < g->npixels; ++p) {
        const int k = state.seeds[p];
        if (!k) continue;
        const long long v = g->bands[0][p];
        count[k] += 1;
        sum[k] += v;
        squares[k] += v * v;
    }
    std::vector<int> means(1, 0), variances(1, 1);
    for (int k = 1; k <= kLabels; ++k) {
        if (!count[k]) continue;
        // n times the sum of squares reaches 2^84 for a whole image of 16-bit
        // values, so the variance is worked out in 128 bits.
        const __int128 n = count[k], spread = n * squares[k] - static_cast<__int128>(sum[k]) * sum[k];
        const long long variance = static_cast<long long>(spread / (n * n));
        means.push_back(static_cast<int>(sum[k] / count[k]));
        variances.push_back(static_cast<int>(std::min<long long>(std::max(variance, kLeastFuzzyVariance), INT32_MAX)));
    }
    const std::vector<std::uint8_t> table = leastDissimilarities(std::max(largest(g), 0), means, variances);
    if (table.empty()) return;
    state.forest.fuzzy(g, table, state.seeds.data(), state.labels.data());
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
        if (std::none_of(state.seeds.begin(), state.seeds.end(), [](std::uint8_t s) { return s != 0; })) {
            std::fill(state.labels.begin(), state.labels.end(), 0);
            return;
        }
        if (method == WATERSHED) watershed();
        else if (method == MAX_ARC) maxArc();
        else fuzzy();
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
