// Throughput of the region operators and of the morphology under the cell
// seeds, on the two 4096 x 4096 benchmark images (tiled and upscaled camera).
// Every case reports MPix/s. The operators print progress lines on standard
// output, so standard output goes to /dev/null while the cases run and the
// report is written to standard error.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <utility>

#include "bench_images.h"
#include "ift.h"
#include "pxImage.h"

namespace {

enum Source { TILED = 0, UPSCALED = 1 };

Image *source(int which)
{
    static Image *images[2] = {nullptr, nullptr};
    if (!images[which]) {
        Image *cam = bench_images::loadCamera();
        images[which] = which == TILED ? bench_images::tiled(cam) : bench_images::upscaled(cam);
        pxReleaseImage(&cam);
    }
    return images[which];
}

// The source's pixels at or above `level`.
Image *thresholded(int which, int level)
{
    static std::map<std::pair<int, int>, Image *> images;
    Image *&img = images[{which, level}];
    if (!img) img = pxThreshold(source(which), PX_GREY8, level, 255);
    return img;
}

void setRate(benchmark::State &state, const Image *img)
{
    state.counters["MPix/s"] =
        benchmark::Counter(img->npixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

template <Image *(*Operator)(Image *)>
void BM_RegionalExtrema(benchmark::State &state)
{
    Image *img = source(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Image *reg = Operator(img);
        benchmark::DoNotOptimize(reg->bands[0][0]);
        pxReleaseImage(&reg);
    }
    setRate(state, img);
}

template <Roots *(*Operator)(Image *)>
void BM_RegionalExtremaAsRoots(benchmark::State &state)
{
    Image *img = source(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Roots *r = Operator(img);
        benchmark::DoNotOptimize(r->count);
        ifReleaseRoots(r);
        std::free(r);
    }
    setRate(state, img);
}

void BM_LabelImage(benchmark::State &state)
{
    Image *bin = thresholded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    Image *lab = pxCreateImage(1, PX_GREY_INT, bin->ncols, bin->nrows);
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(lab->bands[0], 0, sizeof(int) * static_cast<std::size_t>(lab->npixels));
        state.ResumeTiming();
        ifLabelImage(bin, lab);
        benchmark::DoNotOptimize(lab->maxValue);
    }
    pxReleaseImage(&lab);
    setRate(state, bin);
}

void BM_MorphDilate(benchmark::State &state)
{
    Image *img = source(static_cast<int>(state.range(0)));
    const int r2 = static_cast<int>(state.range(1));
    Image *dst = pxCreateImage(1, img->type, img->ncols, img->nrows);
    for (auto _ : state) {
        pxMorphDilate(img, dst, r2);
        benchmark::DoNotOptimize(dst->maxValue);
    }
    pxReleaseImage(&dst);
    setRate(state, img);
}

void BM_MorphAsfOC(benchmark::State &state)
{
    Image *img = source(static_cast<int>(state.range(0)));
    const int n = static_cast<int>(state.range(1));
    Image *dst = pxCreateImage(1, img->type, img->ncols, img->nrows);
    for (auto _ : state) {
        pxMorphAsfOC(img, dst, n);
        benchmark::DoNotOptimize(dst->bands[0][0]);
    }
    pxReleaseImage(&dst);
    setRate(state, img);
}

void images(benchmark::internal::Benchmark *b)
{
    b->ArgName("image")->Arg(TILED)->Arg(UPSCALED);
}

// Every labelling and extrema operator on both images:
//   bench_regions --benchmark_filter='Label|Regional'
BENCHMARK(BM_RegionalExtrema<ifRegionalMaxima>)->Name("BM_RegionalMaxima")->Apply(images)
    ->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionalExtrema<ifRegionalMinima>)->Name("BM_RegionalMinima")->Apply(images)
    ->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionalExtremaAsRoots<ifRegionalMaximaAsRoots>)->Name("BM_RegionalMaximaAsRoots")->Apply(images)
    ->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionalExtremaAsRoots<ifRegionalMinimaAsRoots>)->Name("BM_RegionalMinimaAsRoots")->Apply(images)
    ->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabelImage)
    ->ArgNames({"image", "level"})
    ->ArgsProduct({{TILED, UPSCALED}, {129, 128}})
    ->Iterations(10)
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorphDilate)
    ->ArgNames({"image", "r2"})
    ->ArgsProduct({{TILED, UPSCALED}, {1, 2, 8}})
    ->Iterations(3)
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MorphAsfOC)
    ->ArgNames({"image", "n"})
    ->ArgsProduct({{TILED, UPSCALED}, {3}})
    ->Iterations(1)
    ->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The operators' progress lines ("in ifLabelImage", "radius is ...")
    // would interleave with the report.
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (savedStdout < 0 || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) {
        std::perror("bench_regions: redirecting standard output");
        return 1;
    }
    ::close(devNull);
    benchmark::ConsoleReporter reporter(::isatty(STDERR_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                                : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    return 0;
}
