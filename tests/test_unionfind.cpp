#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support.h"
#include "unionfind.h"

using namespace testing_support;

namespace {

// Owns a started union-find for the length of a test.
struct Forest {
    UnionFind uf{};
    Forest(int n, int nData) { ufStartUnionFind(&uf, n, nData); }
    ~Forest() { ufReleaseUnionFind(&uf); }
    UnionFindElement &operator[](int i) { return uf.elements[i]; }
};

// What the merge callback saw: (kept, absorbed), the absorbed element's parent
// and the kept root's rank at the moment of the call.
struct MergeCall {
    int kept, absorbed, absorbedParent, keptRank;
};
std::vector<MergeCall> calls;

int recordMerge(UnionFindElement *e, int kept, int absorbed)
{
    calls.push_back({kept, absorbed, e[absorbed].parent, e[kept].rank});
    return 0;
}

} // namespace

TEST(UnionFind, StartsWithZeroFilledSingletons)
{
    Forest f(5, 2);
    EXPECT_EQ(f.uf.nElements, 5);
    EXPECT_EQ(f.uf.nData, 2);
    EXPECT_EQ(f.uf.mergeData, nullptr);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ufFindSet(&f.uf, i), i);
        EXPECT_EQ(f[i].rank, 0);
        EXPECT_EQ(f[i].data[0], 0);
        EXPECT_EQ(f[i].data[1], 0);
    }
    Forest bare(3, 0);
    EXPECT_EQ(bare[2].data, nullptr);
}

TEST(UnionFind, UnionByRankKeepsTheSecondRootOnTiesAndTheHigherRankOtherwise)
{
    Forest f(5, 0);
    calls.clear();
    f.uf.mergeData = recordMerge;
    ufLink(&f.uf, 2, 3);
    EXPECT_EQ(f[2].parent, 3);
    EXPECT_EQ(f[3].rank, 1);
    ufLink(&f.uf, 4, 3);  // rank 0 below rank 1: 3 stays root although second
    EXPECT_EQ(f[4].parent, 3);
    EXPECT_EQ(f[3].rank, 1);
    ufLink(&f.uf, 3, 0);  // rank 1 above rank 0: 3 kept as first argument
    EXPECT_EQ(f[0].parent, 3);
    // Kept root first, called after the link and before the rank grows.
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kept, 3);
    EXPECT_EQ(calls[0].absorbed, 2);
    EXPECT_EQ(calls[0].absorbedParent, 3);
    EXPECT_EQ(calls[0].keptRank, 0);
    EXPECT_EQ(calls[1].kept, 3);
    EXPECT_EQ(calls[1].absorbed, 4);
    EXPECT_EQ(calls[2].kept, 3);
    EXPECT_EQ(calls[2].absorbed, 0);

    // A root linked with itself stays its own root, gains a rank and is
    // reported as both sides.
    calls.clear();
    ufLink(&f.uf, 1, 1);
    EXPECT_EQ(f[1].parent, 1);
    EXPECT_EQ(f[1].rank, 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kept, 1);
    EXPECT_EQ(calls[0].absorbed, 1);
}

TEST(UnionFind, OneFindCompressesTheWholePath)
{
    Forest f(4, 0);
    ufLink(&f.uf, 0, 1);
    ufLink(&f.uf, 2, 3);
    ufLink(&f.uf, 1, 3);  // 0 -> 1 -> 3
    ASSERT_EQ(f[0].parent, 1);
    EXPECT_EQ(ufFindSet(&f.uf, 0), 3);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f[i].parent, 3);
}

TEST(UnionFind, LongChainIsFoundWithoutDeepRecursion)
{
    // A parent chain as long as the forest, as a caller writing the parents
    // itself can make: a recursive find would exhaust the stack.
    const int n = 3000000;
    Forest f(n, 0);
    for (int i = 0; i + 1 < n; ++i) f[i].parent = i + 1;
    EXPECT_EQ(ufFindSet(&f.uf, 0), n - 1);
    for (int i : {0, 1, n / 2, n - 2}) EXPECT_EQ(f[i].parent, n - 1);
}

TEST(UnionFind, FatalErrors)
{
    std::string message;
    EXPECT_EQ(catchFatal([] { ufStartUnionFind(nullptr, 3, 0); }, message), PX_FATAL_ARGUMENT);
    EXPECT_EQ(message, "Union/find was not allocated before ufStartUnionFind ");
    UnionFind uf{};
    EXPECT_EQ(catchFatal([&] { ufStartUnionFind(&uf, 2147483647, 2147483647); }, message), PX_FATAL_MEMORY);
    EXPECT_EQ(message, "Could not allocate structure for union/find [2147483647 elements]");
    Forest f(3, 1);
    EXPECT_EQ(catchFatal([&] { ufFindSet(&f.uf, 3); }, message), PX_FATAL_ARGUMENT);
    EXPECT_EQ(catchFatal([&] { ufLink(&f.uf, -1, 0); }, message), PX_FATAL_ARGUMENT);
}
