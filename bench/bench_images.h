#pragma once
// The benchmark inputs, made in memory and deterministically from
// data/camera.pgm: a 4096 x 4096 tiling of 8 x 8 copies, and a 4096 x 4096
// bilinear upscaling by 8 (integer arithmetic, pixel centres aligned).

#include <algorithm>
#include <cstdlib>
#include <string>

#include "pxIO.h"
#include "pxImage.h"

namespace bench_images {

inline Image *loadCamera()
{
    Image *cam = nullptr;
    pxReadImage((std::string(PX_DATA_DIR) + "/camera.pgm").c_str(), &cam);
    return cam;
}

// 8 x 8 copies of the source side by side.
inline Image *tiled(const Image *src, int factor = 8)
{
    Image *out = pxCreateImage(1, PX_GREY8, src->ncols * factor, src->nrows * factor);
    for (int y = 0; y < out->nrows; ++y)
        for (int x = 0; x < out->ncols; ++x)
            out->bands[0][y * out->ncols + x] =
                src->bands[0][(y % src->nrows) * src->ncols + x % src->ncols];
    out->maxValue = 255;
    return out;
}

// Bilinear interpolation by `factor` (a power of two up to 8): the output pixel
// centre X + 1/2 maps to the source position (X + 1/2) / factor - 1/2, clamped
// to the source, with weights in sixteenths.
inline Image *upscaled(const Image *src, int factor = 8)
{
    Image *out = pxCreateImage(1, PX_GREY8, src->ncols * factor, src->nrows * factor);
    const int unit = 16, step = unit / factor;
    auto coord = [&](int X, int n, int &i0, int &i1, int &f) {
        int s = (2 * X + 1) * step / 2 - unit / 2;  // source position in sixteenths
        s = std::max(s, 0);
        i0 = std::min(s / unit, n - 1);
        i1 = std::min(i0 + 1, n - 1);
        f = s % unit;
    };
    for (int Y = 0; Y < out->nrows; ++Y) {
        int y0, y1, fy;
        coord(Y, src->nrows, y0, y1, fy);
        for (int X = 0; X < out->ncols; ++X) {
            int x0, x1, fx;
            coord(X, src->ncols, x0, x1, fx);
            const int *r0 = src->bands[0] + y0 * src->ncols;
            const int *r1 = src->bands[0] + y1 * src->ncols;
            int v = (unit - fx) * (unit - fy) * r0[x0] + fx * (unit - fy) * r0[x1] +
                    (unit - fx) * fy * r1[x0] + fx * fy * r1[x1];
            out->bands[0][Y * out->ncols + X] = (v + unit * unit / 2) / (unit * unit);
        }
    }
    out->maxValue = 255;
    return out;
}

} // namespace bench_images
