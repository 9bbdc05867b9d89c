// The sower program, run as a process: standard output, standard error, exit
// status and the roots file, byte for byte.

#include <random>

#include "cli/cli_support.h"

namespace {

using namespace cli;

struct Sower : ::testing::Test {
    TempDir dir;
    std::string img = dir.file("img.pgm");
    std::string roots = dir.file("out.txt");

    RunResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), sowerPath());
        return runProgram(args, dir.path);
    }
    std::string read(const std::string &header, const std::string &rest) const
    {
        return "Image " + header + " was read\n" + rest;
    }
};

TEST_F(Sower, UsageWithFewerThanThreeArgumentsOpensNothing)
{
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"missing.pgm", "out.txt"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, sowerUsage(sowerPath()));
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(fileExists(dir.file("out.txt")));
}

TEST_F(Sower, FrameNumbersEveryFramePixelOrUsesOneLabel)
{
    writeFile(img, p5(4, 3, std::vector<int>(12, 9)));
    RunResult r = run({img, roots, "frame", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "there are 10 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "10\n0 0 1\n1 0 2\n2 0 3\n3 0 4\n0 2 5\n1 2 6\n2 2 7\n3 2 8\n0 1 9\n3 1 10\n");

    r = run({img, roots, "frame", "1", "7"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots), "10\n0 0 7\n1 0 7\n2 0 7\n3 0 7\n0 2 7\n1 2 7\n2 2 7\n3 2 7\n0 1 7\n3 1 7\n");

    // uniform 0 takes no label, so extra arguments are ignored; strtol leniency
    r = run({img, roots, "frame", " 0abc", "5", "extra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots).substr(0, 9), "10\n0 0 1\n");
}

TEST_F(Sower, FrameOfOneRowImageHoldsExactlyItsPixels)
{
    writeFile(img, p5(3, 1, {1, 2, 3}));
    RunResult r = run({img, roots, "frame", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots), "6\n0 0 1\n1 0 2\n2 0 3\n0 0 4\n1 0 5\n2 0 6\n");
}

TEST_F(Sower, FrameArgumentErrorsFailWithStatusOne)
{
    writeFile(img, p5(4, 3, std::vector<int>(12, 9)));
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{img, roots, "frame"}, "value not suplied for <uniform label>\n"},
        {{img, roots, "frame", "1"}, "value not suplied for <label>\n"},
        {{img, roots, "frame", "1", "7", "8"}, "value not suplied for <label>\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, read(img, ""));
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fileExists(roots));
    }
}

TEST_F(Sower, LabelsMakeOneSeedPerPositivePixel)
{
    writeFile(img, p2(2, 2, {0, 3, -1, 3}));
    RunResult r = run({img, roots, "labels", "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "there are 2 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "2\n1 0 3\n1 1 3\n");
}

TEST_F(Sower, JoinConcatenatesBothFilesInOrder)
{
    writeFile(img, p5(5, 3, std::vector<int>(15, 1)));
    writeFile(dir.file("a.txt"), "3\n0 0 1\n2 1 1\n2 2 2\n");
    writeFile(dir.file("b.txt"), "1 4 0 9");
    RunResult r = run({img, roots, "join", "a.txt", "b.txt", "extra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "read: 0 1\nread: 7 1\nread: 12 2\nread file a.txt\n"
                               "read: 4 9\nread file b.txt\nthere are 4 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "4\n0 0 1\n2 1 1\n2 2 2\n4 0 9\n");

    r = run({img, roots, "join", "a.txt", "a.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots), "6\n0 0 1\n2 1 1\n2 2 2\n0 0 1\n2 1 1\n2 2 2\n");
}

TEST_F(Sower, JoinFailuresWriteNoRootsFile)
{
    writeFile(img, p5(5, 3, std::vector<int>(15, 1)));
    writeFile(dir.file("a.txt"), "1\n0 0 1\n");
    writeFile(dir.file("empty.txt"), "0\n");
    writeFile(dir.file("neg.txt"), "-4\n");
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{img, roots, "join", "a.txt"}, "", "invalid seed file(s) name(s)\n"},
        {{img, roots, "join", "empty.txt", "a.txt"}, "",
         "invalid number of roots in file empty.txt\nerror reading seeds file empty.txt\n"},
        {{img, roots, "join", "a.txt", "neg.txt"}, "read: 0 1\nread file a.txt\n",
         "invalid number of roots in file neg.txt\nerror reading seeds file neg.txt\n"},
        {{img, roots, "join", "a.txt", "nope.txt"}, "read: 0 1\nread file a.txt\n",
         "Could not open file nope.txt for reading\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.out, read(img, c.out));
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fileExists(roots));
    }
}

TEST_F(Sower, UnknownOptionIsCaseSensitive)
{
    writeFile(img, p5(2, 2, {1, 2, 3, 4}));
    RunResult r = run({img, roots, "regmax", "0", "255"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, read(img, ""));
    EXPECT_EQ(r.err, "Invalid opt regmax\n");
    EXPECT_FALSE(fileExists(roots));
}

TEST_F(Sower, FileErrorsEndWithStatusOne)
{
    RunResult r = run({"missing.pgm", roots, "frame", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "could not open file missing.pgm\n");

    writeFile(img, p5(2, 2, {1, 2, 3, 4}));
    r = run({img, dir.file("no/such/dir.txt"), "frame", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Could not open file " + dir.file("no/such/dir.txt") + " for writing\n");

    r = run({img, "/dev/full", "frame", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error writing roots file /dev/full\n");
}

TEST_F(Sower, ArgumentCountsOfTheAnalysisMethods)
{
    writeFile(img, p5(2, 2, {1, 2, 3, 4}));
    for (auto args : {std::vector<std::string>{img, roots, "regMax", "0"},
                      std::vector<std::string>{img, roots, "regMin", "0", "1", "2"},
                      std::vector<std::string>{img, roots, "cells"},
                      std::vector<std::string>{img, roots, "cells", "1", "2"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, read(img, "Invalid number of parameters\n"));
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fileExists(roots));
    }
}

TEST_F(Sower, RegionalExtremaKeepTheSeedsInTheRange)
{
    // Maxima: the 9 plateau (2 pixels, label 1) and the 7 (label 2); minima: the 0s.
    writeFile(img, p5(4, 3, {9, 9, 1, 7,
                             1, 1, 1, 1,
                             0, 1, 1, 0}));
    RunResult r = run({img, roots, "regMax", "0", "255"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "regMax: 0 255\nin ifLabelImage\nin ifLabelImage\nthere are 3 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "3\n0 0 1\n1 0 1\n3 0 2\n");

    r = run({img, roots, "regMax", "8", "9"});
    EXPECT_EQ(readFile(roots), "2\n0 0 1\n1 0 1\n");
    r = run({img, roots, "regMax", "7", "7"});
    EXPECT_EQ(readFile(roots), "1\n3 0 2\n");  // labels keep their gaps

    r = run({img, roots, "regMax", "10", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, read(img, "regMax: 10 5\nin ifLabelImage\nin ifLabelImage\nthere are 0 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "0\n");

    r = run({img, roots, "regMin", "0", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, read(img, "regMin: 0 0\nin ifLabelImage\nin ifLabelImage\nthere are 2 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "2\n0 2 1\n3 2 2\n");
}

TEST_F(Sower, RegMaxOverTheFullRangeMatchesTheLibraryOnRealImages)
{
    for (const char *name : {"coins.pgm", "horse.pgm"}) {
        Image *raw = nullptr;
        pxReadImage(dataPath(name).c_str(), &raw);
        ImagePtr image(raw);
        testing::internal::CaptureStdout();
        RootsPtr all(ifRegionalMaximaAsRoots(image.get()));
        testing::internal::GetCapturedStdout();
        RunResult r = run({dataPath(name), roots, "regMax", "0", "255"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(readFile(roots), rootsText(all.get(), image->ncols)) << name;
    }
}

TEST_F(Sower, ConstantImageIsOneRegionalMinimumAndMaximum)
{
    writeFile(img, p5(3, 2, std::vector<int>(6, 255)));
    RunResult r = run({img, roots, "regMin", "0", "255"});
    EXPECT_EQ(readFile(roots), "6\n0 0 1\n1 0 1\n2 0 1\n0 1 1\n1 1 1\n2 1 1\n");
    writeFile(img, p5(3, 2, std::vector<int>(6, 0)));
    r = run({img, roots, "regMax", "0", "0"});
    EXPECT_EQ(readFile(roots), "6\n0 0 1\n1 0 1\n2 0 1\n0 1 1\n1 1 1\n2 1 1\n");
}

TEST_F(Sower, DtSeedsTheContourBorder)
{
    std::vector<int> v(25, 0);
    for (int y = 1; y <= 3; ++y)
        for (int x = 1; x <= 3; ++x) v[y * 5 + x] = 255;
    writeFile(img, p5(5, 5, v));
    RunResult r = run({img, roots, "dt", "extra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "there are 8 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "8\n1 1 1\n2 1 2\n3 1 4\n1 2 3\n3 2 6\n1 3 5\n2 3 7\n3 3 10\n");
}

TEST_F(Sower, CellsWritesLabeledImageAndItsSeeds)
{
    writeFile(img, p5(3, 2, std::vector<int>(6, 40)));
    RunResult r = run({img, roots, "cells", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, read(img, "in cells roots\n\nradius is 1\nin ifLabelImage\nin ifLabelImage\n"
                               "ha 6 sementes\nthere are 6 roots\ndone!\n"));
    EXPECT_EQ(readFile(roots), "6\n0 0 2\n1 0 2\n2 0 2\n0 1 2\n1 1 2\n2 1 2\n");
    EXPECT_EQ(readFile(dir.file("labeled.pgm")), p2Written(3, 2, {2, 2, 2, 2, 2, 2}, 2));
}

TEST_F(Sower, CellsMatchesTheLibraryOnARealImage)
{
    Image *raw = nullptr;
    pxReadImage(dataPath("cell.pgm").c_str(), &raw);
    ImagePtr image(raw);
    TempDir libDir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(libDir.path.c_str()), 0);
    testing::internal::CaptureStdout();
    RootsPtr expected(ifCellsRoots(image.get(), 2));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(cwd), 0);

    RunResult r = run({dataPath("cell.pgm"), roots, "cells", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(roots), rootsText(expected.get(), image->ncols));
    EXPECT_EQ(readFile(dir.file("labeled.pgm")), readFile(libDir.file("labeled.pgm")));
}

TEST_F(Sower, AnalysisMethodsRefuseNegativeValues)
{
    writeFile(img, p2(2, 2, {3, -1, 0, 2}));
    for (auto args : {std::vector<std::string>{img, roots, "regMax", "0", "9"},
                      std::vector<std::string>{img, roots, "regMin", "0", "9"},
                      std::vector<std::string>{img, roots, "cells", "1"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "image " + img + " holds values below 0; method " + args[2] +
                             " needs values of 0 or more\n");
        EXPECT_FALSE(fileExists(roots));
    }
    // "dt" only asks whether a value is above 0.
    RunResult r = run({img, roots, "dt"});
    EXPECT_EQ(r.status, 0);
}

} // namespace

// The programs take their thread count from FORESTING_NUM_THREADS; what they
// print and write is the same byte for byte with any count.
TEST(Threads, ProgramOutputsDoNotDependOnTheThreadCount)
{
    std::mt19937 rng(11);
    std::vector<int> values(700 * 400);
    for (int &v : values) v = static_cast<int>(rng() % 6) * 40;
    auto runAll = [&](const char *threads) {
        TempDir dir;
        writeFile(dir.file("img.pgm"), p5(700, 400, values));
        setenv("FORESTING_NUM_THREADS", threads, 1);
        std::string all;
        for (const char *opt : {"regMax", "regMin"}) {
            RunResult r = runProgram({sowerPath(), "img.pgm", "roots.txt", opt, "0", "255"}, dir.path);
            RunResult s = runProgram({sievePath(), "img.pgm", "img.pgm", "1", opt[3] == 'M' ? "1" : "0", "roots.txt"},
                                     dir.path);
            all += r.out + r.err + std::to_string(r.status) + readFile(dir.file("roots.txt")) + s.out + s.err +
                   std::to_string(s.status) + readFile(dir.file("filtered.pgm")) + readFile(dir.file("labels.pgm"));
        }
        unsetenv("FORESTING_NUM_THREADS");
        return all;
    };
    const std::string one = runAll("1");
    EXPECT_GT(one.size(), 280000u);
    EXPECT_EQ(runAll("3"), one);
    EXPECT_EQ(runAll("7"), one);
}
