// Colour-space conversions of 3-band integer images: RGB to and from HSV
// (the hexcone model), CIE XYZ, CIE 1976 L*a*b* and L*u*v* (D65 white, BT.709
// primaries taken as linear) and BT.601 YCbCr.
//
// Every result is a double computed in the order its formula is written and
// then truncated towards zero: reassociating a sum or replacing a cube root
// by a power can move a truncated value by one, so the arithmetic below is
// spelled out term by term on purpose. The conversions through XYZ keep the
// three per-band functions of the integer X, Y and Z in tables when the
// values span a short range, which gives the very doubles the formula would.

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "../pxImage.h"
#include "detail.h"

namespace {

// Fixed point of HSV's S and V and of XYZ: 16384 stands for 1.0.
constexpr int FIXED_ONE = 16384;
constexpr double FIXED_ONE_D = 16384.0;
// The hue of a grey pixel.
constexpr int HUE_UNDEFINED = 361;

// D65 white point.
constexpr double WHITE_X = 0.950456;
constexpr double WHITE_Z = 1.088754;
// The white point in XYZ's fixed point (exactly WHITE_X * 16384, WHITE_Z * 16384).
constexpr double WHITE_X_FIXED = 15572.271104;
constexpr double WHITE_Z_FIXED = 17838.145536;
// u' and v' of the white point.
constexpr double WHITE_U = 0.1978394;
constexpr double WHITE_V = 0.4683422;

// Truncation towards zero; a value outside int (possible only for inputs far
// outside their space's range) saturates instead of being undefined.
inline int truncated(double v)
{
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    if (v != v) return 0;
    return static_cast<int>(v);
}

// Both images must have three bands of the same size, or the loops would run
// past one of them.
void checkPair(const char *name, const Image *src, const Image *dst)
{
    if (src->nbands < 3 || dst->nbands < 3)
        px::fatal(PX_FATAL_ARGUMENT, "%s: both images need 3 bands (source %d, destination %d)\n", name,
                  src->nbands, dst->nbands);
    if (src->ncols != dst->ncols || src->nrows != dst->nrows)
        px::fatal(PX_FATAL_ARGUMENT, "%s: source is %d x %d but destination is %d x %d\n", name, src->ncols,
                  src->nrows, dst->ncols, dst->nrows);
}

// Runs convert(a, b, c, out) on every pixel, reading bands 0..2 of src and
// writing bands 0..2 of dst. The source bands are read before any destination
// band is written, so src may be dst.
template <class F>
void perPixel(Image *src, Image *dst, F convert)
{
    const int *a = src->bands[0], *b = src->bands[1], *c = src->bands[2];
    int *x = dst->bands[0], *y = dst->bands[1], *z = dst->bands[2];
    const int n = src->npixels;
    for (int p = 0; p < n; ++p) {
        int out[3];
        convert(a[p], b[p], c[p], out);
        x[p] = out[0];
        y[p] = out[1];
        z[p] = out[2];
    }
}

// The smallest and largest value of a band (lo > hi for no pixels).
void bandSpan(const int *band, int n, int &lo, int &hi)
{
    lo = INT_MAX;
    hi = INT_MIN;
    for (int p = 0; p < n; ++p) {
        lo = band[p] < lo ? band[p] : lo;
        hi = band[p] > hi ? band[p] : hi;
    }
}

// f(v) for integer values v in lo .. hi: from a table when that span is short
// next to the pixel count n, else computed each time.
class BandFunction {
public:
    template <class F>
    BandFunction(int lo, int hi, int n, F f)
    {
        if (lo > hi) return;
        const long long span = static_cast<long long>(hi) - lo + 1;
        if (span > MAX_TABLE || span > 4LL * n + 4096) return;
        lo_ = lo;
        table_ = px::buffer<double>(static_cast<std::size_t>(span));
        for (long long i = 0; i < span; ++i) table_[i] = f(static_cast<int>(lo + i));
    }

    // Over the values of one band.
    template <class F>
    static BandFunction overBand(const int *band, int n, F f)
    {
        int lo, hi;
        bandSpan(band, n, lo, hi);
        return BandFunction(lo, hi, n, f);
    }

    bool tabled() const { return !table_.empty(); }
    // Only when tabled(); v must lie in the span the table was built on.
    double operator[](int v) const { return table_[static_cast<std::size_t>(static_cast<long long>(v) - lo_)]; }

private:
    static constexpr long long MAX_TABLE = 1 << 20;
    int lo_ = 0;
    std::vector<double> table_;
};

// ---- The per-pixel formulas ------------------------------------------------

// The L*a*b* companding function of a value already divided by its white.
inline double labF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 0.137931; }

inline double labFx(int X) { return labF(X / FIXED_ONE_D / WHITE_X); }
inline double labFy(int Y) { return labF(Y / FIXED_ONE_D); }
inline double labFz(int Z) { return labF(Z / FIXED_ONE_D / WHITE_Z); }

// L* of an XYZ luminance, truncated.
inline int luvLightness(int Y)
{
    double y = Y / FIXED_ONE_D;
    return truncated(y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y);
}

inline void rgbToXyz(int r, int g, int b, int out[3])
{
    out[0] = truncated((0.412453 * r + 0.35758 * g + 0.180423 * b) * 16384 / 255);
    out[1] = truncated((0.212671 * r + 0.71516 * g + 0.072169 * b) * 16384 / 255);
    out[2] = truncated((0.019334 * r + 0.119193 * g + 0.950227 * b) * 16384 / 255);
}

// One channel of XYZ to RGB: below 0.005 is black, above 0.995 full, so no
// channel is ever 254.
inline int rgbChannel(double v)
{
    if (v < 0.005) v = 0;
    else if (v > 0.995) v = 1;
    return truncated(v * 255);
}

inline void xyzToRgb(int X, int Y, int Z, int out[3])
{
    double x = X / FIXED_ONE_D, y = Y / FIXED_ONE_D, z = Z / FIXED_ONE_D;
    out[0] = rgbChannel(3.240479 * x - 1.53715 * y - 0.498535 * z);
    out[1] = rgbChannel(-0.969256 * x + 1.875992 * y + 0.041556 * z);
    out[2] = rgbChannel(0.055648 * x - 0.204043 * y + 1.057311 * z);
}

inline void labToXyz(int L, int a, int b, int out[3])
{
    double fy = L < 8 ? std::cbrt(L / 903.3) : (L + 16) / 116.0;
    double fx = fy + a / 500.0;
    double fz = fy - b / 200.0;
    out[0] = truncated(fx * fx * fx * WHITE_X_FIXED);
    out[1] = truncated(fy * fy * fy * FIXED_ONE_D);
    out[2] = truncated(fz * fz * fz * WHITE_Z_FIXED);
}

// u* and v* from the stored L* and the integer XYZ; a chromaticity whose
// denominator is zero counts as (0, 0).
inline void luvChroma(int L, int X, int Y, int Z, int out[3])
{
    double d = static_cast<double>(static_cast<long long>(X) + 15LL * Y + 3LL * Z);
    double u = 0, v = 0;
    if (std::fabs(d) > 0.005) {
        u = 4.0 * X / d;
        v = 9.0 * Y / d;
    }
    out[0] = L;
    out[1] = truncated(13.0 * L * (u - WHITE_U));
    out[2] = truncated(13.0 * L * (v - WHITE_V));
}

// L* = 0 would divide by zero: such a pixel is black.
inline void luvToXyz(int L, int u, int v, int out[3])
{
    if (L == 0) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    double up = u / (13.0 * L) + WHITE_U;
    double vp = v / (13.0 * L) + WHITE_V;
    double t = (L + 16) / 116.0;
    int Y = truncated(t * t * t * FIXED_ONE_D);
    int X = 0, Z = 0;
    if (3 * std::fabs(vp) > 0.005) {
        X = truncated(9.0 * Y * up / (4 * vp));
        Z = truncated(3.0 * Y / vp - X / 3.0 - 5.0 * Y);
    }
    out[0] = X;
    out[1] = Y;
    out[2] = Z;
}

// The temporary XYZ image of a chained conversion, released on every way out.
struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using OwnedImage = std::unique_ptr<Image, ImageDeleter>;

OwnedImage xyzTemporary(const Image *src)
{
    return OwnedImage(px::newImage(3, PX_COLORSPACE, src->ncols, src->nrows));
}

// L*a*b* from the companded x / Xn, y and z / Zn.
inline void labFromF(double x, double y, double z, int out[3])
{
    out[0] = truncated(116 * y - 16);
    out[1] = truncated(500 * (x - y));
    out[2] = truncated(200 * (y - z));
}

void xyzToLab(Image *src, Image *dst)
{
    const BandFunction fx = BandFunction::overBand(src->bands[0], src->npixels, labFx);
    const BandFunction fy = BandFunction::overBand(src->bands[1], src->npixels, labFy);
    const BandFunction fz = BandFunction::overBand(src->bands[2], src->npixels, labFz);
    if (fx.tabled() && fy.tabled() && fz.tabled())
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(fx[X], fy[Y], fz[Z], out); });
    else
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(labFx(X), labFy(Y), labFz(Z), out); });
}

void xyzToLuv(Image *src, Image *dst)
{
    px::message("in xyz2luv\n");
    const BandFunction lightness =
        BandFunction::overBand(src->bands[1], src->npixels, [](int Y) { return static_cast<double>(luvLightness(Y)); });
    if (lightness.tabled())
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) {
            luvChroma(static_cast<int>(lightness[Y]), X, Y, Z, out);
        });
    else
        perPixel(src, dst, [](int X, int Y, int Z, int out[3]) { luvChroma(luvLightness(Y), X, Y, Z, out); });
}

// The XYZ of every pixel of an RGB image lies between the XYZ of its band
// minima and that of its band maxima: each component grows with r, g and b
// (positive coefficients, and rounding keeps order).
void xyzBounds(const Image *rgb, int lo[3], int hi[3])
{
    int rgbLo[3], rgbHi[3];
    for (int b = 0; b < 3; ++b) bandSpan(rgb->bands[b], rgb->npixels, rgbLo[b], rgbHi[b]);
    rgbToXyz(rgbLo[0], rgbLo[1], rgbLo[2], lo);
    rgbToXyz(rgbHi[0], rgbHi[1], rgbHi[2], hi);
}

// RGB to XYZ into xyz and, in the same pass, on to dst by then(X, Y, Z, out).
template <class Then>
void throughXyz(Image *src, Image *xyz, Image *dst, Then then)
{
    const int *r = src->bands[0], *g = src->bands[1], *b = src->bands[2];
    int *X = xyz->bands[0], *Y = xyz->bands[1], *Z = xyz->bands[2];
    int *o0 = dst->bands[0], *o1 = dst->bands[1], *o2 = dst->bands[2];
    for (int p = 0; p < src->npixels; ++p) {
        int m[3], out[3];
        rgbToXyz(r[p], g[p], b[p], m);
        X[p] = m[0];
        Y[p] = m[1];
        Z[p] = m[2];
        then(m[0], m[1], m[2], out);
        o0[p] = out[0];
        o1[p] = out[1];
        o2[p] = out[2];
    }
}

void rgbToLab(Image *src, Image *xyz, Image *dst)
{
    int lo[3], hi[3];
    xyzBounds(src, lo, hi);
    const int n = src->npixels;
    const BandFunction fx(lo[0], hi[0], n, labFx), fy(lo[1], hi[1], n, labFy), fz(lo[2], hi[2], n, labFz);
    if (fx.tabled() && fy.tabled() && fz.tabled()) {
        throughXyz(src, xyz, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(fx[X], fy[Y], fz[Z], out); });
        return;
    }
    perPixel(src, xyz, rgbToXyz);
    xyzToLab(xyz, dst);
}

void rgbToLuv(Image *src, Image *xyz, Image *dst)
{
    int lo[3], hi[3];
    xyzBounds(src, lo, hi);
    const BandFunction lightness(lo[1], hi[1], src->npixels,
                                 [](int Y) { return static_cast<double>(luvLightness(Y)); });
    if (lightness.tabled()) {
        px::message("in xyz2luv\n");
        throughXyz(src, xyz, dst, [&](int X, int Y, int Z, int out[3]) {
            luvChroma(static_cast<int>(lightness[Y]), X, Y, Z, out);
        });
        return;
    }
    perPixel(src, xyz, rgbToXyz);
    xyzToLuv(xyz, dst);
}

} // namespace

extern "C" {

void pxRgb2hsv(Image *src, Image *dst)
{
    checkPair("pxRgb2hsv", src, dst);
    perPixel(src, dst, [](int r, int g, int b, int out[3]) {
        // The larger of r and g (g on a tie) is the first guess at the maximum.
        int mx = r, mn = g;
        if (!(r > g)) {
            mx = g;
            mn = r;
        }
        if (b > mx) mx = b;
        else if (b < mn) mn = b;
        const long long range = static_cast<long long>(mx) - mn;
        const int V = static_cast<int>(static_cast<long long>(mx) * FIXED_ONE / 255);
        const int S = mx == 0 ? 0 : static_cast<int>(range * FIXED_ONE / mx);
        int H = HUE_UNDEFINED;
        if (S != 0) {
            const double d = static_cast<double>(range);
            double h;
            if (r == mx) h = static_cast<double>(static_cast<long long>(g) - b) / d;
            else if (g == mx) h = static_cast<double>(static_cast<long long>(b) - r) / d + 2;
            else h = static_cast<double>(static_cast<long long>(r) - g) / d + 4;
            h = 60 * h;
            if (h < 0) h += 360;
            H = truncated(std::nearbyint(h));
        }
        out[0] = H;
        out[1] = S;
        out[2] = V;
    });
}

void pxHsv2rgb(Image *src, Image *dst)
{
    checkPair("pxHsv2rgb", src, dst);
    const int *hue = src->bands[0], *sat = src->bands[1], *val = src->bands[2];
    int *r = dst->bands[0], *g = dst->bands[1], *b = dst->bands[2];
    for (int p = 0; p < src->npixels; ++p) {
        const int H = hue[p], S = sat[p], V = val[p];
        if (S == 0) {
            // A grey pixel must carry the undefined hue; anything else means
            // the image is not HSV, and nothing more of it is converted.
            if (H != HUE_UNDEFINED) {
                std::fputs("in hsv2rgb: saturation is 0 and hue is defined!\n", stderr);
                return;
            }
            r[p] = g[p] = b[p] = static_cast<int>(static_cast<long long>(V) * 255 / FIXED_ONE);
            continue;
        }
        const double s = S / FIXED_ONE_D, v = V / FIXED_ONE_D;
        const double h = (H == 360 ? 0 : H) / 60.0;
        const double i = std::floor(h);
        const double f = h - i;
        const double pv = v * (1 - s), qv = v * (1 - s * f), tv = v * (1 - s * (1 - f));
        double rgb[3];
        switch (static_cast<int>(i)) {
        case 0: rgb[0] = v, rgb[1] = tv, rgb[2] = pv; break;
        case 1: rgb[0] = qv, rgb[1] = v, rgb[2] = pv; break;
        case 2: rgb[0] = pv, rgb[1] = v, rgb[2] = tv; break;
        case 3: rgb[0] = pv, rgb[1] = qv, rgb[2] = v; break;
        case 4: rgb[0] = tv, rgb[1] = pv, rgb[2] = v; break;
        case 5: rgb[0] = v, rgb[1] = pv, rgb[2] = qv; break;
        default: continue;  // a hue outside 0 .. 360 leaves the pixel as it was
        }
        r[p] = truncated(rgb[0] * 255);
        g[p] = truncated(rgb[1] * 255);
        b[p] = truncated(rgb[2] * 255);
    }
}

void pxRgb2xyz(Image *src, Image *dst)
{
    checkPair("pxRgb2xyz", src, dst);
    perPixel(src, dst, rgbToXyz);
}

void pxXyz2rgb(Image *src, Image *dst)
{
    checkPair("pxXyz2rgb", src, dst);
    perPixel(src, dst, xyzToRgb);
    dst->maxValue = 255;
}

void pxXyz2lab(Image *src, Image *dst)
{
    checkPair("pxXyz2lab", src, dst);
    xyzToLab(src, dst);
}

void pxLab2xyz(Image *src, Image *dst)
{
    checkPair("pxLab2xyz", src, dst);
    perPixel(src, dst, labToXyz);
}

void pxXyz2luv(Image *src, Image *dst)
{
    checkPair("pxXyz2luv", src, dst);
    xyzToLuv(src, dst);
}

void pxLuv2xyz(Image *src, Image *dst)
{
    checkPair("pxLuv2xyz", src, dst);
    perPixel(src, dst, luvToXyz);
}

void pxRgb2lab(Image *src, Image *dst)
{
    checkPair("pxRgb2lab", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    rgbToLab(src, xyz.get(), dst);
}

void pxLab2rgb(Image *src, Image *dst)
{
    checkPair("pxLab2rgb", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), labToXyz);
    pxXyz2rgb(xyz.get(), dst);
}

void pxRgb2luv(Image *src, Image *dst)
{
    checkPair("pxRgb2luv", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    rgbToLuv(src, xyz.get(), dst);
}

void pxLuv2rgb(Image *src, Image *dst)
{
    checkPair("pxLuv2rgb", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), luvToXyz);
    pxXyz2rgb(xyz.get(), dst);
}

void pxRgb2ycbcr(Image *src, Image *dst)
{
    checkPair("pxRgb2ycbcr", src, dst);
    perPixel(src, dst, [](int r, int g, int b, int out[3]) {
        out[0] = truncated(0.299 * r + 0.587 * g + 0.114 * b);
        out[1] = truncated((-37.797 * r - 74.203 * g + 112.0 * b) / 255 + 128);
        out[2] = truncated((112.0 * r - 93.786 * g - 18.214 * b) / 255 + 128);
    });
}

// The studio-range inverse: Y is read as 16 .. 235 luma, so this is not the
// exact inverse of pxRgb2ycbcr, and values are stored without clamping.
void pxYcbcr2rgb(Image *src, Image *dst)
{
    checkPair("pxYcbcr2rgb", src, dst);
    perPixel(src, dst, [](int Y, int Cb, int Cr, int out[3]) {
        const double y = static_cast<double>(static_cast<long long>(Y) - 16);
        const double cb = static_cast<double>(static_cast<long long>(Cb) - 128);
        const double cr = static_cast<double>(static_cast<long long>(Cr) - 128);
        out[0] = truncated(255 * (0.00456621 * y + 0.00625893 * cr));
        out[1] = truncated(255 * (0.00456621 * y - 0.00153632 * cb - 0.00318811 * cr));
        out[2] = truncated(255 * (0.00456621 * y + 0.00791071 * cb));
    });
}

} // extern "C"
