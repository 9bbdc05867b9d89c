// The forests of the page's three methods, all with the max-arc path cost,
// grown without an arc-weight image: each arc's weight is worked out from its
// two ends' values when the forest reaches it.
#pragma once

#include <cstdint>
#include <vector>

#include "pxImage.h"

// The images' values lie in 0 .. 65535, as the page takes no others.
class MaxArcForest {
public:
    // Labels (0 .. 8 per pixel, as many as img has pixels) of the forest
    // from the seeds (0 or a label per pixel, entered at cost 0 in raster
    // order) where an arc weighs table[a + b] for the band-0 values a and b
    // of its ends. The table covers every sum of two values of img, and its
    // entries are the costs 0 .. table's largest entry.
    void fuzzy(const Image *img, const std::vector<std::uint8_t> &table, const std::uint8_t *seeds,
               std::uint8_t *labels);
    // The same where an arc weighs the largest difference between its ends
    // over img's bands (1 or 3).
    void maxArc(const Image *img, const std::uint8_t *seeds, std::uint8_t *labels);
    // The same from each seed at its own relief value, where an arc weighs
    // the relief value it leads to: the watershed on band 0 of relief.
    void watershed(const Image *relief, const std::uint8_t *seeds, std::uint8_t *labels);

private:
    // Kept between calls, so that an update reuses what the last one grew.
    std::vector<std::vector<int>> buckets_;
};
