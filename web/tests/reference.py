"""The native library's segmentation for the page's exports: reads an image,
the page's roots file and a method name, and writes the labels as an 8-bit P5
file, through the `foresting` package (PYTHONPATH = the release build's
python/ folder). The page must produce this file byte for byte.

    reference.py IMAGE ROOTS METHOD OUT.pgm    (METHOD: watershed, maxarc, fuzzy)
    reference.py --time IMAGE ROOTS METHOD [N] median milliseconds of N native calls (9)
"""

import statistics
import sys
import tempfile
import time

import numpy as np

import foresting as fo

# As the page's module: a fuzzy object's variance is never below this.
LEAST_FUZZY_VARIANCE = 100


def grey(image):
    if image.ndim == 2:
        return image.astype(np.int64)
    r, g, b = (image[..., i].astype(np.int64) for i in range(3))
    return (299 * r + 587 * g + 114 * b) // 1000


def fuzzy(image, seeds):
    """Competitive fuzzy connectedness, one object per label in use (in
    label order): truncated mean and variance of the seeds' grey values."""
    g = grey(image)
    values = g[seeds.coords[:, 0], seeds.coords[:, 1]]
    means, variances = [], []
    for k in np.unique(seeds.labels):
        v = values[seeds.labels == k]
        n, s, sq = len(v), int(v.sum()), int((v * v).sum())
        means.append(s // n)
        variances.append(max((n * sq - s * s) // (n * n), LEAST_FUZZY_VARIANCE))
    with tempfile.TemporaryDirectory() as scratch:
        labels, _ = fo.fuzzy_connectedness(g.astype(np.int32), (seeds.coords, seeds.labels), means, variances,
                                           connectivity=8, competitive=True, workdir=scratch)
    return labels


def segment(image, seeds, method, relief=None):
    if method == "watershed":
        return fo.watershed(fo.gradient(image) if relief is None else relief, seeds, adjacency=8)
    if method == "maxarc":
        return fo.ift(image, (seeds.coords, seeds.labels), adjacency=8, weight="max", path_cost="max")[0]
    if method == "fuzzy":
        return fuzzy(image, seeds)
    raise SystemExit(f"unknown method {method}")


def main(image_path, roots_path, method, out_path):
    image = fo.read_image(image_path)
    seeds = fo.read_roots(roots_path, image.shape[:2])
    fo.write_image(out_path, segment(image, seeds, method).astype(np.uint8))


def timing(image_path, roots_path, method, repeats="9"):
    """As the page keeps the gradient of its image, so does this."""
    image = fo.read_image(image_path)
    seeds = fo.read_roots(roots_path, image.shape[:2])
    relief = fo.gradient(image)
    times = []
    for _ in range(int(repeats)):
        start = time.perf_counter()
        segment(image, seeds, method, relief)
        times.append(1000 * (time.perf_counter() - start))
    print(f"{statistics.median(times):.1f}")


if __name__ == "__main__":
    if len(sys.argv) in (5, 6) and sys.argv[1] == "--time":
        timing(*sys.argv[2:])
    elif len(sys.argv) == 5:
        main(*sys.argv[1:])
    else:
        raise SystemExit(__doc__)
