// sower: computes a seed set from an image and writes it as a roots file.
//
//   sower <input image> <output roots file> <opt> [par(s)]
//
// Only argument parsing and reporting live here; every seed comes from a
// library operator.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

void usage(const char *program)
{
    std::printf("\n%s <input image> <output roots file> <opt> [par(s)]\n", program);
    std::printf("valid <opt> values:\n");
    std::printf("\tregMax (regional maxima in [min, max]) : par(s) = min max\n");
    std::printf("\tregMin (regional minima in [min, max]) : par(s) = min max\n");
    std::printf("\tdt     (contour border of binary img)  : par(s) = none\n");
    std::printf("\tjoin   (joins two roots files)         : par(s) = <roots_file2>\n");
    std::printf("\tframe  (seeds are the frame pixels)    : par(s) = <uniform labels> <label, if uniform labels is selected>\n");
    std::printf("\tlabels (label image  -> seeds)         : par(s) = none\n");
    std::printf("\tcells  (seeds to extract cells)        : par(s) = none\n");
    std::printf("\n");
}

// Decimal integer with strtol's leniency: leading blanks and a sign accepted,
// trailing text ignored, no number gives 0.
int intArg(const char *text)
{
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

// A heap seed record with n zero-filled entries.
Roots *newRoots(long long n)
{
    Roots *roots = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
    if (!roots || n > 2147483647LL) {
        std::fputs("Could not allocate memory!\n", stderr);
        std::exit(1);
    }
    ifAllocateRoots(roots, static_cast<int>(n));
    return roots;
}

void releaseRoots(Roots *roots)
{
    if (!roots) return;
    ifReleaseRoots(roots);
    std::free(roots);
}

// The IFT-based methods queue pixel values as costs, so they cannot take
// values below 0.
bool hasNegativeValues(const Image *img)
{
    for (int p = 0; p < img->npixels; ++p)
        if (img->bands[0][p] < 0) return true;
    return false;
}

// Keeps, in order, the seeds whose value in band 0 lies in [min, max].
Roots *selectRange(const Image *img, const Roots *all, int min, int max)
{
    auto inRange = [&](int i) {
        int v = img->bands[0][all->pixel[i]];
        return min <= v && v <= max;
    };
    int kept = 0;
    for (int i = 0; i < all->count; ++i) kept += inRange(i);
    Roots *sel = newRoots(kept);
    int k = 0;
    for (int i = 0; i < all->count; ++i) {
        if (!inRange(i)) continue;
        sel->pixel[k] = all->pixel[i];
        sel->label[k] = all->label[i];
        sel->cost[k] = all->cost[i];
        ++k;
    }
    return sel;
}

// Reads one roots file of a "join"; a file without seeds ends the run.
Roots *readJoinFile(const char *name, Image *img)
{
    Roots *roots = ifReadRoots(name, img);
    if (!roots) {
        std::fprintf(stderr, "error reading seeds file %s\n", name);
        pxReleaseImage(&img);
        std::exit(1);
    }
    std::printf("read file %s\n", name);
    return roots;
}

Roots *join(const Roots *a, const Roots *b)
{
    Roots *j = newRoots(static_cast<long long>(a->count) + b->count);
    for (int i = 0; i < a->count; ++i) {
        j->pixel[i] = a->pixel[i];
        j->label[i] = a->label[i];
        j->cost[i] = a->cost[i];
    }
    for (int i = 0; i < b->count; ++i) {
        j->pixel[a->count + i] = b->pixel[i];
        j->label[a->count + i] = b->label[i];
        j->cost[a->count + i] = b->cost[i];
    }
    return j;
}

[[noreturn]] void failArguments(Image *img, const char *message, FILE *stream)
{
    std::fputs(message, stream);
    pxReleaseImage(&img);
    std::exit(1);
}

void refuseNegative(Image *img, const char *name, const char *opt)
{
    if (!hasNegativeValues(img)) return;
    std::fprintf(stderr, "image %s holds values below 0; method %s needs values of 0 or more\n", name, opt);
    pxReleaseImage(&img);
    std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        usage(argv[0]);
        return 0;
    }
    const char *imageName = argv[1];
    const char *rootsName = argv[2];
    const char *opt = argv[3];

    Image *img = nullptr;
    pxReadImage(imageName, &img);
    std::printf("Image %s was read\n", imageName);

    // Every seed set the run holds, released at the end.
    Roots *seeds = nullptr, *extra[2] = {nullptr, nullptr};

    if (!std::strcmp(opt, "regMax") || !std::strcmp(opt, "regMin")) {
        bool maxima = !std::strcmp(opt, "regMax");
        if (argc != 6) failArguments(img, "Invalid number of parameters\n", stdout);
        refuseNegative(img, imageName, opt);
        int min = intArg(argv[4]), max = intArg(argv[5]);
        std::printf(maxima ? "regMax: %d %d\n" : "regMin: %d %d\n", min, max);
        extra[0] = maxima ? ifRegionalMaximaAsRoots(img) : ifRegionalMinimaAsRoots(img);
        seeds = selectRange(img, extra[0], min, max);
    } else if (!std::strcmp(opt, "dt")) {
        seeds = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
        if (!seeds) failArguments(img, "Could not allocate memory!\n", stderr);
        ifDistTransfRoots(img, seeds, 1);  // fills the empty record
    } else if (!std::strcmp(opt, "frame")) {
        if (argc < 5) failArguments(img, "value not suplied for <uniform label>\n", stderr);
        int uniform = intArg(argv[4]), label = 0;
        if (uniform != 0) {
            if (argc != 6) failArguments(img, "value not suplied for <label>\n", stderr);
            label = intArg(argv[5]);
        }
        seeds = ifFrameAsRoots(img, uniform, label);
    } else if (!std::strcmp(opt, "join")) {
        if (argc < 6) failArguments(img, "invalid seed file(s) name(s)\n", stderr);
        extra[0] = readJoinFile(argv[4], img);
        extra[1] = readJoinFile(argv[5], img);
        seeds = join(extra[0], extra[1]);
    } else if (!std::strcmp(opt, "cells")) {
        if (argc != 5) failArguments(img, "Invalid number of parameters\n", stdout);
        refuseNegative(img, imageName, opt);
        seeds = ifCellsRoots(img, intArg(argv[4]));
    } else if (!std::strcmp(opt, "labels")) {
        seeds = ifLabelsToRoots(img);
    } else {
        pxReleaseImage(&img);
        std::fprintf(stderr, "Invalid opt %s\n", opt);
        return 1;
    }

    ifSaveRoots(rootsName, img, seeds);
    std::printf("there are %d roots\n", seeds->count);
    releaseRoots(seeds);
    releaseRoots(extra[0]);
    releaseRoots(extra[1]);
    std::printf("done!\n");
    pxReleaseImage(&img);
    return 0;
}
