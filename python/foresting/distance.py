"""The Euclidean distance transform and the skeletons of binary images.

A binary image is a 2-D integer or bool array whose object is the pixels
above 0.
"""

from typing import NamedTuple

import numpy as np

from . import _foresting
from ._checks import as_seeds, grey_image, int_arg, non_negative, seeds_for

__all__ = ["DistanceTransform", "distance_transform", "skeleton", "skeleton_reconstruction",
           "contour_seeds"]

#: The cost of a pixel no seed reaches.
UNREACHED = 2**31 - 1

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


def _connectivity(connectivity):
    if connectivity not in (4, 8) or isinstance(connectivity, bool):
        raise ValueError(f"connectivity must be 4 or 8, not {connectivity!r}")
    return int(connectivity)


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
    c = _connectivity(connectivity)
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


def contour_seeds(image):
    """One seed per inner contour pixel of the binary `image`, in raster
    order, labelled with its breadth-first number along its contour (from 1,
    across contours), cost 0: a :class:`foresting.Seeds`. The library prints
    a labelling line."""
    return as_seeds(_foresting.contour_seeds(grey_image(image)))
