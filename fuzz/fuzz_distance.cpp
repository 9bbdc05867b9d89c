// Differential target for the Euclidean distance transform and the skeleton
// IFTs (the Euclidean skeleton, the two-label propagation, the general
// skeleton IFT and the reconstruction from skeleton discs) and the contour
// seeds they start from, each against its plain version from the unit tests.
// The first byte picks the operator.

#include "decode.h"
#include "reference/distance.h"
#include "reference/skeleton.h"

namespace {

using namespace fuzz;
using namespace straight;
using ImagePtr = testing_support::ImagePtr;

int userEuclidean(Image *img, int p, int q) { return ifEuclideanDistance(img, p, q); }
int userSum(int a, int w) { return a + w; }

// An object mask (255 / 0) from a decoded image: the pixels at or above the
// level of one of its pixels.
ImagePtr binary(Bytes &in)
{
    ImagePtr img = decodeImage(in);
    const int t = img.at(in.range(0, img->npixels - 1)) + (in.flag() ? 1 : 0);
    for (int p = 0; p < img->npixels; ++p) img.at(p) = img.at(p) >= t ? 255 : 0;
    img->type = PX_GREY8;
    img->maxValue = 255;
    return img;
}

ImagePtr work(const Image *img) { return ImagePtr(pxCreateImage(5, PX_WORK, img->ncols, img->nrows)); }

void euclidean(Bytes &in, int op)
{
    ImagePtr bin = binary(in);
    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), bin.get(), 16, 16, false, 0, 9);
    ImagePtr lib = work(bin.get()), plain = work(bin.get());
    if (op == 0) {
        const AdjacencyFn adj = relation(in);
        iftEuclideanDT(bin.get(), lib.get(), adj, seeds.get());
        referenceEuclidean(Op::DT, bin.get(), plain.get(), pairsOf(adj), seeds.get(), {});
        same(allBands(lib.get()), allBands(plain.get()), "iftEuclideanDT");
    } else if (op == 1) {
        const AdjacencyFn adj = relation(in);
        const int inner = in.flag();
        static const double errors[] = {0.0, 0.5, 1.0, 2.0};
        const double error = errors[in.byte() % 4];
        const int seedDist = in.byte() % 5;
        iftEuclideanSkel(bin.get(), lib.get(), adj, seeds.get(), inner, error, seedDist);
        referenceEuclidean(Op::Skel, bin.get(), plain.get(), pairsOf(adj), seeds.get(), {}, inner, error, seedDist);
        same(allBands(lib.get()), allBands(plain.get()), "iftEuclideanSkel");
    } else {
        std::vector<int> contour(seeds.r.count);
        for (int i = 0; i < seeds.r.count; ++i) contour[i] = 1 + in.byte() % 3;
        ContourRoots cr{};
        cr.count = seeds.r.count;
        cr.pixel = seeds.r.pixel;
        cr.position = seeds.r.label;
        cr.contour = contour.data();
        iftSkelNova(bin.get(), lib.get(), &cr);
        referenceEuclidean(Op::Nova, bin.get(), plain.get(), pairsOf([](int **p) { return pxNeighborhood(p, 2); }),
                           seeds.get(), contour);
        same(allBands(lib.get()), allBands(plain.get()), "iftSkelNova");
    }
}

void generalSkeleton(Bytes &in)
{
    ImagePtr img = decodeImage(in);
    for (int p = 0; p < img->npixels; ++p) img.at(p) %= 16;  // path sums stay inside int
    img->maxValue = 15;
    if (img->npixels < 2) return;  // contour seeds are labelled 1 .. npixels - 1
    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), img.get(), 12, 1, false, 0, 5);
    for (int i = 0; i < seeds.r.count; ++i) seeds.r.label[i] = 1 + i % (img->npixels - 1);
    static const struct {
        WeightFn weight;
        PathCostFn cost;
    } combinations[] = {{ifWatershedMetric, ifPathCostSum}, {ifWatershedMetric, ifPathCostMax},
                        {ifEuclideanDistance, ifPathCostSum}, {userEuclidean, userSum}};
    const auto &c = combinations[in.byte() % 4];
    const AdjacencyFn adj = relation(in, false);
    const int contourMode = in.flag();
    ImagePtr lib = work(img.get()), plain = work(img.get());
    iftSkel(img.get(), lib.get(), adj, c.weight, c.cost, seeds.get(), contourMode);
    referenceSkel(img.get(), plain.get(), adj, c.weight, c.cost, seeds.get(), contourMode);
    same(allBands(lib.get()), allBands(plain.get()), "iftSkel");
}

void discs(Bytes &in)
{
    ImagePtr skel = decodeImage(in);
    // Mostly background, some squared radii (a few below 1).
    for (int p = 0; p < skel->npixels; ++p) skel.at(p) = skel.at(p) % 5 == 1 ? skel.at(p) % 40 - 3 : 0;
    ImagePtr lib = work(skel.get()), plain = work(skel.get());
    iftSkelReconstr(skel.get(), lib.get());
    referenceReconstr(skel.get(), plain.get());
    same(bandValues(lib.get(), 1), bandValues(plain.get(), 1), "iftSkelReconstr roots");
    same(bandValues(lib.get(), 4), bandValues(plain.get(), 4), "iftSkelReconstr marks");
}

// The contour seeds: cleaned contour, object and the order of following.
void contourSeeds(Bytes &in)
{
    ImagePtr bin = binary(in);
    ContourRoots r{};
    ImagePtr object(ifSkel2Roots(bin.get(), &r));
    const Seeds got{{r.pixel, r.pixel + r.count}, {r.position, r.position + r.count}, {r.contour, r.contour + r.count}};
    const bool spareClear = std::all_of(r.spare, r.spare + bin->npixels, [](int v) { return v == 0; });
    ifReleaseRoots2(&r);
    const RecursiveContours want(bin.get());
    same(got, want.seeds, "ifSkel2Roots seeds");
    same(bandValues(object.get()), want.f, "ifSkel2Roots object");
    same(spareClear, true, "ifSkel2Roots spare array");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    const int op = in.byte() % 6;
    if (op < 3) euclidean(in, op);
    else if (op == 3) generalSkeleton(in);
    else if (op == 4) discs(in);
    else contourSeeds(in);
    return 0;
}
