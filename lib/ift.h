#pragma once
/* IFT engine: the bucket queue, seed sets and roots files, the image foresting
 * transform with its path-cost and weight functions, and the operators built on
 * it (reconstruction, connected labelling, regional extrema, seed generators). */

#include "graph.h"
#include "pxImage.h"
#include "unionfind.h"

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
 * "Could not allocate queue (Q|A) in initQueue" and ends the program (status 1),
 * and so, before allocating, does a part that would take more than a quarter of
 * the machine's memory. */
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
/* The same labelling of the nonzero bytes bin[0 .. npixels-1] of a row-major
 * ncols x nrows plane, where label gives the size: the labels and messages
 * of ifLabelImage on the image of those bytes, without widening them first. */
void ifLabelBytes(const unsigned char *bin, Image *label);
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

/* A criterion is three callbacks used together: an initialiser that fills the
 * data block of every pixel's element, the merge callback that ufLink calls
 * (MergeDataFn), and the weight between the regions of two pixels, read before
 * they are linked. Blocks: area 1 int (count), volume 2 (count, sum of band
 * 0), colour 4 (count, sums of bands 0, 1, 2). An initialiser given a
 * union-find with fewer elements than img has pixels, or blocks narrower than
 * its family's, ends the program. */
typedef void (*InitDataFn)(UnionFind *uf, Image *img);
typedef int (*RegionWeightFn)(Image *img, UnionFind *uf, int p, int q);

/* count = 1 for every pixel. */
void ifInitAreaData(UnionFind *uf, Image *img);
/* Adds the absorbed count to the kept one; returns 0. */
int ifUpdateAreaData(UnionFindElement *elements, int kept, int absorbed);
/* The smaller of the two regions' pixel counts (img is not read). */
int ifEdgeWeightArea(Image *img, UnionFind *uf, int p, int q);

/* count = 1, sum = band 0 of img. */
void ifInitVolumeData(UnionFind *uf, Image *img);
/* Adds count and sum; returns 0. */
int ifUpdateVolumeData(UnionFindElement *elements, int kept, int absorbed);
/* With h = band 0 of img at p: the smaller of count * h - sum over the two
 * regions (the volume each would hold filled up to h), saturated to int. */
int ifEdgeWeightVolume(Image *img, UnionFind *uf, int p, int q);

/* count = 1, sums = bands 0, 1, 2 of img (which needs three bands). */
void ifInitColorData(UnionFind *uf, Image *img);
/* Adds all four ints; returns 0. */
int ifUpdateColorData(UnionFindElement *elements, int kept, int absorbed);
/* Largest absolute difference of the regions' truncated band means; a region
 * of count 0 has mean 0 (img is not read). */
int ifEdgeWeightColor(Image *img, UnionFind *uf, int p, int q);

/* ---- IFT variants ---------------------------------------------------------- */

/* Minimising IFTs sharing iftNonNormalized's contract: results in the last
 * three bands of work (which needs 3 bands and img's pixel count), seeds in
 * array order (a pixel seeded again moves to the later cost and label, seeds
 * outside img are skipped), unreached pixels with label 0, cost
 * IFT_INFINITY_MIN and themselves as predecessor. Bucket indices are true
 * residues of the costs. A mask, arc-weight image or work image that does not
 * fit img ends the program. User weight and path-cost functions are called
 * once per arc to a pixel that is not done (and, with a mask, not masked). */

/* 50000 buckets; each weight, expected in 0 .. 1000, enters the path cost
 * times 49. A weight outside 0 .. 1020 ends the program. */
void ift(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost,
         Roots *seeds);
/* Arcs and weights from an arc-weight image (band j: the arc along pair j, -1
 * for none; an arc leaving img is skipped). Buckets: the largest of 1001, the
 * largest weight + 1 and the largest seed cost + 1. */
void iftWF(Image *img, Image *work, Image *weights, PathCostFn pathCost, Roots *seeds);
/* As iftWF with maxcost + 1 in place of 1001. */
void iftNonNormalizedWF(Image *img, Image *work, Image *weights, int maxcost, PathCostFn pathCost,
                        Roots *seeds);
/* As ift on the pixels the mask selects: a seed needs a band-0 mask value
 * above 0, a neighbour a value other than 0. */
void iftMask(Image *img, Image *work, Image *mask, AdjacencyFn adjacency, WeightFn weight,
             PathCostFn pathCost, Roots *seeds);
/* As iftWF with weights times 49 and the mask rules of iftMask; buckets: the
 * largest of 50000, the largest scaled weight + 1 and the largest seed cost
 * + 1. A scaled weight beyond int ends the program. */
void iftMaskWF(Image *img, Image *work, Image *mask, Image *weights, PathCostFn pathCost,
               Roots *seeds);
/* iftNonNormalized (maxcost + 1 buckets) that also merges regions: each
 * finished pixel joins its predecessor's region, and at the first contact of
 * two regions of different labels an edge weighted regionWeight(img, uf, p, q)
 * joins the labels in the returned graph, and the regions merge. init(uf, data)
 * fills the union-find (npixels + 1 elements of nData ints) before mergeData is
 * set. The graph has max(seed count, largest seed label) + 1 vertices and a
 * type-2 copy of the label band; release it with destroyGraph. A negative seed
 * label ends the program. */
Graph *iftDinamicNonNormalized(Image *data, Image *img, Image *work, AdjacencyFn adjacency,
                               WeightFn weight, int maxcost, PathCostFn pathCost, Roots *seeds,
                               RegionWeightFn regionWeight, InitDataFn init, MergeDataFn mergeData,
                               int nData);

/* ---- Arc-weight functions -------------------------------------------------- */

/* Each returns a new arc-weight image (type 10, one band per displacement of
 * the relation, -1 where the neighbour lies outside img, its own copy of the
 * pairs, maxValue 1000); release it with pxReleaseImage. e is the truncated
 * square root of the per-band mean squared difference (as
 * ifEuclideanDistance), d the absolute band-0 difference. */

/* min(e, 1000); prints "out: <bands> <ncols> <nrows> ". */
Image *euclideanWF(Image *img, AdjacencyFn adjacency);
/* (1 - exp(-e^2 / 10000)) * 1000, truncated. */
Image *gaussianWF(Image *img, AdjacencyFn adjacency);
/* 0 for d <= 3, else min(1000, (1 - exp(-(d - 3)^2 / 0.5)) * 1000), truncated;
 * prints like euclideanWF. */
Image *gaussian2WF(Image *img, AdjacencyFn adjacency);
/* Band 0 of img at the arc's end, unchanged (not clamped to 1000). */
Image *watershedWF(Image *img, AdjacencyFn adjacency);

/* ---- Region graphs and region features ------------------------------------- */

/* Region adjacency graph of a label image (band 0): one vertex per label 0 ..
 * maxValue, an edge of weight 0 between every two labels that touch in
 * 8-adjacency (label 0 included). The graph keeps a copy of labels; NULL when
 * it cannot be allocated. Release with destroyGraph. */
Graph *ifMosaicToGraph(Image *labels);
/* Merges, in vertex order, every region of at most maxArea pixels and 1 ..
 * maxDegree neighbours into its neighbour with the most neighbours, then
 * returns the region graph of the merged mosaic, numbered 1, 2, ... in raster
 * order. A label outside the graph ends the program, here and below. */
Graph *ifEliminateSmallRegions(Graph *g, int maxArea, int maxDegree);
/* New graph (copyBaseGraph) with 1 feature: the region's pixel count. Prints
 * "will copy base graph %d" and "done!!!!". */
Graph *ifComputeArea(Graph *g);
/* As ifComputeArea, the feature being the sum of grey's maxValue minus band 0
 * over the region (saturated to int). grey must have the label image's size. */
Graph *ifComputeVolume(Graph *g, Image *grey);
/* New graph with one feature per band of image: the band's mean over the
 * region (truncated), 0 for a vertex without pixels. */
Graph *ifComputeAverageColors(Graph *g, Image *image);
/* New image of the given type with one band per feature: each pixel gets the
 * features of its region's vertex. NULL for a graph without features. */
Image *ifAverageColorsGraphToImage(Graph *g, int type);
/* Every band of output (caller's, image's size, at least image's bands) gets
 * the mean of the same band of image over the pixel's label (band 0 of labels,
 * 0 .. maxValue). */
void ifAverageColor(Image *image, Image *output, Image *labels);
/* New type-9 image: every band mapped linearly onto 0 .. 1000 (a constant band
 * to 0); maxValue 1000. Prints "MAX = %d, MIN = %d" per band. */
Image *ifCreateFeaturesVector(Image *image);
/* Replaces *fv by a record with one more band (the old band arrays are taken
 * over, the old record released): values (npixels of *fv) mapped onto 0 ..
 * 1000. Prints the span, every new value ("%4d ") and "fv has now %d bands". */
void ifAddFeatureToVector(Image **fv, int *values);
/* New graph whose features are g's, each mapped onto 0 .. 1000 over the
 * vertices (one "MAX = %d, MIN = %d" line per feature); a graph without
 * features gives its plain copy. */
Graph *ifCreateFeaturesGraph(Graph *g);
/* New graph with 1 feature: for every vertex from 1, the largest spread (max -
 * min) of one feature over the vertex and its neighbours; 0 for vertex 0. */
Graph *ifMorphoGradGraph(Graph *g);

/* ---- Minimum spanning trees and their cuts --------------------------------- */

/* Weight of going from vertex u to vertex v of a region graph, from the
 * vertices' features. */
typedef int (*GraphDistanceFn)(Graph *g, int u, int v);

/* Minimum spanning tree of the pixel graph from pixel 0 (Prim's algorithm):
 * the second-to-last band of output (two bands at least, input's size) gets
 * each pixel's cost, 49 x the weight of the arc to its parent (0 for pixel 0,
 * 2147483647 when unreached), the last band its parent (itself for a root).
 * Weights must lie in 0 .. 1020: another ends the program. A user's weight
 * function is called once per arc to a pixel not yet in the tree. */
void iftPrim(Image *input, Image *output, AdjacencyFn adjacency, WeightFn weight);
/* As iftPrim with the arcs and weights of an arc-weight image (type 10: band
 * j = weight of the arc to the j-th neighbour of adjPairs, negative for none);
 * input gives only the geometry. Any weight up to (2147483647 - 1) / 49 is
 * served in order; an arc leaving the image ends the program. */
void iftPrimWF(Image *input, Image *output, Image *arcWeights);
/* Cuts a tree image of iftPrim at fraction x its heaviest arc (rounded, ties
 * to even) and writes into band 0 of labels the root pixel index of each
 * piece; labels' maxValue = the largest root. Unreached pixels do not count
 * towards the heaviest arc. */
void ifMstThreshold(Image *tree, Image *labels, double fraction);
/* Minimum spanning tree of the component of vertex 1: a new graph with g's
 * vertices and label image, the tree edges weighted by distance, and the
 * features label, cost, predecessor (0, 2147483647, itself when unreached). */
Graph *iftPrimGraph(Graph *g, GraphDistanceFn distance);
/* Seeded IFT on a region graph (seed pixel = vertex): a new graph with g's
 * edges and label image and the features label, cost, predecessor. */
Graph *iftGraph(Graph *g, GraphDistanceFn distance, PathCostFn pathCost, Roots *roots);
/* Cuts a tree at its edges heavier than threshold; prints "there will be %d
 * regions". A new graph of the regions (1 .. n, weight-0 edges between
 * regions that a cut edge joined) with a label image of region numbers
 * (maxValue 0). */
Graph *ifThresholdMST(Graph *tree, int threshold);
/* As ifThresholdMST, removing the nRegions - 1 heaviest edges (earlier met
 * first among equals); the label image's maxValue is the number of regions,
 * which is nRegions for a connected tree with enough edges. */
Graph *ifThresholdMST_nRegions(Graph *tree, int nRegions);
/* Keeps the forest edges (iftPrimGraph/iftGraph features) whose cost is at
 * most threshold x 1000 (prints "threshold is %d"): a new graph with the kept
 * edges and a label image renumbered 1, 2, ... in raster order. */
Graph *ifThresholdGraph(Graph *forest, double threshold);
/* Merges the vertices of equal feature 0: a new graph of the labels, with a
 * directed weight-0 edge for every edge of g between different labels. */
Graph *ifColapseGraph(Graph *g);
/* sqrt((sum of squared feature differences) div nFeatures), truncated. */
int ifGraphEuclideanDistance(Graph *g, int u, int v);
/* The smaller feature 0 of u and v. */
int ifGraphMinDistance(Graph *g, int u, int v);
/* Feature 0 of v. */
int ifGraphWatershedDistance(Graph *g, int u, int v);

/* ---- Euclidean distance transform and skeleton IFTs ------------------------ */

/* Euclidean propagation: costs are squared lengths dx² + dy² of the summed
 * absolute steps from the seed (not exact in every configuration), served by
 * a circular queue of 2 x (ncols + nrows) + 2 buckets. Every seed starts at
 * cost 0 (its cost field is ignored); a seed listed again is moved and takes
 * the later label. Unreached pixels: label 0, cost IFT_INFINITY_MIN, their own
 * predecessor. Only img's size is read. Writes label, cost and predecessor
 * into the last three bands of work. */
void iftEuclideanDT(Image *img, Image *work, AdjacencyFn adjacency, Roots *roots);
/* The same with the 3 x 3 neighbourhood (pxNeighborhood with r2 = 2) and
 * 2 x (ncols + nrows) buckets, carrying two labels from the contour seeds:
 * bands nb-4 position, nb-3 cost, nb-2 predecessor, nb-1 contour number. */
void iftSkelNova(Image *img, Image *work, ContourRoots *seeds);
/* Euclidean propagation restricted to bin > 0 (inner != 0) or bin = 0 (inner
 * 0), marking 255 in band nb-1 (zero on entry) where two fronts meet within
 * `error`; bands nb-4 label, nb-3 cost, nb-2 predecessor. Prints
 * "inner = %d; error = %f; seedDist = %d". */
void iftEuclideanSkel(Image *bin, Image *work, AdjacencyFn adjacency, Roots *roots, int inner, double error,
                      int seedDist);
/* General IFT with ncols² + nrows² + 1 buckets and weights scaled by
 * (ncols² + nrows²) / 1000, marking 255 in band nb-1 (zero on entry) where two
 * labels meet at equal cost: object pixels whose seeds are not neighbours
 * (contour mode != 0, seeds keep their costs) or background pixels (contour
 * mode 0, seeds at cost 0). Bands nb-4 label, nb-3 cost, nb-2 predecessor. A
 * user's weight or path-cost function is called once per arc. */
void iftSkel(Image *img, Image *work, AdjacencyFn adjacency, WeightFn weight, PathCostFn pathCost, Roots *roots,
             int contourMode);
/* Marks 255 in band nb-1 of work (zero on entry) on the union of the discs
 * whose squared radii band 0 of skel holds (values >= 1); band nb-4 gets each
 * pixel's root, nb-3 the remaining squared radius. Prints "nBuckets is %d". */
void iftSkelReconstr(Image *skel, Image *work);
/* Writes, from target back to source (excluded), the squared propagated
 * distance from source into band 0 of out, along the predecessors of the
 * propagation inside bin > 0; nothing when target is not reached. Prints the
 * iftEuclideanSkel line and "pf saved". */
void ifEuclideanShortestPath(Image *bin, Image *out, int source, int target);

/* Exact Euclidean distance transform, on pxGetNumThreads() threads. The seeds
 * are the pixels of `seeds` (labels from the record, costs ignored; a pixel
 * listed again takes the later label; only img's size is read) or, when seeds
 * is NULL, the pixels of img whose band-0 value is 0, labelled 1, 2, ... in
 * raster order. For every pixel p: sqdist[p] the squared Euclidean distance to
 * its nearest seed, distance[p] its square root, nearest[p] that seed's pixel
 * and label[p] its label. Among seeds at the same distance the one in the
 * lowest column wins, then the one in the lowest row. Without any seed:
 * sqdist -1, distance +infinity, nearest -1, label 0. Each output is an array
 * of img->npixels values owned by the caller, or NULL when not wanted. A seed
 * pixel outside the image is a fatal argument error. */
void ifExactEDT(Image *img, Roots *seeds, long long *sqdist, double *distance, int *nearest, int *label);

/* ---- Contour seeds and multiscale skeletons -------------------------------- */

/* Contour seeds of bin (band 0 > 0): the inner contour, cleaned of pixels
 * without both an interior and a background 8-neighbour, followed contour by
 * contour; fills seeds (four malloc'd arrays of npixels entries, released by
 * ifReleaseRoots2; position and contour numbered from 1). Returns the cleaned
 * object, a new type-1 image (255 / 0) for the caller. */
Image *ifSkel2Roots(Image *bin, ContourRoots *seeds);
/* Depth-first contour following from p over the non-zero pixels of contour
 * (zeroed as they are recorded), keeping the cleaned object on one side;
 * records pixel, position (*counter + 1) and contour number k, advancing
 * *counter. pairs: the 8 pairs of pxNeighborhood8. Uses no recursion. */
void ifContourFollow(ContourRoots *seeds, int *counter, int k, Image *contour, Image *object, int p, int *pairs);
/* One seed per inner contour pixel of bin in increasing raster index,
 * labelled with its breadth-first number along its contour (from 1, across
 * contours), cost 0; fills the caller's record (ifAllocateRoots). Prints
 * "in ifLabelImage". */
void ifSkel2RootsSplit(Image *bin, Roots *seeds);
/* Multiscale skeleton of bin: *out gets a new 1-band type-2 image with the
 * squared distance on the skeleton pixels whose label difference reaches
 * min(threshold, largest difference): skelType 0 inside and outside, 1 inside,
 * 2 outside; other types print "invalid skelType: %d" and leave *out null.
 * Returns the largest label difference; 0, with an all-zero image, when bin
 * has no contour to follow. */
int ifSkel(Image *bin, int skelType, int threshold, Image **out);
/* Normalised histogram of the rounded distances from the object's pixels to
 * its skeleton pruned at percent of the largest difference: *hist gets a
 * malloc'd array of *nBins floats summing to 1 (the caller frees it). Prints
 * "thresh = %d, maxVal = %d" on stderr and writes "skel.pgm" and "edt.pgm".
 * Without a contour: nothing printed or written, 0 bins and a null array. */
void ifHistogramBySkel(Image *bin, int percent, float **hist, int *nBins);

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
