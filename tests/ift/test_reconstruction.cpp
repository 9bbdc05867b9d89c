#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "reference/reconstruction.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

struct Filtered {
    ImagePtr filtered, labels;
};

Filtered cut(Image *orig, Roots *seeds, int isGlobal, Image *ref = nullptr)
{
    Filtered out;
    ifReconstr(orig, ref ? ref : orig, seeds, isGlobal, &out.filtered.img, &out.labels.img);
    return out;
}

Filtered fill(Image *orig, Roots *seeds, int isGlobal, Image *ref = nullptr)
{
    Filtered out;
    ifDualReconstr(orig, ref ? ref : orig, seeds, isGlobal, &out.filtered.img, &out.labels.img);
    return out;
}

int largestOrZero(const std::vector<int> &v)
{
    int top = 0;
    for (int x : v) top = std::max(top, x);
    return top;
}

} // namespace

TEST(Reconstruction, GlobalCutWithSeedsOnEveryMaximumReturnsTheImage)
{
    ImagePtr img = makeImage(5, 3, {1, 1, 2, 1, 1,
                                    1, 6, 2, 9, 1,
                                    1, 1, 2, 1, 1});
    SeedSet s({6, 8}, {1, 2}, {6, 9});
    Filtered r = cut(img.get(), s.get(), 1);
    EXPECT_EQ(bandValues(r.filtered.get()), bandValues(img.get()));
    EXPECT_EQ(r.filtered->type, PX_GREY_INT);
    EXPECT_EQ(r.labels->type, PX_GREY_INT);
    EXPECT_EQ(r.filtered->maxValue, 9);
}

TEST(Reconstruction, GlobalCutFromTheHighestMaximumCutsOtherDomesAtTheirPass)
{
    ImagePtr img = makeImage(5, 3, {1, 1, 2, 1, 1,
                                    1, 6, 2, 9, 1,
                                    1, 1, 2, 1, 1}, PX_GREY8);
    SeedSet s({8}, {3}, {9});
    Filtered r = cut(img.get(), s.get(), 1);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{1, 1, 2, 1, 1,
                                                              1, 2, 2, 9, 1,
                                                              1, 1, 2, 1, 1}));
    EXPECT_EQ(bandValues(r.labels.get()), std::vector<int>(15, 3));
    EXPECT_EQ(r.filtered->type, PX_GREY8);
}

TEST(Reconstruction, LocalCutFlattensOnlyTheSeededDome)
{
    ImagePtr img = makeImage(6, 3, {1, 5, 5, 1, 5, 5,
                                    1, 7, 4, 1, 7, 5,
                                    1, 5, 1, 1, 5, 5});
    SeedSet s({7}, {4}, {5});
    Filtered r = cut(img.get(), s.get(), 0);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{1, 5, 5, 1, 5, 5,
                                                              1, 5, 4, 1, 7, 5,
                                                              1, 5, 1, 1, 5, 5}));
    EXPECT_EQ(bandValues(r.labels.get()), (std::vector<int>{0, 4, 4, 0, 0, 0,
                                                            0, 4, 0, 0, 0, 0,
                                                            0, 4, 0, 0, 0, 0}));
    EXPECT_EQ(r.filtered->maxValue, 7);
}

TEST(Reconstruction, LocalSeedAboveItsSurroundingsChangesOnlyItsPixel)
{
    ImagePtr img = makeImage(3, 3, {2, 2, 2, 2, 3, 2, 2, 2, 2}, PX_GREY_INT, 9);
    SeedSet s({4}, {1}, {8});
    Filtered r = cut(img.get(), s.get(), 0);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{2, 2, 2, 2, 8, 2, 2, 2, 2}));
    EXPECT_EQ(r.filtered->maxValue, 8);
    SeedSet low({4}, {1}, {1});
    Filtered d = fill(img.get(), low.get(), 0);
    EXPECT_EQ(bandValues(d.filtered.get()), (std::vector<int>{2, 2, 2, 2, 1, 2, 2, 2, 2}));
}

TEST(Reconstruction, TwoLocalSeedsOnOneDomeSplitItAndTheHigherWins)
{
    // Both seeds reach pixel 2; the cost 8 seed takes it.
    ImagePtr img = makeImage(6, 1, {5, 9, 8, 6, 8, 5});
    SeedSet s({1, 4}, {1, 2}, {8, 6});
    Filtered r = cut(img.get(), s.get(), 0);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{5, 8, 8, 6, 6, 5}));
    EXPECT_EQ(bandValues(r.labels.get()), (std::vector<int>{0, 1, 1, 2, 2, 0}));
}

TEST(Reconstruction, LocalCutStopsAtAHigherSeedsPixels)
{
    // The seed of cost 8 takes its pixel first; the lower flood cannot pass it.
    ImagePtr img = makeImage(5, 1, {6, 6, 9, 6, 6});
    SeedSet s({0, 2}, {1, 2}, {5, 8});
    Filtered r = cut(img.get(), s.get(), 0);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{5, 5, 8, 6, 6}));
    EXPECT_EQ(bandValues(r.labels.get()), (std::vector<int>{1, 1, 2, 0, 0}));
}

TEST(Reconstruction, GlobalFillFromTheBorderFillsClosedBasinsToTheirPass)
{
    ImagePtr img = makeImage(6, 5, {5, 5, 5, 5, 5, 5,
                                    5, 1, 5, 2, 3, 5,
                                    5, 1, 5, 5, 5, 5,
                                    5, 5, 5, 0, 5, 4,
                                    5, 5, 5, 5, 5, 5});
    RootsPtr frame(ifFrameAsRoots(img.get(), 1, 1));
    for (int i = 0; i < frame->count; ++i) frame->cost[i] = img.at(frame->pixel[i]);
    Filtered r = fill(img.get(), frame.get(), 1);
    EXPECT_EQ(bandValues(r.filtered.get()), (std::vector<int>{5, 5, 5, 5, 5, 5,
                                                              5, 5, 5, 5, 5, 5,
                                                              5, 5, 5, 5, 5, 5,
                                                              5, 5, 5, 5, 5, 4,
                                                              5, 5, 5, 5, 5, 5}));
}

TEST(Reconstruction, LocalFillThatChangesNothingReturnsTheImageAndItsMaximum)
{
    ImagePtr img = makeImage(3, 2, {3, 9, 4, 5, 2, 8}, PX_GREY_INT, 20);
    SeedSet s({4}, {1}, {2});
    Filtered r = fill(img.get(), s.get(), 0);
    EXPECT_EQ(bandValues(r.filtered.get()), bandValues(img.get()));
    EXPECT_EQ(r.filtered->maxValue, 9);
}

TEST(Reconstruction, EmptySeedSetsReachNothingGloballyAndChangeNothingLocally)
{
    ImagePtr img = makeImage(2, 2, {1, 2, 3, 4});
    SeedSet none;
    EXPECT_EQ(bandValues(cut(img.get(), none.get(), 1).filtered.get()),
              std::vector<int>(4, IFT_INFINITY_MAX));
    EXPECT_EQ(bandValues(fill(img.get(), none.get(), 1).filtered.get()),
              std::vector<int>(4, IFT_INFINITY_MIN));
    for (bool domes : {true, false}) {
        Filtered r = domes ? cut(img.get(), none.get(), 0) : fill(img.get(), none.get(), 0);
        EXPECT_EQ(bandValues(r.filtered.get()), bandValues(img.get()));
        EXPECT_EQ(bandValues(r.labels.get()), std::vector<int>(4, 0));
    }
}

TEST(Reconstruction, DualQueueSpansOrigValuesAboveTheReferenceMaximum)
{
    // orig goes up to 200 while ref's maxValue is 10: a queue of 11 buckets
    // would wrap the costs of the bright pixels.
    ImagePtr img = makeImage(5, 3, {200, 200, 200, 200, 200,
                                    200, 3, 150, 7, 200,
                                    200, 200, 200, 200, 200});
    ImagePtr ref = makeImage(5, 3, {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10});
    SeedSet s({6, 8}, {1, 2}, {3, 10});
    for (int isGlobal : {1, 0}) {
        Filtered withRef = fill(img.get(), s.get(), isGlobal, ref.get());
        Filtered withOrig = fill(img.get(), s.get(), isGlobal);
        EXPECT_EQ(bandValues(withRef.filtered.get()), bandValues(withOrig.filtered.get()));
        EXPECT_EQ(bandValues(withRef.labels.get()), bandValues(withOrig.labels.get()));
    }
    EXPECT_EQ(bandValues(fill(img.get(), s.get(), 1, ref.get()).filtered.get()),
              (std::vector<int>{200, 200, 200, 200, 200,
                                200, 3, 150, 10, 200,
                                200, 200, 200, 200, 200}));
}

TEST(Reconstruction, MatchesItsDefinitionOnRandomImages)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        const int ncols = 1 + round % 7, nrows = 1 + (round / 7) % 6, maxv = round % 2 ? 3 : 12;
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
        std::uniform_int_distribution<int> v(0, maxv);
        for (int p = 0; p < img->npixels; ++p) img.at(p) = v(rng);
        img->maxValue = maxv;
        // Distinct seed pixels: the definitions do not say which of two seeds
        // on one pixel counts.
        std::vector<int> pixels(img->npixels);
        for (int p = 0; p < img->npixels; ++p) pixels[p] = p;
        std::shuffle(pixels.begin(), pixels.end(), rng);
        int count = std::uniform_int_distribution<int>(1, std::min(4, img->npixels))(rng);
        Roots seeds;
        ifAllocateRoots(&seeds, count);
        for (int i = 0; i < count; ++i) {
            seeds.pixel[i] = pixels[i];
            seeds.label[i] = i + 1;
            // Every third round has seeds above the image's maximum, as a
            // brighter reference gives them.
            seeds.cost[i] = v(rng) + (round % 3 == 0 ? maxv : 0);
        }
        for (bool domes : {true, false}) {
            Filtered g = domes ? cut(img.get(), &seeds, 1) : fill(img.get(), &seeds, 1);
            EXPECT_EQ(bandValues(g.filtered.get()), globalByFixpoint(img.get(), &seeds, domes))
                << "global round " << round << (domes ? " domes" : " basins");
            Filtered l = domes ? cut(img.get(), &seeds, 0) : fill(img.get(), &seeds, 0);
            std::vector<int> expected = localByLevels(img.get(), &seeds, domes);
            EXPECT_EQ(bandValues(l.filtered.get()), expected)
                << "local round " << round << (domes ? " domes" : " basins");
            EXPECT_EQ(l.filtered->maxValue, largestOrZero(expected));
            // A pixel carries a label exactly where a seed's cost landed.
            for (int p = 0; p < img->npixels; ++p) {
                int lab = l.labels.at(p);
                if (lab == 0) continue;
                ASSERT_LE(lab, count);
                EXPECT_EQ(l.filtered.at(p), seeds.cost[lab - 1]) << "round " << round << " pixel " << p;
            }
        }
        ifReleaseRoots(&seeds);
    }
}

TEST(Reconstruction, EqualsTheIftWorkImageRouteAlsoOutsideTheValueRange)
{
    // The outputs are the IFT's cost and label bands; with values above the
    // maxValue that sizes the queue (outside the contract) the costs wrap in
    // the queue, but stay inside it and still agree. The queue also spans the
    // largest seed cost, 9.
    std::mt19937 rng(11);
    for (int stated : {9, 4}) {
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, 9, 7));
        std::uniform_int_distribution<int> v(0, 9);
        for (int p = 0; p < img->npixels; ++p) img.at(p) = v(rng);
        img->maxValue = stated;
        SeedSet s({0, 40, 62, 40}, {1, 2, 3, 4}, {3, 9, 1, 5});
        const int top = std::max(stated, 9);
        for (bool domes : {true, false})
            for (int isGlobal : {1, 0}) {
                Filtered r = domes ? cut(img.get(), s.get(), isGlobal) : fill(img.get(), s.get(), isGlobal);
                ImagePtr work(pxCreateImage(4, PX_WORK, 9, 7));
                PathCostFn c = domes ? (isGlobal ? ifPathCostMin : ifPathCostMinLocal)
                                     : (isGlobal ? ifPathCostMax : ifPathCostMaxLocal);
                if (domes) iftNonNormalizedInverted(img.get(), work.get(), pxNeighborhood8, ifWatershedMetric, top, c, s.get());
                else iftNonNormalized(img.get(), work.get(), pxNeighborhood8, ifWatershedMetric, top, c, s.get());
                std::vector<int> cost = bandValues(work.get(), 2);
                if (!isGlobal)
                    for (int p = 0; p < img->npixels; ++p)
                        if (cost[p] == (domes ? IFT_INFINITY_MAX : IFT_INFINITY_MIN)) cost[p] = img.at(p);
                EXPECT_EQ(bandValues(r.filtered.get()), cost) << stated << domes << isGlobal;
                EXPECT_EQ(bandValues(r.labels.get()), bandValues(work.get(), 1)) << stated << domes << isGlobal;
                EXPECT_EQ(r.labels->maxValue, 4);
            }
    }
}
