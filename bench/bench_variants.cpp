// Throughput of the IFT variants beside iftNonNormalized on the same inputs,
// and of building arc-weight images: 2048 x 2048 crops of the two benchmark
// images, and the whole 4096 x 4096 images for the two IFTs on the same
// input, regional-minimum seeds, 8-adjacency, max path costs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "bench_images.h"
#include "ift.h"
#include "pxImage.h"

namespace {

Image *crop(const Image *src, int side)
{
    Image *out = pxCreateImage(1, src->type, side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) out->bands[0][y * side + x] = src->bands[0][y * src->ncols + x];
    out->maxValue = src->maxValue;
    return out;
}

// The inputs of one image: the crop, its regional minima as seeds (cost = the
// value), its 8-neighbour watershed arc weights and a work image.
struct Input {
    Image *img, *arcs, *work;
    Roots *seeds;
};

Input makeInput(int which, int side)
{
    Image *cam = bench_images::loadCamera();
    Image *full = which == 0 ? bench_images::tiled(cam) : bench_images::upscaled(cam);
    Input in;
    in.img = crop(full, side);
    pxReleaseImage(&full);
    pxReleaseImage(&cam);
    // The seed and arc builders print progress lines: keep them off the report.
    std::fflush(stdout);
    int saved = dup(1);
    if (std::freopen("/dev/null", "w", stdout)) {
        in.seeds = ifRegionalMinimaAsRoots(in.img);
        in.arcs = watershedWF(in.img, pxNeighborhood8);
        std::fflush(stdout);
    }
    dup2(saved, 1);
    close(saved);
    in.work = pxCreateImage(4, PX_WORK, side, side);
    return in;
}

// Made on first use: 0 tiled, 1 upscaled, of side 2048 or 4096.
const Input &input(int which, int side)
{
    static Input inputs[2][2] = {};
    Input &in = inputs[which][side == 4096];
    if (!in.img) in = makeInput(which, side);
    return in;
}

void setRate(benchmark::State &state, int side)
{
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(side) * side / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// state.range(0): 0 tiled, 1 upscaled; range(1): the side.
template <class Run>
void timed(benchmark::State &state, Run run)
{
    const int side = static_cast<int>(state.range(1));
    const Input &in = input(static_cast<int>(state.range(0)), side);
    run(in);  // untimed: first touch of the memory
    for (auto _ : state) {
        run(in);
        benchmark::ClobberMemory();
    }
    setRate(state, side);
}

void BM_IftNonNormalized(benchmark::State &state)
{
    timed(state, [](const Input &in) {
        iftNonNormalized(in.img, in.work, pxNeighborhood8, ifWatershedMetric, 255, ifPathCostMax, in.seeds);
    });
}

void BM_IftWF(benchmark::State &state)
{
    timed(state, [](const Input &in) { iftWF(in.img, in.work, in.arcs, ifPathCostMax, in.seeds); });
}

void BM_Ift(benchmark::State &state)
{
    timed(state, [](const Input &in) {
        ift(in.img, in.work, pxNeighborhood8, ifWatershedMetric, ifPathCostMax, in.seeds);
    });
}

void BM_IftDinamicArea(benchmark::State &state)
{
    timed(state, [](const Input &in) {
        Graph *g = iftDinamicNonNormalized(in.img, in.img, in.work, pxNeighborhood8, ifWatershedMetric, 255,
                                           ifPathCostMax, in.seeds, ifEdgeWeightArea, ifInitAreaData,
                                           ifUpdateAreaData, 1);
        destroyGraph(&g);
    });
}

void BM_WatershedWF(benchmark::State &state)
{
    timed(state, [](const Input &in) {
        Image *w = watershedWF(in.img, pxNeighborhood8);
        pxReleaseImage(&w);
    });
}

// Prints its "out:" line once per call, as it should.
void BM_EuclideanWF(benchmark::State &state)
{
    timed(state, [](const Input &in) {
        Image *w = euclideanWF(in.img, pxNeighborhood8);
        pxReleaseImage(&w);
    });
}

} // namespace

BENCHMARK(BM_IftNonNormalized)->ArgsProduct({{0, 1}, {2048, 4096}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IftWF)->ArgsProduct({{0, 1}, {2048, 4096}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ift)->ArgsProduct({{0, 1}, {2048}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IftDinamicArea)->ArgsProduct({{0, 1}, {2048}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WatershedWF)->ArgsProduct({{0, 1}, {2048}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EuclideanWF)->ArgsProduct({{0, 1}, {2048}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
