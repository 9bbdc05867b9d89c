// Region adjacency graphs with singly linked edge lists. Lists are short (the
// regions a region touches), so the duplicate rule is a scan of the list.

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/mman.h>

#include "graph.h"
#include "pxImage/detail.h"

namespace {

// Edge nodes come from 2 MiB slabs instead of one malloc each: a region graph
// of a textured image has millions of them, and a call per node, on fresh
// small pages, cost more than building the graph. The slabs lie in one range
// of address space reserved at first use (no memory is committed until a
// slab is touched), so a node's origin is a range test: a node that did not
// come from here (a caller's own, or one made after the range ran out) goes
// back to free().
//
// A thread takes nodes from its own slab in order, without locking. Each
// slab counts its live nodes; while a thread still takes nodes from it the
// count carries a large bias, settled when the thread moves on, so a slab
// empties exactly once, when its last node is freed. Empty slabs are kept
// for reuse (their pages stay mapped, so reuse costs no fresh page), beyond a
// few of them their pages go back to the system.
class EdgeSlabs {
public:
    static EdgeSlabs &instance()
    {
        // Never destroyed: nodes may be freed from static destructors and
        // other threads' exits.
        static EdgeSlabs *slabs = new EdgeSlabs;
        return *slabs;
    }

    Edge *take()
    {
        thread_local Cursor cursor;
        if (cursor.slab < 0 || cursor.used == NODES) {
            cursor.retire();
            cursor.slab = takeSlab();
            cursor.used = 0;
            if (cursor.slab < 0) return static_cast<Edge *>(std::malloc(sizeof(Edge)));
        }
        return reinterpret_cast<Edge *>(base_ + static_cast<std::size_t>(cursor.slab) * SLAB) + cursor.used++;
    }

    void give(Edge *e)
    {
        const auto *c = reinterpret_cast<const char *>(e);
        if (!base_ || c < base_ || c >= base_ + RANGE) {
            std::free(e);
            return;
        }
        const auto s = static_cast<std::size_t>(c - base_) / SLAB;
        if (live_[s].fetch_sub(1, std::memory_order_acq_rel) == 1) emptied(static_cast<int>(s));
    }

private:
    static constexpr std::size_t SLAB = std::size_t(2) << 20;
    static constexpr std::size_t NODES = SLAB / sizeof(Edge);
    static constexpr std::size_t RANGE = std::size_t(16) << 30;
    static constexpr std::size_t SLABS = RANGE / SLAB;
    static constexpr std::int64_t OPEN = std::int64_t(1) << 40;  // bias of a slab being filled
    static constexpr std::size_t KEEP = 32;                      // empty slabs kept with their pages

    struct Cursor {
        int slab = -1;
        std::size_t used = 0;
        // The thread is done with its slab: the bias gives way to the true count.
        void retire()
        {
            if (slab < 0) return;
            EdgeSlabs &pool = instance();
            const std::int64_t settle = static_cast<std::int64_t>(used) - OPEN;
            if (pool.live_[slab].fetch_add(settle, std::memory_order_acq_rel) + settle == 0) pool.emptied(slab);
            slab = -1;
        }
        ~Cursor() { retire(); }
    };

    EdgeSlabs()
    {
        void *p = mmap(nullptr, RANGE + SLAB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return;
        live_.reset(new (std::nothrow) std::atomic<std::int64_t>[SLABS]);
        if (!live_) {
            munmap(p, RANGE + SLAB);
            return;
        }
        const auto start = (reinterpret_cast<std::uintptr_t>(p) + SLAB - 1) / SLAB * SLAB;
        base_ = reinterpret_cast<char *>(start);
        madvise(base_, RANGE, MADV_HUGEPAGE);  // advice only
    }

    // A slab to fill, opened with the bias; -1 when the range is used up.
    int takeSlab()
    {
        if (!base_) return -1;
        std::lock_guard<std::mutex> lock(mutex_);
        int s;
        if (!kept_.empty()) {
            s = kept_.back();
            kept_.pop_back();
        } else if (!released_.empty()) {
            s = released_.back();
            released_.pop_back();
        } else if (fresh_ < SLABS) {
            s = static_cast<int>(fresh_++);
        } else {
            return -1;
        }
        live_[s].store(OPEN, std::memory_order_relaxed);
        return s;
    }

    void emptied(int s)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool keep = kept_.size() < KEEP;
        if (!keep) madvise(base_ + static_cast<std::size_t>(s) * SLAB, SLAB, MADV_DONTNEED);
        try {
            (keep ? kept_ : released_).push_back(s);
        } catch (const std::exception &) {
            // Lost for reuse, and its pages are the process's until it ends
            // when it was to be kept: nothing reads it again either way.
        }
    }

    char *base_ = nullptr;
    std::unique_ptr<std::atomic<std::int64_t>[]> live_;
    std::mutex mutex_;
    std::vector<int> kept_, released_;  // empty slabs, with their pages and without
    std::size_t fresh_ = 0;
};

Edge *newEdge()
{
    Edge *e = EdgeSlabs::instance().take();
    if (!e) px::dieOutOfMemory();
    return e;
}

void freeEdge(Edge *e) { EdgeSlabs::instance().give(e); }

void initList(EdgeList *list, int *features)
{
    list->mark = 0;
    list->nEdges = 0;
    list->features = features;
    list->head = nullptr;
    list->walk = nullptr;
}

void freeEdges(EdgeList *list)
{
    for (Edge *e = list->head; e;) {
        Edge *next = e->nextEdge;
        freeEdge(e);
        e = next;
    }
    list->head = list->walk = nullptr;
    list->nEdges = 0;
}

void freeGraph(Graph *g)
{
    for (int v = 0; v < g->nVertices; ++v) {
        freeEdges(&g->vertices[v]);
        std::free(g->vertices[v].features);
    }
    std::free(g->vertices);
    if (g->labelImage) pxReleaseImage(&g->labelImage);
    std::free(g);
}

// A graph of nVertices empty vertices with zero features and no label image;
// NULL, after "in <who>: could not allocate memory", when memory cannot be had
// (a count beyond int included). A negative count gives no vertices.
Graph *newGraph(long long nVertices, int nFeatures, const char *who)
{
    if (nVertices < 0) nVertices = 0;
    if (nFeatures < 0) nFeatures = 0;
    // Every vertex costs its list record and its features (with the
    // allocator's own header).
    const double perVertex = sizeof(EdgeList) + (nFeatures > 0 ? 4.0 * nFeatures + 16 : 0);
    Graph *g = nVertices <= INT_MAX && px::sensibleMemory(perVertex * static_cast<double>(nVertices))
                   ? static_cast<Graph *>(std::malloc(sizeof(Graph)))
                   : nullptr;
    if (g) {
        g->nVertices = 0;
        g->nFeatures = nFeatures;
        g->labelImage = nullptr;
        const std::size_t bytes = nVertices > 0 ? static_cast<std::size_t>(nVertices) * sizeof(EdgeList) : 1;
        g->vertices = static_cast<EdgeList *>(std::malloc(bytes));
        if (g->vertices) {
            // A graph of a textured image has a vertex per small region:
            // millions of records, written here for the first time.
            px::adviseHugePages(g->vertices, bytes);
            for (; g->nVertices < nVertices; ++g->nVertices) {
                int *features = nullptr;
                if (nFeatures > 0 &&
                    !(features = static_cast<int *>(std::calloc(static_cast<std::size_t>(nFeatures), sizeof(int)))))
                    break;
                initList(&g->vertices[g->nVertices], features);
            }
            if (g->nVertices == nVertices) return g;
        }
        freeGraph(g);
    }
    std::fprintf(stderr, "in %s: could not allocate memory\n", who);
    return nullptr;
}

void checkVertex(const Graph *g, int v, const char *where)
{
    if (v < 0 || v >= g->nVertices)
        px::fatal(PX_FATAL_ARGUMENT, "%s: vertex %d outside the graph's %d vertices\n", where, v, g->nVertices);
}

} // namespace

extern "C" {

Graph *createGraph(Image *labelImage, int nFeatures)
{
    if (!labelImage) px::fatal(PX_FATAL_ARGUMENT, "in createGraph: no label image\n");
    Graph *g = newGraph(static_cast<long long>(labelImage->maxValue) + 1, nFeatures, "createGraph");
    if (g && !(g->labelImage = pxCopyImage(labelImage))) {
        freeGraph(g);
        return nullptr;
    }
    return g;
}

Graph *allocateGraph(int n, int nFeatures)
{
    return newGraph(static_cast<long long>(n) + 1, nFeatures, "allocateGraph");
}

void setLabelImage(Graph *graph, Image *img)
{
    if (graph->labelImage) pxReleaseImage(&graph->labelImage);
    graph->labelImage = img;
}

// The copy needs room for every vertex of the base, which may outnumber the
// labels of its label image (a top label that conquered no pixel), and a base
// without a label image gives a copy without one.
Graph *copyBaseGraph(Graph *base, int nFeatures)
{
    long long n = base->nVertices;
    if (base->labelImage && static_cast<long long>(base->labelImage->maxValue) + 1 > n)
        n = static_cast<long long>(base->labelImage->maxValue) + 1;
    // Held by an owner while edges are copied: a node that cannot be had ends
    // the call, and inside pxCatchFatal the copy must not leak.
    std::unique_ptr<Graph, void (*)(Graph *)> g(newGraph(n, nFeatures, "createGraph"), freeGraph);
    if (!g) return nullptr;
    if (base->labelImage && !(g->labelImage = pxCopyImage(base->labelImage))) return nullptr;
    for (int i = 0; i < base->nVertices; ++i) {
        EdgeList *from = &base->vertices[i];
        from->walk = from->head;
        for (Edge *e; (e = listGetAndWalk(from));) listInsertEdge(&g->vertices[i], e->vertex, e->weight);
    }
    return g.release();
}

void insertEdge(Graph *graph, int u, int v, int weight)
{
    checkVertex(graph, u, "insertEdge");
    checkVertex(graph, v, "insertEdge");
    listInsertEdge(&graph->vertices[u], v, weight);
    listInsertEdge(&graph->vertices[v], u, weight);
}

void removeEdge(Graph *graph, int u, int v)
{
    checkVertex(graph, u, "removeEdge");
    checkVertex(graph, v, "removeEdge");
    listRemoveEdge(&graph->vertices[u], v);
    listRemoveEdge(&graph->vertices[v], u);
}

void insertDirectedEdge(Graph *graph, int u, int v, int weight)
{
    checkVertex(graph, u, "insertDirectedEdge");
    listInsertEdge(&graph->vertices[u], v, weight);
}

void removeDirectedEdge(Graph *graph, int u, int v)
{
    checkVertex(graph, u, "removeDirectedEdge");
    listRemoveEdge(&graph->vertices[u], v);
}

EdgeList *createList(int nFeatures)
{
    auto *list = static_cast<EdgeList *>(std::malloc(sizeof(EdgeList)));
    if (!list) return nullptr;
    int *features = nullptr;
    if (nFeatures > 0 &&
        !(features = static_cast<int *>(std::calloc(static_cast<std::size_t>(nFeatures), sizeof(int))))) {
        std::free(list);
        return nullptr;
    }
    initList(list, features);
    return list;
}

void listInsertEdge(EdgeList *list, int vertex, int weight)
{
    for (Edge *e = list->head; e; e = e->nextEdge)
        if (e->vertex == vertex) return;
    Edge *e = newEdge();
    e->vertex = vertex;
    e->weight = weight;
    e->nextEdge = list->head;
    list->head = e;
    ++list->nEdges;
}

// A cursor left on the freed node would be followed by the next
// listGetAndWalk, so it moves on to the node after it.
void listRemoveEdge(EdgeList *list, int vertex)
{
    for (Edge **link = &list->head; *link; link = &(*link)->nextEdge) {
        Edge *e = *link;
        if (e->vertex != vertex) continue;
        *link = e->nextEdge;
        if (list->walk == e) list->walk = e->nextEdge;
        freeEdge(e);
        --list->nEdges;
        return;
    }
}

Edge *listGetAndWalk(EdgeList *list)
{
    Edge *e = list->walk;
    if (e) list->walk = e->nextEdge;
    return e;
}

void listDestroy(EdgeList *list)
{
    freeEdges(list);
    std::free(list->features);
    list->features = nullptr;
}

void destroyGraph(Graph **graph)
{
    if (graph && *graph) freeGraph(*graph);
}

void graphPrint(Graph *graph)
{
    std::printf("Graph has %d vertices\n", graph->nVertices);
    for (int v = 0; v < graph->nVertices; ++v) {
        EdgeList *list = &graph->vertices[v];
        std::printf("[%d (", v);
        for (int f = 0; f < graph->nFeatures; ++f) std::printf("%4d ", list->features[f]);
        std::printf(graph->nFeatures > 0 ? "\b)]: " : ")]: ");
        list->walk = list->head;
        for (Edge *e; (e = listGetAndWalk(list));) std::printf("%d(%d) ", e->vertex, e->weight);
        std::printf("\n");
    }
}

} // extern "C"
