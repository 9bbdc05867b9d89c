// overlay: shows in colour what a filter or a segmentation did to an image.
//
//   overlay changes <image> <filtered> <output.ppm>   pixels the filter visibly changed, in red
//   overlay borders <image> <labels> <output.ppm>     borders between labels, in red
//   overlay panels <image> <filtered> <labels> <output.ppm> [seeds file]
//
// `panels` puts three views side by side: the image; the filtered image with
// the pixels the filter visibly changed tinted red; and the zones of the
// labels, each in a colour of its own over the image, with their borders and,
// when a roots file is given, the seeds. A change is visible when it exceeds a
// tenth of the image's range (25 grey levels for 8-bit images): smaller ones,
// the ripples a reconstruction smooths away in the background, are left
// unmarked so that what the filter removed stands out.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

struct Rgb {
    int r, g, b;
};

const Rgb kChanged = {255, 40, 40};
const Rgb kBorder = {255, 255, 255};
const Rgb kSeed = {255, 225, 0};
const Rgb kGap = {255, 255, 255};
const Rgb kCaption = {30, 30, 30};
constexpr int kGapWidth = 6;
constexpr int kCaptionHeight = 24, kGlyphScale = 2;

// A 5 x 7 capital font for the panel captions, one string of 35 cells per
// character ('#' inked).
struct Glyph {
    char c;
    const char *rows;
};
const Glyph kFont[] = {
    {'A', " ### #   ##   #######   ##   ##   #"}, {'C', " #####    #    #    #    #     ####"},
    {'D', "#### #   ##   ##   ##   ##   ##### "}, {'E', "######    #    #### #    #    #####"},
    {'G', " #####    #    #  ###   ##   # ####"}, {'H', "#   ##   ##   #######   ##   ##   #"},
    {'I', "#####  #    #    #    #    #  #####"}, {'M', "#   ### ### # ## # ##   ##   ##   #"},
    {'N', "#   ###  ## # ##  ###   ##   ##   #"}, {'O', " ### #   ##   ##   ##   ##   # ### "},
    {'P', "#### #   ##   ##### #    #    #    "}, {'R', "#### #   ##   ##### # #  #  # #   #"},
    {'S', " #####    #     ###     #    ##### "}, {'T', "#####  #    #    #    #    #    #  "},
    {'U', "#   ##   ##   ##   ##   ##   # ### "}, {'Z', "#####    #   #   #   #   #    #####"},
    {'(', "   #   #   #    #    #     #     # "}, {')', " #     #     #    #    #   #   #   "},
    {':', "       #    #         #    #       "}, {',', "                 #    #   #        "},
};

// The range the image's values are shown over: 255 for 8-bit images, else the
// largest value (at least the header's maximum).
int displayTop(const Image *img)
{
    int top = std::max(img->maxValue, 1);
    for (int b = 0; b < img->nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) top = std::max(top, img->bands[b][p]);
    return top <= 255 ? 255 : top;
}

int to8(int v, int top) { return std::clamp(static_cast<int>(static_cast<long long>(v) * 255 / top), 0, 255); }

// Grey (or colour, for 3 bands) of pixel p on the 0 .. 255 display scale.
Rgb shown(const Image *img, int p, int top)
{
    if (img->nbands >= 3) return {to8(img->bands[0][p], top), to8(img->bands[1][p], top), to8(img->bands[2][p], top)};
    int v = to8(img->bands[0][p], top);
    return {v, v, v};
}

Rgb mix(Rgb a, Rgb b, int percentB)
{
    return {(a.r * (100 - percentB) + b.r * percentB) / 100, (a.g * (100 - percentB) + b.g * percentB) / 100,
            (a.b * (100 - percentB) + b.b * percentB) / 100};
}

// A colour per label, hues spread by the golden ratio so that neighbouring
// labels rarely look alike.
Rgb labelColour(int label)
{
    double h = std::fmod(label * 0.6180339887, 1.0) * 6.0;
    int sector = static_cast<int>(h);
    double f = h - sector;
    const double v = 255, s = 0.75;
    int p = static_cast<int>(v * (1 - s)), q = static_cast<int>(v * (1 - s * f)),
        t = static_cast<int>(v * (1 - s * (1 - f))), w = static_cast<int>(v);
    switch (sector) {
    case 0: return {w, t, p};
    case 1: return {q, w, p};
    case 2: return {p, w, t};
    case 3: return {p, q, w};
    case 4: return {t, p, w};
    default: return {w, p, q};
    }
}

void put(Image *out, int x, int y, Rgb c)
{
    if (x < 0 || x >= out->ncols || y < 0 || y >= out->nrows) return;
    int p = x + out->rowOffset[y];
    out->bands[0][p] = c.r;
    out->bands[1][p] = c.g;
    out->bands[2][p] = c.b;
}

// Text centred in the caption strip above the panel that starts at column x0.
void caption(Image *out, int x0, int width, const char *text)
{
    const int advance = 6 * kGlyphScale;
    int x = x0 + (width - static_cast<int>(std::strlen(text)) * advance) / 2;
    const int y0 = (kCaptionHeight - 7 * kGlyphScale) / 2;
    for (const char *t = text; *t; ++t, x += advance)
        for (const Glyph &g : kFont) {
            if (g.c != *t) continue;
            for (int cell = 0; cell < 35; ++cell)
                if (g.rows[cell] == '#')
                    for (int dy = 0; dy < kGlyphScale; ++dy)
                        for (int dx = 0; dx < kGlyphScale; ++dx)
                            put(out, x + cell % 5 * kGlyphScale + dx, y0 + cell / 5 * kGlyphScale + dy, kGap);
        }
}

bool visiblyChanged(const Image *img, const Image *filtered, int p, int top)
{
    return std::abs(img->bands[0][p] - filtered->bands[0][p]) > top / 10;
}

// Lower side of a label border: a 4-neighbour carries a larger label.
bool onBorder(const Image *labels, int x, int y)
{
    const int *l = labels->bands[0];
    int p = x + labels->rowOffset[y];
    return (x + 1 < labels->ncols && l[p + 1] > l[p]) || (x > 0 && l[p - 1] > l[p]) ||
           (y + 1 < labels->nrows && l[p + labels->ncols] > l[p]) || (y > 0 && l[p - labels->ncols] > l[p]);
}

Image *panels(Image *img, Image *filtered, Image *labels, const char *seedsFile)
{
    const int w = img->ncols, h = img->nrows, top = displayTop(img);
    const int y0 = kCaptionHeight;
    Image *out = pxCreateImage(3, PX_COLOR8, 3 * w + 2 * kGapWidth, y0 + h);
    out->maxValue = 255;
    for (int y = 0; y < out->nrows; ++y)
        for (int x = 0; x < out->ncols; ++x) put(out, x, y, y < y0 ? kCaption : kGap);
    const int x1 = w + kGapWidth, x2 = 2 * (w + kGapWidth);
    caption(out, 0, w, "INPUT");
    caption(out, x1, w, "DOMES CUT, RED: CHANGED");
    caption(out, x2, w, "SEEDS AND THEIR ZONES");
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int p = x + img->rowOffset[y];
            Rgb in = shown(img, p, top);
            put(out, x, y0 + y, in);
            Rgb result = shown(filtered, p, top);
            put(out, x1 + x, y0 + y, visiblyChanged(img, filtered, p, top) ? mix(result, kChanged, 55) : result);
            int label = labels->bands[0][p];
            Rgb zone = label > 0 ? mix(in, labelColour(label), 45) : in;
            put(out, x2 + x, y0 + y, onBorder(labels, x, y) ? kBorder : zone);
        }
    }
    if (seedsFile) {
        Roots *seeds = ifReadRoots(seedsFile, img);
        for (int i = 0; seeds && i < seeds->count; ++i) {
            int sx = seeds->pixel[i] % w, sy = seeds->pixel[i] / w;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (sx + dx >= 0 && sx + dx < w && sy + dy >= 0 && sy + dy < h)
                        put(out, x2 + sx + dx, y0 + sy + dy, kSeed);
        }
        if (seeds) {
            ifReleaseRoots(seeds);
            std::free(seeds);
        }
    }
    return out;
}

Image *changes(Image *img, Image *filtered)
{
    Image *mask = pxCreateImage(1, PX_GREY8, img->ncols, img->nrows);
    const int top = displayTop(img);
    for (int p = 0; p < img->npixels; ++p) mask->bands[0][p] = visiblyChanged(img, filtered, p, top) ? 255 : 0;
    Image *shown = pxHighlightElements(img, mask, kChanged.r, kChanged.g, kChanged.b);
    pxReleaseImage(&mask);
    return shown;
}

bool sameSize(const Image *a, const Image *b, const char *na, const char *nb)
{
    if (a->ncols == b->ncols && a->nrows == b->nrows) return true;
    std::fprintf(stderr, "images %s and %s differ in size\n", na, nb);
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    bool isPanels = !std::strcmp(mode, "panels") && argc >= 6;
    bool isPair = (!std::strcmp(mode, "changes") || !std::strcmp(mode, "borders")) && argc >= 5;
    if (!isPanels && !isPair) {
        std::printf("%s changes <image> <filtered> <output.ppm>\n", argv[0]);
        std::printf("%s borders <image> <labels> <output.ppm>\n", argv[0]);
        std::printf("%s panels <image> <filtered> <labels> <output.ppm> [seeds file]\n", argv[0]);
        return 0;
    }
    Image *img = nullptr, *other = nullptr, *labels = nullptr;
    pxReadImage(argv[2], &img);
    pxReadImage(argv[3], &other);
    if (!sameSize(img, other, argv[2], argv[3])) return 1;
    Image *out = nullptr;
    if (isPanels) {
        pxReadImage(argv[4], &labels);
        if (!sameSize(img, labels, argv[2], argv[4])) return 1;
        out = panels(img, other, labels, argc > 6 ? argv[6] : nullptr);
        pxSaveImage(argv[5], out);
        pxReleaseImage(&labels);
    } else {
        out = !std::strcmp(mode, "borders") ? pxShowSegm(img, other, 255, 40, 40) : changes(img, other);
        pxSaveImage(argv[4], out);
    }
    pxReleaseImage(&out);
    pxReleaseImage(&other);
    pxReleaseImage(&img);
    return 0;
}
