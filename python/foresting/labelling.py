"""Regional extrema and connected labelling."""

import numpy as np

from . import _foresting
from ._checks import grey_image, seeds_for

__all__ = ["regional_minima", "regional_maxima", "label", "seeded_flat_zones"]


def regional_minima(image):
    """Boolean mask of the regional minima: 8-connected flat zones with no
    lower neighbour."""
    return _foresting.regional_extrema(grey_image(image), False)


def regional_maxima(image):
    """Boolean mask of the regional maxima (no higher neighbour)."""
    return _foresting.regional_extrema(grey_image(image), True)


def label(image):
    """The 8-connected components of the pixels above 0, numbered 1, 2, ...
    in raster order of their first pixel. Returns ``(labels int32, count)``.
    The library prints a progress line."""
    labels, count = _foresting.label(grey_image(image))
    return labels, int(count)


def seeded_flat_zones(image, seeds):
    """Boolean mask of the 8-connected flat zones that hold a seed."""
    a = grey_image(image)
    s = seeds_for(seeds, a.shape, costs=False)
    return _foresting.seeded_flat_zones(a, s.coords)
