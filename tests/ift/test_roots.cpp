#include <gtest/gtest.h>

#include <sys/resource.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

using testing::ExitedWithCode;

std::vector<int> values(const int *a, int n) { return std::vector<int>(a, a + n); }

// Reads a roots file, returning the record and what the reader printed.
RootsPtr readRoots(const std::string &path, Image *img, std::string *out = nullptr,
                   std::string *err = nullptr)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Roots *r = ifReadRoots(path.c_str(), img);
    std::string o = testing::internal::GetCapturedStdout();
    std::string e = testing::internal::GetCapturedStderr();
    if (out) *out = o;
    if (err) *err = e;
    return RootsPtr(r);
}

TEST(SeedSet, AllocateGivesZeroFilledArraysAndReleaseFreesThem)
{
    Roots r;
    ifAllocateRoots(&r, 4);
    EXPECT_EQ(r.count, 4);
    EXPECT_EQ(values(r.pixel, 4), std::vector<int>(4, 0));
    EXPECT_EQ(values(r.label, 4), std::vector<int>(4, 0));
    EXPECT_EQ(values(r.cost, 4), std::vector<int>(4, 0));
    ifReleaseRoots(&r);

    Roots empty;
    ifAllocateRoots(&empty, 0);
    EXPECT_EQ(empty.count, 0);
    ifReleaseRoots(&empty);

    ContourRoots c;
    c.pixel = static_cast<int *>(std::calloc(2, sizeof(int)));
    c.position = static_cast<int *>(std::calloc(2, sizeof(int)));
    c.contour = static_cast<int *>(std::calloc(2, sizeof(int)));
    c.spare = static_cast<int *>(std::calloc(2, sizeof(int)));
    c.count = 2;
    ifReleaseRoots2(&c); // the sanitizer build reports anything left behind
}

TEST(RootsFile, SaveWritesCountThenColumnRowAndLabel)
{
    TempDir dir;
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    SeedSet seeds({0, 7, 12}, {1, 1, 2}, {9, 9, 9});
    std::string path = dir.file("seeds.txt");
    ifSaveRoots(path.c_str(), img.get(), seeds.get());
    EXPECT_EQ(readFile(path), "3\n0 0 1\n2 1 1\n2 2 2\n");

    SeedSet none;
    ifSaveRoots(path.c_str(), img.get(), none.get());
    EXPECT_EQ(readFile(path), "0\n");
}

TEST(RootsFile, SaveContourRootsWritesPositionsInPlaceOfLabels)
{
    TempDir dir;
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 4, 4));
    int pixel[] = {5, 6, 15}, position[] = {1, 2, 3}, contour[] = {1, 1, 2}, spare[] = {0, 0, 0};
    ContourRoots c{pixel, position, contour, spare, 3};
    std::string path = dir.file("contours.txt");
    ifSaveRoots2(path.c_str(), img.get(), &c);
    EXPECT_EQ(readFile(path), "3\n1 1 1\n2 1 2\n3 3 3\n");
}

TEST(RootsFile, ReadMapsSeedsThroughTheReadersImage)
{
    TempDir dir;
    std::string path = dir.file("seeds.txt");
    writeFile(path, "3\n0 0 1\n2 1 1\n2 2 2\n");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    std::string out;
    RootsPtr r = readRoots(path, img.get(), &out);
    ASSERT_NE(r.get(), nullptr);
    EXPECT_EQ(r->count, 3);
    EXPECT_EQ(values(r->pixel, 3), (std::vector<int>{0, 7, 12}));
    EXPECT_EQ(values(r->label, 3), (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(values(r->cost, 3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(out, "read: 0 1\nread: 7 1\nread: 12 2\n");

    // The line structure is free and a wider image gives other indices.
    writeFile(path, "  2 0 0 -4\t3\n\n 2 17 trailing text");
    ImagePtr wide(pxCreateImage(1, PX_GREY_INT, 10, 3));
    RootsPtr w = readRoots(path, wide.get(), &out);
    ASSERT_NE(w.get(), nullptr);
    EXPECT_EQ(values(w->pixel, 2), (std::vector<int>{0, 23}));
    EXPECT_EQ(values(w->label, 2), (std::vector<int>{-4, 17}));
}

TEST(RootsFile, ReadWithoutAPositiveCountGivesNoRecord)
{
    TempDir dir;
    std::string path = dir.file("seeds.txt");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    for (const char *content : {"0\n", "-2\n0 0 1\n", "", "  \n", "x\n", "3x\n0 0 1\n",
                                "2147483648\n0 0 1\n", "99999999999\n"}) {
        SCOPED_TRACE(content);
        writeFile(path, content);
        std::string out, err;
        RootsPtr r = readRoots(path, img.get(), &out, &err);
        EXPECT_EQ(r.get(), nullptr);
        EXPECT_EQ(err, "invalid number of roots in file " + path + "\n");
        EXPECT_EQ(out, "");
    }
}

TEST(RootsFileDeathTest, UnopenableFilesEndTheProgram)
{
    TempDir dir;
    std::string missing = dir.file("absent.txt");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 2, 2));
    EXPECT_EXIT(ifReadRoots(missing.c_str(), img.get()), ExitedWithCode(1),
                "^Could not open file .*absent.txt for reading\n$");
    std::string blocked = dir.file("no/folder/seeds.txt");
    SeedSet seeds({0}, {1}, {0});
    EXPECT_EXIT(ifSaveRoots(blocked.c_str(), img.get(), seeds.get()), ExitedWithCode(1),
                "^Could not open file .*seeds.txt for writing\n$");
}

TEST(RootsFileDeathTest, FailedWritesEndTheProgram)
{
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 4, 4));
    SeedSet seeds({0, 5}, {1, 2}, {0, 0});
    EXPECT_EXIT(ifSaveRoots("/dev/full", img.get(), seeds.get()), ExitedWithCode(1),
                "^error writing roots file /dev/full\n$");
    int pixel[] = {5}, position[] = {1}, contour[] = {1}, spare[] = {0};
    ContourRoots c{pixel, position, contour, spare, 1};
    EXPECT_EXIT(ifSaveRoots2("/dev/full", img.get(), &c), ExitedWithCode(1),
                "^error writing roots file /dev/full\n$");
}

TEST(RootsFileDeathTest, MissingOrMalformedSeedsEndTheProgram)
{
    TempDir dir;
    std::string path = dir.file("seeds.txt");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    const struct {
        const char *content;
        int seed;
    } cases[] = {
        {"3\n0 0 1\n2 1 1\n", 2}, {"2\n0 0 1\n2 1\n", 1},     {"1\n", 0},
        {"2\n0 0 1\n2 y 1\n", 1}, {"1\n0 0 1.5\n", 0},        {"1\n0 0 2147483648\n", 0},
        {"1\n0 0 #1\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile(path, c.content);
        EXPECT_EXIT(ifReadRoots(path.c_str(), img.get()), ExitedWithCode(1),
                    "^error reading seed " + std::to_string(c.seed) + " from file " + path + "\n$");
    }
}

TEST(RootsFileDeathTest, SeedsOutsideTheImageEndTheProgram)
{
    TempDir dir;
    std::string path = dir.file("seeds.txt");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    const struct {
        const char *content;
        int seed;
    } cases[] = {
        {"2\n4 2 1\n5 0 1\n", 1}, {"1\n0 3 1\n", 0}, {"1\n-1 0 1\n", 0}, {"3\n0 0 1\n1 1 1\n0 -1 1\n", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile(path, c.content);
        EXPECT_EXIT(ifReadRoots(path.c_str(), img.get()), ExitedWithCode(1),
                    "^seed " + std::to_string(c.seed) + " of file " + path + " lies outside the image\n$");
    }
}

// A count far beyond the seeds present must not be used to size memory: with
// the address space limited to well under the gigabytes such a count implies,
// the reader still gets to the missing seed.
TEST(RootsFileDeathTest, HugeCountInAShortFileAllocatesOnlyWhatIsRead)
{
    TempDir dir;
    std::string path = dir.file("seeds.txt");
    writeFile(path, "2000000000\n0 0 1\n1 1 2\n");
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 5, 3));
    auto readLimited = [&] {
#if !defined(__SANITIZE_ADDRESS__)
        // The sanitizer reserves terabytes of shadow memory, so the limit is
        // only applied without it.
        rlimit limit{1ull << 31, 1ull << 31};
        setrlimit(RLIMIT_AS, &limit);
#endif
        ifReadRoots(path.c_str(), img.get());
    };
    EXPECT_EXIT(readLimited(), ExitedWithCode(1),
                "^error reading seed 2 from file " + path + "\n$");
}

TEST(SeedSet, VisualizePaintsLabelsWithLaterSeedsWinning)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, 3, 2));
    SeedSet seeds({1, 4, 1, 5}, {7, 2, 9, -3}, {0, 0, 0, 0});
    ImagePtr view(ifVisualizeRoots(img.get(), seeds.get()));
    EXPECT_EQ(view->type, PX_GREY_INT);
    EXPECT_EQ(view->nbands, 1);
    EXPECT_EQ(view->ncols, 3);
    EXPECT_EQ(view->nrows, 2);
    EXPECT_EQ(view->maxValue, 0);
    EXPECT_EQ(bandValues(view.get()), (std::vector<int>{0, 9, 0, 0, 2, -3}));
}

TEST(SeedSet, LabelImageGivesOneSeedPerPositivePixel)
{
    ImagePtr labels = makeImage(2, 2, {0, 3, -1, 3});
    RootsPtr r(ifLabelsToRoots(labels.get()));
    ASSERT_EQ(r->count, 2);
    EXPECT_EQ(values(r->pixel, 2), (std::vector<int>{1, 3}));
    EXPECT_EQ(values(r->label, 2), (std::vector<int>{3, 3}));
    EXPECT_EQ(values(r->cost, 2), (std::vector<int>{0, 0}));

    ImagePtr blank = makeImage(2, 1, {0, -5});
    RootsPtr none(ifLabelsToRoots(blank.get()));
    EXPECT_EQ(none->count, 0);
}

TEST(SeedSet, FrameListsTopBottomLeftThenRight)
{
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 4, 3));
    RootsPtr numbered(ifFrameAsRoots(img.get(), 0, 99));
    ASSERT_EQ(numbered->count, 10);
    EXPECT_EQ(values(numbered->pixel, 10), (std::vector<int>{0, 1, 2, 3, 8, 9, 10, 11, 4, 7}));
    EXPECT_EQ(values(numbered->label, 10), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(values(numbered->cost, 10), std::vector<int>(10, 0));

    RootsPtr uniform(ifFrameAsRoots(img.get(), 1, 5));
    EXPECT_EQ(values(uniform->label, 10), std::vector<int>(10, 5));
}

TEST(SeedSet, FrameOfThinImagesHoldsExactlyThePixelsListed)
{
    struct Case {
        int ncols, nrows;
        std::vector<int> pixels;
    };
    const Case cases[] = {
        {1, 3, {0, 2, 1, 1}},
        {3, 1, {0, 1, 2, 0, 1, 2}},
        {1, 1, {0, 0}},
        {2, 2, {0, 1, 2, 3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.ncols) + "x" + std::to_string(c.nrows));
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, c.ncols, c.nrows));
        RootsPtr r(ifFrameAsRoots(img.get(), 0, 0));
        ASSERT_EQ(r->count, static_cast<int>(c.pixels.size()));
        EXPECT_EQ(values(r->pixel, r->count), c.pixels);
        for (int k = 0; k < r->count; ++k) EXPECT_EQ(r->label[k], k + 1);
    }
}

TEST(RootsFile, SavedFrameReadsBackInOrder)
{
    TempDir dir;
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 6, 4));
    RootsPtr frame(ifFrameAsRoots(img.get(), 0, 0));
    std::string path = dir.file("frame.txt");
    ifSaveRoots(path.c_str(), img.get(), frame.get());
    RootsPtr back = readRoots(path, img.get());
    ASSERT_NE(back.get(), nullptr);
    ASSERT_EQ(back->count, frame->count);
    EXPECT_EQ(values(back->pixel, back->count), values(frame->pixel, frame->count));
    EXPECT_EQ(values(back->label, back->count), values(frame->label, frame->count));
}

} // namespace
