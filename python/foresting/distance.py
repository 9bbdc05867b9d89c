"""The Euclidean distance transform and the skeletons of binary images.

A binary image is a 2-D integer or bool array whose object is the pixels
above 0.
"""

import numbers
from typing import NamedTuple

import numpy as np

from . import _foresting
from .ift import PATH_COSTS, WEIGHTS
from ._checks import (INT32_MAX, as_seeds, connectivity_arg, grey_image, int_arg, non_negative, seeds_for,
                      working_directory)

__all__ = ["DistanceTransform", "distance_transform", "distance_transform_edt", "skeleton", "skeleton_reconstruction",
           "inner_contour_seeds", "ContourSeeds", "contour_following", "contour_propagation",
           "euclidean_skeleton", "skeleton_ift", "euclidean_shortest_path", "histogram_by_skeleton"]


_KINDS = {"both": 0, "inside": 1, "outside": 2}


class DistanceTransform(NamedTuple):
    """``distances`` (rows, columns) int32 squared Euclidean distances to the
    nearest seed (``2**31 - 1`` where no seed reaches); ``labels`` int32, the
    label of that seed (0 where none reaches); ``predecessors`` (rows,
    columns, 2) int32, the (row, column) of each pixel's predecessor on its
    path (a seed or an unreached pixel is its own)."""

    distances: np.ndarray
    labels: np.ndarray
    predecessors: np.ndarray



def distance_transform(image, seeds=None, connectivity=8):
    """Euclidean distance transform by an IFT: every pixel gets the squared
    length (dy² + dx²) of the path from its nearest seed, accumulated step by
    step over the `connectivity` neighbourhood (so close to, but not always
    exactly, the true Euclidean distance).

    By default the seeds are the pixels of `image` equal to 0, labelled 1, 2,
    ... in raster order, so the object pixels get their squared distance to
    the background as in ``scipy.ndimage.distance_transform_edt(image) ** 2``
    and ``labels`` names the nearest background pixel. With `seeds` given
    (see :class:`foresting.Seeds`; costs are ignored) only the size of `image`
    is used. Returns a :class:`DistanceTransform`."""
    a = grey_image(image)
    c = connectivity_arg(connectivity)
    if seeds is None:
        rows, cols = np.nonzero(a == 0)
        coords = np.stack([rows, cols], axis=1)
        s = seeds_for(coords, a.shape, costs=False)
    else:
        s = seeds_for(seeds, a.shape, costs=False)
    labels, costs, preds = _foresting.distance_transform(a, s.coords, s.labels, c)
    ncols = a.shape[1]
    pred = np.stack([preds // ncols, preds % ncols], axis=2).astype(np.int32)
    return DistanceTransform(costs, labels, pred)


def distance_transform_edt(image, return_indices=False, return_labels=False):
    """Exact Euclidean distance from every pixel of `image` to its nearest
    zero pixel, as ``scipy.ndimage.distance_transform_edt(image)`` computes
    it (2-D, unit sampling), on the library's threads
    (:func:`foresting.set_num_threads`).

    Parameters
    ----------
    image : array_like
        2-D array of booleans, integers or floats; its zeros are the seeds.
    return_indices : bool
        Also return the nearest zero of every pixel as an int32 array of
        shape (2, rows, columns): its row, then its column.
    return_labels : bool
        Also return the nearest zero's label as an int32 (rows, columns)
        array, the zeros being labelled 1, 2, ... in raster order.

    Returns
    -------
    distances : ndarray
        float64, 0 on the zeros. With either option, a tuple of the
        distances followed by the indices and/or the labels, in that order.

    Notes
    -----
    The distances are computed exactly in integers (squared) and equal
    SciPy's bit for bit. Among zeros at the same distance the one in the
    lowest column is taken, then the one in the lowest row, which is the
    choice SciPy makes. Where `image` holds no zero at all, the distances
    are infinite, the indices -1 and the labels 0 (SciPy returns values
    measured from outside the image there).

    Examples
    --------
    >>> import numpy as np, foresting
    >>> a = np.array([[0, 1, 1, 1], [1, 1, 1, 1]])
    >>> foresting.distance_transform_edt(a)[1, 3]
    3.1622776601683795
    >>> foresting.distance_transform_edt(a, return_indices=True)[1][:, 1, 3]
    array([0, 0], dtype=int32)
    """
    a = np.asarray(image)
    if a.dtype.kind not in "biufc":
        raise ValueError(f"image must hold booleans or numbers, not {a.dtype}")
    if a.ndim != 2:
        raise ValueError(f"image must be a 2-D (rows, columns) array, not {a.ndim}-D")
    if a.shape[0] < 1 or a.shape[1] < 1:
        raise ValueError("image must have at least one row and one column")
    if a.shape[0] * a.shape[1] > INT32_MAX:
        raise ValueError("image has more pixels than the library can index")
    if a.dtype.kind == "i" and a.dtype.itemsize == 4 and a.dtype.isnative and a.flags.c_contiguous:
        mask = a
    else:
        mask = np.ascontiguousarray(a != 0).view(np.uint8)
    distances, indices, labels = _foresting.exact_edt(mask, bool(return_indices), bool(return_labels))
    extra = [x for x, wanted in ((indices, return_indices), (labels, return_labels)) if wanted]
    return (distances, *extra) if extra else distances


def skeleton(image, kind="both", threshold=0):
    """Multiscale skeleton of the binary `image`: the pixels whose contour
    label difference reaches ``min(threshold, largest difference)``, inside
    the object (``kind="inside"``), outside it (``"outside"``) or both.

    Returns ``(skeleton, largest)``: an int32 array holding the squared
    distance to the contour on the skeleton pixels and 0 elsewhere, and the
    largest label difference (0, with an all-zero skeleton, when the image
    has no contour). A larger threshold prunes more branches."""
    a = grey_image(image)
    if kind not in _KINDS:
        raise ValueError(f"kind must be one of {sorted(_KINDS)}, not {kind!r}")
    t = int_arg(threshold, "threshold", 0)
    skel, largest = _foresting.skeleton(a, _KINDS[kind], t)
    return skel, int(largest)


def skeleton_reconstruction(skel):
    """Boolean union of the discs centred on the pixels of `skel` whose
    values (>= 1) are their squared radii, as :func:`skeleton` returns them.
    The library prints a line on standard output."""
    a = non_negative(grey_image(skel, "skeleton"), "skeleton")
    return _foresting.skeleton_reconstruction(a)


def inner_contour_seeds(image):
    """One seed per inner contour pixel of the binary `image`, in raster
    order, labelled with its breadth-first number along its contour (from 1,
    across contours), cost 0: a :class:`foresting.Seeds`. The library prints
    a labelling line."""
    return as_seeds(_foresting.contour_seeds(grey_image(image)))


def euclidean_skeleton(image, seeds, inner=True, error=0.0, seed_distance=0, connectivity=8):
    """Euclidean propagation from `seeds` (costs ignored) restricted to the
    object of the binary `image` (`inner`) or to its background, marking the
    pixels where two fronts meet within `error`. Returns ``(labels,
    distances, predecessors, skeleton)``: int32 labels and squared distances,
    predecessors as (rows, columns, 2) (row, column), and a boolean mask. The
    library prints a line with its parameters."""
    a = grey_image(image)
    s = seeds_for(seeds, a.shape, costs=False)
    if isinstance(error, bool) or not isinstance(error, numbers.Real) or not np.isfinite(error) or error < 0:
        raise ValueError(f"error must be a finite number of 0 or more, not {error!r}")
    d = int_arg(seed_distance, "seed_distance", 0)
    labels, costs, preds, mask = _foresting.euclidean_skeleton(a, s.coords, s.labels, connectivity_arg(connectivity),
                                                                bool(inner), float(error), d)
    ncols = a.shape[1]
    return labels, costs, np.stack([preds // ncols, preds % ncols], axis=2).astype(np.int32), mask


def _pixel(point, shape, name):
    try:
        r, c = (int_arg(v, name) for v in point)
    except (TypeError, ValueError):
        raise ValueError(f"{name} must be a (row, column) pair of integers, not {point!r}") from None
    if not (0 <= r < shape[0] and 0 <= c < shape[1]):
        raise ValueError(f"{name} ({r}, {c}) lies outside the {shape[0]} x {shape[1]} image")
    return r * shape[1] + c


def euclidean_shortest_path(image, source, target):
    """The path inside the object of the binary `image` from `source` to
    `target` ((row, column) pairs) along the predecessors of a Euclidean
    propagation from `source`: an int32 array holding, on the path's pixels
    from `target` back to (not including) `source`, their squared propagated
    distance from `source`, and 0 elsewhere (everywhere when `target` is not
    reached). The library prints two lines."""
    a = grey_image(image)
    return _foresting.shortest_path(a, _pixel(source, a.shape, "source"), _pixel(target, a.shape, "target"))




def histogram_by_skeleton(image, percent, workdir=None):
    """Normalised histogram (float32, summing to 1) of the rounded distances
    from the pixels of the binary `image`'s object to its inner skeleton
    pruned at `percent` (0..100) of the largest label difference; empty when
    the image has no contour.

    The library prints a line on stderr and writes "skel.pgm" and "edt.pgm"
    into the working directory: the current one by default, else `workdir`,
    which the process changes to for the call and back (process-wide: not
    while other threads rely on the working directory)."""
    a = grey_image(image)
    p = int_arg(percent, "percent", 0, 100)
    with working_directory(workdir):
        return _foresting.histogram_by_skeleton(a, p)


class ContourSeeds(NamedTuple):
    """The followed inner contours of a binary image: ``object`` the cleaned
    object (bool), ``coords`` (n, 2) (row, column) of the contour pixels in
    the order followed, ``positions`` their running position along the
    contours and ``contours`` their contour number (both int32, from 1)."""

    object: np.ndarray
    coords: np.ndarray
    positions: np.ndarray
    contours: np.ndarray


def _contour_seeds(t, ncols):
    obj, pixels, positions, contours = t
    coords = np.stack([pixels // ncols, pixels % ncols], axis=1).astype(np.int32).reshape(-1, 2)
    return ContourSeeds(obj, coords, positions, contours)


def contour_following(image):
    """The inner contour of the binary `image`, cleaned of the pixels without
    both an interior and a background 8-neighbour, followed contour by
    contour: a :class:`ContourSeeds`."""
    a = grey_image(image)
    return _contour_seeds(_foresting.contours(a, False), a.shape[1])


def contour_propagation(image):
    """Euclidean propagation over the whole image from the contour seeds of
    :func:`contour_following`, carrying each seed's position and contour
    number. Returns ``(seeds, positions, distances, predecessors,
    contours)``: the :class:`ContourSeeds`, then int32 images of the position
    and contour number of each pixel's nearest seed, its squared distance to
    it, and predecessors as (rows, columns, 2) (row, column)."""
    a = grey_image(image)
    seeds, positions, distances, preds, contours = _foresting.contours(a, True)
    ncols = a.shape[1]
    pred = np.stack([preds // ncols, preds % ncols], axis=2).astype(np.int32)
    return _contour_seeds(seeds, ncols), positions, distances, pred, contours


def skeleton_ift(image, seeds, contour_mode=True, weight="euclidean", path_cost="sum", connectivity=8):
    """IFT with the library's `weight` and `path_cost` functions by name (see
    :func:`foresting.ift`) whose queue spans the image's squared diagonal,
    weights scaled by (rows² + columns²) / 1000, marking where two labels
    meet at equal cost: object pixels whose seeds are not neighbours
    (`contour_mode`; seeds keep their costs) or background pixels (seeds at
    cost 0). Returns ``(labels, costs, predecessors, skeleton)``: int32
    labels and costs, predecessors (rows, columns, 2) (row, column), and a
    boolean mask."""
    a = non_negative(grey_image(image))
    if weight not in WEIGHTS:
        raise ValueError(f"weight must be one of {WEIGHTS}, not {weight!r}")
    if path_cost not in PATH_COSTS:
        raise ValueError(f"path_cost must be one of {PATH_COSTS}, not {path_cost!r}")
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    labels, costs, preds, mask = _foresting.skeleton_ift(a, s.coords, s.labels, s.costs,
                                                          connectivity_arg(connectivity), weight, path_cost,
                                                          bool(contour_mode))
    ncols = a.shape[1]
    return labels, costs, np.stack([preds // ncols, preds % ncols], axis=2).astype(np.int32), mask
