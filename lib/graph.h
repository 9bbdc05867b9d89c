#pragma once
/* Region adjacency graphs: one vertex per region label, each with a vector of
 * int features and a singly linked list of weighted edges. A list holds at
 * most one edge to a given vertex, and new edges go to its head. */

#include "pxImage.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An edge node. The library takes its nodes from blocks of its own, not one
 * malloc each: release them through listRemoveEdge, removeEdge,
 * removeDirectedEdge, listDestroy or destroyGraph, never with free(). A node a
 * caller allocated with malloc and linked in is released with free() by those
 * functions. */
typedef struct Edge {
    int vertex;            /* the vertex this edge leads to */
    int weight;
    struct Edge *nextEdge;
} Edge;

/* A vertex, or a stand-alone list from createList. */
typedef struct {
    char mark;             /* 0 at creation; not used by the library */
    int nEdges;
    int *features;         /* nFeatures zero-filled ints, NULL when nFeatures is 0 */
    Edge *head;
    Edge *walk;            /* cursor of listGetAndWalk */
} EdgeList;

typedef struct {
    EdgeList *vertices;    /* indexed by label */
    int nVertices;
    int nFeatures;
    Image *labelImage;     /* owned; pixel value = vertex of the pixel's region, or NULL */
} Graph;

/* New graph with the label image's maxValue + 1 vertices, no edges, zero
 * features, and a copy of the label image. NULL (after "in createGraph: could
 * not allocate memory" on stderr) when memory cannot be had, or at once when the
 * vertices would take more than a quarter of the machine's memory; a NULL label
 * image ends the program. Release with destroyGraph. */
Graph *createGraph(Image *labelImage, int nFeatures);
/* As createGraph with n + 1 vertices and no label image ("in allocateGraph: could
 * not allocate memory" on failure). */
Graph *allocateGraph(int n, int nFeatures);
/* Releases the graph's label image, if any, and takes ownership of img. */
void setLabelImage(Graph *graph, Image *img);
/* New graph with base's edges (each list in reverse order) and nFeatures zero
 * features; max(base's vertex count, label maxValue + 1) vertices and a copy of
 * base's label image, or base's vertex count and no label image. NULL when
 * memory cannot be had. Walks base's lists (their cursors end NULL). */
Graph *copyBaseGraph(Graph *base, int nFeatures);
/* v into u's list, then u into v's, unless already there (a present edge keeps
 * its weight); one node for u equal to v. A vertex outside the graph ends the
 * program, here and in the three functions below. */
void insertEdge(Graph *graph, int u, int v, int weight);
/* Removes and frees the first v in u's list and the first u in v's list. */
void removeEdge(Graph *graph, int u, int v);
/* v into u's list only, unless already there. */
void insertDirectedEdge(Graph *graph, int u, int v, int weight);
/* Removes v from u's list only. */
void removeDirectedEdge(Graph *graph, int u, int v);

/* New stand-alone list with nFeatures zero features (NULL when memory cannot be
 * had); listDestroy frees its contents, the caller frees the record. */
EdgeList *createList(int nFeatures);
/* Head insertion, unless an edge to vertex is already in the list. */
void listInsertEdge(EdgeList *list, int vertex, int weight);
/* Removes and frees the first edge to vertex, if any; a walk cursor on it moves
 * to the next edge. */
void listRemoveEdge(EdgeList *list, int vertex);
/* The edge at the cursor, which moves on; NULL at the end. Rewind by setting
 * walk = head. */
Edge *listGetAndWalk(EdgeList *list);
/* Frees every edge and the features; not the record. */
void listDestroy(EdgeList *list);
/* Frees the lists, features, vertex array, label image and record of *graph;
 * *graph itself is left unchanged. */
void destroyGraph(Graph **graph);
/* Prints the vertex count, then per vertex "[v (features)]: " and its edges
 * as "vertex(weight) ", on standard output. */
void graphPrint(Graph *graph);

#ifdef __cplusplus
}
#endif
