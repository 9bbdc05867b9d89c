#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "support.h"

using namespace testing_support;

namespace {

TEST(ImageRecord, CreateGivesZeroFilledBandsAndRowOffsets)
{
    ImagePtr img(pxCreateImage(3, PX_COLOR8, 5, 4));
    ASSERT_NE(img.get(), nullptr);
    EXPECT_EQ(img->nbands, 3);
    EXPECT_EQ(img->ncols, 5);
    EXPECT_EQ(img->nrows, 4);
    EXPECT_EQ(img->npixels, 20);
    EXPECT_EQ(img->maxValue, 0);
    EXPECT_EQ(img->type, PX_COLOR8);
    EXPECT_EQ(img->adjCount, 0);
    EXPECT_EQ(img->adjPairs, nullptr);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(img->rowOffset[y], 5 * y);
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 20; ++p) EXPECT_EQ(img.at(p, b), 0);
    // Bands are separate blocks: writing one leaves the others alone.
    img.at(19, 1) = 7;
    EXPECT_EQ(img.at(19, 0), 0);
    EXPECT_EQ(img.at(19, 2), 0);
}

TEST(ImageRecord, TypeCodeIsStoredAsOneSignedByte)
{
    ImagePtr img(pxCreateImage(1, PX_WORK, 1, 1));
    EXPECT_EQ(img->type, PX_WORK);
}

TEST(ImageRecord, UnrepresentableSizesAreAllocationFailures)
{
    const struct {
        int nbands, ncols, nrows;
    } cases[] = {{1, 65536, 65536}, {1, INT_MAX, 2}, {1, 0, 5}, {1, 5, 0}, {1, -3, 4}, {0, 2, 2}};
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        Image *img = pxCreateImage(c.nbands, PX_GREY_INT, c.ncols, c.nrows);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(img, nullptr) << c.nbands << " " << c.ncols << "x" << c.nrows;
        EXPECT_EQ(err, "Could not allocate image!\n");
        if (img) pxReleaseImage(&img);
    }
}

TEST(ImageRecord, ReleaseFreesArcPairsAndLeavesCallerPointer)
{
    Image *img = pxCreateImage(2, PX_ARCWEIGHTS, 3, 3);
    img->adjCount = 2;
    img->adjPairs = static_cast<int *>(std::malloc(4 * sizeof(int)));
    Image *before = img;
    pxReleaseImage(&img); // the sanitizer build reports anything left behind
    EXPECT_EQ(img, before);
}

TEST(ImageRecord, CopyIsDeepAndDropsArcPairs)
{
    EXPECT_EQ(pxCopyImage(nullptr), nullptr);

    ImagePtr src(pxCreateImage(2, PX_ARCWEIGHTS, 3, 2));
    for (int p = 0; p < 6; ++p) {
        src.at(p, 0) = p - 2;
        src.at(p, 1) = 10 * p;
    }
    src->maxValue = 50;
    src->adjCount = 1;
    src->adjPairs = static_cast<int *>(std::malloc(2 * sizeof(int)));
    src->adjPairs[0] = 1;
    src->adjPairs[1] = 0;

    ImagePtr copy(pxCopyImage(src.get()));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_EQ(copy->nbands, 2);
    EXPECT_EQ(copy->type, PX_ARCWEIGHTS);
    EXPECT_EQ(copy->ncols, 3);
    EXPECT_EQ(copy->nrows, 2);
    EXPECT_EQ(copy->maxValue, 50);
    EXPECT_EQ(copy->adjCount, 0);
    EXPECT_EQ(copy->adjPairs, nullptr);
    EXPECT_EQ(bandValues(copy.get(), 0), bandValues(src.get(), 0));
    EXPECT_EQ(bandValues(copy.get(), 1), bandValues(src.get(), 1));
    copy.at(0, 0) = 99;
    EXPECT_EQ(src.at(0, 0), -2);
    EXPECT_EQ(copy->rowOffset[1], 3);
}

TEST(ImageRecord, CopyBandTakesOneBandWithItsLargestValue)
{
    ImagePtr work(pxCreateImage(3, PX_WORK, 2, 2));
    const int values[3][4] = {{1, 2, 3, 4}, {-5, -1, -7, -2}, {0, 9, 4, 9}};
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 4; ++p) work.at(p, b) = values[b][p];
    work->maxValue = 1000;

    ImagePtr last(pxCopyBand(work.get(), PX_GREY_INT, 2));
    EXPECT_EQ(last->nbands, 1);
    EXPECT_EQ(last->type, PX_GREY_INT);
    EXPECT_EQ(last->maxValue, 9);
    EXPECT_EQ(bandValues(last.get()), (std::vector<int>{0, 9, 4, 9}));
    EXPECT_EQ(last->adjPairs, nullptr);

    ImagePtr negative(pxCopyBand(work.get(), PX_GREY_INT, 1));
    EXPECT_EQ(negative->maxValue, 0);
    EXPECT_EQ(bandValues(negative.get()), (std::vector<int>{-5, -1, -7, -2}));

    ImagePtr grey(pxCopyBand(work.get(), PX_GREY8, 0));
    EXPECT_EQ(grey->type, PX_GREY8);
    EXPECT_EQ(grey->maxValue, 4);
}

} // namespace
