// The colour-space conversions, bands 0..2 of a (rows, columns, 3) array.

#include "common.h"

namespace foresting {

namespace {

using ConvertFn = void (*)(Image *, Image *);

ConvertFn conversionFor(const std::string &name)
{
    static const std::pair<const char *, ConvertFn> table[] = {
        {"rgb2hsv", pxRgb2hsv},     {"hsv2rgb", pxHsv2rgb},   {"rgb2xyz", pxRgb2xyz},
        {"xyz2rgb", pxXyz2rgb},     {"xyz2lab", pxXyz2lab},   {"lab2xyz", pxLab2xyz},
        {"xyz2luv", pxXyz2luv},     {"luv2xyz", pxLuv2xyz},   {"rgb2lab", pxRgb2lab},
        {"lab2rgb", pxLab2rgb},     {"rgb2luv", pxRgb2luv},   {"luv2rgb", pxLuv2rgb},
        {"rgb2ycbcr", pxRgb2ycbcr}, {"ycbcr2rgb", pxYcbcr2rgb},
    };
    for (const auto &entry : table)
        if (name == entry.first) return entry.second;
    throw py::value_error("unknown colour conversion '" + name + "'");
}

// The converted image as rows x columns x 3 int32.
py::array convert(const py::array &a, const std::string &name)
{
    const ConvertFn fn = conversionFor(name);
    ImagePtr src = toImage(a, "image");
    ImagePtr dst = newImage(3, PX_COLORSPACE, src->ncols, src->nrows);
    guarded([&] { fn(src.get(), dst.get()); });
    return fromImage(dst.get(), -1, py::dtype::of<std::int32_t>());
}

} // namespace

void bind_colour(py::module_ &m)
{
    m.def("convert_colour", &convert, py::arg("image"), py::arg("conversion"));
}

} // namespace foresting
