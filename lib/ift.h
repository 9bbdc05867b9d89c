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

/* ---- Levelings ------------------------------------------------------------- */

/* ---- Region-merging criteria ----------------------------------------------- */

/* ---- IFT variants ---------------------------------------------------------- */

/* ---- Arc-weight functions -------------------------------------------------- */

/* ---- Region graphs and region features ------------------------------------- */

/* ---- Minimum spanning trees and their cuts --------------------------------- */

/* ---- Euclidean distance transform and skeleton IFTs ------------------------ */

/* ---- Contour seeds and multiscale skeletons -------------------------------- */

/* ---- Fuzzy connectedness --------------------------------------------------- */
/* Objects 1..nobjects are given by means[k] and variances[k] (entry 0 unused).
 * The dissimilarity of an arc p-q for object k, from band 0 of img, is
 * 255 - trunc(255 exp(-(m*m) / variance)) with m = (v(p) + v(q)) / 2 - mean
 * (integer divisions): 0 .. 255, and 0 when m*m < variance. Path costs are the
 * largest dissimilarity along the path. A variance of 0 or less ends the
 * program (status 1), as do label or cost images smaller than img. */

/* New image of type 11, one band per displacement of the relation: band j at
 * p is the dissimilarity of the arc to p's neighbour under displacement j, 0
 * where that neighbour is outside. Release with pxReleaseImage. */
Image *ifFuzzyEdgesWeight(Image *img, AdjacencyFn adjacency, int mean, int variance);
/* New 1-band type-2 image: at p, the sum of the dissimilarities to p's
 * 4-neighbours inside the image, divided by 4 (whatever their number). */
Image *ifTestFuzzy(Image *img, int mean, int variance);
/* One max-arc IFT per object from the seeds labelled k (other seeds and their
 * costs play no part); band 0 of cost gets the cheapest cost over the objects
 * (IFT_INFINITY_MIN where none reaches) and band 0 of label the object giving
 * it (the lower number on a tie; left as it was where none reaches). Writes
 * the cost maps of objects 1 and 2 to "tmp1.pgm" and "tmp2.pgm" in the
 * working directory (zeros for an object that does not exist). */
void iftFuzzy(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
              int *variances, int nobjects);
/* One competitive max-arc IFT from all seeds (cost 0, their own label) on the
 * least dissimilarity over the objects; band 0 of cost and label get the
 * results (unreached: cost IFT_INFINITY_MIN, label left as it was). Prints
 * "computing edge weights for object %d" per object, "Computing minimum edge
 * weight" and "running ift", and writes bands 0..3 of the arc images of the
 * last object, of object 1 and of the minimum to "obj1.pgm".."obj4.pgm",
 * "fun1.pgm".."fun4.pgm" and "tmp1.pgm".."tmp4.pgm" (zeros for bands the
 * relation lacks). Fewer than one object ends the program (status 1). */
void iftFuzzyEdges(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
                   int *variances, int nobjects);

#ifdef __cplusplus
}
#endif
