"""Flat morphology with discs, alternating sequential filters and the
morphological gradient. Every band of a colour image is filtered; near the
border only the part of the disc inside the image counts."""

import numpy as np

from . import _foresting
from ._checks import integer_image, int_arg

__all__ = ["dilation", "erosion", "opening", "closing", "alternating_filter", "gradient"]


def _filter(image, op, parameter, name):
    a = integer_image(image)
    p = int_arg(parameter, name, 0)
    dtype = np.dtype(np.uint8) if a.dtype.kind == "b" else a.dtype
    if dtype.itemsize > 4 or dtype == np.uint32:
        dtype = np.dtype(np.int32)
    return _foresting.filter(a, op, p, dtype)


def dilation(image, squared_radius=1):
    """Largest value over the disc of the given squared radius (1: the
    4-neighbourhood and the pixel, 2: the 3 x 3 square)."""
    return _filter(image, "dilation", squared_radius, "squared_radius")


def erosion(image, squared_radius=1):
    """Smallest value over the disc of the given squared radius."""
    return _filter(image, "erosion", squared_radius, "squared_radius")


def opening(image, squared_radius=1):
    """Erosion then dilation with the same disc."""
    return _filter(image, "opening", squared_radius, "squared_radius")


def closing(image, squared_radius=1):
    """Dilation then erosion with the same disc."""
    return _filter(image, "closing", squared_radius, "squared_radius")


def alternating_filter(image, steps, order="oc"):
    """Alternating sequential filter with discs of squared radius 1 .. steps:
    an opening then a closing at each step (``order='oc'``), or a closing
    then an opening (``'co'``). The library prints one line per step."""
    if order not in ("oc", "co"):
        raise ValueError(f"order must be 'oc' or 'co', not {order!r}")
    return _filter(image, "asf_" + order, steps, "steps")


def gradient(image):
    """Largest 3 x 3 max-min difference over the bands: a 2-D array, in the
    image's dtype when it is unsigned, else int32."""
    a = integer_image(image)
    dtype = a.dtype if a.dtype.kind == "u" and a.dtype.itemsize <= 2 else np.dtype(np.int32)
    if a.dtype.kind == "b":
        dtype = np.dtype(np.uint8)
    return _foresting.gradient(a, dtype)
