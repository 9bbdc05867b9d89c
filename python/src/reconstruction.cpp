// Dome cutting and basin filling from seeds.

#include "common.h"

namespace foresting {

namespace {

// (filtered, labels): reconstruction by dilation of the seeds under the image
// (cut) or by erosion above it (fill), over the whole image or only the seeded
// domes or basins.
py::tuple reconstruct(const py::array &a, const IntArray &coords, const IntArray &labels,
                      const IntArray &costs, bool cut, bool global, const py::dtype &dtype)
{
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    Image *filtered = nullptr, *labelImg = nullptr;
    guarded([&] {
        if (cut) ifReconstr(img.get(), nullptr, &seeds.roots, global, &filtered, &labelImg);
        else ifDualReconstr(img.get(), nullptr, &seeds.roots, global, &filtered, &labelImg);
    });
    ImagePtr f(filtered), l(labelImg);
    img.reset();
    return py::make_tuple(fromImage(f.get(), 0, dtype), fromImage(l.get(), 0, py::dtype::of<std::int32_t>()));
}

} // namespace

void bind_reconstruction(py::module_ &m)
{
    m.def("reconstruct", &reconstruct, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("costs"), py::arg("cut"), py::arg("global_"), py::arg("dtype"));
}

} // namespace foresting
