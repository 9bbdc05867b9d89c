"""Region graphs and spanning forests as arrays: graphs against the labels
they come from, round trips through the arrays, the pixel MST by weights
and by arc-weight image, and bad graphs raising."""

import numpy as np
import pytest

import foresting


def touching(labels):
    """Label pairs (u < v) that touch in 8-adjacency."""
    pairs = set()
    for x, y in ((labels[:, 1:], labels[:, :-1]), (labels[1:], labels[:-1]),
                 (labels[1:, 1:], labels[:-1, :-1]), (labels[1:, :-1], labels[:-1, 1:])):
        pairs |= {(min(p), max(p)) for p in zip(x.ravel().tolist(), y.ravel().tolist()) if p[0] != p[1]}
    return pairs


def test_region_graph_and_features_follow_the_label_image(rng, coins):
    a = coins[:40, :60]
    labels = (a // 50).astype(np.int32)
    g = foresting.region_graph(labels)
    n = int(labels.max()) + 1
    assert g.n_vertices == n and g.arcs.dtype == np.int32 and g.features.shape == (n, 0)
    np.testing.assert_array_equal(g.labels, labels)
    edges, weights = g.edges()
    assert {tuple(e) for e in edges.tolist()} == touching(labels) and not weights.any()
    assert len(g.arcs) == 2 * len(edges)
    areas = foresting.region_areas(g)
    np.testing.assert_array_equal(areas.features[:, 0], np.bincount(labels.ravel(), minlength=n))
    colour = np.stack([a, 255 - a, a // 3], axis=2)
    means = foresting.region_mean_colours(g, colour).features
    for v in range(n):
        np.testing.assert_array_equal(means[v], colour[labels == v].sum(axis=0) // (labels == v).sum())
    np.testing.assert_array_equal(foresting.features_image(foresting.region_mean_colours(g, colour)),
                                  means[labels])
    np.testing.assert_array_equal(foresting.region_mean_image(colour, labels), means[labels])
    span = colour.max(axis=(0, 1)) - colour.min(axis=(0, 1))
    np.testing.assert_array_equal(foresting.normalize_bands(colour),
                                  (colour.astype(np.int64) - colour.min(axis=(0, 1))) * 1000 // span)
    vol = foresting.region_volumes(g, a).features[:, 0]
    for v in range(n):
        assert vol[v] == (int(a.max()) - a[labels == v].astype(np.int64)).sum()


def test_spanning_forests_survive_the_round_trip_through_arrays(coins):
    a = coins[:30, :40]
    labels = (a // 40).astype(np.int32)
    g = foresting.region_mean_colours(foresting.region_graph(labels), a)
    tree = foresting.graph_mst(g, "euclidean")
    assert tree.features.shape == (g.n_vertices, 3)
    copy = foresting.Graph(*(None if x is None else np.array(x, dtype=np.int64) for x in tree))
    for k in (1, 2, 3):
        cut, again = foresting.cut_tree_regions(tree, k), foresting.cut_tree_regions(copy, k)
        for x, y in zip(cut, again):
            np.testing.assert_array_equal(x, y)
        assert cut.labels.shape == labels.shape and cut.labels.dtype == np.int32
    forest = foresting.graph_ift(g, ([1, g.n_vertices - 1], [5, 9]), "euclidean", "max")
    assert forest.features[1, 0] == 5 and forest.features[g.n_vertices - 1, 0] == 9
    assert foresting.cut_forest(forest, 0.5).labels.shape == labels.shape


@pytest.mark.parametrize("adjacency", [4, 8])
def test_pixel_mst_by_weight_and_by_arc_weights_agree(rng, coins, adjacency):
    for a in (rng.integers(0, 255, (8, 11)).astype(np.uint8), coins[:30, :40]):
        costs, parents = foresting.mst(a, adjacency, "euclidean")
        assert costs.dtype == np.int32 and costs.shape == a.shape and parents[0, 0] == 0
        w, d = foresting.arc_weights(a, adjacency, "euclidean")
        c2, p2 = foresting.mst_arc_weights(w, d)
        np.testing.assert_array_equal(c2, costs)
        np.testing.assert_array_equal(p2, parents)
        # A parent is a neighbour: its raster index differs by one displacement.
        r, c = np.divmod(parents, a.shape[1])
        rows, cols = np.indices(a.shape)
        steps = {tuple(x) for x in d.tolist()} | {(0, 0)}
        assert {(int(x), int(y)) for x, y in zip((r - rows).ravel(), (c - cols).ravel())} <= steps
        roots = foresting.cut_mst(costs, parents, 0.5)
        assert (roots.ravel()[roots.ravel()] == roots.ravel()).all()
        assert len(np.unique(foresting.cut_mst(costs, parents, 1.0))) == 1


def test_bad_graphs_and_trees_raise(coins):
    labels = (coins[:10, :12] // 80).astype(np.int32)
    g = foresting.region_graph(labels)
    n = g.n_vertices
    bad = [
        lambda: foresting.region_graph(labels.astype(float)),
        lambda: foresting.region_graph(labels - 1),
        lambda: foresting.region_areas(g._replace(arcs=g.arcs + n)),
        lambda: foresting.region_areas(g._replace(weights=g.weights[:1])),
        lambda: foresting.region_areas(g._replace(labels=labels + n)),
        lambda: foresting.region_areas(g._replace(labels=None)),
        lambda: foresting.region_volumes(g, coins[:5, :5]),
        lambda: foresting.graph_mst(g, "euclidean"),
        lambda: foresting.graph_mst(foresting.region_areas(g), "cosine"),
        lambda: foresting.cut_forest(g, 0.5),
        lambda: foresting.mst(coins[:10, :10].astype(np.uint16) * 10, 4, "watershed"),
        lambda: foresting.mst(coins[:10, :10], 6),
        lambda: foresting.mst_arc_weights(np.zeros((3, 3, 1), np.int32), [[5, 0]]),
        lambda: foresting.mst_arc_weights(np.zeros((3, 3, 2), np.int32), [[1, 0]]),
        lambda: foresting.cut_mst(np.zeros((3, 3), np.int32), np.full((3, 3), 9), 0.5),
    ]
    for call in bad:
        with pytest.raises(ValueError):
            call()
