// Differential target for the IFT engines: the core IFT in both directions
// with every path cost (the inlined and monotone paths against the plain
// loop), the IFT variants (normalised weights, arc-weight images, masks,
// region merging), the arc-weight images, Prim's tree with its cut, and fuzzy
// connectedness, each against its straightforward version from the unit
// tests. The first byte picks the family.

#include <unistd.h>

#include <string>

#include "decode.h"
#include "reference/arcweights.h"
#include "reference/core.h"
#include "reference/fuzzy.h"
#include "reference/spanning.h"
#include "reference/variants.h"

namespace {

using namespace fuzz;
using namespace straight;
using ImagePtr = testing_support::ImagePtr;

// Functions the library does not know, so that its generic paths run.
int userWatershed(Image *img, int, int q) { return img->bands[0][q]; }
int userMean(Image *img, int p, int q) { return (img->bands[0][p] + img->bands[0][q]) / 2; }
int userMaxCost(int a, int w) { return a > w ? a : w; }
int userHalfSum(int a, int w) { return a + w / 2; }
int userCost(int a, int w) { return a > w ? a : w + 1; }
int userRegionWeight(Image *, UnionFind *uf, int p, int q) { return ufFindSet(uf, p) * 7 + ufFindSet(uf, q); }

const PathCostFn libraryCosts[] = {ifPathCostMax, ifPathCostMin, ifPathCostSum, ifPathCostMaxLocal,
                                   ifPathCostMinLocal};

void coreIft(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 70000;  // the plain loop's queue has maxcost + 1 buckets
    shape.negative = in.flag();
    ImagePtr img = decodeImage(in, shape);
    const int b = in.byte();
    const int top = img->maxValue;
    // maxcost: the image's top (the reconstructions' case), a little more,
    // or less than some values and seed costs (the queued paths' residues).
    const int maxcost = b % 4 == 0 ? top : b % 4 == 1 ? top + in.range(0, 3) : b % 4 == 2 ? in.range(0, top) : in.range(0, 70000);
    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), img.get(), 16, 16, true, shape.negative ? -3 : 0, maxcost + 3);
    const int c = in.byte();
    WeightFn weight = c & 0x10 ? userWatershed : ifWatershedMetric;
    const int k = c % 8;
    PathCostFn cost = k < 5 ? libraryCosts[k] : k == 5 ? userMaxCost : userHalfSum;
    const AdjacencyFn adj = relation(in);
    const bool decreasing = in.flag();
    ImagePtr lib(pxCreateImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows));
    ImagePtr plain(pxCreateImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows));
    if (decreasing) iftNonNormalizedInverted(img.get(), lib.get(), adj, weight, maxcost, cost, seeds.get());
    else iftNonNormalized(img.get(), lib.get(), adj, weight, maxcost, cost, seeds.get());
    referenceIft(img.get(), plain.get(), adj, weight, maxcost, cost, seeds.get(), decreasing);
    same(resultOf(lib.get()), resultOf(plain.get()), decreasing ? "iftNonNormalizedInverted" : "iftNonNormalized");
}

// Weights in 0 .. 1000, as the normalised variants expect.
ImagePtr weightImage(Bytes &in, int maxPixels = 4096)
{
    ImageShape shape;
    shape.wideTop = 1000;
    shape.maxPixels = maxPixels;
    ImagePtr img = decodeImage(in, shape);
    for (int p = 0; p < img->npixels; ++p) img.at(p) %= 1001;
    img->maxValue = 0;
    for (int p = 0; p < img->npixels; ++p) img->maxValue = std::max(img->maxValue, img.at(p));
    return img;
}

// An arc-weight image built by the library, with some arcs removed or
// reweighted past 1000 when `odd` is set.
ImagePtr arcWeights(Bytes &in, Image *img, AdjacencyFn adj, bool odd, int heaviest)
{
    ImagePtr arcs(in.flag() ? euclideanWF(img, adj) : watershedWF(img, adj));
    if (!odd) return arcs;
    for (int j = 0; j < arcs->nbands; ++j)
        for (int p = 0; p < arcs->npixels; ++p) {
            const int b = in.byte();
            if (arcs.at(p, j) < 0 || b < 200) continue;
            arcs.at(p, j) = b < 220 ? -1 : in.range(0, heaviest);
        }
    return arcs;
}

void variants(Bytes &in)
{
    ImagePtr img = weightImage(in);
    SeedsOwner seeds;
    const bool heavySeeds = in.byte() < 40;
    decodeSeeds(in, seeds.get(), img.get(), 12, 12, true, 0, heavySeeds ? 60000 : 1000);
    ImagePtr mask = decodeLike(in, img.get());
    for (int p = 0; p < mask->npixels; ++p) mask.at(p) = mask.at(p) % 6 - 1;
    const AdjacencyFn adj = relation(in);
    const int k = in.byte() % 6;
    Call c{static_cast<Call::Kind>(in.byte() % 6), img.get(), seeds.get(), k < 5 ? libraryCosts[k] : userCost, adj};
    c.weight = in.flag() ? userMean : ifWatershedMetric;
    ImagePtr arcs;
    if (c.kind == Call::IFT_WF || c.kind == Call::IFT_NON_NORMALIZED_WF || c.kind == Call::IFT_MASK_WF) {
        arcs = arcWeights(in, img.get(), adj, in.flag(), 2000);
        c.arcs = arcs.get();
    }
    if (c.kind == Call::IFT_MASK || c.kind == Call::IFT_MASK_WF) c.mask = mask.get();
    c.maxcost = c.kind == Call::DYNAMIC ? 1000 : in.range(0, 2000);
    if (c.kind == Call::DYNAMIC) {
        const int criterion = in.byte() % 3;
        if (criterion == 1) {
            c.regionWeight = ifEdgeWeightVolume;
            c.init = ifInitVolumeData;
            c.merge = ifUpdateVolumeData;
            c.nData = 2;
        } else if (criterion == 2) {
            c.regionWeight = userRegionWeight;
            c.merge = nullptr;
        }
    }
    GraphDump a, b;
    same(libraryVariant(c, &a), plainVariant(c, &b), "IFT variant results");
    same(a, b, "iftDinamicNonNormalized graph");
}

void arcWeightImages(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 70000;
    ImagePtr grey = decodeImage(in, shape), colour;
    if (in.flag()) {  // three bands
        ImagePtr g2 = decodeLike(in, grey.get(), shape), g3 = decodeLike(in, grey.get(), shape);
        colour = ImagePtr(pxCreateImage(3, PX_COLOR8, grey->ncols, grey->nrows));
        for (int p = 0; p < grey->npixels; ++p) {
            colour.at(p, 0) = grey.at(p);
            colour.at(p, 1) = g2.at(p);
            colour.at(p, 2) = g3.at(p);
        }
    }
    Image *img = colour.get() ? colour.get() : grey.get();
    const AdjacencyFn adj = relation(in);
    static const Measure measures[] = {EUCLIDEAN, GAUSSIAN, GAUSSIAN2, WATERSHED};
    static Image *(*const builders[])(Image *, AdjacencyFn) = {euclideanWF, gaussianWF, gaussian2WF, watershedWF};
    const int m = in.byte() % 4;
    ImagePtr w(builders[m](img, adj));
    const std::vector<int> pairs = pairsOf(adj);
    same(w->adjCount * 2 == static_cast<int>(pairs.size()) && w->nbands == w->adjCount, true, "arc-weight layout");
    same(std::vector<int>(w->adjPairs, w->adjPairs + 2 * w->adjCount), pairs, "arc-weight pairs");
    same(w->maxValue, 1000, "arc-weight maxValue");
    const int ncols = img->ncols, nrows = img->nrows;
    for (int j = 0; j < w->adjCount; ++j)
        for (int p = 0; p < img->npixels; ++p) {
            const int x = p % ncols + pairs[2 * j], y = p / ncols + pairs[2 * j + 1];
            int expected = -1;
            if (x >= 0 && x < ncols && y >= 0 && y < nrows) {
                bool written;
                expected = plainWeight(measures[m], img, p, y * ncols + x, written);
                if (!written) expected = 0;
            }
            same(w.at(p, j), expected, "arc weight");
        }
}

void prim(Bytes &in)
{
    ImagePtr img = weightImage(in);
    if (img->npixels < 1) return;
    const AdjacencyFn adj = relation(in, false);
    static const WeightFn weights[] = {ifWatershedMetric, ifEuclideanDistance, ifMaxDistance, ifChanferDistance,
                                       userWatershed};
    const int b = in.byte();
    ImagePtr got(pxCreateImage(2, PX_GREY_INT, img->ncols, img->nrows)), want(pxCreateImage(2, PX_GREY_INT, img->ncols, img->nrows));
    if (b & 0x80) {
        const int heaviest = in.flag() ? 1000 : 3000;
        ImagePtr arcs = arcWeights(in, img.get(), adj, true, heaviest);
        int top = 0;
        for (int j = 0; j < arcs->nbands; ++j)
            for (int p = 0; p < arcs->npixels; ++p) top = std::max(top, arcs.at(p, j));
        iftPrimWF(img.get(), got.get(), arcs.get());
        plainPrim(img.get(), want.get(), adj, nullptr, arcs.get(), std::max(50000, 49 * top + 1));
        same(allBands(got.get()), allBands(want.get()), "iftPrimWF");
    } else {
        const WeightFn weight = weights[b % 5];
        iftPrim(img.get(), got.get(), adj, weight);
        plainPrim(img.get(), want.get(), adj, weight);
        same(allBands(got.get()), allBands(want.get()), "iftPrim");
    }
    const double fraction = in.byte() / 200.0;
    ImagePtr cut(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows)), plainCut(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    ifMstThreshold(got.get(), cut.get(), fraction);
    plainMstThreshold(want.get(), plainCut.get(), fraction);
    same(bandValues(cut.get()), bandValues(plainCut.get()), "ifMstThreshold labels");
    same(cut->maxValue, plainCut->maxValue, "ifMstThreshold maxValue");
}

void fuzzy(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 70000;  // the plain forest's queue spans the image's values
    shape.negative = true;
    shape.maxPixels = 1024;
    ImagePtr img = decodeImage(in, shape);
    const int nobjects = 1 + in.byte() % 3;
    int means[4] = {0, 0, 0, 0}, variances[4] = {0, 1, 1, 1};
    for (int k = 1; k <= nobjects; ++k) {
        means[k] = in.flag() ? img.at(in.range(0, img->npixels - 1)) : in.range(-100, 70000);
        variances[k] = in.flag() ? in.range(1, 40) : in.range(1, 1 << 20);
    }
    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), img.get(), 10, nobjects + 1, true, 0, 9);
    const AdjacencyFn adj = relation(in);
    const int which = in.byte() % 3;
    if (which == 2) {
        ImagePtr w(ifFuzzyEdgesWeight(img.get(), adj, means[1], variances[1]));
        ImagePtr pw(plainEdgesWeight(img.get(), adj, means[1], variances[1]));
        same(allBands(w.get()), allBands(pw.get()), "ifFuzzyEdgesWeight");
        ImagePtr t(ifTestFuzzy(img.get(), means[1], variances[1]));
        same(bandValues(t.get()), plainTestFuzzy(img.get(), means[1], variances[1]), "ifTestFuzzy");
        return;
    }
    ImagePtr label(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows)), cost(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    ImagePtr plainLabel(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows)), plainCost(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    for (int p = 0; p < img->npixels; ++p) label.at(p) = plainLabel.at(p) = -5;
    if (which == 0) {
        iftFuzzy(img.get(), label.get(), cost.get(), adj, seeds.get(), means, variances, nobjects);
        plainFuzzy(img.get(), plainLabel.get(), plainCost.get(), adj, seeds.get(), means, variances, nobjects);
    } else {
        iftFuzzyEdges(img.get(), label.get(), cost.get(), adj, seeds.get(), means, variances, nobjects);
        plainFuzzyEdges(img.get(), plainLabel.get(), plainCost.get(), adj, seeds.get(), means, variances, nobjects);
    }
    same(bandValues(label.get()), bandValues(plainLabel.get()), which ? "iftFuzzyEdges labels" : "iftFuzzy labels");
    same(bandValues(cost.get()), bandValues(plainCost.get()), which ? "iftFuzzyEdges costs" : "iftFuzzy costs");
    for (const char *name : {"obj", "fun", "tmp"})
        for (int j = 1; j <= 4; ++j) unlink((name + std::to_string(j) + ".pgm").c_str());
}

} // namespace

// The fuzzy segmenters write their debug images into the working directory:
// a scratch directory of the process's own.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static std::string dir = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/ift-fuzz-XXXXXX";
    if (!mkdtemp(&dir[0]) || chdir(dir.c_str()) != 0) std::abort();
    std::atexit([] { rmdir(dir.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    switch (in.byte() % 5) {
    case 0: coreIft(in); break;
    case 1: variants(in); break;
    case 2: arcWeightImages(in); break;
    case 3: prim(in); break;
    default: fuzzy(in); break;
    }
    return 0;
}
