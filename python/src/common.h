#pragma once
// What every binding source shares: owners for the library's records, the
// conversions between numpy arrays and images (one copy each way), seed sets
// from arrays, and the guarded call that releases the GIL and turns the
// library's fatal errors into Python exceptions.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <utility>

#include "ift.h"
#include "pxImage.h"

namespace foresting {

namespace py = pybind11;

// Seed coordinates, labels and costs as the binding reads them.
using IntArray = py::array_t<int, py::array::c_style | py::array::forcecast>;

struct ImageRelease {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using ImagePtr = std::unique_ptr<Image, ImageRelease>;

// A seed record whose arrays are released with it.
struct SeedSet {
    Roots roots{};
    SeedSet() = default;
    SeedSet(const SeedSet &) = delete;
    SeedSet &operator=(const SeedSet &) = delete;
    ~SeedSet() { ifReleaseRoots(&roots); }
};

// A heap seed record as the library's seed generators return it.
struct RootsRelease {
    void operator()(Roots *r) const
    {
        ifReleaseRoots(r);
        std::free(r);
    }
};
using RootsPtr = std::unique_ptr<Roots, RootsRelease>;

// New image, zero-filled; MemoryError when it cannot be had.
ImagePtr newImage(int nbands, int type, int ncols, int nrows);

// Copies an integer array, 2-D (rows, columns) or 3-D (rows, columns, bands),
// into a new image, band b from [..., b]; the image type follows the dtype
// (uint8: 8-bit, uint16: 16-bit, else integer grey) and maxValue is the
// largest value, 0 when none is positive. ValueError for another dtype or
// shape, or a value outside int32.
ImagePtr toImage(const py::array &a, const char *what);

// Band `band` of img (or every band with band < 0, as rows x columns x bands)
// as a new array of the given integer or bool dtype; values are cast. This is
// the one copy out.
py::array fromImage(const Image *img, int band, const py::dtype &dtype);
py::array fromBand(const int *band, int nrows, int ncols, const py::dtype &dtype);

// Seeds from (n, 2) (row, column) coordinates, n labels and n costs, as
// raster indices of an image of ncols columns. The Python layer has checked
// them.
void fillSeeds(SeedSet &seeds, const IntArray &coords, const IntArray &labels, const IntArray &costs,
               int ncols);

// Seeds back as a tuple (coords (n, 2) int64 rows and columns, labels int32,
// costs int32).
py::tuple seedsToTuple(const Roots &roots, int ncols);

// Raises the Python exception for a fatal error of the given kind.
[[noreturn]] void raiseFatal(int kind, const std::string &message);

// foresting.verbose for the calling thread: whether the library's progress
// lines reach sys.stdout (they are dropped otherwise).
bool &verboseMessages();

// Collects the library's progress lines during a call (a message sink).
void collectMessage(const char *text, void *lines);

// Writes the collected progress lines on sys.stdout (the GIL held).
void writeMessages(const std::string &lines);

// Runs fn() with the GIL released, the library's fatal errors unwinding back
// here instead of ending the interpreter: a file error becomes OSError, a
// memory error MemoryError, an argument error ValueError. The library's
// progress lines are dropped, or under foresting.verbose(True) written on
// sys.stdout when the call ends.
template <class F>
void guarded(F &&fn)
{
    using Fn = std::remove_reference_t<F>;
    char message[1024];
    int kind;
    std::string lines;
    const bool verbose = verboseMessages();
    {
        py::gil_scoped_release release;
        pxSetMessageSink(verbose ? collectMessage : nullptr, &lines);
        kind = pxCatchFatal([](void *arg) { (*static_cast<Fn *>(arg))(); }, &fn, message,
                            sizeof message);
        pxSetMessageSink(pxPrintMessage, nullptr);
    }
    if (!lines.empty()) writeMessages(lines);
    if (kind != 0) raiseFatal(kind, message);
}

// The library's weight and path-cost functions by name; ValueError for
// another name.
WeightFn weightFor(const std::string &name);
PathCostFn pathCostFor(const std::string &name);

// Adjacency functions by neighbourhood size (4 or 8).
AdjacencyFn adjacencyFor(int connectivity);

// A one-band integer image record over memory the caller owns (no row
// offsets), for the library calls that read only the size and band 0 of an
// input, or write only band 0 and maxValue of an output: a numpy array lent
// to the library without a copy.
struct BandView {
    int *band;
    Image img{};
    BandView(int *data, int nrows, int ncols) : band(data)
    {
        img.bands = &band;
        img.nbands = 1;
        img.ncols = ncols;
        img.nrows = nrows;
        img.npixels = nrows * ncols;
        img.type = PX_GREY_INT;
    }
    BandView(const BandView &) = delete;
    BandView &operator=(const BandView &) = delete;
};

} // namespace foresting
