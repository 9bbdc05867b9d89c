#include <gtest/gtest.h>

#include <string>

#include "support.h"

using namespace testing_support;

namespace {

struct Forest {
    UnionFind uf{};
    Forest(Image *img, int nData, InitDataFn init, MergeDataFn merge)
    {
        ufStartUnionFind(&uf, img->npixels + 1, nData);
        init(&uf, img);
        uf.mergeData = merge;
    }
    ~Forest() { ufReleaseUnionFind(&uf); }
    void join(int p, int q) { ufLink(&uf, ufFindSet(&uf, p), ufFindSet(&uf, q)); }
};

ImagePtr colourImage(std::initializer_list<std::array<int, 3>> pixels)
{
    ImagePtr img(pxCreateImage(3, PX_COLOR8, static_cast<int>(pixels.size()), 1));
    int p = 0;
    for (const auto &rgb : pixels) {
        for (int b = 0; b < 3; ++b) img->bands[b][p] = rgb[b];
        ++p;
    }
    return img;
}

} // namespace

TEST(Criteria, AreaCountsThePixelsOfTheSmallerRegion)
{
    ImagePtr img = makeImage(3, 1, {0, 0, 0});
    Forest f(img.get(), 1, ifInitAreaData, ifUpdateAreaData);
    EXPECT_EQ(f.uf.elements[3].data[0], 0);  // the spare element stays zero
    f.join(0, 1);
    EXPECT_EQ(f.uf.elements[ufFindSet(&f.uf, 0)].data[0], 2);
    EXPECT_EQ(ifEdgeWeightArea(img.get(), &f.uf, 0, 2), 1);
    EXPECT_EQ(ifEdgeWeightArea(img.get(), &f.uf, 2, 1), 1);
}

TEST(Criteria, VolumeFillsBothRegionsToTheLevelOfP)
{
    ImagePtr img = makeImage(3, 1, {10, 30, 20});
    Forest f(img.get(), 2, ifInitVolumeData, ifUpdateVolumeData);
    EXPECT_EQ(ifEdgeWeightVolume(img.get(), &f.uf, 1, 0), 0);   // min(30 - 30, 30 - 10)
    EXPECT_EQ(ifEdgeWeightVolume(img.get(), &f.uf, 0, 1), -20);  // min(10 - 10, 10 - 30)
    f.join(0, 2);                                                 // {10, 20}: count 2, sum 30
    EXPECT_EQ(ifEdgeWeightVolume(img.get(), &f.uf, 1, 0), 0);    // min(0, 60 - 30)
    EXPECT_EQ(ifEdgeWeightVolume(img.get(), &f.uf, 2, 1), -10);  // min(40 - 30, 20 - 30)
}

TEST(Criteria, ColourWeightIsTheLargestDifferenceOfTruncatedMeans)
{
    // Regions {(10,20,30), (11,21,31)} with means (10,20,30) and {(13,10,31)}.
    ImagePtr img = colourImage({{10, 20, 30}, {11, 21, 31}, {13, 10, 31}, {1, 0, 0}, {2, 0, 0}, {2, 0, 0}});
    Forest f(img.get(), 4, ifInitColorData, ifUpdateColorData);
    f.join(0, 1);
    EXPECT_EQ(ifEdgeWeightColor(img.get(), &f.uf, 0, 2), 10);
    f.join(3, 4);  // band 0 mean (1 + 2) / 2 = 1
    EXPECT_EQ(ifEdgeWeightColor(img.get(), &f.uf, 3, 3), 0);
    EXPECT_EQ(ifEdgeWeightColor(img.get(), &f.uf, 4, 5), 1);
    // A region without pixels has mean 0 instead of dividing by zero.
    EXPECT_EQ(ifEdgeWeightColor(img.get(), &f.uf, 6, 2), 31);
}

TEST(Criteria, InitialiserRefusesTooSmallAUnionFind)
{
    ImagePtr img = makeImage(4, 1, {1, 2, 3, 4});
    std::string message;
    UnionFind uf{};
    ufStartUnionFind(&uf, 3, 2);
    EXPECT_EQ(catchFatal([&] { ifInitVolumeData(&uf, img.get()); }, message), PX_FATAL_ARGUMENT);
    ufReleaseUnionFind(&uf);
    ufStartUnionFind(&uf, 5, 3);
    EXPECT_EQ(catchFatal([&] { ifInitColorData(&uf, img.get()); }, message), PX_FATAL_ARGUMENT);
    EXPECT_EQ(catchFatal([&] { ifInitVolumeData(&uf, img.get()); }, message), 0);
    ufReleaseUnionFind(&uf);
}
