// Pixel-wise and binary operations: thresholds, masks, negatives, envelopes,
// grey shifts and differences, candidate extrema, borders, disc painting,
// colour overlays, the histogram and a console dump of a window.
//
// Every operation that returns an image creates it with pxCreateImage and
// hands out null when that fails (pxCreateImage has printed its message).
// Sums and differences that can leave the int range saturate at its ends.

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../pxImage.h"
#include "detail.h"
#include "parallel.h"

namespace {

constexpr int WHITE = 255;

int saturate(long long v)
{
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// Pixels worth a thread of their own.
constexpr int PIXELS_PER_TASK = 1 << 16;

// f(begin, end) over [0, n) cut into ranges for the library's threads.
template <class F>
void inRanges(int n, F f)
{
    pxParallelRanges(n, PIXELS_PER_TASK, [&](int begin, int end, int) { f(begin, end); });
}

// f(y0, y1) over the rows of img, cut into stripes for the library's threads.
template <class F>
void inStripes(const Image *img, F f)
{
    const int rows = std::max(1, PIXELS_PER_TASK / std::max(img->ncols, 1));
    pxParallelRanges(img->nrows, rows, [&](int y0, int y1, int) { f(y0, y1); });
}

// top = max(top, v), from any thread.
void raise(std::atomic<int> &top, int v)
{
    int seen = top.load();
    while (v > seen && !top.compare_exchange_weak(seen, v)) {
    }
}

Image *sameSize(const Image *img, int nbands, int type)
{
    return pxCreateImage(nbands, type, img->ncols, img->nrows);
}

// 1 where no in-image 8-neighbour beats p (is strictly lower for the minimum
// test, strictly higher for the maximum test). The answer does not depend on
// the visiting order, so inner pixels test their offsets without bounds.
template <class Beats>
Image *falseExtremum(Image *img, Beats beats)
{
    Image *out = sameSize(img, 1, PX_GREY_INT);
    if (!out) return nullptr;
    const px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, img->ncols, img->nrows);
    const int *v = img->bands[0];
    int *o = out->bands[0];
    inStripes(img, [&](int y0, int y1) {
        for (int y = y0, p = y0 * img->ncols; y < y1; ++y) {
            for (int x = 0; x < img->ncols; ++x, ++p) {
                bool candidate = true;
                if (nb.inSafeArea(x, y)) {
                    for (int j = 0; j < nb.n && candidate; ++j) candidate = !beats(v[p + nb.off[j]], v[p]);
                } else {
                    for (int j = 0; j < nb.n && candidate; ++j) {
                        int nx = x + nb.dx[j], ny = y + nb.dy[j];
                        if (nx >= 0 && nx < img->ncols && ny >= 0 && ny < img->nrows)
                            candidate = !beats(v[ny * img->ncols + nx], v[p]);
                    }
                }
                o[p] = candidate ? 1 : 0;
            }
        }
    });
    out->maxValue = 1;
    return out;
}

// Every band of img moved by (d, d) into an image 2d larger on each axis;
// pixels that land outside are dropped and the rest stays 0. With d >= 0 this
// adds a frame, with d < 0 it removes one. A side that would be negative is
// made 0, and a side beyond the int range gives no image.
Image *shiftedCopy(Image *img, long long d)
{
    long long ncols = img->ncols + 2 * d, nrows = img->nrows + 2 * d;
    if (ncols < 0) ncols = 0;
    if (nrows < 0) nrows = 0;
    if (ncols > INT_MAX || nrows > INT_MAX || !px::sensibleMemory(4.0 * img->nbands * ncols * nrows)) {
        std::fputs("Could not allocate image!\n", stderr);
        return nullptr;
    }
    Image *out = pxCreateImage(img->nbands, img->type, static_cast<int>(ncols), static_cast<int>(nrows));
    if (!out) return nullptr;
    // Source columns [x0, x1) land inside the result.
    long long x0 = d < 0 ? -d : 0;
    long long x1 = std::min<long long>(img->ncols, ncols - d);
    if (x1 <= x0) return out;
    std::size_t run = static_cast<std::size_t>(x1 - x0) * sizeof(int);
    for (int b = 0; b < img->nbands; ++b) {
        for (int y = 0; y < img->nrows; ++y) {
            long long ny = y + d;
            if (ny < 0 || ny >= nrows) continue;
            std::memcpy(out->bands[b] + ny * ncols + (x0 + d), img->bands[b] + static_cast<long long>(y) * img->ncols + x0,
                        run);
        }
    }
    return out;
}

void setColour(Image *out, int p, int r, int g, int b)
{
    out->bands[0][p] = r;
    out->bands[1][p] = g;
    out->bands[2][p] = b;
}

} // namespace

extern "C" {

Image *pxThreshold(Image *img, int type, int low, int high)
{
    Image *out = sameSize(img, 1, type);
    if (!out) return nullptr;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    inRanges(img->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = (v[p] >= low && v[p] <= high) ? WHITE : 0;
    });
    out->maxValue = WHITE;
    return out;
}

Image *pxBandPass(Image *img, int type, int low, int high)
{
    Image *out = sameSize(img, 1, type);
    if (!out) return nullptr;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    inRanges(img->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = (v[p] >= low && v[p] <= high) ? v[p] : 0;
    });
    return out;
}

// An 8-bit image is mirrored in [0, 255]; any other image in [0, maxValue],
// after maxValue has been raised to cover band 0, so that the negative is never
// negative where the original was not and carries a usable maxValue for the
// bucket queues sized from it.
Image *pxNegative(Image *img, int type)
{
    Image *out = sameSize(img, 1, type);
    if (!out) return nullptr;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    int top = WHITE;
    if (img->type != PX_GREY8) {
        std::atomic<int> seen(img->maxValue);
        inRanges(img->npixels, [&](int begin, int end) {
            int m = INT_MIN;
            for (int p = begin; p < end; ++p) m = std::max(m, v[p]);
            raise(seen, m);
        });
        img->maxValue = seen.load();
        top = img->maxValue;
    }
    inRanges(img->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = saturate(static_cast<long long>(top) - v[p]);
    });
    out->maxValue = top;
    return out;
}

Image *pxNegative2(Image *img, int type)
{
    Image *out = sameSize(img, 1, type);
    if (!out) return nullptr;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    inRanges(img->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = v[p] > 0 ? 0 : WHITE;
    });
    out->maxValue = WHITE;
    return out;
}

Image *pxMask(Image *img, Image *mask, int fill)
{
    Image *out = sameSize(img, img->nbands, img->type);
    if (!out) return nullptr;
    const int *m = mask->bands[0];
    for (int b = 0; b < img->nbands; ++b) {
        const int *v = img->bands[b];
        int *o = out->bands[b];
        inRanges(img->npixels, [&](int begin, int end) {
            for (int p = begin; p < end; ++p) o[p] = m[p] <= 0 ? fill : v[p];
        });
    }
    return out;
}

// Only 0 counts as unset in b, so a negative value removes the pixel.
Image *pxBinaryDifference(Image *a, Image *b, int type)
{
    Image *out = sameSize(a, a->nbands, type);
    if (!out) return nullptr;
    const int *va = a->bands[0], *vb = b->bands[0];
    int *o = out->bands[0];
    inRanges(a->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = (va[p] > 0 && vb[p] == 0) ? WHITE : 0;
    });
    out->maxValue = WHITE;
    return out;
}

Image *pxBinaryUnion(Image *a, Image *b, int type)
{
    Image *out = sameSize(a, a->nbands, type);
    if (!out) return nullptr;
    const int *va = a->bands[0], *vb = b->bands[0];
    int *o = out->bands[0];
    inRanges(a->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) o[p] = (va[p] > 0 || vb[p] > 0) ? WHITE : 0;
    });
    out->maxValue = WHITE;
    return out;
}

Image *pxUpperEnvelope(Image *a, Image *b)
{
    Image *out = sameSize(a, a->nbands, a->type);
    if (!out) return nullptr;
    for (int k = 0; k < a->nbands; ++k) {
        const int *va = a->bands[k], *vb = b->bands[k];
        int *o = out->bands[k];
        inRanges(a->npixels, [&](int begin, int end) {
            for (int p = begin; p < end; ++p) o[p] = std::max(va[p], vb[p]);
        });
    }
    return out;
}

Image *pxLowerEnvelope(Image *a, Image *b)
{
    Image *out = sameSize(a, a->nbands, a->type);
    if (!out) return nullptr;
    for (int k = 0; k < a->nbands; ++k) {
        const int *va = a->bands[k], *vb = b->bands[k];
        int *o = out->bands[k];
        inRanges(a->npixels, [&](int begin, int end) {
            for (int p = begin; p < end; ++p) o[p] = std::min(va[p], vb[p]);
        });
    }
    return out;
}

// Values are clamped to 0 below and, for 8-bit images only, to 255 above. The
// maxValue is shifted without the upper clamp: callers use it as a bound on the
// shifted values, and a bound that is too large is harmless.
Image *pxAddToPixelValues(Image *img, int delta)
{
    Image *out = sameSize(img, img->nbands, img->type);
    if (!out) return nullptr;
    const long long ceiling = img->type == PX_GREY8 ? WHITE : INT_MAX;
    for (int b = 0; b < img->nbands; ++b) {
        const int *v = img->bands[b];
        int *o = out->bands[b];
        inRanges(img->npixels, [&](int begin, int end) {
            for (int p = begin; p < end; ++p) {
                long long s = static_cast<long long>(v[p]) + delta;
                o[p] = static_cast<int>(s < 0 ? 0 : (s > ceiling ? ceiling : s));
            }
        });
    }
    out->maxValue = std::max(0, saturate(static_cast<long long>(img->maxValue) + delta));
    return out;
}

Image *pxSubtractImage(Image *a, Image *b)
{
    Image *out = sameSize(a, a->nbands, a->type);
    if (!out) return nullptr;
    std::atomic<int> top(0);
    for (int k = 0; k < a->nbands; ++k) {
        const int *va = a->bands[k], *vb = b->bands[k];
        int *o = out->bands[k];
        inRanges(a->npixels, [&](int begin, int end) {
            int m = 0;
            for (int p = begin; p < end; ++p) {
                long long d = static_cast<long long>(va[p]) - vb[p];
                o[p] = d > 0 ? saturate(d) : 0;
                m = std::max(m, o[p]);
            }
            raise(top, m);
        });
    }
    out->maxValue = top.load();
    return out;
}

// A local test only: inner pixels of a plateau pass it too, which is why the
// regional extrema follow it with an IFT.
Image *pxFalseRegionalMinimum(Image *img)
{
    return falseExtremum(img, [](int q, int p) { return q < p; });
}

Image *pxFalseRegionalMaximum(Image *img)
{
    return falseExtremum(img, [](int q, int p) { return q > p; });
}

Image *pxAddBorder(Image *img, int w)
{
    return shiftedCopy(img, w);
}

Image *pxRemoveBorder(Image *img, int w)
{
    return shiftedCopy(img, -static_cast<long long>(w));
}

// Every positive value v paints the disc of squared radius v around its pixel.
// The disc is filled row by row: the run of row offset dy reaches the largest
// dx with dx*dx + dy*dy <= v, found in integers so that it matches the
// pixel-by-pixel test exactly.
Image *pxPaintCircles(Image *img)
{
    Image *out = sameSize(img, 1, PX_GREY8);
    if (!out) return nullptr;
    const int ncols = img->ncols, nrows = img->nrows;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    for (int y = 0, p = 0; y < nrows; ++y) {
        for (int x = 0; x < ncols; ++x, ++p) {
            if (v[p] <= 0) continue;
            const long long r2 = v[p];
            const int r = static_cast<int>(std::sqrt(static_cast<double>(r2)));
            const int j0 = std::max(0, y - r), j1 = std::min(nrows - 1, y + r);
            for (int j = j0; j <= j1; ++j) {
                const long long rest = r2 - static_cast<long long>(j - y) * (j - y);
                long long h = static_cast<long long>(std::sqrt(static_cast<double>(rest)));
                while (h * h > rest) --h;
                while ((h + 1) * (h + 1) <= rest) ++h;
                const long long i0 = std::max<long long>(0, x - h), i1 = std::min<long long>(ncols - 1, x + h);
                int *row = o + static_cast<long long>(j) * ncols;
                for (long long i = i0; i <= i1; ++i) row[i] = WHITE;
            }
        }
    }
    return out;
}

Image *pxHighlightElements(Image *img, Image *mask, int r, int g, int b)
{
    Image *out = sameSize(img, 3, PX_COLOR8);
    if (!out) return nullptr;
    if (img->nbands != 1 && img->nbands != 3) {
        std::fputs("invalid number of bands (expected 1 or 3)\n", stderr);
        pxReleaseImage(&out);
        return nullptr;
    }
    const int *m = mask->bands[0];
    const bool colour = img->nbands == 3;
    inRanges(img->npixels, [&](int begin, int end) {
        for (int p = begin; p < end; ++p) {
            if (m[p] > 0)
                setColour(out, p, r, g, b);
            else if (colour)
                setColour(out, p, img->bands[0][p], img->bands[1][p], img->bands[2][p]);
            else
                setColour(out, p, img->bands[0][p], img->bands[0][p], img->bands[0][p]);
        }
    });
    return out;
}

// A pixel with a strictly higher-labelled 8-neighbour is drawn in (r, g, b),
// so only the lower-labelled side of a border shows. Any other pixel with at
// least one neighbour shows img: grey images (types 1, 2 and 4) in all three
// bands, colour images (types 3 and 5) band by band; other types leave it 0, and so
// does a pixel without neighbours. A type-3 image with fewer than 3 bands is
// shown as grey from band 0 rather than read past its band table.
Image *pxShowSegm(Image *img, Image *labels, int r, int g, int b)
{
    Image *out = sameSize(img, 3, PX_COLOR8);
    if (!out) return nullptr;
    const px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, img->ncols, img->nrows);
    const int *lab = labels->bands[0];
    const bool colourType = img->type == PX_COLOR8 || img->type == PX_COLOR16;
    const bool grey = img->type == PX_GREY8 || img->type == PX_GREY_INT ||
                      img->type == PX_GREY16 || (colourType && img->nbands < 3);
    const bool colour = colourType && img->nbands >= 3;
    inStripes(img, [&](int y0, int y1) {
        for (int y = y0, p = y0 * img->ncols; y < y1; ++y) {
            for (int x = 0; x < img->ncols; ++x, ++p) {
                bool anyNeighbour = false, border = false;
                if (nb.inSafeArea(x, y)) {
                    anyNeighbour = nb.n > 0;
                    for (int j = 0; j < nb.n && !border; ++j) border = lab[p + nb.off[j]] > lab[p];
                } else {
                    for (int j = 0; j < nb.n && !border; ++j) {
                        int nx = x + nb.dx[j], ny = y + nb.dy[j];
                        if (nx < 0 || nx >= img->ncols || ny < 0 || ny >= img->nrows) continue;
                        anyNeighbour = true;
                        border = lab[ny * img->ncols + nx] > lab[p];
                    }
                }
                if (border)
                    setColour(out, p, r, g, b);
                else if (anyNeighbour && colour)
                    setColour(out, p, img->bands[0][p], img->bands[1][p], img->bands[2][p]);
                else if (anyNeighbour && grey)
                    setColour(out, p, img->bands[0][p], img->bands[0][p], img->bands[0][p]);
            }
        }
    });
    return out;
}

void pxPgm2rgb(Image *grey, Image *rgb)
{
    const std::size_t bytes = static_cast<std::size_t>(grey->npixels) * sizeof(int);
    for (int b = 0; b < 3; ++b) std::memcpy(rgb->bands[b], grey->bands[0], bytes);
}

void pxCombineImageWithGrad(Image *img, Image *grad)
{
    const int *g = grad->bands[0];
    for (int b = 0; b < img->nbands; ++b) {
        int *v = img->bands[b];
        inRanges(img->npixels, [&](int begin, int end) {
            for (int p = begin; p < end; ++p) v[p] = std::max(v[p], g[p]);
        });
    }
}

// Counts the values 0 .. top under the mask, top being the largest of them.
// Negative values have no counter and are skipped. A top of INT_MAX would need
// more counters than an int can count and ends the program like any other
// allocation that cannot be had.
void pxHistogram(Image *img, Image *mask, float **hist, int *nbins)
{
    const int *v = img->bands[0], *m = mask->bands[0];
    int top = 0;
    for (int p = 0; p < img->npixels; ++p)
        if (m[p] > 0) top = std::max(top, v[p]);
    if (top == INT_MAX) px::dieOutOfMemory();
    const std::size_t count = static_cast<std::size_t>(top) + 1;
    px::requireMemory(static_cast<double>(count) * sizeof(float), "pxHistogram: the bins");
    float *h = static_cast<float *>(std::calloc(count, sizeof(float)));
    if (!h) px::dieOutOfMemory();
    for (int p = 0; p < img->npixels; ++p)
        if (m[p] > 0 && v[p] >= 0) h[v[p]] += 1.0f;
    *hist = h;
    *nbins = top + 1;
}

// Positions outside the image print nothing, so rows cut by a border are
// shorter and a row above or below the image is an empty line.
void pxPrintWindow(FILE *stream, Image *img, int p, int r)
{
    const long long x = img->ncols > 0 ? p % img->ncols : 0, y = img->ncols > 0 ? p / img->ncols : 0;
    // Only the columns inside the image print; the rows all do.
    const long long dx0 = std::max<long long>(-r, -x), dx1 = std::min<long long>(r, img->ncols - 1 - x);
    for (long long dy = -r; dy <= r; ++dy) {
        const long long ny = y + dy;
        for (long long dx = dx0; dx <= dx1; ++dx) {
            const long long nx = x + dx;
            if (nx >= 0 && nx < img->ncols && ny >= 0 && ny < img->nrows)
                std::fprintf(stream, "%6d ", img->bands[0][ny * img->ncols + nx]);
        }
        std::fputs("\n", stream);
    }
}

} // extern "C"
