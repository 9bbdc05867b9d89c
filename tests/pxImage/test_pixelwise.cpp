#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using testing_support::bandValues;
using testing_support::ImagePtr;
using testing_support::makeImage;

namespace {

ImagePtr randomImage(int nbands, int ncols, int nrows, int lo, int hi, unsigned seed, int type = PX_GREY_INT)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    Image *img = pxCreateImage(nbands, type, ncols, nrows);
    for (int b = 0; b < nbands; ++b)
        for (int p = 0; p < img->npixels; ++p) img->bands[b][p] = dist(gen);
    return ImagePtr(img);
}

// Everything fprintf'd to a stream by f, as a string.
template <class F>
std::string printed(F f)
{
    FILE *tmp = std::tmpfile();
    f(tmp);
    std::string s;
    std::rewind(tmp);
    for (int c; (c = std::fgetc(tmp)) != EOF;) s += static_cast<char>(c);
    std::fclose(tmp);
    return s;
}

} // namespace

TEST(Pixelwise, ThresholdAndBandPassIncludeBothBounds)
{
    ImagePtr img = makeImage(5, 1, {9, 10, 11, 3, 5});
    ImagePtr t(pxThreshold(img.get(), PX_GREY8, 10, 10));
    EXPECT_EQ(bandValues(t.get()), (std::vector<int>{0, 255, 0, 0, 0}));
    EXPECT_EQ(t->type, PX_GREY8);
    EXPECT_EQ(t->maxValue, 255);

    ImagePtr bp(pxBandPass(img.get(), PX_GREY_INT, 3, 10));
    EXPECT_EQ(bandValues(bp.get()), (std::vector<int>{9, 10, 0, 3, 5}));
    EXPECT_EQ(bp->maxValue, 0);
}

TEST(Pixelwise, NegativeMirrorsEightBitIn255AndOthersInTheirMaxValue)
{
    ImagePtr grey = makeImage(3, 1, {0, 100, 255}, PX_GREY8, 100);
    ImagePtr n8(pxNegative(grey.get(), PX_GREY8));
    EXPECT_EQ(bandValues(n8.get()), (std::vector<int>{255, 155, 0}));
    EXPECT_EQ(n8->maxValue, 255);
    EXPECT_EQ(grey->maxValue, 100);

    ImagePtr wide = makeImage(2, 1, {3, 7}, PX_GREY_INT, 0);
    ImagePtr n2(pxNegative(wide.get(), PX_GREY_INT));
    EXPECT_EQ(bandValues(n2.get()), (std::vector<int>{4, 0}));
    EXPECT_EQ(n2->maxValue, 7);
    EXPECT_EQ(wide->maxValue, 7);

    // A larger maxValue is kept; 16-bit images use it as well, not 255.
    ImagePtr deep = makeImage(2, 1, {300, 1000}, PX_GREY16, 2000);
    ImagePtr n4(pxNegative(deep.get(), PX_GREY_INT));
    EXPECT_EQ(bandValues(n4.get()), (std::vector<int>{1700, 1000}));
    EXPECT_EQ(n4->maxValue, 2000);
    EXPECT_EQ(deep->maxValue, 2000);

    ImagePtr signs = makeImage(3, 1, {-1, 0, 1});
    ImagePtr s(pxNegative2(signs.get(), PX_GREY8));
    EXPECT_EQ(bandValues(s.get()), (std::vector<int>{255, 255, 0}));
    EXPECT_EQ(s->maxValue, 255);
}

TEST(Pixelwise, MaskFillsEveryBandWhereTheMaskIsNotPositive)
{
    ImagePtr img = randomImage(2, 3, 1, 1, 50, 1, PX_COLOR8);
    ImagePtr mask = makeImage(3, 1, {-1, 0, 1});
    ImagePtr out(pxMask(img.get(), mask.get(), 99));
    ASSERT_EQ(out->nbands, 2);
    EXPECT_EQ(out->type, PX_COLOR8);
    for (int b = 0; b < 2; ++b)
        EXPECT_EQ(bandValues(out.get(), b), (std::vector<int>{99, 99, img.at(2, b)}));
    EXPECT_EQ(out->maxValue, 0);
}

TEST(Pixelwise, BinaryDifferenceTreatsNegativeAsSetWhileUnionTreatsItAsUnset)
{
    ImagePtr a = makeImage(4, 1, {1, 1, 0, 0});
    ImagePtr b = makeImage(4, 1, {0, -1, -1, 2});
    ImagePtr diff(pxBinaryDifference(a.get(), b.get(), PX_GREY8));
    EXPECT_EQ(bandValues(diff.get()), (std::vector<int>{255, 0, 0, 0}));
    ImagePtr uni(pxBinaryUnion(a.get(), b.get(), PX_GREY8));
    EXPECT_EQ(bandValues(uni.get()), (std::vector<int>{255, 255, 0, 255}));
    EXPECT_EQ(diff->maxValue, 255);
    EXPECT_EQ(uni->maxValue, 255);
    EXPECT_EQ(uni->type, PX_GREY8);
}

TEST(Pixelwise, EnvelopesAndSubtractionWorkBandByBand)
{
    ImagePtr a = randomImage(3, 4, 3, -20, 20, 2);
    ImagePtr b = randomImage(3, 4, 3, -20, 20, 3);
    ImagePtr up(pxUpperEnvelope(a.get(), b.get()));
    ImagePtr low(pxLowerEnvelope(a.get(), b.get()));
    ImagePtr sub(pxSubtractImage(a.get(), b.get()));
    int top = 0;
    for (int k = 0; k < 3; ++k)
        for (int p = 0; p < 12; ++p) {
            EXPECT_EQ(up.at(p, k), std::max(a.at(p, k), b.at(p, k)));
            EXPECT_EQ(low.at(p, k), std::min(a.at(p, k), b.at(p, k)));
            EXPECT_EQ(sub.at(p, k), std::max(a.at(p, k) - b.at(p, k), 0));
            top = std::max(top, sub.at(p, k));
        }
    EXPECT_EQ(up->maxValue, 0);
    EXPECT_EQ(sub->maxValue, top);

    ImagePtr none(pxSubtractImage(b.get(), b.get()));
    EXPECT_EQ(none->maxValue, 0);
}

TEST(Pixelwise, AddToPixelValuesClampsAt255OnlyForEightBitImages)
{
    ImagePtr grey = makeImage(3, 1, {0, 254, 255}, PX_GREY8, 255);
    ImagePtr up(pxAddToPixelValues(grey.get(), 1));
    EXPECT_EQ(bandValues(up.get()), (std::vector<int>{1, 255, 255}));
    EXPECT_EQ(up->maxValue, 256);
    ImagePtr down(pxAddToPixelValues(grey.get(), -1));
    EXPECT_EQ(bandValues(down.get()), (std::vector<int>{0, 253, 254}));
    EXPECT_EQ(down->maxValue, 254);

    ImagePtr low = makeImage(1, 1, {0}, PX_GREY8, 0);
    ImagePtr lower(pxAddToPixelValues(low.get(), -1));
    EXPECT_EQ(lower->maxValue, 0);

    ImagePtr deep = makeImage(2, 1, {255, 60000}, PX_GREY16, 60000);
    ImagePtr d(pxAddToPixelValues(deep.get(), 10));
    EXPECT_EQ(bandValues(d.get()), (std::vector<int>{265, 60010}));
    EXPECT_EQ(d->maxValue, 60010);

    ImagePtr huge = makeImage(1, 1, {INT_MAX}, PX_GREY_INT, INT_MAX);
    ImagePtr h(pxAddToPixelValues(huge.get(), 5));
    EXPECT_EQ(h.at(0), INT_MAX);
    EXPECT_EQ(h->maxValue, INT_MAX);
}

TEST(Pixelwise, FalseExtremaTestOnlyTheEightNeighbours)
{
    ImagePtr flat = makeImage(3, 3, {5, 5, 5, 5, 5, 5, 5, 5, 5});
    ImagePtr fm(pxFalseRegionalMinimum(flat.get()));
    EXPECT_EQ(bandValues(fm.get()), std::vector<int>(9, 1));
    EXPECT_EQ(fm->type, PX_GREY_INT);
    EXPECT_EQ(fm->maxValue, 1);

    ImagePtr ramp = makeImage(4, 2, {0, 1, 2, 3, 0, 1, 2, 3});
    ImagePtr rmin(pxFalseRegionalMinimum(ramp.get()));
    EXPECT_EQ(bandValues(rmin.get()), (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0}));
    ImagePtr rmax(pxFalseRegionalMaximum(ramp.get()));
    EXPECT_EQ(bandValues(rmax.get()), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 1}));

    // Only the diagonal neighbour is lower.
    ImagePtr diag = makeImage(2, 2, {5, 5, 5, 4});
    ImagePtr dm(pxFalseRegionalMinimum(diag.get()));
    EXPECT_EQ(bandValues(dm.get()), (std::vector<int>{0, 0, 0, 1}));

    ImagePtr single = makeImage(1, 1, {7});
    ImagePtr s(pxFalseRegionalMaximum(single.get()));
    EXPECT_EQ(s.at(0), 1);

    // Against the definition, borders included; the left neighbour of x = 0
    // is not the last pixel of the previous row.
    ImagePtr img = randomImage(1, 9, 7, 0, 3, 4);
    ImagePtr m(pxFalseRegionalMinimum(img.get()));
    ImagePtr M(pxFalseRegionalMaximum(img.get()));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            bool lower = false, higher = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    int nx = x + dx, ny = y + dy;
                    if (nx < 0 || nx >= 9 || ny < 0 || ny >= 7) continue;
                    lower |= img.at(ny * 9 + nx) < img.at(y * 9 + x);
                    higher |= img.at(ny * 9 + nx) > img.at(y * 9 + x);
                }
            EXPECT_EQ(m.at(y * 9 + x), lower ? 0 : 1) << x << "," << y;
            EXPECT_EQ(M.at(y * 9 + x), higher ? 0 : 1) << x << "," << y;
        }
}

TEST(Pixelwise, BordersAreAddedAndRemovedInEveryBand)
{
    ImagePtr img = randomImage(2, 3, 2, 1, 9, 5, PX_COLOR8);
    ImagePtr big(pxAddBorder(img.get(), 2));
    ASSERT_EQ(big->ncols, 7);
    ASSERT_EQ(big->nrows, 6);
    EXPECT_EQ(big->type, PX_COLOR8);
    EXPECT_EQ(big->nbands, 2);
    for (int b = 0; b < 2; ++b)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                bool inner = x >= 2 && x < 5 && y >= 2 && y < 4;
                EXPECT_EQ(big.at(y * 7 + x, b), inner ? img.at((y - 2) * 3 + x - 2, b) : 0);
            }
    ImagePtr back(pxRemoveBorder(big.get(), 2));
    ASSERT_EQ(back->ncols, 3);
    ASSERT_EQ(back->nrows, 2);
    for (int b = 0; b < 2; ++b) EXPECT_EQ(bandValues(back.get(), b), bandValues(img.get(), b));

    ImagePtr same(pxAddBorder(img.get(), 0));
    EXPECT_EQ(bandValues(same.get(), 1), bandValues(img.get(), 1));
}

TEST(Pixelwise, BorderWidthsWithoutAResultGiveNullAndNegativeWidthsShrink)
{
    ImagePtr img = randomImage(1, 5, 4, 1, 9, 6);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pxRemoveBorder(img.get(), 2), nullptr);      // 1 x 0 left
    EXPECT_EQ(pxRemoveBorder(img.get(), INT_MAX), nullptr);
    EXPECT_EQ(pxAddBorder(img.get(), INT_MAX / 2), nullptr); // too large for an int
    EXPECT_EQ(pxAddBorder(img.get(), INT_MIN), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not allocate image!\n"), std::string::npos);

    // A negative width added is the same width removed, and vice versa.
    ImagePtr shrunk(pxAddBorder(img.get(), -1));
    ImagePtr removed(pxRemoveBorder(img.get(), 1));
    ASSERT_EQ(shrunk->ncols, 3);
    ASSERT_EQ(shrunk->nrows, 2);
    EXPECT_EQ(bandValues(shrunk.get()), bandValues(removed.get()));
    EXPECT_EQ(removed.at(0), img.at(6));
    ImagePtr grown(pxRemoveBorder(img.get(), -1));
    ImagePtr added(pxAddBorder(img.get(), 1));
    EXPECT_EQ(bandValues(grown.get()), bandValues(added.get()));
}

TEST(Pixelwise, PaintCirclesFillsTheDiscOfEachSquaredRadius)
{
    auto painted = [](int v, int x, int y) {
        ImagePtr img = makeImage(21, 21, {});
        img.at(y * 21 + x) = v;
        ImagePtr out(pxPaintCircles(img.get()));
        int count = 0;
        for (int p = 0; p < out->npixels; ++p) count += out.at(p) == 255;
        return count;
    };
    EXPECT_EQ(painted(4, 10, 10), 13);
    EXPECT_EQ(painted(1, 10, 10), 5);
    EXPECT_EQ(painted(2, 10, 10), 9);
    EXPECT_EQ(painted(3, 10, 10), 9);
    EXPECT_EQ(painted(2, 0, 0), 4);
    EXPECT_EQ(painted(-4, 10, 10), 0);

    // Union of discs against the pixel-by-pixel test, discs cut by the border.
    ImagePtr img = makeImage(17, 11, {});
    std::mt19937 gen(7);
    for (int k = 0; k < 6; ++k) img.at(static_cast<int>(gen() % 187)) = static_cast<int>(gen() % 40) + 1;
    ImagePtr out(pxPaintCircles(img.get()));
    EXPECT_EQ(out->type, PX_GREY8);
    EXPECT_EQ(out->maxValue, 0);
    for (int p = 0; p < 187; ++p) {
        bool on = false;
        for (int q = 0; q < 187; ++q) {
            long long dx = p % 17 - q % 17, dy = p / 17 - q / 17;
            on |= img.at(q) > 0 && dx * dx + dy * dy <= img.at(q);
        }
        EXPECT_EQ(out.at(p), on ? 255 : 0) << p;
    }
}

TEST(Pixelwise, HighlightElementsPaintsTheMaskOverGreyOrColour)
{
    ImagePtr grey = makeImage(3, 1, {7, 8, 9});
    ImagePtr mask = makeImage(3, 1, {0, 1, -1});
    ImagePtr g(pxHighlightElements(grey.get(), mask.get(), 1, 2, 3));
    ASSERT_EQ(g->nbands, 3);
    EXPECT_EQ(g->type, PX_COLOR8);
    EXPECT_EQ(bandValues(g.get(), 0), (std::vector<int>{7, 1, 9}));
    EXPECT_EQ(bandValues(g.get(), 1), (std::vector<int>{7, 2, 9}));
    EXPECT_EQ(bandValues(g.get(), 2), (std::vector<int>{7, 3, 9}));

    ImagePtr colour = randomImage(3, 3, 1, 10, 99, 8, PX_COLOR8);
    ImagePtr c(pxHighlightElements(colour.get(), mask.get(), 1, 2, 3));
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(c.at(0, b), colour.at(0, b));
        EXPECT_EQ(c.at(1, b), b + 1);
        EXPECT_EQ(c.at(2, b), colour.at(2, b));
    }

    ImagePtr two = randomImage(2, 3, 1, 0, 9, 9);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pxHighlightElements(two.get(), mask.get(), 1, 2, 3), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid number of bands (expected 1 or 3)\n");
}

TEST(Pixelwise, ShowSegmDrawsOnlyTheLowerLabelledSideOfABorder)
{
    ImagePtr img = makeImage(4, 3, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21});
    ImagePtr labels = makeImage(4, 3, {1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2});
    ImagePtr out(pxShowSegm(img.get(), labels.get(), 255, 0, 7));
    ASSERT_EQ(out->nbands, 3);
    EXPECT_EQ(out->type, PX_COLOR8);
    for (int p = 0; p < 12; ++p) {
        bool drawn = p % 4 == 1;
        EXPECT_EQ(out.at(p, 0), drawn ? 255 : img.at(p)) << p;
        EXPECT_EQ(out.at(p, 1), drawn ? 0 : img.at(p)) << p;
        EXPECT_EQ(out.at(p, 2), drawn ? 7 : img.at(p)) << p;
    }

    // Colour images band by band; other types show nothing but the borders.
    ImagePtr colour = randomImage(3, 4, 3, 30, 90, 10, PX_COLOR8);
    ImagePtr c(pxShowSegm(colour.get(), labels.get(), 255, 0, 7));
    EXPECT_EQ(c.at(4, 2), colour.at(4, 2));
    EXPECT_EQ(c.at(7, 1), colour.at(7, 1));
    // 16-bit grey and colour show like their 8-bit kinds.
    ImagePtr wide = makeImage(4, 3, {1000, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, PX_GREY16);
    ImagePtr w(pxShowSegm(wide.get(), labels.get(), 255, 0, 7));
    EXPECT_EQ(w.at(0, 2), 1000);
    ImagePtr colour16 = randomImage(3, 4, 3, 300, 900, 12, PX_COLOR16);
    ImagePtr c16(pxShowSegm(colour16.get(), labels.get(), 255, 0, 7));
    EXPECT_EQ(c16.at(4, 2), colour16.at(4, 2));
    ImagePtr feats = randomImage(1, 4, 3, 30, 90, 11, PX_FEATURES);
    ImagePtr f(pxShowSegm(feats.get(), labels.get(), 255, 0, 7));
    EXPECT_EQ(f.at(0, 0), 0);
    EXPECT_EQ(f.at(5, 0), 255);

    // A pixel without neighbours is left 0.
    ImagePtr single = makeImage(1, 1, {42});
    ImagePtr s(pxShowSegm(single.get(), single.get(), 1, 2, 3));
    EXPECT_EQ(s.at(0, 0), 0);
}

TEST(Pixelwise, GreyToColourAndGradientCombinationWorkInPlace)
{
    ImagePtr grey = makeImage(3, 1, {1, 2, 3});
    ImagePtr rgb = randomImage(4, 3, 1, 50, 60, 12, PX_COLOR8);
    std::vector<int> fourth = bandValues(rgb.get(), 3);
    pxPgm2rgb(grey.get(), rgb.get());
    for (int b = 0; b < 3; ++b) EXPECT_EQ(bandValues(rgb.get(), b), bandValues(grey.get()));
    EXPECT_EQ(bandValues(rgb.get(), 3), fourth);

    ImagePtr img = randomImage(2, 3, 1, 0, 9, 13);
    img->maxValue = 9;
    ImagePtr grad = makeImage(3, 1, {5, 20, -1});
    std::vector<int> b0 = bandValues(img.get(), 0), b1 = bandValues(img.get(), 1);
    pxCombineImageWithGrad(img.get(), grad.get());
    EXPECT_EQ(bandValues(img.get(), 0), (std::vector<int>{std::max(b0[0], 5), 20, b0[2]}));
    EXPECT_EQ(bandValues(img.get(), 1), (std::vector<int>{std::max(b1[0], 5), 20, b1[2]}));
    EXPECT_EQ(img->maxValue, 9);
}

TEST(Pixelwise, HistogramCountsOnlyMaskedNonNegativeValues)
{
    ImagePtr img = makeImage(6, 1, {2, 2, 5, 9, -3, 0});
    ImagePtr mask = makeImage(6, 1, {1, 1, 1, 0, 1, 1});
    float *hist = nullptr;
    int nbins = 0;
    pxHistogram(img.get(), mask.get(), &hist, &nbins);
    ASSERT_EQ(nbins, 6);
    EXPECT_EQ(std::vector<float>(hist, hist + nbins), (std::vector<float>{1, 0, 2, 0, 0, 1}));
    std::free(hist);

    ImagePtr none = makeImage(6, 1, {});
    pxHistogram(img.get(), none.get(), &hist, &nbins);
    ASSERT_EQ(nbins, 1);
    EXPECT_EQ(hist[0], 0.0f);
    std::free(hist);
}

TEST(Pixelwise, PrintWindowSkipsPositionsOutsideTheImage)
{
    ImagePtr img = makeImage(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(printed([&](FILE *f) { pxPrintWindow(f, img.get(), 0, 1); }),
              "\n     1      2 \n     4      5 \n");
    EXPECT_EQ(printed([&](FILE *f) { pxPrintWindow(f, img.get(), 4, 1); }),
              "     1      2      3 \n     4      5      6 \n     7      8      9 \n");
    EXPECT_EQ(printed([&](FILE *f) { pxPrintWindow(f, img.get(), 8, 0); }), "     9 \n");
    // A pixel outside the image prints only what of its window lies inside.
    EXPECT_EQ(printed([&](FILE *f) { pxPrintWindow(f, img.get(), 9, 1); }), "     7      8 \n\n\n");
}

// Every threaded operation on 2, 3 and 7 threads gives what it gives on one,
// values and maxValue, on random images of awkward shapes: one row, one
// column, fewer rows than threads.
TEST(Pixelwise, ThreadsChangeNothing)
{
    using testing_support::ScopedThreads;
    using Result = std::pair<std::vector<std::vector<int>>, int>;
    auto resultOf = [](Image *out) {
        Result r{{}, out->maxValue};
        for (int b = 0; b < out->nbands; ++b) r.first.push_back(bandValues(out, b));
        pxReleaseImage(&out);
        return r;
    };
    const std::pair<int, int> shapes[] = {{140000, 1}, {1, 140000}, {70001, 3}};
    unsigned seed = 5;
    for (auto [ncols, nrows] : shapes) {
        ImagePtr a = randomImage(3, ncols, nrows, -3, 300, seed++), b = randomImage(3, ncols, nrows, -3, 300, seed++);
        ImagePtr labels = randomImage(1, ncols, nrows, 0, 2, seed++);
        const std::vector<std::function<Result()>> ops = {
            [&] { return resultOf(pxThreshold(a.get(), PX_GREY8, 10, 200)); },
            [&] { return resultOf(pxBandPass(a.get(), PX_GREY_INT, 10, 200)); },
            [&] {
                ImagePtr c(pxCopyImage(a.get()));
                c->type = PX_GREY_INT;
                c->maxValue = 5;
                return resultOf(pxNegative(c.get(), PX_GREY_INT));
            },
            [&] { return resultOf(pxNegative2(a.get(), PX_GREY8)); },
            [&] { return resultOf(pxMask(a.get(), b.get(), -9)); },
            [&] { return resultOf(pxBinaryDifference(a.get(), labels.get(), PX_GREY8)); },
            [&] { return resultOf(pxBinaryUnion(a.get(), labels.get(), PX_GREY8)); },
            [&] { return resultOf(pxUpperEnvelope(a.get(), b.get())); },
            [&] { return resultOf(pxLowerEnvelope(a.get(), b.get())); },
            [&] { return resultOf(pxAddToPixelValues(a.get(), -40)); },
            [&] { return resultOf(pxSubtractImage(a.get(), b.get())); },
            [&] { return resultOf(pxFalseRegionalMinimum(labels.get())); },
            [&] { return resultOf(pxFalseRegionalMaximum(labels.get())); },
            [&] { return resultOf(pxHighlightElements(a.get(), labels.get(), 1, 2, 3)); },
            [&] { return resultOf(pxShowSegm(a.get(), labels.get(), 1, 2, 3)); },
            [&] {
                ImagePtr c(pxCopyImage(a.get()));
                pxCombineImageWithGrad(c.get(), b.get());
                return resultOf(pxCopyImage(c.get()));
            },
        };
        for (std::size_t i = 0; i < ops.size(); ++i) {
            Result one;
            {
                ScopedThreads scoped(1);
                one = ops[i]();
            }
            for (int threads : testing_support::threadCountsToCompare()) {
                ScopedThreads scoped(threads);
                EXPECT_TRUE(ops[i]() == one) << "operation " << i << " on " << ncols << " x " << nrows << ", "
                                             << threads << " threads";
            }
        }
    }
}
