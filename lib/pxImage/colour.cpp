// Colour-space conversions of 3-band integer images: RGB to and from HSV
// (the hexcone model), CIE XYZ, CIE 1976 L*a*b* and L*u*v* (D65 white, BT.709
// primaries taken as linear) and BT.601 YCbCr.
//
// Every result is a double computed in the order its formula is written and
// then truncated towards zero: reassociating a sum or replacing a cube root
// by a power can move a truncated value by one, so the arithmetic below is
// spelled out term by term on purpose. The conversions through XYZ keep the
// three per-band functions of the integer X, Y and Z in tables when the
// values span a short range, which gives the very doubles the formula would.
// Every pixel is converted on its own, so the image is cut into ranges for the
// library's threads, and the results do not depend on their number.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "../pxImage.h"
#include "detail.h"
#include "parallel.h"

// On x86-64 the busiest conversions have a second, AVX2 version of their
// loop (four doubles a step, the same operations in the same order, so the
// same results), picked once per call when the processor has AVX2. FMA is
// deliberately not enabled: a fused multiply-add rounds once where the
// written formula rounds twice.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define COLOUR_AVX2 1
#include <immintrin.h>
#define AVX2_FN __attribute__((target("avx2")))
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Fixed point of HSV's S and V and of XYZ: 16384 stands for 1.0.
constexpr int FIXED_ONE = 16384;
constexpr double FIXED_ONE_D = 16384.0;
// The hue of a grey pixel.
constexpr int HUE_UNDEFINED = 361;

// D65 white point.
constexpr double WHITE_X = 0.950456;
constexpr double WHITE_Z = 1.088754;
// The white point in XYZ's fixed point (exactly WHITE_X * 16384, WHITE_Z * 16384).
constexpr double WHITE_X_FIXED = 15572.271104;
constexpr double WHITE_Z_FIXED = 17838.145536;
// u' and v' of the white point.
constexpr double WHITE_U = 0.1978394;
constexpr double WHITE_V = 0.4683422;

// Truncation towards zero; a value outside int (possible only for inputs far
// outside their space's range) saturates instead of being undefined.
inline int truncated(double v)
{
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    if (v != v) return 0;
    return static_cast<int>(v);
}

// Both images must have three bands of the same size, or the loops would run
// past one of them.
void checkPair(const char *name, const Image *src, const Image *dst)
{
    if (src->nbands < 3 || dst->nbands < 3)
        px::fatal(PX_FATAL_ARGUMENT, "%s: both images need 3 bands (source %d, destination %d)\n", name,
                  src->nbands, dst->nbands);
    if (src->ncols != dst->ncols || src->nrows != dst->nrows)
        px::fatal(PX_FATAL_ARGUMENT, "%s: source is %d x %d but destination is %d x %d\n", name, src->ncols,
                  src->nrows, dst->ncols, dst->nrows);
}

// ---- Running a conversion over the image ------------------------------------

// Pixels converted at a time into a small buffer before they are stored.
constexpr int BLOCK = 256;
// Pixels a thread is worth starting for.
constexpr int PIXELS_PER_TASK = 1 << 15;
// From this many pixels on the results are stored past the caches: the
// destination would not stay in them anyway, and the stores then need not
// read the lines they fill first.
constexpr int STREAM_FROM = 1 << 20;

// Stores n converted values at dst.
void storeBand(int *dst, const int *from, int n, bool stream)
{
#if defined(__SSE2__)
    if (stream) {
        int i = 0;
        for (; i < n && (reinterpret_cast<std::uintptr_t>(dst + i) & 15) != 0; ++i) dst[i] = from[i];
        for (; i + 4 <= n; i += 4)
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i)));
        for (; i < n; ++i) dst[i] = from[i];
        return;
    }
#else
    (void)stream;
#endif
    std::memcpy(dst, from, static_cast<std::size_t>(n) * sizeof(int));
}

// Runs convertBlock(a, b, c, n, x, y, z) on the image a block at a time, on
// the library's threads: the block reads n pixels of bands 0..2 of src from
// a, b and c and writes their results to the buffers x, y and z, which are
// then stored into bands 0..2 of dst. A block is read whole before it is
// stored, so src may be dst.
template <class Block>
void blockwise(Image *src, Image *dst, Block convertBlock)
{
    const int *a = src->bands[0], *b = src->bands[1], *c = src->bands[2];
    int *const out[3] = {dst->bands[0], dst->bands[1], dst->bands[2]};
    const bool stream = src->npixels >= STREAM_FROM;
    pxParallelRanges(src->npixels, PIXELS_PER_TASK, [&](int begin, int end, int) {
        alignas(32) int buf[3][BLOCK];
        for (int p = begin; p < end; p += BLOCK) {
            const int n = std::min(BLOCK, end - p);
            convertBlock(a + p, b + p, c + p, n, buf[0], buf[1], buf[2]);
            for (int k = 0; k < 3; ++k) storeBand(out[k] + p, buf[k], n, stream);
        }
#if defined(__SSE2__)
        if (stream) _mm_sfence();
#endif
    });
}

// Runs convert(a, b, c, out) on every pixel, reading bands 0..2 of src and
// writing bands 0..2 of dst; src may be dst.
template <class F>
void perPixel(Image *src, Image *dst, F convert)
{
    blockwise(src, dst, [&](const int *a, const int *b, const int *c, int n, int *x, int *y, int *z) {
        for (int p = 0; p < n; ++p) {
            int o[3];
            convert(a[p], b[p], c[p], o);
            x[p] = o[0];
            y[p] = o[1];
            z[p] = o[2];
        }
    });
}

// The smallest and largest value of a band (lo > hi for no pixels).
void bandSpan(const int *band, int n, int &lo, int &hi)
{
    lo = INT_MAX;
    hi = INT_MIN;
    for (int p = 0; p < n; ++p) {
        lo = band[p] < lo ? band[p] : lo;
        hi = band[p] > hi ? band[p] : hi;
    }
}

// f(v) for integer values v in lo .. hi: from a table when that span is short
// next to the pixel count n, else computed each time.
class BandFunction {
public:
    template <class F>
    BandFunction(int lo, int hi, int n, F f)
    {
        if (lo > hi) return;
        const long long span = static_cast<long long>(hi) - lo + 1;
        if (span > MAX_TABLE || span > 4LL * n + 4096) return;
        lo_ = lo;
        table_ = px::buffer<double>(static_cast<std::size_t>(span));
        for (long long i = 0; i < span; ++i) table_[i] = f(static_cast<int>(lo + i));
    }

    // Over the values of one band.
    template <class F>
    static BandFunction overBand(const int *band, int n, F f)
    {
        int lo, hi;
        bandSpan(band, n, lo, hi);
        return BandFunction(lo, hi, n, f);
    }

    bool tabled() const { return !table_.empty(); }
    // Only when tabled(); v must lie in the span the table was built on.
    double operator[](int v) const { return table_[static_cast<std::size_t>(static_cast<long long>(v) - lo_)]; }
    // The table, whose first entry is f(lo()).
    const double *data() const { return table_.data(); }
    int lo() const { return lo_; }

private:
    static constexpr long long MAX_TABLE = 1 << 20;
    int lo_ = 0;
    std::vector<double> table_;
};

// ---- The per-pixel formulas ------------------------------------------------

// The L*a*b* companding function of a value already divided by its white.
inline double labF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 0.137931; }

inline double labFx(int X) { return labF(X / FIXED_ONE_D / WHITE_X); }
inline double labFy(int Y) { return labF(Y / FIXED_ONE_D); }
inline double labFz(int Z) { return labF(Z / FIXED_ONE_D / WHITE_Z); }

// L* of an XYZ luminance, truncated.
inline int luvLightness(int Y)
{
    double y = Y / FIXED_ONE_D;
    return truncated(y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y);
}

inline void rgbToXyz(int r, int g, int b, int out[3])
{
    out[0] = truncated((0.412453 * r + 0.35758 * g + 0.180423 * b) * 16384 / 255);
    out[1] = truncated((0.212671 * r + 0.71516 * g + 0.072169 * b) * 16384 / 255);
    out[2] = truncated((0.019334 * r + 0.119193 * g + 0.950227 * b) * 16384 / 255);
}

inline void rgbToHsv(int r, int g, int b, int out[3])
{
    // The larger of r and g (g on a tie) is the first guess at the maximum.
    int mx = r, mn = g;
    if (!(r > g)) {
        mx = g;
        mn = r;
    }
    if (b > mx) mx = b;
    else if (b < mn) mn = b;
    const long long range = static_cast<long long>(mx) - mn;
    const int V = static_cast<int>(static_cast<long long>(mx) * FIXED_ONE / 255);
    const int S = mx == 0 ? 0 : static_cast<int>(range * FIXED_ONE / mx);
    int H = HUE_UNDEFINED;
    if (S != 0) {
        const double d = static_cast<double>(range);
        double h;
        if (r == mx) h = static_cast<double>(static_cast<long long>(g) - b) / d;
        else if (g == mx) h = static_cast<double>(static_cast<long long>(b) - r) / d + 2;
        else h = static_cast<double>(static_cast<long long>(r) - g) / d + 4;
        h = 60 * h;
        if (h < 0) h += 360;
        H = truncated(std::nearbyint(h));
    }
    out[0] = H;
    out[1] = S;
    out[2] = V;
}

inline void rgbToYcbcr(int r, int g, int b, int out[3])
{
    out[0] = truncated(0.299 * r + 0.587 * g + 0.114 * b);
    out[1] = truncated((-37.797 * r - 74.203 * g + 112.0 * b) / 255 + 128);
    out[2] = truncated((112.0 * r - 93.786 * g - 18.214 * b) / 255 + 128);
}

// One channel of XYZ to RGB: below 0.005 is black, above 0.995 full, so no
// channel is ever 254.
inline int rgbChannel(double v)
{
    if (v < 0.005) v = 0;
    else if (v > 0.995) v = 1;
    return truncated(v * 255);
}

inline void xyzToRgb(int X, int Y, int Z, int out[3])
{
    double x = X / FIXED_ONE_D, y = Y / FIXED_ONE_D, z = Z / FIXED_ONE_D;
    out[0] = rgbChannel(3.240479 * x - 1.53715 * y - 0.498535 * z);
    out[1] = rgbChannel(-0.969256 * x + 1.875992 * y + 0.041556 * z);
    out[2] = rgbChannel(0.055648 * x - 0.204043 * y + 1.057311 * z);
}

inline void labToXyz(int L, int a, int b, int out[3])
{
    double fy = L < 8 ? std::cbrt(L / 903.3) : (L + 16) / 116.0;
    double fx = fy + a / 500.0;
    double fz = fy - b / 200.0;
    out[0] = truncated(fx * fx * fx * WHITE_X_FIXED);
    out[1] = truncated(fy * fy * fy * FIXED_ONE_D);
    out[2] = truncated(fz * fz * fz * WHITE_Z_FIXED);
}

// u* and v* from the stored L* and the integer XYZ; a chromaticity whose
// denominator is zero counts as (0, 0).
inline void luvChroma(int L, int X, int Y, int Z, int out[3])
{
    double d = static_cast<double>(static_cast<long long>(X) + 15LL * Y + 3LL * Z);
    double u = 0, v = 0;
    if (std::fabs(d) > 0.005) {
        u = 4.0 * X / d;
        v = 9.0 * Y / d;
    }
    out[0] = L;
    out[1] = truncated(13.0 * L * (u - WHITE_U));
    out[2] = truncated(13.0 * L * (v - WHITE_V));
}

// L* = 0 would divide by zero: such a pixel is black.
inline void luvToXyz(int L, int u, int v, int out[3])
{
    if (L == 0) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    double up = u / (13.0 * L) + WHITE_U;
    double vp = v / (13.0 * L) + WHITE_V;
    double t = (L + 16) / 116.0;
    int Y = truncated(t * t * t * FIXED_ONE_D);
    int X = 0, Z = 0;
    if (3 * std::fabs(vp) > 0.005) {
        X = truncated(9.0 * Y * up / (4 * vp));
        Z = truncated(3.0 * Y / vp - X / 3.0 - 5.0 * Y);
    }
    out[0] = X;
    out[1] = Y;
    out[2] = Z;
}

// L*a*b* from the companded x / Xn, y and z / Zn.
inline void labFromF(double x, double y, double z, int out[3])
{
    out[0] = truncated(116 * y - 16);
    out[1] = truncated(500 * (x - y));
    out[2] = truncated(200 * (y - z));
}

// ---- Four pixels a step -------------------------------------------------------

// The rest of a block, past its last whole step, one pixel at a time.
template <class F>
void blockTail(int p, const int *a, const int *b, const int *c, int n, int *x, int *y, int *z, F convert)
{
    for (; p < n; ++p) {
        int o[3];
        convert(a[p], b[p], c[p], o);
        x[p] = o[0];
        y[p] = o[1];
        z[p] = o[2];
    }
}

#if defined(COLOUR_AVX2)

bool hasAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

AVX2_FN inline __m256d K(double v) { return _mm256_set1_pd(v); }
AVX2_FN inline __m128i loadInts(const int *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
AVX2_FN inline __m256d loadDoubles(const int *p) { return _mm256_cvtepi32_pd(loadInts(p)); }
AVX2_FN inline void storeInts(int *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
// Past the caches when Stream (p then 16-byte aligned).
template <bool Stream>
AVX2_FN inline void storeInts(int *p, __m128i v)
{
    if (Stream) _mm_stream_si128(reinterpret_cast<__m128i *>(p), v);
    else storeInts(p, v);
}
AVX2_FN inline __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
AVX2_FN inline __m256d sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
AVX2_FN inline __m256d mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
AVX2_FN inline __m256d div(__m256d a, __m256d b) { return _mm256_div_pd(a, b); }

// truncated() of four doubles that are not NaN (no formula here divides by
// zero or meets an infinity).
AVX2_FN inline __m128i truncated4(__m256d v)
{
    return _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(v, K(2147483647.0)), K(-2147483648.0)));
}

// a * r + b * g + c * b, summed from the left.
AVX2_FN inline __m256d weighted(double a, double b, double c, __m256d R, __m256d G, __m256d B)
{
    return add(add(mul(K(a), R), mul(K(b), G)), mul(K(c), B));
}

template <bool Stream = false>
AVX2_FN void rgbToYcbcrAvx2(const int *r, const int *g, const int *b, int n, int *x, int *y, int *z)
{
    int p = 0;
    for (; p + 4 <= n; p += 4) {
        const __m256d R = loadDoubles(r + p), G = loadDoubles(g + p), B = loadDoubles(b + p);
        storeInts<Stream>(x + p, truncated4(weighted(0.299, 0.587, 0.114, R, G, B)));
        const __m256d cb = add(sub(mul(K(-37.797), R), mul(K(74.203), G)), mul(K(112.0), B));
        const __m256d cr = sub(sub(mul(K(112.0), R), mul(K(93.786), G)), mul(K(18.214), B));
        // |cb| and |cr| are at most 224 * 2^31, so Cb and Cr are well inside int.
        storeInts<Stream>(y + p, _mm256_cvttpd_epi32(add(div(cb, K(255)), K(128))));
        storeInts<Stream>(z + p, _mm256_cvttpd_epi32(add(div(cr, K(255)), K(128))));
    }
    blockTail(p, r, g, b, n, x, y, z, rgbToYcbcr);
}

// The conversion of a large image straight into dst, four pixels a step
// with their stores past the caches, where bands 0..2 of dst are 16-byte
// aligned; otherwise through blockwise. Each step reads its pixels before it
// writes them, so src may be dst. A conversion this light is bound by memory
// traffic, which the small buffer of blockwise would add to.
template <class Block, class StreamBlock>
AVX2_FN void streamwise(Image *src, Image *dst, Block convertBlock, StreamBlock streamBlock)
{
    int *const out[3] = {dst->bands[0], dst->bands[1], dst->bands[2]};
    bool aligned = true;
    for (int *band : out) aligned = aligned && (reinterpret_cast<std::uintptr_t>(band) & 15) == 0;
    if (src->npixels < STREAM_FROM || !aligned) {
        blockwise(src, dst, convertBlock);
        return;
    }
    const int *a = src->bands[0], *b = src->bands[1], *c = src->bands[2];
    pxParallelRanges(src->npixels, PIXELS_PER_TASK, [&](int begin, int end, int) {
        const int head = static_cast<int>(std::min<long long>(end, (begin + 3LL) & ~3LL));
        convertBlock(a + begin, b + begin, c + begin, head - begin, out[0] + begin, out[1] + begin, out[2] + begin);
        streamBlock(a + head, b + head, c + head, end - head, out[0] + head, out[1] + head, out[2] + head);
        _mm_sfence();
    });
}

// One XYZ component of four RGB pixels.
AVX2_FN inline __m128i xyzComponent(double a, double b, double c, __m256d R, __m256d G, __m256d B)
{
    return truncated4(div(mul(weighted(a, b, c, R, G, B), K(16384)), K(255)));
}

AVX2_FN void rgbToXyzAvx2(const int *r, const int *g, const int *b, int n, int *x, int *y, int *z)
{
    int p = 0;
    for (; p + 4 <= n; p += 4) {
        const __m256d R = loadDoubles(r + p), G = loadDoubles(g + p), B = loadDoubles(b + p);
        storeInts(x + p, xyzComponent(0.412453, 0.35758, 0.180423, R, G, B));
        storeInts(y + p, xyzComponent(0.212671, 0.71516, 0.072169, R, G, B));
        storeInts(z + p, xyzComponent(0.019334, 0.119193, 0.950227, R, G, B));
    }
    blockTail(p, r, g, b, n, x, y, z, rgbToXyz);
}

// The three companding functions of L*a*b*, tabled over the XYZ the block's
// pixels can have; the offsets are the tables' first values.
// table[i] for four indices.
AVX2_FN inline __m256d gather(const double *table, __m128i i)
{
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, i, all, 8);
}

struct LabTables {
    const double *fx, *fy, *fz;
    int loX, loY, loZ;
};

AVX2_FN void rgbToLabAvx2(const LabTables &t, const int *r, const int *g, const int *b, int n, int *x, int *y,
                          int *z)
{
    int p = 0;
    for (; p + 4 <= n; p += 4) {
        const __m256d R = loadDoubles(r + p), G = loadDoubles(g + p), B = loadDoubles(b + p);
        const __m128i X = _mm_sub_epi32(xyzComponent(0.412453, 0.35758, 0.180423, R, G, B), _mm_set1_epi32(t.loX));
        const __m128i Y = _mm_sub_epi32(xyzComponent(0.212671, 0.71516, 0.072169, R, G, B), _mm_set1_epi32(t.loY));
        const __m128i Z = _mm_sub_epi32(xyzComponent(0.019334, 0.119193, 0.950227, R, G, B), _mm_set1_epi32(t.loZ));
        const __m256d fx = gather(t.fx, X), fy = gather(t.fy, Y), fz = gather(t.fz, Z);
        storeInts(x + p, truncated4(sub(mul(K(116), fy), K(16))));
        storeInts(y + p, truncated4(mul(K(500), sub(fx, fy))));
        storeInts(z + p, truncated4(mul(K(200), sub(fy, fz))));
    }
    blockTail(p, r, g, b, n, x, y, z, [&t](int R, int G, int B, int out[3]) {
        int m[3];
        rgbToXyz(R, G, B, m);
        labFromF(t.fx[m[0] - t.loX], t.fy[m[1] - t.loY], t.fz[m[2] - t.loZ], out);
    });
}

// The hue of four pixels, from the first band, in the order r, g, b, that is
// their maximum: num / range + sector, then as the formula goes on.
AVX2_FN inline __m128i hue4(__m128i num, __m128i range, __m128i sector)
{
    // For the first sector h + 0 is h: the quotient is never -0.
    __m256d h = add(div(_mm256_cvtepi32_pd(num), _mm256_cvtepi32_pd(range)), _mm256_cvtepi32_pd(sector));
    h = mul(K(60), h);
    h = _mm256_blendv_pd(h, add(h, K(360)), _mm256_cmp_pd(h, _mm256_setzero_pd(), _CMP_LT_OQ));
    return _mm256_cvttpd_epi32(_mm256_round_pd(h, _MM_FROUND_CUR_DIRECTION | _MM_FROUND_NO_EXC));
}

// A block whose values all lie in 0 .. 2^24 - 1 is converted several pixels
// a step, any other one pixel at a time. In that range no integer step
// overflows, and the quotient of two integers a and b with a + b < 2^54
// computed in double and truncated is their integer quotient (rounding could
// only reach the next integer up if b * (quotient + 1) >= 2^54), so the
// integer divisions of the formula can be done in double; below 2^11, where
// a + b < 2^25, even in float, eight at a time.
AVX2_FN void rgbToHsvAvx2(const int *r, const int *g, const int *b, int n, int *x, int *y, int *z)
{
    int bits = 0;
    for (int p = 0; p < n; ++p) bits |= r[p] | g[p] | b[p];
    int p = 0;
    if ((bits & ~0x7FF) == 0) {
        const __m256i one = _mm256_set1_epi32(1);
        for (; p + 8 <= n; p += 8) {
            const __m256i R = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(r + p)),
                          G = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(g + p)),
                          B = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + p));
            const __m256i mx = _mm256_max_epi32(_mm256_max_epi32(R, G), B),
                          mn = _mm256_min_epi32(_mm256_min_epi32(R, G), B);
            const __m256i range = _mm256_sub_epi32(mx, mn);
            const __m256 scale = _mm256_set1_ps(static_cast<float>(FIXED_ONE));
            const __m256i V =
                _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(mx), scale), _mm256_set1_ps(255)));
            // A zero maximum means a zero range: 0 / 1 gives its S of 0.
            const __m256i S = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(range), scale),
                                                                _mm256_cvtepi32_ps(_mm256_max_epi32(mx, one))));
            const __m256i rMax = _mm256_cmpeq_epi32(R, mx), gMax = _mm256_cmpeq_epi32(G, mx);
            const __m256i num = _mm256_blendv_epi8(
                _mm256_blendv_epi8(_mm256_sub_epi32(R, G), _mm256_sub_epi32(B, R), gMax), _mm256_sub_epi32(G, B), rMax);
            const __m256i sector = _mm256_blendv_epi8(
                _mm256_blendv_epi8(_mm256_set1_epi32(4), _mm256_set1_epi32(2), gMax), _mm256_setzero_si256(), rMax);
            const __m256i divisor = _mm256_max_epi32(range, one);
            const __m256i hue = _mm256_set_m128i(
                hue4(_mm256_extracti128_si256(num, 1), _mm256_extracti128_si256(divisor, 1),
                     _mm256_extracti128_si256(sector, 1)),
                hue4(_mm256_castsi256_si128(num), _mm256_castsi256_si128(divisor), _mm256_castsi256_si128(sector)));
            const __m256i grey = _mm256_cmpeq_epi32(S, _mm256_setzero_si256());
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(x + p),
                                _mm256_blendv_epi8(hue, _mm256_set1_epi32(HUE_UNDEFINED), grey));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(y + p), S);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(z + p), V);
        }
    } else if ((bits & ~0xFFFFFF) == 0) {
        const __m128i one = _mm_set1_epi32(1);
        for (; p + 4 <= n; p += 4) {
            const __m128i R = loadInts(r + p), G = loadInts(g + p), B = loadInts(b + p);
            const __m128i mx = _mm_max_epi32(_mm_max_epi32(R, G), B), mn = _mm_min_epi32(_mm_min_epi32(R, G), B);
            const __m128i range = _mm_sub_epi32(mx, mn);
            const __m128i V = _mm256_cvttpd_epi32(div(mul(_mm256_cvtepi32_pd(mx), K(FIXED_ONE)), K(255)));
            const __m128i S = _mm256_cvttpd_epi32(
                div(mul(_mm256_cvtepi32_pd(range), K(FIXED_ONE)), _mm256_cvtepi32_pd(_mm_max_epi32(mx, one))));
            const __m128i rMax = _mm_cmpeq_epi32(R, mx), gMax = _mm_cmpeq_epi32(G, mx);
            const __m128i num = _mm_blendv_epi8(_mm_blendv_epi8(_mm_sub_epi32(R, G), _mm_sub_epi32(B, R), gMax),
                                                _mm_sub_epi32(G, B), rMax);
            const __m128i sector = _mm_blendv_epi8(_mm_blendv_epi8(_mm_set1_epi32(4), _mm_set1_epi32(2), gMax),
                                                   _mm_setzero_si128(), rMax);
            const __m128i hue = hue4(num, _mm_max_epi32(range, one), sector);
            const __m128i grey = _mm_cmpeq_epi32(S, _mm_setzero_si128());
            storeInts(x + p, _mm_blendv_epi8(hue, _mm_set1_epi32(HUE_UNDEFINED), grey));
            storeInts(y + p, S);
            storeInts(z + p, V);
        }
    }
    blockTail(p, r, g, b, n, x, y, z, rgbToHsv);
}

#endif // COLOUR_AVX2

// The temporary XYZ image of a chained conversion, released on every way out.
struct ImageDeleter {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using OwnedImage = std::unique_ptr<Image, ImageDeleter>;

OwnedImage xyzTemporary(const Image *src)
{
    return OwnedImage(px::newImage(3, PX_COLORSPACE, src->ncols, src->nrows));
}

void xyzToLab(Image *src, Image *dst)
{
    const BandFunction fx = BandFunction::overBand(src->bands[0], src->npixels, labFx);
    const BandFunction fy = BandFunction::overBand(src->bands[1], src->npixels, labFy);
    const BandFunction fz = BandFunction::overBand(src->bands[2], src->npixels, labFz);
    if (fx.tabled() && fy.tabled() && fz.tabled())
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(fx[X], fy[Y], fz[Z], out); });
    else
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(labFx(X), labFy(Y), labFz(Z), out); });
}

void xyzToLuv(Image *src, Image *dst)
{
    px::message("in xyz2luv\n");
    const BandFunction lightness =
        BandFunction::overBand(src->bands[1], src->npixels, [](int Y) { return static_cast<double>(luvLightness(Y)); });
    if (lightness.tabled())
        perPixel(src, dst, [&](int X, int Y, int Z, int out[3]) {
            luvChroma(static_cast<int>(lightness[Y]), X, Y, Z, out);
        });
    else
        perPixel(src, dst, [](int X, int Y, int Z, int out[3]) { luvChroma(luvLightness(Y), X, Y, Z, out); });
}

// The XYZ of every pixel of an RGB image lies between the XYZ of its band
// minima and that of its band maxima: each component grows with r, g and b
// (positive coefficients, and rounding keeps order).
void xyzBounds(const Image *rgb, int lo[3], int hi[3])
{
    int rgbLo[3], rgbHi[3];
    for (int b = 0; b < 3; ++b) bandSpan(rgb->bands[b], rgb->npixels, rgbLo[b], rgbHi[b]);
    rgbToXyz(rgbLo[0], rgbLo[1], rgbLo[2], lo);
    rgbToXyz(rgbHi[0], rgbHi[1], rgbHi[2], hi);
}

// RGB to XYZ and, in the same pass, on to dst by then(X, Y, Z, out).
template <class Then>
void throughXyz(Image *src, Image *dst, Then then)
{
    perPixel(src, dst, [&](int r, int g, int b, int out[3]) {
        int m[3];
        rgbToXyz(r, g, b, m);
        then(m[0], m[1], m[2], out);
    });
}

void rgbToLab(Image *src, Image *dst)
{
    int lo[3], hi[3];
    xyzBounds(src, lo, hi);
    const int n = src->npixels;
    const BandFunction fx(lo[0], hi[0], n, labFx), fy(lo[1], hi[1], n, labFy), fz(lo[2], hi[2], n, labFz);
    if (fx.tabled() && fy.tabled() && fz.tabled()) {
#if defined(COLOUR_AVX2)
        if (hasAvx2()) {
            const LabTables t = {fx.data(), fy.data(), fz.data(), fx.lo(), fy.lo(), fz.lo()};
            blockwise(src, dst, [&t](const int *r, const int *g, const int *b, int m, int *x, int *y, int *z) {
                rgbToLabAvx2(t, r, g, b, m, x, y, z);
            });
            return;
        }
#endif
        throughXyz(src, dst, [&](int X, int Y, int Z, int out[3]) { labFromF(fx[X], fy[Y], fz[Z], out); });
        return;
    }
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), rgbToXyz);
    xyzToLab(xyz.get(), dst);
}

void rgbToLuv(Image *src, Image *dst)
{
    int lo[3], hi[3];
    xyzBounds(src, lo, hi);
    const BandFunction lightness(lo[1], hi[1], src->npixels,
                                 [](int Y) { return static_cast<double>(luvLightness(Y)); });
    if (lightness.tabled()) {
        px::message("in xyz2luv\n");
        throughXyz(src, dst, [&](int X, int Y, int Z, int out[3]) {
            luvChroma(static_cast<int>(lightness[Y]), X, Y, Z, out);
        });
        return;
    }
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), rgbToXyz);
    xyzToLuv(xyz.get(), dst);
}

} // namespace

extern "C" {

void pxRgb2hsv(Image *src, Image *dst)
{
    checkPair("pxRgb2hsv", src, dst);
#if defined(COLOUR_AVX2)
    if (hasAvx2()) {
        blockwise(src, dst, rgbToHsvAvx2);
        return;
    }
#endif
    perPixel(src, dst, rgbToHsv);
}

void pxHsv2rgb(Image *src, Image *dst)
{
    checkPair("pxHsv2rgb", src, dst);
    const int *hue = src->bands[0], *sat = src->bands[1], *val = src->bands[2];
    int *r = dst->bands[0], *g = dst->bands[1], *b = dst->bands[2];
    for (int p = 0; p < src->npixels; ++p) {
        const int H = hue[p], S = sat[p], V = val[p];
        if (S == 0) {
            // A grey pixel must carry the undefined hue; anything else means
            // the image is not HSV, and nothing more of it is converted.
            if (H != HUE_UNDEFINED) {
                std::fputs("in hsv2rgb: saturation is 0 and hue is defined!\n", stderr);
                return;
            }
            r[p] = g[p] = b[p] = static_cast<int>(static_cast<long long>(V) * 255 / FIXED_ONE);
            continue;
        }
        const double s = S / FIXED_ONE_D, v = V / FIXED_ONE_D;
        const double h = (H == 360 ? 0 : H) / 60.0;
        const double i = std::floor(h);
        const double f = h - i;
        const double pv = v * (1 - s), qv = v * (1 - s * f), tv = v * (1 - s * (1 - f));
        double rgb[3];
        switch (static_cast<int>(i)) {
        case 0: rgb[0] = v, rgb[1] = tv, rgb[2] = pv; break;
        case 1: rgb[0] = qv, rgb[1] = v, rgb[2] = pv; break;
        case 2: rgb[0] = pv, rgb[1] = v, rgb[2] = tv; break;
        case 3: rgb[0] = pv, rgb[1] = qv, rgb[2] = v; break;
        case 4: rgb[0] = tv, rgb[1] = pv, rgb[2] = v; break;
        case 5: rgb[0] = v, rgb[1] = pv, rgb[2] = qv; break;
        default: continue;  // a hue outside 0 .. 360 leaves the pixel as it was
        }
        r[p] = truncated(rgb[0] * 255);
        g[p] = truncated(rgb[1] * 255);
        b[p] = truncated(rgb[2] * 255);
    }
}

void pxRgb2xyz(Image *src, Image *dst)
{
    checkPair("pxRgb2xyz", src, dst);
#if defined(COLOUR_AVX2)
    if (hasAvx2()) {
        blockwise(src, dst, rgbToXyzAvx2);
        return;
    }
#endif
    perPixel(src, dst, rgbToXyz);
}

void pxXyz2rgb(Image *src, Image *dst)
{
    checkPair("pxXyz2rgb", src, dst);
    perPixel(src, dst, xyzToRgb);
    dst->maxValue = 255;
}

void pxXyz2lab(Image *src, Image *dst)
{
    checkPair("pxXyz2lab", src, dst);
    xyzToLab(src, dst);
}

void pxLab2xyz(Image *src, Image *dst)
{
    checkPair("pxLab2xyz", src, dst);
    perPixel(src, dst, labToXyz);
}

void pxXyz2luv(Image *src, Image *dst)
{
    checkPair("pxXyz2luv", src, dst);
    xyzToLuv(src, dst);
}

void pxLuv2xyz(Image *src, Image *dst)
{
    checkPair("pxLuv2xyz", src, dst);
    perPixel(src, dst, luvToXyz);
}

void pxRgb2lab(Image *src, Image *dst)
{
    checkPair("pxRgb2lab", src, dst);
    rgbToLab(src, dst);
}

void pxLab2rgb(Image *src, Image *dst)
{
    checkPair("pxLab2rgb", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), labToXyz);
    pxXyz2rgb(xyz.get(), dst);
}

void pxRgb2luv(Image *src, Image *dst)
{
    checkPair("pxRgb2luv", src, dst);
    rgbToLuv(src, dst);
}

void pxLuv2rgb(Image *src, Image *dst)
{
    checkPair("pxLuv2rgb", src, dst);
    OwnedImage xyz = xyzTemporary(src);
    perPixel(src, xyz.get(), luvToXyz);
    pxXyz2rgb(xyz.get(), dst);
}

void pxRgb2ycbcr(Image *src, Image *dst)
{
    checkPair("pxRgb2ycbcr", src, dst);
#if defined(COLOUR_AVX2)
    if (hasAvx2()) {
        streamwise(src, dst, rgbToYcbcrAvx2<false>, rgbToYcbcrAvx2<true>);
        return;
    }
#endif
    perPixel(src, dst, rgbToYcbcr);
}

// The studio-range inverse: Y is read as 16 .. 235 luma, so this is not the
// exact inverse of pxRgb2ycbcr, and values are stored without clamping.
void pxYcbcr2rgb(Image *src, Image *dst)
{
    checkPair("pxYcbcr2rgb", src, dst);
    perPixel(src, dst, [](int Y, int Cb, int Cr, int out[3]) {
        const double y = static_cast<double>(static_cast<long long>(Y) - 16);
        const double cb = static_cast<double>(static_cast<long long>(Cb) - 128);
        const double cr = static_cast<double>(static_cast<long long>(Cr) - 128);
        out[0] = truncated(255 * (0.00456621 * y + 0.00625893 * cr));
        out[1] = truncated(255 * (0.00456621 * y - 0.00153632 * cb - 0.00318811 * cr));
        out[2] = truncated(255 * (0.00456621 * y + 0.00791071 * cb));
    });
}

} // extern "C"
