// Regional extrema and connected labelling.

#include "common.h"

#include <atomic>
#include <cstdint>

#include "pxImage/parallel.h"

namespace foresting {

namespace {

py::array regional(const py::array &a, bool maxima)
{
    ImagePtr img = toImage(a, "image");
    Image *raw = nullptr;
    guarded([&] { raw = maxima ? ifRegionalMaxima(img.get()) : ifRegionalMinima(img.get()); });
    ImagePtr out(raw);
    return fromImage(out.get(), 0, py::dtype::of<bool>());
}

// (labels int32, count): 8-connected components of the positive pixels.
py::tuple label(const py::array &a)
{
    // The labels go straight into the returned array: every pixel is written.
    // C-ordered bytes are labelled as they are; other inputs take the
    // general conversion.
    const bool bytes = a.ndim() == 2 && a.itemsize() == 1 && (a.dtype().kind() == 'u' || a.dtype().kind() == 'b') &&
                       (a.flags() & py::array::c_style);
    if (!bytes) {
        ImagePtr img = toImage(a, "image");
        py::array_t<std::int32_t> labels({img->nrows, img->ncols});
        BandView out(labels.mutable_data(), img->nrows, img->ncols);
        guarded([&] { ifLabelImage(img.get(), &out.img); });
        return py::make_tuple(labels, out.img.maxValue);
    }
    const int nrows = static_cast<int>(a.shape(0)), ncols = static_cast<int>(a.shape(1));
    py::array_t<std::int32_t> labels({nrows, ncols});
    BandView out(labels.mutable_data(), nrows, ncols);
    const unsigned char *in = static_cast<const unsigned char *>(a.data());
    guarded([&] { ifLabelBytes(in, &out.img); });
    return py::make_tuple(labels, out.img.maxValue);
}

// The flat zones of the image that hold a seed.
py::array seededFlatZones(const py::array &a, const IntArray &coords)
{
    ImagePtr img = toImage(a, "image");
    SeedSet seeds;
    IntArray none(coords.shape(0));
    std::fill(none.mutable_data(), none.mutable_data() + none.size(), 0);
    fillSeeds(seeds, coords, none, none, img->ncols);
    ImagePtr out = newImage(1, PX_GREY8, img->ncols, img->nrows);
    guarded([&] { ifConnectedComponents(img.get(), out.get(), &seeds.roots); });
    return fromImage(out.get(), 0, py::dtype::of<bool>());
}

// labels[p] = table[labels[p]] in place, on the library's threads: the
// renumbering of labelled chunks. A label outside the table is refused
// before anything is written.
py::array remap(py::array_t<std::int32_t, py::array::c_style> labels, const py::array_t<std::int32_t, py::array::c_style> &table)
{
    if (!labels.writeable()) throw py::value_error("labels must be writeable");
    const std::int64_t n = labels.size(), size = table.size();
    std::int32_t *l = labels.mutable_data();
    const std::int32_t *t = table.data();
    if (n > INT32_MAX) throw py::value_error("labels has more pixels than the library can index");
    std::atomic<bool> outside{false};
    {
        py::gil_scoped_release release;
        pxParallelRanges(static_cast<int>(n), 1 << 16, [&](int begin, int end, int) {
            bool bad = false;
            for (int p = begin; p < end; ++p) bad |= static_cast<std::uint32_t>(l[p]) >= size;
            if (bad) outside = true;
        });
        if (!outside)
            pxParallelRanges(static_cast<int>(n), 1 << 16, [&](int begin, int end, int) {
                for (int p = begin; p < end; ++p) l[p] = t[l[p]];
            });
    }
    if (outside) throw py::value_error("a label lies outside the table");
    return std::move(labels);
}

} // namespace

void bind_labelling(py::module_ &m)
{
    m.def("regional_extrema", &regional, py::arg("image"), py::arg("maxima"));
    m.def("label", &label, py::arg("image"));
    m.def("remap", &remap, py::arg("labels"), py::arg("table"));
    m.def("seeded_flat_zones", &seededFlatZones, py::arg("image"), py::arg("coords"));
}

} // namespace foresting
