// Fuzzy connectedness.

#include "common.h"

#include <vector>

namespace foresting {

namespace {

// (labels int32, costs int32). means and variances hold objects 1..n.
py::tuple fuzzy(const py::array &a, const IntArray &coords, const IntArray &labels, const IntArray &means,
                const IntArray &variances, int connectivity, bool competitive)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    IntArray zero(coords.shape(0));
    std::fill(zero.mutable_data(), zero.mutable_data() + zero.size(), 0);
    fillSeeds(seeds, coords, labels, zero, img->ncols);
    const int n = static_cast<int>(means.size());
    std::vector<int> m(n + 1, 0), v(n + 1, 1);
    std::copy(means.data(), means.data() + n, m.begin() + 1);
    std::copy(variances.data(), variances.data() + n, v.begin() + 1);
    ImagePtr label = newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    ImagePtr cost = newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    guarded([&] {
        if (competitive)
            iftFuzzyEdges(img.get(), label.get(), cost.get(), adjacency, &seeds.roots, m.data(), v.data(), n);
        else iftFuzzy(img.get(), label.get(), cost.get(), adjacency, &seeds.roots, m.data(), v.data(), n);
    });
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(label.get(), 0, i32), fromImage(cost.get(), 0, i32));
}

// Arc dissimilarities, rows x columns x displacements int32.
py::array fuzzyWeights(const py::array &a, int connectivity, int mean, int variance)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    ImagePtr img = toImage(a, "image");
    Image *raw = nullptr;
    guarded([&] { raw = ifFuzzyEdgesWeight(img.get(), adjacency, mean, variance); });
    ImagePtr out(raw);
    return fromImage(out.get(), -1, py::dtype::of<std::int32_t>());
}

} // namespace

void bind_fuzzy(py::module_ &m)
{
    m.def("fuzzy", &fuzzy, py::arg("image"), py::arg("coords"), py::arg("labels"), py::arg("means"),
          py::arg("variances"), py::arg("adjacency"), py::arg("competitive"));
    m.def("fuzzy_weights", &fuzzyWeights, py::arg("image"), py::arg("adjacency"), py::arg("mean"),
          py::arg("variance"));
}

} // namespace foresting
