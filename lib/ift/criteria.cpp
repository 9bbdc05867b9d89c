// Region-merging criteria of the dynamic IFT: per-region data kept at the
// union-find roots (pixel count, sums of values) and the weight of the edge
// between two regions at their first contact.
//
// Sums are added with wrapping arithmetic: a region of millions of bright
// pixels can exceed an int, and the addition must then not be undefined. The
// weights are worked out in 64 bits and saturated to int.

#include <climits>
#include <cstdlib>

#include "../ift.h"
#include "../pxImage/detail.h"

namespace {

int wrappingSum(int a, int b)
{
    return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

int saturated(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }

// Every pixel of img must have an element, and every block room for the
// family's ints, or the initialiser would write past them.
void checkBlocks(const UnionFind *uf, const Image *img, int width, const char *who)
{
    if (uf->nElements < img->npixels || uf->nData < width)
        px::fatal(PX_FATAL_ARGUMENT,
                  "%s: the union/find has %d elements of %d ints, the image %d pixels needing %d\n", who,
                  uf->nElements, uf->nData, img->npixels, width);
}

void addBlocks(UnionFindElement *elements, int kept, int absorbed, int width)
{
    int *k = elements[kept].data;
    const int *a = elements[absorbed].data;
    for (int i = 0; i < width; ++i) k[i] = wrappingSum(k[i], a[i]);
}

long long mean(const int *block, int band)
{
    return block[0] == 0 ? 0 : static_cast<long long>(block[band + 1]) / block[0];
}

} // namespace

extern "C" {

void ifInitAreaData(UnionFind *uf, Image *img)
{
    checkBlocks(uf, img, 1, "ifInitAreaData");
    for (int i = 0; i < img->npixels; ++i) uf->elements[i].data[0] = 1;
}

int ifUpdateAreaData(UnionFindElement *elements, int kept, int absorbed)
{
    addBlocks(elements, kept, absorbed, 1);
    return 0;
}

int ifEdgeWeightArea(Image *, UnionFind *uf, int p, int q)
{
    const int a = uf->elements[ufFindSet(uf, p)].data[0];
    const int b = uf->elements[ufFindSet(uf, q)].data[0];
    return a < b ? a : b;
}

void ifInitVolumeData(UnionFind *uf, Image *img)
{
    checkBlocks(uf, img, 2, "ifInitVolumeData");
    const int *v = img->bands[0];
    for (int i = 0; i < img->npixels; ++i) {
        int *d = uf->elements[i].data;
        d[0] = 1;
        d[1] = v[i];
    }
}

int ifUpdateVolumeData(UnionFindElement *elements, int kept, int absorbed)
{
    addBlocks(elements, kept, absorbed, 2);
    return 0;
}

// Both regions are filled up to the level of p, the pixel whose region is
// growing into the other.
int ifEdgeWeightVolume(Image *img, UnionFind *uf, int p, int q)
{
    const long long h = img->bands[0][p];
    const int *a = uf->elements[ufFindSet(uf, p)].data;
    const int *b = uf->elements[ufFindSet(uf, q)].data;
    const long long va = a[0] * h - a[1], vb = b[0] * h - b[1];
    return saturated(va < vb ? va : vb);
}

void ifInitColorData(UnionFind *uf, Image *img)
{
    checkBlocks(uf, img, 4, "ifInitColorData");
    if (img->nbands < 3)
        px::fatal(PX_FATAL_ARGUMENT, "ifInitColorData: the image has %d bands, 3 are needed\n", img->nbands);
    for (int i = 0; i < img->npixels; ++i) {
        int *d = uf->elements[i].data;
        d[0] = 1;
        d[1] = img->bands[0][i];
        d[2] = img->bands[1][i];
        d[3] = img->bands[2][i];
    }
}

int ifUpdateColorData(UnionFindElement *elements, int kept, int absorbed)
{
    addBlocks(elements, kept, absorbed, 4);
    return 0;
}

int ifEdgeWeightColor(Image *, UnionFind *uf, int p, int q)
{
    const int *a = uf->elements[ufFindSet(uf, p)].data;
    const int *b = uf->elements[ufFindSet(uf, q)].data;
    long long largest = 0;
    for (int c = 0; c < 3; ++c) {
        long long d = std::llabs(mean(a, c) - mean(b, c));
        if (d > largest) largest = d;
    }
    return saturated(largest);
}

} // extern "C"
