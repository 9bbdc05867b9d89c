"""Region graphs, their features, and minimum spanning forests with their
cuts.

A graph is a :class:`Graph` of plain arrays: ``arcs`` (m, 2) int32 and
``weights`` (m,) int32 hold every entry of every vertex's edge list in list
order (an undirected edge appears as (u, v) and as (v, u)), ``features``
(vertices, features) int32, and ``labels`` the (rows, columns) int32 label
image of the regions (pixel value = vertex) or None. Graphs returned here
go back in unchanged and give the library's results exactly."""

from typing import NamedTuple, Optional

import numpy as np

from . import _foresting
from ._checks import integer_image, int_arg, non_negative, same_size, seeds_for, INT32_MAX
from .ift import WEIGHTS, PATH_COSTS

__all__ = ["Graph", "region_graph", "eliminate_small_regions", "region_areas", "region_volumes",
           "region_mean_colours", "normalize_features", "graph_gradient", "collapse_graph",
           "graph_mst", "graph_ift", "cut_tree", "cut_tree_regions", "cut_forest",
           "mst", "mst_arc_weights", "cut_mst", "GRAPH_DISTANCES",
           "features_image", "region_mean_image", "normalize_bands"]

GRAPH_DISTANCES = ("euclidean", "min", "watershed")


class Graph(NamedTuple):
    """A graph as arrays (see the module's documentation)."""

    arcs: np.ndarray
    weights: np.ndarray
    features: np.ndarray
    labels: Optional[np.ndarray]

    @property
    def n_vertices(self):
        return int(self.features.shape[0])

    def edges(self):
        """Undirected edges (u < v, each once) and their weights."""
        keep = self.arcs[:, 0] < self.arcs[:, 1]
        return self.arcs[keep], self.weights[keep]


def _int32(a, name, ndim):
    a = np.asarray(a)
    if a.ndim != ndim:
        raise ValueError(f"graph {name} must be {ndim}-D, not {a.ndim}-D")
    if a.dtype.kind not in "ui":
        raise ValueError(f"graph {name} must be integers, not {a.dtype}")
    if a.size and (int(a.min()) < -2**31 or int(a.max()) > INT32_MAX):
        raise ValueError(f"graph {name} must fit in int32")
    return np.ascontiguousarray(a, dtype=np.int32)


def _graph_args(g):
    if not isinstance(g, tuple) or len(g) != 4:
        raise ValueError("a graph must be a Graph (arcs, weights, features, labels)")
    arcs, weights, features, labels = g
    features = _int32(features, "features", 2)
    n = features.shape[0]
    if n < 1:
        raise ValueError("a graph needs at least one vertex")
    arcs = _int32(np.asarray(arcs).reshape(-1, 2) if np.asarray(arcs).size == 0 else arcs, "arcs", 2)
    if arcs.shape[1] != 2:
        raise ValueError(f"graph arcs must be (m, 2), not {arcs.shape}")
    weights = _int32(weights, "weights", 1)
    if weights.shape[0] != arcs.shape[0]:
        raise ValueError(f"graph has {arcs.shape[0]} arcs but {weights.shape[0]} weights")
    if arcs.size and (int(arcs.min()) < 0 or int(arcs.max()) >= n):
        raise ValueError(f"a graph arc leads outside vertices 0 .. {n - 1}")
    if labels is not None:
        labels = non_negative(integer_image(labels, "labels", colour=False), "labels")
        if labels.size and int(labels.max()) >= n:
            raise ValueError(f"the graph's labels must lie in 0 .. {n - 1}")
    return arcs, weights, features, labels


def _graph(t):
    return Graph(*t)


def _labels_of(g):
    if g.labels is None:
        raise ValueError("this operation needs a graph with a label image")
    return g.labels


def region_graph(labels):
    """The region adjacency graph of a label image (values 0 .. max): one
    vertex per label, a weight-0 edge between labels that touch in
    8-adjacency, no features."""
    a = non_negative(integer_image(labels, "labels", colour=False), "labels")
    return _graph(_foresting.mosaic_to_graph(a))


def eliminate_small_regions(graph, max_area, max_degree):
    """Merges every region of at most max_area pixels and 1 .. max_degree
    neighbours into its neighbour with most neighbours (in vertex order) and
    returns the region graph of the result, renumbered 1, 2, ... in raster
    order."""
    args = _graph_args(graph)
    g = Graph(*args)
    _labels_of(g)
    return _graph(_foresting.eliminate_small_regions(*args, int_arg(max_area, "max_area"),
                                                     int_arg(max_degree, "max_degree")))


def region_areas(graph):
    """The graph with one feature per vertex: its region's pixel count."""
    args = _graph_args(graph)
    _labels_of(Graph(*args))
    return _graph(_foresting.graph_area(*args))


def region_volumes(graph, image):
    """The graph with one feature per vertex: the sum over its region of the
    image's largest value minus the pixel's value."""
    args = _graph_args(graph)
    a = non_negative(integer_image(image, colour=False))
    same_size(_labels_of(Graph(*args)), a, "labels", "image")
    return _graph(_foresting.graph_volume(*args, a))


def region_mean_colours(graph, image):
    """The graph with one feature per band of image: the band's truncated
    mean over the vertex's region (0 for a vertex without pixels)."""
    args = _graph_args(graph)
    a = integer_image(image)
    same_size(_labels_of(Graph(*args)), a, "labels", "image")
    return _graph(_foresting.graph_mean_colours(*args, a))


def normalize_features(graph):
    """The graph with every feature mapped linearly onto 0 .. 1000 over the
    vertices."""
    return _graph(_foresting.graph_normalized_features(*_graph_args(graph)))


def graph_gradient(graph):
    """The graph with one feature: for every vertex from 1 the largest spread
    of one feature over the vertex and its neighbours (0 for vertex 0)."""
    return _graph(_foresting.graph_gradient(*_graph_args(graph)))


def collapse_graph(graph):
    """Merges the vertices of equal feature 0: the graph of those values,
    with a directed weight-0 arc for every edge between different ones."""
    args = _graph_args(graph)
    if args[2].shape[1] < 1:
        raise ValueError("collapse_graph needs a graph with features")
    if int(args[2][:, 0].min()) < 0:
        raise ValueError("collapse_graph needs feature 0 to be 0 or more")
    return _graph(_foresting.graph_collapse(*args))


def _distance(distance, args):
    if distance not in GRAPH_DISTANCES:
        raise ValueError(f"distance must be one of {GRAPH_DISTANCES}, not {distance!r}")
    if args[2].shape[1] < 1:
        raise ValueError("graph distances need a graph with features")
    return distance


def graph_mst(graph, distance="euclidean"):
    """Minimum spanning tree of the component of vertex 1, edges weighted by
    the distance of the vertices' features: ``'euclidean'``, ``'min'`` (the
    smaller feature 0) or ``'watershed'`` (feature 0 of the arc's end). The
    result has the features label, cost and predecessor (0, 2**31 - 1,
    itself where unreached)."""
    args = _graph_args(graph)
    if args[2].shape[0] < 2:
        raise ValueError("graph_mst needs vertex 1")
    return _graph(_foresting.graph_mst(*args, _distance(distance, args)))


def graph_ift(graph, seeds, distance="euclidean", path_cost="max"):
    """The seeded IFT on a region graph. seeds: (vertices, labels[, costs])
    or an array of vertices (labels 1, 2, ...). Returns the graph with the
    features label, cost and predecessor."""
    args = _graph_args(graph)
    _distance(distance, args)
    if path_cost not in PATH_COSTS:
        raise ValueError(f"path_cost must be one of {PATH_COSTS}, not {path_cost!r}")
    n = args[2].shape[0]
    if isinstance(seeds, tuple):
        v = np.asarray(seeds[0]).reshape(-1)
        rest = tuple(seeds[1:])
    else:
        v, rest = np.asarray(seeds).reshape(-1), ()
    coords = np.stack([np.zeros_like(v), v], axis=1) if v.size else np.zeros((0, 2), np.int64)
    s = seeds_for((coords, *rest) if rest else coords, (1, n), non_negative_costs=True)
    return _graph(_foresting.graph_ift(*args, np.ascontiguousarray(s.coords[:, 1]), s.labels, s.costs,
                                       distance, path_cost))


def cut_tree(tree, threshold):
    """Cuts a tree at its edges heavier than threshold: the graph of the
    pieces (1 .. n, weight-0 edges between pieces a cut edge joined)."""
    return _graph(_foresting.graph_cut(*_graph_args(tree), int_arg(threshold, "threshold")))


def cut_tree_regions(tree, n_regions):
    """Cuts a tree at its n_regions - 1 heaviest edges (earlier met first
    among equals)."""
    return _graph(_foresting.graph_cut_regions(*_graph_args(tree), int_arg(n_regions, "n_regions", 1)))


def cut_forest(forest, threshold):
    """Keeps the forest edges (from graph_mst or graph_ift) whose cost is at
    most threshold * 1000; labels renumbered 1, 2, ... in raster order."""
    args = _graph_args(forest)
    if args[2].shape[1] < 3:
        raise ValueError("cut_forest needs a forest with label, cost and predecessor features")
    return _graph(_foresting.graph_cut_forest(*args, float(threshold)))


def mst(image, adjacency=8, weight="euclidean"):
    """Minimum spanning tree of the pixel graph from pixel (0, 0) by Prim's
    algorithm, with the generic IFT's weights (which must lie in 0 .. 1020).

    Returns ``(costs, parents)``, int32 (rows, columns): 49 times the weight
    of the arc to the parent (0 at the root, 2**31 - 1 when unreached) and
    the parent's raster index (row * columns + column)."""
    a = non_negative(integer_image(image))
    if adjacency not in (4, 8):
        raise ValueError(f"adjacency must be 4 or 8, not {adjacency!r}")
    if weight not in WEIGHTS:
        raise ValueError(f"weight must be one of {WEIGHTS}, not {weight!r}")
    return _foresting.mst(a, int(adjacency), weight)


def mst_arc_weights(weights, displacements):
    """As :func:`mst` over an arc-weight image (see ``arc_weights``):
    weights (rows, columns, n), negative for no arc, at most
    (2**31 - 2) // 49; displacements (n, 2) (row, column). An arc that leaves
    the image raises ValueError."""
    w = np.asarray(weights)
    if w.ndim != 3 or w.shape[0] < 1 or w.shape[1] < 1 or w.shape[2] < 1:
        raise ValueError(f"weights must be a (rows, columns, arcs) array, not shape {w.shape}")
    if w.dtype.kind not in "ui":
        raise ValueError(f"weights must be integers, not {w.dtype}")
    if w.size and (int(w.min()) < -2**31 or int(w.max()) > (2**31 - 2) // 49):
        raise ValueError(f"weights must be at most {(2**31 - 2) // 49}")
    d = np.asarray(displacements)
    if d.shape != (w.shape[2], 2) or d.dtype.kind not in "ui":
        raise ValueError(f"displacements must be ({w.shape[2]}, 2) integer (row, column) pairs")
    if (np.abs(d[:, 0].astype(np.int64)) >= w.shape[0]).any() or \
            (np.abs(d[:, 1].astype(np.int64)) >= w.shape[1]).any():
        raise ValueError("a displacement is larger than the image")
    return _foresting.mst_arc_weights(np.ascontiguousarray(w, dtype=np.int32),
                                      np.ascontiguousarray(d, dtype=np.int32))


def cut_mst(costs, parents, fraction):
    """Cuts a tree of :func:`mst` at fraction times its heaviest arc: every
    pixel gets the raster index of its piece's root (int32)."""
    c, p = np.asarray(costs), np.asarray(parents)
    for a, name in ((c, "costs"), (p, "parents")):
        if a.ndim != 2 or a.dtype.kind not in "ui":
            raise ValueError(f"{name} must be a 2-D integer array")
    same_size(c, p, "costs", "parents")
    if p.size and (int(p.min()) < 0 or int(p.max()) >= p.size):
        raise ValueError("parents must be raster indices inside the image")
    if c.size and (int(c.min()) < -2**31 or int(c.max()) > INT32_MAX):
        raise ValueError("costs must fit in int32")
    return _foresting.mst_cut(np.ascontiguousarray(c, dtype=np.int32), np.ascontiguousarray(p, dtype=np.int32),
                              float(fraction))


def features_image(graph):
    """Every pixel of the graph's label image given its vertex's features:
    int32 (rows, columns, features)."""
    args = _graph_args(graph)
    _labels_of(Graph(*args))
    if args[2].shape[1] < 1:
        raise ValueError("features_image needs a graph with features")
    return _foresting.graph_features_image(*args)


def region_mean_image(image, labels):
    """Every pixel given the truncated mean of each band of image over its
    label's region: int32, (rows, columns) or (rows, columns, bands)."""
    a = integer_image(image, bands_ok=True)
    lab = non_negative(integer_image(labels, "labels", colour=False), "labels")
    same_size(a, lab, "image", "labels")
    return _foresting.region_mean_image(a, lab)


def normalize_bands(image):
    """Every band mapped linearly onto 0 .. 1000 (a constant band onto 0):
    int32 (rows, columns, bands)."""
    return _foresting.features_vector(integer_image(image, bands_ok=True))
