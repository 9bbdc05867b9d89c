#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pxImage.h"
#include "pxImage/detail.h"

namespace {

std::vector<int> pairsOf(AdjacencyFn fn)
{
    int *pairs = nullptr;
    int n = fn(&pairs);
    std::vector<int> out(pairs, pairs + 2 * n);
    std::free(pairs);
    return out;
}

std::vector<int> discOf(int r2)
{
    int *pairs = nullptr;
    int n = pxNeighborhood(&pairs, r2);
    std::vector<int> out(pairs, pairs + 2 * n);
    std::free(pairs);
    return out;
}

std::vector<int> windowOf(int r)
{
    int *pairs = nullptr;
    int n = pxMorphWindow(&pairs, r);
    std::vector<int> out(pairs, pairs + 2 * n);
    std::free(pairs);
    return out;
}

// Neighbours of p in table order, as the border-free loop yields them.
std::vector<int> neighboursOf(AdjacencyFn fn, int ncols, int nrows, int p)
{
    px::NeighbourTable t = px::NeighbourTable::from(fn, ncols, nrows);
    std::vector<int> out;
    t.forEach(p, [&](int, int q) { out.push_back(q); });
    return out;
}

} // namespace

TEST(Adjacency, FixedRelationsHoldTheirPairsInOrder)
{
    EXPECT_EQ(pairsOf(pxNeighborhood4), (std::vector<int>{1, 0, 0, 1, 0, -1, -1, 0}));
    EXPECT_EQ(pairsOf(pxNeighborhood4forward), (std::vector<int>{1, 0, 0, 1}));
    EXPECT_EQ(pairsOf(pxNeighborhood8),
              (std::vector<int>{1, 0, 0, 1, 0, -1, -1, 0, 1, 1, -1, 1, 1, -1, -1, -1}));
    EXPECT_EQ(pairsOf(pxNeighborhood8forward), (std::vector<int>{1, 0, 0, 1, 1, 1, -1, 1}));
    EXPECT_EQ(pairsOf(pxNeighborhood8Clockwise),
              (std::vector<int>{1, 0, 1, 1, 0, 1, -1, 1, -1, 0, -1, -1, 0, -1, 1, -1}));
}

TEST(Adjacency, DiscAndWindowRunColumnByColumnFromTheLeft)
{
    EXPECT_EQ(discOf(0), (std::vector<int>{0, 0}));
    EXPECT_EQ(discOf(1), (std::vector<int>{-1, 0, 0, -1, 0, 0, 0, 1, 1, 0}));
    const std::vector<int> block = {-1, -1, -1, 0, -1, 1, 0, -1, 0, 0, 0, 1, 1, -1, 1, 0, 1, 1};
    EXPECT_EQ(discOf(2), block);
    EXPECT_EQ(windowOf(1), block);
    EXPECT_EQ(discOf(4).size(), 26u);
    EXPECT_EQ(windowOf(0), (std::vector<int>{0, 0}));
    EXPECT_EQ(windowOf(2).size(), 50u);
    EXPECT_EQ(discOf(-1).size(), 0u);
}

TEST(Adjacency, CornerEdgeAndInnerPixelsMeetTheirNeighboursInRelationOrder)
{
    // 4 x 3 image:  0  1  2  3
    //               4  5  6  7
    //               8  9 10 11
    EXPECT_EQ(neighboursOf(pxNeighborhood4, 4, 3, 0), (std::vector<int>{1, 4}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 4, 3, 0), (std::vector<int>{1, 4, 5}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 4, 3, 11), (std::vector<int>{7, 10, 6}));
    // Left border: p - 1 = 3 exists but is the end of the previous row.
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 4, 3, 4), (std::vector<int>{5, 8, 0, 9, 1}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 4, 3, 7), (std::vector<int>{11, 3, 6, 10, 2}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 4, 3, 5), (std::vector<int>{6, 9, 1, 4, 10, 8, 2, 0}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8Clockwise, 4, 3, 6),
              (std::vector<int>{7, 11, 10, 9, 5, 1, 2, 3}));
    EXPECT_EQ(neighboursOf(pxNeighborhood8forward, 4, 3, 8), (std::vector<int>{9}));
    // One row: nothing above or below.
    EXPECT_EQ(neighboursOf(pxNeighborhood8, 3, 1, 1), (std::vector<int>{2, 0}));
    // The disc includes the pixel itself, in its place in the order.
    EXPECT_EQ([] {
        int *pairs = nullptr;
        int n = pxNeighborhood(&pairs, 1);
        px::NeighbourTable t(pairs, n, 4, 3);
        std::free(pairs);
        std::vector<int> out;
        t.forEach(5, [&](int, int q) { out.push_back(q); });
        return out;
    }(), (std::vector<int>{4, 1, 5, 9, 6}));
}

namespace {

struct RelationCall {
    int (*fn)(int **, int);
    int size;
};

int catchRelation(int (*fn)(int **, int), int size, std::string &message)
{
    RelationCall call{fn, size};
    char buf[256];
    int kind = pxCatchFatal(
        [](void *arg) {
            auto *c = static_cast<RelationCall *>(arg);
            int *pairs = nullptr;
            c->fn(&pairs, c->size);
            std::free(pairs);
        },
        &call, buf, sizeof buf);
    message = buf;
    return kind;
}

} // namespace

// A disc or window with more pairs than a relation can count, or than a
// quarter of the machine's memory holds, is refused before it is built.
TEST(Adjacency, HugeDiscsAndWindowsAreRefusedAtOnce)
{
    std::string message;
    for (int huge : {1000000000, 2147483647}) {
        EXPECT_NE(catchRelation(pxNeighborhood, huge, message), 0) << huge;
        EXPECT_NE(message.find("pxNeighborhood"), std::string::npos) << message;
        EXPECT_NE(catchRelation(pxMorphWindow, huge, message), 0) << huge;
        EXPECT_NE(message.find("pxMorphWindow"), std::string::npos) << message;
    }
    EXPECT_EQ(catchRelation(pxNeighborhood, 40000, message), 0);
    EXPECT_EQ(discOf(40000).size(), 2u * 125629);
}
