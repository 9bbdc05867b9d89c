#pragma once
// Private helpers of the IFT engine shared between its source files.

#include <cstdio>
#include <cstdlib>

#include "../ift.h"

// Internal invariants: kept in debug and sanitizer builds.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
#define PX_ASSERT(cond) ((void)0)
#else
#define PX_ASSERT(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond), std::abort()))
#endif

namespace ift_detail {

// The IFT with ifWatershedMetric as arc weight and one of the library's five
// path costs (nothing else), writing label, cost and, when pred is not null,
// predecessor straight into the arrays given (npixels of img each), served in
// decreasing cost when `decreasing`. Lets the reconstructions fill their
// outputs without a work image; the results are those of iftNonNormalized
// (Inverted) on the same arguments.
void watershedIft(Image *img, int *label, int *cost, int *pred, AdjacencyFn adjacency, int maxcost,
                  PathCostFn pathCost, bool decreasing, Roots *seeds);

} // namespace ift_detail
