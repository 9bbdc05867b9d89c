// The generic image foresting transform with the library's weight and
// path-cost functions chosen by name.

#include "common.h"

#include <cstring>

namespace foresting {

namespace {

// (labels, costs or None, predecessors or None), each rows x columns int32;
// predecessors are raster indices.
py::tuple ift(const py::array &a, const IntArray &coords, const IntArray &labels, const IntArray &costs,
              int connectivity, const std::string &weightName, const std::string &pathCostName,
              bool maximize, int maxcost, bool wantCosts, bool wantPreds)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    const WeightFn weight = weightFor(weightName);
    const PathCostFn pathCost = pathCostFor(pathCostName);
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    ImagePtr work = newImage(img->nbands + 3, PX_WORK, img->ncols, img->nrows);
    guarded([&] {
        if (maximize) iftNonNormalizedInverted(img.get(), work.get(), adjacency, weight, maxcost, pathCost, &seeds.roots);
        else iftNonNormalized(img.get(), work.get(), adjacency, weight, maxcost, pathCost, &seeds.roots);
    });
    img.reset();
    const int nb = work->nbands;
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    py::object outCosts = py::none(), outPreds = py::none();
    if (wantCosts) outCosts = fromImage(work.get(), nb - 2, i32);
    if (wantPreds) outPreds = fromImage(work.get(), nb - 1, i32);
    return py::make_tuple(fromImage(work.get(), nb - 3, i32), outCosts, outPreds);
}

} // namespace

void bind_ift(py::module_ &m)
{
    m.def("ift", &ift, py::arg("image"), py::arg("coords"), py::arg("labels"), py::arg("costs"),
          py::arg("adjacency"), py::arg("weight"), py::arg("path_cost"), py::arg("maximize"),
          py::arg("max_cost"), py::arg("want_costs"), py::arg("want_preds"));
}

} // namespace foresting
