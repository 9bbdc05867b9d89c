#pragma once
// What the fuzz targets share: the readers take file names, so every input is
// written to one scratch file per process first; the library's records are
// held by owners so that an input the library rejects half way leaves nothing
// behind that the harness itself allocated (a leak report then points at the
// library).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace fuzz {

// A scratch file that lives as long as the process; rewrite() replaces its
// contents with one input.
class ScratchFile {
public:
    explicit ScratchFile(const char *tag)
    {
        const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(dir) + "/ift-fuzz-" + tag + "-XXXXXX";
        path_.assign(pattern.begin(), pattern.end());
        path_.push_back('\0');
        fd_ = mkstemp(&path_[0]);
        if (fd_ < 0) {
            std::perror("mkstemp");
            std::abort();
        }
    }
    ~ScratchFile()
    {
        close(fd_);
        unlink(path());
    }
    const char *path() const { return path_.data(); }
    void rewrite(const uint8_t *data, size_t size)
    {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))
            std::abort();
    }

private:
    std::string path_;
    int fd_ = -1;
};

struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

struct RootsDeleter {
    void operator()(Roots *r) const
    {
        ifReleaseRoots(r);
        std::free(r);
    }
};
using RootsPtr = std::unique_ptr<Roots, RootsDeleter>;

// Stops the fuzzer with a crash report when a property of the library fails.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// The lowest free file descriptor. A file a rejected input left open stays
// reachable through the C library's list of streams, where the leak checker
// cannot see it; but it keeps the descriptor it was opened on, the lowest
// free one then, so the lowest free descriptor moves.
inline int lowestFreeDescriptor()
{
    int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return fd;
}

// Runs one input through the guarded function and checks that no file was left
// open. The lowest free descriptor is taken afresh for every input: the
// fuzzer's own runtime opens descriptors between inputs (the symbolizer it
// starts to name newly covered functions keeps its pipes open).
inline void runGuarded(PxGuardedFn fn)
{
    const int lowest = lowestFreeDescriptor();
    pxCatchFatal(fn, nullptr, nullptr, 0);
    FUZZ_CHECK(lowestFreeDescriptor() == lowest);
}

inline bool sameBands(const Image *a, const Image *b)
{
    if (a->ncols != b->ncols || a->nrows != b->nrows || a->nbands != b->nbands) return false;
    for (int k = 0; k < a->nbands; ++k)
        if (std::memcmp(a->bands[k], b->bands[k], sizeof(int) * a->npixels) != 0) return false;
    return true;
}

inline bool hasNegativeValues(const Image *img)
{
    for (int p = 0; p < img->npixels; ++p)
        if (img->bands[0][p] < 0) return true;
    return false;
}

} // namespace fuzz
