#pragma once
/* Image core: the multi-band integer image record, adjacency relations,
 * pixel-wise and binary operations, and flat morphology. */

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Fatal errors ------------------------------------------------------ */
/* A fatal error of the library (a file that cannot be opened, read or written,
 * memory that cannot be had, an argument that would make an operator read or
 * write outside its memory) prints its message on standard error and ends the
 * program with status 1. pxCatchFatal runs fn(arg) with that changed for the
 * calling thread: a fatal error inside fn ends fn early, nothing is printed,
 * the memory the failed library call had allocated is released, and the
 * message (trailing newline removed) goes to `message` (at most size bytes,
 * NUL-terminated; message may be NULL). Returns 0 when fn returned normally,
 * else the error's kind. Calls may nest. The library unwinds through fn, so a
 * C function given as fn must be compiled with -fexceptions. */
enum {
    PX_FATAL_FILE = 1,     /* a file that cannot be opened, read, parsed or written */
    PX_FATAL_MEMORY = 2,   /* memory that cannot be allocated */
    PX_FATAL_ARGUMENT = 3  /* an argument an operator cannot work with */
};
typedef void (*PxGuardedFn)(void *arg);
int pxCatchFatal(PxGuardedFn fn, void *arg, char *message, int size);

/* ---- Threads ----------------------------------------------------------- */
/* The data-parallel operators split their work over this many threads; their
 * results do not depend on the count. n >= 1 sets it (values above 256 read
 * as 256), n < 1 returns to the default. Returns the previous setting (0 when
 * there was none). The setting is shared by all threads of the process. */
int pxSetNumThreads(int n);

/* The thread count in use: the setting when there is one, else the
 * environment variable FORESTING_NUM_THREADS when it holds a positive integer,
 * else the machine's hardware threads; always 1 to 256. */
int pxGetNumThreads(void);

/* ---- Progress messages ------------------------------------------------- */
/* The operators' progress lines ("in ifLabelImage", "There are N regional
 * maxima", ...) all pass through one sink per thread, called from the thread
 * that called the operator. By default the sink is pxPrintMessage, which
 * writes each message on standard output as printf would (the skeleton's
 * "thresh = %d, maxVal = %d" line on standard error). pxSetMessageSink
 * makes fn(text, data) receive the calling thread's messages instead (text is
 * one formatted message with its newlines, valid during the call only), or
 * drops them when fn is NULL; pxSetMessageSink(pxPrintMessage, NULL) restores
 * the default. */
typedef void (*PxMessageFn)(const char *text, void *data);
void pxPrintMessage(const char *text, void *data);
void pxSetMessageSink(PxMessageFn fn, void *data);

/* ---- Image record ------------------------------------------------------ */

/* Type codes. Only 1..5 are ever written to files. */
enum {
    PX_GREY8 = 1,      /* 8-bit grey, written as P5 */
    PX_GREY_INT = 2,   /* integer grey (labels, markers, results), written as P2 */
    PX_COLOR8 = 3,     /* 3-band RGB, written as P6 */
    PX_GREY16 = 4,     /* 16-bit grey, written as P5 with two-byte samples */
    PX_COLOR16 = 5,    /* 16-bit RGB, written as P6 with two-byte samples */
    PX_COLORSPACE = 6, /* colour-space conversion results (never written) */
    PX_FEATURES = 9,   /* region feature images (never written) */
    PX_ARCWEIGHTS = 10,/* arc-weight images (never written) */
    PX_WORK = 11       /* IFT work images: input bands + label, cost, pred */
};

/* A raster of signed 32-bit values with nbands bands; pixel p = x + rowOffset[y].
 * maxValue 0 means "not computed yet". */
typedef struct {
    int **bands;       /* nbands arrays of npixels values */
    int nbands;
    int ncols;
    int nrows;
    int npixels;
    int *rowOffset;    /* rowOffset[y] = y * ncols */
    int maxValue;
    signed char type;
    int adjCount;      /* displacement pairs of an arc-weight image, else 0 */
    int *adjPairs;     /* 2 * adjCount ints, else NULL */
} Image;

/* New zero-filled image with maxValue 0; NULL (after a message on stderr) when
 * it cannot be allocated, including a pixel count that overflows int.
 * Release with pxReleaseImage. */
Image *pxCreateImage(int nbands, int type, int ncols, int nrows);

/* Releases *img and everything it owns; *img itself is left unchanged. */
void pxReleaseImage(Image **img);

/* Deep copy of bands, type and maxValue (not the arc pairs); NULL for NULL. */
Image *pxCopyImage(Image *img);

/* New 1-band image of the given type holding band `band` of img; its maxValue
 * is the band's largest value, or 0 when no value is positive. */
Image *pxCopyBand(Image *img, int type, int band);

/* ---- Adjacency relations ----------------------------------------------- */

/* A relation is a count n and 2n ints of (dx, dy) pairs in a fixed order.
 * Each function below allocates the pair array with malloc, stores it through
 * `pairs` (the caller frees it) and returns n. A displacement that leaves the
 * image gives no neighbour: nothing wraps around a border. */
typedef int (*AdjacencyFn)(int **pairs);

typedef struct {
    int n;
    int *pairs;
} AdjacencyRelation;

/* (1,0) (0,1) (0,-1) (-1,0) */
int pxNeighborhood4(int **pairs);
/* (1,0) (0,1) */
int pxNeighborhood4forward(int **pairs);
/* the 4-neighbourhood, then (1,1) (-1,1) (1,-1) (-1,-1) */
int pxNeighborhood8(int **pairs);
/* (1,0) (0,1) (1,1) (-1,1) */
int pxNeighborhood8forward(int **pairs);
/* right, then clockwise on screen: (1,0) (1,1) (0,1) (-1,1) (-1,0) (-1,-1) (0,-1) (1,-1) */
int pxNeighborhood8Clockwise(int **pairs);
/* Disc of squared radius r2, centre included, dx outer loop and dy inner. */
int pxNeighborhood(int **pairs, int r2);
/* Full square of half width r, centre included, dx outer loop and dy inner. */
int pxMorphWindow(int **pairs, int r);
/* A disc or square with more pairs than an int counts is a fatal argument
 * error, and one that would take more than a quarter of the machine's memory a
 * fatal memory error, both before anything is allocated. */

/* ---- Pixel-wise and binary operations ----------------------------------- */
/* Each returns a new image (release with pxReleaseImage) and reads band 0 of
 * its inputs unless said otherwise. */

/* 255 where low <= v <= high, else 0; maxValue 255. */
Image *pxThreshold(Image *img, int type, int low, int high);
/* v where low <= v <= high, else 0; maxValue 0. */
Image *pxBandPass(Image *img, int type, int low, int high);
/* 255 - v for 8-bit input; otherwise maxValue - v, after raising img's own
 * maxValue to its largest band-0 value (img is changed in that field). */
Image *pxNegative(Image *img, int type);
/* 0 where v > 0, else 255; maxValue 255. */
Image *pxNegative2(Image *img, int type);
/* Every band: fill where mask <= 0, else v; maxValue 0. */
Image *pxMask(Image *img, Image *mask, int fill);
/* Band 0: 255 where a > 0 and b == 0, else 0; maxValue 255. */
Image *pxBinaryDifference(Image *a, Image *b, int type);
/* Band 0: 255 where a > 0 or b > 0, else 0; maxValue 255. */
Image *pxBinaryUnion(Image *a, Image *b, int type);
/* Every band: max(a, b); maxValue 0. */
Image *pxUpperEnvelope(Image *a, Image *b);
/* Every band: min(a, b); maxValue 0. */
Image *pxLowerEnvelope(Image *a, Image *b);
/* Every band: v + delta, negative sums 0, 8-bit sums above 255 become 255;
 * maxValue max(0, img's maxValue + delta), not clamped at 255. */
Image *pxAddToPixelValues(Image *img, int delta);
/* Every band: max(a - b, 0); maxValue the largest difference written. */
Image *pxSubtractImage(Image *a, Image *b);
/* 1 where no in-image 8-neighbour is strictly lower (higher), else 0; type 2,
 * maxValue 1. */
Image *pxFalseRegionalMinimum(Image *img);
Image *pxFalseRegionalMaximum(Image *img);
/* Every band copied into a zero frame of width w (added or removed); NULL, with
 * a message, when the result would not fit an image or would take more than a
 * quarter of the machine's memory. */
Image *pxAddBorder(Image *img, int w);
Image *pxRemoveBorder(Image *img, int w);
/* Union of the discs of squared radius v around every pixel with v > 0, 255 on
 * 0; 1 band, type 1. */
Image *pxPaintCircles(Image *img);
/* RGB copy of img (1 or 3 bands) with the pixels where mask > 0 in (r, g, b);
 * NULL, with a message, for another band count. */
Image *pxHighlightElements(Image *img, Image *mask, int r, int g, int b);
/* RGB copy of img with the lower-labelled side of every label border drawn in
 * (r, g, b). */
Image *pxShowSegm(Image *img, Image *labels, int r, int g, int b);
/* Copies band 0 of grey into bands 0, 1 and 2 of rgb (allocated by the caller). */
void pxPgm2rgb(Image *grey, Image *rgb);
/* In place, every band of img: max(img, grad band 0); maxValue unchanged. */
void pxCombineImageWithGrad(Image *img, Image *grad);
/* Histogram of img over the pixels where mask > 0: *nbins = top + 1 counters,
 * allocated with malloc into *hist (the caller frees it). Counters that would
 * take more than a quarter of the machine's memory are a fatal memory error. */
void pxHistogram(Image *img, Image *mask, float **hist, int *nbins);
/* Prints the band-0 values of the window of half width r around pixel p with
 * "%6d ", one line per row, skipping positions outside the image. */
void pxPrintWindow(FILE *stream, Image *img, int p, int r);

/* ---- Morphological filters ---------------------------------------------- */
/* Flat structuring elements; every band of src is filtered into the same band
 * of dst, which the caller allocates with src's size and bands and which must
 * not be src. Near the border only the part of the element inside the image
 * counts. */

/* Largest (smallest) value over the disc of squared radius r2; maxValue the
 * largest value written. A disc beyond the image's squared diagonal
 * (ncols - 1)^2 + (nrows - 1)^2 holds the whole image from every pixel and is
 * used as that one, so any r2 costs at most that disc. */
void pxMorphDilate(Image *src, Image *dst, int r2);
void pxMorphErode(Image *src, Image *dst, int r2);
/* Erosion then dilation (dilation then erosion) with the disc r2. */
void pxMorphOpen(Image *src, Image *dst, int r2);
void pxMorphClose(Image *src, Image *dst, int r2);
/* Alternating sequential filters with discs of squared radius 1 .. n: opening
 * then closing (closing then opening) at each step; prints one line per step.
 * From the step whose disc covers the image's squared diagonal on, the image
 * is constant and no later step changes it, so the steps (and lines) stop
 * there. dst's maxValue is not changed. */
void pxMorphAsfOC(Image *src, Image *dst, int n);
void pxMorphAsfCO(Image *src, Image *dst, int n);
/* Band 0 of dst: the largest 3x3 max-min gradient over the bands of src, kept
 * only where it exceeds what dst holds; maxValue the largest gradient. */
void pxMorphGrad(Image *src, Image *dst);

/* ---- Colour-space conversions ---------------------------------------------- */
/* Each converts bands 0..2 of src pixel by pixel into bands 0..2 of dst, which
 * the caller creates with src's size (dst's bands are overwritten; dst may be
 * src). RGB is 0..255 per band; HSV holds H in whole degrees (361: undefined,
 * for greys) and S, V with 16384 as 1.0; XYZ has 16384 as 1.0 (D65 white,
 * BT.709 primaries on linear RGB); L*a*b* and L*u*v* are the CIE values and
 * YCbCr is 0..255 with chroma centred on 128, all truncated towards zero.
 * Fewer than 3 bands in either image, or images of different sizes, end the
 * program (status 1). Nothing else is checked or clamped. */
void pxRgb2hsv(Image *src, Image *dst);
/* Stops, with "in hsv2rgb: saturation is 0 and hue is defined!" on stderr, at
 * the first pixel with S = 0 and H other than 361, leaving it and all later
 * pixels untouched; a pixel with a hue above 360 is left untouched. */
void pxHsv2rgb(Image *src, Image *dst);
void pxRgb2xyz(Image *src, Image *dst);
/* Channels below 0.005 become 0, above 0.995 become 255; dst's maxValue = 255. */
void pxXyz2rgb(Image *src, Image *dst);
void pxXyz2lab(Image *src, Image *dst);
void pxLab2xyz(Image *src, Image *dst);
/* Prints "in xyz2luv" on standard output once per call. */
void pxXyz2luv(Image *src, Image *dst);
/* A pixel with L* = 0 becomes X = Y = Z = 0. */
void pxLuv2xyz(Image *src, Image *dst);
/* The chained conversions go through a temporary 3-band XYZ image of type 6,
 * allocated and released inside the call; those ending in RGB set dst's
 * maxValue to 255, pxRgb2luv prints "in xyz2luv" once. */
void pxRgb2lab(Image *src, Image *dst);
void pxLab2rgb(Image *src, Image *dst);
void pxRgb2luv(Image *src, Image *dst);
void pxLuv2rgb(Image *src, Image *dst);
/* BT.601: full-range luma, studio-range chroma scale (Cb, Cr in 16..240). */
void pxRgb2ycbcr(Image *src, Image *dst);
/* The studio-range inverse (Y read as 16..235), not the exact inverse of
 * pxRgb2ycbcr; results are not clamped (black gives negative values). */
void pxYcbcr2rgb(Image *src, Image *dst);

#ifdef __cplusplus
}
#endif
