// The sieve program, run as a process: standard output, standard error, exit
// status and both output files, byte for byte.

#include <sys/stat.h>

#include "cli/cli_support.h"

namespace {

using namespace cli;

// Two domes (5 and 8) on a background of 1, and two basins (2 and 0) in 9.
const std::vector<int> kDomes = {1, 1, 1, 1, 1, 1, 1,
                                 1, 5, 5, 1, 8, 8, 1,
                                 1, 1, 1, 1, 1, 1, 1};
const std::vector<int> kBasins = {9, 9, 9, 9, 9, 9, 9,
                                  9, 2, 2, 9, 0, 0, 9,
                                  9, 9, 9, 9, 9, 9, 9};

struct Sieve : ::testing::Test {
    TempDir dir;
    std::string src = dir.file("src.pgm"), ref = dir.file("ref.pgm"), seeds = dir.file("seeds.txt");

    RunResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), sievePath());
        return runProgram(args, dir.path);
    }
    RunResult filter(const std::string &cut, const std::string &global)
    {
        return run({src, ref, cut, global, seeds});
    }
    std::string header() const { return "Image " + src + " was read\nImage " + ref + " was read\n"; }
    std::string readLine(int n) const
    {
        return std::to_string(n) + " roots were read from file " + seeds + "\n";
    }
    std::string filtered() const { return readFile(dir.file("filtered.pgm")); }
    std::string labels() const { return readFile(dir.file("labels.pgm")); }
    bool wroteNothing() const
    {
        return !fileExists(dir.file("filtered.pgm")) && !fileExists(dir.file("labels.pgm"));
    }
};

TEST_F(Sieve, UsageWithFewerThanFiveArguments)
{
    RunResult r = run({"a.pgm", "b.pgm", "1", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, sieveUsage(sievePath()));
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(wroteNothing());
}

TEST_F(Sieve, GlobalCutKeepsOnlyTheSeededDome)
{
    writeFile(src, p5(7, 3, kDomes));
    writeFile(ref, p5(7, 3, kDomes));
    writeFile(seeds, "1\n1 1 3\n");
    RunResult r = filter("1", "1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header() + readLine(1) + "done, saving results\ndone!\n");
    std::vector<int> expect = kDomes;
    expect[11] = expect[12] = 1;
    EXPECT_EQ(filtered(), p5Written(7, 3, expect));
    EXPECT_EQ(labels(), p2Written(7, 3, std::vector<int>(21, 3), 3));
}

TEST_F(Sieve, LocalCutFlattensTheSeededDomeOneLevelDown)
{
    writeFile(src, p5(7, 3, kDomes));
    writeFile(ref, p5(7, 3, kDomes));
    writeFile(seeds, "1\n1 1 3\n");
    RunResult r = filter("1", "0");
    EXPECT_EQ(r.status, 0);
    std::vector<int> expect = kDomes, lab(21, 0);
    expect[8] = expect[9] = 4;
    lab[8] = lab[9] = 3;
    EXPECT_EQ(filtered(), p5Written(7, 3, expect));
    EXPECT_EQ(labels(), p2Written(7, 3, lab, 3));
}

TEST_F(Sieve, GlobalFillFillsTheUnseededBasin)
{
    writeFile(src, p5(7, 3, kBasins));
    writeFile(ref, p5(7, 3, kBasins));
    writeFile(seeds, "1\n1 1 2\n");
    RunResult r = filter("0", "1");
    EXPECT_EQ(r.status, 0);
    std::vector<int> expect = kBasins;
    expect[11] = expect[12] = 9;
    EXPECT_EQ(filtered(), p5Written(7, 3, expect));
    EXPECT_EQ(labels(), p2Written(7, 3, std::vector<int>(21, 2), 2));
}

TEST_F(Sieve, LocalFillRaisesTheSeededBasinOneLevelUp)
{
    writeFile(src, p5(7, 3, kBasins));
    writeFile(ref, p5(7, 3, kBasins));
    writeFile(seeds, "1\n2 1 2\n");
    RunResult r = filter("0", "0");
    EXPECT_EQ(r.status, 0);
    std::vector<int> expect = kBasins, lab(21, 0);
    expect[8] = expect[9] = 3;
    lab[8] = lab[9] = 2;
    EXPECT_EQ(filtered(), p5Written(7, 3, expect));
    EXPECT_EQ(labels(), p2Written(7, 3, lab, 2));
}

TEST_F(Sieve, SeedCostsComeFromTheReferenceClampedToItsRange)
{
    writeFile(src, p5(3, 1, {5, 5, 5}));
    writeFile(seeds, "1\n0 0 1\n");
    // Reference level 0: 0 - 1 is raised to 0 when cutting locally; 0 globally.
    writeFile(ref, p5(3, 1, {0, 0, 0}));
    for (const char *global : {"0", "1"}) {
        filter("1", global);
        EXPECT_EQ(filtered(), p5Written(3, 1, {0, 0, 0})) << global;
    }
    // Filling locally at the reference's maximum (or one below) stays at it.
    writeFile(src, p5(3, 1, {1, 1, 1}));
    writeFile(ref, p5(3, 1, {200, 199, 0}, 200));
    filter("0", "0");
    EXPECT_EQ(filtered(), p5Written(3, 1, {200, 200, 200}));
    writeFile(seeds, "1\n1 0 1\n");
    filter("0", "0");
    EXPECT_EQ(filtered(), p5Written(3, 1, {200, 200, 200}));
    // Filling globally takes the reference level as it is.
    writeFile(ref, p5(3, 1, {0, 5, 0}));
    filter("0", "1");
    EXPECT_EQ(filtered(), p5Written(3, 1, {5, 5, 5}));
}

TEST_F(Sieve, FilteredIsEightBitFromTextInputsAndSixteenBitWhenWider)
{
    writeFile(src, p2(7, 3, kBasins));
    writeFile(ref, p2(7, 3, kBasins));
    writeFile(seeds, "1\n1 1 2\n");
    filter("0", "1");
    std::vector<int> expect = kBasins;
    expect[11] = expect[12] = 9;
    EXPECT_EQ(filtered(), p5Written(7, 3, expect));

    writeFile(src, p2(3, 1, {300, 1000, 300}));
    writeFile(ref, p2(3, 1, {300, 1000, 300}));
    writeFile(seeds, "2\n0 0 1\n2 0 2\n");
    RunResult r = filter("1", "1");
    EXPECT_EQ(r.status, 0);
    std::string bytes = "P5\n3 1\n300\n";
    for (int v : {300, 300, 300}) {
        bytes.push_back(static_cast<char>(v >> 8));
        bytes.push_back(static_cast<char>(v & 255));
    }
    EXPECT_EQ(filtered(), bytes);
}

TEST_F(Sieve, SeedLinesUseTheSourceImageWidth)
{
    writeFile(src, p5(3, 2, {0, 0, 0, 0, 0, 0}));
    writeFile(ref, p5(3, 2, {1, 2, 3, 4, 5, 6}));
    writeFile(seeds, "1\n1 1 7\n");  // pixel 4
    filter("0", "0");
    EXPECT_EQ(filtered(), p5Written(3, 2, {6, 6, 6, 6, 6, 6}));
}

TEST_F(Sieve, EveryFailureEndsWithStatusOneAndNoOutput)
{
    writeFile(src, p5(3, 2, {1, 2, 3, 4, 5, 6}));
    writeFile(ref, p5(3, 2, {1, 2, 3, 4, 5, 6}));
    writeFile(dir.file("wide.pgm"), p5(4, 2, std::vector<int>(8, 1)));
    writeFile(dir.file("neg.pgm"), p2(3, 2, {1, 2, -3, 4, 5, 6}));
    writeFile(dir.file("zero.txt"), "0\n");
    writeFile(dir.file("text.txt"), "two\n");
    writeFile(dir.file("suffix.txt"), "1x\n0 0 1\n");
    writeFile(dir.file("fraction.txt"), "1\n0.5 0 1\n");
    writeFile(dir.file("short.txt"), "2\n0 0 1\n");
    writeFile(dir.file("word.txt"), "1\n0 zero 1\n");
    writeFile(dir.file("outside.txt"), "2\n0 0 1\n3 0 1\n");
    writeFile(dir.file("above.txt"), "1\n0 -1 1\n");
    writeFile(seeds, "1\n0 0 1\n");
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"nope.pgm", ref, "1", "1", seeds}, "", "could not open file nope.pgm\n"},
        {{src, "nope.pgm", "1", "1", seeds}, "Image " + src + " was read\n", "could not open file nope.pgm\n"},
        {{src, ref, "1", "1", "nope.txt"}, header(), "Could not open seeds file nope.txt\n"},
        {{src, ref, "1", "1", "zero.txt"}, header() + "0 roots were read from file zero.txt\n", "Empty seeds file!!\n"},
        {{src, "wide.pgm", "1", "1", seeds}, "Image " + src + " was read\nImage wide.pgm was read\n",
         "reference image wide.pgm does not have the size of source image " + src + "\n"},
        {{"neg.pgm", ref, "0", "1", seeds}, "Image neg.pgm was read\nImage " + ref + " was read\n",
         "image neg.pgm holds values below 0\n"},
        {{src, "neg.pgm", "0", "1", seeds}, "Image " + src + " was read\nImage neg.pgm was read\n",
         "image neg.pgm holds values below 0\n"},
        {{src, ref, "1", "1", "text.txt"}, header(), "invalid number of roots in seeds file text.txt\n"},
        {{src, ref, "1", "1", "suffix.txt"}, header(), "invalid number of roots in seeds file suffix.txt\n"},
        {{src, ref, "1", "1", "fraction.txt"}, header(), "error reading seed 0 from file fraction.txt\n"},
        {{src, ref, "1", "1", "short.txt"}, header(), "error reading seed 1 from file short.txt\n"},
        {{src, ref, "1", "1", "word.txt"}, header(), "error reading seed 0 from file word.txt\n"},
        {{src, ref, "1", "1", "outside.txt"}, header(), "seed 1 of file outside.txt lies outside the image\n"},
        {{src, ref, "1", "1", "above.txt"}, header(), "seed 0 of file above.txt lies outside the image\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(wroteNothing()) << c.err;
    }
}

TEST_F(Sieve, OutputThatCannotBeCreatedEndsWithStatusOne)
{
    writeFile(src, p5(3, 2, {1, 2, 3, 4, 5, 6}));
    writeFile(ref, p5(3, 2, {1, 2, 3, 4, 5, 6}));
    writeFile(seeds, "1\n0 0 1\n");
    ASSERT_EQ(::mkdir(dir.file("labels.pgm").c_str(), 0755), 0);
    RunResult r = filter("1", "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "could not open file labels.pgm for writing\n");
}

TEST_F(Sieve, HoleFillingFromSowerFrameOnARealImage)
{
    RunResult s = runProgram({sowerPath(), dataPath("coins.pgm"), seeds, "frame", "0"}, dir.path);
    ASSERT_EQ(s.status, 0);
    RunResult r = run({dataPath("coins.pgm"), dataPath("coins.pgm"), "0", "1", seeds});
    ASSERT_EQ(r.status, 0);

    Image *raw = nullptr;
    pxReadImage(dataPath("coins.pgm").c_str(), &raw);
    ImagePtr coins(raw);
    RootsPtr frame(ifFrameAsRoots(coins.get(), 0, 0));
    for (int i = 0; i < frame->count; ++i) frame->cost[i] = coins.at(frame->pixel[i]);
    Image *f = nullptr, *l = nullptr;
    ifDualReconstr(coins.get(), coins.get(), frame.get(), 1, &f, &l);
    ImagePtr fil(f), lab(l);
    fil->type = PX_GREY8;
    TempDir expect;
    pxSaveImage(expect.file("f.pgm").c_str(), fil.get());
    pxSaveImage(expect.file("l.pgm").c_str(), lab.get());
    EXPECT_EQ(filtered(), readFile(expect.file("f.pgm")));
    EXPECT_EQ(labels(), readFile(expect.file("l.pgm")));
}

} // namespace
