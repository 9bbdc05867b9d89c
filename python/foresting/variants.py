"""Variants of the image foresting transform: a fixed bucket queue with arc
weights scaled by 49, arc-weight images computed once and reused, masks that
restrict the forest to some pixels, and the merging IFT that also builds the
graph of touching regions. The arc-weight functions compute those images."""

import numpy as np

from . import _foresting
from ._checks import integer_image, int_arg, non_negative, same_size, seeds_for
from .ift import WEIGHTS, PATH_COSTS

__all__ = ["ift_normalized", "ift_arc_weights", "ift_merging", "arc_weights",
           "ARC_WEIGHTS", "CRITERIA"]

ARC_WEIGHTS = ("euclidean", "gaussian", "gaussian2", "watershed")
CRITERIA = ("area", "volume", "colour")


def _adjacency(adjacency):
    if adjacency not in (4, 8):
        raise ValueError(f"adjacency must be 4 or 8, not {adjacency!r}")
    return int(adjacency)


def _choice(value, choices, name):
    if value not in choices:
        raise ValueError(f"{name} must be one of {choices}, not {value!r}")
    return value


def _mask(mask, a):
    if mask is None:
        return None
    m = integer_image(mask, "mask", colour=False)
    same_size(a, m, "image", "mask")
    return m


def ift_normalized(image, seeds, adjacency=8, weight="euclidean", path_cost="sum", mask=None):
    """The IFT with 50000 buckets and every arc weight, which must lie in
    0 .. 1020, entering the path cost times 49.

    seeds: (coords, labels[, costs]) with (row, column) coordinates, or an
    (n, 2) coordinate array (labels 1, 2, ...); later seeds on a pixel win.
    mask: optional 2-D array of the image's size; only pixels with a value
    other than 0 join the forest, and a seed needs a value above 0.

    Returns ``(labels, costs, predecessors)``, int32 (rows, columns) arrays;
    predecessors are raster indices (row * columns + column). A weight out of
    range raises ValueError.
    """
    a = non_negative(integer_image(image))
    _choice(weight, WEIGHTS, "weight")
    _choice(path_cost, PATH_COSTS, "path_cost")
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    m = _mask(mask, a)
    return _foresting.ift_normalized(a, s.coords, s.labels, s.costs, _adjacency(adjacency), weight,
                                     path_cost, m)


def arc_weights(image, adjacency=8, kind="euclidean"):
    """The weight of every arc of the 4- or 8-neighbourhood, computed once.

    kind: ``'euclidean'`` (min(e, 1000) with e the truncated root of the
    mean squared band difference), ``'gaussian'`` ((1 - exp(-e^2 / 10000))
    * 1000), ``'gaussian2'`` (0 for a band-0 difference d <= 3, else
    min(1000, (1 - exp(-(d - 3)^2 / 0.5)) * 1000)) or ``'watershed'`` (the
    band-0 value at the arc's end).

    Returns ``(weights, displacements)``: int32 (rows, columns, n) weights,
    -1 where the arc leaves the image, and the int32 (n, 2) (row, column)
    displacement of each arc. Both can go back to :func:`ift_arc_weights`.
    """
    a = non_negative(integer_image(image))
    _choice(kind, ARC_WEIGHTS, "kind")
    return _foresting.arc_weights(a, _adjacency(adjacency), kind)


def _weights(weights, displacements, a):
    w = np.asarray(weights)
    if w.ndim != 3:
        raise ValueError(f"weights must be a (rows, columns, arcs) array, not {w.ndim}-D")
    if w.dtype.kind not in "ui":
        raise ValueError(f"weights must be integers, not {w.dtype}")
    same_size(a, w, "image", "weights")
    if w.shape[2] < 1:
        raise ValueError("weights must hold at least one arc")
    if w.size and (int(w.min()) < -1 or int(w.max()) > 2**31 - 2):
        raise ValueError("weights must lie in -1 (no arc) .. 2147483646")
    d = np.asarray(displacements)
    if d.shape != (w.shape[2], 2):
        raise ValueError(f"displacements must be ({w.shape[2]}, 2) (row, column) pairs, not shape {d.shape}")
    if d.dtype.kind not in "ui":
        raise ValueError(f"displacements must be integers, not {d.dtype}")
    if (np.abs(d[:, 0].astype(np.int64)) >= a.shape[0]).any() or \
            (np.abs(d[:, 1].astype(np.int64)) >= a.shape[1]).any():
        raise ValueError("a displacement is larger than the image")
    return (np.ascontiguousarray(w, dtype=np.int32), np.ascontiguousarray(d, dtype=np.int32))


def ift_arc_weights(image, seeds, weights, displacements, path_cost="max", mask=None,
                    max_cost=None, normalized=False):
    """The IFT over the arcs of an arc-weight image (see :func:`arc_weights`):
    from each pixel an arc along every displacement whose weight is not -1.

    Without a mask the bucket queue has max(max_cost + 1, largest weight + 1,
    largest seed cost + 1) buckets, max_cost defaulting to 1000. With a mask
    (``normalized`` is then implied) or ``normalized=True`` the weights enter
    the path cost times 49 and the queue has at least 50000 buckets.

    Returns ``(labels, costs, predecessors)`` as :func:`ift_normalized`.
    """
    a = non_negative(integer_image(image))
    _choice(path_cost, PATH_COSTS, "path_cost")
    w, d = _weights(weights, displacements, a)
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    m = _mask(mask, a)
    if normalized and m is None:
        m = np.ones(a.shape[:2], np.uint8)
    if m is not None and w.size and int(w.max()) * 49 > 2**31 - 1:
        raise ValueError("weights times 49 must fit in int32")
    mc = -1 if max_cost is None else int_arg(max_cost, "max_cost", 0, 2**31 - 2)
    return _foresting.ift_arc_weights(a, s.coords, s.labels, s.costs, w, d, path_cost, m, mc)


def ift_merging(image, seeds, data=None, criterion="area", adjacency=8, weight="watershed",
                path_cost="max", max_cost=None):
    """The IFT that merges regions as it grows them and returns the graph of
    the labels that met.

    Every finished pixel joins its predecessor's region; at the first contact
    of two regions of different labels an edge between the two labels is
    weighted by the criterion and the regions merge. criterion: ``'area'``
    (the smaller pixel count), ``'volume'`` (the smaller volume filled up to
    the contact level of band 0 of ``data``) or ``'colour'`` (largest
    difference of the band means of ``data``, which must be colour).
    data defaults to the image; seed labels must be 0 or more.

    Returns ``(labels, costs, predecessors, edges, edge_weights,
    n_vertices)``: the forest as :func:`ift_normalized`, int32 (m, 2) edges
    (u < v) and their int32 weights, and the vertex count of the graph.
    """
    a = non_negative(integer_image(image))
    _choice(weight, WEIGHTS, "weight")
    _choice(path_cost, PATH_COSTS, "path_cost")
    _choice(criterion, CRITERIA, "criterion")
    dt = a if data is None else non_negative(integer_image(data, "data"), "data")
    same_size(a, dt, "image", "data")
    if criterion == "colour" and dt.ndim != 3:
        raise ValueError("the colour criterion needs (rows, columns, 3) data")
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    if len(s) and int(s.labels.min()) < 0:
        raise ValueError("seed labels must be 0 or more")
    if max_cost is None:
        top = int(a.max()) - int(a.min()) if weight in ("euclidean", "max") else int(a.max())
        max_cost = min(max(17 if weight == "chamfer" else top, int(s.costs.max()) if len(s) else 0),
                       2**31 - 2)
    max_cost = int_arg(max_cost, "max_cost", 0, 2**31 - 2)
    return tuple(_foresting.ift_merging(dt, a, s.coords, s.labels, s.costs, _adjacency(adjacency),
                                        weight, path_cost, max_cost, criterion))
