// Levelings: connected filters that move an image towards a marker from both
// sides at once, some regions rising and others falling, without creating a
// contour.
//
// iftNonNormalizedLevel is a two-way IFT: seeds labelled 2 raise their region
// (min path costs, highest cost served first), seeds labelled 1 lower theirs
// (max path costs, lowest first), in one queue whose buckets hold the two
// kinds under opposite keys. ifLevel2 is the leveling made of an opening by
// reconstruction of the image under its marker's dilation followed by a
// closing by reconstruction above its marker's erosion.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../ift.h"
#include "../pxImage/detail.h"
#include "detail.h"

namespace {

using ift_detail::ImageOwner;
using ift_detail::RootsOwner;

constexpr int RISING = 2;
constexpr int FALLING = 1;

// The pixel-wise operations give null after printing their message.
Image *checked(Image *img)
{
    if (!img) px::fatalReported(PX_FATAL_MEMORY, "Could not allocate image!\n");
    return img;
}

// Largest value of band 0, 0 when none is positive: what the maxValue of an
// image handed to an IFT must be at least.
int largestOrZero(const Image *img)
{
    const int *v = img->bands[0];
    int top = 0;
    for (int p = 0; p < img->npixels; ++p) top = std::max(top, v[p]);
    return top;
}

// A one-band image of the given type holding the cost map of a
// reconstruction-style IFT of img from seeds, with maxValue as pxCopyBand
// gives it. The IFT writes straight into the result: the work image's label
// and predecessor bands would be dropped at once.
Image *watershedCosts(Image *img, int type, int maxcost, PathCostFn pathCost, bool decreasing,
                      Roots *seeds)
{
    ImageOwner out(px::newImage(1, type, img->ncols, img->nrows));
    std::vector<int> label = px::buffer<int>(static_cast<std::size_t>(img->npixels));
    ift_detail::watershedIft(img, label.data(), out->bands[0], nullptr, pxNeighborhood8, maxcost, pathCost,
                             decreasing, seeds);
    out->maxValue = largestOrZero(out.get());
    return out.release();
}

} // namespace

extern "C" {

// Every cost that enters the queue is a seed cost or a value of img, under
// either key; the buckets follow the true residue of the key, so no cost
// names a bucket outside the queue. A pixel seeded twice is moved: the later
// seed's cost and label win and it waits once.
void iftNonNormalizedLevel(Image *img, Image *ref, Image *work, AdjacencyFn adj, Roots *seeds)
{
    const int n = img->npixels;
    const int M = ref->maxValue;
    const int *v = img->bands[0];
    const int *r = ref->bands[0];
    const int nb = work->nbands;
    int *label = work->bands[nb - 3], *cost = work->bands[nb - 2], *pred = work->bands[nb - 1];

    const long long span = ift_detail::queueSpan(M);
    auto keyRising = [&](int c) { return ift_detail::wrapKey(static_cast<long long>(M) - c, span); };
    auto keyFalling = [&](int c) { return ift_detail::wrapKey(c, span); };
    const ift_detail::QueueKeys keys(span, n, [&](auto add) {
        auto both = [&](int c) {
            add(keyRising(c));
            add(keyFalling(c));
        };
        for (int p = 0; p < n; ++p) both(v[p]);
        for (int i = 0; i < seeds->count; ++i) both(seeds->cost[i]);
    });
    ift_detail::OwnedQueue queue(keys.count(), n);
    QueueBuckets *Q = queue.Q();
    QueueElements *A = queue.A();
    const px::NeighbourTable table = px::NeighbourTable::from(adj, img->ncols, img->nrows);

    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = r[p];
        pred[p] = p;
    }
    auto enqueue = [&](int p, int b) {
        if (A->bucketOf[p] == QUEUE_ABSENT) insertQueue(Q, A, b, p);
        else updateQueue(Q, A, b, p);
    };
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        if (p < 0 || p >= n) continue;
        cost[p] = seeds->cost[i];
        label[p] = seeds->label[i];
        enqueue(p, keys.bucket(label[p] == RISING ? keyRising(cost[p]) : keyFalling(cost[p])));
    }

    while (!isEmpty(Q)) {
        const int p = removeQueue(Q, A, Q->current);
        const int lp = label[p], cp = cost[p];
        table.forEach(p, [&](int, int q) {
            if (A->bucketOf[q] == QUEUE_DONE) return;
            if (lp == RISING) {
                const int c = std::min(cp, v[q]);
                if (c <= cost[q]) return;
                cost[q] = c;
                label[q] = RISING;
                pred[q] = p;
                enqueue(q, keys.bucket(keyRising(c)));
            } else if (lp == FALLING) {
                const int c = std::max(cp, v[q]);
                if (c >= cost[q]) return;
                cost[q] = c;
                label[q] = FALLING;
                pred[q] = p;
                enqueue(q, keys.bucket(keyFalling(c)));
            } else {
                std::fprintf(stderr, "pixel %d has invalid label (%d)!\n", p, lp);
            }
        });
    }
}

void ifLevel(Image *img, Image *ref, Roots *seeds, Image **filtered, Image **labels)
{
    ImageOwner work(px::newImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows));
    iftNonNormalizedLevel(img, ref, work.get(), pxNeighborhood8, seeds);
    const int nb = work->nbands;
    ImageOwner f(checked(pxCopyBand(work.get(), PX_GREY_INT, nb - 2)));
    ImageOwner l(checked(pxCopyBand(work.get(), PX_GREY_INT, nb - 3)));
    *filtered = f.release();
    *labels = l.release();
}

// Only band 0 of img and marker takes part: the filters and envelopes run on
// one-band views of them, so a marker or image with more bands can neither
// be filtered into, nor read past, a one-band image on the way (the opening
// has one band). The envelopes are handed on with their largest value as
// maxValue: the regional extrema and the closing's queue rely on that field,
// which the envelope operations leave at 0.
void ifLevel2(Image *img, Image *marker, Image **out)
{
    Image imgBand0 = *img, markerBand0 = *marker;
    imgBand0.nbands = markerBand0.nbands = 1;
    ImageOwner low;
    {
        ImageOwner dil(px::newImage(1, img->type, img->ncols, img->nrows));
        pxMorphDilate(&markerBand0, dil.get(), 1);
        low.reset(checked(pxLowerEnvelope(&imgBand0, dil.get())));
    }
    low->maxValue = largestOrZero(low.get());
    RootsOwner seedsMax(ifRegionalMaximaAsRoots(low.get()));
    ImageOwner opened(watershedCosts(img, img->type, img->maxValue, ifPathCostMin, true, seedsMax.get()));
    low.reset();

    ImageOwner up;
    {
        ImageOwner ero(px::newImage(1, img->type, img->ncols, img->nrows));
        pxMorphErode(&markerBand0, ero.get(), 1);
        up.reset(checked(pxUpperEnvelope(ero.get(), opened.get())));
    }
    up->maxValue = largestOrZero(up.get());
    RootsOwner seedsMin(ifRegionalMinimaAsRoots(up.get()));
    *out = watershedCosts(opened.get(), opened->type, up->maxValue, ifPathCostMax, false, seedsMin.get());
}

} // extern "C"
