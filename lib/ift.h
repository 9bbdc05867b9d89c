#pragma once
/* IFT engine: the bucket queue, seed sets and roots files, the image foresting
 * transform with its path-cost and weight functions, and the operators built on
 * it (reconstruction, connected labelling, regional extrema, seed generators). */

#include "pxImage.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Sentinels ---------------------------------------------------------- */

#define IFT_INFINITY_MIN 2147483647          /* initial cost of minimising IFTs */
#define IFT_INFINITY_MAX (-2147483647 - 1)   /* initial cost of maximising IFTs */
#define QUEUE_ABSENT (-1)                    /* element never inserted, or unlinked */
#define QUEUE_DONE (-2)                      /* element taken out with removeQueue */
#define NO_NEIGHBOUR (-1)

/* ---- Bucket queue ------------------------------------------------------- */
/* A circular array of first-in first-out buckets threaded through per-element
 * links. Elements are 0 .. nelems-1, buckets 0 .. nbuckets-1. */

typedef struct {
    int *first;    /* head of each bucket, -1 when empty */
    int *last;     /* tail of each bucket, -1 when empty */
    int nbuckets;
    int current;   /* where the search for the next element starts */
} QueueBuckets;

typedef struct {
    int *prev;
    int *next;
    int *bucketOf; /* QUEUE_ABSENT, QUEUE_DONE, or the bucket holding the element */
    int nelems;
} QueueElements;

/* Allocates and resets the queue; an allocation failure prints
 * "Could not allocate queue (Q|A) in initQueue" and ends the program (status 1). */
void initQueue(QueueBuckets *Q, int nbuckets, QueueElements *A, int nelems);
/* Empties every bucket, makes every element absent, cursor 0. */
void resetQueue(QueueBuckets *Q, QueueElements *A);
/* Appends e at the tail of bucket b (e must not be queued). */
void insertQueue(QueueBuckets *Q, QueueElements *A, int b, int e);
/* As insertQueue, then moves the cursor back to b when b is below it. */
void insertQueueUpdateCurr(QueueBuckets *Q, QueueElements *A, int b, int e);
/* Takes the head of bucket b out (it becomes done) and returns it; -1 if empty. */
int removeQueue(QueueBuckets *Q, QueueElements *A, int b);
/* Unlinks a queued e and makes it absent; nothing for an absent or done e. */
void removeQueueElem(QueueBuckets *Q, QueueElements *A, int e);
/* Moves a queued e to the tail of bucket b; nothing for an absent or done e. */
void updateQueue(QueueBuckets *Q, QueueElements *A, int b, int e);
/* As updateQueue; when e was moved and b is below the cursor, cursor = b. */
void updateQueueUpdateCurr(QueueBuckets *Q, QueueElements *A, int b, int e);
/* 1 when no bucket holds an element, else 0 with the cursor moved (circularly,
 * forward) to the first non-empty bucket. */
int isEmpty(QueueBuckets *Q);
/* Releases the five arrays; the counts become 0. */
void releaseQueue(QueueBuckets *Q, QueueElements *A);

/* ---- Seed sets and roots files ------------------------------------------ */

/* Seeds in insertion order: pixel index, label and initial path cost. */
typedef struct {
    int *pixel;
    int *label;
    int *cost;
    int count;
} Roots;

/* Seeds of the skeleton code: pixel, running position along the contours,
 * contour number (both from 1), a spare array and the count. */
typedef struct {
    int *pixel;
    int *position;
    int *contour;
    int *spare;
    int count;
} ContourRoots;

/* count = n and three zero-filled arrays (malloc); released by ifReleaseRoots. */
void ifAllocateRoots(Roots *roots, int n);
/* Frees the three arrays, not the record. */
void ifReleaseRoots(Roots *roots);
/* Frees the four arrays, not the record. */
void ifReleaseRoots2(ContourRoots *roots);
/* Writes the count, then "x y label" per seed (x, y from img's ncols). A file
 * that cannot be opened or written ends the program (status 1). */
void ifSaveRoots(const char *name, Image *img, Roots *roots);
/* As ifSaveRoots with each pixel's position in place of the label. */
void ifSaveRoots2(const char *name, Image *img, ContourRoots *roots);
/* Reads a roots file through img's geometry; costs are 0. Returns NULL, after
 * "invalid number of roots in file %s", when the count is missing or not
 * positive. A seed that is missing, not numeric or outside img ends the
 * program (status 1). The record is malloc'd: ifReleaseRoots, then free. */
Roots *ifReadRoots(const char *name, Image *img);
/* New 1-band type-2 image, zero except label[i] at pixel[i] (later seeds win). */
Image *ifVisualizeRoots(Image *img, Roots *roots);
/* One seed per pixel with a positive band-0 value, labelled with that value. */
Roots *ifLabelsToRoots(Image *img);
/* One seed per frame pixel: top row, bottom row, left then right column
 * without corners; label `value` when uniform is not 0, else 1, 2, 3, ... */
Roots *ifFrameAsRoots(Image *img, int uniform, int value);

/* ---- Core IFT and path costs ------------------------------------------- */

/* Cost of the path to p extended by an arc of the given weight. */
typedef int (*PathCostFn)(int costOfP, int weight);
/* Weight of the arc from p to q, computed from img. */
typedef int (*WeightFn)(Image *img, int p, int q);

/* Minimising IFT with maxcost + 1 buckets. Writes label, cost and predecessor
 * into the last three bands of work (unreached pixels: label 0, cost
 * IFT_INFINITY_MIN, themselves as predecessor). Seeds enter in array order; a
 * seed listed again is moved to its new cost and label. A user's weight or
 * path-cost function is called once per arc to a pixel that is not done. */
void iftNonNormalized(Image *img, Image *work, AdjacencyFn adjacency,
                      WeightFn weight, int maxcost, PathCostFn pathCost,
                      Roots *seeds);
/* Maximising dual: initial cost IFT_INFINITY_MAX, highest cost served first. */
void iftNonNormalizedInverted(Image *img, Image *work, AdjacencyFn adjacency,
                              WeightFn weight, int maxcost, PathCostFn pathCost,
                              Roots *seeds);

/* max(a, w) */
int ifPathCostMax(int a, int w);
/* min(a, w) */
int ifPathCostMin(int a, int w);
/* a + w, unchecked */
int ifPathCostSum(int a, int w);
/* a if a >= w, else IFT_INFINITY_MIN */
int ifPathCostMaxLocal(int a, int w);
/* a if a <= w, else IFT_INFINITY_MAX */
int ifPathCostMinLocal(int a, int w);

/* Band 0 of img at q. */
int ifWatershedMetric(Image *img, int p, int q);
/* Square root (truncated) of the per-band mean squared difference. */
int ifEuclideanDistance(Image *img, int p, int q);
/* Largest absolute difference over the bands, -1 for no bands. */
int ifMaxDistance(Image *img, int p, int q);
/* 12 for pixels in one row or column, else 17. */
int ifChanferDistance(Image *img, int p, int q);
/* Always 0. */
int eliminateSimilarRegions(void);

/* ---- Reconstruction ------------------------------------------------------ */

/* Dome cutting: reconstruction by dilation of the seeds under orig, over the
 * whole image (isGlobal != 0) or only the domes holding seeds. *filtered gets
 * orig's type, *labels type 2; both are new images for the caller. */
void ifReconstr(Image *orig, Image *ref, Roots *seeds, int isGlobal,
                Image **filtered, Image **labels);
/* Basin filling, the dual; the queue is sized from the larger of ref's and
 * orig's maxValue. */
void ifDualReconstr(Image *orig, Image *ref, Roots *seeds, int isGlobal,
                    Image **filtered, Image **labels);

/* ---- Connected labelling and regional extrema ------------------------------ */

/* 8-connected components of band 0 > 0, numbered 1, 2, ... in raster order of
 * their first pixel; label must be zero on entry; its maxValue = the count.
 * Prints "in ifLabelImage". */
void ifLabelImage(Image *bin, Image *label);
/* Sets 255 in out on every flat zone of img that holds a seed. */
void ifConnectedComponents(Image *img, Image *out, Roots *seeds);
/* New 1-band type-2 image, 1 on the regional minima (maxima), 0 elsewhere. */
Image *ifRegionalMinima(Image *img);
Image *ifRegionalMaxima(Image *img);
/* One seed per pixel of each regional minimum (maximum), in raster order,
 * labelled by extremum (numbered in raster order), cost = the pixel's value. */
Roots *ifRegionalMinimaAsRoots(Image *img);
Roots *ifRegionalMaximaAsRoots(Image *img);
/* Largest cyclic difference of values to a 4-neighbour of the same label. */
void ifLabelDifferences(Image *values, Image *labels, Image *out, int absolute);
/* Renumbers labels in order of first appearance; maxValue = distinct labels. */
void ifCorrectLabels(Image *labels);
/* 255 in out on object pixels with a background 4-neighbour; maxValue 255. */
void ifRegionsToContours(Image *bin, Image *out);

/* ---- Seed generators ------------------------------------------------------ */

/* Seeds on the contour border of the objects of bin (band 0 > 0), filling the
 * caller's record: mode != 0 one label per border pixel (contour tracing),
 * mode 0 one label per object. */
void ifDistTransfRoots(Image *bin, Roots *seeds, int mode);
/* Numbers the non-zero pixels of border by first-in first-out contour tracing
 * into labels (zero on entry); returns the number of pixels labelled. */
int labelContours(Image *border, Image *labels);
/* Cell-extraction seeds: label 2 on the maxima of the smoothed image, 1 on the
 * boundaries of the watershed zones grown from them; writes "labeled.pgm". */
Roots *ifCellsRoots(Image *img, int size);

/* ---- Area opening and closing ---------------------------------------------- */

/* Area opening of band 0: every regional maximum is lowered to the highest
 * level at which the 8-connected set of pixels at or above it around the
 * maximum holds `area` pixels (the image's lowest value when the image holds
 * fewer), by a global reconstruction from the maxima (ifReconstr); an area
 * below 1 acts as 1 (the image comes back unchanged). *filtered gets img's
 * type, *labels (type 2) the label of the maximum that set each pixel; both
 * are new images for the caller. Prints the labelling lines of
 * ifRegionalMaximaAsRoots and "There are %d regional maxima". */
void ifAreaOpen(Image *img, Image **filtered, Image **labels, int area);
/* As ifAreaOpen, but the maxima share the pixels in one flood: only those that
 * win `area` pixels cut their own dome (local reconstruction); every other
 * pixel keeps its value. */
void ifAreaOpenOld(Image *img, Image **filtered, Image **labels, int area);
/* Area closing: M - ifAreaOpen(M - img), with M 255 for 8-bit images, else
 * img's maxValue raised to its largest value (img's field is raised);
 * *filtered gets img's type and maxValue M, *labels the opening's labels. */
void ifAreaClose(Image *img, Image **filtered, Image **labels, int area);

/* ---- Levelings ------------------------------------------------------------- */

/* Two-way IFT of levelings on band 0 of img, from the levels of ref (whose
 * maxValue sizes the queue): seeds labelled 2 raise their region towards img
 * (min path costs, highest cost first), seeds labelled 1 lower it (max path
 * costs, lowest first). Writes label, cost and predecessor into the last three
 * bands of work (caller's, type 11); pixels no seed improves keep ref's value,
 * label 0. A seed with another label prints "pixel %d has invalid label (%d)!"
 * on stderr once per in-image neighbour not done, and offers nothing. */
void iftNonNormalizedLevel(Image *img, Image *ref, Image *work, AdjacencyFn adj, Roots *seeds);
/* iftNonNormalizedLevel with the 8-adjacency; *filtered (costs) and *labels
 * are new type-2 images for the caller. */
void ifLevel(Image *img, Image *ref, Roots *seeds, Image **filtered, Image **labels);
/* Leveling of band 0 of img from band 0 of marker: opening by reconstruction
 * of img from the maxima of min(img, marker's 4-neighbour dilation), then
 * closing by reconstruction of that from the minima of max(marker's erosion,
 * opening). *out is a new image of img's type for the caller. */
void ifLevel2(Image *img, Image *marker, Image **out);

/* ---- Region-merging criteria ----------------------------------------------- */

/* ---- IFT variants ---------------------------------------------------------- */

/* ---- Arc-weight functions -------------------------------------------------- */

/* ---- Region graphs and region features ------------------------------------- */

/* ---- Minimum spanning trees and their cuts --------------------------------- */

/* ---- Euclidean distance transform and skeleton IFTs ------------------------ */

/* ---- Contour seeds and multiscale skeletons -------------------------------- */

/* ---- Fuzzy connectedness --------------------------------------------------- */

#ifdef __cplusplus
}
#endif
