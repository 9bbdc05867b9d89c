// Pixel-wise operations, overlays and the histogram.

#include "common.h"

#include <cstdlib>

namespace foresting {

namespace {

py::array threshold(const py::array &a, int low, int high, bool keep)
{
    ImagePtr img = toImage(a, "image");
    Image *raw = nullptr;
    guarded([&] { raw = keep ? pxBandPass(img.get(), PX_GREY_INT, low, high) : pxThreshold(img.get(), PX_GREY8, low, high); });
    ImagePtr out(raw);
    if (!out) throw std::bad_alloc();
    return fromImage(out.get(), 0, keep ? a.dtype() : py::dtype::of<std::uint8_t>());
}

// maxValue - v, with maxValue given (the dtype's top for 8 and 16 bits, else
// the largest value).
py::array negative(const py::array &a, int top)
{
    ImagePtr img = toImage(a, "image");
    img->type = PX_GREY_INT;
    img->maxValue = top;
    Image *raw = nullptr;
    guarded([&] { raw = pxNegative(img.get(), PX_GREY_INT); });
    ImagePtr out(raw);
    if (!out) throw std::bad_alloc();
    return fromImage(out.get(), 0, a.dtype());
}

py::array highlight(const py::array &a, const py::array &mask, int r, int g, int b)
{
    ImagePtr img = toImage(a, "image"), m = toImage(mask, "mask");
    Image *raw = nullptr;
    guarded([&] { raw = pxHighlightElements(img.get(), m.get(), r, g, b); });
    ImagePtr out(raw);
    if (!out) throw py::value_error("image must have 1 or 3 bands");
    return fromImage(out.get(), -1, a.dtype());
}

py::array segmentationBorders(const py::array &a, const py::array &labels, int r, int g, int b)
{
    ImagePtr img = toImage(a, "image"), l = toImage(labels, "labels");
    Image *raw = nullptr;
    guarded([&] { raw = pxShowSegm(img.get(), l.get(), r, g, b); });
    ImagePtr out(raw);
    if (!out) throw std::bad_alloc();
    return fromImage(out.get(), -1, a.dtype());
}

py::array border(const py::array &a, int width, bool add)
{
    ImagePtr img = toImage(a, "image");
    Image *raw = nullptr;
    guarded([&] { raw = add ? pxAddBorder(img.get(), width) : pxRemoveBorder(img.get(), width); });
    ImagePtr out(raw);
    if (!out) throw std::bad_alloc();
    return fromImage(out.get(), a.ndim() == 2 ? 0 : -1, a.dtype());
}

py::array histogram(const py::array &a, const py::array &mask)
{
    ImagePtr img = toImage(a, "image"), m = toImage(mask, "mask");
    float *hist = nullptr;
    int nbins = 0;
    guarded([&] { pxHistogram(img.get(), m.get(), &hist, &nbins); });
    std::unique_ptr<float, decltype(&std::free)> owner(hist, &std::free);
    py::array_t<float> out(nbins);
    std::copy(hist, hist + nbins, out.mutable_data());
    return out;
}

} // namespace

void bind_pixelwise(py::module_ &m)
{
    m.def("threshold", &threshold, py::arg("image"), py::arg("low"), py::arg("high"), py::arg("keep"));
    m.def("negative", &negative, py::arg("image"), py::arg("top"));
    m.def("highlight", &highlight, py::arg("image"), py::arg("mask"), py::arg("r"), py::arg("g"), py::arg("b"));
    m.def("segmentation_borders", &segmentationBorders, py::arg("image"), py::arg("labels"), py::arg("r"),
          py::arg("g"), py::arg("b"));
    m.def("border", &border, py::arg("image"), py::arg("width"), py::arg("add"));
    m.def("histogram", &histogram, py::arg("image"), py::arg("mask"));
}

} // namespace foresting
