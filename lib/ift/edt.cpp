// Exact Euclidean distance transform with nearest seeds, by the separable
// lower envelope of parabolas (Felzenszwalb and Huttenlocher, 2004).
//
// A column pass finds, for every pixel, the nearest seed of its own column
// (the upper one of two at the same distance); the row pass then takes, for
// every pixel (x, y) of a row, the column q minimising (x - q)² + g(q), where
// g(q) is the squared vertical distance from row y to the seed the column pass
// found in column q. The minimisers along a row are the lower envelope of
// those parabolas, built left to right on a stack.
//
// Everything is integer. The envelope stores where each parabola starts to
// win as a fraction N / D (never divided out), and compares fractions by cross
// multiplication: |N| stays below ncols² + nrows² and D below 2 ncols, so the
// products fit 64 bits for sides up to 2^20 and take 128 bits beyond. A
// parabola of a higher column must be strictly lower to take over, and one
// that only ties its predecessor at the start of that predecessor's range is
// dropped, so among equidistant seeds the lowest column wins, then (from the
// column pass) the lowest row.
//
// The column pass runs on stripes of columns walked row by row, the row pass
// on stripes of rows. The column pass's result needs no memory of its own: it
// is kept, one int per pixel, at the start of each row's place in one of the
// outputs, and the row pass copies a row out before writing over it.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "../pxImage/parallel.h"

namespace {

constexpr int NO_SEED = -1;               // no seed in the column, or in the image
constexpr int NO_SEED_BELOW = INT_MAX;    // column pass: no seed below the row yet
constexpr int PIXELS_PER_TASK = 1 << 14;  // smallest share of work worth a thread
constexpr int SMALL_SIDE = 1 << 20;       // sides up to this keep the envelope in 64 bits

// Where the column pass's rows are kept: the start of each row's place in one
// of the outputs (every output has at least an int per pixel).
struct Carrier {
    char *base;
    std::size_t rowBytes;
    int *row(int y) const { return reinterpret_cast<int *>(base + static_cast<std::size_t>(y) * rowBytes); }
};

// The outputs of one call; null ones are skipped.
struct Outputs {
    long long *sqdist;
    double *distance;
    int *nearest, *label;
    const int *seedLabel;  // label of each seed pixel (read at seeds only), when labels are wanted
};

// Column pass over columns c0 .. c1-1: every pixel gets the row of the nearest
// seed in its column, the upper one on a tie, or NO_SEED.
template <class IsSeed>
void nearestInColumns(int c0, int c1, int ncols, int nrows, const Carrier &carrier, IsSeed isSeed)
{
    const int width = c1 - c0;
    std::vector<int> last = px::buffer<int>(static_cast<std::size_t>(width), NO_SEED);
    for (int y = 0; y < nrows; ++y) {
        int *out = carrier.row(y) + c0;
        const int p = y * ncols + c0;
        for (int i = 0; i < width; ++i) {
            last[i] = isSeed(p + i) ? y : last[i];
            out[i] = last[i];
        }
    }
    std::vector<int> &below = last;
    std::fill(below.begin(), below.end(), NO_SEED_BELOW);
    for (int y = nrows - 1; y >= 0; --y) {
        int *out = carrier.row(y) + c0;
        for (int i = 0; i < width; ++i) {
            const int up = out[i];
            below[i] = up == y ? y : below[i];
            const int upDistance = up == NO_SEED ? INT_MAX : y - up;
            const int downDistance = below[i] == NO_SEED_BELOW ? INT_MAX : below[i] - y;
            // Both missing: up is NO_SEED, the right answer.
            out[i] = upDistance <= downDistance ? up : below[i];
        }
    }
}

// The lower envelope of one row's parabolas, kept between rows of a stripe.
template <class Wide>
struct Envelope {
    std::vector<int> column;
    std::vector<long long> height;     // g(q)
    std::vector<long long> startNum;   // the parabola wins from startNum / startDen on
    std::vector<long long> startDen;   // (entry 0 wins from minus infinity)
    std::vector<int> seedRow;          // the column pass's rows, copied out

    explicit Envelope(int ncols)
        : column(px::buffer<int>(ncols)), height(px::buffer<long long>(ncols)),
          startNum(px::buffer<long long>(ncols)), startDen(px::buffer<long long>(ncols)),
          seedRow(px::buffer<int>(ncols))
    {
    }

    // Builds the envelope of row y; returns its size (0 when no seed exists).
    int build(int y, int ncols)
    {
        const Wide last = ncols - 1;
        int k = -1;
        for (int q = 0; q < ncols; ++q) {
            const int r = seedRow[q];
            if (r == NO_SEED) continue;
            const long long dy = y - r, g = dy * dy;
            const long long hq = static_cast<long long>(q) * q + g;
            for (;;) {
                if (k < 0) {
                    k = 0;
                    column[0] = q;
                    height[0] = g;
                    break;
                }
                const int v = column[k];
                const long long num = hq - (static_cast<long long>(v) * v + height[k]);
                const long long den = 2 * static_cast<long long>(q - v);
                // q takes over at num / den; the top is dropped when that is
                // not after the top's own start.
                if (k > 0 && Wide(num) * startDen[k] <= Wide(startNum[k]) * den) {
                    --k;
                    continue;
                }
                if (Wide(num) >= last * den) break;  // q would only win past the row's end
                ++k;
                column[k] = q;
                height[k] = g;
                startNum[k] = num;
                startDen[k] = den;
                break;
            }
        }
        return k + 1;
    }

    // Writes row y's outputs from its envelope of `size` entries.
    void write(int y, int ncols, int size, const Outputs &out) const
    {
        const std::size_t row = static_cast<std::size_t>(y) * ncols;
        if (size == 0) {
            for (int x = 0; x < ncols; ++x) {
                if (out.sqdist) out.sqdist[row + x] = -1;
                if (out.distance) out.distance[row + x] = std::numeric_limits<double>::infinity();
                if (out.nearest) out.nearest[row + x] = NO_SEED;
                if (out.label) out.label[row + x] = 0;
            }
            return;
        }
        int k = 0;
        for (int x = 0; x < ncols; ++x) {
            while (k + 1 < size && Wide(x) * startDen[k + 1] > Wide(startNum[k + 1])) ++k;
            const int v = column[k];
            const long long dx = x - v, d = dx * dx + height[k];
            if (out.sqdist) out.sqdist[row + x] = d;
            if (out.distance) out.distance[row + x] = std::sqrt(static_cast<double>(d));
            if (out.nearest || out.label) {
                const int seed = seedRow[v] * ncols + v;
                if (out.nearest) out.nearest[row + x] = seed;
                if (out.label) out.label[row + x] = out.seedLabel[seed];
            }
        }
    }
};

template <class Wide>
void nearestInRows(int ncols, int nrows, const Carrier &carrier, const Outputs &out)
{
    const int minRows = std::max(1, PIXELS_PER_TASK / ncols);
    pxParallelRanges(nrows, minRows, [&](int y0, int y1, int) {
        Envelope<Wide> env(ncols);
        for (int y = y0; y < y1; ++y) {
            std::memcpy(env.seedRow.data(), carrier.row(y), static_cast<std::size_t>(ncols) * sizeof(int));
            env.write(y, ncols, env.build(y, ncols), out);
        }
    });
}

// Labels 1, 2, ... of the zero pixels of v in raster order, written at those
// pixels only: counts per row, then numbers per row from the running total.
void rankZeros(const int *v, int ncols, int nrows, int *seedLabel)
{
    std::vector<int> before = px::buffer<int>(static_cast<std::size_t>(nrows) + 1);
    const int minRows = std::max(1, PIXELS_PER_TASK / ncols);
    pxParallelRanges(nrows, minRows, [&](int y0, int y1, int) {
        for (int y = y0; y < y1; ++y) {
            const int *r = v + static_cast<std::size_t>(y) * ncols;
            int n = 0;
            for (int x = 0; x < ncols; ++x) n += r[x] == 0;
            before[y + 1] = n;
        }
    });
    for (int y = 0; y < nrows; ++y) before[y + 1] += before[y];
    pxParallelRanges(nrows, minRows, [&](int y0, int y1, int) {
        for (int y = y0; y < y1; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * ncols;
            int next = before[y];
            for (int x = 0; x < ncols; ++x)
                if (v[row + x] == 0) seedLabel[row + x] = ++next;
        }
    });
}

template <class T>
std::unique_ptr<T[]> uninitialised(std::size_t n)
{
    T *p = new (std::nothrow) T[n];
    if (!p) px::dieOutOfMemory();
    px::adviseHugePages(p, n * sizeof(T));
    return std::unique_ptr<T[]>(p);
}

} // namespace

extern "C" void ifExactEDT(Image *img, Roots *seeds, long long *sqdist, double *distance, int *nearest, int *label)
{
    const int ncols = img->ncols, nrows = img->nrows, n = img->npixels;
    const int nseeds = seeds ? std::max(seeds->count, 0) : 0;
    for (int i = 0; i < nseeds; ++i)
        if (seeds->pixel[i] < 0 || seeds->pixel[i] >= n)
            px::fatal(PX_FATAL_ARGUMENT, "ifExactEDT: seed %d at pixel %d lies outside the %d x %d image\n", i,
                      seeds->pixel[i], ncols, nrows);
    if (n <= 0) return;

    Carrier carrier;
    if (nearest) carrier = Carrier{reinterpret_cast<char *>(nearest), ncols * sizeof(int)};
    else if (label) carrier = Carrier{reinterpret_cast<char *>(label), ncols * sizeof(int)};
    else if (sqdist) carrier = Carrier{reinterpret_cast<char *>(sqdist), ncols * sizeof(long long)};
    else if (distance) carrier = Carrier{reinterpret_cast<char *>(distance), ncols * sizeof(double)};
    else return;

    const std::size_t npixels = static_cast<std::size_t>(n);
    std::unique_ptr<int[]> seedLabel;
    if (label) seedLabel = uninitialised<int>(npixels);
    std::unique_ptr<std::uint8_t[]> isSeed;
    if (seeds) {
        isSeed = uninitialised<std::uint8_t>(npixels);
        std::memset(isSeed.get(), 0, npixels);
        for (int i = 0; i < nseeds; ++i) {
            isSeed[seeds->pixel[i]] = 1;
            if (label) seedLabel[seeds->pixel[i]] = seeds->label[i];
        }
    } else if (label) {
        rankZeros(img->bands[0], ncols, nrows, seedLabel.get());
    }

    const int minColumns = std::max(16, PIXELS_PER_TASK / nrows);
    const int *v = img->bands[0];
    const std::uint8_t *flags = isSeed.get();
    pxParallelRanges(ncols, minColumns, [&](int c0, int c1, int) {
        if (flags) nearestInColumns(c0, c1, ncols, nrows, carrier, [flags](int p) { return flags[p] != 0; });
        else nearestInColumns(c0, c1, ncols, nrows, carrier, [v](int p) { return v[p] == 0; });
    });

    const Outputs out{sqdist, distance, nearest, label, seedLabel.get()};
    if (ncols <= SMALL_SIDE && nrows <= SMALL_SIDE) nearestInRows<long long>(ncols, nrows, carrier, out);
    else nearestInRows<__int128>(ncols, nrows, carrier, out);
}
