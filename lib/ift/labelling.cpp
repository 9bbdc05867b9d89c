// Connected labelling, regional extrema and small label-image utilities.
//
// Components are found on runs (maximal horizontal runs of object pixels) by
// the classical two-scan union-find labelling: a raster scan lists each row's
// runs and joins every run to the runs of the row above that touch it,
// diagonals included; each set keeps as its representative its earliest run,
// which holds the component's first pixel in raster order. Numbering the
// representatives in run order then numbers the components 1, 2, ... in
// raster order of their first pixel, the numbering of a breadth-first flood
// started at each unlabelled object pixel in raster order, and a last pass
// writes each run's number over its pixels. The cost follows the number of
// runs rather than of pixels: rows are read as bit masks and runs found a word
// at a time.
//
// Regional extrema follow their definition directly (a flat zone none of
// whose neighbours is strictly lower, or higher), with the same run labelling
// applied to the candidate pixels. No value is shifted or clamped on the way,
// so a constant image is one regional minimum and one regional maximum
// whatever its level, and negative values need no queue.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "../ift.h"
#include "../pxImage/detail.h"
#include "../pxImage/parallel.h"

// The window passes of the regional extrema are plain loops over int rows
// that the compiler vectorises; on x86-64 Linux they are built a second time
// for AVX2 (eight lanes and a native integer max), picked at load time when
// the processor has it. GCC only: clang does not clone function templates.
#if defined(__x86_64__) && defined(__linux__) && !defined(__clang__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define WINDOW_PASS __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef WINDOW_PASS
#define WINDOW_PASS
#endif

namespace {

// Printed once per labelling pass: the regional operators announce the
// labellings they stand for, so their standard output matches a run that
// labels the candidate image and the extrema image.
void announceLabelling() { px::message("in ifLabelImage\n"); }

// ---- Runs and their union-find forest ---------------------------------------

// A run covers the pixels start .. end-1 of one row (raster indices). parent
// is an earlier run of the same set, or the run itself for a representative.
struct Run {
    int start, end, parent;
};

// Large arrays filled here are touched page by page, and on a large image
// the page faults cost as much as the scan itself. On Linux, transparent huge
// pages for the whole 2 MiB pages inside the block turn thousands of faults
// into a few; elsewhere, or when the system declines, nothing changes.
void preferHugePages(void *block, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t(1) << 21;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(block) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(HUGE_PAGE - 1);
    if (end > begin) ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

// Room for every run an image can hold: a row of n pixels has at most
// (n + 1) / 2 runs. The array is left uninitialised, so only the pages the
// runs actually use are ever touched.
std::unique_ptr<Run[]> runStore(int ncols, int nrows)
{
    const std::size_t most = static_cast<std::size_t>(nrows) * ((static_cast<std::size_t>(ncols) + 1) / 2);
    Run *runs = new (std::nothrow) Run[most];
    if (!runs) px::dieOutOfMemory();
    preferHugePages(runs, most * sizeof(Run));
    return std::unique_ptr<Run[]>(runs);
}

// Representative of k's set; halves the path on the way. Parents always point
// to an earlier run, and so does every shortcut taken here.
inline int findRoot(Run *runs, int k)
{
    while (runs[k].parent != k) {
        runs[k].parent = runs[runs[k].parent].parent;
        k = runs[k].parent;
    }
    return k;
}

// Joins the new run k (last in the list, its parent not yet set) to the runs
// of the row above that touch it (diagonals included): those whose columns
// meet start-1 .. end. above is the first run of that row not yet passed;
// runs ending before start-1 touch no later run of this row either, so it
// only moves forward. Sets are joined under the earlier representative, and
// linked(child, root) is told of every representative, k included, that comes
// to hang under another.
template <class Linked>
inline void joinRunAbove(Run *runs, int k, int &above, int aboveEnd, int ncols, Linked linked)
{
    const int s = runs[k].start - ncols, e = runs[k].end - ncols;  // the run moved one row up
    while (above < aboveEnd && runs[above].end < s) ++above;
    int root = k;
    for (int j = above; j < aboveEnd && runs[j].start <= e; ++j) {
        const int r = findRoot(runs, j);
        if (root == k) {
            root = r;
        } else if (r < root) {
            runs[root].parent = r;
            linked(root, r);
            root = r;
        } else if (r > root) {
            runs[r].parent = root;
            linked(r, root);
        }
    }
    runs[k].parent = root;
    if (root != k) linked(k, root);
}

// ---- Stripes labelled in parallel ------------------------------------------

// The rows are cut into stripes, one per thread. Each stripe lists its runs
// in its own part of the run store (stripe s starts at its first row times the
// most runs a row can hold, so run indices grow in raster order across
// stripes too) and joins them as the serial scan would. The runs of each
// stripe's first row are then joined to the row above, on one thread, again
// under the earlier representative. Each stripe numbers its own kept
// representatives, the counts are summed in stripe order, and each stripe
// resolves the number of every run: the numbering, and everything built from
// it, is the one-thread result.

constexpr int PIXELS_PER_STRIPE = 1 << 15;  // smallest stripe worth a thread

struct Stripe {
    int y0, y1;        // rows
    int first, end;    // runs listed
    int base = 0;      // kept sets of the stripes above
};

struct StripedRuns {
    std::unique_ptr<Run[]> runs;
    std::vector<Stripe> stripes;
    std::vector<int> rowFirst, rowEnd;  // runs of row y: rowFirst[y] .. rowEnd[y]-1
    std::vector<std::vector<int>> numbers;  // per stripe: the set number of each of its runs
    int sets = 0;                       // kept sets, numbered 1 .. sets
};

// Calls f(stripe index) for every stripe, the stripes spread over the threads.
template <class F>
void forEachStripe(const StripedRuns &sr, F f)
{
    pxParallelRanges(static_cast<int>(sr.stripes.size()), 1, [&](int b, int e, int) {
        for (int s = b; s < e; ++s) f(s);
    });
}

// Joins the sets of runs a and b under the earlier representative.
template <class Linked>
void unite(Run *runs, int a, int b, Linked linked)
{
    int ra = findRoot(runs, a), rb = findRoot(runs, b);
    if (ra == rb) return;
    if (ra > rb) std::swap(ra, rb);
    runs[rb].parent = ra;
    linked(rb, ra);
}

// Labels the runs of an image of ncols x nrows (nrows >= 1):
// scan(stripe, runs) lists and joins the runs of the stripe's rows (filling
// rowFirst, rowEnd and stripe.end); a set is kept when kept(representative);
// finish(stripe, number, runs) is then called per stripe with
// number[k - first] (kept in sr.numbers), the number of run k's set (0 for a
// set not kept).
template <class Scan, class Linked, class Kept, class Finish>
void labelStriped(StripedRuns &sr, int ncols, int nrows, Scan scan, Linked linked, Kept kept, Finish finish)
{
    const int count = px::parallelRangeCount(nrows, std::max(1, PIXELS_PER_STRIPE / ncols));
    const int perRow = (ncols + 1) / 2;
    sr.runs = runStore(ncols, nrows);
    sr.rowFirst = px::buffer<int>(static_cast<std::size_t>(nrows));
    sr.rowEnd = px::buffer<int>(static_cast<std::size_t>(nrows));
    sr.stripes.clear();
    for (int s = 0; s < count; ++s) {
        const int y0 = static_cast<int>(static_cast<long long>(nrows) * s / count);
        const int y1 = static_cast<int>(static_cast<long long>(nrows) * (s + 1) / count);
        sr.stripes.push_back(Stripe{y0, y1, y0 * perRow, y0 * perRow});
    }
    Run *runs = sr.runs.get();
    forEachStripe(sr, [&](int s) { scan(sr.stripes[s], runs); });

    for (int s = 1; s < count; ++s) {
        const int y = sr.stripes[s].y0;
        int above = sr.rowFirst[y - 1];
        const int aboveEnd = sr.rowEnd[y - 1];
        for (int k = sr.rowFirst[y]; k < sr.rowEnd[y]; ++k) {
            const int start = runs[k].start - ncols, end = runs[k].end - ncols;
            while (above < aboveEnd && runs[above].end < start) ++above;
            for (int j = above; j < aboveEnd && runs[j].start <= end; ++j) unite(runs, j, k, linked);
        }
    }

    // A representative's parent becomes -1 - its number within the stripe
    // (0 for a set not kept); other runs keep pointing to an earlier run.
    std::vector<int> kepts = px::buffer<int>(static_cast<std::size_t>(count));
    forEachStripe(sr, [&](int s) {
        int n = 0;
        for (int k = sr.stripes[s].first; k < sr.stripes[s].end; ++k)
            if (runs[k].parent == k) runs[k].parent = -1 - (kept(k) ? ++n : 0);
        kepts[s] = n;
    });
    for (int s = 0; s < count; ++s) {
        sr.stripes[s].base = sr.sets;
        sr.sets += kepts[s];
    }
    auto stripeOf = [&](int k) {
        int s = 0;
        while (s + 1 < count && sr.stripes[s + 1].first <= k) ++s;
        return s;
    };
    sr.numbers.assign(static_cast<std::size_t>(count), std::vector<int>());
    forEachStripe(sr, [&](int s) {
        const Stripe &st = sr.stripes[s];
        std::vector<int> &number = sr.numbers[s];
        number = px::buffer<int>(static_cast<std::size_t>(st.end - st.first));
        auto fromRoot = [&](int r, const Stripe &of) {
            const int own = -1 - runs[r].parent;
            return own ? of.base + own : 0;
        };
        for (int k = st.first; k < st.end; ++k) {
            int p = runs[k].parent;
            if (p < 0) {
                number[k - st.first] = fromRoot(k, st);
            } else if (p >= st.first) {
                number[k - st.first] = number[p - st.first];
            } else {
                while (runs[p].parent >= 0) p = runs[p].parent;
                number[k - st.first] = fromRoot(p, sr.stripes[stripeOf(p)]);
            }
        }
        finish(st, number, runs);
    });
}

// ---- Connected labelling -------------------------------------------------------

// Bit x of bits[] set when row[x] > 0 (nonzero, for bytes), for x in
// 0 .. n-1; the bits past n in the last word are clear.
template <class T>
void objectBits(const T *row, int n, std::uint64_t *bits)
{
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, unsigned char>, "rows of ints or bytes");
    int x = 0, w = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    auto sixteen = [&](const T *r) {
        if constexpr (std::is_same_v<T, unsigned char>) {
            const __m128i z = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r)), zero);
            return static_cast<std::uint64_t>(~static_cast<unsigned>(_mm_movemask_epi8(z)) & 0xffffu);
        } else {
            const __m128i a = _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r)), zero);
            const __m128i b = _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 4)), zero);
            const __m128i c = _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 8)), zero);
            const __m128i d = _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r + 12)), zero);
            const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
            return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
        }
    };
    for (; x + 64 <= n; x += 64)
        bits[w++] = sixteen(row + x) | sixteen(row + x + 16) << 16 | sixteen(row + x + 32) << 32 |
                    sixteen(row + x + 48) << 48;
#endif
    for (; x < n; x += 64) {
        std::uint64_t m = 0;
        const int len = std::min(64, n - x);
        for (int i = 0; i < len; ++i) m |= static_cast<std::uint64_t>(row[x + i] > 0) << i;
        bits[w++] = m;
    }
}

// Calls run(x0, x1) for every maximal run of set bits, columns x0 .. x1-1,
// left to right. The bits where the mask changes are walked a word at a time,
// so the loop turns once per run end rather than once per pixel, and a start
// and an end alternate.
template <class RunFn>
inline void forEachRun(const std::uint64_t *bits, int n, RunFn run)
{
    const int nwords = (n + 63) >> 6;
    std::uint64_t carry = 0;  // top bit of the previous word
    int start = 0;
    bool inside = false;
    for (int w = 0; w < nwords; ++w) {
        const std::uint64_t m = bits[w];
        std::uint64_t change = m ^ ((m << 1) | carry);
        carry = m >> 63;
        while (change) {
            const int x = (w << 6) + __builtin_ctzll(change);
            change &= change - 1;
            if (inside) run(start, x);
            else start = x;
            inside = !inside;
        }
    }
    if (inside) run(start, n);  // the bits past n are clear, so only a run reaching n is open
}

// ---- Flat zones and regional extrema --------------------------------------
//
// A pixel with a strictly lower (minima) / higher (maxima) 8-neighbour is
// beaten; the others are candidates. Two 8-adjacent candidates always have the
// same value (the lower of two different ones would be beaten), so the
// 8-connected components of the candidate mask lie each inside one flat zone.
// A zone is an extremum exactly when all its pixels are candidates; a zone
// that also holds a beaten pixel is connected, so each of its candidate
// components touches a beaten pixel of the zone's value. Hence: label the
// candidate runs, spoil every run with an equal-valued beaten neighbour, and
// keep the components without a spoiled run.
//
// The spoiling test is a window extreme too. Give every beaten pixel its
// value as key and every candidate the weakest int (INT_MIN for maxima,
// INT_MAX for minima). No neighbour of a candidate beats it, so the extreme
// key of a candidate's 3 x 3 window equals the candidate's value exactly when
// a beaten neighbour has that value, unless the value is the weakest int
// itself; runs at that value (they can only be an extremum when they fill a
// constant image) take a direct look at their neighbours instead.
//
// One sweep does it all with three rows of working memory: window extremes
// are extremes of three row-wise extremes of 3, and row y's runs are handled
// once the candidates and keys of row y+1 are known.

enum class Extremum { Minimum, Maximum };

template <Extremum E>
inline int extreme(int a, int b)
{
    return E == Extremum::Maximum ? std::max(a, b) : std::min(a, b);
}

// h[x] = extreme of v[x-1 .. x+1], in-image pixels only.
template <Extremum E>
WINDOW_PASS void rowExtremes(const int *v, int *h, int n)
{
    if (n == 1) {
        h[0] = v[0];
        return;
    }
    h[0] = extreme<E>(v[0], v[1]);
    for (int x = 1; x < n - 1; ++x) h[x] = extreme<E>(extreme<E>(v[x - 1], v[x]), v[x + 1]);
    h[n - 1] = extreme<E>(v[n - 2], v[n - 1]);
}

// The weakest value: no pixel beats it.
template <Extremum E>
constexpr int weakest()
{
    return E == Extremum::Maximum ? INT_MIN : INT_MAX;
}

// cand[x] = 1 when v[x] is the extreme of its window (the row-wise extremes of
// the rows above, at and below; a missing row is passed as the middle one),
// and key[x] the pixel's spoiling key.
template <Extremum E>
WINDOW_PASS void candidateRow(const int *v, const int *ha, const int *hc, const int *hb, std::uint8_t *cand, int *key,
                              int n)
{
    for (int x = 0; x < n; ++x) {
        const bool isCandidate = v[x] == extreme<E>(extreme<E>(ha[x], hc[x]), hb[x]);
        cand[x] = static_cast<std::uint8_t>(isCandidate);
        key[x] = isCandidate ? weakest<E>() : v[x];
    }
}

// spoil[x] = 1 for a candidate whose window (row-wise extremes of the keys
// ka, kc, kb) holds a beaten pixel of its value, or whose value is the
// weakest.
template <Extremum E>
WINDOW_PASS void spoilRow(const int *v, const std::uint8_t *cand, const int *ka, const int *kc, const int *kb,
                          std::uint8_t *spoil, int n)
{
    for (int x = 0; x < n; ++x)
        spoil[x] = static_cast<std::uint8_t>(cand[x] & (v[x] == extreme<E>(extreme<E>(ka[x], kc[x]), kb[x])));
}

// True when a bit of bits[] is set among columns x0 .. x1-1 (x0 < x1).
inline bool anyBit(const std::uint64_t *bits, int x0, int x1)
{
    const int w0 = x0 >> 6, w1 = (x1 - 1) >> 6;
    const std::uint64_t low = ~std::uint64_t(0) << (x0 & 63), high = ~std::uint64_t(0) >> (63 - ((x1 - 1) & 63));
    if (w0 == w1) return (bits[w0] & low & high) != 0;
    std::uint64_t any = (bits[w0] & low) | (bits[w1] & high);
    for (int w = w0 + 1; w < w1; ++w) any |= bits[w];
    return any != 0;
}

// Bit x of bits[] set when flag[x] (0 or 1) is 1, for x in 0 .. n-1; the
// bits past n in the last word are clear.
void packFlags(const std::uint8_t *flag, int n, std::uint64_t *bits)
{
    int x = 0, w = 0;
#if defined(__SSE2__)
    auto sixteen = [](const std::uint8_t *f) {
        const __m128i top = _mm_slli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(f)), 7);
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(top)));
    };
    for (; x + 64 <= n; x += 64)
        bits[w++] = sixteen(flag + x) | sixteen(flag + x + 16) << 16 | sixteen(flag + x + 32) << 32 |
                    sixteen(flag + x + 48) << 48;
#endif
    for (; x < n; x += 64) {
        std::uint64_t m = 0;
        const int len = std::min(64, n - x);
        for (int i = 0; i < len; ++i) m |= static_cast<std::uint64_t>(flag[x + i]) << i;
        bits[w++] = m;
    }
}

// True when a pixel of columns lo .. hi of the two rows has the value c and is
// no candidate.
inline bool beatenEqual(const int *va, const std::uint8_t *ca, const int *vb, const std::uint8_t *cb, int lo,
                        int hi, int c)
{
    int found = 0;
    for (int x = lo; x <= hi; ++x) found |= ((va[x] == c) & (ca[x] ^ 1)) | ((vb[x] == c) & (cb[x] ^ 1));
    return found != 0;
}

// Finds and numbers the extremal zones of img (1, 2, ... in raster order of
// their first pixel) as labelStriped does, finish(stripe, number, runs)
// seeing 0 for a run whose zone is no extremum.
template <Extremum E, class Finish>
void findExtremalZones(const Image *img, StripedRuns &sr, Finish finish)
{
    const int *v = img->bands[0];
    const int ncols = img->ncols, nrows = img->nrows;
    const std::size_t rowLength = static_cast<std::size_t>(ncols);
    // Whether each run touches an equal-valued beaten pixel, by run index; a
    // representative collects the flags of the runs linked under it.
    std::unique_ptr<std::uint8_t[]> spoiledStore(
        new (std::nothrow) std::uint8_t[static_cast<std::size_t>(nrows) * ((static_cast<std::size_t>(ncols) + 1) / 2)]);
    if (!spoiledStore) px::dieOutOfMemory();
    std::uint8_t *spoiled = spoiledStore.get();
    auto linked = [spoiled](int child, int root) { spoiled[root] |= spoiled[child]; };
    const std::size_t nwords = (rowLength + 63) / 64;
    const std::vector<std::uint8_t> allCandidates = px::buffer<std::uint8_t>(rowLength, 1);
    auto vrow = [&](int y) { return v + static_cast<std::size_t>(y) * ncols; };

    auto scan = [&](Stripe &st, Run *runs) {
        // Three rows of row-wise extremes of the values and of the keys, of
        // keys and of candidates, indexed by row mod 3.
        std::vector<int> hbuf = px::buffer<int>(3 * rowLength), kbuf = px::buffer<int>(3 * rowLength),
                         hkbuf = px::buffer<int>(3 * rowLength);
        std::vector<std::uint8_t> cbuf = px::buffer<std::uint8_t>(3 * rowLength);
        std::vector<std::uint8_t> spoil = px::buffer<std::uint8_t>(rowLength);
        std::vector<std::uint64_t> bits = px::buffer<std::uint64_t>(nwords),
                                   spoilBits = px::buffer<std::uint64_t>(nwords);
        auto hrow = [&](int y) { return hbuf.data() + static_cast<std::size_t>(y % 3) * ncols; };
        auto krow = [&](int y) { return kbuf.data() + static_cast<std::size_t>(y % 3) * ncols; };
        auto hkrow = [&](int y) { return hkbuf.data() + static_cast<std::size_t>(y % 3) * ncols; };
        auto crow = [&](int y) { return cbuf.data() + static_cast<std::size_t>(y % 3) * ncols; };
        auto candidates = [&](int y) {
            const int *hc = hrow(y);
            candidateRow<E>(vrow(y), y > 0 ? hrow(y - 1) : hc, hc, y + 1 < nrows ? hrow(y + 1) : hc, crow(y),
                            krow(y), ncols);
            rowExtremes<E>(krow(y), hkrow(y), ncols);
        };
        // The windows of a stripe's first row reach the candidates of the row
        // above, and those two rows further up.
        const int y0 = st.y0;
        if (y0 > 0) {
            if (y0 > 1) rowExtremes<E>(vrow(y0 - 2), hrow(y0 - 2), ncols);
            rowExtremes<E>(vrow(y0 - 1), hrow(y0 - 1), ncols);
        }
        rowExtremes<E>(vrow(y0), hrow(y0), ncols);
        if (y0 > 0) candidates(y0 - 1);
        if (y0 + 1 < nrows) rowExtremes<E>(vrow(y0 + 1), hrow(y0 + 1), ncols);
        candidates(y0);
        int nruns = st.first, above = st.first;
        for (int y = y0; y < st.y1; ++y) {
            if (y + 1 < nrows) {
                if (y + 2 < nrows) rowExtremes<E>(vrow(y + 2), hrow(y + 2), ncols);
                candidates(y + 1);
            }
            const int *vc = vrow(y);
            const std::uint8_t *cc = crow(y);
            const int *hk = hkrow(y);
            spoilRow<E>(vc, cc, y > 0 ? hkrow(y - 1) : hk, hk, y + 1 < nrows ? hkrow(y + 1) : hk, spoil.data(),
                        ncols);
            packFlags(cc, ncols, bits.data());
            packFlags(spoil.data(), ncols, spoilBits.data());
            const int row = y * ncols;
            sr.rowFirst[y] = nruns;
            forEachRun(bits.data(), ncols, [&](int x, int x1) {
                const int c = vc[x];
                if (c != weakest<E>()) {
                    spoiled[nruns] = anyBit(spoilBits.data(), x, x1);
                } else {
                    // A missing row above or below is read as a row of
                    // candidates, which spoils nothing; the pixels beside the
                    // run in its own row are no candidates.
                    const int lo = std::max(x - 1, 0), hi = std::min(x1, ncols - 1);
                    const int *va = y > 0 ? vrow(y - 1) : vc, *vb = y + 1 < nrows ? vrow(y + 1) : vc;
                    const std::uint8_t *ca = y > 0 ? crow(y - 1) : allCandidates.data(),
                                       *cb = y + 1 < nrows ? crow(y + 1) : allCandidates.data();
                    spoiled[nruns] = (vc[lo] == c && lo < x) | (vc[hi] == c && hi >= x1) |
                                     beatenEqual(va, ca, vb, cb, lo, hi, c);
                }
                runs[nruns] = Run{row + x, row + x1, nruns};
                joinRunAbove(runs, nruns, above, sr.rowFirst[y], ncols, linked);
                ++nruns;
            });
            sr.rowEnd[y] = nruns;
            above = sr.rowFirst[y];
        }
        st.end = nruns;
    };
    labelStriped(sr, ncols, nrows, scan, linked, [spoiled](int k) { return spoiled[k] == 0; }, finish);
}

// Releases an image when a fatal error unwinds past it.
struct ImageRelease {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};

template <Extremum E>
Image *regionalExtrema(Image *img)
{
    announceLabelling();
    std::unique_ptr<Image, ImageRelease> out(px::newImage(1, PX_GREY_INT, img->ncols, img->nrows));
    preferHugePages(out->bands[0], static_cast<std::size_t>(out->npixels) * sizeof(int));
    int *o = out->bands[0];
    StripedRuns zones;
    findExtremalZones<E>(img, zones, [o](const Stripe &st, const std::vector<int> &number, const Run *runs) {
        for (int k = st.first; k < st.end; ++k)
            if (number[k - st.first] > 0) std::fill(o + runs[k].start, o + runs[k].end, 1);
    });
    out->maxValue = 1;
    return out.release();
}

// Seeds on every pixel of every regional extremum, in raster order, labelled
// by extremum in raster order of the extremum's first pixel, with the pixel's
// value as cost. Each stripe writes its own part of the seed arrays.
template <Extremum E>
Roots *regionalExtremaAsRoots(Image *img)
{
    announceLabelling();  // the extrema image
    announceLabelling();  // its labelling into extrema
    StripedRuns zones;
    findExtremalZones<E>(img, zones, [](const Stripe &, const std::vector<int> &, const Run *) {});
    const Run *runs = zones.runs.get();
    const int nstripes = static_cast<int>(zones.stripes.size());
    std::vector<int> before = px::buffer<int>(static_cast<std::size_t>(nstripes) + 1);
    forEachStripe(zones, [&](int s) {
        const Stripe &st = zones.stripes[s];
        int pixels = 0;
        for (int k = st.first; k < st.end; ++k)
            if (zones.numbers[s][k - st.first] > 0) pixels += runs[k].end - runs[k].start;
        before[s + 1] = pixels;
    });
    for (int s = 0; s < nstripes; ++s) before[s + 1] += before[s];
    const int nseeds = before[nstripes];

    Roots *seeds = static_cast<Roots *>(std::calloc(1, sizeof(Roots)));
    if (!seeds) px::dieOutOfMemory();
    ifAllocateRoots(seeds, nseeds);
    const std::size_t bytes = static_cast<std::size_t>(nseeds) * sizeof(int);
    preferHugePages(seeds->pixel, bytes);
    preferHugePages(seeds->label, bytes);
    preferHugePages(seeds->cost, bytes);
    const int *v = img->bands[0];
    forEachStripe(zones, [&](int s) {
        const Stripe &st = zones.stripes[s];
        int i = before[s];
        for (int k = st.first; k < st.end; ++k) {
            const int l = zones.numbers[s][k - st.first];
            if (l <= 0) continue;
            for (int p = runs[k].start; p < runs[k].end; ++p, ++i) {
                seeds->pixel[i] = p;
                seeds->label[i] = l;
                seeds->cost[i] = v[p];
            }
        }
    });
    return seeds;
}

// ---- Label tables -----------------------------------------------------------

// Dense index 0 .. size-1 of the values present in a label band: an offset
// from the smallest value when they span a modest range, otherwise the rank
// among the sorted distinct values. So tables indexed by label are sized by
// the labels actually present, whatever the image's maxValue claims.
class LabelIndex {
public:
    LabelIndex(const int *labels, int n)
    {
        if (n <= 0) return;
        int lo = labels[0], hi = labels[0];
        for (int p = 1; p < n; ++p) {
            lo = std::min(lo, labels[p]);
            hi = std::max(hi, labels[p]);
        }
        const long long span = static_cast<long long>(hi) - lo + 1;
        lowest_ = lo;
        if (span <= static_cast<long long>(n) + DENSE_SLACK) {
            size_ = static_cast<int>(span);
            return;
        }
        sorted_ = px::buffer<int>(static_cast<std::size_t>(n));
        std::copy(labels, labels + n, sorted_.begin());
        std::sort(sorted_.begin(), sorted_.end());
        sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
        size_ = static_cast<int>(sorted_.size());
        sparse_ = true;
    }

    int size() const { return size_; }

    int operator()(int label) const
    {
        if (!sparse_) return static_cast<int>(static_cast<long long>(label) - lowest_);
        return static_cast<int>(std::lower_bound(sorted_.begin(), sorted_.end(), label) - sorted_.begin());
    }

private:
    static constexpr long long DENSE_SLACK = 1 << 16;
    int lowest_ = 0;
    int size_ = 0;
    bool sparse_ = false;
    std::vector<int> sorted_;
};

constexpr int NO_DIFFERENCE = -100000;   // out value of a pixel with no same-label neighbour
constexpr int UNSET_LOW = INT_MAX;       // initial lowest value of a label: its true minimum is kept
constexpr int UNSET_HIGH = -1;           // initial highest value of a label
constexpr int HIGHER_LABEL_MARK = INT_MAX;
constexpr int MARK = 255;                // marked pixels of flat zones and contours

// The labelling of the object pixels of rows ncols x nrows (nrows >= 1),
// row y starting at in + y * ncols, into label's band 0.
template <class T>
void labelObjects(const T *in, int ncols, int nrows, Image *label)
{
    // The input is read in full before label is written, so both may be one
    // image. A label image fresh from pxCreateImage is untouched memory, and
    // every pixel of it is written below.
    preferHugePages(label->bands[0], static_cast<std::size_t>(label->npixels) * sizeof(int));
    int *lab = label->bands[0];
    const std::size_t nwords = (static_cast<std::size_t>(ncols) + 63) / 64;
    StripedRuns sr;
    auto scan = [&](Stripe &st, Run *runs) {
        std::vector<std::uint64_t> bits = px::buffer<std::uint64_t>(nwords);
        int nruns = st.first, above = st.first;
        for (int y = st.y0; y < st.y1; ++y) {
            const int row = y * ncols;
            sr.rowFirst[y] = nruns;
            objectBits(in + row, ncols, bits.data());
            forEachRun(bits.data(), ncols, [&](int x, int x1) {
                runs[nruns] = Run{row + x, row + x1, nruns};
                joinRunAbove(runs, nruns, above, sr.rowFirst[y], ncols, [](int, int) {});
                ++nruns;
            });
            sr.rowEnd[y] = nruns;
            above = sr.rowFirst[y];
        }
        st.end = nruns;
    };
    auto finish = [&](const Stripe &st, const std::vector<int> &number, const Run *runs) {
        for (int y = st.y0; y < st.y1; ++y) {
            int *o = lab + static_cast<std::size_t>(y) * ncols;
            int x = y * ncols;
            for (int k = sr.rowFirst[y]; k < sr.rowEnd[y]; ++k) {
                std::fill(lab + x, lab + runs[k].start, 0);
                std::fill(lab + runs[k].start, lab + runs[k].end, number[k - st.first]);
                x = runs[k].end;
            }
            std::fill(lab + x, o + ncols, 0);
        }
    };
    labelStriped(sr, ncols, nrows, scan, [](int, int) {}, [](int) { return true; }, finish);
    label->maxValue = sr.sets;
}

} // namespace

extern "C" {

void ifLabelImage(Image *bin, Image *label)
{
    announceLabelling();
    if (bin->npixels <= 0) {
        label->maxValue = 0;
        return;
    }
    labelObjects(bin->bands[0], bin->ncols, bin->nrows, label);
}

void ifLabelBytes(const unsigned char *bin, Image *label)
{
    announceLabelling();
    if (label->npixels <= 0) {
        label->maxValue = 0;
        return;
    }
    labelObjects(bin, label->ncols, label->nrows, label);
}

// Marks the flat zones that hold a seed. The marks depend only on which zones
// are reached, so a plain depth-first flood with a visited mark serves; seeds
// outside the image are ignored and a seed listed twice floods once.
void ifConnectedComponents(Image *img, Image *out, Roots *seeds)
{
    const int n = img->npixels;
    const int *v = img->bands[0];
    int *o = out->bands[0];
    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood8, img->ncols, img->nrows);
    std::vector<std::uint8_t> seen = px::buffer<std::uint8_t>(static_cast<std::size_t>(n));
    std::vector<int> stack = px::buffer<int>(0);
    for (int i = 0; i < seeds->count; ++i) {
        const int s = seeds->pixel[i];
        if (s < 0 || s >= n || seen[s]) continue;
        const int level = v[s];
        seen[s] = 1;
        o[s] = MARK;
        stack.push_back(s);
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            nb.forEach(p, [&](int, int q) {
                if (!seen[q] && v[q] == level) {
                    seen[q] = 1;
                    o[q] = MARK;
                    stack.push_back(q);
                }
            });
        }
    }
}

Image *ifRegionalMinima(Image *img) { return regionalExtrema<Extremum::Minimum>(img); }

Image *ifRegionalMaxima(Image *img) { return regionalExtrema<Extremum::Maximum>(img); }

Roots *ifRegionalMinimaAsRoots(Image *img) { return regionalExtremaAsRoots<Extremum::Minimum>(img); }

Roots *ifRegionalMaximaAsRoots(Image *img) { return regionalExtremaAsRoots<Extremum::Maximum>(img); }

// For each pixel, the largest difference of values to a 4-neighbour of its own
// label. Values are positions along a closed contour, so a difference of more
// than half the label's range of positions is folded to the way round the
// other side. A pixel next to a higher label gets the map's top value + 1.
void ifLabelDifferences(Image *values, Image *labels, Image *out, int absolute)
{
    const int n = labels->npixels;
    const int *lab = labels->bands[0];
    const int *val = values->bands[0];
    int *o = out->bands[0];
    LabelIndex index(lab, n);
    std::vector<int> hi = px::buffer<int>(static_cast<std::size_t>(index.size()), UNSET_HIGH);
    std::vector<int> lo = px::buffer<int>(static_cast<std::size_t>(index.size()), UNSET_LOW);
    std::vector<int> at = px::buffer<int>(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) {
        const int k = at[p] = index(lab[p]);
        hi[k] = std::max(hi[k], val[p]);
        lo[k] = std::min(lo[k], val[p]);
    }

    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood4, labels->ncols, labels->nrows);
    long long top = NO_DIFFERENCE;
    for (int p = 0; p < n; ++p) {
        o[p] = NO_DIFFERENCE;
        const long long range = static_cast<long long>(hi[at[p]]) - lo[at[p]];
        nb.forEach(p, [&](int, int q) {
            if (lab[p] == lab[q]) {
                long long g = static_cast<long long>(val[q]) - val[p];
                if (absolute && g < 0) g = -g;
                if (g > (range >> 1)) g = range - g;  // the shift halves towards minus infinity
                if (g > o[p]) {
                    o[p] = static_cast<int>(g);
                    top = std::max(top, g);
                }
            } else if (lab[p] < lab[q]) {
                o[p] = HIGHER_LABEL_MARK;
            }
        });
    }
    const int mark = static_cast<int>(std::min<long long>(top + 1, INT_MAX));
    out->maxValue = mark;
    for (int p = 0; p < n; ++p)
        if (o[p] == HIGHER_LABEL_MARK) o[p] = mark;
}

// Renumbers the labels 1, 2, ... in order of first appearance in raster order;
// every value, 0 included, counts as a label.
void ifCorrectLabels(Image *labels)
{
    const int n = labels->npixels;
    int *lab = labels->bands[0];
    LabelIndex index(lab, n);
    std::vector<int> renumbered = px::buffer<int>(static_cast<std::size_t>(index.size()));
    int next = 0;
    for (int p = 0; p < n; ++p) {
        int &m = renumbered[index(lab[p])];
        if (m == 0) m = ++next;
        lab[p] = m;
    }
    labels->maxValue = next;
}

void ifRegionsToContours(Image *bin, Image *out)
{
    const int n = bin->npixels;
    const int *b = bin->bands[0];
    int *o = out->bands[0];
    px::NeighbourTable nb = px::NeighbourTable::from(pxNeighborhood4, bin->ncols, bin->nrows);
    for (int p = 0; p < n; ++p) {
        if (b[p] <= 0) continue;
        bool contour = false;
        nb.forEach(p, [&](int, int q) { contour = contour || b[q] == 0; });
        if (contour) o[p] = MARK;
    }
    out->maxValue = MARK;
}

} // extern "C"
