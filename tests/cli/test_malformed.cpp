// Broken image and roots files, made from valid ones, given to both programs:
// every run must end quickly with status 0 or 1, say why on standard error
// when it fails, and never trip a sanitizer.

#include <random>

#include "cli/cli_support.h"

namespace {

using namespace cli;

struct Broken {
    std::string what;
    std::string bytes;
};

std::vector<int> coinsCrop(int ncols, int nrows)
{
    Image *raw = nullptr;
    pxReadImage(dataPath("coins.pgm").c_str(), &raw);
    ImagePtr coins(raw);
    std::vector<int> v;
    for (int y = 0; y < nrows; ++y)
        for (int x = 0; x < ncols; ++x) v.push_back(coins.at((y + 100) * coins->ncols + x + 150));
    return v;
}

std::string p6(int ncols, int nrows, const std::vector<int> &grey)
{
    std::string s = "P6\n" + std::to_string(ncols) + " " + std::to_string(nrows) + "\n255\n";
    for (int v : grey)
        for (int k = 0; k < 3; ++k) s.push_back(static_cast<char>((v + 40 * k) & 255));
    return s;
}

std::string p5wide(int ncols, int nrows, const std::vector<int> &grey)
{
    std::string s = "P5\n" + std::to_string(ncols) + " " + std::to_string(nrows) + "\n65535\n";
    for (int v : grey) {
        s.push_back(static_cast<char>((v * 200) >> 8));
        s.push_back(static_cast<char>((v * 200) & 255));
    }
    return s;
}

// Truncations, flipped bytes and rewritten headers of one valid image file.
void mutateImage(const std::string &name, const std::string &valid, const std::string &body,
                 std::mt19937 &rng, std::vector<Broken> &out)
{
    for (size_t cut = 0; cut < valid.size(); cut += 1 + valid.size() / 25)
        out.push_back({name + " cut at " + std::to_string(cut), valid.substr(0, cut)});
    out.push_back({name + " one byte short", valid.substr(0, valid.size() - 1)});
    for (int i = 0; i < 25; ++i) {
        std::string s = valid;
        size_t at = i < 12 ? static_cast<size_t>(i) : rng() % s.size();
        s[at] = static_cast<char>(s[at] ^ (1 + rng() % 255));
        out.push_back({name + " byte flipped at " + std::to_string(at), s});
    }
    std::string m = valid.substr(0, 2);
    const char *headers[] = {
        "0 9\n255\n", "12 0\n255\n", "-12 9\n255\n", "12 -9\n255\n", "99999 99999\n255\n",
        "2147483647 2\n255\n", "65536 65536\n255\n", "40000 40000\n255\n", "12 9\n0\n",
        "12 9\n70000\n", "12 9\n-1\n", "12 9\n", "12\n", "", "twelve 9\n255\n", "12 9\nmax\n",
        "12 9 255", "# only a comment\n", "12 9\n99999999999\n", "1 1\n255\n",
        "12 9\n65535\n", "12 9\n256\n", "4 2\n255\n", "12 9\n2147483647\n", "12 9\n2147483646\n",
    };
    for (const char *h : headers) out.push_back({name + " header " + h, m + "\n" + h + body});
    out.push_back({name + " empty", ""});
    out.push_back({name + " magic only", m});
    out.push_back({name + " long magic", "P5P5P5P5P5P5P5P5P5P5P5P5P5P5P5P5P5P5P5\n12 9\n255\n" + body});
    out.push_back({name + " doubled body", valid + body});
}

// The raster of a valid file without comments: what follows its third newline.
std::string bodyOf(const std::string &file)
{
    size_t at = 0;
    for (int i = 0; i < 3; ++i) at = file.find('\n', at) + 1;
    return file.substr(at);
}

struct Malformed : ::testing::Test {
    TempDir dir;
    int runs = 0;

    void expectSound(const std::vector<std::string> &args, const std::string &what)
    {
        RunResult r = runProgram(args, dir.path, 20);
        ++runs;
        SCOPED_TRACE(what);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, 0);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status;
        if (r.status == 1) {
            EXPECT_FALSE(r.err.empty());
        }
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    }

    std::vector<Broken> brokenImages()
    {
        std::mt19937 rng(12345);
        std::vector<int> grey = coinsCrop(12, 9);
        std::vector<Broken> all;
        for (const auto &[name, file] : {std::pair<std::string, std::string>{"P5", p5(12, 9, grey)},
                                          {"P2", p2(12, 9, grey)},
                                          {"P6", p6(12, 9, grey)},
                                          {"P5/16", p5wide(12, 9, grey)}})
            mutateImage(name, file, bodyOf(file), rng, all);
        return all;
    }

    std::vector<Broken> brokenRoots()
    {
        std::mt19937 rng(777);
        std::string valid = "5\n0 0 1\n11 0 2\n5 4 3\n0 8 4\n11 8 5\n";
        std::vector<Broken> all;
        for (size_t cut = 0; cut < valid.size(); ++cut)
            all.push_back({"roots cut at " + std::to_string(cut), valid.substr(0, cut)});
        for (int i = 0; i < 40; ++i) {
            std::string s = valid;
            size_t at = rng() % s.size();
            s[at] = static_cast<char>(rng() % 256);
            all.push_back({"roots byte changed at " + std::to_string(at), s});
        }
        const char *texts[] = {
            "0\n", "-1\n", "-2147483648\n", "2000000000\n0 0 1\n1 1 1\n", "99999999999\n0 0 1\n",
            "abc\n", "", "\n\n", "3\n0 0 1\n", "2\n0 0 1\n1 1\n", "1\n12 0 1\n", "1\n0 9 1\n",
            "1\n-1 0 1\n", "1\n0 -1 1\n", "1\n2147483647 2147483647 1\n", "1\none two three\n",
            "1\n0 0 x\n", "1\n0x1 0 1\n", "2\n0 0 1\n1 1 1\n5 5 5\n6 6 6\n", "1 0 0 1",
            "1\n0 0 99999999999\n", "1\n0 0 -2147483648\n", "2\n0 0 1 1 1 1", "1\n+3 +4 +5\n",
            "1\n3.5 4 5\n", "1\n0 0 1 garbage\n",
        };
        for (const char *t : texts) all.push_back({std::string("roots text ") + t, t});
        return all;
    }
};

TEST_F(Malformed, BrokenImagesGivenToSower)
{
    const std::vector<std::vector<std::string>> methods = {
        {"frame", "0"}, {"labels"}, {"regMax", "0", "255"}, {"regMin", "0", "255"},
        {"dt"}, {"cells", "1"}, {"frame", "1", "5"}};
    std::vector<Broken> images = brokenImages();
    int i = 0;
    for (const Broken &b : images) {
        writeFile(dir.file("broken.pgm"), b.bytes);
        std::vector<std::string> args = {sowerPath(), "broken.pgm", "out.txt"};
        const auto &m = methods[i++ % methods.size()];
        args.insert(args.end(), m.begin(), m.end());
        expectSound(args, b.what + " / " + m[0]);
    }
    EXPECT_GE(runs, 150);
}

TEST_F(Malformed, BrokenImagesGivenToSieve)
{
    std::vector<int> grey = coinsCrop(12, 9);
    writeFile(dir.file("good.pgm"), p5(12, 9, grey));
    writeFile(dir.file("seeds.txt"), "2\n0 0 1\n11 8 2\n");
    std::vector<Broken> images = brokenImages();
    int i = 0;
    for (const Broken &b : images) {
        writeFile(dir.file("broken.pgm"), b.bytes);
        std::string mode = std::to_string(i % 2), global = std::to_string((i / 2) % 2);
        bool asSource = (i++ / 4) % 2 == 0;
        expectSound({sievePath(), asSource ? "broken.pgm" : "good.pgm",
                     asSource ? "good.pgm" : "broken.pgm", mode, global, "seeds.txt"},
                    b.what + " / sieve " + mode + global);
    }
    EXPECT_GE(runs, 150);
}

TEST_F(Malformed, BrokenRootsFilesGivenToBothPrograms)
{
    std::vector<int> grey = coinsCrop(12, 9);
    writeFile(dir.file("good.pgm"), p5(12, 9, grey));
    writeFile(dir.file("good.txt"), "2\n0 0 1\n11 8 2\n");
    int i = 0;
    for (const Broken &b : brokenRoots()) {
        writeFile(dir.file("broken.txt"), b.bytes);
        bool first = i % 2 == 0;
        expectSound({sowerPath(), "good.pgm", "out.txt", "join", first ? "broken.txt" : "good.txt",
                     first ? "good.txt" : "broken.txt"},
                    b.what + " / join");
        std::string mode = std::to_string(i % 2), global = std::to_string((i / 2) % 2);
        expectSound({sievePath(), "good.pgm", "good.pgm", mode, global, "broken.txt"},
                    b.what + " / sieve");
        ++i;
    }
    EXPECT_GE(runs, 150);
}

} // namespace
