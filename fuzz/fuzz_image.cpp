// Fuzzes the image reader, then does with what it read what the programs do
// first: seeds on the image frame and reconstructions from them (domes cut and
// basins filled, over the whole image and locally), with the writer's round
// trip on the way. Inputs the reader rejects come back through pxCatchFatal
// and must leave no file open.

#include <climits>

#include "common.h"

namespace {

fuzz::ScratchFile *input, *output;

// Seed costs as the filtering program gives them: the level under the seed,
// one level inside the dome or basin in local mode, kept in the image's range.
void setCosts(Roots *seeds, const Image *img, bool cutting, bool global)
{
    for (int i = 0; i < seeds->count; ++i) {
        long long c = img->bands[0][seeds->pixel[i]];
        if (!global) c += cutting ? -1 : 1;
        if (c < 0) c = 0;
        if (c > img->maxValue) c = img->maxValue;
        seeds->cost[i] = static_cast<int>(c);
    }
}

// Dome cutting never raises a pixel, basin filling never lowers one.
void filter(Image *img, Roots *seeds, bool cutting, bool global)
{
    setCosts(seeds, img, cutting, global);
    Image *f = nullptr, *l = nullptr;
    if (cutting) ifReconstr(img, img, seeds, global, &f, &l);
    else ifDualReconstr(img, img, seeds, global, &f, &l);
    fuzz::ImagePtr filtered(f), labels(l);
    const int *v = img->bands[0], *r = filtered->bands[0];
    for (int p = 0; p < img->npixels; ++p) FUZZ_CHECK(cutting ? r[p] <= v[p] : r[p] >= v[p]);
}

void readAndFilter(void *)
{
    Image *raw = nullptr;
    pxReadImage(input->path(), &raw);
    fuzz::ImagePtr img(raw);

    // What the writer makes of an image reads back as the same samples.
    pxSaveImage(output->path(), img.get());
    Image *back = nullptr;
    pxReadImage(output->path(), &back);
    fuzz::ImagePtr again(back);
    FUZZ_CHECK(again->type == img->type && fuzz::sameBands(img.get(), again.get()));

    // The programs refuse images with values below 0 before any filter runs.
    if (fuzz::hasNegativeValues(img.get())) return;
    fuzz::RootsPtr frame(ifFrameAsRoots(img.get(), 0, 0));
    filter(img.get(), frame.get(), true, true);
    filter(img.get(), frame.get(), false, true);
    filter(img.get(), frame.get(), true, false);
    filter(img.get(), frame.get(), false, false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static fuzz::ScratchFile in("image"), out("image-out");
    input = &in;
    output = &out;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input->rewrite(data, size);
    fuzz::runGuarded(readAndFilter);
    return 0;
}
