// Flat morphology with discs, the alternating sequential filters and the
// morphological gradient.

#include "common.h"

namespace foresting {

namespace {

using Filter = void (*)(Image *, Image *, int);

Filter filterFor(const std::string &op)
{
    if (op == "dilation") return pxMorphDilate;
    if (op == "erosion") return pxMorphErode;
    if (op == "opening") return pxMorphOpen;
    if (op == "closing") return pxMorphClose;
    if (op == "asf_oc") return pxMorphAsfOC;
    if (op == "asf_co") return pxMorphAsfCO;
    throw py::value_error("unknown filter '" + op + "'");
}

// Every band filtered; the parameter is the disc's squared radius, or the
// number of steps of an alternating filter.
py::array filter(const py::array &a, const std::string &op, int parameter, const py::dtype &dtype)
{
    const Filter f = filterFor(op);
    ImagePtr img = toImage(a, "image");
    ImagePtr out = newImage(img->nbands, img->type, img->ncols, img->nrows);
    guarded([&] { f(img.get(), out.get(), parameter); });
    return fromImage(out.get(), img->nbands == 1 && a.ndim() == 2 ? 0 : -1, dtype);
}

py::array gradient(const py::array &a, const py::dtype &dtype)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr out = newImage(1, PX_GREY_INT, img->ncols, img->nrows);
    guarded([&] { pxMorphGrad(img.get(), out.get()); });
    return fromImage(out.get(), 0, dtype);
}

} // namespace

void bind_morphology(py::module_ &m)
{
    m.def("filter", &filter, py::arg("image"), py::arg("op"), py::arg("parameter"), py::arg("dtype"));
    m.def("gradient", &gradient, py::arg("image"), py::arg("dtype"));
}

} // namespace foresting
