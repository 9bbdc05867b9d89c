"""Seed sets: the methods of the ``sower`` program as functions.

Every function returns a :class:`Seeds` record (``coords`` as (row, column),
``labels``, ``costs``) in the order in which an IFT enters the seeds."""

import numpy as np

from . import _foresting
from ._checks import Seeds, as_seeds, grey_image, int_arg, non_negative, seeds_for

__all__ = ["Seeds", "regional_maxima_seeds", "regional_minima_seeds", "contour_seeds",
           "frame_seeds", "label_seeds", "cell_seeds", "join_seeds"]


def _select(image, seeds, low, high):
    if low is None and high is None:
        return seeds
    lo = -2**31 if low is None else int_arg(low, "low")
    hi = 2**31 - 1 if high is None else int_arg(high, "high")
    values = image[seeds.coords[:, 0], seeds.coords[:, 1]].astype(np.int64)
    keep = (values >= lo) & (values <= hi)
    return Seeds(seeds.coords[keep], seeds.labels[keep], seeds.costs[keep])


def regional_maxima_seeds(image, low=None, high=None):
    """Every pixel of every regional maximum (8-connected flat zone with no
    higher neighbour), labelled by maximum in raster order of the maxima,
    cost = the pixel's value; with ``low``/``high`` only the maxima whose
    level lies in [low, high] (labels keep their numbers), as ``sower regMax``."""
    a = grey_image(image)
    return _select(a, as_seeds(_foresting.regional_maxima_seeds(a)), low, high)


def regional_minima_seeds(image, low=None, high=None):
    """The dual of :func:`regional_maxima_seeds` (``sower regMin``)."""
    a = grey_image(image)
    return _select(a, as_seeds(_foresting.regional_minima_seeds(a)), low, high)


def contour_seeds(binary, per_pixel=True):
    """Seeds on the border of the objects (values above 0) of a binary image
    (``sower dt``): with ``per_pixel`` each border pixel (a background
    4-neighbour) gets its own label, numbered along the contours; otherwise
    the border pixels (a background 8-neighbour) take their object's number."""
    a = grey_image(binary, "binary")
    return as_seeds(_foresting.contour_seeds(a, bool(per_pixel)))


def frame_seeds(shape, label=None):
    """One seed per pixel of the image frame of the given (rows, columns)
    shape: top row, bottom row, then the left and right columns without the
    corners; labels 1, 2, ... or all ``label`` (``sower frame``)."""
    rows, cols = int_arg(shape[0], "rows", 1), int_arg(shape[1], "columns", 1)
    if rows * cols > 2**31 - 1:
        raise ValueError("shape has more pixels than the library can index")
    uniform = label is not None
    value = int_arg(label, "label") if uniform else 0
    return as_seeds(_foresting.frame_seeds(rows, cols, uniform, value))


def label_seeds(labels):
    """One seed per pixel with a positive value, in raster order, labelled
    with that value (``sower labels``)."""
    a = grey_image(labels, "labels")
    return as_seeds(_foresting.label_seeds(a))


def cell_seeds(image, size):
    """Cell-extraction seeds (``sower cells``): label 2 on the regional maxima
    of the image smoothed by an alternating filter of ``size`` steps, label 1
    on the borders of the watershed zones grown from them. Like the program,
    the library writes the seed image to ``labeled.pgm`` in the working
    directory and prints its progress."""
    a = non_negative(grey_image(image))
    return as_seeds(_foresting.cell_seeds(a, int_arg(size, "size", 0)))


def join_seeds(*seed_sets):
    """The seeds of every set, in order (``sower join``)."""
    parts = [seeds_for(s, (2**31 - 1, 2**31 - 1)) for s in seed_sets]
    if not parts:
        return Seeds(np.zeros((0, 2), np.int64), np.zeros(0, np.int32), np.zeros(0, np.int32))
    return Seeds(np.concatenate([p.coords for p in parts]).astype(np.int64),
                 np.concatenate([p.labels for p in parts]),
                 np.concatenate([p.costs for p in parts]))
