// Writes the two 4096 x 4096 benchmark images (tiled and upscaled camera) as
// P5 files into a folder, for timing and measuring the programs themselves:
//
//   make_bench_images <folder>    -> <folder>/tiled.pgm, <folder>/upscaled.pgm

#include <cstdio>
#include <string>

#include "bench_images.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::printf("%s <folder>\n", argv[0]);
        return 0;
    }
    std::string dir = argv[1];
    Image *camera = bench_images::loadCamera();
    Image *tiled = bench_images::tiled(camera), *upscaled = bench_images::upscaled(camera);
    pxSaveImage((dir + "/tiled.pgm").c_str(), tiled);
    pxSaveImage((dir + "/upscaled.pgm").c_str(), upscaled);
    pxReleaseImage(&upscaled);
    pxReleaseImage(&tiled);
    pxReleaseImage(&camera);
    return 0;
}
