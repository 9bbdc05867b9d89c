#!/usr/bin/python3
"""The library against OpenCV and SciPy, side by side in MPix/s, on the two
4096 x 4096 benchmark images (tiled and upscaled data/camera.pgm):

    /usr/bin/python3 bench/bench_peers.py [build folder, default build/release] [--runs N]

Columns: ours through the C++ benchmark programs (Google Benchmark, one
thread via FORESTING_NUM_THREADS=1, then the library's default threads), ours
through the Python package (one thread, default threads), OpenCV (one thread,
its default threads) and SciPy (one thread). The Python-side columns are timed
in rounds, each round running every column once back to back, and each figure
is the median over the rounds, so that a busy machine slows all columns alike.
A peer that is not installed shows "-".

Each case is one entry of CASES: how to make its input from a benchmark
image, and the call of each column (None where a column has none). Add a case
to compare another operator."""

import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time
from typing import Callable, NamedTuple, Optional

root = pathlib.Path(__file__).resolve().parent.parent
args = [a for a in sys.argv[1:] if not a.startswith("--runs")]
RUNS = next((int(a.split("=")[1]) for a in sys.argv[1:] if a.startswith("--runs=")), 7)
build = pathlib.Path(args[0] if args else root / "build" / "release").resolve()
sys.path.insert(0, str(build / "python"))

import numpy as np  # noqa: E402

import foresting  # noqa: E402

sys.path.insert(0, str(root / "bench"))
from bench_python import quiet_stdout  # noqa: E402

try:
    import cv2
except ImportError:
    cv2 = None
try:
    import scipy.ndimage as ndimage
except ImportError:
    ndimage = None


def binary(img):
    """The pixels at or above 128, as the C++ benchmarks threshold them."""
    return (img >= 128).astype(np.uint8)


class Case(NamedTuple):
    name: str
    prepare: Callable                   # benchmark image -> input of every column
    cpp: Optional[tuple]                # (program, benchmark name with {image} for 0 / 1), default threads
    ours: Callable
    opencv: Optional[Callable] = None
    scipy: Optional[Callable] = None


def _quiet(fn):
    def call(a):
        with quiet_stdout():
            return fn(a)
    return call


CASES = [
    Case("exact Euclidean distance", binary, ("bench_distance", "BM_ExactEDT/upscaled:{image}/threads:0"),
         foresting.distance_transform_edt,
         opencv=cv2 and (lambda m: cv2.distanceTransform(m, cv2.DIST_L2, cv2.DIST_MASK_PRECISE)),
         scipy=ndimage and ndimage.distance_transform_edt),
    Case("connected labelling (8)", binary, ("bench_regions", "BM_LabelImage/image:{image}/level:128"),
         _quiet(foresting.label),
         opencv=cv2 and (lambda m: cv2.connectedComponents(m, connectivity=8, ltype=cv2.CV_32S)),
         scipy=ndimage and (lambda m: ndimage.label(m, structure=np.ones((3, 3), bool)))),
]

# Colour conversions on data/chelsea.ppm scaled to 4096 x 4096 (nearest
# neighbour; bench_colour scales it bilinearly), whatever the grey image;
# dilation and erosion by the disc of squared radius 25 on the grey images,
# OpenCV with the same disc as its kernel.
def chelsea(_):
    if not hasattr(chelsea, "image"):
        rgb = foresting.read_image(root / "data" / "chelsea.ppm")
        rows = np.arange(4096) * rgb.shape[0] // 4096
        cols = np.arange(4096) * rgb.shape[1] // 4096
        chelsea.image = np.ascontiguousarray(rgb[rows][:, cols])
    return chelsea.image


DISC_25 = (np.add.outer(np.arange(-5, 6) ** 2, np.arange(-5, 6) ** 2) <= 25).astype(np.uint8)

for _name, _ours, _code in (("rgb2hsv", foresting.rgb_to_hsv, "COLOR_RGB2HSV_FULL"),
                            ("rgb2lab", foresting.rgb_to_lab, "COLOR_RGB2Lab"),
                            ("rgb2ycbcr", foresting.rgb_to_ycbcr, "COLOR_RGB2YCrCb")):
    CASES.append(Case(f"colour {_name}", chelsea, ("bench_colour", f"BM_{_name.capitalize()}"), _quiet(_ours),
                      opencv=cv2 and (lambda a, code=getattr(cv2, _code): cv2.cvtColor(a, code))))
CASES.append(Case("dilation (disc 25)", lambda g: g, None, lambda a: foresting.dilation(a, 25),
                  opencv=cv2 and (lambda a: cv2.dilate(a, DISC_25))))
CASES.append(Case("erosion (disc 25)", lambda g: g, None, lambda a: foresting.erosion(a, 25),
                  opencv=cv2 and (lambda a: cv2.erode(a, DISC_25))))

COLUMNS = ("C++ 1T", "C++ nT", "Py 1T", "Py nT", "OpenCV 1T", "OpenCV nT", "SciPy")


def cpp_rates(case, image, pixels):
    """MPix/s of the case's C++ benchmark on one thread and on the default ones."""
    if case.cpp is None:
        return [None, None]
    program, pattern = case.cpp
    name = pattern.format(image=image)
    rates = []
    for threads in ("1", None):
        env = dict(os.environ)
        env.pop("FORESTING_NUM_THREADS", None)
        if threads:
            env["FORESTING_NUM_THREADS"] = threads
        with tempfile.TemporaryDirectory() as folder:
            report = pathlib.Path(folder) / "report.json"
            subprocess.run([str(build / program), f"--benchmark_filter=^{name}(/|$)", f"--benchmark_out={report}",
                            "--benchmark_out_format=json", "--benchmark_repetitions=3",
                            "--benchmark_report_aggregates_only=true"],
                           capture_output=True, text=True, check=True, env=env)
            runs = [b for b in json.loads(report.read_text())["benchmarks"] if b.get("aggregate_name") == "median"]
        rates.append(pixels / (runs[0]["real_time"] * 1e-3) / 1e6 if runs else None)
    return rates


def python_rates(case, a):
    """MPix/s of the Python-side columns, medians over rounds."""
    def with_threads(fn, ours, n):
        def call():
            if ours:
                previous = foresting.set_num_threads(n)
            else:
                cv2.setNumThreads(n if n else -1)
            try:
                fn(a)
            finally:
                if ours:
                    foresting.set_num_threads(previous)
        return call
    calls = [with_threads(case.ours, True, 1), with_threads(case.ours, True, None)]
    calls += [with_threads(case.opencv, False, 1), with_threads(case.opencv, False, 0)] if case.opencv else [None] * 2
    calls.append((lambda: case.scipy(a)) if case.scipy else None)
    times = [[] for _ in calls]
    for fn in calls:
        if fn:
            fn()  # one untimed call: fresh memory, caches
    for _ in range(RUNS):
        for fn, t in zip(calls, times):
            if fn:
                start = time.perf_counter()
                fn()
                t.append(time.perf_counter() - start)
    return [a.shape[0] * a.shape[1] / statistics.median(t) / 1e6 if t else None for t in times]


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([str(build / "make_bench_images"), folder], check=True, capture_output=True)
        images = {name: foresting.read_image(pathlib.Path(folder) / f"{name}.pgm") for name in ("tiled", "upscaled")}
    print(f"MPix/s, medians of {RUNS} rounds; threads: ours {foresting.get_num_threads()} by default"
          + (f", OpenCV {cv2.getNumThreads()}" if cv2 else ""))
    print(f"{'operator':26} {'image':9}" + "".join(f"{c:>10}" for c in COLUMNS))
    for case in CASES:
        for index, name in enumerate(("tiled", "upscaled")):
            a = case.prepare(images[name])
            rates = cpp_rates(case, index, a.shape[0] * a.shape[1]) + python_rates(case, a)
            cells = "".join(f"{r:10.1f}" if r is not None else f"{'-':>10}" for r in rates)
            print(f"{case.name:26} {name:9}{cells}", flush=True)


if __name__ == "__main__":
    main()
