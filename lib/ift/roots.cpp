// Seed sets: allocation and release, the plain-text roots file, painting seeds
// into an image, and the seeds of a label image and of the image frame.
//
// A roots file holds the seed count and then "x y label" per seed. The reader
// checks every number against the image it maps the seeds through, so a seed
// set it returns can be handed to any IFT without further checks. The open
// file and the seeds read so far are held by owners, so a failure caught by
// pxCatchFatal releases them on the way out.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

int *zeroedIntsOrNull(int n)
{
    return static_cast<int *>(std::calloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(int)));
}

// A record from calloc with its arrays; nothing is left allocated when the
// memory runs out half way.
Roots *newRootsRecord(int n)
{
    std::unique_ptr<Roots, decltype(&std::free)> r(
        static_cast<Roots *>(std::calloc(1, sizeof(Roots))), &std::free);
    if (!r) px::dieOutOfMemory();
    ifAllocateRoots(r.get(), n);
    return r.release();
}

[[noreturn]] void failRootsWrite(const char *name)
{
    px::fatal(PX_FATAL_FILE, "error writing roots file %s\n", name);
}

FILE *openRootsForWriting(const char *name)
{
    FILE *f = std::fopen(name, "w");
    if (!f) {
        px::fatal(PX_FATAL_FILE, "Could not open file %s for writing\n", name);
    }
    return f;
}

// The count, then one "x y value" line per seed; a full disk or any other
// failed write is reported instead of leaving a truncated file behind silently.
void writeRootsFile(const char *name, const Image *img, const int *pixel, const int *value,
                    int count)
{
    FILE *f = openRootsForWriting(name);
    const int ncols = img->ncols;
    std::fprintf(f, "%d\n", count);
    for (int i = 0; i < count; ++i)
        std::fprintf(f, "%d %d %d\n", pixel[i] % ncols, pixel[i] / ncols, value[i]);
    bool failed = std::ferror(f) != 0;
    if (std::fclose(f) != 0) failed = true;
    if (failed) failRootsWrite(name);
}

// The next white-space-delimited word as a decimal int (optional sign). Gives
// false at the end of the file, for a word that is not a number and for a
// number outside int.
bool readInt(FILE *f, int &value)
{
    int c = std::getc(f);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
        c = std::getc(f);
    if (c == EOF) return false;
    bool negative = false, digits = false, numeric = true;
    long long magnitude = 0;
    const long long limit = static_cast<long long>(INT_MAX) + 1;
    bool first = true;
    while (c != EOF && !(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
        if (first && (c == '-' || c == '+')) {
            negative = c == '-';
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (magnitude <= limit) magnitude = magnitude * 10 + (c - '0');
        } else {
            numeric = false;
        }
        first = false;
        c = std::getc(f);
    }
    if (!numeric || !digits) return false;
    long long v = negative ? -magnitude : magnitude;
    if (v > INT_MAX || v < INT_MIN) return false;
    value = static_cast<int>(v);
    return true;
}

enum class SeedError { None, Unreadable, Outside };

// Reads up to count seeds, growing the arrays only as seeds actually arrive:
// the count comes from the file and is not trusted to size an allocation.
SeedError readSeeds(FILE *f, const Image *img, int count, std::vector<int> &pixel,
                    std::vector<int> &label, int &failedSeed)
{
    constexpr int kInitialReserve = 1 << 12;
    try {
        pixel.reserve(std::min(count, kInitialReserve));
        label.reserve(std::min(count, kInitialReserve));
        for (int i = 0; i < count; ++i) {
            int x, y, l;
            failedSeed = i;
            if (!readInt(f, x) || !readInt(f, y) || !readInt(f, l)) return SeedError::Unreadable;
            if (x < 0 || x >= img->ncols || y < 0 || y >= img->nrows) return SeedError::Outside;
            int p = x + img->rowOffset[y];
            pixel.push_back(p);
            label.push_back(l);
            px::message("read: %d %d\n", p, l);
        }
    } catch (const std::bad_alloc &) {
        px::dieOutOfMemory();
    }
    return SeedError::None;
}

} // namespace

extern "C" {

void ifAllocateRoots(Roots *roots, int n)
{
    int *pixel = zeroedIntsOrNull(n), *label = zeroedIntsOrNull(n), *cost = zeroedIntsOrNull(n);
    if (!pixel || !label || !cost) {
        std::free(pixel);
        std::free(label);
        std::free(cost);
        px::dieOutOfMemory();
    }
    roots->count = n;
    roots->pixel = pixel;
    roots->label = label;
    roots->cost = cost;
}

void ifReleaseRoots(Roots *roots)
{
    std::free(roots->pixel);
    std::free(roots->label);
    std::free(roots->cost);
    roots->pixel = roots->label = roots->cost = nullptr;
    roots->count = 0;
}

void ifReleaseRoots2(ContourRoots *roots)
{
    std::free(roots->pixel);
    std::free(roots->position);
    std::free(roots->contour);
    std::free(roots->spare);
    roots->pixel = roots->position = roots->contour = roots->spare = nullptr;
    roots->count = 0;
}

void ifSaveRoots(const char *name, Image *img, Roots *roots)
{
    writeRootsFile(name, img, roots->pixel, roots->label, roots->count);
}

void ifSaveRoots2(const char *name, Image *img, ContourRoots *roots)
{
    writeRootsFile(name, img, roots->pixel, roots->position, roots->count);
}

Roots *ifReadRoots(const char *name, Image *img)
{
    FileHandle file(std::fopen(name, "r"));
    if (!file) {
        px::fatal(PX_FATAL_FILE, "Could not open file %s for reading\n", name);
    }
    FILE *f = file.get();
    int count = 0;
    if (!readInt(f, count) || count <= 0) {
        std::fprintf(stderr, "invalid number of roots in file %s\n", name);
        return nullptr;
    }
    Roots *roots = nullptr;
    int failedSeed = 0;
    SeedError error;
    {
        std::vector<int> pixel, label;
        error = readSeeds(f, img, count, pixel, label, failedSeed);
        if (error == SeedError::None) {
            roots = newRootsRecord(count);
            std::memcpy(roots->pixel, pixel.data(), pixel.size() * sizeof(int));
            std::memcpy(roots->label, label.data(), label.size() * sizeof(int));
        }
    }
    file.reset();
    if (error == SeedError::Unreadable) {
        px::fatal(PX_FATAL_FILE, "error reading seed %d from file %s\n", failedSeed, name);
    }
    if (error == SeedError::Outside) {
        px::fatal(PX_FATAL_FILE, "seed %d of file %s lies outside the image\n", failedSeed, name);
    }
    return roots;
}

// Seeds whose pixel lies outside the image are not painted.
Image *ifVisualizeRoots(Image *img, Roots *roots)
{
    Image *out = px::newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    int *band = out->bands[0];
    for (int i = 0; i < roots->count; ++i) {
        int p = roots->pixel[i];
        if (p >= 0 && p < out->npixels) band[p] = roots->label[i];
    }
    return out;
}

Roots *ifLabelsToRoots(Image *img)
{
    const int *band = img->bands[0];
    int n = 0;
    for (int p = 0; p < img->npixels; ++p)
        if (band[p] > 0) ++n;
    Roots *roots = newRootsRecord(n);
    int k = 0;
    for (int p = 0; p < img->npixels; ++p) {
        if (band[p] > 0) {
            roots->pixel[k] = p;
            roots->label[k] = band[p];
            ++k;
        }
    }
    return roots;
}

// The frame in a fixed order: top row, bottom row, then the left and the right
// column without their corners. An image of one row lists that row twice (as
// top and as bottom), an image of one column its inner pixels twice (as left
// and as right column); the record holds exactly the pixels listed.
Roots *ifFrameAsRoots(Image *img, int uniform, int value)
{
    const int ncols = img->ncols, nrows = img->nrows;
    const int inner = nrows > 2 ? nrows - 2 : 0;
    const long long n = 2LL * ncols + 2LL * inner;
    if (n > INT_MAX) px::dieOutOfMemory();
    Roots *roots = newRootsRecord(static_cast<int>(n));
    int k = 0;
    auto append = [&](int p) {
        roots->pixel[k] = p;
        roots->label[k] = uniform ? value : k + 1;
        ++k;
    };
    for (int x = 0; x < ncols; ++x) append(x);
    for (int x = 0; x < ncols; ++x) append(x + img->rowOffset[nrows - 1]);
    for (int y = 1; y <= inner; ++y) append(img->rowOffset[y]);
    for (int y = 1; y <= inner; ++y) append(ncols - 1 + img->rowOffset[y]);
    return roots;
}

} // extern "C"
