// Throughput of the reconstructions that sieve runs and of the image files,
// on the two 4096 x 4096 benchmark images. Seeds are the image frame with the
// costs sieve gives them when the image is its own reference.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "bench_images.h"
#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

Image *camera()
{
    static Image *cam = bench_images::loadCamera();
    return cam;
}

Image *tiledImage()
{
    static Image *img = bench_images::tiled(camera());
    return img;
}

Image *upscaledImage()
{
    static Image *img = bench_images::upscaled(camera());
    return img;
}

Image *imageFor(int which) { return which == 0 ? tiledImage() : upscaledImage(); }

// Frame seeds with sieve's cost rule: the reference level, one below it for a
// local cut, one above for a local fill, kept inside 0 .. maxValue.
Roots *sieveSeeds(Image *img, bool cutting, bool global)
{
    Roots *seeds = ifFrameAsRoots(img, 0, 0);
    for (int i = 0; i < seeds->count; ++i) {
        int c = img->bands[0][seeds->pixel[i]];
        if (cutting) {
            if (!global) c -= 1;
            if (c < 0) c = 0;
        } else {
            if (!global) c += 1;
            if (c > img->maxValue) c = img->maxValue;
        }
        seeds->cost[i] = c;
    }
    return seeds;
}

void setRate(benchmark::State &state, Image *img)
{
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(img->npixels) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// state.range(0): 0 tiled, 1 upscaled; range(1): isGlobal.
template <bool Cutting>
void BM_Reconstruction(benchmark::State &state)
{
    Image *img = imageFor(static_cast<int>(state.range(0)));
    const int isGlobal = static_cast<int>(state.range(1));
    Roots *seeds = sieveSeeds(img, Cutting, isGlobal != 0);
    auto run = [&] {
        Image *filtered = nullptr, *labels = nullptr;
        if (Cutting) ifReconstr(img, img, seeds, isGlobal, &filtered, &labels);
        else ifDualReconstr(img, img, seeds, isGlobal, &filtered, &labels);
        benchmark::DoNotOptimize(filtered->bands[0][0]);
        pxReleaseImage(&filtered);
        pxReleaseImage(&labels);
    };
    // One untimed run first: the first pass over memory the process has not
    // used yet pays for mapping it, which is not the operator's cost.
    run();
    for (auto _ : state) run();
    setRate(state, img);
    ifReleaseRoots(seeds);
    std::free(seeds);
}

// Watershed zones from the frame seeds (cost: the pixel's value) with the
// max path cost, as the Python package's watershed runs it.
void BM_Watershed(benchmark::State &state)
{
    Image *img = imageFor(static_cast<int>(state.range(0)));
    Roots *seeds = ifFrameAsRoots(img, 0, 0);
    for (int i = 0; i < seeds->count; ++i) seeds->cost[i] = img->bands[0][seeds->pixel[i]];
    auto run = [&] {
        Image *work = pxCreateImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows);
        iftNonNormalized(img, work, pxNeighborhood8, ifWatershedMetric, img->maxValue, ifPathCostMax, seeds);
        benchmark::DoNotOptimize(work->bands[1][0]);
        pxReleaseImage(&work);
    };
    run();
    for (auto _ : state) run();
    setRate(state, img);
    ifReleaseRoots(seeds);
    std::free(seeds);
}

void BM_DualReconstr(benchmark::State &state) { BM_Reconstruction<false>(state); }
void BM_Reconstr(benchmark::State &state) { BM_Reconstruction<true>(state); }

std::string tempName(const char *suffix)
{
    return "/tmp/bench_ift_" + std::to_string(::getpid()) + suffix;
}

// state.range(0): the type written, 1 (P5) or 2 (P2).
void BM_SaveImage(benchmark::State &state)
{
    Image *img = tiledImage();
    const signed char type = img->type;
    img->type = static_cast<signed char>(state.range(0));
    const std::string name = tempName(state.range(0) == 1 ? ".pgm" : "_p2.pgm");
    for (auto _ : state) pxSaveImage(name.c_str(), img);
    img->type = type;
    std::remove(name.c_str());
    setRate(state, img);
}

void BM_ReadImage(benchmark::State &state)
{
    Image *img = tiledImage();
    const signed char type = img->type;
    img->type = static_cast<signed char>(state.range(0));
    const std::string name = tempName(state.range(0) == 1 ? "_r.pgm" : "_rp2.pgm");
    pxSaveImage(name.c_str(), img);
    img->type = type;
    for (auto _ : state) {
        Image *in = nullptr;
        pxReadImage(name.c_str(), &in);
        benchmark::DoNotOptimize(in->bands[0][0]);
        pxReleaseImage(&in);
    }
    std::remove(name.c_str());
    setRate(state, img);
}

} // namespace

BENCHMARK(BM_DualReconstr)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->ArgNames({"upscaled", "global"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reconstr)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->ArgNames({"upscaled", "global"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Watershed)->Arg(0)->Arg(1)->ArgName("upscaled")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImage)->Arg(1)->Arg(2)->ArgName("type")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadImage)->Arg(1)->Arg(2)->ArgName("type")->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
