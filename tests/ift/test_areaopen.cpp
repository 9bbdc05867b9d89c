#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "reference/areaopen.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

struct Filtered {
    ImagePtr filtered, labels;
};

enum class Op { Open, OpenOld, Close };

Filtered run(Op op, Image *img, int area)
{
    Filtered out;
    testing::internal::CaptureStdout();
    if (op == Op::Open) ifAreaOpen(img, &out.filtered.img, &out.labels.img, area);
    else if (op == Op::OpenOld) ifAreaOpenOld(img, &out.filtered.img, &out.labels.img, area);
    else ifAreaClose(img, &out.filtered.img, &out.labels.img, area);
    testing::internal::GetCapturedStdout();
    return out;
}

// ifAreaOpen as first described: maxima, flood levels, global reconstruction.
Filtered openByFloods(Image *img, int area)
{
    testing::internal::CaptureStdout();
    RootsPtr seeds(ifRegionalMaximaAsRoots(img));
    testing::internal::GetCapturedStdout();
    std::vector<int> level = floodLevels(img, seeds.get(), std::max(area, 1));
    for (int i = 0; i < seeds->count; ++i) seeds->cost[i] = level[seeds->label[i]];
    Filtered out;
    ifReconstr(img, img, seeds.get(), 1, &out.filtered.img, &out.labels.img);
    return out;
}

// Random images with plateaus: values drawn from few levels, then some
// blocks flattened, so that maxima are many and often wider than a pixel.
ImagePtr randomImage(std::mt19937 &rng, int ncols, int nrows, int top, int type = PX_GREY_INT)
{
    ImagePtr img(pxCreateImage(1, type, ncols, nrows));
    std::uniform_int_distribution<int> value(0, top), coin(0, 3);
    int *v = img->bands[0];
    for (int p = 0; p < img->npixels; ++p) v[p] = value(rng);
    for (int p = 0; p + 1 < img->npixels; ++p)
        if (coin(rng) == 0) v[p + 1] = v[p];
    for (int p = 0; p + ncols < img->npixels; ++p)
        if (coin(rng) == 0) v[p + ncols] = v[p];
    img->maxValue = *std::max_element(v, v + img->npixels);
    return img;
}

ImagePtr readData(const std::string &name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

// A window of band 0 of img, as a one-band image of the given type.
ImagePtr crop(const Image *img, int x0, int y0, int w, int h, int type)
{
    ImagePtr out(pxCreateImage(1, type, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.at(y * w + x) = img->bands[0][(y0 + y) * img->ncols + x0 + x];
    out->maxValue = *std::max_element(out->bands[0], out->bands[0] + out->npixels);
    return out;
}

const char *const DATA_IMAGES[] = {"camera.pgm", "cell.pgm", "chelsea.ppm", "coins.pgm", "horse.pgm"};

} // namespace

// The fast level search against one flood per maximum, whole outputs
// compared, on random images with plateaus and on every data image.
TEST(AreaOpen, LevelsMatchOneFloodPerMaximum)
{
    auto expectSame = [](Image *img, int area, const std::string &what) {
        Filtered got = run(Op::Open, img, area);
        Filtered want = openByFloods(img, area);
        EXPECT_EQ(bandValues(got.filtered.get()), bandValues(want.filtered.get())) << what << " area " << area;
        EXPECT_EQ(bandValues(got.labels.get()), bandValues(want.labels.get())) << what << " area " << area;
        EXPECT_EQ(got.filtered->type, img->type) << what;
        EXPECT_EQ(got.filtered->maxValue, want.filtered->maxValue) << what;
    };
    std::mt19937 rng(7);
    const int tops[] = {1, 3, 20, 255, 5000};
    for (int trial = 0; trial < 60; ++trial) {
        const int ncols = 1 + static_cast<int>(rng() % 24), nrows = 1 + static_cast<int>(rng() % 24);
        const int top = trial % 2 ? 255 : tops[trial % 5];
        ImagePtr img = randomImage(rng, ncols, nrows, top, trial % 2 ? PX_GREY8 : PX_GREY_INT);
        for (int area : {0, 1, 2, 3, 7, 16, 40, img->npixels, img->npixels + 1})
            expectSame(img.get(), area, "trial " + std::to_string(trial));
    }
    // More grey levels than 16 bits can number: a ramp with spikes.
    ImagePtr wide(pxCreateImage(1, PX_GREY_INT, 300, 260));
    for (int p = 0; p < wide->npixels; ++p) wide.at(p) = 2 * p + (rng() % 3000 == 0 ? 500000 : 0);
    wide->maxValue = *std::max_element(wide->bands[0], wide->bands[0] + wide->npixels);
    for (int area : {5, 40}) expectSame(wide.get(), area, "wide");
    for (const char *name : DATA_IMAGES) {
        ImagePtr img = readData(name);
        ASSERT_TRUE(img.get()) << name;
        for (int area : {9, 50}) expectSame(img.get(), area, name);
    }
}

// The opening against its definition, 8-bit and integer, random and real
// images; the integer ones include values far apart (ranked grey levels).
TEST(AreaOpen, MatchesTheDefinitionOnRandomAndDataImages)
{
    std::mt19937 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        const int ncols = 1 + static_cast<int>(rng() % 20), nrows = 1 + static_cast<int>(rng() % 20);
        const int top = trial % 4 == 3 ? 2000000000 : trial % 4 == 2 ? 70000 : trial % 4 == 1 ? 255 : 4;
        ImagePtr img = randomImage(rng, ncols, nrows, top, top == 255 ? PX_GREY8 : PX_GREY_INT);
        for (int area : {2, 5, 12, 30, img->npixels + 3}) {
            Filtered got = run(Op::Open, img.get(), area);
            ASSERT_EQ(bandValues(got.filtered.get()), bruteAreaOpen(img.get(), area)) << trial << " area " << area;
        }
    }
    for (const char *name : DATA_IMAGES) {
        ImagePtr img = readData(name);
        ASSERT_TRUE(img.get()) << name;
        for (int type : {PX_GREY8, PX_GREY_INT}) {
            ImagePtr part = crop(img.get(), 100, 80, 96, 72, type);
            if (type == PX_GREY_INT)  // spread the levels: not 8-bit any more
                for (int p = 0; p < part->npixels; ++p) part.at(p) = part.at(p) * 1000 + p % 7;
            part->maxValue = *std::max_element(part->bands[0], part->bands[0] + part->npixels);
            for (int area : {4, 25, 300}) {
                Filtered got = run(Op::Open, part.get(), area);
                EXPECT_EQ(bandValues(got.filtered.get()), bruteAreaOpen(part.get(), area)) << name << " " << area;
            }
        }
    }
}

TEST(AreaOpen, AreaOneOrLessGivesTheImageBackWithTheSameLabels)
{
    std::mt19937 rng(3);
    ImagePtr img = randomImage(rng, 13, 9, 30);
    Filtered one = run(Op::Open, img.get(), 1);
    EXPECT_EQ(bandValues(one.filtered.get()), bandValues(img.get()));
    for (Op op : {Op::Open, Op::OpenOld}) {
        for (int area : {0, -5, INT_MIN}) {
            Filtered f = run(op, img.get(), area);
            EXPECT_EQ(bandValues(f.filtered.get()), bandValues(img.get())) << area;
            if (op == Op::Open) {
                EXPECT_EQ(bandValues(f.labels.get()), bandValues(one.labels.get())) << area;
            }
        }
    }
    Filtered closed = run(Op::Close, img.get(), 0);
    EXPECT_EQ(bandValues(closed.filtered.get()), bandValues(img.get()));
}

TEST(AreaOpen, PrintsTheMaximaCountAfterTheLabellingLines)
{
    ImagePtr img = makeImage(5, 3, {1, 9, 1, 4, 4,
                                    1, 1, 1, 1, 1,
                                    7, 1, 1, 1, 6});
    Image *f = nullptr, *l = nullptr;
    testing::internal::CaptureStdout();
    ifAreaOpen(img.get(), &f, &l, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "in ifLabelImage\nin ifLabelImage\nThere are 4 regional maxima\n");
    pxReleaseImage(&f);
    pxReleaseImage(&l);
    testing::internal::CaptureStdout();
    ifAreaOpenOld(img.get(), &f, &l, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "in ifLabelImage\nin ifLabelImage\nThere are 4 regional maxima\n");
    pxReleaseImage(&f);
    pxReleaseImage(&l);
}

// Two plateaus of 5 pixels at 200 on 10, far apart: each is judged on its own
// area, and an area above the pixel count flattens everything to the minimum.
TEST(AreaOpen, PlateausAreJudgedApartAndAHugeAreaFlattens)
{
    ImagePtr img = makeImage(9, 4, {200, 200, 200, 10, 10, 10, 10, 10, 10,
                                    200, 200, 10, 10, 10, 10, 10, 200, 200,
                                    10, 10, 10, 10, 10, 10, 200, 200, 10,
                                    10, 10, 10, 10, 10, 10, 10, 200, 10}, PX_GREY8, 255);
    EXPECT_EQ(bandValues(run(Op::Open, img.get(), 5).filtered.get()), bandValues(img.get()));
    EXPECT_EQ(bandValues(run(Op::Open, img.get(), 6).filtered.get()), std::vector<int>(36, 10));
    EXPECT_EQ(bandValues(run(Op::Open, img.get(), 37).filtered.get()), std::vector<int>(36, 10));
    EXPECT_EQ(bandValues(run(Op::OpenOld, img.get(), 5).filtered.get()), bandValues(img.get()));
}

// Two peaks on one dome: ifAreaOpen floods each over the whole dome, so both
// are cut to the level at which the dome part around them reaches the area;
// in ifAreaOpenOld they share the dome's pixels: the lower peak wins too few,
// is dropped and keeps its part of the dome, although alone it is cut.
TEST(AreaOpen, PeaksOnOneDomeAreCutAloneButShareItInTheOldVariant)
{
    ImagePtr img = makeImage(7, 1, {150, 150, 200, 150, 150, 100, 190}, PX_GREY8, 255);
    EXPECT_EQ(bandValues(run(Op::Open, img.get(), 4).filtered.get()),
              (std::vector<int>{150, 150, 150, 150, 150, 100, 100}));
    Filtered shared = run(Op::OpenOld, img.get(), 4);
    EXPECT_EQ(bandValues(shared.filtered.get()), (std::vector<int>{150, 150, 150, 150, 150, 100, 190}));
    EXPECT_EQ(bandValues(shared.labels.get()), (std::vector<int>{1, 1, 1, 1, 1, 0, 0}));
}

// A dark hole of 4 pixels closes up to the lowest value on its rim, in 8-bit
// and integer images; an integer image whose values stay above 0 comes back
// unchanged when nothing is filtered, and the closing keeps the input's top.
TEST(AreaOpen, CloseFillsADarkHoleAndKeepsTheLevelsOfIntegerImages)
{
    for (int type : {PX_GREY8, PX_GREY_INT}) {
        const int base = type == PX_GREY8 ? 0 : 1000;
        ImagePtr img = makeImage(5, 5, {90, 90, 90, 90, 90,
                                        90, 20, 20, 80, 90,
                                        90, 20, 20, 90, 90,
                                        90, 90, 90, 90, 95,
                                        90, 90, 90, 95, 99}, type, 255);
        for (int p = 0; p < img->npixels; ++p) img.at(p) += base;
        img->maxValue = type == PX_GREY8 ? 255 : 0;  // an integer image's top still to be found
        std::vector<int> want = bandValues(img.get());
        for (int p : {6, 7, 11, 12}) want[p] = base + 80;
        Filtered closed = run(Op::Close, img.get(), 5);
        EXPECT_EQ(bandValues(closed.filtered.get()), want) << type;
        EXPECT_EQ(closed.filtered->type, type);
        EXPECT_EQ(closed.filtered->maxValue, type == PX_GREY8 ? 255 : base + 99);
        EXPECT_EQ(bandValues(run(Op::Close, img.get(), 1).filtered.get()), bandValues(img.get())) << type;
    }
}

// A maxValue that is missing, wrong or huge, and values below 0, change at
// most the results, never the memory touched: the level search does not use
// the field, and the queues keep every cost inside.
TEST(AreaOpen, ClaimedMaxValueAndNegativeValuesStayInsideMemory)
{
    std::mt19937 rng(17);
    ImagePtr img = randomImage(rng, 11, 8, 300);
    for (int p = 0; p < img->npixels; p += 5) img.at(p) -= 200;
    const std::vector<int> want = bruteAreaOpen(img.get(), 6);
    for (int maxValue : {0, -4, 50, INT_MAX}) {
        for (Op op : {Op::Open, Op::OpenOld, Op::Close}) {
            img->maxValue = maxValue;
            Filtered f = run(op, img.get(), 6);
            ASSERT_EQ(f.filtered->npixels, img->npixels);
        }
        img->maxValue = maxValue;
        Filtered f = run(Op::Open, img.get(), 6);
        if (maxValue == INT_MAX) {
            EXPECT_EQ(bandValues(f.filtered.get()), want);
        }
    }
}
