"""The thread setting, and every threaded operator giving with 1, 2, 3 and 7
threads what it gives with one, on images of awkward sizes."""

import os
import subprocess
import sys

import numpy as np
import pytest

import foresting


@pytest.fixture
def one_thread():
    previous = foresting.set_num_threads(1)
    yield
    foresting.set_num_threads(previous)


def awkward_images(rng):
    # One row, one column, fewer rows than threads, a tiny and a plain block;
    # large enough for the operators to cut them into several stripes.
    for shape in ((1, 250000), (250000, 1), (3, 90000), (2, 1), (500, 600)):
        yield rng.integers(0, 4, shape).astype(np.int32)
        yield (rng.random(shape) < 0.995).astype(np.uint8)


OPERATORS = {
    "distance_transform_edt": lambda a: foresting.distance_transform_edt(a, return_indices=True,
                                                                         return_labels=True),
    "label": lambda a: foresting.label(a),
    "regional_minima": lambda a: foresting.regional_minima(a),
    "regional_maxima": lambda a: foresting.regional_maxima(a),
}


@pytest.mark.parametrize("name", sorted(OPERATORS))
def test_threaded_operators_equal_one_thread(name, rng, one_thread, capfd):
    operator = OPERATORS[name]
    for a in awkward_images(rng):
        foresting.set_num_threads(1)
        expected = operator(a)
        for threads in (2, 3, 7):
            foresting.set_num_threads(threads)
            got = operator(a)
            for e, g in zip(expected if isinstance(expected, tuple) else (expected,),
                            got if isinstance(got, tuple) else (got,)):
                np.testing.assert_array_equal(g, e)
    capfd.readouterr()


def test_setting_wins_over_environment_and_bad_counts_raise(one_thread):
    assert foresting.set_num_threads(5) == 1
    assert foresting.get_num_threads() == 5
    assert foresting.set_num_threads(10**6) == 5
    assert foresting.get_num_threads() == 256
    for bad in (-1, 1.5, "2", True):
        with pytest.raises(ValueError):
            foresting.set_num_threads(bad)
    code = "import foresting; print(foresting.get_num_threads(), foresting.set_num_threads(None))"
    env = dict(os.environ, FORESTING_NUM_THREADS="3")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["3", "0"]
    env["FORESTING_NUM_THREADS"] = "lots"
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert int(out.stdout.split()[0]) >= 1
