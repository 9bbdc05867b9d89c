#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "reference/colour.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

// ---- Images ------------------------------------------------------------------

ImagePtr colourImage(int ncols, int nrows, const std::function<Pixel(int)> &pixel, int type = PX_COLOR8)
{
    ImagePtr img(pxCreateImage(3, type, ncols, nrows));
    for (int p = 0; p < img->npixels; ++p) {
        Pixel v = pixel(p);
        for (int b = 0; b < 3; ++b) img.at(p, b) = v[b];
    }
    return img;
}

// Every colour of the 16 x 16 x 16 grid over 0 .. 255.
ImagePtr colourGrid()
{
    return colourImage(64, 64, [](int p) { return Pixel{(p >> 8 & 15) * 17, (p >> 4 & 15) * 17, (p & 15) * 17}; });
}

// A 16 x 16 x 16 grid over [lo, hi] per component.
ImagePtr spaceGrid(Pixel lo, Pixel hi)
{
    return colourImage(64, 64, [=](int p) {
        int i[3] = {p >> 8 & 15, p >> 4 & 15, p & 15};
        Pixel v(3);
        for (int b = 0; b < 3; ++b) v[b] = lo[b] + (hi[b] - lo[b]) * i[b] / 15;
        return v;
    });
}

ImagePtr converted(Image *src, void (*convert)(Image *, Image *))
{
    ImagePtr dst(pxCreateImage(3, PX_COLORSPACE, src->ncols, src->nrows));
    testing::internal::CaptureStdout();
    convert(src, dst.get());
    testing::internal::GetCapturedStdout();
    return dst;
}

std::vector<Pixel> pixelsOf(const Image *img)
{
    std::vector<Pixel> out;
    for (int p = 0; p < img->npixels; ++p) out.push_back({img->bands[0][p], img->bands[1][p], img->bands[2][p]});
    return out;
}

void expectMatchesPlain(const char *what, Image *src, void (*convert)(Image *, Image *),
                        const std::function<Pixel(int, int, int)> &plain)
{
    ImagePtr dst = converted(src, convert);
    std::vector<Pixel> in = pixelsOf(src), out = pixelsOf(dst.get());
    int mismatches = 0;
    for (size_t p = 0; p < in.size(); ++p) {
        Pixel want = plain(in[p][0], in[p][1], in[p][2]);
        if (out[p] != want && ++mismatches <= 3)
            ADD_FAILURE() << what << " at (" << in[p][0] << ", " << in[p][1] << ", " << in[p][2] << "): got ("
                          << out[p][0] << ", " << out[p][1] << ", " << out[p][2] << "), want (" << want[0] << ", "
                          << want[1] << ", " << want[2] << ")";
    }
    EXPECT_EQ(mismatches, 0) << what;
}

std::string stdoutOf(const std::function<void()> &f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

void runGuarded(void *arg) { (*static_cast<std::function<void()> *>(arg))(); }

int fatalKindOf(std::function<void()> f)
{
    char message[256];
    return pxCatchFatal(runGuarded, &f, message, sizeof message);
}

} // namespace

// Every conversion against its formula written out plainly: on every colour of
// the grid, on what the forward conversions make of it, on grids over each
// space's own range, on the sample photograph, and on values far outside any
// range (which take the library's untabled path).
TEST(Colour, EveryConversionMatchesPlainFormulas)
{
    ImagePtr grid = colourGrid();
    Image *photo = nullptr;
    pxReadImage(dataPath("chelsea.ppm").c_str(), &photo);
    ImagePtr chelsea(photo);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> wide(-3000000, 3000000);
    ImagePtr wild = colourImage(64, 64, [&](int) { return Pixel{wide(rng), wide(rng), wide(rng)}; });

    auto composed = [](Pixel (*f)(int, int, int), Pixel (*g)(int, int, int)) {
        return [f, g](int a, int b, int c) {
            Pixel m = f(a, b, c);
            return g(m[0], m[1], m[2]);
        };
    };
    struct Forward {
        const char *name;
        void (*convert)(Image *, Image *);
        std::function<Pixel(int, int, int)> plain;
    };
    const std::vector<Forward> fromRgb = {
        {"pxRgb2hsv", pxRgb2hsv, plainRgb2hsv},
        {"pxRgb2xyz", pxRgb2xyz, plainRgb2xyz},
        {"pxRgb2lab", pxRgb2lab, composed(plainRgb2xyz, plainXyz2lab)},
        {"pxRgb2luv", pxRgb2luv, composed(plainRgb2xyz, plainXyz2luv)},
        {"pxRgb2ycbcr", pxRgb2ycbcr, plainRgb2ycbcr},
    };
    for (const Forward &f : fromRgb) {
        expectMatchesPlain(f.name, grid.get(), f.convert, f.plain);
        expectMatchesPlain(f.name, chelsea.get(), f.convert, f.plain);
        if (f.convert != pxRgb2hsv) expectMatchesPlain(f.name, wild.get(), f.convert, f.plain);
    }

    struct Inverse {
        const char *name;
        void (*convert)(Image *, Image *);
        std::function<Pixel(int, int, int)> plain;
        void (*forward)(Image *, Image *);
        Pixel lo, hi;
    };
    const std::vector<Inverse> toRgbOrXyz = {
        {"pxXyz2rgb", pxXyz2rgb, plainXyz2rgb, pxRgb2xyz, {0, 0, 0}, {18000, 18000, 18000}},
        {"pxXyz2lab", pxXyz2lab, plainXyz2lab, pxRgb2xyz, {0, 0, 0}, {18000, 18000, 18000}},
        {"pxXyz2luv", pxXyz2luv, plainXyz2luv, pxRgb2xyz, {0, 0, 0}, {18000, 18000, 18000}},
        {"pxLab2xyz", pxLab2xyz, plainLab2xyz, pxRgb2lab, {0, -120, -120}, {100, 120, 120}},
        {"pxLab2rgb", pxLab2rgb, composed(plainLab2xyz, plainXyz2rgb), pxRgb2lab, {0, -120, -120}, {100, 120, 120}},
        {"pxLuv2xyz", pxLuv2xyz, plainLuv2xyz, pxRgb2luv, {0, -100, -140}, {100, 180, 110}},
        {"pxLuv2rgb", pxLuv2rgb, composed(plainLuv2xyz, plainXyz2rgb), pxRgb2luv, {0, -100, -140}, {100, 180, 110}},
        {"pxYcbcr2rgb", pxYcbcr2rgb, plainYcbcr2rgb, pxRgb2ycbcr, {0, 0, 0}, {255, 255, 255}},
    };
    for (const Inverse &f : toRgbOrXyz) {
        ImagePtr fromGrid = converted(grid.get(), f.forward);
        ImagePtr fromPhoto = converted(chelsea.get(), f.forward);
        ImagePtr own = spaceGrid(f.lo, f.hi);
        expectMatchesPlain(f.name, fromGrid.get(), f.convert, f.plain);
        expectMatchesPlain(f.name, fromPhoto.get(), f.convert, f.plain);
        expectMatchesPlain(f.name, own.get(), f.convert, f.plain);
    }
    ImagePtr xyzWild = colourImage(64, 64, [&](int) {
        std::uniform_int_distribution<int> v(0, 3000000);
        return Pixel{v(rng), v(rng), v(rng)};
    });
    expectMatchesPlain("pxXyz2lab", xyzWild.get(), pxXyz2lab, plainXyz2lab);
    expectMatchesPlain("pxXyz2luv", xyzWild.get(), pxXyz2luv, plainXyz2luv);
    expectMatchesPlain("pxXyz2luv", wild.get(), pxXyz2luv, plainXyz2luv);

    // HSV back to RGB: every grid colour (greys carry the undefined hue, so the
    // conversion never stops) and every hue, including the two out of range.
    ImagePtr hsv = converted(grid.get(), pxRgb2hsv);
    ImagePtr hues = colourImage(362, 2, [](int p) { return Pixel{p % 362, p < 362 ? 9000 : 16384, 12345}; });
    expectMatchesPlain("pxHsv2rgb", hsv.get(), pxHsv2rgb, plainHsv2rgb);
    expectMatchesPlain("pxHsv2rgb", hues.get(), pxHsv2rgb, plainHsv2rgb);
}

// Every 8-bit colour through the luma and chroma of a large image (stored
// straight past the caches, in ranges that start unaligned), and values
// across the whole int range through them and XYZ, give what the plain
// formulas give.
TEST(Colour, LargeConversionsMatchPlainFormulasOnEveryByteColourAndTheIntRange)
{
    ImagePtr every(pxCreateImage(3, PX_COLOR8, 4096, 4096));
    for (int p = 0; p < every->npixels; ++p) {
        every.at(p, 0) = p >> 16;
        every.at(p, 1) = p >> 8 & 255;
        every.at(p, 2) = p & 255;
    }
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    ImagePtr wide(pxCreateImage(3, PX_COLOR8, 512, 512));
    for (int p = 0; p < wide->npixels; ++p)
        for (int b = 0; b < 3; ++b) wide.at(p, b) = any(rng);

    auto mismatches = [](Image *src, void (*convert)(Image *, Image *), Pixel (*plain)(int, int, int)) {
        ImagePtr dst = converted(src, convert);
        int count = 0;
        for (int p = 0; p < src->npixels; ++p) {
            const Pixel want = plain(src->bands[0][p], src->bands[1][p], src->bands[2][p]);
            for (int b = 0; b < 3; ++b) count += dst->bands[b][p] != want[b];
        }
        return count;
    };
    EXPECT_EQ(mismatches(every.get(), pxRgb2ycbcr, plainRgb2ycbcr), 0);
    EXPECT_EQ(mismatches(wide.get(), pxRgb2ycbcr, plainRgb2ycbcr), 0);
    EXPECT_EQ(mismatches(wide.get(), pxRgb2xyz, plainRgb2xyz), 0);

    // In place on three threads: each step reads its pixels before it writes.
    ImagePtr once = converted(every.get(), pxRgb2ycbcr);
    ScopedThreads scoped(3);
    ImagePtr inPlace(pxCopyImage(every.get()));
    stdoutOf([&] { pxRgb2ycbcr(inPlace.get(), inPlace.get()); });
    for (int b = 0; b < 3; ++b)
        EXPECT_TRUE(std::equal(once->bands[b], once->bands[b] + once->npixels, inPlace->bands[b])) << "band " << b;
}

TEST(Colour, KnownColoursAndRoundTrips)
{
    ImagePtr rgb = colourImage(4, 1, [](int p) {
        const Pixel colours[4] = {{255, 0, 0}, {255, 255, 0}, {128, 128, 128}, {0, 0, 0}};
        return colours[p];
    });
    ImagePtr hsv = converted(rgb.get(), pxRgb2hsv);
    EXPECT_EQ(pixelsOf(hsv.get()),
              (std::vector<Pixel>{{0, 16384, 16384}, {60, 16384, 16384}, {361, 0, 8224}, {361, 0, 0}}));
    ImagePtr back = converted(hsv.get(), pxHsv2rgb);
    EXPECT_EQ(pixelsOf(back.get()), (std::vector<Pixel>{{255, 0, 0}, {255, 255, 0}, {127, 127, 127}, {0, 0, 0}}));

    // Black in YCbCr is (0, 128, 128); the studio-range inverse reads Y = 0 as
    // below black and gives negative values, stored as they are. The luma of
    // grey 128, summed in its written order, falls just short of 128.
    ImagePtr ycc = converted(rgb.get(), pxRgb2ycbcr);
    EXPECT_EQ(pixelsOf(ycc.get())[3], (Pixel{0, 128, 128}));
    EXPECT_EQ(pixelsOf(ycc.get())[2][0], 127);
    ImagePtr yccBack = converted(ycc.get(), pxYcbcr2rgb);
    EXPECT_EQ(pixelsOf(yccBack.get())[3], (Pixel{-18, -18, -18}));

    // XYZ to RGB never writes 254: above 0.995 a channel is full.
    ImagePtr ramp = colourImage(200, 100, [](int p) { return Pixel{p, p, p}; });
    ImagePtr rampRgb = converted(ramp.get(), pxXyz2rgb);
    EXPECT_EQ(rampRgb->maxValue, 255);
    std::vector<int> seen;
    for (int b = 0; b < 3; ++b) seen.insert(seen.end(), rampRgb->bands[b], rampRgb->bands[b] + rampRgb->npixels);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 254), 0);
    EXPECT_GT(std::count(seen.begin(), seen.end(), 255), 0);
    EXPECT_GT(std::count(seen.begin(), seen.end(), 253), 0);

    // White through L*a*b* and L*u*v* and back; the chained conversions end
    // with an RGB maxValue.
    ImagePtr white = colourImage(1, 1, [](int) { return Pixel{255, 255, 255}; });
    for (auto pair : {std::make_pair(pxRgb2lab, pxLab2rgb), std::make_pair(pxRgb2luv, pxLuv2rgb)}) {
        ImagePtr mid = converted(white.get(), pair.first);
        EXPECT_EQ(pixelsOf(mid.get())[0][0], 100);
        ImagePtr again = converted(mid.get(), pair.second);
        EXPECT_EQ(again->maxValue, 255);
        EXPECT_EQ(pixelsOf(again.get())[0], (Pixel{255, 255, 255}));
    }
}

// A grey pixel whose hue is not the undefined 361 stops the conversion: the
// pixels before it are converted, it and all later ones are left as they were.
TEST(Colour, HsvToRgbStopsAtGreyWithDefinedHue)
{
    ImagePtr hsv = colourImage(4, 1, [](int p) {
        const Pixel px[4] = {{0, 16384, 16384}, {361, 0, 8224}, {90, 0, 8224}, {240, 16384, 16384}};
        return px[p];
    });
    ImagePtr dst = colourImage(4, 1, [](int) { return Pixel{-7, -7, -7}; });
    testing::internal::CaptureStderr();
    pxHsv2rgb(hsv.get(), dst.get());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "in hsv2rgb: saturation is 0 and hue is defined!\n");
    EXPECT_EQ(pixelsOf(dst.get()), (std::vector<Pixel>{{255, 0, 0}, {127, 127, 127}, {-7, -7, -7}, {-7, -7, -7}}));
}

// "in xyz2luv" comes once per call of the XYZ to L*u*v* step, whatever the
// size; the way back prints nothing. A pixel with L* = 0 converts to black
// instead of dividing by zero.
TEST(Colour, LuvLineAndZeroLightness)
{
    ImagePtr grid = colourGrid();
    ImagePtr luv(pxCreateImage(3, PX_COLORSPACE, 64, 64));
    ImagePtr rgb(pxCreateImage(3, PX_COLOR8, 64, 64));
    EXPECT_EQ(stdoutOf([&] { pxXyz2luv(grid.get(), luv.get()); }), "in xyz2luv\n");
    EXPECT_EQ(stdoutOf([&] { pxRgb2luv(grid.get(), luv.get()); }), "in xyz2luv\n");
    EXPECT_EQ(stdoutOf([&] { pxLuv2rgb(luv.get(), rgb.get()); }), "");
    EXPECT_EQ(stdoutOf([&] { pxLuv2xyz(luv.get(), rgb.get()); }), "");

    ImagePtr dark = colourImage(2, 1, [](int p) { return p == 0 ? Pixel{0, 5, -7} : Pixel{0, 0, 0}; });
    EXPECT_EQ(pixelsOf(converted(dark.get(), pxLuv2xyz).get()), (std::vector<Pixel>{{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(pixelsOf(converted(dark.get(), pxLuv2rgb).get()), (std::vector<Pixel>{{0, 0, 0}, {0, 0, 0}}));
}

// Images without three bands, or of different sizes, would be read or written
// past their ends: refused as argument errors.
TEST(Colour, MismatchedImagesAreRefused)
{
    ImagePtr rgb(pxCreateImage(3, PX_COLOR8, 4, 4));
    ImagePtr grey(pxCreateImage(1, PX_GREY8, 4, 4));
    ImagePtr small(pxCreateImage(3, PX_COLORSPACE, 4, 3));
    for (void (*convert)(Image *, Image *) : {pxRgb2hsv, pxHsv2rgb, pxRgb2lab, pxLuv2rgb, pxYcbcr2rgb}) {
        EXPECT_EQ(fatalKindOf([&] { convert(rgb.get(), grey.get()); }), PX_FATAL_ARGUMENT);
        EXPECT_EQ(fatalKindOf([&] { convert(grey.get(), rgb.get()); }), PX_FATAL_ARGUMENT);
        EXPECT_EQ(fatalKindOf([&] { convert(rgb.get(), small.get()); }), PX_FATAL_ARGUMENT);
    }
}

// The conversions that work several pixels a step and on threads, against
// the plain formulas and against one thread, on random images of awkward
// sizes (one row, one column, stripes shorter than a step or a block) whose
// blocks mix 8-bit values with wider, larger and negative ones, so that every
// path and every change of path is crossed.
TEST(Colour, ForwardConversionsMatchPlainFormulasOnAnyThreadCount)
{
    std::mt19937 rng(23);
    auto randomImage = [&](int ncols, int nrows) {
        std::uniform_int_distribution<int> byte(0, 255), wide(0, 100000), low(-1000, -1), kind(0, 63);
        int mode = 0;
        return colourImage(ncols, nrows, [&](int p) {
            if (p % 97 == 0) mode = kind(rng);  // runs of one kind of value
            auto v = [&] { return mode < 56 ? byte(rng) : mode < 60 ? wide(rng) : mode < 62 ? low(rng) : byte(rng) * 8; };
            return Pixel{v(), v(), v()};
        });
    };
    auto composed = [](Pixel (*f)(int, int, int), Pixel (*g)(int, int, int)) {
        return [f, g](int a, int b, int c) {
            Pixel m = f(a, b, c);
            return g(m[0], m[1], m[2]);
        };
    };
    const std::vector<std::pair<void (*)(Image *, Image *), std::function<Pixel(int, int, int)>>> forward = {
        {pxRgb2hsv, plainRgb2hsv},
        {pxRgb2xyz, plainRgb2xyz},
        {pxRgb2lab, composed(plainRgb2xyz, plainXyz2lab)},
        {pxRgb2luv, composed(plainRgb2xyz, plainXyz2luv)},
        {pxRgb2ycbcr, plainRgb2ycbcr},
    };
    for (auto size : {std::make_pair(40001, 1), std::make_pair(1, 40001), std::make_pair(13337, 3),
                      std::make_pair(7, 5)}) {
        ImagePtr src = randomImage(size.first, size.second);
        for (const auto &f : forward) {
            ImagePtr one;
            {
                ScopedThreads scoped(1);
                one = converted(src.get(), f.first);
                expectMatchesPlain("forward", src.get(), f.first, f.second);
            }
            for (int threads : threadCountsToCompare()) {
                ScopedThreads scoped(threads);
                ImagePtr many = converted(src.get(), f.first);
                EXPECT_EQ(pixelsOf(many.get()), pixelsOf(one.get())) << threads << " threads";
            }
            // In place: the source is read before its pixels are overwritten.
            ScopedThreads scoped(3);
            ImagePtr copy(pxCopyImage(src.get()));
            testing::internal::CaptureStdout();
            f.first(copy.get(), copy.get());
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(pixelsOf(copy.get()), pixelsOf(one.get()));
        }
    }
}
