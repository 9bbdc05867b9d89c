// Seed generators: contour-border seeds and cell seeds.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

template <class F>
std::string capturedStdout(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// Fills a caller-owned record through ifDistTransfRoots; returns the seeds and
// the standard output.
SeedList distTransfSeeds(Image *bin, int mode, std::string *out = nullptr)
{
    Roots r{};
    std::string printed = capturedStdout([&] { ifDistTransfRoots(bin, &r, mode); });
    if (out) *out = printed;
    SeedList s = seedsOf(&r);
    ifReleaseRoots(&r);
    return s;
}

ImagePtr centreSquare5x5()
{
    return makeImage(5, 5, {0, 0, 0, 0, 0,
                            0, 1, 1, 1, 0,
                            0, 1, 1, 1, 0,
                            0, 1, 1, 1, 0,
                            0, 0, 0, 0, 0});
}

// Runs f inside a fresh temporary folder (the cell seeds write "labeled.pgm"
// into the working directory).
struct InTempDir {
    TempDir dir;
    std::string previous;
    InTempDir()
    {
        char buf[4096];
        if (!::getcwd(buf, sizeof buf)) std::abort();
        previous = buf;
        if (::chdir(dir.path.c_str()) != 0) std::abort();
    }
    ~InTempDir()
    {
        if (::chdir(previous.c_str()) != 0) std::abort();
    }
};

const int DX8[8] = {1, 0, 0, -1, 1, -1, 1, -1};
const int DY8[8] = {0, 1, -1, 0, 1, 1, -1, -1};

// The cell seeds built step by step from the library's filter and IFT, with
// the regional maxima taken from their definition (flood of every flat zone).
SeedList referenceCellSeeds(Image *img, int size)
{
    const int n = img->npixels, ncols = img->ncols, nrows = img->nrows;
    auto neighbours = [&](int p, auto f) {
        int x = p % ncols, y = p / ncols;
        for (int j = 0; j < 8; ++j) {
            int nx = x + DX8[j], ny = y + DY8[j];
            if (nx >= 0 && nx < ncols && ny >= 0 && ny < nrows) f(ny * ncols + nx);
        }
    };
    ImagePtr smooth(pxCreateImage(img->nbands, PX_GREY_INT, ncols, nrows));
    pxMorphAsfOC(img, smooth.get(), size);
    const int *s = smooth->bands[0];
    // Maxima by flood, labelled in raster order of their first pixel.
    std::vector<int> zoneLabel(n, -1), seed(n, 0);
    int count = 0;
    for (int p = 0; p < n; ++p) {
        if (zoneLabel[p] >= 0) continue;
        std::vector<int> members{p};
        zoneLabel[p] = 0;
        bool beaten = false;
        for (std::size_t i = 0; i < members.size(); ++i)
            neighbours(members[i], [&](int q) {
                if (s[q] == s[p] && zoneLabel[q] < 0) {
                    zoneLabel[q] = 0;
                    members.push_back(q);
                } else if (s[q] > s[p]) {
                    beaten = true;
                }
            });
        if (!beaten) {
            ++count;
            for (int q : members) seed[q] = count;
        }
    }
    // Watershed of 255 - v (8-bit) or max - v from the maxima.
    int top = 0;
    for (int p = 0; p < n; ++p) top = std::max(top, img->bands[0][p]);
    const int ceiling = img->type == PX_GREY8 ? 255 : std::max(top, img->maxValue);
    int lo = INT_MAX;
    std::vector<int> neg(n);
    for (int p = 0; p < n; ++p) lo = std::min(lo, neg[p] = ceiling - img->bands[0][p]);
    lo = std::min(lo, 0);
    ImagePtr negImg(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
    int hi = 0;
    for (int p = 0; p < n; ++p) hi = std::max(hi, negImg.at(p) = neg[p] - lo);
    std::vector<int> pix, lab;
    for (int p = 0; p < n; ++p)
        if (seed[p]) {
            pix.push_back(p);
            lab.push_back(seed[p]);
        }
    SeedSet roots;
    ifReleaseRoots(roots.get());
    ifAllocateRoots(roots.get(), static_cast<int>(pix.size()));
    for (std::size_t i = 0; i < pix.size(); ++i) {
        roots.r.pixel[i] = pix[i];
        roots.r.label[i] = lab[i];
        roots.r.cost[i] = negImg.at(pix[i]);
    }
    ImagePtr work(pxCreateImage(4, PX_WORK, ncols, nrows));
    iftNonNormalized(negImg.get(), work.get(), pxNeighborhood8, ifWatershedMetric, std::max(hi, ceiling - lo),
                     ifPathCostMax, roots.get());
    SeedList out;
    for (int p = 0; p < n; ++p) {
        bool edge = false;
        neighbours(p, [&](int q) { edge = edge || work.at(p, 1) < work.at(q, 1); });
        int v = edge ? 1 : (seed[p] ? 2 : 0);
        if (v) {
            out.pixel.push_back(p);
            out.label.push_back(v);
            out.cost.push_back(0);
        }
    }
    return out;
}

} // namespace

// ---- labelContours and ifDistTransfRoots ---------------------------------------

TEST(SeedGenerators, ContourTracingNumbersTheSquareBorderAndSkipsItsCentre)
{
    ImagePtr bin = centreSquare5x5();
    std::string out;
    SeedList s = distTransfSeeds(bin.get(), 1, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(s.pixel, (std::vector<int>{6, 7, 8, 11, 13, 16, 17, 18}));
    EXPECT_EQ(s.label, (std::vector<int>{1, 2, 4, 3, 6, 5, 7, 10}));
    EXPECT_EQ(s.cost, std::vector<int>(8, 0));

    // The border image the generator traces, traced directly.
    ImagePtr border = makeImage(5, 5, {0, 0, 0, 0, 0,
                                       0, 255, 255, 255, 0,
                                       0, 255, 0, 255, 0,
                                       0, 255, 255, 255, 0,
                                       0, 0, 0, 0, 0});
    ImagePtr labels(pxCreateImage(1, PX_GREY_INT, 5, 5));
    EXPECT_EQ(labelContours(border.get(), labels.get()), 8);
    EXPECT_EQ(labels->maxValue, 10);
}

TEST(SeedGenerators, EachTraversalEndsTwoLabelsPastTheCounter)
{
    ImagePtr single = makeImage(3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    SeedList one = distTransfSeeds(single.get(), 1);
    EXPECT_EQ(one.pixel, (std::vector<int>{4}));
    EXPECT_EQ(one.label, (std::vector<int>{3}));

    ImagePtr two = makeImage(5, 3, {0, 0, 0, 0, 0,
                                    0, 1, 0, 1, 0,
                                    0, 0, 0, 0, 0});
    SeedList s = distTransfSeeds(two.get(), 1);
    EXPECT_EQ(s.pixel, (std::vector<int>{6, 8}));
    EXPECT_EQ(s.label, (std::vector<int>{3, 6}));

    ImagePtr full = makeImage(4, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_TRUE(distTransfSeeds(full.get(), 1).pixel.empty());
    EXPECT_TRUE(distTransfSeeds(full.get(), 0).pixel.empty());
}

TEST(SeedGenerators, DiagonalsAreTakenOnlyWhenNoNew4NeighbourEntered)
{
    // From pixel 0 the right neighbour enters, so its diagonal (pixel 4)
    // waits for pixel 1's downward step and is numbered after pixel 2.
    ImagePtr border = makeImage(3, 2, {1, 1, 1,
                                       0, 1, 0});
    ImagePtr labels(pxCreateImage(1, PX_GREY_INT, 3, 2));
    EXPECT_EQ(labelContours(border.get(), labels.get()), 4);
    EXPECT_EQ(bandValues(labels.get()), (std::vector<int>{1, 2, 3, 0, 6, 0}));
    EXPECT_EQ(labels->maxValue, 6);

    // A diagonal chain is followed through the diagonals.
    ImagePtr chain = makeImage(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    ImagePtr chainLabels(pxCreateImage(1, PX_GREY_INT, 3, 3));
    EXPECT_EQ(labelContours(chain.get(), chainLabels.get()), 3);
    EXPECT_EQ(bandValues(chainLabels.get()), (std::vector<int>{1, 0, 0, 0, 2, 0, 0, 0, 5}));
    EXPECT_EQ(chainLabels->maxValue, 5);
}

TEST(SeedGenerators, ObjectModeLabelsBorderPixelsByComponent)
{
    ImagePtr bin = centreSquare5x5();
    std::string out;
    SeedList s = distTransfSeeds(bin.get(), 0, &out);
    EXPECT_EQ(out, "in ifLabelImage\n");
    EXPECT_EQ(s.pixel, (std::vector<int>{6, 7, 8, 11, 13, 16, 17, 18}));
    EXPECT_EQ(s.label, std::vector<int>(8, 1));

    // Two objects in corners: a corner pixel whose neighbours inside the
    // image are all object is no border pixel; pixel 9 touches background
    // only diagonally, which is enough in this mode.
    ImagePtr two = makeImage(5, 3, {1, 1, 0, 0, 1,
                                    1, 1, 0, 1, 1,
                                    0, 0, 0, 1, 1});
    SeedList t = distTransfSeeds(two.get(), 0);
    EXPECT_EQ(t.pixel, (std::vector<int>{1, 4, 5, 6, 8, 9, 13}));
    EXPECT_EQ(t.label, (std::vector<int>{1, 2, 1, 1, 2, 2, 2}));
}

// ---- ifCellsRoots ------------------------------------------------------------------

TEST(SeedGenerators, CellSeedsOfAConstantImageAreOneCellWithoutBoundary)
{
    InTempDir here;
    ImagePtr img = makeImage(4, 3, {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50}, PX_GREY8, 50);
    RootsPtr roots;
    std::string out = capturedStdout([&] { roots.r = ifCellsRoots(img.get(), 2); });
    EXPECT_EQ(out, "in cells roots\n\nradius is 1\nradius is 2\nin ifLabelImage\nin ifLabelImage\nha 12 sementes\n");
    SeedList s = seedsOf(roots.get());
    std::vector<int> all(12);
    for (int i = 0; i < 12; ++i) all[i] = i;
    EXPECT_EQ(s.pixel, all);
    EXPECT_EQ(s.label, std::vector<int>(12, 2));
    EXPECT_EQ(s.cost, std::vector<int>(12, 0));
    std::string body;
    for (int i = 0; i < 12; ++i) body += "    2 ";
    EXPECT_EQ(readFile("labeled.pgm"), "P2\n4 3\n2\n" + body);
}

TEST(SeedGenerators, CellSeedsOfARealCropMatchTheStepByStepConstruction)
{
    InTempDir here;
    Image *cellImg = nullptr;
    pxReadImage(dataPath("cell.pgm").c_str(), &cellImg);
    ImagePtr cell(cellImg);
    const int cx = 200, cy = 240, w = 48, h = 40;
    ImagePtr crop(pxCreateImage(1, PX_GREY8, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) crop.at(y * w + x) = cell.at((cy + y) * cell->ncols + cx + x);
    crop->maxValue = 255;
    for (int size : {1, 3}) {
        RootsPtr roots;
        capturedStdout([&] { roots.r = ifCellsRoots(crop.get(), size); });
        SeedList got = seedsOf(roots.get());
        SeedList want;
        capturedStdout([&] { want = referenceCellSeeds(crop.get(), size); });
        EXPECT_EQ(got.pixel, want.pixel) << "size " << size;
        EXPECT_EQ(got.label, want.label) << "size " << size;
        EXPECT_EQ(got.cost, want.cost);
        EXPECT_NE(std::find(got.label.begin(), got.label.end(), 1), got.label.end());
        EXPECT_NE(std::find(got.label.begin(), got.label.end(), 2), got.label.end());
        // The file holds the seed image the seeds were taken from.
        Image *saved = nullptr;
        pxReadImage("labeled.pgm", &saved);
        ImagePtr file(saved);
        std::vector<int> expected(w * h, 0);
        for (std::size_t i = 0; i < got.pixel.size(); ++i) expected[got.pixel[i]] = got.label[i];
        EXPECT_EQ(bandValues(file.get()), expected);
    }
}

TEST(SeedGenerators, CellSeedsDoNotDependOnNegativeRangeOrColourBands)
{
    InTempDir here;
    // An 8-bit image with values above 255 has a negative with values below
    // 0; its zones are those of the same values in an integer image.
    ImagePtr hot = makeImage(6, 5, {10, 20, 300, 20, 10, 5,
                                    20, 40, 280, 40, 20, 5,
                                    5, 10, 20, 10, 5, 5,
                                    60, 5, 5, 5, 70, 80,
                                    90, 60, 5, 5, 80, 99}, PX_GREY8, 255);
    ImagePtr same(pxCopyImage(hot.get()));
    same->type = PX_GREY_INT;
    same->maxValue = 300;
    RootsPtr a, b;
    capturedStdout([&] {
        a.r = ifCellsRoots(hot.get(), 1);
        b.r = ifCellsRoots(same.get(), 1);
    });
    EXPECT_EQ(seedsOf(a.get()).pixel, seedsOf(b.get()).pixel);
    EXPECT_EQ(seedsOf(a.get()).label, seedsOf(b.get()).label);

    // A colour image gives the seeds of its band 0.
    ImagePtr colour(pxCreateImage(3, PX_COLOR8, 6, 5));
    ImagePtr grey(pxCreateImage(1, PX_COLOR8, 6, 5));
    for (int p = 0; p < 30; ++p) {
        grey.at(p) = colour.at(p, 0) = (p * 37) % 101;
        colour.at(p, 1) = 255 - p;
        colour.at(p, 2) = p;
    }
    colour->maxValue = grey->maxValue = 255;
    RootsPtr c, g;
    capturedStdout([&] {
        c.r = ifCellsRoots(colour.get(), 1);
        g.r = ifCellsRoots(grey.get(), 1);
    });
    EXPECT_EQ(seedsOf(c.get()).pixel, seedsOf(g.get()).pixel);
    EXPECT_EQ(seedsOf(c.get()).label, seedsOf(g.get()).label);
}
