// Connected filters by IFT: reconstruction by dilation (dome cutting) with the
// IFT that serves the highest cost first and min path costs, and its dual by
// erosion (basin filling) with the plain IFT and max path costs. Globally the
// seeds rebuild the whole image; locally each seed floods only the dome or
// basin holding it and every pixel it cannot reach keeps its input value.
//
// The IFT writes its cost and label maps straight into the two outputs: they
// are what a work image's cost and label bands would hold, and skipping the
// work image saves its bands and two copies on every call.

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

int largestOrZero(const Image *img)
{
    const int *v = img->bands[0];
    int top = 0;
    for (int p = 0; p < img->npixels; ++p)
        if (v[p] > top) top = v[p];
    return top;
}

// *filtered gets the cost map with orig's type, *labels the label map with
// type 2; in local mode the pixels no seed reached (still at the IFT's
// infinity) get orig's value back. Each maxValue is the largest value of the
// finished image, 0 when none is positive.
void reconstruct(Image *orig, Roots *seeds, int isGlobal, bool decreasing, int maxcost,
                 PathCostFn globalCost, PathCostFn localCost, int infinity, Image **filtered,
                 Image **labels)
{
    Image *f = px::newImage(1, orig->type, orig->ncols, orig->nrows);
    Image *l = px::newImage(1, PX_GREY_INT, orig->ncols, orig->nrows);
    ift_detail::watershedIft(orig, l->bands[0], f->bands[0], nullptr, pxNeighborhood8, maxcost,
                             isGlobal ? globalCost : localCost, decreasing, seeds);
    if (!isGlobal) {
        int *v = f->bands[0];
        const int *o = orig->bands[0];
        for (int p = 0; p < f->npixels; ++p)
            if (v[p] == infinity) v[p] = o[p];
    }
    f->maxValue = largestOrZero(f);
    l->maxValue = largestOrZero(l);
    *filtered = f;
    *labels = l;
}

// The queue must span the image's values and every seed cost: a seed above
// the image's maxValue (a reference level brighter than the source, say)
// would otherwise wrap around the circular queue and be served out of turn.
int queueTop(int top, const Roots *seeds)
{
    for (int i = 0; i < seeds->count; ++i)
        if (seeds->cost[i] > top) top = seeds->cost[i];
    return top;
}

} // namespace

extern "C" {

void ifReconstr(Image *orig, Image *, Roots *seeds, int isGlobal, Image **filtered,
                Image **labels)
{
    reconstruct(orig, seeds, isGlobal, true, queueTop(orig->maxValue, seeds), ifPathCostMin, ifPathCostMinLocal,
                IFT_INFINITY_MAX, filtered, labels);
}

// The seed costs come from ref, so the queue is sized from the larger of the
// two maxValues: an orig brighter than ref would otherwise give costs outside
// the queue's range.
void ifDualReconstr(Image *orig, Image *ref, Roots *seeds, int isGlobal, Image **filtered,
                    Image **labels)
{
    int maxcost = orig->maxValue;
    if (ref && ref->maxValue > maxcost) maxcost = ref->maxValue;
    reconstruct(orig, seeds, isGlobal, false, queueTop(maxcost, seeds), ifPathCostMax, ifPathCostMaxLocal,
                IFT_INFINITY_MIN, filtered, labels);
}

} // extern "C"
