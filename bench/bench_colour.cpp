// Throughput of the colour-space conversions on a 4096 x 4096 colour image
// (data/chelsea.ppm upscaled) and of fuzzy connectedness with two objects on
// the two 4096 x 4096 grey benchmark images. The fuzzy segmenters write their
// debug images into the working directory, so they run in a folder of their
// own under /tmp, removed at the end.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_images.h"
#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

constexpr int SIDE = 4096;

// Bilinear upscaling of every band to SIDE x SIDE: the output pixel centre
// maps to the source position (X + 1/2) * n / SIDE - 1/2, clamped, with
// weights in 1/256.
Image *upscaledColour(const Image *src)
{
    Image *out = pxCreateImage(3, PX_COLOR8, SIDE, SIDE);
    auto coord = [](int X, int n, int &i0, int &i1, int &f) {
        long long s = ((2LL * X + 1) * n * 256) / (2 * SIDE) - 128;  // source position in 1/256
        s = std::max(s, 0LL);
        i0 = std::min(static_cast<int>(s / 256), n - 1);
        i1 = std::min(i0 + 1, n - 1);
        f = static_cast<int>(s % 256);
    };
    for (int Y = 0; Y < SIDE; ++Y) {
        int y0, y1, fy;
        coord(Y, src->nrows, y0, y1, fy);
        for (int X = 0; X < SIDE; ++X) {
            int x0, x1, fx;
            coord(X, src->ncols, x0, x1, fx);
            for (int b = 0; b < 3; ++b) {
                const int *r0 = src->bands[b] + y0 * src->ncols, *r1 = src->bands[b] + y1 * src->ncols;
                long long v = static_cast<long long>(256 - fx) * (256 - fy) * r0[x0] + fx * (256 - fy) * r0[x1] +
                              (256 - fx) * fy * r1[x0] + static_cast<long long>(fx) * fy * r1[x1];
                out->bands[b][Y * SIDE + X] = static_cast<int>((v + 32768) / 65536);
            }
        }
    }
    out->maxValue = 255;
    return out;
}

Image *colourImage()
{
    static Image *img = [] {
        Image *cat = nullptr;
        pxReadImage((std::string(PX_DATA_DIR) + "/chelsea.ppm").c_str(), &cat);
        Image *big = upscaledColour(cat);
        pxReleaseImage(&cat);
        return big;
    }();
    return img;
}

Image *greyImage(int which)
{
    static Image *cam = bench_images::loadCamera();
    static Image *tiled = bench_images::tiled(cam);
    static Image *upscaled = bench_images::upscaled(cam);
    return which == 0 ? tiled : upscaled;
}

void setRate(benchmark::State &state, const Image *img)
{
    state.counters["MPix/s"] = benchmark::Counter(static_cast<double>(img->npixels) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

template <void (*Convert)(Image *, Image *)>
void BM_Convert(benchmark::State &state)
{
    Image *src = colourImage();
    Image *dst = pxCreateImage(3, PX_COLORSPACE, src->ncols, src->nrows);
    Convert(src, dst);  // untimed: maps the destination's memory
    for (auto _ : state) {
        Convert(src, dst);
        benchmark::DoNotOptimize(dst->bands[0][0]);
    }
    setRate(state, src);
    pxReleaseImage(&dst);
}

// Runs f in a fresh folder under /tmp with standard output silenced, then
// removes the folder.
template <class F>
void inScratchFolder(F f)
{
    char here[4096];
    if (!getcwd(here, sizeof here)) std::abort();
    char dir[] = "/tmp/bench_fuzzy.XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
    std::fflush(stdout);
    const int saved = dup(1), quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    close(quiet);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (chdir(here) != 0) std::abort();
    std::string cmd = std::string("rm -rf '") + dir + "'";
    if (std::system(cmd.c_str()) != 0) { /* best effort */ }
}

// Two objects, dark and bright, each seeded at the first pixel of its kind.
// state.range(0): 0 tiled, 1 upscaled; range(1): 0 iftFuzzy, 1 iftFuzzyEdges.
void BM_Fuzzy(benchmark::State &state)
{
    Image *img = greyImage(static_cast<int>(state.range(0)));
    const bool edges = state.range(1) != 0;
    Image *label = pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows);
    Image *cost = pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows);
    Roots seeds;
    ifAllocateRoots(&seeds, 2);
    const int *v = img->bands[0];
    seeds.pixel[0] = static_cast<int>(std::find_if(v, v + img->npixels, [](int x) { return x < 40; }) - v);
    seeds.pixel[1] = static_cast<int>(std::find_if(v, v + img->npixels, [](int x) { return x > 180; }) - v);
    seeds.label[0] = 1;
    seeds.label[1] = 2;
    int means[3] = {0, 30, 190}, variances[3] = {0, 400, 400};
    inScratchFolder([&] {
        auto run = [&] {
            if (edges) iftFuzzyEdges(img, label, cost, pxNeighborhood4, &seeds, means, variances, 2);
            else iftFuzzy(img, label, cost, pxNeighborhood4, &seeds, means, variances, 2);
            benchmark::DoNotOptimize(cost->bands[0][0]);
        };
        run();
        for (auto _ : state) run();
    });
    setRate(state, img);
    ifReleaseRoots(&seeds);
    pxReleaseImage(&label);
    pxReleaseImage(&cost);
}

} // namespace

BENCHMARK(BM_Convert<pxRgb2hsv>)->Name("BM_Rgb2hsv")->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert<pxRgb2lab>)->Name("BM_Rgb2lab")->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert<pxRgb2ycbcr>)->Name("BM_Rgb2ycbcr")->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fuzzy)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"upscaled", "edges"})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
