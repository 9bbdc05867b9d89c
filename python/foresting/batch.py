"""Batch runs over many image files on Dask: the programs' pipeline (a
``sower`` method, then a ``sieve`` mode) or a function, one task per file.

Command line::

    python3 -m foresting.batch 'images/*.pgm' -o results --sower regMax 200 255 --sieve 1 0
    python3 -m foresting.batch images/ -o results --function area_opening --arg area=64
    python3 -m foresting.batch images/ -o results --sower regMax 200 255 --scheduler tcp://host:8786

Each input file ``name.pgm`` gets a folder ``results/name/`` holding what the
programs would write for it: ``seeds.txt`` (the roots file of ``sower``), and
with ``--sieve`` ``labels.pgm`` and ``filtered.pgm``; a function writes
``result.pgm`` (or ``result-1.pgm``, ``result-2.pgm``, ... for each array it
returns). The folder is built under a temporary name and renamed into place
when complete, so a folder that exists is complete: a rerun skips it
(``--force`` redoes it). ``results/summary.csv`` records each file's status,
seed count, time and message. A file that fails never stops the others; the
exit status is 1 when any failed. By default an embedded ``LocalCluster``
runs one worker process per core (``--workers N`` to choose, ``--workers 0``
to run in this process without Dask); a worker that dies takes no file with
it, as the scheduler hands its files to another worker.

Python::

    import foresting.batch as fb
    fb.run(["a.pgm", "b.pgm"], "results", fb.Pipeline(["regMax", 200, 255], sieve=(1, 0)))
    fb.run(files, "results", my_function)   # my_function(image) -> array(s)
"""

import argparse
import ast
import csv
import glob
import os
import shutil
import socket
import sys
import threading
import time
import uuid

import numpy as np

import foresting
from ._checks import working_directory

__all__ = ["Pipeline", "Function", "run", "main"]

SUMMARY = "summary.csv"
FIELDS = ["file", "status", "seeds", "seconds", "message"]
_SOWER = {"regMax": 2, "regMin": 2, "dt": 0, "frame": (1, 2), "labels": 0, "cells": 1}
_CWD = threading.Lock()  # `cells` writes into the working directory


class Pipeline:
    """The programs' pipeline: a ``sower`` method with its parameters (as
    on its command line, e.g. ``["regMax", 200, 255]``), then, when `sieve`
    is ``(is_cutting_domes, is_global)``, ``sieve`` with the image as its
    own reference. Writes ``seeds.txt``, ``labels.pgm`` and ``filtered.pgm``
    byte for byte as the programs do."""

    def __init__(self, sower, sieve=None):
        method, *params = [str(s) for s in sower]
        if method not in _SOWER:
            raise ValueError(f"sower method must be one of {', '.join(_SOWER)}, not {method!r}")
        want = _SOWER[method]
        counts = want if isinstance(want, tuple) else (want,)
        if len(params) not in counts:
            raise ValueError(f"sower method {method} takes {' or '.join(map(str, counts))} "
                             f"parameters, not {len(params)}")
        try:
            self.params = [int(p) for p in params]
        except ValueError:
            raise ValueError(f"sower parameters must be integers, not {params}") from None
        if method == "frame" and self.params[0] and len(self.params) != 2:
            raise ValueError("sower method frame with uniform labels takes the label too")
        self.method = method
        if sieve is not None:
            sieve = tuple(int(s) for s in sieve)
            if len(sieve) != 2:
                raise ValueError("sieve takes two integers: is_cutting_domes is_global")
        self.sieve = sieve

    def _seeds(self, image):
        m, p = self.method, self.params
        if m == "regMax":
            return foresting.regional_maxima_seeds(image, p[0], p[1])
        if m == "regMin":
            return foresting.regional_minima_seeds(image, p[0], p[1])
        if m == "dt":
            return foresting.contour_seeds(image)
        if m == "frame":
            return foresting.frame_seeds(image.shape, p[1] if p[0] else None)
        if m == "labels":
            return foresting.label_seeds(image)
        return foresting.cell_seeds(image, p[0])

    def __call__(self, path, folder):
        image, top = foresting.read_image(path, with_max=True)
        if image.ndim == 3:
            image = image[:, :, 0]
        if self.method == "cells":
            with _CWD, working_directory(folder):
                seeds = self._seeds(image)
        else:
            seeds = self._seeds(image)
        foresting.write_roots(os.path.join(folder, "seeds.txt"), seeds, image.shape)
        if self.sieve is not None and len(seeds):
            cut, is_global = self.sieve
            filtered, labels = foresting.sieve(image, image, seeds, cut_domes=bool(cut),
                                               mode="global" if is_global else "local",
                                               reference_max=top)
            foresting.write_image(os.path.join(folder, "labels.pgm"), labels)
            # the program writes the low 8 bits of the filtered image as P5
            low = (filtered.astype(np.int64) & 255).astype(np.uint8)
            foresting.write_image(os.path.join(folder, "filtered.pgm"), low)
        return {"seeds": len(seeds),
                "message": "" if len(seeds) or self.sieve is None else "no seeds: sieve not run"}


class Function:
    """A function of an image (a name of :mod:`foresting`, or any callable
    that pickles) with keyword arguments. Every array it returns is written
    as ``result.pgm``, or ``result-1.pgm``, ``result-2.pgm``, ... when it
    returns a tuple; colour files are passed as (rows, columns, 3)."""

    def __init__(self, function, **kwargs):
        if isinstance(function, str):
            if function not in foresting.__all__ or not callable(getattr(foresting, function)):
                raise ValueError(f"foresting has no function {function!r}")
        elif not callable(function):
            raise ValueError("function must be a name of foresting or a callable")
        self.function, self.kwargs = function, kwargs

    def __call__(self, path, folder):
        f = getattr(foresting, self.function) if isinstance(self.function, str) else self.function
        out = f(foresting.read_image(path), **self.kwargs)
        arrays = [a for a in (out if isinstance(out, tuple) else (out,)) if isinstance(a, np.ndarray)]
        if not arrays:
            raise ValueError("the function returned no array")
        for n, a in enumerate(arrays, 1):
            name = "result.pgm" if len(arrays) == 1 else f"result-{n}.pgm"
            foresting.write_image(os.path.join(folder, name), a)
        return {}


def _stem(path):
    return os.path.splitext(os.path.basename(path))[0]


def _remove(path):
    shutil.rmtree(path, ignore_errors=True)


def process(path, out, task, force=False):
    """Runs `task` for one file into ``out/<stem>/`` through a temporary
    folder; returns the file's summary record. Never raises for a bad file."""
    stem = _stem(path)
    final = os.path.join(out, stem)
    start = time.perf_counter()
    record = {"file": path, "status": "done", "seeds": "", "message": ""}
    prefix = f".{stem}.partial-"
    if not force and os.path.isdir(final):
        # an earlier attempt finished it and was lost before it could say so
        record.update(seconds="0.000", message="completed by an earlier attempt")
        return record
    left = [n for n in os.listdir(out) if n.startswith(prefix)]
    notes = []
    if left:
        notes.append("redone after an interrupted attempt")
        for n in left:
            _remove(os.path.join(out, n))
    temp = os.path.join(out, f"{prefix}{socket.gethostname()}-{os.getpid()}-{uuid.uuid4().hex[:8]}")
    try:
        os.mkdir(temp)
        result = task(path, temp) or {}
        record["seeds"] = result.get("seeds", "")
        if result.get("message"):
            notes.append(result["message"])
        if os.path.isdir(final) and not force:
            _remove(temp)  # another attempt finished first, with the same files
            notes.append("completed by another attempt")
        elif os.path.isdir(final):
            old = os.path.join(out, f".{stem}.old-{uuid.uuid4().hex[:8]}")
            os.rename(final, old)
            os.rename(temp, final)
            _remove(old)
        else:
            try:
                os.rename(temp, final)
            except OSError:
                if not os.path.isdir(final):
                    raise
                _remove(temp)
                notes.append("completed by another attempt")
    except Exception as e:  # a bad file is recorded, never raised
        _remove(temp)
        record["status"] = "failed"
        notes.append(f"{type(e).__name__}: {e}")
    record["seconds"] = f"{time.perf_counter() - start:.3f}"
    record["message"] = "; ".join(notes)
    return record


def expand(inputs):
    """Files named by paths, folders (their .pgm/.ppm/.pnm files) and glob
    patterns, in order, each once."""
    files = []
    for item in inputs:
        item = os.fspath(item)
        if os.path.isdir(item):
            found = sorted(os.path.join(item, n) for n in os.listdir(item)
                           if n.lower().endswith((".pgm", ".ppm", ".pnm")))
        elif glob.has_magic(item):
            found = sorted(p for p in glob.glob(item) if os.path.isfile(p))
        else:
            found = [item]
        files += [f for f in found if f not in files]
    return files


def _write_summary(path, records):
    temp = f"{path}.{uuid.uuid4().hex[:8]}.tmp"
    with open(temp, "w", newline="") as f:
        w = csv.DictWriter(f, FIELDS)
        w.writeheader()
        for r in records:
            w.writerow({k: r.get(k, "") for k in FIELDS})
    os.replace(temp, path)


def run(inputs, out, task, *, force=False, workers=None, scheduler=None, client=None,
        summary=None, progress=True):
    """Runs `task` over the input files into the folder `out`.

    Parameters
    ----------
    inputs : list of str
        Files, folders and glob patterns (see :func:`expand`).
    out : str
        The output folder, made when missing.
    task : Pipeline, Function or callable
        A Pipeline or Function, or a function of an image array returning
        an array or a tuple (wrapped in :class:`Function`).
    force : bool
        Redo files whose output folder exists (by default they are skipped).
    workers : int, optional
        Worker processes of the embedded LocalCluster (default: one per
        core); 0 runs every file in this process without Dask.
    scheduler : str, optional
        Address of a running Dask scheduler to use instead.
    client : distributed.Client, optional
        A client to use instead.
    summary : str, optional
        The CSV summary (default ``out/summary.csv``).
    progress : bool
        Show a progress bar (tqdm).

    Returns
    -------
    list of dict
        One record per file (file, status: done, skipped or failed, seeds,
        seconds, message), as written to the summary.
    """
    if not isinstance(task, (Pipeline, Function)):
        task = Function(task)
    files = expand(inputs)
    if not files:
        raise ValueError("no input files")
    stems = {}
    for f in files:
        if _stem(f) in stems:
            raise ValueError(f"{stems[_stem(f)]} and {f} would write the same output folder")
        stems[_stem(f)] = f
    out = os.path.abspath(os.fspath(out))
    os.makedirs(out, exist_ok=True)
    summary = summary or os.path.join(out, SUMMARY)
    records = {}
    todo = []
    for f in files:
        if not force and os.path.isdir(os.path.join(out, _stem(f))):
            records[f] = {"file": f, "status": "skipped", "message": "output complete"}
        else:
            todo.append(f)
    bar = _bar(len(todo), progress)
    try:
        if todo and workers == 0 and client is None and scheduler is None:
            for f in todo:
                records[f] = process(f, out, task, force)
                bar.update(1)
        elif todo:
            _distributed(todo, out, task, force, workers, scheduler, client, records, bar)
    finally:
        bar.close()
        _write_summary(summary, [records[f] for f in files if f in records])
    return [records[f] for f in files]


def _bar(total, progress):
    try:
        from tqdm import tqdm
    except ImportError:  # the bar is a convenience
        tqdm = None
    if tqdm is None or not progress:
        class _Quiet:
            def update(self, n):
                pass

            def close(self):
                pass
        return _Quiet()
    return tqdm(total=total, unit="file", file=sys.stderr)


def _distributed(todo, out, task, force, workers, scheduler, client, records, bar):
    from distributed import Client, LocalCluster, as_completed

    cluster = None
    own = client is None
    if own and scheduler:
        client = Client(scheduler)
    elif own:
        n = workers or os.cpu_count() or 1
        # The workers share the cores: each runs the library on its share of
        # them, unless FORESTING_NUM_THREADS says otherwise.
        threads = os.environ.get("FORESTING_NUM_THREADS") or str(max(1, (os.cpu_count() or 1) // n))
        cluster = LocalCluster(n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
                               dashboard_address=":0", env={"FORESTING_NUM_THREADS": threads})
        client = Client(cluster)
    try:
        futures = {client.submit(process, f, out, task, force, pure=False,
                                 key=f"foresting-batch-{_stem(f)}-{uuid.uuid4().hex[:8]}"): f
                   for f in todo}
        for future in as_completed(futures):
            f = futures[future]
            try:
                records[f] = future.result()
            except Exception as e:  # the scheduler gave up on the file (workers kept dying)
                records[f] = {"file": f, "status": "failed",
                              "message": f"{type(e).__name__}: {e}"}
            bar.update(1)
    finally:
        if own:
            client.close()
        if cluster is not None:
            cluster.close()


def _value(text):
    try:
        return ast.literal_eval(text)
    except (ValueError, SyntaxError):
        return text


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m foresting.batch",
        description="Run the sower/sieve pipeline or a foresting function over many image files.")
    parser.add_argument("inputs", nargs="+", help="image files, folders or glob patterns")
    parser.add_argument("-o", "--out", required=True, help="output folder")
    what = parser.add_mutually_exclusive_group(required=True)
    what.add_argument("--sower", nargs="+", metavar="ARG",
                      help="sower method and its parameters, e.g. regMax 200 255")
    what.add_argument("--function", help="name of a foresting function of an image")
    parser.add_argument("--sieve", nargs=2, type=int, metavar=("CUT", "GLOBAL"),
                        help="then sieve: isCuttingDomes isGlobal (needs --sower)")
    parser.add_argument("--arg", action="append", default=[], metavar="KEY=VALUE",
                        help="keyword argument of --function (repeatable)")
    parser.add_argument("--workers", type=int, help="worker processes (default: one per core; "
                        "0: this process, no Dask)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--force", action="store_true", help="redo files whose outputs exist")
    parser.add_argument("--summary", help=f"summary CSV (default OUT/{SUMMARY})")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    args = parser.parse_args(argv)
    if args.workers is not None and args.workers < 0:
        parser.error("--workers must be 0 or more")
    try:
        if args.sower:
            task = Pipeline(args.sower, args.sieve)
        else:
            if args.sieve:
                parser.error("--sieve needs --sower")
            kwargs = {}
            for a in args.arg:
                key, sep, value = a.partition("=")
                if not sep or not key.isidentifier():
                    parser.error(f"--arg takes KEY=VALUE, not {a!r}")
                kwargs[key] = _value(value)
            task = Function(args.function, **kwargs)
        records = run(args.inputs, args.out, task, force=args.force, workers=args.workers,
                      scheduler=args.scheduler, summary=args.summary,
                      progress=not args.no_progress)
    except (ValueError, OSError) as e:
        print(f"foresting.batch: {e}", file=sys.stderr)
        return 2
    failed = [r for r in records if r["status"] == "failed"]
    counts = {s: sum(r["status"] == s for r in records) for s in ("done", "skipped", "failed")}
    print(f"{counts['done']} done, {counts['skipped']} skipped, {counts['failed']} failed; "
          f"summary in {args.summary or os.path.join(os.path.abspath(args.out), SUMMARY)}",
          file=sys.stderr)
    for r in failed:
        print(f"failed: {r['file']}: {r['message']}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
