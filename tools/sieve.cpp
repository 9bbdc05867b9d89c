// sieve: connected filtering by IFT-based reconstruction from seeds.
//
//   sieve <source image> <reference levels> <isCuttingDomes> <isGlobal> <seeds file>
//
// Writes "labels.pgm" and "filtered.pgm" in the working directory. Only the
// argument parsing, the checks of what comes from outside and the reporting
// live here.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

void usage(const char *program)
{
    std::printf("Connected filtering application\n\n");
    std::printf("%s [original] [reference levels] [isCuttingDomes] [isGlobal] <seeds file>\n", program);
    std::printf("isCuttingDomes = 1: cutting-off domes\n");
    std::printf("                 0: filling-up basins\n");
    std::printf("is Global = 1: reconstruction acts on all the image\n");
    std::printf("            0: reconstruction acts on specific valleys/domes\n");
    std::printf("\n");
}

int intArg(const char *text)
{
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The next white-space-delimited word as a decimal int with an optional sign;
// false at the end of the file, for a word that is not a number and for a
// number outside int. The same rule as the library's roots reader.
bool readInt(FILE *f, int *value)
{
    int c;
    do c = std::fgetc(f);
    while (isBlank(c));
    if (c == EOF) return false;
    bool negative = false, digits = false, numeric = true, first = true;
    long long magnitude = 0;
    for (; c != EOF && !isBlank(c); c = std::fgetc(f), first = false) {
        if (first && (c == '-' || c == '+')) {
            negative = c == '-';
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (c - '0');
        } else {
            numeric = false;
        }
    }
    long long v = negative ? -magnitude : magnitude;
    if (!numeric || !digits || v > INT_MAX || v < INT_MIN) return false;
    *value = static_cast<int>(v);
    return true;
}

[[noreturn]] void fail(const char *format, const char *a, const char *b = nullptr)
{
    std::fprintf(stderr, format, a, b);
    std::exit(1);
}

bool hasNegativeValues(const Image *img)
{
    for (int p = 0; p < img->npixels; ++p)
        if (img->bands[0][p] < 0) return true;
    return false;
}

// A seed's initial cost from the reference level at its pixel: one level
// inside the dome or basin in local mode, clamped to the reference's range.
int seedCost(int ref, int refMax, bool cutting, bool global)
{
    long long c = ref;
    if (cutting) {
        if (!global) c -= 1;
        if (c < 0) c = 0;
    } else {
        if (!global) c += 1;
        if (c > refMax) c = refMax;
    }
    return static_cast<int>(c);
}

// Reads the seeds file through the source image's geometry. The count and
// every seed must be integers with the pixel inside the image; memory grows
// only with the seeds the file really holds.
Roots readSeeds(const char *name, const Image *src, const Image *ref, bool cutting, bool global)
{
    FILE *f = std::fopen(name, "r");
    if (!f) fail("Could not open seeds file %s\n", name);
    int count = 0;
    if (!readInt(f, &count)) {
        std::fclose(f);
        fail("invalid number of roots in seeds file %s\n", name);
    }
    std::vector<int> pixel, label, cost;
    for (int i = 0; i < count; ++i) {
        int x, y, l;
        if (!readInt(f, &x) || !readInt(f, &y) || !readInt(f, &l)) {
            std::fclose(f);
            std::fprintf(stderr, "error reading seed %d from file %s\n", i, name);
            std::exit(1);
        }
        if (x < 0 || x >= src->ncols || y < 0 || y >= src->nrows) {
            std::fclose(f);
            std::fprintf(stderr, "seed %d of file %s lies outside the image\n", i, name);
            std::exit(1);
        }
        int p = x + src->rowOffset[y];
        pixel.push_back(p);
        label.push_back(l);
        cost.push_back(seedCost(ref->bands[0][p], ref->maxValue, cutting, global));
    }
    std::fclose(f);

    Roots seeds{};
    ifAllocateRoots(&seeds, static_cast<int>(pixel.size()));
    for (int i = 0; i < seeds.count; ++i) {
        seeds.pixel[i] = pixel[i];
        seeds.label[i] = label[i];
        seeds.cost[i] = cost[i];
    }
    std::printf("%d roots were read from file %s\n", count, name);
    if (count <= 0) {
        std::fputs("Empty seeds file!!\n", stderr);
        std::exit(1);
    }
    return seeds;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6) {
        usage(argv[0]);
        return 0;
    }
    const char *srcName = argv[1], *refName = argv[2], *seedsName = argv[5];

    Image *src = nullptr, *ref = nullptr;
    pxReadImage(srcName, &src);
    std::printf("Image %s was read\n", srcName);
    pxReadImage(refName, &ref);
    std::printf("Image %s was read\n", refName);

    if (ref->ncols != src->ncols || ref->nrows != src->nrows)
        fail("reference image %s does not have the size of source image %s\n", refName, srcName);
    if (hasNegativeValues(src)) fail("image %s holds values below 0\n", srcName);
    if (hasNegativeValues(ref)) fail("image %s holds values below 0\n", refName);

    bool cutting = intArg(argv[3]) != 0;
    bool global = intArg(argv[4]) != 0;
    Roots seeds = readSeeds(seedsName, src, ref, cutting, global);

    Image *filtered = nullptr, *labels = nullptr;
    if (cutting)
        ifReconstr(src, ref, &seeds, global, &filtered, &labels);
    else
        ifDualReconstr(src, ref, &seeds, global, &filtered, &labels);

    std::printf("done, saving results\n");
    pxSaveImage("labels.pgm", labels);
    // 8-bit output whenever the values allow it; a wider result stays 16-bit
    // instead of wrapping modulo 256.
    filtered->type = PX_GREY8;
    for (int p = 0; p < filtered->npixels; ++p)
        if (filtered->bands[0][p] > 255) {
            filtered->type = PX_GREY16;
            break;
        }
    pxSaveImage("filtered.pgm", filtered);

    pxReleaseImage(&src);
    pxReleaseImage(&ref);
    pxReleaseImage(&filtered);
    pxReleaseImage(&labels);
    ifReleaseRoots(&seeds);
    std::printf("done!\n");
    return 0;
}
