#pragma once
// Private helpers shared by the library's modules: allocation that ends the
// program instead of handing a null image to a caller that cannot check, and
// the neighbour table behind every border-free neighbour loop.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <vector>

#include <sys/mman.h>

#include "../pxImage.h"

namespace px {

// Every fatal error of the library goes through here: by default the message
// is printed on standard error and the program ends with status 1; inside
// pxCatchFatal the call unwinds instead (so working memory must be held by
// owners that release it) and the message reaches the catcher. `kind` is one of
// PX_FATAL_FILE, PX_FATAL_MEMORY, PX_FATAL_ARGUMENT.
[[noreturn]] void fatal(int kind, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// The same for an error whose message has already been printed (the image
// constructor prints its own): only the ending is left.
[[noreturn]] void fatalReported(int kind, const char *message);
// True inside pxCatchFatal.
bool catchingFatal();
// Every progress line of the library goes through here, to the calling
// thread's message sink (standard output unless pxSetMessageSink changed it).
void message(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for the few progress lines that are printed on standard error by
// default.
void messageOnStderr(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A block of `bytes` that a parameter asks for (a disc, a bucket count, a
// vertex or bin count) is sensible when it takes at most a quarter of the
// machine's physical memory, leaving room for the images of the call and the
// copies its caller makes. requireMemory ends the call (PX_FATAL_MEMORY, the
// message naming `what`) before anything is allocated when it is not.
bool sensibleMemory(double bytes);
void requireMemory(double bytes, const char *what);

// The squared length of the longest displacement between two pixels of an
// image of ncols x nrows, at most INT_MAX: a disc of this squared radius
// reaches every pixel from every pixel, so any larger disc acts the same.
inline int reachSquared(int ncols, int nrows)
{
    const long long dx = ncols > 0 ? ncols - 1 : 0, dy = nrows > 0 ? nrows - 1 : 0;
    return static_cast<int>(std::min<long long>(dx * dx + dy * dy, 2147483647LL));
}

// Internal working memory that cannot be had ends the program like the file
// errors do: the operators have no error codes to report it through.
[[noreturn]] inline void dieOutOfMemory() { fatal(PX_FATAL_MEMORY, "Could not allocate memory!\n"); }

inline void adviseHugePages(void *start, std::size_t bytes);

// std::vector of n elements; an allocation failure ends the program. A large
// one is advised onto huge pages between its allocation and its filling.
template <class T>
std::vector<T> buffer(std::size_t n, const T &value = T())
{
    try {
        std::vector<T> v;
        v.reserve(n);
        adviseHugePages(v.data(), n * sizeof(T));
        v.assign(n, value);
        return v;
    } catch (const std::bad_alloc &) {
        dieOutOfMemory();
    } catch (const std::length_error &) {
        dieOutOfMemory();
    }
}

// Asks for huge pages on the whole pages inside a large block that is about
// to be touched for the first time or at random: fresh small pages cost a
// fault each, and random jumps a TLB miss each. Advice only: nothing changes
// when the system refuses.
inline void adviseHugePages(void *start, std::size_t bytes)
{
    constexpr std::size_t huge = std::size_t(2) << 20, page = 4096;
    if (!start || bytes < 4 * huge) return;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(start) + page - 1) / page * page;
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(start) + bytes) / page * page;
    if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
}

// pxCreateImage for the library's own temporaries and results: pxCreateImage
// has already printed its message when it gives null, so only the exit is left.
inline Image *newImage(int nbands, int type, int ncols, int nrows)
{
    Image *img = pxCreateImage(nbands, type, ncols, nrows);
    if (!img) fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    return img;
}

// The displacements of an adjacency relation with their linear offsets for one
// image width. Pixels of the safe area (at least rx columns and ry rows from
// every border) have every neighbour inside the image, so their loop uses the
// offsets directly; other pixels test each displacement. Both paths walk the
// table in the relation's order.
struct NeighbourTable {
    int n = 0;
    std::vector<int> dx, dy, off;
    int rx = 0, ry = 0;
    int ncols = 0, nrows = 0;

    NeighbourTable(const int *pairs, int count, int cols, int rows)
        : n(count), dx(count), dy(count), off(count), ncols(cols), nrows(rows)
    {
        for (int j = 0; j < n; ++j) {
            dx[j] = pairs[2 * j];
            dy[j] = pairs[2 * j + 1];
            off[j] = dy[j] * cols + dx[j];
            rx = std::max(rx, std::abs(dx[j]));
            ry = std::max(ry, std::abs(dy[j]));
        }
    }

    // Builds the table from an adjacency function and frees its pair array.
    static NeighbourTable from(AdjacencyFn adjacency, int cols, int rows)
    {
        int *pairs = nullptr;
        int count = adjacency(&pairs);
        NeighbourTable t(pairs, count, cols, rows);
        std::free(pairs);
        return t;
    }

    bool inSafeArea(int x, int y) const
    {
        return x >= rx && x < ncols - rx && y >= ry && y < nrows - ry;
    }

    // Calls f(j, q) for every neighbour q of pixel p = (x, y) in table order.
    template <class F>
    void forEach(int p, int x, int y, F &&f) const
    {
        if (inSafeArea(x, y)) {
            for (int j = 0; j < n; ++j) f(j, p + off[j]);
        } else {
            for (int j = 0; j < n; ++j) {
                int nx = x + dx[j], ny = y + dy[j];
                if (nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) f(j, ny * ncols + nx);
            }
        }
    }

    template <class F>
    void forEach(int p, F &&f) const
    {
        forEach(p, p % ncols, p / ncols, f);
    }
};

// Displacements (dx, dy) of the disc of squared radius r2, centre included, in
// the order of pxNeighborhood: column by column from the left, each column from
// the top. The squares are summed in 64 bits so that no radius overflows. A
// negative r2 gives no displacement.
inline std::vector<int> discPairs(int r2)
{
    if (r2 < 0) return std::vector<int>();
    int r = static_cast<int>(std::sqrt(static_cast<double>(r2)));
    auto inside = [r2](int dx, int dy) {
        return static_cast<long long>(dx) * dx + static_cast<long long>(dy) * dy <= r2;
    };
    std::size_t count = 0;
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
            if (inside(dx, dy)) ++count;
    std::vector<int> pairs = buffer<int>(2 * count);
    std::size_t k = 0;
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
            if (inside(dx, dy)) {
                pairs[k++] = dx;
                pairs[k++] = dy;
            }
    return pairs;
}

} // namespace px
