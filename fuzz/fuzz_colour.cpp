// Differential target for the colour-space conversions: each against its
// formula written out per pixel (the unit tests' plain versions), into a new
// image and in place. The first byte picks the conversion, the next the range
// the components come from: the space's own, 8-bit, 16-bit or far outside.

#include <functional>

#include "decode.h"
#include "reference/colour.h"

namespace {

using namespace fuzz;
using namespace straight;

using Plain = std::function<Pixel(int, int, int)>;

Plain composed(Pixel (*f)(int, int, int), Pixel (*g)(int, int, int))
{
    return [f, g](int a, int b, int c) {
        Pixel m = f(a, b, c);
        return g(m[0], m[1], m[2]);
    };
}

struct Conversion {
    void (*convert)(Image *, Image *);
    Plain plain;
    Pixel lo, hi;  // the space's own range
    bool wild;     // values far outside any range have a formula too
};

const Conversion &conversion(int k)
{
    static const Conversion all[] = {
        {pxRgb2hsv, plainRgb2hsv, {0, 0, 0}, {255, 255, 255}, false},
        {pxHsv2rgb, plainHsv2rgb, {0, 0, 0}, {362, 16384, 16384}, false},
        {pxRgb2xyz, plainRgb2xyz, {0, 0, 0}, {255, 255, 255}, true},
        {pxXyz2rgb, plainXyz2rgb, {0, 0, 0}, {18000, 18000, 18000}, true},
        {pxXyz2lab, plainXyz2lab, {0, 0, 0}, {18000, 18000, 18000}, true},
        {pxLab2xyz, plainLab2xyz, {0, -120, -120}, {100, 120, 120}, true},
        {pxXyz2luv, plainXyz2luv, {0, 0, 0}, {18000, 18000, 18000}, true},
        {pxLuv2xyz, plainLuv2xyz, {0, -100, -140}, {100, 180, 110}, true},
        {pxRgb2lab, composed(plainRgb2xyz, plainXyz2lab), {0, 0, 0}, {255, 255, 255}, true},
        {pxLab2rgb, composed(plainLab2xyz, plainXyz2rgb), {0, -120, -120}, {100, 120, 120}, true},
        {pxRgb2luv, composed(plainRgb2xyz, plainXyz2luv), {0, 0, 0}, {255, 255, 255}, true},
        {pxLuv2rgb, composed(plainLuv2xyz, plainXyz2rgb), {0, -100, -140}, {100, 180, 110}, true},
        {pxRgb2ycbcr, plainRgb2ycbcr, {0, 0, 0}, {255, 255, 255}, true},
        {pxYcbcr2rgb, plainYcbcr2rgb, {0, 0, 0}, {255, 255, 255}, true},
    };
    return all[k % (sizeof all / sizeof all[0])];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    const Conversion &c = conversion(in.byte());
    Pixel lo = c.lo, hi = c.hi;
    const int range = in.byte() % 4;
    if (range == 1) lo = {0, 0, 0}, hi = {255, 255, 255};
    if (range == 2) lo = {0, 0, 0}, hi = {65535, 65535, 65535};
    if (range == 3 && c.wild) lo = {-3000000, -3000000, -3000000}, hi = {3000000, 3000000, 3000000};

    // A palette of up to 8 colours, a byte per pixel choosing one.
    const int ncols = side(in);
    int nrows = side(in);
    if (ncols * nrows > 4096) nrows = 4096 / ncols;
    const int ncolours = 1 + in.byte() % 8;
    std::vector<Pixel> palette(ncolours, Pixel(3));
    for (Pixel &colour : palette)
        for (int k = 0; k < 3; ++k) colour[k] = in.range(lo[k], hi[k]);
    testing_support::ImagePtr src(pxCreateImage(3, range == 1 ? PX_COLOR8 : PX_COLORSPACE, ncols, nrows));
    for (int p = 0; p < src->npixels; ++p) {
        const Pixel &colour = palette[in.byte() % ncolours];
        for (int k = 0; k < 3; ++k) src.at(p, k) = colour[k];
    }

    testing_support::ImagePtr dst(pxCreateImage(3, PX_COLORSPACE, ncols, nrows)), inPlace(pxCopyImage(src.get()));
    c.convert(src.get(), dst.get());
    c.convert(inPlace.get(), inPlace.get());
    // HSV to RGB leaves a pixel with a hue above 360 as it was, and stops at
    // the first grey with a defined hue: that pixel and the later ones too.
    bool stopped = false;
    for (int p = 0; p < src->npixels; ++p) {
        const int a = src.at(p, 0), b = src.at(p, 1), v = src.at(p, 2);
        bool untouched = false;
        if (c.convert == pxHsv2rgb) {
            stopped = stopped || (b == 0 && a != 361);
            untouched = stopped || (b != 0 && a > 360);
        }
        const Pixel want = untouched ? Pixel{0, 0, 0} : c.plain(a, b, v);
        const Pixel got{dst.at(p, 0), dst.at(p, 1), dst.at(p, 2)};
        same(got, want, "conversion into a new image");
        const Pixel kept = untouched ? Pixel{a, b, v} : want;
        same(Pixel{inPlace.at(p, 0), inPlace.at(p, 1), inPlace.at(p, 2)}, kept, "conversion in place");
    }
    return 0;
}
