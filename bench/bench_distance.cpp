// Throughput of the Euclidean distance transform from contour seeds and of
// the multiscale skeleton, on the two 4096 x 4096 benchmark images
// thresholded at 128. The distance case also reports the largest difference
// between the propagated distance and the exact Euclidean distance (computed
// once per image by the separable lower-envelope transform of Felzenszwalb
// and Huttenlocher, 2012), and how many pixels differ at all. The library's
// exact transform is timed on one thread and on its default threads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_images.h"
#include "ift.h"
#include "pxImage.h"

namespace {

enum Source { TILED = 0, UPSCALED = 1 };

Image *thresholded(int which)
{
    static Image *images[2] = {nullptr, nullptr};
    if (!images[which]) {
        Image *cam = bench_images::loadCamera();
        Image *src = which == TILED ? bench_images::tiled(cam) : bench_images::upscaled(cam);
        images[which] = pxThreshold(src, PX_GREY8, 128, 255);
        pxReleaseImage(&src);
        pxReleaseImage(&cam);
    }
    return images[which];
}

// The contour seeds, one label per border pixel.
Roots *contourSeeds(int which)
{
    static Roots *seeds[2] = {nullptr, nullptr};
    if (!seeds[which]) {
        seeds[which] = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
        ifDistTransfRoots(thresholded(which), seeds[which], 1);
    }
    return seeds[which];
}

// Squared distance to the nearest seed along one line (f: 0 at seeds, a huge
// value elsewhere), by the lower envelope of parabolas.
void envelope1d(const std::vector<double> &f, std::vector<double> &d, std::vector<int> &v, std::vector<double> &z)
{
    const int n = static_cast<int>(f.size());
    int k = 0;
    v[0] = 0;
    z[0] = -HUGE_VAL;
    z[1] = HUGE_VAL;
    auto meet = [&](int q, int r) { return ((f[q] + double(q) * q) - (f[r] + double(r) * r)) / (2.0 * q - 2.0 * r); };
    for (int q = 1; q < n; ++q) {
        double s = meet(q, v[k]);
        while (s <= z[k]) s = meet(q, v[--k]);
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = HUGE_VAL;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q) ++k;
        const double dq = q - v[k];
        d[q] = dq * dq + f[v[k]];
    }
}

std::vector<double> exactSquaredDistance(int ncols, int nrows, const Roots *seeds)
{
    const double far = 1e20;
    std::vector<double> g(static_cast<std::size_t>(ncols) * nrows, far);
    for (int i = 0; i < seeds->count; ++i) g[seeds->pixel[i]] = 0;
    const int m = std::max(ncols, nrows);
    std::vector<double> f, d;
    std::vector<int> v(m);
    std::vector<double> z(m + 1);
    for (int x = 0; x < ncols; ++x) {
        f.assign(nrows, 0);
        d.assign(nrows, 0);
        for (int y = 0; y < nrows; ++y) f[y] = g[static_cast<std::size_t>(y) * ncols + x];
        envelope1d(f, d, v, z);
        for (int y = 0; y < nrows; ++y) g[static_cast<std::size_t>(y) * ncols + x] = d[y];
    }
    for (int y = 0; y < nrows; ++y) {
        f.assign(g.begin() + static_cast<std::size_t>(y) * ncols, g.begin() + static_cast<std::size_t>(y + 1) * ncols);
        d.assign(ncols, 0);
        envelope1d(f, d, v, z);
        std::copy(d.begin(), d.end(), g.begin() + static_cast<std::size_t>(y) * ncols);
    }
    return g;
}

void setRate(benchmark::State &state, const Image *img)
{
    state.counters["MPix/s"] =
        benchmark::Counter(img->npixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_EuclideanDT(benchmark::State &state)
{
    const int which = static_cast<int>(state.range(0));
    Image *bin = thresholded(which);
    Roots *seeds = contourSeeds(which);
    Image *work = pxCreateImage(bin->nbands + 3, PX_WORK, bin->ncols, bin->nrows);
    // One untimed run: the first pass over fresh memory pays for mapping it.
    iftEuclideanDT(bin, work, pxNeighborhood8, seeds);
    for (auto _ : state) {
        iftEuclideanDT(bin, work, pxNeighborhood8, seeds);
        benchmark::DoNotOptimize(work->bands[2][0]);
    }
    const std::vector<double> exact = exactSquaredDistance(bin->ncols, bin->nrows, seeds);
    double worst = 0;
    long long differing = 0;
    for (int p = 0; p < bin->npixels; ++p) {
        const double e = std::sqrt(static_cast<double>(work->bands[2][p])) - std::sqrt(exact[p]);
        worst = std::max(worst, std::fabs(e));
        differing += work->bands[2][p] != static_cast<long long>(exact[p]);
    }
    state.counters["maxError"] = worst;
    state.counters["pixelsOff"] = static_cast<double>(differing);
    state.counters["seeds"] = seeds->count;
    setRate(state, bin);
    pxReleaseImage(&work);
}
BENCHMARK(BM_EuclideanDT)->Arg(TILED)->Arg(UPSCALED)->Unit(benchmark::kMillisecond)->UseRealTime();

// The exact transform of the thresholded image to its zeros, distances as
// doubles (what the Python function returns), on one thread (threads:1) or
// the library's default (threads:0).
void BM_ExactEDT(benchmark::State &state)
{
    const int which = static_cast<int>(state.range(0));
    const int previous = pxSetNumThreads(static_cast<int>(state.range(1)));
    Image *bin = thresholded(which);
    std::vector<double> distance(static_cast<std::size_t>(bin->npixels));
    ifExactEDT(bin, nullptr, nullptr, distance.data(), nullptr, nullptr);
    for (auto _ : state) {
        ifExactEDT(bin, nullptr, nullptr, distance.data(), nullptr, nullptr);
        benchmark::DoNotOptimize(distance[0]);
    }
    state.counters["threads"] = pxGetNumThreads();
    setRate(state, bin);
    pxSetNumThreads(previous);
}
BENCHMARK(BM_ExactEDT)
    ->ArgsProduct({{TILED, UPSCALED}, {1, 0}})
    ->ArgNames({"upscaled", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SkelInner(benchmark::State &state)
{
    const int which = static_cast<int>(state.range(0));
    Image *bin = thresholded(which);
    int largest = 0;
    for (auto _ : state) {
        Image *out = nullptr;
        largest = ifSkel(bin, 1, 20, &out);
        benchmark::DoNotOptimize(out->bands[0][0]);
        pxReleaseImage(&out);
    }
    state.counters["largestDiff"] = largest;
    setRate(state, bin);
}
BENCHMARK(BM_SkelInner)->Arg(TILED)->Arg(UPSCALED)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
