// Throughput of the pixel spanning tree and its cut, and of the region graph
// and its mean colours, on the two 4096 x 4096 benchmark images. The regions
// are the watershed zones of the images' regional minima.

#include <benchmark/benchmark.h>

#include <cstdlib>

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

Image *imageFor(int which)
{
    static Image *tiled = bench_images::tiled(camera());
    static Image *upscaled = bench_images::upscaled(camera());
    return which == 0 ? tiled : upscaled;
}

// The tree of iftPrim (8-adjacency, Euclidean distance), made once per image.
Image *treeFor(int which)
{
    static Image *trees[2] = {nullptr, nullptr};
    if (!trees[which]) {
        Image *img = imageFor(which);
        trees[which] = pxCreateImage(2, PX_GREY_INT, img->ncols, img->nrows);
        iftPrim(img, trees[which], pxNeighborhood8, ifEuclideanDistance);
    }
    return trees[which];
}

// Watershed zones of the regional minima, made once per image.
Image *zonesFor(int which)
{
    static Image *zones[2] = {nullptr, nullptr};
    if (!zones[which]) {
        Image *img = imageFor(which);
        Roots *seeds = ifRegionalMinimaAsRoots(img);
        Image *work = pxCreateImage(4, PX_WORK, img->ncols, img->nrows);
        iftNonNormalized(img, work, pxNeighborhood8, ifWatershedMetric, img->maxValue, ifPathCostMax, seeds);
        zones[which] = pxCopyBand(work, PX_GREY_INT, 1);
        pxReleaseImage(&work);
        ifReleaseRoots(seeds);
        std::free(seeds);
    }
    return zones[which];
}

void setRate(benchmark::State &state, Image *img)
{
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(img->npixels) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// state.range(0): 0 tiled, 1 upscaled.
void BM_Prim(benchmark::State &state)
{
    Image *img = imageFor(static_cast<int>(state.range(0)));
    Image *tree = pxCreateImage(2, PX_GREY_INT, img->ncols, img->nrows);
    iftPrim(img, tree, pxNeighborhood8, ifEuclideanDistance);  // untimed: maps the memory
    for (auto _ : state) {
        iftPrim(img, tree, pxNeighborhood8, ifEuclideanDistance);
        benchmark::DoNotOptimize(tree->bands[1][1]);
    }
    setRate(state, img);
    pxReleaseImage(&tree);
}

void BM_MstThreshold(benchmark::State &state)
{
    Image *tree = treeFor(static_cast<int>(state.range(0)));
    Image *labels = pxCreateImage(1, PX_GREY_INT, tree->ncols, tree->nrows);
    for (auto _ : state) {
        ifMstThreshold(tree, labels, 0.05);
        benchmark::DoNotOptimize(labels->bands[0][0]);
    }
    state.counters["largestRoot"] = static_cast<double>(labels->maxValue);
    setRate(state, tree);
    pxReleaseImage(&labels);
}

void BM_MosaicToGraph(benchmark::State &state)
{
    Image *zones = zonesFor(static_cast<int>(state.range(0)));
    // Releasing the graph (a node per edge end) is not part of the count.
    for (auto _ : state) {
        Graph *g = ifMosaicToGraph(zones);
        benchmark::DoNotOptimize(g->nVertices);
        state.PauseTiming();
        destroyGraph(&g);
        state.ResumeTiming();
    }
    state.counters["regions"] = static_cast<double>(zones->maxValue);
    setRate(state, zones);
}

void BM_ComputeAverageColors(benchmark::State &state)
{
    const int which = static_cast<int>(state.range(0));
    Image *zones = zonesFor(which);
    Graph *g = ifMosaicToGraph(zones);
    for (auto _ : state) {
        Graph *m = ifComputeAverageColors(g, imageFor(which));
        benchmark::DoNotOptimize(m->vertices[1].features[0]);
        state.PauseTiming();
        destroyGraph(&m);
        state.ResumeTiming();
    }
    destroyGraph(&g);
    setRate(state, zones);
}

} // namespace

BENCHMARK(BM_Prim)->Arg(0)->Arg(1)->ArgName("upscaled")->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MstThreshold)->Arg(0)->Arg(1)->ArgName("upscaled")->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MosaicToGraph)->Arg(0)->Arg(1)->ArgName("upscaled")->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeAverageColors)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("upscaled")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
