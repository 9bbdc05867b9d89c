#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

// ---- The conversions written plainly, one pixel at a time ----------------

using Pixel = std::vector<int>;  // three components

// Truncation towards zero; results beyond int saturate, as the library's do.
int cut(double v) { return v >= 2147483647.0 ? INT_MAX : v <= -2147483648.0 ? INT_MIN : static_cast<int>(v); }

Pixel plainRgb2hsv(int r, int g, int b)
{
    int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    int V = mx * 16384 / 255;
    int S = mx == 0 ? 0 : (mx - mn) * 16384 / mx;
    if (S == 0) return {361, S, V};
    double d = mx - mn, h;
    if (r == mx) h = (g - b) / d;
    else if (g == mx) h = (b - r) / d + 2;
    else h = (r - g) / d + 4;
    h = 60 * h;
    if (h < 0) h = h + 360;
    return {cut(std::nearbyint(h)), S, V};
}

// For a destination created zero: a hue above 360 leaves the pixel so.
Pixel plainHsv2rgb(int H, int S, int V)
{
    if (S == 0) return {V * 255 / 16384, V * 255 / 16384, V * 255 / 16384};
    if (H > 360) return {0, 0, 0};
    double s = S / 16384.0, v = V / 16384.0, h = (H == 360 ? 0 : H) / 60.0;
    int i = cut(std::floor(h));
    double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    double rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    return {cut(rgb[i][0] * 255), cut(rgb[i][1] * 255), cut(rgb[i][2] * 255)};
}

Pixel plainRgb2xyz(int r, int g, int b)
{
    double X = (0.412453 * r + 0.35758 * g + 0.180423 * b) * 16384 / 255;
    double Y = (0.212671 * r + 0.71516 * g + 0.072169 * b) * 16384 / 255;
    double Z = (0.019334 * r + 0.119193 * g + 0.950227 * b) * 16384 / 255;
    return {cut(X), cut(Y), cut(Z)};
}

Pixel plainXyz2rgb(int X, int Y, int Z)
{
    double x = X / 16384.0, y = Y / 16384.0, z = Z / 16384.0;
    double c[3] = {3.240479 * x - 1.53715 * y - 0.498535 * z, -0.969256 * x + 1.875992 * y + 0.041556 * z,
                   0.055648 * x - 0.204043 * y + 1.057311 * z};
    Pixel out;
    for (double v : c) {
        if (v < 0.005) v = 0;
        if (v > 0.995) v = 1;
        out.push_back(cut(v * 255));
    }
    return out;
}

double plainLabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 0.137931; }

Pixel plainXyz2lab(int X, int Y, int Z)
{
    double x = X / 16384.0, y = Y / 16384.0, z = Z / 16384.0;
    double L = 116 * plainLabF(y) - 16;
    double a = 500 * (plainLabF(x / 0.950456) - plainLabF(y));
    double b = 200 * (plainLabF(y) - plainLabF(z / 1.088754));
    return {cut(L), cut(a), cut(b)};
}

Pixel plainLab2xyz(int L, int a, int b)
{
    double fy = L < 8 ? std::cbrt(L / 903.3) : (L + 16) / 116.0;
    double fx = fy + a / 500.0, fz = fy - b / 200.0;
    return {cut(fx * fx * fx * 15572.271104), cut(fy * fy * fy * 16384),
            cut(fz * fz * fz * 17838.145536)};
}

Pixel plainXyz2luv(int X, int Y, int Z)
{
    double y = Y / 16384.0;
    int L = cut(y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y);
    double d = X + 15.0 * Y + 3.0 * Z, u = 0, v = 0;
    if (std::fabs(d) > 0.005) {
        u = 4.0 * X / d;
        v = 9.0 * Y / d;
    }
    return {L, cut(13.0 * L * (u - 0.1978394)), cut(13.0 * L * (v - 0.4683422))};
}

Pixel plainLuv2xyz(int L, int u, int v)
{
    if (L == 0) return {0, 0, 0};
    double up = u / (13.0 * L) + 0.1978394, vp = v / (13.0 * L) + 0.4683422;
    double t = (L + 16) / 116.0;
    int Y = cut(t * t * t * 16384), X = 0, Z = 0;
    if (3 * std::fabs(vp) > 0.005) {
        X = cut(9.0 * Y * up / (4 * vp));
        Z = cut(3.0 * Y / vp - X / 3.0 - 5.0 * Y);
    }
    return {X, Y, Z};
}

Pixel plainRgb2ycbcr(int r, int g, int b)
{
    return {cut(0.299 * r + 0.587 * g + 0.114 * b),
            cut((-37.797 * r - 74.203 * g + 112.0 * b) / 255 + 128),
            cut((112.0 * r - 93.786 * g - 18.214 * b) / 255 + 128)};
}

Pixel plainYcbcr2rgb(int Y, int Cb, int Cr)
{
    double y = Y - 16, cb = Cb - 128, cr = Cr - 128;
    return {cut(255 * (0.00456621 * y + 0.00625893 * cr)),
            cut(255 * (0.00456621 * y - 0.00153632 * cb - 0.00318811 * cr)),
            cut(255 * (0.00456621 * y + 0.00791071 * cb))};
}

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
