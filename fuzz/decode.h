#pragma once
// What the differential targets share: the fuzzer's bytes read as small images
// (1 x 1 to 64 x 64, single rows and columns, widths around the 64-pixel word)
// of 8-bit, 16-bit or wide values drawn from a few levels, seed sets and
// parameters; and a check that reports which output differs.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common.h"
#include "reference/common.h"

namespace fuzz {

using Owned = testing_support::ImagePtr;  // fuzz::ImagePtr is the readers' owner

// Reads the input front to back; past its end every read gives 0.
class Bytes {
public:
    Bytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int u16() { return byte() | byte() << 8; }
    int u32() { return static_cast<int>(static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16); }
    // A value in lo .. hi (inclusive), from as many bytes as the span needs.
    int range(int lo, int hi)
    {
        const unsigned long long span = static_cast<unsigned long long>(static_cast<long long>(hi) - lo) + 1;
        unsigned long long v = span <= 256 ? byte() : span <= 65536 ? static_cast<unsigned>(u16()) : static_cast<uint32_t>(u32());
        return static_cast<int>(lo + static_cast<long long>(v % span));
    }
    bool flag() { return byte() & 1; }
    bool empty() const { return pos_ >= size_; }
    size_t left() const { return size_ - std::min(pos_, size_); }

private:
    const uint8_t *data_;
    size_t size_, pos_ = 0;
};

// Side lengths: the usual small ones and those around the 64-pixel word.
inline int side(Bytes &in)
{
    static const int special[] = {1, 1, 2, 3, 4, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65};
    const int b = in.byte();
    return b < 128 ? special[b % 16] : 1 + b % 48;
}

enum Depth { DEPTH8, DEPTH16, DEPTH_WIDE };

struct ImageShape {
    int wideTop = 1 << 30;  // largest wide value (queue-sized references want less)
    bool negative = false;  // wide values may be negative
    int minLevels = 1;
    int maxPixels = 4096;   // references slower than linear want fewer
};

// A one-band image of few levels: a byte per pixel picks one of up to 8
// levels, or copies the pixel above (plateaus across rows). When the input
// runs out the pixel bytes start over, so short inputs still give structure.
inline Owned decodeImage(Bytes &in, const ImageShape &shape = {}, int ncols = 0, int nrows = 0)
{
    if (ncols <= 0) {
        ncols = side(in);
        nrows = side(in);
        if (ncols * nrows > shape.maxPixels) nrows = std::max(1, shape.maxPixels / ncols);
    }
    const int depth = in.byte() % 3;
    const int type = depth == DEPTH8 ? PX_GREY8 : depth == DEPTH16 ? PX_GREY16 : PX_GREY_INT;
    const int top = depth == DEPTH8 ? 255 : depth == DEPTH16 ? 65535 : shape.wideTop;
    const int bottom = depth == DEPTH_WIDE && shape.negative ? -top : 0;
    const int nlevels = std::max(shape.minLevels, 1 + in.byte() % 8);
    std::vector<int> levels(nlevels);
    for (int &v : levels) {
        // Mostly near one another, sometimes anywhere in the range.
        const int b = in.byte();
        const long long span = static_cast<long long>(top) - bottom + 1;
        const long long far = depth == DEPTH_WIDE ? (b >> 4) * 65521LL % span : 0;
        v = b < 192 ? static_cast<int>(std::min<long long>(top, bottom + b % 16 + far)) : in.range(bottom, top);
    }
    Owned img(pxCreateImage(1, type, ncols, nrows));
    std::vector<uint8_t> pixels;
    while (!in.empty() && static_cast<int>(pixels.size()) < img->npixels) pixels.push_back(in.byte());
    if (pixels.empty()) pixels.push_back(0);
    int *v = img->bands[0];
    for (int p = 0; p < img->npixels; ++p) {
        const uint8_t b = pixels[p % pixels.size()];
        v[p] = b >= 0xE0 && p >= ncols ? v[p - ncols] : levels[b % nlevels];
    }
    int largest = 0;
    for (int p = 0; p < img->npixels; ++p) largest = std::max(largest, v[p]);
    img->maxValue = largest;
    return img;
}

// A second image of the same size, after the first.
inline Owned decodeLike(Bytes &in, const Image *like, const ImageShape &shape = {})
{
    return decodeImage(in, shape, like->ncols, like->nrows);
}

// Up to `most` seeds: pixels inside the image (or, when outside is set, one
// step beyond either end too), labels 1 .. labels, costs from the given
// values or the image's levels.
inline void decodeSeeds(Bytes &in, Roots *seeds, const Image *img, int most, int labels, bool outside,
                        int costLo, int costHi)
{
    const int count = in.byte() % (most + 1);
    ifAllocateRoots(seeds, count);
    const int n = img->npixels;
    for (int i = 0; i < count; ++i) {
        const int b = in.byte();
        seeds->pixel[i] = outside ? in.range(-1, n) : in.range(0, n - 1);
        seeds->label[i] = 1 + b % std::max(1, labels);
        seeds->cost[i] = b & 0x80 ? img->bands[0][std::clamp(seeds->pixel[i], 0, n - 1)] : in.range(costLo, costHi);
    }
}

struct SeedsOwner {
    Roots r{};
    ~SeedsOwner() { ifReleaseRoots(&r); }
    Roots *get() { return &r; }
};

// A relation among the library's own (the unrolled ones and some that take
// the general loops).
inline AdjacencyFn relation(Bytes &in, bool withDisc = true)
{
    static const AdjacencyFn all[] = {pxNeighborhood4, pxNeighborhood8, pxNeighborhood8Clockwise,
                                      pxNeighborhood4forward, pxNeighborhood8forward,
                                      [](int **p) { return pxNeighborhood(p, 5); }};
    return all[in.byte() % (withDisc ? 6 : 5)];
}

// Stops the fuzzer when two outputs differ, naming them.
template <class A, class B>
void same(const A &a, const B &b, const char *what)
{
    if (!(a == b)) {
        std::fprintf(stderr, "differential check failed: %s\n", what);
        std::abort();
    }
}

inline std::vector<std::vector<int>> allBands(const Image *img)
{
    std::vector<std::vector<int>> v;
    for (int b = 0; b < img->nbands; ++b) v.push_back(testing_support::bandValues(img, b));
    return v;
}

} // namespace fuzz
