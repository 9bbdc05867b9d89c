#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "reference/fuzzy.h"
#include "support.h"

using namespace testing_support;
using namespace straight;

namespace {

// ---- Running inside a folder ---------------------------------------------------

// Runs f with dir as the working directory and returns what it printed.
std::string runIn(const TempDir &dir, const std::function<void()> &f)
{
    char here[4096];
    if (!::getcwd(here, sizeof here)) std::abort();
    if (::chdir(dir.path.c_str()) != 0) std::abort();
    testing::internal::CaptureStdout();
    f();
    std::string out = testing::internal::GetCapturedStdout();
    if (::chdir(here) != 0) std::abort();
    return out;
}

// Every file of a folder with its contents.
std::map<std::string, std::string> filesIn(const TempDir &dir)
{
    std::map<std::string, std::string> files;
    DIR *d = ::opendir(dir.path.c_str());
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") files[name] = readFile(dir.file(name));
    }
    ::closedir(d);
    return files;
}

using Segmenter = void (*)(Image *, Image *, Image *, AdjacencyFn, Roots *, int *, int *, int);

struct Outcome {
    std::vector<int> label, cost;
    std::string out;
    std::map<std::string, std::string> files;
};

Outcome segment(Segmenter f, Image *img, AdjacencyFn adjacency, Roots *seeds, std::vector<int> means,
                std::vector<int> variances, int nobjects)
{
    TempDir dir;
    ImagePtr label = makeImage(img->ncols, img->nrows, {});
    ImagePtr cost = makeImage(img->ncols, img->nrows, {});
    std::fill(label->bands[0], label->bands[0] + img->npixels, -5);  // shows what is left alone
    Outcome o;
    o.out = runIn(dir, [&] {
        f(img, label.get(), cost.get(), adjacency, seeds, means.data(), variances.data(), nobjects);
    });
    o.label = bandValues(label.get());
    o.cost = bandValues(cost.get());
    o.files = filesIn(dir);
    return o;
}

void expectSameOutcome(const Outcome &got, const Outcome &want, const std::string &what)
{
    EXPECT_EQ(got.label, want.label) << what;
    EXPECT_EQ(got.cost, want.cost) << what;
    EXPECT_EQ(got.out, want.out) << what;
    ASSERT_EQ(got.files.size(), want.files.size()) << what;
    for (const auto &[name, content] : want.files) {
        auto it = got.files.find(name);
        ASSERT_NE(it, got.files.end()) << what << ": " << name;
        EXPECT_TRUE(it->second == content) << what << ": " << name << " differs";
    }
}

ImagePtr randomImage(std::mt19937 &rng, int ncols, int nrows, int lo, int hi)
{
    std::uniform_int_distribution<int> v(lo, hi);
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
    for (int p = 0; p < img->npixels; ++p) img.at(p) = v(rng);
    img->maxValue = std::min(std::max(hi, 0), 1000);
    return img;
}

ImagePtr readData(const char *name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

void runGuarded(void *arg) { (*static_cast<std::function<void()> *>(arg))(); }

int fatalKindOf(std::function<void()> f, std::string *message = nullptr)
{
    char buf[256] = "";
    int kind = pxCatchFatal(runGuarded, &f, buf, sizeof buf);
    if (message) *message = buf;
    return kind;
}

} // namespace

// The dissimilarity per arc, against the worked examples: m = 0, 9, 10, 15,
// 20, 30 with variance 100, and m = 3 with variance 2. Each row is a pair of
// equal pixels at mean + m.
TEST(Fuzzy, DissimilarityTableMatchesWorkedExamples)
{
    const int ms[7] = {0, 9, 10, 15, 20, 30, 3}, variances[7] = {100, 100, 100, 100, 100, 100, 2};
    const int expected[7] = {0, 0, 162, 221, 251, 255, 251};
    for (int i = 0; i < 7; ++i) {
        ImagePtr img = makeImage(2, 1, {80 + ms[i], 80 + ms[i]});
        ImagePtr w(ifFuzzyEdgesWeight(img.get(), pxNeighborhood4, 80, variances[i]));
        ASSERT_EQ(w->nbands, 4);
        EXPECT_EQ(w->type, PX_WORK);
        // Only the arc to the right of pixel 0 and to the left of pixel 1 exist.
        EXPECT_EQ(bandValues(w.get(), 0), (std::vector<int>{expected[i], 0})) << "m = " << ms[i];
        EXPECT_EQ(bandValues(w.get(), 3), (std::vector<int>{0, expected[i]})) << "m = " << ms[i];
        EXPECT_EQ(bandValues(w.get(), 1), (std::vector<int>{0, 0}));
    }
    // The mean of the two values is truncated, towards zero for negative sums.
    // (-19 + 0) / 2 is -9, not -10: below the variance, so no dissimilarity.
    ImagePtr pair = makeImage(2, 1, {-19, 0});
    ImagePtr w(ifFuzzyEdgesWeight(pair.get(), pxNeighborhood4forward, 0, 100));
    EXPECT_EQ(bandValues(w.get(), 0)[0], 0);

    ImagePtr one = makeImage(1, 1, {40});
    ImagePtr t(ifTestFuzzy(one.get(), 0, 1));
    EXPECT_EQ(bandValues(t.get()), (std::vector<int>{0}));
    EXPECT_EQ(t->type, PX_GREY_INT);
}

// Two flat halves of 50 and 200 with a seed of each object in its own half:
// every arc into or within the other half costs 255, so each object's map is
// 0 on its half and 255 on the other, and each half gets its own object.
TEST(Fuzzy, TwoHalvesEachGoToTheirObject)
{
    ImagePtr img = makeImage(4, 2, {50, 50, 200, 200, 50, 50, 200, 200});
    SeedSet seeds({4, 3}, {1, 2}, {77, 77});
    Outcome o = segment(iftFuzzy, img.get(), pxNeighborhood4, seeds.get(), {0, 50, 200}, {0, 100, 100}, 2);
    EXPECT_EQ(o.label, (std::vector<int>{1, 1, 2, 2, 1, 1, 2, 2}));
    EXPECT_EQ(o.cost, (std::vector<int>(8, 0)));
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.files["tmp1.pgm"], "P2\n4 2\n255\n    0     0   255   255     0     0   255   255 ");
    EXPECT_EQ(o.files["tmp2.pgm"], "P2\n4 2\n255\n  255   255     0     0   255   255     0     0 ");

    Outcome e = segment(iftFuzzyEdges, img.get(), pxNeighborhood4, seeds.get(), {0, 50, 200}, {0, 100, 100}, 2);
    EXPECT_EQ(e.label, o.label);
    EXPECT_EQ(e.cost, o.cost);
    EXPECT_EQ(e.out, "computing edge weights for object 1\ncomputing edge weights for object 2\n"
                     "Computing minimum edge weight\nrunning ift\n");
    EXPECT_EQ(e.files.size(), 12u);
}

// Equal costs go to the lower object number, even on another object's seed;
// seeds whose label is not an object number play no part, nor do seed costs;
// a pixel no object reaches keeps its label and gets the infinity cost.
TEST(Fuzzy, TiesGoToLowerObjectAndForeignSeedsAreIgnored)
{
    ImagePtr flat = makeImage(3, 2, {50, 50, 50, 50, 50, 90});
    SeedSet seeds({0, 2, 1, 3}, {2, 1, 0, 3}, {9, 9, 9, 9});
    Outcome o = segment(iftFuzzy, flat.get(), pxNeighborhood4, seeds.get(), {0, 50, 50}, {0, 100, 100}, 2);
    EXPECT_EQ(o.label, (std::vector<int>{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(o.cost, (std::vector<int>{0, 0, 0, 0, 0, 251}));

    SeedSet foreign({0, 4, -1, 6}, {0, 3, 1, 1}, {0, 0, 0, 0});
    Outcome none = segment(iftFuzzy, flat.get(), pxNeighborhood4, foreign.get(), {0, 50, 50}, {0, 100, 100}, 2);
    EXPECT_EQ(none.label, std::vector<int>(6, -5));
    EXPECT_EQ(none.cost, std::vector<int>(6, IFT_INFINITY_MIN));
    // With one object there is no second cost map: its file is all zeros.
    Outcome single = segment(iftFuzzy, flat.get(), pxNeighborhood4, seeds.get(), {0, 50}, {0, 100}, 1);
    EXPECT_EQ(single.files["tmp2.pgm"], "P2\n3 2\n0\n    0     0     0     0     0     0 ");
    EXPECT_EQ(single.label, (std::vector<int>{1, 1, 1, 1, 1, 1}));
}

// Both segmenters against the plain versions, on random images (narrow values
// full of ties, 8-bit values, values too wide for a table), with duplicate
// seeds, seeds outside the image and labels outside the objects, under
// relations of two, four and eight displacements; then on the sample images.
// Labels, costs, printed lines and every debug file must be the same.
TEST(Fuzzy, SegmentersMatchPlainVersions)
{
    std::mt19937 rng(2026);
    const AdjacencyFn relations[3] = {pxNeighborhood4forward, pxNeighborhood4, pxNeighborhood8Clockwise};
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {13, 11}, {31, 24}};
    const int ranges[][2] = {{0, 12}, {0, 255}, {-40, 40}, {0, 9000000}};
    int round = 0;
    for (auto size : sizes)
        for (auto range : ranges)
            for (AdjacencyFn adjacency : relations) {
                ImagePtr img = randomImage(rng, size[0], size[1], range[0], range[1]);
                const int n = img->npixels;
                const int nobjects = 1 + round % 3;
                std::vector<int> means(nobjects + 1), variances(nobjects + 1);
                std::uniform_int_distribution<int> value(range[0], range[1]);
                for (int k = 1; k <= nobjects; ++k) {
                    means[k] = value(rng);
                    variances[k] = range[1] > 1000 ? 1 + static_cast<int>(rng() % 2000000000)
                                                   : 1 + static_cast<int>(rng() % 400);
                }
                const int nseeds = 1 + static_cast<int>(rng() % 8);
                SeedSet seeds;
                ifReleaseRoots(seeds.get());
                ifAllocateRoots(seeds.get(), nseeds);
                for (int i = 0; i < nseeds; ++i) {
                    seeds.r.pixel[i] = static_cast<int>(rng() % (n + 2)) - 1;  // -1 and n lie outside
                    if (i > 0 && rng() % 3 == 0) seeds.r.pixel[i] = seeds.r.pixel[rng() % i];
                    seeds.r.label[i] = static_cast<int>(rng() % (nobjects + 2));
                    seeds.r.cost[i] = static_cast<int>(rng() % 100);
                }
                const std::string what = "round " + std::to_string(round++);
                expectSameOutcome(segment(iftFuzzy, img.get(), adjacency, seeds.get(), means, variances, nobjects),
                                  segment(plainFuzzy, img.get(), adjacency, seeds.get(), means, variances, nobjects),
                                  "iftFuzzy " + what);
                expectSameOutcome(
                    segment(iftFuzzyEdges, img.get(), adjacency, seeds.get(), means, variances, nobjects),
                    segment(plainFuzzyEdges, img.get(), adjacency, seeds.get(), means, variances, nobjects),
                    "iftFuzzyEdges " + what);
                ImagePtr w(ifFuzzyEdgesWeight(img.get(), adjacency, means[1], variances[1]));
                ImagePtr pw(plainEdgesWeight(img.get(), adjacency, means[1], variances[1]));
                for (int j = 0; j < pw->nbands; ++j) EXPECT_EQ(bandValues(w.get(), j), bandValues(pw.get(), j)) << what;
                ImagePtr t(ifTestFuzzy(img.get(), means[1], variances[1]));
                ASSERT_EQ(bandValues(t.get()), plainTestFuzzy(img.get(), means[1], variances[1])) << what;
            }

    for (const char *name : {"coins.pgm", "camera.pgm"}) {
        ImagePtr img = readData(name);
        const int n = img->npixels;
        SeedSet seeds({n / 3, 5, n - 7, n / 2 + 40}, {1, 2, 2, 1}, {0, 0, 0, 0});
        std::vector<int> means = {0, img.at(n / 3), img.at(5)}, variances = {0, 150, 600};
        expectSameOutcome(segment(iftFuzzy, img.get(), pxNeighborhood8, seeds.get(), means, variances, 2),
                          segment(plainFuzzy, img.get(), pxNeighborhood8, seeds.get(), means, variances, 2), name);
        expectSameOutcome(segment(iftFuzzyEdges, img.get(), pxNeighborhood4, seeds.get(), means, variances, 2),
                          segment(plainFuzzyEdges, img.get(), pxNeighborhood4, seeds.get(), means, variances, 2),
                          name);
    }
}

// An image whose largest value is below 255 still has a bucket for every
// cost; a variance of 0 or less, iftFuzzyEdges without objects, and outputs
// smaller than the input are refused as argument errors.
TEST(Fuzzy, SmallMaximumAndBadArgumentsAreSafe)
{
    ImagePtr img = makeImage(3, 1, {0, 10, 0}, PX_GREY_INT, 10);
    SeedSet seeds({0}, {1}, {0});
    Outcome o = segment(iftFuzzy, img.get(), pxNeighborhood4, seeds.get(), {0, 0}, {0, 1}, 1);
    EXPECT_EQ(o.cost, (std::vector<int>{0, 255, 255}));

    ImagePtr label = makeImage(3, 1, {0, 0, 0}), cost = makeImage(3, 1, {0, 0, 0});
    ImagePtr small = makeImage(2, 1, {0, 0});
    int means[3] = {0, 5, 5}, good[3] = {0, 4, 4}, zero[3] = {0, 4, 0}, negative[3] = {0, -3, 4};
    TempDir dir;
    std::string message;
    runIn(dir, [&] {
        for (int *v : {zero, negative}) {
            EXPECT_EQ(fatalKindOf([&] { iftFuzzy(img.get(), label.get(), cost.get(), pxNeighborhood4, seeds.get(), means, v, 2); }),
                      PX_FATAL_ARGUMENT);
            EXPECT_EQ(fatalKindOf([&] { iftFuzzyEdges(img.get(), label.get(), cost.get(), pxNeighborhood4, seeds.get(), means, v, 2); }),
                      PX_FATAL_ARGUMENT);
        }
        EXPECT_EQ(fatalKindOf([&] { iftFuzzyEdges(img.get(), label.get(), cost.get(), pxNeighborhood4, seeds.get(), means, good, 0); },
                              &message),
                  PX_FATAL_ARGUMENT);
        EXPECT_EQ(message, "iftFuzzyEdges: at least one object is needed, got 0");
        EXPECT_EQ(fatalKindOf([&] { iftFuzzy(img.get(), small.get(), cost.get(), pxNeighborhood4, seeds.get(), means, good, 2); }),
                  PX_FATAL_ARGUMENT);
        EXPECT_EQ(fatalKindOf([&] { ifFuzzyEdgesWeight(img.get(), pxNeighborhood4, 5, 0); }, &message), PX_FATAL_ARGUMENT);
        EXPECT_EQ(message, "ifFuzzyEdgesWeight: the variance is 0; it must be positive");
        EXPECT_EQ(fatalKindOf([&] { ifTestFuzzy(img.get(), 5, -1); }), PX_FATAL_ARGUMENT);
        EXPECT_EQ(fatalKindOf([&] { iftFuzzy(img.get(), label.get(), cost.get(), pxNeighborhood4, seeds.get(), means, zero, 2); },
                              &message),
                  PX_FATAL_ARGUMENT);
        EXPECT_EQ(message, "iftFuzzy: the variance of object 2 is 0; it must be positive");
    });
    // Nothing was printed or written before the refusal.
    EXPECT_TRUE(filesIn(dir).empty());
}
