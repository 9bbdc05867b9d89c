#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using testing_support::bandValues;
using testing_support::dataPath;
using testing_support::ImagePtr;
using testing_support::makeImage;

namespace {

using Bands = std::vector<std::vector<int>>;

constexpr int TOP_START = -1000000;

ImagePtr randomImage(int nbands, int ncols, int nrows, int lo, int hi, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    Image *img = pxCreateImage(nbands, PX_GREY_INT, ncols, nrows);
    for (int b = 0; b < nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) img->bands[b][p] = dist(gen);
    return ImagePtr(img);
}

// A destination of the source's shape holding values that must be overwritten.
ImagePtr dirtyLike(const Image *src)
{
    ImagePtr dst = randomImage(src->nbands, src->ncols, src->nrows, -7, 7, 99);
    dst->maxValue = 4321;
    return dst;
}

Bands bandsOf(const Image *img)
{
    Bands out;
    for (int b = 0; b < img->nbands; ++b) out.push_back(bandValues(img, b));
    return out;
}

// Max (min) over the pixels (x + dx, y + dy) inside the image with
// dx * dx + dy * dy <= r2, straight from the definition.
Bands reference(const Bands &src, int ncols, int nrows, int r2, bool dilate)
{
    Bands out = src;
    int r = 0;
    while ((r + 1) * (r + 1) <= r2) ++r;
    for (std::size_t b = 0; b < src.size(); ++b)
        for (int y = 0; y < nrows; ++y)
            for (int x = 0; x < ncols; ++x) {
                int best = src[b][y * ncols + x];
                for (int dy = -r; dy <= r; ++dy)
                    for (int dx = -r; dx <= r; ++dx) {
                        int nx = x + dx, ny = y + dy;
                        if (nx < 0 || nx >= ncols || ny < 0 || ny >= nrows || dx * dx + dy * dy > r2) continue;
                        int v = src[b][ny * ncols + nx];
                        best = dilate ? std::max(best, v) : std::min(best, v);
                    }
                out[b][y * ncols + x] = best;
            }
    return out;
}

int referenceTop(const Bands &bands)
{
    int top = TOP_START;
    for (const auto &band : bands)
        for (int v : band) top = std::max(top, v);
    return top;
}

Bands referenceOpen(const Bands &src, int ncols, int nrows, int r2)
{
    return reference(reference(src, ncols, nrows, r2, false), ncols, nrows, r2, true);
}

Bands referenceClose(const Bands &src, int ncols, int nrows, int r2)
{
    return reference(reference(src, ncols, nrows, r2, true), ncols, nrows, r2, false);
}

void expectFilterMatches(const Image *src, int r2)
{
    Bands want[2] = {reference(bandsOf(src), src->ncols, src->nrows, r2, true),
                     reference(bandsOf(src), src->ncols, src->nrows, r2, false)};
    for (int k = 0; k < 2; ++k) {
        ImagePtr dst = dirtyLike(src);
        (k == 0 ? pxMorphDilate : pxMorphErode)(const_cast<Image *>(src), dst.get(), r2);
        EXPECT_EQ(bandsOf(dst.get()), want[k])
            << (k == 0 ? "dilate" : "erode") << " r2=" << r2 << " " << src->ncols << "x" << src->nrows;
        EXPECT_EQ(dst->maxValue, referenceTop(want[k])) << "r2=" << r2;
    }
}

} // namespace

TEST(Morphology, DilateAndErodeEqualTheDiscDefinitionInEveryBand)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 3}, {13, 9}, {31, 17}};
    unsigned seed = 1;
    for (const auto &s : sizes) {
        ImagePtr src = randomImage(3, s[0], s[1], -50, 50, seed++);
        for (int r2 = 0; r2 <= 12; ++r2) expectFilterMatches(src.get(), r2);
        for (int r2 : {20, 50, 200, 1100}) expectFilterMatches(src.get(), r2);
    }
}

TEST(Morphology, ValuesBeyondTheStartValuesAreFilteredExactly)
{
    ImagePtr src = randomImage(2, 9, 8, -5000000, 5000000, 17);
    for (int r2 : {1, 2, 5}) expectFilterMatches(src.get(), r2);
    ImagePtr low = randomImage(1, 4, 4, -9000000, -2000000, 18);
    expectFilterMatches(low.get(), 1);
}

TEST(Morphology, RealImagesMatchTheDiscDefinition)
{
    for (const char *name : {"camera.pgm", "coins.pgm", "chelsea.ppm"}) {
        Image *raw = nullptr;
        pxReadImage(dataPath(name).c_str(), &raw);
        ImagePtr img(raw);
        for (int r2 : {1, 2, 8}) expectFilterMatches(img.get(), r2);
    }

    Image *raw = nullptr;
    pxReadImage(dataPath("coins.pgm").c_str(), &raw);
    ImagePtr coins(raw);
    Bands want = bandsOf(coins.get());
    for (int k = 1; k <= 3; ++k)
        want = referenceClose(referenceOpen(want, coins->ncols, coins->nrows, k), coins->ncols, coins->nrows, k);
    ImagePtr dst = dirtyLike(coins.get());
    testing::internal::CaptureStdout();
    pxMorphAsfOC(coins.get(), dst.get(), 3);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(bandsOf(dst.get()), want);
}

TEST(Morphology, ZeroRadiusCopiesTheSourceAndNegativeRadiusActsLikeZero)
{
    ImagePtr src = makeImage(3, 2, {4, -2, 9, 0, 3, 1});
    for (int r2 : {0, -1, -50}) {
        for (auto op : {pxMorphDilate, pxMorphErode, pxMorphOpen, pxMorphClose}) {
            ImagePtr dst = dirtyLike(src.get());
            op(src.get(), dst.get(), r2);
            EXPECT_EQ(bandValues(dst.get()), bandValues(src.get())) << r2;
            EXPECT_EQ(dst->maxValue, 9) << r2;
        }
    }
}

TEST(Morphology, ErosionReportsTheLargestValueWrittenAsMaxValue)
{
    ImagePtr src = makeImage(3, 1, {-5, -3, -8});
    ImagePtr dst = dirtyLike(src.get());
    pxMorphErode(src.get(), dst.get(), 1);
    EXPECT_EQ(bandValues(dst.get()), (std::vector<int>{-5, -8, -8}));
    EXPECT_EQ(dst->maxValue, -5);
}

TEST(Morphology, CrossDilationOfACornerPixelLightsThreePixels)
{
    ImagePtr src = makeImage(3, 3, {200, 0, 0, 0, 0, 0, 0, 0, 0});
    ImagePtr dst = dirtyLike(src.get());
    pxMorphDilate(src.get(), dst.get(), 1);
    EXPECT_EQ(bandValues(dst.get()), (std::vector<int>{200, 200, 0, 200, 0, 0, 0, 0, 0}));
    EXPECT_EQ(dst->maxValue, 200);
}

TEST(Morphology, OpeningRemovesAPeakThatClosingKeepsAndClosingFillsAPit)
{
    ImagePtr peak = makeImage(5, 5, {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 200, 10, 10,
                                     10, 10, 10, 10, 10, 10, 10, 10, 10, 10});
    ImagePtr opened = dirtyLike(peak.get());
    pxMorphOpen(peak.get(), opened.get(), 1);
    EXPECT_EQ(bandValues(opened.get()), std::vector<int>(25, 10));
    EXPECT_EQ(opened->maxValue, 10);
    ImagePtr closed = dirtyLike(peak.get());
    pxMorphClose(peak.get(), closed.get(), 1);
    EXPECT_EQ(bandValues(closed.get()), bandValues(peak.get()));
    EXPECT_EQ(closed->maxValue, 200);

    ImagePtr pit = makeImage(3, 3, {50, 50, 50, 50, 0, 50, 50, 50, 50});
    ImagePtr filled = dirtyLike(pit.get());
    pxMorphClose(pit.get(), filled.get(), 1);
    EXPECT_EQ(bandValues(filled.get()), std::vector<int>(9, 50));
}

TEST(Morphology, OpenAndCloseComposeErosionAndDilation)
{
    ImagePtr src = randomImage(3, 15, 11, 0, 255, 21);
    Bands in = bandsOf(src.get());
    for (int r2 : {1, 2, 4, 9}) {
        ImagePtr o = dirtyLike(src.get()), c = dirtyLike(src.get());
        pxMorphOpen(src.get(), o.get(), r2);
        pxMorphClose(src.get(), c.get(), r2);
        Bands wantOpen = referenceOpen(in, 15, 11, r2), wantClose = referenceClose(in, 15, 11, r2);
        EXPECT_EQ(bandsOf(o.get()), wantOpen) << r2;
        EXPECT_EQ(bandsOf(c.get()), wantClose) << r2;
        EXPECT_EQ(o->maxValue, referenceTop(wantOpen));
        EXPECT_EQ(c->maxValue, referenceTop(wantClose));
    }
    EXPECT_EQ(bandsOf(src.get()), in);
}

TEST(Morphology, AlternatingFiltersFollowTheirStepsAndPrintOneLinePerStep)
{
    ImagePtr src = randomImage(2, 19, 14, 0, 255, 31);
    Bands oc = bandsOf(src.get()), co = oc;
    for (int k = 1; k <= 3; ++k) {
        oc = referenceClose(referenceOpen(oc, 19, 14, k), 19, 14, k);
        co = referenceOpen(referenceClose(co, 19, 14, k), 19, 14, k);
    }

    ImagePtr dst = dirtyLike(src.get());
    testing::internal::CaptureStdout();
    pxMorphAsfOC(src.get(), dst.get(), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "radius is 1\nradius is 2\nradius is 3\n");
    EXPECT_EQ(bandsOf(dst.get()), oc);
    EXPECT_EQ(dst->maxValue, 4321);

    ImagePtr dst2 = dirtyLike(src.get());
    testing::internal::CaptureStdout();
    pxMorphAsfCO(src.get(), dst2.get(), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "squared radius is 1\nsquared radius is 2\nsquared radius is 3\n");
    EXPECT_EQ(bandsOf(dst2.get()), co);
    EXPECT_EQ(dst2->maxValue, 4321);

    testing::internal::CaptureStdout();
    pxMorphAsfCO(src.get(), dst2.get(), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "squared radius is 1\nsquared radius is 2\n");
}

TEST(Morphology, AlternatingFiltersWithoutStepsCopyTheSource)
{
    ImagePtr src = randomImage(3, 5, 4, 0, 99, 41);
    for (int n : {0, -2}) {
        for (auto asf : {pxMorphAsfOC, pxMorphAsfCO}) {
            ImagePtr dst = dirtyLike(src.get());
            testing::internal::CaptureStdout();
            asf(src.get(), dst.get(), n);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
            EXPECT_EQ(bandsOf(dst.get()), bandsOf(src.get()));
            EXPECT_EQ(dst->maxValue, 4321);
        }
    }
}

TEST(Morphology, GradientIsTheLargestThreeByThreeSpreadOverBands)
{
    ImagePtr flat = makeImage(4, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7});
    ImagePtr g0 = makeImage(4, 3, {});
    pxMorphGrad(flat.get(), g0.get());
    EXPECT_EQ(bandValues(g0.get()), std::vector<int>(12, 0));
    EXPECT_EQ(g0->maxValue, 0);

    ImagePtr step = makeImage(5, 2, {10, 10, 10, 50, 50, 10, 10, 10, 50, 50});
    ImagePtr g1 = makeImage(5, 2, {});
    pxMorphGrad(step.get(), g1.get());
    EXPECT_EQ(bandValues(g1.get()), (std::vector<int>{0, 0, 40, 40, 0, 0, 0, 40, 40, 0}));
    EXPECT_EQ(g1->maxValue, 40);

    // What dst already holds survives where it is larger; maxValue still
    // reports the largest gradient computed.
    ImagePtr g2 = makeImage(5, 2, {99, 0, 0, 0, 0, 0, 0, 0, 5, 0});
    pxMorphGrad(step.get(), g2.get());
    EXPECT_EQ(bandValues(g2.get()), (std::vector<int>{99, 0, 40, 40, 0, 0, 0, 40, 40, 0}));
    EXPECT_EQ(g2->maxValue, 40);

    ImagePtr src = randomImage(3, 11, 9, 0, 255, 51);
    ImagePtr g3 = randomImage(2, 11, 9, 0, 0, 52);
    std::vector<int> band1 = bandValues(g3.get(), 1);
    pxMorphGrad(src.get(), g3.get());
    Bands in = bandsOf(src.get());
    Bands hi = reference(in, 11, 9, 2, true), lo = reference(in, 11, 9, 2, false);
    int top = -1;
    for (int p = 0; p < 99; ++p) {
        int g = 0;
        for (int b = 0; b < 3; ++b) g = std::max(g, hi[b][p] - lo[b][p]);
        EXPECT_EQ(g3.at(p), g) << p;
        top = std::max(top, g);
    }
    EXPECT_EQ(g3->maxValue, top);
    EXPECT_EQ(bandValues(g3.get(), 1), band1);
}

// Every operator on 2, 3 and 7 threads gives what it gives on one, values
// and maxValue, on random images of awkward shapes: one row, one column,
// fewer rows than threads, and stripes shorter than the disc.
TEST(Morphology, ThreadsChangeNothing)
{
    using testing_support::ScopedThreads;
    using testing_support::threadCountsToCompare;
    struct Op {
        const char *name;
        std::function<void(Image *, Image *)> run;
    };
    const std::vector<Op> ops = {
        {"dilate", [](Image *s, Image *d) { pxMorphDilate(s, d, 5); }},
        {"erode", [](Image *s, Image *d) { pxMorphErode(s, d, 2); }},
        {"open", [](Image *s, Image *d) { pxMorphOpen(s, d, 1); }},
        {"close", [](Image *s, Image *d) { pxMorphClose(s, d, 8); }},
        {"asfOC", [](Image *s, Image *d) { pxMorphAsfOC(s, d, 2); }},
        {"asfCO", [](Image *s, Image *d) { pxMorphAsfCO(s, d, 2); }},
        {"grad", [](Image *s, Image *d) { pxMorphGrad(s, d); }},
    };
    const std::pair<int, int> shapes[] = {{40000, 1}, {1, 70000}, {33000, 3}, {300, 250}};
    unsigned seed = 1;
    for (auto [ncols, nrows] : shapes) {
        ImagePtr src = randomImage(2, ncols, nrows, -50, 300, seed++);
        for (const Op &op : ops) {
            auto result = [&](int threads) {
                ScopedThreads scoped(threads);
                ImagePtr dst = dirtyLike(src.get());
                testing::internal::CaptureStdout();
                op.run(src.get(), dst.get());
                testing::internal::GetCapturedStdout();
                return std::make_pair(bandsOf(dst.get()), dst->maxValue);
            };
            const auto one = result(1);
            for (int threads : threadCountsToCompare())
                EXPECT_TRUE(result(threads) == one) << op.name << " on " << ncols << " x " << nrows << ", " << threads
                                                    << " threads";
        }
    }
}

// A disc beyond the image's diagonal acts like the one that reaches across
// it, so huge radii and step counts give the definition's result at once.
TEST(Morphology, RadiiAndStepsBeyondTheDiagonalGiveTheDefinitionsResultAtOnce)
{
    ImagePtr src = randomImage(2, 5, 4, 0, 255, 17);
    const int reach = 4 * 4 + 3 * 3;
    const Bands in = bandsOf(src.get());
    Bands oc = in, co = in;
    for (int k = 1; k <= reach + 3; ++k) {
        oc = referenceClose(referenceOpen(oc, 5, 4, k), 5, 4, k);
        co = referenceOpen(referenceClose(co, 5, 4, k), 5, 4, k);
    }
    const Bands dilated = reference(in, 5, 4, reach + 3, true), eroded = reference(in, 5, 4, reach + 3, false);
    const Bands open = referenceOpen(in, 5, 4, reach + 3), close = referenceClose(in, 5, 4, reach + 3);
    for (int huge : {reach + 3, 1000000000, 2147483647}) {
        ImagePtr dst = dirtyLike(src.get());
        pxMorphDilate(src.get(), dst.get(), huge);
        EXPECT_EQ(bandsOf(dst.get()), dilated) << huge;
        pxMorphErode(src.get(), dst.get(), huge);
        EXPECT_EQ(bandsOf(dst.get()), eroded) << huge;
        pxMorphOpen(src.get(), dst.get(), huge);
        EXPECT_EQ(bandsOf(dst.get()), open) << huge;
        pxMorphClose(src.get(), dst.get(), huge);
        EXPECT_EQ(bandsOf(dst.get()), close) << huge;
        testing::internal::CaptureStdout();
        pxMorphAsfOC(src.get(), dst.get(), huge);
        pxMorphAsfCO(src.get(), dst.get(), huge);
        pxMorphAsfCO(src.get(), dst.get(), huge);
        const std::string lines = testing::internal::GetCapturedStdout();
        // The steps stop at the one whose disc reaches across the image.
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3 * reach);
        EXPECT_EQ(bandsOf(dst.get()), co) << huge;
        pxMorphAsfOC(src.get(), dst.get(), huge);
        EXPECT_EQ(bandsOf(dst.get()), oc) << huge;
    }
}
