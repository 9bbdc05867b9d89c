#!/usr/bin/python3
"""The Python package against the library's own C++ calls, and against
scikit-image where it has the same operator, on the two 4096 x 4096
benchmark images (tiled and upscaled data/camera.pgm).

    /usr/bin/python3 bench/bench_python.py [build folder, default build/release]

Needs the release build with bench_ift, bench_filters and make_bench_images (Google
Benchmark installed). scikit-image (Debian: python3-skimage) is optional.
Times are the median of a few runs; the C++ figures are Google Benchmark's
(3 iterations after one untimed run), measured in the same way: one untimed
run first, seeds built outside the timing."""

import contextlib
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

root = pathlib.Path(__file__).resolve().parent.parent
build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else root / "build" / "release").resolve()
sys.path.insert(0, str(build / "python"))

import numpy as np  # noqa: E402

import foresting  # noqa: E402

try:
    import skimage.morphology
    import skimage.segmentation
except ImportError:
    skimage = None

RUNS = 3


def timed(fn, runs=RUNS):
    fn()
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1e3


def cpp_times():
    times = {}
    for program, pattern in (("bench_ift", "BM_Reconstr/|BM_Watershed"), ("bench_filters", "BM_AreaOpen")):
        out = subprocess.run([str(build / program), f"--benchmark_filter={pattern}", "--benchmark_format=json"],
                             capture_output=True, text=True, check=True).stdout
        times.update({b["name"].split("/iterations")[0]: b["real_time"] for b in json.loads(out)["benchmarks"]})
    return times


@contextlib.contextmanager
def quiet_stdout():
    """The library's progress lines go to /dev/null, as in the C++ benchmark."""
    sys.stdout.flush()
    saved = os.dup(1)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(null)
        os.close(saved)


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([str(build / "make_bench_images"), folder], check=True, capture_output=True)
        images = {name: foresting.read_image(pathlib.Path(folder) / f"{name}.pgm")
                  for name in ("tiled", "upscaled")}
    cpp = cpp_times()
    print(f"{'operator':34} {'image':9} {'C++ ms':>8} {'Python ms':>10} {'ratio':>6} {'skimage ms':>11} {'speed-up':>8}")
    for upscaled, name in enumerate(("tiled", "upscaled")):
        img = images[name]
        frame = foresting.frame_seeds(img.shape)
        values = img[frame.coords[:, 0], frame.coords[:, 1]].astype(np.int32)
        rows = []
        for is_global in (1, 0):
            costs = values if is_global else np.maximum(values - 1, 0)
            seeds = foresting.Seeds(frame.coords, frame.labels, costs)
            mode = "global" if is_global else "local"
            py = timed(lambda: foresting.cut_domes(img, seeds, mode))
            sk = None
            if skimage is not None and is_global:
                seed_image = np.zeros_like(img)
                seed_image[frame.coords[:, 0], frame.coords[:, 1]] = values
                sk = timed(lambda: skimage.morphology.reconstruction(seed_image, img, "dilation"), 1)
            rows.append((f"dome cutting, {mode}", cpp[f"BM_Reconstr/upscaled:{upscaled}/global:{is_global}"], py, sk))
        py = timed(lambda: foresting.watershed(img, frame))
        sk = None
        if skimage is not None:
            markers = np.zeros(img.shape, np.int32)
            markers[frame.coords[:, 0], frame.coords[:, 1]] = frame.labels
            sk = timed(lambda: skimage.segmentation.watershed(img, markers, connectivity=2), 1)
        rows.append(("watershed from the frame", cpp[f"BM_Watershed/upscaled:{upscaled}"], py, sk))
        for area in (64, 4096):
            with quiet_stdout():
                py = timed(lambda: foresting.area_opening(img, area))
            sk = None
            if skimage is not None:
                sk = timed(lambda: skimage.morphology.area_opening(img, area, connectivity=2), 1)
            rows.append((f"area opening, area {area}", cpp[f"BM_AreaOpen/upscaled:{upscaled}/area:{area}"], py, sk))
        for op, c, p, s in rows:
            sks = f"{s:11.0f} {s / p:7.1f}x" if s is not None else f"{'-':>11} {'-':>8}"
            print(f"{op:34} {name:9} {c:8.0f} {p:10.0f} {p / c:6.2f} {sks}", flush=True)


if __name__ == "__main__":
    main()
