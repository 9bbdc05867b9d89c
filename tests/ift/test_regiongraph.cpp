#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

// Every list of two graphs, in order.
void expectSameEdges(Graph *a, Graph *b)
{
    ASSERT_EQ(a->nVertices, b->nVertices);
    for (int v = 0; v < a->nVertices; ++v) ASSERT_EQ(edgesOf(a, v), edgesOf(b, v)) << "vertex " << v;
}

// The region graph built plainly: every pixel, every forward 8-neighbour
// with a bounds test, insertEdge for every differing pair.
Graph *plainMosaicGraph(Image *labels)
{
    Graph *g = createGraph(labels, 0);
    const int d[4][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
    for (int p = 0; p < labels->npixels; ++p)
        for (const auto &o : d) {
            int x = p % labels->ncols + o[0], y = p / labels->ncols + o[1];
            if (x < 0 || x >= labels->ncols || y >= labels->nrows) continue;
            int a = labels->bands[0][p], b = labels->bands[0][x + y * labels->ncols];
            if (a != b) insertEdge(g, a, b, 0);
        }
    return g;
}

// Regional-minimum watershed zones of band 0 of img.
ImagePtr watershedZones(Image *img)
{
    Image *grey = pxCopyBand(img, PX_GREY_INT, 0);
    Roots *seeds = ifRegionalMinimaAsRoots(grey);
    ImagePtr work(pxCreateImage(4, PX_WORK, img->ncols, img->nrows));
    iftNonNormalized(grey, work.get(), pxNeighborhood8, ifWatershedMetric, grey->maxValue, ifPathCostMax, seeds);
    ifReleaseRoots(seeds);
    std::free(seeds);
    pxReleaseImage(&grey);
    return ImagePtr(pxCopyBand(work.get(), PX_GREY_INT, 1));
}

ImagePtr readData(const char *name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

ImagePtr randomLabels(std::mt19937 &rng, int ncols, int nrows, int top)
{
    ImagePtr labels(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
    std::uniform_int_distribution<int> l(0, top);
    // Runs of one label, so that regions are larger than a pixel.
    for (int p = 0; p < labels->npixels; ++p) labels.at(p) = p % 3 && p > 0 ? labels.at(p - 1) : l(rng);
    labels->maxValue = top + 2;  // two vertices without pixels
    return labels;
}

} // namespace

TEST(RegionGraph, SmallMosaicsJoinEveryTouchingPairOnce)
{
    ImagePtr sideBySide = makeImage(2, 1, {1, 2});
    GraphPtr g(ifMosaicToGraph(sideBySide.get()));
    ASSERT_EQ(g->nVertices, 3);
    EXPECT_EQ(edgesOf(g.get(), 0), Edges{});
    EXPECT_EQ(edgesOf(g.get(), 1), (Edges{{2, 0}}));
    EXPECT_EQ(edgesOf(g.get(), 2), (Edges{{1, 0}}));

    // Corner contacts on both diagonals; label 0 takes part; vertex 3 has no
    // pixel and no edge.
    ImagePtr corners = makeImage(2, 2, {1, 0, 0, 2}, PX_GREY_INT, 4);
    GraphPtr c(ifMosaicToGraph(corners.get()));
    ASSERT_EQ(c->nVertices, 5);
    EXPECT_EQ(edgesOf(c.get(), 1), (Edges{{2, 0}, {0, 0}}));
    EXPECT_EQ(edgesOf(c.get(), 0), (Edges{{2, 0}, {1, 0}}));
    EXPECT_EQ(edgesOf(c.get(), 3), Edges{});
    ImagePtr anti = makeImage(2, 2, {0, 1, 2, 0});
    GraphPtr a(ifMosaicToGraph(anti.get()));
    EXPECT_EQ(edgesOf(a.get(), 1), (Edges{{2, 0}, {0, 0}}));
}

TEST(RegionGraph, MosaicGraphMatchesThePlainScan)
{
    std::mt19937 rng(2);
    std::vector<ImagePtr> mosaics;
    for (int k = 0; k < 4; ++k) mosaics.push_back(randomLabels(rng, 1 + 7 * k, 9 - 2 * k, 6 + 20 * k));
    ImagePtr camera = readData("camera.pgm");
    mosaics.push_back(watershedZones(camera.get()));
    for (const ImagePtr &m : mosaics) {
        GraphPtr got(ifMosaicToGraph(m.get())), want(plainMosaicGraph(m.get()));
        expectSameEdges(got.get(), want.get());
    }
    ImagePtr bad = makeImage(2, 1, {1, 3}, PX_GREY_INT, 2);
    std::string message;
    auto run = [&] {
        Graph *r = ifMosaicToGraph(bad.get());
        destroyGraph(&r);
    };
    EXPECT_EQ(catchFatal(run, message), PX_FATAL_ARGUMENT);
}

// Running areas: once vertex 1 (1 pixel) has joined vertex 2 (2 pixels),
// vertex 2 counts 3 and is too large to merge on its own turn.
TEST(RegionGraph, EliminateSmallRegionsKeepsRunningAreasAndRenumbers)
{
    ImagePtr labels = makeImage(7, 1, {1, 2, 2, 3, 3, 3, 3});
    GraphPtr g(ifMosaicToGraph(labels.get()));
    GraphPtr merged(ifEliminateSmallRegions(g.get(), 2, 2));
    EXPECT_EQ(bandValues(merged->labelImage), (std::vector<int>{1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(merged->nVertices, 3);
    EXPECT_EQ(edgesOf(merged.get(), 1), (Edges{{2, 0}}));

    // maxArea 0 merges nothing: the regions come back in raster order.
    ImagePtr other = makeImage(5, 1, {5, 5, 2, 2, 7});
    GraphPtr h(ifMosaicToGraph(other.get()));
    GraphPtr same(ifEliminateSmallRegions(h.get(), 0, 8));
    EXPECT_EQ(bandValues(same->labelImage), (std::vector<int>{1, 1, 2, 2, 3}));
    EXPECT_EQ(same->labelImage->maxValue, 3);
    // A region without neighbours is never merged.
    ImagePtr alone = makeImage(2, 1, {4, 4});
    GraphPtr single(ifMosaicToGraph(alone.get()));
    GraphPtr kept(ifEliminateSmallRegions(single.get(), 100, 8));
    EXPECT_EQ(bandValues(kept->labelImage), (std::vector<int>{1, 1}));
}

TEST(RegionGraph, FeaturesMatchDirectSumsOverTheLabels)
{
    std::mt19937 rng(9);
    ImagePtr chelsea = readData("chelsea.ppm");
    std::vector<std::pair<ImagePtr, ImagePtr>> cases;  // (labels, image)
    {
        ImagePtr labels = randomLabels(rng, 23, 17, 9);
        ImagePtr img(pxCreateImage(3, PX_COLOR8, 23, 17));
        for (int b = 0; b < 3; ++b)
            for (int p = 0; p < img->npixels; ++p) img.at(p, b) = static_cast<int>(rng() % 256);
        img->maxValue = 255;
        cases.emplace_back(std::move(labels), std::move(img));
    }
    cases.emplace_back(watershedZones(chelsea.get()), ImagePtr(pxCopyImage(chelsea.get())));
    for (auto &c : cases) {
        Image *labels = c.first.get(), *img = c.second.get();
        GraphPtr g(ifMosaicToGraph(labels));
        const int nv = g->nVertices;
        std::vector<long long> area(nv), volume(nv), sum(3 * nv);
        for (int p = 0; p < labels->npixels; ++p) {
            int l = labels->bands[0][p];
            ++area[l];
            volume[l] += img->maxValue - img->bands[0][p];
            for (int b = 0; b < 3; ++b) sum[3 * l + b] += img->bands[b][p];
        }
        testing::internal::CaptureStdout();
        GraphPtr a(ifComputeArea(g.get())), v(ifComputeVolume(g.get(), img));
        std::string line = "will copy base graph " + std::to_string(nv) + "\ndone!!!!\n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line);
        GraphPtr m(ifComputeAverageColors(g.get(), img));
        ASSERT_EQ(m->nFeatures, 3);
        for (int l = 0; l < nv; ++l) {
            EXPECT_EQ(a->vertices[l].features[0], area[l]);
            EXPECT_EQ(v->vertices[l].features[0], volume[l]);
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(m->vertices[l].features[b], area[l] ? sum[3 * l + b] / area[l] : 0);
        }
        expectSameEdges(a.get(), m.get());
        // Painted back, the means equal those worked out without a graph.
        ImagePtr painted(ifAverageColorsGraphToImage(m.get(), PX_COLOR8));
        ImagePtr direct(pxCreateImage(3, PX_COLOR8, img->ncols, img->nrows));
        ifAverageColor(img, direct.get(), labels);
        for (int b = 0; b < 3; ++b) EXPECT_EQ(bandValues(painted.get(), b), bandValues(direct.get(), b));
    }
    // A label that names no vertex is refused, not followed.
    ImagePtr labels = makeImage(2, 1, {0, 1});
    GraphPtr g(ifMosaicToGraph(labels.get()));
    g->labelImage->bands[0][1] = 9;
    std::string message;
    testing::internal::CaptureStdout();
    EXPECT_EQ(catchFatal([&] { ifComputeArea(g.get()); }, message), PX_FATAL_ARGUMENT);
    testing::internal::GetCapturedStdout();
    GraphPtr bare(allocateGraph(2, 0));
    EXPECT_EQ(ifAverageColorsGraphToImage(bare.get(), PX_GREY_INT), nullptr);
}

TEST(RegionGraph, FeatureVectorsMapOntoZeroToThousand)
{
    ImagePtr img(pxCreateImage(3, PX_GREY_INT, 4, 1));
    int values[3][4] = {{3, 6, 12, 3}, {5, 5, 5, 5}, {-2000000000, 0, 2000000000, 1}};
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 4; ++p) img.at(p, b) = values[b][p];
    testing::internal::CaptureStdout();
    ImagePtr fv(ifCreateFeaturesVector(img.get()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "MAX = 12, MIN = 3\nMAX = 5, MIN = 5\nMAX = 2000000000, MIN = -2000000000\n");
    EXPECT_EQ(bandValues(fv.get(), 0), (std::vector<int>{0, 333, 1000, 0}));
    EXPECT_EQ(bandValues(fv.get(), 1), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(bandValues(fv.get(), 2), (std::vector<int>{0, 500, 1000, 500}));
    EXPECT_EQ(fv->maxValue, 1000);
    EXPECT_EQ(fv->type, PX_FEATURES);

    int *band0 = fv->bands[0];
    int added[4] = {0, 10, 20, 30};
    testing::internal::CaptureStdout();
    ifAddFeatureToVector(&fv.img, added);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "MAX = 30, MIN = 0\n   0  333  666 1000 fv has now 4 bands\n");
    ASSERT_EQ(fv->nbands, 4);
    EXPECT_EQ(fv->bands[0], band0);
    EXPECT_EQ(bandValues(fv.get(), 3), (std::vector<int>{0, 333, 666, 1000}));
}

TEST(RegionGraph, FeaturesGraphAndMorphologicalGradient)
{
    // 1 - 2, 1 - 3 with features (10, 5), (30, 5), (0, 100).
    GraphPtr g(allocateGraph(3, 2));
    int f[4][2] = {{0, 0}, {10, 5}, {30, 5}, {0, 100}};
    for (int v = 0; v < 4; ++v)
        for (int k = 0; k < 2; ++k) g->vertices[v].features[k] = f[v][k];
    insertEdge(g.get(), 1, 2, 0);
    insertEdge(g.get(), 1, 3, 0);
    GraphPtr grad(ifMorphoGradGraph(g.get()));
    std::vector<int> got;
    for (int v = 0; v < 4; ++v) got.push_back(grad->vertices[v].features[0]);
    EXPECT_EQ(got, (std::vector<int>{0, 95, 20, 95}));

    testing::internal::CaptureStdout();
    GraphPtr norm(ifCreateFeaturesGraph(g.get()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MAX = 30, MIN = 0\nMAX = 100, MIN = 0\n");
    EXPECT_EQ(norm->vertices[1].features[0], 333);
    EXPECT_EQ(norm->vertices[3].features[1], 1000);
    EXPECT_EQ(norm->vertices[2].features[1], 50);
    expectSameEdges(norm.get(), GraphPtr(copyBaseGraph(g.get(), 0)).get());

    // Without features: the copy, and nothing printed.
    GraphPtr bare(allocateGraph(2, 0));
    insertEdge(bare.get(), 1, 2, 4);
    testing::internal::CaptureStdout();
    GraphPtr copy(ifCreateFeaturesGraph(bare.get()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(edgesOf(copy.get(), 1), (Edges{{2, 4}}));
}
