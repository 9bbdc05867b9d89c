// Netpbm images and roots files.

#include "common.h"

#include "pxIO.h"

namespace foresting {

namespace {

py::dtype dtypeForType(int type)
{
    switch (type) {
    case PX_GREY8:
    case PX_COLOR8: return py::dtype::of<std::uint8_t>();
    case PX_GREY16:
    case PX_COLOR16: return py::dtype::of<std::uint16_t>();
    default: return py::dtype::of<std::int32_t>();
    }
}

// (array, maxValue): grey files as 2-D arrays, colour ones as rows x columns x 3.
py::tuple readImage(const std::string &path)
{
    Image *raw = nullptr;
    int type = 0;
    guarded([&] { type = pxReadImage(path.c_str(), &raw); });
    ImagePtr img(raw);
    const bool colour = type == PX_COLOR8 || type == PX_COLOR16;
    return py::make_tuple(fromImage(img.get(), colour ? -1 : 0, dtypeForType(type)), img->maxValue);
}

// Writes the array as the given type code; the Python layer has chosen it and
// checked that the values fit.
void writeImage(const std::string &path, const py::array &a, int type)
{
    ImagePtr img = toImage(a, "image");
    img->type = static_cast<signed char>(type);
    guarded([&] { pxSaveImage(path.c_str(), img.get()); });
}

py::tuple readRoots(const std::string &path, int nrows, int ncols)
{
    ImagePtr geometry = newImage(1, PX_GREY_INT, ncols, nrows);
    Roots *raw = nullptr;
    guarded([&] { raw = ifReadRoots(path.c_str(), geometry.get()); });
    if (!raw) raiseFatal(PX_FATAL_FILE, "invalid number of roots in file " + path);
    RootsPtr roots(raw);
    return seedsToTuple(*roots, ncols);
}

void writeRoots(const std::string &path, const IntArray &coords, const IntArray &labels, int nrows, int ncols)
{
    ImagePtr geometry = newImage(1, PX_GREY_INT, ncols, nrows);
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, labels, ncols);
    guarded([&] { ifSaveRoots(path.c_str(), geometry.get(), &seeds.roots); });
}

} // namespace

void bind_io(py::module_ &m)
{
    m.def("read_image", &readImage, py::arg("path"));
    m.def("write_image", &writeImage, py::arg("path"), py::arg("image"), py::arg("type"));
    m.def("read_roots", &readRoots, py::arg("path"), py::arg("nrows"), py::arg("ncols"));
    m.def("write_roots", &writeRoots, py::arg("path"), py::arg("coords"), py::arg("labels"),
          py::arg("nrows"), py::arg("ncols"));
}

} // namespace foresting
