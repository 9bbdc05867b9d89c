// The seed generators, each returning (coords, labels, costs).

#include "common.h"

namespace foresting {

namespace {

template <class F>
py::tuple generated(const Image *img, F &&make)
{
    Roots *raw = nullptr;
    guarded([&] { raw = make(); });
    RootsPtr roots(raw);
    return seedsToTuple(*roots, img->ncols);
}

py::tuple regionalMaxima(const py::array &a)
{
    ImagePtr img = toImage(a, "image");
    return generated(img.get(), [&] { return ifRegionalMaximaAsRoots(img.get()); });
}

py::tuple regionalMinima(const py::array &a)
{
    ImagePtr img = toImage(a, "image");
    return generated(img.get(), [&] { return ifRegionalMinimaAsRoots(img.get()); });
}

py::tuple contour(const py::array &a, bool perPixel)
{
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    guarded([&] { ifDistTransfRoots(img.get(), &seeds.roots, perPixel ? 1 : 0); });
    return seedsToTuple(seeds.roots, img->ncols);
}

py::tuple frame(int nrows, int ncols, bool uniform, int label)
{
    ImagePtr img = newImage(1, PX_GREY_INT, ncols, nrows);
    return generated(img.get(), [&] { return ifFrameAsRoots(img.get(), uniform ? 1 : 0, label); });
}

py::tuple labels(const py::array &a)
{
    ImagePtr img = toImage(a, "labels");
    return generated(img.get(), [&] { return ifLabelsToRoots(img.get()); });
}

py::tuple cells(const py::array &a, int size)
{
    ImagePtr img = toImage(a, "image");
    return generated(img.get(), [&] { return ifCellsRoots(img.get(), size); });
}

} // namespace

void bind_seeds(py::module_ &m)
{
    m.def("regional_maxima_seeds", &regionalMaxima, py::arg("image"));
    m.def("regional_minima_seeds", &regionalMinima, py::arg("image"));
    m.def("contour_seeds", &contour, py::arg("image"), py::arg("per_pixel"));
    m.def("frame_seeds", &frame, py::arg("nrows"), py::arg("ncols"), py::arg("uniform"), py::arg("label"));
    m.def("label_seeds", &labels, py::arg("labels"));
    m.def("cell_seeds", &cells, py::arg("image"), py::arg("size"));
}

} // namespace foresting
