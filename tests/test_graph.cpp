#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "graph.h"
#include "pxImage/detail.h"
#include "support.h"

using namespace testing_support;

namespace {

// (vertex, weight) pairs of a list, walked through the public cursor.
std::vector<std::pair<int, int>> edgesOf(EdgeList *list)
{
    std::vector<std::pair<int, int>> out;
    list->walk = list->head;
    for (Edge *e; (e = listGetAndWalk(list));) out.emplace_back(e->vertex, e->weight);
    EXPECT_EQ(list->walk, nullptr);
    EXPECT_EQ(static_cast<int>(out.size()), list->nEdges);
    return out;
}


} // namespace

TEST(Graph, DuplicatesAreIgnoredAndNewEdgesGoToTheHead)
{
    GraphPtr g(allocateGraph(8, 0));
    ASSERT_EQ(g->nVertices, 9);
    EXPECT_EQ(g->labelImage, nullptr);
    insertEdge(g.get(), 2, 5, 7);
    insertEdge(g.get(), 2, 5, 7);
    insertEdge(g.get(), 5, 2, 9);  // present edge keeps its weight
    EXPECT_EQ(edgesOf(&g->vertices[2]), (Edges{{5, 7}}));
    EXPECT_EQ(edgesOf(&g->vertices[5]), (Edges{{2, 7}}));
    insertEdge(g.get(), 3, 3, 1);
    EXPECT_EQ(edgesOf(&g->vertices[3]), (Edges{{3, 1}}));
    for (int v : {4, 6, 8}) insertDirectedEdge(g.get(), 1, v, v * 10);
    EXPECT_EQ(edgesOf(&g->vertices[1]), (Edges{{8, 80}, {6, 60}, {4, 40}}));
    EXPECT_TRUE(edgesOf(&g->vertices[4]).empty());

    // One-way edge: removed from its list, the other list untouched.
    insertDirectedEdge(g.get(), 4, 7, 3);
    insertEdge(g.get(), 7, 0, 2);
    removeEdge(g.get(), 4, 7);
    EXPECT_TRUE(edgesOf(&g->vertices[4]).empty());
    EXPECT_EQ(edgesOf(&g->vertices[7]), (Edges{{0, 2}}));
    removeDirectedEdge(g.get(), 1, 6);
    EXPECT_EQ(edgesOf(&g->vertices[1]), (Edges{{8, 80}, {4, 40}}));
}

TEST(Graph, RemovingTheEdgeUnderTheCursorMovesTheCursorOn)
{
    EdgeList *list = createList(2);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->features[0] + list->features[1], 0);
    for (int v : {1, 2, 3}) listInsertEdge(list, v, 0);  // 3, 2, 1
    list->walk = list->head;
    EXPECT_EQ(listGetAndWalk(list)->vertex, 3);
    listRemoveEdge(list, 2);  // the cursor's node
    Edge *e = listGetAndWalk(list);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->vertex, 1);
    EXPECT_EQ(listGetAndWalk(list), nullptr);
    EXPECT_EQ(list->nEdges, 2);
    listDestroy(list);
    std::free(list);
}

TEST(Graph, CopyReversesEveryListAndZeroesFeatures)
{
    ImagePtr labels = makeImage(3, 1, {0, 2, 1});
    GraphPtr base(createGraph(labels.get(), 2));
    ASSERT_EQ(base->nVertices, 3);
    base->vertices[1].features[0] = 5;
    for (int v : {0, 2}) insertEdge(base.get(), 1, v, v + 4);  // list 1: 2, 0
    GraphPtr copy(copyBaseGraph(base.get(), 1));
    ASSERT_EQ(copy->nVertices, 3);
    EXPECT_EQ(copy->nFeatures, 1);
    EXPECT_EQ(copy->vertices[1].features[0], 0);
    EXPECT_EQ(edgesOf(&copy->vertices[1]), (Edges{{0, 4}, {2, 6}}));
    EXPECT_EQ(edgesOf(&copy->vertices[2]), (Edges{{1, 6}}));
    ASSERT_NE(copy->labelImage, nullptr);
    EXPECT_NE(copy->labelImage, base->labelImage);
    EXPECT_EQ(bandValues(copy->labelImage), (std::vector<int>{0, 2, 1}));

    // A base with more vertices than its labels, and one without labels.
    GraphPtr wide(allocateGraph(5, 0));
    insertEdge(wide.get(), 5, 4, 1);
    ImagePtr few = makeImage(2, 1, {0, 1});
    setLabelImage(wide.get(), pxCopyImage(few.get()));
    GraphPtr wideCopy(copyBaseGraph(wide.get(), 0));
    ASSERT_EQ(wideCopy->nVertices, 6);
    EXPECT_EQ(edgesOf(&wideCopy->vertices[5]), (Edges{{4, 1}}));
    setLabelImage(wide.get(), nullptr);
    GraphPtr bare(copyBaseGraph(wide.get(), 0));
    EXPECT_EQ(bare->nVertices, 6);
    EXPECT_EQ(bare->labelImage, nullptr);
}

TEST(Graph, FlatLabelImageGivesOneVertex)
{
    ImagePtr labels = makeImage(2, 2, {0, 0, 0, 0});
    GraphPtr g(createGraph(labels.get(), 0));
    EXPECT_EQ(g->nVertices, 1);
    EXPECT_EQ(g->vertices[0].head, nullptr);
    EXPECT_EQ(g->vertices[0].features, nullptr);
}

TEST(Graph, PrintIsExactWithAndWithoutFeatures)
{
    GraphPtr g(allocateGraph(3, 0));
    insertDirectedEdge(g.get(), 3, 2, 1);
    insertDirectedEdge(g.get(), 3, 5, 7);
    testing::internal::CaptureStdout();
    graphPrint(g.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Graph has 4 vertices\n[0 ()]: \n[1 ()]: \n[2 ()]: \n[3 ()]: 5(7) 2(1) \n");

    GraphPtr f(allocateGraph(1, 2));
    f->vertices[1].features[0] = 10;
    f->vertices[1].features[1] = 20;
    insertEdge(f.get(), 0, 1, 3);
    testing::internal::CaptureStdout();
    graphPrint(f.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Graph has 2 vertices\n[0 (   0    0 \b)]: 1(3) \n[1 (  10   20 \b)]: 0(3) \n");
}

TEST(Graph, VerticesOutsideTheGraphAreRefused)
{
    GraphPtr g(allocateGraph(2, 0));
    std::string message;
    EXPECT_EQ(catchFatal([&] { insertEdge(g.get(), 1, 3, 0); }, message), PX_FATAL_ARGUMENT);
    EXPECT_EQ(message, "insertEdge: vertex 3 outside the graph's 3 vertices");
    EXPECT_EQ(catchFatal([&] { removeDirectedEdge(g.get(), -1, 0); }, message), PX_FATAL_ARGUMENT);
    EXPECT_EQ(edgesOf(&g->vertices[1]), Edges{});
}

// Edge nodes outlive the threads that made them and are freed wherever the
// caller frees them; a node the caller made itself still goes back to free().
// The lists' contents, checked after every round, show that no node was handed
// out twice and none was reused while alive (later rounds reuse the slabs).
TEST(Graph, EdgeNodesOutliveTheirThreadsAndOutgrowASlab)
{
    constexpr int VERTICES = 2000, ROUNDS = 3;
    for (int round = 0; round < ROUNDS; ++round) {
        GraphPtr g(allocateGraph(VERTICES, 0));
        std::vector<std::thread> workers;
        // Each worker fills its own band of vertices: 4 x 500 x 150 edges,
        // more than one slab holds.
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([&g, t] {
                for (int u = t * 500; u < (t + 1) * 500; ++u)
                    for (int k = 1; k <= 150; ++k) insertDirectedEdge(g.get(), u, (u + k) % VERTICES, k);
            });
        for (auto &w : workers) w.join();
        // Half the edges go now, from this thread; the rest with the graph.
        for (int u = 0; u < VERTICES; ++u)
            for (int k = 1; k <= 150; k += 2) removeDirectedEdge(g.get(), u, (u + k) % VERTICES);
        for (int u = 0; u < VERTICES; u += 97) {
            ASSERT_EQ(g->vertices[u].nEdges, 75);
            int expected = 150;
            for (Edge *e = g->vertices[u].head; e; e = e->nextEdge, expected -= 2) {
                EXPECT_EQ(e->vertex, (u + expected) % VERTICES);
                EXPECT_EQ(e->weight, expected);
            }
        }
    }
    EdgeList *list = createList(0);
    auto *own = static_cast<Edge *>(std::malloc(sizeof(Edge)));
    *own = Edge{7, 1, nullptr};
    list->head = own;
    list->nEdges = 1;
    listInsertEdge(list, 8, 2);
    listRemoveEdge(list, 7);
    ASSERT_EQ(list->nEdges, 1);
    EXPECT_EQ(list->head->vertex, 8);
    listDestroy(list);
    std::free(list);
}

// A vertex count that would take more than a quarter of the machine's memory
// gives no graph, at once.
TEST(Graph, HugeVertexCountsGiveNoGraphAtOnce)
{
    for (int huge : {1000000000, 2147483647}) {
        if (huge < INT_MAX && px::sensibleMemory(static_cast<double>(huge) * sizeof(EdgeList))) continue;
        testing::internal::CaptureStderr();
        Graph *g = allocateGraph(huge, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "in allocateGraph: could not allocate memory\n");
        EXPECT_EQ(g, nullptr);
        destroyGraph(&g);
    }
}
