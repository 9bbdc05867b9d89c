// Adjacency relations: fixed lists of (dx, dy) displacements. Their order is
// part of the contract, since every IFT offers a pixel's neighbours in it and
// keeps the first of equal offers.

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../pxImage.h"
#include "detail.h"

namespace {

// Hands out a malloc'd copy of a literal relation; the caller frees it.
int copyPairs(int **pairs, const int *table, int n)
{
    int *out = static_cast<int *>(std::malloc(sizeof(int) * 2 * static_cast<std::size_t>(n)));
    if (!out) px::dieOutOfMemory();
    std::memcpy(out, table, sizeof(int) * 2 * static_cast<std::size_t>(n));
    *pairs = out;
    return n;
}

} // namespace

extern "C" {

int pxNeighborhood4(int **pairs)
{
    static const int t[] = {1, 0, 0, 1, 0, -1, -1, 0};
    return copyPairs(pairs, t, 4);
}

int pxNeighborhood4forward(int **pairs)
{
    static const int t[] = {1, 0, 0, 1};
    return copyPairs(pairs, t, 2);
}

// The 4-neighbourhood first, then the diagonals: not in angular order.
int pxNeighborhood8(int **pairs)
{
    static const int t[] = {1, 0, 0, 1, 0, -1, -1, 0, 1, 1, -1, 1, 1, -1, -1, -1};
    return copyPairs(pairs, t, 8);
}

int pxNeighborhood8forward(int **pairs)
{
    static const int t[] = {1, 0, 0, 1, 1, 1, -1, 1};
    return copyPairs(pairs, t, 4);
}

// Angular order (clockwise on screen, rows growing downwards) from the right
// neighbour; skeleton code walks contours with it.
int pxNeighborhood8Clockwise(int **pairs)
{
    static const int t[] = {1, 0, 1, 1, 0, 1, -1, 1, -1, 0, -1, -1, 0, -1, 1, -1};
    return copyPairs(pairs, t, 8);
}

// Disc of squared radius r2, column by column from the left, each column from
// the top. A negative r2 gives an empty relation.
int pxNeighborhood(int **pairs, int r2)
{
    int r = r2 < 0 ? -1 : static_cast<int>(std::sqrt(static_cast<double>(r2)));
    // About pi r2 pairs, refused before they are counted when too many: from
    // r2 = 3.5e8 on there are surely more than an int can count twice.
    if (r2 > 350000000)
        px::fatal(PX_FATAL_ARGUMENT, "pxNeighborhood: a disc of squared radius %d has too many pairs\n", r2);
    px::requireMemory((3.15 * r2 + 4.0 * r + 1) * 2 * sizeof(int), "pxNeighborhood: the disc");
    auto inside = [r2](long long dx, long long dy) { return dx * dx + dy * dy <= r2; };
    long long count = 0;
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
            if (inside(dx, dy)) ++count;
    if (count > INT_MAX / 2)
        px::fatal(PX_FATAL_ARGUMENT, "pxNeighborhood: a disc of squared radius %d has too many pairs\n", r2);
    int *out = static_cast<int *>(std::malloc(sizeof(int) * 2 * static_cast<std::size_t>(count > 0 ? count : 1)));
    if (!out) px::dieOutOfMemory();
    int k = 0;
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
            if (inside(dx, dy)) {
                out[k++] = dx;
                out[k++] = dy;
            }
    *pairs = out;
    return static_cast<int>(count);
}

// Full square of half width r in the same column-major order as the disc, so
// pxMorphWindow(1) and pxNeighborhood(2) agree pair for pair. A negative r
// gives an empty relation.
int pxMorphWindow(int **pairs, int r)
{
    long long side = r < 0 ? 0 : 2LL * r + 1;
    if (side > 32767) px::fatal(PX_FATAL_ARGUMENT, "pxMorphWindow: a window of half width %d has too many pairs\n", r);
    long long n = side * side;
    px::requireMemory(static_cast<double>(n) * 2 * sizeof(int), "pxMorphWindow: the window");
    int *out = static_cast<int *>(std::calloc(static_cast<std::size_t>(n > 0 ? 2 * n : 2), sizeof(int)));
    if (!out) px::dieOutOfMemory();
    std::size_t k = 0;
    for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy) {
            out[k++] = dx;
            out[k++] = dy;
        }
    *pairs = out;
    return static_cast<int>(n);
}

} // extern "C"
