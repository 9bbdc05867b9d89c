"""Chunked operators and batch runs on a LocalCluster against the single
call, with the largest resident memory of any worker.

    PYTHONPATH=build/release/python python3 bench/bench_chunked.py \\
        --tile build/bench-images/tiled.pgm --size 16384 --chunk 2048 --reps 3 \\
        --out bench/scaling.json

The image is the 4096 x 4096 benchmark image (make_bench_images) tiled to
--size pixels a side. Each single call runs in a fresh process (its peak
RSS is that process's); both read the image file and write the result
to a .npy file, the chunked version lazily and chunk by chunk, and are timed
from the read to the written result. Results are checked equal. Then --batch images of --batch-size
pixels go through the dome-cutting pipeline with 1 and 2 workers. The
machine may be shared: every figure is the median of --reps runs, and the
ratios are taken within one run of this script.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

OPERATORS = ["reconstruction", "area_opening", "label", "regional_maxima"]


def single(op, path, result):
    """The single call, run in this (fresh) process: prints seconds and peak RSS."""
    import resource

    import foresting
    start = time.perf_counter()
    image = foresting.read_image(path)
    if op == "reconstruction":
        out = foresting.reconstruction(np.maximum(image.astype(np.int16) - 40, 0).astype(np.uint8),
                                       image)
    elif op == "area_opening":
        out = foresting.area_opening(image, 64)[0]
    elif op == "label":
        out = foresting.label((image >= 128).astype(np.uint8))[0]
    else:
        out = foresting.regional_maxima(image)
    np.save(result, out)
    seconds = time.perf_counter() - start
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps({"seconds": seconds, "rss": rss}))


def _npy_target(path):
    """A store target writing into a .npy file, row by row as
    foresting.chunked.write_image writes; the pages are left to the page
    cache, as np.save leaves them."""
    from foresting._chunked_io import _FileTarget
    m = np.load(path, mmap_mode="r")
    return _FileTarget(path, m.offset, m.shape, m.dtype)


def chunked(op, path, chunk, result):
    import dask.array as da
    import foresting.chunked as fc
    start = time.perf_counter()
    image = fc.read_image(path, chunks=(chunk, chunk))
    if op == "reconstruction":
        seed = da.maximum(image.astype(np.int16) - 40, 0).astype(np.uint8)
        out = fc.reconstruction(seed, image)
    elif op == "area_opening":
        out = fc.area_opening(image, 64)
    elif op == "label":
        out = fc.label((image >= 128).astype(np.uint8))[0]
    else:
        out = fc.regional_maxima(image)
    np.lib.format.open_memmap(result, "w+", out.dtype, out.shape).flush()
    da.store(out, _npy_target(result), lock=False)
    return time.perf_counter() - start


class Peak:
    """Polls the workers' resident memory; keeps the largest."""

    def __init__(self, pids):
        import psutil
        self.procs = [psutil.Process(p) for p in pids]
        self.peak = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.poll, daemon=True)
        self.thread.start()

    def poll(self):
        while not self.stop.is_set():
            for p in self.procs:
                try:
                    self.peak = max(self.peak, p.memory_info().rss)
                except Exception:
                    pass
            time.sleep(0.05)

    def close(self):
        self.stop.set()
        self.thread.join()
        return self.peak


def cluster(workers, share_cores=False):
    """A LocalCluster of `workers` processes; with share_cores each runs the
    library on its share of the cores, as the batch runner's own cluster
    does, else on all of them, as the single call does."""
    from distributed import Client, LocalCluster
    env = {"FORESTING_NUM_THREADS": str(max(1, (os.cpu_count() or 1) // workers))} if share_cores else {}
    c = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                     dashboard_address=":0", memory_limit=0, env=env)
    return c, Client(c)


def make_image(tile, size, folder):
    import foresting
    t = foresting.read_image(tile)
    reps = -(-size // t.shape[0]), -(-size // t.shape[1])
    path = os.path.join(folder, f"image{size}.pgm")
    foresting.write_image(path, np.tile(t, reps)[:size, :size])
    return path


def bench_operators(args, folder, report):
    import dask
    path = make_image(args.tile, args.size, folder)
    for op in args.operators:
        one = os.path.join(folder, "single.npy")
        runs = []
        for _ in range(args.reps):
            r = subprocess.run([sys.executable, __file__, "--single", op, path, one],
                               capture_output=True, text=True, check=True)
            runs.append(json.loads(r.stdout.strip().splitlines()[-1]))
        entry = {"single_seconds": statistics.median(r["seconds"] for r in runs),
                 "single_rss": max(r["rss"] for r in runs)}
        expected = np.load(one, mmap_mode="r")
        for workers in args.workers:
            c, client = cluster(workers)
            try:
                pids = list(client.run(os.getpid).values())
                times, peaks = [], []
                with dask.config.set(scheduler=client):
                    for _ in range(args.reps):
                        peak = Peak(pids)
                        got = os.path.join(folder, "chunked.npy")
                        times.append(chunked(op, path, args.chunk, got))
                        peaks.append(peak.close())
                        same = np.array_equal(np.load(got, mmap_mode="r"), expected)
                        if not same:
                            raise SystemExit(f"{op}: chunked result differs from the single call")
            finally:
                client.close()
                c.close()
            entry[f"workers{workers}_seconds"] = statistics.median(times)
            entry[f"workers{workers}_rss"] = max(peaks)
        report["operators"][op] = entry
        print(op, json.dumps(entry), flush=True)


def bench_batch(args, folder, report):
    import foresting
    import foresting.batch as fb
    t = foresting.read_image(args.tile)
    src = os.path.join(folder, "batch")
    os.makedirs(src, exist_ok=True)
    s = args.batch_size
    big = np.tile(t, (-(-2 * s // t.shape[0]), -(-2 * s // t.shape[1])))
    for k in range(args.batch):
        r, c = (k * 97) % s, (k * 193) % s
        foresting.write_image(os.path.join(src, f"b{k:03d}.pgm"), big[r:r + s, c:c + s])
    task = fb.Pipeline(["regMax", 200, 255], sieve=(1, 0))
    entry = {}
    for workers in args.workers:
        c, client = cluster(workers, share_cores=True)
        try:
            times = []
            for _ in range(args.reps):
                out = os.path.join(folder, "out")
                shutil.rmtree(out, ignore_errors=True)
                start = time.perf_counter()
                records = fb.run([src], out, task, client=client, progress=False)
                times.append(time.perf_counter() - start)
                assert all(r["status"] == "done" for r in records)
        finally:
            client.close()
            c.close()
        entry[f"workers{workers}_seconds"] = statistics.median(times)
        entry[f"workers{workers}_files_per_second"] = args.batch / statistics.median(times)
    report["batch"] = entry
    print("batch", json.dumps(entry), flush=True)


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--single":
        single(*sys.argv[2:])
        return
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--tile", required=True, help="the 4096 x 4096 benchmark image (tiled.pgm)")
    p.add_argument("--size", type=int, default=16384)
    p.add_argument("--chunk", type=int, default=2048)
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    p.add_argument("--operators", nargs="*", default=OPERATORS)
    p.add_argument("--batch", type=int, default=64)
    p.add_argument("--batch-size", type=int, default=2048)
    p.add_argument("--tmp", default=None, help="folder for the images (default: a temporary one)")
    p.add_argument("--out", default="bench/scaling.json")
    args = p.parse_args()
    report = {"size": args.size, "chunk": args.chunk, "reps": args.reps, "batch": None,
              "batch_images": args.batch, "batch_size": args.batch_size, "operators": {}}
    folder = tempfile.mkdtemp(dir=args.tmp)
    try:
        if args.operators:
            bench_operators(args, folder, report)
        if args.batch:
            bench_batch(args, folder, report)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    with open(args.out, "w") as f:
        json.dump(report, f, indent=1)


if __name__ == "__main__":
    main()
