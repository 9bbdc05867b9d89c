#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

struct Edt {
    std::vector<long long> sqdist;
    std::vector<double> distance;
    std::vector<int> nearest, label;
    bool operator==(const Edt &o) const
    {
        return sqdist == o.sqdist && nearest == o.nearest && label == o.label &&
               std::memcmp(distance.data(), o.distance.data(), distance.size() * sizeof(double)) == 0;
    }
};

Edt exactEdt(Image *img, Roots *seeds)
{
    const size_t n = static_cast<size_t>(img->npixels);
    Edt e{std::vector<long long>(n), std::vector<double>(n), std::vector<int>(n), std::vector<int>(n)};
    ifExactEDT(img, seeds, e.sqdist.data(), e.distance.data(), e.nearest.data(), e.label.data());
    return e;
}

// Every pixel against every seed: the smallest squared distance, then the
// lowest column, then the lowest row; a pixel seeded twice keeps its later
// label. Mask seeds (seeds NULL) are the zeros, labelled in raster order.
Edt bruteForce(const Image *img, const Roots *seeds)
{
    const int ncols = img->ncols, n = img->npixels;
    std::vector<int> seedLabel(n, 0), seedPixels;
    std::vector<char> isSeed(n, 0);
    if (seeds) {
        for (int i = 0; i < seeds->count; ++i) {
            isSeed[seeds->pixel[i]] = 1;
            seedLabel[seeds->pixel[i]] = seeds->label[i];
        }
    } else {
        int next = 0;
        for (int p = 0; p < n; ++p)
            if (img->bands[0][p] == 0) isSeed[p] = 1, seedLabel[p] = ++next;
    }
    for (int p = 0; p < n; ++p)
        if (isSeed[p]) seedPixels.push_back(p);
    Edt e{std::vector<long long>(n, -1), std::vector<double>(n, std::numeric_limits<double>::infinity()),
          std::vector<int>(n, -1), std::vector<int>(n, 0)};
    for (int p = 0; p < n; ++p) {
        const long long x = p % ncols, y = p / ncols;
        for (int s : seedPixels) {
            const long long dx = x - s % ncols, dy = y - s / ncols, d = dx * dx + dy * dy;
            const int best = e.nearest[p];
            if (best < 0 || d < e.sqdist[p] ||
                (d == e.sqdist[p] && (s % ncols < best % ncols || (s % ncols == best % ncols && s < best)))) {
                e.sqdist[p] = d;
                e.nearest[p] = s;
            }
        }
        if (e.nearest[p] >= 0) {
            e.label[p] = seedLabel[e.nearest[p]];
            e.distance[p] = std::sqrt(static_cast<double>(e.sqdist[p]));
        }
    }
    return e;
}

} // namespace

// Random masks of every density and random seed sets (repeated pixels, few
// seeds, none), on shapes that leave threads without rows or columns: equal to
// the brute-force search, ties included, with every thread count.
TEST(ExactEDT, MatchesBruteForceNearestSeedWithAnyThreadCount)
{
    std::mt19937 rng(23);
    const int shapes[][2] = {{1, 1}, {1, 40}, {40, 1}, {37, 3}, {2, 29}, {64, 48}, {97, 61}, {300, 9}};
    for (auto [ncols, nrows] : shapes)
        for (int trial = 0; trial < 6; ++trial) {
            ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
            const int n = img->npixels;
            // Sparse zeros make far seeds and many ties; dense ones short distances.
            const double zeros[] = {0.0, 0.002, 0.02, 0.2, 0.7, 1.0};
            std::bernoulli_distribution isZero(zeros[trial]);
            for (int p = 0; p < n; ++p) img.at(p) = isZero(rng) ? 0 : 1 + static_cast<int>(rng() % 3);
            const int nseeds = trial == 0 ? 0 : static_cast<int>(rng() % (trial * 4 + 1));
            SeedSet seeds;
            ifReleaseRoots(seeds.get());
            ifAllocateRoots(seeds.get(), nseeds);
            for (int i = 0; i < nseeds; ++i) {
                seeds.r.pixel[i] = static_cast<int>(rng() % n);
                seeds.r.label[i] = static_cast<int>(rng() % 5) - 1;
            }
            const Edt expectedMask = bruteForce(img.get(), nullptr), expectedSeeds = bruteForce(img.get(), seeds.get());
            for (int threads : {1, 2, 3, 7}) {
                ScopedThreads scoped(threads);
                SCOPED_TRACE(std::to_string(ncols) + " x " + std::to_string(nrows) + ", trial " +
                             std::to_string(trial) + ", threads " + std::to_string(threads));
                EXPECT_TRUE(exactEdt(img.get(), nullptr) == expectedMask);
                EXPECT_TRUE(exactEdt(img.get(), seeds.get()) == expectedSeeds);
            }
        }
}

// Each output alone gives what it gives beside the others (the column pass
// keeps its rows in whichever output is there); sides beyond 2^20 take the
// 128-bit envelope, and squared distances beyond 2^31 stay exact.
TEST(ExactEDT, SingleOutputsAndLongSidesAreExact)
{
    for (auto [ncols, nrows] : {std::pair<int, int>{(1 << 20) + 77, 2}, {1, (1 << 21) + 5}}) {
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
        std::fill(img->bands[0], img->bands[0] + img->npixels, 1);
        SeedSet seeds({5, img->npixels / 2 + 3, img->npixels - 2}, {1, 2, 3}, {0, 0, 0});
        for (int p : {5, img->npixels / 2 + 3, img->npixels - 2}) img.at(p) = 0;
        for (Roots *r : {static_cast<Roots *>(nullptr), seeds.get()}) {
            Edt all = exactEdt(img.get(), r);
            const int n = img->npixels;
            const int far = n / 4;  // between the first two seeds: farther than 2^16 from both
            EXPECT_GT(all.sqdist[far], 1LL << 31);
            Edt one{std::vector<long long>(n), std::vector<double>(n), std::vector<int>(n), std::vector<int>(n)};
            ifExactEDT(img.get(), r, one.sqdist.data(), nullptr, nullptr, nullptr);
            ifExactEDT(img.get(), r, nullptr, one.distance.data(), nullptr, nullptr);
            ifExactEDT(img.get(), r, nullptr, nullptr, one.nearest.data(), nullptr);
            ifExactEDT(img.get(), r, nullptr, nullptr, nullptr, one.label.data());
            EXPECT_TRUE(one == all);
            // Brute force on the three seeds.
            const int s[3] = {5, n / 2 + 3, n - 2};
            for (int p = 0; p < n; p += 997) {
                long long best = -1;
                int at = -1;
                for (int q : s) {
                    const long long dx = p % ncols - q % ncols, dy = p / ncols - q / ncols, d = dx * dx + dy * dy;
                    if (best < 0 || d < best || (d == best && (q % ncols < at % ncols))) best = d, at = q;
                }
                ASSERT_EQ(all.sqdist[p], best) << p;
                ASSERT_EQ(all.nearest[p], at) << p;
            }
        }
    }
}

TEST(ExactEDT, SeedOutsideTheImageIsAnArgumentError)
{
    ImagePtr img(pxCreateImage(1, PX_GREY_INT, 4, 3));
    SeedSet seeds({3, 12}, {1, 2}, {0, 0});
    std::vector<int> nearest(12);
    std::string message;
    EXPECT_EQ(catchFatal([&] { ifExactEDT(img.get(), seeds.get(), nullptr, nullptr, nearest.data(), nullptr); },
                         message),
              PX_FATAL_ARGUMENT);
    EXPECT_EQ(message, "ifExactEDT: seed 1 at pixel 12 lies outside the 4 x 3 image");
}

// Images large enough for several column and row stripes (one row, one
// column, fewer rows than threads, a block) give the one-thread result.
TEST(ExactEDT, ThreadsGiveTheOneThreadResult)
{
    std::mt19937 rng(5);
    const int shapes[][2] = {{200000, 1}, {1, 200000}, {60000, 3}, {600, 500}};
    for (auto [ncols, nrows] : shapes) {
        ImagePtr img(pxCreateImage(1, PX_GREY_INT, ncols, nrows));
        for (int p = 0; p < img->npixels; ++p) img.at(p) = rng() % 1000 < 998;
        SeedSet seeds({0, img->npixels - 1, img->npixels / 3}, {4, 5, 6}, {0, 0, 0});
        Edt one[2];
        {
            ScopedThreads scoped(1);
            one[0] = exactEdt(img.get(), nullptr);
            one[1] = exactEdt(img.get(), seeds.get());
        }
        for (int threads : threadCountsToCompare()) {
            ScopedThreads scoped(threads);
            SCOPED_TRACE(std::to_string(ncols) + " x " + std::to_string(nrows) + ", threads " +
                         std::to_string(threads));
            EXPECT_TRUE(exactEdt(img.get(), nullptr) == one[0]);
            EXPECT_TRUE(exactEdt(img.get(), seeds.get()) == one[1]);
        }
    }
}
