// Throughput of the connected filters on the two 4096 x 4096 benchmark
// images: area opening and closing at a small and a large area, and the
// leveling with the image eroded once as its marker.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "bench_images.h"
#include "ift.h"
#include "pxImage.h"

namespace {

Image *camera()
{
    static Image *cam = bench_images::loadCamera();
    return cam;
}

Image *imageFor(int which)
{
    static Image *tiled = nullptr, *upscaled = nullptr;
    if (which == 0) return tiled ? tiled : (tiled = bench_images::tiled(camera()));
    return upscaled ? upscaled : (upscaled = bench_images::upscaled(camera()));
}

void setRate(benchmark::State &state, Image *img)
{
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(img->npixels) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// The operators print their progress lines on standard output, where the
// benchmark's table goes too: they are sent to /dev/null for the call.
template <class F>
void quietly(F f)
{
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    f();
    std::fflush(stdout);
    if (saved >= 0) ::dup2(saved, 1);
    if (null >= 0) ::close(null);
    if (saved >= 0) ::close(saved);
}

// state.range(0): 0 tiled, 1 upscaled; range(1): the area.
template <bool Closing>
void BM_Area(benchmark::State &state)
{
    Image *img = imageFor(static_cast<int>(state.range(0)));
    const int area = static_cast<int>(state.range(1));
    auto run = [&] {
        Image *filtered = nullptr, *labels = nullptr;
        quietly([&] {
            if (Closing) ifAreaClose(img, &filtered, &labels, area);
            else ifAreaOpen(img, &filtered, &labels, area);
        });
        benchmark::DoNotOptimize(filtered->bands[0][0]);
        pxReleaseImage(&filtered);
        pxReleaseImage(&labels);
    };
    run();  // untimed: the first pass over fresh memory pays for mapping it
    for (auto _ : state) run();
    setRate(state, img);
}

void BM_AreaOpen(benchmark::State &state) { BM_Area<false>(state); }
void BM_AreaClose(benchmark::State &state) { BM_Area<true>(state); }

void BM_Level2(benchmark::State &state)
{
    Image *img = imageFor(static_cast<int>(state.range(0)));
    Image *marker = pxCreateImage(1, img->type, img->ncols, img->nrows);
    pxMorphErode(img, marker, 1);
    auto run = [&] {
        Image *out = nullptr;
        quietly([&] { ifLevel2(img, marker, &out); });
        benchmark::DoNotOptimize(out->bands[0][0]);
        pxReleaseImage(&out);
    };
    run();
    for (auto _ : state) run();
    pxReleaseImage(&marker);
    setRate(state, img);
}

} // namespace

BENCHMARK(BM_AreaOpen)
    ->ArgsProduct({{0, 1}, {64, 4096}})
    ->ArgNames({"upscaled", "area"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AreaClose)
    ->ArgsProduct({{0, 1}, {64, 4096}})
    ->ArgNames({"upscaled", "area"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Level2)->Arg(0)->Arg(1)->ArgName("upscaled")->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
