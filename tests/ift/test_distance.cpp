#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reference/distance.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

template <class F>
std::string capturedStdout(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// Random binary image with the given object density (values 0 / 255).
ImagePtr randomBinary(std::mt19937 &rng, int ncols, int nrows, double density)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows));
    std::bernoulli_distribution on(density);
    for (int p = 0; p < img->npixels; ++p) img.at(p) = on(rng) ? 255 : 0;
    img->maxValue = 255;
    return img;
}

ImagePtr readData(const char *name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

ImagePtr thresholded(Image *img, int level)
{
    return ImagePtr(pxThreshold(img, PX_GREY8, level, 255));
}

// Random seeds inside the image, duplicates likely, labels 1..count.
void randomSeeds(std::mt19937 &rng, Roots *seeds, int npixels, int count)
{
    ifAllocateRoots(seeds, count);
    std::uniform_int_distribution<int> pix(0, npixels - 1);
    for (int i = 0; i < count; ++i) {
        seeds->pixel[i] = pix(rng);
        seeds->label[i] = i + 1;
        seeds->cost[i] = 7;
    }
}

// Library against reference for the three Euclidean operators on one image
// and seed set. The library unrolls the usual neighbourhoods; the clockwise
// 8-neighbourhood and the disc of squared radius 5 (steps of 2) take its
// general loop.
void expectEuclideanLikeReference(Image *bin, Roots *seeds, const std::string &what)
{
    const AdjacencyFn disc5 = [](int **p) { return pxNeighborhood(p, 5); };
    for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8, pxNeighborhood8Clockwise, disc5}) {
        ImagePtr lib(pxCreateImage(2 + 3, PX_WORK, bin->ncols, bin->nrows)), ref(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
        iftEuclideanDT(bin, lib.get(), adj, seeds);
        referenceEuclidean(Op::DT, bin, ref.get(), pairsOf(adj), seeds, {});
        ASSERT_EQ(bandsOf(lib.get()), bandsOf(ref.get())) << what << " DT";
        for (int inner : {0, 1})
            for (double error : {0.0, 1.0})
                for (int seedDist : {0, 3}) {
                    ImagePtr l(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows)), r(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
                    capturedStdout([&] { iftEuclideanSkel(bin, l.get(), adj, seeds, inner, error, seedDist); });
                    referenceEuclidean(Op::Skel, bin, r.get(), pairsOf(adj), seeds, {}, inner, error, seedDist);
                    ASSERT_EQ(bandsOf(l.get()), bandsOf(r.get()))
                        << what << " Skel inner " << inner << " error " << error << " seedDist " << seedDist;
                }
    }
    ContourRoots cr{};
    cr.count = seeds->count;
    cr.pixel = seeds->pixel;
    cr.position = seeds->label;
    std::vector<int> contour(seeds->count);
    for (int i = 0; i < seeds->count; ++i) contour[i] = 1 + seeds->label[i] % 3;
    cr.contour = contour.data();
    ImagePtr lib(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows)), ref(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
    iftSkelNova(bin, lib.get(), &cr);
    referenceEuclidean(Op::Nova, bin, ref.get(), pairsOf([](int **p) { return pxNeighborhood(p, 2); }), seeds, contour);
    ASSERT_EQ(bandsOf(lib.get()), bandsOf(ref.get())) << what << " Nova";
}

// Squared distance from every pixel to the nearest seed, by brute force.
std::vector<long long> exactSquaredDistance(int ncols, int nrows, const std::vector<int> &seeds)
{
    std::vector<long long> d(static_cast<std::size_t>(ncols) * nrows, LLONG_MAX);
    for (int p = 0; p < ncols * nrows; ++p)
        for (int s : seeds) {
            long long dx = p % ncols - s % ncols, dy = p / ncols - s / ncols;
            d[p] = std::min(d[p], dx * dx + dy * dy);
        }
    return d;
}

Roots seedsAt(const std::vector<int> &pixels)
{
    Roots r{};
    ifAllocateRoots(&r, static_cast<int>(pixels.size()));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        r.pixel[i] = pixels[i];
        r.label[i] = static_cast<int>(i) + 1;
    }
    return r;
}

// Largest |sqrt(cost) - exact distance| of iftEuclideanDT from these seeds.
double largestDistanceError(int ncols, int nrows, const std::vector<int> &pixels)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows)), work(pxCreateImage(4, PX_WORK, ncols, nrows));
    Roots r = seedsAt(pixels);
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, &r);
    ifReleaseRoots(&r);
    std::vector<long long> exact = exactSquaredDistance(ncols, nrows, pixels);
    double worst = 0;
    for (int p = 0; p < img->npixels; ++p)
        worst = std::max(worst, std::sqrt(double(work.at(p, 2))) - std::sqrt(double(exact[p])));
    return worst;
}

int userEuclidean(Image *img, int p, int q) { return ifEuclideanDistance(img, p, q); }
int userSum(int a, int w) { return a + w; }

} // namespace

TEST(EuclideanDistance, CentreSeedGivesSquaredDistancesOnFiveByFive)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, 5, 5));
    ImagePtr work(pxCreateImage(4, PX_WORK, 5, 5));
    SeedSet seed({12}, {3}, {0});
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, seed.get());
    EXPECT_EQ(bandValues(work.get(), 2), (std::vector<int>{8, 5, 4, 5, 8,
                                                           5, 2, 1, 2, 5,
                                                           4, 1, 0, 1, 4,
                                                           5, 2, 1, 2, 5,
                                                           8, 5, 4, 5, 8}));
    EXPECT_EQ(bandValues(work.get(), 1), std::vector<int>(25, 3));
    EXPECT_EQ(work.at(0, 3), 6);  // the corner came through the diagonal
}

TEST(EuclideanDistance, EqualDistanceGoesToTheFirstFrontAndSeedCostsAreIgnored)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, 5, 1));
    for (bool swapped : {false, true}) {
        ImagePtr work(pxCreateImage(4, PX_WORK, 5, 1));
        SeedSet seeds(swapped ? std::initializer_list<int>{4, 0} : std::initializer_list<int>{0, 4}, {1, 2}, {50, 90});
        iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, seeds.get());
        EXPECT_EQ(bandValues(work.get(), 2), (std::vector<int>{0, 1, 4, 1, 0}));
        EXPECT_EQ(work.at(2, 1), 1) << "the first seed's front reaches the middle first";
        EXPECT_EQ(work.at(swapped ? 4 : 0, 1), 1);
    }
    // A pixel seeded twice is queued once, with the later label.
    ImagePtr work(pxCreateImage(4, PX_WORK, 5, 1));
    SeedSet dup({0, 4, 0}, {1, 2, 3}, {0, 0, 0});
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood4, dup.get());
    EXPECT_EQ(bandValues(work.get(), 1), (std::vector<int>{3, 3, 2, 2, 2}))
        << "the moved seed now enters behind the other one";
}

TEST(EuclideanDistance, MatchesThePlainPropagationOnRandomAndRealImages)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 44; ++trial) {
        // Some sets without a seed, which leave every pixel unreached; last,
        // a narrow and a flat image, which the distance transform keeps in
        // plain rows rather than in blocks.
        const int ncols = trial == 42 ? 2 : trial == 43 ? 6000 : 1 + static_cast<int>(rng() % 23);
        const int nrows = trial == 42 ? 6000 : trial == 43 ? 1 : 1 + static_cast<int>(rng() % 19);
        ImagePtr bin = randomBinary(rng, ncols, nrows, trial % 2 ? 0.8 : 0.5);
        Roots seeds{};
        randomSeeds(rng, &seeds, bin->npixels, trial % 8 == 7 ? 0 : 1 + static_cast<int>(rng() % 6));
        expectEuclideanLikeReference(bin.get(), &seeds, "random " + std::to_string(trial));
        ifReleaseRoots(&seeds);
    }
    for (const char *name : {"horse.pgm", "coins.pgm"}) {
        ImagePtr img = readData(name);
        ImagePtr bin = thresholded(img.get(), 100);
        Roots seeds{};
        ifDistTransfRoots(bin.get(), &seeds, 1);
        expectEuclideanLikeReference(bin.get(), &seeds, name);
        ifReleaseRoots(&seeds);
    }
}

TEST(EuclideanDistance, ExactFromOneSeedOrConvexShapesAndBoundedOtherwise)
{
    // One seed, and the pixels of a disc or a rectangle as seeds.
    EXPECT_EQ(largestDistanceError(31, 17, {5 + 9 * 31}), 0.0);
    std::vector<int> disc, rect;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            if ((x - 20) * (x - 20) + (y - 18) * (y - 18) <= 49) disc.push_back(y * 40 + x);
            if (x >= 10 && x < 25 && y >= 12 && y < 20) rect.push_back(y * 40 + x);
        }
    EXPECT_EQ(largestDistanceError(40, 40, disc), 0.0);
    EXPECT_EQ(largestDistanceError(40, 40, rect), 0.0);

    // Scattered seeds: the propagated vector can miss the nearest seed where
    // a Voronoi cell narrows to less than a pixel, in about one pixel in three
    // million here. The largest error over these shapes is pinned: 13.0384
    // for an exact 13, one unit too much in the squared distance.
    std::mt19937 rng(1);
    double worst = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int ncols = 30 + static_cast<int>(rng() % 100), nrows = 30 + static_cast<int>(rng() % 100);
        const int count = 2 + static_cast<int>(rng() % 30);
        std::vector<int> seeds;
        for (int i = 0; i < count; ++i) seeds.push_back(static_cast<int>(rng() % (ncols * nrows)));
        worst = std::max(worst, largestDistanceError(ncols, nrows, seeds));
    }
    EXPECT_NEAR(worst, std::sqrt(170.0) - 13, 1e-9);
}

TEST(EuclideanDistance, SkeletonMarksNeverFallOnSeedsOrOutsideTheDomain)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; ++trial) {
        ImagePtr bin = randomBinary(rng, 25, 20, 0.75);
        Roots seeds{};
        ifDistTransfRoots(bin.get(), &seeds, 1);
        for (int inner : {1, 0}) {
            ImagePtr work(pxCreateImage(5, PX_WORK, 25, 20));
            capturedStdout([&] { iftEuclideanSkel(bin.get(), work.get(), pxNeighborhood8, &seeds, inner, 1.0, 0); });
            for (int i = 0; i < seeds.count; ++i)
                if (inner) {
                    EXPECT_EQ(work.at(seeds.pixel[i], 4), 0) << "seed " << seeds.pixel[i];
                }
            for (int p = 0; p < bin->npixels; ++p)
                if (work.at(p, 4)) {
                    EXPECT_EQ(bin.at(p) > 0, inner == 1) << p;
                }
        }
        ifReleaseRoots(&seeds);
    }
    ImagePtr bin = makeImage(2, 1, {1, 1});
    ImagePtr work(pxCreateImage(5, PX_WORK, 2, 1));
    SeedSet seed({0}, {1}, {0});
    EXPECT_EQ(capturedStdout([&] { iftEuclideanSkel(bin.get(), work.get(), pxNeighborhood8, seed.get(), 1, 0.5, 3); }),
              "inner = 1; error = 0.500000; seedDist = 3\n");
}

TEST(EuclideanDistance, GeneralSkeletonIftMatchesThePlainVersion)
{
    struct Combination {
        WeightFn weight;
        PathCostFn cost;
    };
    const Combination combinations[] = {{ifWatershedMetric, ifPathCostSum}, {ifWatershedMetric, ifPathCostMax},
                                        {ifEuclideanDistance, ifPathCostSum}, {userEuclidean, userSum}};
    std::mt19937 rng(11);
    for (int trial = 0; trial < 24; ++trial) {
        // Small images have weight scale 0; 40 x 30 has scale 2.
        const int ncols = trial % 2 ? 40 : 3 + static_cast<int>(rng() % 9), nrows = trial % 2 ? 30 : 3 + static_cast<int>(rng() % 9);
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
        for (int p = 0; p < img->npixels; ++p) img.at(p) = rng() % 3 ? static_cast<int>(rng() % 10) : 0;
        Roots seeds{};
        randomSeeds(rng, &seeds, img->npixels, 2 + static_cast<int>(rng() % 8));
        for (int i = 0; i < seeds.count; ++i) seeds.cost[i] = static_cast<int>(rng() % 6);
        for (const Combination &c : combinations)
            for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8})
                for (int contourMode : {0, 1}) {
                    ImagePtr lib(pxCreateImage(5, PX_WORK, ncols, nrows)), ref(pxCreateImage(5, PX_WORK, ncols, nrows));
                    iftSkel(img.get(), lib.get(), adj, c.weight, c.cost, &seeds, contourMode);
                    referenceSkel(img.get(), ref.get(), adj, c.weight, c.cost, &seeds, contourMode);
                    ASSERT_EQ(bandsOf(lib.get()), bandsOf(ref.get())) << trial << " mode " << contourMode;
                }
        ifReleaseRoots(&seeds);
    }
    // Scale 0: every arc weighs 0, so every pixel costs what its seed did.
    ImagePtr img = makeImage(5, 5, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    ImagePtr work(pxCreateImage(5, PX_WORK, 5, 5));
    SeedSet seeds({0, 24}, {1, 2}, {4, 4});
    iftSkel(img.get(), work.get(), pxNeighborhood4, ifWatershedMetric, ifPathCostSum, seeds.get(), 0);
    EXPECT_EQ(bandValues(work.get(), 2), std::vector<int>(25, 0));
}

TEST(EuclideanDistance, ReconstructionFromSkeletonPixelsGivesTheirDiscs)
{
    ImagePtr skel(pxCreateImage(1, PX_GREY_INT, 9, 9));
    skel.at(4 * 9 + 4) = 4;
    ImagePtr work(pxCreateImage(5, PX_WORK, 9, 9));
    EXPECT_EQ(capturedStdout([&] { iftSkelReconstr(skel.get(), work.get()); }), "nBuckets is 5\n");
    for (int p = 0; p < 81; ++p) {
        const int dx = p % 9 - 4, dy = p / 9 - 4;
        EXPECT_EQ(work.at(p, 4), dx * dx + dy * dy <= 4 ? 255 : 0) << dx << "," << dy;
    }
    // Random skeletons against the plain version (pixels whose remaining
    // value reaches 0 included).
    std::mt19937 rng(3);
    for (int trial = 0; trial < 30; ++trial) {
        const int ncols = 1 + static_cast<int>(rng() % 20), nrows = 1 + static_cast<int>(rng() % 20);
        ImagePtr s(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
        for (int p = 0; p < s->npixels; ++p) s.at(p) = rng() % 9 == 0 ? static_cast<int>(rng() % 30) - 3 : 0;
        ImagePtr lib(pxCreateImage(5, PX_WORK, ncols, nrows)), ref(pxCreateImage(5, PX_WORK, ncols, nrows));
        capturedStdout([&] { iftSkelReconstr(s.get(), lib.get()); });
        referenceReconstr(s.get(), ref.get());
        ASSERT_EQ(bandValues(lib.get(), 4), bandValues(ref.get(), 4)) << trial;
        ASSERT_EQ(bandValues(lib.get(), 1), bandValues(ref.get(), 1)) << trial;
    }
}

TEST(EuclideanDistance, ShortestPathReadsItsBandsWhateverTheBandCount)
{
    // A U-shaped corridor: from the top of the left arm to the top of the right.
    ImagePtr bin = makeImage(5, 4, {1, 1, 0, 1, 1,
                                    1, 1, 0, 1, 1,
                                    1, 1, 0, 1, 1,
                                    1, 1, 1, 1, 1});
    ImagePtr out(pxCreateImage(1, PX_GREY_INT, 5, 4));
    const std::string printed = capturedStdout([&] { ifEuclideanShortestPath(bin.get(), out.get(), 0, 4); });
    EXPECT_EQ(printed, "inner = 1; error = 0.000000; seedDist = 0\npf saved\n");
    EXPECT_EQ(out.at(0), 0) << "the source is not written";
    EXPECT_GT(out.at(4), 0);
    int written = 0;
    for (int p = 0; p < 20; ++p) {
        if (out.at(p)) {
            EXPECT_GT(bin.at(p), 0) << p;
        }
        written += out.at(p) != 0;
    }
    EXPECT_GE(written, 6);

    ImagePtr twoBands(pxCreateImage(2, PX_GREY_INT, 5, 4));
    for (int p = 0; p < 20; ++p) {
        twoBands.at(p, 0) = bin.at(p);
        twoBands.at(p, 1) = 77;
    }
    ImagePtr out2(pxCreateImage(1, PX_GREY_INT, 5, 4));
    capturedStdout([&] { ifEuclideanShortestPath(twoBands.get(), out2.get(), 0, 4); });
    EXPECT_EQ(bandValues(out2.get()), bandValues(out.get()));

    // Source equal to target, or a target out of reach: nothing written.
    ImagePtr none(pxCreateImage(1, PX_GREY_INT, 5, 4));
    EXPECT_EQ(capturedStdout([&] { ifEuclideanShortestPath(bin.get(), none.get(), 7, 7); }),
              "inner = 1; error = 0.000000; seedDist = 0\npf saved\n");
    capturedStdout([&] { ifEuclideanShortestPath(bin.get(), none.get(), 0, 2); });
    EXPECT_EQ(bandValues(none.get()), std::vector<int>(20, 0));
}

namespace {

struct SkelCall {
    Image *img, *work;
    Roots *seeds;
};

} // namespace

TEST(EuclideanDistance, NegativeCostsTakeTheirTrueBucketAndShortWorkImagesAreRefused)
{
    // A seed cost below 0 and a path cost that answers INT_MIN must still
    // name a bucket inside the queue.
    ImagePtr img = makeImage(4, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3});
    ImagePtr work(pxCreateImage(5, PX_WORK, 4, 3));
    SeedSet seeds({0, 11}, {1, 2}, {-5, 3});
    iftSkel(img.get(), work.get(), pxNeighborhood8, ifWatershedMetric, ifPathCostMinLocal, seeds.get(), 1);
    EXPECT_EQ(work.at(0, 2), -5);

    ImagePtr small(pxCreateImage(3, PX_WORK, 4, 3));
    SkelCall call{img.get(), small.get(), seeds.get()};
    char message[200];
    const int kind = pxCatchFatal(
        [](void *arg) {
            auto *c = static_cast<SkelCall *>(arg);
            iftSkelNova(c->img, c->work, nullptr);
        },
        &call, message, sizeof message);
    EXPECT_EQ(kind, PX_FATAL_ARGUMENT);
    EXPECT_STREQ(message, "iftSkelNova: the work image needs 4 bands of the input's size");
}
