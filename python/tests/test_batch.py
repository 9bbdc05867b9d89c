"""foresting.batch: the programs' outputs for every file, a bad file never
stopping the others, nothing lost when a worker dies, reruns that skip."""

import csv
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

import foresting  # noqa: E402
import foresting.batch as fb  # noqa: E402


def summary(folder):
    with open(folder / "summary.csv") as f:
        return {os.path.basename(r["file"]): r for r in csv.DictReader(f)}


def tree(folder):
    """Every output file under the folder (the summary aside) with its bytes."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file() and p.name != "summary.csv"}


@pytest.fixture
def images(tmp_path, data):
    folder = tmp_path / "in"
    folder.mkdir()
    coins = foresting.read_image(data / "coins.pgm")
    for k in range(4):
        foresting.write_image(folder / f"im{k}.pgm", np.roll(coins, 17 * k, axis=1))
    return folder


def cli(*args, cwd):
    package = os.path.dirname(os.path.dirname(os.path.abspath(foresting.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([package, os.environ.get("PYTHONPATH", "")]))
    return subprocess.run([sys.executable, "-m", "foresting.batch", *map(str, args), "--no-progress"],
                          cwd=cwd, capture_output=True, text=True, env=env, timeout=300)


def test_pipeline_writes_the_programs_files_and_a_bad_file_fails_alone(tmp_path, images,
                                                                      run_program):
    (images / "bad.pgm").write_bytes(b"P5\n40 40\n255\n" + bytes(100))
    out = tmp_path / "out"
    r = cli(images, "-o", out, "--sower", "regMax", 200, 255, "--sieve", 1, 0, "--workers", 0,
            cwd=tmp_path)
    assert r.returncode == 1, r.stderr
    assert "bad.pgm" in r.stderr
    rows = summary(out)
    assert rows["bad.pgm"]["status"] == "failed" and "OSError" in rows["bad.pgm"]["message"]
    assert not (out / "bad").exists()
    for k in range(4):
        assert rows[f"im{k}.pgm"]["status"] == "done" and int(rows[f"im{k}.pgm"]["seeds"]) > 0
    # the programs themselves, on one of the files
    run_program("sower", [images / "im2.pgm", "seeds.txt", "regMax", 200, 255], tmp_path)
    run_program("sieve", [images / "im2.pgm", images / "im2.pgm", 1, 0, "seeds.txt"], tmp_path)
    for name in ("seeds.txt", "labels.pgm", "filtered.pgm"):
        assert (out / "im2" / name).read_bytes() == (tmp_path / name).read_bytes(), name

    # a rerun skips what is complete, and redoes the bad file (still bad)
    stamp = (out / "im0" / "filtered.pgm").stat().st_mtime_ns
    r = cli(images, "-o", out, "--sower", "regMax", 200, 255, "--sieve", 1, 0, "--workers", 0,
            cwd=tmp_path)
    assert r.returncode == 1
    rows = summary(out)
    assert [rows[f"im{k}.pgm"]["status"] for k in range(4)] == ["skipped"] * 4
    assert rows["bad.pgm"]["status"] == "failed"
    assert (out / "im0" / "filtered.pgm").stat().st_mtime_ns == stamp
    # --force redoes them; a good set exits 0
    os.unlink(images / "bad.pgm")
    r = cli(images / "im*.pgm", "-o", out, "--function", "area_opening", "--arg", "area=30",
            "--workers", 0, "--force", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    assert {row["status"] for row in summary(out).values()} == {"done"}
    expected = foresting.area_opening(foresting.read_image(images / "im1.pgm"), 30)
    assert np.array_equal(foresting.read_image(out / "im1" / "result-1.pgm"), expected[0])
    assert not [p for p in out.iterdir() if p.name.startswith(".")]


def test_bad_arguments_exit_2(tmp_path, images):
    for args in (["--sower", "regMax", 1], ["--sower", "nope"], ["--function", "nope"],
                 ["--function", "label", "--sieve", 1, 1]):
        r = cli(images, "-o", tmp_path / "o", *args, cwd=tmp_path)
        assert r.returncode == 2, args


SLOW = '''
import time, foresting

def slow_opening(image):
    time.sleep(0.4)
    return foresting.area_opening(image, 25)[0]
'''


def test_a_worker_killed_mid_run_loses_nothing(tmp_path, data, monkeypatch):
    (tmp_path / "helpers").mkdir()
    (tmp_path / "helpers" / "slowmod.py").write_text(SLOW)
    monkeypatch.syspath_prepend(str(tmp_path / "helpers"))
    package = os.path.dirname(os.path.dirname(os.path.abspath(foresting.__file__)))
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(tmp_path / "helpers"), package,
                                                      os.environ.get("PYTHONPATH", "")]))
    import slowmod

    folder = tmp_path / "in"
    folder.mkdir()
    coins = foresting.read_image(data / "coins.pgm")
    for k in range(10):
        foresting.write_image(folder / f"c{k:02d}.pgm", np.roll(coins, 9 * k, axis=0))
    fb.run([folder], tmp_path / "one", slowmod.slow_opening, workers=0, progress=False)

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        pids = list(client.run(os.getpid).values())
        out = tmp_path / "two"

        def kill_when_busy():
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                if out.exists() and any(f"-{pids[0]}-" in p.name for p in out.iterdir()):
                    os.kill(pids[0], signal.SIGKILL)
                    return
                time.sleep(0.02)

        killer = threading.Thread(target=kill_when_busy)
        killer.start()
        records = fb.run([folder], out, slowmod.slow_opening, client=client, progress=False)
        killer.join()
        # the command line on the same cluster, through its address
        r = cli(folder / "c0*.pgm", "-o", tmp_path / "three", "--function", "area_closing",
                "--arg", "area=25", "--scheduler", cluster.scheduler_address, cwd=tmp_path)
        assert r.returncode == 0, r.stderr
        assert [row["status"] for row in summary(tmp_path / "three").values()] == ["done"] * 10
    assert [r["status"] for r in records] == ["done"] * 10
    assert any("interrupted" in r["message"] for r in records)
    assert tree(out) == tree(tmp_path / "one")


def test_an_attempt_cleans_up_after_a_lost_one_and_keeps_a_finished_one(tmp_path, images):
    out = tmp_path / "out"
    (out / ".im0.partial-host-1-abc").mkdir(parents=True)
    task = fb.Pipeline(["regMin", 0, 60], sieve=(0, 1))
    r = fb.process(str(images / "im0.pgm"), str(out), task)
    assert r["status"] == "done" and "interrupted" in r["message"]
    assert sorted(p.name for p in out.iterdir()) == ["im0"]
    stamp = (out / "im0" / "filtered.pgm").stat().st_mtime_ns
    r = fb.process(str(images / "im0.pgm"), str(out), task)
    assert r["status"] == "done" and "earlier attempt" in r["message"]
    assert (out / "im0" / "filtered.pgm").stat().st_mtime_ns == stamp
