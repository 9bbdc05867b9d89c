// Disjoint-set forest: union by rank with full path compression (Tarjan,
// 1975). The data blocks of all elements live in one allocation that the
// first element's block starts; each element points at its own slice.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pxImage/detail.h"
#include "unionfind.h"

namespace {

void checkElement(const UnionFind *uf, int x, const char *where)
{
    if (x < 0 || x >= uf->nElements)
        px::fatal(PX_FATAL_ARGUMENT, "%s: element %d outside the union/find of %d elements\n", where, x,
                  uf->nElements);
}

[[noreturn]] void dieStart(int nElements)
{
    px::fatal(PX_FATAL_MEMORY, "Could not allocate structure for union/find [%d elements]\n\n", nElements);
}

} // namespace

extern "C" {

void ufStartUnionFind(UnionFind *uf, int nElements, int nData)
{
    if (!uf) px::fatal(PX_FATAL_ARGUMENT, "Union/find was not allocated before ufStartUnionFind \n\n");
    if (nElements < 0) dieStart(nElements);
    const std::size_t n = static_cast<std::size_t>(nElements);
    const std::size_t width = nData > 0 ? static_cast<std::size_t>(nData) : 0;
    // Sizes beyond the address space are refused before anything is allocated.
    if (n > 0 && width > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(int) / n) dieStart(nElements);
    auto *elements = static_cast<UnionFindElement *>(std::malloc(n > 0 ? n * sizeof(UnionFindElement) : 1));
    if (!elements) dieStart(nElements);
    // One element per pixel is common, visited in the order regions grow.
    px::adviseHugePages(elements, n * sizeof(UnionFindElement));
    int *blocks = nullptr;
    if (width > 0 && n > 0) {
        blocks = static_cast<int *>(std::calloc(n * width, sizeof(int)));
        if (!blocks) {
            std::free(elements);
            dieStart(nElements);
        }
        px::adviseHugePages(blocks, n * width * sizeof(int));
    }
    for (std::size_t i = 0; i < n; ++i) {
        elements[i].parent = static_cast<int>(i);
        elements[i].rank = 0;
        elements[i].data = blocks ? blocks + i * static_cast<std::size_t>(nData) : nullptr;
    }
    uf->elements = elements;
    uf->nElements = nElements;
    uf->nData = nData;
    uf->mergeData = nullptr;
}

void ufReleaseUnionFind(UnionFind *uf)
{
    if (!uf || !uf->elements) return;
    if (uf->nData > 0 && uf->nElements > 0) std::free(uf->elements[0].data);
    std::free(uf->elements);
    uf->elements = nullptr;
}

void ufLink(UnionFind *uf, int x, int y)
{
    checkElement(uf, x, "ufLink");
    checkElement(uf, y, "ufLink");
    UnionFindElement *e = uf->elements;
    if (e[x].rank > e[y].rank) {
        e[y].parent = x;
        if (uf->mergeData) uf->mergeData(e, x, y);
    } else {
        e[x].parent = y;
        if (uf->mergeData) uf->mergeData(e, y, x);
        if (e[x].rank == e[y].rank) ++e[y].rank;
    }
}

// Two passes instead of recursion: a chain as long as the element count (links
// made in any order) must not exhaust the stack.
int ufFindSet(UnionFind *uf, int x)
{
    checkElement(uf, x, "ufFindSet");
    UnionFindElement *e = uf->elements;
    int root = x;
    while (e[root].parent != root) root = e[root].parent;
    while (e[x].parent != root) {
        int next = e[x].parent;
        e[x].parent = root;
        x = next;
    }
    return root;
}

} // extern "C"
