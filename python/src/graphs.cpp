// Region graphs, their features, minimum spanning forests and their cuts. A
// graph crosses into Python as plain arrays: arcs (m, 2) and weights (m,),
// every entry of every vertex's edge list in list order (so an undirected
// edge appears as (u, v) and as (v, u)), features (vertices, features) and
// the label image or None. Rebuilt from those arrays a graph has the same
// lists in the same order, so results do not depend on the round trip.

#include "common.h"

#include <cstring>
#include <vector>

namespace foresting {

namespace {

struct GraphRelease {
    void operator()(Graph *g) const { destroyGraph(&g); }
};
using GraphPtr = std::unique_ptr<Graph, GraphRelease>;

py::tuple graphOut(const Graph *g)
{
    std::vector<int> arcs, ws;
    for (int u = 0; u < g->nVertices; ++u)
        for (const Edge *e = g->vertices[u].head; e; e = e->nextEdge) {
            arcs.push_back(u);
            arcs.push_back(e->vertex);
            ws.push_back(e->weight);
        }
    const py::ssize_t m = static_cast<py::ssize_t>(ws.size());
    const py::ssize_t nv = g->nVertices, nf = g->nFeatures;
    py::array_t<std::int32_t> outArcs({m, py::ssize_t(2)}), outWeights(m), features({nv, nf});
    if (m) {
        std::memcpy(outArcs.mutable_data(), arcs.data(), arcs.size() * sizeof(int));
        std::memcpy(outWeights.mutable_data(), ws.data(), ws.size() * sizeof(int));
    }
    for (int v = 0; v < g->nVertices; ++v)
        if (nf) std::memcpy(features.mutable_data() + v * nf, g->vertices[v].features, nf * sizeof(int));
    py::object labels = py::none();
    if (g->labelImage) labels = fromImage(g->labelImage, 0, py::dtype::of<std::int32_t>());
    return py::make_tuple(outArcs, outWeights, features, labels);
}

GraphPtr graphIn(const IntArray &arcs, const IntArray &weights, const IntArray &features,
                 const py::object &labels)
{
    const int nv = static_cast<int>(features.shape(0)), nf = static_cast<int>(features.shape(1));
    GraphPtr g(allocateGraph(nv - 1, nf));
    if (!g) throw std::bad_alloc();
    const int *f = features.data();
    for (int v = 0; v < nv; ++v)
        if (nf) std::memcpy(g->vertices[v].features, f + static_cast<std::size_t>(v) * nf, nf * sizeof(int));
    const int *a = arcs.data(), *w = weights.data();
    guarded([&] {
        // Head insertion: each list is built from its last entry back.
        for (py::ssize_t i = arcs.shape(0) - 1; i >= 0; --i) insertDirectedEdge(g.get(), a[2 * i], a[2 * i + 1], w[i]);
    });
    if (!labels.is_none()) setLabelImage(g.get(), toImage(labels.cast<py::array>(), "labels").release());
    return g;
}

#define GRAPH_ARGS const IntArray &arcs, const IntArray &weights, const IntArray &features, const py::object &labels
#define GRAPH_IN graphIn(arcs, weights, features, labels)

GraphPtr checked(Graph *g)
{
    if (!g) throw std::bad_alloc();
    return GraphPtr(g);
}

GraphDistanceFn distanceFor(const std::string &name)
{
    if (name == "euclidean") return ifGraphEuclideanDistance;
    if (name == "min") return ifGraphMinDistance;
    if (name == "watershed") return ifGraphWatershedDistance;
    throw py::value_error("unknown graph distance '" + name + "'");
}

// A graph operation of one graph in, one graph out.
template <class F>
py::tuple onGraph(GRAPH_ARGS, F &&fn)
{
    GraphPtr g = GRAPH_IN;
    Graph *out = nullptr;
    guarded([&] { out = fn(g.get()); });
    return graphOut(checked(out).get());
}

py::tuple mosaicToGraph(const py::array &labelArray)
{
    ImagePtr img = toImage(labelArray, "labels");
    Graph *out = nullptr;
    guarded([&] { out = ifMosaicToGraph(img.get()); });
    if (!out)
        raiseFatal(PX_FATAL_MEMORY, "a region graph of " + std::to_string(img->maxValue + 1LL) + " vertices (labels 0 .. " +
                                        std::to_string(img->maxValue) + ") needs more memory than is sensible");
    return graphOut(GraphPtr(out).get());
}

// (costs, parents) of the minimum spanning tree of the pixel graph.
py::tuple prim(const py::array &a, int connectivity, const std::string &weightName)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    WeightFn weight;
    if (weightName == "watershed") weight = ifWatershedMetric;
    else if (weightName == "euclidean") weight = ifEuclideanDistance;
    else if (weightName == "max") weight = ifMaxDistance;
    else if (weightName == "chamfer") weight = ifChanferDistance;
    else throw py::value_error("unknown weight '" + weightName + "'");
    ImagePtr img = toImage(a, "image");
    ImagePtr out = newImage(2, PX_WORK, img->ncols, img->nrows);
    guarded([&] { iftPrim(img.get(), out.get(), adjacency, weight); });
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(out.get(), 0, i32), fromImage(out.get(), 1, i32));
}

py::tuple primWF(const IntArray &w, const IntArray &disp)
{
    const int nrows = static_cast<int>(w.shape(0)), ncols = static_cast<int>(w.shape(1));
    const int n = static_cast<int>(w.shape(2));
    ImagePtr weights = newImage(n, PX_ARCWEIGHTS, ncols, nrows);
    weights->adjPairs = static_cast<int *>(std::calloc(2 * static_cast<std::size_t>(n > 0 ? n : 1), sizeof(int)));
    if (!weights->adjPairs) throw std::bad_alloc();
    weights->adjCount = n;
    const int *d = disp.data(), *src = w.data();
    for (int j = 0; j < n; ++j) {
        weights->adjPairs[2 * j] = d[2 * j + 1];
        weights->adjPairs[2 * j + 1] = d[2 * j];
    }
    for (int p = 0; p < nrows * ncols; ++p)
        for (int j = 0; j < n; ++j) weights->bands[j][p] = src[static_cast<std::size_t>(p) * n + j];
    ImagePtr geometry = newImage(1, PX_WORK, ncols, nrows);
    ImagePtr out = newImage(2, PX_WORK, ncols, nrows);
    guarded([&] { iftPrimWF(geometry.get(), out.get(), weights.get()); });
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(out.get(), 0, i32), fromImage(out.get(), 1, i32));
}

py::array mstThreshold(const IntArray &costs, const IntArray &parents, double fraction)
{
    const int nrows = static_cast<int>(costs.shape(0)), ncols = static_cast<int>(costs.shape(1));
    ImagePtr tree = newImage(2, PX_WORK, ncols, nrows);
    std::memcpy(tree->bands[0], costs.data(), sizeof(int) * tree->npixels);
    std::memcpy(tree->bands[1], parents.data(), sizeof(int) * tree->npixels);
    ImagePtr labels = newImage(1, PX_WORK, ncols, nrows);
    guarded([&] { ifMstThreshold(tree.get(), labels.get(), fraction); });
    return fromImage(labels.get(), 0, py::dtype::of<std::int32_t>());
}

// Band-wise means of image over each label of labels, as an image of image's bands.
py::array regionMeanImage(const py::array &a, const py::array &labelArray)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr labels = toImage(labelArray, "labels");
    ImagePtr out = newImage(img->nbands, PX_WORK, img->ncols, img->nrows);
    guarded([&] { ifAverageColor(img.get(), out.get(), labels.get()); });
    return fromImage(out.get(), img->nbands == 1 ? 0 : -1, py::dtype::of<std::int32_t>());
}

// Every band mapped onto 0 .. 1000, as (rows, columns, bands).
py::array featuresVector(const py::array &a)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr out;
    guarded([&] { out.reset(ifCreateFeaturesVector(img.get())); });
    if (!out) throw std::bad_alloc();
    return fromImage(out.get(), -1, py::dtype::of<std::int32_t>());
}

} // namespace

void bind_graphs(py::module_ &m)
{
    m.def("mosaic_to_graph", &mosaicToGraph);
    m.def("eliminate_small_regions", [](GRAPH_ARGS, int maxArea, int maxDegree) {
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifEliminateSmallRegions(g, maxArea, maxDegree); });
    });
    m.def("graph_area", [](GRAPH_ARGS) { return onGraph(arcs, weights, features, labels, ifComputeArea); });
    m.def("graph_volume", [](GRAPH_ARGS, const py::array &grey) {
        ImagePtr img = toImage(grey, "image");
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifComputeVolume(g, img.get()); });
    });
    m.def("graph_mean_colours", [](GRAPH_ARGS, const py::array &image) {
        ImagePtr img = toImage(image, "image");
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifComputeAverageColors(g, img.get()); });
    });
    m.def("graph_normalized_features", [](GRAPH_ARGS) { return onGraph(arcs, weights, features, labels, ifCreateFeaturesGraph); });
    m.def("graph_gradient", [](GRAPH_ARGS) { return onGraph(arcs, weights, features, labels, ifMorphoGradGraph); });
    m.def("graph_collapse", [](GRAPH_ARGS) { return onGraph(arcs, weights, features, labels, ifColapseGraph); });
    m.def("graph_mst", [](GRAPH_ARGS, const std::string &distance) {
        const GraphDistanceFn d = distanceFor(distance);
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return iftPrimGraph(g, d); });
    });
    m.def("graph_ift", [](GRAPH_ARGS, const IntArray &vertices, const IntArray &seedLabels, const IntArray &costs,
                          const std::string &distance, const std::string &pathCost) {
        const GraphDistanceFn d = distanceFor(distance);
        const PathCostFn pc = pathCostFor(pathCost);
        SeedSet seeds;
        // One row of as many columns as the graph has vertices: the raster index is the vertex.
        py::array_t<int> coords({vertices.shape(0), py::ssize_t(2)});
        for (py::ssize_t i = 0; i < vertices.shape(0); ++i) {
            coords.mutable_data()[2 * i] = 0;
            coords.mutable_data()[2 * i + 1] = vertices.data()[i];
        }
        fillSeeds(seeds, coords, seedLabels, costs, 1 << 30);
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return iftGraph(g, d, pc, &seeds.roots); });
    });
    m.def("graph_cut", [](GRAPH_ARGS, int threshold) {
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifThresholdMST(g, threshold); });
    });
    m.def("graph_cut_regions", [](GRAPH_ARGS, int n) {
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifThresholdMST_nRegions(g, n); });
    });
    m.def("graph_cut_forest", [](GRAPH_ARGS, double threshold) {
        return onGraph(arcs, weights, features, labels, [&](Graph *g) { return ifThresholdGraph(g, threshold); });
    });
    m.def("graph_features_image", [](GRAPH_ARGS) {
        GraphPtr g = GRAPH_IN;
        ImagePtr out;
        guarded([&] { out.reset(ifAverageColorsGraphToImage(g.get(), PX_GREY_INT)); });
        if (!out) throw std::bad_alloc();
        return fromImage(out.get(), -1, py::dtype::of<std::int32_t>());
    });
    m.def("region_mean_image", &regionMeanImage);
    m.def("features_vector", &featuresVector);
    m.def("mst", &prim);
    m.def("mst_arc_weights", &primWF);
    m.def("mst_cut", &mstThreshold);
}

} // namespace foresting
