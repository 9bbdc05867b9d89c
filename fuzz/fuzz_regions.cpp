// Differential target for the region operators: connected labelling (with
// label renumbering and seeded flat zones), regional extrema as images and as
// seed sets, area opening and closing, the levelings and the reconstructions
// (dome cutting, basin filling), each against its
// straightforward version from the unit tests. The first byte picks the
// family; the rest is the image and the call's parameters.

#include "decode.h"
#include "reference/areaopen.h"
#include "reference/labelling.h"
#include "reference/leveling.h"
#include "reference/reconstruction.h"

namespace {

using namespace fuzz;
using namespace straight;
using ImagePtr = testing_support::ImagePtr;
using RootsPtr = testing_support::RootsPtr;

void labelling(Bytes &in)
{
    ImageShape shape;
    shape.negative = true;
    ImagePtr img = decodeImage(in, shape);
    // Objects where the value is positive: shift the levels so that some are not.
    const int shift = in.range(-3, 3);
    for (int p = 0; p < img->npixels; ++p)
        img.at(p) = static_cast<int>(std::clamp<long long>(1LL * img.at(p) + shift, INT_MIN, INT_MAX));
    ImagePtr lab(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    ifLabelImage(img.get(), lab.get());
    int count = 0;
    same(bandValues(lab.get()), bfsLabels(img.get(), &count), "ifLabelImage labels");
    same(lab->maxValue, count, "ifLabelImage maxValue");
    std::vector<unsigned char> bytes(static_cast<size_t>(img->npixels));
    for (int p = 0; p < img->npixels; ++p) bytes[p] = img.at(p) > 0 ? static_cast<unsigned char>(img.at(p) | 1) : 0;
    ImagePtr fromBytes(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    ifLabelBytes(bytes.data(), fromBytes.get());
    same(bandValues(fromBytes.get()), bandValues(lab.get()), "ifLabelBytes labels");
    same(fromBytes->maxValue, count, "ifLabelBytes maxValue");

    ImagePtr renumbered(pxCopyImage(img.get()));
    ifCorrectLabels(renumbered.get());
    same(bandValues(renumbered.get()), plainCorrectLabels(img.get(), &count), "ifCorrectLabels labels");
    same(renumbered->maxValue, count, "ifCorrectLabels maxValue");

    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), img.get(), 12, 3, true, 0, 9);
    ImagePtr got(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows)), want(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    for (int p = 0; p < img->npixels; ++p) got.at(p) = want.at(p) = p % 7;
    got->maxValue = want->maxValue = 6;
    ifConnectedComponents(img.get(), got.get(), seeds.get());
    plainConnectedComponents(img.get(), want.get(), seeds.get());
    same(bandValues(got.get()), bandValues(want.get()), "ifConnectedComponents");
    same(got->maxValue, want->maxValue, "ifConnectedComponents maxValue");
}

void extrema(Bytes &in)
{
    ImageShape shape;
    shape.negative = true;
    shape.wideTop = INT_MAX;
    ImagePtr img = decodeImage(in, shape);
    if (in.flag()) img->maxValue = in.range(0, INT_MAX);  // a claim the operators must not trust
    for (bool maxima : {false, true}) {
        const std::vector<int> def = definitionExtrema(img.get(), maxima);
        ImagePtr got(maxima ? ifRegionalMaxima(img.get()) : ifRegionalMinima(img.get()));
        same(bandValues(got.get()), def, maxima ? "ifRegionalMaxima" : "ifRegionalMinima");
        same(got->maxValue, 1, "regional extrema maxValue");
        same(got->type == PX_GREY_INT && got->nbands == 1, true, "regional extrema image kind");
        RootsPtr roots(maxima ? ifRegionalMaximaAsRoots(img.get()) : ifRegionalMinimaAsRoots(img.get()));
        same(seedsOf(roots.get()), seedsFromMask(img.get(), def), maxima ? "ifRegionalMaximaAsRoots" : "ifRegionalMinimaAsRoots");
    }
}

struct Filtered {
    ImagePtr filtered, labels;
};

void areaOpening(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 100000;  // the flood levels' queue has maxValue + 1 buckets
    ImagePtr img = decodeImage(in, shape);
    const int b = in.byte();
    const int area = b < 128 ? b % 8 - 1 : b < 250 ? in.range(1, img->npixels) : img->npixels + b % 3;
    const bool closing = in.flag();
    Filtered got;
    if (closing) ifAreaClose(img.get(), &got.filtered.img, &got.labels.img, area);
    else ifAreaOpen(img.get(), &got.filtered.img, &got.labels.img, area);

    // The closing is the opening of the negative against the top value.
    const int top = img->type == PX_GREY8 ? 255 : img->maxValue;
    ImagePtr work(pxCopyImage(img.get()));
    if (closing) {
        for (int p = 0; p < img->npixels; ++p) work.at(p) = top - img.at(p);
        work->maxValue = 0;
        for (int p = 0; p < img->npixels; ++p) work->maxValue = std::max(work->maxValue, work.at(p));
        if (img->type == PX_GREY8) work->maxValue = 255;
    }
    std::vector<int> want = bruteAreaOpen(work.get(), std::max(area, 1));
    if (closing)
        for (int &v : want) v = top - v;
    same(bandValues(got.filtered.get()), want, closing ? "ifAreaClose values" : "ifAreaOpen values");
    same(got.filtered->type, img->type, "area filter type");
    if (closing) same(got.filtered->maxValue, top, "ifAreaClose maxValue");

    // Labels: the maxima, one flood per maximum for its level, and the
    // global reconstruction from them.
    RootsPtr seeds(ifRegionalMaximaAsRoots(work.get()));
    const std::vector<int> level = floodLevels(work.get(), seeds.get(), std::max(area, 1));
    for (int i = 0; i < seeds->count; ++i) seeds->cost[i] = level[seeds->label[i]];
    Filtered flood;
    ifReconstr(work.get(), work.get(), seeds.get(), 1, &flood.filtered.img, &flood.labels.img);
    same(bandValues(got.labels.get()), bandValues(flood.labels.get()), "area filter labels");
}

void levelings(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 100000;
    shape.maxPixels = 1024;  // the definition iterates to its fixpoint
    ImagePtr img = decodeImage(in, shape);
    ImagePtr marker = decodeLike(in, img.get(), shape);
    marker->type = img->type;
    Image *out = nullptr;
    ifLevel2(img.get(), marker.get(), &out);
    ImagePtr owned(out);
    const std::vector<int> want = levelByDefinition(img.get(), marker.get());
    same(bandValues(out), want, "ifLevel2 values");
    same(out->type, img->type, "ifLevel2 type");
    same(out->maxValue, std::max(0, *std::max_element(want.begin(), want.end())), "ifLevel2 maxValue");

    // The two-way IFT, from seeds rising (2), falling (1) and now and then
    // of another label, over ref's levels.
    SeedsOwner seeds;
    decodeSeeds(in, seeds.get(), img.get(), 12, 3, true, 0, 100000);
    ImagePtr ref = decodeLike(in, img.get(), shape);
    if (in.flag()) ref->maxValue = in.range(0, 100000);
    const AdjacencyFn adj = relation(in);
    ImagePtr lib(pxCreateImage(4, PX_WORK, img->ncols, img->nrows)), plain(pxCreateImage(4, PX_WORK, img->ncols, img->nrows));
    iftNonNormalizedLevel(img.get(), ref.get(), lib.get(), adj, seeds.get());
    plainLevel(img.get(), ref.get(), plain.get(), adj, seeds.get());
    same(resultOf(lib.get()), resultOf(plain.get()), "iftNonNormalizedLevel");
}

// Dome cutting and basin filling, over the whole image and locally, from
// seeds on distinct pixels (the definitions do not say which of two seeds on
// one pixel counts), some above the image's top as a brighter reference
// gives them.
void reconstruction(Bytes &in)
{
    ImageShape shape;
    shape.wideTop = 100000;
    shape.maxPixels = 1024;  // the global definition iterates to its fixpoint
    ImagePtr img = decodeImage(in, shape);
    const int count = 1 + in.byte() % std::min(8, img->npixels);
    std::vector<int> pixels(img->npixels);
    for (int p = 0; p < img->npixels; ++p) pixels[p] = p;
    SeedsOwner seeds;
    ifAllocateRoots(seeds.get(), count);
    for (int i = 0; i < count; ++i) {
        std::swap(pixels[i], pixels[in.range(i, img->npixels - 1)]);
        seeds.r.pixel[i] = pixels[i];
        seeds.r.label[i] = i + 1;
        seeds.r.cost[i] = in.flag() ? img.at(in.range(0, img->npixels - 1)) : in.range(0, img->maxValue + 3);
    }
    const bool domes = in.flag(), global = in.flag();
    Filtered got;
    if (domes) ifReconstr(img.get(), img.get(), seeds.get(), global, &got.filtered.img, &got.labels.img);
    else ifDualReconstr(img.get(), img.get(), seeds.get(), global, &got.filtered.img, &got.labels.img);
    const std::vector<int> want = global ? globalByFixpoint(img.get(), seeds.get(), domes)
                                         : localByLevels(img.get(), seeds.get(), domes);
    same(bandValues(got.filtered.get()), want, domes ? "ifReconstr values" : "ifDualReconstr values");
    if (!global) same(got.filtered->maxValue, std::max(0, *std::max_element(want.begin(), want.end())), "local reconstruction maxValue");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    switch (in.byte() % 5) {
    case 0: labelling(in); break;
    case 1: extrema(in); break;
    case 2: areaOpening(in); break;
    case 3: levelings(in); break;
    default: reconstruction(in); break;
    }
    return 0;
}
