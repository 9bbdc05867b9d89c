// The bucket queue behind every IFT: a circular array of first-in first-out
// buckets, each a doubly linked list threaded through per-element arrays, so
// that insertion, removal of a bucket head, unlinking and moving an element
// are a handful of array accesses. The next element is found by a circular
// scan from a cursor that only isEmpty moves forward.

#include <cstdio>
#include <cstdlib>

#include "../ift.h"
#include "../pxImage/detail.h"

namespace {

constexpr int EMPTY_BUCKET = -1;
constexpr int NO_ELEMENT = -1;

// A heap block of n ints; a failure ends the program with the queue's own
// message, since the IFTs that create queues have no way to report it.
int *allocInts(int n, const char *message)
{
    std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 1;
    int *p = static_cast<int *>(std::malloc(count * sizeof(int)));
    if (!p) {
        px::fatal(PX_FATAL_MEMORY, "%s", message);
    }
    return p;
}

void appendAtTail(QueueBuckets *Q, QueueElements *A, int b, int e)
{
    if (Q->first[b] == EMPTY_BUCKET) {
        Q->first[b] = e;
        A->prev[e] = NO_ELEMENT;
    } else {
        A->prev[e] = Q->last[b];
        A->next[Q->last[b]] = e;
    }
    Q->last[b] = e;
    A->next[e] = NO_ELEMENT;
    A->bucketOf[e] = b;
}

// Takes a queued e out of the chain of its bucket; its state is left to the caller.
void unlink(QueueBuckets *Q, QueueElements *A, int e)
{
    int b = A->bucketOf[e], p = A->prev[e], n = A->next[e];
    if (p == NO_ELEMENT) Q->first[b] = n;
    else A->next[p] = n;
    if (n == NO_ELEMENT) Q->last[b] = p;
    else A->prev[n] = p;
}

} // namespace

extern "C" {

// A bucket count below 1 would leave isEmpty without a bucket to look at, so
// the queue always holds at least one.
void initQueue(QueueBuckets *Q, int nbuckets, QueueElements *A, int nelems)
{
    if (nbuckets < 1) nbuckets = 1;
    if (nelems < 0) nelems = 0;
    // A part that would take more than a quarter of the machine's memory
    // fails like one that cannot be had, before anything is allocated.
    if (!px::sensibleMemory(2.0 * nbuckets * sizeof(int)))
        px::fatal(PX_FATAL_MEMORY, "Could not allocate queue (Q) in initQueue\n");
    if (!px::sensibleMemory(3.0 * nelems * sizeof(int)))
        px::fatal(PX_FATAL_MEMORY, "Could not allocate queue (A) in initQueue\n");
    Q->first = allocInts(nbuckets, "Could not allocate queue (Q) in initQueue\n");
    Q->last = allocInts(nbuckets, "Could not allocate queue (Q) in initQueue\n");
    Q->nbuckets = nbuckets;
    Q->current = 0;
    A->next = allocInts(nelems, "Could not allocate queue (A) in initQueue\n");
    A->prev = allocInts(nelems, "Could not allocate queue (A) in initQueue\n");
    A->bucketOf = allocInts(nelems, "Could not allocate queue (A) in initQueue\n");
    A->nelems = nelems;
    resetQueue(Q, A);
}

void resetQueue(QueueBuckets *Q, QueueElements *A)
{
    for (int b = 0; b < Q->nbuckets; ++b) Q->first[b] = Q->last[b] = EMPTY_BUCKET;
    for (int e = 0; e < A->nelems; ++e) A->bucketOf[e] = QUEUE_ABSENT;
    Q->current = 0;
}

void insertQueue(QueueBuckets *Q, QueueElements *A, int b, int e)
{
    appendAtTail(Q, A, b, e);
}

void insertQueueUpdateCurr(QueueBuckets *Q, QueueElements *A, int b, int e)
{
    appendAtTail(Q, A, b, e);
    if (b < Q->current) Q->current = b;
}

int removeQueue(QueueBuckets *Q, QueueElements *A, int b)
{
    int e = Q->first[b];
    if (e == NO_ELEMENT) return NO_ELEMENT;
    int n = A->next[e];
    if (n == NO_ELEMENT) {
        Q->first[b] = Q->last[b] = EMPTY_BUCKET;
    } else {
        A->prev[n] = NO_ELEMENT;
        Q->first[b] = n;
    }
    A->bucketOf[e] = QUEUE_DONE;
    return e;
}

void removeQueueElem(QueueBuckets *Q, QueueElements *A, int e)
{
    if (A->bucketOf[e] < 0) return;
    unlink(Q, A, e);
    A->bucketOf[e] = QUEUE_ABSENT;
}

// Always re-appends, also into the same bucket: a moved element waits behind
// everything already in its new bucket.
void updateQueue(QueueBuckets *Q, QueueElements *A, int b, int e)
{
    if (A->bucketOf[e] < 0) return;
    unlink(Q, A, e);
    appendAtTail(Q, A, b, e);
}

void updateQueueUpdateCurr(QueueBuckets *Q, QueueElements *A, int b, int e)
{
    if (A->bucketOf[e] < 0) return;
    unlink(Q, A, e);
    appendAtTail(Q, A, b, e);
    if (b < Q->current) Q->current = b;
}

int isEmpty(QueueBuckets *Q)
{
    int start = Q->current;
    if (Q->first[start] != EMPTY_BUCKET) return 0;
    do {
        Q->current = (Q->current + 1) % Q->nbuckets;
    } while (Q->first[Q->current] == EMPTY_BUCKET && Q->current != start);
    return Q->first[Q->current] == EMPTY_BUCKET ? 1 : 0;
}

void releaseQueue(QueueBuckets *Q, QueueElements *A)
{
    std::free(Q->first);
    std::free(Q->last);
    Q->first = Q->last = nullptr;
    Q->nbuckets = 0;
    Q->current = 0;
    std::free(A->next);
    std::free(A->prev);
    std::free(A->bucketOf);
    A->next = A->prev = A->bucketOf = nullptr;
    A->nelems = 0;
}

} // extern "C"
