// The IFT variants (fixed bucket count, arc-weight images, masks, and the
// merging IFT that builds a region graph) and the arc-weight functions.

#include "common.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace foresting {

namespace {

// (labels, costs, predecessors) from the last three bands of a work image.
py::tuple workOut(const Image *work)
{
    const int nb = work->nbands;
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(work, nb - 3, i32), fromImage(work, nb - 2, i32),
                          fromImage(work, nb - 1, i32));
}

ImagePtr workFor(const Image *img) { return newImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows); }

ImagePtr optionalImage(const py::object &a, const char *what)
{
    if (a.is_none()) return ImagePtr();
    return toImage(a.cast<py::array>(), what);
}

// An arc-weight image from (rows, columns, n) weights and n (row, column)
// displacements; the library's pairs are (dx, dy).
ImagePtr arcWeightImage(const IntArray &w, const IntArray &disp)
{
    const int nrows = static_cast<int>(w.shape(0)), ncols = static_cast<int>(w.shape(1));
    const int n = static_cast<int>(w.shape(2));
    ImagePtr out = newImage(n, PX_ARCWEIGHTS, ncols, nrows);
    out->adjPairs = static_cast<int *>(std::calloc(2 * static_cast<std::size_t>(n > 0 ? n : 1), sizeof(int)));
    if (!out->adjPairs) throw std::bad_alloc();
    out->adjCount = n;
    const int *d = disp.data();
    for (int j = 0; j < n; ++j) {
        out->adjPairs[2 * j] = d[2 * j + 1];
        out->adjPairs[2 * j + 1] = d[2 * j];
    }
    const int *src = w.data();
    int top = 0;
    for (int p = 0; p < nrows * ncols; ++p)
        for (int j = 0; j < n; ++j) {
            const int v = src[static_cast<std::size_t>(p) * n + j];
            out->bands[j][p] = v;
            if (v > top) top = v;
        }
    out->maxValue = top;
    return out;
}

py::tuple iftNormalized(const py::array &a, const IntArray &coords, const IntArray &labels,
                        const IntArray &costs, int connectivity, const std::string &weightName,
                        const std::string &pathCostName, const py::object &mask)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    const WeightFn weight = weightFor(weightName);
    const PathCostFn pathCost = pathCostFor(pathCostName);
    ImagePtr img = toImage(a, "image");
    ImagePtr m = optionalImage(mask, "mask");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    ImagePtr work = workFor(img.get());
    guarded([&] {
        if (m) iftMask(img.get(), work.get(), m.get(), adjacency, weight, pathCost, &seeds.roots);
        else ::ift(img.get(), work.get(), adjacency, weight, pathCost, &seeds.roots);
    });
    return workOut(work.get());
}

// maxcost < 0: iftWF (or iftMaskWF with a mask), else iftNonNormalizedWF.
py::tuple iftArcWeights(const py::array &a, const IntArray &coords, const IntArray &labels,
                        const IntArray &costs, const IntArray &weights, const IntArray &disp,
                        const std::string &pathCostName, const py::object &mask, int maxcost)
{
    const PathCostFn pathCost = pathCostFor(pathCostName);
    ImagePtr img = toImage(a, "image");
    ImagePtr m = optionalImage(mask, "mask");
    ImagePtr w = arcWeightImage(weights, disp);
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    ImagePtr work = workFor(img.get());
    guarded([&] {
        if (m) iftMaskWF(img.get(), work.get(), m.get(), w.get(), pathCost, &seeds.roots);
        else if (maxcost < 0) iftWF(img.get(), work.get(), w.get(), pathCost, &seeds.roots);
        else iftNonNormalizedWF(img.get(), work.get(), w.get(), maxcost, pathCost, &seeds.roots);
    });
    return workOut(work.get());
}

struct GraphRelease {
    void operator()(Graph *g) const { destroyGraph(&g); }
};

// (labels, costs, predecessors, edges (m, 2) int32 with u < v, weights (m,)).
py::tuple iftMerging(const py::array &dataArray, const py::array &a, const IntArray &coords,
                     const IntArray &labels, const IntArray &costs, int connectivity,
                     const std::string &weightName, const std::string &pathCostName, int maxcost,
                     const std::string &criterion)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    const WeightFn weight = weightFor(weightName);
    const PathCostFn pathCost = pathCostFor(pathCostName);
    RegionWeightFn regionWeight;
    InitDataFn init;
    MergeDataFn merge;
    int nData;
    if (criterion == "area") regionWeight = ifEdgeWeightArea, init = ifInitAreaData, merge = ifUpdateAreaData, nData = 1;
    else if (criterion == "volume") regionWeight = ifEdgeWeightVolume, init = ifInitVolumeData, merge = ifUpdateVolumeData, nData = 2;
    else if (criterion == "colour") regionWeight = ifEdgeWeightColor, init = ifInitColorData, merge = ifUpdateColorData, nData = 4;
    else throw py::value_error("unknown criterion '" + criterion + "'");
    ImagePtr data = toImage(dataArray, "data");
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    ImagePtr work = workFor(img.get());
    std::unique_ptr<Graph, GraphRelease> graph;
    guarded([&] {
        graph.reset(iftDinamicNonNormalized(data.get(), img.get(), work.get(), adjacency, weight, maxcost,
                                            pathCost, &seeds.roots, regionWeight, init, merge, nData));
    });
    if (!graph) throw std::bad_alloc();
    std::vector<int> edges, ws;
    for (int u = 0; u < graph->nVertices; ++u)
        for (const Edge *e = graph->vertices[u].head; e; e = e->nextEdge)
            if (u < e->vertex) {
                edges.push_back(u);
                edges.push_back(e->vertex);
                ws.push_back(e->weight);
            }
    const py::ssize_t m = static_cast<py::ssize_t>(ws.size());
    py::array_t<std::int32_t> outEdges({m, py::ssize_t(2)}), outWeights(m);
    if (m) {
        std::memcpy(outEdges.mutable_data(), edges.data(), edges.size() * sizeof(int));
        std::memcpy(outWeights.mutable_data(), ws.data(), ws.size() * sizeof(int));
    }
    py::tuple t = workOut(work.get());
    return py::make_tuple(t[0], t[1], t[2], outEdges, outWeights, graph->nVertices);
}

// (weights (rows, columns, n) int32, displacements (n, 2) int32 of (row, column)).
py::tuple arcWeights(const py::array &a, int connectivity, const std::string &kind)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    Image *(*fn)(Image *, AdjacencyFn);
    if (kind == "euclidean") fn = euclideanWF;
    else if (kind == "gaussian") fn = gaussianWF;
    else if (kind == "gaussian2") fn = gaussian2WF;
    else if (kind == "watershed") fn = watershedWF;
    else throw py::value_error("unknown arc weight '" + kind + "'");
    ImagePtr img = toImage(a, "image");
    ImagePtr out;
    guarded([&] { out.reset(fn(img.get(), adjacency)); });
    if (!out) throw std::bad_alloc();
    const py::ssize_t n = out->adjCount;
    py::array_t<std::int32_t> disp({n, py::ssize_t(2)});
    for (int j = 0; j < n; ++j) {
        disp.mutable_data()[2 * j] = out->adjPairs[2 * j + 1];
        disp.mutable_data()[2 * j + 1] = out->adjPairs[2 * j];
    }
    return py::make_tuple(fromImage(out.get(), -1, py::dtype::of<std::int32_t>()), disp);
}

} // namespace

void bind_variants(py::module_ &m)
{
    m.def("ift_normalized", &iftNormalized, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("costs"), py::arg("adjacency"), py::arg("weight"), py::arg("path_cost"), py::arg("mask"));
    m.def("ift_arc_weights", &iftArcWeights, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("costs"), py::arg("weights"), py::arg("displacements"), py::arg("path_cost"),
          py::arg("mask"), py::arg("max_cost"));
    m.def("ift_merging", &iftMerging, py::arg("data"), py::arg("image"), py::arg("coords"),
          py::arg("labels"), py::arg("costs"), py::arg("adjacency"), py::arg("weight"),
          py::arg("path_cost"), py::arg("max_cost"), py::arg("criterion"));
    m.def("arc_weights", &arcWeights, py::arg("image"), py::arg("adjacency"), py::arg("kind"));
}

} // namespace foresting
