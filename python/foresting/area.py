"""Area opening and closing, and the levelings, of grey images with values
0 and above."""

import numpy as np

from . import _foresting
from ._checks import Seeds, grey_image, int_arg, non_negative, same_size, seeds_for

__all__ = ["area_opening", "area_closing", "leveling", "leveling_by_marker"]


def _area(image, area, mode):
    a = non_negative(grey_image(image))
    n = int_arg(area, "area", 0)
    return _foresting.area(a, n, mode, a.dtype if a.dtype.kind != "b" else np.dtype(np.uint8))


def area_opening(image, area, local=False):
    """Area opening: every regional maximum is lowered to the highest level
    at which the 8-connected set of pixels at or above it around the maximum
    holds `area` pixels (as ``skimage.morphology.area_opening(image, area,
    connectivity=2)``). With `local`, the maxima share the pixels in one flood
    and only those that win `area` pixels cut their dome.

    Returns ``(filtered, labels)``: the filtered image in the input's dtype and
    an int32 image of the label of the maximum that set each pixel. The
    library prints progress lines."""
    return _area(image, area, 1 if local else 0)


def area_closing(image, area):
    """Area closing, ``M - area_opening(M - image)`` with M 255 for uint8
    images, else the image's largest value. Returns ``(filtered, labels)`` as
    :func:`area_opening`."""
    return _area(image, area, 2)


def leveling(image, reference, seeds):
    """Leveling IFT of `image` from the levels of `reference`: seeds labelled
    2 raise their region towards `image`, seeds labelled 1 lower it, each
    starting at its cost (0 or more; when `seeds` carries no costs, the
    value of `image` at the seed); pixels no seed improves keep the
    reference's value, label 0. Returns ``(levelled, labels)``, int32."""
    a = non_negative(grey_image(image))
    r = non_negative(grey_image(reference, "reference"), "reference")
    same_size(a, r, "image", "reference")
    with_costs = isinstance(seeds, Seeds) or (isinstance(seeds, tuple) and len(seeds) == 3)
    s = seeds_for(seeds, a.shape, costs=with_costs, non_negative_costs=True)
    if not with_costs:
        s = Seeds(s.coords, s.labels, np.ascontiguousarray(a[s.coords[:, 0], s.coords[:, 1]], np.int32))
    if s.labels.size and not np.isin(s.labels, (1, 2)).all():
        raise ValueError("leveling seeds must be labelled 1 (lower) or 2 (raise)")
    return _foresting.level(a, r, s.coords, s.labels, s.costs)


def leveling_by_marker(image, marker):
    """Leveling of `image` from `marker`: opening by reconstruction of the
    image from min(image, dilated marker), then closing by reconstruction of
    that from max(eroded marker, opening). Returns an array of the image's
    dtype."""
    a = non_negative(grey_image(image))
    m = non_negative(grey_image(marker, "marker"), "marker")
    same_size(a, m, "image", "marker")
    return _foresting.level_by_marker(a, m, a.dtype if a.dtype.kind != "b" else np.dtype(np.uint8))
