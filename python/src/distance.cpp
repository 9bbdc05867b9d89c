// The Euclidean distance transform and the skeletons.

#include "common.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pxImage/parallel.h"

namespace foresting {

namespace {

// (labels, squared distances, predecessors as raster indices), int32.
py::tuple distanceTransform(const py::array &a, const IntArray &coords, const IntArray &labels, int connectivity)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    IntArray zero(coords.shape(0));
    std::fill(zero.mutable_data(), zero.mutable_data() + zero.size(), 0);
    fillSeeds(seeds, coords, labels, zero, img->ncols);
    ImagePtr work = newImage(3, PX_WORK, img->ncols, img->nrows);
    guarded([&] { iftEuclideanDT(img.get(), work.get(), adjacency, &seeds.roots); });
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(work.get(), 0, i32), fromImage(work.get(), 1, i32),
                          fromImage(work.get(), 2, i32));
}

// (squared distances on the skeleton, int32; largest label difference).
py::tuple skeleton(const py::array &a, int kind, int threshold)
{
    ImagePtr img = toImage(a, "image");
    Image *raw = nullptr;
    int largest = 0;
    guarded([&] { largest = ifSkel(img.get(), kind, threshold, &raw); });
    ImagePtr out(raw);
    if (!out) throw py::value_error("invalid skeleton kind");
    return py::make_tuple(fromImage(out.get(), 0, py::dtype::of<std::int32_t>()), largest);
}

// The union of the discs as bool.
py::array skeletonReconstruction(const py::array &a)
{
    ImagePtr img = toImage(a, "skeleton");
    ImagePtr work = newImage(4, PX_WORK, img->ncols, img->nrows);
    guarded([&] { iftSkelReconstr(img.get(), work.get()); });
    return fromImage(work.get(), 3, py::dtype::of<bool>());
}

// The contour seeds of ifSkel2RootsSplit as (coords, labels, costs).
py::tuple contourSeeds(const py::array &a)
{
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    guarded([&] { ifSkel2RootsSplit(img.get(), &seeds.roots); });
    return seedsToTuple(seeds.roots, img->ncols);
}

// (labels, squared distances, predecessors as raster indices, skeleton mask).
py::tuple euclideanSkeleton(const py::array &a, const IntArray &coords, const IntArray &labels, int connectivity,
                            bool inner, double error, int seedDistance)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    IntArray zero(coords.shape(0));
    std::fill(zero.mutable_data(), zero.mutable_data() + zero.size(), 0);
    fillSeeds(seeds, coords, labels, zero, img->ncols);
    ImagePtr work = newImage(4, PX_WORK, img->ncols, img->nrows);
    guarded([&] {
        iftEuclideanSkel(img.get(), work.get(), adjacency, &seeds.roots, inner ? 1 : 0, error, seedDistance);
    });
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(work.get(), 0, i32), fromImage(work.get(), 1, i32),
                          fromImage(work.get(), 2, i32), fromImage(work.get(), 3, py::dtype::of<bool>()));
}

// (labels, costs, predecessors as raster indices, skeleton mask) of the
// skeleton IFT with the library's weight and path cost named.
py::tuple skeletonIft(const py::array &a, const IntArray &coords, const IntArray &labels, const IntArray &costs,
                      int connectivity, const std::string &weightName, const std::string &pathCostName,
                      bool contourMode)
{
    const AdjacencyFn adjacency = adjacencyFor(connectivity);
    const WeightFn weight = weightFor(weightName);
    const PathCostFn pathCost = pathCostFor(pathCostName);
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    ImagePtr work = newImage(img->nbands + 4, PX_WORK, img->ncols, img->nrows);
    guarded([&] {
        iftSkel(img.get(), work.get(), adjacency, weight, pathCost, &seeds.roots, contourMode ? 1 : 0);
    });
    const int nb = work->nbands;
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(work.get(), nb - 4, i32), fromImage(work.get(), nb - 3, i32),
                          fromImage(work.get(), nb - 2, i32), fromImage(work.get(), nb - 1, py::dtype::of<bool>()));
}

// Squared propagated distances from source on the path to target, int32.
py::array shortestPath(const py::array &a, int source, int target)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr out = newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    guarded([&] { ifEuclideanShortestPath(img.get(), out.get(), source, target); });
    return fromBand(out->bands[0], out->nrows, out->ncols, py::dtype::of<std::int32_t>());
}

// The normalised histogram as float32 (empty without a contour).
py::array histogramBySkeleton(const py::array &a, int percent)
{
    ImagePtr img = toImage(a, "image");
    float *hist = nullptr;
    int bins = 0;
    guarded([&] { ifHistogramBySkel(img.get(), percent, &hist, &bins); });
    std::unique_ptr<float, void (*)(void *)> owner(hist, std::free);
    py::array_t<float> result(bins);
    if (bins > 0) std::copy(hist, hist + bins, result.mutable_data());
    return result;
}

struct ContourSeedSet {
    ContourRoots roots{};
    ContourSeedSet() = default;
    ContourSeedSet(const ContourSeedSet &) = delete;
    ContourSeedSet &operator=(const ContourSeedSet &) = delete;
    ~ContourSeedSet() { ifReleaseRoots2(&roots); }
};

py::array_t<std::int32_t> vectorOf(const int *values, int n)
{
    py::array_t<std::int32_t> out(n);
    if (n > 0) std::copy(values, values + n, out.mutable_data());
    return out;
}

// (cleaned object as bool, pixels as raster indices, positions, contour
// numbers) of the contour seeds; with `propagate`, also the Euclidean
// propagation from them over the image (positions, squared distances,
// predecessors as raster indices, contour numbers).
py::tuple contours(const py::array &a, bool propagate)
{
    ImagePtr img = toImage(a, "image");
    ContourSeedSet seeds;
    Image *raw = nullptr;
    ImagePtr work;
    guarded([&] {
        raw = ifSkel2Roots(img.get(), &seeds.roots);
        if (propagate) {
            ImagePtr object(raw);
            raw = nullptr;
            work.reset(pxCreateImage(4, PX_WORK, img->ncols, img->nrows));
            if (work) iftSkelNova(img.get(), work.get(), &seeds.roots);
            raw = object.release();
        }
    });
    ImagePtr object(raw);
    if (propagate && !work) throw std::bad_alloc();
    const int n = seeds.roots.count;
    py::tuple result = py::make_tuple(fromImage(object.get(), 0, py::dtype::of<bool>()),
                                      vectorOf(seeds.roots.pixel, n), vectorOf(seeds.roots.position, n),
                                      vectorOf(seeds.roots.contour, n));
    if (!propagate) return result;
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(result, fromImage(work.get(), 0, i32), fromImage(work.get(), 1, i32),
                          fromImage(work.get(), 2, i32), fromImage(work.get(), 3, i32));
}

// Pixel indices (row-major, ncols columns; -1 for none) split into rows, in
// place, and columns: a multiplication by the reciprocal, corrected by one
// where rounding put it off.
void splitIndices(int *rows, int *cols, int n, int ncols)
{
    const double inverse = 1.0 / ncols;
    pxParallelRanges(n, 1 << 16, [&](int begin, int end, int) {
        for (int i = begin; i < end; ++i) {
            const int p = rows[i];
            if (p < 0) {
                cols[i] = -1;
                continue;
            }
            int r = static_cast<int>(p * inverse), c = p - r * ncols;
            if (c < 0) --r, c += ncols;
            else if (c >= ncols) ++r, c -= ncols;
            rows[i] = r;
            cols[i] = c;
        }
    });
}

// The exact transform to the zeros of `mask` (int32, or bool/uint8 read as
// 0 or not): float64 distances, with the nearest zero's (row, column) as a
// (2, rows, columns) int32 array and its label (1, 2, ... in raster order)
// when asked.
py::tuple exactEdt(const py::array &mask, bool wantIndices, bool wantLabels)
{
    const int nrows = static_cast<int>(mask.shape(0)), ncols = static_cast<int>(mask.shape(1));
    const int n = nrows * ncols;
    std::vector<int> converted;
    int *band = nullptr;
    if (mask.dtype().is(py::dtype::of<std::int32_t>())) {
        band = static_cast<int *>(const_cast<void *>(mask.data()));
    } else {
        converted.resize(static_cast<std::size_t>(n));
        const std::uint8_t *m = static_cast<const std::uint8_t *>(mask.data());
        for (int p = 0; p < n; ++p) converted[p] = m[p];
        band = converted.data();
    }
    // A view of the caller's array: ifExactEDT reads the size and band 0 only.
    Image view{};
    view.bands = &band;
    view.nbands = 1;
    view.ncols = ncols;
    view.nrows = nrows;
    view.npixels = n;
    view.type = PX_GREY_INT;

    py::array_t<double> distance({nrows, ncols});
    py::array_t<std::int32_t> indices, labels;
    int *nearest = nullptr, *label = nullptr;
    if (wantIndices) {
        indices = py::array_t<std::int32_t>({2, nrows, ncols});
        nearest = indices.mutable_data();
    }
    if (wantLabels) {
        labels = py::array_t<std::int32_t>({nrows, ncols});
        label = labels.mutable_data();
    }
    double *d = distance.mutable_data();
    guarded([&] {
        ifExactEDT(&view, nullptr, nullptr, d, nearest, label);
        if (nearest) splitIndices(nearest, nearest + n, n, ncols);
    });
    return py::make_tuple(distance, wantIndices ? py::object(indices) : py::object(py::none()),
                          wantLabels ? py::object(labels) : py::object(py::none()));
}

} // namespace

void bind_distance(py::module_ &m)
{
    m.def("distance_transform", &distanceTransform, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("adjacency"));
    m.def("exact_edt", &exactEdt, py::arg("mask"), py::arg("indices"), py::arg("labels"));
    m.def("skeleton", &skeleton, py::arg("image"), py::arg("kind"), py::arg("threshold"));
    m.def("skeleton_reconstruction", &skeletonReconstruction, py::arg("skeleton"));
    m.def("contour_seeds", &contourSeeds, py::arg("image"));
    m.def("euclidean_skeleton", &euclideanSkeleton, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("adjacency"), py::arg("inner"), py::arg("error"), py::arg("seed_distance"));
    m.def("contours", &contours, py::arg("image"), py::arg("propagate"));
    m.def("skeleton_ift", &skeletonIft, py::arg("image"), py::arg("coords"), py::arg("labels"), py::arg("costs"),
          py::arg("adjacency"), py::arg("weight"), py::arg("path_cost"), py::arg("contour_mode"));
    m.def("shortest_path", &shortestPath, py::arg("image"), py::arg("source"), py::arg("target"));
    m.def("histogram_by_skeleton", &histogramBySkeleton, py::arg("image"), py::arg("percent"));
}

} // namespace foresting
