#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

using testing::ExitedWithCode;

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

ImagePtr readImage(const std::string &path, int *type = nullptr)
{
    Image *img = nullptr;
    int t = pxReadImage(path.c_str(), &img);
    if (type) *type = t;
    return ImagePtr(img);
}

ImagePtr readContent(const TempDir &dir, const std::string &content, int *type = nullptr)
{
    std::string path = dir.file("in.pnm");
    writeFile(path, content);
    return readImage(path, type);
}

std::string saved(const TempDir &dir, Image *img)
{
    std::string path = dir.file("out.pnm");
    pxSaveImage(path.c_str(), img);
    return readFile(path);
}

// The writer as printf would produce it, one field at a time.
std::string referenceP2(const Image *img)
{
    std::string s;
    char buf[64];
    std::snprintf(buf, sizeof buf, "P2\n%d %d\n%d\n", img->ncols, img->nrows, img->maxValue);
    s += buf;
    for (int p = 0; p < img->npixels; ++p) {
        std::snprintf(buf, sizeof buf, "%5d ", img->bands[0][p]);
        s += buf;
        if ((p + 1) % 16 == 0) s += "\n";
    }
    return s;
}

// ---- reading ------------------------------------------------------------------

TEST(ImageRead, TextFileGivesIntegerGreyWithHeaderMaximum)
{
    TempDir dir;
    int type = 0;
    ImagePtr img = readContent(dir, "P2\n3 2\n9\n1 2 3\n4 5 6\n", &type);
    EXPECT_EQ(type, PX_GREY_INT);
    EXPECT_EQ(img->type, PX_GREY_INT);
    EXPECT_EQ(img->nbands, 1);
    EXPECT_EQ(img->ncols, 3);
    EXPECT_EQ(img->nrows, 2);
    EXPECT_EQ(img->maxValue, 9);
    EXPECT_EQ(bandValues(img.get()), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(saved(dir, img.get()), "P2\n3 2\n9\n    1     2     3     4     5     6 ");
}

TEST(ImageRead, TextValuesKeepSignAndRaiseAShortMaximum)
{
    TempDir dir;
    ImagePtr img = readContent(dir, "P2\n4 1\n5\n-4\t9\n\n+2 -2147483648 trailing words");
    EXPECT_EQ(bandValues(img.get()), (std::vector<int>{-4, 9, 2, INT_MIN}));
    EXPECT_EQ(img->maxValue, 9);

    ImagePtr zero = readContent(dir, "P2\n2 1\n0\n0 0");
    EXPECT_EQ(zero->maxValue, 0);
    ImagePtr top = readContent(dir, "P2\n1 1\n3\n2147483647");
    EXPECT_EQ(top->maxValue, INT_MAX);
}

TEST(ImageRead, CommentsMayStandBetweenAnyHeaderFields)
{
    TempDir dir;
    ImagePtr text = readContent(dir, "P2 # a\n#b\n3 # c\n\n2#d\n# e\n9\n1 2 3 4 5 6");
    EXPECT_EQ(text->ncols, 3);
    EXPECT_EQ(text->nrows, 2);
    EXPECT_EQ(text->maxValue, 9);
    EXPECT_EQ(bandValues(text.get()), (std::vector<int>{1, 2, 3, 4, 5, 6}));

    ImagePtr magic = readContent(dir, "P5#right after the magic\n2 1 255\n" + bytes({7, 8}));
    EXPECT_EQ(bandValues(magic.get()), (std::vector<int>{7, 8}));

    ImagePtr classic = readContent(dir, "P5\n# one comment line\n2 1\n255\n" + bytes({0, 255}));
    EXPECT_EQ(bandValues(classic.get()), (std::vector<int>{0, 255}));
}

TEST(ImageRead, ExactlyOneWhiteSpaceCharacterEndsTheHeader)
{
    TempDir dir;
    // Raster bytes that look like white space or a comment are data.
    ImagePtr plain = readContent(dir, "P5\n3 1\n255\n" + bytes({'\n', ' ', '\t'}));
    EXPECT_EQ(bandValues(plain.get()), (std::vector<int>{'\n', ' ', '\t'}));

    ImagePtr noted = readContent(dir, "P5\n3 1\n255# note\n" + bytes({' ', '\n', '#'}));
    EXPECT_EQ(bandValues(noted.get()), (std::vector<int>{' ', '\n', '#'}));

    ImagePtr spaced = readContent(dir, "P5 3 1 255\r" + bytes({'#', 1, 2}));
    EXPECT_EQ(bandValues(spaced.get()), (std::vector<int>{'#', 1, 2}));
}

TEST(ImageRead, EightBitBinaryFormatsGiveOneBytePerSample)
{
    TempDir dir;
    int type = 0;
    ImagePtr grey = readContent(dir, "P5\n2 2\n255\n" + bytes({0, 128, 255, 1}), &type);
    EXPECT_EQ(type, PX_GREY8);
    EXPECT_EQ(grey->type, PX_GREY8);
    EXPECT_EQ(grey->maxValue, 255);
    EXPECT_EQ(bandValues(grey.get()), (std::vector<int>{0, 128, 255, 1}));

    ImagePtr colour = readContent(dir, "P6\n2 1\n255\n" + bytes({10, 20, 30, 200, 0, 7}), &type);
    EXPECT_EQ(type, PX_COLOR8);
    EXPECT_EQ(colour->nbands, 3);
    EXPECT_EQ(bandValues(colour.get(), 0), (std::vector<int>{10, 200}));
    EXPECT_EQ(bandValues(colour.get(), 1), (std::vector<int>{20, 0}));
    EXPECT_EQ(bandValues(colour.get(), 2), (std::vector<int>{30, 7}));
    EXPECT_EQ(saved(dir, colour.get()), "P6\n2 1\n255\n" + bytes({10, 20, 30, 200, 0, 7}));

    // A sample above the declared maximum raises maxValue; the type stays 8-bit.
    ImagePtr low = readContent(dir, "P5\n3 1\n100\n" + bytes({5, 200, 100}), &type);
    EXPECT_EQ(type, PX_GREY8);
    EXPECT_EQ(low->maxValue, 200);
    ImagePtr binary = readContent(dir, "P5\n2 1\n1\n" + bytes({0, 1}));
    EXPECT_EQ(binary->maxValue, 1);
}

TEST(ImageRead, MaximumAbove255GivesBigEndianTwoByteSamples)
{
    TempDir dir;
    int type = 0;
    ImagePtr grey =
        readContent(dir, "P5\n3 1\n1000\n" + bytes({0x00, 0x01, 0x03, 0xE8, 0x07, 0xD0}), &type);
    EXPECT_EQ(type, PX_GREY16);
    EXPECT_EQ(grey->type, PX_GREY16);
    EXPECT_EQ(bandValues(grey.get()), (std::vector<int>{1, 1000, 2000}));
    EXPECT_EQ(grey->maxValue, 2000);

    ImagePtr colour = readContent(
        dir, "P6\n1 1\n65535\n" + bytes({0xFF, 0xFF, 0x01, 0x00, 0x00, 0x02}), &type);
    EXPECT_EQ(type, PX_COLOR16);
    EXPECT_EQ(colour->nbands, 3);
    EXPECT_EQ(colour->maxValue, 65535);
    EXPECT_EQ(colour.at(0, 0), 65535);
    EXPECT_EQ(colour.at(0, 1), 256);
    EXPECT_EQ(colour.at(0, 2), 2);
}

TEST(ImageReadDeathTest, MissingFileAndUnknownMagicEndTheProgram)
{
    TempDir dir;
    std::string missing = dir.file("absent.pgm");
    EXPECT_EXIT(readImage(missing), ExitedWithCode(1), "could not open file .*absent.pgm\n");

    std::string path = dir.file("in.pnm");
    writeFile(path, "P3\n1 1\n255\n0 0 0\n");
    EXPECT_EXIT(readImage(path), ExitedWithCode(1), "unknown file format; trying to read P3\n");
    writeFile(path, "P55 1 1 255\n");
    EXPECT_EXIT(readImage(path), ExitedWithCode(1), "unknown file format; trying to read P55\n");
    writeFile(path, "");
    EXPECT_EXIT(readImage(path), ExitedWithCode(1), "unknown file format; trying to read");
}

TEST(ImageReadDeathTest, UnusableHeadersAreRejectedWithTheirReason)
{
    TempDir dir;
    std::string path = dir.file("bad.pnm");
    const struct {
        std::string content, reason;
    } cases[] = {
        {"P2\n", "missing width"},
        {"P2 # nothing but a comment\n", "missing width"},
        {"P2\n3", "missing height"},
        {"P5\n3 2", "missing maximum value"},
        {"P2\nabc 2 9\n", "non-numeric width"},
        {"P2\n3 x 9\n", "non-numeric height"},
        {"P2\n3 2x 9\n", "non-numeric height"},
        {"P5\n3 2 25a5\n", "non-numeric maximum value"},
        {"P2\n0 2\n9\n", "width below 1"},
        {"P2\n-3 2\n9\n1 2 3 4 5 6", "width below 1"},
        {"P5\n3 0\n255\n", "height below 1"},
        {"P6\n3 -1\n255\n", "height below 1"},
        {"P5\n65536 65536\n255\n", "image too large"},
        {"P2\n46341 46341\n9\n", "image too large"},
        {"P5\n99999999999 2\n255\n", "image too large"},
        {"P5\n3 2\n0\n123456", "maximum value out of range"},
        {"P5\n3 2\n70000\n", "maximum value out of range"},
        {"P6\n1 1\n-5\n", "maximum value out of range"},
        {"P6\n1 1\n99999999999\n", "maximum value out of range"},
        {"P2\n3 2\n-1\n1 2 3 4 5 6", "maximum value out of range"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile(path, c.content);
        EXPECT_EXIT(readImage(path), ExitedWithCode(1),
                    "^invalid header in file " + path + ": " + c.reason + "\n$");
    }
}

TEST(ImageReadDeathTest, ShortOrMalformedBodiesReportHowManyPixelsWereRead)
{
    TempDir dir;
    std::string path = dir.file("short.pnm");
    const struct {
        std::string content;
        long long expected, read;
    } cases[] = {
        {"P2\n3 2\n9\n1 2 3 4", 6, 4},
        {"P2\n3 2\n9\n", 6, 0},
        {"P2\n3 2\n9\n1 2 x 4 5 6", 6, 2},
        {"P2\n3 2\n9\n1 2 3a 4 5 6", 6, 2},
        {"P2\n3 2\n9\n1 2 3 - 5 6", 6, 3},
        {"P2\n3 2\n9\n1 2 3 2147483648 5 6", 6, 3},
        {"P2\n3 2\n9\n1 -2147483649 3 4 5 6", 6, 1},
        {"P2\n3 2\n9\n1 2 # 4 5 6", 6, 2},
        {"P5\n3 2\n255\n" + bytes({1, 2, 3, 4, 5}), 6, 5},
        {"P6\n2 1\n255\n" + bytes({1, 2, 3, 4, 5}), 6, 5},
        {"P5\n2 1\n1000\n" + bytes({0, 1, 2}), 2, 1},
        {"P6\n1 1\n65535\n" + bytes({0, 1, 2, 3, 4}), 3, 2},
        // huge headers over short bodies are refused before any raster is allocated
        {"P5\n40000 40000\n255\n" + bytes({1, 2, 3}), 1600000000, 3},
        {"P6\n40000 40000\n65535\n" + bytes({1, 2, 3}), 4800000000LL, 1},
        {"P2\n40000 40000\n7\n1 2 3 x", 1600000000, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile(path, c.content);
        EXPECT_EXIT(readImage(path), ExitedWithCode(1),
                    "^error reading file " + path + "; expecting " + std::to_string(c.expected) +
                        " pixels, read " + std::to_string(c.read) + "\n$");
    }
}

// ---- writing ------------------------------------------------------------------

TEST(ImageWrite, EightBitGreyKeepsTheLowByteUnderA255Header)
{
    TempDir dir;
    ImagePtr img = makeImage(4, 1, {300, -1, 255, 0}, PX_GREY8, 1000);
    EXPECT_EQ(saved(dir, img.get()), "P5\n4 1\n255\n" + bytes({44, 255, 255, 0}));
}

TEST(ImageWrite, ColourKeepsTheLowByteOfEachBand)
{
    TempDir dir;
    ImagePtr img(pxCreateImage(3, PX_COLOR8, 1, 2));
    const int v[3][2] = {{10, 256}, {20, 511}, {30, -2}};
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 2; ++p) img.at(p, b) = v[b][p];
    EXPECT_EQ(saved(dir, img.get()), "P6\n1 2\n255\n" + bytes({10, 20, 30, 0, 255, 254}));
}

TEST(ImageWrite, TextBreaksTheLineAfterEverySixteenthValueOnly)
{
    TempDir dir;
    std::string line;
    for (int i = 0; i < 16; ++i) line += "    1 ";
    ImagePtr sixteen = makeImage(16, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(saved(dir, sixteen.get()), "P2\n16 1\n1\n" + line + "\n");
    ImagePtr seventeen = makeImage(17, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(saved(dir, seventeen.get()), "P2\n17 1\n1\n" + line + "\n    1 ");
}

TEST(ImageWrite, TextSetsAnUnknownMaximumFromTheValues)
{
    TempDir dir;
    ImagePtr img = makeImage(3, 1, {0, 3, 7}, PX_GREY_INT, 0);
    EXPECT_EQ(saved(dir, img.get()), "P2\n3 1\n7\n    0     3     7 ");
    EXPECT_EQ(img->maxValue, 7);

    ImagePtr negative = makeImage(2, 1, {-4, -123456}, PX_GREY_INT, 0);
    EXPECT_EQ(saved(dir, negative.get()), "P2\n2 1\n0\n   -4 -123456 ");
    EXPECT_EQ(negative->maxValue, 0);

    ImagePtr known = makeImage(2, 1, {1, 2}, PX_GREY_INT, 50);
    EXPECT_EQ(saved(dir, known.get()), "P2\n2 1\n50\n    1     2 ");
}

TEST(ImageWrite, TextMatchesPrintfFieldForFieldOnRandomValues)
{
    TempDir dir;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int> small(-20000, 20000);
    const int sizes[][2] = {{1, 1}, {7, 3}, {16, 2}, {500, 400}};
    for (const auto &s : sizes) {
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, s[0], s[1]));
        for (int p = 0; p < img->npixels; ++p) img.at(p) = (p % 3 == 0) ? any(rng) : small(rng);
        img.at(0) = INT_MIN;
        img.at(img->npixels - 1) = img->npixels > 1 ? INT_MAX : INT_MIN;
        if (img->npixels > 4) {
            img.at(1) = 0;
            img.at(2) = -9999;
            img.at(3) = 99999;
        }
        img->maxValue = 77;
        EXPECT_EQ(saved(dir, img.get()), referenceP2(img.get())) << s[0] << "x" << s[1];
    }
}

TEST(ImageWrite, SixteenBitHeaderCoversTheSamplesAndStaysAbove255)
{
    TempDir dir;
    ImagePtr clamped = makeImage(4, 1, {-5, 0, 70000, 300}, PX_GREY16, 0);
    EXPECT_EQ(saved(dir, clamped.get()),
              "P5\n4 1\n65535\n" + bytes({0, 0, 0, 0, 0xFF, 0xFF, 0x01, 0x2C}));

    ImagePtr small = makeImage(2, 1, {1, 2}, PX_GREY16, 0);
    EXPECT_EQ(saved(dir, small.get()), "P5\n2 1\n256\n" + bytes({0, 1, 0, 2}));

    ImagePtr declared = makeImage(1, 1, {500}, PX_GREY16, 1000);
    EXPECT_EQ(saved(dir, declared.get()), "P5\n1 1\n1000\n" + bytes({0x01, 0xF4}));

    ImagePtr colour(pxCreateImage(3, PX_COLOR16, 1, 1));
    colour.at(0, 0) = 258;
    colour.at(0, 1) = 4;
    colour.at(0, 2) = 1023;
    EXPECT_EQ(saved(dir, colour.get()), "P6\n1 1\n1023\n" + bytes({1, 2, 0, 4, 3, 0xFF}));
}

TEST(ImageWrite, UnknownTypeLeavesAnEmptyFileAndReturns)
{
    TempDir dir;
    ImagePtr img(pxCreateImage(4, PX_WORK, 2, 2));
    testing::internal::CaptureStderr();
    std::string content = saved(dir, img.get());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not write image. Unknown type.");
    EXPECT_EQ(content, "");
}

TEST(ImageWrite, SampleImagesAreReproducedByteForByte)
{
    TempDir dir;
    const struct {
        const char *name;
        int type, ncols, nrows;
    } files[] = {{"camera.pgm", PX_GREY8, 512, 512},
                 {"coins.pgm", PX_GREY8, 384, 303},
                 {"cell.pgm", PX_GREY8, 550, 660},
                 {"horse.pgm", PX_GREY8, 400, 328},
                 {"chelsea.ppm", PX_COLOR8, 451, 300}};
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        int type = 0;
        ImagePtr img = readImage(dataPath(f.name), &type);
        EXPECT_EQ(type, f.type);
        EXPECT_EQ(img->ncols, f.ncols);
        EXPECT_EQ(img->nrows, f.nrows);
        EXPECT_EQ(img->maxValue, 255);
        EXPECT_TRUE(saved(dir, img.get()) == readFile(dataPath(f.name)));
    }
}

TEST(ImageWrite, WrittenFilesReadBackToTheSameImageAndBytes)
{
    TempDir dir;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> wide(0, 65535);
    std::uniform_int_distribution<int> any(-1000000, 1000000);
    const struct {
        int type, nbands;
    } kinds[] = {{PX_GREY_INT, 1}, {PX_GREY16, 1}, {PX_COLOR16, 3}};
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.type);
        ImagePtr img(pxCreateImage(k.nbands, k.type, 37, 11));
        for (int b = 0; b < k.nbands; ++b)
            for (int p = 0; p < img->npixels; ++p)
                img.at(p, b) = k.type == PX_GREY_INT ? any(rng) : wide(rng);
        std::string first = saved(dir, img.get());
        int type = 0;
        ImagePtr back = readImage(dir.file("out.pnm"), &type);
        EXPECT_EQ(type, k.type);
        EXPECT_EQ(back->nbands, k.nbands);
        for (int b = 0; b < k.nbands; ++b) EXPECT_EQ(bandValues(back.get(), b), bandValues(img.get(), b));
        EXPECT_TRUE(saved(dir, back.get()) == first);
    }
}

TEST(ImageWriteDeathTest, FailedWritesEndTheProgram)
{
    TempDir dir;
    std::string blocked = dir.file("no/such/folder/out.pgm");
    ImagePtr grey = makeImage(2, 2, {1, 2, 3, 4}, PX_GREY8);
    EXPECT_EXIT(pxSaveImage(blocked.c_str(), grey.get()), ExitedWithCode(1),
                "could not open file .*out.pgm for writing\n");

    ImagePtr text = makeImage(2, 2, {1, 2, 3, 4});
    ImagePtr colour(pxCreateImage(3, PX_COLOR8, 2, 2));
    ImagePtr wide = makeImage(2, 1, {1000, 2}, PX_GREY16);
    ImagePtr big(pxCreateImage(1, PX_GREY_INT, 1000, 1000)); // larger than one text chunk
    ImagePtr bigGrey(pxCreateImage(1, PX_GREY8, 1000, 1000));
    for (Image *img : {grey.get(), text.get(), colour.get(), wide.get(), big.get(), bigGrey.get()}) {
        SCOPED_TRACE(static_cast<int>(img->type));
        EXPECT_EXIT(pxSaveImage("/dev/full", img), ExitedWithCode(1),
                    "^error writing image /dev/full\n$");
    }
}

} // namespace
