// Conversions between numpy arrays and images, seed sets, and the fatal-error
// translation shared by every binding source.

#include "common.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace foresting {

ImagePtr newImage(int nbands, int type, int ncols, int nrows)
{
    ImagePtr img(pxCreateImage(nbands, type, ncols, nrows));
    if (!img) throw std::bad_alloc();
    return img;
}

namespace {

// Converts one row of n values of T, `step` bytes apart, to ints; false when
// a value does not fit an int. Rows of adjacent values get their own loop,
// which the compiler vectorises.
template <class T>
bool convertRow(const char *row, py::ssize_t step, int n, int *dst)
{
    constexpr bool wide = sizeof(T) > 4 || (sizeof(T) == 4 && !std::is_signed_v<T>);
    bool fits = true;
    auto one = [&](const char *at, int x) {
        T v;
        std::memcpy(&v, at, sizeof v);
        if constexpr (wide) {
            if constexpr (std::is_signed_v<T>) fits &= v >= static_cast<T>(INT_MIN) && v <= static_cast<T>(INT_MAX);
            else fits &= v <= static_cast<T>(INT_MAX);
        }
        dst[x] = static_cast<int>(v);
    };
    if (step == static_cast<py::ssize_t>(sizeof(T))) {
        for (int x = 0; x < n; ++x) one(row + static_cast<std::size_t>(x) * sizeof(T), x);
    } else {
        for (int x = 0; x < n; ++x) one(row + x * step, x);
    }
    return fits;
}

// Copies element (y, x, b) of a strided array of T into band b, pixel
// x + y * ncols; false when a value does not fit an int.
template <class T>
bool copyIn(const char *data, const py::ssize_t *strides, Image *img)
{
    bool fits = true;
    for (int b = 0; b < img->nbands; ++b)
        for (int y = 0; y < img->nrows; ++y)
            fits &= convertRow<T>(data + y * strides[0] + b * strides[2], strides[1], img->ncols,
                                  img->bands[b] + static_cast<std::size_t>(y) * img->ncols);
    return fits;
}

int largestOrZero(const Image *img)
{
    int top = 0;
    for (int b = 0; b < img->nbands; ++b) {
        const int *v = img->bands[b];
        for (int p = 0; p < img->npixels; ++p) top = std::max(top, v[p]);
    }
    return top;
}

int typeFor(char kind, py::ssize_t itemsize, int nbands)
{
    if (kind == 'u' && itemsize == 1) return nbands == 3 ? PX_COLOR8 : PX_GREY8;
    if (kind == 'u' && itemsize == 2) return nbands == 3 ? PX_COLOR16 : PX_GREY16;
    return nbands == 3 ? PX_COLOR8 : PX_GREY_INT;
}

} // namespace

ImagePtr toImage(const py::array &a, const char *what)
{
    // Values in the other byte order are read through a native copy.
    if (!a.dtype().attr("isnative").cast<bool>())
        return toImage(a.attr("astype")(a.dtype().attr("newbyteorder")("=")).cast<py::array>(), what);
    const py::ssize_t nd = a.ndim();
    if (nd != 2 && nd != 3)
        throw py::value_error(std::string(what) + " must be a 2-D (rows, columns) or 3-D (rows, columns, bands) array");
    const py::ssize_t rows = a.shape(0), cols = a.shape(1), bands = nd == 3 ? a.shape(2) : 1;
    if (rows < 1 || cols < 1 || bands < 1)
        throw py::value_error(std::string(what) + " must have at least one row, column and band");
    if (rows > INT_MAX || cols > INT_MAX || bands > 64 || rows * cols > INT_MAX)
        throw py::value_error(std::string(what) + " is too large");
    const char kind = a.dtype().kind();
    const py::ssize_t size = a.itemsize();
    if (kind != 'u' && kind != 'i' && kind != 'b')
        throw py::value_error(std::string(what) + " must hold integers, not " +
                              std::string(py::str(a.dtype())));
    py::ssize_t strides[3] = {a.strides(0), a.strides(1), nd == 3 ? a.strides(2) : 0};
    const char *data = static_cast<const char *>(a.data());
    ImagePtr img = newImage(static_cast<int>(bands), typeFor(kind, size, static_cast<int>(bands)),
                            static_cast<int>(cols), static_cast<int>(rows));
    bool fits = true;
    {
        py::gil_scoped_release release;
        Image *im = img.get();
        if (kind == 'b' || (kind == 'u' && size == 1)) fits = copyIn<std::uint8_t>(data, strides, im);
        else if (kind == 'i' && size == 1) fits = copyIn<std::int8_t>(data, strides, im);
        else if (kind == 'u' && size == 2) fits = copyIn<std::uint16_t>(data, strides, im);
        else if (kind == 'i' && size == 2) fits = copyIn<std::int16_t>(data, strides, im);
        else if (kind == 'u' && size == 4) fits = copyIn<std::uint32_t>(data, strides, im);
        else if (kind == 'i' && size == 4) fits = copyIn<std::int32_t>(data, strides, im);
        else if (kind == 'u' && size == 8) fits = copyIn<std::uint64_t>(data, strides, im);
        else if (kind == 'i' && size == 8) fits = copyIn<std::int64_t>(data, strides, im);
        else fits = false;
        im->maxValue = largestOrZero(im);
    }
    if (!fits)
        throw py::value_error(std::string(what) + " holds values outside the int32 range");
    return img;
}

namespace {

template <class T>
void copyOut(const Image *img, int band, T *dst)
{
    const int n = img->npixels;
    if (band >= 0) {
        const int *src = img->bands[band];
        for (int p = 0; p < n; ++p) dst[p] = static_cast<T>(src[p]);
        return;
    }
    const int nb = img->nbands;
    for (int b = 0; b < nb; ++b) {
        const int *src = img->bands[b];
        for (int p = 0; p < n; ++p) dst[static_cast<std::size_t>(p) * nb + b] = static_cast<T>(src[p]);
    }
}

} // namespace

py::array fromImage(const Image *img, int band, const py::dtype &dtype)
{
    std::vector<py::ssize_t> shape{img->nrows, img->ncols};
    if (band < 0) shape.push_back(img->nbands);
    py::array out(dtype, shape);
    void *dst = out.mutable_data();
    const char kind = dtype.kind();
    const py::ssize_t size = dtype.itemsize();
    if (kind != 'b' && kind != 'u' && kind != 'i')
        throw py::value_error("results can only be given as integer or bool arrays");
    py::gil_scoped_release release;
    if (kind == 'b') copyOut(img, band, static_cast<bool *>(dst));
    else if (kind == 'u' && size == 1) copyOut(img, band, static_cast<std::uint8_t *>(dst));
    else if (kind == 'i' && size == 1) copyOut(img, band, static_cast<std::int8_t *>(dst));
    else if (kind == 'u' && size == 2) copyOut(img, band, static_cast<std::uint16_t *>(dst));
    else if (kind == 'i' && size == 2) copyOut(img, band, static_cast<std::int16_t *>(dst));
    else if (kind == 'u' && size == 4) copyOut(img, band, static_cast<std::uint32_t *>(dst));
    else if (kind == 'i' && size == 4) copyOut(img, band, static_cast<std::int32_t *>(dst));
    else if (kind == 'u' && size == 8) copyOut(img, band, static_cast<std::uint64_t *>(dst));
    else if (kind == 'i' && size == 8) copyOut(img, band, static_cast<std::int64_t *>(dst));
    else copyOut(img, band, static_cast<std::int64_t *>(dst));
    return out;
}

py::array fromBand(const int *band, int nrows, int ncols, const py::dtype &dtype)
{
    // A one-band view of the array, converted like an image band.
    Image view{};
    int *bands[1] = {const_cast<int *>(band)};
    view.bands = bands;
    view.nbands = 1;
    view.ncols = ncols;
    view.nrows = nrows;
    view.npixels = ncols * nrows;
    return fromImage(&view, 0, dtype);
}

void fillSeeds(SeedSet &seeds, const IntArray &coords, const IntArray &labels, const IntArray &costs,
               int ncols)
{
    const py::ssize_t n = labels.size();
    if (coords.ndim() != 2 || coords.shape(0) != n || coords.shape(1) != 2 || costs.size() != n)
        throw py::value_error("seeds need (n, 2) coordinates, n labels and n costs");
    if (n > INT_MAX) throw py::value_error("too many seeds");
    guarded([&] { ifAllocateRoots(&seeds.roots, static_cast<int>(n)); });
    if (n > 0 && (!seeds.roots.pixel || !seeds.roots.label || !seeds.roots.cost)) throw std::bad_alloc();
    const int *c = coords.data(), *l = labels.data(), *k = costs.data();
    for (py::ssize_t i = 0; i < n; ++i) {
        seeds.roots.pixel[i] = c[2 * i + 1] + c[2 * i] * ncols;
        seeds.roots.label[i] = l[i];
        seeds.roots.cost[i] = k[i];
    }
}

py::tuple seedsToTuple(const Roots &roots, int ncols)
{
    const py::ssize_t n = roots.count;
    py::array_t<std::int64_t> coords({n, py::ssize_t(2)});
    py::array_t<std::int32_t> labels(n), costs(n);
    auto *c = coords.mutable_data();
    auto *l = labels.mutable_data();
    auto *k = costs.mutable_data();
    for (py::ssize_t i = 0; i < n; ++i) {
        c[2 * i] = roots.pixel[i] / ncols;
        c[2 * i + 1] = roots.pixel[i] % ncols;
        l[i] = roots.label[i];
        k[i] = roots.cost[i];
    }
    return py::make_tuple(coords, labels, costs);
}

bool &verboseMessages()
{
    thread_local bool verbose = false;
    return verbose;
}

void collectMessage(const char *text, void *lines) { static_cast<std::string *>(lines)->append(text); }

void writeMessages(const std::string &lines)
{
    py::object out = py::module_::import("sys").attr("stdout");
    if (!out.is_none()) out.attr("write")(lines);
}

void raiseFatal(int kind, const std::string &message)
{
    switch (kind) {
    case PX_FATAL_FILE:
        PyErr_SetString(PyExc_OSError, message.c_str());
        break;
    case PX_FATAL_MEMORY:
        PyErr_SetString(PyExc_MemoryError, message.c_str());
        break;
    default:
        PyErr_SetString(PyExc_ValueError, message.c_str());
        break;
    }
    throw py::error_already_set();
}

AdjacencyFn adjacencyFor(int connectivity)
{
    if (connectivity == 4) return pxNeighborhood4;
    if (connectivity == 8) return pxNeighborhood8;
    throw py::value_error("adjacency must be 4 or 8");
}

WeightFn weightFor(const std::string &name)
{
    if (name == "watershed") return ifWatershedMetric;
    if (name == "euclidean") return ifEuclideanDistance;
    if (name == "max") return ifMaxDistance;
    if (name == "chamfer") return ifChanferDistance;
    throw py::value_error("unknown weight '" + name + "'");
}

PathCostFn pathCostFor(const std::string &name)
{
    if (name == "max") return ifPathCostMax;
    if (name == "min") return ifPathCostMin;
    if (name == "sum") return ifPathCostSum;
    if (name == "max_local") return ifPathCostMaxLocal;
    if (name == "min_local") return ifPathCostMinLocal;
    throw py::value_error("unknown path cost '" + name + "'");
}

} // namespace foresting
