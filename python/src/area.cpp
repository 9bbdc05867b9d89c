// Area opening and closing, and the levelings.

#include "common.h"

namespace foresting {

namespace {

// (filtered, in the array's dtype; labels int32).
py::tuple area(const py::array &a, int areaSize, int mode, const py::dtype &dtype)
{
    ImagePtr img = toImage(a, "image");
    Image *filtered = nullptr, *labels = nullptr;
    guarded([&] {
        if (mode == 0) ifAreaOpen(img.get(), &filtered, &labels, areaSize);
        else if (mode == 1) ifAreaOpenOld(img.get(), &filtered, &labels, areaSize);
        else ifAreaClose(img.get(), &filtered, &labels, areaSize);
    });
    ImagePtr f(filtered), l(labels);
    return py::make_tuple(fromImage(f.get(), 0, dtype), fromImage(l.get(), 0, py::dtype::of<std::int32_t>()));
}

// (levelled int32, labels int32) from seeds labelled 1 (lower) or 2 (raise).
py::tuple level(const py::array &a, const py::array &ref, const IntArray &coords, const IntArray &labels,
                const IntArray &costs)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr r = toImage(ref, "reference");
    SeedSet seeds;
    fillSeeds(seeds, coords, labels, costs, img->ncols);
    Image *filtered = nullptr, *lab = nullptr;
    guarded([&] { ifLevel(img.get(), r.get(), &seeds.roots, &filtered, &lab); });
    ImagePtr f(filtered), l(lab);
    const py::dtype i32 = py::dtype::of<std::int32_t>();
    return py::make_tuple(fromImage(f.get(), 0, i32), fromImage(l.get(), 0, i32));
}

py::array levelByMarker(const py::array &a, const py::array &marker, const py::dtype &dtype)
{
    ImagePtr img = toImage(a, "image");
    ImagePtr mk = toImage(marker, "marker");
    Image *raw = nullptr;
    guarded([&] { ifLevel2(img.get(), mk.get(), &raw); });
    ImagePtr out(raw);
    return fromImage(out.get(), 0, dtype);
}

} // namespace

void bind_area(py::module_ &m)
{
    m.def("area", &area, py::arg("image"), py::arg("area"), py::arg("mode"), py::arg("dtype"));
    m.def("level", &level, py::arg("image"), py::arg("reference"), py::arg("coords"), py::arg("labels"),
          py::arg("costs"));
    m.def("level_by_marker", &levelByMarker, py::arg("image"), py::arg("marker"), py::arg("dtype"));
}

} // namespace foresting
