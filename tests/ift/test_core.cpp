#include <gtest/gtest.h>

#include <sys/resource.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reference/core.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

long long weightCalls = 0;

// Same value as ifWatershedMetric, through a pointer the library does not
// know, so the generic path runs; counts its calls.
int userWatershed(Image *img, int, int q)
{
    ++weightCalls;
    return img->bands[0][q];
}
int userMaxCost(int a, int w) { return a > w ? a : w; }
int userHalfSum(int a, int w) { return a + w / 2; }

Result runLibrary(Image *img, AdjacencyFn adj, WeightFn weight, int maxcost, PathCostFn cost,
                  Roots *seeds, bool decreasing)
{
    ImagePtr work(pxCreateImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows));
    if (decreasing) iftNonNormalizedInverted(img, work.get(), adj, weight, maxcost, cost, seeds);
    else iftNonNormalized(img, work.get(), adj, weight, maxcost, cost, seeds);
    return resultOf(work.get());
}

Result runReference(Image *img, AdjacencyFn adj, WeightFn weight, int maxcost, PathCostFn cost,
                    Roots *seeds, bool decreasing)
{
    ImagePtr work(pxCreateImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows));
    referenceIft(img, work.get(), adj, weight, maxcost, cost, seeds, decreasing);
    return resultOf(work.get());
}

struct Combination {
    const char *name;
    WeightFn weight;
    PathCostFn cost;
};

// Every path cost the library specialises, and user functions for the generic path.
const Combination combinations[] = {
    {"Max", ifWatershedMetric, ifPathCostMax},
    {"Min", ifWatershedMetric, ifPathCostMin},
    {"Sum", ifWatershedMetric, ifPathCostSum},
    {"MaxLocal", ifWatershedMetric, ifPathCostMaxLocal},
    {"MinLocal", ifWatershedMetric, ifPathCostMinLocal},
    {"UserWeightMax", userWatershed, ifPathCostMax},
    {"UserWeightMinLocal", userWatershed, ifPathCostMinLocal},
    {"UserCost", ifWatershedMetric, userMaxCost},
    {"UserWeightUserCost", userWatershed, userHalfSum},
};

const AdjacencyFn adjacencies[] = {pxNeighborhood4, pxNeighborhood8};

// Compares library and reference for every combination, both directions and
// both adjacencies on one image and seed set.
void expectSameAsReference(Image *img, int maxcost, Roots *seeds, const std::string &what)
{
    for (const Combination &c : combinations)
        for (AdjacencyFn adj : adjacencies)
            for (bool decreasing : {false, true}) {
                Result lib = runLibrary(img, adj, c.weight, maxcost, c.cost, seeds, decreasing);
                Result ref = runReference(img, adj, c.weight, maxcost, c.cost, seeds, decreasing);
                ASSERT_EQ(lib, ref) << what << " " << c.name << (adj == pxNeighborhood4 ? " 4" : " 8")
                                    << (decreasing ? " decreasing" : " increasing");
            }
}

// Random seeds with labels 1.., costs in [costLo, costHi], duplicates likely.
void randomSeeds(std::mt19937 &rng, Roots *seeds, int npixels, int count, int costLo, int costHi)
{
    ifAllocateRoots(seeds, count);
    std::uniform_int_distribution<int> pix(0, npixels - 1), cost(costLo, costHi);
    for (int i = 0; i < count; ++i) {
        seeds->pixel[i] = pix(rng);
        seeds->label[i] = i + 1;
        seeds->cost[i] = cost(rng);
    }
}

void runWithSeeds(Image *img, std::initializer_list<int> pixels, std::initializer_list<int> labels,
                  std::initializer_list<int> costs, PathCostFn cost, bool decreasing, Result &out,
                  int maxcost = -1)
{
    SeedSet s(pixels, labels, costs);
    out = runLibrary(img, pxNeighborhood8, ifWatershedMetric, maxcost >= 0 ? maxcost : img->maxValue,
                     cost, s.get(), decreasing);
}

} // namespace

TEST(Ift, NoSeedsLeavesEveryPixelUnreachedInBothDirections)
{
    ImagePtr img = makeImage(3, 2, {1, 2, 3, 4, 5, 6});
    SeedSet none;
    for (bool decreasing : {false, true}) {
        Result r = runLibrary(img.get(), pxNeighborhood8, ifWatershedMetric, 6,
                              decreasing ? ifPathCostMin : ifPathCostMax, none.get(), decreasing);
        int inf = decreasing ? IFT_INFINITY_MAX : IFT_INFINITY_MIN;
        EXPECT_EQ(r.cost, std::vector<int>(6, inf));
        EXPECT_EQ(r.label, std::vector<int>(6, 0));
        EXPECT_EQ(r.pred, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
}

TEST(Ift, FlatImageTieGoesToTheSeedListedFirst)
{
    // 5 x 1 flat row, seeds at both ends: the middle pixel is two steps from
    // each and goes to the seed listed first, whichever end it is.
    ImagePtr img = makeImage(5, 1, {4, 4, 4, 4, 4});
    Result r;
    runWithSeeds(img.get(), {0, 4}, {1, 2}, {4, 4}, ifPathCostMax, false, r);
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 1, 2, 2}));
    EXPECT_EQ(r.pred, (std::vector<int>{0, 0, 1, 4, 4}));
    runWithSeeds(img.get(), {4, 0}, {2, 1}, {4, 4}, ifPathCostMax, false, r);
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 2, 2, 2}));
    runWithSeeds(img.get(), {4, 0}, {2, 1}, {4, 4}, ifPathCostMin, true, r);
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 2, 2, 2}));
    EXPECT_EQ(r.cost, std::vector<int>(5, 4));
}

TEST(Ift, FlatImageIsConqueredBreadthFirstInAdjacencyOrder)
{
    // 3 x 3 flat, seeds at the two top corners: the centre and the top middle
    // are one step from both and go to the seed listed first. The bottom-left
    // corner is two steps from both, and the first pixel of the queue that
    // reaches it is the centre (queued before 3), so it goes to label 7 too.
    ImagePtr img = makeImage(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0});
    Result r;
    runWithSeeds(img.get(), {2, 0}, {7, 5}, {0, 0}, ifPathCostMax, false, r);
    EXPECT_EQ(r.label, (std::vector<int>{5, 7, 7, 5, 7, 7, 7, 7, 7}));
    EXPECT_EQ(r.pred, (std::vector<int>{0, 2, 2, 0, 2, 2, 4, 5, 5}));
}

TEST(Ift, LocalMaxLeavesPixelsAboveEveryPathUnreached)
{
    ImagePtr img = makeImage(4, 1, {1, 3, 9, 2});
    Result r;
    runWithSeeds(img.get(), {0}, {1}, {3}, ifPathCostMaxLocal, false, r);
    EXPECT_EQ(r.cost, (std::vector<int>{3, 3, IFT_INFINITY_MIN, IFT_INFINITY_MIN}));
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(r.pred, (std::vector<int>{0, 0, 2, 3}));
    runWithSeeds(img.get(), {0}, {1}, {3}, ifPathCostMax, false, r);
    EXPECT_EQ(r.cost, (std::vector<int>{3, 3, 9, 9}));

    runWithSeeds(img.get(), {2}, {1}, {3}, ifPathCostMinLocal, true, r);
    EXPECT_EQ(r.cost, (std::vector<int>{IFT_INFINITY_MAX, 3, 3, IFT_INFINITY_MAX}));
    EXPECT_EQ(r.label, (std::vector<int>{0, 1, 1, 0}));
}

TEST(Ift, SeedBeatenByAnotherSeedsPathIsConquered)
{
    // Seed of cost 9 next to a seed of cost 2 on pixels of value 3.
    ImagePtr img = makeImage(3, 1, {3, 3, 3}, PX_GREY_INT, 9);
    Result r;
    runWithSeeds(img.get(), {0, 1}, {1, 2}, {2, 9}, ifPathCostMax, false, r);
    EXPECT_EQ(r.cost, (std::vector<int>{2, 3, 3}));
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(r.pred, (std::vector<int>{0, 0, 1}));
    // The dual: a seed of cost 0 beside one of cost 7 on pixels of value 5.
    ImagePtr img2 = makeImage(3, 1, {5, 5, 5}, PX_GREY_INT, 9);
    runWithSeeds(img2.get(), {0, 1}, {1, 2}, {7, 0}, ifPathCostMin, true, r);
    EXPECT_EQ(r.cost, (std::vector<int>{7, 5, 5}));
    EXPECT_EQ(r.label, (std::vector<int>{1, 1, 1}));
}

TEST(Ift, DuplicateSeedTakesTheLaterCostAndLabel)
{
    // Pixel 1 is seeded first with (label 5, cost 8), then again with
    // (label 7, cost 2): it is queued once, at cost 2.
    ImagePtr up = makeImage(4, 1, {2, 2, 5, 5}, PX_GREY_INT, 9);
    ImagePtr down = makeImage(4, 1, {2, 2, 5, 3}, PX_GREY_INT, 9);
    for (WeightFn w : {ifWatershedMetric, userWatershed}) {
        SeedSet s({1, 3, 1}, {5, 6, 7}, {8, 4, 2});
        Result r = runLibrary(up.get(), pxNeighborhood4, w, 9, ifPathCostMax, s.get(), false);
        EXPECT_EQ(r.cost, (std::vector<int>{2, 2, 5, 4}));
        EXPECT_EQ(r.label, (std::vector<int>{7, 7, 7, 6}));
        EXPECT_EQ(r.pred, (std::vector<int>{1, 1, 1, 3}));

        SeedSet t({1, 3, 1}, {5, 6, 7}, {1, 4, 6});
        r = runLibrary(down.get(), pxNeighborhood4, w, 9, ifPathCostMin, t.get(), true);
        EXPECT_EQ(r.cost, (std::vector<int>{2, 6, 5, 4}));
        EXPECT_EQ(r.label, (std::vector<int>{7, 7, 7, 6}));
    }
}

TEST(Ift, SeedsOutsideTheImageAreSkipped)
{
    ImagePtr img = makeImage(3, 1, {1, 1, 1});
    for (WeightFn w : {ifWatershedMetric, userWatershed}) {
        SeedSet s({-1, 3, 1000000, 2}, {9, 9, 9, 4}, {0, 0, 0, 1});
        Result r = runLibrary(img.get(), pxNeighborhood8, w, 1, ifPathCostMax, s.get(), false);
        EXPECT_EQ(r.label, (std::vector<int>{4, 4, 4}));
        EXPECT_EQ(r.cost, (std::vector<int>{1, 1, 1}));
    }
}

TEST(Ift, CostsOutsideTheQueueRangeStayInsideIt)
{
    // Negative values and costs beyond maxcost wrap to buckets of the queue;
    // a negative maxcost, however low, gives a one-bucket queue.
    ImagePtr img = makeImage(4, 2, {-5, 7, 300, -1, 2, 0, 40, 9}, PX_GREY_INT, 3);
    SeedSet s({0, 6, 3}, {1, 2, 3}, {-20, 100, 2});
    for (int maxcost : {3, -7, 0})
        for (bool decreasing : {false, true})
            for (PathCostFn c : {ifPathCostMax, ifPathCostMin, ifPathCostSum, ifPathCostMaxLocal,
                                 ifPathCostMinLocal}) {
                Result lib = runLibrary(img.get(), pxNeighborhood8, ifWatershedMetric, maxcost, c,
                                        s.get(), decreasing);
                Result ref = runReference(img.get(), pxNeighborhood8, ifWatershedMetric, maxcost, c,
                                          s.get(), decreasing);
                EXPECT_EQ(lib, ref) << maxcost;
            }
    ImagePtr flat = makeImage(2, 1, {0, 0});
    SeedSet one({0}, {1}, {0});
    ImagePtr work(pxCreateImage(4, PX_WORK, 2, 1));
    iftNonNormalized(flat.get(), work.get(), pxNeighborhood4, ifWatershedMetric, -2147483647 - 1,
                     ifPathCostMax, one.get());
    EXPECT_EQ(bandValues(work.get(), 1), (std::vector<int>{1, 1}));
}

TEST(Ift, UserWeightIsCalledOncePerArcToAPixelNotDone)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> v(0, 4);
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 9, 7));
    for (int p = 0; p < img->npixels; ++p) img.at(p) = v(rng);
    img->maxValue = 4;
    Roots seeds;
    randomSeeds(rng, &seeds, img->npixels, 4, 0, 4);
    for (bool decreasing : {false, true}) {
        PathCostFn c = decreasing ? ifPathCostMin : ifPathCostMax;
        weightCalls = 0;
        runReference(img.get(), pxNeighborhood8, userWatershed, 4, c, &seeds, decreasing);
        long long expected = weightCalls;
        weightCalls = 0;
        runLibrary(img.get(), pxNeighborhood8, userWatershed, 4, c, &seeds, decreasing);
        EXPECT_EQ(weightCalls, expected);
        EXPECT_GT(expected, 0);
    }
    ifReleaseRoots(&seeds);
}

TEST(Ift, MatchesTheReferenceOnRandomImagesAndSeeds)
{
    std::mt19937 rng(2024);
    const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {5, 4}, {8, 8}, {13, 7}, {16, 11}};
    // Few levels give many ties; 5000 levels take the large-queue route.
    const int levels[] = {1, 5, 40, 5000};
    for (int round = 0; round < 8; ++round)
        for (const auto &shape : shapes) {
            const int maxv = levels[round % 4];
            const bool wild = round >= 4;  // values and costs outside 0 .. maxValue
            ImagePtr img(pxCreateImage(1, PX_GREY_INT, shape[0], shape[1]));
            std::uniform_int_distribution<int> v(wild ? -3 : 0, wild ? maxv + 3 : maxv);
            for (int p = 0; p < img->npixels; ++p) img.at(p) = v(rng);
            img->maxValue = maxv;
            Roots seeds;
            std::uniform_int_distribution<int> count(0, 2 + img->npixels / 8);
            randomSeeds(rng, &seeds, img->npixels, count(rng), wild ? -4 : 0, wild ? maxv + 4 : maxv);
            expectSameAsReference(img.get(), maxv, &seeds,
                                  "round " + std::to_string(round) + " " + std::to_string(shape[0]) +
                                      "x" + std::to_string(shape[1]));
            ifReleaseRoots(&seeds);
            if (HasFatalFailure()) return;
        }
}

TEST(Ift, MatchesTheReferenceOnSampleImages)
{
    std::mt19937 rng(99);
    for (const char *name : {"camera.pgm", "coins.pgm", "cell.pgm", "horse.pgm", "chelsea.ppm"}) {
        Image *raw = nullptr;
        pxReadImage(dataPath(name).c_str(), &raw);
        ImagePtr img(raw);
        // Frame seeds with the image's value as cost, then a few inner ones.
        RootsPtr frame(ifFrameAsRoots(img.get(), 0, 0));
        Roots seeds;
        const int extra = 20;
        ifAllocateRoots(&seeds, frame->count + extra);
        std::uniform_int_distribution<int> pix(0, img->npixels - 1);
        for (int i = 0; i < seeds.count; ++i) {
            int p = i < frame->count ? frame->pixel[i] : pix(rng);
            seeds.pixel[i] = p;
            seeds.label[i] = i < frame->count ? frame->label[i] : 100000 + i;
            seeds.cost[i] = img.at(p);
        }
        expectSameAsReference(img.get(), img->maxValue, &seeds, name);
        if (img->nbands == 3) {
            Result lib = runLibrary(img.get(), pxNeighborhood8, ifEuclideanDistance, 255,
                                    ifPathCostSum, &seeds, false);
            Result ref = runReference(img.get(), pxNeighborhood8, ifEuclideanDistance, 255,
                                      ifPathCostSum, &seeds, false);
            EXPECT_EQ(lib, ref) << name << " euclidean";
        }
        ifReleaseRoots(&seeds);
        if (HasFatalFailure()) return;
    }
}

TEST(Ift, PathCostRulesAndTheirSentinels)
{
    EXPECT_EQ(ifPathCostMax(3, 5), 5);
    EXPECT_EQ(ifPathCostMin(3, 5), 3);
    EXPECT_EQ(ifPathCostSum(3, 5), 8);
    EXPECT_EQ(ifPathCostMaxLocal(5, 5), 5);
    EXPECT_EQ(ifPathCostMaxLocal(4, 5), IFT_INFINITY_MIN);
    EXPECT_EQ(ifPathCostMinLocal(5, 5), 5);
    EXPECT_EQ(ifPathCostMinLocal(6, 5), IFT_INFINITY_MAX);
}

TEST(Ift, DistanceFunctions)
{
    Image *img = pxCreateImage(3, PX_COLOR8, 3, 1);
    ImagePtr owner(img);
    int vals[3][3] = {{10, 11, 12}, {20, 21, 20}, {30, 31, 30}};
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 3; ++p) img->bands[b][p] = vals[b][p];
    EXPECT_EQ(ifEuclideanDistance(img, 0, 1), 1);  // differences 1,1,1
    EXPECT_EQ(ifEuclideanDistance(img, 0, 2), 1);  // differences 2,0,0
    EXPECT_EQ(ifMaxDistance(img, 0, 2), 2);
    EXPECT_EQ(ifMaxDistance(img, 2, 0), 2);
    EXPECT_EQ(ifWatershedMetric(img, 0, 2), 12);
    ImagePtr grid = makeImage(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(ifChanferDistance(grid.get(), 4, 4), 12);
    EXPECT_EQ(ifChanferDistance(grid.get(), 4, 1), 12);
    EXPECT_EQ(ifChanferDistance(grid.get(), 4, 5), 12);
    EXPECT_EQ(ifChanferDistance(grid.get(), 4, 0), 17);
    EXPECT_EQ(eliminateSimilarRegions(), 0);
}

TEST(Ift, FewFarApartLevelsMatchTheReference)
{
    // Values and seed costs on a handful of levels far apart: the queue then
    // keeps one bucket per level present, with the serving order of the full
    // queue of maxcost + 1 buckets.
    std::mt19937 rng(31);
    // The last rounds add levels outside 0 .. maxcost, which wrap around the
    // circular queue: the used buckets then keep their circular order.
    const int levels[] = {0, 1, 2, 40000, 40001, 99999, 100000, -3, 250000, -70000};
    for (int round = 0; round < 5; ++round) {
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, 13, 7));
        std::uniform_int_distribution<int> pick(0, round < 1 ? 2 : round < 3 ? 6 : 9);
        for (int p = 0; p < img->npixels; ++p) img.at(p) = levels[pick(rng)];
        img->maxValue = 100000;
        Roots seeds;
        randomSeeds(rng, &seeds, img->npixels, 3 + round, 0, 0);
        for (int i = 0; i < seeds.count; ++i) seeds.cost[i] = levels[pick(rng)];
        expectSameAsReference(img.get(), 100000, &seeds, "round " + std::to_string(round));
        ifReleaseRoots(&seeds);
        if (HasFatalFailure()) return;
    }
}

TEST(IftDeathTest, HugeMaximumCostsNoBucketPerLevel)
{
    // A 3-pixel image whose levels reach near INT_MAX (a 20-byte P2 file can
    // claim that much): the queue must not hold a bucket per level, so the
    // run stays within a small address space.
    auto run = [] {
#ifndef __SANITIZE_ADDRESS__
        struct rlimit limit = {std::size_t(1) << 30, std::size_t(1) << 30};
        setrlimit(RLIMIT_AS, &limit);
#endif
        ImagePtr img = makeImage(3, 1, {0, 2147483646, 5});
        SeedSet s({0}, {7}, {0});
        ImagePtr work(pxCreateImage(4, PX_WORK, 3, 1));
        iftNonNormalized(img.get(), work.get(), pxNeighborhood8, ifWatershedMetric, 2147483646,
                         ifPathCostMax, s.get());
        bool ok = bandValues(work.get(), 2) == std::vector<int>{0, 2147483646, 2147483646};
        // The same with the largest maximum a header can state.
        iftNonNormalized(img.get(), work.get(), pxNeighborhood8, ifWatershedMetric, 2147483647,
                         ifPathCostMax, s.get());
        ok = ok && bandValues(work.get(), 2) == std::vector<int>{0, 2147483646, 2147483646};
        // A value at the infinity itself, served through the wrapping buckets.
        ImagePtr atInfinity = makeImage(2, 1, {2147483647, 5});
        ImagePtr work2(pxCreateImage(4, PX_WORK, 2, 1));
        SeedSet second({1}, {4}, {5});
        iftNonNormalizedInverted(atInfinity.get(), work2.get(), pxNeighborhood8, ifWatershedMetric,
                                 2147483647, ifPathCostMin, second.get());
        ok = ok && bandValues(work2.get(), 2) == std::vector<int>{5, 5};
        SeedSet top({1}, {3}, {2147483646});
        Image *filtered = nullptr, *labels = nullptr;
        ifReconstr(img.get(), img.get(), top.get(), 1, &filtered, &labels);
        ok = ok && filtered->bands[0][0] == 0 && filtered->bands[0][2] == 5 && labels->bands[0][2] == 3;
        pxReleaseImage(&filtered);
        pxReleaseImage(&labels);
        std::exit(ok ? 0 : 2);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}
