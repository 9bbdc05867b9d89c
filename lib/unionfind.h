#pragma once
/* Disjoint-set forests over 0 .. n-1 (union by rank, full path compression)
 * whose roots can carry a block of region data that a callback merges on
 * every link. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    int parent;   /* a root is its own parent */
    int rank;     /* 0 for a new element */
    int *data;    /* nData zero-filled ints; only a root's block is meaningful */
} UnionFindElement;

/* Folds the absorbed root's data block into the kept root's; the result is
 * ignored. */
typedef int (*MergeDataFn)(UnionFindElement *elements, int kept, int absorbed);

/* The record belongs to the caller (usually a local variable). */
typedef struct {
    UnionFindElement *elements;
    int nElements;
    int nData;             /* ints per data block; 0 or less: no blocks */
    MergeDataFn mergeData; /* called by ufLink after every link, or NULL */
} UnionFind;

/* Fills uf with nElements singletons of rank 0, each with a zero-filled block
 * of nData ints when nData > 0, and no merge callback. A null uf ends the
 * program ("Union/find was not allocated before ufStartUnionFind"), and so
 * does memory that cannot be had ("Could not allocate structure for
 * union/find [n elements]"). Release with ufReleaseUnionFind. */
void ufStartUnionFind(UnionFind *uf, int nElements, int nData);
/* Frees the data blocks and the element array; the record stays the caller's. */
void ufReleaseUnionFind(UnionFind *uf);
/* Joins the sets whose roots are x and y: the root of higher rank is kept, the
 * second argument on equal ranks (whose rank then grows by 1). mergeData, if
 * set, is called with (elements, kept, absorbed) after the link and before the
 * rank update. x equal to y raises its rank and calls mergeData with (x, x).
 * An index outside 0 .. nElements-1 ends the program. */
void ufLink(UnionFind *uf, int x, int y);
/* The root of x's set; every element on the path ends up pointing straight at
 * it. An index outside 0 .. nElements-1 ends the program. */
int ufFindSet(UnionFind *uf, int x);

#ifdef __cplusplus
}
#endif
