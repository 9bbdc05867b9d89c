#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "reference/leveling.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

struct Levelled {
    ImagePtr filtered, labels;
    std::string err;
};

Levelled level(Image *img, Image *ref, Roots *seeds)
{
    Levelled out;
    testing::internal::CaptureStderr();
    ifLevel(img, ref, seeds, &out.filtered.img, &out.labels.img);
    out.err = testing::internal::GetCapturedStderr();
    return out;
}

ImagePtr constant(int ncols, int nrows, int value, int maxValue)
{
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
    std::fill(img->bands[0], img->bands[0] + img->npixels, value);
    img->maxValue = maxValue;
    return img;
}

ImagePtr randomImage(std::mt19937 &rng, int ncols, int nrows, int top, int type)
{
    ImagePtr img(pxCreateImage(1, type, ncols, nrows));
    std::uniform_int_distribution<int> value(0, top), coin(0, 2);
    int *v = img->bands[0];
    for (int p = 0; p < img->npixels; ++p) v[p] = value(rng);
    for (int p = 0; p + 1 < img->npixels; ++p)
        if (coin(rng) == 0) v[p + 1] = v[p];
    img->maxValue = type == PX_GREY8 ? 255 : *std::max_element(v, v + img->npixels);
    return img;
}

ImagePtr eroded(Image *img)
{
    ImagePtr out(pxCreateImage(1, img->type, img->ncols, img->nrows));
    pxMorphErode(img, out.get(), 1);
    return out;
}

void expectLevel2MatchesDefinition(Image *img, Image *marker, const std::string &what)
{
    Image *out = nullptr;
    testing::internal::CaptureStdout();
    ifLevel2(img, marker, &out);
    testing::internal::GetCapturedStdout();
    ImagePtr owned(out);
    const std::vector<int> want = levelByDefinition(img, marker);
    EXPECT_EQ(bandValues(out), want) << what;
    EXPECT_EQ(out->type, img->type) << what;
    EXPECT_EQ(out->maxValue, std::max(0, *std::max_element(want.begin(), want.end()))) << what;
}

} // namespace

TEST(Leveling, EmptySeedSetGivesTheReferenceLevelsAndLabelZero)
{
    ImagePtr img = makeImage(3, 2, {5, 6, 7, 8, 9, 10});
    ImagePtr ref = makeImage(3, 2, {1, 2, 3, 4, 5, 6}, PX_GREY8, 255);
    SeedSet none;
    Levelled got = level(img.get(), ref.get(), none.get());
    EXPECT_EQ(bandValues(got.filtered.get()), bandValues(ref.get()));
    EXPECT_EQ(bandValues(got.labels.get()), std::vector<int>(6, 0));
    EXPECT_EQ(got.filtered->type, PX_GREY_INT);
    EXPECT_EQ(got.labels->type, PX_GREY_INT);
}

// A rising region climbs to the input but never above it; a falling one
// goes down to it but never below.
TEST(Leveling, RegionsRiseAndFallToTheInputFromTheirSeeds)
{
    ImagePtr img = constant(4, 3, 50, 255);
    std::vector<int> want(12, 50);
    want[5] = 100;
    SeedSet rising({5}, {2}, {100});
    Levelled up = level(img.get(), constant(4, 3, 10, 255).get(), rising.get());
    EXPECT_EQ(bandValues(up.filtered.get()), want);
    EXPECT_EQ(bandValues(up.labels.get()), std::vector<int>(12, 2));

    want[5] = 0;
    SeedSet falling({5}, {1}, {0});
    Levelled down = level(img.get(), constant(4, 3, 90, 255).get(), falling.get());
    EXPECT_EQ(bandValues(down.filtered.get()), want);
    EXPECT_EQ(bandValues(down.labels.get()), std::vector<int>(12, 1));
    EXPECT_EQ(up.err + down.err, "");
}

// A seed with a label other than 1 or 2 reports itself once for every
// neighbour inside the image that is not done, and changes nothing.
TEST(Leveling, InvalidLabelIsReportedOncePerNeighbour)
{
    ImagePtr img = constant(3, 3, 50, 255);
    ImagePtr ref = makeImage(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}, PX_GREY_INT, 255);
    SeedSet corner({0}, {3}, {40});
    Levelled got = level(img.get(), ref.get(), corner.get());
    EXPECT_EQ(got.err, "pixel 0 has invalid label (3)!\n"
                       "pixel 0 has invalid label (3)!\n"
                       "pixel 0 has invalid label (3)!\n");
    std::vector<int> want = bandValues(ref.get());
    want[0] = 40;
    EXPECT_EQ(bandValues(got.filtered.get()), want);
    EXPECT_EQ(got.labels.at(0), 3);

    SeedSet centre({4}, {0}, {7});
    got = level(img.get(), ref.get(), centre.get());
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += "pixel 4 has invalid label (0)!\n";
    EXPECT_EQ(got.err, eight);

    // Neighbours already done are not offered to: the rising seed takes every
    // other pixel before the bad one (in bucket 250) is served.
    SeedSet both({4, 0}, {0, 2}, {250, 60});
    got = level(img.get(), ref.get(), both.get());
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(bandValues(got.filtered.get()), (std::vector<int>{60, 50, 50, 50, 250, 50, 50, 50, 50}));
}

// A pixel seeded twice waits once, with the later seed's cost and label.
TEST(Leveling, ASeedListedAgainIsMovedAndTheLaterOneWins)
{
    std::mt19937 rng(5);
    ImagePtr img = randomImage(rng, 6, 5, 200, PX_GREY_INT);
    ImagePtr ref = randomImage(rng, 6, 5, 200, PX_GREY_INT);
    ref->maxValue = 255;
    SeedSet twice({7, 20, 7}, {1, 2, 2}, {0, 180, 150});
    SeedSet once({20, 7}, {2, 2}, {180, 150});
    Levelled a = level(img.get(), ref.get(), twice.get());
    Levelled b = level(img.get(), ref.get(), once.get());
    EXPECT_EQ(bandValues(a.filtered.get()), bandValues(b.filtered.get()));
    EXPECT_EQ(bandValues(a.labels.get()), bandValues(b.labels.get()));
}

// The queue is sized by the levels in use, not by a claimed maxValue, and
// costs outside 0 .. maxValue land inside it: the results of rising seeds do
// not depend on the claim, and no cost leads outside memory.
TEST(Leveling, QueueFollowsTheLevelsUsedAndKeepsEveryCostInside)
{
    std::mt19937 rng(9);
    ImagePtr img = randomImage(rng, 9, 7, 255, PX_GREY_INT);
    ImagePtr ref = constant(9, 7, 0, 255);
    SeedSet rising({3, 30, 61}, {2, 2, 2}, {255, 90, 170});
    Levelled small = level(img.get(), ref.get(), rising.get());
    ref->maxValue = INT_MAX;
    Levelled huge = level(img.get(), ref.get(), rising.get());
    EXPECT_EQ(bandValues(huge.filtered.get()), bandValues(small.filtered.get()));
    EXPECT_EQ(bandValues(huge.labels.get()), bandValues(small.labels.get()));

    SeedSet wild({0, 10, 20, 40, 99999, -1}, {2, 1, 2, 1, 2, 1}, {-7, 1000, INT_MAX, INT_MIN, 5, 5});
    for (int maxValue : {255, 0, -3, INT_MAX}) {
        ref->maxValue = maxValue;
        Levelled w = level(img.get(), ref.get(), wild.get());
        EXPECT_EQ(w.filtered->npixels, 63);
    }
}

// The two-way IFT against its plain loop: random images, seeds rising,
// falling and of other labels (some listed twice or outside), every relation,
// ref's maxValue as computed and as some claim.
TEST(Leveling, TwoWayIftMatchesThePlainVersion)
{
    std::mt19937 rng(21);
    const int kinds[] = {1, 2, 1, 2, 3, 0};  // falling, rising, invalid
    for (int round = 0; round < 40; ++round) {
        std::uniform_int_distribution<int> side(1, 12), level(0, round % 2 ? 9 : 300), pick(0, 5);
        const int ncols = side(rng), nrows = side(rng);
        ImagePtr img = randomImage(rng, ncols, nrows, round % 2 ? 9 : 300, PX_GREY_INT);
        ImagePtr ref = randomImage(rng, ncols, nrows, round % 2 ? 9 : 300, PX_GREY_INT);
        if (round % 4 == 3) ref->maxValue = level(rng);
        SeedSet seeds;
        ifReleaseRoots(seeds.get());
        ifAllocateRoots(seeds.get(), 1 + round % 7);
        for (int i = 0; i < seeds.r.count; ++i) {
            seeds.r.pixel[i] = std::uniform_int_distribution<int>(-1, ncols * nrows)(rng);
            seeds.r.label[i] = kinds[pick(rng)];
            seeds.r.cost[i] = level(rng);
        }
        for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8, pxNeighborhood8Clockwise}) {
            ImagePtr got(pxCreateImage(4, PX_WORK, ncols, nrows)), want(pxCreateImage(4, PX_WORK, ncols, nrows));
            testing::internal::CaptureStderr();
            iftNonNormalizedLevel(img.get(), ref.get(), got.get(), adj, seeds.get());
            const std::string gotErr = testing::internal::GetCapturedStderr();
            testing::internal::CaptureStderr();
            plainLevel(img.get(), ref.get(), want.get(), adj, seeds.get());
            ASSERT_EQ(gotErr, testing::internal::GetCapturedStderr()) << round;
            ASSERT_EQ(resultOf(got.get()), resultOf(want.get())) << round;
        }
    }
}

TEST(Leveling, Level2MatchesOpeningThenClosingByReconstruction)
{
    std::mt19937 rng(13);
    for (int trial = 0; trial < 30; ++trial) {
        const int ncols = 1 + static_cast<int>(rng() % 15), nrows = 1 + static_cast<int>(rng() % 15);
        const int type = trial % 2 ? PX_GREY8 : PX_GREY_INT;
        const int top = type == PX_GREY8 ? 255 : trial % 4 == 0 ? 9 : 60000;
        ImagePtr img = randomImage(rng, ncols, nrows, top, type);
        ImagePtr marker = trial % 3 ? randomImage(rng, ncols, nrows, top, type) : eroded(img.get());
        expectLevel2MatchesDefinition(img.get(), marker.get(), "trial " + std::to_string(trial));
    }
    for (const char *name : {"camera.pgm", "coins.pgm", "chelsea.ppm"}) {
        Image *raw = nullptr;
        pxReadImage(dataPath(name).c_str(), &raw);
        ASSERT_TRUE(raw) << name;
        ImagePtr full(raw);
        ImagePtr img(pxCreateImage(1, PX_GREY8, 64, 48));
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) img.at(y * 64 + x) = full->bands[0][(120 + y) * full->ncols + 150 + x];
        img->maxValue = 255;
        expectLevel2MatchesDefinition(img.get(), eroded(img.get()).get(), name);
        ImagePtr noise = randomImage(rng, 64, 48, 255, PX_GREY8);
        expectLevel2MatchesDefinition(img.get(), noise.get(), std::string(name) + " noise");
    }
}
