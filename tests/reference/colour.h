#pragma once
// The colour conversions written plainly, one pixel at a time.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "reference/common.h"

namespace straight {

// ---- The conversions written plainly, one pixel at a time ----------------

using Pixel = std::vector<int>;  // three components

// Truncation towards zero; results beyond int saturate, as the library's do.
inline int cut(double v) { return v >= 2147483647.0 ? INT_MAX : v <= -2147483648.0 ? INT_MIN : static_cast<int>(v); }

inline Pixel plainRgb2hsv(int r, int g, int b)
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
inline Pixel plainHsv2rgb(int H, int S, int V)
{
    if (S == 0) return {V * 255 / 16384, V * 255 / 16384, V * 255 / 16384};
    if (H > 360) return {0, 0, 0};
    double s = S / 16384.0, v = V / 16384.0, h = (H == 360 ? 0 : H) / 60.0;
    int i = cut(std::floor(h));
    double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    double rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    return {cut(rgb[i][0] * 255), cut(rgb[i][1] * 255), cut(rgb[i][2] * 255)};
}

inline Pixel plainRgb2xyz(int r, int g, int b)
{
    double X = (0.412453 * r + 0.35758 * g + 0.180423 * b) * 16384 / 255;
    double Y = (0.212671 * r + 0.71516 * g + 0.072169 * b) * 16384 / 255;
    double Z = (0.019334 * r + 0.119193 * g + 0.950227 * b) * 16384 / 255;
    return {cut(X), cut(Y), cut(Z)};
}

inline Pixel plainXyz2rgb(int X, int Y, int Z)
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

inline double plainLabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 0.137931; }

inline Pixel plainXyz2lab(int X, int Y, int Z)
{
    double x = X / 16384.0, y = Y / 16384.0, z = Z / 16384.0;
    double L = 116 * plainLabF(y) - 16;
    double a = 500 * (plainLabF(x / 0.950456) - plainLabF(y));
    double b = 200 * (plainLabF(y) - plainLabF(z / 1.088754));
    return {cut(L), cut(a), cut(b)};
}

inline Pixel plainLab2xyz(int L, int a, int b)
{
    double fy = L < 8 ? std::cbrt(L / 903.3) : (L + 16) / 116.0;
    double fx = fy + a / 500.0, fz = fy - b / 200.0;
    return {cut(fx * fx * fx * 15572.271104), cut(fy * fy * fy * 16384),
            cut(fz * fz * fz * 17838.145536)};
}

inline Pixel plainXyz2luv(int X, int Y, int Z)
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

inline Pixel plainLuv2xyz(int L, int u, int v)
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

inline Pixel plainRgb2ycbcr(int r, int g, int b)
{
    return {cut(0.299 * r + 0.587 * g + 0.114 * b),
            cut((-37.797 * r - 74.203 * g + 112.0 * b) / 255 + 128),
            cut((112.0 * r - 93.786 * g - 18.214 * b) / 255 + 128)};
}

inline Pixel plainYcbcr2rgb(int Y, int Cb, int Cr)
{
    double y = Y - 16, cb = Cb - 128, cr = Cr - 128;
    return {cut(255 * (0.00456621 * y + 0.00625893 * cr)),
            cut(255 * (0.00456621 * y - 0.00153632 * cb - 0.00318811 * cr)),
            cut(255 * (0.00456621 * y + 0.00791071 * cb))};
}

} // namespace straight
