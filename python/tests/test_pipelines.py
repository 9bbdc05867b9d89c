"""The programs' pipelines as functions: byte-for-byte the programs' files."""

import numpy as np
import pytest

import foresting


def same_bytes(a, b):
    assert a.read_bytes() == b.read_bytes(), f"{a} differs from {b}"


@pytest.mark.parametrize("image, args, make", [
    ("coins.pgm", ["regMax", 230, 255], lambda im: foresting.regional_maxima_seeds(im, 230, 255)),
    ("coins.pgm", ["regMin", 0, 60], lambda im: foresting.regional_minima_seeds(im, 0, 60)),
    ("horse.pgm", ["dt"], lambda im: foresting.contour_seeds(im)),
    ("coins.pgm", ["frame", 0], lambda im: foresting.frame_seeds(im.shape)),
    ("coins.pgm", ["frame", 1, 7], lambda im: foresting.frame_seeds(im.shape, label=7)),
    ("horse.pgm", ["labels"], lambda im: foresting.label_seeds(im)),
])
def test_sower_methods_write_the_programs_roots_files(tmp_path, data, run_program, image, args, make):
    run_program("sower", [data / image, "prog.txt"] + args, tmp_path)
    im = foresting.read_image(data / image)
    foresting.write_roots(tmp_path / "py.txt", make(im), im.shape)
    same_bytes(tmp_path / "py.txt", tmp_path / "prog.txt")


def test_sower_join_and_cells_match_the_program(tmp_path, data, run_program, monkeypatch):
    cell = foresting.read_image(data / "cell.pgm")
    (tmp_path / "prog").mkdir()
    (tmp_path / "py").mkdir()
    run_program("sower", [data / "cell.pgm", "cells.txt", "cells", 2], tmp_path / "prog")
    monkeypatch.chdir(tmp_path / "py")
    seeds = foresting.cell_seeds(cell, 2)
    foresting.write_roots("cells.txt", seeds, cell.shape)
    same_bytes(tmp_path / "py" / "cells.txt", tmp_path / "prog" / "cells.txt")
    same_bytes(tmp_path / "py" / "labeled.pgm", tmp_path / "prog" / "labeled.pgm")

    run_program("sower", [data / "cell.pgm", "frame.txt", "frame", 0], tmp_path / "prog")
    run_program("sower", [data / "cell.pgm", "join.txt", "join", "cells.txt", "frame.txt"], tmp_path / "prog")
    joined = foresting.join_seeds(seeds, foresting.frame_seeds(cell.shape))
    foresting.write_roots("join.txt", joined, cell.shape)
    same_bytes(tmp_path / "py" / "join.txt", tmp_path / "prog" / "join.txt")


@pytest.mark.parametrize("cut, is_global", [(1, 1), (1, 0), (0, 1), (0, 0)])
def test_sieve_writes_the_programs_labels_and_filtered_images(tmp_path, data, run_program, cut, is_global):
    src = data / "coins.pgm"
    method = ["regMax", 200, 255] if cut else ["regMin", 0, 60]
    run_program("sower", [src, "seeds.txt", *method], tmp_path)
    run_program("sieve", [src, src, cut, is_global, "seeds.txt"], tmp_path)

    im = foresting.read_image(src)
    seeds = foresting.read_roots(tmp_path / "seeds.txt", im.shape)
    filtered, labels = foresting.sieve(im, im, seeds, cut_domes=bool(cut),
                                       mode="global" if is_global else "local")
    assert filtered.dtype == np.uint8 and labels.dtype == np.int32
    foresting.write_image(tmp_path / "py_labels.pgm", labels)
    foresting.write_image(tmp_path / "py_filtered.pgm", filtered)
    same_bytes(tmp_path / "py_labels.pgm", tmp_path / "labels.pgm")
    same_bytes(tmp_path / "py_filtered.pgm", tmp_path / "filtered.pgm")
    assert (filtered != im).any()
