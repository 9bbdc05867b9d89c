// Dome cutting and basin filling from seeds.

#include "common.h"

#include <algorithm>
#include <cstdint>
#include <queue>
#include <utility>

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

// Reconstruction of a whole seed image under (cut) or above (fill) the mask:
// every pixel a seed, in raster order, with label 1 and its seed value as
// cost. The same seeds as coordinate arrays would give, made here without
// them.
py::array reconstructImage(const py::array &mask, const py::array &seed, bool cut, const py::dtype &dtype)
{
    ImagePtr img = toImage(mask, "mask");
    SeedSet seeds;
    {
        ImagePtr s = toImage(seed, "seed");
        if (s->npixels != img->npixels) throw py::value_error("seed and mask must have one size");
        const int n = img->npixels;
        guarded([&] { ifAllocateRoots(&seeds.roots, n); });
        if (n > 0 && (!seeds.roots.pixel || !seeds.roots.label || !seeds.roots.cost)) throw std::bad_alloc();
        const int *v = s->bands[0];
        for (int i = 0; i < n; ++i) {
            seeds.roots.pixel[i] = i;
            seeds.roots.label[i] = 1;
            seeds.roots.cost[i] = v[i];
        }
    }
    Image *filtered = nullptr, *labelImg = nullptr;
    guarded([&] {
        if (cut) ifReconstr(img.get(), nullptr, &seeds.roots, true, &filtered, &labelImg);
        else ifDualReconstr(img.get(), nullptr, &seeds.roots, true, &filtered, &labelImg);
    });
    ImagePtr f(filtered), l(labelImg);
    img.reset();
    l.reset();
    return fromImage(f.get(), 0, dtype);
}

// Reconstruction resumed in place: state already holds a reconstruction
// under (above) mask, and the pixels listed in starts have just been raised
// (lowered), still within the mask. Their rise spreads to 8-neighbours, the
// highest (lowest) value first, so each pixel settles the first time it is
// taken and the work follows the pixels that change, not the image.
py::array propagate(py::array_t<std::int32_t, py::array::c_style> state, const py::array_t<std::int32_t, py::array::c_style> &mask,
               const py::array_t<std::int64_t, py::array::c_style> &starts, bool dilate)
{
    if (state.ndim() != 2 || mask.ndim() != 2 || state.shape(0) != mask.shape(0) || state.shape(1) != mask.shape(1))
        throw py::value_error("state and mask must be 2-D arrays of one size");
    if (!state.writeable()) throw py::value_error("state must be writeable");
    const std::int64_t nrows = state.shape(0), ncols = state.shape(1), n = nrows * ncols;
    const std::int64_t *start = starts.data();
    for (py::ssize_t k = 0; k < starts.size(); ++k)
        if (start[k] < 0 || start[k] >= n) throw py::value_error("a start pixel lies outside the state");
    std::int32_t *v = state.mutable_data();
    const std::int32_t *m = mask.data();
    {
        py::gil_scoped_release release;
        // Keys grow with priority: the value itself, or its negation in 64 bits.
        auto key = [dilate](std::int32_t x) { return dilate ? std::int64_t{x} : -std::int64_t{x}; };
        std::priority_queue<std::pair<std::int64_t, std::int64_t>> queue;
        for (py::ssize_t k = 0; k < starts.size(); ++k) queue.emplace(key(v[start[k]]), start[k]);
        while (!queue.empty()) {
            const auto [k, p] = queue.top();
            queue.pop();
            if (k != key(v[p])) continue;  // raised again since it was queued
            const std::int64_t y = p / ncols, x = p % ncols;
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dx = -1; dx <= 1; ++dx) {
                    if ((dy == 0 && dx == 0) || y + dy < 0 || y + dy >= nrows || x + dx < 0 || x + dx >= ncols) continue;
                    const std::int64_t q = p + dy * ncols + dx;
                    const std::int32_t offer = dilate ? std::min(v[p], m[q]) : std::max(v[p], m[q]);
                    if (dilate ? offer > v[q] : offer < v[q]) {
                        v[q] = offer;
                        queue.emplace(key(offer), q);
                    }
                }
        }
    }
    return std::move(state);
}

} // namespace

void bind_reconstruction(py::module_ &m)
{
    m.def("reconstruct", &reconstruct, py::arg("image"), py::arg("coords"), py::arg("labels"),
          py::arg("costs"), py::arg("cut"), py::arg("global_"), py::arg("dtype"));
    m.def("reconstruct_image", &reconstructImage, py::arg("mask"), py::arg("seed"), py::arg("cut"), py::arg("dtype"));
    m.def("propagate", &propagate, py::arg("state"), py::arg("mask"), py::arg("starts"), py::arg("dilate"));
}

} // namespace foresting
