// Connected labelling, regional extrema and the label-image utilities.
//
// The regional extrema are computed by a flat-zone scan; they are checked
// against two independent constructions: the definition by flood fill (a flat
// zone with no strictly lower / higher neighbour), and the candidate + labelling
// + IFT procedure run through the library's IFT on values shifted so that no
// raised or lowered copy clamps.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reference/labelling.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

// Candidates, their labelling and one IFT, on a type-2 copy whose values are
// shifted up by one for maxima so that the lowered copy never clamps at 0 and
// whose type lets the raised copy of minima pass 255.
std::vector<int> iftExtrema(const Image *img, bool maxima)
{
    const int shift = maxima ? 1 : 0;
    ImagePtr base(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    int top = 0;
    for (int p = 0; p < img->npixels; ++p) {
        base.at(p) = img->bands[0][p] + shift;
        top = std::max(top, base.at(p));
    }
    base->maxValue = top;
    ImagePtr moved(pxAddToPixelValues(base.get(), maxima ? -1 : 1));
    ImagePtr cand(maxima ? pxFalseRegionalMaximum(base.get()) : pxFalseRegionalMinimum(moved.get()));
    std::vector<int> lab = bfsLabels(cand.get());
    int n = 0;
    for (int p = 0; p < img->npixels; ++p) n += cand.at(p) > 0;
    SeedSet seeds;
    ifReleaseRoots(seeds.get());
    ifAllocateRoots(seeds.get(), n);
    for (int p = 0, i = 0; p < img->npixels; ++p)
        if (cand.at(p) > 0) {
            seeds.r.pixel[i] = p;
            seeds.r.label[i] = lab[p];
            seeds.r.cost[i] = moved.at(p);
            ++i;
        }
    ImagePtr work(pxCreateImage(4, PX_WORK, img->ncols, img->nrows));
    if (maxima)
        iftNonNormalizedInverted(base.get(), work.get(), pxNeighborhood8, ifWatershedMetric,
                                 base->maxValue, ifPathCostMin, seeds.get());
    else
        iftNonNormalized(base.get(), work.get(), pxNeighborhood8, ifWatershedMetric,
                         moved->maxValue, ifPathCostMax, seeds.get());
    std::vector<int> out(img->npixels);
    for (int p = 0; p < img->npixels; ++p)
        out[p] = maxima ? base.at(p) - work.at(p, 2) : work.at(p, 2) - base.at(p);
    return out;
}

ImagePtr randomImage(std::mt19937 &rng, int ncols, int nrows, int levels, int type = PX_GREY_INT)
{
    ImagePtr img(pxCreateImage(1, type, ncols, nrows));
    std::uniform_int_distribution<int> d(0, levels - 1);
    int top = 0;
    for (int p = 0; p < img->npixels; ++p) top = std::max(top, img.at(p) = d(rng));
    img->maxValue = top;
    return img;
}

// Random horizontal runs of random lengths (up to maxRun) and values in
// 0 .. levels-1, each row a random shift of the previous one or a fresh row,
// so that plateaus span rows and run ends fall anywhere in a 64-pixel word.
ImagePtr plateauImage(std::mt19937 &rng, int ncols, int nrows, int levels, int maxRun, int type = PX_GREY_INT)
{
    ImagePtr img(pxCreateImage(1, type, ncols, nrows));
    std::uniform_int_distribution<int> value(0, levels - 1), length(1, maxRun), coin(0, 3);
    for (int y = 0; y < nrows; ++y) {
        int *row = img->bands[0] + y * ncols;
        if (y > 0 && coin(rng) > 0) {
            const int shift = coin(rng) - 1;  // -1 .. 2
            const int *prev = row - ncols;
            for (int x = 0; x < ncols; ++x) row[x] = prev[std::clamp(x + shift, 0, ncols - 1)];
            continue;
        }
        for (int x = 0; x < ncols;) {
            const int v = value(rng), e = std::min(ncols, x + length(rng));
            for (; x < e; ++x) row[x] = v;
        }
    }
    int top = 0;
    for (int p = 0; p < img->npixels; ++p) top = std::max(top, img.at(p));
    img->maxValue = top;
    return img;
}

ImagePtr readData(const std::string &name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

// Every grey image of data/, and each band of the colour one.
std::vector<std::pair<std::string, ImagePtr>> dataImages()
{
    std::vector<std::pair<std::string, ImagePtr>> out;
    for (const char *name : {"camera.pgm", "cell.pgm", "coins.pgm", "horse.pgm"})
        out.emplace_back(name, readData(name));
    ImagePtr colour = readData("chelsea.ppm");
    for (int band = 0; band < 3; ++band) {
        ImagePtr grey(pxCopyBand(colour.get(), PX_GREY8, band));
        out.emplace_back("chelsea.ppm band " + std::to_string(band), std::move(grey));
    }
    return out;
}

// Runs f with standard output captured and returns what it printed.
template <class F>
std::string capturedStdout(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// Compares the four regional operators with both references on one image.
void expectExtremaMatch(const Image *img, bool viaIft = true)
{
    for (bool maxima : {false, true}) {
        SCOPED_TRACE(maxima ? "maxima" : "minima");
        std::vector<int> def = definitionExtrema(img, maxima);
        if (viaIft) {
            ASSERT_EQ(iftExtrema(img, maxima), def);
        }
        Image *in = const_cast<Image *>(img);
        ImagePtr got;
        RootsPtr roots;
        capturedStdout([&] {
            got = ImagePtr(maxima ? ifRegionalMaxima(in) : ifRegionalMinima(in));
            roots.r = maxima ? ifRegionalMaximaAsRoots(in) : ifRegionalMinimaAsRoots(in);
        });
        ASSERT_EQ(bandValues(got.get()), def);
        EXPECT_EQ(got->maxValue, 1);
        EXPECT_EQ(got->type, PX_GREY_INT);
        EXPECT_EQ(got->nbands, 1);
        ASSERT_TRUE(seedsOf(roots.get()) == seedsFromMask(img, def));
    }
}

} // namespace

// ---- ifLabelImage ----------------------------------------------------------

TEST(ConnectedLabelling, EmptyMaskLeavesZeroLabelsAndPrintsOnce)
{
    ImagePtr bin = makeImage(3, 2, {0, 0, -4, 0, 0, 0});
    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, 3, 2));
    std::string out = capturedStdout([&] { ifLabelImage(bin.get(), lab.get()); });
    EXPECT_EQ(out, "in ifLabelImage\n");
    EXPECT_EQ(bandValues(lab.get()), std::vector<int>(6, 0));
    EXPECT_EQ(lab->maxValue, 0);
}

TEST(ConnectedLabelling, DiagonalTouchJoinsAndRasterOrderOfFirstPixelNumbers)
{
    // The large object on the right starts at pixel 3, before the small one
    // at pixel 10; the diagonal step from 3 to 9 joins it into one component.
    ImagePtr bin = makeImage(5, 4, {0, 0, 0, 1, 0,
                                    0, 0, 0, 0, 1,
                                    1, 0, 0, 1, 1,
                                    1, 0, 0, 1, 1});
    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, 5, 4));
    capturedStdout([&] { ifLabelImage(bin.get(), lab.get()); });
    EXPECT_EQ(bandValues(lab.get()), (std::vector<int>{0, 0, 0, 1, 0,
                                                       0, 0, 0, 0, 1,
                                                       2, 0, 0, 1, 1,
                                                       2, 0, 0, 1, 1}));
    EXPECT_EQ(lab->maxValue, 2);
}

TEST(ConnectedLabelling, BranchesMeetingLaterShareTheFirstBranchLabel)
{
    // Two arms that are separate on the first rows and join below, including
    // a join only through an up-right diagonal.
    ImagePtr bin = makeImage(7, 4, {1, 0, 1, 0, 0, 0, 1,
                                    1, 0, 1, 0, 0, 1, 0,
                                    1, 1, 1, 0, 1, 0, 0,
                                    0, 0, 0, 1, 0, 0, 0});
    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, 7, 4));
    capturedStdout([&] { ifLabelImage(bin.get(), lab.get()); });
    std::vector<int> expected(28, 0);
    for (int p = 0; p < 28; ++p)
        if (bin.at(p)) expected[p] = 1;
    EXPECT_EQ(bandValues(lab.get()), expected);
    EXPECT_EQ(lab->maxValue, 1);
}

// The label image is written in full, so stale labels on entry or the mask
// itself as label image give the same result.
void expectLabelsMatchFlood(const Image *bin, const std::string &what)
{
    SCOPED_TRACE(what);
    int count = 0;
    std::vector<int> expected = bfsLabels(bin, &count);
    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, bin->ncols, bin->nrows));
    std::string out = capturedStdout([&] { ifLabelImage(const_cast<Image *>(bin), lab.get()); });
    ASSERT_EQ(out, "in ifLabelImage\n");
    ASSERT_EQ(bandValues(lab.get()), expected);
    ASSERT_EQ(lab->maxValue, count);
    for (int p = 0; p < lab->npixels; ++p) lab.at(p) = 7 - p % 5;
    ImagePtr same(pxCopyImage(const_cast<Image *>(bin)));
    capturedStdout([&] {
        ifLabelImage(const_cast<Image *>(bin), lab.get());
        ifLabelImage(same.get(), same.get());
    });
    ASSERT_EQ(bandValues(lab.get()), expected);
    ASSERT_EQ(bandValues(same.get()), expected);
    ASSERT_EQ(same->maxValue, count);
    // The same objects as bytes, any nonzero value (128 and above included).
    std::vector<unsigned char> bytes(static_cast<size_t>(bin->npixels));
    for (int p = 0; p < bin->npixels; ++p) bytes[p] = bin->bands[0][p] > 0 ? static_cast<unsigned char>(1 + p % 255) : 0;
    ImagePtr fromBytes(pxCreateImage(1, PX_GREY_INT, bin->ncols, bin->nrows));
    ASSERT_EQ(capturedStdout([&] { ifLabelBytes(bytes.data(), fromBytes.get()); }), "in ifLabelImage\n");
    ASSERT_EQ(bandValues(fromBytes.get()), expected);
    ASSERT_EQ(fromBytes->maxValue, count);
}

TEST(ConnectedLabelling, MatchesBreadthFirstFloodOnRandomAndRealMasks)
{
    std::mt19937 rng(7);
    // Widths around the 64-pixel words in which rows are scanned, single rows
    // and single columns included.
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {5, 7}, {31, 17}, {64, 48},
                            {63, 5}, {65, 6}, {128, 3}, {131, 9}, {200, 1}, {1, 200}};
    for (auto &s : sizes) {
        const std::string size = std::to_string(s[0]) + "x" + std::to_string(s[1]);
        for (int density : {20, 45, 60, 85}) {
            ImagePtr bin(pxCreateImage(1, PX_GREY_INT, s[0], s[1]));
            std::uniform_int_distribution<int> d(0, 99);
            for (int p = 0; p < bin->npixels; ++p) bin.at(p) = d(rng) < density ? 1 + d(rng) % 3 : -(d(rng) % 2);
            expectLabelsMatchFlood(bin.get(), size + " density " + std::to_string(density));
        }
        // Long runs: object where a plateau image is odd, with INT_MIN and
        // INT_MAX among the values.
        for (int maxRun : {3, 40, 150}) {
            ImagePtr bin = plateauImage(rng, s[0], s[1], 5, maxRun);
            for (int p = 0; p < bin->npixels; ++p) {
                const int v = bin.at(p);
                bin.at(p) = v == 4 ? INT_MIN : v == 3 ? INT_MAX : (v % 2 ? v : -v);
            }
            expectLabelsMatchFlood(bin.get(), size + " runs " + std::to_string(maxRun));
        }
    }
    for (auto &[name, img] : dataImages())
        for (int level : {1, 60, 128, 129, 200}) {
            ImagePtr bin(pxThreshold(img.get(), PX_GREY8, level, 255));
            expectLabelsMatchFlood(bin.get(), name + " level " + std::to_string(level));
        }
}

// ---- ifConnectedComponents ---------------------------------------------------

TEST(ConnectedLabelling, SeededFlatZonesAreMarkedOnceAndNothingElseChanges)
{
    // Two zones of value 5 that do not touch, a zone of 2 between them.
    ImagePtr img = makeImage(5, 3, {5, 5, 2, 5, 5,
                                    5, 2, 2, 2, 5,
                                    2, 2, 2, 2, 5});
    ImagePtr out = makeImage(5, 3, {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}, PX_GREY_INT, 9);
    SeedSet seeds({0, 1, 14}, {1, 1, 2}, {0, 0, 0});
    ifConnectedComponents(img.get(), out.get(), seeds.get());
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{255, 255, 7, 255, 255,
                                                       255, 7, 7, 7, 255,
                                                       7, 7, 7, 7, 255}));
    EXPECT_EQ(out->maxValue, 9);
}

TEST(ConnectedLabelling, ConnectedComponentsToleratesNegativeValuesAndForeignSeeds)
{
    ImagePtr img = makeImage(3, 3, {-5, -5, 3,
                                    1, -5, 3,
                                    -5, 1, 1}, PX_GREY_INT, 3);
    ImagePtr out(pxCreateImage(1, PX_GREY_INT, 3, 3));
    SeedSet seeds({4, 4, -1, 9, 7}, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0});
    ifConnectedComponents(img.get(), out.get(), seeds.get());
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{255, 255, 0,
                                                       255, 255, 0,
                                                       255, 255, 255}));
}

// Seeded flat zones and renumbered labels against their plain versions on
// random plateau images, seeds outside the image and listed twice included.
TEST(ConnectedLabelling, SeededZonesAndRenumberingMatchPlainVersions)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 30; ++round) {
        const int ncols = 1 + round % 70, nrows = 1 + round % 6;
        ImagePtr img = plateauImage(rng, ncols, nrows, 4, 1 + round % 40);
        SeedSet seeds;
        ifReleaseRoots(seeds.get());
        ifAllocateRoots(seeds.get(), round % 5);
        for (int i = 0; i < seeds.r.count; ++i) seeds.r.pixel[i] = std::uniform_int_distribution<int>(-1, ncols * nrows)(rng);
        ImagePtr got = makeImage(ncols, nrows, {}, PX_GREY_INT, 3), want = makeImage(ncols, nrows, {}, PX_GREY_INT, 3);
        ifConnectedComponents(img.get(), got.get(), seeds.get());
        plainConnectedComponents(img.get(), want.get(), seeds.get());
        ASSERT_EQ(bandValues(got.get()), bandValues(want.get())) << round;
        int count = 0;
        const std::vector<int> renumbered = plainCorrectLabels(img.get(), &count);
        ifCorrectLabels(img.get());
        ASSERT_EQ(bandValues(img.get()), renumbered) << round;
        ASSERT_EQ(img->maxValue, count) << round;
    }
}

// ---- Regional extrema ---------------------------------------------------------

TEST(RegionalExtrema, ConstantImagesAreOneMinimumAndOneMaximumAtEveryLevel)
{
    // Includes the 8-bit levels where a raised or lowered copy would clamp,
    // and the ends of the int range.
    const int cases[][2] = {{PX_GREY8, 0},      {PX_GREY8, 1},      {PX_GREY8, 77},     {PX_GREY8, 255},
                            {PX_GREY_INT, 0},   {PX_GREY_INT, 255}, {PX_GREY_INT, -3},
                            {PX_GREY_INT, INT_MIN}, {PX_GREY_INT, INT_MAX}};
    for (auto [type, level] : cases) {
        ImagePtr img(pxCreateImage(1, type, 4, 3));
        for (int p = 0; p < 12; ++p) img.at(p) = level;
        img->maxValue = level;
        for (bool maxima : {false, true}) {
            RootsPtr roots;
            ImagePtr reg;
            capturedStdout([&] {
                reg = ImagePtr(maxima ? ifRegionalMaxima(img.get()) : ifRegionalMinima(img.get()));
                roots.r = maxima ? ifRegionalMaximaAsRoots(img.get()) : ifRegionalMinimaAsRoots(img.get());
            });
            SCOPED_TRACE(std::to_string(type) + " level " + std::to_string(level) + (maxima ? " max" : " min"));
            EXPECT_EQ(bandValues(reg.get()), std::vector<int>(12, 1));
            ASSERT_EQ(roots->count, 12);
            for (int i = 0; i < 12; ++i) {
                EXPECT_EQ(roots->pixel[i], i);
                EXPECT_EQ(roots->label[i], 1);
                EXPECT_EQ(roots->cost[i], level);
            }
        }
    }
}

TEST(RegionalExtrema, PlateauTouchingALowerPixelIsNoMinimum)
{
    // Every pixel of the 3-plateau is a candidate, but its corner touches the
    // 1, so the 1 is the only minimum (the 2 beside it is not one either).
    ImagePtr img = makeImage(5, 4, {3, 3, 3, 3, 5,
                                    3, 3, 3, 3, 5,
                                    3, 3, 3, 5, 5,
                                    5, 5, 5, 1, 2});
    ImagePtr reg;
    RootsPtr roots;
    std::string out = capturedStdout([&] {
        reg = ImagePtr(ifRegionalMinima(img.get()));
        roots.r = ifRegionalMinimaAsRoots(img.get());
    });
    EXPECT_EQ(out, "in ifLabelImage\nin ifLabelImage\nin ifLabelImage\n");
    EXPECT_EQ(bandValues(reg.get()), (std::vector<int>{0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0,
                                                       0, 0, 0, 1, 0}));
    ASSERT_EQ(roots->count, 1);
    EXPECT_EQ(roots->pixel[0], 18);
    EXPECT_EQ(roots->label[0], 1);
    EXPECT_EQ(roots->cost[0], 1);
}

TEST(RegionalExtrema, PlateauMaximaGiveOneLabelPerExtremumInRasterOrder)
{
    ImagePtr img = makeImage(6, 3, {1, 4, 4, 0, 0, 6,
                                    1, 1, 4, 0, 0, 0,
                                    9, 1, 1, 0, 2, 0}, PX_GREY8);
    RootsPtr roots;
    std::string out = capturedStdout([&] { roots.r = ifRegionalMaximaAsRoots(img.get()); });
    EXPECT_EQ(out, "in ifLabelImage\nin ifLabelImage\n");
    EXPECT_EQ(seedsOf(roots.get()).pixel, (std::vector<int>{1, 2, 5, 8, 12, 16}));
    EXPECT_EQ(seedsOf(roots.get()).label, (std::vector<int>{1, 1, 2, 1, 3, 4}));
    EXPECT_EQ(seedsOf(roots.get()).cost, (std::vector<int>{4, 4, 6, 4, 9, 2}));
}

TEST(RegionalExtrema, MatchDefinitionAndIftProcedureOnRandomPlateaus)
{
    std::mt19937 rng(11);
    const int sizes[][2] = {{1, 1}, {1, 12}, {12, 1}, {2, 2}, {3, 5}, {8, 8}, {17, 9}, {40, 33}, {150, 3}, {3, 150}};
    for (auto &s : sizes)
        for (int levels : {1, 2, 3, 6})
            for (int rep = 0; rep < 3; ++rep) {
                ImagePtr img = randomImage(rng, s[0], s[1], levels);
                SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + " levels " + std::to_string(levels));
                expectExtremaMatch(img.get());
            }
    // Plateaus spanning rows and run ends anywhere in a 64-pixel word; 16-bit
    // images, and integer images reaching both ends of the int range (only the
    // definition can follow those).
    const int wide[][2] = {{64, 6}, {65, 5}, {130, 9}, {200, 1}, {1, 200}};
    for (auto &s : wide)
        for (int maxRun : {2, 9, 70}) {
            SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + " runs " + std::to_string(maxRun));
            ImagePtr img = plateauImage(rng, s[0], s[1], 4, maxRun);
            expectExtremaMatch(img.get());
            ImagePtr deep = plateauImage(rng, s[0], s[1], 3, maxRun, PX_GREY16);
            for (int p = 0; p < deep->npixels; ++p) deep.at(p) *= 32767;
            deep->maxValue = 65534;
            expectExtremaMatch(deep.get());
            ImagePtr wideRange = plateauImage(rng, s[0], s[1], 3, maxRun);
            for (int p = 0; p < wideRange->npixels; ++p)
                wideRange.at(p) = wideRange.at(p) == 0 ? INT_MIN : wideRange.at(p) == 1 ? -1 : INT_MAX;
            wideRange->maxValue = INT_MAX;
            expectExtremaMatch(wideRange.get(), false);
        }
    // 8-bit images touching both ends of the range.
    for (int rep = 0; rep < 4; ++rep) {
        ImagePtr img = randomImage(rng, 23, 19, 2, PX_GREY8);
        for (int p = 0; p < img->npixels; ++p) img.at(p) *= 255;
        img->maxValue = 255;
        expectExtremaMatch(img.get());
    }
}

TEST(RegionalExtrema, NegativeValuesFollowTheDefinition)
{
    std::mt19937 rng(5);
    ImagePtr img = randomImage(rng, 13, 11, 4);
    for (int p = 0; p < img->npixels; ++p) img.at(p) -= 2;
    img->maxValue = 0;  // stale, as the field may be
    expectExtremaMatch(img.get(), false);
}

TEST(RegionalExtrema, MatchDefinitionAndIftProcedureOnRealImages)
{
    for (auto &[name, img] : dataImages()) {
        SCOPED_TRACE(name);
        expectExtremaMatch(img.get());
    }
}

// ---- Label utilities ------------------------------------------------------------

TEST(LabelMaps, LabelDifferencesFoldAroundTheContourRange)
{
    // One closed contour of positions 0 .. 7 around a centre of label 0.
    ImagePtr values = makeImage(3, 3, {0, 1, 2,
                                       7, 9, 3,
                                       6, 5, 4});
    ImagePtr labels = makeImage(3, 3, {1, 1, 1,
                                       1, 0, 1,
                                       1, 1, 1});
    ImagePtr out(pxCreateImage(1, PX_GREY_INT, 3, 3));
    ifLabelDifferences(values.get(), labels.get(), out.get(), 0);
    // Position 7 sees position 0 as -7 (no fold without absolute); the centre
    // touches a higher label and gets top + 1.
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{1, 1, 1,
                                                       -1, 2, 1,
                                                       1, 1, 1}));
    EXPECT_EQ(out->maxValue, 2);
    ifLabelDifferences(values.get(), labels.get(), out.get(), 1);
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{1, 1, 1,
                                                       1, 2, 1,
                                                       1, 1, 1}));
}

TEST(LabelMaps, LabelDifferencesOfLoneAndStaleLabels)
{
    // Pixel 0 touches a higher label only, pixel 1 a lower label only.
    ImagePtr values = makeImage(2, 1, {4, 8});
    ImagePtr labels = makeImage(2, 1, {1, 2});
    ImagePtr out(pxCreateImage(1, PX_GREY_INT, 2, 1));
    ifLabelDifferences(values.get(), labels.get(), out.get(), 1);
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{-99999, -100000}));
    EXPECT_EQ(out->maxValue, -99999);

    // A stale maxValue and labels outside 1 .. maxValue give what the
    // in-range labels give.
    ImagePtr v = makeImage(4, 2, {0, 1, 5, 6, 3, 2, 7, 8});
    ImagePtr inRange = makeImage(4, 2, {1, 1, 2, 2, 1, 1, 3, 3});
    ImagePtr shifted = makeImage(4, 2, {-4, -4, 0, 0, -4, -4, 9000, 9000}, PX_GREY_INT, 0);
    ImagePtr a(pxCreateImage(1, PX_GREY_INT, 4, 2)), b(pxCreateImage(1, PX_GREY_INT, 4, 2));
    ifLabelDifferences(v.get(), inRange.get(), a.get(), 0);
    ifLabelDifferences(v.get(), shifted.get(), b.get(), 0);
    EXPECT_EQ(bandValues(a.get()), bandValues(b.get()));
    EXPECT_EQ(a->maxValue, b->maxValue);
}

TEST(LabelMaps, CorrectLabelsRenumbersByFirstAppearanceWhateverTheRange)
{
    ImagePtr labels = makeImage(5, 1, {5, 5, 2, 7, 2}, PX_GREY_INT, 7);
    ifCorrectLabels(labels.get());
    EXPECT_EQ(bandValues(labels.get()), (std::vector<int>{1, 1, 2, 3, 2}));
    EXPECT_EQ(labels->maxValue, 3);

    ImagePtr stale = makeImage(5, 1, {5, 0, 2, 7, 0}, PX_GREY_INT, 0);
    ifCorrectLabels(stale.get());
    EXPECT_EQ(bandValues(stale.get()), (std::vector<int>{1, 2, 3, 4, 2}));
    EXPECT_EQ(stale->maxValue, 4);

    ImagePtr wide = makeImage(4, 1, {INT_MAX, -3, INT_MIN, -3}, PX_GREY_INT, 0);
    ifCorrectLabels(wide.get());
    EXPECT_EQ(bandValues(wide.get()), (std::vector<int>{1, 2, 3, 2}));
    EXPECT_EQ(wide->maxValue, 3);
}

TEST(LabelMaps, RegionsToContoursMarksOnlySidesFacingBackgroundInside)
{
    // A rectangle in the top-left corner: its top and left sides lie on the
    // image border and are not contour.
    ImagePtr bin = makeImage(5, 4, {9, 9, 9, 0, 0,
                                    9, 9, 9, 0, 0,
                                    9, 9, 9, 0, -1,
                                    0, 0, 0, 0, 0});
    ImagePtr out = makeImage(5, 4, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3});
    ifRegionsToContours(bin.get(), out.get());
    EXPECT_EQ(bandValues(out.get()), (std::vector<int>{3, 3, 255, 3, 3,
                                                       3, 3, 255, 3, 3,
                                                       255, 255, 255, 3, 3,
                                                       3, 3, 3, 3, 3}));
    EXPECT_EQ(out->maxValue, 255);
}

// ---- Threads -----------------------------------------------------------------

// Stripes labelled apart and joined at their borders give the one-thread
// labels, extrema and seeds, on images large enough for several stripes:
// one row, one column, fewer rows than threads, and blocks whose components
// and flat zones cross many stripe borders (sparse, dense and plateau-heavy
// values, and INT_MIN / INT_MAX plateaus).
TEST(ConnectedLabelling, ThreadsGiveTheOneThreadResult)
{
    std::mt19937 rng(7);
    const int shapes[][2] = {{240000, 1}, {1, 240000}, {80000, 3}, {600, 400}};
    for (auto [ncols, nrows] : shapes)
        for (int kind = 0; kind < 4; ++kind) {
            ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
            for (int p = 0; p < img->npixels; ++p) {
                const unsigned r = rng();
                img.at(p) = kind == 0   ? (r % 100 < 3)
                            : kind == 1 ? (r % 100 < 60)
                            : kind == 2 ? static_cast<int>(r % 3)
                                        : (r % 4 == 0 ? INT_MIN : r % 4 == 1 ? INT_MAX : static_cast<int>(r % 2));
            }
            auto run = [&](int threads) {
                ScopedThreads scoped(threads);
                std::vector<std::vector<int>> images;
                std::vector<SeedList> seeds;
                capturedStdout([&] {
                    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
                    ifLabelImage(img.get(), lab.get());
                    images.push_back(bandValues(lab.get()));
                    images.push_back({lab->maxValue});
                    for (bool maxima : {false, true}) {
                        ImagePtr reg(maxima ? ifRegionalMaxima(img.get()) : ifRegionalMinima(img.get()));
                        images.push_back(bandValues(reg.get()));
                        RootsPtr roots(maxima ? ifRegionalMaximaAsRoots(img.get()) : ifRegionalMinimaAsRoots(img.get()));
                        seeds.push_back(seedsOf(roots.get()));
                    }
                });
                return std::make_pair(images, seeds);
            };
            const auto one = run(1);
            for (int threads : threadCountsToCompare()) {
                SCOPED_TRACE(std::to_string(ncols) + " x " + std::to_string(nrows) + ", kind " +
                             std::to_string(kind) + ", threads " + std::to_string(threads));
                const auto many = run(threads);
                EXPECT_TRUE(many.first == one.first);
                EXPECT_TRUE(many.second == one.second);
            }
        }
}
