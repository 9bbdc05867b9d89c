"""Distance transform and skeletons: (row, column) order, labels and
predecessors against brute-force numpy versions, and bad input raising."""

import numpy as np
import pytest

import foresting


def blobs(rng, shape=(13, 17)):
    return (rng.random(shape) < 0.7).astype(np.uint8)


def test_distance_transform_is_the_squared_distance_to_the_labelled_seed(rng, coins):
    for b in (blobs(rng), (coins[30:60, 40:85] > 100).astype(np.uint8)):
        for connectivity in (4, 8):
            d = foresting.distance_transform(b, connectivity=connectivity)
            rows, cols = np.nonzero(b == 0)
            yy, xx = np.mgrid[:b.shape[0], :b.shape[1]]
            assert d.distances.dtype == d.labels.dtype == d.predecessors.dtype == np.int32
            assert d.predecessors.shape == b.shape + (2,)
            # labels number the background pixels in raster order from 1
            seed = d.labels - 1
            assert (seed >= 0).all()
            np.testing.assert_array_equal(d.labels[rows, cols], np.arange(1, rows.size + 1))
            np.testing.assert_array_equal(d.distances, (yy - rows[seed]) ** 2 + (xx - cols[seed]) ** 2)
            exact = ((yy[..., None] - rows) ** 2 + (xx[..., None] - cols) ** 2).min(axis=2)
            assert (d.distances >= exact).all() and (d.distances == exact).mean() > 0.9
            step = np.abs(d.predecessors - np.stack([yy, xx], axis=2)).max(axis=2)
            assert step.max() == 1 and (step[b == 0] == 0).all()


def test_distance_transform_with_given_seeds_and_unreached_pixels():
    d = foresting.distance_transform(np.ones((3, 5), np.uint8), seeds=([(0, 4)], [7]))
    np.testing.assert_array_equal(d.labels, np.full((3, 5), 7))
    assert d.distances[2, 0] == 4 + 16
    d = foresting.distance_transform(np.ones((2, 3), np.uint8))
    assert (d.distances == 2**31 - 1).all() and (d.labels == 0).all()


def test_skeletons_lie_on_their_side_and_reconstruct_the_object(coins):
    b = (coins[20:70, 30:90] > 120).astype(np.uint8) * 255
    inside, largest = foresting.skeleton(b, "inside")
    outside, _ = foresting.skeleton(b, "outside")
    both, _ = foresting.skeleton(b, "both")
    assert inside.dtype == np.int32 and inside.shape == b.shape and largest > 0
    assert (b[inside > 0] > 0).all() and (b[outside > 0] == 0).all()
    np.testing.assert_array_equal(both > 0, (inside > 0) | (outside > 0))
    pruned, _ = foresting.skeleton(b, "inside", largest)
    assert np.count_nonzero(pruned) < np.count_nonzero(inside)
    assert foresting.skeleton(np.zeros((5, 5), np.uint8))[1] == 0


def test_skeleton_reconstruction_is_the_union_of_closed_discs(rng):
    s = np.zeros((15, 19), np.int32)
    s[rng.integers(0, 15, 6), rng.integers(0, 19, 6)] = rng.integers(1, 12, 6)
    yy, xx = np.mgrid[:15, :19]
    expected = np.zeros(s.shape, bool)
    for r, c in zip(*np.nonzero(s)):
        expected |= (yy - r) ** 2 + (xx - c) ** 2 <= s[r, c]
    out = foresting.skeleton_reconstruction(s)
    assert out.dtype == bool
    np.testing.assert_array_equal(out, expected)


def test_inner_contour_seeds_are_the_inner_contour_in_raster_order():
    b = np.zeros((7, 9), np.uint8)
    b[2:5, 2:8] = 255
    s = foresting.inner_contour_seeds(b)
    inner = b > 0
    inner[3, 3:7] = False
    np.testing.assert_array_equal(s.coords, np.argwhere(inner))
    np.testing.assert_array_equal(np.sort(s.labels), np.arange(1, len(s) + 1))
    assert (s.costs == 0).all()


@pytest.mark.parametrize("call, message", [
    (lambda: foresting.distance_transform(np.zeros((3, 3, 3), np.uint8)), "2-D"),
    (lambda: foresting.distance_transform(np.zeros((3, 3)), ), "integers"),
    (lambda: foresting.distance_transform(np.zeros((3, 3), np.uint8), connectivity=6), "4 or 8"),
    (lambda: foresting.distance_transform(np.zeros((3, 3), np.uint8), seeds=[(0, 3)]), "outside"),
    (lambda: foresting.skeleton(np.zeros((3, 3), np.uint8), "middle"), "kind"),
    (lambda: foresting.skeleton(np.zeros((3, 3), np.uint8), "inside", -1), "threshold"),
    (lambda: foresting.skeleton_reconstruction(np.full((3, 3), -1, np.int32)), "below 0"),
])
def test_bad_input_raises(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_shortest_path_runs_from_target_back_to_source():
    b = np.zeros((9, 12), np.uint8)
    b[2:7, 1:11] = 255
    path = foresting.euclidean_shortest_path(b, (3, 2), (5, 9))
    assert path.dtype == np.int32 and path[3, 2] == 0 and path[5, 9] == 7 ** 2 + 2 ** 2
    on = np.argwhere(path > 0)
    assert (b[path > 0] > 0).all() and len(on) == 7
    assert (foresting.euclidean_shortest_path(b, (3, 2), (0, 0)) == 0).all()
    with pytest.raises(ValueError, match="outside"):
        foresting.euclidean_shortest_path(b, (3, 2), (5, 12))


def test_histogram_by_skeleton_and_its_files(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    b = np.zeros((9, 12), np.uint8)
    b[2:7, 1:11] = 255
    (tmp_path / "w").mkdir()
    h = foresting.histogram_by_skeleton(b, 10, workdir=tmp_path / "w")
    assert h.dtype == np.float32 and h.size > 0 and abs(float(h.sum()) - 1) < 1e-5
    assert sorted(p.name for p in tmp_path.iterdir()) == ["w"]
    assert sorted(p.name for p in (tmp_path / "w").iterdir()) == ["edt.pgm", "skel.pgm"]
    assert foresting.histogram_by_skeleton(np.zeros((4, 4), np.uint8), 10).size == 0
    with pytest.raises(ValueError, match="percent"):
        foresting.histogram_by_skeleton(b, 101)


def test_euclidean_skeleton_outputs_and_checks():
    b = np.zeros((9, 12), np.uint8)
    b[2:7, 1:11] = 255
    seeds = foresting.inner_contour_seeds(b)
    labels, dist, preds, mask = foresting.euclidean_skeleton(b, seeds, error=1.0)
    assert labels.dtype == dist.dtype == np.int32 and mask.dtype == bool and preds.shape == b.shape + (2,)
    np.testing.assert_array_equal(dist[b == 0], 2**31 - 1)
    assert mask.any() and (b[mask] > 0).all()
    np.testing.assert_array_equal(labels[seeds.coords[:, 0], seeds.coords[:, 1]], seeds.labels)
    with pytest.raises(ValueError, match="error"):
        foresting.euclidean_skeleton(b, seeds, error=-1)


def test_contour_following_and_propagation_agree_with_the_contour_seeds():
    b = np.zeros((9, 14), np.uint8)
    b[1:5, 1:6] = 255
    b[4:8, 8:13] = 255
    s = foresting.contour_following(b)
    assert s.object.dtype == bool and s.coords.dtype == np.int32
    np.testing.assert_array_equal(s.positions, np.arange(1, len(s.positions) + 1))
    assert set(s.contours) == {1, 2}
    np.testing.assert_array_equal(np.sort(s.coords.view("i4,i4"), axis=0),
                                  np.sort(foresting.inner_contour_seeds(b).coords.astype(np.int32).view("i4,i4"), axis=0))
    seeds, positions, distances, preds, contours = foresting.contour_propagation(b)
    r, c = seeds.coords[:, 0], seeds.coords[:, 1]
    np.testing.assert_array_equal(positions[r, c], seeds.positions)
    np.testing.assert_array_equal(contours[r, c], seeds.contours)
    assert (distances[r, c] == 0).all() and distances.dtype == np.int32 and preds.shape == b.shape + (2,)


def test_skeleton_ift_outputs_and_checks(coins):
    a = coins[10:40, 20:60]
    seeds = ([(3, 4), (20, 30)], [5, 9], [0, 2])
    labels, costs, preds, mask = foresting.skeleton_ift(a, seeds, contour_mode=False, weight="watershed",
                                                        path_cost="max", connectivity=4)
    assert labels.dtype == costs.dtype == np.int32 and mask.dtype == bool and preds.shape == a.shape + (2,)
    assert set(np.unique(labels)) == {5, 9} and labels[3, 4] == 5 and labels[20, 30] == 9
    np.testing.assert_array_equal(preds[3, 4], [3, 4])
    with pytest.raises(ValueError, match="weight"):
        foresting.skeleton_ift(a, seeds, weight="cosine")
    with pytest.raises(ValueError, match="costs"):
        foresting.skeleton_ift(a, ([(0, 0)], [1], [-1]))


def test_distance_transform_edt_equals_scipy_ties_included(rng):
    ndimage = pytest.importorskip("scipy.ndimage")
    shapes = [(1, 1), (1, 50), (50, 1), (3, 40), (31, 27), (64, 9)]
    for trial in range(60):
        shape = shapes[trial % len(shapes)]
        # Sparse zeros leave many pixels equidistant from several of them.
        a = (rng.random(shape) > (0.002, 0.05, 0.5, 0.97)[trial % 4]).astype(
            (np.uint8, np.int32, np.float64, bool, np.int64)[trial % 5])
        a.flat[rng.integers(a.size)] = 0
        expected, expected_indices = ndimage.distance_transform_edt(a, return_indices=True)
        distances, indices, labels = foresting.distance_transform_edt(a, return_indices=True, return_labels=True)
        assert distances.dtype == np.float64 and indices.dtype == expected_indices.dtype
        np.testing.assert_array_equal(distances, expected)
        np.testing.assert_array_equal(indices, expected_indices)
        zeros = np.zeros(a.shape, np.int32)
        zeros[a == 0] = np.arange(1, np.count_nonzero(a == 0) + 1)
        np.testing.assert_array_equal(labels, zeros[indices[0], indices[1]])
    np.testing.assert_array_equal(foresting.distance_transform_edt(a[:, ::-1]),
                                  ndimage.distance_transform_edt(a[:, ::-1]))


def test_distance_transform_edt_without_zeros_and_bad_input():
    d, i, labels = foresting.distance_transform_edt(np.ones((2, 3)), return_indices=True, return_labels=True)
    assert np.isinf(d).all() and (i == -1).all() and (labels == 0).all()
    assert foresting.distance_transform_edt(np.zeros((2, 3), bool)).tolist() == [[0.0] * 3] * 2
    for bad in (np.zeros(4), np.zeros((2, 2, 2)), np.zeros((0, 3)), np.array([["a"]])):
        with pytest.raises(ValueError):
            foresting.distance_transform_edt(bad)
