#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reference/variants.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

int userWeight(Image *img, int p, int q) { return (img->bands[0][p] + img->bands[0][q]) / 2; }
int userCost(int a, int w) { return a > w ? a : w + 1; }
int userRegionWeight(Image *, UnionFind *uf, int p, int q) { return ufFindSet(uf, p) * 7 + ufFindSet(uf, q); }

Image *silently(Image *(*build)(Image *, AdjacencyFn), Image *img, AdjacencyFn adj)
{
    testing::internal::CaptureStdout();
    Image *w = build(img, adj);
    testing::internal::GetCapturedStdout();
    return w;
}

const PathCostFn pathCosts[] = {ifPathCostMax, ifPathCostMin, ifPathCostSum, ifPathCostMaxLocal,
                                ifPathCostMinLocal, userCost};

// Library against reference for every variant, path cost and adjacency on one
// image (values within 0 .. 1000) with one seed set.
void expectSameAsReference(Image *img, Roots *seeds, Image *mask, std::mt19937 &rng, const std::string &what)
{
    for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8}) {
        ImagePtr shed(silently(watershedWF, img, adj)), euclid(silently(euclideanWF, img, adj));
        // An arc-weight image of the caller's making: weights past 1000, no
        // arcs here and there, and weights on arcs that leave the image; and
        // one with weights past 16 bits, which the library keeps in wider
        // records (iftWF with max path costs only: many buckets are slow).
        ImagePtr odd(pxCopyImage(shed.get()));
        odd->adjCount = shed->adjCount;
        odd->adjPairs = static_cast<int *>(std::malloc(sizeof(int) * 2 * shed->adjCount));
        std::copy(shed->adjPairs, shed->adjPairs + 2 * shed->adjCount, odd->adjPairs);
        ImagePtr wide(pxCopyImage(odd.get()));
        wide->adjCount = shed->adjCount;
        wide->adjPairs = static_cast<int *>(std::malloc(sizeof(int) * 2 * shed->adjCount));
        std::copy(shed->adjPairs, shed->adjPairs + 2 * shed->adjCount, wide->adjPairs);
        std::uniform_int_distribution<int> pick(-1, 2000), pickWide(-1, 70000);
        for (int j = 0; j < odd->nbands; ++j)
            for (int p = 0; p < odd->npixels; ++p) {
                odd->bands[j][p] = pick(rng);
                wide->bands[j][p] = pickWide(rng);
            }
        for (const PathCostFn &cost : pathCosts) {
            std::string tag = what + (adj == pxNeighborhood4 ? " 4" : " 8") + " cost " +
                              std::to_string(&cost - pathCosts);
            for (WeightFn weight : {ifWatershedMetric, userWeight}) {
                Call c{Call::IFT, img, seeds, cost, adj, weight};
                ASSERT_EQ(libraryVariant(c), plainVariant(c)) << tag << " ift";
                c.kind = Call::IFT_MASK;
                c.mask = mask;
                ASSERT_EQ(libraryVariant(c), plainVariant(c)) << tag << " iftMask";
                c.kind = Call::DYNAMIC;
                c.mask = nullptr;
                c.maxcost = 1000;
                GraphDump a, b;
                ASSERT_EQ(libraryVariant(c, &a), plainVariant(c, &b)) << tag << " dynamic";
                ASSERT_EQ(a, b) << tag << " dynamic graph";
            }
            for (Image *arcs : {shed.get(), euclid.get(), odd.get(), wide.get()}) {
                if (arcs == wide.get() && cost != ifPathCostMax) continue;
                Call c{Call::IFT_WF, img, seeds, cost};
                c.arcs = arcs;
                ASSERT_EQ(libraryVariant(c), plainVariant(c)) << tag << " iftWF";
                if (arcs == wide.get()) continue;
                c.kind = Call::IFT_NON_NORMALIZED_WF;
                c.maxcost = 300;
                ASSERT_EQ(libraryVariant(c), plainVariant(c)) << tag << " iftNonNormalizedWF";
                c.kind = Call::IFT_MASK_WF;
                c.mask = mask;
                ASSERT_EQ(libraryVariant(c), plainVariant(c)) << tag << " iftMaskWF";
            }
        }
    }
    // The other criteria and a user's region weight.
    const struct {
        RegionWeightFn weight;
        InitDataFn init;
        MergeDataFn merge;
        int nData;
    } criteria[] = {{ifEdgeWeightVolume, ifInitVolumeData, ifUpdateVolumeData, 2},
                    {userRegionWeight, ifInitAreaData, nullptr, 1}};
    for (const auto &k : criteria) {
        Call c{Call::DYNAMIC, img, seeds, ifPathCostMax};
        c.maxcost = 1000;
        c.regionWeight = k.weight;
        c.init = k.init;
        c.merge = k.merge;
        c.nData = k.nData;
        GraphDump a, b;
        ASSERT_EQ(libraryVariant(c, &a), plainVariant(c, &b)) << what << " criterion";
        ASSERT_EQ(a, b) << what << " criterion graph";
    }
}

// Random seeds (duplicates and pixels outside the image likely) with labels
// 1 .. count and costs in 0 .. topCost.
void randomSeeds(std::mt19937 &rng, Roots *seeds, int npixels, int count, int topCost)
{
    ifAllocateRoots(seeds, count);
    std::uniform_int_distribution<int> pix(-1, npixels), cost(0, topCost);
    for (int i = 0; i < count; ++i) {
        seeds->pixel[i] = pix(rng);
        seeds->label[i] = i + 1;
        seeds->cost[i] = cost(rng);
    }
}

ImagePtr randomMask(std::mt19937 &rng, int ncols, int nrows)
{
    ImagePtr mask(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
    std::uniform_int_distribution<int> m(-1, 4);
    for (int p = 0; p < mask->npixels; ++p) mask.at(p) = m(rng);
    return mask;
}

} // namespace

TEST(Variants, MatchThePlainVariantsOnRandomImages)
{
    std::mt19937 rng(88);
    for (int round = 0; round < 12; ++round) {
        std::uniform_int_distribution<int> side(1, 11);
        const int top = round % 3 == 0 ? 3 : 1000;  // few levels: many ties
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, side(rng), side(rng)));
        std::uniform_int_distribution<int> value(0, top);
        for (int p = 0; p < img->npixels; ++p) img.at(p) = value(rng);
        img->maxValue = top;
        ImagePtr mask = randomMask(rng, img->ncols, img->nrows);
        Roots seeds;
        randomSeeds(rng, &seeds, img->npixels, 1 + round % 5, round % 4 == 3 ? 60000 : top);
        expectSameAsReference(img.get(), &seeds, mask.get(), rng, "round " + std::to_string(round));
        ifReleaseRoots(&seeds);
        if (HasFatalFailure()) return;
    }
}

TEST(Variants, MatchThePlainVariantsOnASampleImage)
{
    Image *raw = nullptr;
    pxReadImage(dataPath("coins.pgm").c_str(), &raw);
    ImagePtr coins(raw);
    // A 64 x 48 crop keeps the reference quick.
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 64, 48));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) img.at(y * 64 + x) = coins.at((y + 100) * coins->ncols + x + 150);
    std::mt19937 rng(5);
    ImagePtr mask = randomMask(rng, 64, 48);
    Roots *minima = ifRegionalMinimaAsRoots(img.get());
    expectSameAsReference(img.get(), minima, mask.get(), rng, "coins");
    ifReleaseRoots(minima);
    std::free(minima);
}

TEST(Variants, NormalisedWeightsAreScaledBy49)
{
    std::mt19937 rng(49);
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 9, 7));
    std::uniform_int_distribution<int> value(0, 1000);
    for (int p = 0; p < img->npixels; ++p) img.at(p) = value(rng);
    SeedSet seeds({0, 40}, {1, 2}, {0, 0});
    Call c{Call::IFT, img.get(), seeds.get(), ifPathCostMax};
    Result r = libraryVariant(c);
    for (int p = 0; p < img->npixels; ++p) {
        EXPECT_EQ(r.cost[p] % 49, 0);
        EXPECT_LE(r.cost[p], 49000);
    }
    // An all-positive mask changes nothing.
    ImagePtr mask(pxCreateImage(1, PX_GREY_INT, 9, 7));
    for (int p = 0; p < mask->npixels; ++p) mask.at(p) = 1 + p % 3;
    c.kind = Call::IFT_MASK;
    c.mask = mask.get();
    EXPECT_EQ(libraryVariant(c), r);
    // A seed on a zero mask value is ignored, and its pixel stays unreached.
    mask.at(40) = 0;
    Result masked = libraryVariant(c);
    EXPECT_EQ(masked.cost[40], INT_MAX);
    EXPECT_EQ(masked.label[40], 0);
    EXPECT_EQ(masked.pred[40], 40);
}

TEST(Variants, ArcWeightImageArcsStayInside)
{
    // 4-adjacency weights of a 3 x 2 image, the upward band of the top row
    // claiming an arc of weight 0: no pixel is reached from outside, and a
    // weight-0 arc is a real arc.
    ImagePtr img = makeImage(3, 2, {0, 0, 0, 0, 0, 0});
    ImagePtr arcs(silently(watershedWF, img.get(), pxNeighborhood4));
    ASSERT_EQ(arcs->adjPairs[5], -1);  // band 2 is (0, -1)
    for (int x = 0; x < 3; ++x) ASSERT_EQ(arcs->bands[2][x], -1);
    for (int x = 0; x < 3; ++x) arcs->bands[2][x] = 0;
    SeedSet seeds({1}, {6}, {0});
    Call c{Call::IFT_WF, img.get(), seeds.get(), ifPathCostMax};
    c.arcs = arcs.get();
    Result r = libraryVariant(c);
    EXPECT_EQ(r.label, std::vector<int>(6, 6));
    EXPECT_EQ(r.cost, std::vector<int>(6, 0));
    EXPECT_EQ(r.pred, (std::vector<int>{1, 1, 1, 4, 1, 2}));
}

TEST(Variants, DynamicIftJoinsTwoSeedsOnAFlatImageOnce)
{
    ImagePtr img = makeImage(5, 3, std::initializer_list<int>(
                                       {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}));
    SeedSet seeds({5, 9}, {1, 2}, {4, 4});
    ImagePtr work(pxCreateImage(4, PX_WORK, 5, 3));
    GraphPtr g(iftDinamicNonNormalized(img.get(), img.get(), work.get(), pxNeighborhood4, ifWatershedMetric, 4,
                                       ifPathCostMax, seeds.get(), ifEdgeWeightArea, ifInitAreaData,
                                       ifUpdateAreaData, 1));
    ASSERT_EQ(g.g->nVertices, 3);
    // Breadth first from 5 and 9: pixel 7 (label 1) is the first to meet a
    // finished pixel of the other region (8), when its region holds 5, 6, 10,
    // 0 and 7 and the other 9, 14, 4 and 8: the smaller area is 4.
    ASSERT_EQ(g.g->vertices[1].nEdges, 1);
    ASSERT_EQ(g.g->vertices[2].nEdges, 1);
    EXPECT_EQ(g.g->vertices[1].head->vertex, 2);
    EXPECT_EQ(g.g->vertices[1].head->weight, 4);
    EXPECT_EQ(g.g->vertices[2].head->weight, 4);
    EXPECT_EQ(g.g->vertices[0].nEdges, 0);
    EXPECT_EQ(bandValues(g.g->labelImage), bandValues(work.get(), 1));
    EXPECT_EQ(g.g->labelImage->type, PX_GREY_INT);
}

TEST(Variants, DynamicGraphHasAVertexForEveryLabel)
{
    ImagePtr img = makeImage(4, 1, {0, 1, 1, 0});
    SeedSet seeds({0, 3}, {9, 5}, {0, 0});
    ImagePtr work(pxCreateImage(4, PX_WORK, 4, 1));
    GraphPtr g{iftDinamicNonNormalized(img.get(), img.get(), work.get(), pxNeighborhood4, ifWatershedMetric, 1,
                                       ifPathCostMax, seeds.get(), ifEdgeWeightArea, ifInitAreaData,
                                       ifUpdateAreaData, 1)};
    ASSERT_EQ(g.g->nVertices, 10);
    ASSERT_EQ(g.g->vertices[9].nEdges, 1);
    EXPECT_EQ(g.g->vertices[9].head->vertex, 5);
    EXPECT_EQ(g.g->vertices[9].head->weight, 2);
}

TEST(Variants, UnfitArgumentsEndTheCall)
{
    ImagePtr img = makeImage(3, 1, {0, 1021, 2});
    ImagePtr mask = makeImage(3, 1, {1, 1, 1}), small = makeImage(2, 1, {1, 1});
    ImagePtr work(pxCreateImage(4, PX_WORK, 3, 1)), thin(pxCreateImage(2, PX_WORK, 3, 1));
    ImagePtr arcs(silently(watershedWF, img.get(), pxNeighborhood4));
    SeedSet seeds({0}, {1}, {0}), negative({0, 2}, {1, -4}, {0, 0});
    auto expectFatal = [](const char *expected, auto call) {
        std::string message;
        EXPECT_EQ(catchFatal(call, message), PX_FATAL_ARGUMENT) << expected;
        EXPECT_EQ(message, expected);
    };
    auto runIft = [&](Image *m) {
        if (m) iftMask(img.get(), work.get(), m, pxNeighborhood4, ifWatershedMetric, ifPathCostMax, seeds.get());
        else ift(img.get(), work.get(), pxNeighborhood4, ifWatershedMetric, ifPathCostMax, seeds.get());
    };
    expectFatal("ift: arc weight 1021 outside 0 .. 1020", [&] { runIft(nullptr); });
    expectFatal("iftMask: arc weight 1021 outside 0 .. 1020", [&] { runIft(mask.get()); });
    expectFatal("iftMask: the mask image is 2 x 1, the input 3 x 1", [&] { runIft(small.get()); });
    expectFatal("iftWF: the arc-weight image is 3 x 1, the input 2 x 1",
                [&] { iftWF(small.get(), work.get(), arcs.get(), ifPathCostMax, seeds.get()); });
    expectFatal("iftWF: the work image needs 3 bands and 3 pixels, it has 2 bands and 3 pixels",
                [&] { iftWF(img.get(), thin.get(), arcs.get(), ifPathCostMax, seeds.get()); });
    expectFatal("iftDinamicNonNormalized: seed 1 has the negative label -4", [&] {
        Graph *g = iftDinamicNonNormalized(img.get(), img.get(), work.get(), pxNeighborhood4, ifWatershedMetric,
                                           1020, ifPathCostMax, negative.get(), ifEdgeWeightArea, ifInitAreaData,
                                           ifUpdateAreaData, 1);
        destroyGraph(&g);
    });
    img.at(1) = 1020;  // the largest weight allowed
    runIft(nullptr);
    EXPECT_EQ(work->bands[2][1], 1020 * 49);
}
