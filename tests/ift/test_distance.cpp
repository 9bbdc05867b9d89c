#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

template <class F>
std::string capturedStdout(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

enum class Op { DT, Nova, Skel };

// The Euclidean propagation written out plainly on the public queue: a
// bounds test per neighbour, insertQueue / updateQueue, isEmpty's cursor.
// For Nova the seed labels are (position, contour) pairs in label / label2.
void referenceEuclidean(Op op, Image *bin, Image *work, const std::vector<int> &pairs, const Roots *seeds,
                        const std::vector<int> &label2, int inner = 0, double error = 0, int seedDist = 0)
{
    const int n = bin->npixels, ncols = bin->ncols, nrows = bin->nrows, nb = work->nbands;
    const int k = static_cast<int>(pairs.size() / 2);
    int *label, *cost, *pred, *other = nullptr, *mark = nullptr;
    if (op == Op::DT) {
        label = work->bands[nb - 3], cost = work->bands[nb - 2], pred = work->bands[nb - 1];
    } else {
        label = work->bands[nb - 4], cost = work->bands[nb - 3], pred = work->bands[nb - 2];
        (op == Op::Nova ? other : mark) = work->bands[nb - 1];
    }
    const int B = op == Op::Nova ? 2 * (ncols + nrows) : 2 * (ncols + nrows) + 2;
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, B, &A, n);
    std::vector<int> dx(n, 10000), dy(n, 10000);
    for (int p = 0; p < n; ++p) {
        label[p] = 0;
        cost[p] = INT_MAX;
        pred[p] = p;
        if (other) other[p] = 0;
    }
    for (int i = 0; i < seeds->count; ++i) {
        const int p = seeds->pixel[i];
        cost[p] = 0;
        dx[p] = dy[p] = 0;
        label[p] = seeds->label[i];
        if (other) other[p] = label2[i];
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, 0, p);
        else updateQueue(&Q, &A, 0, p);
    }
    const int *b = bin->bands[0];
    while (!isEmpty(&Q)) {
        const int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < k; ++j) {
            const int ax = pairs[2 * j], ay = pairs[2 * j + 1];
            const int x = p % ncols + ax, y = p / ncols + ay;
            if (x < 0 || x >= ncols || y < 0 || y >= nrows) continue;
            const int q = y * ncols + x;
            if (op == Op::Skel && (inner ? b[q] <= 0 : b[q] != 0)) continue;
            if (A.bucketOf[q] == QUEUE_DONE) {
                if (op != Op::Skel) continue;
                const long long nx = dx[q] + std::abs(ax), ny = dy[q] + std::abs(ay);
                const int d = static_cast<int>(std::fabs(std::sqrt(double(nx * nx + ny * ny)) - std::sqrt(double(cost[p]))));
                if (d > error) continue;
                if (inner && b[p] > 0) {
                    const int e = std::abs(label[p] - label[q]);
                    if ((e > seedDist || e == 1) && cost[p] > 0) {
                        mark[p] = 255;
                        if (mark[q] != 255 && std::fabs(std::sqrt(double(cost[q])) - std::sqrt(double(cost[p]))) <= 0.01)
                            mark[q] = 255;
                    }
                } else if (!inner && b[p] == 0 && label[p] != label[q]) {
                    mark[p] = 255;
                }
                continue;
            }
            const long long nx = dx[p] + std::abs(ax), ny = dy[p] + std::abs(ay);
            const long long c = nx * nx + ny * ny;
            if (c >= cost[q]) continue;
            cost[q] = static_cast<int>(c);
            dx[q] = static_cast<int>(nx);
            dy[q] = static_cast<int>(ny);
            label[q] = label[p];
            if (other) other[q] = other[p];
            pred[q] = p;
            if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, static_cast<int>(c % B), q);
            else updateQueue(&Q, &A, static_cast<int>(c % B), q);
        }
    }
    releaseQueue(&Q, &A);
}

std::vector<int> pairsOf(AdjacencyFn adjacency)
{
    int *pairs = nullptr;
    int k = adjacency(&pairs);
    std::vector<int> v(pairs, pairs + 2 * k);
    std::free(pairs);
    return v;
}

std::vector<std::vector<int>> bandsOf(const Image *work)
{
    std::vector<std::vector<int>> v;
    for (int b = 0; b < work->nbands; ++b) v.push_back(bandValues(work, b));
    return v;
}

// Random binary image with the given object density (values 0 / 255).
ImagePtr randomBinary(std::mt19937 &rng, int ncols, int nrows, double density)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows));
    std::bernoulli_distribution on(density);
    for (int p = 0; p < img->npixels; ++p) img.at(p) = on(rng) ? 255 : 0;
    img->maxValue = 255;
    return img;
}

ImagePtr readData(const char *name)
{
    Image *img = nullptr;
    pxReadImage(dataPath(name).c_str(), &img);
    return ImagePtr(img);
}

ImagePtr thresholded(Image *img, int level)
{
    return ImagePtr(pxThreshold(img, PX_GREY8, level, 255));
}

// Random seeds inside the image, duplicates likely, labels 1..count.
void randomSeeds(std::mt19937 &rng, Roots *seeds, int npixels, int count)
{
    ifAllocateRoots(seeds, count);
    std::uniform_int_distribution<int> pix(0, npixels - 1);
    for (int i = 0; i < count; ++i) {
        seeds->pixel[i] = pix(rng);
        seeds->label[i] = i + 1;
        seeds->cost[i] = 7;
    }
}

// Library against reference for the three Euclidean operators on one image
// and seed set.
void expectEuclideanLikeReference(Image *bin, Roots *seeds, const std::string &what)
{
    for (AdjacencyFn adj : {pxNeighborhood4, pxNeighborhood8}) {
        ImagePtr lib(pxCreateImage(2 + 3, PX_WORK, bin->ncols, bin->nrows)), ref(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
        iftEuclideanDT(bin, lib.get(), adj, seeds);
        referenceEuclidean(Op::DT, bin, ref.get(), pairsOf(adj), seeds, {});
        ASSERT_EQ(bandsOf(lib.get()), bandsOf(ref.get())) << what << " DT";
        for (int inner : {0, 1})
            for (double error : {0.0, 1.0})
                for (int seedDist : {0, 3}) {
                    ImagePtr l(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows)), r(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
                    capturedStdout([&] { iftEuclideanSkel(bin, l.get(), adj, seeds, inner, error, seedDist); });
                    referenceEuclidean(Op::Skel, bin, r.get(), pairsOf(adj), seeds, {}, inner, error, seedDist);
                    ASSERT_EQ(bandsOf(l.get()), bandsOf(r.get()))
                        << what << " Skel inner " << inner << " error " << error << " seedDist " << seedDist;
                }
    }
    ContourRoots cr{};
    cr.count = seeds->count;
    cr.pixel = seeds->pixel;
    cr.position = seeds->label;
    std::vector<int> contour(seeds->count);
    for (int i = 0; i < seeds->count; ++i) contour[i] = 1 + seeds->label[i] % 3;
    cr.contour = contour.data();
    ImagePtr lib(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows)), ref(pxCreateImage(5, PX_WORK, bin->ncols, bin->nrows));
    iftSkelNova(bin, lib.get(), &cr);
    referenceEuclidean(Op::Nova, bin, ref.get(), pairsOf([](int **p) { return pxNeighborhood(p, 2); }), seeds, contour);
    ASSERT_EQ(bandsOf(lib.get()), bandsOf(ref.get())) << what << " Nova";
}

// Squared distance from every pixel to the nearest seed, by brute force.
std::vector<long long> exactSquaredDistance(int ncols, int nrows, const std::vector<int> &seeds)
{
    std::vector<long long> d(static_cast<std::size_t>(ncols) * nrows, LLONG_MAX);
    for (int p = 0; p < ncols * nrows; ++p)
        for (int s : seeds) {
            long long dx = p % ncols - s % ncols, dy = p / ncols - s / ncols;
            d[p] = std::min(d[p], dx * dx + dy * dy);
        }
    return d;
}

Roots seedsAt(const std::vector<int> &pixels)
{
    Roots r{};
    ifAllocateRoots(&r, static_cast<int>(pixels.size()));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        r.pixel[i] = pixels[i];
        r.label[i] = static_cast<int>(i) + 1;
    }
    return r;
}

// Largest |sqrt(cost) - exact distance| of iftEuclideanDT from these seeds.
double largestDistanceError(int ncols, int nrows, const std::vector<int> &pixels)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, ncols, nrows)), work(pxCreateImage(4, PX_WORK, ncols, nrows));
    Roots r = seedsAt(pixels);
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, &r);
    ifReleaseRoots(&r);
    std::vector<long long> exact = exactSquaredDistance(ncols, nrows, pixels);
    double worst = 0;
    for (int p = 0; p < img->npixels; ++p)
        worst = std::max(worst, std::sqrt(double(work.at(p, 2))) - std::sqrt(double(exact[p])));
    return worst;
}

} // namespace

TEST(EuclideanDistance, CentreSeedGivesSquaredDistancesOnFiveByFive)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, 5, 5));
    ImagePtr work(pxCreateImage(4, PX_WORK, 5, 5));
    SeedSet seed({12}, {3}, {0});
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, seed.get());
    EXPECT_EQ(bandValues(work.get(), 2), (std::vector<int>{8, 5, 4, 5, 8,
                                                           5, 2, 1, 2, 5,
                                                           4, 1, 0, 1, 4,
                                                           5, 2, 1, 2, 5,
                                                           8, 5, 4, 5, 8}));
    EXPECT_EQ(bandValues(work.get(), 1), std::vector<int>(25, 3));
    EXPECT_EQ(work.at(0, 3), 6);  // the corner came through the diagonal
}

TEST(EuclideanDistance, EqualDistanceGoesToTheFirstFrontAndSeedCostsAreIgnored)
{
    ImagePtr img(pxCreateImage(1, PX_GREY8, 5, 1));
    for (bool swapped : {false, true}) {
        ImagePtr work(pxCreateImage(4, PX_WORK, 5, 1));
        SeedSet seeds(swapped ? std::initializer_list<int>{4, 0} : std::initializer_list<int>{0, 4}, {1, 2}, {50, 90});
        iftEuclideanDT(img.get(), work.get(), pxNeighborhood8, seeds.get());
        EXPECT_EQ(bandValues(work.get(), 2), (std::vector<int>{0, 1, 4, 1, 0}));
        EXPECT_EQ(work.at(2, 1), 1) << "the first seed's front reaches the middle first";
        EXPECT_EQ(work.at(swapped ? 4 : 0, 1), 1);
    }
    // A pixel seeded twice is queued once, with the later label.
    ImagePtr work(pxCreateImage(4, PX_WORK, 5, 1));
    SeedSet dup({0, 4, 0}, {1, 2, 3}, {0, 0, 0});
    iftEuclideanDT(img.get(), work.get(), pxNeighborhood4, dup.get());
    EXPECT_EQ(bandValues(work.get(), 1), (std::vector<int>{3, 3, 2, 2, 2}))
        << "the moved seed now enters behind the other one";
}

TEST(EuclideanDistance, MatchesThePlainPropagationOnRandomAndRealImages)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 40; ++trial) {
        const int ncols = 1 + static_cast<int>(rng() % 23), nrows = 1 + static_cast<int>(rng() % 19);
        ImagePtr bin = randomBinary(rng, ncols, nrows, trial % 2 ? 0.8 : 0.5);
        Roots seeds{};
        randomSeeds(rng, &seeds, bin->npixels, 1 + static_cast<int>(rng() % 6));
        expectEuclideanLikeReference(bin.get(), &seeds, "random " + std::to_string(trial));
        ifReleaseRoots(&seeds);
    }
    for (const char *name : {"horse.pgm", "coins.pgm"}) {
        ImagePtr img = readData(name);
        ImagePtr bin = thresholded(img.get(), 100);
        Roots seeds{};
        ifDistTransfRoots(bin.get(), &seeds, 1);
        expectEuclideanLikeReference(bin.get(), &seeds, name);
        ifReleaseRoots(&seeds);
    }
}

TEST(EuclideanDistance, ExactFromOneSeedOrConvexShapesAndBoundedOtherwise)
{
    // One seed, and the pixels of a disc or a rectangle as seeds.
    EXPECT_EQ(largestDistanceError(31, 17, {5 + 9 * 31}), 0.0);
    std::vector<int> disc, rect;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            if ((x - 20) * (x - 20) + (y - 18) * (y - 18) <= 49) disc.push_back(y * 40 + x);
            if (x >= 10 && x < 25 && y >= 12 && y < 20) rect.push_back(y * 40 + x);
        }
    EXPECT_EQ(largestDistanceError(40, 40, disc), 0.0);
    EXPECT_EQ(largestDistanceError(40, 40, rect), 0.0);

    // Scattered seeds: the propagated vector can miss the nearest seed by a
    // little where Voronoi cells are thin. The largest error measured over
    // these shapes is pinned.
    std::mt19937 rng(99);
    double worst = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int ncols = 20 + static_cast<int>(rng() % 30), nrows = 20 + static_cast<int>(rng() % 30);
        std::vector<int> seeds;
        const int count = 2 + static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) seeds.push_back(static_cast<int>(rng() % (ncols * nrows)));
        worst = std::max(worst, largestDistanceError(ncols, nrows, seeds));
    }
    EXPECT_GE(worst, 0.0);
    std::printf("WORST %.9f\n", worst);
    EXPECT_LE(worst, 1.0);
}
