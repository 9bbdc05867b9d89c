"""The image foresting transform: best-path forests from seeds over the
pixel graph, and the watershed from markers."""

import numpy as np

from . import _foresting
from ._checks import integer_image, grey_image, int_arg, non_negative, same_size, seeds_for

__all__ = ["ift", "watershed", "WEIGHTS", "PATH_COSTS", "INFINITY_MIN", "INFINITY_MAX"]

WEIGHTS = ("watershed", "euclidean", "max", "chamfer")
PATH_COSTS = ("max", "min", "sum", "max_local", "min_local")
INFINITY_MIN = 2**31 - 1   # cost of a pixel no seed reached, minimising
INFINITY_MAX = -2**31      # the same, maximising


def _adjacency(adjacency):
    if adjacency not in (4, 8):
        raise ValueError(f"adjacency must be 4 or 8, not {adjacency!r}")
    return int(adjacency)


def _largest_weight(a, weight):
    if weight == "chamfer":
        return 17
    if weight == "watershed":
        return int(a[..., 0].max()) if a.ndim == 3 else int(a.max())
    return int(a.max()) - int(a.min())


def ift(image, seeds, adjacency=8, weight="watershed", path_cost="max", maximize=False,
        max_cost=None):
    """The image foresting transform.

    Seeds enter in order with their costs; the least (``maximize=False``) or
    greatest path cost is served first, and a neighbour takes an offer only
    when it is strictly better, so ties go to the first seed to arrive.

    weight: the arc weight from p to q: ``'watershed'`` (the value at q,
    band 0), ``'euclidean'`` (truncated root of the mean squared band
    difference), ``'max'`` (largest band difference), ``'chamfer'`` (12 for
    a horizontal or vertical arc, 17 for a diagonal one).
    path_cost: how an arc extends a path of cost a: ``'max'``, ``'min'``,
    ``'sum'``, ``'max_local'`` (a if a >= w, else forbidden) or
    ``'min_local'`` (a if a <= w, else forbidden).
    max_cost: sizes the circular bucket queue (max_cost + 1 buckets); by
    default the largest arc weight or seed cost, which is enough when the
    costs waiting in the queue never span more than that.

    Returns ``(labels, costs, predecessors)``, int32 (rows, columns) arrays:
    the seed label, the path cost (``INFINITY_MIN`` / ``INFINITY_MAX`` where
    no seed reached) and the raster index (row * columns + column) of each
    pixel's predecessor, the pixel itself for seeds and unreached pixels.
    """
    a = non_negative(integer_image(image))
    if weight not in WEIGHTS:
        raise ValueError(f"weight must be one of {WEIGHTS}, not {weight!r}")
    if path_cost not in PATH_COSTS:
        raise ValueError(f"path_cost must be one of {PATH_COSTS}, not {path_cost!r}")
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    if max_cost is None:
        max_cost = min(max(_largest_weight(a, weight), int(s.costs.max()) if len(s) else 0), 2**31 - 2)
    max_cost = int_arg(max_cost, "max_cost", 0, 2**31 - 2)
    return _foresting.ift(a, s.coords, s.labels, s.costs, _adjacency(adjacency), weight, path_cost,
                          bool(maximize), max_cost, True, True)


def watershed(image, markers, adjacency=8):
    """Watershed zones grown from markers on a relief ``image``.

    markers: a label image of the image's size (every pixel with a positive
    value is a seed of that label, in raster order) or a seed set. Each seed
    starts at the image's value at its pixel, and a path costs the highest
    level it crosses. Returns the int32 label of the zone of every pixel.
    """
    a = non_negative(grey_image(image))
    m = None if isinstance(markers, tuple) else np.asarray(markers)
    if m is not None and m.ndim == 2 and m.shape == a.shape:
        m = grey_image(m, "markers")
        rows, cols = np.nonzero(m > 0)
        s = seeds_for((np.stack([rows, cols], axis=1), m[rows, cols]), a.shape, costs=False)
    else:
        s = seeds_for(markers, a.shape, costs=False)
    if len(s) == 0:
        raise ValueError("markers hold no seed")
    costs = np.ascontiguousarray(a[s.coords[:, 0], s.coords[:, 1]], dtype=np.int32)
    labels, _, _ = _foresting.ift(a, s.coords, s.labels, costs, _adjacency(adjacency), "watershed", "max",
                                  False, max(int(a.max()), 0), False, False)
    return labels
