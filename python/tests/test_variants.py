"""The IFT variants and arc-weight images: consistency with the generic IFT
binding, (row, column) order of displacements and weights, masks, the
merging IFT's graph arrays, and bad input raising."""

import numpy as np
import pytest

import foresting


def shifted(a, dr, dc):
    """a[r + dr, c + dc], -1 where that lies outside."""
    rows, cols = a.shape
    out = np.full(a.shape, -1, np.int64)
    r0, r1 = max(0, -dr), rows - max(0, dr)
    c0, c1 = max(0, -dc), cols - max(0, dc)
    out[r0:r1, c0:c1] = a[r0 + dr:r1 + dr, c0 + dc:c1 + dc]
    return out


@pytest.mark.parametrize("adjacency", [4, 8])
def test_arc_weights_follow_row_column_displacements(rng, coins, adjacency):
    for a in (rng.integers(0, 255, (7, 11)).astype(np.uint8), coins[:30, :40]):
        w, d = foresting.arc_weights(a, adjacency, "watershed")
        assert w.dtype == np.int32 and d.dtype == np.int32
        assert w.shape == a.shape + (adjacency,) and d.shape == (adjacency, 2)
        assert {tuple(x) for x in d} >= {(0, 1), (1, 0), (0, -1), (-1, 0)}
        e, _ = foresting.arc_weights(a, adjacency, "euclidean")
        for j, (dr, dc) in enumerate(d):
            q = shifted(a.astype(np.int64), int(dr), int(dc))
            np.testing.assert_array_equal(w[..., j], q)
            np.testing.assert_array_equal(e[..., j], np.where(q < 0, -1, np.minimum(np.abs(a - q), 1000)))


def test_variants_agree_with_the_generic_ift(rng, coins):
    for a in (rng.integers(0, 60, (9, 12)).astype(np.uint8), coins[:40, :50]):
        rows, cols = a.shape
        coords = np.array([[0, 0], [rows - 1, cols // 2], [rows // 2, cols - 1]])
        seeds = (coords, [3, 1, 2], a[coords[:, 0], coords[:, 1]])
        ref = foresting.ift(a, seeds, 8, "watershed", "max")
        w, d = foresting.arc_weights(a, 8, "watershed")
        for got in (foresting.ift_arc_weights(a, seeds, w, d, "max"),
                    foresting.ift_arc_weights(a, seeds, w, d, "max", max_cost=int(a.max())),
                    foresting.ift_merging(a, seeds, criterion="area")[:3]):
            for g, r in zip(got, ref):
                assert g.dtype == np.int32 and g.shape == a.shape
                np.testing.assert_array_equal(g, r)
        # Weights times 49: the same forest, costs scaled.
        ref = foresting.ift(a, seeds[:2], 8, "chamfer", "sum")
        for got in (foresting.ift_normalized(a, seeds[:2], 8, "chamfer", "sum"),
                    foresting.ift_normalized(a, seeds[:2], 8, "chamfer", "sum", mask=np.ones_like(a))):
            np.testing.assert_array_equal(got[0], ref[0])
            np.testing.assert_array_equal(got[1], 49 * ref[1])
            np.testing.assert_array_equal(got[2], ref[2])


def test_mask_keeps_the_forest_out_of_masked_pixels():
    a = np.zeros((5, 6), np.uint8)
    mask = np.ones_like(a)
    mask[:, 3] = 0
    labels, costs, preds = foresting.ift_normalized(a, ([[2, 0]], [7]), 4, "chamfer", "sum", mask=mask)
    assert (labels[:, :3] == 7).all() and (labels[:, 3:] == 0).all()
    assert (costs[:, 3:] == foresting.INFINITY_MIN).all()
    np.testing.assert_array_equal(preds[:, 3:], np.arange(30).reshape(5, 6)[:, 3:])


def test_merging_returns_the_graph_of_touching_labels(coins):
    a = coins[:40, :50]
    seeds = (np.array([[0, 0], [39, 49], [0, 49]]), [1, 2, 5])
    colour = np.stack([a, a // 2, 255 - a], axis=2)
    for criterion, data in (("area", None), ("volume", a), ("colour", colour)):
        labels, _, _, edges, weights, n = foresting.ift_merging(a, seeds, data, criterion)
        assert n == 6
        assert edges.dtype == np.int32 and edges.ndim == 2 and edges.shape[1] == 2
        assert weights.shape == (edges.shape[0],) and weights.dtype == np.int32
        assert (edges[:, 0] < edges[:, 1]).all()
        # Every edge joins labels whose zones touch.
        touching = set()
        for x, y in ((labels[:, 1:], labels[:, :-1]), (labels[1:], labels[:-1]),
                     (labels[1:, 1:], labels[:-1, :-1]), (labels[1:, :-1], labels[:-1, 1:])):
            touching |= {tuple(sorted(p)) for p in zip(x.ravel(), y.ravel()) if p[0] != p[1]}
        assert {tuple(e) for e in edges} <= touching and len(edges) > 0


def test_bad_input_raises(coins):
    a = coins[:10, :12]
    w, d = foresting.arc_weights(a, 4)
    seeds = ([[1, 1]], [1])
    bad = [
        lambda: foresting.arc_weights(a.astype(float)),
        lambda: foresting.arc_weights(a, 6),
        lambda: foresting.arc_weights(a, 4, "nope"),
        lambda: foresting.arc_weights(a.astype(np.int16) - 300),
        lambda: foresting.ift_normalized(a, ([[10, 0]], [1])),
        lambda: foresting.ift_normalized(a, seeds, mask=np.ones((3, 3))),
        lambda: foresting.ift_normalized(a.astype(np.uint16) * 20, seeds, 4, "watershed"),
        lambda: foresting.ift_arc_weights(a, seeds, w - 2, d),
        lambda: foresting.ift_arc_weights(a, seeds, w, d[:3]),
        lambda: foresting.ift_arc_weights(a, seeds, w, d * 50),
        lambda: foresting.ift_arc_weights(a, seeds, w[:5], d),
        lambda: foresting.ift_arc_weights(a, seeds, w.astype(float), d),
        lambda: foresting.ift_merging(a, ([[1, 1]], [-1])),
        lambda: foresting.ift_merging(a, seeds, criterion="colour"),
        lambda: foresting.ift_merging(a, seeds, criterion="size"),
    ]
    for i, call in enumerate(bad):
        with pytest.raises(ValueError):
            call()
    # The library's own check on weights, raised as ValueError, not an exit.
    with pytest.raises(ValueError, match="arc weight"):
        foresting.ift_normalized(a.astype(np.uint16) * 20, seeds, 4, "watershed")
