// The image record: creation, release, deep copy and band extraction.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../pxImage.h"
#include "detail.h"

namespace {

// Frees whatever part of an image has been built so far; the band table is
// calloc'd, so bands that were never allocated are null.
void freeImageParts(Image *img)
{
    if (!img) return;
    if (img->bands) {
        for (int b = 0; b < img->nbands; ++b) std::free(img->bands[b]);
        std::free(img->bands);
    }
    std::free(img->rowOffset);
    std::free(img->adjPairs);
    std::free(img);
}

} // namespace

extern "C" {

// A request whose pixel count does not fit an int, or that has no bands, rows
// or columns, cannot be represented by the record and is reported like any
// other allocation failure.
Image *pxCreateImage(int nbands, int type, int ncols, int nrows)
{
    long long npixels = static_cast<long long>(ncols) * nrows;
    if (nbands < 1 || ncols < 1 || nrows < 1 || npixels > INT_MAX) {
        std::fputs("Could not allocate image!\n", stderr);
        return nullptr;
    }
    Image *img = static_cast<Image *>(std::calloc(1, sizeof(Image)));
    if (!img) {
        std::fputs("Could not allocate image!\n", stderr);
        return nullptr;
    }
    img->ncols = ncols;
    img->nrows = nrows;
    img->npixels = static_cast<int>(npixels);
    img->type = static_cast<signed char>(type);
    img->maxValue = 0;
    img->adjCount = 0;
    img->adjPairs = nullptr;
    img->bands = static_cast<int **>(std::calloc(static_cast<size_t>(nbands), sizeof(int *)));
    img->rowOffset = static_cast<int *>(std::malloc(static_cast<size_t>(nrows) * sizeof(int)));
    if (!img->bands || !img->rowOffset) {
        freeImageParts(img);
        std::fputs("Could not allocate image!\n", stderr);
        return nullptr;
    }
    img->nbands = nbands;
    for (int b = 0; b < nbands; ++b) {
        img->bands[b] = static_cast<int *>(std::calloc(static_cast<size_t>(npixels), sizeof(int)));
        if (!img->bands[b]) {
            std::fprintf(stderr, "Could not allocate memory for image band %d!\n", b);
            freeImageParts(img);
            return nullptr;
        }
        // A large band comes fresh from the system, still untouched: on huge
        // pages its first writes fault once per 2 MiB instead of per 4 KiB.
        px::adviseHugePages(img->bands[b], static_cast<size_t>(npixels) * sizeof(int));
    }
    int offset = 0;
    for (int y = 0; y < nrows; ++y, offset += ncols) img->rowOffset[y] = offset;
    return img;
}

void pxReleaseImage(Image **img)
{
    if (img) freeImageParts(*img);
}

Image *pxCopyImage(Image *img)
{
    if (!img) return nullptr;
    Image *copy = pxCreateImage(img->nbands, img->type, img->ncols, img->nrows);
    if (!copy) return nullptr;
    size_t bytes = static_cast<size_t>(img->npixels) * sizeof(int);
    for (int b = 0; b < img->nbands; ++b) std::memcpy(copy->bands[b], img->bands[b], bytes);
    copy->maxValue = img->maxValue;
    return copy;
}

Image *pxCopyBand(Image *img, int type, int band)
{
    Image *copy = pxCreateImage(1, type, img->ncols, img->nrows);
    if (!copy) return nullptr;
    const int *src = img->bands[band];
    int *dst = copy->bands[0];
    int top = 0;
    for (int p = 0; p < img->npixels; ++p) {
        dst[p] = src[p];
        if (src[p] > top) top = src[p];
    }
    copy->maxValue = top;
    return copy;
}

} // extern "C"
