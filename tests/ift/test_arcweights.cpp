#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reference/arcweights.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

using Builder = Image *(*)(Image *, AdjacencyFn);


struct Named {
    const char *name;
    Builder build;
    bool prints;
    Measure measure;
};
const Named builders[] = {{"euclidean", euclideanWF, true, EUCLIDEAN},
                          {"gaussian", gaussianWF, false, GAUSSIAN},
                          {"gaussian2", gaussian2WF, true, GAUSSIAN2},
                          {"watershed", watershedWF, false, WATERSHED}};

ImagePtr build(const Named &b, Image *img, AdjacencyFn adj, std::string *out = nullptr)
{
    testing::internal::CaptureStdout();
    ImagePtr w(b.build(img, adj));
    std::string printed = testing::internal::GetCapturedStdout();
    if (out) *out = printed;
    return w;
}

// Arc weight from pixel 0 to pixel 1 of a 2 x 1 image (band of (1,0) under
// pxNeighborhood4).
int pairWeight(Builder f, int a, int b)
{
    ImagePtr img = makeImage(2, 1, {a, b});
    testing::internal::CaptureStdout();
    ImagePtr w(f(img.get(), pxNeighborhood4));
    testing::internal::GetCapturedStdout();
    return w->bands[0][0];
}

} // namespace

TEST(ArcWeights, ValueTables)
{
    for (int d : {0, 1, 2, 3}) EXPECT_EQ(pairWeight(gaussian2WF, 50, 50 + d), 0) << d;
    EXPECT_EQ(pairWeight(gaussian2WF, 4, 0), 864);
    for (int d : {5, 6, 7}) EXPECT_EQ(pairWeight(gaussian2WF, 0, d), 999) << d;
    for (int d : {8, 100, 70000}) EXPECT_EQ(pairWeight(gaussian2WF, 0, d), 1000) << d;
    const int gauss[][2] = {{0, 0}, {1, 0}, {10, 9}, {50, 221}, {100, 632}, {300, 999}, {5000, 1000}};
    for (const auto &g : gauss) EXPECT_EQ(pairWeight(gaussianWF, 7, 7 + g[0]), g[1]) << g[0];
    EXPECT_EQ(pairWeight(euclideanWF, 10, 2000), 1000);
    EXPECT_EQ(pairWeight(euclideanWF, 2000, 1010), 990);
    EXPECT_EQ(pairWeight(watershedWF, 3, 70000), 70000);  // not clamped
    // Differences beyond int arithmetic.
    EXPECT_EQ(pairWeight(euclideanWF, INT_MIN, INT_MAX), 1000);
    EXPECT_EQ(pairWeight(gaussianWF, INT_MAX, INT_MIN), 1000);
    EXPECT_EQ(pairWeight(gaussian2WF, INT_MIN, INT_MAX), 1000);
}

TEST(ArcWeights, ImageLayoutAndPrintedLine)
{
    ImagePtr img = makeImage(1, 1, {5});
    for (const Named &b : builders) {
        std::string printed;
        ImagePtr w = build(b, img.get(), pxNeighborhood4, &printed);
        EXPECT_EQ(printed, b.prints ? "out: 4 1 1 \n" : "") << b.name;
        EXPECT_EQ(w->type, PX_ARCWEIGHTS);
        EXPECT_EQ(w->maxValue, 1000);
        ASSERT_EQ(w->adjCount, 4);
        EXPECT_EQ(std::vector<int>(w->adjPairs, w->adjPairs + 8), (std::vector<int>{1, 0, 0, 1, 0, -1, -1, 0}));
        for (int j = 0; j < 4; ++j) EXPECT_EQ(w->bands[j][0], -1) << b.name;
    }
    ImagePtr wide(pxCreateImage(1, PX_GREY_INT, 5, 3));
    std::string printed;
    ImagePtr w = build(builders[0], wide.get(), pxNeighborhood8, &printed);
    EXPECT_EQ(printed, "out: 8 5 3 \n");
}

TEST(ArcWeights, MatchPlainMeasuresOnRandomAndSampleImages)
{
    std::mt19937 rng(8);
    std::vector<ImagePtr> images;
    for (int round = 0; round < 6; ++round) {
        const int nb = round % 3 == 2 ? 3 : 1;
        const int top = round < 2 ? 12 : round < 4 ? 1200 : 70000;
        std::uniform_int_distribution<int> value(0, top), side(1, 9);
        ImagePtr img(pxCreateImage(nb, nb == 3 ? PX_COLOR8 : PX_GREY_INT, side(rng), side(rng)));
        for (int b = 0; b < nb; ++b)
            for (int p = 0; p < img->npixels; ++p) img->bands[b][p] = value(rng);
        images.push_back(std::move(img));
    }
    for (const char *name : {"coins.pgm", "chelsea.ppm"}) {
        Image *raw = nullptr;
        pxReadImage(dataPath(name).c_str(), &raw);
        images.emplace_back(raw);
    }
    for (const ImagePtr &img : images)
        for (const Named &b : builders)
            for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8Clockwise}) {
                ImagePtr w = build(b, img.get(), adj);
                const int ncols = img->ncols, nrows = img->nrows;
                bool same = true;
                for (int j = 0; j < w->adjCount && same; ++j)
                    for (int p = 0; p < img->npixels && same; ++p) {
                        int x = p % ncols + w->adjPairs[2 * j], y = p / ncols + w->adjPairs[2 * j + 1];
                        int expected = -1;
                        if (x >= 0 && x < ncols && y >= 0 && y < nrows) {
                            bool written;
                            expected = plainWeight(b.measure, img.get(), p, y * ncols + x, written);
                            if (!written) expected = 0;
                        }
                        same = w->bands[j][p] == expected;
                        EXPECT_EQ(w->bands[j][p], expected) << b.name << " band " << j << " pixel " << p;
                    }
            }
}

TEST(ArcWeights, SymmetricExceptWatershed)
{
    std::mt19937 rng(3);
    ImagePtr img(pxCreateImage(3, PX_COLOR8, 6, 5));
    std::uniform_int_distribution<int> value(0, 300);
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 30; ++p) img->bands[b][p] = value(rng);
    img->bands[0][7] = img->bands[0][8] + 10;  // the arc 7 -> 8 differs from 8 -> 7 in band 0
    for (const Named &b : builders) {
        ImagePtr w = build(b, img.get(), pxNeighborhood8);
        // Bands 0 (1,0) and 3 (-1,0) hold the two directions of each row arc.
        bool symmetric = true;
        for (int p = 0; p < 30; ++p)
            if (p % 6 < 5 && w->bands[0][p] != w->bands[3][p + 1]) symmetric = false;
        EXPECT_EQ(symmetric, std::string(b.name) != "watershed") << b.name;
    }
    // gaussian2WF reads band 0 only.
    ImagePtr grey = makeImage(2, 1, {0, 5});
    ImagePtr colour(pxCreateImage(3, PX_COLOR8, 2, 1));
    colour->bands[0][1] = 5;
    colour->bands[1][1] = colour->bands[2][0] = 250;
    ImagePtr a = build(builders[2], grey.get(), pxNeighborhood4);
    ImagePtr c = build(builders[2], colour.get(), pxNeighborhood4);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(bandValues(a.get(), j), bandValues(c.get(), j));
}

// Every builder on 2, 3 and 7 threads gives what it gives on one, on random
// images of awkward shapes: one row, one column, fewer rows than threads.
TEST(ArcWeights, ThreadsChangeNothing)
{
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> value(0, 255);
    for (auto [ncols, nrows, nbands] : {std::make_tuple(9000, 1, 1), std::make_tuple(1, 9000, 2),
                                        std::make_tuple(5000, 3, 3), std::make_tuple(300, 40, 1)}) {
        ImagePtr img(pxCreateImage(nbands, PX_GREY_INT, ncols, nrows));
        for (int b = 0; b < nbands; ++b)
            for (int p = 0; p < img->npixels; ++p) img.at(p, b) = value(rng);
        for (const Named &builder : builders) {
            auto build = [&](int threads) {
                ScopedThreads scoped(threads);
                testing::internal::CaptureStdout();
                ImagePtr out(builder.build(img.get(), pxNeighborhood8));
                testing::internal::GetCapturedStdout();
                std::vector<std::vector<int>> bands;
                for (int b = 0; b < out->nbands; ++b) bands.push_back(bandValues(out.get(), b));
                return bands;
            };
            const auto one = build(1);
            for (int threads : threadCountsToCompare())
                EXPECT_TRUE(build(threads) == one) << builder.name << " on " << ncols << " x " << nrows << ", "
                                                   << threads << " threads";
        }
    }
}
