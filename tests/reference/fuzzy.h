#pragma once
// Fuzzy connectedness written out plainly.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>
#include <pxIO.h>

#include "reference/common.h"

namespace straight {

// ---- The algorithms written plainly ------------------------------------------
// The public bucket queue, a bounds test per neighbour, an exponential per arc
// and every arc image stored, as the operators are usually described. The
// products are taken in 64 bits, which is what int gives whenever it does not
// overflow.

inline int plainDissimilarity(int a, int b, int mean, int variance)
{
    long long m = (static_cast<long long>(a) + b) / 2 - mean;
    long long t = -(m * m) / variance;
    int w = static_cast<int>(std::exp(static_cast<double>(t)) * 255);
    return 255 - w;
}

inline int neighbourOf(const Image *img, int p, const int *pairs, int j)
{
    int x = p % img->ncols + pairs[2 * j], y = p / img->ncols + pairs[2 * j + 1];
    if (x < 0 || y < 0 || x >= img->ncols || y >= img->nrows) return -1;
    return x + img->rowOffset[y];
}

Image *plainEdgesWeight(Image *img, AdjacencyFn adjacency, int mean, int variance)
{
    int *pairs = nullptr;
    int n = adjacency(&pairs);
    Image *out = pxCreateImage(n, PX_WORK, img->ncols, img->nrows);
    for (int p = 0; p < img->npixels; ++p)
        for (int j = 0; j < n; ++j) {
            int q = neighbourOf(img, p, pairs, j);
            if (q >= 0) out->bands[j][p] = plainDissimilarity(img->bands[0][p], img->bands[0][q], mean, variance);
        }
    std::free(pairs);
    return out;
}

// Band `band` of img as a type-2 file; a missing band as zeros.
inline void plainSave(const char *name, Image *img, int band)
{
    ImagePtr copy(pxCreateImage(1, PX_GREY_INT, img->ncols, img->nrows));
    if (band < img->nbands) std::copy(img->bands[band], img->bands[band] + img->npixels, copy->bands[0]);
    pxSaveImage(name, copy.get());
}

// The max-arc IFT on the public queue, with the weight of displacement j at p.
inline void plainForest(Image *img, int *cost, int *label, AdjacencyFn adjacency, int nbuckets,
                        const std::vector<std::pair<int, int>> &seeds, const std::function<int(int, int, int)> &weight)
{
    int *pairs = nullptr;
    int n = adjacency(&pairs);
    QueueBuckets Q;
    QueueElements A;
    initQueue(&Q, nbuckets, &A, img->npixels);
    for (int p = 0; p < img->npixels; ++p) cost[p] = IFT_INFINITY_MIN;
    for (auto [p, l] : seeds) {
        if (p < 0 || p >= img->npixels) continue;
        cost[p] = 0;
        if (label) label[p] = l;
        if (A.bucketOf[p] == QUEUE_ABSENT) insertQueue(&Q, &A, 0, p);
        else updateQueue(&Q, &A, 0, p);
    }
    while (!isEmpty(&Q)) {
        int p = removeQueue(&Q, &A, Q.current);
        for (int j = 0; j < n; ++j) {
            int q = neighbourOf(img, p, pairs, j);
            if (q < 0 || A.bucketOf[q] == QUEUE_DONE) continue;
            int c = std::max(cost[p], weight(p, q, j));
            if (c < cost[q]) {
                cost[q] = c;
                if (label) label[q] = label[p];
                if (A.bucketOf[q] == QUEUE_ABSENT) insertQueue(&Q, &A, c, q);
                else updateQueue(&Q, &A, c, q);
            }
        }
    }
    releaseQueue(&Q, &A);
    std::free(pairs);
}

inline void plainFuzzy(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
                       int *variances, int nobjects)
{
    ImagePtr work(pxCreateImage(nobjects + 1, PX_WORK, img->ncols, img->nrows));
    for (int k = 1; k <= nobjects; ++k) {
        std::vector<std::pair<int, int>> own;
        for (int i = 0; i < seeds->count; ++i)
            if (seeds->label[i] == k) own.emplace_back(seeds->pixel[i], k);
        plainForest(img, work->bands[k], nullptr, adjacency, std::max(img->maxValue, 255) + 1, own,
                    [&](int p, int q, int) {
                        return plainDissimilarity(img->bands[0][p], img->bands[0][q], means[k], variances[k]);
                    });
    }
    plainSave("tmp1.pgm", work.get(), 1);
    plainSave("tmp2.pgm", work.get(), 2);
    for (int p = 0; p < img->npixels; ++p) {
        cost->bands[0][p] = IFT_INFINITY_MIN;
        for (int k = 1; k <= nobjects; ++k)
            if (work->bands[k][p] < cost->bands[0][p]) {
                cost->bands[0][p] = work->bands[k][p];
                label->bands[0][p] = k;
            }
    }
}

inline void plainFuzzyEdges(Image *img, Image *label, Image *cost, AdjacencyFn adjacency, Roots *seeds, int *means,
                            int *variances, int nobjects)
{
    std::vector<ImagePtr> objects(nobjects + 1);
    for (int k = 1; k <= nobjects; ++k) {
        std::printf("computing edge weights for object %d\n", k);
        objects[k] = ImagePtr(plainEdgesWeight(img, adjacency, means[k], variances[k]));
    }
    ImagePtr least(pxCreateImage(objects[1]->nbands, PX_WORK, img->ncols, img->nrows));
    std::printf("Computing minimum edge weight\n");
    for (int j = 0; j < least->nbands; ++j)
        for (int p = 0; p < img->npixels; ++p) {
            least->bands[j][p] = IFT_INFINITY_MIN;
            for (int k = 1; k <= nobjects; ++k) least->bands[j][p] = std::min(least->bands[j][p], objects[k]->bands[j][p]);
        }
    const char *names[3] = {"obj", "fun", "tmp"};
    Image *shown[3] = {objects[nobjects].get(), objects[1].get(), least.get()};
    for (int f = 0; f < 3; ++f)
        for (int j = 0; j < 4; ++j) plainSave((names[f] + std::to_string(j + 1) + ".pgm").c_str(), shown[f], j);
    std::printf("running ift\n");
    std::vector<std::pair<int, int>> all;
    for (int i = 0; i < seeds->count; ++i) all.emplace_back(seeds->pixel[i], seeds->label[i]);
    plainForest(img, cost->bands[0], label->bands[0], adjacency, 256, all,
                [&](int p, int, int j) { return least->bands[j][p]; });
}

// The dissimilarities to the 4-neighbours inside the image summed, divided
// by 4 whatever their number.
inline std::vector<int> plainTestFuzzy(Image *img, int mean, int variance)
{
    const std::vector<int> pairs = pairsOf(pxNeighborhood4);
    std::vector<int> out(img->npixels);
    for (int p = 0; p < img->npixels; ++p) {
        int sum = 0;
        for (int j = 0; j < 4; ++j) {
            const int q = neighbourOf(img, p, pairs.data(), j);
            if (q >= 0) sum += plainDissimilarity(img->bands[0][p], img->bands[0][q], mean, variance);
        }
        out[p] = sum / 4;
    }
    return out;
}

} // namespace straight
