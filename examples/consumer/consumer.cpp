// consumer: cuts the domes of an image with the installed toolkit.
//
//   consumer <image> <output> frame            seeds on the image frame
//   consumer <image> <output> maxima <level>   seeds on the regional maxima at
//                                              or above level
//
// Every seed starts at the level under it and the image is rebuilt from the
// seeds by reconstruction by dilation: a bright dome that holds no seed is cut
// down to the pass that leads to one. With frame seeds the objects that do not
// touch the border go; with maxima seeds those whose top stays below level.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"

namespace {

Roots *maximaAtOrAbove(Image *img, int level)
{
    Roots *all = ifRegionalMaximaAsRoots(img);
    int n = 0;
    for (int i = 0; i < all->count; ++i)
        if (all->cost[i] >= level) ++n;
    Roots *kept = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
    ifAllocateRoots(kept, n);
    for (int i = 0, k = 0; i < all->count; ++i)
        if (all->cost[i] >= level) {
            kept->pixel[k] = all->pixel[i];
            kept->label[k++] = all->label[i];
        }
    ifReleaseRoots(all);
    std::free(all);
    return kept;
}

} // namespace

int main(int argc, char **argv)
{
    bool frame = argc == 4 && !std::strcmp(argv[3], "frame");
    bool maxima = argc == 5 && !std::strcmp(argv[3], "maxima");
    if (!frame && !maxima) {
        std::fprintf(stderr, "usage: %s <image> <output> frame | maxima <level>\n", argv[0]);
        return 2;
    }
    Image *img = nullptr;
    pxReadImage(argv[1], &img);
    for (int p = 0; p < img->npixels; ++p)
        if (img->bands[0][p] < 0) {
            std::fprintf(stderr, "image %s holds values below 0\n", argv[1]);
            return 1;
        }

    Roots *seeds = frame ? ifFrameAsRoots(img, 0, 0) : maximaAtOrAbove(img, std::atoi(argv[4]));
    for (int i = 0; i < seeds->count; ++i) seeds->cost[i] = img->bands[0][seeds->pixel[i]];
    Image *filtered = nullptr, *labels = nullptr;
    ifReconstr(img, img, seeds, 1, &filtered, &labels);
    pxSaveImage(argv[2], filtered);
    std::printf("%d seeds, %s written\n", seeds->count, argv[2]);

    pxReleaseImage(&filtered);
    pxReleaseImage(&labels);
    pxReleaseImage(&img);
    ifReleaseRoots(seeds);
    std::free(seeds);
    return 0;
}
