// overlay: shows in colour what a filter or a segmentation did to an image.
//
//   overlay changes <image> <filtered> <output.ppm>   pixels the filter changed, in red
//   overlay borders <image> <labels> <output.ppm>     borders between labels, in red

#include <cstdio>
#include <cstring>

#include "pxIO.h"
#include "pxImage.h"

int main(int argc, char **argv)
{
    if (argc < 5 || (std::strcmp(argv[1], "changes") && std::strcmp(argv[1], "borders"))) {
        std::printf("%s changes <image> <filtered> <output.ppm>\n", argv[0]);
        std::printf("%s borders <image> <labels> <output.ppm>\n", argv[0]);
        return 0;
    }
    Image *img = nullptr, *other = nullptr;
    pxReadImage(argv[2], &img);
    pxReadImage(argv[3], &other);
    if (img->ncols != other->ncols || img->nrows != other->nrows) {
        std::fprintf(stderr, "images %s and %s differ in size\n", argv[2], argv[3]);
        return 1;
    }
    Image *shown = nullptr;
    if (!std::strcmp(argv[1], "borders")) {
        shown = pxShowSegm(img, other, 255, 40, 40);
    } else {
        // The mask of changed pixels, from the absolute difference.
        Image *up = pxSubtractImage(img, other), *down = pxSubtractImage(other, img);
        Image *changed = pxBinaryUnion(up, down, PX_GREY8);
        shown = pxHighlightElements(img, changed, 255, 40, 40);
        pxReleaseImage(&up);
        pxReleaseImage(&down);
        pxReleaseImage(&changed);
    }
    pxSaveImage(argv[4], shown);
    pxReleaseImage(&shown);
    pxReleaseImage(&other);
    pxReleaseImage(&img);
    return 0;
}
