"""Fuzzy connectedness: labels and costs on a two-region image, where the
debugging files go, the arc weights' layout, and bad input."""

import os

import numpy as np
import pytest

import foresting


def two_regions():
    a = np.full((8, 10), 50, np.uint8)
    a[:, 5:] = 200
    return a, ([(3, 1), (4, 8)], [1, 2])


@pytest.mark.parametrize("competitive", [False, True])
def test_objects_split_at_the_edge_and_files_go_to_workdir(tmp_path, monkeypatch, competitive):
    here, elsewhere = tmp_path / "here", tmp_path / "elsewhere"
    here.mkdir()
    elsewhere.mkdir()
    monkeypatch.chdir(here)
    a, seeds = two_regions()
    labels, costs = foresting.fuzzy_connectedness(a, seeds, [50, 200], [100, 100], competitive=competitive,
                                                  workdir=elsewhere)
    assert labels.dtype == costs.dtype == np.int32 and labels.shape == a.shape
    np.testing.assert_array_equal(labels, np.where(a == 50, 1, 2))
    assert (costs == 0).all()
    assert os.listdir(here) == [] and "tmp1.pgm" in os.listdir(elsewhere)
    assert os.getcwd() == str(here)


def test_fuzzy_weights_one_band_per_displacement():
    a = np.full((3, 4), 100, np.uint8)
    for connectivity in (4, 8):
        w = foresting.fuzzy_weights(a, 110, 50, connectivity)
        assert w.shape == (3, 4, connectivity) and w.dtype == np.int32
        expected = 255 - int(255 * np.exp(-100 / 50))
        assert set(np.unique(w)) == {0, expected}
        assert (w[1, 1:3] == expected).all()


@pytest.mark.parametrize("means, variances, message", [
    ([50, 200], [100, 0], "above 0"),
    ([50, 200], [100], "same length"),
    ([], [], "at least one"),
    ([50.5], [100], "integers"),
])
def test_bad_objects_raise(tmp_path, monkeypatch, means, variances, message):
    monkeypatch.chdir(tmp_path)
    a, seeds = two_regions()
    with pytest.raises(ValueError, match=message):
        foresting.fuzzy_connectedness(a, seeds, means, variances)
    assert os.listdir(tmp_path) == []


def test_bad_image_seeds_and_workdir_raise(tmp_path):
    a, seeds = two_regions()
    with pytest.raises(ValueError, match="outside"):
        foresting.fuzzy_connectedness(a, ([(8, 0)], [1]), [50], [100], workdir=tmp_path)
    with pytest.raises(ValueError, match="2-D"):
        foresting.fuzzy_connectedness(np.stack([a] * 3, 2), seeds, [50], [100], workdir=tmp_path)
    with pytest.raises(ValueError, match="variance"):
        foresting.fuzzy_weights(a, 50, -3)
    with pytest.raises(OSError):
        foresting.fuzzy_connectedness(a, seeds, [50], [100], workdir=tmp_path / "missing")
    assert os.listdir(tmp_path) == []
