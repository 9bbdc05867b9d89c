// Fuzzes the roots reader on a small fixed image, then does with the seeds
// what the filtering program does: a local reconstruction from them (domes cut
// and basins filled), with the writer's round trip on the way. Files the
// reader rejects come back through pxCatchFatal and must leave no file open.

#include "common.h"

namespace {

fuzz::ScratchFile *input, *output;

// Two domes, a basin between them and a plateau at the border.
constexpr int kCols = 8, kRows = 6;
constexpr int kLevels[kRows][kCols] = {
    {10, 10, 10, 10, 10, 10, 40, 40},
    {10, 60, 60, 10, 10, 10, 40, 40},
    {10, 60, 90, 20, 5, 30, 30, 10},
    {10, 60, 60, 20, 0, 80, 30, 10},
    {10, 10, 20, 20, 5, 30, 30, 10},
    {10, 10, 10, 10, 10, 10, 10, 10},
};

Image *fixedImage()
{
    Image *img = pxCreateImage(1, PX_GREY8, kCols, kRows);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kCols; ++x) img->bands[0][x + y * kCols] = kLevels[y][x];
    img->maxValue = 90;
    return img;
}

Image *image;

void filterLocally(Roots *seeds, bool cutting)
{
    const int *v = image->bands[0];
    for (int i = 0; i < seeds->count; ++i) {
        int c = v[seeds->pixel[i]] + (cutting ? -1 : 1);
        seeds->cost[i] = c < 0 ? 0 : c > image->maxValue ? image->maxValue : c;
    }
    Image *f = nullptr, *l = nullptr;
    if (cutting) ifReconstr(image, image, seeds, 0, &f, &l);
    else ifDualReconstr(image, image, seeds, 0, &f, &l);
    fuzz::ImagePtr filtered(f), labels(l);
    const int *r = filtered->bands[0];
    for (int p = 0; p < image->npixels; ++p) FUZZ_CHECK(cutting ? r[p] <= v[p] : r[p] >= v[p]);
}

void readAndFilter(void *)
{
    fuzz::RootsPtr seeds(ifReadRoots(input->path(), image));
    if (!seeds) return;
    for (int i = 0; i < seeds->count; ++i)
        FUZZ_CHECK(seeds->pixel[i] >= 0 && seeds->pixel[i] < image->npixels);

    // What the writer makes of a seed set reads back as the same seeds.
    ifSaveRoots(output->path(), image, seeds.get());
    fuzz::RootsPtr again(ifReadRoots(output->path(), image));
    FUZZ_CHECK(again && again->count == seeds->count);
    for (int i = 0; i < seeds->count; ++i)
        FUZZ_CHECK(again->pixel[i] == seeds->pixel[i] && again->label[i] == seeds->label[i]);

    filterLocally(seeds.get(), true);
    filterLocally(seeds.get(), false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static fuzz::ScratchFile in("roots"), out("roots-out");
    input = &in;
    output = &out;
    image = fixedImage();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input->rewrite(data, size);
    fuzz::runGuarded(readAndFilter);
    return 0;
}
