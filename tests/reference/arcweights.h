#pragma once
// The arc-weight measures worked out arc by arc.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "reference/common.h"

namespace straight {

// The measures as written: every arc worked out on its own with a bounds
// test, sums of squares in long double, square root truncated.
enum Measure { EUCLIDEAN, GAUSSIAN, GAUSSIAN2, WATERSHED };

inline int plainWeight(Measure f, Image *img, int p, int q, bool &written)
{
    written = true;
    long double s = 0;
    for (int b = 0; b < img->nbands; ++b) {
        long double d = static_cast<long double>(img->bands[b][p]) - img->bands[b][q];
        s += d * d;
    }
    long long e = static_cast<long long>(std::sqrt(static_cast<double>(std::floor(s / img->nbands))));
    long long d = std::llabs(static_cast<long long>(img->bands[0][p]) - img->bands[0][q]);
    if (f == EUCLIDEAN) return static_cast<int>(std::min(e, 1000LL));
    if (f == GAUSSIAN) return static_cast<int>((1 - std::exp(static_cast<double>(e) * e / -10000.0)) * 1000);
    if (f == WATERSHED) return img->bands[0][q];
    if (d <= 3) {
        written = false;
        return 0;
    }
    double t = static_cast<double>(d - 3);
    return std::min(1000, static_cast<int>((1 - std::exp(-(t * t) / 0.5)) * 1000));
}

} // namespace straight
