#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reference/skeleton.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

template <class F>
std::string capturedStderr(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

template <class F>
std::string capturedStdout(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// ifSkel2Roots's seeds and cleaned object.
Seeds librarySeeds(Image *bin, std::vector<int> *object = nullptr)
{
    ContourRoots r{};
    Image *f = ifSkel2Roots(bin, &r);
    Seeds s{{r.pixel, r.pixel + r.count}, {r.position, r.position + r.count}, {r.contour, r.contour + r.count}};
    for (int i = 0; i < bin->npixels; ++i) EXPECT_EQ(r.spare[i], 0);
    if (object) *object = bandValues(f);
    ifReleaseRoots2(&r);
    pxReleaseImage(&f);
    return s;
}

ImagePtr randomBlobs(std::mt19937 &rng, int ncols, int nrows)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows));
    const int discs = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < discs; ++i) {
        const int cx = static_cast<int>(rng() % ncols), cy = static_cast<int>(rng() % nrows);
        const int r2 = 2 + static_cast<int>(rng() % 20);
        for (int p = 0; p < img->npixels; ++p) {
            const int dx = p % ncols - cx, dy = p / ncols - cy;
            if (dx * dx + dy * dy <= r2) img.at(p) = 255;
        }
    }
    // A few holes and specks.
    for (int i = 0; i < 4; ++i) img.at(static_cast<int>(rng() % img->npixels)) ^= 255;
    img->maxValue = 255;
    return img;
}

ImagePtr rectangle(int ncols, int nrows, int x0, int y0, int x1, int y1, int bands = 1)
{
    ImagePtr img(pxCreateImage(bands, PX_GREY8, ncols, nrows));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) img.at(y * ncols + x) = 255;
    img->maxValue = 255;
    return img;
}

ImagePtr readData(const char *name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

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

struct SkelResult {
    int value = 0;
    std::vector<int> image;
    bool null = true;
    std::string err;
};

SkelResult runSkel(Image *bin, int type, int threshold)
{
    SkelResult r;
    Image *out = nullptr;
    r.err = capturedStderr([&] { r.value = ifSkel(bin, type, threshold, &out); });
    if (out) {
        r.null = false;
        r.image = bandValues(out);
        EXPECT_EQ(out->nbands, 1);
        EXPECT_EQ(out->type, PX_GREY_INT);
        pxReleaseImage(&out);
    }
    return r;
}

} // namespace

TEST(Skeleton, RectangleContourStartsTopLeftAndGoesDownTheLeftSide)
{
    ImagePtr bin = rectangle(8, 7, 1, 1, 5, 4);
    const Seeds s = librarySeeds(bin.get());
    auto px = [](int x, int y) { return y * 8 + x; };
    EXPECT_EQ(s.pixel, (std::vector<int>{px(1, 1), px(1, 2), px(1, 3), px(1, 4), px(2, 4), px(3, 4), px(4, 4), px(5, 4),
                                         px(5, 3), px(5, 2), px(5, 1), px(4, 1), px(3, 1), px(2, 1)}));
    EXPECT_EQ(s.contour, std::vector<int>(14, 1));
    for (int i = 0; i < 14; ++i) EXPECT_EQ(s.position[i], i + 1);

    // Against the image border: only pixels with a background 4-neighbour
    // inside the image are contour pixels.
    ImagePtr edge = rectangle(6, 5, 0, 0, 2, 4);
    for (int p : librarySeeds(edge.get()).pixel) EXPECT_EQ(p % 6, 2) << p;
}

TEST(Skeleton, ContourFollowingMatchesTheRecursiveVersion)
{
    std::mt19937 rng(17);
    for (int trial = 0; trial < 200; ++trial) {
        ImagePtr bin = randomBlobs(rng, 4 + static_cast<int>(rng() % 20), 4 + static_cast<int>(rng() % 20));
        RecursiveContours ref(bin.get());
        std::vector<int> object;
        ASSERT_EQ(librarySeeds(bin.get(), &object), ref.seeds) << trial;
        ASSERT_EQ(object, ref.f) << trial;
    }
    ImagePtr horse = readData("horse.pgm");
    RecursiveContours ref(horse.get());
    EXPECT_EQ(librarySeeds(horse.get()), ref.seeds);
}

namespace {

// A serpentine of three-pixel bars joined alternately at their ends: one
// contour of about twice the bars' total length.
ImagePtr serpentine(int ncols, int bars)
{
    const int nrows = 5 * bars + 1;
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows));
    for (int b = 0; b < bars; ++b) {
        for (int y = 5 * b + 1; y <= 5 * b + 3; ++y)
            for (int x = 1; x < ncols - 1; ++x) img.at(y * ncols + x) = 255;
        if (b + 1 < bars) {
            const int x0 = b % 2 ? 1 : ncols - 4;
            for (int y = 5 * b + 4; y <= 5 * b + 5; ++y)
                for (int x = x0; x < x0 + 3; ++x) img.at(y * ncols + x) = 255;
        }
    }
    img->maxValue = 255;
    return img;
}

struct FollowJob {
    Image *bin;
    Seeds seeds;
};

void *followOnSmallStack(void *arg)
{
    auto *job = static_cast<FollowJob *>(arg);
    ContourRoots r{};
    Image *f = ifSkel2Roots(job->bin, &r);
    job->seeds = {{r.pixel, r.pixel + r.count}, {r.position, r.position + r.count}, {r.contour, r.contour + r.count}};
    ifReleaseRoots2(&r);
    pxReleaseImage(&f);
    return nullptr;
}

} // namespace

TEST(Skeleton, LongContourIsFollowedOnASmallStack)
{
    ImagePtr bin = serpentine(300, 30);
    FollowJob job{bin.get(), {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, followOnSmallStack, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    const Seeds &s = job.seeds;
    ASSERT_GT(s.pixel.size(), 15000u);
    EXPECT_EQ(s.contour, std::vector<int>(s.pixel.size(), 1));
    // One closed walk: every step to an 8-neighbour, ending next to the start.
    for (std::size_t i = 0; i < s.pixel.size(); ++i) {
        const int a = s.pixel[i], b = s.pixel[(i + 1) % s.pixel.size()];
        EXPECT_LE(std::abs(a % 300 - b % 300), 1) << i;
        EXPECT_LE(std::abs(a / 300 - b / 300), 1) << i;
        EXPECT_EQ(s.position[i], static_cast<int>(i) + 1);
    }
}

TEST(Skeleton, SplitSeedsAreNumberedFromTheMiddleRowBothWays)
{
    ImagePtr bin = rectangle(8, 7, 1, 1, 5, 5);
    Roots r{};
    EXPECT_EQ(capturedStdout([&] { ifSkel2RootsSplit(bin.get(), &r); }), "in ifLabelImage\n");
    ASSERT_EQ(r.count, 16);
    std::vector<int> labelAt(56, 0);
    for (int i = 0; i < r.count; ++i) {
        if (i) {
            EXPECT_LT(r.pixel[i - 1], r.pixel[i]);
        }
        EXPECT_EQ(r.cost[i], 0);
        labelAt[r.pixel[i]] = r.label[i];
    }
    // Middle row 3, first pixel (1, 3); its neighbours along the contour
    // come next, clockwise from the right: below (1, 4), then above (1, 2).
    EXPECT_EQ(labelAt[3 * 8 + 1], 1);
    EXPECT_EQ(labelAt[4 * 8 + 1], 2);
    EXPECT_EQ(labelAt[2 * 8 + 1], 3);
    std::vector<int> sorted(r.label, r.label + r.count);
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < r.count; ++i) EXPECT_EQ(sorted[i], i + 1);
    ifReleaseRoots(&r);
}

TEST(Skeleton, LabelDifferencesFoldFromEachLabelsTrueMinimum)
{
    // Positions along one closed contour, far above 99999: shifting them all
    // changes no difference.
    ImagePtr labels = makeImage(3, 3, {1, 1, 1, 1, 2, 1, 1, 1, 1});
    ImagePtr low = makeImage(3, 3, {1, 2, 3, 8, 0, 4, 7, 6, 5});
    ImagePtr high = makeImage(3, 3, {200001, 200002, 200003, 200008, 0, 200004, 200007, 200006, 200005});
    ImagePtr a(pxCreateImage(1, PX_GREY_INT, 3, 3)), b(pxCreateImage(1, PX_GREY_INT, 3, 3));
    ifLabelDifferences(low.get(), labels.get(), a.get(), 0);
    ifLabelDifferences(high.get(), labels.get(), b.get(), 0);
    EXPECT_EQ(bandValues(a.get()), bandValues(b.get()));
    EXPECT_EQ(a->maxValue, b->maxValue);
    EXPECT_EQ(a.at(0), 1) << "1 next to 8 on a contour of range 7 folds to 0, next to 2 gives 1";
}

TEST(Skeleton, SkeletonTypesSplitOneMapAndThresholdsClampToTheLargestDifference)
{
    ImagePtr horse = readData("horse.pgm");
    const SkelResult all = runSkel(horse.get(), 0, 40), in = runSkel(horse.get(), 1, 40), out = runSkel(horse.get(), 2, 40);
    ASSERT_FALSE(all.null);
    EXPECT_GT(all.value, 40);
    EXPECT_EQ(in.value, all.value);
    int inside = 0;
    for (int p = 0; p < horse->npixels; ++p) {
        EXPECT_EQ(all.image[p], in.image[p] + out.image[p]) << p;
        if (in.image[p]) {
            EXPECT_GT(horse.at(p), 0) << p;
        }
        if (out.image[p]) {
            EXPECT_EQ(horse.at(p), 0) << p;
        }
        inside += in.image[p] > 0;
    }
    EXPECT_GT(inside, 50);

    // A threshold above the largest difference keeps only the pixels that carry it.
    const SkelResult top = runSkel(horse.get(), 0, all.value), above = runSkel(horse.get(), 0, INT_MAX);
    EXPECT_EQ(above.image, top.image);
    EXPECT_NE(top.image, all.image);

    // An unknown type prints its message and hands out nothing.
    const SkelResult bad = runSkel(horse.get(), 3, 40);
    EXPECT_TRUE(bad.null);
    EXPECT_EQ(bad.err, "invalid skelType: 3\n");
    EXPECT_EQ(bad.value, all.value);

    // More bands give the same skeleton as band 0 alone.
    ImagePtr twoBands(pxCreateImage(2, PX_GREY8, horse->ncols, horse->nrows));
    for (int p = 0; p < horse->npixels; ++p) {
        twoBands.at(p, 0) = horse.at(p);
        twoBands.at(p, 1) = p % 7;
    }
    EXPECT_EQ(runSkel(twoBands.get(), 1, 40).image, in.image);
}

TEST(Skeleton, NoContourGivesAnEmptySkeleton)
{
    ImagePtr empty(pxCreateImage(1, PX_GREY8, 6, 5));
    ImagePtr full = rectangle(6, 5, 0, 0, 5, 4);
    ImagePtr line = rectangle(6, 5, 1, 2, 4, 2);  // no interior: the cleaning removes it
    for (Image *bin : {empty.get(), full.get(), line.get()}) {
        for (int type : {0, 1, 2}) {
            Image *out = nullptr;
            EXPECT_EQ(ifSkel(bin, type, 5, &out), 0);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(out->nbands, 1);
            EXPECT_EQ(out->type, PX_GREY_INT);
            EXPECT_EQ(out->maxValue, 0);
            EXPECT_EQ(bandValues(out), std::vector<int>(30, 0));
            pxReleaseImage(&out);
        }
        EXPECT_TRUE(runSkel(bin, 7, 5).null);

        InTempDir here;
        float *hist = reinterpret_cast<float *>(&here);
        int bins = -1;
        EXPECT_EQ(capturedStderr([&] { ifHistogramBySkel(bin, 50, &hist, &bins); }), "");
        EXPECT_EQ(hist, nullptr);
        EXPECT_EQ(bins, 0);
        EXPECT_FALSE(fileExists("skel.pgm"));
        EXPECT_FALSE(fileExists("edt.pgm"));
    }
}

TEST(Skeleton, DistanceHistogramSumsToOne)
{
    ImagePtr horse = readData("horse.pgm");
    InTempDir here;
    float *hist = nullptr;
    int bins = 0;
    const std::string err = capturedStderr([&] { ifHistogramBySkel(horse.get(), 30, &hist, &bins); });
    EXPECT_EQ(err.rfind("thresh = ", 0), 0u) << err;
    ASSERT_NE(hist, nullptr);
    ASSERT_GT(bins, 1);
    double sum = 0;
    for (int i = 0; i < bins; ++i) sum += hist[i];
    EXPECT_NEAR(sum, 1.0, 1e-5);
    std::free(hist);
    EXPECT_EQ(readFile("skel.pgm").rfind("P2", 0), 0u);
    EXPECT_EQ(readFile("edt.pgm").rfind("P2", 0), 0u);
}
