// overlay: draws the borders of a label image in colour over an image, for
// looking at what a segmentation did.
//
//   overlay <image> <labels> <output.ppm>

#include <cstdio>

#include "pxIO.h"
#include "pxImage.h"

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::printf("%s <image> <labels> <output.ppm>\n", argv[0]);
        return 0;
    }
    Image *img = nullptr, *labels = nullptr;
    pxReadImage(argv[1], &img);
    pxReadImage(argv[2], &labels);
    if (img->ncols != labels->ncols || img->nrows != labels->nrows) {
        std::fprintf(stderr, "images %s and %s differ in size\n", argv[1], argv[2]);
        return 1;
    }
    Image *shown = pxShowSegm(img, labels, 255, 40, 40);
    pxSaveImage(argv[3], shown);
    pxReleaseImage(&shown);
    pxReleaseImage(&labels);
    pxReleaseImage(&img);
    return 0;
}
