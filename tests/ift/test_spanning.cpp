#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "reference/spanning.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

// ---- Pixel trees ----------------------------------------------------------

// Symmetric random weights per unordered pixel pair, from a seed.
unsigned pairSeed = 1;
int pairWeight(Image *, int p, int q)
{
    unsigned a = static_cast<unsigned>(std::min(p, q)), b = static_cast<unsigned>(std::max(p, q));
    unsigned h = (a * 2654435761u) ^ (b * 40503u + pairSeed * 97u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int>(h % 1001);
}
// Distinct weights: the rank of the pair in a shuffled list of all pairs.
std::vector<int> distinctRank;
int distinctWeight(Image *img, int p, int q)
{
    return distinctRank[static_cast<std::size_t>(std::min(p, q)) * img->npixels + std::max(p, q)];
}
int userWatershed(Image *img, int, int q) { return img->bands[0][q]; }

// Textbook Prim's, quadratic, on a symmetric weight: total tree weight and
// parents (for comparing trees when the weights are distinct).
long long textbookPrim(Image *img, AdjacencyFn adjacency, WeightFn weight, std::vector<int> &parent)
{
    const int n = img->npixels;
    int *pairs = nullptr;
    int k = adjacency(&pairs);
    std::vector<long long> key(n, LLONG_MAX);
    std::vector<bool> in(n, false);
    parent.assign(n, 0);
    std::iota(parent.begin(), parent.end(), 0);
    key[0] = 0;
    long long total = 0;
    for (;;) {
        int best = -1;
        for (int p = 0; p < n; ++p)
            if (!in[p] && key[p] != LLONG_MAX && (best < 0 || key[p] < key[best])) best = p;
        if (best < 0) break;
        in[best] = true;
        total += key[best];
        for (int j = 0; j < k; ++j) {
            int x = best % img->ncols + pairs[2 * j], y = best / img->ncols + pairs[2 * j + 1];
            if (x < 0 || y < 0 || x >= img->ncols || y >= img->nrows) continue;
            int q = x + y * img->ncols;
            long long w = weight(img, best, q);
            if (!in[q] && w < key[q]) {
                key[q] = w;
                parent[q] = best;
            }
        }
    }
    std::free(pairs);
    return total;
}

ImagePtr randomImage(std::mt19937 &rng, int ncols, int nrows, int nbands, int top)
{
    ImagePtr img(pxCreateImage(nbands, nbands == 3 ? PX_COLOR8 : PX_GREY_INT, ncols, nrows));
    std::uniform_int_distribution<int> v(0, top);
    for (int b = 0; b < nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) img.at(p, b) = v(rng);
    img->maxValue = top;
    return img;
}

ImagePtr crop(const Image *src, int x0, int y0, int ncols, int nrows)
{
    ImagePtr out(pxCreateImage(src->nbands, src->type, ncols, nrows));
    for (int b = 0; b < src->nbands; ++b)
        for (int y = 0; y < nrows; ++y)
            for (int x = 0; x < ncols; ++x) out.at(x + y * ncols, b) = src->bands[b][x0 + x + (y0 + y) * src->ncols];
    out->maxValue = src->maxValue;
    return out;
}

ImagePtr treeOf(Image *img) { return ImagePtr(pxCreateImage(2, PX_GREY_INT, img->ncols, img->nrows)); }

} // namespace

TEST(Spanning, PrimIsMinimalAndTheUniqueTreeWhenWeightsDiffer)
{
    std::mt19937 rng(7);
    for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8}) {
        for (int round = 0; round < 6; ++round) {
            ImagePtr img = randomImage(rng, 3 + round % 3, 5 + round % 2, 1, 10);
            pairSeed = round + 1;
            ImagePtr tree = treeOf(img.get());
            iftPrim(img.get(), tree.get(), adj, pairWeight);
            std::vector<int> parent;
            long long total = 0;
            for (int p = 1; p < img->npixels; ++p) total += tree.at(p, 0);
            EXPECT_EQ(total, 49 * textbookPrim(img.get(), adj, pairWeight, parent));

            const int n = img->npixels;
            std::vector<int> ranks(static_cast<std::size_t>(n) * n);
            std::iota(ranks.begin(), ranks.end(), 0);
            std::shuffle(ranks.begin(), ranks.end(), rng);
            for (int &r : ranks) r = r * 1000 / (n * n);  // still distinct: n * n <= 900
            distinctRank = ranks;
            iftPrim(img.get(), tree.get(), adj, distinctWeight);
            textbookPrim(img.get(), adj, distinctWeight, parent);
            EXPECT_EQ(bandValues(tree.get(), 1), parent);
        }
    }
}

// The inlined weight functions and the user's path give the plain version's
// costs and parents to the tie, on random and real images.
TEST(Spanning, PrimMatchesThePlainVersionOnRandomAndSampleImages)
{
    std::mt19937 rng(11);
    Image *cam = nullptr, *cat = nullptr;
    pxReadImage(dataPath("camera.pgm").c_str(), &cam);
    pxReadImage(dataPath("chelsea.ppm").c_str(), &cat);
    ImagePtr camera(cam), chelsea(cat);
    std::vector<ImagePtr> images;
    images.push_back(randomImage(rng, 13, 9, 1, 6));
    images.push_back(randomImage(rng, 9, 14, 3, 255));
    images.push_back(crop(cam, 100, 60, 96, 80));
    images.push_back(crop(cat, 120, 40, 80, 64));
    for (const ImagePtr &img : images)
        for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8})
            for (WeightFn w : {ifWatershedMetric, ifEuclideanDistance, ifMaxDistance, ifChanferDistance,
                               static_cast<WeightFn>(userWatershed)}) {
                ImagePtr got = treeOf(img.get()), want = treeOf(img.get());
                iftPrim(img.get(), got.get(), adj, w);
                plainPrim(img.get(), want.get(), adj, w);
                ASSERT_EQ(bandValues(got.get(), 0), bandValues(want.get(), 0));
                ASSERT_EQ(bandValues(got.get(), 1), bandValues(want.get(), 1));
            }
}

TEST(Spanning, PrimScalesWeightsAndRefusesWeightsOutsideTheQueue)
{
    ImagePtr flat = makeImage(3, 2, {20, 20, 20, 20, 20, 20});
    ImagePtr tree = treeOf(flat.get());
    iftPrim(flat.get(), tree.get(), pxNeighborhood4, ifWatershedMetric);
    EXPECT_EQ(bandValues(tree.get(), 0), (std::vector<int>{0, 980, 980, 980, 980, 980}));
    EXPECT_EQ(bandValues(tree.get(), 1), (std::vector<int>{0, 0, 1, 0, 1, 2}));

    std::string message;
    for (int bad : {1021, -1}) {
        ImagePtr img = makeImage(2, 1, {0, bad});
        EXPECT_EQ(catchFatal([&] { iftPrim(img.get(), tree.get(), pxNeighborhood4, userWatershed); }, message),
                  PX_FATAL_ARGUMENT);
        EXPECT_NE(message.find("outside 0 .. 1020"), std::string::npos);
    }
    // Also from a pixel away from the border, whose arcs are weighed together.
    ImagePtr peak = makeImage(5, 5, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (WeightFn w : {ifWatershedMetric, ifEuclideanDistance}) {
        ImagePtr out = treeOf(peak.get());
        EXPECT_EQ(catchFatal([&] { iftPrim(peak.get(), out.get(), pxNeighborhood8, w); }, message), PX_FATAL_ARGUMENT);
        EXPECT_NE(message.find("arc weight 2000 from pixel 6 to pixel 12 is outside 0 .. 1020"), std::string::npos)
            << message;
    }
    ImagePtr oneBand(pxCreateImage(1, PX_GREY_INT, 3, 2));
    EXPECT_EQ(catchFatal([&] { iftPrim(flat.get(), oneBand.get(), pxNeighborhood4, ifWatershedMetric); }, message),
              PX_FATAL_ARGUMENT);
}

// The arc-weight version follows the same tree; weights far past 1000 are
// served in order by a queue that covers them.
TEST(Spanning, PrimWFMatchesPrimAndCoversHeavyWeights)
{
    std::mt19937 rng(3);
    for (int top : {1000, 60000}) {
        ImagePtr img = randomImage(rng, 17, 11, 1, top);
        for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8}) {
            ImagePtr arcs = arcImage(img.get(), adj, ifWatershedMetric);
            ImagePtr got = treeOf(img.get()), want = treeOf(img.get());
            iftPrimWF(img.get(), got.get(), arcs.get());
            plainPrim(img.get(), want.get(), adj, nullptr, arcs.get(), 49 * top + 1 > 50000 ? 49 * top + 1 : 50000);
            EXPECT_EQ(bandValues(got.get(), 0), bandValues(want.get(), 0));
            EXPECT_EQ(bandValues(got.get(), 1), bandValues(want.get(), 1));
            if (top == 1000) {
                iftPrim(img.get(), want.get(), adj, ifWatershedMetric);
                EXPECT_EQ(bandValues(got.get(), 1), bandValues(want.get(), 1));
            }
        }
    }
    // An arc that leaves the image cannot be followed.
    ImagePtr img = makeImage(2, 1, {0, 0});
    ImagePtr arcs = arcImage(img.get(), pxNeighborhood4, ifWatershedMetric);
    arcs.at(1, 0) = 5;  // pixel 1 to its right
    ImagePtr tree = treeOf(img.get());
    std::string message;
    EXPECT_EQ(catchFatal([&] { iftPrimWF(img.get(), tree.get(), arcs.get()); }, message), PX_FATAL_ARGUMENT);
}

TEST(Spanning, MstThresholdLinksArcsUpToTheFractionOfTheHeaviest)
{
    // 1 x 4: arcs 0-1 weight 0, 1-2 weight 10, 2-3 weight 4.
    ImagePtr img = makeImage(4, 1, {0, 0, 10, 4});
    ImagePtr tree = treeOf(img.get());
    iftPrim(img.get(), tree.get(), pxNeighborhood4, ifWatershedMetric);
    ImagePtr labels(pxCreateImage(1, PX_GREY_INT, 4, 1));
    // Labels are root pixel indices; on equal ranks the parent's set keeps its root.
    ifMstThreshold(tree.get(), labels.get(), 0.0);
    EXPECT_EQ(bandValues(labels.get()), (std::vector<int>{0, 0, 2, 3}));
    EXPECT_EQ(labels->maxValue, 3);
    ifMstThreshold(tree.get(), labels.get(), 0.4);  // t = 196 = 4 x 49
    EXPECT_EQ(bandValues(labels.get()), (std::vector<int>{0, 0, 2, 2}));
    ifMstThreshold(tree.get(), labels.get(), 1.0);
    std::vector<int> l = bandValues(labels.get());
    EXPECT_EQ(std::count(l.begin(), l.end(), l[0]), 4);

    // Pixel 3 has no arcs at all: its infinite cost must not make every
    // other arc light enough to keep.
    ImagePtr arcs = arcImage(img.get(), pxNeighborhood4, ifWatershedMetric);
    for (int j = 0; j < 4; ++j) arcs.at(3, j) = -1;
    arcs.at(2, 0) = -1;
    iftPrimWF(img.get(), tree.get(), arcs.get());
    ASSERT_EQ(tree.at(3, 0), INT_MAX);
    ifMstThreshold(tree.get(), labels.get(), 0.5);  // m = 490, t = 245
    EXPECT_EQ(bandValues(labels.get()), (std::vector<int>{0, 0, 2, 3}));

    // Random trees against the plain union-find, every fraction a tie somewhere.
    std::mt19937 rng(17);
    for (int round = 0; round < 20; ++round) {
        ImagePtr r = randomImage(rng, 1 + round % 9, 1 + round / 2, 1, round % 3 ? 4 : 1000);
        ImagePtr t = treeOf(r.get()), got(pxCreateImage(1, PX_GREY_INT, r->ncols, r->nrows));
        ImagePtr want(pxCreateImage(1, PX_GREY_INT, r->ncols, r->nrows));
        iftPrim(r.get(), t.get(), round % 2 ? pxNeighborhood4 : pxNeighborhood8, ifWatershedMetric);
        for (double fraction : {0.0, 0.25, 0.5, 0.75, 1.0}) {
            ifMstThreshold(t.get(), got.get(), fraction);
            plainMstThreshold(t.get(), want.get(), fraction);
            ASSERT_EQ(bandValues(got.get()), bandValues(want.get())) << round << " " << fraction;
            ASSERT_EQ(got->maxValue, want->maxValue) << round << " " << fraction;
        }
    }
}

// ---- Region graphs ----------------------------------------------------------

namespace {

// Vertices 1..4 with edges 1-2 (5), 2-3 (9), 3-4 (2); one pixel per vertex.
Graph *fourVertexTree()
{
    ImagePtr labels = makeImage(4, 1, {1, 2, 3, 4});
    Graph *t = createGraph(labels.get(), 0);
    insertEdge(t, 1, 2, 5);
    insertEdge(t, 2, 3, 9);
    insertEdge(t, 3, 4, 2);
    return t;
}

std::vector<int> labelsOf(Graph *g) { return bandValues(g->labelImage); }

} // namespace

TEST(Spanning, ThresholdMstCutsByWeightAndByRegionCount)
{
    GraphPtr tree(fourVertexTree());
    testing::internal::CaptureStdout();
    GraphPtr cut(ifThresholdMST(tree.get(), 5));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "there will be 2 regions\n");
    EXPECT_EQ(cut->nVertices, 3);
    EXPECT_EQ(labelsOf(cut.get()), (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(cut->labelImage->maxValue, 0);
    EXPECT_EQ(edgesOf(cut.get(), 1), (Edges{{2, 0}}));

    GraphPtr three(ifThresholdMST_nRegions(tree.get(), 3));
    EXPECT_EQ(labelsOf(three.get()), (std::vector<int>{1, 2, 3, 3}));
    EXPECT_EQ(three->labelImage->maxValue, 3);
    EXPECT_EQ(edgesOf(three.get(), 2), (Edges{{3, 0}, {1, 0}}));
    GraphPtr one(ifThresholdMST_nRegions(tree.get(), 1));
    EXPECT_EQ(labelsOf(one.get()), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(one->nVertices, 2);

    // Negative weights: the heaviest still go first.
    GraphPtr neg(fourVertexTree());
    removeEdge(neg.get(), 2, 3);
    insertEdge(neg.get(), 2, 3, -7);
    GraphPtr negCut(ifThresholdMST_nRegions(neg.get(), 2));
    EXPECT_EQ(labelsOf(negCut.get()), (std::vector<int>{1, 2, 2, 2}));
}

// A forest, or too few edges, gives as many regions as there are, and
// everything is sized by that number.
TEST(Spanning, ThresholdMstOfAForestCountsTheRegionsThereAre)
{
    ImagePtr labels = makeImage(6, 1, {1, 2, 3, 4, 5, 6});
    GraphPtr forest(createGraph(labels.get(), 0));
    insertEdge(forest.get(), 1, 2, 1);
    insertEdge(forest.get(), 4, 5, 8);
    testing::internal::CaptureStdout();
    GraphPtr cut(ifThresholdMST(forest.get(), 5));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "there will be 5 regions\n");
    EXPECT_EQ(cut->nVertices, 6);
    EXPECT_EQ(labelsOf(cut.get()), (std::vector<int>{1, 1, 2, 3, 4, 5}));
    GraphPtr two(ifThresholdMST_nRegions(forest.get(), 2));
    EXPECT_EQ(two->labelImage->maxValue, 5);
    EXPECT_EQ(labelsOf(two.get()), (std::vector<int>{1, 1, 2, 3, 4, 5}));
}

TEST(Spanning, PrimGraphGrowsFromVertexOneOverUnboundedDistances)
{
    // Vertex 1 without edges: nothing else is reached.
    ImagePtr labels = makeImage(3, 1, {1, 2, 3});
    GraphPtr lonely(createGraph(labels.get(), 1));
    insertEdge(lonely.get(), 2, 3, 0);
    lonely->vertices[1].features[0] = 40;
    GraphPtr t(iftPrimGraph(lonely.get(), ifGraphEuclideanDistance));
    for (int v = 0; v < 4; ++v) EXPECT_TRUE(edgesOf(t.get(), v).empty());
    EXPECT_EQ(std::vector<int>(t->vertices[1].features, t->vertices[1].features + 3), (std::vector<int>{1, 40, 1}));
    EXPECT_EQ(std::vector<int>(t->vertices[3].features, t->vertices[3].features + 3),
              (std::vector<int>{0, INT_MAX, 3}));

    // Random graphs with area-like features far above 1000: the tree is
    // minimal, as a textbook Prim's on the same distances says.
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        const int nv = 12;
        GraphPtr g(allocateGraph(nv - 1, 2));
        std::uniform_int_distribution<int> feat(0, 100000), vert(1, nv - 1);
        for (int v = 0; v < nv; ++v)
            for (int k = 0; k < 2; ++k) g->vertices[v].features[k] = feat(rng);
        for (int v = 2; v < nv; ++v) insertEdge(g.get(), v, std::uniform_int_distribution<int>(1, v - 1)(rng), 0);
        for (int e = 0; e < 15; ++e) insertEdge(g.get(), vert(rng), vert(rng), 0);
        GraphPtr mst(iftPrimGraph(g.get(), ifGraphEuclideanDistance));
        long long total = 0, want = 0;
        for (int v = 2; v < nv; ++v) total += mst->vertices[v].features[1];
        std::vector<long long> key(nv, LLONG_MAX);
        std::vector<bool> in(nv, false);
        key[1] = 0;
        for (int step = 1; step < nv; ++step) {
            int b = -1;
            for (int v = 1; v < nv; ++v)
                if (!in[v] && (b < 0 || key[v] < key[b])) b = v;
            in[b] = true;
            want += key[b];
            for (Edge *e = g->vertices[b].head; e; e = e->nextEdge)
                key[e->vertex] = std::min<long long>(key[e->vertex], ifGraphEuclideanDistance(g.get(), b, e->vertex));
        }
        EXPECT_EQ(total, want);
    }
}

TEST(Spanning, GraphIftForestItsCutAndCollapse)
{
    // A path 1 - 2 - 3 - 4 with feature 0 = 10, 12, 50, 51; seeds at 1 and 4.
    ImagePtr labels = makeImage(4, 2, {1, 1, 2, 2, 3, 3, 4, 4});
    GraphPtr g(createGraph(labels.get(), 1));
    int f[] = {0, 10, 12, 50, 51};
    for (int v = 0; v < 5; ++v) g->vertices[v].features[0] = f[v];
    insertEdge(g.get(), 1, 2, 0);
    insertEdge(g.get(), 2, 3, 0);
    insertEdge(g.get(), 3, 4, 0);
    SeedSet seeds({1, 4}, {1, 2}, {0, 0});
    GraphPtr forest(iftGraph(g.get(), ifGraphEuclideanDistance, ifPathCostMax, seeds.get()));
    std::vector<int> lab, cost, pred;
    for (int v = 1; v < 5; ++v) {
        lab.push_back(forest->vertices[v].features[0]);
        cost.push_back(forest->vertices[v].features[1]);
        pred.push_back(forest->vertices[v].features[2]);
    }
    EXPECT_EQ(lab, (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(cost, (std::vector<int>{0, 2, 1, 0}));
    EXPECT_EQ(pred, (std::vector<int>{1, 1, 4, 4}));
    EXPECT_EQ(edgesOf(forest.get(), 2), (Edges{{1, 0}, {3, 0}}));

    testing::internal::CaptureStdout();
    GraphPtr kept(ifThresholdGraph(forest.get(), 0.001));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "threshold is 1\n");
    EXPECT_EQ(edgesOf(kept.get(), 3), (Edges{{4, 1}}));
    EXPECT_EQ(labelsOf(kept.get()), (std::vector<int>{1, 1, 2, 2, 3, 3, 3, 3}));
    EXPECT_EQ(kept->labelImage->maxValue, 3);

    GraphPtr merged(ifColapseGraph(forest.get()));
    EXPECT_EQ(merged->nVertices, 3);
    EXPECT_EQ(edgesOf(merged.get(), 1), (Edges{{2, 0}}));
    EXPECT_EQ(edgesOf(merged.get(), 2), (Edges{{1, 0}}));
}

TEST(Spanning, GraphDistances)
{
    GraphPtr g(allocateGraph(2, 2));
    g->vertices[1].features[0] = 3;
    g->vertices[1].features[1] = 4;
    EXPECT_EQ(ifGraphEuclideanDistance(g.get(), 0, 1), 3);  // 25 / 2 = 12, sqrt 3.46
    EXPECT_EQ(ifGraphMinDistance(g.get(), 1, 2), 0);
    EXPECT_EQ(ifGraphMinDistance(g.get(), 1, 1), 3);
    EXPECT_EQ(ifGraphWatershedDistance(g.get(), 0, 1), 3);
    EXPECT_EQ(ifGraphWatershedDistance(g.get(), 2, 1), 3);
    GraphPtr bare(allocateGraph(1, 0));
    EXPECT_EQ(ifGraphEuclideanDistance(bare.get(), 0, 1), 0);
}
