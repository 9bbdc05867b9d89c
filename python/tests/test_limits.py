"""Numbers that size memory or work: the largest value that can still change
the result and huge ones (10**9, 2**31 - 1) give the same result at once on
a small image, or a clear error before anything is allocated."""

import os
import time

import numpy as np
import pytest

import foresting as f

HUGE = (10**9, 2**31 - 1)
ROWS, COLS = 7, 9
REACH = (ROWS - 1) ** 2 + (COLS - 1) ** 2  # squared diagonal: a disc this large covers the image
N = ROWS * COLS


def _sensible(nbytes):
    return nbytes <= os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 4


def _same(a, b):
    if isinstance(a, tuple):
        assert len(a) == len(b)
        for x, y in zip(a, b):
            _same(x, y)
    elif a is None or isinstance(a, (int, float)):
        assert a == b
    else:
        np.testing.assert_array_equal(a, b)


@pytest.fixture(scope="module")
def x():
    rng = np.random.default_rng(3)
    grey = rng.integers(0, 256, (ROWS, COLS)).astype(np.uint8)
    binary = np.zeros((ROWS, COLS), np.uint8)
    binary[1:6, 2:8] = 1
    labels = f.label(f.threshold(grey, 0, 120))[0]
    graph = f.region_areas(f.region_graph(labels))
    return dict(g=grey, b=binary, graph=graph, tree=f.graph_mst(graph), forest=f.graph_ift(graph, ([1], [1])),
                seeds=f.frame_seeds(grey.shape), contour=f.contour_seeds(binary))


# (name, call of the value, the largest value that can change the result)
SAME = [
    ("dilation", lambda x, v: f.dilation(x["g"], v), REACH),
    ("erosion", lambda x, v: f.erosion(x["g"], v), REACH),
    ("opening", lambda x, v: f.opening(x["g"], v), REACH),
    ("closing", lambda x, v: f.closing(x["g"], v), REACH),
    ("alternating_filter oc", lambda x, v: f.alternating_filter(x["g"], v), REACH),
    ("alternating_filter co", lambda x, v: f.alternating_filter(x["g"], v, "co"), REACH),
    ("cell_seeds", lambda x, v: f.cell_seeds(x["g"], v), REACH),
    ("area_opening", lambda x, v: f.area_opening(x["g"], v), N + 1),
    ("area_opening local", lambda x, v: f.area_opening(x["g"], v, local=True), N + 1),
    ("area_closing", lambda x, v: f.area_closing(x["g"], v), N + 1),
    ("skeleton threshold", lambda x, v: f.skeleton(x["b"], threshold=v), REACH),
    ("euclidean_skeleton seed_distance", lambda x, v: f.euclidean_skeleton(x["b"], x["contour"], seed_distance=v),
     REACH),
    ("euclidean_skeleton error", lambda x, v: f.euclidean_skeleton(x["b"], x["contour"], error=float(v)), REACH),
    ("eliminate_small_regions", lambda x, v: f.eliminate_small_regions(x["graph"], v, v), N),
    ("cut_tree", lambda x, v: f.cut_tree(x["tree"], v), 2**31 - 2),
    ("cut_tree_regions", lambda x, v: f.cut_tree_regions(x["tree"], v), N),
    ("cut_forest", lambda x, v: f.cut_forest(x["forest"], float(v)), 2**31 - 2),
    ("cut_mst", lambda x, v: f.cut_mst(*f.mst(x["g"]), float(v)), 2**31 - 2),
    ("regional_maxima_seeds", lambda x, v: f.regional_maxima_seeds(x["g"], -v, v), 255),
    ("threshold", lambda x, v: f.threshold(x["g"], -v, v), 255),
    ("sieve reference_max", lambda x, v: f.sieve(x["g"], x["g"], x["seeds"], cut_domes=False, reference_max=v), 255),
    ("ift max_cost (library rule)", lambda x, v: f.ift(x["g"], x["seeds"], max_cost=min(v, 2**31 - 2)), 255),
    ("fuzzy_weights", lambda x, v: f.fuzzy_weights(x["g"], v, v), 2**31 - 2),
    ("ift_arc_weights max_cost (max)", lambda x, v: f.ift_arc_weights(x["g"], x["seeds"], *f.arc_weights(x["g"]),
                                                                     max_cost=min(v, 2**31 - 2)), 2**20),
    ("ift_merging max_cost (max)", lambda x, v: f.ift_merging(x["g"], x["seeds"], max_cost=min(v, 2**31 - 2)),
     2**20),
]


@pytest.mark.parametrize("name, call, largest", SAME, ids=[s[0] for s in SAME])
def test_huge_values_give_the_largest_sensible_values_result_at_once(x, name, call, largest, tmp_path,
                                                                      monkeypatch):
    monkeypatch.chdir(tmp_path)  # cell_seeds writes labeled.pgm where it runs
    want = call(x, largest)
    for v in HUGE:
        start = time.perf_counter()
        _same(call(x, v), want)
        assert time.perf_counter() - start < 2, (name, v)


def test_disc_filters_beyond_the_diagonal_are_the_global_extremes(x):
    g = x["g"]
    for v in HUGE:
        assert (f.dilation(g, v) == g.max()).all() and (f.erosion(g, v) == g.min()).all()
        assert len(np.unique(f.alternating_filter(g, v))) == 1


# (name, call of the value, bytes the value asks for, the error)
REFUSED = [
    ("ift max_cost (generic queue)", lambda x, v: f.ift(x["g"], x["seeds"], weight="euclidean", path_cost="sum",
                                                         max_cost=min(v, 2**31 - 2)), lambda v: 8 * v, MemoryError),
    ("ift_merging max_cost (sum)", lambda x, v: f.ift_merging(x["g"], x["seeds"], weight="euclidean",
                                                               path_cost="sum", max_cost=min(v, 2**31 - 2)),
     lambda v: 8 * v, MemoryError),
    ("histogram bins", lambda x, v: f.histogram(np.array([[v, 0]], np.int64)), lambda v: 16 * v, MemoryError),
    ("region_graph vertices", lambda x, v: f.region_graph(np.array([[0, v]], np.int64)), lambda v: 16 * v,
     MemoryError),
    ("add_border", lambda x, v: f.add_border(x["g"], v), lambda v: 4 * v * v, ValueError),
    ("add_border memory", lambda x, v: f.add_border(x["g"], 20000), lambda v: 6 * 40000**2, MemoryError),
    ("remove_border", lambda x, v: f.remove_border(x["g"], v), lambda v: 0, ValueError),
    ("frame_seeds shape", lambda x, v: f.frame_seeds((v, v)), lambda v: 0, ValueError),
]


@pytest.mark.parametrize("name, call, nbytes, error", REFUSED, ids=[r[0] for r in REFUSED])
def test_values_that_need_too_much_memory_fail_clearly_at_once(x, name, call, nbytes, error, capfd):
    for v in HUGE:
        if error is MemoryError and _sensible(nbytes(v)):
            continue  # a machine that can hold it
        start = time.perf_counter()
        with pytest.raises(error, match=r"memory|allocate|pixels|leaves nothing"):
            call(x, v)
        assert time.perf_counter() - start < 2, (name, v)
    capfd.readouterr()
